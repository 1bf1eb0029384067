// percent!: constructors and text; the rest is float!'s, which reads percent cells as floats.
#include "runtime/datatypes/percent.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace {
cell* store(cell* slot, double fraction)
{
    *slot = cell{TYPE_PERCENT, 0, 0, 0};
    cell_set_float(slot, fraction);
    return slot;
}
}  // namespace

cell* percent::make_at(cell* slot, double fraction) { return store(slot, fraction); }
cell* percent::push(double fraction) { return store(stack::push_slot(), fraction); }
cell* percent::make_in(cell* blk, uint32_t high, uint32_t low)
{
    cell* c = block_alloc_tail(blk ? blk : &root_block);
    *c = cell{TYPE_PERCENT, 0, low, high};
    return c;
}

int32_t percent::form(cell* value, cell* buffer, cell*, int32_t part)
{
    double fraction = cell_float(value), shown = fraction * 100.0;
    // A fraction beyond a hundredth of the largest double has no finite percent to round: its
    // own digits are written instead of an infinity no literal stands for.
    if (float_::not_finite_q(shown) && !float_::not_finite_q(fraction))
        return string::emit_literal(buffer, float_::exact_percent_text(fraction), part);
    return string::emit_literal(buffer, float_::form_float(shown, float_::FORM_PERCENT), part);
}

// mold/all keeps every digit; plain mold is form's text, which may round.
int32_t percent::mold(cell* value, cell* buffer, bool, bool all, bool, cell* arg, int32_t part, int32_t)
{
    if (all) return string::emit_literal(buffer, float_::exact_percent_text(cell_float(value)), part);
    return form(value, buffer, arg, part);
}

void percent::init()
{
    datatype::register_type(TYPE_PERCENT, TYPE_FLOAT, "percent!", {
        .make = inherit, .random = inherit, .to = inherit, .form = form, .mold = mold, .compare = inherit,
        .absolute = inherit, .add = inherit, .divide = inherit, .multiply = inherit, .negate = inherit,
        .power = inherit, .remainder = inherit, .round = inherit, .subtract = inherit, .even_q = inherit,
        .odd_q = inherit});
}
