// Test fixtures shared by the value tests.
#pragma once
#include <gtest/gtest.h>

#include "runtime/errors.h"
#include "runtime/stack.h"

namespace test {

// The code of the script error the action raises (category * 100 + id), 0 when it raises none.
template <class F>
uint32_t raised(F&& action)
{
    try {
        action();
    } catch (const script_error_unwind&) {
        return raised_error_get().code();
    }
    return 0;
}

// Each test runs in an arguments window of its own, opened at the stack top, and gives back the
// argument stack as it found it: its top and its arguments window.
class StackTest : public testing::Test {
protected:
    cell* mark = nullptr;   // the top when the test began
    void SetUp() override
    {
        mark = stack::top();
        saved_arguments_ = stack::arguments();
        stack_s.arguments = stack_s.top;
    }
    void TearDown() override
    {
        stack_s.top = mark;
        stack_s.arguments = saved_arguments_;
    }
    template <class F>
    static uint32_t raised(F&& action)
    {
        return test::raised(action);
    }

private:
    cell* saved_arguments_ = nullptr;
};

}  // namespace test
