// Running a step that may raise, for tests that compare results with errors: the step's text, or
// "error <code>" when it raises a script error.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/stack.h"

namespace test {

// Runs f under a catch point. The argument stack is put back afterwards and the frame stack must
// be as it was, raised or not.
template <class F>
std::string outcome_of(F&& f)
{
    cell* top = stack_s.top;
    call_frame* frames = stack_s.frame_top;
    interpreter::catch_point point;
    std::string r;
    try {
        r = f();
    } catch (const script_error_unwind&) {
        point.restore();
        r = "error " + std::to_string(raised_error_get().code());
    }
    EXPECT_EQ(stack_s.frame_top, frames);
    stack_s.top = top;
    return r;
}

}  // namespace test
