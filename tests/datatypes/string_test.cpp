// string!: widening rules, writing code points, concatenation, construction, comparison, form
// and mold, uppercase and lowercase.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"
#include "support/values.h"

namespace {

uint32_t unit_of(const cell* str) { return series_unit(series_of(str->data2)); }

uint32_t raised_code(void (*f)(cell*), cell* arg)
{
    try {
        f(arg);
    } catch (const script_error_unwind&) {
        return raised_error_get().code();
    }
    return 0;
}

class String : public test::StackTest {
protected:
    cell* text(const std::string& utf8)
    {
        return string::load(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), 0);
    }
    cell* empty() { return string::make_at(stack::push_slot(), 0); }
    std::string molded(const std::string& utf8, bool all = false)
    {
        cell* value = text(utf8);
        cell* buffer = empty();
        string::mold(value, buffer, false, all, false, nullptr, 0x7FFFFFFF, 0);
        return string::utf8_copy(buffer);
    }

};

TEST_F(String, AppendingWidensAbove127AndWritingAbove255)
{
    cell* str = text("abc");
    string::poke_char_at(str->data2, 1, 233);
    EXPECT_EQ(unit_of(str), 1u);
    string::append_char(str->data2, 233);
    EXPECT_EQ(unit_of(str), 2u);
    EXPECT_EQ(string::utf8_copy(str), "a\xC3\xA9" "c\xC3\xA9");

    cell* emoji = text("ab");
    string::append_char(emoji->data2, 0x1F600);
    EXPECT_EQ(unit_of(emoji), 4u);
    EXPECT_EQ(string::utf8_copy(emoji), "ab\xF0\x9F\x98\x80");

    cell* euro = text("ab");
    string::poke_char(euro->data2, string::ks_head(euro) + 1, 0x20AC);
    EXPECT_EQ(unit_of(euro), 2u);
    EXPECT_EQ(string::utf8_copy(euro), "a\xE2\x82\xAC");

    cell* literal = empty();
    string::concatenate_literal(literal, "x\xE9");
    EXPECT_EQ(unit_of(literal), 2u);
    EXPECT_EQ(string::utf8_copy(literal), "x\xC3\xA9");
}

TEST_F(String, PokeAtTheTailAppendsAndPastItIsRefused)
{
    cell* str = empty();
    for (uint32_t i = 0; i < 100; i++) string::poke_char_at(str->data2, i, 'a' + i % 26);
    EXPECT_EQ(string::ks_length_q(str), 100u);
    EXPECT_TRUE(memory_check_links());
    cell* stack_str = str;
    uint32_t code = raised_code([](cell* s) { string::poke_char_at(s->data2, 101, 'x'); }, stack_str);
    EXPECT_EQ(code, ERR_SCRIPT * 100 + err::OUT_OF_RANGE);
    EXPECT_EQ(string::ks_length_q(str), 100u);
}

TEST_F(String, InsertRemoveTruncateAndMove)
{
    cell* str = text("acd");
    string::insert_char_at(str->data2, 1, 'b');
    string::insert_char_at(str->data2, 4, 0x20AC);
    EXPECT_EQ(string::utf8_copy(str), "abcd\xE2\x82\xAC");
    string::remove_at(str, 0, 2);
    string::remove_at(str, 2, 50);   // clamped to the tail
    EXPECT_EQ(string::utf8_copy(str), "cd");
    string::truncate_at(str->data2, 1);
    EXPECT_EQ(string::utf8_copy(str), "c");

    cell* source = text("12345");
    source->data1 = 1;
    cell* target = text("xy");
    target->data1 = 1;
    string::move_chars(source, target, 2);
    EXPECT_EQ(string::utf8_copy(target), "23y");
    source->data1 = 0;
    EXPECT_EQ(string::utf8_copy(source), "145");

    cell* same = text("abcdef");
    cell from{TYPE_STRING, 4, same->data2, 0};
    cell to{TYPE_STRING, 1, same->data2, 0};
    string::move_chars(&from, &to, 2);
    EXPECT_EQ(string::utf8_copy(same), "aefbcd");
}

