// point2D! and point3D!: arithmetic in double stored as single, conversions, paths, rounding,
// tolerant and exact comparison, and their text.
#include <gtest/gtest.h>

#include <bit>

#include "datatypes/numbers.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"

namespace {

using namespace num;
using PointTest = test::StackTest;

TEST_F(PointTest, Arithmetic)
{
    struct row { const char* name; binary_fn op; cell left, right; const char* result; };
    const row rows[] = {
        {"(1, 2) + 1", point2D::add, pt(1, 2), i(1), "(2, 3)"},
        {"(1, 2) * 2x3", point2D::multiply, pt(1, 2), p(2, 3), "(2, 6)"},
        {"(1, 1) / 3", point2D::divide, pt(1, 1), i(3), "(0.3333333, 0.3333333)"},
        {"(1, 2, 3) - (1, 1, 1)", point2D::subtract, pt3(1, 2, 3), pt3(1, 1, 1), "(0, 1, 2)"},
        {"(5, 7) % 2.5", point2D::remainder, pt(5, 7), f(2.5), "(0, 2)"},
        {"(10, 20) * 50%", point2D::multiply, pt(10, 20), pc(0.5), "(5, 10)"},
        {"(1, 1) / 0 is infinite", point2D::divide, pt(1, 1), i(0), "(1.#INF, 1.#INF)"},
        {"(3e38, 0) * 10 leaves the float range", point2D::multiply, pt(3e38f, 0), i(10), "(1.#INF, 0)"},
    };
    for (const row& r : rows) EXPECT_EQ(test::mold(call(r.op, r.left, r.right)), r.result) << r.name;
    struct fault { const char* name; cell left, right; };
    const fault faults[] = {
        {"(1, 2) + \"a\"", pt(1, 2), text("a")},
        {"(1, 2, 3) + 1x2: no pair with three components", pt3(1, 2, 3), p(1, 2)},
        {"(1, 2) + (1, 2, 3)", pt(1, 2), pt3(1, 2, 3)},
    };
    for (const fault& r : faults)
        EXPECT_EQ(error_of([&] { call(point2D::add, r.left, r.right); }), code(ERR_SCRIPT, err::INVALID_TYPE)) << r.name;
}

TEST_F(PointTest, UnaryActions)
{
    auto reverse = [](cell* v) { return point2D::reverse(v, nullptr, nullptr); };
    EXPECT_EQ(test::mold(call(reverse, pt(1, 2))), "(2, 1)");
    EXPECT_EQ(test::mold(call(reverse, pt3(1, 2, 3))), "(3, 2, 1)");
    EXPECT_EQ(test::mold(call(point2D::negate, pt(1, -2))), "(-1, 2)");
    EXPECT_EQ(test::mold(call(point2D::absolute, pt3(-1, 2, -0.5f))), "(1, 2, 0.5)");
}

TEST_F(PointTest, MakeAndTo)
{
    auto make = [](cell spec, uint32_t type) {
        return call([type](cell* s, cell*) { return point2D::make(s + 1, s, type); }, spec);
    };
    struct row { const char* name; cell spec; uint32_t type; const char* result; };
    const row rows[] = {
        {"make point3D! 2x3", p(2, 3), TYPE_POINT3D, "(2, 3, 0)"},
        {"make point2D! [1 2.5 9]", block_of({i(1), f(2.5), i(9)}), TYPE_POINT2D, "(1, 2.5)"},
        {"make point3D! [1 2 3]", block_of({i(1), i(2), i(3)}), TYPE_POINT3D, "(1, 2, 3)"},
        {"make point2D! 1.5", f(1.5), TYPE_POINT2D, "(1.5, 1.5)"},
        {"make point3D! (1, 2)", pt(1, 2), TYPE_POINT3D, "(1, 2, 0)"},
        {"make point2D! (1, 2)", pt(1, 2), TYPE_POINT2D, "(1, 2)"},
        {"make point2D! 1e300", f(1e300), TYPE_POINT2D, "(1.#INF, 1.#INF)"},
    };
    for (const row& r : rows) EXPECT_EQ(test::mold(make(r.spec, r.type)), r.result) << r.name;
    EXPECT_EQ(error_of([&] { make(block_of({i(1)}), TYPE_POINT2D); }), code(ERR_SYNTAX, err::MALCONSTRUCT));
    EXPECT_EQ(error_of([&] { make(block_of({i(1), i(2)}), TYPE_POINT3D); }), code(ERR_SYNTAX, err::MALCONSTRUCT));
    EXPECT_EQ(error_of([&] { make(block_of({i(1), c('a')}), TYPE_POINT2D); }), code(ERR_SYNTAX, err::MALCONSTRUCT));
    EXPECT_EQ(error_of([&] { make(pt3(1, 2, 3), TYPE_POINT2D); }), code(ERR_SCRIPT, err::BAD_TO_ARG));
    EXPECT_EQ(error_of([&] { make(c('a'), TYPE_POINT2D); }), code(ERR_SCRIPT, err::BAD_TO_ARG));
}

TEST_F(PointTest, Compare)
{
    const float third = 1.0f / 3, near_third = std::bit_cast<float>(std::bit_cast<uint32_t>(third) + 1);
    struct row { const char* name; cell a, b; int32_t op; int32_t result; };
    const row rows[] = {
        {"(1, 2) = 1x2", pt(1, 2), p(1, 2), COMP_EQUAL, 0},
        {"a last-place step is equal", pt(third, 1), pt(near_third, 1), COMP_EQUAL, 0},
        {"but not strictly", pt(third, 1), pt(near_third, 1), COMP_STRICT_EQUAL, 1},
        {"0.0 and -0.0 are strictly equal", pt(0.0f, 1), pt(-0.0f, 1), COMP_STRICT_EQUAL, 0},
        {"but not the same", pt(0.0f, 1), pt(-0.0f, 1), COMP_SAME, 1},
        {"x decides the order", pt(1, 9), pt(2, 0), COMP_LESSER, -1},
        {"then y", pt(2, 1), pt(2, 0), COMP_GREATER, 1},
        {"then z", pt3(1, 1, 1), pt3(1, 1, 2), COMP_LESSER, -1},
        {"(1, 2) and (1, 2, 0) are not comparable", pt(1, 2), pt3(1, 2, 0), COMP_EQUAL, -2},
        {"a number is not comparable", pt(1, 1), i(1), COMP_EQUAL, -2},
    };
    for (const row& r : rows) EXPECT_EQ(test::compare(r.a, r.b, r.op), r.result) << r.name;
}

cell path_step(cell value, cell element, const cell* v = nullptr)
{
    return num::path_step(point2D::eval_path, value, element, v);
}

TEST_F(PointTest, PathsAndPick)
{
    cell x = *word::load("X"), z = *word::load("z");
    EXPECT_EQ(test::mold(path_step(pt(1.5f, 2), x)), "1.5");
    EXPECT_EQ(test::mold(path_step(pt3(1, 2, 3), z)), "3.0");
    EXPECT_EQ(test::mold(path_step(pt3(1, 2, 3), i(2))), "2.0");
    cell seven = i(7), half = f(0.5), word = x;
    EXPECT_EQ(test::mold(path_step(pt3(1, 2, 3), z, &seven)), "(1, 2, 7)");
    EXPECT_EQ(test::mold(path_step(pt(1, 2), i(1), &half)), "(0.5, 2)");
    EXPECT_EQ(error_of([&] { path_step(pt(1, 2), z); }), code(ERR_SCRIPT, err::INVALID_PATH));
    EXPECT_EQ(error_of([&] { path_step(pt(1, 2), i(0)); }), code(ERR_SCRIPT, err::INVALID_PATH));
    EXPECT_EQ(error_of([&] { path_step(pt(1, 2), x, &word); }), code(ERR_SCRIPT, err::INVALID_TYPE));
    auto pick = [](cell value, cell index) {
        return call([](cell* v, cell* n) { return point2D::pick(v, int32_t(n->data2), n); }, value, index);
    };
    EXPECT_EQ(test::mold(pick(pt(1, 2.25f), i(2))), "2.25");
    EXPECT_EQ(error_of([&] { pick(pt(1, 2), i(3)); }), code(ERR_SCRIPT, err::OUT_OF_RANGE));
}

TEST_F(PointTest, Round)
{
    auto round = [](cell value, const cell* scale) {
        cell* v = stack::push(&value);
        cell* s = scale ? stack::push(scale) : nullptr;
        return *point2D::round(v, s, false, false, false, false, false, false);
    };
    cell half = f(0.5), per_axis = p(2, 5), money{TYPE_MONEY, 0, 0, 0};
    EXPECT_EQ(test::mold(round(pt(1.4f, 2.5f), nullptr)), "(1, 3)");
    EXPECT_EQ(test::mold(round(pt(1.3f, 2.8f), &half)), "(1.5, 3)");
    EXPECT_EQ(test::mold(round(pt3(3, 13, 1.6f), &per_axis)), "(4, 15, 2)") << "z of a pair scale: whole units";
    EXPECT_EQ(error_of([&] { round(pt(1, 1), &money); }), code(ERR_SCRIPT, err::NOT_RELATED));
}

TEST_F(PointTest, RandomKeepsZerosAndBounds)
{
    for (int k = 0; k < 50; k++) {
        cell r = call([](cell* v) { return point2D::random(v, false, false, false); }, pt3(0, -4, 2));
        EXPECT_EQ(point2D::get(&r, 0), 0.0f);
        EXPECT_TRUE(point2D::get(&r, 1) <= 0 && point2D::get(&r, 1) >= -4);
        EXPECT_TRUE(point2D::get(&r, 2) >= 0 && point2D::get(&r, 2) <= 2);
    }
    cell seed = call([](cell* v) { return point2D::random(v, true, false, false); }, pt(1, 2));
    EXPECT_EQ(cell_type(&seed), uint32_t(TYPE_UNSET));
}

TEST_F(PointTest, Text)
{
    EXPECT_EQ(test::form(pt3(0.5f, 2.25f, 10)), "(0.5, 2.25, 10)");
    EXPECT_EQ(test::mold(pt(2.5e-7f, -123456789.0f)), "(2.5e-7, -1.234568e8)");
    cell* blk = block::push_only_star(2);
    point2D::make_in(blk, 1, 2);
    point3D::make_in(blk, 1, 2, 3);
    EXPECT_EQ(test::mold(*block::rs_head(blk)), "(1, 2)");
    EXPECT_EQ(test::mold(block::rs_head(blk)[1]), "(1, 2, 3)");
    EXPECT_EQ(block::rs_head(blk)->data3, 0u) << "a point2D! keeps word 3 at 0";
}

}  // namespace
