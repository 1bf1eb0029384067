// The collection cycle: mark from the roots with an explicit work list (deep data never recurses on
// the machine stack), sweep the handle registry and weak tables, slide live buffers together frame
// by frame, free dead big blocks, give dead nodes back. Nothing here allocates series memory.
#include "runtime/collector.h"

#include <emmintrin.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/errors.h"
#include "runtime/extern.h"
#include "runtime/stack.h"
#include "runtime/reftable.h"

collector_state collector_s;
void (*collector::hashtable_mark_hook)(node_ref table);
void (*collector::ownership_sweep_hook)();

namespace {

constexpr uint32_t MARKERS_MAX = 100;

void unregistered_markers(mark_fn* m);

struct gc_state {
    gc_state() { unregistered_markers(unregistered); }
    void (*markers[MARKERS_MAX])();
    uint32_t marker_count;
    // Markers for the ids whose datatype module does not exist yet: a registered type brings its
    // own marker in its action row.
    mark_fn unregistered[TYPE_TABLE_SIZE];
    std::vector<node_ref> work;      // cell buffers marked but not yet scanned
    std::vector<node_ref> pending;   // nodes of dead buffers
    gc_root* roots;
    gc_cell_root* cell_roots;
};
gc_state gcs;

// ---- marking of the types not registered yet -----------------------------------------------------

void mark_object(const cell* c)
{
    if (c->data1) collector::mark_context(c->data1);
    if (c->data3) collector::keep(c->data3);
}
void mark_hash(const cell* c)
{
    if (c->data2) collector::mark_block(c->data2);
    if (c->data3 && collector::hashtable_mark_hook) collector::hashtable_mark_hook(c->data3);
}
void mark_handle(const cell* c)
{
    if (int32_t(c->data3) >= 0) extern_handle_mark(int32_t(c->data3), nullptr);
}
void mark_event(const cell* c)
{
    if ((c->header & 0x1000) && c->data2) collector::mark_block(c->data2);
}

void unregistered_markers(mark_fn* m)
{
    for (uint32_t t : {TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}) m[t] = collector::mark_string_cell;
    for (uint32_t t : {TYPE_BITSET, TYPE_VECTOR, TYPE_BINARY}) m[t] = collector::mark_buffer_cell;
    for (uint32_t t : {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}) m[t] = mark_object;
    for (uint32_t t : {TYPE_HASH, TYPE_MAP}) m[t] = mark_hash;
    m[TYPE_HANDLE] = mark_handle;
    m[TYPE_EVENT] = mark_event;
}

void drain_work()
{
    while (!gcs.work.empty()) {
        node_ref node = gcs.work.back();
        gcs.work.pop_back();
        series_buffer* s = series_of(node);
        collector::mark_cells(at<cell>(s->head), at<cell>(s->tail));
    }
}

void mark_roots()
{
    collector::mark_block(root_block.data2);
    collector::keep(stack_s.args_node);
    collector::keep(stack_s.frames_node);
    if (stack_s.start) collector::mark_cells(stack_s.start, stack_s.top);
    if (reftable_s.table.data2) collector::mark_block(reftable_s.table.data2);
    const raised_error& e = raised_error_slot();
    collector::mark_cells(e.args, e.args + 3);
    for (gc_root* r = gcs.roots; r; r = r->prev) {
        if (series_unit(series_of(r->node)) == 16) collector::mark_block(r->node);
        else collector::keep(r->node);
    }
    for (gc_cell_root* r = gcs.cell_roots; r; r = r->prev) collector::mark_cell(&r->value);
    for (uint32_t i = 0; i < gcs.marker_count; i++)
        if (gcs.markers[i]) gcs.markers[i]();
    drain_work();
}

// ---- compaction ---------------------------------------------------------------------------------

uint32_t buffer_span(uint32_t ref) { return at<series_buffer>(ref)->size + 24; }

// Copies buffers to a lower address or to another region, 16 bytes at a time (spans are
// multiples of 8). The runtime library's memmove can be a byte loop (Wine's is), and compaction
// and the moving stress mode copy the whole live heap. Reading each block before writing it
// keeps a downward overlapping copy correct; an upward overlap never happens here.
__attribute__((optimize("no-tree-loop-distribute-patterns")))
void copy_down(uint8_t* to, const uint8_t* from, uint32_t length)
{
    uint32_t i = 0;
    for (; i + 16 <= length; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
    for (; i < length; i++) to[i] = from[i];
}

// Moves the run [from, from + length) to `to` and fixes each buffer's node, head and tail.
void move_run(uint32_t from, uint32_t length, uint32_t to)
{
    copy_down(at(to), at(from), length);
    uint32_t distance = from - to;
    for (uint32_t p = to; p < to + length; p += buffer_span(p)) {
        series_buffer* s = at<series_buffer>(p);
        *at<uint32_t>(s->node) = p;
        s->head -= distance;
        s->tail -= distance;
    }
}

// Slides the live buffers of one frame together, filling the previous frame's free room first
// when it has enough of it; returns true when the frame ended up empty.
bool compact_frame(series_frame* f, series_frame* prev, bool fill)
{
    uint32_t start = ref_of(f) + uint32_t(sizeof(series_frame));
    uint32_t heap = f->heap;
    if (heap == start) return true;
    uint32_t room = prev ? prev->end - prev->heap : 0;
    bool fill_on = fill && prev && room > FRAME_ROOM_MIN;
    uint32_t gap = 0;
    uint32_t cursor = start;
    while (cursor < heap) {
        // Dead run: queue the nodes of buffers still attached, remember where the gap starts.
        while (cursor < heap && !(at<series_buffer>(cursor)->flags & SERIES_MARK)) {
            series_buffer* s = at<series_buffer>(cursor);
            if ((s->flags & SERIES_USED) && s->node) collector::add_pending(s->node);
            if (!gap) gap = cursor;
            cursor += buffer_span(cursor);
        }
        if (cursor >= heap) break;
        // Live run: consecutive marked buffers, cut at the previous frame's room in fill mode.
        uint32_t run = cursor;
        uint32_t last = cursor;
        while (cursor < heap && (at<series_buffer>(cursor)->flags & SERIES_MARK)) {
            if (fill_on && cursor > run && cursor - run >= room) break;
            at<series_buffer>(cursor)->flags &= ~SERIES_MARK;
            last = cursor;
            cursor += buffer_span(cursor);
        }
        uint32_t length = cursor - run;
        if (fill_on && length > room && last > run && last - run <= room) {
            // All but the last buffer fit: that one starts the next live run.
            at<series_buffer>(last)->flags |= SERIES_MARK;
            cursor = last;
            length = last - run;
        }
        if (fill_on && length <= room) {
            move_run(run, length, prev->heap);
            prev->heap += length;
            room -= length;
            fill_on = room > FRAME_ROOM_MIN;
            if (!gap) gap = run;
        } else if (gap) {
            move_run(run, length, gap);
            gap += length;
        } else {
            fill_on = false;   // a live prefix stays where it is
        }
    }
    if (gap) {
        f->heap = gap;
        if (collector_s.stress_every) std::memset(at(gap), MEMORY_POISON, heap - gap);
    }
    return f->heap == start;
}

// ---- the moving stress mode ---------------------------------------------------------------------

// Every live buffer goes to another region and every old region is poisoned and parked, so an
// address kept across an allocation reads poison (see memory_park_region). All new regions are
// taken before any old one is parked. A frame keeps its size and gets a new region when it holds
// a live buffer (the last frame always does, as compaction always keeps it). Answers false,
// having changed nothing, when the system refuses a region; the cycle then compacts in place.
struct moved_region { uint32_t from, to; };

bool frame_has_live(series_frame* f)
{
    for (uint32_t p = ref_of(f) + uint32_t(sizeof(series_frame)); p < f->heap; p += buffer_span(p))
        if (at<series_buffer>(p)->flags & SERIES_MARK) return true;
    return false;
}

bool take_fresh_regions(std::vector<moved_region>& frames, std::vector<moved_region>& bigs)
{
    bool refused = false;
    for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next) {
        series_frame* f = at<series_frame>(r);
        uint32_t to = 0;
        if (!f->next || frame_has_live(f)) refused |= !(to = memory_take_moved_region(f->size));
        frames.push_back({r, to});
    }
    for (uint32_t r = memory_s.big_first; r; r = at<big_block>(r)->next) {
        big_block* b = at<big_block>(r);
        uint32_t to = 0;
        if (b->buffer()->flags & SERIES_MARK)
            refused |= !(to = memory_take_moved_region(uint32_t(sizeof(big_block)) + b->need));
        bigs.push_back({r, to});
    }
    if (!refused) return true;
    for (auto* list : {&frames, &bigs})
        for (const moved_region& m : *list)
            if (m.to) memory_park_region(m.to, 0);
    return false;
}

void evacuate_frames(const std::vector<moved_region>& frames)
{
    std::vector<uint32_t> fresh;
    uint32_t current = 0;
    for (const moved_region& m : frames) {
        series_frame* f = at<series_frame>(m.from);
        series_frame* to = m.to ? at<series_frame>(m.to) : nullptr;
        if (to) {
            *to = series_frame{0, 0, f->size, m.to + uint32_t(sizeof(series_frame)), m.to + f->size};
            fresh.push_back(m.to);
            if (memory_s.series_current == m.from) current = m.to;
        }
        for (uint32_t p = m.from + uint32_t(sizeof(series_frame)); p < f->heap; p += buffer_span(p)) {
            series_buffer* s = at<series_buffer>(p);
            if (!(s->flags & SERIES_MARK)) {
                if ((s->flags & SERIES_USED) && s->node) collector::add_pending(s->node);
                continue;
            }
            s->flags &= ~SERIES_MARK;
            move_run(p, buffer_span(p), to->heap);
            to->heap += buffer_span(to->heap);
        }
    }
    std::sort(fresh.begin(), fresh.end());
    for (size_t i = 0; i < fresh.size(); i++) {
        at<series_frame>(fresh[i])->prev = i ? fresh[i - 1] : 0;
        at<series_frame>(fresh[i])->next = i + 1 < fresh.size() ? fresh[i + 1] : 0;
    }
    memory_s.series_first = fresh.front();
    memory_s.series_last = fresh.back();
    memory_s.series_current = current ? current : fresh.back();
    for (const moved_region& m : frames) memory_park_region(m.from, at<series_frame>(m.from)->heap - m.from);
}

void evacuate_big_blocks(const std::vector<moved_region>& bigs)
{
    uint32_t* link = &memory_s.big_first;
    for (const moved_region& m : bigs) {
        big_block* b = at<big_block>(m.from);
        series_buffer* s = b->buffer();
        if (!m.to) {
            if (s->node) collector::add_pending(s->node);
            continue;
        }
        s->flags &= ~SERIES_MARK;
        copy_down(at(m.to), at(m.from), uint32_t(sizeof(big_block)) + b->need);
        big_block* moved = at<big_block>(m.to);
        series_buffer* t = moved->buffer();
        uint32_t distance = ref_of(t) - ref_of(s);
        *at<uint32_t>(t->node) = ref_of(t);
        t->head += distance;
        t->tail += distance;
        *link = m.to;
        link = &moved->next;
    }
    *link = 0;
    for (const moved_region& m : bigs)
        memory_park_region(m.from, uint32_t(sizeof(big_block)) + at<big_block>(m.from)->need);
}

// Moves every live buffer of the frames and big blocks, dropping the dead ones as compaction and
// the big-block sweep would; false when the system refused the room to do it.
bool evacuate()
{
    std::vector<moved_region> frames, bigs;
    if (!take_fresh_regions(frames, bigs)) return false;
    evacuate_frames(frames);
    evacuate_big_blocks(bigs);
    return true;
}

}  // namespace

