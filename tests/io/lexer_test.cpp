// The lexer: what source text loads as, its syntax errors (kind, line, quoted text), the name
// check, one-value scans, callbacks and their events, and inputs that move or nest deeply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/io/lexer.h"
#include "runtime/io/lexer_state.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

bool registered(uint32_t type) { return datatype_s.types[type].name != nullptr; }

// Until paren! and the path kinds have their module, stand-ins mold them as the source writes
// them, so that the tables below read like the text they load.
int32_t mold_container(cell* v, cell* buffer, bool, bool all, bool flat, cell*, int32_t part, int32_t)
{
    uint32_t t = cell_type(v);
    const char* prefix = t == TYPE_PAREN ? "(" : t == TYPE_LIT_PATH ? "'" : t == TYPE_GET_PATH ? ":" : "";
    string::concatenate_literal(buffer, prefix);
    const cell blk = *v;
    for (uint32_t i = 0; i < block::rs_length(&blk); i++) {
        if (i) string::concatenate_literal(buffer, t == TYPE_PAREN ? " " : "/");
        cell* item = stack::push(block::rs_head(&blk) + i);
        actions_of(cell_type(item)).mold(item, buffer, false, all, flat, nullptr, part, 0);
        stack::pop(1);
    }
    string::concatenate_literal(buffer, t == TYPE_PAREN ? ")" : t == TYPE_SET_PATH ? ":" : "");
    return part;
}

void register_containers()
{
    const std::pair<uint32_t, const char*> kinds[] = {
        {TYPE_PAREN, "paren!"}, {TYPE_PATH, "path!"}, {TYPE_LIT_PATH, "lit-path!"},
        {TYPE_SET_PATH, "set-path!"}, {TYPE_GET_PATH, "get-path!"}};
    for (const auto& [id, name] : kinds)
        if (!registered(id))
            datatype::register_type(id, TYPE_BLOCK, name, {.mold = mold_container, .mark = collector::mark_block_cell});
}

