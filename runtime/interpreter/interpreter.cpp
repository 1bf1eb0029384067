// The interpreter core: expressions, calls with the argument cache, infix operators with the
// arithmetic and comparison fast path, functions, paths. Every value an expression produces is
// pushed on the argument stack; a call leaves exactly one cell where its callable was pushed.
// The code block is read through its node at every step: anything evaluated may move it.
#include "runtime/interpreter/interpreter.h"

#include <windows.h>

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

interpreter_state interpreter_s;

namespace {

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
node_ref global_context, global_values;

// The innermost running function's context and its window: what its context cell's values
// pointer holds while the call runs, kept here so that its words are read without going through
// that cell. Set and given back with the pointer itself (values_scope).
struct running_call {
    node_ref ctx = UINT32_MAX;   // no context has this node
    cell* window = nullptr;
};
running_call running;

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
};
constexpr uint32_t RECENT_CALLABLES = 256;
constexpr uint32_t NOT_PLAIN = UINT32_MAX;
recent_callable recent[RECENT_CALLABLES];

[[gnu::noinline]] const recent_callable& learn_callable(const cell* fn, recent_callable& r)
{
    node_ref cache = cache_of(fn);   // building it may collect
    series_buffer* s = series_of(cache);
    r.more = fn->data3;
    r.cycles = collector_s.cycles;
    r.cache = cache;
    r.count = (s->tail - s->head) >> 4;
    r.entries = at<cell>(s->head);
    r.leading = 0;
    while (r.leading < r.count && cell_type(r.entries + r.leading) == TYPE_TYPESET &&
           (arg_mode_of(r.entries + r.leading) == ARG_EVALUATE || arg_mode_of(r.entries + r.leading) == ARG_SKIP))
        r.leading++;
    if (r.leading < r.count && cell_type(r.entries + r.leading) == TYPE_TYPESET) r.leading = NOT_PLAIN;
    r.body = *at<cell>(series_of(fn->data3)->head);
    return r;
}

inline const recent_callable& callable_info(const cell* fn)
{
    recent_callable& r = recent[(fn->data3 >> 2) & (RECENT_CALLABLES - 1)];
    if (r.more == fn->data3 && r.cycles == collector_s.cycles) [[likely]] return r;
    return learn_callable(fn, r);
}

// The argument context of a callable: its own for function! and routine!, the more block's first
// cell for native! and action!.
node_ref arg_context_of(const cell* fn)
{
    if (native_kind(callee_type(fn))) {
        cell more{TYPE_BLOCK, 0, fn->data3, 0};
        return block::ks_abs_at(&more, native::MORE_CONTEXT)->data3;
    }
    return fn->data1;
}

// The word of cache entry `index`: the entries stand in context order, skip entries aside.
cell argument_word(const cell* fn, node_ref cache, uint32_t index)
{
    uint32_t position = 0;
    for (uint32_t i = 0; i < index; i++) {
        const cell* e = cache_at(cache, i);
        if (cell_type(e) == TYPE_REFINEMENT || (cell_type(e) == TYPE_TYPESET && arg_mode_of(e) != ARG_SKIP)) position++;
    }
    node_ref ctx = arg_context_of(fn);
    if (!ctx || position >= context::word_count(ctx)) return none_value;
    cell w = *context::get_word(ctx, position);
    w.header = TYPE_WORD;
    return w;
}

// The name a call's errors give: its word, or <anon>.
cell call_name(const cell* name)
{
    if (name && cell_type(name) == TYPE_WORD) return *name;
    return *rt_word_cell(W_ANON_TAG);
}

[[noreturn]] void expect_arg(const cell* fn, node_ref cache, uint32_t index, const cell* name, uint32_t type)
{
    cell who = call_name(name);
    cell given = datatype::value_of(type);
    cell arg = argument_word(fn, cache, index);
    fire(ERR_SCRIPT, err::EXPECT_ARG, &who, &given, &arg);
}

inline void check_arg(const cell* fn, node_ref cache, uint32_t index, const cell* name, const cell* value)
{
    const cell* entry = cache_at(cache, index);
    if (!typeset_has(entry, cell_type(value))) expect_arg(fn, cache, index, name, cell_type(value));
}

// Appends one typeset entry of the given mode: from the type block at spec index i + 1 when there
// is one (returns true then), else every type but unset!.
bool add_typeset(cell* cache, const cell* spec, uint32_t i, uint32_t mode)
{
    bool typed = i + 1 < block::rs_length(spec) && cell_type(block::rs_head(spec) + i + 1) == TYPE_BLOCK;
    cell* entry;
    if (typed) {
        cell types = block::rs_head(spec)[i + 1];
        entry = typeset::from_block(cache, &types);
    } else {
        entry = typeset::make_all(cache);
    }
    entry->header |= mode << ARG_MODE_SHIFT;
    return typed;
}

bool is_local(const cell* c)
{
    return cell_type(c) == TYPE_REFINEMENT &&
           symbol::resolve(c->data2) == symbol::resolve(rt_refinement_word(REF_LOCAL)->data2);
}

// ---- calls --------------------------------------------------------------------------------------

// Refinement bookkeeping of one call.
struct refinement_state {
    int32_t ints[MAX_REFINEMENTS];   // natives and actions: window index of each, -1 unused
    uint32_t count = 0;
};

uint32_t fetch_one(const cell* fn, node_ref cache, uint32_t index, node_ref code, uint32_t pos, const cell* name,
                   bool no_infix, bool single);

// Calls the native, action or routine whose window is filled.
void invoke(const cell* fn, const refinement_state& refs)
{
    switch (callee_type(fn)) {
    case TYPE_NATIVE:
        natives_s.table[fn->data1 - 1](false, refs.ints);
        break;
    case TYPE_ACTION:
        actions_s.table[fn->data1 - 1](false, refs.ints);
        break;
    case TYPE_ROUTINE: {
        cell more{TYPE_BLOCK, 0, fn->data3, 0};
        routine_fn r = routine::entry(int32_t(block::ks_abs_at(&more, 2)->data2));
        if (!r) fire(ERR_INTERNAL, err::NOT_DONE);
        r();
        break;
    }
    default:
        break;
    }
}

}  // namespace

// ---- the cache ----------------------------------------------------------------------------------

