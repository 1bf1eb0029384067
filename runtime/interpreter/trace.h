// Evaluation tracing (do/trace): the event set, the mask a callback selects by the block that
// opens its body, and the firing of events. Every firing point in
// the interpreter tests tracing_now() first, so evaluation without a trace pays one test.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

enum trace_event : uint32_t {
    TRACE_INIT = 0x0001, TRACE_END = 0x0002, TRACE_PROLOG = 0x0004, TRACE_EPILOG = 0x0008, TRACE_ENTER = 0x0010,
    TRACE_EXIT = 0x0020, TRACE_OPEN = 0x0040, TRACE_RETURN = 0x0080, TRACE_FETCH = 0x0100, TRACE_PUSH = 0x0200,
    TRACE_SET = 0x0400, TRACE_CALL = 0x0800, TRACE_ERROR = 0x1000, TRACE_THROW = 0x2000, TRACE_CATCH = 0x4000,
    TRACE_EXPR = 0x8000, TRACE_ALL = 0x1FFFF
};

// The events of evaluation steps; the others (init, end, error, throw, catch) fire from their own
// places. Evaluation leaves its fast paths only while the callback selected a step event.
constexpr uint32_t TRACE_STEPS = TRACE_PROLOG | TRACE_EPILOG | TRACE_ENTER | TRACE_EXIT | TRACE_OPEN | TRACE_RETURN |
                                 TRACE_FETCH | TRACE_PUSH | TRACE_SET | TRACE_CALL | TRACE_EXPR;

struct trace_state {
    uint32_t tracing;     // step events fire now (a trace selecting one runs, outside its callback)
    uint32_t listening;   // the other events fire now (a trace runs, outside its callback)
    uint32_t active;      // a do/trace is running
    uint32_t mask;        // the events the callback selected
};
extern trace_state trace_s;

// Whether events fire now: the one test at each firing point of the interpreter. A build for the
// trace-overhead benchmark only (KIV_NO_TRACE, bench/trace-overhead) compiles the tests out, to
// measure what they cost evaluation that traces nothing.
#ifdef KIV_NO_TRACE
constexpr bool tracing_now() { return false; }
#else
inline bool tracing_now() { return trace_s.tracing != 0; }
#endif

namespace trace {
// No events while it lives (a callback's own evaluation, a front end reading input); tracing comes
// back also when an error or an exit leaves it.
struct quiet {
    uint32_t tracing = trace_s.tracing, listening = trace_s.listening;
    quiet() { trace_s.tracing = trace_s.listening = 0; }
    ~quiet()
    {
        trace_s.tracing = tracing;
        trace_s.listening = listening;
    }
    quiet(const quiet&) = delete;
    quiet& operator=(const quiet&) = delete;
};

// The events a callback selects: the words of the block that opens its body, or every event.
uint32_t mask_of(const cell* callback);

// Reports one event to the tracer when the mask selects it. code: the block or path (null:
// none); position: the index within it (-1: none); ref and value may be null.
void fire(trace_event event, const cell* code, int32_t position, const cell* ref, const cell* value);

// do/trace: start installs the callback and fires init, unless a trace is active already (then it
// answers false and installs nothing); finish fires end with the pending exit kept aside and
// uninstalls. abandon only clears the switches (an error unwinding through the evaluation).
bool start(const cell* callback);
void finish();
void abandon();
// Switches the events of a running do/trace on or off (`trace true`, `trace false`); outside a
// do/trace nothing can be switched on.
void switch_events(bool on);
}  // namespace trace
