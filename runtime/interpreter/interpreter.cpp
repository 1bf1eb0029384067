// The interpreter core: expressions (the plain and the traced evaluator) and start-up. Calls,
// operators, paths and errors have files of their own (calls.cpp, operators.cpp, paths.cpp,
// exits.cpp), sharing interpreter_internal.h. Every value an expression produces is
// pushed on the argument stack; a call leaves exactly one cell where its callable was pushed.
// The code block is read through its node at every step: anything evaluated may move it.
#include "runtime/interpreter/interpreter.h"

#include "runtime/interpreter/interpreter_internal.h"


interpreter_state interpreter_s;

namespace interp {

// The code goes to the callback as what it is: the block or paren being evaluated (the current
// code), else a block.
void fire_traced(trace_event event, node_ref code, int32_t pos, const cell* ref, const cell* value, uint32_t type)
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
    return plain_expression(code, pos, no_infix);
}

bool system_issue(const cell* v)
{
    uint32_t s = symbol::resolve(v->data2);
    return s == symbol::resolve(rt_symbol_id(SYM_SYSTEM)) || s == symbol::resolve(rt_symbol_id(SYM_SYSTEM_GLOBAL));
}

uint32_t plain_expression(node_ref code, uint32_t pos, bool no_infix)
{
    using interpreter::eval, interpreter::eval_code, interpreter::eval_expression, interpreter::eval_path;
    cell* start = stack_s.top;
    cell v = *code_at(code, pos++);
    bool pushed = false;   // a value pushed as it is: no call, set, paren or path ran
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
            pushed = true;
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
        pushed = true;
        break;
    case TYPE_LIT_WORD:
        cell_set_type(&v, TYPE_WORD);
        stack::push(&v);
        pushed = true;
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
        pos = eval_operand(code, pos, false);
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
        pushed = true;
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
        pushed = true;
        break;
    default:
        stack::push(&v);
        pushed = true;
        break;
    }
    // Reported before an operator that follows takes the value as its left operand; the values of
    // calls, sets, parens and paths are reported by their own events (return, set, exit).
    if (pushed && tracing_now()) [[unlikely]] {
        fire_traced(TRACE_PUSH, code, int32_t(pos), nullptr, stack_s.top - 1);
        if (exit_code()) return pos;
    }
    if (no_infix || pos >= code_tail(code)) return pos;
    const cell* op = infix_op(code_at(code, pos));
    return op ? infix_chain(code, pos, start, op) : pos;
}


}  // namespace interp

using namespace interp;

// ---- expressions --------------------------------------------------------------------------------

uint32_t interpreter::eval_expression(node_ref code, uint32_t pos, bool no_infix)
{
    if (tracing_now()) [[unlikely]] return traced_expression(code, pos, no_infix);
    return plain_expression(code, pos, no_infix);
}



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

// ---- start-up -----------------------------------------------------------------------------------

namespace {

void mark_roots()
{
    collector::mark_cell(&interpreter_s.current_code);
    collector::mark_cell(&interpreter_s.tracer);
}

// make object! and make error! evaluate their spec blocks through here.
// An exit out of the spec passes on as out of any Kiv code C++ runs (interpreter::call_value):
// the make that asked stops at once.
void evaluate_spec(cell* block)
{
    cell code = *block;
    interpreter::eval(&code, false);
    if (exit_code()) throw exit_unwind{};
    stack::pop(1);
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
