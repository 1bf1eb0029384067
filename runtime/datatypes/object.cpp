// object!: making, copying and extending objects, reflection, form and mold, paths, comparison.
// Field values live in the context's values block, which moves: every walk goes by context node
// and position, reads a value into a local or stack copy, and fetches it again after anything that
// allocates or runs code. The change events are in object_events.cpp.
#include "runtime/datatypes/object.h"

#include <algorithm>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/ownership.h"

object_state object_s;
void (*object::evaluate_hook)(cell* block);

namespace {

node_ref values_of(node_ref ctx) { return context::cell_of(ctx)->data2; }
cell values_block(node_ref ctx) { return cell{TYPE_BLOCK, 0, values_of(ctx), 0}; }
uint32_t size_of(node_ref ctx) { return context::word_count(ctx); }
cell value_at(node_ref ctx, uint32_t i) { return *context::get_value_at(ctx, i); }
// Entry i of the word table as a plain word! bound to the context.
cell word_at(node_ref ctx, uint32_t i) { return context::word_at(ctx, i); }
uint32_t canonical(uint32_t symbol) { return symbol::resolve(symbol); }
uint32_t canonical_of(rt_word w) { return canonical(rt_word_cell(w)->data2); }
bool symbol_is(uint32_t symbol, rt_symbol which) { return canonical(symbol) == canonical(rt_symbol_id(which)); }
bool handler_symbol_q(uint32_t symbol)
{
    uint32_t s = canonical(symbol);
    return s == canonical_of(W_ON_CHANGE_STAR) || s == canonical_of(W_ON_DEEP_CHANGE_STAR);
}
cell datatype_of(const cell* v) { return cell{TYPE_DATATYPE, cell_type(v), 0, 0}; }
bool path_kind(uint32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }
bool bindable_kind(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || path_kind(t); }
// What copy_values and extend_from_object copy deep.
bool series_kind(uint32_t t)
{
    return bindable_kind(t) || any_string_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_IMAGE;
}
// What a deep clone copies (no hash!, binary!, vector! or image!).
bool clone_kind(uint32_t t)
{
    return any_string_q(t) || path_kind(t) || t == TYPE_PAREN || t == TYPE_BLOCK;
}

int32_t emit(cell* buffer, const char* text, int32_t part) { return string::emit_literal(buffer, text, part); }


// Replaces value i by its deep copy; a copied block kind is bound to the context.
void copy_value_deep(node_ref ctx, uint32_t i, bool bind)
{
    cell values = values_block(ctx);
    block::copy_at(&values, i, true, nullptr);
    cell copied = value_at(ctx, i);
    if (bind && bindable_kind(cell_type(&copied))) context::bind(&copied, ctx, true);
}

void remake_functions(node_ref ctx)
{
    for (uint32_t i = 0; i < size_of(ctx); i++) {
        if (cell_type(context::get_value_at(ctx, i)) != TYPE_FUNCTION) continue;
        stack::scope keep;
        cell* slot = keep.push(value_at(ctx, i));
        object::remake_function(slot, ctx);
        *context::get_value_at(ctx, i) = *slot;
    }
}

// The field's position in the object, -1 when it has none.
int32_t field_position(node_ref ctx, uint32_t symbol)
{
    node_ref table = context::table_of(ctx);
    const field_entry& e = object::field_entry_of(table, symbol);
    if (e.table == table && e.symbol == symbol && e.cycles == collector_s.cycles) [[likely]] return int32_t(e.position);
    return object::learn_field(ctx, symbol);
}

// The word's position in the object, its binding rewritten to the object when it was bound
// elsewhere; -1 when the object has no such field.
int32_t bind_element(cell* element, node_ref ctx)
{
    if (element->data1 == ctx && int32_t(element->data3) >= 0 && element->data3 < size_of(ctx))
        return int32_t(element->data3);
    int32_t position = field_position(ctx, element->data2);
    if (position < 0) return -1;
    element->data1 = ctx;
    element->data3 = uint32_t(position);
    return position;
}

}  // namespace

// ---- making -------------------------------------------------------------------------------------

uint32_t object::next_class_id() { return ++object_s.class_counter; }

