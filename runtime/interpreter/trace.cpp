// Evaluation tracing. The callback is called through interpreter::call_value, which passes event
// values as they are, so a word or paren passed as an event value is never evaluated on the way
// in. The tracer cell (interpreter_s.tracer) holds the callback while a trace runs; the collector
// marks it.
#include "runtime/interpreter/trace.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/stack.h"

trace_state trace_s;

namespace {

struct event_row {
    trace_event bit;
    rt_word word;
};
constexpr event_row events[] = {
    {TRACE_INIT, W_INIT}, {TRACE_END, W_END}, {TRACE_PROLOG, W_PROLOG}, {TRACE_EPILOG, W_EPILOG},
    {TRACE_ENTER, W_ENTER}, {TRACE_EXIT, W_EXIT}, {TRACE_OPEN, W_OPEN}, {TRACE_RETURN, W_RETURN},
    {TRACE_FETCH, W_FETCH}, {TRACE_PUSH, W_PUSH}, {TRACE_SET, W_SET}, {TRACE_CALL, W_CALL},
    {TRACE_ERROR, W_ERROR}, {TRACE_THROW, W_THROW}, {TRACE_CATCH, W_CATCH}, {TRACE_EXPR, W_EXPR},
};

const cell* word_of(trace_event event)
{
    for (const event_row& row : events)
        if (row.bit == event) return rt_word_cell(row.word);
    return &none_value;
}

// The events whose reference argument is passed; the others get none.
constexpr uint32_t WITH_REF = TRACE_SET | TRACE_PROLOG | TRACE_EPILOG | TRACE_RETURN | TRACE_CALL;

// The error event: the error being raised is made into its value for the callback, and the
// record of the raise is put back afterwards (the callback may raise and catch errors of its own).
void error_raised()
{
    if (!trace_s.listening || !(trace_s.mask & TRACE_ERROR)) return;
    // An overflow is raised at the end of the stacks; its event runs in their reserves, with
    // events off from here on, so an error while making the event's value cannot come back here.
    stack::reserve_scope room;
    trace::quiet hold;
    raised_error saved = raised_error_get();
    cell* mark = stack_s.top;
    cell* error = interpreter::raised_error_value();
    trace::fire(TRACE_ERROR, nullptr, -1, nullptr, error);
    stack_s.top = mark;
    raised_error_slot() = saved;
}

}  // namespace

uint32_t trace::mask_of(const cell* callback)
{
    if (cell_type(callback) != TYPE_FUNCTION) return TRACE_ALL;
    const cell* more = at<cell>(series_of(callback->data3)->head);
    cell body = more[function::MORE_BODY];
    if (block::rs_length(&body) == 0) return TRACE_ALL;
    cell first = block::rs_head(&body)[0];
    if (cell_type(&first) != TYPE_BLOCK || block::rs_length(&first) == 0) return TRACE_ALL;
    uint32_t mask = 0;
    for (uint32_t k = 0; k < block::rs_length(&first); k++) {
        cell w = block::rs_head(&first)[k];
        if (cell_type(&w) != TYPE_WORD) continue;
        uint32_t s = symbol::resolve(word_symbol(&w));
        for (const event_row& row : events)
            if (symbol::resolve(word_symbol(rt_word_cell(row.word))) == s) mask |= row.bit;
    }
    return mask;
}

void trace::fire(trace_event event, const cell* code, int32_t position, const cell* ref, const cell* value)
{
    if (!(trace_s.mask & event) || cell_type(&interpreter_s.tracer) != TYPE_FUNCTION) return;
    // The library's own code is opaque: no step inside a body the boot made (nor its prolog and
    // epilog) is reported; the calls at the user's call site and the user's blocks that library
    // code evaluates are.
    if (code && any_block_q(cell_type(code)) && (series_of(code->data2)->flags & SERIES_LIBRARY)) return;
    cell* saved_top = stack_s.top;
    cell* saved_base = stack_s.arguments;
    stack::push_slot();   // the value being produced above the top stays as it is
    cell frame{TYPE_PAIR, 0, uint32_t(saved_base - stack_s.start), uint32_t(saved_top - stack_s.start)};
    int32_t offset = -1;
    if (code && any_block_q(cell_type(code)) && position >= 0 && uint32_t(position) <= series::units(code)) offset = position;
    cell args[6] = {*word_of(event), code ? *code : none_value, cell{TYPE_INTEGER, 0, uint32_t(offset), 0},
                    value && cell_type(value) != TYPE_UNSET ? *value : none_value,
                    ref && (event & WITH_REF) ? *ref : none_value, frame};
    cell* first = stack_s.top;
    for (const cell& a : args) stack::push(&a);
    cell callback = interpreter_s.tracer;
    {
        trace::quiet hold;
        interpreter::call_value(&callback, rt_word_cell(W_INTERP_CALLBACK_TAG), first, 6);
    }
    stack_s.top = saved_top;
    stack_s.arguments = saved_base;
}

bool trace::start(const cell* callback)
{
    if (trace_s.active) return false;
    error_raised_hook = error_raised;
    trace_s.mask = mask_of(callback);
    interpreter_s.tracer = *callback;
    trace_s.active = trace_s.listening = 1;
    trace_s.tracing = (trace_s.mask & TRACE_STEPS) != 0;
    fire(TRACE_INIT, nullptr, -1, nullptr, nullptr);
    return true;
}

void trace::finish()
{
    uint32_t pending = exit_code();
    set_exit_code(EXIT_NONE);
    struct uninstall {
        ~uninstall() { abandon(); }   // also when the callback's own exit or error leaves end
    } done;
    fire(TRACE_END, nullptr, -1, nullptr, nullptr);
    set_exit_code(pending);
}

void trace::abandon()
{
    interpreter_s.tracer = none_value;
    trace_s.active = trace_s.listening = 0;
    trace_s.tracing = 0;
    trace_s.mask = 0;
}

void trace::switch_events(bool on)
{
    trace_s.listening = on && trace_s.active;
    trace_s.tracing = trace_s.listening && (trace_s.mask & TRACE_STEPS) != 0;
}
