// object!'s change events: the event record that locates the on-change* and on-deep-change*
// handlers, calling them, and set-many. A handler runs code: every cell it gets is a stack copy,
// and field values are fetched again by position after it returns.
#include "runtime/datatypes/object.h"

#include <initializer_list>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/ownership.h"

namespace {

enum which_handler : uint32_t { ON_CHANGE = 0, ON_DEEP_CHANGE = 1 };

cell* event_cell(node_ref events, uint32_t which) { return series_head_cell(series_of(events)) + which; }
uint32_t canonical_of(rt_word w) { return symbol::resolve(rt_word_cell(w)->data2); }

cell event_pair(node_ref spec, int32_t slot, uint32_t count)
{
    uint32_t position = slot < 0 ? NO_HANDLER : uint32_t(slot) & NO_HANDLER;
    return cell{TYPE_PAIR, 0, position << 16 | (count & 0xFFFF), spec};
}

uint32_t count_locals(node_ref spec)
{
    int32_t n = function::count_locals(spec, 0, false);
    return n > 0 ? uint32_t(n) : 0;
}

// The handler of the event, a stack copy, with the event record's count of locals brought up to
// date when its spec changed since it was counted; null when the object has no such handler.
cell* handler_of(stack::scope& keep, const cell* object, uint32_t which)
{
    int32_t position = object::handler_position(object, which);
    if (position < 0) return nullptr;
    cell* handler = keep.push(*context::get_value_at(object->data1, uint32_t(position)));
    cell* pair = event_cell(object->data3, which);
    if (cell_type(handler) == TYPE_FUNCTION && pair->data3 != handler->data2) {
        uint32_t n = count_locals(handler->data2);
        pair = event_cell(object->data3, which);
        *pair = event_pair(handler->data2, position, n);
    }
    return handler;
}

// The words of the owner events, in owner_event order.
constexpr rt_word event_words[] = {
    W_APPEND, W_APPENDED, W_INSERT, W_INSERTED, W_CHANGE, W_CHANGED, W_CLEAR, W_CLEARED, W_POKE, W_POKED,
    W_PUT, W_PUT_ED, W_REMOVE, W_REMOVED, W_REVERSE, W_REVERSED, W_SORT, W_SORTED, W_SWAP, W_SWAPED,
    W_TAKE, W_TAKEN, W_TRIM, W_TRIMMED, W_MOVE, W_MOVED, W_RANDOM, W_RANDOMIZED, W_UPPERCASE, W_LOWERCASE,
    W_SET_PATH,
};
static_assert(sizeof event_words / sizeof event_words[0] == EV_COUNT, "one word per owner event");

// A handler's exit (a throw, a break out of an outer loop) unwinds from here through the change
// that fired it: nothing after the call runs.
void call(const cell* handler, rt_word name, const cell* args, uint32_t count)
{
    if (function::call_hook) function::call_hook(handler, rt_word_cell(name), args, count, false);
}

}  // namespace

node_ref object::make_event_info(node_ref on_change_spec, node_ref on_deep_spec, int32_t on_change_slot,
                                 uint32_t on_change_count, int32_t on_deep_slot, uint32_t on_deep_count)
{
    node_ref events = cells_alloc(2);
    series_buffer* s = series_of(events);
    series_head_cell(s)[ON_CHANGE] = event_pair(on_change_spec, on_change_slot, on_change_count);
    series_head_cell(s)[ON_DEEP_CHANGE] = event_pair(on_deep_spec, on_deep_slot, on_deep_count);
    s->tail = s->head + 32;
    return events;
}

