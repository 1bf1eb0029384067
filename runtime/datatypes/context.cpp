// context!: making contexts, finding and adding words, getting and setting values, binding blocks.
// Trap: adding a word may grow the word table and the values block, or give an object its own copy
// of a shared table, so no entry or value address survives a call that adds; the context node and
// positions are the stable handles. Flagging an object's field as set may allocate too.
#include "runtime/datatypes/context.h"

#include <algorithm>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

context_state context_s;
void (*context::fire_on_set_hook)(cell* owner, cell* word, cell* old_value, cell* new_value);

namespace {

using context::table_of;
node_ref words_of(node_ref ctx) { return hashtable_record(table_of(ctx))->block; }
bool object_kind(node_ref ctx) { return context::kind_of(ctx) == CONTEXT_OBJECT; }
node_ref values_of(node_ref ctx) { return context::cell_of(ctx)->data2; }

// Keeps a context reachable while its parts are made.
struct keep_context {
    cell* mark;
    explicit keep_context(node_ref ctx) : mark(stack::top())
    {
        cell c{TYPE_WORD, ctx, 0, uint32_t(-1)};
        stack::push(&c);
    }
    ~keep_context() { stack::release_to(mark); }
    keep_context(const keep_context&) = delete;
    keep_context& operator=(const keep_context&) = delete;
};

void append_value(node_ref ctx, const cell* value)
{
    cell copy = *value;   // the value may live in the block that grows
    *series_alloc_tail(series_of(values_of(ctx))) = copy;
}

// The value cell of position i, or null when there is none to read: a stack context outside its
// call (no window, or a window already popped), or a position past the values.
cell* value_cell(node_ref ctx, uint32_t i)
{
    uint32_t values = values_of(ctx);
    if (!values) return nullptr;
    if (context::on_stack(ctx)) {
        cell* c = at<cell>(values) + i;
        return (c >= stack_s.start && c < stack_s.top) ? c : nullptr;
    }
    series_buffer* s = series_of(values);
    return i < series_used_bytes(s) / 16 ? at<cell>(s->head) + i : nullptr;
}

// A copy of a word table with its own block of entries.
node_ref copy_table(node_ref table)
{
    node_ref words = series_copy(series_of(hashtable_record(table)->block));
    cell holder{TYPE_BLOCK, 0, words, 0};   // reachable until the copied table refers to it
    cell* mark = stack::top();
    stack::push(&holder);
    node_ref copy = hashtable_copy(table, words);
    stack_s.top = mark;
    return copy;
}

// Before a word is added to a context that may share its table: the context takes a copy of its
// own, so the others keep the words they had.
void own_words(node_ref ctx)
{
    if (!(context::cell_of(ctx)->header & CONTEXT_SHARED_WORDS)) return;
    keep_context keep(ctx);
    node_ref table = copy_table(table_of(ctx));
    cell* c = context::cell_of(ctx);
    c->data1 = table;
    c->header &= ~CONTEXT_SHARED_WORDS;
}

int32_t value_position(node_ref ctx, int32_t entry) { return entry < 0 ? -1 : int32_t(context::get_word(ctx, uint32_t(entry))->data3); }


// Binds the cells of a series from its head. Mended: the series being walked are held on the
// cycle stack, as every deep walk holds them, instead of a list searched at each level and
// bounded only by the machine stack: a block inside itself is walked once, and nesting past the
// cycle stack's bound raises internal/too-deep (the stack emptied) long before the guard page.
void bind_series(node_ref series, uint32_t head, node_ref ctx, bool self_word)
{
    if (cycle_find(series)) return;
    cycle_scope walking(series);
    // Binding allocates nothing, so cell addresses stay valid during the walk.
    series_buffer* s = series_of(series);
    cell* end = at<cell>(s->tail);
    for (cell* c = at<cell>(s->head) + head; c < end; c++) {
        uint32_t t = cell_type(c);
        if (bindable_word_q(t)) {
            if (self_word && t == TYPE_WORD && symbol::resolve(c->data2) == symbol::resolve(context_s.self_symbol)) {
                c->data1 = ctx;
                c->data3 = uint32_t(-1);
            } else {
                context::bind_word(ctx, c);
            }
        } else if (any_block_q(t)) {
            bind_series(c->data2, c->data1, ctx, self_word);
        }
    }
}

}  // namespace

