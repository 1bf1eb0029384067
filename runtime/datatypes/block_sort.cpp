// Block sort: records of one or more cells sorted by the engines of runtime/sort. The built-in
// comparison reads the cells where they lie, with the collector held off, so nothing moves under
// the engine. A user comparison runs interpreted code that may move or change the block: the
// records are then sorted as indexes over a rooted copy and written back only when the block still
// holds what was copied, so an error or an exit from the comparison leaves the block as it was.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/block_internal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/sort.h"

namespace {

using block_internal::cell_at;
using block_internal::cells_of;

// The two blocks that carry whole records to a user comparison: root-block cells, made on first
// need, so their addresses hold for the process's life.
struct block_sort_state {
    cell* scratch[2];
};
block_sort_state block_sort_s{};

constexpr uint32_t FLAG_REVERSE = series::SORT_REVERSE, FLAG_ALL = series::SORT_ALL;
constexpr uint32_t SCRATCH_CUT = 0x200000;   // scratch blocks this big are cut back after the sort

struct call_context {
    cell function;
    node_ref copy;          // the rooted copy of the records
    uint32_t size;          // cells per record
};

// The user function's answer as an order.
int32_t call_answer(const cell* r)
{
    switch (cell_type(r)) {
    case TYPE_LOGIC: return r->data1 ? 1 : -1;
    case TYPE_INTEGER: return integer_of(r) > 0 ? 1 : integer_of(r) < 0 ? -1 : 0;
    case TYPE_FLOAT: {
        double d = cell_float(r);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case TYPE_NONE: return -1;
    default: return 1;
    }
}

// Copies record `index` of the copy into a scratch block.
void fill_scratch(cell* scratch, const call_context* c, uint32_t index)
{
    block::ks_clear_at(scratch, 0);
    cell copy{TYPE_BLOCK, 0, c->copy, 0};
    for (uint32_t i = 0; i < c->size; i++) {
        cell v = *cell_at(&copy, int64_t(index) * c->size + i);   // read again: appending moves buffers
        block::rs_append(scratch, &v);
    }
}

void make_scratch(uint32_t size)
{
    for (cell*& s : block_sort_s.scratch)
        if (!s) s = block::make_in(nullptr, size);
}

}  // namespace

int32_t block::sort_compare(const void* a, const void* b, const void* op, uint32_t flags)
{
    auto* x = static_cast<cell*>(const_cast<void*>(a));
    auto* y = static_cast<cell*>(const_cast<void*>(b));
    if (flags & FLAG_REVERSE) std::swap(x, y);
    uint32_t count = flags >> 2;
    if (!(flags & FLAG_ALL)) {
        x += count;
        y += count;
        count = 1;
    }
    int32_t code = *static_cast<const int32_t*>(op);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t tx = cell_type(x + i), ty = cell_type(y + i);
        auto cmp = actions_of(tx).compare;
        int32_t r = cmp ? cmp(x + i, y + i, code) : -2;
        if (r == -2) r = int32_t(tx) - int32_t(ty);
        if (r) return r;
    }
    return 0;
}

int32_t block::sort_call(const void* a, const void* b, const void* context, uint32_t flags)
{
    auto* c = static_cast<const call_context*>(context);
    if (!function::call_hook) fire(ERR_INTERNAL, err::NOT_DONE);
    uint32_t ia, ib;
    std::memcpy(&ia, a, 4);
    std::memcpy(&ib, b, 4);
    // The second record goes first unless reversed.
    uint32_t first = (flags & FLAG_REVERSE) ? ia : ib, second = (flags & FLAG_REVERSE) ? ib : ia;
    cell args[2];
    if (flags & FLAG_ALL) {
        fill_scratch(block_sort_s.scratch[0], c, first);
        fill_scratch(block_sort_s.scratch[1], c, second);
        args[0] = *block_sort_s.scratch[0];
        args[1] = *block_sort_s.scratch[1];
    } else {
        cell copy{TYPE_BLOCK, 0, c->copy, 0};
        args[0] = *cell_at(&copy, int64_t(first) * c->size);
        args[1] = *cell_at(&copy, int64_t(second) * c->size);
    }
    // A non-local exit of the function unwinds the sort from here: the series stays as it was.
    cell result = function::call_hook(&c->function, nullptr, args, 2, false);
    return call_answer(&result);
}

namespace {

// Sorts with a user function: indexes over a copy rooted on the stack, then the records written
// back in their new order when the block still holds them unchanged.
void sort_by_call(cell* series, uint32_t head, uint32_t records, uint32_t size, const cell* function,
                  uint32_t flags, bool stable)
{
    stack::scope held;
    uint32_t n = records * size;
    int32_t total = cells_of(series);
    cell* copy = block::push_only_star(n);
    std::memcpy(cell_at(copy, 0), cell_at(series, head), size_t(n) * CELL_BYTES);
    series_of(copy->data2)->tail += n * CELL_BYTES;
    if (flags & FLAG_ALL) make_scratch(size);
    std::vector<uint32_t> order(records);
    std::iota(order.begin(), order.end(), 0u);
    call_context context{*function, copy->data2, size};
    (stable ? sort_stable : sort_quick)(order.data(), records, 4, &context, flags, block::sort_call);
    if ((flags & FLAG_ALL) && uint64_t(size) * CELL_BYTES >= SCRATCH_CUT)
        for (cell* s : block_sort_s.scratch) block::make_at(s, 1);
    // The comparison could have changed the block: writing the records back then would lose
    // values or write past its tail.
    if (cells_of(series) != total ||
        std::memcmp(cell_at(series, head), cell_at(copy, 0), size_t(n) * CELL_BYTES) != 0)
        fire(ERR_SCRIPT, err::INVALID_DATA, series);
    for (uint32_t i = 0; i < records; i++)
        std::memcpy(cell_at(series, head + int64_t(i) * size), cell_at(copy, int64_t(order[i]) * size),
                    size_t(size) * CELL_BYTES);
}

}  // namespace

cell* block::sort(cell* series, bool case_, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
                  bool stable)
{
    int64_t n = ks_length_q(series);
    if (n <= 0) return series;
    series::sort_plan plan;
    if (!series::plan_sort(series, n, skip, comparator, part, all, reverse, &plan)) return series;
    int32_t op = case_ ? COMP_CASE_SORT : COMP_SORT;
    uint32_t head = plan.head, size = plan.size, flags = plan.flags;
    uint32_t records = plan.count / size;
    series::notify(series, EV_SORT, int32_t(head), int32_t(plan.count));
    // The owner's handler may have shortened the block: sort what is still there.
    records = std::min<uint32_t>(records, uint32_t(std::max<int64_t>(int64_t(cells_of(series)) - head, 0)) / size);
    if (plan.function) {
        // After a non-local exit the owner hears no "sorted": the exit unwinds from the call.
        sort_by_call(series, head, records, size, plan.function, flags, stable);
    } else {
        collector_hold hold;   // the compare routines may allocate; nothing may move under the engine
        (stable ? sort_stable : sort_quick)(cell_at(series, head), records, size * CELL_BYTES, &op, flags,
                                            sort_compare);
    }
    series::notify(series, EV_SORTED, int32_t(head), int32_t(plan.count));
    return series;
}
