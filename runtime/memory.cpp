// The memory manager. Owns the value range (reserved once, committed region by region), the node
// frames, the series frames and the big blocks. Rule: an allocation may collect, so nothing here
// keeps a buffer address across a call that allocates; the node is the stable handle.
#include "runtime/memory.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/rterror.h"

uint8_t* heap_base;
memory_state memory_s;

namespace {

// The range is handed out in regions of whole allocation-granularity pages, first fit from the
// low end; offset 0 (the first granule) is never handed out, so 0 always means "none".
struct range_state {
    uint32_t size;
    uint32_t granularity;
    std::vector<std::pair<uint32_t, uint32_t>> free_spans;   // (offset, size), ascending
    uint32_t fail_after;
};
range_state range;
std::vector<uint32_t> fixed_nodes;

[[noreturn]] void no_memory() { fire(ERR_INTERNAL, err::NO_MEMORY); }

uint32_t range_take(uint32_t size)
{
    for (size_t i = 0; i < range.free_spans.size(); i++) {
        auto& span = range.free_spans[i];
        if (span.second < size) continue;
        uint32_t off = span.first;
        if (!VirtualAlloc(heap_base + off, size, MEM_COMMIT, PAGE_READWRITE)) return 0;
        span.first += size;
        span.second -= size;
        if (span.second == 0) range.free_spans.erase(range.free_spans.begin() + ptrdiff_t(i));
        return off;
    }
    return 0;
}

// Commits the `more` bytes that start at `end` when the range there is free (a region ending at
// `end` grows in place); false when they are taken or the system refuses.
bool range_extend(uint32_t end, uint32_t more)
{
    auto& spans = range.free_spans;
    auto it = std::lower_bound(spans.begin(), spans.end(), std::make_pair(end, 0u));
    if (it == spans.end() || it->first != end || it->second < more) return false;
    if (!VirtualAlloc(heap_base + end, more, MEM_COMMIT, PAGE_READWRITE)) return false;
    it->first += more;
    it->second -= more;
    if (it->second == 0) spans.erase(it);
    return true;
}

void range_give_back(uint32_t off, uint32_t size)
{
    VirtualFree(heap_base + off, size, MEM_DECOMMIT);
    auto& spans = range.free_spans;
    auto it = std::lower_bound(spans.begin(), spans.end(), std::make_pair(off, 0u));
    it = spans.insert(it, {off, size});
    if (it + 1 != spans.end() && it->first + it->second == (it + 1)->first) {
        it->second += (it + 1)->second;
        spans.erase(it + 1);
    }
    if (it != spans.begin() && (it - 1)->first + (it - 1)->second == it->first) {
        (it - 1)->second += it->second;
        spans.erase(it);
    }
}

void reserve_range()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    range.granularity = info.dwAllocationGranularity ? info.dwAllocationGranularity : 0x10000;
#if UINTPTR_MAX > 0xFFFFFFFFu
    const uint32_t sizes[] = {0xFFFF0000u, 0x80000000u, 0x40000000u};
#else
    const uint32_t sizes[] = {0x40000000u, 0x30000000u, 0x20000000u, 0x10000000u};
#endif
    for (uint32_t size : sizes) {
        void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
        if (p) {
            heap_base = static_cast<uint8_t*>(p);
            range.size = size;
            range.free_spans.assign(1, {range.granularity, size - range.granularity});
            return;
        }
    }
    runtime_error(RT_NO_MEMORY, rt_error_address());
}

// Buffer header for freshly carved space.
void buffer_init(series_buffer* s, uint32_t size, uint32_t unit, int32_t offset, uint32_t extra_flags)
{
    s->flags = unit | SERIES_USED | SERIES_ROOM_TAIL | extra_flags;
    if (offset == -1) {
        s->flags |= SERIES_ROOM_HEAD;
        offset = int32_t(size / 2);
    }
    s->node = 0;
    s->size = size;
    s->head = s->tail = series_data_ref(s) + uint32_t(offset);
}

// count * unit rounded to 16, or internal/no-memory when it reaches 2 GB.
uint32_t checked_size(uint32_t count, uint32_t unit)
{
    uint64_t bytes = (uint64_t(count) * unit + 15) & ~uint64_t(15);
    if (bytes >= 0x80000000u) no_memory();
    return uint32_t(bytes);
}

