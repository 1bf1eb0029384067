// tag!: form and mold (one text, "<" and ">" around the characters); every other filled slot is
// string!'s.
#include "runtime/datatypes/tag.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"

int32_t tag::form(cell* value, cell* buffer, cell* arg, int32_t part)
{
    part = string::emit_literal(buffer, "<", part);
    part = string::form(value, buffer, arg, part);
    return string::emit_literal(buffer, ">", part);
}

int32_t tag::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    return form(value, buffer, arg, part);
}

void tag::init()
{
    datatype::register_type(TYPE_TAG, TYPE_STRING, "tag!", {
        .make = inherit, .reflect = inherit, .to = inherit, .form = form, .mold = mold, .eval_path = inherit,
        .compare = inherit, .append = inherit, .at = inherit, .back = inherit, .change = inherit,
        .clear = inherit, .copy = inherit, .find = inherit, .head = inherit, .head_q = inherit,
        .index_q = inherit, .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
        .pick = inherit, .poke = inherit, .remove = inherit, .reverse = inherit, .select = inherit,
        .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit, .take = inherit,
        .modify = inherit, .mark = inherit});
}
