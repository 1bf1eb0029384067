// Words: making global words, reading and writing their values, and the action routines of the six
// word datatypes. Conversions keep the binding and rewrite the whole header (no new-line bit).
// Rule: a word cell taken from a context's table is copied before anything allocates.
#include "runtime/datatypes/word.h"

#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

uint32_t (*word::name_scan_hook)(const uint8_t* text, uint32_t length) = word::check_name;
cell* (*word::string_load_hook)(const cell* str);

cell* word::load_as(const cell* text, uint32_t type)
{
    cell named = datatype::value_of(type);
    if (!string_load_hook) fire(ERR_INTERNAL, err::NOT_DONE, &named);
    const cell source = *text;   // the caller's cell may lie in a buffer the loading moves
    cell* mark = stack::top();
    cell* loaded = nullptr;
    try {
        loaded = string_load_hook(&source);
    } catch (const script_error_unwind&) {
        // Text that is no value at all is as unconvertible as text of another type.
        if (raised_error_get().category != ERR_SYNTAX) throw;
    }
    if (!loaded || cell_type(loaded) != type) {
        stack_s.top = mark;
        fire(ERR_SCRIPT, err::BAD_TO_ARG, &named, &source);
    }
    return loaded;
}

namespace {

// While booting, words handed out are kept in the root block, where they never move.
cell* booting_copy(cell* word)
{
    if (!system_s.booting) return word;
    cell copy = *word;
    return block::rs_append(&root_block, &copy);
}

cell* retyped(cell* c, uint32_t type)
{
    cell_set_type(c, type);
    return c;
}

// The symbol's own name, as written, formed as a string: its name string from index 0. The name
// string is the symbol's and is shared, so it is never widened; the buffer widens when needed.
int32_t form_name(cell* value, cell* buffer, cell* arg, int32_t part)
{
    cell name{TYPE_STRING, 0, symbol::get_string(value->data2), 0};
    return string::form(&name, buffer, arg, part);
}

int32_t mold_with(cell* value, cell* buffer, int32_t part, const char* prefix, const char* suffix)
{
    if (*prefix) string::concatenate_literal(buffer, prefix);
    part = form_name(value, buffer, nullptr, part);
    if (*suffix) string::concatenate_literal(buffer, suffix);
    return part - int32_t(*prefix != 0) - int32_t(*suffix != 0);
}

uint32_t global_symbol_position(uint32_t symbol) { return context::add_word(context_s.global, symbol); }

bool blank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text as one value of a word kind: the lexer's load once it is there, until then the name
// check on the trimmed text (a text of several values is refused rather than cut to its first).
cell* word_of_text(cell* spec, uint32_t type, const cell* text)
{
    if (word::string_load_hook) {
        cell* loaded = word::string_load_hook(text);
        if (!word::any_word_q(cell_type(loaded))) fire(ERR_SCRIPT, err::INVALID_CHARS);
        *spec = *loaded;
        stack::pop(1);
        spec->header = type;
        return spec;
    }
    std::string name = string::utf8_copy(text);
    size_t first = 0, end = name.size();
    while (first < end && blank(uint8_t(name[first]))) first++;
    while (end > first && blank(uint8_t(name[end - 1]))) end--;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(name.data()) + first;
    uint32_t n = uint32_t(end - first);
    uint32_t kind = word::name_scan_hook(p, n);
    if (!word::any_word_q(kind)) fire(ERR_SCRIPT, err::INVALID_CHARS);
    // The kind's mark goes: a: keeps a, and :a 'a /a #a keep a (/ and // are words themselves).
    if (kind == TYPE_SET_WORD) n--;
    else if (kind != TYPE_WORD) p++, n--;
    uint32_t symbol = symbol::search_part(p, n);
    if (kind == TYPE_ISSUE) *spec = cell{type, context_s.global, symbol, uint32_t(-1)};
    else word::make_at(symbol, spec);
    spec->header = type;
    return spec;
}

}  // namespace

// ---- global words -------------------------------------------------------------------------------

void word::words_init()
{
    datatype::typename_word_hook = load;
    typenames_to_symbols();
}

cell* word::load(const char* name)
{
    uint32_t symbol = symbol::make(name);
    return booting_copy(context::add_global_word(symbol, true, true));
}

cell* word::from_symbol(uint32_t symbol) { return booting_copy(context::add_global_word(symbol, false, true)); }

cell* word::make_at(uint32_t symbol, cell* slot)
{
    uint32_t position = global_symbol_position(symbol);
    slot->header = (slot->header & ~HEADER_TYPE_MASK) | TYPE_WORD;
    slot->data1 = context_s.global;
    slot->data2 = symbol;
    slot->data3 = position;
    return slot;
}

