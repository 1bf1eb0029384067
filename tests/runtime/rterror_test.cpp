// Fatal runtime errors: the text table, the message, the exception filter's mapping and the exit
// status, each death test in a child process of its own (message boxes go to standard error in
// test mode); the tracked heap's bookkeeping and the runtime's own throw.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "runtime/cell.h"
#include "runtime/rterror.h"
#include "runtime/system.h"

namespace {

struct text_row { int32_t code; const char* text; };
const text_row listed_texts[] = {
    {1, "access violation"}, {2, "invalid alignment"}, {3, "breakpoint"}, {4, "single step"},
    {5, "bounds exceeded"}, {6, "float denormal operan"}, {7, "float divide by zero"},
    {8, "float inexact result"}, {9, "float invalid operation"}, {10, "float overflow"},
    {11, "float stack check"}, {12, "float underflow"}, {13, "integer divide by zero"},
    {14, "integer overflow"}, {15, "privileged instruction"}, {16, "invalid virtual address"},
    {17, "illegal instruction"}, {18, "non-continuable exception"}, {19, "stack error or overflow"},
    {20, "invalid disposition"}, {21, "guard page"}, {22, "invalid handle"}, {23, "illegal operand"},
    {24, "illegal addressing mode"}, {25, "illegal trap"}, {26, "coprocessor error"},
    {27, "non-existent physical address"}, {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"}, {30, "hardware memory error consumed AO"},
    {31, "privileged register"}, {32, "segmentation fault"}, {33, "FPU error"}, {34, "Bus error"},
    {94, "out of memory"}, {95, "no CATCH for THROW"}, {98, "assertion failed"}, {99, "unknown error"},
    {100, "no value matched in CASE"}, {101, "no value matched in SWITCH"},
};

TEST(RuntimeErrorText, EveryListedCodeHasItsText)
{
    for (const auto& row : listed_texts) EXPECT_STREQ(runtime_error_text(row.code), row.text) << "code " << row.code;
}

TEST(RuntimeErrorText, CodesOutsideTheTableAreUnknown)
{
    for (int32_t code = 35; code <= 93; code++) EXPECT_STREQ(runtime_error_text(code), "unknown error code!") << code;
    for (int32_t code : {96, 97, 102, 103, 1000, 0x7FFFFFFF, -1, -2})
        EXPECT_STREQ(runtime_error_text(code), "unknown error code!") << code;
}

TEST(RuntimeErrorMessage, CodeTextAndAddressAtPointerWidth)
{
    wchar_t out[RT_MESSAGE_UNITS];
    size_t n = runtime_error_message(13, 0x4012AB, out);
    std::wstring expected = L"*** Runtime Error 13: integer divide by zero\n*** at: ";
    expected += sizeof(void*) == 8 ? L"00000000004012ABh" : L"004012ABh";
    EXPECT_EQ(std::wstring(out), expected);
    EXPECT_EQ(n, expected.size());
}

TEST(RuntimeErrorMessage, UnknownCodeKeepsItsNumber)
{
    wchar_t out[RT_MESSAGE_UNITS];
    runtime_error_message(-7, 0, out);
    EXPECT_EQ(std::wstring(out).substr(0, 42), L"*** Runtime Error -7: unknown error code!\n");
}

TEST(TrackedHeap, BlocksAreCountedUntilFreed)
{
    size_t before = rt_heap_total();
    void* a = rt_alloc(100);
    void* b = rt_alloc(30);
    EXPECT_EQ(rt_heap_total(), before + 116 + 46);
    a = rt_realloc(a, 5000);
    static_cast<char*>(a)[4999] = 1;
    EXPECT_EQ(rt_heap_total(), before + 5016 + 46);
    rt_free(a);
    rt_free(b);
    EXPECT_EQ(rt_heap_total(), before);
}

TEST(TrackedHeap, ReallocKeepsTheContent)
{
    auto* p = static_cast<char*>(rt_alloc(4));
    std::memcpy(p, "abc", 4);
    p = static_cast<char*>(rt_realloc(p, 1 << 20));
    EXPECT_STREQ(p, "abc");
    rt_free(p);
}

TEST(RuntimeThrow, StoresTheCodeAndUnwinds)
{
    system_s.thrown = 0;
    EXPECT_THROW(rt_throw(0x7FFFFFF7u), system_throw_unwind);
    EXPECT_EQ(system_s.thrown, 0x7FFFFFF7u);
}

TEST(RuntimeErrorAddress, RecordsTheRaisingFrame)
{
    rt_fault = {};
    uintptr_t address = rt_error_address();
    EXPECT_NE(address, 0u);
    EXPECT_EQ(rt_fault.frame, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    EXPECT_LT(rt_fault.stack, rt_fault.frame);
}

// ---- the process ends ----------------------------------------------------------------------------

class RuntimeErrorDeathTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rt_test_mode()) << "run with KIV_TEST_MODE set (tools/wine-exec), or message boxes block";
    }
};

