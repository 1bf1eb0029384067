// routine!: the routines table (slots filled by name), making a routine! for a filled slot, and its
// mold; reflection, form and compare come from function!.
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
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/rterror.h"
#include "runtime/stack.h"

routine_state routine_s;

routine_fn routine::entry(int64_t slot) { return slot >= 1 && slot <= SLOTS ? routine_s.table[slot - 1] : nullptr; }

void routine::register_(const routine_row* rows, uint32_t n)
{
    if (routine_s.count + n > SLOTS) runtime_error(RT_ASSERTION, rt_error_address());
    for (uint32_t i = 0; i < n; i++) {
        routine_s.table[routine_s.count] = rows[i].entry;
        routine_s.names[routine_s.count] = rows[i].name;
        routine_s.count++;
    }
}

uint32_t routine::slot_named(const uint8_t* name, uint32_t length)
{
    for (uint32_t i = 0; i < routine_s.count; i++)
        if (std::strlen(routine_s.names[i]) == length && std::memcmp(routine_s.names[i], name, length) == 0)
            return i + 1;
    return 0;
}

cell* routine::make(cell* proto, cell* spec, uint32_t)
{
    if (cell_type(spec) != TYPE_BLOCK || block::rs_length(spec) != 2) fire_error_arg(proto, spec);
    cell routine_spec = block::rs_head(spec)[0];
    cell name = block::rs_head(spec)[1];
    if (cell_type(&routine_spec) != TYPE_BLOCK || cell_type(&name) != TYPE_WORD) fire_error_arg(proto, spec);
    uint32_t length = 0;
    const uint8_t* text = symbol::name(name.data2, &length);
    uint32_t slot = slot_named(text, length);
    if (!slot) fire_error_arg(proto, spec);
    function::validate_spec(&routine_spec);
    cell* held = stack::push(&name);
    push(&routine_spec, held, slot, -1, false);
    *held = *(stack::top() - 1);
    stack::pop(1);
    return held;
}

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
    std::memset(routine_s.names, 0, sizeof routine_s.names);
    routine_s.count = 0;
    datatype::register_type(TYPE_ROUTINE, TYPE_FUNCTION, "routine!", {
        .make = make, .reflect = inherit, .form = inherit, .mold = mold, .compare = inherit, .mark = inherit});
}