TEST_F(String, ConcatenateModesAndWidening)
{
    struct concat_case {
        const char* name;
        std::string target, source;
        int32_t part;
        uint32_t offset, mode;
        bool keep_source;
        std::string expected;
        uint32_t unit;
    };
    const concat_case cases[] = {
        {"append", "ab", "cd", -1, 0, string::CONCAT_APPEND, true, "abcd", 1},
        {"append part", "ab", "cdef", 1, 0, string::CONCAT_APPEND, true, "abc", 1},
        {"insert", "ad", "bc", -1, 1, string::CONCAT_INSERT, true, "abcd", 1},
        {"overwrite within", "abcd", "XY", -1, 1, string::CONCAT_OVERWRITE, true, "aXYd", 1},
        {"overwrite past tail", "abc", "XYZ", -1, 2, string::CONCAT_OVERWRITE, true, "abXYZ", 1},
        {"target widens to source", "ab", "\xE2\x82\xAC", -1, 0, string::CONCAT_APPEND, true, "ab\xE2\x82\xAC", 2},
        {"narrow source kept", "\xE2\x82\xAC", "\xC3\xA9z", -1, 0, string::CONCAT_APPEND, true, "\xE2\x82\xAC\xC3\xA9z", 2},
        {"narrow source inserted", "\xE2\x82\xAC!", "ab", -1, 1, string::CONCAT_INSERT, true, "\xE2\x82\xAC" "ab!", 2},
        {"narrow source widened", "\xF0\x9F\x98\x80", "ab", -1, 0, string::CONCAT_APPEND, false, "\xF0\x9F\x98\x80" "ab", 4},
    };
    for (const concat_case& c : cases) {
        cell* target = text(c.target);
        cell* source = text(c.source);
        string::concatenate(target, source, c.part, c.offset, c.keep_source, c.mode);
        EXPECT_EQ(string::utf8_copy(target), c.expected) << c.name;
        EXPECT_EQ(unit_of(target), c.unit) << c.name;
        EXPECT_EQ(string::utf8_copy(source), c.source) << c.name;
    }
    // A string appended to itself, past the room it has.
    cell* self = text(std::string(40, 'q'));
    string::concatenate(self, self, -1, 0, true, string::CONCAT_APPEND);
    string::concatenate(self, self, -1, 0, true, string::CONCAT_INSERT);
    EXPECT_EQ(string::utf8_copy(self), std::string(160, 'q'));
}

TEST_F(String, LiteralBytesFromAMovingBuffer)
{
    const std::string expected = "bytes of a binary! whose buffer moves while the string grows";
    cell* buffer = string::make_at(stack::push_slot(), 1, 1);
    const uint8_t* bytes = test::moving_bytes(expected);
    string::concatenate_literal_part(buffer, bytes, uint32_t(expected.size()));
    EXPECT_EQ(string::utf8_copy(buffer), expected);
}

TEST_F(String, CopyWidenIntoANewAllocation)
{
    cell* str = text("abcdef");
    series_buffer* s = string::copy_widen(series_of(str->data2), nullptr, 64, 4, 0, 1, 3, false);
    EXPECT_EQ(series_of(str->data2), s);
    EXPECT_EQ(unit_of(str), 4u);
    EXPECT_EQ(string::utf8_copy(str), "bcd");
}

TEST_F(String, LoadAtEncodings)
{
    const uint8_t utf16[] = {0x41, 0x00, 0xAC, 0x20};
    cell* str = string::load_at(utf16, sizeof utf16, nullptr, -1);
    EXPECT_EQ(cell_type(str), TYPE_STRING);
    EXPECT_EQ(string::utf8_copy(str), "A\xE2\x82\xAC");
    cell* blk = block::make_at(stack::push_slot(), 1);
    cell* in_block = string::load_in(reinterpret_cast<const uint8_t*>("abcd"), 4, blk, 0);
    EXPECT_EQ(string::utf8_copy(in_block), "abcd");
    EXPECT_EQ(block::rs_length(blk), 1u);
    cell dummy{};
    uint32_t code = raised_code([](cell*) { string::load_at(reinterpret_cast<const uint8_t*>("a"), 1, nullptr, 1); },
                                &dummy);
    EXPECT_EQ(code, ERR_SCRIPT * 100 + err::INVALID_ARG);
}

TEST_F(String, ToFloatReadsTheNumberAndCountsTheRest)
{
    int32_t remaining = -1;
    const char* text = "12.5e1xy";
    EXPECT_EQ(string::to_float(reinterpret_cast<const uint8_t*>(text), 8, &remaining), 125.0);
    EXPECT_EQ(remaining, 2);
}

