// The interpreter's own parts shared by its files (evaluation, calls, operators, paths, exits):
// reading code and words, the recent-callable table, the operators' fast path, and the hot steps
// (an operand, a block, a function's body) that every file inlines. Nothing here is for other
// modules: they use interpreter.h.
#pragma once

#include <windows.h>

#include "runtime/interpreter/interpreter.h"

#include <emmintrin.h>

#include <cstring>
#include <vector>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"
#include "runtime/datatypes/string.h"
#include "runtime/rterror.h"

namespace interp {

constexpr uint32_t CALL_INFIX = 8;       // mode bit: the left operand is already base[0]
constexpr uint32_t MAX_REFINEMENTS = 32;   // of a native or action (find has 12)

// ---- reading code -------------------------------------------------------------------------------

inline cell* code_at(node_ref code, uint32_t pos) { return at<cell>(series_of(code)->head) + pos; }
inline uint32_t code_tail(node_ref code)
{
    series_buffer* s = series_of(code);
    return (s->tail - s->head) >> 4;
}

inline bool callable_type(uint32_t t)
{
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// The global context and its values block, whose node never changes: a global word's value is
// read without going through the context's own cell.
extern node_ref global_context, global_values;

// The innermost running function's context and its window: what its context cell's values
// pointer holds while the call runs, kept here so that its words are read without going through
// that cell. Set and given back with the pointer itself (values_scope).
struct running_call {
    node_ref ctx = UINT32_MAX;   // no context has this node
    cell* window = nullptr;
};
extern running_call running;

// The value cell of a word, or null when it has none to read (unbound, or a function context
// outside its call). Allocates nothing and raises nothing.
inline cell* word_slot(const cell* w)
{
    node_ref ctx = w->data1;
    if (ctx == global_context) {
        series_buffer* s = series_of(global_values);
        cell* c = at<cell>(s->head) + w->data3;
        return c < at<cell>(s->tail) && int32_t(w->data3) >= 0 ? c : nullptr;
    }
    if (ctx == running.ctx) {
        cell* c = running.window + w->data3;
        return c < stack_s.top && int32_t(w->data3) >= 0 ? c : nullptr;
    }
    if (!ctx || int32_t(w->data3) < 0) return nullptr;
    const cell* cc = context::cell_of(ctx);
    if (cc->header & CONTEXT_ON_STACK) {
        if (!cc->data2) return nullptr;
        cell* c = at<cell>(cc->data2) + w->data3;
        return c < stack_s.top ? c : nullptr;
    }
    series_buffer* s = series_of(cc->data2);
    cell* c = at<cell>(s->head) + w->data3;
    return c < at<cell>(s->tail) ? c : nullptr;
}

// Sets a word as word::set does. A word of the global context or of the running call, whose slot
// is known, is stored at once: neither kind of context tells an owner of the change.
inline void store_word(cell* w, const cell* value)
{
    node_ref ctx = w->data1;
    cell* slot = ctx == global_context || ctx == running.ctx ? word_slot(w) : nullptr;
    if (slot) *slot = *value;
    else word::set(w, value);
}

// The value of a word; a word with nowhere to read raises as the context module says.
inline cell* word_value(const cell* w)
{
    cell* c = word_slot(w);
    return c ? c : context::get_in(w, w->data1);
}

// The cell a path of two elements reaches without the path walk: a word holding an object and
// one of its fields (o/a, o/a: v, the value stored first), or a word holding a block and an index
// (b/2, read only). Null when the walk has more to do: another shape, a field the object's own
// step must answer, an index out of range. The cell lies in a movable buffer: copy it before
// anything allocates. Outside a trace only.
inline const cell* path_target(const cell* path, const cell* set)
{
    const series_buffer* s = series_of(path->data2);
    if (path->data1 + 2 != (s->tail - s->head) >> 4) return nullptr;
    const cell* head = at<cell>(s->head) + path->data1;
    if (cell_type(head) != TYPE_WORD) return nullptr;
    const cell* container = word_slot(head);
    if (!container) return nullptr;
    if (cell_type(container) == TYPE_OBJECT && cell_type(head + 1) == TYPE_WORD)
        return object::path_field(container, head + 1, set);
    if (!set && cell_type(container) == TYPE_BLOCK && cell_type(head + 1) == TYPE_INTEGER)
        return block::path_cell(container, integer_of(head + 1));
    return nullptr;
}

// The value of a path read as an operand, as path_target finds it; null also for a value the
// path would call.
inline const cell* path_slot(const cell* path)
{
    const cell* r = path_target(path, nullptr);
    return r && !callable_type(cell_type(r)) ? r : nullptr;
}

// ---- the argument cache -------------------------------------------------------------------------

// The kind of callable the cache serves: an op! answers for the callable it wraps.
inline uint32_t callee_type(const cell* fn)
{
    uint32_t t = cell_type(fn);
    return t == TYPE_OP ? (fn->header >> op::WRAPPED_SHIFT) & 0xFF : t;
}
inline bool native_kind(uint32_t t) { return t == TYPE_NATIVE || t == TYPE_ACTION; }

inline cell* cache_at(node_ref cache, uint32_t i) { return code_at(cache, i); }

// The argument cache, built on the first call.
inline node_ref cache_of(const cell* fn)
{
    const cell* held = at<cell>(series_of(fn->data3)->head) + native::MORE_CACHE;
    return cell_type(held) == TYPE_BLOCK ? held->data2 : interpreter::arg_cache(fn);
}

// The callables met lately, by their more block: where each one's argument cache and body are.
// The addresses hold while no collection has run since they were taken (the cache is the
// runtime's own block, which only a collection moves, and a more block node can be freed and
// made again only by a collection), which saves walking the two blocks at every call.
struct recent_callable {
    node_ref more = 0;
    uint32_t cycles = 0;
    node_ref cache = 0;
    uint32_t count = 0;     // entries of the cache
    cell* entries = nullptr;
    uint32_t leading = 0;   // evaluated arguments (and return: entries) first in the cache;
                            // NOT_PLAIN when another kind of argument comes before any
                            // refinement or local
    cell body;              // function! and routine!: more block cell 0
    uint32_t native_nones = 0;   // native! and action! with plain leading arguments: the cells
    uint32_t refinements = 0;    // their defaults push (none for each refinement's argument) and
                                 // their refinements; native_nones is NOT_PLAIN for the others
};
constexpr uint32_t RECENT_CALLABLES = 256;
constexpr uint32_t NOT_PLAIN = UINT32_MAX;
extern recent_callable recent[RECENT_CALLABLES];

[[gnu::noinline]] const recent_callable& learn_callable(const cell* fn, recent_callable& r);

inline const recent_callable& callable_info(const cell* fn)
{
    recent_callable& r = recent[(fn->data3 >> 2) & (RECENT_CALLABLES - 1)];
    if (r.more == fn->data3 && r.cycles == collector_s.cycles) [[likely]] return r;
    return learn_callable(fn, r);
}

// The argument context of a callable: its own for function! and routine!, the more block's first
// cell for native! and action!.
node_ref arg_context_of(const cell* fn);
// The word of cache entry `index`: the entries stand in context order, skip entries aside.
cell argument_word(const cell* fn, node_ref cache, uint32_t index);
// The name a call's errors give: its word, or <anon>.
cell call_name(const cell* name);
[[noreturn]] void expect_arg(const cell* fn, node_ref cache, uint32_t index, const cell* name, uint32_t type);

inline void check_arg(const cell* fn, node_ref cache, uint32_t index, const cell* name, const cell* value)
{
    const cell* entry = cache_at(cache, index);
    if (!typeset_has(entry, cell_type(value))) expect_arg(fn, cache, index, name, cell_type(value));
}

// Refinement bookkeeping of one call.
struct refinement_state {
    int32_t ints[MAX_REFINEMENTS];   // natives and actions: window index of each, -1 unused
    uint32_t count = 0;
};

// What push_defaults gives a native or action past its leading arguments, from the counts
// learn_callable took: a none per refinement argument, every refinement unused.
inline void push_native_defaults(uint32_t nones, uint32_t refinements, refinement_state& state)
{
    cell* top = stack_s.top;
    if (uint32_t(stack_s.end - top) < nones) stack::overflow();
    for (uint32_t k = 0; k < nones; k++) top[k] = none_value;
    stack_s.top = top + nones;
    std::memset(state.ints, 0xFF, refinements * sizeof(int32_t));
    state.count = refinements;
}

// Calls the native, action or routine whose window is filled.
void invoke(const cell* fn, const refinement_state& refs);

// An operator's value, or null: the word must be readable (a function's word outside its call is
// not) and hold an op!.
inline const cell* infix_op(const cell* next)
{
    if (cell_type(next) != TYPE_WORD) return nullptr;
    const cell* v = word_slot(next);
    return v && cell_type(v) == TYPE_OP ? v : nullptr;
}

uint32_t infix_chain(node_ref code, uint32_t pos, cell* start, const cell* op);

// The datatypes whose values evaluate to themselves (the rest need eval_expression's cases).
inline bool self_evaluating(uint32_t t)
{
    switch (t) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_PAREN: case TYPE_PATH:
    case TYPE_GET_PATH: case TYPE_SET_PATH: case TYPE_LIT_PATH: case TYPE_OP: case TYPE_NATIVE: case TYPE_ACTION:
    case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_ISSUE: case TYPE_UNSET:
        return false;
    default:
        return true;
    }
}

// Tracing: the expression evaluator proper (which reports a value it pushes as it is, before any
// operator), and its traced wrapper that reports the value fetched. Only reached while a trace is
// on.
uint32_t plain_expression(node_ref code, uint32_t pos, bool no_infix);

// The code goes to the callback as what it is: the block or paren being evaluated (the current
// code), else a block.
void fire_traced(trace_event event, node_ref code, int32_t pos, const cell* ref, const cell* value,
                 uint32_t type = TYPE_UNSET);
uint32_t traced_expression(node_ref code, uint32_t pos, bool no_infix);

// ---- the operator fast path ---------------------------------------------------------------------

enum fast_op : int32_t {
    FAST_NONE = -1, FAST_ADD, FAST_SUBTRACT, FAST_MULTIPLY, FAST_DIVIDE, FAST_EQUAL, FAST_NOT_EQUAL,
    FAST_STRICT_EQUAL, FAST_LESSER, FAST_GREATER, FAST_LESSER_EQUAL, FAST_GREATER_EQUAL
};

// The operators whose two-integer and two-float cases the interpreter computes itself: those that
// wrap the add, subtract, multiply and divide actions and the seven comparison natives.
inline fast_op fast_op_of(const cell* op)
{
    uint32_t wrapped = (op->header >> op::WRAPPED_SHIFT) & 0xFF;
    uint32_t slot = op->data1;
    if (wrapped == TYPE_ACTION) {
        switch (slot) {
        case ACT_ADD: return FAST_ADD;
        case ACT_SUBTRACT: return FAST_SUBTRACT;
        case ACT_MULTIPLY: return FAST_MULTIPLY;
        case ACT_DIVIDE: return FAST_DIVIDE;
        default: return FAST_NONE;
        }
    }
    if (wrapped == TYPE_NATIVE && slot >= natives::N_EQUAL_Q && slot <= natives::N_GREATER_OR_EQUAL_Q)
        return fast_op(FAST_EQUAL + int32_t(slot - natives::N_EQUAL_Q));
    return FAST_NONE;
}

// The compare code of each comparison operator, in fast_op order from FAST_EQUAL.
constexpr int32_t fast_compare_codes[] = {COMP_EQUAL, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_LESSER,
                                          COMP_GREATER, COMP_LESSER_EQUAL, COMP_GREATER_EQUAL};
constexpr uint32_t fast_math_codes[] = {MATH_ADD, MATH_SUBTRACT, MATH_MULTIPLY, MATH_DIVIDE};

// A cell written by one 16-byte store: a cell read whole right after a partial write of it
// (its payload word, as the arithmetic routines do) stalls the processor's store forwarding.
inline void store_cell(cell* to, uint32_t header, uint32_t d1, uint32_t d2, uint32_t d3)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_set_epi32(int(d3), int(d2), int(d1), int(header)));
}
inline void store_float(cell* to, uint32_t header, double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    store_cell(to, header, 0, uint32_t(bits), uint32_t(bits >> 32));
}