node_ref interpreter::arg_cache(const cell* fn)
{
    const cell* held = at<cell>(series_of(fn->data3)->head) + native::MORE_CACHE;
    if (cell_type(held) == TYPE_BLOCK) return held->data2;
    cell more{TYPE_BLOCK, 0, fn->data3, 0};

    bool natives = native_kind(callee_type(fn));
    cell spec{TYPE_BLOCK, 0, fn->data2, 0};
    cell* mark = stack::top();
    cell* cache = block::push_only_star(8);
    uint32_t refinements = 0;
    uint32_t length = block::rs_length(&spec);
    for (uint32_t i = 0; i < length; i++) {
        cell c = block::rs_head(&spec)[i];
        switch (cell_type(&c)) {
        case TYPE_WORD:
            if (add_typeset(cache, &spec, i, ARG_EVALUATE)) i++;
            break;
        case TYPE_GET_WORD:
            if (add_typeset(cache, &spec, i, ARG_GET)) i++;
            break;
        case TYPE_LIT_WORD:
            if (add_typeset(cache, &spec, i, ARG_LITERAL)) i++;
            break;
        case TYPE_SET_WORD:
            if (symbol::resolve(c.data2) != symbol::resolve(rt_symbol_id(SYM_RETURN)))
                fire(ERR_SCRIPT, err::BAD_FUNC_DEF, &c);
            if (add_typeset(cache, &spec, i, ARG_SKIP)) i++;
            break;
        case TYPE_REFINEMENT:
            if (!natives && is_local(&c)) {
                // The /local flag and one none per word after it; those words are not entered.
                cell count{TYPE_INTEGER, 0, uint32_t(function::count_locals(spec.data2, 0, false)), 0};
                block::rs_append(cache, &count);
                i = length;
                break;
            }
            refinements++;
            if (natives && refinements > MAX_REFINEMENTS) fire(ERR_SCRIPT, err::BAD_FUNC_DEF, &spec);
            c = cell{TYPE_REFINEMENT, 0, c.data2, refinements};
            block::rs_append(cache, &c);
            break;
        default:
            break;   // doc strings, the attribute block
        }
    }
    if (natives && refinements) {
        cell count{TYPE_INTEGER, 0, refinements, 0};
        block::rs_append(cache, &count);
    }
    node_ref node = cache->data2;
    *block::ks_abs_at(&more, native::MORE_CACHE) = *cache;
    stack_s.top = mark;
    return node;
}

uint32_t interpreter::refinement_count(node_ref cache)
{
    uint32_t n = code_tail(cache);
    if (!n) return 0;
    const cell* last = cache_at(cache, n - 1);
    return cell_type(last) == TYPE_INTEGER ? last->data2 : 0;
}

void interpreter::check_args(const cell* callable, const int32_t* refs, const cell* name)
{
    cell fn = *callable;
    cell who = *name;
    node_ref cache = arg_cache(&fn);
    cell* base = stack_s.arguments;
    bool active = true;   // the mandatory arguments, then each used refinement's
    uint32_t slot = 0, refinement = 0;
    for (uint32_t i = 0; i < code_tail(cache); i++) {
        const cell* e = cache_at(cache, i);
        if (cell_type(e) == TYPE_REFINEMENT) {
            active = refs && refs[refinement++] >= 0;
            continue;
        }
        if (cell_type(e) != TYPE_TYPESET || arg_mode_of(e) == ARG_SKIP) continue;
        if (active) check_arg(&fn, cache, i, &who, base + slot);
        slot++;
    }
}

// ---- fetching arguments -------------------------------------------------------------------------

namespace {

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

// Tracing: the expression evaluator proper, and its traced wrapper that reports the value fetched
// and the value pushed. Only reached while a trace is on.
uint32_t plain_expression(node_ref code, uint32_t pos, bool no_infix);

// The code goes to the callback as what it is: the block or paren being evaluated (the current
// code), else a block.
void fire_traced(trace_event event, node_ref code, int32_t pos, const cell* ref, const cell* value,
                 uint32_t type = TYPE_UNSET)
{
    if (type == TYPE_UNSET)
        type = interpreter_s.current_code.data2 == code ? cell_type(&interpreter_s.current_code) : TYPE_BLOCK;
    cell block{type, 0, code, 0};
    trace::fire(event, &block, pos, ref, value);
}

[[gnu::noinline]] uint32_t traced_expression(node_ref code, uint32_t pos, bool no_infix)
{
    cell v = *code_at(code, pos);
    fire_traced(TRACE_FETCH, code, int32_t(pos), nullptr, &v);
    if (exit_code()) return pos + 1;
    uint32_t next = plain_expression(code, pos, no_infix);
    if (exit_code()) return next;
    if (tracing_now()) fire_traced(TRACE_PUSH, code, int32_t(next), nullptr, stack_s.top - 1);
    return next;
}

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
[[gnu::noinline]] bool mixed_apply(fast_op op, cell* left, const cell* right)
{
    uint32_t t = cell_type(left), rt = cell_type(right);
    if (!((t == TYPE_INTEGER && rt == TYPE_FLOAT) || (t == TYPE_FLOAT && rt == TYPE_INTEGER))) return false;
    cell a = *left, b = *right;
    if (t == TYPE_INTEGER) cell_set_float(&a, double(int32_t(left->data2)));
    if (op <= FAST_DIVIDE) {
        double y = rt == TYPE_INTEGER ? double(int32_t(b.data2)) : cell_float(&b);
        store_float(left, (left->header & ~HEADER_TYPE_MASK) | TYPE_FLOAT,
                    float_::do_math_op(cell_float(&a), y, fast_math_codes[op]));
        return true;
    }
    int32_t code = fast_compare_codes[op - FAST_EQUAL];
    bool truth = actions::compare_answer(code, float_::compare(&a, &b, code));
    store_cell(left, TYPE_LOGIC, truth, 0, 0);
    return true;
}

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
            bool overflowed = op == FAST_ADD        ? __builtin_add_overflow(a, b, &r)
                              : op == FAST_SUBTRACT ? __builtin_sub_overflow(a, b, &r)
                                                    : __builtin_mul_overflow(a, b, &r);
            if (!overflowed) {
                store_cell(left, left->header, left->data1, uint32_t(r), left->data3);
                return true;
            }
            double x = a, y = b;
            store_float(left, TYPE_FLOAT, op == FAST_ADD ? x + y : op == FAST_SUBTRACT ? x - y : x * y);
            return true;
        }
        case FAST_DIVIDE:
            if (b == 0 || (a == INT32_MIN && b == -1)) return false;
            if (a % b != 0) store_float(left, TYPE_FLOAT, double(a) / double(b));
            else store_cell(left, left->header, left->data1, uint32_t(a / b), left->data3);
            return true;
        default: {
            int32_t answer = a < b ? -1 : a > b ? 1 : 0;
            bool truth = actions::compare_answer(fast_compare_codes[op - FAST_EQUAL], answer);
            store_cell(left, TYPE_LOGIC, truth, 0, 0);
            return true;
        }
        }
    }
    if (t == TYPE_FLOAT) {
        if (op <= FAST_DIVIDE) {
            store_float(left, left->header, float_::do_math_op(cell_float(left), cell_float(right), fast_math_codes[op]));
            return true;
        }
        cell b = *right;
        int32_t code = fast_compare_codes[op - FAST_EQUAL];
        bool truth = actions::compare_answer(code, float_::compare(left, &b, code));
        store_cell(left, TYPE_LOGIC, truth, 0, 0);
        return true;
    }
    return false;
}

