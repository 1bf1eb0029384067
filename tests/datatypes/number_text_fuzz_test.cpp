// Fuzzing the readers of number text behind to integer! and to float!: 20,000 texts from a fixed
// seed, in units of 1, 2 and 4 bytes, each placed to end right before a page that may not be read.
// Every answer must agree with the grammar, written here independently as regular expressions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "support/guarded.h"

namespace {

constexpr uint32_t ITERATIONS = 20000;

// The text in units of the given width, little-endian as strings keep them.
std::vector<uint8_t> as_units(const std::u32string& text, uint32_t unit)
{
    std::vector<uint8_t> out;
    for (char32_t c : text)
        for (uint32_t k = 0; k < unit; k++) out.push_back(uint8_t(uint32_t(c) >> (8 * k)));
    return out;
}

std::u32string random_text(std::mt19937& rng)
{
    static const char alphabet[] = "0123456789+-'.,eE#INFnaf x";
    std::u32string s(rng() % 25, U'0');
    for (char32_t& c : s) {
        uint32_t pick = rng() % 40;
        c = pick < sizeof alphabet - 1 ? char32_t(alphabet[pick]) : pick < 38 ? char32_t('0' + rng() % 10)
                                                                              : char32_t(rng() % 0x300);
    }
    return s;
}

// The integer the text spells, or nothing: a sign, then digits among "'" separators.
bool integer_expected(const std::u32string& s, int32_t* value)
{
    static const std::regex grammar("[+-]?'*[0-9]['0-9]*");
    std::string narrow;
    for (char32_t c : s) {
        if (c > 127) return false;
        narrow += char(c);
    }
    if (!std::regex_match(narrow, grammar)) return false;
    int64_t v = 0;
    for (char c : narrow) {
        if (c < '0' || c > '9') continue;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return false;
    }
    if (narrow[0] == '-') v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    *value = int32_t(v);
    return true;
}

bool float_expected(const std::u32string& s)
{
    static const std::regex number("[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?");
    static const std::regex special("[+-]?[0-9]\\.#([iI][nN][fF]|[nN][aA][nN])");
    std::string cleaned;
    for (char32_t c : s) {
        if (c > 127) return false;
        if (c == '\'') continue;
        cleaned += c == ',' ? '.' : char(c);
    }
    return std::regex_match(cleaned, number) || std::regex_match(cleaned, special);
}

TEST(NumberTextFuzz, ReadersAgreeWithTheGrammarAndStayInsideTheirInput)
{
    test::guarded_region guard(4096);
    ASSERT_TRUE(guard.ready());
    std::mt19937 rng(0x6E756D);
    uint32_t integers = 0, floats = 0;
    for (uint32_t n = 0; n < ITERATIONS; n++) {
        std::u32string s = random_text(rng);
        int32_t want = 0;
        bool is_integer = integer_expected(s, &want), is_float = float_expected(s);
        integers += is_integer;
        floats += is_float;
        for (uint32_t unit : {1u, 2u, 4u}) {
            if (unit == 1 && std::any_of(s.begin(), s.end(), [](char32_t c) { return c > 255; })) continue;
            std::vector<uint8_t> units = as_units(s, unit);
            const uint8_t* p = guard.place(units);
            int32_t status = 7;
            int32_t got = integer::from_text(p, uint32_t(s.size()), unit, &status);
            ASSERT_EQ(status == 0, is_integer) << "integer, unit " << unit << ", case " << n;
            if (is_integer) {
                ASSERT_EQ(got, want) << "case " << n;
            }
            status = 7;
            float_::from_text(p, uint32_t(s.size()), unit, &status);
            ASSERT_EQ(status == 0, is_float) << "float, unit " << unit << ", case " << n;
        }
    }
    // The texts must reach the success paths too, not only the refusals.
    EXPECT_GT(integers, ITERATIONS / 50) << integers;
    EXPECT_GT(floats, ITERATIONS / 20) << floats;
}

}  // namespace
