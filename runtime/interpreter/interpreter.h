// The interpreter: walks blocks by node and index, evaluates expressions onto the argument stack,
// gathers arguments by each callable's argument cache and calls natives, actions and functions.
// Must not break: no cell or buffer address of a movable series is held across anything that
// may allocate or evaluate (the code block is re-read through its node after every step), and a
// non-local exit is answered by returning at once with the stacks as the exit left them.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"
#include "runtime/stack.h"
#include "runtime/memory.h"

struct interpreter_state {
    // The block being evaluated, its index at the expression being evaluated: an error's near.
    cell current_code;
    cell tracer;   // the trace callback's cell (none: no trace)
    // Installed by the loader above this layer: all values of a text (string! from its index) as
    // a new block, pushed. Null until the lexer exists.
    cell* (*load_text)(const cell* text);
};
extern interpreter_state interpreter_s;

// The mode of an argument, kept in header bits 20-21 of its typeset! entry in the argument cache.
enum arg_mode : uint32_t { ARG_EVALUATE = 0, ARG_GET = 1, ARG_LITERAL = 2, ARG_SKIP = 3 };
constexpr uint32_t ARG_MODE_SHIFT = 20;
inline uint32_t arg_mode_of(const cell* entry) { return (entry->header >> ARG_MODE_SHIFT) & 3; }

// How apply hands a call its arguments (fetch-args modes): every argument and refinement of the
// spec in order (ALL), or the refinements named by the path with their values (NAMED); SAFER
// takes each argument as the single next value and skips those of unused refinements.
enum apply_mode : uint32_t { APPLY_NONE = 0, APPLY_ALL = 1, APPLY_NAMED = 2, APPLY_SAFER = 4 };

// The refinements a call was reached with: the elements of a path from `first` to its tail.
struct path_refs {
    cell path;        // the path value (any path kind)
    uint32_t first;   // absolute index of the first refinement element
};

namespace interpreter {
void init();

// Evaluates the block from its index in a frame of its own: the last value (unset for an empty
// block) is pushed, and with keep also copied into the current window's result cell.
void eval(const cell* block, bool keep);
// One expression at `pos` of the code block, pushed on the stack; returns the position after it.
// no_infix: the expression stops after its first value (the right operand of an operator).
uint32_t eval_expression(node_ref code, uint32_t pos, bool no_infix);
// One expression of the block from position `pos` in a frame of its own, pushed; returns the
// position after it (the tail when pos is there: then unset is pushed).
uint32_t eval_next(const cell* block, uint32_t pos);
// Calls a callable whose arguments are taken from the code at `pos`: pushes the result and
// returns the position after the last argument. name: the word the call is known by (null: none).
// refs: the path's refinements; its `first` is moved past the elements the call took.
uint32_t eval_code(const cell* callable, node_ref code, uint32_t pos, const cell* name, path_refs* refs,
                   uint32_t mode);
// Runs a function! whose arguments fill the current window; the result ends in base[0].
void call_function(const cell* function);
// The one way C++ calls Kiv code (change handlers, port actors, sort comparisons, trace, parse and
// lexer callbacks): the callable (function!, native!, action!, op!, routine!) gets the `count`
// values as its leading arguments, checked against their types as in a call written in Kiv, its
// refinements unused and its other arguments none; with `whole` the values fill every argument
// and refinement in spec order instead, a refinement used when its value is truthy (as apply/all
// gives them). Its frame is named by `name` (null: <anon>). Returns the result. A non-local exit that leaves the call (a throw, a break or return aimed
// beyond it) has moved the stacks to its target: it raises exit_unwind, so that every C++ caller
// stops at once, and the nearest block evaluation passes the exit on as evaluation does.
cell call_value(const cell* callable, const cell* name, const cell* args, uint32_t count, bool whole = false);
// Evaluates a path (any path kind) at the given code position: pushes its value and returns the
// position after what it consumed. set: the value to store (a set-path), else null.
uint32_t eval_path(const cell* path, node_ref code, uint32_t pos, const cell* set, bool get);

// The argument cache of a callable (native!, action!, op!, function!, routine!), built on the
// first call and kept in cell 1 of its more block: a node of cells.
node_ref arg_cache(const cell* callable);
// The number of refinements of a native or action, from its cache (its last integer!).
uint32_t refinement_count(node_ref cache);
// For callers that did not check (compiled code): each argument cell of the current window
// against the callable's spec, the arguments of unused refinements aside (refs: the window index
// of each refinement's first argument, -1 when unused). script/expect-arg names `name`.
void check_args(const cell* callable, const int32_t* refs, const cell* name);

// The code position an error names: the current block at its index (none when there is none).
cell near_value();

// A catch point for errors: the stacks, the frame stack and the current code as they were when it
// was made, put back when a raised error is caught there.
struct catch_point {
    cell* top;
    cell* base;
    call_frame* frame_top;
    cell code;
    catch_point();
    void restore() const;
    // The error being raised as a value, made while the frames are still as the error left them
    // (its where and near come from them) but with the argument stack lowered to this point, so
    // that an overflow of that stack leaves room to make it; then everything is restored.
    cell take_error() const;
};
// The error being raised as a value (the error record made into an error!), pushed.
cell* raised_error_value();
// The text of an error value, as UTF-8 (an error raised before the catalogue exists is its code).
std::string error_text(const cell* error);
// An error that reached the outermost level with no try frame to catch it: its formed text on the
// error box (standard error in test mode), then the process ends with status -2.
[[noreturn]] void uncaught_error();
// The formed text of the error being raised, made with the argument stack emptied (for the front
// ends' reports at the outermost level).
std::string raised_error_text();
}  // namespace interpreter