// An integer and a float: the arithmetic is the float's, its result a float! with the left
// operand's other header bits; a comparison is the float routine's over the integer's double
// (the integer's own header kept, as the integer routine does). False for other pairs.
bool mixed_apply(fast_op op, cell* left, const cell* right);

// Computes into `left` what the action or native would, for two integers or two floats, with the
// same results, promotions and headers as integer::do_math_op, float_::do_math_op and the compare
// routines (a test holds the two side by side). False when the operands are of other types, or
// when the operation would raise (integer division by zero or of -2147483648 by -1): the generic
// call then raises it as the action does.
[[gnu::always_inline]] inline bool fast_apply(fast_op op, cell* left, const cell* right)
{
    uint32_t t = cell_type(left);
    if (t != cell_type(right)) [[unlikely]] return mixed_apply(op, left, right);
    if (t == TYPE_INTEGER) {
        int32_t a = int32_t(left->data2), b = int32_t(right->data2), r;
        switch (op) {
        case FAST_ADD: case FAST_SUBTRACT: case FAST_MULTIPLY: {
            uint32_t code = fast_math_codes[op];
            if (integer::small_op(a, b, code, &r)) store_cell(left, left->header, left->data1, uint32_t(r), left->data3);
            else store_float(left, TYPE_FLOAT, integer::wide_float(a, b, code));
            return true;
        }
        case FAST_DIVIDE:
            if (integer::whole_quotient(a, b, &r)) {
                store_cell(left, left->header, left->data1, uint32_t(r), left->data3);
                return true;
            }
            if (b == 0 || (a == INT32_MIN && b == -1)) return false;   // the action raises
            store_float(left, TYPE_FLOAT, double(a) / double(b));
            return true;
        default: {
            bool truth = actions::compare_answer(fast_compare_codes[op - FAST_EQUAL], integer::order(a, b));
            store_cell(left, TYPE_LOGIC, truth, 0, 0);
            return true;
        }
        }
    }
    if (t == TYPE_FLOAT) {
        if (op <= FAST_DIVIDE) {
            store_float(left, left->header, float_::basic_op(cell_float(left), cell_float(right), fast_math_codes[op]));
            return true;
        }
        int32_t code = fast_compare_codes[op - FAST_EQUAL];
        bool truth = actions::compare_answer(code, float_::compare_doubles(cell_float(left), cell_float(right), code));
        store_cell(left, TYPE_LOGIC, truth, 0, 0);
        return true;
    }
    return false;
}