cell* word::make_in(uint32_t symbol, cell* block)
{
    cell w{TYPE_WORD, 0, 0, 0};
    make_at(symbol, &w);
    return block::rs_append(block ? block : &root_block, &w);
}

cell* word::load_with(const char* name, cell* block) { return make_in(symbol::make(name), block); }

cell* word::push_global(uint32_t symbol)
{
    cell w{TYPE_WORD, 0, 0, 0};
    make_at(symbol, &w);
    return stack::push(&w);
}

// ---- reading and writing ------------------------------------------------------------------------

cell* word::push(const cell* w) { return stack::push(w); }

cell* word::push_from(node_ref ctx, uint32_t i)
{
    cell w = context::word_at(ctx, i);
    return stack::push(&w);
}

cell* word::get_symbol(const cell* w) { return symbol::get(word_symbol(w)); }

cell* word::get(const cell* w) { return context::get_in(w, word_context(w)); }

cell* word::set(cell* w, const cell* value) { return context::set_in(w, value, word_context(w), true); }

cell* word::push_get(const cell* w)
{
    cell* value = get(w);
    if (cell_type(value) == TYPE_UNSET) fire(ERR_SCRIPT, err::NO_VALUE, w);
    return stack::push(value);
}

void word_set(cell* w)
{
    word_set_from_stack(w);
    stack::reset();
}

void word_set_from_stack(cell* w)
{
    cell value = stack::top_value();   // a copy: storing may allocate
    if (cell_type(&value) == TYPE_UNSET) fire(ERR_SCRIPT, err::NEED_VALUE, w);
    word::set(w, &value);
}

cell* word_get_checked(const cell* w)
{
    cell* value = word::get(w);
    if (cell_type(value) == TYPE_UNSET) fire(ERR_SCRIPT, err::NO_VALUE, w);
    return value;
}

cell* word::set_star()
{
    cell* args = stack::arguments();
    if (cell_type(args + 1) == TYPE_UNSET) fire(ERR_SCRIPT, err::NEED_VALUE, args);
    set(args, args + 1);
    return stack::set_last(args + 1);
}

cell* word::as_string(const cell* w)
{
    cell str{TYPE_STRING, 0, symbol::get_string(word_symbol(w)), 0};
    return stack::push(&str);
}

uint32_t word::scan_type(const cell* w)
{
    uint32_t length;
    const uint8_t* name = symbol::name(word_symbol(w), &length);
    return name_scan_hook(name, length);
}

// ---- the name check -----------------------------------------------------------------------------

namespace {

bool digit(uint8_t c) { return c >= '0' && c <= '9'; }

// Characters that end a word or make the text another datatype's (strings, blocks, paths, files,
// emails, money, issues, urls, tags, comments), and control characters.
bool delimiter(uint8_t c)
{
    if (c < 0x20 || c == 0x7F) return true;
    switch (c) {
    case ' ': case '[': case ']': case '(': case ')': case '{': case '}': case '"': case ';': case '/': case '\\':
    case '@': case '#': case '$': case '%': case ',': case '\'': case ':': case '<': case '>':
        return true;
    default:
        return false;
    }
}

// A bare name: not empty, no delimiter, not the start of a number. Comparison operators (<, <=,
// <>, >>...) are words of their own.
bool word_body(const uint8_t* p, uint32_t n)
{
    if (n == 0) return false;
    bool operator_only = true;
    for (uint32_t i = 0; i < n; i++) operator_only = operator_only && (p[i] == '<' || p[i] == '>' || p[i] == '=');
    if (operator_only) return true;
    if (digit(p[0])) return false;
    if ((p[0] == '+' || p[0] == '-' || p[0] == '.') && n > 1 && digit(p[1])) return false;
    for (uint32_t i = 0; i < n; i++)
        if (delimiter(p[i])) return false;
    return true;
}

bool starts_like_number(const uint8_t* p, uint32_t n)
{
    if (n == 0) return false;
    return digit(p[0]) || ((p[0] == '+' || p[0] == '-' || p[0] == '.') && n > 1 && digit(p[1]));
}

}  // namespace

