// The word datatypes' action routines: conversion, form and mold per kind, comparison, index?.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "support/values.h"

namespace {

using namespace tv;

class Word : public tv::Values {
protected:
    cell* value(uint32_t type, const char* name)
    {
        cell* c = stack::push_slot();
        *c = cell{type, context_s.global, symbol::make(name), uint32_t(-1)};
        return c;
    }
    std::string formed(cell* v, bool mold, uint32_t unit = 1)
    {
        cell* buffer = string::make_at(stack::push_slot(), 8, unit);
        int32_t left = mold ? actions_of(cell_type(v)).mold(v, buffer, false, false, false, nullptr, 100, 0)
                            : actions_of(cell_type(v)).form(v, buffer, nullptr, 100);
        std::string text = string::utf8_copy(buffer);
        EXPECT_EQ(left, 100 - int32_t(utf8_chars(text))) << text;
        return text;
    }
    static size_t utf8_chars(const std::string& s)
    {
        size_t n = 0;
        for (unsigned char c : s) n += (c & 0xC0) != 0x80;
        return n;
    }
    cell* convert(cell* spec, uint32_t type)
    {
        make_fn to = actions_of(type).to;
        return to(nullptr, spec, type);
    }
};

TEST_F(Word, FormAndMoldOfEachKind)
{
    struct row { uint32_t type; const char* form; const char* mold; };
    const row rows[] = {
        {TYPE_WORD, "ref", "ref"},     {TYPE_SET_WORD, "ref", "ref:"},  {TYPE_LIT_WORD, "ref", "'ref"},
        {TYPE_GET_WORD, "ref", ":ref"}, {TYPE_REFINEMENT, "ref", "/ref"}, {TYPE_ISSUE, "ref", "#ref"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(formed(value(r.type, "ref"), false), r.form) << r.type;
        EXPECT_EQ(formed(value(r.type, "ref"), true), r.mold) << r.type;
    }
    // A word forms as written, whatever its canonical spelling.
    symbol::make("wd-case");
    EXPECT_EQ(formed(value(TYPE_WORD, "WD-Case"), false), "WD-Case");
}

TEST_F(Word, NamesBeyondLatin1WidenTheBuffer)
{
    cell* buffer = string::make_at(stack::push_slot(), 8, 1);
    string::concatenate_literal(buffer, "x=");
    lit_word::mold(value(TYPE_LIT_WORD, "wd-\xE6\x97\xA5\xF0\x9F\x98\x80"), buffer, false, false, false, nullptr, 100, 0);
    EXPECT_EQ(series_unit(series_of(buffer->data2)), 4u);
    EXPECT_EQ(string::utf8_copy(buffer), "x='wd-\xE6\x97\xA5\xF0\x9F\x98\x80");
}

TEST_F(Word, CompareCodes)
{
    struct row { uint32_t t1; const char* n1; uint32_t t2; const char* n2; int32_t op; int32_t result; };
    symbol::make("wd-a");
    const row rows[] = {
        {TYPE_LIT_WORD, "wd-a", TYPE_LIT_WORD, "WD-A", COMP_EQUAL, 0},
        {TYPE_LIT_WORD, "wd-a", TYPE_LIT_WORD, "WD-A", COMP_STRICT_EQUAL, 1},
        {TYPE_LIT_WORD, "wd-a", TYPE_LIT_WORD, "wd-a", COMP_STRICT_EQUAL, 0},
        {TYPE_WORD, "wd-a", TYPE_SET_WORD, "WD-A", COMP_EQUAL, 0},
        {TYPE_WORD, "wd-a", TYPE_SET_WORD, "wd-a", COMP_STRICT_EQUAL, 1},
        {TYPE_WORD, "wd-a", TYPE_LIT_WORD, "wd-a", COMP_STRICT_EQUAL_WORD, 0},
        {TYPE_WORD, "wd-a", TYPE_LIT_WORD, "WD-A", COMP_STRICT_EQUAL_WORD, 1},
        {TYPE_WORD, "wd-a", TYPE_LIT_WORD, "WD-A", COMP_EQUAL_WORD, 0},
        {TYPE_WORD, "wd-a", TYPE_SET_WORD, "wd-a", COMP_EQUAL_WORD, 1},
        {TYPE_WORD, "wd-a", TYPE_ISSUE, "wd-a", COMP_EQUAL, -2},
        {TYPE_ISSUE, "wd-a", TYPE_WORD, "wd-a", COMP_EQUAL, -2},
        {TYPE_ISSUE, "wd-a", TYPE_ISSUE, "WD-A", COMP_EQUAL, 0},
        {TYPE_WORD, "wd-a", TYPE_WORD, "wd-b", COMP_LESSER, -1},
    };
    for (const row& r : rows) {
        compare_fn cmp = actions_of(r.t1).compare;
        EXPECT_EQ(cmp(value(r.t1, r.n1), value(r.t2, r.n2), r.op), r.result)
            << r.t1 << ' ' << r.n1 << " vs " << r.t2 << ' ' << r.n2 << " op " << r.op;
    }
    cell str;
    string::make_at(&str, 4, 1);
    EXPECT_EQ(word::compare(value(TYPE_WORD, "wd-a"), &str, COMP_EQUAL), -2);
}

TEST_F(Word, Conversions)
{
    cell* lit = convert(value(TYPE_ISSUE, "a"), TYPE_LIT_WORD);
    EXPECT_EQ(cell_type(lit), uint32_t(TYPE_LIT_WORD));
    EXPECT_EQ(formed(lit, true), "'a");
    // Bound in the global context when its name is there.
    cell global = *word::load("wd-bound");
    cell* bound = convert(value(TYPE_ISSUE, "wd-bound"), TYPE_GET_WORD);
    EXPECT_EQ(bound->data1, context_s.global);
    EXPECT_EQ(bound->data3, global.data3);

    EXPECT_EQ(raised([&] { convert(value(TYPE_ISSUE, "1a"), TYPE_WORD); }), ERR_SCRIPT * 100 + err::BAD_TO_ARG);
    EXPECT_EQ(raised([&] { convert(value(TYPE_REFINEMENT, "-1"), TYPE_WORD); }), ERR_SCRIPT * 100 + err::BAD_TO_ARG);
    cell* number = stack::push_slot();
    *number = cell{TYPE_INTEGER, 0, 5, 0};
    EXPECT_EQ(raised([&] { convert(number, TYPE_WORD); }), ERR_SCRIPT * 100 + err::BAD_TO_ARG);

    // The binding survives a change of kind, and the new-line bit goes.
    cell* set = value(TYPE_LIT_WORD, "wd-kept");
    set->header |= HEADER_NEW_LINE;
    set->data3 = 9;
    convert(set, TYPE_SET_WORD);
    EXPECT_EQ(set->header, uint32_t(TYPE_SET_WORD));
    EXPECT_EQ(set->data3, 9u);

    cell* t = stack::push_slot();
    *t = cell{TYPE_LOGIC, 1, 0, 0};
    convert(t, TYPE_WORD);
    EXPECT_EQ(formed(t, false), "true");
    EXPECT_EQ(t->data1, context_s.global);

    cell* type = stack::push_slot();
    *type = cell{TYPE_DATATYPE, TYPE_LOGIC, 0, 0};
    convert(type, TYPE_WORD);
    EXPECT_EQ(formed(type, true), "logic!");
}

TEST_F(Word, IssuesFromTextAndCharacters)
{
    cell* text = string::make_at(stack::push_slot(), 8, 1);
    string::concatenate_literal(text, "a b");
    EXPECT_EQ(formed(convert(text, TYPE_ISSUE), true), "#a b");
    cell* ch = stack::push_slot();
    *ch = cell{TYPE_CHAR, 0, 0xE9, 0};
    EXPECT_EQ(formed(convert(ch, TYPE_ISSUE), true), "#\xC3\xA9");
    EXPECT_EQ(int32_t(ch->data3), -1);
    cell* w = convert(value(TYPE_WORD, "wd-issue"), TYPE_ISSUE);
    EXPECT_EQ(formed(w, true), "#wd-issue");
}

TEST_F(Word, IndexOfGlobalWordsAndIssues)
{
    cell g = *word::load("wd-indexed");
    cell* arg = stack::push(&g);
    stack_s.arguments = arg;
    cell* result = word::index_q(stack::arguments());
    EXPECT_EQ(cell_type(result), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(result->data2, g.data3 + 1);
    *arg = *value(TYPE_ISSUE, "wd-indexed");
    EXPECT_EQ(cell_type(word::index_q(stack::arguments())), uint32_t(TYPE_NONE));
    EXPECT_EQ(actions_of(TYPE_REFINEMENT).index_q, nullptr);
}

TEST_F(Word, TypeNamesHaveTheirWords)
{
    const type_entry& t = datatype_s.types[TYPE_ISSUE];
    ASSERT_NE(t.word, nullptr);
    EXPECT_EQ(formed(t.word, false), "issue!");
}

TEST_F(Word, SetStarRefusesUnset)
{
    cell w = *word::load("wd-set-star");
    cell* args = stack::push(&w);
    stack::push_slot();
    stack_s.arguments = args;
    EXPECT_EQ(raised([] { word::set_star(); }), ERR_SCRIPT * 100 + err::NEED_VALUE);
    args[1] = cell{TYPE_INTEGER, 0, 8, 0};
    word::set_star();
    EXPECT_EQ(args[0].data2, 8u);
    EXPECT_EQ(word::get(&w)->data2, 8u);
}

// The word syntax that conversions from text rely on until the lexer answers.
TEST_F(Word, NameCheck)
{
    struct row {
        const char* text;
        uint32_t type;
    };
    const row rows[] = {
        {"a", TYPE_WORD},          {"a-b?", TYPE_WORD},      {"+", TYPE_WORD},           {"-a", TYPE_WORD},
        {"a.b", TYPE_WORD},        {"\xE6\x97\xA5", TYPE_WORD}, {"/", TYPE_WORD},        {"//", TYPE_WORD},
        {"<", TYPE_WORD},          {"<=", TYPE_WORD},        {"<>", TYPE_WORD},          {"a:", TYPE_SET_WORD},
        {":a", TYPE_GET_WORD},     {"'a", TYPE_LIT_WORD},    {"/a", TYPE_REFINEMENT},    {"#a", TYPE_ISSUE},
        {"#1a", TYPE_ISSUE},       {"1", TYPE_INTEGER},      {"-1", TYPE_INTEGER},       {".5", TYPE_INTEGER},
        {"1a", TYPE_INTEGER},      {"", 0},                  {"a b", 0},                 {"a/b", 0},
        {"a:b", 0},                {"a@b", 0},               {"%a", 0},                  {"$1", 0},
        {"\"a\"", 0},            {"[a]", 0},               {"<a>", 0},                 {"a;", 0},
        {"::a", 0},                {"'", 0},                 {":", 0},                   {"#", 0},
        {"a\x01", 0},              {"/1", 0},                {"'a:", 0},                 {"a\\b", 0},
    };
    for (const row& r : rows) {
        auto text = reinterpret_cast<const uint8_t*>(r.text);
        EXPECT_EQ(word::check_name(text, uint32_t(std::strlen(r.text))), r.type) << '"' << r.text << '"';
    }
    // Only the given length is read: the rest of the buffer is not part of the name.
    EXPECT_EQ(word::check_name(reinterpret_cast<const uint8_t*>("ab cd"), 2), uint32_t(TYPE_WORD));
    EXPECT_EQ(word::check_name(reinterpret_cast<const uint8_t*>("a:b"), 2), uint32_t(TYPE_SET_WORD));
}

TEST_F(Word, ConversionsFromText)
{
    struct row {
        const char* text;
        uint32_t type;
        const char* mold;   // null: script/invalid-chars
    };
    const row rows[] = {
        {"a", TYPE_WORD, "a"},        {" a\n", TYPE_WORD, "a"},      {"a:", TYPE_WORD, "a"},
        {"'a", TYPE_WORD, "a"},       {"#x", TYPE_WORD, "x"},        {"/r", TYPE_WORD, "r"},
        {"a", TYPE_SET_WORD, "a:"},   {"a:", TYPE_LIT_WORD, "'a"},   {"//", TYPE_WORD, "//"},
        {"1", TYPE_WORD, nullptr},    {"", TYPE_WORD, nullptr},      {"a b", TYPE_WORD, nullptr},
        {"a/b", TYPE_WORD, nullptr},  {"\"a\"", TYPE_WORD, nullptr}, {"1", TYPE_ISSUE, "#1"},
    };
    for (const row& r : rows) {
        cell* text = string::make_at(stack::push_slot(), 8, 1);
        string::concatenate_literal(text, r.text);
        if (!r.mold) {
            EXPECT_EQ(raised([&] { convert(text, r.type); }), ERR_SCRIPT * 100 + err::INVALID_CHARS) << r.text;
            continue;
        }
        cell* converted = convert(text, r.type);
        EXPECT_EQ(cell_type(converted), r.type) << r.text;
        EXPECT_EQ(formed(converted, true), r.mold) << r.text;
    }
    // A word from text is a global one: its value is the one the name has.
    cell global = *word::load("wd-from-text");
    cell* text = string::make_at(stack::push_slot(), 8, 1);
    string::concatenate_literal(text, "wd-from-text");
    cell* w = convert(text, TYPE_WORD);
    EXPECT_EQ(w->data1, context_s.global);
    EXPECT_EQ(w->data3, global.data3);

    cell* ch = stack::push_slot();
    *ch = cell{TYPE_CHAR, 0, 0x65E5, 0};
    EXPECT_EQ(formed(convert(ch, TYPE_WORD), false), "\xE6\x97\xA5");
    *ch = cell{TYPE_CHAR, 0, '1', 0};
    EXPECT_EQ(raised([&] { convert(ch, TYPE_WORD); }), ERR_SCRIPT * 100 + err::INVALID_CHARS);
}

// Words: the value comes from the stack top; word_set empties the window, from_stack does not.
TEST_F(Word, WordSetAndGetChecked)
{
    cell w = word_of("cl-target");
    cell* base = stack::push_slot();
    stack::push(&unset_value);
    EXPECT_EQ(error_of([&] { word_set(&w); }), code(ERR_SCRIPT, err::NEED_VALUE));
    EXPECT_EQ(named_word(), "cl-target");
    EXPECT_EQ(error_of([&] { word_get_checked(&w); }), code(ERR_SCRIPT, err::NO_VALUE)) << "the refused set stored nothing";
    EXPECT_EQ(named_word(), "cl-target");

    cell seven = integer(7);
    cell* top = stack::push(&seven) + 1;
    word_set_from_stack(&w);
    EXPECT_EQ(stack::top(), top);
    EXPECT_EQ(word_get_checked(&w)->data2, 7u);
    cell eight = integer(8);
    stack::push(&eight);
    word_set(&w);
    EXPECT_EQ(stack::top(), base + 1) << "only the result cell is left";
    EXPECT_EQ(word_get_checked(word::load("cl-target"))->data2, 8u) << "the same global slot by name";

    cell loose = word_of("cl-loose", TYPE_REFINEMENT);
    loose.data1 = 0;   // a refinement made for a spec is bound to no context
    stack::push(&eight);
    EXPECT_EQ(error_of([&] { word_set(&loose); }), code(ERR_SCRIPT, err::NOT_DEFINED));
}

}  // namespace