node_ref object::make_event_info_from_ctx(node_ref ctx)
{
    int32_t slots[2] = {-1, -1};
    node_ref specs[2] = {0, 0};
    uint32_t counts[2] = {0, 0};
    const uint32_t names[2] = {canonical_of(W_ON_CHANGE_STAR), canonical_of(W_ON_DEEP_CHANGE_STAR)};
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        uint32_t symbol = symbol::resolve(context::get_word(ctx, i)->data2);
        for (uint32_t which : {ON_CHANGE, ON_DEEP_CHANGE}) {
            if (symbol != names[which]) continue;
            cell v = *context::get_value_at(ctx, i);
            if (cell_type(&v) != TYPE_FUNCTION && cell_type(&v) != TYPE_ROUTINE) {
                cell w = context::word_at(ctx, i);
                cell type{TYPE_DATATYPE, cell_type(&v), 0, 0};
                fire(ERR_SCRIPT, err::BAD_FIELD_SET, &w, &type);
            }
            slots[which] = int32_t(i);
            specs[which] = v.data2;
            counts[which] = count_locals(v.data2);
        }
    }
    if (slots[ON_CHANGE] < 0 && slots[ON_DEEP_CHANGE] < 0) return 0;
    return make_event_info(specs[ON_CHANGE], specs[ON_DEEP_CHANGE], slots[ON_CHANGE], counts[ON_CHANGE],
                           slots[ON_DEEP_CHANGE], counts[ON_DEEP_CHANGE]);
}

void object::init_events_from(cell* object, node_ref ctx)
{
    node_ref events = make_event_info_from_ctx(ctx);
    object->data3 = events;
    *context::owner_of(ctx) = *object;
    if (has_on_deep_change_q(object)) ownership_set_tracked(object, object, &none_value);
}

node_ref object::init_events(node_ref ctx, int32_t on_change_slot, uint32_t on_change_locals, int32_t on_deep_slot,
                             uint32_t on_deep_locals)
{
    node_ref events = make_event_info(0, 0, on_change_slot, on_change_locals, on_deep_slot, on_deep_locals);
    cell* object = stack::top() - 1;
    object->data3 = events;
    *context::owner_of(ctx) = *object;
    if (on_deep_slot != -1) ownership_set_tracked(object, object, &none_value);
    return events;
}

int32_t object::handler_position(const cell* object, uint32_t which)
{
    if (!object->data3) return -1;
    uint32_t position = event_cell(object->data3, which)->data2 >> 16;
    return position == NO_HANDLER ? -1 : int32_t(position);
}

bool object::has_on_deep_change_q(const cell* object) { return handler_position(object, ON_DEEP_CHANGE) >= 0; }

void object::clear_changed(node_ref ctx)
{
    context::clear_set_flags(ctx);
}

void object::fire_on_set(cell* object, cell* word, cell* old_value, cell* new_value)
{
    stack::scope keep;
    cell* obj = keep.push(*context::owner_of(object->data1));   // the object with its current events
    cell* held_word = keep.push(*word);
    // The series of a field of a tracking owner follow the field: the old value's leave it.
    if (has_on_deep_change_q(obj)) {
        ownership_unbind(old_value);
        ownership_set(new_value, obj, held_word);
    }
    cell* handler = handler_of(keep, obj, ON_CHANGE);
    if (!handler) return;
    if (cell_type(handler) != TYPE_FUNCTION) fire(ERR_SCRIPT, err::INVALID_OBJ_EVT, handler);
    if (held_word->data1 != obj->data1) context::bind_word(obj->data1, held_word);
    cell* args = keep.push(*held_word);
    keep.push(*old_value);
    keep.push(*new_value);
    call(handler, W_ON_CHANGE_STAR, args, 3);
}

void object::report_field_set(cell* grandparent, cell* previous, cell* old_value, cell* new_value, cell* value,
                              int32_t index)
{
    if (cell_type(grandparent) == TYPE_OBJECT) fire_on_set(grandparent, previous, old_value, new_value);
    else ownership_check(grandparent, EV_SET_PATH, value, index, 1);
}

void object::fire_on_set_star(cell* object, cell* word)
{
    cell* top = stack::top();
    fire_on_set(object, word, top - 1, top - 2);
}

void object::fire_word_on_set(cell* object_word, cell* field_word)
{
    stack::scope keep;
    cell* obj = keep.push(*word::get(object_word));
    cell* top = keep.mark;   // the old and new values lie below what this scope pushed
    fire_on_set(obj, field_word, top - 1, top - 2);
}

