// routine!: the routines table, making a routine! for a filled slot, and its mold; reflection,
// form and compare come from function!.
#include "runtime/datatypes/routine.h"

#include <cstring>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

routine_state routine_s;

routine_fn routine::entry(int64_t slot) { return slot >= 1 && slot <= SLOTS ? routine_s.table[slot - 1] : nullptr; }

cell* routine::push(const cell* spec, const cell* body, uint32_t slot, int32_t result_type, bool call_mode)
{
    cell slot_value{TYPE_INTEGER, 0, slot, 0};
    if (!entry(slot)) fire(ERR_SCRIPT, err::BAD_MAKE_ARG, &slot_value);
    // Mended: the arity has five header bits; a 32nd argument would have spilled into the
    // new-line bit and beyond.
    uint32_t arity = 0;
    for (uint32_t i = 0; i < block::rs_length(spec); i++)
        if (cell_type(block::rs_head(spec) + i) == TYPE_WORD) arity++;
    if (arity > ARITY_MAX) fire(ERR_SCRIPT, err::BAD_FUNC_DEF, spec);
    cell body_value = body ? *body : none_value;
    cell* result = stack::push_slot();
    cell* held_body = stack::push(&body_value);
    cell* held_spec = native::push_spec(spec);
    cell* more = block::push_only_star(function::MORE_CELLS);
    node_ref ctx = context::make(held_spec, true, false, CONTEXT_FUNCTION);
    *result = cell{TYPE_ROUTINE | (call_mode ? CALL_MODE : 0) | arity << ARITY_SHIFT, ctx, held_spec->data2,
                   more->data2};
    const cell cells[function::MORE_CELLS] = {
        *held_body, unset_value, slot_value, unset_value, cell{TYPE_INTEGER, 0, uint32_t(result_type), 0}};
    series_buffer* m = series_of(more->data2);
    std::memcpy(at<cell>(m->head), cells, sizeof cells);
    m->tail = m->head + sizeof cells;
    stack::pop(3);
    return result;
}

int32_t routine::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    cell v = *value;
    cell spec{TYPE_BLOCK, 0, v.data2, 0};
    part = string::emit_literal(buffer, "routine ", part);
    part = block::mold(&spec, buffer, only, all, flat, arg, part, indent);
    cell more{TYPE_BLOCK, 0, v.data3, 0};
    cell body = *block::ks_abs_at(&more, function::MORE_BODY);
    if (cell_type(&body) == TYPE_BLOCK) return block::mold(&body, buffer, only, all, flat, arg, part, indent);
    part = string::emit_literal(buffer, " ", part);
    return mold_value(&body, buffer, false, all, flat, arg, part, indent);
}

void routine::init()
{
    std::memset(routine_s.table, 0, sizeof routine_s.table);
    datatype::register_type(TYPE_ROUTINE, TYPE_FUNCTION, "routine!", {
        .reflect = inherit, .form = inherit, .mold = mold, .compare = inherit, .mark = inherit});
}
