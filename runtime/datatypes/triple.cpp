// triple!: constructors and the one text it has, which reads back as the make that builds it.
#include "runtime/datatypes/triple.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

cell* triple::make_at(cell* slot, int32_t first, int32_t second, int32_t third)
{
    *slot = cell{TYPE_TRIPLE, uint32_t(first), uint32_t(second), uint32_t(third)};
    return slot;
}

cell* triple::push(int32_t first, int32_t second, int32_t third)
{
    return make_at(stack::push_slot(), first, second, third);
}

int32_t triple::form(cell* value, cell* buffer, cell*, int32_t part)
{
    const uint32_t words[3] = {value->data1, value->data2, value->data3};
    part = string::emit_literal(buffer, "make triple! [", part);
    for (uint32_t k = 0; k < 3; k++) {
        if (k) part = string::emit_literal(buffer, " ", part);
        part = string::emit_literal(buffer, integer::form_signed(int32_t(words[k])), part);
    }
    return string::emit_literal(buffer, "]", part);
}

int32_t triple::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    return form(value, buffer, arg, part);
}

void triple::init() { datatype::register_type(TYPE_TRIPLE, 0, "triple!", {.form = form, .mold = mold}); }
