// String find, select, change actions, sort and set operations on texts, as the action entry
// calls them (refinement arguments above the window's base).
#include <gtest/gtest.h>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/string.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

class StringActions : public test::StackTest {
protected:
    void SetUp() override
    {
        StackTest::SetUp();
        stack::push_slot();   // the window's result cell: refinement arguments lie above it
    }
    cell* text(const char* t, uint32_t type = TYPE_STRING)
    {
        cell* s = string::make_at(stack::push_slot(), 16);
        string::concatenate_literal(s, t);
        cell_set_type(s, type);
        return s;
    }
    cell* push(cell c) { return stack::push(&c); }
    cell* ch(uint32_t cp) { return push(cell{TYPE_CHAR, 0, cp, 0}); }
    cell* n(int32_t v) { return push(test::integer(v)); }
    // The text from the buffer's first unit, and the answer's index.
    static std::string whole(const cell* s)
    {
        cell w = *s;
        w.data1 = 0;
        return string::utf8_copy(&w);
    }
};

enum : uint32_t { F_CASE = 1, F_LAST = 2, F_REVERSE = 4, F_TAIL = 8, F_MATCH = 16, F_SELECT = 32 };

}  // namespace

TEST_F(StringActions, FindAndSelectTable)
{
    struct row {
        const char* name;
        const char* series;
        int32_t head;
        const char* pattern;   // one character: a char!, else a string!
        uint32_t flags;
        int32_t skip, part;
        int32_t index;   // 1-based index of the answer, 0 for none; for select the code point
    };
    const row rows[] = {
        {"text", "abcABC", 0, "B", 0, 0, 0, 2},
        {"case", "abcABC", 0, "B", F_CASE, 0, 0, 5},
        {"last", "abcabc", 0, "bc", F_LAST, 0, 0, 5},
        {"reverse char", "abcabc", 6, "a", F_REVERSE, 0, 0, 4},
        {"reverse at head", "abcabc", 0, "a", F_REVERSE, 0, 0, 0},
        {"tail", "abcd", 0, "bc", F_TAIL, 0, 0, 4},
        {"match at head", "abcd", 0, "ab", F_MATCH, 0, 0, 1},
        {"match elsewhere", "abcd", 0, "bc", F_MATCH, 0, 0, 0},
        {"part too short", "abcdef", 0, "ef", 0, 0, 4, 0},
        {"part zero", "abcdef", 0, "a", 0, 0, -1 + 1, 0},
        {"skip", "a1b2c3", 0, "b", 0, 2, 0, 3},
        {"pattern past the tail", "ab", 0, "abc", 0, 0, 0, 0},
        {"select", "a=1", 0, "=", F_SELECT, 0, 0, '1'},
        {"select at the end", "abc", 0, "c", F_SELECT, 0, 0, 0},
        {"select after a text", "key=v", 0, "key=", F_SELECT, 0, 0, 'v'},
    };
    for (const row& r : rows) {
        cell* s = text(r.series);
        s->data1 = uint32_t(r.head);
        cell* value = std::strlen(r.pattern) == 1 && !(r.flags & F_LAST) ? ch(uint8_t(r.pattern[0])) : text(r.pattern);
        cell* skip = r.skip ? n(r.skip) : nullptr;
        cell* part = r.part || std::string(r.name) == "part zero" ? n(r.part) : nullptr;
        auto f = r.flags & F_SELECT ? string::select : string::find;
        cell* out = f(s, value, part, false, r.flags & F_CASE, false, false, nullptr, skip, r.flags & F_LAST,
                      r.flags & F_REVERSE, r.flags & F_TAIL, r.flags & F_MATCH);
        if (r.index == 0) {
            EXPECT_EQ(cell_type(out), TYPE_NONE) << r.name;
        } else if (r.flags & F_SELECT) {
            EXPECT_EQ(cell_type(out), TYPE_CHAR) << r.name;
            EXPECT_EQ(out->data2, uint32_t(r.index)) << r.name;
        } else {
            EXPECT_EQ(series_head_raw(out) + 1, r.index) << r.name;
        }
    }
}

TEST_F(StringActions, SearchErrorsAndEmptyPatterns)
{
    cell* s = text("abc");
    EXPECT_EQ(raised([&] { string::find(s, ch('a'), nullptr, false, false, false, true, nullptr, nullptr, false, false, false, false); }),
              900u + err::NOT_DONE);
    EXPECT_EQ(raised([&] { string::find(s, ch('a'), nullptr, false, false, false, false, nullptr, n(0), false, false, false, false); }),
              300u + err::OUT_OF_RANGE);
    // Mended: an empty pattern is found nowhere.
    EXPECT_EQ(cell_type(string::find(s, text(""), nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false)),
              TYPE_NONE);
    cell* set = bitset::make_from_spec(text("xc"), bitset::CALLER_MAKE);
    cell* t = text("abc");
    EXPECT_EQ(series_head_raw(string::find(t, set, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false)), 2);
}

