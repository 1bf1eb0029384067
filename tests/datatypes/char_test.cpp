// char!: constructors, arithmetic inside the code point range, comparison, text, conversion.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"

namespace {

using namespace num;
using CharTest = test::StackTest;

const uint32_t OVERFLOW_ = code(ERR_MATH, err::OVERFLOW);

TEST_F(CharTest, ConstructorsMakeCharCells)
{
    cell* blk = block::push_only_star(2);
    char_::make_in(blk, 'a');
    EXPECT_EQ(test::mold(*block::rs_head(blk)), "#\"a\"");
    EXPECT_EQ(test::form(*char_::push(0xE9)), "\xC3\xA9");
}

TEST_F(CharTest, ArithmeticKeepsACodePoint)
{
    struct row { const char* name; binary_fn action; cell a, b; uint32_t want; };
    const row rows[] = {
        {"a + 1", char_::add, c('a'), i(1), 'b'},
        {"d / 2 truncates", char_::divide, c('d'), i(2), '2'},
        {"a * 1.9", char_::multiply, c('a'), f(1.9), 'a'},
        {"b - a", char_::subtract, c('b'), c('a'), 1},
        {"remainder z 10", char_::remainder, c('z'), i(10), 2},
        {"a and 0x5F", char_::and_t, c('a'), i(0x5F), 'A'},
        {"A or 0x20", char_::or_t, c('A'), i(0x20), 'a'},
        {"a xor 0x20", char_::xor_t, c('a'), i(0x20), 'A'},
        {"the last code point", char_::add, c(0x10FFFE), i(1), 0x10FFFF},
    };
    for (const row& r : rows) {
        cell result = call(r.action, r.a, r.b);
        EXPECT_EQ(result.header, uint32_t(TYPE_CHAR)) << r.name;
        EXPECT_EQ(result.data2, r.want) << r.name;
    }
    struct fault { const char* name; binary_fn action; cell a, b; uint32_t error; };
    const fault faults[] = {
        {"a - b", char_::subtract, c('a'), c('b'), OVERFLOW_},
        {"past the last code point", char_::add, c(0x10FFFF), i(1), OVERFLOW_},
        {"a * 2147483647", char_::multiply, c('a'), i(INT32_MAX), OVERFLOW_},
        {"a * 1e10", char_::multiply, c('a'), f(1e10), OVERFLOW_},
        {"a / 0", char_::divide, c('a'), i(0), code(ERR_MATH, err::ZERO_DIVIDE)},
        {"a + none", char_::add, c('a'), none_value, code(ERR_SCRIPT, err::INVALID_TYPE)},
    };
    for (const fault& r : faults) EXPECT_EQ(error_of([&] { call(r.action, r.a, r.b); }), r.error) << r.name;
}

TEST_F(CharTest, Compare)
{
    struct row { const char* name; cell a, b; int32_t op; int32_t want; };
    const row rows[] = {
        {"A = 65", c('A'), i(65), COMP_EQUAL, 0},
        {"A == 65 is false", c('A'), i(65), COMP_STRICT_EQUAL, 1},
        {"search: A misses 65", c('A'), i(65), COMP_FIND, 1},
        {"a < b", c('a'), c('b'), COMP_LESSER, -1},
        {"A = 65.0 is not comparable", c('A'), f(65.0), COMP_EQUAL, -2},
    };
    for (const row& r : rows) EXPECT_EQ(test::compare(r.a, r.b, r.op), r.want) << r.name;
}

TEST_F(CharTest, MoldEscapes)
{
    struct row { uint32_t cp; const char* mold; const char* mold_all; };
    const row rows[] = {
        {'a', "#\"a\"", "#\"a\""},
        {' ', "#\" \"", "#\" \""},
        {0, "#\"^@\"", "#\"^@\""},
        {9, "#\"^-\"", "#\"^-\""},
        {10, "#\"^/\"", "#\"^/\""},
        {30, "#\"^(1E)\"", "#\"^(1E)\""},
        {'"', "#\"^\"\"", "#\"^\"\""},
        {'^', "#\"^^\"", "#\"^^\""},
        {127, "#\"^~\"", "#\"^~\""},
        {128, "#\"^(80)\"", "#\"^(80)\""},
        {0xE9, "#\"\xC3\xA9\"", "#\"^(E9)\""},
    };
    for (const row& r : rows) {
        EXPECT_EQ(test::mold(c(r.cp)), r.mold) << r.cp;
        EXPECT_EQ(test::mold(c(r.cp), true), r.mold_all) << r.cp;
    }
    cell* buffer = string::make_at(stack::push_slot(), 8, 1);
    cell record_separator = c(30);
    EXPECT_EQ(char_::mold(&record_separator, buffer, false, false, false, nullptr, 100, 0), 96)
        << "mold counts four whatever the escape's length";
}

cell to_char(cell spec)
{
    return call([](cell* proto, cell* s) { return char_::make(proto, s, TYPE_CHAR); }, type(TYPE_CHAR), spec);
}

TEST_F(CharTest, ToChar)
{
    struct row { const char* name; cell spec; uint32_t want; };
    const row rows[] = {
        {"the last code point", i(0x10FFFF), 0x10FFFF},
        {"65.9", f(65.9), 'A'},
        {"a character", c('x'), 'x'},
        {"UTF-8 bytes", binary({0xC3, 0xA9, 'z'}), 0xE9},
        {"the first character of a text", text("abc"), 'a'},
    };
    for (const row& r : rows) {
        cell result = to_char(r.spec);
        EXPECT_EQ(result.header, uint32_t(TYPE_CHAR)) << r.name;
        EXPECT_EQ(result.data2, r.want) << r.name;
    }
    const uint32_t RANGE = code(ERR_SCRIPT, err::OUT_OF_RANGE), BAD_TO = code(ERR_SCRIPT, err::BAD_TO_ARG),
                   UTF8 = code(ERR_ACCESS, err::INVALID_UTF8);
    struct fault { const char* name; cell spec; uint32_t error; };
    const fault faults[] = {
        {"-1", i(-1), RANGE},
        {"past the last code point", i(0x110000), RANGE},
        {"NaN", f(float_::quiet_nan), RANGE},
        {"a sequence cut short", binary({0xE2, 0x82}), UTF8},
        {"a bad lead byte", binary({0xFF}), UTF8},
        {"an empty binary", binary({}), BAD_TO},
        {"an empty text", text(""), BAD_TO},
        {"none", none_value, BAD_TO},
    };
    for (const fault& r : faults) EXPECT_EQ(error_of([&] { to_char(r.spec); }), r.error) << r.name;
}

TEST_F(CharTest, InheritedActionsKeepTheType)
{
    for (int k = 0; k < 20; k++) {
        cell r = call([](cell* v) { return actions_of(TYPE_CHAR).random(v, false, false, false); }, c('z'));
        EXPECT_EQ(r.header, uint32_t(TYPE_CHAR));
        EXPECT_TRUE(r.data2 >= 1 && r.data2 <= 'z') << r.data2;
    }
    EXPECT_EQ(call(actions_of(TYPE_CHAR).even_q, c('b')).data1, 1u);
    EXPECT_EQ(call(actions_of(TYPE_CHAR).absolute, c('b')).header, uint32_t(TYPE_CHAR));
    EXPECT_EQ(actions_of(TYPE_CHAR).negate, nullptr);
    EXPECT_EQ(actions_of(TYPE_CHAR).power, nullptr);
}

}  // namespace