// An operator chain whose right operands are numbers written in the code or read from words:
// each operator that takes its fast path is computed here, in place on the value at `start`,
// without a call; the chain goes on through infix_chain from the first operator that does not.
[[gnu::always_inline]] inline uint32_t operators_after(node_ref code, uint32_t pos, cell* start, const cell* op)
{
    for (;;) {
        series_buffer* s = series_of(code);
        const cell* at_op = at<cell>(s->head) + pos;
        const cell* end = at<cell>(s->tail);
        fast_op f = fast_op_of(op);
        if (f == FAST_NONE || at_op + 1 >= end) break;
        const cell* right = at_op + 1;
        if (cell_type(right) == TYPE_WORD) right = word_slot(right);
        if (!right || (cell_type(right) != TYPE_INTEGER && cell_type(right) != TYPE_FLOAT)) break;
        if (!fast_apply(f, start, right)) break;
        pos += 2;
        if (at_op + 2 >= end) return pos;
        op = infix_op(at_op + 2);
        if (!op) return pos;
    }
    return infix_chain(code, pos, start, op);
}

uint32_t call_word(const cell* value, node_ref code, uint32_t pos, const cell* name);

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
    } else {
        return interpreter::eval_expression(code, pos, no_infix);
    }
    // c: the operand's last cell; an operator may follow it.
    if (no_infix || c + 1 >= at<cell>(s->tail)) return pos + 1;
    const cell* op = infix_op(c + 1);
    return op ? operators_after(code, pos + 1, start, op) : pos + 1;
}


// One argument by its entry's mode, pushed. single: the argument is the next value alone.
[[gnu::noinline]] uint32_t fetch_one(const cell* fn, node_ref cache, uint32_t index, node_ref code, uint32_t pos,
                                     const cell* name, bool no_infix, bool single)
{
    uint32_t mode = arg_mode_of(cache_at(cache, index));
    if (pos >= code_tail(code)) {
        if (mode == ARG_LITERAL && typeset_has(cache_at(cache, index), TYPE_UNSET)) {
            stack::push(&unset_value);
            return pos;
        }
        cell who = call_name(name);
        cell arg = argument_word(fn, cache, index);
        fire(ERR_SCRIPT, err::NO_ARG, &who, &arg);
    }
    if (mode == ARG_EVALUATE) return interpreter::eval_expression(code, pos, no_infix || single);
    cell v = *code_at(code, pos);
    if (mode == ARG_LITERAL) {
        switch (cell_type(&v)) {
        case TYPE_PAREN:
            interpreter::eval(&v, false);
            return pos + 1;
        case TYPE_GET_WORD:
            stack::push(word_value(&v));
            return pos + 1;
        case TYPE_GET_PATH:
            interpreter::eval_path(&v, code, pos + 1, nullptr, true);
            return pos + 1;
        default:
            break;
        }
    }
    stack::push(&v);
    return pos + 1;
}

// The path's refinements, in the path's order, each with its arguments from the code. Returns the
// code position; refs->first is moved to the first element not taken (the tail when all were).
[[gnu::noinline]] uint32_t fetch_refinements(const cell* fn, node_ref cache, uint32_t rest, node_ref code,
                                             uint32_t pos, const cell* name, path_refs* refs,
                                             refinement_state& state, uint32_t mode)
{
    bool natives = native_kind(callee_type(fn));
    uint32_t cache_length = code_tail(cache);
    uint32_t defined = 0;
    for (uint32_t i = rest; i < cache_length; i++) defined += cell_type(cache_at(cache, i)) == TYPE_REFINEMENT;
    uint64_t seen_small = 0;
    std::vector<bool> seen_large;
    if (defined > 64) seen_large.resize(defined);
    cell* base = stack_s.arguments;
    node_ref path = refs->path.data2;
    for (uint32_t p = refs->first; p < code_tail(path); p++) {
        cell el = *code_at(path, p);
        uint32_t et = cell_type(&el);
        bool used = true;
        if (et == TYPE_GET_WORD) used = !cell_falsy(word_value(&el));
        else if (et != TYPE_WORD && !(et == TYPE_REFINEMENT && (mode & APPLY_NAMED))) {
            if (defined == 0) {
                refs->first = p;
                return pos;
            }
            fire(ERR_SCRIPT, err::BAD_REFINE, &el);
        }
        // Find the refinement and its window slot: slots count the entries before it.
        uint32_t slot = 0, i = 0, number = 0;
        uint32_t wanted = symbol::resolve(el.data2);
        bool found = false;
        for (; i < cache_length; i++) {
            const cell* e = cache_at(cache, i);
            uint32_t t = cell_type(e);
            if (t == TYPE_REFINEMENT) {
                number++;
                if (symbol::resolve(e->data2) == wanted) {
                    found = true;
                    break;
                }
                if (!natives) slot++;
            } else if (t == TYPE_TYPESET && arg_mode_of(e) != ARG_SKIP) {
                slot++;
            }
        }
        if (!found) {
            cell who = call_name(name);
            el.header = TYPE_WORD;
            fire(ERR_SCRIPT, err::NO_REFINE, &who, &el);
        }
        bool dup = defined > 64 ? seen_large[number - 1] : (seen_small >> (number - 1)) & 1;
        if (dup) fire(ERR_SCRIPT, err::DUP_REFINE, &refs->path);
        if (defined > 64) seen_large[number - 1] = true;
        else seen_small |= uint64_t(1) << (number - 1);
        if (natives) {
            state.ints[number - 1] = used ? int32_t(slot) : -1;
        } else {
            base[slot] = cell{TYPE_LOGIC, used ? 1u : 0u, 0, 0};
            slot++;
        }
        for (uint32_t k = i + 1; k < cache_length; k++) {
            const cell* e = cache_at(cache, k);
            if (cell_type(e) != TYPE_TYPESET) break;
            if (arg_mode_of(e) == ARG_SKIP) continue;
            pos = fetch_one(fn, cache, k, code, pos, name, mode & CALL_INFIX, mode & APPLY_SAFER);
            if (exit_code()) return pos;
            check_arg(fn, cache, k, name, stack_s.top - 1);
            base[slot++] = *--stack_s.top;
        }
    }
    refs->first = code_tail(path);
    return pos;
}