TEST_F(String, HexDigits)
{
    const std::tuple<int32_t, bool, const char*> cases[] = {
        {30, true, "1E"}, {128, true, "80"}, {256, true, "100"}, {0, true, "00"}, {5, true, "5"},
        {255, false, "000000FF"}, {-1, false, "FFFFFFFF"},
    };
    for (const auto& [value, trim, expected] : cases) EXPECT_STREQ(string::to_hex(value, trim), expected) << value;
    EXPECT_STREQ(string::byte_to_hex(0xA7), "A7");
}

TEST_F(String, SmallSearches)
{
    cell* str = text("user@host");
    str->data1 = 2;
    EXPECT_EQ(string::find_char(str, '@'), 2);
    EXPECT_EQ(string::find_char(str, '#'), -1);
    EXPECT_TRUE(string::starts_with_literal_q(str, "er@"));
    EXPECT_FALSE(string::starts_with_literal_q(str, "er@hostname"));
}

TEST_F(String, CompareIgnoresCaseExceptStrictly)
{
    struct compare_case {
        std::string a, b;
        int32_t op, expected;
    };
    const compare_case cases[] = {
        {"abc", "ABC", COMP_EQUAL, 0},          {"abc", "ABC", COMP_STRICT_EQUAL, 1},
        {"abc", "abd", COMP_LESSER, -1},        {"ab", "abc", COMP_LESSER, -1},
        {"abc", "ab", COMP_SORT, 1},            {"abc", "", COMP_LESSER, 1},
        {"", "", COMP_EQUAL, 0},                {"ab", "abc", COMP_EQUAL, 1},
        {"B", "a", COMP_SORT, 1},               {"B", "a", COMP_CASE_SORT, -1},
        {"\xC3\x9F", "s", COMP_EQUAL, 1},       {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", COMP_EQUAL, 0},
        {"x\xE2\x82\xAC", "X\xE2\x82\xAC", COMP_EQUAL, 0},
        // Past the first eight bytes, and across widths (the euro sign makes a text 2 bytes wide).
        {"abcdefghijk", "abcdefghijl", COMP_LESSER, -1},   {"abcdefghiJK", "ABCDEFGHIjk", COMP_EQUAL, 0},
        {"abcdefghijklmnopq", "abcdefghijklmnopQ", COMP_STRICT_EQUAL, 1},
        {"\xE2\x82\xAC" "abcdefgh", "\xE2\x82\xAC" "abcdefgH", COMP_EQUAL, 0},
        {"\xE2\x82\xAC" "abcdefgh", "\xE2\x82\xAC" "abcdefgH", COMP_CASE_SORT, 1},
        {"abcdefghijk\xE2\x82\xAC", "ABCDEFGHIJK", COMP_SORT, 1}, {"abcdefgh\xE2\x82\xAC", "ABCDEFGI", COMP_SORT, -1},
        // A difference in the upper half of an eight-byte stretch.
        {"aaaaaaaa", "aaaaaaab", COMP_EQUAL, -1}, {"abcdefgh", "abcdefgx", COMP_FIND, -1},
        {"abcdefghijklmnop", "abcdefghijklmnoP", COMP_STRICT_EQUAL, 1},
        {"\xE2\x82\xAC" "abc", "\xE2\x82\xAC" "abd", COMP_EQUAL, -1},
    };
    for (const compare_case& c : cases) {
        cell* a = text(c.a);
        cell* b = text(c.b);
        EXPECT_EQ(string::compare(a, b, c.op), c.expected) << c.a << " / " << c.b << " op " << c.op;
    }
    cell* str = text("abc");
    cell* file = text("abc");
    cell_set_type(file, TYPE_FILE);
    EXPECT_EQ(string::compare(str, file, COMP_EQUAL), 0);
    EXPECT_EQ(string::compare(str, file, COMP_LESSER), -2);
    EXPECT_EQ(string::compare(str, str, COMP_SAME), 0);
    EXPECT_EQ(string::compare(str, file, COMP_SAME), -2);   // another type: not comparable that way
    cell* prefix = text("ab");
    EXPECT_EQ(string::equal_q(str, prefix, COMP_EQUAL, true), 0);
    EXPECT_EQ(string::equal_q(prefix, str, COMP_EQUAL, true), 1);
}

TEST_F(String, MakeAndTo)
{
    cell* proto = empty();
    const cell zero_value{TYPE_INTEGER, 0, 0, 0}, minus_value{TYPE_INTEGER, 0, uint32_t(-1), 0};
    cell* zero = stack::push(&zero_value);
    cell* made = string::make(proto, zero, TYPE_STRING);
    EXPECT_EQ(cell_type(made), TYPE_STRING);
    EXPECT_EQ(string::ks_length_q(made), 0u);

    cell* minus = stack::push(&minus_value);
    EXPECT_EQ(raised_code([](cell* spec) { string::make(spec, spec, TYPE_STRING); }, minus),
              ERR_SCRIPT * 100 + err::OUT_OF_RANGE);
    cell* none = stack::push(&none_value);
    EXPECT_EQ(raised_code([](cell* spec) { string::to(spec, spec, TYPE_STRING); }, none),
              ERR_SCRIPT * 100 + err::BAD_TO_ARG);

    cell* binary = stack::push_slot();
    *binary = cell{TYPE_BINARY, 0, bytes_alloc(1), 0};
    *series_alloc_tail_bytes(binary->data2, 1) = 0xC3;
    EXPECT_EQ(raised_code([](cell* spec) { string::to(spec, spec, TYPE_STRING); }, binary),
              ERR_ACCESS * 100 + err::INVALID_UTF8);
    const cell& arg = raised_error_get().args[0];
    EXPECT_EQ(cell_type(&arg), TYPE_BINARY);
    EXPECT_EQ(series_used_bytes(series_of(arg.data2)), 1u);
    EXPECT_EQ(*at(series_of(arg.data2)->head), 0xC3);

    cell* source = text("x\xE2\x82\xAC" "abc");
    source->data1 = 1;
    cell* copy = string::to(proto, source, TYPE_FILE);
    EXPECT_EQ(cell_type(copy), TYPE_FILE);
    EXPECT_EQ(string::utf8_copy(copy), "\xE2\x82\xAC" "abc");
    EXPECT_NE(copy->data2, source->data2);

    cell* blk = block::make_at(stack::push_slot(), 4);
    block::rs_append(blk, text("a"));
    block::rs_append(blk, text("b1"));
    EXPECT_EQ(string::utf8_copy(string::to(proto, blk, TYPE_STRING)), "ab1");
}

TEST_F(String, MoldChoosesDelimitersAndEscapes)
{
    struct mold_case {
        std::string input;
        bool all;
        std::string expected;
    };
    const mold_case cases[] = {
        {"a\"b", false, "{a\"b}"},
        {std::string(49, 'x'), false, "\"" + std::string(49, 'x') + "\""},
        {std::string(50, 'x'), false, "{" + std::string(50, 'x') + "}"},
        {"a^b", false, "\"a^^b\""},
        {"\t", false, "\"^-\""},
        {"\x1E", false, "\"^(1E)\""},
        {"\x7F", false, "\"^~\""},
        {"\xC2\x96", false, "\"^(96)\""},
        {"\xC3\xA9", false, "\"\xC3\xA9\""},
        {"\xC3\xA9", true, "\"^(E9)\""},
        {"\xE2\x82\xAC", true, "\"^(20AC)\""},
        {"\x00\x1B\r", false, std::string("\"^@^[^M\"")},
        {"a\nb\nc", false, "\"a^/b^/c\""},
        {"a\nb\nc\nd", false, "{a^/b^/c^/d}"},
        {"x{a}", false, "\"x{a}\""},
        {"a\"{b}", false, "{a\"{b}}"},
        {"a\"}", false, "{a\"^}}"},
        {"a\"{", false, "{a\"^{}"},
        {"a\"{x}{", false, "{a\"{x}^{}"},
        {"\"{{b}", false, "{\"^{^{b^}}"},
        {"\"^\t", false, "{\"^^^-}"},
    };
    for (const mold_case& c : cases) {
        std::string input = c.input == "\x00\x1B\r" ? std::string("\x00\x1B\r", 3) : c.input;
        EXPECT_EQ(molded(input, c.all), c.expected) << c.input;
    }
}

TEST_F(String, MoldAndFormWithPart)
{
    cell* value = text("hello");
    cell* buffer = empty();
    const cell three{TYPE_INTEGER, 0, 3, 0};
    cell* part = stack::push(&three);
    EXPECT_EQ(string::mold(value, buffer, false, false, false, part, -4, 0), -6);
    EXPECT_EQ(string::utf8_copy(buffer), "\"\"");

    cell* buffer2 = empty();
    EXPECT_EQ(string::mold(value, buffer2, false, false, false, part, 3, 0), -2);
    EXPECT_EQ(string::utf8_copy(buffer2), "\"hel\"");

    cell* buffer3 = empty();
    EXPECT_EQ(string::form(value, buffer3, part, 10), 5);
    EXPECT_EQ(string::utf8_copy(buffer3), "hel");
    EXPECT_EQ(string::form(value, buffer3, nullptr, 10), 5);
    EXPECT_EQ(string::utf8_copy(buffer3), "helhello");
}

// ---- uppercase and lowercase ----------------------------------------------------------------------

class ChangeCase : public test::StackTest {
protected:
    cell* text(const char* utf8) { return string::load(reinterpret_cast<const uint8_t*>(utf8), uint32_t(strlen(utf8)), 0); }

};

TEST_F(ChangeCase, MultiLetterMappingKeepsTheLetter)
{
    cell* str = text("stra\xC3\x9F" "e");
    change_case(str, nullptr, 1);
    EXPECT_EQ(string::utf8_copy(str), "STRA\xC3\x9F" "E");
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
        EXPECT_EQ(string::utf8_copy(str), c.expected) << c.input;
        EXPECT_EQ(series_unit(series_of(str->data2)), c.unit) << c.input;
    }
}