// ---- creation -----------------------------------------------------------------------------------

namespace {

// share: an object context takes its source's table as it is (see create).
node_ref new_context(uint32_t slots, bool stack_values, bool object, node_ref source, uint32_t kind, bool share)
{
    using context::cell_of;
    if (slots == 0) slots = 1;
    node_ref ctx = cells_alloc(2);
    series_buffer* s = series_of(ctx);
    s->tail = s->head + 32;
    uint32_t header = TYPE_CONTEXT | (kind & 3) << CONTEXT_KIND_SHIFT | (stack_values ? CONTEXT_ON_STACK : 0) |
                      (object ? CONTEXT_OF_OBJECT : 0);
    at<cell>(s->head)[0] = cell{header, 0, 0, 0};
    at<cell>(s->head)[1] = cell{TYPE_UNSET, 0, 0, 0};
    keep_context keep(ctx);
    node_ref table;
    if (source && share) {
        // An object starts with its source's words: the table is shared until one of them adds.
        table = table_of(source);
        cell_of(source)->header |= CONTEXT_SHARED_WORDS;
        cell_of(ctx)->header |= CONTEXT_SHARED_WORDS;
    } else if (source) {
        table = copy_table(table_of(source));
    } else {
        table = hashtable_new(slots, nullptr, HASH_SYMBOLS, 1);
    }
    cell_of(ctx)->data1 = table;
    if (!stack_values) {
        node_ref values = cells_alloc_unset(slots);
        cell_of(ctx)->data2 = values;
    }
    return ctx;
}

}  // namespace

node_ref context::create(uint32_t slots, bool stack_values, bool object, node_ref source, uint32_t kind)
{
    return new_context(slots, stack_values, object, source, kind, kind == CONTEXT_OBJECT);
}

node_ref context::make(const cell* spec, bool stack_values, bool object, uint32_t kind)
{
    cell list = *spec;
    series_buffer* s = series_of(list.data2);
    uint32_t length = series_used_bytes(s) / 16;
    uint32_t head = list.data1 < length ? list.data1 : length;
    node_ref ctx = create(length - head, stack_values, object, 0, kind);
    keep_context keep(ctx);
    uint32_t count = 0;
    for (uint32_t i = head; i < length; i++) {
        cell c = at<cell>(series_of(list.data2)->head)[i];
        uint32_t t = cell_type(&c);
        if (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD && t != TYPE_REFINEMENT) continue;
        find_or_add(ctx, c.data2, true, nullptr);
        count++;
    }
    if (!stack_values) {
        series_buffer* v = series_of(values_of(ctx));
        v->tail = v->head + count * 16;   // the block was made with room for every spec cell
    }
    return ctx;
}

cell context::value_of(node_ref ctx)
{
    cell c = *cell_of(ctx);
    if (on_stack(ctx)) c.data2 = 0;   // a running call's window is no part of the value
    c.header &= ~(CONTEXT_SHARED_WORDS | CONTEXT_SET_FLAGS);
    c.data3 = ctx;
    return c;
}

node_ref context::clone(cell* word, uint32_t kind)
{
    node_ref old = word->data1;
    node_ref ctx = new_context(word_count(old), on_stack(old), (cell_of(old)->header & CONTEXT_OF_OBJECT) != 0, old,
                               kind, false);
    series_buffer* s = series_of(words_of(ctx));
    for (cell* c = at<cell>(s->head); c < at<cell>(s->tail); c++) c->data1 = ctx;
    word->data1 = ctx;
    return ctx;
}

void context::global_init() { context_s.global = create(GLOBAL_SLOTS, false, false, 0, CONTEXT_GLOBAL); }

void context::words_init() { context_s.self_symbol = symbol::make("self"); }

uint32_t context::word_count(node_ref ctx) { return series_used_bytes(series_of(words_of(ctx))) / 16; }

// ---- looking up ---------------------------------------------------------------------------------

int32_t context::find_word(node_ref ctx, uint32_t symbol, bool case_insensitive)
{
    return value_position(ctx, hashtable_find_or_add_symbol(table_of(ctx), symbol, 0, case_insensitive, nullptr));
}

