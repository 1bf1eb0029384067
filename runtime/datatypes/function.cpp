// function!: spec checking, making, local-word collection and the action routines. Making
// allocates several times (spec copy, more block, context, body copy): every piece is held on the
// argument stack, or by the function's own cell there, before the next allocation.
#include "runtime/datatypes/function.h"

#include <algorithm>
#include <vector>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/datatypes/rtwords.h"

cell (*function::call_hook)(const cell* callable, const cell* name, const cell* args, uint32_t count, bool whole);

namespace {

uint32_t canonical(const cell* word) { return symbol::resolve(word->data2); }
bool symbol_is(const cell* word, uint32_t symbol) { return canonical(word) == symbol::resolve(symbol); }
bool is_refinement(const cell* c, rt_refinement which)
{
    return cell_type(c) == TYPE_REFINEMENT && symbol_is(c, rt_refinement_word(which)->data2);
}
bool argument_word(uint32_t t) { return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }
bool spec_word(uint32_t t) { return argument_word(t) || t == TYPE_REFINEMENT; }

uint32_t cells_of(const cell* blk) { return series_used_bytes(series_of(blk->data2)) / 16; }
uint32_t head_of(const cell* blk) { return std::min(blk->data1, cells_of(blk)); }

cell more_of(const cell* function) { return cell{TYPE_BLOCK, 0, function->data3, 0}; }

// ---- the spec checker ---------------------------------------------------------------------------
// Nothing here allocates, so the walk may hold cell addresses.

struct spec_walk {
    cell spec;
    uint32_t end;
    const cell* at(uint32_t i) const { return block::ks_abs_at(&spec, i); }
    uint32_t type_at(uint32_t i) const { return i < end ? cell_type(at(i)) : 0; }   // 0: past the end
    [[noreturn]] void fail() const { fire(ERR_SCRIPT, err::BAD_FUNC_DEF, &spec); }
};

uint32_t attribute_flags(const spec_walk& w, const cell* attributes)
{
    uint32_t flags = 0;
    for (uint32_t i = head_of(attributes); i < cells_of(attributes); i++) {
        const cell* a = block::ks_abs_at(attributes, i);
        if (cell_type(a) != TYPE_WORD) w.fail();
        if (symbol_is(a, rt_symbol_id(SYM_TRACE))) flags |= function::TRACE;
        if (symbol_is(a, rt_symbol_id(SYM_NO_TRACE))) flags |= function::NO_TRACE;
    }
    return flags;
}

// Each value names a datatype or typeset, directly or through a word.
void check_type_block(const cell* types)
{
    for (uint32_t i = head_of(types); i < cells_of(types); i++) {
        const cell* written = block::ks_abs_at(types, i);
        const cell* value = cell_type(written) == TYPE_WORD ? word_get_checked(written) : written;
        uint32_t t = cell_type(value);
        if (t != TYPE_DATATYPE && t != TYPE_TYPESET && t != TYPE_WORD) {
            cell arg = *written;
            fire(ERR_SCRIPT, err::INVALID_TYPE_SPEC, &arg);
        }
    }
}

void check_duplicates(const spec_walk& w, uint32_t first)
{
    for (uint32_t i = first; i < w.end; i++) {
        if (!spec_word(w.type_at(i))) continue;
        for (uint32_t j = i + 1; j < w.end; j++) {
            if (!spec_word(w.type_at(j)) || canonical(w.at(j)) != canonical(w.at(i))) continue;
            cell later = *w.at(j);
            fire(ERR_SCRIPT, err::DUP_VARS, &later);
        }
    }
}

// ---- local-word collection ----------------------------------------------------------------------

// The absolute index of the first such refinement from the block's head, or -1.
int32_t find_refinement(const cell* blk, rt_refinement which)
{
    for (uint32_t i = head_of(blk); i < cells_of(blk); i++)
        if (is_refinement(block::ks_abs_at(blk, i), which)) return int32_t(i);
    return -1;
}

bool holds_word(const cell* list, uint32_t symbol)
{
    for (uint32_t i = head_of(list); i < cells_of(list); i++) {
        const cell* c = block::ks_abs_at(list, i);
        if (word::any_word_q(cell_type(c)) && canonical(c) == symbol) return true;
    }
    return false;
}

// The lists are cells on the argument stack; each append may move every buffer, so the word is
// copied first and nothing is read by address across it.
void collect_word(cell word, cell* collected, cell* ignore)
{
    word.header = TYPE_WORD;
    if (holds_word(ignore, canonical(&word))) return;
    block::rs_append(ignore, &word);
    block::rs_append(collected, &word);
}

bool loop_keyword(const cell* c, bool with_block)
{
    if (cell_type(c) != TYPE_WORD) return false;
    if (symbol_is(c, rt_symbol_id(SYM_FOREACH)) || symbol_is(c, rt_symbol_id(SYM_REMOVE_EACH))) return true;
    return !with_block && symbol_is(c, rt_symbol_id(SYM_REPEAT));
}

void collect_deep(cell blk, cell* collected, cell* ignore)
{
    if (cycle_find(blk.data2)) return;   // a body inside itself is walked once
    cycle_scope walking(blk.data2);       // and the cycle stack's limit bounds the recursion
    for (uint32_t i = head_of(&blk); i < cells_of(&blk); i++) {
        cell c = *block::ks_abs_at(&blk, i);
        uint32_t t = cell_type(&c);
        if (t == TYPE_SET_WORD) collect_word(c, collected, ignore);
        if (t == TYPE_BLOCK || t == TYPE_PAREN) collect_deep(c, collected, ignore);
        if (t != TYPE_WORD || i + 1 >= cells_of(&blk)) continue;
        cell next = *block::ks_abs_at(&blk, i + 1);
        uint32_t nt = cell_type(&next);
        if (nt == TYPE_BLOCK && loop_keyword(&c, true)) {
            for (uint32_t k = head_of(&next); k < cells_of(&next); k++) {
                cell w = *block::ks_abs_at(&next, k);
                if (argument_word(cell_type(&w))) collect_word(w, collected, ignore);
            }
        } else if ((nt == TYPE_WORD || nt == TYPE_SET_WORD) && loop_keyword(&c, false)) {
            collect_word(next, collected, ignore);
        }
    }
}

}  // namespace