TEST_F(ChangeCase, PartLimitsTheUnitsChanged)
{
    cell* str = text("abcdef");
    str->data1 = 1;
    cell count{TYPE_INTEGER, 0, 2, 0};
    change_case(str, &count, 1);
    EXPECT_EQ(string::utf8_copy(str), "BCdef");

    cell zero{TYPE_INTEGER, 0, 0, 0};
    change_case(str, &zero, 1);
    cell before{TYPE_STRING, 0, str->data2, 0};   // a position before the head
    change_case(str, &before, 1);
    cell too_far{TYPE_INTEGER, 0, 100, 0};
    change_case(str, &too_far, 0);
    str->data1 = 0;
    EXPECT_EQ(string::utf8_copy(str), "abcdef");

    cell at_d{TYPE_STRING, 3, str->data2, 0};
    change_case(str, &at_d, 1);
    EXPECT_EQ(string::utf8_copy(str), "ABCdef");

    // Another series: the error names the refinement, then the value.
    cell* other = text("xyz");
    EXPECT_EQ(raised([&] { change_case(str, other, 1); }), ERR_SCRIPT * 100 + err::INVALID_REFINE_ARG);
    cell refinement = raised_error_get().args[0], value = raised_error_get().args[1];
    EXPECT_EQ(cell_type(&refinement), uint32_t(TYPE_REFINEMENT));
    EXPECT_EQ(test::mold_at(&refinement), "/part");
    EXPECT_EQ(value.data2, other->data2);
}