cell* object::push(node_ref ctx, node_ref events, uint32_t class_id)
{
    cell* c = stack::push_slot();
    *c = cell{TYPE_OBJECT, ctx, class_id, events};
    *context::owner_of(ctx) = *c;
    return c;
}

cell* object::push_from_ctx(node_ref ctx, uint32_t class_id)
{
    series_buffer* v = series_of(values_of(ctx));
    if (v->tail == v->head)
        for (uint32_t i = 0; i < size_of(ctx); i++) *series_alloc_tail(series_of(values_of(ctx))) = unset_value;
    return push(ctx, 0, class_id);
}

cell* object::make_at(cell* slot, uint32_t n)
{
    unset::make_at(slot);
    node_ref ctx = context::create(n, false, true, 0, CONTEXT_OBJECT);
    *slot = cell{TYPE_OBJECT, ctx, 0, 0};
    *context::owner_of(ctx) = *slot;
    return slot;
}

// ---- reading ------------------------------------------------------------------------------------

int32_t object::find_word(const cell* object, const cell* word)
{
    return context::find_word(object->data1, word->data2, true);
}

cell* object::select_word(const cell* object, const cell* word)
{
    int32_t i = find_word(object, word);
    return i < 0 ? &none_value : context::get_value_at(object->data1, uint32_t(i));
}

cell* object::get_word(node_ref ctx, uint32_t i) { return context::get_word(ctx, i); }
cell* object::get_first_word(const cell* object) { return context::get_word(object->data1, 0); }
cell* object::get_values(const cell* object) { return context::get_value_at(object->data1, 0); }
uint32_t object::get_size(const cell* object) { return size_of(object->data1); }

bool object::word_of_class_q(const cell* word, uint32_t class_id)
{
    const cell* v = word::get(word);
    return cell_type(v) == TYPE_OBJECT && v->data2 == class_id;
}

bool object::slot_of_class_q(node_ref ctx, uint32_t i, uint32_t class_id)
{
    const cell* v = context::get_value_at(ctx, i);
    return cell_type(v) == TYPE_OBJECT && v->data2 == class_id;
}

// ---- copying and extending ----------------------------------------------------------------------

cell* object::clone(const cell* source, cell* slot, bool deep, const cell* types, bool recompute)
{
    stack::scope keep;
    cell* src = keep.push(*source);   // the slot may be the source itself
    cell* held_types = types ? keep.push(*types) : nullptr;
    node_ref from = src->data1;
    uint32_t n = size_of(from);
    unset::make_at(slot);
    node_ref ctx = context::create(n, false, true, from, CONTEXT_OBJECT);   // shares the source's words
    *slot = cell{src->header & ~HEADER_NEW_LINE, ctx, src->data2, recompute ? 0 : src->data3};
    *context::owner_of(ctx) = *slot;
    context::copy_set_flags(from, ctx);
    if (n > 0) {
        series_buffer* to = series_of(values_of(ctx));
        std::memcpy(series_head_cell(to), context::get_value_at(from, 0), size_t(n) * 16);
        to->tail = to->head + n * 16;
        if (deep && !held_types) {
            for (uint32_t i = 0; i < n; i++)
                if (clone_kind(cell_type(context::get_value_at(ctx, i)))) copy_value_deep(ctx, i, false);
            remake_functions(ctx);
        } else {
            remake_functions(ctx);
            if (held_types) {
                if (deep && cycle_find(from)) {
                    cycle_reset();
                    fire(ERR_INTERNAL, err::NO_CYCLE);
                }
                cell values = values_block(ctx);
                if (deep) {
                    cycle_scope walking(from);
                    block::copy_typed(&values, 0, n, 1, true, held_types);
                } else {
                    block::copy_typed(&values, 0, n, 1, false, held_types);
                }
            }
        }
    }
    if (recompute) init_events_from(slot, ctx);
    return slot;
}

void object::copy_values(node_ref source, node_ref target, bool copy_scalars)
{
    uint32_t n = std::min(size_of(source), size_of(target));
    for (uint32_t i = 0; i < n; i++) {
        cell v = value_at(source, i);
        bool deep = series_kind(cell_type(&v));
        if (!deep && !copy_scalars) continue;
        *context::get_value_at(target, i) = v;
        if (deep) copy_value_deep(target, i, true);
    }
}

