// none!: the explicit absence of a value, the static none cell (never written), and the series
// actions that accept none in place of a series.
#include "runtime/datatypes/none.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

cell none_value{TYPE_NONE, 0, 0, 0};

cell* none::make_at(cell* slot)
{
    *slot = cell{TYPE_NONE, 0, 0, 0};
    return slot;
}
cell* none::push() { return make_at(stack::push_slot()); }
cell* none::make_in(cell* blk) { return make_at(block_alloc_tail(blk ? blk : &root_block)); }
cell* none::box() { return make_at(stack::arguments()); }
cell* none::make(cell*, cell*, uint32_t) { return push(); }
int32_t none::form(cell*, cell* buffer, cell*, int32_t part) { return string::emit_literal(buffer, "none", part); }
int32_t none::mold(cell*, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    return string::emit_literal(buffer, all ? "#(none)" : "none", part);
}
int32_t none::compare(cell*, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_NONE) return -2;
    return compare_equality_or_sort(op) ? 0 : -2;
}
cell* none::clear(cell* series) { return make_at(series); }
cell* none::find(cell* series, cell*, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool, bool, bool)
{
    return make_at(series);
}
int32_t none::length_q(cell*) { return -1; }
cell* none::remove(cell* series, cell*, cell*) { return make_at(series); }
cell* none::take(cell* series, cell*, bool, bool) { return make_at(series); }

void none::init()
{
    none_value = cell{TYPE_NONE, 0, 0, 0};
    datatype::register_type(TYPE_NONE, 0, "none!", {
        .make = make, .to = make, .form = form, .mold = mold, .compare = compare, .clear = clear,
        .find = find, .length_q = length_q, .remove = remove, .select = find, .take = take});
}
