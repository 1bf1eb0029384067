// The argument stack's cells and windows.
#include "runtime/interpreter/stack.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/errors.h"

stack_state stack_s;

void stack::init()
{
    series_buffer* s = series_of(stack_s.args_node);
    stack_s.start = at<cell>(series_data_ref(s));
    stack_s.end = stack_s.start + ARGS_CELLS;
    stack_s.arguments = stack_s.top = stack_s.start;
}

cell* stack::push_slot()
{
    if (stack_s.top >= stack_s.end) {
        stack_s.top -= 5;
        fire(ERR_INTERNAL, err::STACK_OVERFLOW);
    }
    cell* c = stack_s.top++;
    c->header = TYPE_UNSET;
    return c;
}

cell* stack::push(const cell* value)
{
    cell copy = *value;   // the value may be on the stack's own top
    cell* c = push_slot();
    *c = copy;
    return c;
}

void stack::pop(uint32_t n)
{
    stack_s.top = (stack_s.top - stack_s.start) < ptrdiff_t(n) ? stack_s.start : stack_s.top - n;
}

cell* stack::set_last(const cell* value)
{
    *stack_s.arguments = *value;
    return stack_s.arguments;
}

void stack::reset() { stack_s.top = stack_s.arguments + 1; }

cell stack::top_value() { return stack_s.top > stack_s.start ? *(stack_s.top - 1) : cell{TYPE_UNSET, 0, 0, 0}; }

bool arg_given(const cell* refinement) { return refinement && refinement > stack::arguments(); }

void refinements_none(const cell* refinement, uint32_t index, uint32_t count)
{
    cell* window = stack::arguments() + index;
    if (!cell_falsy(refinement)) {
        window->data1 = 1;
        return;
    }
    for (uint32_t i = 1; i <= count; i++) window[i].header = TYPE_NONE;
}

// ---- argument checks ----------------------------------------------------------------------------

void (*call_words_hook)(int32_t index, cell* function_word, cell* argument_word);

namespace {
void words_of_call(int32_t index, cell* function_word, cell* argument_word)
{
    *function_word = none_value;
    *argument_word = none_value;
    if (call_words_hook) call_words_hook(index, function_word, argument_word);
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