void link_node(node_ref node, series_buffer* s)
{
    *at<uint32_t>(node) = ref_of(s);
    s->node = node;
}

}  // namespace

void memory_init()
{
    reserve_range();
    memory_s = memory_state{};
    memory_s.series_base_size = SERIES_FRAME_BASE;
    memory_s.series_next_size = SERIES_FRAME_BASE;
    memory_s.big_threshold = BIG_THRESHOLD;
}

uint32_t memory_range_size() { return range.size; }

void memory_fail_virtual_after(uint32_t n) { range.fail_after = n; }

uint32_t memory_try_alloc_virtual(uint32_t size)
{
    if (size > 0xFFFF0000u - 4 - range.granularity) return 0;
    uint32_t rounded = round_up_to(size + 4, range.granularity);
    uint32_t region = range_take(rounded);
    if (!region) return 0;
    memory_s.total += rounded;
    *at<uint32_t>(region) = rounded;
    return region + 4;
}

uint32_t memory_alloc_virtual(uint32_t size)
{
    if (range.fail_after && --range.fail_after == 0) no_memory();
    uint32_t region = memory_try_alloc_virtual(size);
    if (!region) no_memory();
    return region;
}

void memory_free_virtual(uint32_t region)
{
    uint32_t start = region - 4;
    uint32_t rounded = *at<uint32_t>(start);
    memory_s.total -= rounded;
    range_give_back(start, rounded);
}

// ---- regions vacated by the moving stress mode ----------------------------------------------------

namespace {

// A vacated region is filled with poison up to where it was used and parked, then handed out
// again only after two more collections, so a stale address into it reads poison (and a buffer or
// node offset read there, 0xDDDDDDDD, lies in uncommitted space) for at least two allocations.
// Parking spares fresh regions, which cost a commit and first-touch faults at every collection
// (taking away access and giving it back costs as much under Wine). The list is short; the
// oldest regions go back to the system first.
struct parked_region { uint32_t region, cycle; };
std::vector<parked_region> parked;
constexpr size_t PARKED_MAX = 8;

uint32_t region_size(uint32_t region) { return *at<uint32_t>(region - 4); }

}  // namespace

uint32_t memory_take_moved_region(uint32_t size)
{
    uint32_t rounded = round_up_to(size + 4, range.granularity);
    for (size_t i = 0; i < parked.size(); i++) {
        if (region_size(parked[i].region) != rounded || parked[i].cycle + 2 > collector_s.cycles) continue;
        uint32_t region = parked[i].region;
        parked.erase(parked.begin() + ptrdiff_t(i));
        return region;
    }
    return memory_try_alloc_virtual(size);
}

void memory_park_region(uint32_t region, uint32_t used)
{
    std::memset(at(region), MEMORY_POISON, used);
    parked.push_back({region, collector_s.cycles});
    if (parked.size() > PARKED_MAX) {
        memory_free_virtual(parked.front().region);
        parked.erase(parked.begin());
    }
}

// ---- nodes --------------------------------------------------------------------------------------

node_frame* node_frame_new(uint32_t n)
{
    uint32_t ref = memory_alloc_virtual(uint32_t(sizeof(node_frame)) + n * 4);
    node_frame* f = at<node_frame>(ref);
    *f = node_frame{};
    f->capacity = n;
    f->stamp = collector_s.cycles;
    memory_s.node_frames_made++;
    uint32_t* slot = f->slots();
    uint32_t first = ref_of(slot);
    for (uint32_t i = 0; i + 1 < n; i++) slot[i] = first + (i + 1) * 4;
    if (n) slot[n - 1] = 0;
    f->free_list = n ? first : 0;
    f->prev = memory_s.node_last;
    if (memory_s.node_last) at<node_frame>(memory_s.node_last)->next = ref;
    else memory_s.node_first = memory_s.node_current = ref;
    memory_s.node_last = ref;
    return f;
}

void node_frame_free(node_frame* f)
{
    uint32_t ref = ref_of(f);
    if (f->prev) at<node_frame>(f->prev)->next = f->next;
    else memory_s.node_first = f->next;
    if (f->next) at<node_frame>(f->next)->prev = f->prev;
    else memory_s.node_last = f->prev;
    if (memory_s.node_current == ref) memory_s.node_current = memory_s.node_last;
    memory_free_virtual(ref);
}