void collector::compact_series(int mode)
{
    series_frame* prev = nullptr;
    uint32_t r = memory_s.series_first;
    while (r) {
        series_frame* f = at<series_frame>(r);
        uint32_t next = f->next;
        bool empty = compact_frame(f, prev, mode == 1);
        if (empty && next) series_frame_free(f);
        else prev = f;
        r = next;
    }
}

// Gives the queued nodes back to their frames. Nodes of one frame come in long runs (they were
// handed out together), so the frame of the last node is tried first and the sorted frame list is
// searched only when a run ends: no sort of the queue, whose length is the garbage of a cycle.
void collector::flush_pending()
{
    std::vector<uint32_t> frames;
    for (uint32_t r = memory_s.node_first; r; r = at<node_frame>(r)->next) frames.push_back(r);
    std::sort(frames.begin(), frames.end());
    node_frame* f = nullptr;
    uint32_t first = 0, end = 0;   // f's slot area
    for (node_ref node : gcs.pending) {
        if (node < first || node >= end) {
            auto it = std::upper_bound(frames.begin(), frames.end(), node);
            if (it == frames.begin()) continue;
            f = at<node_frame>(*(it - 1));
            first = ref_of(f->slots());
            end = first + f->capacity * 4;
            if (node < first || node >= end) continue;
        }
        node_free(f, node);
    }
    collector_s.released_nodes += uint32_t(gcs.pending.size());
    gcs.pending.clear();
}

