// Fuzzing the float reader: 200,000 inputs from a fixed seed, each placed to end right before a
// page that may not be read, so that any read past the given length faults the test. Mold output
// must read back bit for bit; long texts must agree with their short bracketing prefixes.
#include <windows.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "runtime/float_text.h"
#include "support/guarded.h"

namespace {

uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }

struct fuzzer {
    std::mt19937_64 rng{0x6B69762D666C74};
    test::guarded_region guard{4096};

    uint64_t below(uint64_t n) { return rng() % n; }

    double read(const std::string& s, int32_t extra, size_t* left)
    {
        char* at = reinterpret_cast<char*>(guard.tail(s.size()));
        std::memcpy(at, s.data(), s.size());
        return text_to_float(at, s.size(), extra, left);
    }

    // Any bit pattern: mold writes it, the reader must give the same bits back.
    void mold_round_trip()
    {
        uint64_t bits = rng();
        double v = std::bit_cast<double>(bits);
        std::string text = float_form(v, 0, 1);
        size_t left = 1;
        double back = read(text, 0, &left);
        ASSERT_EQ(left, 0u) << text;
        if (std::isnan(v)) ASSERT_TRUE(std::isnan(back)) << text;
        else ASSERT_EQ(bits_of(back), bits) << text;
    }

    std::string mutated()
    {
        static const char alphabet[] = "0123456789.eE+-#INFinf ";
        std::string s = float_form(std::bit_cast<double>(rng()), int32_t(below(23)), uint32_t(below(2)));
        for (uint64_t n = 1 + below(4); n; n--) {
            size_t at = s.empty() ? 0 : size_t(below(s.size()));
            char c = below(4) ? alphabet[below(sizeof alphabet - 1)] : char(rng());
            switch (below(4)) {
            case 0: if (!s.empty()) s[at] = c; break;
            case 1: s.insert(s.begin() + std::ptrdiff_t(at), c); break;
            case 2: if (!s.empty()) s.erase(at, 1); break;
            default: s += s.substr(at, size_t(below(8))); break;
            }
        }
        if (!s.empty() && below(3) == 0) s.resize(size_t(below(s.size())));
        return s;
    }

    std::string random_bytes()
    {
        static const char alphabet[] = "0123456789.eE+-#INFNnaif";
        std::string s(size_t(below(48)), ' ');
        for (char& c : s) c = below(5) ? alphabet[below(sizeof alphabet - 1)] : char(rng());
        return s;
    }

    int32_t extra_exponent()
    {
        switch (below(8)) {
        case 0: return int32_t(below(800)) - 400;
        case 1: return below(2) ? INT32_MAX : INT32_MIN;
        default: return 0;
        }
    }

    void garbage(const std::string& s)
    {
        size_t left = s.size() + 1;
        read(s, extra_exponent(), &left);
        ASSERT_LE(left, s.size()) << s;
    }

    // A long digit string D x 10^e lies between its first 20 digits and those plus one in the
    // last place; the reader must keep that order (exact path on the bounds, long path on D).
    void long_text_bracketed()
    {
        size_t count = 41 + size_t(below(1500));
        std::string digits(count, '0');
        for (char& c : digits) c = char('0' + below(10));
        digits[0] = char('1' + below(9));
        int64_t e = int64_t(below(700)) - 350 - int64_t(count);
        std::string text = digits + "e" + std::to_string(e);
        std::string low = digits.substr(0, 20);
        std::string high = low;
        size_t i = high.size();
        while (i > 0 && high[i - 1] == '9') high[--i] = '0';
        if (i == 0) high.insert(high.begin(), '1');
        else high[i - 1]++;
        int64_t short_e = e + int64_t(count) - 20;
        size_t left = 1;
        double v = read(text, 0, &left);
        ASSERT_EQ(left, 0u);
        double lo = read(low + "e" + std::to_string(short_e), 0, &left);
        double hi = read(high + "e" + std::to_string(short_e), 0, &left);
        ASSERT_LE(lo, v) << text;
        ASSERT_LE(v, hi) << text;
    }
};

TEST(FloatTextFuzz, ReaderStaysInsideItsTextAndReadsMoldBack)
{
    fuzzer f;
    ASSERT_TRUE(f.guard.ready());
    for (int i = 0; i < 200000; i++) {
        switch (i % 8) {
        case 0: case 1: case 2: f.mold_round_trip(); break;
        case 3: case 4: f.garbage(f.mutated()); break;
        case 5: case 6: f.garbage(f.random_bytes()); break;
        default:
            if (i % 64 == 7) f.long_text_bracketed();
            else f.mold_round_trip();
            break;
        }
        if (HasFatalFailure()) return;
    }
}

}  // namespace