node_ref node_alloc()
{
    node_frame* f = memory_s.node_current ? at<node_frame>(memory_s.node_current) : nullptr;
    if (!f || !f->free_list || f->emptying) {
        f = nullptr;
        for (uint32_t r = memory_s.node_first; r; r = at<node_frame>(r)->next) {
            node_frame* c = at<node_frame>(r);
            if (c->free_list && !c->emptying) { f = c; break; }
        }
        if (!f) f = node_frame_new(NODE_FRAME_NODES);
        memory_s.node_current = ref_of(f);
        f->stamp = collector_s.cycles;
    }
    node_ref node = f->free_list;
    f->free_list = *at<uint32_t>(node);
    *at<uint32_t>(node) = 0;
    f->used++;
    return node;
}

void node_free(node_frame* f, node_ref node)
{
    *at<uint32_t>(node) = f->free_list;
    f->free_list = node;
    f->used--;
}

// ---- series frames ------------------------------------------------------------------------------

series_frame* series_frame_new(bool may_refuse)
{
    uint32_t size = memory_s.series_next_size;
    uint32_t ref = may_refuse ? memory_try_alloc_virtual(size + uint32_t(sizeof(series_frame)))
                              : memory_alloc_virtual(size + uint32_t(sizeof(series_frame)));
    if (!ref) return nullptr;
    if (size < memory_s.big_threshold) memory_s.series_next_size = size * 2;
    series_frame* f = at<series_frame>(ref);
    f->size = size + uint32_t(sizeof(series_frame));
    f->heap = ref + uint32_t(sizeof(series_frame));
    f->end = ref + f->size;
    // Keep the list in ascending address order.
    uint32_t prev = 0, next = memory_s.series_first;
    while (next && next < ref) { prev = next; next = at<series_frame>(next)->next; }
    f->prev = prev;
    f->next = next;
    if (prev) at<series_frame>(prev)->next = ref;
    else memory_s.series_first = ref;
    if (next) at<series_frame>(next)->prev = ref;
    else memory_s.series_last = ref;
    if (!memory_s.series_current) memory_s.series_current = ref;
    return f;
}

void series_frame_free(series_frame* f)
{
    uint32_t ref = ref_of(f);
    if (f->prev) at<series_frame>(f->prev)->next = f->next;
    else memory_s.series_first = f->next;
    if (f->next) at<series_frame>(f->next)->prev = f->prev;
    else memory_s.series_last = f->prev;
    if (memory_s.series_current == ref) memory_s.series_current = memory_s.series_last;
    memory_free_virtual(ref);
}

// A frame qualifies only with room of at least the larger of the need and FRAME_ROOM_MIN.
// Compaction leaves earlier frames with small rooms on purpose; were they found here and then
// refused, the allocator would make a new frame at every switch and never collect, and the heap
// would grow without bound under small garbage.
series_frame* series_frame_find(uint32_t need)
{
    for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next) {
        series_frame* f = at<series_frame>(r);
        uint32_t room = f->end - f->heap;
        if (room > need && room >= FRAME_ROOM_MIN) return f;
    }
    return nullptr;
}

// ---- buffers ------------------------------------------------------------------------------------

// Whether running out of frame room (or taking a big block) collects now: once the bytes handed
// out since the last collection reach what that collection left in use. Collecting whenever no
// frame had room made a live set that grows frame by frame mark itself again at every frame.
bool collection_due()
{
    return memory_s.allocated_since >= std::max(memory_s.live_after, COLLECT_BUDGET_MIN);
}

void memory_budget_reset()
{
    uint64_t used = 0;
    for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next)
        used += at<series_frame>(r)->heap - (r + uint32_t(sizeof(series_frame)));
    for (uint32_t r = memory_s.big_first; r; r = at<big_block>(r)->next) used += at<big_block>(r)->need;
    memory_s.live_after = uint32_t(std::min<uint64_t>(used, 0xFFFFFFFFu));
    memory_s.allocated_since = 0;
}