bool object::extend_from_object(node_ref target, node_ref source, const cell* object)
{
    uint32_t before = size_of(target);
    for (uint32_t i = 0; i < size_of(source); i++) {
        cell w = word_at(source, i);
        cell v = value_at(source, i);
        context::put_value(target, w.data2, &v);
    }
    for (uint32_t i = 0; i < size_of(target); i++)
        if (series_kind(cell_type(context::get_value_at(target, i)))) copy_value_deep(target, i, false);
    remake_functions(target);
    return size_of(target) > before;
}

void object::remake_function(cell* slot, node_ref ctx)
{
    stack::scope keep;
    cell* fn = keep.push(*slot);
    cell more{TYPE_BLOCK, 0, fn->data3, 0};
    cell* body = keep.push(*block::ks_abs_at(&more, function::MORE_BODY));
    if (cell_type(body) == TYPE_NONE) fire(ERR_SCRIPT, err::BAD_FUNC_DEF, fn);
    cell spec{TYPE_BLOCK, 0, fn->data2, 0};
    // The copy gets arguments of its own: a context cloned from the old one, kept by this word.
    cell* holder = keep.push(cell{TYPE_WORD, fn->data1, 0, uint32_t(-1)});
    node_ref args = context::clone(holder, CONTEXT_FUNCTION);
    function::push(&spec, body, args, fn->header & (function::TRACE | function::NO_TRACE));
    cell* made = stack::top() - 1;
    cell new_more{TYPE_BLOCK, 0, made->data3, 0};
    cell copy = *block::ks_abs_at(&new_more, function::MORE_BODY);
    context::bind(&copy, ctx, true);
    context::bind(&copy, args, false);
    *block::ks_abs_at(&new_more, function::MORE_ENTRY) = unset_value;   // the copy runs interpreted
    *slot = *made;
}

bool object::construct_fields(node_ref ctx, const cell* spec, bool only)
{
    cell s = *spec;
    uint32_t before = size_of(ctx);
    uint32_t length = uint32_t(block::ks_length_q(&s) > 0 ? block::ks_length_q(&s) : 0);
    for (uint32_t i = 0; i < length; i++) {
        cell w = block::rs_head(&s)[i];
        if (cell_type(&w) != TYPE_SET_WORD) continue;
        uint32_t j = i + 1;
        while (j < length && cell_type(block::rs_head(&s) + j) == TYPE_SET_WORD) j++;
        cell v = j < length ? block::rs_head(&s)[j] : none_value;
        if (!only && cell_type(&v) == TYPE_WORD) {
            uint32_t sym = v.data2;
            if (symbol_is(sym, SYM_TRUE) || symbol_is(sym, SYM_YES) || symbol_is(sym, SYM_ON)) v = true_value;
            else if (symbol_is(sym, SYM_FALSE) || symbol_is(sym, SYM_NO) || symbol_is(sym, SYM_OFF)) v = false_value;
            else if (symbol_is(sym, SYM_NONE)) v = none_value;
        }
        cell_clear_new_line(&v);
        context::put_value(ctx, w.data2, &v);
    }
    return size_of(ctx) > before;
}

cell* object::make_from_spec(const cell* spec, const cell* proto, bool only)
{
    stack::scope keep;
    cell* s = keep.push(*spec);
    cell* slot = stack::push_slot();
    if (proto && cell_type(proto) == TYPE_OBJECT) {
        clone(proto, slot, true, nullptr, false);
    } else {
        make_at(slot, 4);
        slot->data2 = next_class_id();
    }
    construct_fields(slot->data1, s, only);
    init_events_from(slot, slot->data1);
    return keep.result(*slot);
}

// ---- form and mold ------------------------------------------------------------------------------

