// email!: mold (the characters without quotes) and the user and host paths; every other filled
// slot is string!'s. The parts are found from the value's head: a text without "@" is all user.
#include "runtime/datatypes/email.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace {

enum part_kind { PART_NONE, PART_USER, PART_HOST };

part_kind part_of(const cell* element)
{
    if (cell_type(element) != TYPE_WORD) return PART_NONE;
    uint32_t symbol = symbol::resolve(element->data2);
    if (symbol == symbol::resolve(rt_symbol_id(SYM_USER))) return PART_USER;
    if (symbol == symbol::resolve(rt_symbol_id(SYM_HOST))) return PART_HOST;
    return PART_NONE;
}

// A new string! of the units [from, from + count) counted from the address's head, pushed.
cell* copy_part(const cell* address, uint32_t from, uint32_t count)
{
    cell view = *address;
    view.data1 += from;
    cell* result = string::make_at(stack::push_slot(), count, 1);
    string::append_string(result, &view, int32_t(count), 0, true, string::CONCAT_APPEND);
    return result;
}

// The text a part is set to: a text as it is, any other value formed.
cell* text_of(const cell* value)
{
    cell* held = stack::push(value);
    if (any_string_q(cell_type(held))) return held;
    cell* text = string::make_at(stack::push_slot(), 16, 1);
    form_value(held, text, nullptr, INT32_MAX);
    return text;
}

// The address is changed in place; its owner hears of it before and after, and the parts are
// found after the first event, whose handler may have changed the text.
void set_part(cell* address, part_kind which, const cell* value)
{
    cell* mark = stack::top();
    cell* text = text_of(value);
    auto head = [address] { return string::ks_abs_length_q(address) - string::ks_length_q(address); };
    series::notify(address, EV_CHANGE, int32_t(head()), int32_t(string::ks_length_q(address)), text);
    const uint32_t from = head(), length = string::ks_length_q(address);
    const int32_t at = string::find_char(address, '@');
    if (which == PART_USER) {
        string::remove_at(address, from, at < 0 ? length : uint32_t(at));
        string::append_string(address, text, -1, 0, true, string::CONCAT_INSERT);
    } else {
        if (at < 0) string::append_char(address->data2, '@');
        else string::truncate_at(address->data2, from + uint32_t(at) + 1);
        string::append_string(address, text, -1, 0, true, string::CONCAT_APPEND);
    }
    series::notify(address, EV_CHANGED, int32_t(from), int32_t(string::ks_length_q(address)), text);
    stack_s.top = mark;
}

}  // namespace

int32_t email::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    return string::form(value, buffer, arg, part);
}

cell* email::eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                       int32_t index, bool case_, bool get, bool tail, bool notify)
{
    if (cell_type(element) == TYPE_INTEGER) {
        if (eval_path_fn by_index = actions_of(TYPE_STRING).eval_path)
            return by_index(parent, element, value, path, grandparent, previous, index, case_, get, tail, notify);
        if (!value) return series::pick_into(parent, int32_t(element->data2), stack::push_slot());
        series::poke_at(parent, int32_t(element->data2), value);
        return value;
    }
    part_kind which = part_of(element);
    if (which == PART_NONE) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    if (value) {
        set_part(parent, which, value);
        return value;
    }
    const int32_t at = string::find_char(parent, '@');
    const uint32_t length = string::ks_length_q(parent);
    if (which == PART_USER) return copy_part(parent, 0, at < 0 ? length : uint32_t(at));
    return at < 0 ? copy_part(parent, length, 0) : copy_part(parent, uint32_t(at) + 1, length - uint32_t(at) - 1);
}

void email::init()
{
    datatype::register_type(TYPE_EMAIL, TYPE_STRING, "email!", {
        .make = inherit, .reflect = inherit, .to = inherit, .form = inherit, .mold = mold,
        .eval_path = eval_path, .compare = inherit, .append = inherit, .at = inherit, .back = inherit,
        .change = inherit, .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
        .head_q = inherit, .index_q = inherit, .insert = inherit, .length_q = inherit, .move = inherit,
        .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit, .reverse = inherit,
        .select = inherit, .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit,
        .take = inherit, .modify = inherit, .mark = inherit});
}
