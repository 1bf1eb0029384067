// ref!: mold ("@" before the characters); form and every other filled slot are string!'s. A ref
// has no append and no paths.
#include "runtime/datatypes/ref.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"

int32_t ref::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    part = string::emit_literal(buffer, "@", part);
    return string::form(value, buffer, arg, part);
}

void ref::init()
{
    datatype::register_type(TYPE_REF, TYPE_STRING, "ref!", {
        .make = inherit, .reflect = inherit, .to = inherit, .form = inherit, .mold = mold, .compare = inherit,
        .at = inherit, .back = inherit, .change = inherit, .clear = inherit, .copy = inherit, .find = inherit,
        .head = inherit, .head_q = inherit, .index_q = inherit, .insert = inherit, .length_q = inherit,
        .move = inherit, .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit,
        .reverse = inherit, .select = inherit, .skip = inherit, .swap = inherit, .tail = inherit,
        .tail_q = inherit, .take = inherit, .modify = inherit, .mark = inherit});
}