int32_t context::find_or_add(node_ref ctx, uint32_t symbol, bool case_insensitive, int32_t* added)
{
    if (cell_of(ctx)->header & CONTEXT_SHARED_WORDS) {
        int32_t found = find_word(ctx, symbol, case_insensitive);
        if (found >= 0) return found;
        own_words(ctx);
    }
    int32_t fresh = -1;
    int32_t found = hashtable_find_or_add_symbol(table_of(ctx), symbol, ctx, case_insensitive, &fresh);
    if (found >= 0) return value_position(ctx, found);
    if (object_kind(ctx)) get_word(ctx, uint32_t(fresh))->data1 = 0;   // the table may be shared later
    if (added) *added = fresh;
    return -1;
}

cell* context::get_word(node_ref ctx, uint32_t i) { return at<cell>(series_of(words_of(ctx))->head) + i; }

cell context::word_at(node_ref ctx, uint32_t i)
{
    cell w = *get_word(ctx, i);
    w.header = TYPE_WORD;
    w.data1 = ctx;
    return w;
}

cell* context::get_value_at(node_ref ctx, uint32_t i) { return at<cell>(series_of(values_of(ctx))->head) + i; }

cell* context::slot_of(node_ref ctx, uint32_t i) { return value_cell(ctx, i); }

cell context::resolve_word(node_ref ctx, uint32_t symbol)
{
    int32_t entry = hashtable_find_or_add_symbol(table_of(ctx), symbol, 0, false, nullptr);
    if (entry < 0) return *word::from_symbol(symbol);
    cell w = *get_word(ctx, uint32_t(entry));
    w.data1 = ctx;
    return w;
}

cell* context::get_global_value(uint32_t symbol, node_ref ctx)
{
    if (on_stack(ctx)) ctx = context_s.global;
    return get_value_at(ctx, uint32_t(find_word(ctx, symbol, true)));
}

// ---- adding -------------------------------------------------------------------------------------

uint32_t context::add_word(node_ref ctx, uint32_t symbol)
{
    int32_t added = -1;
    int32_t found = find_or_add(ctx, symbol, true, &added);
    if (found >= 0) return uint32_t(found);
    if (!on_stack(ctx)) append_value(ctx, &unset_value);
    return uint32_t(added);
}

cell* context::add_global_word(uint32_t symbol, bool case_insensitive, bool keep_name)
{
    node_ref ctx = context_s.global;
    int32_t added = -1;
    int32_t entry = hashtable_find_or_add_symbol(table_of(ctx), symbol, ctx, case_insensitive, &added);
    if (entry >= 0) {
        cell* found = get_word(ctx, uint32_t(entry));
        if (!(case_insensitive && keep_name && found->data2 != symbol)) return found;
        cell copy = *found;
        copy.data2 = symbol;
        return block::rs_append(&root_block, &copy);
    }
    if (symbol::get_alias(symbol) > 0) {
        int32_t shared = hashtable_find_or_add_symbol(table_of(ctx), symbol, 0, true, nullptr);
        get_word(ctx, uint32_t(added))->data3 = get_word(ctx, uint32_t(shared))->data3;
    }
    append_value(ctx, &unset_value);
    return get_word(ctx, uint32_t(added));
}

cell* context::add_with_value(node_ref ctx, uint32_t symbol, const cell* value)
{
    cell copy = *value;
    int32_t added = -1;
    if (find_or_add(ctx, symbol, true, &added) >= 0) return nullptr;
    if (on_stack(ctx)) return nullptr;
    append_value(ctx, &copy);
    return get_value_at(ctx, uint32_t(added));
}

cell* context::put_value(node_ref ctx, uint32_t symbol, const cell* value)
{
    cell copy = *value;
    int32_t added = -1;
    int32_t found = find_or_add(ctx, symbol, true, &added);
    if (found < 0) {
        append_value(ctx, &copy);
        return get_value_at(ctx, uint32_t(added));
    }
    cell* slot = value_cell(ctx, uint32_t(found));
    if (!slot) return nullptr;
    *slot = copy;
    return slot;
}

bool context::collect_set_words(node_ref ctx, const cell* block)
{
    cell list = *block;
    uint32_t before = word_count(ctx);
    for (uint32_t i = list.data1;; i++) {
        series_buffer* s = series_of(list.data2);
        if (i >= series_used_bytes(s) / 16) break;
        cell c = at<cell>(s->head)[i];
        if (cell_type(&c) == TYPE_SET_WORD) add_word(ctx, c.data2);
    }
    return word_count(ctx) > before;
}

