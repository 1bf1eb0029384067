// The output hook lists: order, growth, null handlers, duplicates. Each test starts and ends with
// both lists empty.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/hooks.h"

namespace {

std::vector<std::string> calls;

template <int N>
void value_handler(const cell* value, uint32_t new_line)
{
    calls.push_back("v" + std::to_string(N) + ":" + std::to_string(value->data1) + "," + std::to_string(new_line));
}

template <int N>
void text_handler(const char* text, uint32_t length, uint32_t new_line)
{
    calls.push_back("t" + std::to_string(N) + ":" + std::string(text, length) + "," + std::to_string(new_line));
}

class Hooks : public testing::Test {
protected:
    void SetUp() override
    {
        hooks_init();
        calls.clear();
    }
    void TearDown() override { hooks_init(); }
};

TEST_F(Hooks, PrintWithNoHandlerDoesNothing)
{
    cell v{TYPE_INTEGER, 1, 0, 0};
    hooks_call_2(&v, 1);
    hooks_call_3("text", 4, 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(hooks_count(HOOKS_VALUES), 0u);
    EXPECT_EQ(hooks_capacity(HOOKS_VALUES), 5u);
    EXPECT_EQ(hooks_count(HOOKS_TEXTS), 0u);
    EXPECT_EQ(hooks_capacity(HOOKS_TEXTS), 5u);
}

TEST_F(Hooks, HandlersGetTheirArgumentsInTheOrderAdded)
{
    dyn_print::add(value_handler<1>, text_handler<1>);
    dyn_print::add(value_handler<2>, text_handler<2>);
    cell v{TYPE_INTEGER, 42, 0, 0};
    hooks_call_2(&v, 1);
    hooks_call_3("abcdef", 3, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"v1:42,1", "v2:42,1", "t1:abc,0", "t2:abc,0"}));
}

TEST_F(Hooks, SixthHandlerGrowsTheListToTenAndKeepsTheOrder)
{
    dyn_print::add(value_handler<1>, text_handler<1>);
    dyn_print::add(value_handler<2>, text_handler<2>);
    dyn_print::add(value_handler<3>, text_handler<3>);
    dyn_print::add(value_handler<4>, text_handler<4>);
    dyn_print::add(value_handler<5>, text_handler<5>);
    EXPECT_EQ(hooks_capacity(HOOKS_VALUES), 5u);
    dyn_print::add(value_handler<6>, text_handler<6>);
    EXPECT_EQ(hooks_count(HOOKS_VALUES), 6u);
    EXPECT_EQ(hooks_capacity(HOOKS_VALUES), 10u);
    EXPECT_EQ(hooks_capacity(HOOKS_TEXTS), 10u);
    cell v{TYPE_INTEGER, 0, 0, 0};
    hooks_call_2(&v, 0);
    hooks_call_3("x", 1, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"v1:0,0", "v2:0,0", "v3:0,0", "v4:0,0", "v5:0,0", "v6:0,0",
                                               "t1:x,0", "t2:x,0", "t3:x,0", "t4:x,0", "t5:x,0", "t6:x,0"}));
}

TEST_F(Hooks, EleventhHandlerGrowsTheListAgain)
{
    for (int i = 0; i < 11; i++) dyn_print::add(value_handler<0>, nullptr);
    EXPECT_EQ(hooks_count(HOOKS_VALUES), 11u);
    EXPECT_EQ(hooks_capacity(HOOKS_VALUES), 15u);
}

TEST_F(Hooks, NullHandlerLeavesItsListUnchanged)
{
    dyn_print::add(nullptr, text_handler<1>);
    EXPECT_EQ(hooks_count(HOOKS_VALUES), 0u);
    EXPECT_EQ(hooks_count(HOOKS_TEXTS), 1u);
    dyn_print::add(value_handler<1>, nullptr);
    EXPECT_EQ(hooks_count(HOOKS_VALUES), 1u);
    EXPECT_EQ(hooks_count(HOOKS_TEXTS), 1u);
    dyn_print::add(nullptr, nullptr);
    EXPECT_EQ(hooks_count(HOOKS_VALUES), 1u);
    EXPECT_EQ(hooks_count(HOOKS_TEXTS), 1u);
}

TEST_F(Hooks, HandlerAddedTwiceIsCalledTwice)
{
    dyn_print::add(value_handler<7>, text_handler<7>);
    dyn_print::add(value_handler<7>, text_handler<7>);
    cell v{TYPE_INTEGER, 5, 0, 0};
    hooks_call_2(&v, 0);
    hooks_call_3("y", 1, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"v7:5,0", "v7:5,0", "t7:y,0", "t7:y,0"}));
}

}  // namespace