namespace {

void clear_fixed_marks()
{
    uint32_t n;
    const uint32_t* nodes = memory_fixed_nodes(&n);
    for (uint32_t i = 0; i < n; i++) collector::clear_mark(nodes[i]);
}

}  // namespace

// ---- interface ----------------------------------------------------------------------------------

void collector::init()
{
    uint32_t stress = 0;
    char value[16];
    DWORD n = GetEnvironmentVariableA("KIV_GC_STRESS", value, sizeof value);
    if (n > 0 && n < sizeof value) stress = uint32_t(std::strtoul(value, nullptr, 10));
    collector_s = collector_state{};
    collector_s.stress_every = stress;
    n = GetEnvironmentVariableA("KIV_GC_STRESS_MOVE", value, sizeof value);
    collector_s.stress_move = n > 0 && n < sizeof value && std::strtoul(value, nullptr, 10) != 0;
}

void collector::check()
{
    if (collector_s.enabled == 1 && !collector_s.busy) do_cycle();
}

void collector::add_pending(node_ref node)
{
    if (node) gcs.pending.push_back(node);
}

void collector::do_cycle()
{
    collector_s.busy = 1;
    collector_s.released_nodes = 0;
    mark_roots();
    extern_handles_sweep();
    if (ownership_sweep_hook) ownership_sweep_hook();
    if (!collector_s.stress_move || !evacuate()) {
        compact_series(1);
        big_blocks_sweep();
    }
    flush_pending();
    if (node_frames_compact()) collector_s.node_cycles++;
    clear_fixed_marks();
    memory_budget_reset();
    collector_s.cycles++;
    collector_s.busy = 0;
}

