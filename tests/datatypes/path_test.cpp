// The path kinds and paren!: mold and form per kind, /part, make and to, cycles, and the block
// routines they share.
#include "support/values.h"

#include "runtime/datatypes/path.h"

namespace {

using namespace tv;
using Path = Values;

// The block read from text, retyped to the given kind.
cell* read_as(uint32_t type, const char* text)
{
    cell* c = read(text);
    cell_set_type(c, type);
    return c;
}

TEST_F(Path, MoldAndFormOfEachKind)
{
    struct row {
        uint32_t type;
        const char* data;
        bool only;
        const char* molded;
        const char* formed;
    };
    const row rows[] = {
        {TYPE_PATH, "a b c", false, "a/b/c", "a/b/c"},
        {TYPE_LIT_PATH, "a b c", false, "'a/b/c", "a/b/c"},
        {TYPE_GET_PATH, "a b c", false, ":a/b/c", "a/b/c"},
        {TYPE_SET_PATH, "a b c", false, "a/b/c:", "a/b/c"},
        {TYPE_PATH, "a \"s\" 1", false, "a/\"s\"/1", "a/s/1"},
        {TYPE_PATH, "a [b c]", true, "a/b c", "a/b c"},   // only reaches each value
        {TYPE_PATH, "", false, "", ""},
        {TYPE_LIT_PATH, "", false, "'", ""},
        {TYPE_GET_PATH, "", false, ":", ""},
        {TYPE_SET_PATH, "", false, ":", ""},
        {TYPE_PAREN, "a \nb [c]", false, "(a\nb [c])", "a b c"},
        {TYPE_PAREN, "a b", true, "a b", "a b"},
        {TYPE_PAREN, "", false, "()", ""},
    };
    for (const row& r : rows) {
        cell* v = read_as(r.type, r.data);
        EXPECT_EQ(mold(v, r.only), r.molded) << datatype_s.types[r.type].name << " " << r.data;
        EXPECT_EQ(form(v), r.formed) << datatype_s.types[r.type].name << " " << r.data;
    }
}

// A /part limit ends the walk after the step that used up the budget, with no separator after it.
TEST_F(Path, PartStopsAfterTheStepThatExhaustsIt)
{
    cell* p = read_as(TYPE_PATH, "aa bb cc");
    struct row {
        int32_t part;
        const char* formed;
    };
    const row rows[] = {{2, "aa"}, {3, "aa/bb"}, {5, "aa/bb"}, {6, "aa/bb/cc"}};
    for (const row& r : rows) {
        cell* buffer = new_buffer();
        cell* limit = arg(integer(r.part));
        path::form(p, buffer, limit, r.part);
        EXPECT_EQ(string::utf8_copy(buffer), r.formed) << r.part;
        buffer = new_buffer();
        path::mold(p, buffer, false, false, false, limit, r.part, 0);
        EXPECT_EQ(string::utf8_copy(buffer), r.formed) << r.part;
    }
}

TEST_F(Path, SelfContainingPathsAndParensWriteTheCycleMarker)
{
    struct row {
        uint32_t type;
        const char* molded;
        const char* formed;
    };
    const row rows[] = {{TYPE_PATH, "a/...", "a/..."}, {TYPE_PAREN, "(a (...))", "a ..."}};
    for (const row& r : rows) {
        cell* v = read_as(r.type, "a");
        cell self = *v;
        block::rs_append(v, &self);
        EXPECT_EQ(mold(v), r.molded);
        EXPECT_EQ(form(v), r.formed);
    }
}

TEST_F(Path, MakeAndTo)
{
    cell proto{TYPE_DATATYPE, TYPE_PATH, 0, 0};
    struct size_row {
        cell spec;
        uint32_t room;
    };
    const size_row sizes[] = {{integer(0), 1}, {integer(3), 3}, {test::float_(2.9), 2}};
    for (const size_row& r : sizes) {
        cell spec = r.spec;
        cell* made = path::make(&proto, &spec, TYPE_SET_PATH);
        EXPECT_EQ(made->header, uint32_t(TYPE_SET_PATH));
        EXPECT_EQ(block::rs_length(made), 0u);
        EXPECT_EQ(series_of(made->data2)->size / 16, r.room);
    }
    for (cell bad : {integer(-1), test::float_(-0.5e10), word_of("a")}) {
        EXPECT_EQ(error_of([&] { path::make(&proto, &bad, TYPE_PATH); }), code(ERR_SCRIPT, err::BAD_MAKE_ARG))
            << test::mold(bad);
        EXPECT_EQ(raised_error_get().args[0].data1, uint32_t(TYPE_PATH)) << "the error names the datatype";
    }

    cell* words = read("a b");
    EXPECT_EQ(mold(path::to(&proto, words, TYPE_SET_PATH)), "a/b:");
    EXPECT_EQ(mold(path::to(&proto, words, TYPE_LIT_PATH)), "'a/b");
    EXPECT_EQ(mold(actions_of(TYPE_PAREN).to(&proto, read("1 2"), TYPE_PAREN)), "(1 2)");
    block::rs_head(words)->header |= HEADER_NEW_LINE;   // a path's mold has no lines
    EXPECT_EQ(mold(path::make(&proto, words, TYPE_GET_PATH)), ":a/b");

    cell typeset{TYPE_TYPESET | HEADER_NEW_LINE, 1, 2, 3};
    cell* single = path::to(&proto, &typeset, TYPE_GET_PATH);
    EXPECT_EQ(single->header, uint32_t(TYPE_GET_PATH));
    ASSERT_EQ(block::rs_length(single), 1u);
    cell step = *block::rs_head(single);
    EXPECT_EQ(step.header, uint32_t(TYPE_TYPESET));
    EXPECT_EQ(step.data3, 3u);

    cell* pushed = path::push(read("x y"));
    EXPECT_EQ(mold(pushed), "x/y");
}

// The block routines the kinds share keep the kind: a copy of a get-path is a get-path.
TEST_F(Path, CopyKeepsTheKind)
{
    for (uint32_t type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_PAREN}) {
        cell* v = read_as(type, "a [b]");
        cell* result = stack::push_slot();
        actions_of(type).copy(v, result, nullptr, true, nullptr);
        EXPECT_EQ(cell_type(result), type) << datatype_s.types[type].name;
        EXPECT_NE(result->data2, v->data2);
        EXPECT_EQ(form(result), form(v));
    }
}

}  // namespace
