// error!: the catalogue and its start-up check, making errors, and their text. An error is made
// whole before it is returned (every check raises first), and forming one never fails: a kind the
// catalogue does not know turns the error into internal/invalid-error naming the offending word.
#include "runtime/datatypes/error.h"

#include <cstdio>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

error_state error_s;
void (*error::near_hook)(cell* out);
void (*error::trace_in_hook)(cell* block, int32_t frame, int32_t level);
int32_t (*error::form_trace_hook)(cell* buffer, int32_t frame, int32_t level, int32_t part);

namespace {

constexpr const char* field_names[ERROR_FIELDS] = {"code", "type", "id", "arg1", "arg2", "arg3",
                                                   "near", "where", "stack", "files"};
constexpr uint32_t FIRST_ID = 2;   // a category object's fields: code, type, then its ids
// The budgets of the parts of an error's text that hold values of any size.
constexpr int32_t ARG_BUDGET = 80, NEAR_BUDGET = 40, FILES_BUDGET = 40;

node_ref catalog_ctx() { return error_s.catalog.data1; }
uint32_t category_count() { return cell_type(&error_s.catalog) == TYPE_OBJECT ? context::word_count(catalog_ctx()) : 0; }
node_ref category_ctx(uint32_t n)
{
    const cell* v = context::get_value_at(catalog_ctx(), n);
    return cell_type(v) == TYPE_OBJECT ? v->data1 : 0;
}
cell entry_word(node_ref ctx, uint32_t i) { return context::word_at(ctx, i); }
cell* field_of(const cell* error, error_field f) { return context::get_value_at(error->data1, f); }
void set_field(const cell* error, error_field f, const cell& v) { *field_of(error, f) = v; }
cell integer(int32_t n) { return cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }
bool any_word_q(const cell* v) { return word::any_word_q(cell_type(v)); }

// The catalogue position of a category word, or -1.
int32_t category_of(const cell* w)
{
    if (!any_word_q(w) || !category_count()) return -1;
    return context::find_word(catalog_ctx(), w->data2, true);
}

// The field position of an id word in its category object (ids start at 2), or -1.
int32_t id_position_of(uint32_t category, const cell* w)
{
    node_ref ctx = category_ctx(category);
    if (!ctx || cell_type(w) != TYPE_WORD) return -1;
    int32_t p = context::find_word(ctx, w->data2, true);
    return p >= int32_t(FIRST_ID) ? p : -1;
}

// Names the error by catalogue position: its code, and the catalogue's own words as type and id.
void set_kind(const cell* error, uint32_t category, uint32_t position)
{
    set_field(error, EF_CODE, integer(int32_t(category * 100 + position - FIRST_ID)));
    set_field(error, EF_TYPE, entry_word(catalog_ctx(), category));
    set_field(error, EF_ID, entry_word(category_ctx(category), position));
}

[[noreturn]] void fire_spec_field(rt_word which) { fire(ERR_SCRIPT, err::INVALID_SPEC_FIELD, rt_word_cell(which)); }

// A copy of the prototype, retyped: class 1, no events. Pushed within the scope.
cell* new_error(stack::scope& keep)
{
    if (cell_type(&error_s.prototype) != TYPE_OBJECT) fire(ERR_INTERNAL, err::NOT_DONE);
    cell* slot = keep.push(unset_value);
    object::clone(&error_s.prototype, slot, false, nullptr, false);
    *slot = cell{TYPE_ERROR, slot->data1, ERROR_CLASS, 0};
    *context::owner_of(slot->data1) = *slot;
    return slot;
}

void set_near(const cell* error)
{
    if (!error::near_hook) return;
    stack::scope keep;
    cell* out = keep.push(none_value);
    error::near_hook(out);
    set_field(error, EF_NEAR, *out);
}

void kind_from_code(const cell* error, const cell* spec)
{
    int32_t n = int32_t(spec->data2);
    if (n < 0 || uint32_t(n / 100) >= category_count()) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
    uint32_t category = uint32_t(n / 100), position = uint32_t(n % 100) + FIRST_ID;
    node_ref ctx = category_ctx(category);
    if (!ctx || position >= context::word_count(ctx)) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
    set_kind(error, category, position);
}

// [category id]. Mended: `code` and `type` are fields of a category object but name no error, so
// they are refused like any unknown id instead of giving a code below the category's first.
void kind_from_words(const cell* error, const cell* spec)
{
    cell first = block::rs_head(spec)[0];
    int32_t category = category_of(&first);
    if (category < 0) fire_spec_field(W_TYPE);
    if (block::rs_length(spec) < 2) fire_spec_field(W_ID);
    cell second = block::rs_head(spec)[1];
    if (cell_type(&second) != TYPE_WORD) fire(ERR_SCRIPT, err::INVALID_ARG, &second);
    int32_t position = id_position_of(uint32_t(category), &second);
    if (position < 0) fire_spec_field(W_ID);
    set_kind(error, uint32_t(category), uint32_t(position));
}

// [type: ... id: ... arg1: ...]: evaluated in the error, then its type and id must name a kind.
void kind_from_fields(const cell* error, cell* spec)
{
    context::bind(spec, error->data1, true);
    if (!object::evaluate_hook) fire(ERR_INTERNAL, err::NOT_DONE);
    object::evaluate_hook(spec);
    cell type = *field_of(error, EF_TYPE);
    int32_t category = cell_type(&type) == TYPE_WORD ? category_of(&type) : -1;
    if (category < 0) fire_spec_field(W_TYPE);
    cell id = *field_of(error, EF_ID);
    int32_t position = id_position_of(uint32_t(category), &id);
    if (position < 0) fire_spec_field(W_ID);
    set_kind(error, uint32_t(category), uint32_t(position));
}

// ---- text ---------------------------------------------------------------------------------------

int32_t emit(cell* buffer, const char* text, int32_t part) { return string::emit_literal(buffer, text, part); }


int32_t mold_flat(cell* v, cell* buffer, bool only, cell* arg, int32_t part)
{
    return mold_value(v, buffer, only, false, true, arg, part, 0);
}

uint32_t chars_of(const cell* buffer)
{
    series_buffer* s = series_of(buffer->data2);
    return series_used_bytes(s) / series_unit(s);
}

// Writes a value with a budget of its own: containers stop early and the text is cut to `limit`
// characters. The outer part goes down by what stays written.
template <class F>
int32_t within(cell* buffer, int32_t limit, int32_t part, F write)
{
    uint32_t before = chars_of(buffer);
    stack::scope keep;
    cell* arg = keep.push(integer(limit));   // a /part given: above the arguments base
    write(arg, limit);
    string::truncate_at(buffer->data2, before + uint32_t(limit));
    return part - int32_t(chars_of(buffer) - before);
}

// Rewrites the error as internal/invalid-error naming the offending word.
void become_invalid(const cell* error, const cell& offending)
{
    set_field(error, EF_ARG1, offending);
    set_kind(error, ERR_INTERNAL, err::INVALID_ERROR + FIRST_ID);
}

// A positive stack-trace level of the system's state object, or 0.
int32_t trace_level()
{
    if (cell_type(&error_s.state) != TYPE_OBJECT) return 0;
    int32_t i = context::find_word(error_s.state.data1, error_s.stack_trace_symbol, true);
    if (i < 0) return 0;
    const cell* v = context::get_value_at(error_s.state.data1, uint32_t(i));
    return cell_type(v) == TYPE_INTEGER && int32_t(v->data2) > 0 ? int32_t(v->data2) : 0;
}

void mark_state()
{
    collector::mark_cell(&error_s.catalog);
    collector::mark_cell(&error_s.prototype);
    collector::mark_cell(&error_s.state);
}

bool same_name(uint32_t symbol, const char* name)
{
    uint32_t length;
    const uint8_t* text = symbol::name(symbol, &length);
    return length == std::strlen(name) && std::memcmp(text, name, length) == 0;
}

std::string name_of(uint32_t symbol)
{
    uint32_t length;
    const uint8_t* text = symbol::name(symbol, &length);
    return std::string(reinterpret_cast<const char*>(text), length);
}

}  // namespace

