// Block changes: append, insert, change, take, swap and trim, each told to the block's owner
// before and after. The cells to write are read after the first notification (the owner's handler
// may change them) and before the block grows or opens a gap, so a block inserted into itself
// gives its old cells, and nothing is read from a buffer that the growth replaced.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_internal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace {

using block_internal::cell_at;
using block_internal::cells_of;
using block_internal::length_of;

// The cells a value adds: its cells from its head (an any-block without /only), else itself.
bool spreads(const cell* value, bool only) { return !only && any_block_q(cell_type(value)); }

// The cells to add, copied aside before the block grows or opens a gap (the value may be the block
// itself, and growth may move either buffer). A short run stays on the machine stack.
class cells_aside {
public:
    cells_aside(const cell* value, bool only, int64_t count)
    {
        if (!spreads(value, only)) {
            small_[0] = *value;
            size_ = 1;
            return;
        }
        size_ = std::max<int64_t>(std::min<int64_t>(count, length_of(value)), 0);
        cell* out = small_;
        if (size_ > SMALL) {
            large_.resize(size_t(size_));
            out = large_.data();
        }
        const cell* from = size_ > 0 ? cell_at(value, series::head_clamped(value)) : nullptr;
        for (int64_t i = 0; i < size_; i++) out[i] = from[i];
    }
    const cell* data() const { return size_ > SMALL ? large_.data() : small_; }
    int64_t size() const { return size_; }

    static constexpr int64_t SMALL = 8;

private:
    cell small_[SMALL];
    std::vector<cell> large_;
    int64_t size_;
};

// Room for `cells` cells in the buffer; internal/no-memory when the count or its bytes overflow.
series_buffer* reserve_cells(node_ref node, int64_t cells)
{
    if (cells < 0 || cells * int64_t(CELL_BYTES) >= 0x80000000LL) fire(ERR_INTERNAL, err::NO_MEMORY);
    return series::room_for(node, uint64_t(cells) * CELL_BYTES);
}

// Writes the cells dup times from index at (the room is there).
void write_repeated(const cell* blk, int64_t at, const cells_aside& cells, int64_t dup)
{
    size_t bytes = size_t(cells.size()) * CELL_BYTES;
    for (int64_t d = 0; d < dup; d++)
        if (bytes) std::memcpy(cell_at(blk, at + d * cells.size()), cells.data(), bytes);
}

// Opens a gap of n cells at index (the room is there).
void open_gap(const cell* blk, int64_t index, int64_t n)
{
    int64_t total = cells_of(blk);
    cell* p = cell_at(blk, index);
    std::memmove(p + n, p, size_t(total - index) * CELL_BYTES);
    series_of(series_node(blk))->tail += uint32_t(n) * CELL_BYTES;
}

// A /part or /dup count given as a cell: an integer, or (part) a position in the same series.
int32_t count_arg(const cell* series, const cell* arg, rt_refinement which)
{
    if (!arg_given(arg)) return -1;
    if (cell_type(arg) == TYPE_INTEGER) return integer_of(arg);
    if (which == REF_PART && cell_type(arg) == cell_type(series) && series_node(arg) == series_node(series))
        return int32_t(std::max<int64_t>(int64_t(series_head_raw(arg)) - series::head_clamped(series), 0));
    fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(which), arg);
}

// A /dup count; a given count below 1 is 0 (nothing added), -1 stands for no /dup.
int32_t dup_arg(const cell* dup)
{
    if (!arg_given(dup)) return -1;
    if (cell_type(dup) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_ARG, dup);
    return std::max(integer_of(dup), 0);
}

// The common append: a few cells, once, to a block that no owner watches. Does what the general
// path does for them without the gap, the shift of a hash! index or the notifications.
// The cells lie outside the value world (copied aside).
cell* append_short_run(cell* series, const cell* cells, int64_t n)
{
    node_ref node = series_node(series);
    series_buffer* b = series_of(node);
    int64_t old_cells = series_used_bytes(b) / CELL_BYTES;
    if (series_end_ref(b) - b->tail < n * CELL_BYTES) b = reserve_cells(node, old_cells + n);
    cell* to = at<cell>(b->tail);
    for (int64_t i = 0; i < n; i++) to[i] = cells[i];
    b->tail += uint32_t(n) * CELL_BYTES;
    if (cell_type(series) == TYPE_HASH) hash::index(series, old_cells, n);
    series->data1 = 0;
    return series;
}

}  // namespace

cell* block::append_insert(cell* series, const cell* value, int32_t part, bool only, int32_t dup, bool append)
{
    cell v = *value;
    int64_t count = spreads(&v, only) ? length_of(&v) : 1;
    if (part >= 0 && part < count) count = part;
    if (append && dup < 0 && count > 0 && !(series_of(series_node(series))->flags & SERIES_OWNED)) {
        if (!spreads(&v, only)) return append_short_run(series, &v, 1);
        if (count <= cells_aside::SMALL) {
            cells_aside cells(&v, only, count);
            return append_short_run(series, cells.data(), cells.size());
        }
    }
    series->data1 = series::head_clamped(series);
    // A /dup count below 1 adds nothing.
    int64_t times = dup < 0 ? 1 : dup;
    if (count == 0 || times == 0) {
        if (append) series->data1 = 0;
        return series;
    }
    int64_t head = series_head_raw(series);
    int64_t total = count * times;
    if (total > 0x7FFFFFFF) fire(ERR_INTERNAL, err::NO_MEMORY);
    series::notify(series, append ? EV_APPEND : EV_INSERT, int32_t(append ? cells_of(series) : head), int32_t(total),
                   &v);
    cells_aside cells(&v, only, count);
    total = cells.size() * times;
    reserve_cells(series_node(series), int64_t(cells_of(series)) + total);
    int64_t at = append ? cells_of(series) : std::min<int64_t>(head, cells_of(series));
    open_gap(series, at, total);
    hash::shifted(series, at, total);
    write_repeated(series, at, cells, times);
    hash::index(series, at, total);
    series::notify(series, append ? EV_APPENDED : EV_INSERTED, int32_t(at), int32_t(total), &v);
    series->data1 = append ? 0 : uint32_t(std::min<int64_t>(at + total, cells_of(series)));
    return series;
}