// apply/all: every argument and refinement of the spec in order, each refinement as a value whose
// truth decides whether it is used; past the end of the values, arguments are none and
// refinements false. With APPLY_SAFER each argument is the single next value, and those of an
// unused refinement are passed over without being evaluated.
[[gnu::noinline]] uint32_t fetch_all(const cell* fn, node_ref cache, node_ref code, uint32_t pos, const cell* name,
                                     uint32_t mode, refinement_state& state)
{
    bool natives = native_kind(callee_type(fn));
    bool safer = mode & APPLY_SAFER;
    bool used = true;   // the group of arguments being taken: the mandatory ones, or a refinement's
    uint32_t slot = 0;
    for (uint32_t i = 0; i < code_tail(cache); i++) {
        const cell* e = cache_at(cache, i);
        uint32_t t = cell_type(e);
        if (t == TYPE_INTEGER) {
            if (!natives) function::init_locals(e->data2);
            continue;
        }
        if (t == TYPE_TYPESET && arg_mode_of(e) == ARG_SKIP) continue;
        bool given = pos < code_tail(code);
        if (t == TYPE_REFINEMENT) {
            used = false;
            if (given) {
                pos = interpreter::eval_expression(code, pos, safer);
                if (exit_code()) return pos;
                used = !cell_falsy(stack_s.top - 1);
                stack::pop(1);
            }
            if (natives) {
                state.ints[state.count++] = used ? int32_t(slot) : -1;
            } else {
                stack::push(used ? &true_value : &false_value);
                slot++;
            }
            continue;
        }
        if (!given) {
            stack::push(&none_value);
        } else if (!used && safer) {
            stack::push(&none_value);
            pos++;
        } else {
            pos = fetch_one(fn, cache, i, code, pos, name, false, safer);
            if (exit_code()) return pos;
            if (used) check_arg(fn, cache, i, name, stack_s.top - 1);
        }
        slot++;
    }
    return pos;
}

// The cache entries from `from` on in their defaults: refinements unused (natives and actions
// note them in the state, the others get false in the window), their arguments none, locals none.
void push_defaults(node_ref cache, uint32_t from, uint32_t n, bool natives, refinement_state& state)
{
    for (uint32_t i = from; i < n; i++) {
        const cell* e = cache_at(cache, i);
        switch (cell_type(e)) {
        case TYPE_TYPESET:
            if (arg_mode_of(e) != ARG_SKIP) stack::push(&none_value);
            break;
        case TYPE_REFINEMENT:
            if (natives) state.ints[state.count++] = -1;
            else stack::push(&false_value);
            break;
        case TYPE_INTEGER:
            if (!natives) function::init_locals(e->data2);
            break;
        default:
            break;
        }
    }
}

