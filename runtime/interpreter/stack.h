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
}  // namespace stack

// ---- refinements in the arguments window ---------------------------------------------------------
// A refinement argument is given when its cell lies above the arguments base (null is absent).
bool arg_given(const cell* refinement);
// Refinement given: its flag in the window becomes 1; not given: its `count` arguments become none.
void refinements_none(const cell* refinement, uint32_t index, uint32_t count);
