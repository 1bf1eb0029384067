// tuple!: saturating arithmetic in either operand order, conversions, cutting and setting bytes
// through paths, reversal with /part and /skip, comparison and the constructors the GUI uses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/numbers.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/tuple.h"

namespace {

using namespace num;
using TupleTest = test::StackTest;

// "1.2.3" as a tuple! cell.
cell tp(const std::string& dotted)
{
    std::vector<uint8_t> bytes;
    size_t from = 0;
    while (from <= dotted.size()) {
        size_t dot = dotted.find('.', from);
        bytes.push_back(uint8_t(std::stoi(dotted.substr(from, dot - from))));
        if (dot == std::string::npos) break;
        from = dot + 1;
    }
    cell c;
    return *tuple::make_at(&c, bytes.data(), uint32_t(bytes.size()));
}

TEST_F(TupleTest, Arithmetic)
{
    struct row { const char* name; binary_fn op; cell left, right; const char* result; };
    const row rows[] = {
        {"200.100.50 + 100 saturates", tuple::add, tp("200.100.50"), i(100), "255.200.150"},
        {"10.20.30 - 50", tuple::subtract, tp("10.20.30"), i(50), "0.0.0"},
        {"1.2.3 + 1.1.1.1 takes the longer count", tuple::add, tp("1.2.3"), tp("1.1.1.1"), "2.3.4.1"},
        {"100.100.100 * 1.5", tuple::multiply, tp("100.100.100"), f(1.5), "150.150.150"},
        {"2 * 1.2.3", integer::multiply, i(2), tp("1.2.3"), "2.4.6"},
        {"1.5 * 2.2.2 (a float first)", float_::multiply, f(1.5), tp("2.2.2"), "3.3.3"},
        {"7 % 3.4.5 swaps", integer::remainder, i(7), tp("3.4.5"), "3.4.5"},
        {"1.2.3 * 2147483647 overflows high", tuple::multiply, tp("1.2.3"), i(INT32_MAX), "255.255.255"},
        {"1.2.3 - -2147483648", tuple::subtract, tp("1.2.3"), i(INT32_MIN), "255.255.255"},
        {"1.2.3 + -2147483648", tuple::add, tp("1.2.3"), i(INT32_MIN), "0.0.0"},
        {"1.2.3 * 1.#INF", tuple::multiply, tp("1.2.3"), f(float_::infinity), "255.255.255"},
        {"1.2.3 * -1e300", tuple::multiply, tp("1.2.3"), f(-1e300), "0.0.0"},
        {"0.2.3 * 1.#NaN gives 0", tuple::multiply, tp("0.2.3"), f(float_::quiet_nan), "0.0.0"},
        {"100.100.100 * 50%", tuple::multiply, tp("100.100.100"), pc(0.5), "50.50.50"},
        {"12.12.12 and 10", tuple::and_t, tp("12.12.12"), i(10), "8.8.8"},
        {"1.2.3 or 4.4", tuple::or_t, tp("1.2.3"), tp("4.4.0.8"), "5.6.3.8"},
        {"255.0.255 xor 255", tuple::xor_t, tp("255.0.255"), i(255), "0.255.0"},
        {"9.9.9 / 2", tuple::divide, tp("9.9.9"), i(2), "4.4.4"},
    };
    for (const row& r : rows) EXPECT_EQ(test::mold(call(r.op, r.left, r.right)), r.result) << r.name;
}

TEST_F(TupleTest, ArithmeticErrors)
{
    struct row { const char* name; binary_fn op; cell left, right; uint32_t error; };
    const row rows[] = {
        {"2 - 1.2.3", integer::subtract, i(2), tp("1.2.3"), code(ERR_SCRIPT, err::NOT_RELATED)},
        {"2.0 / 1.2.3", float_::divide, f(2.0), tp("1.2.3"), code(ERR_SCRIPT, err::NOT_RELATED)},
        {"1.2.3 / 0", tuple::divide, tp("1.2.3"), i(0), code(ERR_MATH, err::ZERO_DIVIDE)},
        {"1.2.3.4 % 1.1.1: the missing byte is 0", tuple::remainder, tp("1.2.3.4"), tp("1.1.1"),
         code(ERR_MATH, err::ZERO_DIVIDE)},
        {"1.2.3 + \"a\"", tuple::add, tp("1.2.3"), text("a"), code(ERR_SCRIPT, err::INVALID_TYPE)},
    };
    for (const row& r : rows) EXPECT_EQ(error_of([&] { call(r.op, r.left, r.right); }), r.error) << r.name;
}

TEST_F(TupleTest, ToAndMake)
{
    auto to = [](cell spec) { return call([](cell* s, cell*) { return tuple::to(s + 1, s, TYPE_TUPLE); }, spec); };
    struct row { const char* name; cell spec; const char* result; };
    const row rows[] = {
        {"#F00", issue_of("F00"), "255.0.0"},
        {"#FF000080", issue_of("FF000080"), "255.0.0.128"},
        {"#0a0B0c", issue_of("0a0B0c"), "10.11.12"},
        {"[1 2]", block_of({i(1), i(2)}), "1.2.0"},
        {"[#\"A\" 2.9 0]", block_of({c('A'), f(2.9), i(0)}), "65.2.0"},
        {"[]", block_of({}), "0.0.0"},
        {"#{01020304}", num::binary({1, 2, 3, 4}), "1.2.3.4"},
        {"#{01}", num::binary({1}), "1.0.0"},
        {"#{...} 13 bytes keeps 12", num::binary({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), "1.2.3.4.5.6.7.8.9.10.11.12"},
    };
    for (const row& r : rows) EXPECT_EQ(test::mold(to(r.spec)), r.result) << r.name;
    struct fault { const char* name; cell spec; uint32_t error; };
    const fault faults[] = {
        {"#FF00", issue_of("FF00"), code(ERR_SCRIPT, err::INVALID_DATA)},
        {"#FG0", issue_of("FG0"), code(ERR_SCRIPT, err::INVALID_DATA)},
        {"[256]", block_of({i(256)}), code(ERR_SCRIPT, err::BAD_TO_ARG)},
        {"[-1]", block_of({i(-1)}), code(ERR_SCRIPT, err::BAD_TO_ARG)},
        {"[1.#NaN]", block_of({f(float_::quiet_nan)}), code(ERR_SCRIPT, err::BAD_TO_ARG)},
        {"[\"a\"]", block_of({text("a")}), code(ERR_SCRIPT, err::BAD_TO_ARG)},
        {"13 values", block_of({i(1), i(2), i(3), i(4), i(5), i(6), i(7), i(8), i(9), i(10), i(11), i(12), i(13)}),
         code(ERR_SCRIPT, err::BAD_TO_ARG)},
        {"1.5", f(1.5), code(ERR_SCRIPT, err::BAD_TO_ARG)},
    };
    for (const fault& r : faults) EXPECT_EQ(error_of([&] { to(r.spec); }), r.error) << r.name;
}

cell path_step(cell value, cell element, const cell* v = nullptr)
{
    return num::path_step(tuple::eval_path, value, element, v);
}

TEST_F(TupleTest, PathsCutAndClamp)
{
    cell none = none_value, big = i(300), low = i(-5), half = f(0.5);
    cell t = path_step(tp("1.2.3.4"), i(4), &none);
    EXPECT_EQ(test::mold(t), "1.2.3") << "none cuts the tuple at the byte";
    t = path_step(t, i(2), &big);
    EXPECT_EQ(test::mold(t), "1.255.3") << "an integer is clamped";
    EXPECT_EQ(test::mold(path_step(t, i(1), &low)), "0.255.3");
    EXPECT_EQ(test::mold(path_step(tp("1.2.3.4.5"), i(2), &none)), "1.0.0") << "never fewer than 3 bytes";
    EXPECT_EQ(t.data1 >> 24, 0u) << "the cut byte is 0 again";
    EXPECT_EQ(int_of(path_step(tp("1.2.3"), i(3))), 3);
    EXPECT_EQ(error_of([&] { path_step(tp("1.2.3"), i(4)); }), code(ERR_SCRIPT, err::OUT_OF_RANGE));
    EXPECT_EQ(error_of([&] { path_step(tp("1.2.3"), i(4), &big); }), code(ERR_SCRIPT, err::OUT_OF_RANGE));
    EXPECT_EQ(error_of([&] { path_step(tp("1.2.3"), i(1), &half); }), code(ERR_SCRIPT, err::INVALID_TYPE));
    EXPECT_EQ(error_of([&] { path_step(tp("1.2.3"), *word::load("x")); }), code(ERR_SCRIPT, err::INVALID_PATH));
    auto pick = [](cell value, cell index) {
        return call([](cell* v, cell* n) { return tuple::pick(v, int32_t(n->data2), n); }, value, index);
    };
    EXPECT_EQ(int_of(pick(tp("1.2.3"), i(2))), 2);
    EXPECT_EQ(error_of([&] { pick(tp("1.2.3"), i(4)); }), code(ERR_SCRIPT, err::OUT_OF_RANGE));
    EXPECT_EQ(error_of([&] { pick(tp("1.2.3"), i(0)); }), code(ERR_SCRIPT, err::OUT_OF_RANGE));
}

TEST_F(TupleTest, Reverse)
{
    auto reverse = [](cell value, const cell* part, const cell* skip) {
        cell* v = stack::push(&value);
        cell* p = part ? stack::push(part) : nullptr;
        cell* s = skip ? stack::push(skip) : nullptr;
        return *tuple::reverse(v, p, s);
    };
    cell two = i(2), three = i(3), four = i(4), six = i(6), zero = i(0), minus = i(-1), word = *word::load("a");
    EXPECT_EQ(test::mold(reverse(tp("1.2.3.4.5.6"), nullptr, &two)), "5.6.3.4.1.2");
    EXPECT_EQ(test::mold(reverse(tp("1.2.3.4.5.6"), nullptr, &three)), "4.5.6.1.2.3");
    EXPECT_EQ(test::mold(reverse(tp("1.2.3.4.5.6"), nullptr, &six)), "1.2.3.4.5.6") << "one record";
    EXPECT_EQ(test::mold(reverse(tp("1.2.3.4"), nullptr, nullptr)), "4.3.2.1");
    EXPECT_EQ(test::mold(reverse(tp("1.2.3.4.5"), &three, nullptr)), "3.2.1.4.5");
    EXPECT_EQ(test::mold(reverse(tp("1.2.3.4.5.6"), &four, &two)), "3.4.1.2.5.6");
    struct fault { const char* name; const cell* part; const cell* skip; uint32_t error; };
    const fault faults[] = {
        {"/skip 4 of 6", nullptr, &four, code(ERR_SCRIPT, err::INVALID_REFINE_ARG)},
        {"/skip 0", nullptr, &zero, code(ERR_SCRIPT, err::OUT_OF_RANGE)},
        {"/skip word", nullptr, &word, code(ERR_SCRIPT, err::INVALID_REFINE_ARG)},
        {"/part -1", &minus, nullptr, code(ERR_SCRIPT, err::OUT_OF_RANGE)},
        {"/part word", &word, nullptr, code(ERR_SCRIPT, err::INVALID_REFINE_ARG)},
        {"/part 2 /skip 3", &two, &three, code(ERR_SCRIPT, err::INVALID_REFINE_ARG)},
    };
    for (const fault& r : faults)
        EXPECT_EQ(error_of([&] { reverse(tp("1.2.3.4.5.6"), r.part, r.skip); }), r.error) << r.name;
}

TEST_F(TupleTest, CompareCountsMissingBytesAsZero)
{
    struct row { cell a, b; int32_t result; };
    const row rows[] = {
        {tp("1.2.3"), tp("1.2.3.0"), 0},
        {tp("1.2.3"), tp("1.2.3.1"), -1},
        {tp("1.2.4"), tp("1.2.3.9"), 1},
        {tp("1.2.3"), i(1), -2},
    };
    for (const row& r : rows)
        EXPECT_EQ(test::compare(r.a, r.b, COMP_EQUAL), r.result) << test::mold(r.a) << " vs " << test::mold(r.b);
}

TEST_F(TupleTest, ConstructorsRandomAndSmallActions)
{
    cell slot;
    EXPECT_EQ(test::mold(*tuple::make_color(&slot, 255, 0, 10, -1)), "255.0.10");
    EXPECT_EQ(test::mold(*tuple::make_color(&slot, 255, 0, 10, 128)), "255.0.10.128");
    const int32_t ints[] = {257, -1};
    EXPECT_EQ(test::mold(*tuple::make_from_ints(2, ints)), "1.255.0");
    EXPECT_EQ(test::mold(*tuple::push(4, 0x04030201, 0, 0)), "1.2.3.4");
    EXPECT_EQ(test::mold(*tuple::push(3, 0x04030201, 0, 0)), "1.2.3") << "bytes past the count become 0";
    EXPECT_EQ(tuple::push(3, 0x04030201, 0, 0)->data1, 0x030201u);
    cell zero = tp("0.0.0.0"), one = tp("0.0.1");
    EXPECT_TRUE(tuple::zero_q(&zero));
    EXPECT_FALSE(tuple::zero_q(&one));
    EXPECT_EQ(test::mold(call(tuple::complement, tp("0.255.15"))), "255.0.240");
    EXPECT_EQ(tuple::length_q(&zero), 4);
    for (int k = 0; k < 50; k++) {
        cell r = call([](cell* v) { return tuple::random(v, false, false, false); }, tp("0.3.255"));
        EXPECT_EQ(tuple::bytes_of(&r)[0], 0);
        EXPECT_LE(tuple::bytes_of(&r)[1], 3);
    }
}

}  // namespace