// ---- the catalogue ------------------------------------------------------------------------------

void error::load_catalog(const cell* source)
{
    error_s.stack_trace_symbol = symbol::make("stack-trace");
    error_s.source_files_symbol = symbol::make("source-files");
    stack::scope keep;
    cell* src = keep.push(*source);
    cell* catalog = object::make_at(keep.push(unset_value), ERROR_CATEGORIES);
    for (uint32_t i = 0; i + 1 < block::rs_length(src); i++) {
        cell w = block::rs_head(src)[i], body = block::rs_head(src)[i + 1];
        if (cell_type(&w) != TYPE_SET_WORD || cell_type(&body) != TYPE_BLOCK) continue;
        cell* category = object::make_at(keep.push(unset_value), 16);
        object::construct_fields(category->data1, &body, true);
        context::put_value(catalog->data1, w.data2, category);
        i++;
    }
    cell* proto = object::make_at(keep.push(unset_value), ERROR_FIELDS);
    for (const char* name : field_names) context::put_value(proto->data1, symbol::make(name), &none_value);
    error_s.catalog = *catalog;
    error_s.prototype = *proto;
}

bool error::check_catalog(char* problem, size_t size)
{
    auto fail = [&](const std::string& text) {
        std::snprintf(problem, size, "%s", text.c_str());
        return false;
    };
    uint32_t count = category_count();
    if (count != ERROR_CATEGORIES)
        return fail("the catalogue has " + std::to_string(count) + " categories, the runtime " +
                    std::to_string(ERROR_CATEGORIES));
    for (uint32_t c = 0; c < count; c++) {
        const error_category_names& expected = error_names[c];
        uint32_t name = context::get_word(catalog_ctx(), c)->data2;
        if (!same_name(name, expected.name))
            return fail("category " + std::to_string(c) + " is " + name_of(name) + ", the runtime's " + expected.name);
        node_ref ctx = category_ctx(c);
        if (!ctx) return fail(std::string("category ") + expected.name + " is not an object");
        const cell* code = context::get_value_at(ctx, 0);
        if (context::word_count(ctx) < FIRST_ID || cell_type(code) != TYPE_INTEGER || code->data2 != c * 100)
            return fail(std::string("category ") + expected.name + " does not start with its code");
        uint32_t ids = context::word_count(ctx) - FIRST_ID;
        for (uint32_t i = 0; i < ids && i < expected.count; i++) {
            uint32_t id = context::get_word(ctx, i + FIRST_ID)->data2;
            if (!same_name(id, expected.ids[i]))
                return fail(std::string(expected.name) + "/" + name_of(id) + " stands where the runtime has " +
                            expected.name + "/" + expected.ids[i]);
        }
        if (ids != expected.count)
            return fail(std::string("category ") + expected.name + " has " + std::to_string(ids) + " ids, the runtime " +
                        std::to_string(expected.count));
    }
    return true;
}