// Fills the window of a call: arguments, refinements, locals; then calls natives, actions and
// routines (a function! is run by the caller). Returns the code position after the arguments.
uint32_t fetch_args(const cell* fn, node_ref code, uint32_t pos, const cell* name, path_refs* refs, uint32_t mode)
{
    const recent_callable& info = callable_info(fn);
    node_ref cache = info.cache;
    if (mode & APPLY_ALL) {
        refinement_state state;
        pos = fetch_all(fn, cache, code, pos, name, mode, state);
        if (exit_code()) return pos;
        if (native_kind(callee_type(fn)) || callee_type(fn) == TYPE_ROUTINE) invoke(fn, state);
        return pos;
    }
    cell* entries = info.entries;
    uint32_t n = info.count;
    uint32_t cycles = info.cycles;   // the entries' address holds while it is the collector's count
    bool natives = native_kind(callee_type(fn));
    bool infix = mode & CALL_INFIX;
    uint32_t i = 0;
    // The arguments every call takes.
    for (bool first = true; i < n; i++) {
        uint32_t m = arg_mode_of(entries + i);
        if (cell_type(entries + i) != TYPE_TYPESET) break;
        if (m == ARG_SKIP) continue;
        if (!(infix && first)) {
            if (m == ARG_EVALUATE && pos < code_tail(code))
                pos = eval_operand(code, pos, infix || (mode & APPLY_SAFER));
            else
                pos = fetch_one(fn, cache, i, code, pos, name, infix, mode & APPLY_SAFER);
            if (exit_code()) return pos;
            if (collector_s.cycles != cycles) {
                cycles = collector_s.cycles;
                entries = at<cell>(series_of(cache)->head);
            }
        }
        first = false;
        if (!typeset_has(entries + i, cell_type(stack_s.top - 1)))
            expect_arg(fn, cache, i, name, cell_type(stack_s.top - 1));
    }
    if (i == n && !refs) {
        static const refinement_state no_refinements{};   // read by no routine: there are none
        if (natives || callee_type(fn) == TYPE_ROUTINE) invoke(fn, no_refinements);
        return pos;
    }
    refinement_state state;
    uint32_t rest = i;
    push_defaults(cache, i, n, natives, state);
    if (refs) {
        pos = fetch_refinements(fn, cache, rest, code, pos, name, refs, state, mode);
        if (exit_code()) return pos;
    }
    if (natives || callee_type(fn) == TYPE_ROUTINE) invoke(fn, state);
    return pos;
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

// if, unless and either whose branches are blocks written in the code: with the condition in the
// window, the branch taken is evaluated where it stands, as the native would evaluate it, without
// fetching the blocks. Returns the code position after them, or 0 when the branches are not such
// blocks (the call then goes on as any other).
uint32_t branch_in_place(uint32_t native, node_ref code, uint32_t pos, const cell* entries, uint32_t count)
{
    uint32_t blocks = count - 1;
    if (native < natives::N_IF || blocks != (native == natives::N_EITHER ? 2u : 1u)) return 0;
    uint32_t end = pos + blocks;
    if (end > code_tail(code)) return 0;
    for (uint32_t k = 0; k < blocks; k++)
        if (cell_type(code_at(code, pos + k)) != TYPE_BLOCK || !typeset_has(entries + 1 + k, TYPE_BLOCK)) return 0;
    // A block followed by an operator is the operator's left operand, not the branch.
    if (end < code_tail(code) && infix_op(code_at(code, end))) return 0;
    cell* cond = stack_s.arguments;
    uint32_t chosen;
    if (native == natives::N_EITHER) chosen = natives::truthy_strict(cond) ? 0 : 1;
    else chosen = cell_falsy(cond) == (native == natives::N_UNLESS) ? 0 : blocks;
    if (chosen == blocks) {
        *cond = none_value;
    } else {
        cell body = *code_at(code, pos + chosen);
        interpreter::eval(&body, true);
    }
    return end;
}

// A call by a plain word outside a trace, as eval_code makes it: the callable goes under its
// window, the arguments every call takes are evaluated into it, the rest get their defaults.
[[gnu::noinline]] uint32_t call_word(const cell* value, node_ref code, uint32_t pos, const cell* name)
{
    machine_stack_check();
    cell* slot = stack::push(value);
    const recent_callable& known = callable_info(slot);   // building the cache may collect
    if (known.leading == NOT_PLAIN) {
        cell fn = *slot;
        stack_s.top = slot;
        return interpreter::eval_code(&fn, code, pos, name, nullptr, APPLY_NONE);
    }
    uint32_t type = cell_type(slot);
    stack::mark(name->data2, name->data1, type == TYPE_FUNCTION ? FRAME_INTERP_FUNCTION : FRAME_INTERP_NATIVE);
    // Copied out: a call made by an argument may take the entry over.
    uint32_t leading = known.leading, n = known.count, cycles = known.cycles;
    cell body = known.body;
    node_ref cache = known.cache;
    cell* entries = known.entries;
    for (uint32_t i = 0; i < leading; i++) {
        if (arg_mode_of(entries + i) == ARG_SKIP) continue;
        if (pos >= code_tail(code)) fetch_one(slot, cache, i, code, pos, name, false, false);   // raises
        pos = eval_operand(code, pos, false);
        if (exit_code()) return pos;
        if (collector_s.cycles != cycles) [[unlikely]] {
            cycles = collector_s.cycles;
            entries = at<cell>(series_of(cache)->head);
        }
        uint32_t t = cell_type(stack_s.top - 1);
        if (!typeset_has(entries + i, t)) expect_arg(slot, cache, i, name, t);
        if (i == 0 && type == TYPE_NATIVE && slot->data1 <= natives::N_EITHER && leading == n) {
            uint32_t next = branch_in_place(slot->data1, code, pos, entries, leading);
            if (next) return exit_code() ? next : end_call(slot, next);
        }
    }
    if (leading < n) {
        refinement_state state;
        push_defaults(cache, leading, n, native_kind(type), state);
        if (type == TYPE_FUNCTION) run_body(slot, body);
        else invoke(slot, state);
    } else {
        static const refinement_state no_refinements{};   // read by no routine: there are none
        switch (type) {
        case TYPE_FUNCTION: run_body(slot, body); break;
        case TYPE_NATIVE: natives_s.table[slot->data1 - 1](false, no_refinements.ints); break;
        case TYPE_ACTION: actions_s.table[slot->data1 - 1](false, no_refinements.ints); break;
        default: invoke(slot, no_refinements); break;
        }
    }
    return exit_code() ? pos : end_call(slot, pos);
}

// The operator at `pos` applied to the value at `start` (the stack top): the result replaces it.
uint32_t eval_infix(node_ref code, uint32_t pos, cell* start, const cell* op_value)
{
    cell op = *op_value;
    cell name = *code_at(code, pos++);
    if (tracing_now()) [[unlikely]] fire_traced(TRACE_FETCH, code, int32_t(pos - 1), nullptr, &name);
    fast_op fast = fast_op_of(&op);
    // While tracing, operators take the call path, which reports open, call and return.
    if (fast != FAST_NONE && pos < code_tail(code) && !tracing_now()) {
        pos = eval_operand(code, pos, true);
        if (exit_code()) return pos;
        if (fast_apply(fast, start, start + 1)) {
            stack_s.top = start + 1;
            return pos;
        }
        // Both operands are in place: the operator runs as a call whose window holds them.
        op.header = (op.header >> op::WRAPPED_SHIFT) & 0xFF;
        node_ref cache = interpreter::arg_cache(&op);
        cell* top = stack_s.top;
        stack_s.top = start;
        stack::mark(name.data2, name.data1, FRAME_INTERP_NATIVE);
        stack_s.top = top;
        check_arg(&op, cache, 0, &name, start);
        check_arg(&op, cache, 1, &name, start + 1);
        refinement_state none_used;
        invoke(&op, none_used);
        stack::unwind_keep();
        return pos;
    }
    cell callable = op;
    callable.header = (op.header >> op::WRAPPED_SHIFT) & 0xFF;
    return interpreter::eval_code(&callable, code, pos, &name, nullptr, CALL_INFIX);
}

// Applies the operator at `pos` and every one that follows to the value at `start`.
uint32_t infix_chain(node_ref code, uint32_t pos, cell* start, const cell* op)
{
    for (;;) {
        pos = eval_infix(code, pos, start, op);
        if (exit_code() || pos >= code_tail(code)) return pos;
        op = infix_op(code_at(code, pos));
        if (!op) return pos;
    }
}

bool system_issue(const cell* v)
{
    uint32_t s = symbol::resolve(v->data2);
    return s == symbol::resolve(rt_symbol_id(SYM_SYSTEM)) || s == symbol::resolve(rt_symbol_id(SYM_SYSTEM_GLOBAL));
}

}  // namespace

// ---- expressions --------------------------------------------------------------------------------

uint32_t interpreter::eval_expression(node_ref code, uint32_t pos, bool no_infix)
{
    if (tracing_now()) [[unlikely]] return traced_expression(code, pos, no_infix);
    return plain_expression(code, pos, no_infix);
}