// ---- getting and setting ------------------------------------------------------------------------

cell* context::get_in(const cell* word, node_ref ctx)
{
    if (word_position(word) == -1 || !ctx) {
        // A self word bound by bind yields its context's owner; mended: a self word without a
        // context raises no-value instead of reading through a null context.
        bool self = symbol::resolve(word_symbol(word)) == symbol::resolve(context_s.self_symbol);
        if (self && word_context(word)) return owner_of(word_context(word));
        fire(ERR_SCRIPT, err::NO_VALUE, word);
    }
    cell* slot = value_cell(ctx, uint32_t(word_position(word)));
    // Mended: a stack context whose call has returned no longer has a window to read from.
    if (!slot) fire(ERR_SCRIPT, err::NOT_IN_CONTEXT, word);
    return slot;
}

cell* context::set_in(cell* word, const cell* value, node_ref ctx, bool notify)
{
    cell copy = *value;
    // Mended: a word bound to no context (a refinement made for a native's spec) has nowhere to go.
    if (!ctx) fire(ERR_SCRIPT, err::NOT_DEFINED, word);
    if (word_position(word) == -1) {
        int32_t position = find_word(ctx, word_symbol(word), false);
        if (position < 0) position = int32_t(add_word(ctx, word_symbol(word)));
        word->data3 = uint32_t(position);
    }
    uint32_t position = uint32_t(word_position(word));
    cell* slot = value_cell(ctx, position);
    if (!slot) fire(ERR_SCRIPT, err::NOT_DEFINED, word);
    if (on_stack(ctx) || kind_of(ctx) != CONTEXT_OBJECT) {
        *slot = copy;
        return slot;
    }
    if (!set_flag_q(ctx, position)) {
        flag_set(ctx, position);
        slot = value_cell(ctx, position);
    }
    cell* owner = owner_of(ctx);
    if (!notify || !owner->data3 || !context::fire_on_set_hook) {
        *slot = copy;
        return slot;
    }
    // The handler evaluates, so it allocates: it gets stack copies, never cells of the context's
    // buffers, which the first collection may move.
    cell* mark = stack::top();
    cell* old = stack::push(slot);
    *slot = copy;
    cell* held_owner = stack::push(owner);
    cell* held_word = stack::push(word);
    cell* held_new = stack::push(&copy);
    context::fire_on_set_hook(held_owner, held_word, old, held_new);
    stack_s.top = mark;
    return value_cell(ctx, position);
}

cell* context::push_value_at(node_ref ctx, uint32_t i)
{
    cell* slot = value_cell(ctx, i);
    if (!slot) {
        cell w = *get_word(ctx, i);
        fire(ERR_SCRIPT, err::NOT_DEFINED, &w);
    }
    return stack::push(slot);
}

void context::set_at(node_ref ctx, uint32_t i)
{
    cell* slot = value_cell(ctx, i);
    if (!slot) {
        cell w = *get_word(ctx, i);
        fire(ERR_SCRIPT, err::NOT_DEFINED, &w);
    }
    if (!on_stack(ctx) && kind_of(ctx) == CONTEXT_OBJECT && !set_flag_q(ctx, i)) {
        flag_set(ctx, i);
        slot = value_cell(ctx, i);
    }
    *slot = *(stack::top() - 1);
}

void context::set_at_keep_old(node_ref ctx, uint32_t i)
{
    cell value = *(stack::top() - 1);
    push_value_at(ctx, i);
    stack::push(&value);
    set_at(ctx, i);
    stack::pop(1);
}

// ---- set flags ----------------------------------------------------------------------------------

bool context::set_flag_q(node_ref ctx, uint32_t i)
{
    const cell* c = cell_of(ctx);
    if (!(c->header & CONTEXT_SET_FLAGS)) return false;
    series_buffer* s = series_of(c->data3);
    return i / 8 < series_used_bytes(s) && (at<uint8_t>(s->head)[i / 8] >> (i % 8) & 1);
}