void object::fire_on_deep(cell* owner, cell* word, cell* target, cell* action, cell* value, int32_t index,
                          int32_t part)
{
    if (!owner->data3) fire(ERR_SCRIPT, err::INVALID_OBJ_EVT, owner);
    stack::scope keep;
    cell* obj = keep.push(*owner);
    cell* handler = handler_of(keep, obj, ON_DEEP_CHANGE);
    if (!handler || cell_type(handler) != TYPE_FUNCTION) return;
    cell* args = keep.push(*obj);
    keep.push(*word);
    keep.push(*target);
    keep.push(*action);
    keep.push(value ? *value : none_value);
    keep.push(cell{TYPE_INTEGER, 0, uint32_t(index), 0});
    keep.push(cell{TYPE_INTEGER, 0, uint32_t(part), 0});
    call(handler, W_ON_DEEP_CHANGE_STAR, args, 7);
}

void object::fire_owner_event(cell* owner, cell* word, cell* target, owner_event action, cell* value,
                              int32_t index, int32_t part)
{
    stack::scope keep;
    cell* action_word = keep.push(*rt_word_cell(event_words[action]));
    fire_on_deep(owner, word, target, action_word, value, index, part);
}

// ---- set-many -----------------------------------------------------------------------------------

namespace {

// Where field i of the target takes its value from: a block by position from its head (missing
// positions give none), an object by field name (a missing field is left alone: null).
struct set_source {
    cell value;
    bool from_block;

    bool get(node_ref target, uint32_t i, cell* out) const
    {
        if (from_block) {
            uint32_t length = block::rs_length(&value);
            *out = i < length ? block::rs_head(&value)[i] : none_value;
            return true;
        }
        int32_t j = context::find_word(value.data1, context::get_word(target, i)->data2, true);
        if (j < 0) return false;
        *out = *context::get_value_at(value.data1, uint32_t(j));
        return true;
    }
};

// Stores v into field i, firing on-change* unless the field holds a handler.
void store(cell* object, uint32_t i, const cell& v)
{
    node_ref ctx = object->data1;
    if (!context::set_flag_q(ctx, i)) context::flag_set(ctx, i);   // may allocate
    int32_t exempt[2] = {object::handler_position(object, 0), object::handler_position(object, 1)};
    if (!object->data3 || int32_t(i) == exempt[0] || int32_t(i) == exempt[1]) {
        *context::get_value_at(ctx, i) = v;
        return;
    }
    stack::scope keep;
    cell* old = keep.push(*context::get_value_at(ctx, i));
    cell* held = keep.push(v);
    *context::get_value_at(ctx, i) = v;
    cell* word = keep.push(context::word_at(ctx, i));
    object::fire_on_set(object, word, old, held);
}

}  // namespace

void object::set_many(cell* object, cell* value, bool any, bool only, bool some)
{
    stack::scope keep;
    cell* obj = keep.push(*context::owner_of(object->data1));
    cell* source_cell = keep.push(*value);
    node_ref ctx = obj->data1;
    uint32_t t = cell_type(source_cell);
    if (only || (t != TYPE_BLOCK && t != TYPE_OBJECT)) {
        for (uint32_t i = 0; i < context::word_count(ctx); i++) store(obj, i, *source_cell);
        return;
    }
    set_source source{*source_cell, t == TYPE_BLOCK};
    cell v;
    // Mended: the check pairs each field with the very value the store below gives it (by name for
    // an object), so nothing is stored when one of them is unset.
    if (!some && !any)
        for (uint32_t i = 0; i < context::word_count(ctx); i++)
            if (source.get(ctx, i, &v) && cell_type(&v) == TYPE_UNSET) {
                cell w = context::word_at(ctx, i);
                fire(ERR_SCRIPT, err::NEED_VALUE, &w);
            }
    for (uint32_t i = 0; i < context::word_count(ctx); i++) {
        if (!source.get(ctx, i, &v)) continue;
        if (some && cell_type(&v) == TYPE_NONE) continue;
        store(obj, i, v);
    }
}