namespace {
uint32_t plain_expression(node_ref code, uint32_t pos, bool no_infix)
{
    using interpreter::eval, interpreter::eval_code, interpreter::eval_expression, interpreter::eval_path;
    cell* start = stack_s.top;
    cell v = *code_at(code, pos++);
    switch (cell_type(&v)) {
    case TYPE_WORD: {
        cell* value = word_value(&v);
        uint32_t t = cell_type(value);
        if (callable_type(t)) {
            if (tracing_now()) {
                cell callable = *value;
                pos = eval_code(&callable, code, pos, &v, nullptr, APPLY_NONE);
            } else {
                pos = call_word(value, code, pos, &v);
            }
            if (exit_code()) return pos;
        } else if (t == TYPE_UNSET) {
            fire(ERR_SCRIPT, err::NO_VALUE, &v);
        } else if (t == TYPE_OP) {
            fire(ERR_SCRIPT, err::NO_OP_ARG, &v);
        } else {
            stack::push(value);
        }
        break;
    }
    case TYPE_SET_WORD: {
        if (pos >= code_tail(code)) fire(ERR_SCRIPT, err::NEED_VALUE, &v);
        cell* base = stack::mark(v.data2, v.data1, FRAME_INTERP_NATIVE);
        stack::push(&v);
        pos = eval_operand(code, pos, false);
        if (exit_code()) return pos;
        if (cell_type(base + 1) == TYPE_UNSET) fire(ERR_SCRIPT, err::NEED_VALUE, &v);
        store_word(base, base + 1);
        if (tracing_now()) [[unlikely]] fire_traced(TRACE_SET, code, pos, &v, base + 1);
        base[0] = base[1];
        stack::unwind_keep();
        return pos;   // the value's own expression took the operators that follow it
    }
    case TYPE_GET_WORD:
        stack::push(word_value(&v));
        break;
    case TYPE_LIT_WORD:
        cell_set_type(&v, TYPE_WORD);
        stack::push(&v);
        break;
    case TYPE_PAREN:
        eval(&v, false);
        if (exit_code()) return pos;
        break;
    case TYPE_PATH:
        pos = eval_path(&v, code, pos, nullptr, false);
        if (exit_code()) return pos;
        break;
    case TYPE_GET_PATH:
        pos = eval_path(&v, code, pos, nullptr, true);
        if (exit_code()) return pos;
        break;
    case TYPE_SET_PATH: {
        if (pos >= code_tail(code)) fire(ERR_SCRIPT, err::NEED_VALUE, &v);
        cell* base = stack::mark(stack_s.anon_symbol, 0, FRAME_INTERP_NATIVE);
        stack::push(&v);
        pos = eval_expression(code, pos, false);
        if (exit_code()) return pos;
        eval_path(base, code, pos, base + 1, false);
        if (exit_code()) return pos;
        if (tracing_now()) [[unlikely]] fire_traced(TRACE_SET, code, pos, &v, base + 1);
        base[0] = base[1];
        stack::unwind_keep();
        return pos;
    }
    case TYPE_LIT_PATH:
        cell_set_type(&v, TYPE_PATH);
        v.data3 = 0;
        stack::push(&v);
        break;
    case TYPE_OP:
        fire(ERR_INTERNAL, err::NOT_DONE);
    case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
        pos = eval_code(&v, code, pos, nullptr, nullptr, APPLY_NONE);
        if (exit_code()) return pos;
        break;
    case TYPE_ISSUE:
        if (system_issue(&v) && pos < code_tail(code) && cell_type(code_at(code, pos)) == TYPE_BLOCK)
            fire(ERR_INTERNAL, err::KIV_SYSTEM);
        stack::push(&v);
        break;
    default:
        stack::push(&v);
        break;
    }
    if (no_infix || pos >= code_tail(code)) return pos;
    const cell* op = infix_op(code_at(code, pos));
    return op ? infix_chain(code, pos, start, op) : pos;
}

}  // namespace

// A function's body is evaluated by the same steps in place, in its lean call (run_body).
void interpreter::eval(const cell* block, bool keep) { eval_block(block, keep); }

uint32_t interpreter::eval_next(const cell* block, uint32_t pos)
{
    node_ref code = block->data2;
    if (pos >= code_tail(code)) {
        stack::push(&unset_value);
        return pos;
    }
    cell saved = interpreter_s.current_code;
    interpreter_s.current_code = cell{cell_type(block), pos, code, 0};
    pos = eval_operand(code, pos, false);
    interpreter_s.current_code = saved;
    return pos;
}

// ---- calls --------------------------------------------------------------------------------------

uint32_t interpreter::eval_code(const cell* callable, node_ref code, uint32_t pos, const cell* name, path_refs* refs,
                                uint32_t mode)
{
    machine_stack_check();
    cell fn = *callable;
    uint32_t symbol = stack_s.anon_symbol;
    node_ref context = 0;
    if (name && cell_type(name) == TYPE_WORD) {
        symbol = name->data2;
        context = name->data1;
    }
    uint32_t header = cell_type(&fn) == TYPE_FUNCTION ? FRAME_INTERP_FUNCTION : FRAME_INTERP_NATIVE;
    cell* slot;
    if (mode & CALL_INFIX) {
        // The left operand is the top cell: the callable goes under it, where the result will be,
        // so that it stays reachable for the call.
        slot = stack_s.top - 1;
        cell left = *slot;
        *slot = fn;
        stack::mark(symbol, context, header);
        stack::push(&left);
    } else {
        slot = stack::push(&fn);
        stack::mark(symbol, context, header);
    }
    if (tracing_now()) [[unlikely]] fire_traced(TRACE_OPEN, code, int32_t(pos), nullptr, name);
    uint32_t first = pos;
    pos = fetch_args(&fn, code, pos, name, refs, mode);
    if (exit_code()) return pos;
    if (tracing_now()) [[unlikely]] fire_traced(TRACE_CALL, code, int32_t(first), name, &fn);
    if (cell_type(&fn) == TYPE_FUNCTION) {
        call_function(&fn);
        if (exit_code()) return pos;
    }
    end_call(slot, pos);
    if (tracing_now()) [[unlikely]] fire_traced(TRACE_RETURN, code, int32_t(pos), name, slot);
    return pos;
}


void interpreter::call_function(const cell* fn)
{
    cell body = callable_info(fn).body;
    run_body(fn, body);
}

