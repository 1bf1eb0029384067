// The argument stack's cells and windows.
#include "runtime/interpreter/stack.h"

#include "runtime/datatypes/logic.h"
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