uint32_t word::check_name(const uint8_t* p, uint32_t n)
{
    if (n == 0) return 0;
    if (word_body(p, n)) return TYPE_WORD;
    if (n == 2 && p[0] == '/' && p[1] == '/') return TYPE_WORD;
    if (n == 1 && p[0] == '/') return TYPE_WORD;
    if (n > 1 && p[n - 1] == ':' && word_body(p, n - 1)) return TYPE_SET_WORD;
    if (n > 1 && p[0] == ':' && word_body(p + 1, n - 1)) return TYPE_GET_WORD;
    if (n > 1 && p[0] == '\'' && word_body(p + 1, n - 1)) return TYPE_LIT_WORD;
    if (n > 1 && p[0] == '/' && word_body(p + 1, n - 1)) return TYPE_REFINEMENT;
    if (n > 1 && p[0] == '#') {
        // An issue may start with a digit (#1a); the rest is as a word's.
        for (uint32_t i = 1; i < n; i++)
            if (delimiter(p[i])) return 0;
        return TYPE_ISSUE;
    }
    return starts_like_number(p, n) ? uint32_t(TYPE_INTEGER) : 0u;
}

// ---- actions ------------------------------------------------------------------------------------

cell* word::make(cell*, cell* spec, uint32_t type)
{
    switch (cell_type(spec)) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        break;
    case TYPE_ISSUE: case TYPE_REFINEMENT: {
        uint32_t loads_as = scan_type(spec);
        if (loads_as < TYPE_WORD || loads_as > TYPE_GET_WORD) {
            cell target{TYPE_DATATYPE, type, 0, 0};
            fire(ERR_SCRIPT, err::BAD_TO_ARG, &target, spec);
        }
        context::bind_word(context_s.global, spec);
        break;
    }
    case TYPE_STRING:
        return word_of_text(spec, type, spec);
    case TYPE_CHAR: {
        cell* text = string::make_at(stack::push_slot(), 1, 1);
        string::append_char(text->data2, spec->data2);
        word_of_text(spec, type, text);
        stack::pop(1);
        return spec;
    }
    case TYPE_DATATYPE: {
        const cell* name = spec->data1 < TYPE_TABLE_SIZE ? datatype_s.types[spec->data1].word : nullptr;
        if (!name) {
            cell target{TYPE_DATATYPE, type, 0, 0};
            fire(ERR_SCRIPT, err::BAD_TO_ARG, &target, spec);
        }
        *spec = *name;
        break;
    }
    case TYPE_LOGIC:
        make_at(symbol::make(spec->data1 == 1 ? "true" : "false"), spec);
        break;
    default: {
        cell target{TYPE_DATATYPE, type, 0, 0};
        fire(ERR_SCRIPT, err::BAD_TO_ARG, &target, spec);
    }
    }
    spec->header = type;
    return spec;
}

int32_t word::form(cell* value, cell* buffer, cell* arg, int32_t part) { return form_name(value, buffer, arg, part); }

int32_t word::mold(cell* value, cell* buffer, bool, bool, bool, cell*, int32_t part, int32_t)
{
    return mold_with(value, buffer, part, "", "");
}

int32_t word::compare(cell* value1, cell* value2, int32_t op)
{
    uint32_t t1 = cell_type(value1), t2 = cell_type(value2);
    if ((t2 == TYPE_ISSUE && t1 != TYPE_ISSUE) || !any_word_q(t2)) return -2;
    uint32_t s1 = value1->data2, s2 = value2->data2;
    auto literal_pair = [&] {
        return (t1 == TYPE_WORD && t2 == TYPE_LIT_WORD) || (t1 == TYPE_LIT_WORD && t2 == TYPE_WORD) || t1 == t2;
    };
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_FIND:
        return symbol::resolve(s1) == symbol::resolve(s2) ? 0 : 1;
    case COMP_STRICT_EQUAL:
        return t1 == t2 && s1 == s2 ? 0 : 1;
    case COMP_SAME:
        return t1 == t2 && s1 == s2 && value1->data1 == value2->data1 ? 0 : 1;
    case COMP_STRICT_EQUAL_WORD:
        return literal_pair() && s1 == s2 ? 0 : 1;
    case COMP_EQUAL_WORD:
        return literal_pair() && symbol::resolve(s1) == symbol::resolve(s2) ? 0 : 1;
    default: {
        cell a = *symbol::cell_of(s1), b = *symbol::cell_of(s2);
        return symbol::compare(&a, &b, op);
    }
    }
}

cell* word::index_q(cell* w)
{
    if (word_position(w) == -1) return none::make_at(w);
    *w = cell{TYPE_INTEGER, 0, w->data3 + 1, 0};
    return w;
}

void word::mark(const cell* c) { if (c->data1) collector::mark_context(c->data1); }

void word::init()
{
    datatype::register_type(TYPE_WORD, TYPE_SYMBOL, "word!", {
        .make = make, .to = make, .form = form, .mold = mold, .compare = compare, .index_q = index_q,
        .mark = mark});
}

