// Cell routines and the cycle stack. The cycle stack is a fixed array on the runtime heap: it
// never moves and holds nodes, which never move either.
#include "runtime/cells.h"

#include <cmath>
#include <cstring>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/stack.h"
#include "runtime/rterror.h"

cycle_stack_state cycle_s;

uint8_t* bytes_repeat(uint8_t* buffer, int32_t size, int32_t count)
{
    if (size < 1) return buffer;
    int64_t total = int64_t(size) * (count > 0 ? count : 0);
    if (count < 2) return buffer + total;
    int64_t filled = size;
    while (total - filled >= filled) {
        std::memcpy(buffer + filled, buffer, size_t(filled));
        filled *= 2;
    }
    if (total > filled) std::memcpy(buffer + filled, buffer, size_t(total - filled));
    return buffer + total;
}

int32_t int_check_range(const cell* value)
{
    if (cell_type(value) != TYPE_FLOAT) return int32_t(value->data2);
    double d = cell_float(value);
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, value);
    return int32_t(d);
}

int32_t mold_indent(cell* buffer, int32_t level, int32_t budget)
{
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(buffer, "    ");
    return budget - 4 * (level > 0 ? level : 0);
}

void refinements_none(const cell* refinement, uint32_t index, uint32_t count)
{
    cell* window = stack::arguments() + index;
    if (!cell_falsy(refinement)) {
        window->data1 = 1;
        return;
    }
    for (uint32_t i = 1; i <= count; i++) window[i].header = TYPE_NONE;
}

void fire_error_arg(const cell* arg1, const cell* arg2) { fire(ERR_SCRIPT, err::BAD_MAKE_ARG, arg1, arg2); }

bool arg_given(const cell* refinement) { return refinement && refinement > stack::arguments(); }

// ---- argument checks ----------------------------------------------------------------------------

void (*call_words)(int32_t index, cell* function_word, cell* argument_word);

namespace {
void words_of_call(int32_t index, cell* function_word, cell* argument_word)
{
    *function_word = none_value;
    *argument_word = none_value;
    if (call_words) call_words(index, function_word, argument_word);
}
}  // namespace

cell running_function_word()
{
    cell function_word, argument_word;
    words_of_call(-1, &function_word, &argument_word);
    return function_word;
}

void fire_expect_arg(int32_t index, uint32_t type)
{
    cell function_word, argument_word;
    words_of_call(index, &function_word, &argument_word);
    cell given = datatype::value_of(type);
    fire(ERR_SCRIPT, err::EXPECT_ARG, &function_word, &given, &argument_word);
}

cell* arg_type_check(const cell* typeset, int32_t index, cell* value)
{
    if (!typeset_has(typeset, cell_type(value))) fire_expect_arg(index, cell_type(value));
    return value;
}

void arg_type_check_at(int32_t n, const cell* typeset, int32_t index)
{
    if (n >= 0) arg_type_check(typeset, index, stack::arguments() + n);
}

cell* arg_type_check_if_used(const cell* refinement, const cell* typeset, int32_t index, cell* value)
{
    return refinement->data1 ? arg_type_check(typeset, index, value) : value;
}

cell* arg_need_value(int32_t index, cell* value)
{
    if (cell_type(value) == TYPE_UNSET) fire_expect_arg(index, TYPE_UNSET);
    return value;
}

// ---- words and context slots --------------------------------------------------------------------

namespace {

// The stack top, copied: storing may allocate (an object's change handler, a word added to its
// context). An empty stack has nothing to store, which reads as unset.
cell stored_value()
{
    return stack::top() > stack_s.start ? *(stack::top() - 1) : unset_value;
}

// Word n of the context's table, for error messages (none when the table has no such entry).
cell word_of_slot(node_ref ctx, uint32_t n)
{
    return n < context::word_count(ctx) ? *context::get_word(ctx, n) : none_value;
}

void set_checked(cell* word)
{
    cell value = stored_value();
    if (cell_type(&value) == TYPE_UNSET) fire(ERR_SCRIPT, err::NEED_VALUE, word);
    word::set(word, &value);
}

void set_slot_checked(node_ref ctx, uint32_t n)
{
    cell value = stored_value();
    if (cell_type(&value) == TYPE_UNSET) {
        cell w = word_of_slot(ctx, n);
        fire(ERR_SCRIPT, err::NEED_VALUE, &w);
    }
    *context_get_slot(ctx, n) = value;
}

}  // namespace

void word_set(cell* word)
{
    set_checked(word);
    stack::reset();
}

void word_set_from_stack(cell* word) { set_checked(word); }

cell* word_get_checked(const cell* word)
{
    cell* value = word::get(word);
    if (cell_type(value) == TYPE_UNSET) fire(ERR_SCRIPT, err::NO_VALUE, word);
    return value;
}

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
    cell value = stored_value();
    cell* slot = context_get_slot(ctx, n);
    if (context::kind_of(ctx) == CONTEXT_OBJECT && n < context::word_count(ctx))
        context::get_word(ctx, n)->header |= WORD_ENTRY_SET;
    *slot = value;
    stack::reset();
}

// ---- the cycle stack ----------------------------------------------------------------------------

void cycle_stack_init()
{
    cycle_s.base = static_cast<node_ref*>(rt_alloc(CYCLE_STACK_ENTRIES * sizeof(node_ref)));
    cycle_s.top = cycle_s.base;
    cycle_s.end = cycle_s.base + CYCLE_STACK_ENTRIES;
}

void cycle_push(node_ref node)
{
    *cycle_s.top++ = node;
    if (cycle_s.top == cycle_s.end) {
        cycle_reset();
        fire(ERR_INTERNAL, err::TOO_DEEP);
    }
}

void cycle_pop()
{
    if (cycle_s.top > cycle_s.base) cycle_s.top--;
}

void cycle_drop(uint32_t n) { cycle_s.top = n > cycle_depth() ? cycle_s.base : cycle_s.top - n; }

void cycle_reset() { cycle_s.top = cycle_s.base; }

bool cycle_find(node_ref node)
{
    for (node_ref* p = cycle_s.base; p < cycle_s.top; p++)
        if (*p == node) return true;
    return false;
}

uint32_t cycle_depth() { return uint32_t(cycle_s.top - cycle_s.base); }

void cycle_stack_mark(void (*keep)(node_ref node))
{
    for (node_ref* p = cycle_s.base; p < cycle_s.top; p++) keep(*p);
}

cycle_scope::~cycle_scope()
{
    // Never deeper than before the push; a reset in between (overflow, no-cycle) stays a reset.
    if (cycle_depth() > depth_) cycle_s.top = cycle_s.base + depth_;
}
