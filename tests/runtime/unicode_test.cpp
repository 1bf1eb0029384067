// UTF-8 and UTF-16 conversion: loading into the narrowest unit, the two decoders, widening and
// the conversions for the operating system.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "support/fixtures.h"

namespace {

using bytes = std::vector<uint8_t>;
using codes = std::vector<uint32_t>;

codes code_points(node_ref node)
{
    series_buffer* s = series_of(node);
    codes out;
    for (uint32_t p = s->head; p < s->tail; p += series_unit(s)) out.push_back(unit_read(at(p), series_unit(s)));
    return out;
}

class Unicode : public test::StackTest {
protected:
    // A string! on the argument stack holding the given code points in the given unit.
    cell* text(const codes& cps, uint32_t unit)
    {
        cell* str = string::make_at(stack::push_slot(), uint32_t(cps.size()), unit);
        series_buffer* s = series_of(str->data2);
        for (uint32_t cp : cps) {
            unit_write(at(s->tail), unit, cp);
            s->tail += unit;
        }
        return str;
    }

};

struct load_case {
    const char* name;
    bytes input;
    bool crlf;
    uint32_t unit;
    codes expected;
    uint32_t remaining;
};

TEST_F(Unicode, Utf8LoadsIntoTheNarrowestUnit)
{
    const load_case cases[] = {
        {"euro widens to two bytes", {0x41, 0xE2, 0x82, 0xAC}, false, 2, {0x41, 0x20AC}, 0},
        {"latin-1 stays one byte", {0xC3, 0xA9}, false, 1, {0xE9}, 0},
        {"byte-order mark alone", {0xEF, 0xBB, 0xBF}, false, 1, {}, 0},
        {"byte-order mark skipped", {0xEF, 0xBB, 0xBF, 0x61}, false, 1, {0x61}, 0},
        {"crlf and lone cr fold", {0x61, 0x0D, 0x0A, 0x62, 0x0D, 0x63}, true, 1, {0x61, 0x0A, 0x62, 0x0A, 0x63}, 0},
        {"cr kept without folding", {0x61, 0x0D, 0x0A, 0x62}, false, 1, {0x61, 0x0D, 0x0A, 0x62}, 0},
        {"cut sequence is left over", {0x61, 0xE2, 0x82}, false, 1, {0x61}, 2},
        {"overlong nul accepted", {0xC0, 0x80}, false, 1, {0}, 0},
        {"high surrogate accepted", {0xED, 0xA0, 0x80}, false, 2, {0xD800}, 0},
        {"one then two then four bytes", {0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0x7A}, false, 4,
         {0xE9, 0x20AC, 0x1F600, 0x7A}, 0},
        {"growth after widening keeps every unit",
         {0xEE, 0x9C, 0x98, 0xEE, 0x9C, 0x98, 0xEE, 0x9C, 0x98, 0xEE, 0x9C, 0x98, 0xEE, 0x9C, 0x98, 0xEE, 0x9C, 0x98,
          0xF2, 0xAD, 0x81, 0x81, 0x47, 0x58},
         false, 4, {0xE718, 0xE718, 0xE718, 0xE718, 0xE718, 0xE718, 0xAD041, 0x47, 0x58}, 0},
    };
    for (const load_case& c : cases) {
        uint32_t remaining = 99;
        node_ref node = utf8_load_string(c.input.data(), uint32_t(c.input.size()), 0, &remaining, c.crlf);
        EXPECT_EQ(series_unit(series_of(node)), c.unit) << c.name;
        EXPECT_EQ(code_points(node), c.expected) << c.name;
        EXPECT_EQ(remaining, c.remaining) << c.name;
    }
}

TEST_F(Unicode, InvalidUtf8RaisesWithTheOffendingBytes)
{
    const std::pair<bytes, bytes> cases[] = {
        {{0xED, 0xB0, 0x80}, {0xED, 0xB0, 0x80}},               // low surrogate U+DC00
        {{0xF4, 0x90, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}},   // above U+10FFFF
        {{0x80}, {0x80}},                                       // lone continuation byte
        {{0x61, 0xC3, 0x41, 0x62, 0x63, 0x64}, {0xC3, 0x41, 0x62, 0x63}},
        {{0xF8, 0x80}, {0xF8, 0x80}},
    };
    for (const auto& [input, reported] : cases) {
        try {
            utf8_load_plain(input.data(), uint32_t(input.size()));
            ADD_FAILURE() << "no error for input of " << input.size() << " bytes";
        } catch (const script_error_unwind&) {
            const raised_error& e = raised_error_get();
            EXPECT_EQ(e.code(), ERR_ACCESS * 100 + err::INVALID_UTF8);
            ASSERT_EQ(cell_type(&e.args[0]), TYPE_BINARY);
            EXPECT_EQ(code_points(e.args[0].data2), codes(reported.begin(), reported.end()));
        }
    }
}

TEST_F(Unicode, LoadIntoASmallTargetReplacesItsContent)
{
    cell* str = text({'x', 'y', 'z'}, 1);
    const bytes input = {'h', 'e', 'l', 'l', 'o', ' ', 0xE2, 0x82, 0xAC, ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'};
    utf8_load_into_string(input.data(), uint32_t(input.size()), str, nullptr);
    EXPECT_EQ(string::utf8_copy(str), "hello \xE2\x82\xAC world!!");
    EXPECT_EQ(series_unit(series_of(str->data2)), 2u);
}

TEST_F(Unicode, FastDecoderConsumesUpToTheRejectingByte)
{
    struct fast_case {
        bytes input;
        int32_t cp;
        uint32_t consumed;
    };
    const fast_case cases[] = {
        {{0x80, 0x41}, -1, 1},
        {{0xC3, 0x41}, -1, 2},
        {{0xE2, 0x82, 0xAC, 0x41}, 0x20AC, 3},
        {{0xE2, 0x82}, -1, 2},   // cut by the end: stops there
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
        {{0xED, 0xA0, 0x80}, -1, 2},   // the automaton refuses surrogates
    };
    for (const fast_case& c : cases) {
        int32_t cp = 0;
        const uint8_t* end = c.input.data() + c.input.size();
        const uint8_t* after = unicode::fast_decode_utf8_char(c.input.data(), end, &cp);
        EXPECT_EQ(cp, c.cp);
        EXPECT_EQ(uint32_t(after - c.input.data()), c.consumed);
    }
    const bytes mixed = {0x61, 0x80, 0xE2, 0x82, 0xAC, 0xC3};
    EXPECT_EQ(utf8_count_chars(mixed.data(), mixed.data() + mixed.size()), 4u);
    EXPECT_EQ(utf8_skip_chars(mixed.data(), mixed.data() + mixed.size(), 3), mixed.data() + 5);
}

TEST_F(Unicode, Utf16LoadsPairsAndKeepsLoneSurrogates)
{
    const load_case cases[] = {
        {"surrogate pair", {0x3D, 0xD8, 0x00, 0xDE}, false, 4, {0x1F600}, 0},
        {"lone high surrogate kept", {0x3D, 0xD8, 0x41, 0x00}, false, 4, {0xD83D, 0x41}, 0},
        {"high surrogate last", {0x41, 0x00, 0x3D, 0xD8}, false, 4, {0x41, 0xD83D}, 0},
        {"lone low surrogate", {0x00, 0xDE}, false, 4, {0xDE00}, 0},
        {"latin-1 in one byte", {0x41, 0x00, 0xE9, 0x00}, false, 1, {0x41, 0xE9}, 0},
        {"bmp in two bytes", {0x41, 0x00, 0xAC, 0x20}, false, 2, {0x41, 0x20AC}, 0},
        {"cr dropped", {0x61, 0x00, 0x0D, 0x00, 0x0A, 0x00, 0x0D, 0x00}, true, 1, {0x61, 0x0A}, 0},
    };
    for (const load_case& c : cases) {
        node_ref node = utf16_load_string(c.input.data(), uint32_t(c.input.size() / 2), nullptr, c.crlf);
        EXPECT_EQ(series_unit(series_of(node)), c.unit) << c.name;
        EXPECT_EQ(code_points(node), c.expected) << c.name;
    }
}

TEST_F(Unicode, Utf16FromTheScratchBufferIntoAString)
{
    cell* str = text({'a'}, 1);
    uint8_t* scratch = string_scratch_buffer(str, 16);
    const uint8_t input[] = {0x41, 0x00, 0xAC, 0x20, 0x42, 0x00};
    std::memcpy(scratch, input, sizeof input);
    utf16_load_string(nullptr, 3, str, false);
    EXPECT_EQ(code_points(str->data2), (codes{0x41, 0x20AC, 0x42}));
    // A count beyond the scratch buffer is cut to what it holds.
    utf16_load_string(nullptr, 1000, str, false);
    EXPECT_LE(code_points(str->data2).size(), series_of(str->data3)->size / 2);
}

TEST_F(Unicode, StringToUtf16WritesPairsAndCrlf)
{
    cell* str = text({0x1F600, 0x0A}, 4);
    int32_t limit = -1;
    const uint8_t* out = reinterpret_cast<const uint8_t*>(string_to_utf16_part(str, &limit, true));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(bytes(out, out + 10), (bytes{0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x00, 0x0A, 0x00, 0x00, 0x00}));
    EXPECT_EQ(limit, 4);

    cell* plain = text({'a', 0x0A, 0x20AC}, 2);
    limit = 2;
    out = reinterpret_cast<const uint8_t*>(string_to_utf16_part(plain, &limit, false));
    EXPECT_EQ(bytes(out, out + 6), (bytes{0x61, 0x00, 0x0A, 0x00, 0x00, 0x00}));
    EXPECT_EQ(limit, 2);

    cell* beyond = text({0x110000}, 4);
    limit = -1;
    EXPECT_EQ(string_to_utf16_part(beyond, &limit, true), nullptr);
    EXPECT_EQ(limit, -1);
}

TEST_F(Unicode, StringToUtf8WithLimitsAndCrlf)
{
    cell* str = text({'a', 0x0A, 0xE9, 0x20AC}, 2);
    int32_t limit = -1;
    const uint8_t* out = string_to_utf8_crlf_data(str, &limit, true);
    EXPECT_EQ(bytes(out, out + limit + 1), (bytes{0x61, 0x0D, 0x0A, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x00}));
    limit = 0;
    string_to_utf8_data(str, &limit);
    EXPECT_EQ(limit, 0);
    str->data1 = 3;   // from the head only
    limit = 5;
    out = string_to_utf8_data(str, &limit);
    EXPECT_EQ(bytes(out, out + limit), (bytes{0xE2, 0x82, 0xAC}));

    cell* euro = text({0x20AC}, 2);
    uint8_t room[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(string_to_utf8_bounded(euro, room, 2, 0, true), 2u);
    EXPECT_EQ(bytes(room, room + 4), (bytes{0xE2, 0x82, 0x00, 0xFF}));
}

TEST_F(Unicode, WideningKeepsOffsetAndCodePoints)
{
    cell* str = text({'a', 'b'}, 1);
    uint32_t offset = series_of(str->data2)->head - series_data_ref(series_of(str->data2));
    series_buffer* s = string_widen_ucs2(series_of(str->data2));
    EXPECT_EQ(bytes(at(s->head), at(s->tail)), (bytes{0x61, 0x00, 0x62, 0x00}));
    EXPECT_EQ(s->head - series_data_ref(s), offset);
    s = string_ucs2_to_ucs4(s);
    EXPECT_EQ(code_points(str->data2), (codes{'a', 'b'}));
    EXPECT_EQ(series_unit(s), 4u);

    // A buffer filled to its end grows while widening.
    cell* full = text({}, 1);
    s = series_of(full->data2);
    while (s->tail < series_end_ref(s)) *at(s->tail++) = 0xE9;
    uint32_t n = s->size;
    s = string_widen_ucs4(s);
    EXPECT_EQ(code_points(full->data2), codes(n, 0xE9));
}

TEST_F(Unicode, CodePointsBeyondUnicodeRaiseInvalidChar)
{
    uint8_t out[4];
    for (auto f : {+[] { utf8_char_size(0x110000); }, +[] {
             uint8_t o[4];
             utf8_encode_char(0x110000, o);
         }}) {
        try {
            f();
            ADD_FAILURE();
        } catch (const script_error_unwind&) {
            EXPECT_EQ(raised_error_get().code(), ERR_SCRIPT * 100 + err::INVALID_CHAR);
            EXPECT_EQ(raised_error_get().args[0].data2, 0x110000u);
        }
    }
    EXPECT_EQ(utf8_encode_char(0xD800, out), 3u);
    EXPECT_EQ(utf8_char_size(0x10FFFF), 4u);
}

}  // namespace