// ---- making -------------------------------------------------------------------------------------

cell* error::create(uint32_t category, uint32_t id, const cell* arg1, const cell* arg2, const cell* arg3)
{
    stack::scope keep;
    const cell* given[3] = {arg1, arg2, arg3};
    cell* args[3] = {};
    for (uint32_t i = 0; i < 3; i++)
        if (given[i]) args[i] = keep.push(*given[i]);   // an argument may lie in a buffer that moves
    cell* e = new_error(keep);
    node_ref ctx = category < category_count() ? category_ctx(category) : 0;
    if (!ctx || id + FIRST_ID >= context::word_count(ctx)) fire(ERR_INTERNAL, err::INVALID_ERROR);
    set_kind(e, category, id + FIRST_ID);
    for (uint32_t i = 0; i < 3; i++)
        if (args[i]) set_field(e, error_field(EF_ARG1 + i), *args[i]);
    set_near(e);
    return keep.result(*e);
}

cell* error::make(cell*, cell* spec, uint32_t)
{
    stack::scope keep;
    cell* s = keep.push(*spec);
    if (cell_type(s) == TYPE_STRING) return keep.result(*create(ERR_USER, err::MESSAGE, s));
    cell* e;
    switch (cell_type(s)) {
    case TYPE_INTEGER:
        e = new_error(keep);
        kind_from_code(e, s);
        break;
    case TYPE_BLOCK: {
        e = new_error(keep);
        uint32_t first = block::rs_length(s) ? cell_type(block::rs_head(s)) : TYPE_VALUE;
        if (first == TYPE_WORD) kind_from_words(e, s);
        else if (first == TYPE_SET_WORD) kind_from_fields(e, s);
        else fire(ERR_INTERNAL, err::INVALID_ERROR);
        break;
    }
    default: {
        cell type{TYPE_DATATYPE, TYPE_ERROR, 0, 0};
        fire_error_arg(&type, s);
    }
    }
    set_near(e);
    return keep.result(*e);
}