// A comparison of two texts of one type, computed as the comparison native computes it (the
// type's compare routine, which neither allocates nor raises for two texts of its own type):
// the native's frame is needed only where it could raise. False for other operands.
inline bool text_compare(fast_op op, cell* left, const cell* right)
{
    uint32_t t = cell_type(left);
    if (op < FAST_EQUAL || t != cell_type(right) || !any_string_q(t)) return false;
    int32_t code = fast_compare_codes[op - FAST_EQUAL];
    int32_t answer = actions::compare_raw(left, const_cast<cell*>(right), code);
    if (answer == -2) return false;
    store_cell(left, TYPE_LOGIC, actions::compare_answer(code, answer), 0, 0);
    return true;
}

// An operator chain whose right operands are numbers or texts written in the code or read from
// words or two-element paths: each operator that takes its fast path (or compares two texts) is
// computed here, in place on the value at `start`, without a call; the chain goes on through
// infix_chain from the first operator that does not.
[[gnu::always_inline]] inline uint32_t operators_after(node_ref code, uint32_t pos, cell* start, const cell* op)
{
    for (;;) {
        series_buffer* s = series_of(code);
        const cell* at_op = at<cell>(s->head) + pos;
        const cell* end = at<cell>(s->tail);
        fast_op f = fast_op_of(op);
        if (f == FAST_NONE || at_op + 1 >= end) break;
        const cell* right = at_op + 1;
        uint32_t rt = cell_type(right);
        if (rt != TYPE_INTEGER && rt != TYPE_FLOAT && !any_string_q(rt)) {
            right = rt == TYPE_WORD ? word_slot(right) : rt == TYPE_PATH ? path_slot(right) : nullptr;
            if (!right) break;
            rt = cell_type(right);
        }
        if (rt == TYPE_INTEGER || rt == TYPE_FLOAT) {
            if (!fast_apply(f, start, right)) break;
        } else if (!text_compare(f, start, right)) {
            break;
        }
        pos += 2;
        if (at_op + 2 >= end) return pos;
        op = infix_op(at_op + 2);
        if (!op) return pos;
    }
    return infix_chain(code, pos, start, op);
}