int32_t object::serialize(const cell* object, cell* buffer, bool only, bool all, bool flat, cell* arg,
                          int32_t part, bool indented, int32_t indent, bool leading_line)
{
    node_ref ctx = object->data1;
    uint32_t n = size_of(ctx);
    if (n == 0) return part;
    if (flat || only) indented = false;
    const char* separator = flat ? " " : "\n";
    if (indented && leading_line) part = emit(buffer, "\n", part);
    // The last field written, for the separator rule outside indented mode.
    int32_t last = -1;
    for (uint32_t i = 0; i < n; i++)
        if (all || !handler_symbol_q(context::get_word(ctx, i)->data2)) last = int32_t(i);
    cycle_scope walking(ctx);
    for (uint32_t i = 0; i < n; i++) {
        if (part <= 0) break;
        stack::scope keep;
        cell* w = keep.push(word_at(ctx, i));
        if (!all && handler_symbol_q(w->data2)) continue;
        if (indented) part = mold_indent(buffer, indent, part);
        part = mold_value(w, buffer, false, false, false, arg, part, 0);
        part = emit(buffer, ": ", part);
        cell* v = keep.push(value_at(ctx, i));
        if (cell_type(v) == TYPE_VALUE) *v = unset_value;
        if (cell_type(v) == TYPE_WORD) part = emit(buffer, "'", part);
        part = mold_value(v, buffer, false, all, flat, arg, part, indent);
        if (indented || int32_t(i) != last) part = emit(buffer, separator, part);
    }
    return part;
}

cell* object::body_of(const cell* object)
{
    stack::scope keep;
    cell* obj = keep.push(*object);
    node_ref ctx = obj->data1;
    cell* out = block::push_only_star(2 * size_of(ctx));
    for (uint32_t i = 0; i < size_of(ctx); i++) {
        cell w = word_at(ctx, i);
        w.header = TYPE_SET_WORD | HEADER_NEW_LINE;
        block::rs_append(out, &w);
        cell v = value_at(ctx, i);
        if (cell_type(&v) == TYPE_WORD) cell_set_type(&v, TYPE_LIT_WORD);
        else if (cell_type(&v) == TYPE_PATH) cell_set_type(&v, TYPE_LIT_PATH);
        block::rs_append(out, &v);
    }
    return keep.result(*out);
}

int32_t object::form(cell* object, cell* buffer, cell* arg, int32_t part)
{
    if (mold_cycle_check(object, buffer, &part, false)) return part;
    return serialize(object, buffer, false, false, false, arg, part, false, 0, false);
}

int32_t object::mold(cell* object, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part,
                     int32_t indent)
{
    if (mold_cycle_check(object, buffer, &part, true)) return part;
    if (!only) part = emit(buffer, "make object! [", part);
    part = serialize(object, buffer, only, all, flat, arg, part, true, indent + 1, true);
    if (!flat && indent > 0) part = mold_indent(buffer, indent, part);
    if (!only) part = emit(buffer, "]", part);
    return part;
}

// ---- reflection, paths, comparison ---------------------------------------------------------------

cell* object::reflect(cell* object, cell* field)
{
    node_ref ctx = object->data1;
    uint32_t field_symbol = canonical(field->data2);
    auto words_where = [&](bool changed_only) {
        cell* out = block::push_only_star(size_of(ctx));
        for (uint32_t i = 0; i < size_of(ctx); i++) {
            if (changed_only && !context::set_flag_q(ctx, i)) continue;
            cell w = word_at(ctx, i);
            block::rs_append(out, &w);
        }
        return out;
    };
    if (field_symbol == canonical_of(W_CHANGED)) return words_where(true);
    if (symbol_is(field_symbol, SYM_WORDS)) return words_where(false);
    if (symbol_is(field_symbol, SYM_CLASS)) {
        *object = cell{TYPE_INTEGER, 0, object->data2, 0};
        return object;
    }
    if (symbol_is(field_symbol, SYM_VALUES)) {
        cell values = values_block(ctx);
        return block::clone(&values, false, false);
    }
    if (symbol_is(field_symbol, SYM_BODY)) return body_of(object);
    if (symbol_is(field_symbol, SYM_OWNER)) return logic::make_at(object, (series_of(ctx)->flags & SERIES_TRACKING_OWNER) != 0);
    if (symbol_is(field_symbol, SYM_EVENTS_Q)) return logic::make_at(object, object->data3 != 0);
    fire(ERR_INTERNAL, err::NOT_DONE);
}

