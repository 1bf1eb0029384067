// Float text conversion: display layout, shortest digits against an independent reference
// (Python's repr, tests/fixtures/float_repr.inc), correctly rounded reading including exact
// midpoints, the shared-buffer entries, and big-integer records going back to their free lists.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/float_text.h"
#include "runtime/rterror.h"

namespace {

uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }
double of_bits(uint64_t b) { return std::bit_cast<double>(b); }

constexpr uint64_t INFINITY_BITS = 0x7FF0000000000000;
constexpr uint64_t LARGEST_BITS = 0x7FEFFFFFFFFFFFFF;

struct form_row {
    double value;
    int32_t precision;
    uint32_t point_zero;
    const char* text;
};

TEST(FloatText, FormLayout)
{
    const form_row rows[] = {
        {0.1, 0, 1, "0.1"},
        {1.0, 0, 1, "1.0"},
        {100.0, 0, 1, "100.0"},
        {0.5, 0, 1, "0.5"},
        {3.25, 0, 1, "3.25"},
        {-2.5, 0, 1, "-2.5"},
        {0.3, 0, 1, "0.3"},
        {1e16, 0, 1, "10000000000000000.0"},
        {1e17, 0, 1, "1.0e17"},
        {1.5e17, 0, 1, "1.5e17"},
        {1e-7, 0, 1, "0.0000001"},
        {1.5e-7, 0, 1, "0.00000015"},
        {1e-8, 0, 1, "1.0e-8"},
        {1.5e-8, 0, 1, "1.5e-8"},
        {1.25e100, 0, 1, "1.25e100"},
        {5e-324, 0, 1, "5.0e-324"},
        {DBL_MAX, 0, 1, "1.7976931348623157e308"},
        {-DBL_MIN, 0, 1, "-2.2250738585072014e-308"},
        {9007199254740994.0, 0, 1, "9007199254740994.0"},
        {123456789012345.0, 0, 1, "123456789012345.0"},
        {0.0, 0, 1, "0.0"},
        {-0.0, 0, 1, "-0.0"},
        {0.0, 0, 0, "0"},
        {-0.0, 0, 0, "-0"},
        {INFINITY, 0, 1, "1.#INF"},
        {-INFINITY, 0, 1, "-1.#INF"},
        {NAN, 0, 1, "1.#NaN"},
        {-NAN, 0, 1, "1.#NaN"},
        {2.0, 6, 0, "2"},
        {1e20, 0, 0, "1e20"},
        {double(0.1f), 6, 0, "0.1"},
        {double(0.1f), 0, 0, "0.10000000149011612"},
        {1.0 / 3, 6, 0, "0.333333"},
        {2.0 / 3, 6, 0, "0.666667"},
        {0.125, 2, 0, "0.12"},          // exact tie: the even digit stays
        {0.375, 2, 0, "0.38"},
        {999999.5, 6, 0, "1000000"},    // rounding carries out of the first digit
        {987650000.0, 4, 0, "987600000"},   // integers take the double path; same tie rule
        {987750000.0, 4, 0, "987800000"},
        {5e-324, 6, 0, "5e-324"},       // a shorter text that reads back wins over more digits
        {0.1, 22, 1, "0.1"},
    };
    for (const form_row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_STREQ(float_form(r.value, r.precision, r.point_zero), r.text);
    }
}

