// Case folding: the generated one-to-one tables, and uppercase/lowercase of text in place.
#include <gtest/gtest.h>

#include "runtime/casefold.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/interpreter/stack.h"

namespace {

TEST(Casefold, MapsOneCodePointToOne)
{
    struct case_row {
        uint32_t cp, upper, expected;
    };
    const case_row cases[] = {
        {0x0061, 1, 0x0041}, {0x0041, 0, 0x0061}, {0x0041, 1, 0x0041}, {0x0130, 0, 0x0069},
        {0x01C5, 1, 0x01C4}, {0x01C5, 0, 0x01C6}, {0xFF41, 1, 0xFF21}, {0x00B5, 1, 0x039C},
        {0x00FF, 1, 0x0178}, {0x10D0, 1, 0x1C90},
        // Above the Basic Multilingual Plane.
        {0x10428, 1, 0x10400}, {0x1E922, 1, 0x1E900}, {0x1E943, 1, 0x1E921}, {0x1E900, 0, 0x1E922},
        {0x1F600, 1, 0x1F600}, {0x10FFFF, 1, 0x10FFFF},
        // Whose partner is several letters: itself, never the first of them.
        {0x00DF, 1, 0x00DF}, {0x0149, 1, 0x0149}, {0xFB01, 1, 0xFB01}, {0x0390, 1, 0x0390},
        {0x1E9E, 0, 0x00DF}, {0x1F80, 1, 0x1F88},
        // Given case mappings only after Unicode 11.0.
        {0xA7C0, 0, 0xA7C0}, {0xA7C1, 1, 0xA7C1}, {0x2C2F, 0, 0x2C2F}, {0x10570, 0, 0x10570},
    };
    for (const case_row& c : cases)
        EXPECT_EQ(char_change_case(c.cp, c.upper), c.expected) << std::hex << c.cp << " upper " << c.upper;
}

class ChangeCase : public testing::Test {
protected:
    void SetUp() override { saved_top_ = stack_s.top; }
    void TearDown() override { stack_s.top = saved_top_; }
    cell* text(const char* utf8) { return string::load(reinterpret_cast<const uint8_t*>(utf8), uint32_t(strlen(utf8)), 0); }

private:
    cell* saved_top_ = nullptr;
};

TEST_F(ChangeCase, MultiLetterMappingKeepsTheLetter)
{
    cell* str = text("stra\xC3\x9F" "e");
    change_case(str, nullptr, 1);
    EXPECT_EQ(string::to_utf8(str), "STRA\xC3\x9F" "E");
    cell* sharp = text("\xC3\x9F");
    cell* s = text("s");
    EXPECT_NE(string::equal_q(sharp, s, COMP_EQUAL, false), 0);
}

TEST_F(ChangeCase, WidensOnlyWhenTheMappedCodePointNeedsIt)
{
    struct case_row {
        const char* input;
        uint32_t upper;
        const char* expected;
        uint32_t unit;
    };
    const case_row cases[] = {
        {"a\xC2\xB5" "b", 1, "A\xCE\x9C" "B", 2},        // micro sign up to Greek capital mu
        {"\xC3\xBF", 1, "\xC5\xB8", 2},                  // y with diaeresis up to U+0178
        {"\xC4\xB0" "X", 0, "ix", 2},                    // U+0130 down to i: stays unit 2
        {"\xC3\xA9t\xC3\xA9", 1, "\xC3\x89T\xC3\x89", 1},  // Latin-1 stays one byte
        {"\xF0\x90\x90\xA8z", 1, "\xF0\x90\x90\x80Z", 4},
    };
    for (const case_row& c : cases) {
        cell* str = text(c.input);
        change_case(str, nullptr, c.upper);
        EXPECT_EQ(string::to_utf8(str), c.expected) << c.input;
        EXPECT_EQ(series_unit(series_of(str->data2)), c.unit) << c.input;
    }
}

TEST_F(ChangeCase, PartLimitsTheUnitsChanged)
{
    cell* str = text("abcdef");
    str->data1 = 1;
    cell count{TYPE_INTEGER, 0, 2, 0};
    change_case(str, &count, 1);
    EXPECT_EQ(string::to_utf8(str), "BCdef");

    cell zero{TYPE_INTEGER, 0, 0, 0};
    change_case(str, &zero, 1);
    cell before{TYPE_STRING, 0, str->data2, 0};   // a position before the head
    change_case(str, &before, 1);
    cell too_far{TYPE_INTEGER, 0, 100, 0};
    change_case(str, &too_far, 0);
    str->data1 = 0;
    EXPECT_EQ(string::to_utf8(str), "abcdef");

    cell at_d{TYPE_STRING, 3, str->data2, 0};
    change_case(str, &at_d, 1);
    EXPECT_EQ(string::to_utf8(str), "ABCdef");

    cell* other = text("xyz");
    try {
        change_case(str, other, 1);
        ADD_FAILURE();
    } catch (const script_error_unwind&) {
        EXPECT_EQ(raised_error_get().code(), ERR_SCRIPT * 100 + err::INVALID_REFINE_ARG);
    }
}

TEST_F(ChangeCase, CharValueChangesInPlace)
{
    cell c{TYPE_CHAR, 0, 0x00E9, 0};
    change_case(&c, nullptr, 1);
    EXPECT_EQ(c.data2, 0x00C9u);
    EXPECT_EQ(cell_type(&c), TYPE_CHAR);
}

}  // namespace