// ---- spec checking ------------------------------------------------------------------------------

uint32_t function::validate_spec(const cell* spec)
{
    spec_walk w{*spec, cells_of(spec)};
    uint32_t i = head_of(spec);
    uint32_t first = i;
    uint32_t flags = 0;
    if (w.type_at(i) == TYPE_BLOCK) flags = attribute_flags(w, w.at(i++));
    bool local_seen = false, return_seen = false;
    for (; i < w.end; i++) {
        const cell* c = w.at(i);
        switch (uint32_t t = cell_type(c)) {
        case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
            if (local_seen && t != TYPE_WORD) w.fail();
            if (w.type_at(i + 1) == TYPE_STRING && w.type_at(i + 2) == TYPE_BLOCK) w.fail();   // doc before types
            if (return_seen && !local_seen) w.fail();   // an argument after return:
            if (w.type_at(i + 1) == TYPE_BLOCK) check_type_block(w.at(++i));
            break;
        case TYPE_SET_WORD: {
            if (return_seen || local_seen || !symbol_is(c, rt_symbol_id(SYM_RETURN))) w.fail();
            if (w.type_at(i + 1) != TYPE_BLOCK) w.fail();
            uint32_t after = w.type_at(i + 2);
            if (after != 0 && after != TYPE_REFINEMENT && after != TYPE_STRING) w.fail();
            return_seen = true;
            i++;
            break;
        }
        case TYPE_REFINEMENT: {
            if (is_refinement(c, REF_LOCAL)) local_seen = true;
            else if (local_seen || return_seen) w.fail();
            uint32_t next = w.type_at(i + 1);
            if (next != 0 && !spec_word(next) && next != TYPE_SET_WORD && next != TYPE_STRING) w.fail();
            break;
        }
        case TYPE_STRING:
            break;
        default:
            w.fail();
        }
    }
    check_duplicates(w, first);
    return flags;
}