TEST_F(StringActions, AppendInsertChange)
{
    cell* s = text("ab");
    string::append(s, text("x"), nullptr, false, n(3));
    EXPECT_EQ(whole(s), "abxxx");
    cell* blk = tv::read("\"abc\" \"def\"");
    cell* e = text("");
    string::append(e, blk, n(4), false, nullptr);
    EXPECT_EQ(whole(e), "abcd");
    cell* a = text("a");
    string::append(a, text("b", TYPE_TAG), nullptr, false, nullptr);
    EXPECT_EQ(whole(a), "a<b>");
    cell* bc = text("bc");
    string::insert(bc, ch('a'), nullptr, false, nullptr);
    EXPECT_EQ(whole(bc), "abc");
    EXPECT_EQ(series_head_raw(bc), 1);
    // Mended: a text inserted into itself gives its old text.
    cell* self = text("abc");
    cell* from = push(*self);
    from->data1 = 1;
    string::insert(self, from, nullptr, false, nullptr);
    EXPECT_EQ(whole(self), "bcabc");
    cell* c = text("abcdef");
    string::change(c, text("xy"), nullptr, false, nullptr);
    EXPECT_EQ(whole(c), "xycdef");
    EXPECT_EQ(series_head_raw(c), 2);
    cell* p = text("abcdef");
    string::change(p, text("xy"), n(4), false, nullptr);
    EXPECT_EQ(whole(p), "xyef");
    cell* w = text("abc");
    string::append(w, ch(233), nullptr, false, nullptr);
    EXPECT_EQ(whole(w), "abc\xC3\xA9");
}

TEST_F(StringActions, SwapTakeTrim)
{
    cell* x = text("ab");
    cell* y = text("cd");
    string::swap(x, y);
    EXPECT_EQ(whole(x), "cb");
    EXPECT_EQ(whole(y), "ad");
    cell* t = text("abc");
    cell* taken = push(*t);
    string::take(taken, nullptr, false, false);
    EXPECT_EQ(cell_type(taken), TYPE_CHAR);
    EXPECT_EQ(taken->data2, uint32_t('a'));
    struct row {
        const char* in;
        bool head, tail, lines, all;
        const char* with;
        const char* out;
    };
    const row rows[] = {
        {"  a  \n  ", false, false, false, false, nullptr, "a\n"},
        {"  a  \n  ", true, false, false, false, nullptr, "a  \n  "},
        {"  a  \n  ", false, true, false, false, nullptr, "  a"},
        {" x  y \n z ", false, false, false, false, nullptr, "x  y\nz"},
        {"a\n  b", false, false, true, false, nullptr, "a b"},
        {"a\tb c", false, false, false, true, nullptr, "abc"},
        {"abcabc", false, false, false, false, "b", "acac"},
    };
    for (const row& r : rows) {
        cell* s = text(r.in);
        string::trim(s, r.head, r.tail, false, r.lines, r.all, r.with ? text(r.with) : nullptr);
        EXPECT_EQ(whole(s), r.out) << r.in;
    }
    EXPECT_EQ(raised([&] { string::trim(text("a"), false, false, true, false, false, nullptr); }), 900u + err::NOT_DONE);
}

TEST_F(StringActions, SortOfUnits)
{
    struct row {
        const char* in;
        bool case_, reverse, stable;
        int32_t skip, offset;
        const char* out;
    };
    const row rows[] = {
        {"bDaB", true, false, false, 0, 0, "BDab"},
        {"abc", false, true, false, 0, 0, "cba"},
        {"b2a1", false, false, false, 2, 0, "a1b2"},
        {"b1a2", false, false, false, 2, 2, "b1a2"},
        {"bBaAb", false, false, true, 0, 0, "aAbBb"},
        // Mended: /stable holds under /case too.
        {"b2a1b1", true, false, true, 2, 0, "a1b2b1"},
    };
    for (const row& r : rows) {
        cell* s = text(r.in);
        string::sort(s, r.case_, r.skip ? n(r.skip) : nullptr, r.offset ? n(r.offset) : nullptr, nullptr, false,
                     r.reverse, r.stable);
        EXPECT_EQ(whole(s), r.out) << r.in;
    }
    EXPECT_EQ(raised([&] { string::sort(text("b2a1"), false, n(3), nullptr, nullptr, false, false, false); }),
              300u + err::INVALID_REFINE_ARG);
    EXPECT_EQ(raised([&] { string::sort(text("ab"), false, nullptr, nullptr, nullptr, true, false, false); }),
              300u + err::BAD_REFINES);
    EXPECT_EQ(raised([&] { string::sort(text("b1a2"), false, n(2), n(3), nullptr, false, false, false); }),
              300u + err::OUT_OF_RANGE);
}

TEST_F(StringActions, SetOperations)
{
    struct row {
        int32_t op;
        const char* first;
        const char* second;
        bool case_;
        int32_t skip;
        const char* out;
    };
    const row rows[] = {
        {8, "aAbB", "", false, 0, "ab"},   {8, "aAbB", "", true, 0, "aAbB"},   {9, "abc", "cde", false, 0, "abcde"},
        {10, "abc", "bcd", false, 0, "bc"}, {11, "abc", "b", false, 0, "ac"},   {12, "abc", "bcd", false, 0, "ad"},
        {8, "a1a2b3", "", false, 2, "a1b3"}, {8, "a1a2b", "", false, 2, "a1b"},
    };
    for (const row& r : rows) {
        cell* first = text(r.first);
        text(r.second);
        stack_s.arguments = first;
        string::do_set_op(r.case_, r.skip ? n(r.skip) : nullptr, r.op);
        EXPECT_EQ(whole(first), r.out) << r.op << " " << r.first;
    }
}