cell interpreter::call_value(const cell* callable, const cell* name, const cell* args, uint32_t count, bool whole)
{
    machine_stack_check();
    cell* slot = stack::push(callable);
    cell who = call_name(name);
    uint32_t type = callee_type(slot);
    if (cell_type(slot) == TYPE_OP) slot->header = type;   // an operator is called as what it wraps
    if (!callable_type(type)) fire(ERR_SCRIPT, err::INVALID_ARG, slot);
    stack::mark(who.data2, who.data1, type == TYPE_FUNCTION ? FRAME_INTERP_FUNCTION : FRAME_INTERP_NATIVE);
    node_ref cache = callable_info(slot).cache;   // building it may collect
    bool natives = native_kind(type);
    refinement_state state;
    uint32_t given = 0;
    bool leading = true, used = true;   // the group being filled: the arguments, or a refinement's
    // The cache is read afresh at each entry: the locals' defaults may allocate.
    for (uint32_t i = 0; i < code_tail(cache); i++) {
        const cell* e = cache_at(cache, i);
        switch (cell_type(e)) {
        case TYPE_TYPESET:
            if (arg_mode_of(e) == ARG_SKIP) break;
            if ((leading || whole) && given < count) {
                if (used) check_arg(slot, cache, i, &who, args + given);
                stack::push(args + given++);
            } else {
                stack::push(&none_value);
            }
            break;
        case TYPE_REFINEMENT:
            leading = false;
            used = whole && given < count && !cell_falsy(args + given++);
            if (natives) state.ints[state.count++] = used ? int32_t(stack_s.top - stack_s.arguments) : -1;
            else stack::push(used ? &true_value : &false_value);
            break;
        case TYPE_INTEGER:
            if (!natives) function::init_locals(e->data2);
            break;
        default:
            break;
        }
    }
    if (type == TYPE_FUNCTION) call_function(slot);
    else invoke(slot, state);
    if (exit_code()) throw exit_unwind{};
    end_call(slot, 0);
    cell result = *slot;
    stack_s.top = slot;
    return result;
}


// ---- paths --------------------------------------------------------------------------------------

namespace {

// Values whose path setters change the cell itself: the path walk changes a copy, which must be
// stored back where it was read (the head word, or the container one step up).
bool in_cell_path_type(uint32_t t)
{
    return t == TYPE_PAIR || t == TYPE_TUPLE || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TIME ||
           t == TYPE_DATE || t == TYPE_MONEY;
}

bool notify_owner(const cell* parent, const cell* grandparent, const cell* element)
{
    uint32_t et = cell_type(element);
    if (cell_type(grandparent) == TYPE_OBJECT && et == TYPE_WORD) return true;
    uint32_t pt = cell_type(parent);
    return pt == TYPE_BLOCK || pt == TYPE_PAREN || (pt >= TYPE_PATH && pt <= TYPE_GET_PATH) || pt == TYPE_HASH;
}

}  // namespace

uint32_t interpreter::eval_path(const cell* path_value, node_ref code, uint32_t pos, const cell* set, bool get)
{
    cell* mark = stack_s.top;
    // A word naming an object, then one of its fields (o/a, o/a: v): a slot read or write when the
    // object's step has nothing more to do.
    if (path_value->data1 + 2 == code_tail(path_value->data2) && !tracing_now()) {
        const cell* head = code_at(path_value->data2, path_value->data1);
        const cell* field = head + 1;
        if (cell_type(head) == TYPE_WORD && cell_type(field) == TYPE_WORD) {
            const cell* slot = word_slot(head);
            const cell* r = slot && cell_type(slot) == TYPE_OBJECT ? object::path_field(slot, field, set) : nullptr;
            if (r && (set || get || !callable_type(cell_type(r)))) {   // a function field is called
                *stack::push_slot() = *r;
                return pos;
            }
        }
    }
    cell* path = stack::push(path_value);   // keeps the path's elements reachable
    node_ref steps = path->data2;
    uint32_t first = path->data1;
    if (first >= code_tail(steps)) fire(ERR_SCRIPT, err::EMPTY_PATH);
    cell head = *code_at(steps, first);
    if (cell_type(&head) != TYPE_WORD) fire(ERR_SCRIPT, err::WORD_FIRST, path);
    cell* current = stack::push(word_value(&head));
    cell* previous = stack::push(&none_value);
    cell* value = stack::push(set ? set : &unset_value);
    cell* via = stack::push(&none_value);   // the selector that gave `current` (none: the head word)
    cell* work = stack_s.top;
    uint32_t i = first + 1;
    if (tracing_now()) [[unlikely]] trace::fire(TRACE_ENTER, path, int32_t(first), nullptr, nullptr);
    if (cell_type(current) == TYPE_UNSET) fire(ERR_SCRIPT, err::UNSET_PATH, path, &head);
    if (callable_type(cell_type(current))) {
        if (set) fire(ERR_SCRIPT, err::INVALID_PATH_SET, path);
        if (get) fire(ERR_SCRIPT, err::INVALID_PATH_GET, path);
        path_refs refs{*path, i};
        cell callable = *current;
        pos = eval_code(&callable, code, pos, &head, &refs, APPLY_NONE);
        if (exit_code()) return pos;
        *current = *--stack_s.top;
        i = refs.first;
    }
    for (; i < code_tail(steps); i++) {
        cell el = *code_at(steps, i);
        cell* selector = stack::push(&el);
        if (cell_type(&el) == TYPE_GET_WORD) {
            *selector = *word_value(&el);
        } else if (cell_type(&el) == TYPE_PAREN) {
            eval(&el, false);
            if (exit_code()) return pos;
            *selector = *--stack_s.top;
        }
        if (cell_type(selector) == TYPE_UNSET) fire(ERR_SCRIPT, err::UNSET_PATH, path, &el);
        bool last = i + 1 == code_tail(steps);
        // An object's field by word is a slot read or write when the object's step has nothing
        // more to do (null: it has).
        cell* r = cell_type(current) == TYPE_OBJECT && cell_type(&el) == TYPE_WORD
                      ? object::path_field(current, &el, set && last ? value : nullptr)
                      : nullptr;
        bool in_cell = false;
        if (!r) {
            eval_path_fn step = actions_of(cell_type(current)).eval_path;
            if (!step) {
                cell type = datatype::value_of(cell_type(current));
                fire(ERR_SCRIPT, err::BAD_PATH_TYPE, &type, selector);
            }
            // A value changed in its cell is stored back below, and the container's own setter
            // tells the owner then: the value's setter must not tell it a second time.
            in_cell = set && last && in_cell_path_type(cell_type(current));
            bool notify = last && !in_cell && notify_owner(current, previous, &el);
            r = step(current, selector, set && last ? value : nullptr, path, previous, selector, int32_t(i), false,
                     get, last, notify);
        }
        cell result = *r;
        if (in_cell) {
            if (i == first + 1) {
                word::set(&head, current);
            } else if (eval_path_fn up = actions_of(cell_type(previous)).eval_path) {
                up(previous, via, current, path, &none_value, via, int32_t(i - 1), false, false, true, false);
            }
        }
        *via = *selector;
        stack_s.top = work;
        *previous = *current;
        *current = result;
        if (!set && !get && callable_type(cell_type(current))) {
            path_refs refs{*path, i + 1};
            cell callable = *current;
            cell name = el;
            pos = eval_code(&callable, code, pos, &name, &refs, APPLY_NONE);
            if (exit_code()) return pos;
            *current = *--stack_s.top;
            break;
        }
    }
    if (tracing_now()) [[unlikely]]
        trace::fire(TRACE_EXIT, path, int32_t(code_tail(steps)), nullptr, set ? value : current);
    *mark = set ? *value : *current;
    stack_s.top = mark + 1;
    return pos;
}