void error::set_where(cell* error, const cell* value)
{
    if (cell_type(field_of(error, EF_WHERE)) == TYPE_NONE) set_field(error, EF_WHERE, *value);
}

uint32_t error::get_type(const cell* error) { return field_of(error, EF_TYPE)->data2; }
uint32_t error::get_id(const cell* error) { return field_of(error, EF_ID)->data2; }

void error::set_stack(cell* error)
{
    cell frame = *field_of(error, EF_STACK);
    if (cell_type(&frame) != TYPE_INTEGER) return;
    int32_t level = trace_level();
    stack::scope keep;
    cell* e = keep.push(*error);
    cell* trace = block::make_at(keep.push(unset_value), 20);
    if (error::trace_in_hook) error::trace_in_hook(trace, int32_t(frame.data2), level > 0 ? level : 1);
    set_field(e, EF_STACK, *trace);
    if (cell_type(&error_s.state) != TYPE_OBJECT) return;
    int32_t i = context::find_word(error_s.state.data1, error_s.source_files_symbol, true);
    if (i < 0) return;
    cell files = *context::get_value_at(error_s.state.data1, uint32_t(i));
    if (cell_type(&files) != TYPE_BLOCK || block::rs_length(&files) == 0) return;
    set_field(e, EF_FILES, *block::clone(&files, false, false));
}

// ---- form and mold ------------------------------------------------------------------------------

int32_t error::form_message(const cell* message, cell* buffer, const cell* error, int32_t part)
{
    stack::scope keep;
    cell* m = keep.push(*message);
    cell* e = keep.push(*error);
    bool formed = category_of(field_of(e, EF_TYPE)) == int32_t(ERR_SYNTAX);
    uint32_t n = block::rs_length(m);
    for (uint32_t i = 0; i < n && i < block::rs_length(m); i++) {
        cell* v = keep.push(block::rs_head(m)[i]);
        if (cell_type(v) == TYPE_STRING) {
            part = form_value(v, buffer, nullptr, part);
        } else if (cell_type(v) == TYPE_WORD || cell_type(v) == TYPE_GET_WORD) {
            int32_t f = context::find_word(e->data1, v->data2, true);
            if (f >= 0) {
                cell* value = keep.push(*context::get_value_at(e->data1, uint32_t(f)));
                part = within(buffer, ARG_BUDGET, part, [&](cell* arg, int32_t limit) {
                    if (formed) form_value(value, buffer, arg, limit);
                    else mold_flat(value, buffer, false, arg, limit);
                });
            }
        }
        if (i + 1 < n) part = emit(buffer, " ", part);
    }
    return part;
}