// Death test messages are matched with GoogleTest's simple regular expressions: "*" needs "\\*".
#define RT_MESSAGE(code, text) "Kiv App Error\n\\*\\*\\* Runtime Error " #code ": " text "\n\\*\\*\\* at: "

TEST_F(RuntimeErrorDeathTest, CodeZeroEndsSilentlyWithStatusZero)
{
    EXPECT_EXIT(runtime_error(RT_NORMAL_END, 0x1234), testing::ExitedWithCode(0), "^$");
}

TEST_F(RuntimeErrorDeathTest, ListedCodeShowsItsTextAndExitsWithIt)
{
    EXPECT_EXIT(runtime_error(94, 0), testing::ExitedWithCode(94), RT_MESSAGE(94, "out of memory"));
    EXPECT_EXIT(runtime_error(101, 0), testing::ExitedWithCode(101), RT_MESSAGE(101, "no value matched in SWITCH"));
}

TEST_F(RuntimeErrorDeathTest, UnlistedCodeShowsUnknownErrorCode)
{
    EXPECT_EXIT(runtime_error(50, 0), testing::ExitedWithCode(50), RT_MESSAGE(50, "unknown error code!"));
    EXPECT_EXIT(runtime_error(96, 0), testing::ExitedWithCode(96), RT_MESSAGE(96, "unknown error code!"));
    EXPECT_EXIT(runtime_error(102, 0), testing::ExitedWithCode(102), RT_MESSAGE(102, "unknown error code!"));
}

// The test executable runs the checked runtime: a payload read from a cell of another type is
// runtime error 98 there, before the word is taken for a node.
TEST_F(RuntimeErrorDeathTest, AccessorOfTheWrongTypeIsAnAssertionError)
{
    const cell number{TYPE_INTEGER, 0, 0x12345678, 0};
    EXPECT_EXIT(series_node(&number), testing::ExitedWithCode(98), "Runtime Error 98");
}

TEST_F(RuntimeErrorDeathTest, UncaughtThrowIsRuntimeError95)
{
    EXPECT_EXIT(rt_top_handler(), testing::ExitedWithCode(95), RT_MESSAGE(95, "no CATCH for THROW"));
}

TEST_F(RuntimeErrorDeathTest, RaisedIntegerDivideByZeroIs13)
{
    EXPECT_EXIT(RaiseException(0xC0000094, 0, 0, nullptr), testing::ExitedWithCode(13),
                RT_MESSAGE(13, "integer divide by zero"));
}

int divide(int a, int b) { return a / b; }

TEST_F(RuntimeErrorDeathTest, HardwareIntegerDivideByZeroIs13)
{
    volatile int zero = 0;
    int (*volatile op)(int, int) = divide;
    EXPECT_EXIT(op(7, zero), testing::ExitedWithCode(13), RT_MESSAGE(13, "integer divide by zero"));
}

TEST_F(RuntimeErrorDeathTest, AccessViolationIs1)
{
    int* volatile nowhere = nullptr;
    EXPECT_EXIT(*nowhere = 1, testing::ExitedWithCode(1), RT_MESSAGE(1, "access violation"));
}

TEST_F(RuntimeErrorDeathTest, UnlistedExceptionIs99)
{
    EXPECT_EXIT(RaiseException(0xE0001234, 0, 0, nullptr), testing::ExitedWithCode(99),
                RT_MESSAGE(99, "unknown error"));
}

TEST_F(RuntimeErrorDeathTest, InterruptEndsSilentlyWithItsOwnStatus)
{
    // Not 0: an interrupted run must not look like a success.
    EXPECT_EXIT(RaiseException(0xC000013A, 0, 0, nullptr), testing::ExitedWithCode(int(RT_INTERRUPTED_STATUS)), "^$");
}

}  // namespace