// ---- making -------------------------------------------------------------------------------------

namespace {
// Marks a body made by the boot (or copied from one) as library code, with every block, paren and
// path in it; a series marked already is not walked again. Allocates nothing.
void mark_library(const cell* code)
{
    series_buffer* s = series_of(code->data2);
    if (s->flags & SERIES_LIBRARY) return;
    s->flags |= SERIES_LIBRARY;
    for (cell* c = at<cell>(s->head); c < at<cell>(s->tail); c++)
        if (any_block_q(cell_type(c))) mark_library(c);
}
}  // namespace


node_ref function::push(const cell* spec, const cell* body, node_ref given, uint32_t flags)
{
    cell body_value = *body;
    cell* result = stack::push_slot();
    cell* held_body = stack::push(&body_value);
    cell* held_spec = native::push_spec(spec);
    cell* more = block::push_only_star(MORE_CELLS);
    node_ref ctx = given ? given : context::make(held_spec, true, false, CONTEXT_FUNCTION);
    // From here the function's cell keeps the context, the spec and the more block alive.
    *result = cell{TYPE_FUNCTION | (flags & (TRACE | NO_TRACE)), ctx, held_spec->data2, more->data2};
    *context::owner_of(ctx) = *result;
    series_buffer* m = series_of(more->data2);
    std::fill_n(at<cell>(m->head), MORE_CELLS, unset_value);
    m->tail = m->head + MORE_CELLS * 16;

    bool library = system_s.library || (series_of(held_body->data2)->flags & SERIES_LIBRARY);
    cell* copy = block::clone(held_body, true, true);
    cell_set_type(copy, TYPE_BLOCK);
    if (library) mark_library(copy);
    if (!given) context::bind(copy, ctx, false);
    *block::ks_abs_at(more, MORE_BODY) = *copy;
    stack::pop(4);
    return ctx;
}

cell* function::make(cell*, cell* spec, uint32_t)
{
    cell make_block = *spec;
    if (cell_type(&make_block) != TYPE_BLOCK || block::rs_length(&make_block) < 2)
        fire(ERR_SCRIPT, err::BAD_FUNC_DEF, &make_block);
    cell* held = stack::push(&make_block);
    cell fn_spec = block::rs_head(held)[0];
    cell fn_body = block::rs_head(held)[1];
    if (cell_type(&fn_spec) != TYPE_BLOCK || cell_type(&fn_body) != TYPE_BLOCK)
        fire(ERR_SCRIPT, err::BAD_FUNC_DEF, &make_block);
    uint32_t flags = validate_spec(&fn_spec);
    push(&fn_spec, &fn_body, 0, flags);
    *held = *(stack::top() - 1);
    stack::pop(1);
    return held;
}

// ---- locals -------------------------------------------------------------------------------------

