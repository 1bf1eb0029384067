// The argument stack: a fixed buffer of cells that never moves, so cell addresses on it stay
// valid across allocations. Each call has a window whose first cell receives its result.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

struct stack_state {
    node_ref args_node;    // the argument stack's buffer (fixed)
    cell* start;
    cell* end;
    cell* arguments;       // base of the current window (its result cell)
    cell* top;             // one past the last pushed cell
    node_ref frames_node;  // the call-frame stack's buffer (fixed)
};
extern stack_state stack_s;

namespace stack {
constexpr uint32_t ARGS_CELLS = 20000;
constexpr uint32_t FRAME_CELLS = 15000;

void init();
cell* push_slot();
cell* push(const cell* value);
void pop(uint32_t n);
inline cell* top() { return stack_s.top; }
inline cell* arguments() { return stack_s.arguments; }
cell* set_last(const cell* value);
void reset();
// A copy of the top cell: what compiled code stores. An empty stack reads as unset.
cell top_value();

// Cells pushed for a scope, kept where the collector sees them; the stack returns to its old top on
// leaving, also when an error unwinds through.
struct scope {
    cell* mark = top();
    cell* push(const cell& c) { return stack::push(&c); }
    // Drops what the scope pushed but leaves c on the stack for the caller, and returns it there.
    cell* result(const cell& c)
    {
        stack_s.top = mark;
        cell* r = stack::push(&c);
        mark = top();
        return r;
    }
    ~scope() { stack_s.top = mark; }
    scope() = default;
    scope(const scope&) = delete;
    scope& operator=(const scope&) = delete;
};
}  // namespace stack

// ---- refinements in the arguments window ---------------------------------------------------------
// A refinement argument is given when its cell lies above the arguments base (null is absent).
bool arg_given(const cell* refinement);
// Refinement given: its flag in the window becomes 1; not given: its `count` arguments become none.
void refinements_none(const cell* refinement, uint32_t index, uint32_t count);

// ---- argument checks ----------------------------------------------------------------------------
// The words an argument error names: the running function's word and the word of its argument
// `index` (none for index < 0). Installed by the evaluator, which knows the call; until then
// both are none.
extern void (*call_words_hook)(int32_t index, cell* function_word, cell* argument_word);
cell running_function_word();
// script/expect-arg: the running function, the datatype given, the argument's word.
[[noreturn]] void fire_expect_arg(int32_t index, uint32_t type);
// Each returns the value checked. The value's datatype must be in the typeset.
cell* arg_type_check(const cell* typeset, int32_t index, cell* value);
// Checks slot n of the current arguments window; nothing for n < 0.
void arg_type_check_at(int32_t n, const cell* typeset, int32_t index);
// Checks only when the refinement was given (its word 1 is not zero).
cell* arg_type_check_if_used(const cell* refinement, const cell* typeset, int32_t index, cell* value);
// An unset value is refused as expect-arg of unset!.
cell* arg_need_value(int32_t index, cell* value);
