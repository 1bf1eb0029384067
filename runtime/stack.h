// The argument stack and the call-frame stack: two fixed buffers that never move, so addresses of
// their cells and records stay valid across allocations. Each call has a window of argument cells
// whose first cell receives its result; each frame record names the call and saves the caller's
// window. Non-local exits (break, continue, return, exit, throw) are a code in system_s and a
// plain return: the exit native moves the stacks to the catch point, every evaluating routine
// returns as soon as it sees the code, and the catch point clears it. Errors are C++ exceptions.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/cells.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/system.h"

// A frame record: five 32-bit words. base is the caller's window base as a cell index from the
// start of the argument stack (no pointer in a 32-bit field); context the context node of the
// called word; fn_context and fn_values the function context whose values pointer the frame
// saved, and that pointer (0 and 0 when none).
struct call_frame {
    uint32_t header;   // symbol << 8 | kind << 24 | flags
    uint32_t base;
    uint32_t context;
    uint32_t fn_context;
    uint32_t fn_values;
};
static_assert(sizeof(call_frame) == 20);

enum frame_kind : uint32_t {
    FRAME_FUNCTION = 1, FRAME_NATIVE = 2, FRAME_TRY = 4, FRAME_TRY_ALL = 5, FRAME_CATCH = 6, FRAME_EVAL = 7,
    FRAME_LOOP = 8, FRAME_OTHER = 9
};
constexpr uint32_t FRAME_KIND_SHIFT = 24;
constexpr uint32_t FRAME_KIND_MASK = 0x0F000000u;
constexpr uint32_t FRAME_RETURN_TARGET = 0x10000000u;
constexpr uint32_t FRAME_INTERPRETED = 0x80000000u;
// The header bytes as the interpreter and the natives push them.
constexpr uint32_t FRAME_INTERP_FUNCTION = FRAME_INTERPRETED | FRAME_FUNCTION << FRAME_KIND_SHIFT;   // 0x81
constexpr uint32_t FRAME_INTERP_NATIVE = FRAME_INTERPRETED | FRAME_NATIVE << FRAME_KIND_SHIFT;       // 0x82
constexpr uint32_t FRAME_INTERP_EVAL = FRAME_INTERPRETED | FRAME_EVAL << FRAME_KIND_SHIFT;           // 0x87
inline uint32_t frame_kind_of(const call_frame* f) { return (f->header & FRAME_KIND_MASK) >> FRAME_KIND_SHIFT; }
inline uint32_t frame_symbol_of(const call_frame* f) { return (f->header >> 8) & 0xFFFF; }

// Non-local exit codes, highest first; a catch point takes every code up to its threshold.
enum exit_code : uint32_t {
    EXIT_NONE = 0,
    EXIT_THROW = 0x7FFFFFFAu,
    EXIT_EXIT = 0x7FFFFFFBu,
    EXIT_RETURN = 0x7FFFFFFCu,
    EXIT_CONTINUE = 0x7FFFFFFDu,
    EXIT_BREAK = 0x7FFFFFFEu,
    EXIT_ERROR = 0x7FFFFFFFu,
};

// A non-local exit leaving Kiv code that C++ called (a handler, callback or actor): the exit has
// already moved the stacks to its target, and this unwinds the C++ callers in between up to the
// nearest block evaluation, which passes the exit on as any evaluation does. Only exits that
// cross C++ code take it; the others never cost an exception.
struct exit_unwind {};

struct stack_state {
    node_ref args_node;    // the argument stack's buffer (fixed)
    cell* start;
    cell* end;
    cell* arguments;       // base of the current window (its result cell)
    cell* top;             // one past the last pushed cell
    node_ref frames_node;  // the call-frame stack's buffer (fixed)
    call_frame* bottom;
    call_frame* frame_end;
    call_frame* frame_top;   // one past the current frame
    call_frame* throw_marker;   // where a throw began, for the error's where; null when unset
    uint32_t body_symbol, anon_symbol;   // <body> and <anon>: frames that name no call
};
extern stack_state stack_s;