bool collector::active_q() { return collector_s.busy != 0; }

bool collector::keep(node_ref node)
{
    if (!node) return false;
    uint32_t ref = *at<uint32_t>(node);
    if (!ref) return false;
    series_buffer* s = at<series_buffer>(ref);
    if (s->flags & SERIES_MARK) return false;
    s->flags |= SERIES_MARK;
    return true;
}

void collector::mark_block(node_ref node)
{
    if (keep(node) && series_unit(series_of(node)) == 16) gcs.work.push_back(node);
}

void collector::mark_context(node_ref node) { mark_block(node); }

void collector::mark_cell(const cell* c)
{
    uint32_t t = cell_type(c) < TYPE_TABLE_SIZE ? cell_type(c) : 0;
    mark_fn m = datatype_s.types[t].name ? datatype_s.rows[t].mark : gcs.unregistered[t];
    if (m) m(c);
}

void collector::mark_cells(const cell* first, const cell* last)
{
    for (const cell* c = first; c < last; c++) mark_cell(c);
}

void collector::clear_mark(node_ref node)
{
    uint32_t ref = *at<uint32_t>(node);
    if (ref) at<series_buffer>(ref)->flags &= ~SERIES_MARK;
}

void collector::register_marker(void (*routine)())
{
    if (gcs.marker_count < MARKERS_MAX) gcs.markers[gcs.marker_count++] = routine;
}

void collector::mark_block_cell(const cell* c) { if (c->data2) mark_block(c->data2); }
void collector::mark_string_cell(const cell* c)
{
    keep(c->data2);
    if (c->data3) keep(c->data3);
}
void collector::mark_buffer_cell(const cell* c) { if (c->data2) keep(c->data2); }

gc_root::gc_root(node_ref n) : node(n), prev(gcs.roots) { gcs.roots = this; }
gc_root::~gc_root() { gcs.roots = prev; }

gc_cell_root::gc_cell_root(const cell& v) : value(v), prev(gcs.cell_roots) { gcs.cell_roots = this; }
gc_cell_root::~gc_cell_root() { gcs.cell_roots = prev; }