cell* object::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool get,
                        bool tail, bool)
{
    uint32_t et = cell_type(element);
    if (et != TYPE_WORD && et != TYPE_SET_WORD && et != TYPE_GET_WORD && et != TYPE_LIT_WORD)
        fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    stack::scope keep;
    cell* obj = keep.push(*context::owner_of(parent->data1));   // with its current events
    node_ref ctx = obj->data1;
    int32_t position = bind_element(element, ctx);
    auto not_found = [&]() -> cell* {
        if (get && tail) return keep.result(unset_value);
        cell e = *element;
        fire(ERR_SCRIPT, tail ? err::INVALID_PATH : err::UNSET_PATH, path, &e);
    };
    if (position < 0) return not_found();
    if (value) {
        cell* word = keep.push(*element);
        cell* held = keep.push(*value);
        cell* old = obj->data3 ? keep.push(value_at(ctx, uint32_t(position))) : nullptr;
        context::set_in(word, held, ctx, false);
        if (old) fire_on_set(obj, word, old, held);
        return value;
    }
    cell v = value_at(ctx, uint32_t(position));
    return cell_type(&v) == TYPE_UNSET ? not_found() : keep.result(v);
}

int32_t object::learn_field(node_ref ctx, uint32_t symbol)
{
    int32_t position = context::find_word(ctx, symbol, true);
    node_ref table = context::table_of(ctx);
    if (position >= 0) field_entry_of(table, symbol) = field_entry{table, symbol, uint32_t(position), collector_s.cycles};
    return position;
}

int32_t object::compare_fields(const cell* value1, const cell* value2, int32_t op)
{
    node_ref c1 = value1->data1, c2 = value2->data1;
    if (c1 == c2) return 0;
    if (op == COMP_SAME) return -1;
    if (cycle_find(c1)) return cycle_find(c2) ? 0 : -1;
    uint32_t n1 = size_of(c1), n2 = size_of(c2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    if (n1 == 0) return 0;
    cycle_scope walking1(c1);
    cycle_scope walking2(c2);
    for (uint32_t i = 0; i < n1 && i < size_of(c1) && i < size_of(c2); i++) {
        uint32_t s1 = canonical(context::get_word(c1, i)->data2), s2 = canonical(context::get_word(c2, i)->data2);
        if (s1 != s2) return s1 < s2 ? -1 : 1;
        stack::scope keep;
        cell* a = keep.push(value_at(c1, i));
        cell* b = keep.push(value_at(c2, i));
        uint32_t t1 = cell_type(a), t2 = cell_type(b);
        if (!datatype::compared_by_value(t1, t2)) return t1 < t2 ? -1 : 1;
        auto cmp = actions_of(t1).compare;
        int32_t r = cmp ? cmp(a, b, op) : -2;
        if (r != 0) return r;
    }
    return 0;
}

int32_t object::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_OBJECT) return -2;
    return compare_fields(value1, value2, op);
}

// ---- copy, select, put, modify ------------------------------------------------------------------

cell* object::copy(cell* object, cell* slot, cell* part, bool deep, cell* types)
{
    if (arg_given(part)) fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
    return clone(object, slot, deep, arg_given(types) ? types : nullptr, true);
}

cell* object::select(cell* object, cell* value, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool, bool, bool)
{
    uint32_t t = cell_type(value);
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) {
        cell type = datatype_of(value);
        fire(ERR_SCRIPT, err::INVALID_TYPE, &type);
    }
    *object = *select_word(object, value);
    return object;
}

cell* object::put(cell* object, cell* key, cell* value, bool case_)
{
    if (cell_type(key) != TYPE_WORD) {
        cell type = datatype_of(key);
        fire(ERR_SCRIPT, err::INVALID_KEY_TYPE, &type);
    }
    cell* mark = stack::top();
    eval_path(object, key, value, &none_value, nullptr, nullptr, -1, case_, false, true, false);
    stack_s.top = mark;
    return value;
}