// The owner of an owned text hears once, after the change, with the head and the count; also of
// a change of nothing.
TEST_F(ChangeCase, TellsTheOwner)
{
    struct heard {
        owner_event event;
        int32_t index, count;
        bool operator==(const heard&) const = default;
    };
    static std::vector<heard> log;
    log.clear();
    auto saved = ownership_fire_on_deep_hook;
    ownership_fire_on_deep_hook = [](cell*, cell*, cell*, owner_event e, cell*, int32_t index, int32_t count) {
        log.push_back({e, index, count});
    };
    cell* owner = object::make_at(stack::push_slot(), 1);
    owner->data3 = object::make_event_info(0, 0, -1, 0, -1, 0);
    *context::owner_of(owner->data1) = *owner;
    cell* str = text("abcdef");
    ownership_set(str, owner, &none_value);
    str->data1 = 1;
    cell three{TYPE_INTEGER, 0, 3, 0}, none{TYPE_INTEGER, 0, 0, 0};
    change_case(str, &three, 1);
    change_case(str, &none, 0);
    cell* plain = text("xy");   // not owned: nothing to tell
    change_case(plain, nullptr, 1);
    ownership_fire_on_deep_hook = saved;
    ownership_unbind(str);
    const std::vector<heard> expected = {{EV_UPPERCASE, 1, 3}, {EV_LOWERCASE, 1, 0}};
    EXPECT_EQ(log, expected);
    str->data1 = 0;
    EXPECT_EQ(string::utf8_copy(str), "aBCDef");
}

TEST_F(ChangeCase, CharValueChangesInPlace)
{
    cell c{TYPE_CHAR, 0, 0x00E9, 0};
    change_case(&c, nullptr, 1);
    EXPECT_EQ(c.data2, 0x00C9u);
    EXPECT_EQ(cell_type(&c), TYPE_CHAR);
}

}  // namespace