series_buffer* series_buffer_alloc(uint32_t count, uint32_t unit, int32_t offset)
{
    uint32_t size = checked_size(count, unit);
    uint32_t need = size + 24;
    if (collector_s.stress_every && collector_s.enabled && ++collector_s.stress_count >= collector_s.stress_every) {
        collector_s.stress_count = 0;
        collector::check();
    }
    memory_s.allocated_since += std::min(need, 0xFFFFFFFFu - memory_s.allocated_since);
    if (need < memory_s.big_threshold) {
        series_frame* f = memory_s.series_current ? at<series_frame>(memory_s.series_current) : nullptr;
        if (!f || uint64_t(f->heap) + need >= f->end) {
            f = series_frame_find(need);
            bool collected = collector_s.enabled != 1;   // with the collector off, no retry either
            if (!f && collection_due()) {
                collector::check();
                collected = true;
                f = series_frame_find(need);
            }
            if (!f) {
                if (need >= memory_s.series_next_size) memory_s.series_next_size = memory_s.big_threshold;
                // Ahead of its budget the heap grows only while the system gives memory; when it
                // refuses, a collection comes first.
                f = series_frame_new(!collected);
                if (!f) {
                    collector::check();
                    f = series_frame_find(need);
                    if (!f) f = series_frame_new();
                }
            }
            memory_s.series_current = ref_of(f);
        }
        series_buffer* s = at<series_buffer>(f->heap);
        f->heap += need;
        buffer_init(s, size, unit, offset, 0);
        return s;
    }
    bool collected = collector_s.enabled != 1 || collection_due();
    if (collected) collector::check();
    series_buffer* s = big_block_alloc(need, !collected);
    if (!s) {
        collector::check();
        s = big_block_alloc(need);
    }
    buffer_init(s, size, unit, offset, SERIES_BIG);
    return s;
}

node_ref series_alloc(uint32_t count, uint32_t unit, int32_t offset)
{
    series_buffer* s = series_buffer_alloc(count, unit, offset);
    node_ref node = node_alloc();   // never collects, so s is still where it was
    link_node(node, s);
    return node;
}

node_ref cells_alloc(uint32_t n) { return series_alloc(n, 16, 0); }

node_ref cells_alloc_unset(uint32_t n)
{
    node_ref node = series_alloc(n, 16, 0);
    series_buffer* s = series_of(node);
    cell* c = at<cell>(series_data_ref(s));
    for (uint32_t i = 0; i < s->size / 16; i++) c[i] = cell{TYPE_UNSET, 0, 0, 0};
    return node;
}

node_ref bytes_alloc(uint32_t n) { return series_alloc(n ? n : 16, 1, 0); }

node_ref series_alloc_unit(uint32_t count, uint32_t unit)
{
    if (count == 0) count = 16u >> (unit / 2);
    return series_alloc(count, unit, 0);
}

node_ref series_alloc_filled(uint32_t n, uint8_t byte)
{
    node_ref node = bytes_alloc(n);
    series_buffer* s = series_of(node);
    memory_fill(series_data(s), series_data(s) + s->size, byte);
    return node;
}

node_ref series_alloc_fixed(uint32_t count, uint32_t unit, int32_t offset)
{
    uint32_t size = checked_size(count, unit);
    uint32_t region = memory_alloc_virtual(size + uint32_t(sizeof(series_buffer)) + 4);
    series_buffer* s = at<series_buffer>(region);
    buffer_init(s, size, unit, offset, SERIES_FIXED);
    node_ref node = node_alloc();
    link_node(node, s);
    fixed_nodes.push_back(node);
    return node;
}

void series_set_flag(node_ref node, uint32_t bits) { series_of(node)->flags |= bits; }