const uint8_t* bytes_of(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

class Lexer : public test::StackTest {
protected:
    void SetUp() override
    {
        StackTest::SetUp();
        register_containers();
    }

    // All values of the text, pushed as a block.
    static cell* load(const std::string& text)
    {
        cell* out = stack::push_slot();
        lexer::load(bytes_of(text), uint32_t(text.size()), out);
        return out;
    }
    // The values molded as the source would write them (new lines included).
    static std::string loaded(const std::string& text) { return test::mold_at(load(text), true); }
    static std::string formed_first(const std::string& text)
    {
        cell first = *block::rs_head(load(text));
        return test::form(first);
    }

    // The raised error's code and its arguments: strings formed, other values molded.
    struct error_text {
        uint32_t code = 0;
        std::string args[3];
    };
    static error_text error_of(const std::string& text)
    {
        error_text e;
        e.code = raised([&] { load(text); });
        const raised_error& r = raised_error_get();
        for (uint32_t i = 0; e.code && i < r.arg_count; i++) {
            cell a = r.args[i];
            e.args[i] = cell_type(&a) == TYPE_STRING ? test::form(a) : test::mold(a);
        }
        return e;
    }
};

using tv::code;
constexpr uint32_t INVALID = code(ERR_SYNTAX, err::INVALID);
constexpr uint32_t MISSING = code(ERR_SYNTAX, err::MISSING);
constexpr uint32_t BAD_CHAR = code(ERR_SYNTAX, err::BAD_CHAR);
constexpr uint32_t MALCONSTRUCT = code(ERR_SYNTAX, err::MALCONSTRUCT);
constexpr uint32_t NOT_DONE = code(ERR_INTERNAL, err::NOT_DONE);

TEST_F(Lexer, LoadsWordsStringsBlocksAndConstructions)
{
    struct row {
        const char* text;
        const char* molded;
    };
    const row rows[] = {
        {"a b: :c 'd /e #f", "a b: :c 'd /e #f"},
        {"/ // '/ :/ /: < <= <> >= = %", "/ // '/ :/ /: < <= <> >= = %"},
        {"+ - -a .b a.b? a-b! a'b", "+ - -a .b a.b? a-b! a'b"},
        {"[a [b [c]] []] (d)", "[a [b [c]] []] (d)"},
        {"\"\" \"a b\"", "\"\" \"a b\""},
        {"\"a^/b^(41)^(line)^-^\"c^^\"", "{a^/bA^/^-\"c^^}"},
        {"{a {b} c}", "\"a {b} c\""},
        {"%{a}%b", "\"a\" b"},
        {"%%{a}%b}%%", "\"a}%b\""},
        {"a ; comment [\nb", "a\nb"},
        {"a\r\nb\n\n c", "a\nb\nc"},
        {"[\na]", "[\n    a\n]"},
        {"#(true) #(FALSE) #(none) #(block) #(str) #(datatype!)", "true false none block! string! datatype!"},
        {"a/b a/b: 'a/b :a/b a/b/c", "a/b a/b: 'a/b :a/b a/b/c"},
        {"a/\"s\"/(b c)/d", "a/\"s\"/(b c)/d"},
        {"a/:b/'c", "a/:b/'c"},
        {"\xE6\x97\xA5\xE6\x9C\xAC a\xC2\xA0" "b", "\xE6\x97\xA5\xE6\x9C\xAC a b"},
        {"", ""},
    };
    for (const row& r : rows) EXPECT_EQ(loaded(r.text), r.molded) << r.text;
}

TEST_F(Lexer, LoadsNumbersCharsAndTimes)
{
    struct row {
        const char* text;
        const char* molded;
    };
    const row rows[] = {
        {"1'000 -2147483648 2147483647 +7", "1000 -2147483648 2147483647 7"},
        {"2147483648 12345678901 -2147483649", "2147483648.0 12345678901.0 -2147483649.0"},
        {"FFh 00FFh 7FFFFFFFh FFFFFFFFh", "255 255 2147483647 -1"},
        {"1.5 .5 -.5 1. 1e3 1'000.5 -1.5E-2", "1.5 0.5 -0.5 1.0 1000.0 1000.5 -0.015"},
        {"1.#INF -1.#INF 1.#NaN 1.#inf", "1.#INF -1.#INF 1.#NaN 1.#INF"},
        {"#\"a\" #\"^(line)\" #\"^\"\" #\"\xE6\x97\xA5\"", "#\"a\" #\"^/\" #\"^\"\" #\"\xE6\x97\xA5\""},
        {"1:30 1:30.5 -1:30:15 10:00:00.25", "1:30:00 0:01:30.5 -1:30:15 10:00:00.25"},
        {"3000000000:00 -99999999999:30:15", "3000000000:00:00 -99999999999:30:15"},
        {"[1 2] a/1/2", "[1 2] a/1/2"},
    };
    for (const row& r : rows) EXPECT_EQ(loaded(r.text), r.molded) << r.text;
    // The smallest integer stays an integer; one digit more, or one more, is a float.
    EXPECT_EQ(cell_type(block::rs_head(load("-2147483648"))), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(cell_type(block::rs_head(load("12345678901"))), uint32_t(TYPE_FLOAT));
}

TEST_F(Lexer, StringsDecodeEscapesAndKeepBraces)
{
    struct row {
        const char* text;
        const char* formed;
    };
    const row rows[] = {
        {"\"^(line)\"", "\n"},
        {"\"^/\"", "\n"},
        {"\"^(41)^(3b1)^(1F600)\"", "A\xCE\xB1\xF0\x9F\x98\x80"},
        {"\"^a^Z^[^~^{^}^x\"", "\x01\x1A\x1B\x7F{}\x18"},
        {"{a^}b ^{}", "a}b {"},
        {"{l1\nl2}", "l1\nl2"},
        {"%{no ^/ escapes}%", "no ^/ escapes"},
        {"\"\xC3\xA9t\xC3\xA9\"", "\xC3\xA9t\xC3\xA9"},
    };
    for (const row& r : rows) EXPECT_EQ(formed_first(r.text), std::string(r.formed)) << r.text;
    EXPECT_EQ(formed_first("\"^(tab)^(TAB)^-^(back)^(null)^@\""), std::string("\t\t\t\b\0\0", 6));
    // Text holding only code points below 256 keeps one byte per character.
    cell s = *block::rs_head(load("\"\xC3\xA9\""));
    EXPECT_EQ(series_unit(series_of(s.data2)), 1u);
    s = *block::rs_head(load("\"\xF0\x9F\x98\x80\""));
    EXPECT_EQ(series_unit(series_of(s.data2)), 4u);
}

TEST_F(Lexer, SyntaxErrorsNameTheKindTheLineAndTheText)
{
    struct row {
        const char* text;
        uint32_t code;
        const char* arg1;
        const char* arg2;
        const char* arg3;
    };
    const row rows[] = {
        {"[1 2", MISSING, "(line 1)", "]", "[1 2"},
        {"x (a\nb", MISSING, "(line 2)", ")", "(a"},
        {"[a)", MISSING, "(line 1)", "]", "[a)"},
        {"a]", MISSING, "(line 1)", "]", "]"},
        {"{abc", INVALID, "(line 1)", "string!", "{abc"},
        {"x {a{b}\nc", INVALID, "(line 2)", "string!", "{a{b}"},
        {"\"a\nb\"", INVALID, "(line 1)", "string!", "\"a"},
        {"a\r\nb\n}", BAD_CHAR, "(line 3)", "}", ""},
        {"a\\b", BAD_CHAR, "(line 1)", "\\b", ""},
        {"a/", INVALID, "(line 1)", "path!", "a/"},
        {"a/b:/c", INVALID, "(line 1)", "path!", "a/b:/c"},
        {":a/b:", INVALID, "(line 1)", "get-path!", ":a/b:"},
        {"#(xyz)", MALCONSTRUCT, "(line 1)", "#(xyz)", ""},
        {"#()", MALCONSTRUCT, "(line 1)", "#()", ""},
        {"\"^(1234567)\"", INVALID, "(line 1)", "string!", "\"^(1234567)\""},
        {"\"^(bax)\"", INVALID, "(line 1)", "string!", "\"^(bax)\""},
        {"#", INVALID, "(line 1)", "issue!", "#"},
        {"'a:", INVALID, "(line 1)", "lit-word!", "'a:"},
        {":a:", INVALID, "(line 1)", "get-word!", ":a:"},
        {"%{a}%%", INVALID, "(line 1)", "string!", "%{a}%%"},
        {"%%{a}%", INVALID, "(line 1)", "string!", "%%{a}%"},
        {"#[a 1 b]", INVALID, "(line 1)", "map!", "#[a 1 b]"},
        {"#[[a] 1]", INVALID, "(line 1)", "map!", "#[[a] 1]"},
        {"[1, 2]", INVALID, "(line 1)", "point2D!", ", 2]"},
        {"(a , b)", INVALID, "(line 1)", "point2D!", "(a , b)"},
        {"(1 , 2 ,)", INVALID, "(line 1)", "point3D!", "(1 , 2 ,)"},
        {"a, b", INVALID, "(line 1)", "word!", "a, b"},
        {"1''0", INVALID, "(line 1)", "integer!", "1''0"},
        {"123456789h", INVALID, "(line 1)", "integer!", "123456789h"},
        {"1.5e", INVALID, "(line 1)", "float!", "1.5e"},
        {"1.#FOO", INVALID, "(line 1)", "float!", "1.#FOO"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", INVALID, "(line 1)", "tuple!", "1.2.3.4.5.6.7.8.9.10.11.12.13"},
        {"1.2.256", INVALID, "(line 1)", "tuple!", "1.2.256"},
        {"1x2.5", INVALID, "(line 1)", "pair!", "1x2.5"},
        {"(1, 2, 3, 4)", INVALID, "(line 1)", "point2D!", "(1, 2, 3, 4)"},
        {"29-Feb-2023", INVALID, "(line 1)", "date!", "29-Feb-2023"},
        {"1-Foo-2023", INVALID, "(line 1)", "date!", "1-Foo-2023"},
        {"2024-01-01T25:00", INVALID, "(line 1)", "date!", "2024-01-01T25:00"},
        {"1:30:", INVALID, "(line 1)", "time!", "1:30:"},
        {"$1.123456", INVALID, "(line 1)", "money!", "$1.123456"},
        {"USDX$1", INVALID, "(line 1)", "money!", "USDX$1"},
        {"#\"ab\"", INVALID, "(line 1)", "char!", "#\"ab\""},
        {"#\"\"", INVALID, "(line 1)", "char!", "#\"\""},
        {"2#{0101}", INVALID, "(line 1)", "binary!", "2#{0101}"},
        {"#{ABC}", INVALID, "(line 1)", "binary!", "#{ABC}"},
        {"64#{QQ=A}", INVALID, "(line 1)", "binary!", "64#{QQ=A}"},
        {"8#{00}", INVALID, "(line 1)", "binary!", "8#{00}"},
        {":a:b", INVALID, "(line 1)", "get-word!", ":a:b"},
        {"1''3456789012345678901234567890123456789 x", INVALID, "(line 1)", "integer!",
         "1''345678901234567890123456789"},
    };
    for (const row& r : rows) {
        error_text e = error_of(r.text);
        EXPECT_EQ(e.code, r.code) << r.text;
        EXPECT_EQ(e.args[0], r.arg1) << r.text;
        EXPECT_EQ(e.args[1], r.arg2) << r.text;
        EXPECT_EQ(e.args[2], r.arg3) << r.text;
    }
}

// Undecodable bytes are never taken as text, wherever they stand.
TEST_F(Lexer, UndecodableInputIsAnError)
{
    struct row {
        std::string text;
        uint32_t code;
        const char* type;   // of invalid
    };
    const row rows[] = {
        {"; \xC0\n", BAD_CHAR, ""},        {"; \xC1", BAD_CHAR, ""},       {"; \xF8", BAD_CHAR, ""},
        {"; \xFF", BAD_CHAR, ""},          {"\"a\xC0\"", INVALID, "string!"}, {"\"\xFE\"", INVALID, "string!"},
        {"{\xF9}", INVALID, "string!"},    {"\"\xE6\x97\"", INVALID, "string!"}, {"\"\xED\xA0\x80\"", INVALID, "string!"},
        {"a\x80z", INVALID, "word!"},      {"\xE6\x97", INVALID, "word!"},  {"#a\xBF", INVALID, "issue!"},
        {"/a\xF5\x80\x80\x80", INVALID, "refinement!"}, {"%{\xC3}%", INVALID, "string!"}, {"\x80", BAD_CHAR, ""},
    };
    for (const row& r : rows) {
        error_text e = error_of(r.text);
        EXPECT_EQ(e.code, r.code) << r.text;
        if (r.code == INVALID) {
            EXPECT_EQ(e.args[1], r.type) << r.text;
        }
    }
    // The quoted text stays readable: a bad byte reads as U+FFFD, and it is cut at 30 bytes.
    EXPECT_EQ(error_of("\"a\xC0\"").args[2], "\"a\xEF\xBF\xBD\"");
}

TEST_F(Lexer, NulEndsTheInput)
{
    EXPECT_EQ(loaded(std::string("a b\0c d", 7)), "a b");
    EXPECT_EQ(error_of(std::string("[a\0]", 4)).code, MISSING);
    EXPECT_EQ(error_of(std::string("\"a\0\"", 4)).code, INVALID);
}

// Literals of datatypes whose module is not connected yet are checked, then refused naming the
// datatype; text kinds, parens and paths load as soon as their datatype is registered.
TEST_F(Lexer, LiteralsOfMissingDatatypesAreRefusedByName)
{
    struct row {
        const char* text;
        uint32_t type;
        const char* name;
    };
    const row rows[] = {
        {"%file.txt", TYPE_FILE, "file!"},        {"%\"a b\"", TYPE_FILE, "file!"},
        {"<a href=\">\">", TYPE_TAG, "tag!"},     {"http://a.b/c", TYPE_URL, "url!"},
        {"a@b.c", TYPE_EMAIL, "email!"},          {"@ref", TYPE_REF, "ref!"},
        {"1.2.3", TYPE_TUPLE, "tuple!"},          {"1x2", TYPE_PAIR, "pair!"},
        {"(1, 2)", TYPE_POINT2D, "point2D!"},     {"(1.5, 2, -3e2)", TYPE_POINT3D, "point3D!"},
        {"1-Jan-2024", TYPE_DATE, "date!"},       {"2024-W05-3/10:30+01:00", TYPE_DATE, "date!"},
        {"2024-032T10:00Z", TYPE_DATE, "date!"},  {"20240115T103000Z", TYPE_DATE, "date!"},
        {"$1.50", TYPE_MONEY, "money!"},          {"-USD$1'000", TYPE_MONEY, "money!"},
        {"#{00FF}", TYPE_BINARY, "binary!"},      {"2#{00000001}", TYPE_BINARY, "binary!"},
        {"64#{QQ==}", TYPE_BINARY, "binary!"},    {"#[a b]", TYPE_MAP, "map!"},
        {"12%", TYPE_PERCENT, "percent!"},        {"1", TYPE_INTEGER, "integer!"},
        {"1.5", TYPE_FLOAT, "float!"},            {"#\"a\"", TYPE_CHAR, "char!"},
        {"1:30", TYPE_TIME, "time!"},
    };
    for (const row& r : rows) {
        if (registered(r.type)) {
            cell first = *block::rs_head(load(r.text));
            EXPECT_EQ(cell_type(&first), r.type) << r.text;
            continue;
        }
        error_text e = error_of(r.text);
        EXPECT_EQ(e.code, NOT_DONE) << r.text;
        EXPECT_EQ(e.args[0], r.name) << r.text;
    }
}

// Date literals are read in full before date! takes them: the forms and their fields.
TEST_F(Lexer, DateFields)
{
    struct row {
        const char* text;
        int32_t year, month, day;
        double seconds;      // -1: no time
        int32_t zone;        // minutes; -9999: no zone
    };
    const row rows[] = {
        {"1-Jan-24", 2024, 1, 1, -1, -9999},
        {"1-Jan-50", 1950, 1, 1, -1, -9999},
        {"29-feb-2024", 2024, 2, 29, -1, -9999},
        {"15/September/1999", 1999, 9, 15, -1, -9999},
        {"2024-01-15", 2024, 1, 15, -1, -9999},
        {"2024/1/2/10:30", 2024, 1, 2, 37800, -9999},
        {"2024-01-15T10:30:15.5Z", 2024, 1, 15, 37815.5, 0},
        {"1-Jan-2024/23:59:59-5:30", 2024, 1, 1, 86399, -330},
        {"20240115T1030+0100", 2024, 1, 15, 37800, 60},
        {"2024-W05-3", 2024, 1, 31, -1, -9999},
        {"2021-W01", 2021, 1, 4, -1, -9999},
        {"2020-W53-7", 2021, 1, 3, -1, -9999},
        {"2024-032", 2024, 2, 1, -1, -9999},
        {"2023-365/12:00", 2023, 12, 31, 43200, -9999},
        {"1/Jan/-200", -200, 1, 1, -1, -9999},
    };
    for (const row& r : rows) {
        lexer::date_fields d;
        ASSERT_TRUE(lexer::parse_date(bytes_of(r.text), uint32_t(std::strlen(r.text)), d)) << r.text;
        EXPECT_EQ(d.year, r.year) << r.text;
        EXPECT_EQ(d.month, r.month) << r.text;
        EXPECT_EQ(d.day, r.day) << r.text;
        EXPECT_EQ(d.time ? d.seconds : -1.0, r.seconds) << r.text;
        EXPECT_EQ(d.zone ? d.zone_minutes : -9999, r.zone) << r.text;
    }
    for (const char* bad : {"29-Feb-2023", "31-Apr-2024", "0-Jan-2024", "1-13-2024", "1-Ja-2024", "1-Jan/2024",
                            "2024-01-01T24:00", "2024-01-01T10:60", "2024-01-01T10:00:60", "1-Jan-2024/1:00+16",
                            "2024-000", "2023-366", "2024-W54", "1-Jan-12345", "20240115T1030Q"}) {
        lexer::date_fields d;
        EXPECT_FALSE(lexer::parse_date(bytes_of(bad), uint32_t(std::strlen(bad)), d)) << bad;
    }
}

// What a name loads as, for the word conversions: the type of exactly one token.
TEST_F(Lexer, NameTypes)
{
    struct row {
        const char* text;
        uint32_t type;
    };
    const row rows[] = {
        {"a", TYPE_WORD},         {"a-b?", TYPE_WORD},        {"/", TYPE_WORD},           {"//", TYPE_WORD},
        {"<>", TYPE_WORD},        {"\xE6\x97\xA5", TYPE_WORD}, {"a:", TYPE_SET_WORD},     {":a", TYPE_GET_WORD},
        {"'a", TYPE_LIT_WORD},    {"/a", TYPE_REFINEMENT},    {"#a", TYPE_ISSUE},         {"#1a", TYPE_ISSUE},
        {"1", TYPE_INTEGER},      {"-1", TYPE_INTEGER},       {"12345678901", TYPE_FLOAT}, {"\"a\"", TYPE_STRING},
        {"a/b", TYPE_PATH},       {"a:b", TYPE_URL},          {"[a]", TYPE_BLOCK},        {"1a", 0},
        {"", 0},                  {"a b", 0},                 {"a\x01", 0},               {"'a:", 0},
        {"::a", 0},               {"'", 0},                   {":", 0},                   {"#", 0},
        {"a\\b", 0},              {"[a", 0},                  {"a\x80", 0},
    };
    for (const row& r : rows)
        EXPECT_EQ(lexer::scan_type(bytes_of(r.text), uint32_t(std::strlen(r.text))), r.type) << '"' << r.text << '"';
    // Judging a name makes nothing: no symbol for a name never seen.
    uint32_t symbols_before = symbol::count();
    EXPECT_EQ(lexer::scan_type(bytes_of("never-seen-name-xq"), 18), uint32_t(TYPE_WORD));
    EXPECT_EQ(symbol::count(), symbols_before);
    // Only the given length is read.
    EXPECT_EQ(lexer::scan_type(bytes_of("ab cd"), 2), uint32_t(TYPE_WORD));
    EXPECT_EQ(word::name_scan_hook(bytes_of("a:b"), 2), uint32_t(TYPE_SET_WORD));
}

TEST_F(Lexer, OneValueScansReportWhatTheyRead)
{
    cell* out = stack::push_slot();
    lexer::scan_request one;
    one.one = true;
    uint32_t consumed = 0;
    EXPECT_EQ(lexer::scan(out, bytes_of("  [a b] c"), 9, one, &consumed), uint32_t(TYPE_BLOCK));
    EXPECT_EQ(test::mold_at(out), "[a b]");
    EXPECT_EQ(consumed, 7u);
    EXPECT_EQ(lexer::scan(out, bytes_of("%{a}%b}%"), 8, one, &consumed), uint32_t(TYPE_STRING));
    EXPECT_EQ(test::form_at(out), "a");
    EXPECT_EQ(consumed, 5u);
    lexer::scan(out, bytes_of("; only a comment"), 16, one, &consumed);
    EXPECT_EQ(cell_type(out), uint32_t(TYPE_UNSET));

    // From a string, the count is in characters.
    cell* text = string::load(bytes_of("\xE6\x97\xA5\xE6\x9C\xAC x"), 8, 0);
    lexer::scan_from_string(out, text, -1, one, &consumed);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(test::form_at(out), "\xE6\x97\xA5\xE6\x9C\xAC");
    // A limited length is all the scan sees.
    lexer::scan_request all;
    lexer::scan_from_string(out, text, 1, all, &consumed);
    EXPECT_EQ(test::mold_at(out), "[\xE6\x97\xA5]");

    // Appending to a given block.
    cell* into = load("x");
    lexer::scan_request appending;
    appending.into = into;
    lexer::scan(out, bytes_of("y z"), 3, appending, nullptr);
    EXPECT_EQ(test::mold_at(into), "[x y z]");
}

// A string as one value (word conversions): none when more follows, unset when it holds none.
TEST_F(Lexer, StringAsOneValue)
{
    struct row {
        const char* text;
        const char* molded;
    };
    const row rows[] = {
        {"a", "a"}, {" a:\n", "a:"}, {"[a b]", "[a b]"}, {"a b", "none"}, {"a ]", "none"}, {"a ; note", "none"},
    };
    for (const row& r : rows) {
        cell* text = string::load(bytes_of(r.text), uint32_t(std::strlen(r.text)), 0);
        EXPECT_EQ(test::mold_at(lexer::scan_string_to_stack(text)), r.molded) << r.text;
    }
    cell* empty = string::load(bytes_of(""), 0, 0);
    EXPECT_EQ(cell_type(lexer::scan_string_to_stack(empty)), uint32_t(TYPE_UNSET));
    // to block! of a string goes through the lexer.
    cell* source = string::load(bytes_of("a [b] \"c\""), 9, 0);
    cell* blk = actions_of(TYPE_BLOCK).to(nullptr, source, TYPE_BLOCK);
    EXPECT_EQ(test::mold_at(blk), "[a [b] \"c\"]");
}

TEST_F(Lexer, ScanOnlyChecksWithoutMaking)
{
    cell* out = stack::push_slot();
    lexer::scan_request check;
    check.load = false;
    uint32_t symbols_before = symbol::count();
    EXPECT_EQ(lexer::scan(out, bytes_of("[a-new-name-qz \"s\"] b"), 21, check, nullptr), uint32_t(TYPE_WORD));
    EXPECT_EQ(symbol::count(), symbols_before);
    EXPECT_EQ(block::rs_length(out), 0u);
    // A bad token raises nothing: it is reported as error!.
    EXPECT_EQ(lexer::scan(out, bytes_of("a 1''0"), 6, check, nullptr), uint32_t(TYPE_ERROR));
    lexer::scan_request prescan;
    prescan.prescan = true;
    EXPECT_EQ(lexer::scan(out, bytes_of("[a \"]\"] b"), 9, prescan, nullptr), uint32_t(TYPE_BLOCK));
}

// ---- callbacks ----------------------------------------------------------------------------------

// A test callback: records each event as "event type", and answers by the rules set.
struct recorder {
    std::vector<std::string> events;
    std::string drop_loaded;          // a load event of this molded value answers false
    bool error_answer = false;
    bool open_answer = true;
    std::string nested;               // scanned again during the load event of "nest"
    std::string nested_result;
    std::vector<std::string> spans;   // of scan events: the token's offsets and the input's index
};
recorder* active = nullptr;

std::string type_text(const cell* type)
{
    if (cell_type(type) == TYPE_NONE) return "none";
    cell t = *type;
    return test::mold(t);
}

bool record(const cell*, cell* args)
{
    std::string event = test::form(args[0]);
    std::string entry = event + " " + type_text(&args[2]);
    active->events.push_back(entry);
    if (event == "load") {
        std::string value = test::mold(args[4]);
        if (value == "nest" && !active->nested.empty()) {
            cell* inner = stack::push_slot();
            lexer::load(bytes_of(active->nested), uint32_t(active->nested.size()), inner);
            collector::do_cycle();   // the outer scan's values must survive this
            active->nested_result = test::mold_at(inner);
        }
        return value != active->drop_loaded;
    }
    if (event == "scan") {
        std::string input = cell_type(&args[1]) == TYPE_NONE ? "none" : std::to_string(args[1].data1);
        active->spans.push_back(std::to_string(args[4].data2) + "-" + std::to_string(args[4].data3) + " at " + input);
    }
    if (event == "error") return active->error_answer;
    if (event == "open") return active->open_answer;
    return true;
}

// The callback's body is the callback itself: a block whose first value may select events.
const cell* body_of(const cell* callback) { return callback; }

class LexerEvents : public Lexer {
protected:
    void SetUp() override
    {
        Lexer::SetUp();
        saved_call_ = lexer::callback_call_hook;
        saved_body_ = lexer::callback_body_hook;
        lexer::callback_call_hook = record;
        lexer::callback_body_hook = body_of;
        active = &rec_;
    }
    void TearDown() override
    {
        lexer::callback_call_hook = saved_call_;
        lexer::callback_body_hook = saved_body_;
        active = nullptr;
        Lexer::TearDown();
    }
    // Scans with a callback whose body begins with `events`: the text of a block of event words,
    // or nothing for all events.
    cell* traced(const std::string& text, const char* events = "", bool as_string = false)
    {
        cell* callback = load(events);
        lexer::scan_request how;
        how.callback = callback;
        cell* out = stack::push_slot();
        if (as_string) {
            cell* input = string::load(bytes_of(text), uint32_t(text.size()), 0);
            lexer::scan_from_string(out, input, -1, how, nullptr);
        } else {
            lexer::scan(out, bytes_of(text), uint32_t(text.size()), how, nullptr);
        }
        return out;
    }
    recorder rec_;

private:
    decltype(lexer::callback_call_hook) saved_call_ = nullptr;
    decltype(lexer::callback_body_hook) saved_body_ = nullptr;
};

TEST_F(LexerEvents, EveryTokenIsReportedInOrder)
{
    cell* out = traced("a [b]");
    EXPECT_EQ(test::mold_at(out), "[a [b]]");
    const std::vector<std::string> expected = {
        "prescan word!", "scan word!", "load word!", "prescan block!", "open block!", "prescan word!",
        "scan word!", "load word!", "prescan block!", "close block!", "prescan eof",
    };
    EXPECT_EQ(rec_.events, expected);
}

TEST_F(LexerEvents, TheLeadingBlockSelectsEvents)
{
    traced("a {b} c", "[load open]");
    const std::vector<std::string> expected = {"load word!", "open string!", "load string!", "load word!"};
    EXPECT_EQ(rec_.events, expected);
}

TEST_F(LexerEvents, AnswersDropValuesSkipBadTokensAndKeepContainersShut)
{
    rec_.drop_loaded = "x";
    EXPECT_EQ(test::mold_at(traced("a x [x b]", "[load]")), "[a [b]]");
    // The error event answered false: the bad token is skipped and the scan goes on.
    EXPECT_EQ(test::mold_at(traced("a } b 1''0 c \"\xC0\"", "[error]")), "[a b c]");
    // Answered true, the error is raised.
    rec_.error_answer = true;
    EXPECT_EQ(raised([&] { traced("a }", "[error]"); }), BAD_CHAR);
    // An open answered false leaves the values in the enclosing container.
    rec_.open_answer = false;
    EXPECT_EQ(test::mold_at(traced("x [a", "[open]")), "[x a]");
}

// Tokens are reported by 1-based offsets, in characters for a string input (which comes
// positioned at the token's end) and in bytes for bytes given without their series.
TEST_F(LexerEvents, OffsetsCountCharactersOfAStringInput)
{
    traced("\xE6\x97\xA5\xE6\x9C\xAC [a]", "[scan]", true);
    const std::vector<std::string> chars = {"1-3 at 2", "5-6 at 5"};
    EXPECT_EQ(rec_.spans, chars);
    rec_.spans.clear();
    traced("\xE6\x97\xA5\xE6\x9C\xAC [a]", "[scan]");
    const std::vector<std::string> bytes = {"1-7 at none", "9-10 at none"};
    EXPECT_EQ(rec_.spans, bytes);
}

// A callback may scan again: the outer scan's output survives the nested scan and a collection.
TEST_F(LexerEvents, NestedScansKeepTheOuterOutput)
{
    rec_.nested = "p [q r] \"s\"";
    cell* out = traced("m [nest \"o\"] t", "[load]");
    EXPECT_EQ(test::mold_at(out), "[m [nest \"o\"] t]");
    EXPECT_EQ(rec_.nested_result, "[p [q r] \"s\"]");
}

// ---- inputs that move, grow and nest --------------------------------------------------------------

TEST_F(Lexer, InputInAMovingBufferIsReadAsItWas)
{
    std::string text = "alpha [\"beta\" gamma] delta";
    const uint8_t* moving = test::moving_bytes(text);
    cell* out = stack::push_slot();
    lexer::load(moving, uint32_t(text.size()), out);
    EXPECT_EQ(test::mold_at(out, true), text);
}

// A string of a megabyte or more is read where it lies when its text is ASCII (the collector held
// meanwhile), else converted: either way it loads as its UTF-8 text would, from its head, as far
// as the length given, with the rest counted in characters.
TEST_F(Lexer, LargeStringsLoadAsTheirText)
{
    // Much text in a comment, few values: the collector's stress mode moves every buffer at each
    // allocation.
    const std::string text = "w0: [\"s\" 1.5 a/b] ; " + std::string(1100000, 't') + "\n w1 w2/x: 7";
    const size_t cut = text.find("w2");
    cell* out = stack::push_slot();
    // The second text holds é, a one-byte unit of the string but two bytes of UTF-8.
    for (const std::string tail : {"", "\"\xC3\xA9\""}) {
        std::string utf8 = text + tail, source = "x " + utf8;
        cell* str = string::load(bytes_of(source), uint32_t(source.size()), 0);
        str->data1 = 2;
        lexer::scan_from_string(out, str, -1, lexer::scan_request{}, nullptr);
        EXPECT_EQ(test::mold_at(out, true), loaded(utf8)) << tail;
        lexer::scan_from_string(out, str, int32_t(cut), lexer::scan_request{}, nullptr);
        EXPECT_EQ(test::mold_at(out, true), loaded(text.substr(0, cut))) << tail;
        lexer::scan_request one;
        one.one = true;
        uint32_t consumed = 0;
        lexer::scan_from_string(out, str, -1, one, &consumed);
        EXPECT_EQ(consumed, 3u) << tail;
    }
    // A syntax error leaves the collector as it found it.
    uint32_t enabled = collector_s.enabled;
    std::string bad = text + "]";
    cell* str = string::load(bytes_of(bad), uint32_t(bad.size()), 0);
    EXPECT_EQ(raised([&] { lexer::scan_from_string(out, str, -1, lexer::scan_request{}, nullptr); }), MISSING);
    EXPECT_EQ(collector_s.enabled, enabled);
}

TEST_F(Lexer, DeepAndWideOutputGrows)
{
    const uint32_t depth = 3000;
    std::string deep = std::string(depth, '[') + "x" + std::string(depth, ']');
    cell blk = *load(deep);
    for (uint32_t i = 0; i < depth; i++) {
        ASSERT_EQ(block::rs_length(&blk), 1u);
        blk = *block::rs_head(&blk);
        ASSERT_EQ(cell_type(&blk), uint32_t(TYPE_BLOCK));
    }
    EXPECT_EQ(test::mold(*block::rs_head(&blk)), "x");

    std::string wide;
    for (uint32_t i = 0; i < 2000; i++) wide += "w" + std::to_string(i % 97) + " \"s\" ";
    cell* many = load(wide);
    EXPECT_EQ(block::rs_length(many), 4000u);
    EXPECT_EQ(test::mold(*(block::rs_head(many) + 3998)), "w59");
}

}  // namespace