// A call by a word (or a path's head or field, whose refinements come in refs), as eval_code makes
// it but leaner: outside a trace only.
uint32_t call_word(const cell* value, node_ref code, uint32_t pos, const cell* name, path_refs* refs = nullptr);

// A path of a word holding a callable and refinement words (f/a/b) at `pos`, called as
// eval_path calls it, without the walk. Returns the code position after the call's arguments, or
// 0 for a path of another shape (eval_path's to evaluate). Outside a trace only.
uint32_t call_path(node_ref code, uint32_t pos);
// A path operand that path_slot does not read: called by call_path, else evaluated by
// eval_expression, with the operators after it.
uint32_t path_operand(node_ref code, uint32_t pos, bool no_infix);

// One expression, as eval_expression evaluates it, with its commonest cases (a literal, a word
// whose value is called or not, a paren) handled here without the full evaluator's frame.
[[gnu::always_inline]] inline uint32_t eval_operand(node_ref code, uint32_t pos, bool no_infix)
{
    if (tracing_now()) [[unlikely]] return interpreter::eval_expression(code, pos, no_infix);
    series_buffer* s = series_of(code);
    cell* c = at<cell>(s->head) + pos;
    cell* start = stack_s.top;
    uint32_t t = cell_type(c);
    if (t == TYPE_WORD) {
        cell* value = word_slot(c);
        uint32_t vt = value ? cell_type(value) : TYPE_UNSET;
        if (self_evaluating(vt)) {
            stack::push(value);
        } else if (callable_type(vt)) {
            cell name = *c;
            pos = call_word(value, code, pos + 1, &name) - 1;
            if (exit_code() || no_infix) return pos + 1;
            s = series_of(code);
            c = at<cell>(s->head) + pos;
        } else {
            return interpreter::eval_expression(code, pos, no_infix);
        }
    } else if (self_evaluating(t)) {
        stack::push(c);
    } else if (t == TYPE_PAREN) {
        cell paren = *c;
        interpreter::eval(&paren, false);
        if (exit_code() || no_infix) return pos + 1;
        s = series_of(code);
        c = at<cell>(s->head) + pos;
    } else if (t == TYPE_PATH) {
        const cell* value = path_slot(c);
        if (!value) return path_operand(code, pos, no_infix);
        stack::push(value);
    } else {
        return interpreter::eval_expression(code, pos, no_infix);
    }
    // c: the operand's last cell; an operator may follow it.
    if (no_infix || c + 1 >= at<cell>(s->tail)) return pos + 1;
    const cell* op = infix_op(c + 1);
    return op ? operators_after(code, pos + 1, start, op) : pos + 1;
}