// ---- errors -------------------------------------------------------------------------------------

cell interpreter::near_value()
{
    const cell& c = interpreter_s.current_code;
    return cell_type(&c) == TYPE_UNSET ? none_value : c;
}

interpreter::catch_point::catch_point()
    : top(stack_s.top), base(stack_s.arguments), frame_top(stack_s.frame_top), code(interpreter_s.current_code)
{
}

void interpreter::catch_point::restore() const
{
    stack_s.top = top;
    stack_s.arguments = base;
    stack_s.frame_top = frame_top;
    stack_s.throw_marker = nullptr;
    interpreter_s.current_code = code;
    set_exit_code(EXIT_NONE);
}

cell* interpreter::raised_error_value()
{
    const raised_error& e = raised_error_get();
    if (cell_type(&error_s.prototype) != TYPE_OBJECT) {
        // Before the catalogue is loaded there are no error values: the code stands for one.
        cell code{TYPE_INTEGER, 0, e.code(), 0};
        return stack::push(&code);
    }
    cell* error;
    if (e.arg_count == RAISED_VALUE) {
        error = stack::push(&e.args[0]);
    } else {
        cell args[3] = {e.args[0], e.args[1], e.args[2]};
        error = error::create(e.category, e.id, e.arg_count > 0 ? &args[0] : nullptr,
                              e.arg_count > 1 ? &args[1] : nullptr, e.arg_count > 2 ? &args[2] : nullptr);
    }
    cell where = stack::get_call();
    if (where.data2 != rt_word_cell(W_NOT_FOUND_TAG)->data2) error::set_where(error, &where);
    // The frame position, for the stack trace the error's text may show.
    cell* stamp = context::get_value_at(error->data1, error::stack_index());
    if (cell_type(stamp) != TYPE_BLOCK) *stamp = cell{TYPE_INTEGER, 0, stack::depth(), 0};
    return error;
}

cell interpreter::catch_point::take_error() const
{
    stack_s.top = stack_s.arguments = top;
    cell error = *raised_error_value();
    restore();
    return error;
}

std::string interpreter::error_text(const cell* error)
{
    cell* mark = stack_s.top;
    cell* held = stack::push(error);
    std::string text;
    if (cell_type(held) == TYPE_ERROR) text = string::utf8_copy(actions::form_value(held, actions::NO_LIMIT));
    else text = "*** Error: code " + std::to_string(held->data2);
    stack_s.top = mark;
    return text;
}

std::string interpreter::raised_error_text()
{
    stack_s.top = stack_s.arguments = stack_s.start;
    cell error = *raised_error_value();
    stack_s.top = stack_s.start;
    return error_text(&error);
}

void interpreter::uncaught_error()
{
    std::string text = raised_error_text();
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), int(wide.size()));
    wide.resize(size_t(n > 0 ? n : 0));
    show_error_box(L"Kiv NoName App", wide.c_str());
    rt_exit(0xFFFFFFFEu);
}

// ---- start-up -----------------------------------------------------------------------------------

namespace {

void mark_roots()
{
    collector::mark_cell(&interpreter_s.current_code);
    collector::mark_cell(&interpreter_s.tracer);
}

// The words of the named calls from the bottom frame up to a stamped frame position, as a level
// asks: every named call above level 1, else only those of function! values.
template <class Each>
void each_traced_call(int32_t frame, int32_t level, Each each)
{
    call_frame* end = stack_s.bottom + (frame < 0 ? 0 : frame);
    if (end > stack_s.frame_top) end = stack_s.frame_top;
    for (call_frame* f = stack_s.bottom; f < end; f++) {
        uint32_t symbol = frame_symbol_of(f);
        if (symbol == stack_s.body_symbol || symbol == stack_s.anon_symbol) continue;
        cell w = f->context ? context::resolve_word(f->context, symbol) : *word::from_symbol(symbol);
        w.header = TYPE_WORD;
        const cell* value = word_slot(&w);
        if (level <= 1 && !(value && cell_type(value) == TYPE_FUNCTION)) continue;
        each(w);
    }
}

void trace_in(cell* block, int32_t frame, int32_t level)
{
    each_traced_call(frame, level, [&](const cell& w) { block::rs_append(block, &w); });
}

int32_t form_trace(cell* buffer, int32_t frame, int32_t level, int32_t part)
{
    each_traced_call(frame, level, [&](const cell& w) {
        cell name = w;
        part = actions_of(TYPE_WORD).form(&name, buffer, nullptr, part);
        part = string::emit_literal(buffer, " ", part);
    });
    return part;
}

// make object! and make error! evaluate their spec blocks through here.
void evaluate_spec(cell* block)
{
    cell code = *block;
    interpreter::eval(&code, false);
    if (!exit_code()) stack::pop(1);
}

// The words of an argument error: the innermost named call and its argument `index`.
void words_of_call(int32_t index, cell* function_word, cell* argument_word)
{
    *function_word = stack::get_call();
    if (index < 0) return;
    cell* value = word_slot(function_word);
    if (!value) return;
    uint32_t t = cell_type(value);
    if (!callable_type(t) && t != TYPE_OP) return;
    node_ref ctx = arg_context_of(value);
    if (!ctx || uint32_t(index) >= context::word_count(ctx)) return;
    *argument_word = *context::get_word(ctx, uint32_t(index));
    argument_word->header = TYPE_WORD;
}

}  // namespace

void interpreter::init()
{
    interpreter_s.current_code = unset_value;
    interpreter_s.tracer = none_value;
    global_context = context_s.global;
    global_values = context::cell_of(global_context)->data2;
    stack_s.body_symbol = rt_word_cell(W_BODY_TAG)->data2;
    stack_s.anon_symbol = rt_word_cell(W_ANON_TAG)->data2;
    call_words_hook = words_of_call;
    error::near_hook = [](cell* out) { *out = near_value(); };
    error::trace_in_hook = trace_in;
    error::form_trace_hook = form_trace;
    object::evaluate_hook = evaluate_spec;
    function::call_hook = call_value;
    collector::register_marker(mark_roots);
}