namespace {

// Grows a region of memory_try_alloc_virtual in place to at least size bytes; false when the range
// after it is taken or the system refuses.
bool try_extend_virtual(uint32_t region, uint32_t size)
{
    if (size > 0xFFFF0000u - 4 - range.granularity) return false;
    uint32_t start = region - 4;
    uint32_t old = *at<uint32_t>(start);
    uint32_t rounded = round_up_to(size + 4, range.granularity);
    if (rounded <= old) return true;
    if (!range_extend(start + old, rounded - old)) return false;
    memory_s.total += rounded - old;
    *at<uint32_t>(start) = rounded;
    return true;
}

// A big block whose data starts at its buffer's first byte grows in place when the range after its
// region is free: no copy, and the pages already touched stay in use (under Wine every fresh page
// costs a fault on first touch). False when it cannot; the caller then moves the series.
bool big_block_grow(series_buffer* s, uint64_t size, uint32_t unit)
{
    if ((s->flags & (SERIES_BIG | SERIES_FIXED)) != SERIES_BIG || s->head != series_data_ref(s)) return false;
    uint32_t new_size = checked_size(uint32_t((size + unit - 1) / unit), unit);
    if (new_size <= s->size) return false;
    uint32_t ref = ref_of(s) - uint32_t(sizeof(big_block));
    uint32_t need = new_size + 24;
    if (!try_extend_virtual(ref, uint32_t(sizeof(big_block)) + need)) return false;
    big_block* b = at<big_block>(ref);
    memory_s.allocated_since += std::min(need - b->need, 0xFFFFFFFFu - memory_s.allocated_since);
    b->need = need;
    s->size = new_size;
    s->flags &= ~SERIES_ROOM_HEAD;
    return true;
}

// Moves the series of `s` into a new buffer of new_size bytes (twice the old when 0), copying the
// content when asked. The old buffer is detached but stays in place until the next collection.
series_buffer* series_grow(series_buffer* s, uint32_t new_size, bool copy)
{
    node_ref node = s->node;
    uint32_t unit = series_unit(s) ? series_unit(s) : 1;
    uint64_t size = new_size ? new_size : uint64_t(s->size) * 2;
    if (size == 0 || size >= 0x80000000u) no_memory();
    if (big_block_grow(s, size, unit)) return s;
    // The series being grown is alive whoever holds it: keep it through the collection that its
    // own growth may run (a fresh series is often grown before anything refers to it).
    gc_root growing(node);
    series_buffer* fresh = series_buffer_alloc(uint32_t((size + unit - 1) / unit), unit, 0);
    s = series_of(node);   // the allocation may have collected and moved the old buffer
    uint32_t used = std::min(s->tail - s->head, fresh->size);
    const uint32_t placement = SERIES_BIG | SERIES_FIXED | SERIES_ROOM_HEAD;
    fresh->flags = (s->flags & ~placement) | (fresh->flags & SERIES_BIG);
    fresh->tail = fresh->head + used;
    if (copy) std::memcpy(at(fresh->head), at(s->head), used);
    link_node(node, fresh);
    s->node = 0;
    s->flags &= ~SERIES_USED;
    return fresh;
}

}  // namespace

series_buffer* series_resize(series_buffer* s, uint32_t new_size) { return series_grow(s, new_size, false); }

series_buffer* series_expand(series_buffer* s, uint32_t size) { return series_grow(s, size, true); }

series_buffer* series_expand_filled(series_buffer* s, uint32_t size, uint8_t byte)
{
    uint32_t old_size = s->size;
    series_buffer* fresh = series_expand(s, size);
    if (fresh->size > old_size) memory_fill(at(fresh->head) + old_size, at(fresh->head) + fresh->size, byte);
    return fresh;
}

node_ref series_copy(series_buffer* s)
{
    node_ref src = s->node;
    // The source may be held by nothing but the caller: keep it through the collection that the
    // copy's allocation may run, then fetch it again (it may have moved).
    gc_root source(src);
    node_ref node = bytes_alloc(s->size);
    s = series_of(src);
    series_buffer* d = series_of(node);
    uint32_t used = s->tail - s->head;
    uint32_t head_off = s->head - series_data_ref(s);
    // The copy is an ordinary buffer wherever the source lives (fixed, big or in a frame).
    const uint32_t placement = SERIES_BIG | SERIES_FIXED;
    d->flags = (s->flags & ~placement) | (d->flags & SERIES_BIG);
    d->head = series_data_ref(d) + head_off;
    d->tail = d->head + used;
    std::memcpy(at(d->head), at(s->head), used);
    return node;
}

void memory_fill(uint8_t* start, uint8_t* end, uint8_t byte)
{
    if (end > start) std::memset(start, byte, size_t(end - start));
}