// A block needs no frame of its own: each expression's value is pushed at the same start, so the
// last one is what stays, and an exit leaves the stacks where its catch point wants them.
[[gnu::always_inline]] inline void eval_block(const cell* block, bool keep)
{
    machine_stack_check();
    node_ref code = block->data2;
    uint32_t pos = block->data1;
    cell* start = stack_s.top;
    if (pos >= code_tail(code)) {
        stack::push(&unset_value);
    } else {
        // Given back on the way out, not on an error: the error's near is read from it when the
        // error is caught, and the catch point puts it back after.
        cell saved = interpreter_s.current_code;
        interpreter_s.current_code = cell{cell_type(block), pos, code, 0};
        // An exit out of Kiv code that C++ called (exit_unwind) ends here like any other exit.
        try {
            if (tracing_now()) [[unlikely]] fire_traced(TRACE_ENTER, code, pos, nullptr, nullptr);
            for (;;) {
                pos = eval_operand(code, pos, false);
                if (exit_code()) break;
                if (tracing_now()) [[unlikely]] fire_traced(TRACE_EXPR, code, pos, nullptr, stack_s.top - 1);
                if (pos >= code_tail(code)) break;
                interpreter_s.current_code.data1 = pos;
                stack_s.top = start;
            }
        } catch (const exit_unwind&) {
        }
        interpreter_s.current_code = saved;
        if (exit_code()) return;
        if (tracing_now()) [[unlikely]]
            fire_traced(TRACE_EXIT, code, int32_t(code_tail(code)), nullptr, start, cell_type(block));
    }
    if (keep && start != stack_s.arguments) *stack_s.arguments = *start;
}