cell* function::collect_body_words(cell* spec, const cell* body)
{
    cell s = *spec;
    cell b = *body;
    cell* collected = block::push_only_star(8);
    cell* ignore = block::clone(&s, false, false);
    cell_set_type(ignore, TYPE_BLOCK);
    cell* held_body = stack::push(&b);

    int32_t extern_at = find_refinement(&s, REF_EXTERN);
    if (extern_at >= 0) {
        uint32_t i = uint32_t(extern_at) + 1;
        while (i < cells_of(&s) && cell_type(block::ks_abs_at(&s, i)) == TYPE_WORD) i++;
        if (i < cells_of(&s) && is_refinement(block::ks_abs_at(&s, i), REF_LOCAL)) {
            for (i++; i < cells_of(&s); i++) {
                cell w = *block::ks_abs_at(&s, i);
                if (cell_type(&w) == TYPE_WORD) block::rs_append(collected, &w);
            }
        }
        block::ks_clear_at(&s, uint32_t(extern_at));
    }
    for (uint32_t i = head_of(ignore); i < cells_of(ignore); i++) {
        cell* c = block::ks_abs_at(ignore, i);
        switch (cell_type(c)) {
        case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
            c->header = TYPE_WORD;
            break;
        case TYPE_WORD: case TYPE_BLOCK: case TYPE_STRING:
            break;
        default:
            if (extern_at >= 0) {
                cell bad = *c;
                fire(ERR_SCRIPT, err::BAD_FUNC_EXTERN, &bad);
            }
        }
    }

    collect_deep(*held_body, collected, ignore);
    if (block::rs_length(collected) > 0) {
        if (count_locals(s.data2, s.data1, true) < 0) block::rs_append(&s, rt_refinement_word(REF_LOCAL));
        block::remove_by_compare(collected, rt_word_cell(W_LOCAL), true);
        block::ks_append_block(&s, collected);
    }
    stack::pop(2);
    return collected;
}

int32_t function::count_locals(node_ref spec, uint32_t head, bool strict)
{
    cell s{TYPE_BLOCK, head, spec, 0};
    int32_t at_local = find_refinement(&s, REF_LOCAL);
    if (at_local < 0) return strict ? -1 : 0;
    int32_t n = 1;
    for (uint32_t i = uint32_t(at_local) + 1; i < cells_of(&s); i++)
        if (cell_type(block::ks_abs_at(&s, i)) == TYPE_WORD) n++;
    return n;
}

void function::init_locals(uint32_t n)
{
    if (n == 0) return;
    logic::push(0);
    for (uint32_t i = 1; i < n; i++) none::push();
}

// ---- actions ------------------------------------------------------------------------------------

cell* function::reflect(cell* value, cell* field)
{
    uint32_t field_symbol = word::any_word_q(cell_type(field)) ? canonical(field) : 0;
    if (field_symbol == symbol::resolve(rt_symbol_id(SYM_SPEC))) {
        *value = cell{TYPE_BLOCK, 0, value->data2, 0};
        return value;
    }
    if (field_symbol == symbol::resolve(rt_symbol_id(SYM_BODY))) {
        cell more = more_of(value);
        *value = *block::ks_abs_at(&more, MORE_BODY);
        return value;
    }
    if (field_symbol != symbol::resolve(rt_symbol_id(SYM_WORDS))) fire(ERR_INTERNAL, err::NOT_DONE);
    node_ref ctx = value->data1;
    uint32_t count = context::word_count(ctx);
    cell* words = block::push_only_star(count);
    for (uint32_t i = 0; i < count; i++) {
        cell w = *context::get_word(ctx, i);
        w.data1 = ctx;
        block::rs_append(words, &w);
    }
    *value = *words;
    stack::pop(1);
    return value;
}

int32_t function::mold(cell* value, cell* buffer, bool, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    cell v = *value;
    cell spec{TYPE_BLOCK, 0, v.data2, 0};
    part = string::emit_literal(buffer, "func ", part);
    part = block::mold(&spec, buffer, false, all, flat, arg, part, indent);
    cell more = more_of(&v);
    cell body = *block::ks_abs_at(&more, MORE_BODY);
    if (cell_type(&body) == TYPE_NONE) return string::emit_literal(buffer, " none", part);
    return block::mold(&body, buffer, false, all, flat, arg, part, indent);
}

int32_t function::compare(cell* value1, cell* value2, int32_t op)
{
    return native::compare_by(value1, value2, op, &cell::data3);
}

void function::init()
{
    datatype::register_type(TYPE_FUNCTION, TYPE_CONTEXT, "function!", {
        .make = make, .reflect = reflect, .form = native::form, .mold = mold, .compare = compare,
        .mark = native::mark});
}
