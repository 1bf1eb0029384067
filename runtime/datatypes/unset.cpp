// unset!: the value of nothing, and the static unset cell (never written).
#include "runtime/datatypes/unset.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

cell unset_value{TYPE_UNSET, 0, 0, 0};

cell* unset::make_at(cell* slot)
{
    *slot = cell{TYPE_UNSET, 0, 0, 0};
    return slot;
}
cell* unset::push() { return make_at(stack::push_slot()); }
cell* unset::make_in(cell* blk) { return make_at(block_alloc_tail(blk ? blk : &root_block)); }
cell* unset::box() { return make_at(stack::arguments()); }
cell* unset::make(cell*, cell*, uint32_t) { return push(); }
int32_t unset::form(cell*, cell*, cell*, int32_t part) { return part; }
int32_t unset::mold(cell*, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    return string::emit_literal(buffer, all ? "#(unset)" : "unset", part);
}
int32_t unset::compare(cell*, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_UNSET) return -2;
    return compare_equality_or_sort(op) ? 0 : -2;
}

void unset::init()
{
    unset_value = cell{TYPE_UNSET, 0, 0, 0};
    datatype::register_type(TYPE_UNSET, 0, "unset!", {
        .make = make, .to = make, .form = form, .mold = mold, .compare = compare});
}
