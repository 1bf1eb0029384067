// The call-frame stack and the exits that walk it, the two stacks' overflow limits, and the
// machine-stack guard: what the language cannot drive precisely enough from Kiv.
#include <vector>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/hooks.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "support/values.h"

namespace {

using namespace tv;

// Each test gives the frame stack and the exit code back as it found them.
class Frames : public Values {
protected:
    call_frame* saved_frames_ = nullptr;
    void SetUp() override
    {
        Values::SetUp();
        saved_frames_ = stack_s.frame_top;
    }
    void TearDown() override
    {
        stack_s.frame_top = saved_frames_;
        stack_s.throw_marker = nullptr;
        set_exit_code(EXIT_NONE);
        Values::TearDown();
    }
    static cell* push_frame(uint32_t kind, uint32_t flags = 0)
    {
        return stack::mark(stack_s.body_symbol, 0, kind << FRAME_KIND_SHIFT | flags);
    }
};

// Frames pushed below an exit native's own frame (the last one), and what the exit finds: the
// index of its target among them, or the throw error it raises instead.
TEST_F(Frames, ExitsStopAtTheirTargetOrAtATryAllFrame)
{
    constexpr int NONE = -1;
    struct row {
        const char* name;
        std::vector<uint32_t> kinds;   // bottom first; FRAME_RETURN_TARGET in the high bits
        uint32_t exit;                  // EXIT_BREAK, EXIT_RETURN or EXIT_THROW
        int target;
        uint32_t error;
    };
    const uint32_t RT = FRAME_RETURN_TARGET;
    const row rows[] = {
        {"break finds the loop across a function", {FRAME_LOOP, FRAME_FUNCTION | RT, FRAME_EVAL}, EXIT_BREAK, 0, 0},
        {"break takes the innermost loop", {FRAME_LOOP, FRAME_LOOP, FRAME_TRY}, EXIT_BREAK, 1, 0},
        {"try/all stops break", {FRAME_LOOP, FRAME_TRY_ALL}, EXIT_BREAK, NONE, code(ERR_THROW, err::BREAK)},
        {"no loop at all", {FRAME_FUNCTION | RT}, EXIT_BREAK, NONE, code(ERR_THROW, err::BREAK)},
        {"return finds the flagged frame", {FRAME_FUNCTION | RT, FRAME_LOOP}, EXIT_RETURN, 0, 0},
        {"a function frame without the flag is no target", {FRAME_FUNCTION}, EXIT_RETURN, NONE,
         code(ERR_THROW, err::RETURN)},
        {"try/all stops return", {FRAME_FUNCTION | RT, FRAME_TRY_ALL}, EXIT_RETURN, NONE, code(ERR_THROW, err::RETURN)},
        {"throw finds catch across try", {FRAME_CATCH, FRAME_TRY}, EXIT_THROW, 0, 0},
        {"try/all stops throw", {FRAME_CATCH, FRAME_TRY_ALL}, EXIT_THROW, NONE, code(ERR_THROW, err::THROW)},
    };
    for (const row& r : rows) {
        std::vector<cell*> windows;
        call_frame* first = stack_s.frame_top;
        for (uint32_t k : r.kinds) {
            windows.push_back(push_frame(k & 0xF, k & ~0xFu));
            stack::push(&none_value);   // something in each window, above its base
        }
        push_frame(FRAME_NATIVE);   // the exit native's own frame
        cell* value = stack::push(&true_value);
        uint32_t raised = 0;
        try {
            if (r.exit == EXIT_BREAK) stack::throw_break(true, false);
            else if (r.exit == EXIT_RETURN) stack::throw_exit(true, false);
            else stack::throw_value(EXIT_THROW, value, &none_value);
        } catch (const script_error_unwind&) {
            raised = raised_error_get().code();
        }
        EXPECT_EQ(raised, r.error) << r.name;
        if (r.target != NONE) {
            EXPECT_EQ(exit_code(), r.exit) << r.name;
            EXPECT_EQ(stack_s.frame_top, first + r.target + 1) << r.name << ": the target stays pushed";
            EXPECT_EQ(stack::arguments(), windows[size_t(r.target)]) << r.name << ": its own window";
            EXPECT_EQ(cell_type(stack::arguments()), uint32_t(TYPE_LOGIC)) << r.name << ": the value carried";
        }
        set_exit_code(EXIT_NONE);
        stack_s.frame_top = first;
        stack_s.arguments = stack_s.top = mark;
    }
}

TEST_F(Frames, FrameStackOverflowIsAnErrorAndTheStackStaysUsable)
{
    uint32_t raised = 0;
    uint32_t pushed = 0;
    try {
        for (;; pushed++) push_frame(FRAME_EVAL);
    } catch (const script_error_unwind&) {
        raised = raised_error_get().code();
    }
    EXPECT_EQ(raised, code(ERR_INTERNAL, err::STACK_OVERFLOW));
    EXPECT_EQ(stack::depth(), stack::FRAMES - stack::FRAMES_RESERVE);
    stack_s.frame_top = saved_frames_;
    stack_s.arguments = stack_s.top = mark;
    push_frame(FRAME_EVAL);
    stack::unwind();
    EXPECT_EQ(stack_s.frame_top, saved_frames_);
}

TEST_F(Frames, ArgumentStackOverflowLeavesRoomBelowTheEnd)
{
    uint32_t raised = 0;
    try {
        for (;;) stack::push(&none_value);
    } catch (const script_error_unwind&) {
        raised = raised_error_get().code();
    }
    EXPECT_EQ(raised, code(ERR_INTERNAL, err::STACK_OVERFLOW));
    EXPECT_EQ(stack_s.end - stack_s.top, 5) << "the top is lowered by five cells before raising";
}

TEST_F(Frames, UnwindingKeepsTheResultWhereTheCallerWantsIt)
{
    cell* caller = stack::arguments();
    stack::push(&none_value);
    cell* callee = push_frame(FRAME_NATIVE);
    stack::push(&true_value);
    stack::push(&none_value);
    stack::unwind_last();
    EXPECT_EQ(stack::arguments(), caller);
    EXPECT_EQ(stack::top(), callee + 1) << "the result stays as the caller's last value";
    EXPECT_EQ(cell_type(caller), uint32_t(TYPE_LOGIC)) << "and is the caller's result";
    push_frame(FRAME_NATIVE);
    stack::push(&none_value);
    stack::unwind();
    EXPECT_EQ(stack::top(), callee + 1) << "unwind drops the callee's window";
}

// Nested parens evaluate without frames of their own: only the machine-stack guard bounds them.
// With the guard's floor raised close above this test, a modest nesting reaches it; the error is
// an ordinary one and evaluation works after it.
TEST_F(Frames, MachineStackGuardRaisesBeforeTheStackRunsOut)
{
    collector_hold hold;   // the nesting is built first: nothing refers to it but the stack
    cell* nested = block::make_at(stack::push_slot(), 1);
    cell one = integer(1);
    block::rs_append(nested, &one);
    cell_set_type(nested, TYPE_PAREN);
    for (int i = 0; i < 3000; i++) {
        cell* outer = block::make_at(stack::push_slot(), 1);
        block::rs_append(outer, nested);
        cell_set_type(outer, TYPE_PAREN);
        *nested = *outer;
        stack::pop(1);
    }
    cell* code = block::make_at(stack::push_slot(), 1);
    block::rs_append(code, nested);
    uintptr_t saved = machine_stack_floor;
    machine_stack_floor = machine_stack_floor + machine_stack_room() - 256 * 1024;
    interpreter::catch_point point;
    uint32_t raised = 0;
    try {
        interpreter::eval(code, false);
    } catch (const script_error_unwind&) {
        raised = raised_error_get().code();
        point.restore();
    }
    machine_stack_floor = saved;
    EXPECT_EQ(raised, tv::code(ERR_INTERNAL, err::STACK_OVERFLOW));
    interpreter::eval(code, false);
    EXPECT_EQ(stack::top()[-1].data2, 1u) << "the same code evaluates once the stack has room";
}

// An error reported instead of raised: its text reaches the output hooks with a line break, and
// the stacks, the frames and the exit code are as they were.
std::string printed_text;
uint32_t printed_lines = 0;
void capture_print(const cell* value, uint32_t new_line)
{
    cell text = *value;
    printed_text += string::utf8_copy(&text);
    printed_lines += new_line;
}

TEST_F(Frames, PrintErrorPrintsWithoutRaising)
{
    hooks_init();
    dyn_print::add(capture_print, nullptr);
    printed_text.clear();
    printed_lines = 0;
    cell* top = stack_s.top;
    cell* base = stack_s.arguments;
    call_frame* frames = stack_s.frame_top;
    cell name = *word::load("missing-word");
    natives::print_error(ERR_SCRIPT, err::NO_VALUE, &name);
    hooks_init();
    EXPECT_NE(printed_text.find("missing-word has no value"), std::string::npos) << printed_text;
    EXPECT_EQ(printed_lines, 1u);
    EXPECT_EQ(stack_s.frame_top, frames);
    EXPECT_EQ(stack_s.arguments, base);
    EXPECT_EQ(stack_s.top, top + 1) << "the call leaves one value, unset";
    EXPECT_EQ(cell_type(top), uint32_t(TYPE_UNSET));
    EXPECT_EQ(exit_code(), uint32_t(EXIT_NONE));
}

}  // namespace

// The call stack as the debugging tools read it: named calls from the top down, each with its
// record's window position; frames that name no call are passed over.
TEST_F(Frames, CollectCallsListsNamedCallsFromTheTopDown)
{
    stack::scope keep;
    cell* out = keep.push(*block::push_only_star(4));
    cell outer = word_of("outer-call"), inner = word_of("inner-call");
    uint32_t outer_base = stack::index_of(stack::arguments());
    stack::mark(outer.data2, outer.data1, FRAME_INTERP_FUNCTION);
    stack::push(&none_value);
    push_frame(FRAME_NATIVE);   // <body>: not listed
    uint32_t inner_base = stack::index_of(stack::arguments());
    stack::push(&none_value);
    stack::mark(inner.data2, inner.data1, FRAME_INTERP_NATIVE);
    stack::collect_calls(out);
    EXPECT_EQ(mold(out), "[inner-call " + std::to_string(inner_base) + " outer-call " + std::to_string(outer_base) + "]");
}
