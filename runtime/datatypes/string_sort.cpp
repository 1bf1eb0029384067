// String sort: units (or records of units) sorted by the engines of runtime/sort. The unit
// comparisons read the buffer in place and never allocate. A user function runs interpreted code
// that may move or change the string: its records are sorted as indexes over a copy of the units,
// written back only when the string still holds what was copied.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_internal.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/sort.h"

namespace {

constexpr uint32_t FLAG_REVERSE = series::SORT_REVERSE, FLAG_ALL = series::SORT_ALL;

// Folding for the order that ignores case: 1-byte texts fold A-Z only, wider ones fully.
template <uint32_t UNIT>
uint32_t order_fold(uint32_t c)
{
    if (UNIT == 1) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return char_change_case(c, 0);
}

// The unit comparators: the unit at the flags' offset, or (whole records) the flags' count of
// units; context points to the fold switch (0: fold).
template <uint32_t UNIT>
int32_t sort_compare_units(const void* a, const void* b, const void* op, uint32_t flags)
{
    auto* x = static_cast<const uint8_t*>(a);
    auto* y = static_cast<const uint8_t*>(b);
    uint32_t count = flags >> 2;
    if (!(flags & FLAG_ALL)) {
        x += count * UNIT;
        y += count * UNIT;
        count = 1;
    }
    bool fold = *static_cast<const int32_t*>(op) == 0;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = unit_read(x + i * UNIT, UNIT), d = unit_read(y + i * UNIT, UNIT);
        if (fold) c = order_fold<UNIT>(c), d = order_fold<UNIT>(d);
        if (c != d) {
            int32_t r = c > d ? 1 : -1;
            return (flags & FLAG_REVERSE) ? -r : r;
        }
    }
    return 0;
}

struct call_context {
    cell function;
    const std::vector<uint8_t>* copy;   // the units, copied before the sort
    uint32_t unit;
    uint32_t size;                      // units per record
    uint32_t type;                      // the series' type, for whole-record values
};

// The function's answer as an order: the string sort reads numbers negated.
int32_t call_answer(const cell* r)
{
    switch (cell_type(r)) {
    case TYPE_LOGIC: return r->data1 ? 1 : -1;
    case TYPE_INTEGER: return integer_of(r) > 0 ? -1 : integer_of(r) < 0 ? 1 : 0;
    case TYPE_FLOAT: {
        double d = cell_float(r);
        return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
    }
    case TYPE_NONE: return -1;
    default: return 1;
    }
}

int32_t sort_call_compare(const void* a, const void* b, const void* context, uint32_t flags)
{
    auto* c = static_cast<const call_context*>(context);
    if (!function::call_hook) fire(ERR_INTERNAL, err::NOT_DONE);
    uint32_t ia, ib;
    std::memcpy(&ia, a, 4);
    std::memcpy(&ib, b, 4);
    uint32_t first = (flags & FLAG_REVERSE) ? ia : ib, second = (flags & FLAG_REVERSE) ? ib : ia;
    stack::scope held;
    cell* args = stack::top();
    for (uint32_t record : {first, second}) {
        const uint8_t* p = c->copy->data() + size_t(record) * c->size * c->unit;
        if (!(flags & FLAG_ALL)) {
            held.push(cell{TYPE_CHAR, 0, unit_read(p, c->unit), 0});
            continue;
        }
        cell* text = string::make_at(stack::push_slot(), c->size, c->unit);
        for (uint32_t i = 0; i < c->size; i++) string::append_char(text->data2, unit_read(p + i * c->unit, c->unit));
        cell_set_type(text, any_string_q(c->type) ? c->type : TYPE_STRING);
    }
    // A non-local exit of the function unwinds the sort from here: the series stays as it was.
    cell result = function::call_hook(&c->function, nullptr, args, 2, false);
    return call_answer(&result);
}

sort_compare_fn unit_comparator(uint32_t unit)
{
    switch (unit) {
    case 1: return sort_compare_units<1>;
    case 2: return sort_compare_units<2>;
    case 4: return sort_compare_units<4>;
    default: fire(ERR_INTERNAL, err::NOT_DONE);
    }
}

void sort_by_call(cell* series, uint32_t head, uint32_t records, uint32_t size, const cell* function, uint32_t flags,
                  bool stable)
{
    series_buffer* b = series_of(series_node(series));
    uint32_t unit = series_unit(b);
    size_t bytes = size_t(records) * size * unit;
    std::vector<uint8_t> copy(at(b->head) + size_t(head) * unit, at(b->head) + size_t(head) * unit + bytes);
    std::vector<uint32_t> order(records);
    std::iota(order.begin(), order.end(), 0u);
    call_context context{*function, &copy, unit, size, cell_type(series)};
    (stable ? sort_stable : sort_quick)(order.data(), records, 4, &context, flags, sort_call_compare);
    // The function could have changed or widened the string: writing back would then lose text.
    b = series_of(series_node(series));
    if (series_unit(b) != unit || uint64_t(head) * unit + bytes > series_used_bytes(b) ||
        std::memcmp(at(b->head) + size_t(head) * unit, copy.data(), bytes) != 0)
        fire(ERR_SCRIPT, err::INVALID_DATA, series);
    size_t record = size_t(size) * unit;
    for (uint32_t i = 0; i < records; i++)
        std::memcpy(at(b->head) + size_t(head) * unit + i * record, copy.data() + order[i] * record, record);
}

}  // namespace

cell* string::sort(cell* series, bool case_, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
                   bool stable)
{
    int64_t n = series::length_clamped(series);
    series::sort_plan plan;
    if (!series::plan_sort(series, n, skip, comparator, part, all, reverse, &plan)) return series;
    int32_t op = case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
    uint32_t head = plan.head, size = plan.size, flags = plan.flags;
    uint32_t records = plan.count / size;
    series::notify(series, EV_SORT, int32_t(head), int32_t(plan.count));
    // The owner's handler may have shortened the text: sort what is still there.
    records = std::min<uint32_t>(records, (series::units(series) - std::min(head, series::units(series))) / size);
    if (plan.function) {
        // After a non-local exit the owner hears no "sorted": the exit unwinds from the call.
        sort_by_call(series, head, records, size, plan.function, flags, stable);
    } else {
        series_buffer* b = series_of(series_node(series));
        uint32_t unit = series_unit(b);
        (stable ? sort_stable : sort_quick)(at(b->head) + size_t(head) * unit, records, unit * size, &op,
                                            flags, unit_comparator(unit));
    }
    series::notify(series, EV_SORTED, int32_t(head), int32_t(plan.count));
    return series;
}