// ---- the kinds ----------------------------------------------------------------------------------

namespace {
// make, to, form, compare and (unless refinement) index? come from word!; mold is the kind's own.
void register_kind(uint32_t id, const char* name, mold_fn mold, bool index)
{
    action_row row{.make = inherit, .to = inherit, .form = inherit, .mold = mold, .compare = inherit,
                   .mark = inherit};
    if (index) row.index_q = inherit;
    datatype::register_type(id, TYPE_WORD, name, row);
}
}  // namespace

int32_t set_word::mold(cell* value, cell* buffer, bool, bool, bool, cell*, int32_t part, int32_t)
{
    return mold_with(value, buffer, part, "", ":");
}
void set_word::init() { register_kind(TYPE_SET_WORD, "set-word!", mold, true); }

cell* lit_word::push(const cell* w) { return retyped(word::push(w), TYPE_LIT_WORD); }
int32_t lit_word::mold(cell* value, cell* buffer, bool, bool, bool, cell*, int32_t part, int32_t)
{
    return mold_with(value, buffer, part, "'", "");
}
void lit_word::init() { register_kind(TYPE_LIT_WORD, "lit-word!", mold, true); }

cell* get_word::push(const cell* w) { return retyped(word::push(w), TYPE_GET_WORD); }
cell* get_word::push_from(node_ref ctx, uint32_t i) { return retyped(word::push_from(ctx, i), TYPE_GET_WORD); }
cell* get_word::push_value(const cell* w) { return stack::push(word::get(w)); }
int32_t get_word::mold(cell* value, cell* buffer, bool, bool, bool, cell*, int32_t part, int32_t)
{
    return mold_with(value, buffer, part, ":", "");
}
void get_word::init() { register_kind(TYPE_GET_WORD, "get-word!", mold, true); }

cell* refinement::push(const cell* w) { return retyped(word::push(w), TYPE_REFINEMENT); }
cell* refinement::push_from(node_ref ctx, uint32_t i) { return retyped(word::push_from(ctx, i), TYPE_REFINEMENT); }
cell* refinement::load(const char* name)
{
    cell r{TYPE_REFINEMENT, 0, symbol::make(name), uint32_t(-1)};
    return block::rs_append(&root_block, &r);
}
int32_t refinement::mold(cell* value, cell* buffer, bool, bool, bool, cell*, int32_t part, int32_t)
{
    return mold_with(value, buffer, part, "/", "");
}
void refinement::init() { register_kind(TYPE_REFINEMENT, "refinement!", mold, false); }

// ---- issue! -------------------------------------------------------------------------------------

cell* issue::make_at(cell* slot, const char* name)
{
    uint32_t symbol = symbol::make(name);
    *slot = cell{TYPE_ISSUE, context_s.global, symbol, uint32_t(-1)};
    return slot;
}

cell* issue::make_in(const char* name, cell* block)
{
    cell i{TYPE_ISSUE, 0, 0, 0};
    make_at(&i, name);
    return block::rs_append(block ? block : &root_block, &i);
}

cell* issue::load(const char* name)
{
    if (system_s.booting) return make_in(name, &root_block);
    cell i{TYPE_ISSUE, 0, 0, 0};
    make_at(&i, name);
    return stack::push(&i);
}

cell* issue::push(const cell* w) { return retyped(word::push(w), TYPE_ISSUE); }

cell* issue::make(cell* proto, cell* spec, uint32_t type)
{
    uint32_t t = cell_type(spec);
    if (word::any_word_q(t)) {
        spec->header = type;
        return spec;
    }
    uint32_t symbol;
    if (t == TYPE_STRING) {
        symbol = symbol::search(spec, -1);
    } else if (t == TYPE_CHAR) {
        uint8_t bytes[4];
        uint32_t n = spec->data2 > 0x10FFFF ? 0 : utf8_encode_char(spec->data2, bytes);
        symbol = symbol::search_part(bytes, n);
    } else {
        return word::make(proto, spec, type);
    }
    *spec = cell{type, context_s.global, symbol, uint32_t(-1)};
    return spec;
}

int32_t issue::mold(cell* value, cell* buffer, bool, bool, bool, cell*, int32_t part, int32_t)
{
    return mold_with(value, buffer, part, "#", "");
}

int32_t issue::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_ISSUE) return -2;
    return word::compare(value1, value2, op);
}

void issue::init()
{
    datatype::register_type(TYPE_ISSUE, TYPE_WORD, "issue!", {
        .make = make, .to = make, .form = inherit, .mold = mold, .compare = compare});
}
