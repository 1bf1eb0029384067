// integer!: constructors, arithmetic and its promotions to float!, rounding, conversions, text.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"
#include "runtime/datatypes/logic.h"

namespace {

using namespace num;
using IntegerTest = test::StackTest;

constexpr int32_t MIN = INT32_MIN, MAX = INT32_MAX;
const uint32_t ZERO_DIVIDE = code(ERR_MATH, err::ZERO_DIVIDE), OVERFLOW_ = code(ERR_MATH, err::OVERFLOW);

TEST_F(IntegerTest, ConstructorsWriteTheWholeHeaderExceptMakeAt)
{
    cell slot{TYPE_STRING | HEADER_NEW_LINE, 1, 2, 3};
    integer::make_at(&slot, -5);
    EXPECT_EQ(slot.header, TYPE_INTEGER | HEADER_NEW_LINE) << "make_at changes only the type byte";
    EXPECT_EQ(integer::get(&slot), -5);
    cell* pushed = integer::push(7);
    EXPECT_EQ(pushed->header, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(pushed, stack::top() - 1);
    cell* blk = block::push_only_star(2);
    integer::make_in(blk, 9);
    EXPECT_EQ(integer::get(block::rs_head(blk)), 9);
    EXPECT_EQ(test::mold(*block::rs_head(blk)), "9");
}

TEST_F(IntegerTest, ArithmeticPromotesToFloatWhereTheResultLeavesTheRange)
{
    struct row { const char* name; binary_fn action; cell a, b; uint32_t type; const char* mold; };
    const row rows[] = {
        {"max + 1", integer::add, i(MAX), i(1), TYPE_FLOAT, "2147483648.0"},
        {"min - 1", integer::subtract, i(MIN), i(1), TYPE_FLOAT, "-2147483649.0"},
        {"65536 * 65536", integer::multiply, i(65536), i(65536), TYPE_FLOAT, "4294967296.0"},
        {"min * -1", integer::multiply, i(MIN), i(-1), TYPE_FLOAT, "2147483648.0"},
        {"3 + 4", integer::add, i(3), i(4), TYPE_INTEGER, "7"},
        {"7 / 2", integer::divide, i(7), i(2), TYPE_FLOAT, "3.5"},
        {"-7 / 2", integer::divide, i(-7), i(2), TYPE_FLOAT, "-3.5"},
        {"6 / 3", integer::divide, i(6), i(3), TYPE_INTEGER, "2"},
        {"min / 1", integer::divide, i(MIN), i(1), TYPE_INTEGER, "-2147483648"},
        {"remainder -7 2", integer::remainder, i(-7), i(2), TYPE_INTEGER, "-1"},
        {"remainder 7 -2", integer::remainder, i(7), i(-2), TYPE_INTEGER, "1"},
        {"12 and 10", integer::and_t, i(12), i(10), TYPE_INTEGER, "8"},
        {"12 or 10", integer::or_t, i(12), i(10), TYPE_INTEGER, "14"},
        {"12 xor 10", integer::xor_t, i(12), i(10), TYPE_INTEGER, "6"},
        {"1 + #\"a\" is an integer", integer::add, i(1), c('a'), TYPE_INTEGER, "98"},
        {"1 + 2.5", integer::add, i(1), f(2.5), TYPE_FLOAT, "3.5"},
        {"2 * 0:01 is a time", integer::multiply, i(2), t(60), TYPE_TIME, "0:02:00"},
        {"1 / 0.0", integer::divide, i(1), f(0.0), TYPE_FLOAT, "1.#INF"},
    };
    for (const row& r : rows) {
        cell result = call(r.action, r.a, r.b);
        EXPECT_EQ(cell_type(&result), r.type) << r.name;
        EXPECT_EQ(test::mold(result), r.mold) << r.name;
    }
}

TEST_F(IntegerTest, ArithmeticErrors)
{
    cell pair{TYPE_PAIR, 0, 1, 2}, date{TYPE_DATE, 0, 0, 0};
    struct row { const char* name; binary_fn action; cell a, b; uint32_t error; };
    const row rows[] = {
        {"1 / 0", integer::divide, i(1), i(0), ZERO_DIVIDE},
        {"remainder 1 0", integer::remainder, i(1), i(0), ZERO_DIVIDE},
        {"min / -1 has no float promotion", integer::divide, i(MIN), i(-1), OVERFLOW_},
        {"remainder min -1", integer::remainder, i(MIN), i(-1), OVERFLOW_},
        {"1 + none", integer::add, i(1), none_value, code(ERR_SCRIPT, err::INVALID_TYPE)},
        {"1 / pair", integer::divide, i(1), pair, code(ERR_SCRIPT, err::NOT_RELATED)},
        {"1 - date", integer::subtract, i(1), date, code(ERR_SCRIPT, err::NOT_RELATED)},
        {"1 and 2.0", integer::and_t, i(1), f(2.0), code(ERR_SCRIPT, err::CANNOT_USE)},
    };
    for (const row& r : rows) EXPECT_EQ(error_of([&] { call(r.action, r.a, r.b); }), r.error) << r.name;
}

TEST_F(IntegerTest, MathCoreWithoutACellRefusesOverflowAndTruncatesDivision)
{
    EXPECT_EQ(integer::do_math_op(7, 2, MATH_DIVIDE, nullptr), 3);
    EXPECT_EQ(error_of([] { integer::do_math_op(MAX, 1, MATH_ADD, nullptr); }), OVERFLOW_);
    cell char_cell = c('a');
    EXPECT_EQ(integer::do_math_op('a', 1, MATH_ADD, &char_cell), 'b');
    EXPECT_EQ(char_cell.header, uint32_t(TYPE_CHAR)) << "an integer result rewrites word 2 only";
}

TEST_F(IntegerTest, Power)
{
    struct row { int32_t base; cell exponent; uint32_t type; const char* mold; };
    const row rows[] = {
        {2, i(10), TYPE_INTEGER, "1024"},
        {0, i(0), TYPE_INTEGER, "1"},
        {-2, i(3), TYPE_INTEGER, "-8"},
        {-1, i(MAX), TYPE_INTEGER, "-1"},
        {46340, i(2), TYPE_INTEGER, "2147395600"},
        {2, i(31), TYPE_FLOAT, "2147483648.0"},
        {3, i(40), TYPE_FLOAT, "1.2157665459056929e19"},
        {2, i(-2), TYPE_FLOAT, "0.25"},
        {4, f(0.5), TYPE_FLOAT, "2.0"},
    };
    for (const row& r : rows) {
        cell result = call(integer::power, i(r.base), r.exponent);
        EXPECT_EQ(cell_type(&result), r.type) << r.base << " " << test::mold(r.exponent);
        EXPECT_EQ(test::mold(result), r.mold) << r.base << " " << test::mold(r.exponent);
    }
    EXPECT_EQ(error_of([] { call(integer::power, i(2), none_value); }), code(ERR_SCRIPT, err::EXPECT_ARG));
}

enum round_mode { PLAIN, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };

cell rounded(cell value, round_mode mode, const cell* scale)
{
    auto action = [mode, scale](cell* v, cell* s) {
        return integer::round(v, scale ? s : nullptr, mode == EVEN, mode == DOWN, mode == HALF_DOWN, mode == FLOOR,
                              mode == CEILING, mode == HALF_CEILING);
    };
    return call(action, value, scale ? *scale : cell{TYPE_UNSET, 0, 0, 0});
}

TEST_F(IntegerTest, RoundToScale)
{
    struct row { int32_t value; round_mode mode; int32_t scale; int32_t want; };
    const row rows[] = {
        {17, PLAIN, 5, 15}, {18, PLAIN, 5, 20}, {15, PLAIN, 10, 20}, {-15, PLAIN, 10, -20},
        {25, EVEN, 10, 20}, {35, EVEN, 10, 40}, {15, HALF_DOWN, 10, 10}, {-15, HALF_CEILING, 10, -10},
        {15, HALF_CEILING, 10, 20}, {-11, FLOOR, 5, -15}, {-11, CEILING, 5, -10}, {11, FLOOR, 5, 10},
        {11, CEILING, 5, 15}, {-17, DOWN, 5, -15}, {7, PLAIN, 0, 7}, {7, PLAIN, -5, 5}, {MIN, PLAIN, 10, MIN},
        {MAX, DOWN, 10, 2147483640},
    };
    for (const row& r : rows) {
        cell scale = i(r.scale);
        cell result = rounded(i(r.value), r.mode, &scale);
        EXPECT_EQ(test::mold(result), test::mold(i(r.want))) << r.value << " mode " << r.mode << " to " << r.scale;
    }
    EXPECT_EQ(test::mold(rounded(i(MIN), PLAIN, nullptr)), "-2147483648");
    EXPECT_EQ(test::mold(rounded(i(12), PLAIN, nullptr)), "12");
}

TEST_F(IntegerTest, RoundErrorsAndOtherScales)
{
    cell ten = i(10), min = i(MIN), half = f(0.5), money{TYPE_MONEY, 0, 0, 0};
    EXPECT_EQ(error_of([&] { rounded(i(MAX), PLAIN, &ten); }), OVERFLOW_);
    EXPECT_EQ(error_of([&] { rounded(i(MAX), FLOOR, &ten); }), OVERFLOW_) << "checked for both signs";
    EXPECT_EQ(error_of([&] { rounded(i(MAX), CEILING, &ten); }), OVERFLOW_);
    EXPECT_EQ(error_of([&] { rounded(i(5), PLAIN, &min); }), OVERFLOW_);
    EXPECT_EQ(error_of([&] { rounded(i(5), PLAIN, &money); }), code(ERR_SCRIPT, err::NOT_RELATED));
    EXPECT_EQ(test::mold(rounded(i(7), PLAIN, &half)), "7.0") << "a float scale rounds as a float";
    cell minute = t(60);
    cell r = rounded(i(100), PLAIN, &minute);
    EXPECT_EQ(cell_type(&r), uint32_t(TYPE_TIME));
    EXPECT_EQ(test::mold(r), "0:02:00");
}

cell to_integer(cell spec)
{
    return call([](cell* proto, cell* s) { return integer::to(proto, s, TYPE_INTEGER); }, type(TYPE_INTEGER), spec);
}

TEST_F(IntegerTest, ToInteger)
{
    struct row { const char* name; cell spec; int32_t want; };
    const row rows[] = {
        {"char", c('A'), 65},
        {"float truncated toward zero", f(-1.9), -1},
        {"largest float", f(2147483647.0), MAX},
        {"percent", cell{TYPE_PERCENT, 0, 0, 0x3FE00000}, 0},
        {"time to the nearest second", t(89.5), 90},
        {"negative time", t(-1.7), -1},
        {"text with separators", text("1'000"), 1000},
        {"text with a plus sign", text("+5"), 5},
        {"most negative text", text("-2147483648"), MIN},
        {"binary, big-endian", binary({1, 2}), 258},
        {"four bytes", binary({1, 2, 3, 4}), 16909060},
        {"only the first four bytes", binary({0xFF, 0xFF, 0xFF, 0xFF, 9}), -1},
        {"empty binary", binary({}), 0},
        {"issue in hex", issue_of("ff"), 255},
        {"eight hex digits", issue_of("FFFFFFFF"), -1},
    };
    for (const row& r : rows) {
        cell result = to_integer(r.spec);
        EXPECT_EQ(cell_type(&result), uint32_t(TYPE_INTEGER)) << r.name;
        EXPECT_EQ(int_of(result), r.want) << r.name;
    }
    cell logic_true = true_value;
    cell made = call([](cell* p, cell* s) { return integer::make(p, s, TYPE_INTEGER); }, type(TYPE_INTEGER), logic_true);
    EXPECT_EQ(int_of(made), 1) << "make integer! true";
}

TEST_F(IntegerTest, ToIntegerErrors)
{
    const uint32_t BAD_TO = code(ERR_SCRIPT, err::BAD_TO_ARG), LIMIT = code(ERR_SCRIPT, err::TYPE_LIMIT),
                   BAD_DATA = code(ERR_SCRIPT, err::INVALID_DATA);
    struct row { const char* name; cell spec; uint32_t error; };
    const row rows[] = {
        {"float above the range", f(2147483647.5), LIMIT},
        {"float below the range", f(-2147483649.0), LIMIT},
        {"NaN", f(float_::quiet_nan), LIMIT},
        {"time beyond the range", t(3e9), LIMIT},
        {"empty text", text(""), BAD_TO},
        {"text with a letter", text("12a"), BAD_TO},
        {"text beyond the range", text("2147483648"), BAD_TO},
        {"text far below the range", text("-21474836480"), BAD_TO},
        {"a lone sign", text("-"), BAD_TO},
        {"logic", true_value, BAD_TO},
        {"nine hex digits", issue_of("123456789"), BAD_DATA},
        {"not a hex digit", issue_of("fg"), BAD_DATA},
        {"code point above 127", issue_of("\xC3\xA9"), BAD_DATA},
    };
    for (const row& r : rows) EXPECT_EQ(error_of([&] { to_integer(r.spec); }), r.error) << r.name;
}

TEST_F(IntegerTest, Compare)
{
    struct row { const char* name; cell a, b; int32_t op; int32_t want; };
    const row rows[] = {
        {"1 < 2", i(1), i(2), COMP_LESSER, -1},
        {"min < max", i(MIN), i(MAX), COMP_LESSER, -1},
        {"65 = #\"A\"", i(65), c('A'), COMP_EQUAL, 0},
        {"65 == #\"A\" is false", i(65), c('A'), COMP_STRICT_EQUAL, 1},
        {"65 under search equality", i(65), c('A'), COMP_FIND, 1},
        {"1 = 1.0", i(1), f(1.0), COMP_EQUAL, 0},
        {"1 same? 1.0 is false", i(1), f(1.0), COMP_SAME, 1},
        {"2 > 1.5", i(2), f(1.5), COMP_GREATER, 1},
        {"1 = none is not comparable", i(1), none_value, COMP_EQUAL, -2},
    };
    for (const row& r : rows) EXPECT_EQ(test::compare(r.a, r.b, r.op), r.want) << r.name;
}

TEST_F(IntegerTest, UnaryActions)
{
    EXPECT_EQ(int_of(call(integer::absolute, i(-5))), 5);
    EXPECT_EQ(error_of([] { call(integer::absolute, i(MIN)); }), OVERFLOW_);
    EXPECT_EQ(int_of(call(integer::negate, i(5))), -5);
    EXPECT_EQ(error_of([] { call(integer::negate, i(MIN)); }), OVERFLOW_);
    EXPECT_EQ(int_of(call(integer::complement, i(0))), -1);
    cell odd = call(integer::odd_q, i(-3)), even = call(integer::even_q, i(-3));
    EXPECT_TRUE(odd.header == TYPE_LOGIC && odd.data1 == 1) << "-3 is odd";
    EXPECT_TRUE(even.header == TYPE_LOGIC && even.data1 == 0);
}

TEST_F(IntegerTest, Text)
{
    for (int32_t v : {0, 1, -1, 42, MAX, MIN}) {
        EXPECT_EQ(test::form(i(v)), std::to_string(v));
        EXPECT_EQ(test::mold(i(v)), std::to_string(v));
    }
}

TEST_F(IntegerTest, RandomStaysInItsRangeAndSeedRepeatsIt)
{
    auto draw = [](int32_t n) {
        return int_of(call([](cell* v) { return integer::random(v, false, false, false); }, i(n)));
    };
    EXPECT_EQ(draw(0), 0);
    for (int k = 0; k < 50; k++) {
        int32_t r = draw(-3);
        EXPECT_TRUE(r >= -3 && r <= -1) << r;
        r = draw(6);
        EXPECT_TRUE(r >= 1 && r <= 6) << r;
    }
    auto seed = [] { return call([](cell* v) { return integer::random(v, true, false, false); }, i(5)); };
    EXPECT_EQ(seed().header, uint32_t(TYPE_UNSET));
    int32_t first = draw(1000000);
    seed();
    EXPECT_EQ(draw(1000000), first);
}

}  // namespace