TEST(FloatText, FormIntoChecksRoom)
{
    char out[8] = "xxxxxxx";
    EXPECT_EQ(float_form_into(0.1, 0, 1, out, 3), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(float_form_into(0.1, 0, 1, out, 4), 3u);
    EXPECT_STREQ(out, "0.1");
    EXPECT_EQ(float_form_into(0.1, 0, 1, out, 0), 0u);
}

// The %g layout rounds the exact value, not the shortest digits: 9.2 is 9.1999999999999993 and
// keeps its nines at 16 digits; ties go to the even digit.
TEST(FloatText, GeneralFormatRoundsTheExactValue)
{
    struct row { double value; int32_t precision; const char* text; };
    const row rows[] = {
        {9.2, 16, "9.199999999999999"},
        {0.1 + 0.2, 16, "0.3"},
        {0.1 + 0.2, 17, "0.30000000000000004"},
        {434.99999999999994, 14, "435"},
        {0.125, 2, "0.12"},
        {0.375, 2, "0.38"},
        {2.5, 1, "2"},
        {123456.0, 3, "1.23e5"},
        {1e16, 16, "1e16"},
        {1e15, 16, "1000000000000000"},
        {0.0001234, 16, "0.0001234"},
        {0.00001234, 3, "1.23e-5"},
        {-1.5e-300, 7, "-1.5e-300"},
        {9.9999999, 7, "10"},
        {-0.0, 16, "-0"},
        {0.0, 16, "0"},
    };
    for (const row& r : rows) {
        char out[FLOAT_FORM_ROOM];
        size_t n = float_form_g(r.value, r.precision, out, sizeof out);
        EXPECT_STREQ(out, r.text) << r.value << " at " << r.precision;
        EXPECT_EQ(n, std::strlen(r.text));
    }
}

TEST(FloatText, DigitsPointSignAndSpecials)
{
    int32_t point = -7, sign = -7, length = -7;
    const char* digits = float_to_text(-1234.5, 0, &point, &sign, &length, 1);
    EXPECT_STREQ(digits, "12345");
    EXPECT_STREQ(digits - 1, "-12345");   // a negative number's writer steps back for the sign
    EXPECT_EQ(point, 4);
    EXPECT_EQ(sign, 1);
    EXPECT_EQ(length, 5);
    EXPECT_STREQ(float_to_text(0.001, 0, &point, &sign, &length, 1), "1");
    EXPECT_EQ(point, -2);
    EXPECT_EQ(sign, 0);

    // Specials answer a fixed text and leave sign and length alone.
    sign = length = -7;
    EXPECT_STREQ(float_to_text(-INFINITY, 0, &point, &sign, &length, 1), "-1.#INF");
    EXPECT_EQ(point, 9999);
    EXPECT_STREQ(float_to_text(-0.0, 0, &point, &sign, &length, 1), "-0.0");
    EXPECT_EQ(point, 9998);
    EXPECT_STREQ(float_to_text(0.0, 0, &point, &sign, &length, 0), "0");
    EXPECT_EQ(sign, -7);
    EXPECT_EQ(length, -7);
}

// Python's repr as digits and the point of 0.d1d2... x 10^point.
void reference_digits(const std::string& repr, std::string* digits, int32_t* point)
{
    size_t e = repr.find('e');
    std::string mantissa = repr.substr(0, e);
    int32_t exponent = e == std::string::npos ? 0 : std::stoi(repr.substr(e + 1));
    if (mantissa[0] == '-') mantissa.erase(0, 1);
    size_t dot = mantissa.find('.');
    int32_t integer_digits = int32_t(dot == std::string::npos ? mantissa.size() : dot);
    std::string all = mantissa;
    if (dot != std::string::npos) all.erase(dot, 1);
    size_t lead = all.find_first_not_of('0');
    *digits = all.substr(lead);
    while (digits->size() > 1 && digits->back() == '0') digits->pop_back();
    *point = integer_digits - int32_t(lead) + exponent;
}

struct reference_row {
    uint64_t bits;
    const char* repr;
};

const reference_row reference[] = {
#include "fixtures/float_repr.inc"
};

TEST(FloatText, ShortestDigitsMatchPythonReprAndReadBack)
{
    for (const reference_row& r : reference) {
        double v = of_bits(r.bits);
        SCOPED_TRACE(r.repr);
        std::string want;
        int32_t want_point;
        reference_digits(r.repr, &want, &want_point);
        float_digits d;
        float_to_digits(v, 0, &d);
        EXPECT_EQ(std::string(d.digits), want);
        EXPECT_EQ(d.point, want_point);
        EXPECT_EQ(d.negative, uint32_t(r.bits >> 63));

        std::string repr = r.repr;
        size_t left = 99;
        EXPECT_EQ(bits_of(text_to_float(repr.data(), repr.size(), 0, &left)), r.bits);
        EXPECT_EQ(left, 0u);
        const char* molded = float_form(v, 0, 1);
        EXPECT_EQ(bits_of(text_to_float(molded, std::strlen(molded), 0, &left)), r.bits) << molded;
    }
}

struct read_row {
    const char* text;
    int32_t extra;
    uint64_t bits;
    size_t remaining;
};

TEST(FloatText, ReadTable)
{
    const read_row rows[] = {
        {"0.1", 0, 0x3FB999999999999A, 0},
        {"9007199254740993", 0, 0x4340000000000000, 0},       // 2^53 + 1: tie to even, 2^53
        {"9007199254740995", 0, 0x4340000000000002, 0},
        {"1e309", 0, INFINITY_BITS, 0},
        {"-1e309", 0, 0xFFF0000000000000, 0},
        {"1.7976931348623157e308", 0, LARGEST_BITS, 0},
        {"1.7976931348623159e308", 0, INFINITY_BITS, 0},
        {"1e-400", 0, 0, 0},
        {"4.9406564584124654e-324", 0, 1, 0},
        {"2.4703282292062327e-324", 0, 0, 0},
        {"2.4703282292062328e-324", 0, 1, 0},
        {"2.2250738585072011e-308", 0, 0x000FFFFFFFFFFFFF, 0},
        {"2.2250738585072012e-308", 0, 0x0010000000000000, 0},
        {"12345678901234567890.12345678901234567890123", 0, 0x43E56A95319D63E1, 0},
        {"-0", 0, 0x8000000000000000, 0},        // mended: the sign of zero survives
        {"-0.0", 0, 0x8000000000000000, 0},
        {"-1e-400", 0, 0x8000000000000000, 0},
        {"0", 0, 0, 0},
        {"1.#INF", 0, INFINITY_BITS, 0},
        {"-1.#inf", 0, 0xFFF0000000000000, 0},
        {"1.#NaN", 0, 0x7FF8000000000000, 0},
        {"-1.#NaN", 0, 0x7FF8000000000000, 0},
        {"50", -2, 0x3FE0000000000000, 0},
        {"000123.4500e2", 0, bits_of(12345.0), 0},
        {"0.000001234e6", 0, 0x3FF3BE76C8B43958, 0},
        {"+.5", 0, 0x3FE0000000000000, 0},
        {"1e22", 0, bits_of(1e22), 0},
        {"123456789012345e30", 0, bits_of(123456789012345e30), 0},
        // Where reading stops: the rest is counted, never guessed at.
        {"1.5x", 0, 0x3FF8000000000000, 1},
        {"1e", 0, 0x3FF0000000000000, 1},
        {"1e+", 0, 0x3FF0000000000000, 2},
        {"2e5abc", 0, bits_of(2e5), 3},
        {"1.#INFINITY", 0, INFINITY_BITS, 5},
        {"", 0, 0, 0},
        {"-", 0, 0, 1},
        {".", 0, 0, 1},
        {"12.#INF", 0, bits_of(12.0), 4},   // two digits: not an infinity
        // Exponents past 32 bits saturate instead of wrapping.
        {"1e99999999999999999999", 0, INFINITY_BITS, 0},
        {"1e-99999999999999999999", 0, 0, 0},
        {"0e99999999999", 0, 0, 0},
        {"1e2147483647", -2147483647 - 1, bits_of(1e-1), 0},
    };
    for (const read_row& r : rows) {
        SCOPED_TRACE(r.text);
        size_t left = 99;
        EXPECT_EQ(bits_of(text_to_float(r.text, std::strlen(r.text), r.extra, &left)), r.bits);
        EXPECT_EQ(left, r.remaining);
    }
}

TEST(FloatText, PointerEntryCountsRemaining)
{
    const char text[] = "2.5e3 rest";
    int32_t remaining = -1;
    EXPECT_EQ(text_to_float(text, text + 10, 0, &remaining), 2500.0);
    EXPECT_EQ(remaining, 5);
    EXPECT_EQ(text_to_float(text, text + 3, 0, &remaining), 2.5);
    EXPECT_EQ(remaining, 0);
}

// The exact decimal text of m x 2^e, by schoolbook arithmetic on a digit vector, independent of
// the big integers under test.
std::string exact_decimal(uint64_t m, int32_t e)
{
    std::vector<int> digits;   // least significant first
    for (; m; m /= 10) digits.push_back(int(m % 10));
    auto times = [&](int f) {
        int carry = 0;
        for (int& d : digits) {
            int p = d * f + carry;
            d = p % 10;
            carry = p / 10;
        }
        for (; carry; carry /= 10) digits.push_back(carry % 10);
    };
    int32_t fraction = 0;
    for (; e > 0; e--) times(2);
    for (; e < 0; e++, fraction++) times(5);
    while (int32_t(digits.size()) <= fraction) digits.push_back(0);
    std::string s;
    for (size_t i = digits.size(); i-- > 0;) {
        s += char('0' + digits[i]);
        if (int32_t(i) == fraction && fraction) s += '.';
    }
    return s;
}

// The exact midpoint between a double and the next one up reads as the even one of the two; a
// hair above or below it decides. These texts run to hundreds of digits.
TEST(FloatText, ExactMidpointsOfLongTexts)
{
    const uint64_t below[] = {0, 1, 0x000FFFFFFFFFFFFF, 0x3FF0000000000000, 0x4340000000000000,
                              0x3FB999999999999A, 0x2A8F6E73C1B3A2C5, LARGEST_BITS};
    for (uint64_t b : below) {
        uint32_t field = uint32_t(b >> 52);
        uint64_t m = (b & 0xFFFFFFFFFFFFF) | (field ? uint64_t(1) << 52 : 0);
        int32_t q = field ? int32_t(field) - 1075 : -1074;
        std::string mid = exact_decimal(2 * m + 1, q - 1);
        SCOPED_TRACE(mid.substr(0, 40));
        // The midpoint's last digit is odd, so lowering it never borrows.
        bool whole = mid.find('.') == std::string::npos;
        std::string above = mid + (whole ? ".000000001" : "000000001");
        std::string under = mid;
        under.back()--;
        under += whole ? ".9999999999" : "9999999999";
        uint64_t even = (b & 1) ? b + 1 : b;
        EXPECT_EQ(bits_of(text_to_float(mid.data(), mid.size(), 0, nullptr)), even);
        EXPECT_EQ(bits_of(text_to_float(above.data(), above.size(), 0, nullptr)), b + 1);
        EXPECT_EQ(bits_of(text_to_float(under.data(), under.size(), 0, nullptr)), b);
    }
}

// Big-integer records go back to their free lists: after a first round has filled them, more
// conversions take nothing further from the tracked heap.
TEST(FloatText, ConversionsKeepTheHeapSteady)
{
    auto round = [] {
        for (const reference_row& r : reference) {
            const char* t = float_form(of_bits(r.bits), 0, 1);
            text_to_float(t, std::strlen(t), 0, nullptr);
            text_to_float(r.repr, std::strlen(r.repr), 0, nullptr);
        }
    };
    round();
    size_t before = rt_heap_total();
    round();
    round();
    EXPECT_EQ(rt_heap_total(), before);
}

}  // namespace