cell* block::append(cell* series, cell* value, cell* part, bool only, cell* dup)
{
    return append_insert(series, value, count_arg(value, part, REF_PART), only, dup_arg(dup), true);
}

cell* block::insert(cell* series, cell* value, cell* part, bool only, cell* dup)
{
    return append_insert(series, value, count_arg(value, part, REF_PART), only, dup_arg(dup), false);
}

cell* block::change(cell* series, cell* value, cell* part, bool only, cell* dup)
{
    cell v = *value;
    int32_t part_count = count_arg(series, part, REF_PART);
    int32_t dup_count = dup_arg(dup);
    series->data1 = series::head_clamped(series);
    int64_t head = series_head_raw(series);
    int64_t count = spreads(&v, only) ? length_of(&v) : 1;
    int64_t times = dup_count < 0 ? 1 : std::max(dup_count, 0);
    int64_t rest = cells_of(series) - head;
    int64_t removed = part_count >= 0 ? std::min<int64_t>(rest, part_count) : std::min<int64_t>(rest, count * times);
    if (count * times > 0x7FFFFFFF) fire(ERR_INTERNAL, err::NO_MEMORY);
    series::notify(series, EV_CHANGE, int32_t(head), int32_t(removed), &v);
    cells_aside cells(&v, only, count);
    int64_t inserted = cells.size() * times;
    // The owner's handler may have changed the block: the run replaced stays within its tail.
    head = std::min<int64_t>(head, cells_of(series));
    removed = std::min<int64_t>(removed, cells_of(series) - head);
    int64_t total = cells_of(series);
    reserve_cells(series_node(series), total - removed + inserted);
    hash::unindex(series, head, removed);
    cell* from = cell_at(series, head + removed);
    std::memmove(cell_at(series, head) + inserted, from, size_t(total - head - removed) * CELL_BYTES);
    series_of(series_node(series))->tail = series_of(series_node(series))->head + uint32_t(total - removed + inserted) * CELL_BYTES;
    hash::shifted(series, head + removed, inserted - removed);
    write_repeated(series, head, cells, times);
    hash::index(series, head, inserted);
    series::notify(series, EV_CHANGED, int32_t(head), int32_t(inserted), &v);
    series->data1 = uint32_t(std::min<int64_t>(head + inserted, cells_of(series)));
    return series;
}

cell* block::take(cell* series, cell* part, bool deep, bool last)
{
    if (length_of(series) == 0) return none::make_at(series);
    series::take(series, part, deep, last);
    if (deep)
        for (int32_t i = 0; i < cells_of(series); i++) {
            uint32_t t = cell_type(cell_at(series, i));
            if (any_block_q(t) || any_string_q(t) || t == TYPE_VECTOR || t == TYPE_BINARY || t == TYPE_IMAGE)
                copy_at(series, uint32_t(i), true, nullptr);
        }
    if (!arg_given(part) && cells_of(series) == 1) *series = *cell_at(series, 0);
    return series;
}

cell* block::swap(cell* series1, cell* series2)
{
    if (!any_block_q(cell_type(series2))) fire(ERR_SCRIPT, err::INVALID_ARG, series2);
    if (length_of(series1) == 0 || length_of(series2) == 0) return series1;
    int32_t h1 = series_head_raw(series1), h2 = series_head_raw(series2);
    series::notify(series1, EV_SWAP, h1, 1);
    series::notify(series2, EV_SWAP, h2, 1);
    // The handlers may have shortened either block.
    bool same_cell = series_node(series1) == series_node(series2) && h1 == h2;
    if (!same_cell && h1 < cells_of(series1) && h2 < cells_of(series2)) {
        hash::unindex(series1, h1, 1);
        hash::unindex(series2, h2, 1);
        std::swap(*cell_at(series1, h1), *cell_at(series2, h2));
        hash::index(series1, h1, 1);
        hash::index(series2, h2, 1);
    }
    series::notify(series1, EV_SWAPED, h1, 1);
    series::notify(series2, EV_SWAPED, h2, 1);
    return series1;
}

cell* block::trim(cell* series, bool, bool, bool, bool, bool, cell*)
{
    int32_t head = int32_t(series::head_clamped(series));
    series::notify(series, EV_TRIM, head, length_of(series));
    int32_t out = head, total = cells_of(series);
    for (int32_t i = head; i < total; i++) {
        cell* c = cell_at(series, i);
        if (cell_type(c) != TYPE_NONE) *cell_at(series, out++) = *c;
    }
    series_buffer* b = series_of(series_node(series));
    b->tail = b->head + uint32_t(out) * CELL_BYTES;
    series::notify(series, EV_TRIMMED, head, out - head);
    return series;
}
