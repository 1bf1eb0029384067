// Infix operators: the general step (an operator's call, or its fast path when both operands are
// numbers) and the chain of operators after an operand. The two-number fast path itself is
// inline in interpreter_internal.h, where the evaluation of an operand reaches it.

#include "runtime/interpreter/interpreter_internal.h"


namespace interp {

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
                    float_::basic_op(cell_float(&a), y, fast_math_codes[op]));
        return true;
    }
    int32_t code = fast_compare_codes[op - FAST_EQUAL];
    bool truth = actions::compare_answer(code, float_::compare(&a, &b, code));
    store_cell(left, TYPE_LOGIC, truth, 0, 0);
    return true;
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
        if (fast_apply(fast, start, start + 1) || text_compare(fast, start, start + 1)) {
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

}  // namespace interp