series_buffer* big_block_alloc(uint32_t need, bool may_refuse)
{
    uint32_t ref = may_refuse ? memory_try_alloc_virtual(need + uint32_t(sizeof(big_block)))
                              : memory_alloc_virtual(need + uint32_t(sizeof(big_block)));
    if (!ref) return nullptr;
    big_block* b = at<big_block>(ref);
    b->next = 0;
    b->zero = 0;
    b->need = need;
    if (!memory_s.big_first) memory_s.big_first = ref;
    else {
        uint32_t r = memory_s.big_first;
        while (at<big_block>(r)->next) r = at<big_block>(r)->next;
        at<big_block>(r)->next = ref;
    }
    return b->buffer();
}

void big_block_free(series_buffer* s)
{
    uint32_t ref = ref_of(s) - uint32_t(sizeof(big_block));
    uint32_t* link = &memory_s.big_first;
    while (*link && *link != ref) link = &at<big_block>(*link)->next;
    if (*link) *link = at<big_block>(ref)->next;
    memory_free_virtual(ref);
}

void big_blocks_sweep()
{
    uint32_t r = memory_s.big_first;
    while (r) {
        big_block* b = at<big_block>(r);
        uint32_t next = b->next;
        series_buffer* s = b->buffer();
        if (s->flags & SERIES_MARK) s->flags &= ~SERIES_MARK;
        else {
            if (s->node) collector::add_pending(s->node);
            big_block_free(s);
        }
        r = next;
    }
}

// A frame found empty is released only when it was empty at the previous collection too and has
// not been the allocation frame since (its stamp is older than this cycle). Releasing every empty
// frame at once made a workload of many short-lived series commit, fill and release a frame at
// every cycle; frames such a workload empties are taken again before the next collection.
uint32_t node_frames_compact()
{
    const uint32_t cycle = collector_s.cycles;
    bool current_set = false;
    uint32_t released = 0;
    uint32_t r = memory_s.node_first;
    while (r) {
        node_frame* f = at<node_frame>(r);
        uint32_t next = f->next;
        bool idle = f->used == 0 && f->used_seen == 0 && f->stamp < cycle;
        if ((idle || f->emptying) && !(r == memory_s.node_first && !f->next)) {
            node_frame_free(f);
            released++;
        } else {
            if (!current_set && f->used < f->capacity && !f->emptying) {
                memory_s.node_current = r;
                f->stamp = cycle + 1;   // the allocation frame of the coming period
                current_set = true;
            }
            f->history = (f->history << 1) | (f->used == f->used_seen ? 1u : 0u);
            f->used_seen = f->used;
        }
        r = next;
    }
    return released;
}

cell* series_alloc_tail(series_buffer* s)
{
    if (s->tail + 16 > series_end_ref(s)) s = series_expand(s, 0);
    cell* c = at<cell>(s->tail);
    c->header = TYPE_UNSET;
    s->tail += 16;
    return c;
}

uint8_t* series_alloc_tail_bytes(node_ref node, uint32_t n)
{
    series_buffer* s = series_of(node);
    if (uint64_t(s->tail) + n > series_end_ref(s)) {
        uint64_t grow = n > s->size ? uint64_t(s->size) + 2ull * n : uint64_t(s->size) * 2;
        if (grow >= 0x80000000u) no_memory();
        s = series_expand(s, uint32_t(grow));
    }
    uint8_t* old_tail = at(s->tail);
    s->tail += n;
    return old_tail;
}

const uint32_t* memory_fixed_nodes(uint32_t* count)
{
    *count = uint32_t(fixed_nodes.size());
    return fixed_nodes.data();
}

bool memory_check_links()
{
    for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next) {
        series_frame* f = at<series_frame>(r);
        uint32_t p = r + uint32_t(sizeof(series_frame));
        while (p < f->heap) {
            series_buffer* s = at<series_buffer>(p);
            if (s->size % 16) return false;
            if (s->flags & SERIES_USED) {
                if (!s->node || *at<uint32_t>(s->node) != p) return false;
                if (s->head < series_data_ref(s) || s->tail < s->head || s->tail > series_end_ref(s)) return false;
            }
            p += s->size + 24;
        }
        if (p != f->heap) return false;
    }
    for (uint32_t r = memory_s.big_first; r; r = at<big_block>(r)->next) {
        series_buffer* s = at<big_block>(r)->buffer();
        if ((s->flags & SERIES_USED) && (!s->node || *at<uint32_t>(s->node) != ref_of(s))) return false;
    }
    return true;
}