int32_t error::form(cell* error, cell* buffer, cell*, int32_t part)
{
    stack::scope keep;
    cell* e = keep.push(*error);
    part = emit(buffer, "*** ", part);
    cell type = *field_of(e, EF_TYPE);
    int32_t category = category_of(&type);
    if (category < 0) {
        become_invalid(e, type);
        category = ERR_INTERNAL;
    }
    cell id = *field_of(e, EF_ID);
    int32_t position = id_position_of(uint32_t(category), &id);
    if (position < 0) {
        become_invalid(e, id);
        category = ERR_INTERNAL;
        position = err::INVALID_ERROR + FIRST_ID;
    }
    node_ref ctx = category_ctx(uint32_t(category));
    cell* message = keep.push(*context::get_value_at(ctx, uint32_t(position)));
    if (cell_type(message) == TYPE_WORD) {   // the user category's message: the field it names
        int32_t f = context::find_word(e->data1, message->data2, true);
        *message = f >= 0 ? *context::get_value_at(e->data1, uint32_t(f)) : none_value;
    }
    cell* title = keep.push(*context::get_value_at(ctx, 1));
    part = form_value(title, buffer, nullptr, part);
    part = emit(buffer, ": ", part);
    if (cell_type(message) == TYPE_STRING) part = form_value(message, buffer, nullptr, part);
    else if (cell_type(message) == TYPE_BLOCK) part = form_message(message, buffer, e, part);
    else become_invalid(e, type);

    part = emit(buffer, "\n*** Where: ", part);
    cell* where = keep.push(*field_of(e, EF_WHERE));
    if (cell_type(where) == TYPE_WORD || cell_type(where) == TYPE_STRING) part = form_value(where, buffer, nullptr, part);
    else part = emit(buffer, "???", part);

    part = emit(buffer, "\n*** Near : ", part);
    cell* near = keep.push(*field_of(e, EF_NEAR));
    part = within(buffer, NEAR_BUDGET, part, [&](cell* arg, int32_t limit) { mold_flat(near, buffer, true, arg, limit); });

    int32_t level = trace_level();
    cell* stack = keep.push(*field_of(e, EF_STACK));
    if (level > 0 && cell_type(stack) == TYPE_INTEGER && error::form_trace_hook) {
        part = emit(buffer, "\n*** Stack: ", part);
        part = error::form_trace_hook(buffer, int32_t(stack->data2), level, part);
    } else if (level > 0 && cell_type(stack) == TYPE_BLOCK) {
        part = emit(buffer, "\n*** Stack: ", part);
        part = form_value(stack, buffer, nullptr, part);
    }

    cell* files = keep.push(*field_of(e, EF_FILES));
    if (cell_type(files) == TYPE_BLOCK) {
        part = emit(buffer, "\n*** Files: ", part);
        part = within(buffer, FILES_BUDGET, part, [&](cell* arg, int32_t limit) { mold_flat(files, buffer, true, arg, limit); });
    }
    return part;
}

int32_t error::mold(cell* error, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    if (!only) part = emit(buffer, "make error! [", part);
    part = object::serialize(error, buffer, only, all, flat, arg, part, true, indent + 1, true);
    if (!flat && indent > 0) part = mold_indent(buffer, indent, part);
    if (!only) part = emit(buffer, "]", part);
    return part;
}

cell* error::eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                       int32_t index, bool case_, bool get, bool tail, bool notify)
{
    // Mended: only setting the stack field is refused; reading it, which the message names no
    // fault of, works as for any field.
    if (value && cell_type(element) == TYPE_WORD &&
        symbol::resolve(element->data2) == symbol::resolve(rt_symbol_id(SYM_STACK)))
        fire(ERR_SCRIPT, err::INVALID_PATH_SET, path);
    return object::eval_path(parent, element, value, path, grandparent, previous, index, case_, get, tail, notify);
}

int32_t error::compare(cell* value1, cell* value2, int32_t op)
{
    // Mended: compared as the objects they are, without retyping either cell meanwhile.
    if (cell_type(value2) != TYPE_ERROR) return -2;
    return object::compare_fields(value1, value2, op);
}

void error::init()
{
    error_s.catalog = error_s.prototype = error_s.state = none_value;
    collector::register_marker(mark_state);
    datatype::register_type(TYPE_ERROR, TYPE_OBJECT, "error!", {
        .make = make, .reflect = inherit, .form = form, .mold = mold, .eval_path = eval_path, .compare = compare,
        .copy = inherit, .find = inherit, .select = inherit, .mark = inherit});
}
