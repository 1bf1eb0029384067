// native!: making a built-in routine's value from a spec block and a slot number, reflection, and
// the form, mold and compare routines that action! (and partly op!) share. Making allocates
// three times (a spec copy, the more block, the context): each piece is held on the argument
// stack until the value's cell refers to it.
#include "runtime/datatypes/native.h"

#include <string>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/datatypes/rtwords.h"

native_state native_s;

namespace {

// The wrapped type of an op! (bits 16-23), or the cell's own type.
uint32_t callable_type(const cell* c) { return cell_type(c) == TYPE_OP ? (c->header >> 16) & 0xFF : cell_type(c); }

bool slot_filled(uint32_t type, int64_t slot)
{
    bool (*filled)(int64_t) = type == TYPE_ACTION ? native_s.action_slot_filled : native_s.native_slot_filled;
    int64_t slots = type == TYPE_ACTION ? ACTION_SLOTS : native::NATIVE_SLOTS;
    return slot >= 1 && slot <= slots && filled && filled(slot);
}

bool field_is(const cell* field, rt_symbol which)
{
    return word::any_word_q(cell_type(field)) && symbol::resolve(field->data2) == symbol::resolve(rt_symbol_id(which));
}

}  // namespace

// Mended for natives as function! does it: a spec past its first value was kept from index 0
// while its argument context was made from the head, so the two disagreed on the arguments.
cell* native::push_spec(const cell* spec)
{
    if (int32_t(spec->data1) == 0) return stack::push(spec);
    cell* copy = block::clone(spec, false, false);
    cell_set_type(copy, TYPE_BLOCK);
    return copy;
}

// Everything is checked before anything is made. Mended: the first value must be a block, and the
// slot must hold a routine; the range check alone let a value through that would call an empty slot.
cell* native::make(cell* proto, cell* spec, uint32_t type)
{
    if (cell_type(spec) != TYPE_BLOCK || block::rs_length(spec) != 2) fire_error_arg(proto, spec);
    cell first = block::rs_head(spec)[0];
    cell second = block::rs_head(spec)[1];
    if (cell_type(&first) != TYPE_BLOCK || cell_type(&second) != TYPE_INTEGER) fire_error_arg(proto, spec);
    int32_t slot = int32_t(second.data2);
    if (!slot_filled(type, slot)) fire_error_arg(proto, spec);

    cell* result = stack::push_slot();
    cell* held_spec = push_spec(&first);
    cell* more = block::push_only_star(2);
    node_ref ctx = context::make(held_spec, true, false, CONTEXT_FUNCTION);
    cell context_value = context::value_of(ctx);
    block::rs_append(more, &context_value);   // room for two: nothing allocates until both are in
    block::rs_append(more, &none_value);
    *result = cell{type, uint32_t(slot), held_spec->data2, more->data2};
    stack::pop(2);
    return result;
}

cell* native::reflect(cell* value, cell* field)
{
    if (field_is(field, SYM_SPEC)) {
        *value = cell{TYPE_BLOCK, 0, value->data2, 0};
        return value;
    }
    if (!field_is(field, SYM_BODY)) fire(ERR_INTERNAL, err::NOT_DONE);
    uint32_t wrapped = callable_type(value);
    if (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) {
        cell more{TYPE_BLOCK, 0, value->data3, 0};
        *value = *block::rs_head(&more);
        return value;
    }
    *value = cell{TYPE_INTEGER, 0, value->data1, 0};
    return value;
}

int32_t native::form(cell* value, cell* buffer, cell*, int32_t part)
{
    const type_entry& t = datatype_s.types[cell_type(value)];
    std::string text = "?" + std::string(t.name, t.length) + "?";
    return string::emit_literal(buffer, text.c_str(), part);
}

int32_t native::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part,
                     int32_t indent)
{
    cell spec{TYPE_BLOCK, 0, value->data2, 0};
    std::string open = "make " + std::string(datatype_s.types[cell_type(value)].name) + " [";
    part = string::emit_literal(buffer, open.c_str(), part);
    part = block::mold(&spec, buffer, only, all, flat, arg, part, indent);
    return string::emit_literal(buffer, "]", part);
}

int32_t native::compare_by(const cell* value1, const cell* value2, int32_t op, uint32_t cell::*word)
{
    if (cell_type(value2) != cell_type(value1) || !compare_equality_or_sort(op)) return -2;
    int32_t a = int32_t(value1->*word), b = int32_t(value2->*word);
    return a < b ? -1 : a > b ? 1 : 0;
}

int32_t native::compare(cell* value1, cell* value2, int32_t op) { return compare_by(value1, value2, op, &cell::data1); }

void native::mark(const cell* c)
{
    if (c->data2) collector::mark_block(c->data2);
    if (c->data3) collector::mark_block(c->data3);
    uint32_t kind = callable_type(c);
    if ((kind == TYPE_FUNCTION || kind == TYPE_ROUTINE) && c->data1) collector::mark_context(c->data1);
}

void native::init()
{
    datatype::register_type(TYPE_NATIVE, 0, "native!", {
        .make = make, .reflect = reflect, .form = form, .mold = mold, .compare = compare, .mark = mark});
}
