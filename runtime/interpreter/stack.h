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