cell* object::modify(cell* object, cell* field, cell* value, bool)
{
    uint32_t s = field->data2;
    if (canonical(s) == canonical_of(W_CHANGED)) {
        if (cell_type(value) != TYPE_NONE) fire(ERR_SCRIPT, err::INVALID_ARG, value);
        clear_changed(object->data1);
    } else if (symbol_is(s, SYM_OWNER)) {
        ownership_set_tracked(object, object, &none_value);
    } else if (symbol_is(s, SYM_OWNED)) {
        if (cell_type(value) == TYPE_NONE) {
            ownership_unbind(object);
        } else if (cell_type(value) == TYPE_BLOCK && block::rs_length(value) >= 2) {
            cell owner = block::rs_head(value)[0], word = block::rs_head(value)[1];
            if (cell_type(&owner) != TYPE_OBJECT) fire(ERR_SCRIPT, err::INVALID_ARG, value);
            ownership_set_tracked(object, &owner, &word);
        } else {
            fire(ERR_SCRIPT, err::INVALID_ARG, value);
        }
    }
    return value;
}

// ---- make ---------------------------------------------------------------------------------------

cell* object::make(cell* proto, cell* spec, uint32_t)
{
    stack::scope keep;
    cell* p = keep.push(*proto);
    cell* s = keep.push(*spec);
    bool from_object = cell_type(p) == TYPE_OBJECT;
    cell* slot = keep.push(unset_value);
    if (from_object) clone(p, slot, true, nullptr, false);
    else make_at(slot, 4);
    node_ref ctx = slot->data1;
    bool grew = false;
    switch (cell_type(s)) {
    case TYPE_OBJECT:
        grew = extend_from_object(ctx, s->data1, slot);
        break;
    case TYPE_BLOCK:
        grew = context::collect_set_words(ctx, s);
        context::bind(s, ctx, true);
        if (from_object) copy_values(p->data1, ctx, false);
        if (block::rs_length(s) > 0) {
            if (!object::evaluate_hook) fire(ERR_INTERNAL, err::NOT_DONE);
            object::evaluate_hook(s);
        }
        clear_changed(ctx);
        block::clear_new_lines(values_of(ctx));
        break;
    default:
        fire(ERR_SYNTAX, err::MALCONSTRUCT, spec);
    }
    // Mended: a prototype that is no object has no class to lend (its word 2 is not a class id).
    slot->data2 = (grew || !from_object) ? next_class_id() : p->data2;
    init_events_from(slot, ctx);
    return keep.result(*slot);
}

// ---- registration -------------------------------------------------------------------------------

void object::mark(const cell* c)
{
    if (c->data1) collector::mark_context(c->data1);
    if (!c->data3 || !collector::keep(c->data3)) return;
    // The spec nodes the handlers were counted on: a node reused by another spec would pass for
    // the counted one and skip a recount. Mended: a spec is marked with its cells; kept alone, it
    // counted as marked when the handler's own marker came to it later, and the type blocks inside
    // it were freed.
    series_buffer* s = series_of(c->data3);
    if (series_used_bytes(s) < 32) return;
    cell* events = series_head_cell(s);
    for (uint32_t i = 0; i < 2; i++)
        if (events[i].data3) collector::mark_block(events[i].data3);
}

void object::init()
{
    object_s.class_counter = FIRST_RUNTIME_CLASS;
    context::fire_on_set_hook = fire_on_set;
    ownership_fire_on_deep_hook = fire_owner_event;
    datatype::register_type(TYPE_OBJECT, 0, "object!", {
        .make = make, .reflect = reflect, .form = form, .mold = mold, .eval_path = eval_path,
        .compare = compare, .copy = copy, .put = put, .select = select, .modify = modify, .mark = mark});
}

// The value of a named field of an object (none when it has no such field), copied.
cell object::field_of(const cell* object, const char* name)
{
    uint32_t symbol = symbol::make(name);
    int32_t i = context::find_word(object->data1, symbol, true);
    return i < 0 ? none_value : *context::get_value_at(object->data1, uint32_t(i));
}

// A path below the global word system (system/standard/port, system/schemes).
cell object::system_field(std::initializer_list<const char*> path)
{
    cell v = *word::get(word::load("system"));
    for (const char* name : path) {
        if (cell_type(&v) != TYPE_OBJECT) return none_value;
        v = field_of(&v, name);
    }
    return v;
}
