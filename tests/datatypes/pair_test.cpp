// pair!: exact arithmetic and its promotion to point2D!, conversions, paths, rounding, comparison.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"

namespace {

using namespace num;
using PairTest = test::StackTest;

TEST_F(PairTest, Arithmetic)
{
    struct row { const char* name; binary_fn op; cell left, right; const char* result; };
    const row rows[] = {
        {"2x3 * 2", pair::multiply, p(2, 3), i(2), "4x6"},
        {"2x3 * 2.0 keeps the scale's kind", pair::multiply, p(2, 3), f(2.0), "(4, 6)"},
        {"4x6 * 50%", pair::multiply, p(4, 6), pc(0.5), "(2, 3)"},
        {"3x4 / 2.0", pair::divide, p(3, 4), f(2.0), "(1.5, 2)"},
        {"10x20 / 3 truncates", pair::divide, p(10, 20), i(3), "3x6"},
        {"-7x7 % 2x3", pair::remainder, p(-7, 7), p(2, 3), "-1x1"},
        {"5x5 + 1.9: the float truncated", pair::add, p(5, 5), f(1.9), "6x6"},
        {"1x2 - 3x5", pair::subtract, p(1, 2), p(3, 5), "-2x-3"},
        {"6x3 and 3", pair::and_t, p(6, 3), i(3), "2x3"},
        {"6x3 or 1x8", pair::or_t, p(6, 3), p(1, 8), "7x11"},
        {"6x3 xor 5", pair::xor_t, p(6, 3), i(5), "3x6"},
        {"1x2 + (0.5, 0.5)", pair::add, p(1, 2), pt(0.5f, 0.5f), "(1.5, 2.5)"},
        {"2147483647x1 + 1 overflows into a point", pair::add, p(INT32_MAX, 1), i(1), "(2.147484e9, 2)"},
        {"-2147483648x4 / -1", pair::divide, p(INT32_MIN, 4), i(-1), "(2.147484e9, -4)"},
        {"65536x1 * 65536", pair::multiply, p(65536, 1), i(65536), "(4.294967e9, 65536)"},
        {"-2147483648x0 % -1 is exact", pair::remainder, p(INT32_MIN, 0), i(-1), "0x0"},
    };
    for (const row& r : rows) EXPECT_EQ(test::mold(call(r.op, r.left, r.right)), r.result) << r.name;
}

TEST_F(PairTest, ArithmeticErrors)
{
    struct row { const char* name; binary_fn op; cell left, right; uint32_t error; };
    const row rows[] = {
        {"10x20 / 0", pair::divide, p(10, 20), i(0), code(ERR_MATH, err::ZERO_DIVIDE)},
        {"10x20 % 0x1", pair::remainder, p(10, 20), p(0, 1), code(ERR_MATH, err::ZERO_DIVIDE)},
        {"1x1 + 1.#INF", pair::add, p(1, 1), f(float_::infinity), code(ERR_SCRIPT, err::INVALID_ARG)},
        {"1x1 * 1.#NaN", pair::multiply, p(1, 1), f(float_::quiet_nan), code(ERR_SCRIPT, err::INVALID_ARG)},
        {"1x1 + 3e10", pair::add, p(1, 1), f(3e10), code(ERR_SCRIPT, err::INVALID_ARG)},
        {"1x1 and (1, 1): points have no bits", pair::and_t, p(1, 1), pt(1, 1), code(ERR_SCRIPT, err::INVALID_TYPE)},
        {"1x1 xor (1, 1)", pair::xor_t, p(1, 1), pt(1, 1), code(ERR_SCRIPT, err::INVALID_TYPE)},
        {"1x1 + #\"a\"", pair::add, p(1, 1), c('a'), code(ERR_SCRIPT, err::INVALID_TYPE)},
    };
    for (const row& r : rows) EXPECT_EQ(error_of([&] { call(r.op, r.left, r.right); }), r.error) << r.name;
}

TEST_F(PairTest, SignChangesCheckTheSmallestInteger)
{
    EXPECT_EQ(test::mold(call(pair::negate, p(3, -4))), "-3x4");
    EXPECT_EQ(test::mold(call(pair::absolute, p(3, -4))), "3x4");
    for (unary_fn op : {pair::negate, pair::absolute}) {
        EXPECT_EQ(error_of([&] { call(op, p(INT32_MIN, 0)); }), code(ERR_MATH, err::OVERFLOW));
        EXPECT_EQ(error_of([&] { call(op, p(0, INT32_MIN)); }), code(ERR_MATH, err::OVERFLOW));
    }
    EXPECT_EQ(test::mold(call([](cell* v) { return pair::reverse(v, nullptr, nullptr); }, p(1, 2))), "2x1");
}

TEST_F(PairTest, MakeAndTo)
{
    auto make = [](cell spec) { return call([](cell* s, cell*) { return pair::make(s + 1, s, TYPE_PAIR); }, spec); };
    struct row { const char* name; cell spec; const char* result; };
    const row rows[] = {
        {"5", i(5), "5x5"},
        {"-2.7", f(-2.7), "-2x-2"},
        {"(1.9, -2.9)", pt(1.9f, -2.9f), "1x-2"},
        {"[1 2]", block_of({i(1), i(2)}), "1x2"},
        {"[1.5 -2.5 9]", block_of({f(1.5), f(-2.5), i(9)}), "1x-2"},
        {"3x4", p(3, 4), "3x4"},
    };
    for (const row& r : rows) EXPECT_EQ(test::mold(make(r.spec)), r.result) << r.name;
    struct fault { const char* name; cell spec; uint32_t error; };
    const fault faults[] = {
        {"[1]", block_of({i(1)}), code(ERR_SYNTAX, err::MALCONSTRUCT)},
        {"[1 \"a\"]", block_of({i(1), text("a")}), code(ERR_SYNTAX, err::MALCONSTRUCT)},
        {"[1e10 1]", block_of({f(1e10), i(1)}), code(ERR_SCRIPT, err::INVALID_ARG)},
        {"(1.#INF, 0)", pt(float_::infinity, 0), code(ERR_SCRIPT, err::INVALID_ARG)},
        {"#\"a\"", c('a'), code(ERR_SCRIPT, err::BAD_TO_ARG)},
        {"(1 2) paren", [] { cell b = block_of({i(1), i(2)}); cell_set_type(&b, TYPE_PAREN); return b; }(),
         code(ERR_SCRIPT, err::BAD_TO_ARG)},
    };
    for (const fault& r : faults) EXPECT_EQ(error_of([&] { make(r.spec); }), r.error) << r.name;
}

cell path_step(cell value, cell element, const cell* v = nullptr)
{
    return num::path_step(pair::eval_path, value, element, v);
}

TEST_F(PairTest, PathsAndPick)
{
    cell x = *word::load("x"), y = *word::load("Y"), z = *word::load("z");
    EXPECT_EQ(int_of(path_step(p(3, 4), x)), 3);
    EXPECT_EQ(int_of(path_step(p(3, 4), y)), 4) << "axis words ignore case";
    EXPECT_EQ(int_of(path_step(p(3, 4), i(2))), 4);
    cell ten = i(10), half = f(0.5);
    EXPECT_EQ(test::mold(path_step(p(3, 4), x, &ten)), "10x4");
    EXPECT_EQ(test::mold(path_step(p(3, 4), i(2), &ten)), "3x10");
    EXPECT_EQ(error_of([&] { path_step(p(3, 4), z); }), code(ERR_SCRIPT, err::INVALID_PATH));
    EXPECT_EQ(error_of([&] { path_step(p(3, 4), i(3)); }), code(ERR_SCRIPT, err::INVALID_PATH));
    EXPECT_EQ(error_of([&] { path_step(p(3, 4), x, &half); }), code(ERR_SCRIPT, err::INVALID_TYPE));

    auto pick = [](cell value, cell index) {
        return call([](cell* v, cell* n) { return pair::pick(v, int32_t(n->data2), n); }, value, index);
    };
    EXPECT_EQ(int_of(pick(p(3, 4), i(1))), 3);
    EXPECT_EQ(int_of(pick(p(3, 4), y)), 4);
    EXPECT_EQ(error_of([&] { pick(p(3, 4), i(3)); }), code(ERR_SCRIPT, err::OUT_OF_RANGE));
    EXPECT_EQ(error_of([&] { pick(p(3, 4), z); }), code(ERR_SCRIPT, err::CANNOT_USE));
}

TEST_F(PairTest, Compare)
{
    struct row { cell a, b; int32_t op; int32_t result; };
    const row rows[] = {
        {p(1, 5), p(2, 0), COMP_LESSER, -1},   // x decides first
        {p(2, 0), p(2, 5), COMP_LESSER, -1},
        {p(2, 5), p(2, 5), COMP_EQUAL, 0},
        {p(1, 2), pt(1, 2), COMP_EQUAL, 0},    // compared as points
        {p(1, 2), pt(1, 3), COMP_EQUAL, 1},
        {p(1, 2), i(1), COMP_EQUAL, -2},
    };
    for (const row& r : rows)
        EXPECT_EQ(test::compare(r.a, r.b, r.op), r.result) << test::mold(r.a) << " vs " << test::mold(r.b);
}

TEST_F(PairTest, Round)
{
    auto round = [](cell value, const cell* scale, bool floor = false) {
        cell* v = stack::push(&value);
        cell* s = scale ? stack::push(scale) : nullptr;
        return *pair::round(v, s, false, false, false, floor, false, false);
    };
    cell five = i(5), two_five = p(2, 5), quarter = f(2.5), money{TYPE_MONEY, 0, 0, 0};
    EXPECT_EQ(test::mold(round(p(7, 13), &five)), "5x15");
    EXPECT_EQ(test::mold(round(p(7, 13), &two_five)), "8x15") << "a pair scale per component";
    EXPECT_EQ(test::mold(round(p(7, 13), &quarter)), "7x12") << "a float result is made an integer again";
    EXPECT_EQ(test::mold(round(p(-7, 13), &five, true)), "-10x10");
    EXPECT_EQ(error_of([&] { round(p(1, 1), &money); }), code(ERR_SCRIPT, err::NOT_RELATED));
}

TEST_F(PairTest, RandomKeepsZeroAndSignAndSeeds)
{
    for (int k = 0; k < 50; k++) {
        cell r = call([](cell* v) { return pair::random(v, false, false, false); }, p(0, -10));
        EXPECT_EQ(pair::x_of(&r), 0);
        EXPECT_TRUE(pair::y_of(&r) >= -10 && pair::y_of(&r) <= -1) << pair::y_of(&r);
    }
    auto seeded = [] {
        cell seed = call([](cell* v) { return pair::random(v, true, false, false); }, p(7, 9));
        EXPECT_EQ(cell_type(&seed), uint32_t(TYPE_UNSET));
        return call([](cell* v) { return pair::random(v, false, false, false); }, p(1000, 1000));
    };
    cell first = seeded(), second = seeded();
    EXPECT_EQ(test::mold(first), test::mold(second)) << "the same seed draws the same pair";
}

TEST_F(PairTest, Constructors)
{
    cell* blk = block::push_only_star(1);
    pair::make_in(blk, 10, -20);
    EXPECT_EQ(test::form(*block::rs_head(blk)), "10x-20");
    EXPECT_EQ(test::mold(*pair::push(INT32_MIN, INT32_MAX)), "-2147483648x2147483647");
}

}  // namespace
