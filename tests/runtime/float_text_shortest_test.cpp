// Shortest digits against the toolchain's own shortest formatter (std::to_chars, written apart
// from this code): a million random bit patterns, every binary exponent with its edge significands,
// the smallest subnormals. Digits cut to a precision against the exact value rounded by the same.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstring>
#include <random>
#include <string>

#include "runtime/float_text.h"

namespace {

uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }
double of_bits(uint64_t b) { return std::bit_cast<double>(b); }

struct decimal {
    std::string digits;
    int32_t point;
};

// to_chars' "d.ddde+x" as digits without trailing zeros and the point of 0.d1d2... x 10^point:
// the shortest text, or with `precision` the exact value rounded to that many digits.
decimal reference(double v, int32_t precision)
{
    char text[64];
    std::to_chars_result r = precision > 0
        ? std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, precision - 1)
        : std::to_chars(text, text + sizeof text, v, std::chars_format::scientific);
    std::string s(text, r.ptr);
    size_t e = s.find('e');
    decimal d{std::string(), std::stoi(s.substr(e + 1)) + 1};
    for (size_t i = 0; i < e; i++)
        if (s[i] >= '0' && s[i] <= '9') d.digits += s[i];
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

// Compares one double's digits; false (after reporting) when they differ. A precision at or above
// the shortest length keeps the shortest digits; below it they are the exact value rounded.
bool same_digits(uint64_t bits, int32_t precision)
{
    double v = of_bits(bits & ~(uint64_t(1) << 63));
    decimal want = reference(v, 0);
    if (precision > 0 && int32_t(want.digits.size()) > precision) want = reference(v, precision);
    float_digits d;
    float_to_digits(of_bits(bits), precision, &d);
    if (d.digits == want.digits && d.point == want.point && d.negative == bits >> 63) return true;
    ADD_FAILURE() << std::hex << "bits 0x" << bits << std::dec << " precision " << precision << ": "
                  << d.digits << " point " << d.point << ", want " << want.digits << " point "
                  << want.point;
    return false;
}

bool finite_non_zero(uint64_t bits)
{
    uint64_t magnitude = bits & ~(uint64_t(1) << 63);
    return magnitude != 0 && magnitude < 0x7FF0000000000000;
}

TEST(FloatTextShortest, MatchesTheToolchainAndReadsBackOnAMillionRandomBitPatterns)
{
    std::mt19937_64 rng(0x73686F7274);
    int failures = 0;
    for (int i = 0; i < 1000000 && failures < 10; i++) {
        uint64_t bits = rng();
        if (!finite_non_zero(bits)) continue;
        failures += !same_digits(bits, 0);
        const char* molded = float_form(of_bits(bits), 0, 1);
        size_t left = 1;
        uint64_t back = bits_of(text_to_float(molded, std::strlen(molded), 0, &left));
        if (back != bits || left != 0) {
            ADD_FAILURE() << molded << " reads back as 0x" << std::hex << back;
            failures++;
        }
    }
}

// Every exponent field: its power of two (whose lower gap is half the upper), the significands
// next to it and at the top, and a few random ones; then the first subnormals one by one.
TEST(FloatTextShortest, MatchesTheToolchainAtEveryBinaryExponent)
{
    std::mt19937_64 rng(0x65787073);
    const uint64_t top = (uint64_t(1) << 52) - 1;
    int failures = 0;
    for (uint64_t field = 0; field < 0x7FF && failures < 10; field++) {
        const uint64_t fractions[] = {0, 1, 2, top, top - 1, rng() & top, rng() & top, rng() & top};
        for (uint64_t fraction : fractions) {
            uint64_t bits = field << 52 | fraction;
            if (finite_non_zero(bits)) failures += !same_digits(bits, 0);
        }
    }
    for (uint64_t bits = 1; bits <= 20000 && failures < 10; bits++) failures += !same_digits(bits, 0);
}

// Ties to even where the exact value ends in a 5 just past the cut.
TEST(FloatTextShortest, DigitsCutToAPrecisionAreTheShortestOrTheExactValueRounded)
{
    const double ties[] = {0.125, 2.5, 0.375, 1e23, 9.5, 123456789012345678.0, 5e-324, -0.1};
    int failures = 0;
    for (double v : ties)
        for (int32_t precision = 1; precision <= 17; precision++) failures += !same_digits(bits_of(v), precision);
    std::mt19937_64 rng(0x637574);
    for (int i = 0; i < 100000 && failures < 10; i++) {
        uint64_t bits = rng();
        if (finite_non_zero(bits)) failures += !same_digits(bits, int32_t(rng() % 17) + 1);
    }
}

}  // namespace