namespace stack {
constexpr uint32_t ARGS_CELLS = 20000;
constexpr uint32_t FRAME_CELLS = 15000;
constexpr uint32_t FRAMES = FRAME_CELLS * 16 / sizeof(call_frame);   // 12,000
static_assert(FRAMES == 12000);
// Kept back from evaluation at the end of each stack: the error event of a raise runs there
// (reserve_scope), so a tracer hears even of an overflow.
constexpr uint32_t ARGS_RESERVE = 1000;
constexpr uint32_t FRAMES_RESERVE = 400;

void init();

// ---- the argument stack -------------------------------------------------------------------------
// Gives the stack back to a mark taken earlier, unless a non-local exit is pending (see scope).
inline void release_to(cell* mark)
{
    if (!system_s.exit_code) stack_s.top = mark;
}
[[noreturn]] void overflow();
inline cell* push_slot()
{
    if (stack_s.top >= stack_s.end) overflow();
    cell* c = stack_s.top++;
    c->header = TYPE_UNSET;
    return c;
}
inline cell* push(const cell* value)
{
    cell copy = *value;   // the value may be on the stack's own top
    if (stack_s.top >= stack_s.end) overflow();
    cell* c = stack_s.top++;
    *c = copy;
    return c;
}
void pop(uint32_t n);
inline cell* top() { return stack_s.top; }
inline cell* arguments() { return stack_s.arguments; }
cell* set_last(const cell* value);
// Keeps only the window's result cell (top := base + 1).
void reset();
// Empties the window, result cell included (top := base).
inline void clear_window() { stack_s.top = stack_s.arguments; }
// top := base + 1, the value copied into base[0].
cell* keep_value(const cell* value);
// A copy of the top cell: what compiled code stores. An empty stack reads as unset.
cell top_value();

// Cells pushed for a scope, kept where the collector sees them; the stack returns to its old top on
// leaving, also when an error unwinds through, but not over a pending non-local exit: the exit has
// moved the stacks to its target, which a lower top would cut.
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
    ~scope() { release_to(mark); }
    scope() = default;
    scope(const scope&) = delete;
    scope& operator=(const scope&) = delete;
};
// Opens the reserves of the argument, frame and machine stacks for its duration.
struct reserve_scope {
    cell* end = stack_s.end;
    call_frame* frame_end = stack_s.frame_end;
    uintptr_t floor = machine_stack_floor;
    reserve_scope()
    {
        stack_s.end = stack_s.start + ARGS_CELLS;
        stack_s.frame_end = stack_s.bottom + FRAMES;
        machine_stack_floor = floor - MACHINE_STACK_RESERVE;
    }
    ~reserve_scope()
    {
        stack_s.end = end;
        stack_s.frame_end = frame_end;
        machine_stack_floor = floor;
    }
    reserve_scope(const reserve_scope&) = delete;
    reserve_scope& operator=(const reserve_scope&) = delete;
};
// The window index of a cell.
inline uint32_t index_of(const cell* c) { return uint32_t(c - stack_s.start); }

// ---- frames -------------------------------------------------------------------------------------
[[noreturn]] void frame_overflow();
// Pushes a frame named by the symbol (its word's context given) and opens a new window at the top.
inline cell* mark(uint32_t symbol, node_ref context, uint32_t header)
{
    call_frame* f = stack_s.frame_top;
    if (f >= stack_s.frame_end) frame_overflow();
    f->header = symbol << 8 | header;
    f->base = uint32_t(stack_s.arguments - stack_s.start);
    f->context = context;
    f->fn_context = 0;
    f->fn_values = 0;
    stack_s.frame_top = f + 1;
    return stack_s.arguments = stack_s.top;
}
inline call_frame* current() { return stack_s.frame_top - 1; }
inline bool frames_empty() { return stack_s.frame_top == stack_s.bottom; }
// Pops one frame, the callee's result (base[0]) kept as the caller's last value.
inline void unwind_keep()
{
    call_frame* f = --stack_s.frame_top;
    stack_s.top = stack_s.arguments + 1;
    stack_s.arguments = stack_s.start + f->base;
}
// As unwind_keep, and the result is also copied into the caller's base[0].
inline void unwind_last()
{
    cell result = *stack_s.arguments;
    unwind_keep();
    *stack_s.arguments = result;
}
// Pops one frame and drops its window: the caller's window is as before the frame was pushed.
inline void unwind()
{
    call_frame* f = --stack_s.frame_top;
    stack_s.top = stack_s.arguments;
    stack_s.arguments = stack_s.start + f->base;
}
// The frame records from `from` up to the top are dropped; the argument stack is left as it is.
// The function contexts those frames changed are put back by each call's own `values_scope` as
// the unwinding passes it, not here.
void revert(call_frame* from);

// Sets or clears the return-target flag of the current frame.
inline void set_in_func(bool on)
{
    call_frame* f = current();
    f->header = on ? f->header | FRAME_RETURN_TARGET : f->header & ~FRAME_RETURN_TARGET;
}
// Sets the flag on the frame below the current one unless it is set; returns that frame, or null
// when it was already set (or there is none).
call_frame* set_caller_flag();
void clear_flag(call_frame* f);
// 1 when the frame (the current one when null), or with !single any below it, was pushed by the
// interpreter.
bool eval_q(const call_frame* f, bool single);

// ---- non-local exits ----------------------------------------------------------------------------
// Each moves the stacks to the catch point of its kind and sets the exit code, or raises the throw
// error its kind names when a try/all frame or the bottom comes first. value: the native's base[0].
void throw_break(bool with_value, bool continue_);
void throw_exit(bool with_value, bool from_here);
// throw: value and name are pushed on the catch frame's window.
void throw_value(uint32_t code, const cell* value, const cell* name);
// The word of the innermost named call (the throw marker's frame when set); <not-found> at the
// bottom. The marker is cleared.
cell get_call();
// Appends to the block, from the top frame down, each named call's word (resolved in its
// context, or globally when none was recorded) and its record's window position (cells from the
// stack's start) as an integer!: the call stack as the debugging tools read it.
void collect_calls(cell* block);
// The window position of a frame's saved base (for stack traces).
inline cell* base_of(const call_frame* f) { return stack_s.start + f->base; }

// The collector's marks for the frame records: each call's word context and function context.
void mark_gc();
// How deep the frames go (for tests and traces).
inline uint32_t depth() { return uint32_t(stack_s.frame_top - stack_s.bottom); }
}  // namespace stack

// The exit code in flight: the one test every evaluating routine makes after a sub-evaluation.
inline uint32_t exit_code() { return system_s.exit_code; }
inline void set_exit_code(uint32_t code) { system_s.exit_code = code; }

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