void context::flag_set(node_ref ctx, uint32_t i)
{
    cell* c = cell_of(ctx);
    if (c->header & CONTEXT_SET_FLAGS) {
        series_buffer* s = series_of(c->data3);
        if (i / 8 < series_used_bytes(s)) {
            at<uint8_t>(s->head)[i / 8] |= uint8_t(1u << (i % 8));
            return;
        }
    }
    // The first store, or one past the flags the context had: flags for every word it has now.
    keep_context keep(ctx);
    uint32_t bytes = round_up_to((std::max(i + 1, word_count(ctx)) + 7) / 8, 16);
    node_ref flags = bytes_alloc(bytes);
    series_buffer* s = series_of(flags);
    uint8_t* bits = at<uint8_t>(s->head);
    std::memset(bits, 0, bytes);
    s->tail = s->head + bytes;
    c = cell_of(ctx);
    if (c->header & CONTEXT_SET_FLAGS) {
        series_buffer* old = series_of(c->data3);
        std::memcpy(bits, at<uint8_t>(old->head), series_used_bytes(old));
    }
    bits[i / 8] |= uint8_t(1u << (i % 8));
    c->data3 = flags;
    c->header |= CONTEXT_SET_FLAGS;
}

void context::clear_set_flags(node_ref ctx)
{
    cell* c = cell_of(ctx);
    c->header &= ~CONTEXT_SET_FLAGS;
    c->data3 = 0;
}

void context::copy_set_flags(node_ref source, node_ref target)
{
    clear_set_flags(target);
    if (!(cell_of(source)->header & CONTEXT_SET_FLAGS)) return;
    keep_context keep(target);
    node_ref flags = series_copy(series_of(cell_of(source)->data3));
    cell* c = cell_of(target);
    c->data3 = flags;
    c->header |= CONTEXT_SET_FLAGS;
}

// ---- binding ------------------------------------------------------------------------------------

int32_t context::bind_word(node_ref ctx, cell* word)
{
    int32_t position = find_word(ctx, word_symbol(word), true);
    if (position < 0) return -1;
    word->data1 = ctx;
    word->data3 = uint32_t(position);
    return position;
}

cell* context::bind(cell* block, node_ref ctx, bool self_word)
{
    bind_series(block->data2, block->data1, ctx, self_word);
    return block;
}

// ---- context slots ------------------------------------------------------------------------------

namespace {

// Word n of the context's table, for error messages (none when the table has no such entry).
cell word_of_slot(node_ref ctx, uint32_t n)
{
    return n < context::word_count(ctx) ? *context::get_word(ctx, n) : none_value;
}

void set_slot_checked(node_ref ctx, uint32_t n)
{
    cell value = stack::top_value();
    if (cell_type(&value) == TYPE_UNSET) {
        cell w = word_of_slot(ctx, n);
        fire(ERR_SCRIPT, err::NEED_VALUE, &w);
    }
    *context_get_slot(ctx, n) = value;
}

}  // namespace

cell* context_get_slot(node_ref ctx, uint32_t n)
{
    cell* slot = context::cell_of(ctx)->data2 ? context::slot_of(ctx, n) : nullptr;
    if (!slot) {
        cell w = word_of_slot(ctx, n);
        fire(ERR_SCRIPT, err::NOT_DEFINED, &w);
    }
    return slot;
}

void context_set_slot(node_ref ctx, uint32_t n)
{
    set_slot_checked(ctx, n);
    stack::reset();
}

void context_set_local(node_ref ctx, uint32_t n) { set_slot_checked(ctx, n); }

void object_set_slot(node_ref ctx, uint32_t n)
{
    cell value = stack::top_value();
    context_get_slot(ctx, n);   // raises when there is no such slot
    if (context::kind_of(ctx) == CONTEXT_OBJECT && n < context::word_count(ctx) && !context::set_flag_q(ctx, n))
        context::flag_set(ctx, n);
    *context_get_slot(ctx, n) = value;
    stack::reset();
}

void context::mark(const cell* c)
{
    if (c->data1 && collector::hashtable_mark_hook) collector::hashtable_mark_hook(c->data1);
    if (!(c->header & CONTEXT_ON_STACK) && c->data2) collector::mark_block(c->data2);
    if (c->header & CONTEXT_SET_FLAGS) collector::keep(c->data3);
    else if (c->data3) collector::mark_context(c->data3);
}

void context::init()
{
    datatype::register_type(TYPE_CONTEXT, 0, "context!", {.mark = mark});
}
