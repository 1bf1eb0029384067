// Fuzz tests of the decoders: random bytes and mutated valid text, fixed seed and iteration
// count. Every input ends at the end of a readable page, so a read past the end faults.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "support/fixtures.h"
#include "support/guarded.h"

namespace {

constexpr uint32_t ITERATIONS = 4000;
constexpr uint32_t SEED = 20240611;

class Fuzz : public test::StackTest {
protected:
    std::vector<uint8_t> random_bytes()
    {
        std::vector<uint8_t> out(rng_() % 40);
        for (uint8_t& b : out) b = uint8_t(rng_());
        return out;
    }
    uint32_t random_code_point()
    {
        switch (rng_() % 4) {
        case 0: return rng_() % 0x80;
        case 1: return rng_() % 0x800;
        case 2: return rng_() % 0x10000;
        default: return 0x10000 + rng_() % 0x100000;
        }
    }
    // Valid UTF-8 (surrogates of the low block left out), then one to three bytes changed,
    // dropped or inserted.
    std::vector<uint8_t> mutated_text()
    {
        std::vector<uint8_t> out;
        for (uint32_t n = rng_() % 12; n; n--) {
            uint32_t cp = random_code_point();
            if (cp >= 0xDC00 && cp <= 0xDCFF) cp = 'x';
            uint8_t bytes[4];
            out.insert(out.end(), bytes, bytes + utf8_encode_char(cp, bytes));
        }
        for (uint32_t n = rng_() % 4; n && !out.empty(); n--) {
            size_t at_index = rng_() % out.size();
            switch (rng_() % 3) {
            case 0: out[at_index] ^= uint8_t(1u << (rng_() % 8)); break;
            case 1: out.erase(out.begin() + ptrdiff_t(at_index)); break;
            default: out.insert(out.begin() + ptrdiff_t(at_index), uint8_t(rng_()));
            }
        }
        return out;
    }
    std::vector<uint8_t> next_input(uint32_t i) { return i % 2 ? random_bytes() : mutated_text(); }

    std::mt19937 rng_{SEED};
    test::guarded_region page_{4096};
};

std::vector<uint32_t> code_points(node_ref node)
{
    series_buffer* s = series_of(node);
    std::vector<uint32_t> out;
    for (uint32_t p = s->head; p < s->tail; p += series_unit(s)) out.push_back(unit_read(at(p), series_unit(s)));
    return out;
}

uint32_t narrowest_unit(const std::vector<uint32_t>& cps)
{
    uint32_t unit = 1;
    for (uint32_t cp : cps) unit = std::max(unit, cp <= 0xFF ? 1u : cp <= 0xFFFF ? 2u : 4u);
    return unit;
}

TEST_F(Fuzz, FastDecoderStaysInBoundsAndDecodesCanonically)
{
    for (uint32_t i = 0; i < ITERATIONS; i++) {
        std::vector<uint8_t> input = next_input(i);
        const uint8_t* p = page_.place(input);
        const uint8_t* end = p + input.size();
        while (p < end) {
            int32_t cp;
            const uint8_t* next = unicode::fast_decode_utf8_char(p, end, &cp);
            ASSERT_GT(next, p);
            ASSERT_LE(next, end);
            ASSERT_LE(next - p, 4);
            if (cp >= 0) {
                // What the automaton accepts is exactly the standard encoding of what it gives.
                uint8_t bytes[4];
                uint32_t n = utf8_encode_char(uint32_t(cp), bytes);
                ASSERT_EQ(n, uint32_t(next - p));
                ASSERT_EQ(std::memcmp(bytes, p, n), 0);
            }
            p = next;
        }
    }
}

TEST_F(Fuzz, CheckedDecoderStaysInBoundsAndReencodes)
{
    for (uint32_t i = 0; i < ITERATIONS; i++) {
        std::vector<uint8_t> input = next_input(i);
        const uint8_t* p = page_.place(input);
        uint32_t left = uint32_t(input.size());
        try {
            while (left) {
                uint32_t length = left;
                int32_t cp = utf8_decode_checked(p, &length);
                if (cp < 0) {
                    ASSERT_LT(left, utf8_lead_length(*p));
                    break;
                }
                ASSERT_LE(length, left);
                uint8_t bytes[4];
                uint32_t n = utf8_encode_char(uint32_t(cp), bytes), again = n;
                ASSERT_EQ(utf8_decode_checked(bytes, &again), cp);   // overlong forms come back shortest
                ASSERT_LE(n, length);
                p += length, left -= length;
            }
        } catch (const script_error_unwind&) {
            ASSERT_EQ(raised_error_get().code(), ERR_ACCESS * 100 + err::INVALID_UTF8);
        }
    }
}

TEST_F(Fuzz, Utf8LoaderRoundTrips)
{
    for (uint32_t i = 0; i < ITERATIONS; i++) {
        std::vector<uint8_t> input = next_input(i);
        const uint8_t* p = page_.place(input);
        try {
            uint32_t remaining = 0;
            cell* str = stack::push_slot();
            *str = cell{TYPE_STRING, 0, utf8_load_string(p, uint32_t(input.size()), 0, &remaining, i % 3 == 0), 0};
            ASSERT_LE(remaining, 3u);
            std::vector<uint32_t> cps = code_points(str->data2);
            ASSERT_EQ(series_unit(series_of(str->data2)), narrowest_unit(cps));
            int32_t limit = -1;
            const uint8_t* out = string_to_utf8_data(str, &limit);
            node_ref again = utf8_load_plain(out, uint32_t(limit));
            ASSERT_EQ(code_points(again), cps);
            stack::pop(1);
        } catch (const script_error_unwind&) {
            ASSERT_EQ(raised_error_get().code(), ERR_ACCESS * 100 + err::INVALID_UTF8);
        }
    }
}

TEST_F(Fuzz, Utf16LoaderRoundTripsUnitForUnit)
{
    for (uint32_t i = 0; i < ITERATIONS; i++) {
        std::vector<uint8_t> input = next_input(i);
        if (input.size() % 2) input.pop_back();
        // Half the inputs get surrogates where they are likely to pair or not.
        for (size_t k = 1; i % 2 && k < input.size(); k += 2)
            if (rng_() % 3 == 0) input[k] = uint8_t(0xD8 + rng_() % 8);
        const uint8_t* p = page_.place(input);
        uint32_t units = uint32_t(input.size() / 2);
        cell* str = stack::push_slot();
        *str = cell{TYPE_STRING, 0, utf16_load_string(p, units, nullptr, false), 0};
        ASSERT_EQ(series_unit(series_of(str->data2)), units ? utf16_unit_width(p, units) : 2u);
        int32_t limit = -1;
        const uint8_t* out = reinterpret_cast<const uint8_t*>(string_to_utf16_part(str, &limit, false));
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(uint32_t(limit), units);
        ASSERT_EQ(std::memcmp(out, input.data(), input.size()), 0);
        ASSERT_EQ(out[input.size()] | out[input.size() + 1], 0);
        stack::pop(1);
    }
}

}  // namespace
