// float!: constructors, the form and mold texts, tolerant comparison, arithmetic and rounding.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "datatypes/numbers.h"
#include "runtime/datatypes/logic.h"

namespace {

using namespace num;

class FloatTest : public test::StackTest {
protected:
    void TearDown() override
    {
        float_::pretty_q = 1;
        StackTest::TearDown();
    }
};

const double inf = float_::infinity, nan = float_::quiet_nan;
cell percent(double fraction)
{
    cell p = f(fraction);
    p.header = TYPE_PERCENT;
    return p;
}
// The double n steps of the last place above d.
double steps_above(double d, int n)
{
    for (int k = 0; k < n; k++) d = std::nextafter(d, inf);
    return d;
}

TEST_F(FloatTest, ConstructorsKeepTheBitsInWordsTwoAndThree)
{
    cell* pushed = float_::push64(0x3FF00000, 0);
    EXPECT_EQ(pushed->header, uint32_t(TYPE_FLOAT));
    EXPECT_EQ(float_::get(pushed), 1.0);
    cell* blk = block::push_only_star(2);
    float_::make_in(blk, 0xBFF80000, 0);
    float_::make_in(blk, 0.5);
    EXPECT_EQ(float_::get(block::rs_head(blk)), -1.5);
    EXPECT_EQ(test::mold(block::rs_head(blk)[1]), "0.5");
    cell three = i(-3), none = none_value;
    EXPECT_EQ(float_::get_any(&three), -3.0);
    EXPECT_EQ(error_of([&] { float_::get_any(&none); }), code(ERR_SCRIPT, err::BAD_TO_ARG));
}

TEST_F(FloatTest, FormAndMoldAreSeparatePaths)
{
    struct row { double value; const char* form; const char* form_plain; const char* mold; };
    const row rows[] = {
        {0.1 + 0.2, "0.3", "0.3", "0.30000000000000004"},
        {434.99999999999994, "435.0", "434.9999999999999", "434.99999999999994"},
        {9.2, "9.2", "9.199999999999999", "9.2"},
        {1e20, "1.0e20", "1.0e20", "1.0e20"},
        {1e16, "1.0e16", "1.0e16", "10000000000000000.0"},
        {1e15, "1000000000000000.0", "1000000000000000.0", "1000000000000000.0"},
        {1e-7, "1.0e-7", "1.0e-7", "0.0000001"},
        {0.0001, "0.0001", "0.0001", "0.0001"},
        {100.0, "100.0", "100.0", "100.0"},
        {-2.5, "-2.5", "-2.5", "-2.5"},
        {-0.0, "0.0", "-0.0", "-0.0"},
        {1e-17, "0.0", "1.0e-17", "1.0e-17"},
        {1.2345678901234568e17, "1.234567890123457e17", "1.234567890123457e17", "1.2345678901234568e17"},
        {inf, "1.#INF", "1.#INF", "1.#INF"},
        {-inf, "-1.#INF", "-1.#INF", "-1.#INF"},
        {nan, "1.#NaN", "1.#NaN", "1.#NaN"},
        {-nan, "1.#NaN", "1.#NaN", "1.#NaN"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(test::form(f(r.value)), r.form) << r.mold;
        EXPECT_EQ(test::mold(f(r.value)), r.mold);
        float_::pretty_q = 0;
        EXPECT_EQ(test::form(f(r.value)), r.form_plain) << r.mold << " without pretty";
        EXPECT_EQ(test::mold(f(r.value)), r.mold) << "mold does not read the flag";
        float_::pretty_q = 1;
    }
}

TEST_F(FloatTest, FormFloatKinds)
{
    struct row { double value; int32_t kind; const char* text; };
    const row rows[] = {
        {double(0.1f), float_::FORM_SINGLE, "0.1"},
        {50.0, float_::FORM_PERCENT, "50%"},
        {1e-20, float_::FORM_PERCENT, "0%"},
        {double(12.5f), float_::FORM_SINGLE_PERCENT, "12.5%"},
        {1.5, float_::FORM_SECONDS, "1.5"},
        {5.0, float_::FORM_SECONDS, "5"},
        {2.0, float_::FORM_POINT, "2"},
        {0.0, float_::FORM_POINT, "0"},
        {1234567.0, float_::FORM_SINGLE, "1234567.0"},
        {12345678.0, float_::FORM_SINGLE, "1.234568e7"},
    };
    for (const row& r : rows) EXPECT_STREQ(float_::form_float(r.value, r.kind), r.text) << r.value << " kind " << r.kind;
}

TEST_F(FloatTest, Arithmetic)
{
    struct row { const char* name; binary_fn action; cell a, b; uint32_t type; double want; };
    const row rows[] = {
        {"1.0 / 0", float_::divide, f(1.0), i(0), TYPE_FLOAT, inf},
        {"-1.0 / 0", float_::divide, f(-1.0), i(0), TYPE_FLOAT, -inf},
        {"remainder 5.5 2", float_::remainder, f(5.5), i(2), TYPE_FLOAT, 1.5},
        {"remainder -5.5 2", float_::remainder, f(-5.5), i(2), TYPE_FLOAT, -1.5},
        {"remainder 5.0 inf", float_::remainder, f(5.0), f(inf), TYPE_FLOAT, 5.0},
        {"2.5 * 2", float_::multiply, f(2.5), i(2), TYPE_FLOAT, 5.0},
        {"1.5 + 50%", float_::add, f(1.5), percent(0.5), TYPE_FLOAT, 2.0},
        {"50% + 1", float_::add, percent(0.5), i(1), TYPE_PERCENT, 1.5},
        {"50% + 50%", float_::add, percent(0.5), percent(0.5), TYPE_PERCENT, 1.0},
        {"1.5 + #\"a\"", float_::add, f(1.5), c('a'), TYPE_FLOAT, 98.5},
        {"0:01 * 1.5", float_::multiply, t(60), f(1.5), TYPE_TIME, 90},
        {"0.5 + 0:01", float_::add, f(0.5), t(60), TYPE_TIME, 60.5},
    };
    for (const row& r : rows) {
        cell result = call(r.action, r.a, r.b);
        EXPECT_EQ(cell_type(&result), r.type) << r.name;
        EXPECT_EQ(float_of(result), r.want) << r.name;
    }
    EXPECT_TRUE(std::isnan(float_of(call(float_::remainder, f(inf), i(2))))) << "remainder of an infinity";
    EXPECT_TRUE(std::isnan(float_of(call(float_::remainder, f(1.0), f(nan)))));
    EXPECT_TRUE(std::isnan(float_of(call(float_::divide, f(0.0), i(0))))) << "0.0 / 0";
}

TEST_F(FloatTest, ArithmeticErrors)
{
    cell pair{TYPE_PAIR, 0, 1, 2};
    const uint32_t INVALID = code(ERR_SCRIPT, err::INVALID_TYPE);
    struct row { const char* name; cell a, b; uint32_t code; uint32_t error; };
    const row rows[] = {
        {"1.0 + none", f(1.0), none_value, MATH_ADD, INVALID},
        {"50% + #\"a\"", percent(0.5), c('a'), MATH_ADD, INVALID},
        {"0:01 + #\"a\"", t(60), c('a'), MATH_ADD, INVALID},
        {"0:01 + pair", t(60), pair, MATH_ADD, INVALID},
        {"1.0 - pair", f(1.0), pair, MATH_SUBTRACT, code(ERR_SCRIPT, err::NOT_RELATED)},
        {"1.0 / pair", f(1.0), pair, MATH_DIVIDE, code(ERR_SCRIPT, err::NOT_RELATED)},
        {"1.0 and 2", f(1.0), i(2), MATH_AND, code(ERR_SCRIPT, err::CANNOT_USE)},
    };
    for (const row& r : rows) {
        auto action = [&r](cell* a, cell* b) { return float_::do_math(a, b, r.code); };
        EXPECT_EQ(error_of([&] { call(action, r.a, r.b); }), r.error) << r.name;
    }
}

TEST_F(FloatTest, Compare)
{
    const double other_nan = std::bit_cast<double>(uint64_t(0x7FF8000000000001));
    struct row { const char* name; cell a, b; int32_t op; int32_t want; };
    const row rows[] = {
        {"0.1 + 0.2 = 0.3", f(0.1 + 0.2), f(0.3), COMP_EQUAL, 0},
        {"0.1 + 0.2 == 0.3 is false", f(0.1 + 0.2), f(0.3), COMP_STRICT_EQUAL, 1},
        {"ten steps apart are equal", f(1.0), f(steps_above(1.0, 10)), COMP_EQUAL, 0},
        {"eleven steps apart are not", f(1.0), f(steps_above(1.0, 11)), COMP_EQUAL, 1},
        {"across zero", f(-5e-324), f(5e-324), COMP_EQUAL, 0},
        {"1e-17 = -1e-17", f(1e-17), f(-1e-17), COMP_EQUAL, 0},
        {"1.0 = 1", f(1.0), i(1), COMP_EQUAL, 0},
        {"NaN = NaN is false", f(nan), f(nan), COMP_EQUAL, 1},
        {"NaN same? NaN", f(nan), f(nan), COMP_SAME, 0},
        {"0.0 same? -0.0 is false", f(0.0), f(-0.0), COMP_SAME, 1},
        {"0.5 == 50% differ in type", f(0.5), percent(0.5), COMP_STRICT_EQUAL, 1},
        {"NaN < 1 is false", f(nan), f(1.0), COMP_LESSER, 1},
        {"NaN >= 1 is false", f(nan), f(1.0), COMP_GREATER_EQUAL, -1},
        {"search: NaN finds the same NaN", f(nan), f(nan), COMP_FIND, 0},
        {"search: NaN misses another NaN", f(nan), f(other_nan), COMP_FIND, 1},
        {"search: NaN misses a number", f(nan), f(1.0), COMP_FIND, 1},
        {"search: a number misses NaN", f(1.0), f(nan), COMP_FIND, 1},
        {"search: 1.0 finds 1.0", f(1.0), f(1.0), COMP_FIND, 0},
        {"search: 1.0 misses 1", f(1.0), i(1), COMP_FIND, 1},
        {"1.5 < 2", f(1.5), i(2), COMP_LESSER, -1},
        {"1.0 = none is not comparable", f(1.0), none_value, COMP_EQUAL, -2},
    };
    for (const row& r : rows) EXPECT_EQ(test::compare(r.a, r.b, r.op), r.want) << r.name;
}

TEST_F(FloatTest, TolerantEqualityOfSingles)
{
    const float big = std::bit_cast<float>(0x7F7FFFFFu);
    EXPECT_TRUE(float_::equal32_q(1.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_FALSE(float_::equal32_q(1.0f, 1.001f));
    EXPECT_TRUE(float_::equal32_q(-0.0f, 0.0f));
    EXPECT_TRUE(float_::equal32_q(big, std::bit_cast<float>(0x7F7FFF00u)));
    EXPECT_FALSE(float_::equal32_q(big, -big));
    EXPECT_FALSE(float_::equal32_q(std::bit_cast<float>(0x7FC00000u), std::bit_cast<float>(0x7FC00000u)));
}

enum round_mode { PLAIN, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };

cell rounded(cell value, round_mode mode, const cell* scale = nullptr)
{
    auto action = [mode, scale](cell* v, cell* s) {
        return float_::round(v, scale ? s : nullptr, mode == EVEN, mode == DOWN, mode == HALF_DOWN, mode == FLOOR,
                             mode == CEILING, mode == HALF_CEILING);
    };
    return call(action, value, scale ? *scale : cell{TYPE_UNSET, 0, 0, 0});
}

TEST_F(FloatTest, Round)
{
    struct row { double value; round_mode mode; double want; };
    const row rows[] = {
        {2.5, PLAIN, 3.0}, {-2.5, PLAIN, -3.0}, {2.4, PLAIN, 2.0}, {2.5, EVEN, 2.0}, {3.5, EVEN, 4.0},
        {2.5, HALF_DOWN, 2.0}, {-2.5, HALF_CEILING, -2.0}, {2.5, HALF_CEILING, 3.0}, {-2.7, DOWN, -2.0},
        {-2.2, FLOOR, -3.0}, {-2.2, CEILING, -2.0}, {1e300, PLAIN, 1e300}, {-0.4, PLAIN, -0.0},
    };
    for (const row& r : rows) {
        cell result = rounded(f(r.value), r.mode);
        EXPECT_EQ(cell_type(&result), uint32_t(TYPE_FLOAT)) << r.value << " mode " << r.mode;
        EXPECT_EQ(float_of(result), r.want) << r.value << " mode " << r.mode;
    }
}

TEST_F(FloatTest, RoundToScaleTakesTheScalesType)
{
    struct row { const char* name; cell value, scale; uint32_t type; const char* mold; };
    const row rows[] = {
        {"1.2345 to 0.01", f(1.2345), f(0.01), TYPE_FLOAT, "1.23"},
        {"7.3 to 2 is an integer", f(7.3), i(2), TYPE_INTEGER, "8"},
        {"5.0 to a second is a time", f(5.0), t(1), TYPE_TIME, "0:00:05"},
        {"a tiny scale below a subnormal", f(1.5), f(5e-324), TYPE_FLOAT, "1.5"},
        {"a scale of 0", f(0.0), f(0.0), TYPE_FLOAT, "0.0"},
        {"a subnormal scale", f(7e-323), f(2e-323), TYPE_FLOAT, "8.0e-323"},
    };
    for (const row& r : rows) {
        cell result = rounded(r.value, PLAIN, &r.scale);
        EXPECT_EQ(cell_type(&result), r.type) << r.name;
        EXPECT_EQ(test::mold(result), r.mold) << r.name;
    }
    cell whole = percent(0.1234), one = i(1);
    EXPECT_NEAR(float_of(rounded(whole, PLAIN)), 0.12, 1e-15) << "a percent rounds to whole percents";
    cell whole_percents = rounded(whole, PLAIN, &one);
    EXPECT_EQ(cell_type(&whole_percents), uint32_t(TYPE_PERCENT)) << "an integer scale counts percents";
    EXPECT_NEAR(float_of(whole_percents), 0.12, 1e-15);
    cell big = f(1e308), money{TYPE_MONEY, 0, 0, 0}, text_scale = text("x");
    EXPECT_EQ(error_of([&] { rounded(f(1.7e308), PLAIN, &big); }), code(ERR_MATH, err::OVERFLOW));
    EXPECT_EQ(error_of([&] { rounded(f(1e10), PLAIN, &one); }), code(ERR_MATH, err::OVERFLOW))
        << "an integer result beyond the range";
    EXPECT_EQ(error_of([&] { rounded(f(1.0), PLAIN, &money); }), code(ERR_SCRIPT, err::NOT_RELATED));
    EXPECT_EQ(error_of([&] { rounded(f(1.0), PLAIN, &text_scale); }), code(ERR_SCRIPT, err::INVALID_ARG));
}

cell to_float(cell spec)
{
    return call([](cell* proto, cell* s) { return float_::make(proto, s, TYPE_FLOAT); }, type(TYPE_FLOAT), spec);
}

TEST_F(FloatTest, ToFloat)
{
    struct row { const char* name; cell spec; double want; };
    const row rows[] = {
        {"text", text("1.5"), 1.5},
        {"comma as the point", text("-1,5"), -1.5},
        {"separators dropped", text("1'000.25"), 1000.25},
        {"exponent", text("2E-3"), 0.002},
        {"infinity text", text("-1.#INF"), -inf},
        {"binary of eight bytes", binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), 1.0},
        {"one byte is a subnormal", binary({1}), 5e-324},
        {"block", block_of({i(15), i(-1)}), 1.5},
        {"decimal scaling", block_of({i(3), f(-1.9)}), 0.3},
        {"past the range", block_of({i(1), i(400)}), inf},
        {"char", c('A'), 65.0},
        {"integer", i(-7), -7.0},
        {"time", t(90), 90.0},
        {"percent", percent(0.5), 0.5},
    };
    for (const row& r : rows) {
        cell result = to_float(r.spec);
        EXPECT_EQ(result.header, uint32_t(TYPE_FLOAT)) << r.name;
        EXPECT_EQ(float_of(result), r.want) << r.name;
    }
    const uint32_t BAD_TO = code(ERR_SCRIPT, err::BAD_TO_ARG);
    for (const char* bad : {"", "abc", "1e", "1.5x", "--1", ".", "1.#INFINITY"})
        EXPECT_EQ(error_of([&] { to_float(text(bad)); }), BAD_TO) << '"' << bad << '"';
    EXPECT_EQ(error_of([] { to_float(block_of({i(1), i(2), i(3)})); }), BAD_TO);
    EXPECT_EQ(error_of([] { to_float(block_of({i(1), none_value})); }), BAD_TO);
    EXPECT_EQ(error_of([] { to_float(none_value); }), BAD_TO);
}

TEST_F(FloatTest, UnaryActions)
{
    EXPECT_EQ(float_of(call(float_::absolute, f(-2.5))), 2.5);
    EXPECT_EQ(test::mold(call(float_::absolute, f(-0.0))), "0.0");
    EXPECT_EQ(test::mold(call(float_::negate, f(0.0))), "0.0") << "0.0 - value";
    EXPECT_EQ(float_of(call(float_::negate, f(2.0))), -2.0);
    struct row { double value; bool even; };
    const row rows[] = {{2.7, true}, {-3.2, false}, {3.0, false}, {1e300, true}, {nan, true}, {-inf, true}};
    for (const row& r : rows) {
        EXPECT_EQ(call(float_::even_q, f(r.value)).data1, uint32_t(r.even)) << r.value;
        EXPECT_EQ(call(float_::odd_q, f(r.value)).data1, uint32_t(!r.even)) << r.value;
    }
    cell root = call(float_::power, f(2.0), f(0.5));
    EXPECT_EQ(float_of(root), std::sqrt(2.0));
    cell p = call(float_::power, percent(0.5), i(2));
    EXPECT_EQ(cell_type(&p), uint32_t(TYPE_PERCENT)) << "the base keeps its type";
    EXPECT_EQ(error_of([] { call(float_::power, f(2.0), none_value); }), code(ERR_SCRIPT, err::EXPECT_ARG));
}

TEST_F(FloatTest, RoundToIntSaturates)
{
    struct row { double value; int32_t want; };
    const row rows[] = {{2.5, 3}, {2.4999, 2}, {-2.7, -2}, {1e300, INT32_MAX}, {-1e300, INT32_MIN}, {nan, 0}};
    for (const row& r : rows) EXPECT_EQ(float_::round_to_int(r.value), r.want) << r.value;
}

TEST_F(FloatTest, RandomStaysBelowItsMaximumAndSeedRepeatsIt)
{
    auto draw = [](double max, bool secure) {
        return float_of(call([secure](cell* v) { return float_::random(v, false, secure, false); }, f(max)));
    };
    for (int k = 0; k < 50; k++) {
        double r = draw(2.5, k & 1);
        EXPECT_TRUE(r >= 0 && r <= 2.5) << r;
    }
    auto seed = [] { return call([](cell* v) { return float_::random(v, true, false, false); }, f(1.5)); };
    EXPECT_EQ(seed().header, uint32_t(TYPE_UNSET));
    double first = draw(1.0, false);
    seed();
    EXPECT_EQ(draw(1.0, false), first);
}

}  // namespace