// Points a function context's values at the call's window for the call, and back at what they
// were on any way out: each recursive call gives its caller's window back on return.
struct values_scope {
    node_ref ctx;
    uint32_t saved;
    running_call outer = running;
    values_scope(node_ref c, cell* window) : ctx(c)
    {
        cell* cc = context::cell_of(c);
        saved = cc->data2;
        cc->data2 = ref_of(window);
        running = {c, window};
    }
    ~values_scope()
    {
        context::cell_of(ctx)->data2 = saved;
        running = outer;
    }
    values_scope(const values_scope&) = delete;
    values_scope& operator=(const values_scope&) = delete;
};

// Runs a function's body in the current frame, whose window holds its arguments: the frame is
// where its return or exit stops, and the function's context reads its words from the window.
[[gnu::always_inline]] inline void run_body(const cell* fn, cell body)
{
    node_ref ctx = fn->data1;
    call_frame* frame = stack::current();
    frame->fn_context = ctx;
    frame->header |= FRAME_RETURN_TARGET;
    values_scope scope(ctx, stack_s.arguments);
    if (tracing_now()) [[unlikely]] {
        cell name{TYPE_WORD, frame->context, frame_symbol_of(frame), uint32_t(-1)};
        trace::fire(TRACE_PROLOG, &body, -1, &name, fn);
    }
    eval_block(&body, true);
    if (tracing_now() && !exit_code()) [[unlikely]] {
        cell name{TYPE_WORD, frame->context, frame_symbol_of(frame), uint32_t(-1)};
        trace::fire(TRACE_EPILOG, &body, -1, &name, fn);
    }
    frame->header &= ~FRAME_RETURN_TARGET;
    uint32_t code = exit_code();
    if (code == EXIT_RETURN || code == EXIT_EXIT) set_exit_code(EXIT_NONE);
}

// A call's frame popped and its result moved down into the callable's cell under the window.
inline uint32_t end_call(cell* slot, uint32_t pos)
{
    stack::unwind_keep();
    *slot = *(stack_s.top - 1);
    stack_s.top = slot + 1;
    return pos;
}

// The error hooks of the call stack (exits.cpp).
void trace_in(cell* block, int32_t frame, int32_t level);
int32_t form_trace(cell* buffer, int32_t frame, int32_t level, int32_t part);
void words_of_call(int32_t index, cell* function_word, cell* argument_word);
}  // namespace interp
