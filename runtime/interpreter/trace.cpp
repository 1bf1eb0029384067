// Evaluation tracing and callback calls. Callbacks get their arguments pushed straight into their
// window, so a word or paren passed as an event value is never evaluated on the way in.
#include "runtime/interpreter/trace.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/logic.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/stack.h"

cell trace::call_callback(const cell* fn, uint32_t name_symbol, const cell* args, uint32_t n)
{
    cell f = *fn;
    cell* held = stack::push(&f);
    stack::mark(name_symbol, 0, FRAME_INTERP_FUNCTION);
    node_ref cache = interpreter::arg_cache(&f);
    uint32_t given = 0;
    for (uint32_t i = 0;; i++) {
        // The cache is read afresh each round: pushing never allocates, init_locals may.
        series_buffer* s = series_of(cache);
        if (i >= (s->tail - s->head) >> 4) break;
        cell e = at<cell>(s->head)[i];
        uint32_t t = cell_type(&e);
        if (t == TYPE_INTEGER) {
            function::init_locals(e.data2);
        } else if (t == TYPE_REFINEMENT) {
            stack::push(&false_value);
        } else if (t == TYPE_TYPESET && arg_mode_of(&e) != ARG_SKIP) {
            stack::push(given < n ? args + given : &none_value);
            given++;
        }
    }
    interpreter::call_function(&f);
    if (exit_code()) return cell{TYPE_UNSET, 0, 0, 0};
    cell result = *stack_s.arguments;
    stack::unwind();
    stack_s.top = held;
    return result;
}

const cell* trace::selection_block(const cell* fn)
{
    (void)fn;
    return nullptr;
}

void trace::init() {}
