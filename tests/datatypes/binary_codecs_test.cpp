// The base-2, 16, 58 and 64 codecs: the rules of each decoder, texts of every unit width, and a
// cross-check of both directions against Python's encoders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/numbers.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/none.h"
#include "runtime/unicode.h"

namespace {

using namespace num;
using CodecTest = test::StackTest;

std::string hex_of(const cell* value)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint32_t i = 0; i < binary::ks_length_q(value); i++) {
        out += digits[binary::byte_at(value, i) >> 4];
        out += digits[binary::byte_at(value, i) & 15];
    }
    return out;
}

std::vector<uint8_t> bytes_of_hex(const std::string& hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// The text as a string! of the given unit width (1, 2 or 4 bytes per code point).
cell wide_text(const std::u32string& text, uint32_t unit)
{
    cell* s = string::make_at(stack::push_slot(), uint32_t(text.size()), unit);
    series_buffer* b = series_of(s->data2);
    for (char32_t cp : text) {
        unit_write(at(b->tail), unit, uint32_t(cp));
        b->tail += unit;
    }
    return *s;
}

// The decoded bytes in hexadecimal, or "none" when the text is refused.
std::string decoded(const std::u32string& text, int32_t base, uint32_t unit = 1)
{
    cell t = wide_text(text, unit);
    cell* result = binary::debase(&t, base);
    return result ? hex_of(result) : "none";
}

std::string encoded(const std::vector<uint8_t>& bytes, int32_t base)
{
    cell source = *binary::load(bytes.data(), uint32_t(bytes.size()));
    return string::utf8_copy(binary::enbase(&source, base));
}

TEST_F(CodecTest, DecodingRules)
{
    struct row { const char32_t* text; int32_t base; const char* bytes; };
    const row rows[] = {
        {U"QQ==", 64, "41"},
        {U"QUI=", 64, "4142"},
        {U"Q===", 64, "none"},
        {U"QUI", 64, "4142"},          // a last group without "=" completes as with it
        {U"QQ", 64, "41"},
        {U"QQ=", 64, "41"},
        {U"QUJD Q\tU\nJ'D", 64, "414243414243"},
        {U"Q", 64, "none"},            // one leftover symbol is no byte
        {U"QQ==QQ==", 64, "none"},     // symbols after "="
        {U"QUI==", 64, "none"},
        {U"=QUI", 64, "none"},
        {U"QU;comment\nI=", 64, "4142"},
        {U"QU*I", 64, "none"},
        {U"41 42 ; comment", 16, "4142"},
        {U"4", 16, ""},                // an odd last digit is dropped
        {U"", 16, ""},
        {U"aBcD", 16, "abcd"},
        {U"4G", 16, "none"},
        {U"\u00C11", 16, "none"},      // A-acute is not "A": no digit above 127
        {U"\u0141", 16, "none"},
        {U"0100 0001", 2, "41"},
        {U"0100", 2, "none"},
        {U"01000001 ; x\n 0100 0010", 2, "4142"},
        {U"01000002", 2, "none"},
        {U"11", 58, "0000"},
        {U"15Q", 58, "00ff"},
        {U"5Q", 58, "ff"},
        {U"1 1;c\n5'Q", 58, "0000ff"},
        {U"0", 58, "none"},            // 0, O, I and l are not digits
        {U"l", 58, "none"},
        {U"\u00E9", 58, "none"},
    };
    for (const row& r : rows) {
        const std::u32string text(r.text);
        const bool wide = std::any_of(text.begin(), text.end(), [](char32_t cp) { return cp > 0xFF; });
        for (uint32_t unit : {1u, 2u, 4u}) {
            if (unit == 1 && wide) continue;
            EXPECT_EQ(decoded(text, r.base, unit), r.bytes)
                << "base " << r.base << ", unit " << unit << ", row " << (&r - rows);
        }
    }
}

TEST_F(CodecTest, EncodingEdges)
{
    EXPECT_EQ(encoded({0, 0}, 58), "11");
    EXPECT_EQ(encoded({0, 0xFF}, 58), "15Q");
    EXPECT_EQ(encoded({}, 58), "");
    EXPECT_EQ(encoded({0x41}, 64), "QQ==");
    EXPECT_EQ(encoded({0x41, 0x42}, 64), "QUI=");
    EXPECT_EQ(encoded({0xAB}, 16), "AB");
    EXPECT_EQ(encoded({0x41}, 2), "01000001");
}

TEST_F(CodecTest, SourceFromItsHeadAndInputOfBinaries)
{
    cell b = *binary::load(reinterpret_cast<const uint8_t*>("xxQUI="), 6);
    b.data1 = 2;
    EXPECT_EQ(hex_of(binary::debase(&b, 64)), "4142") << "a binary's bytes are text too";
    EXPECT_EQ(string::utf8_copy(binary::enbase(&b, 16)), "5155493D");
    cell s = text("  4142");
    s.data1 = 3;
    EXPECT_EQ(hex_of(binary::debase(&s, 16)), "14") << "the text from its head";
}

TEST_F(CodecTest, UnknownBaseAndRoomBeyondTheMemoryBound)
{
    cell b = *binary::load(nullptr, 0);
    EXPECT_EQ(error_of([&] { binary::enbase(&b, 10); }), code(ERR_SCRIPT, err::INVALID_ARG));
    EXPECT_FALSE(binary::base_q(32));
    EXPECT_EQ(binary::enbase_room(2, 0x20000000u), 0x100000000ull) << "counted in 64 bits";
    EXPECT_EQ(binary::debase_room(64, 0xFFFFFFFFu), (0xFFFFFFFFull * 3 + 9) / 4);
}

TEST_F(CodecTest, PythonCrossCheck)
{
    struct row { const char* hex; const char* texts[4]; };
    static const row rows[] = {
#include "fixtures/base_codecs.inc"
    };
    const int32_t bases[4] = {2, 16, 58, 64};
    for (const row& r : rows) {
        std::vector<uint8_t> bytes = bytes_of_hex(r.hex);
        for (int k = 0; k < 4; k++) {
            cell* mark = stack::top();
            EXPECT_EQ(encoded(bytes, bases[k]), r.texts[k]) << "base " << bases[k] << " of " << r.hex;
            std::u32string text(r.texts[k], r.texts[k] + std::strlen(r.texts[k]));
            EXPECT_EQ(decoded(text, bases[k]), r.hex) << "base " << bases[k] << " text " << r.texts[k];
            stack_s.top = mark;
        }
    }
}

}  // namespace
