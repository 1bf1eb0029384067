// The C runtime library's math functions against independent references (tools/crt-math-fixture):
// every result within one unit in the last place, and exact where the true value is representable
// or is the short decimal its text shows (10 ** -2 is 0.01). Powers go through the power action,
// which rounds the powers of integral numbers itself, exactly.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "datatypes/numbers.h"
#include "runtime/crt_math.h"

namespace {

struct reference_row {
    const char* name;
    uint64_t x, y, result;
    bool exact;
};

const reference_row reference[] = {
#include "fixtures/crt_math.inc"
};

double of_bits(uint64_t b) { return std::bit_cast<double>(b); }

// Doubles in the order of their values: the distance of two is the count of doubles between them.
int64_t ordered(double d)
{
    int64_t b = std::bit_cast<int64_t>(d);
    return b < 0 ? INT64_MIN - b : b;
}

uint64_t ulps_apart(double a, double b)
{
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
    int64_t x = ordered(a), y = ordered(b);
    return x > y ? uint64_t(x) - uint64_t(y) : uint64_t(y) - uint64_t(x);
}

using CrtMath = test::StackTest;

// A row's function: pow as the power action computes it (integral arguments through the integer
// action too, which must agree), the others straight from the library.
double compute(const reference_row& r)
{
    double x = of_bits(r.x), y = of_bits(r.y);
    const char* n = r.name;
    if (!std::strcmp(n, "pow")) {
        double through_float = num::float_of(num::call(float_::power, num::f(x), num::f(y)));
        if (x == std::trunc(x) && y == std::trunc(y)) {
            cell result = num::call(integer::power, num::i(int32_t(x)), num::i(int32_t(y)));
            EXPECT_EQ(cell_type(&result), TYPE_FLOAT);
            EXPECT_EQ(std::bit_cast<uint64_t>(cell_float(&result)), std::bit_cast<uint64_t>(through_float));
        }
        return through_float;
    }
    if (!std::strcmp(n, "exp")) return crt_math::exp(x);
    if (!std::strcmp(n, "log")) return crt_math::log(x);
    if (!std::strcmp(n, "log10")) return crt_math::log10(x);
    if (!std::strcmp(n, "sqrt")) return crt_math::sqrt(x);
    if (!std::strcmp(n, "sin")) return crt_math::sin(x);
    if (!std::strcmp(n, "cos")) return crt_math::cos(x);
    if (!std::strcmp(n, "tan")) return crt_math::tan(x);
    if (!std::strcmp(n, "asin")) return crt_math::asin(x);
    if (!std::strcmp(n, "acos")) return crt_math::acos(x);
    if (!std::strcmp(n, "atan")) return crt_math::atan(x);
    if (!std::strcmp(n, "atan2")) return crt_math::atan2(x, y);
    ADD_FAILURE() << "unknown function " << n;
    return 0.0;
}

TEST_F(CrtMath, TakenFromTheRuntimeLibrary) { EXPECT_TRUE(crt_math::from_runtime_library()); }

TEST_F(CrtMath, WithinOneUlpOfTheReferenceAndExactOnShortDecimals)
{
    for (const reference_row& r : reference) {
        SCOPED_TRACE(testing::Message() << r.name << "(" << of_bits(r.x) << ", " << of_bits(r.y) << ")");
        uint64_t apart = ulps_apart(compute(r), of_bits(r.result));
        double x = of_bits(r.x), y = of_bits(r.y);
        bool integral_power = !std::strcmp(r.name, "pow") && x == std::trunc(x) && y == std::trunc(y);
        if (r.exact || integral_power) EXPECT_EQ(apart, 0u);
        else EXPECT_LE(apart, 1u);
    }
}

}  // namespace
