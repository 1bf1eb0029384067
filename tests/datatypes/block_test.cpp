// block!: mold and form (new lines, indentation, cycles), compare, copy and clone, make and to,
// the storage routines and path steps.
#include "support/values.h"

#include <cmath>

#include "runtime/datatypes/series.h"

namespace {

using namespace tv;
using Block = Values;

constexpr uint32_t NO_CYCLE = code(ERR_INTERNAL, err::NO_CYCLE);
constexpr uint32_t TOO_DEEP = code(ERR_INTERNAL, err::TOO_DEEP);
constexpr uint32_t BAD_MAKE_ARG = code(ERR_SCRIPT, err::BAD_MAKE_ARG);

// A block that holds `values` and then itself.
cell* self_containing(const char* values)
{
    cell* s = read(values);
    cell self = *s;
    block::rs_append(s, &self);
    return s;
}

// `levels` blocks, each inside the one before.
cell* nested(uint32_t levels)
{
    cell* outer = read("");
    cell* inner = stack::push(outer);
    for (uint32_t i = 1; i < levels; i++) {
        block::make_in(inner, 1);
        *inner = *(block::rs_tail(inner) - 1);
    }
    stack::pop(1);
    return outer;
}

TEST_F(Block, Mold)
{
    struct row {
        const char* data;
        bool only, flat;
        const char* expected;
    };
    const row rows[] = {
        {"a b c", false, false, "[a b c]"},
        {"a \nb c", false, false, "[a\nb c]"},
        {"\na b", false, false, "[\n    a b\n]"},
        {"\na \nb", false, false, "[\n    a\n    b\n]"},
        {"x [\na \nb] y", false, false, "[x [\n    a\n    b\n] y]"},
        {"\nx [\na]", false, false, "[\n    x [\n        a\n    ]\n]"},
        {"\na \nb", true, false, "a\nb"},
        {"a \nb", true, false, "a\nb"},
        {"\na \nb [\nc]", false, true, "[a b [c]]"},
        {"a \"b\" none true", false, false, "[a \"b\" none true]"},
        {"", false, false, "[]"},
    };
    for (const row& r : rows) EXPECT_EQ(mold(read(r.data), r.only, false, r.flat), r.expected) << r.data;
}

TEST_F(Block, MoldWithPartStopsBeforeTheNextValue)
{
    cell* s = read("aa bb cc");
    cell* buffer = new_buffer();
    cell* part = arg(integer(5));
    int32_t left = block::mold(s, buffer, false, false, false, part, 5, 0);
    EXPECT_EQ(string::utf8_copy(buffer), "[aa bb]");
    EXPECT_LE(left, 0);
}

TEST_F(Block, Form)
{
    struct row {
        const char* data;
        const char* expected;
    };
    const row rows[] = {
        {"a \"b\" [c]", "a b c"},
        {"a [b [c d]] e", "a b c d e"},
        {"", ""},
        {"none true", "none true"},
    };
    for (const row& r : rows) EXPECT_EQ(form(read(r.data)), r.expected) << r.data;

    // No space after a value whose text ends a line.
    EXPECT_EQ(form(read("a \"x\n\" \"x\n\"")), "a x\nx\n");
}

TEST_F(Block, CycleMarkers)
{
    cell* s = self_containing("a");
    EXPECT_EQ(mold(s), "[a [...]]");
    EXPECT_EQ(form(s), "a ...");
    cell* holder = read("");
    block::rs_append(holder, s);
    EXPECT_EQ(mold(holder), "[[a [...]]]");
}

TEST_F(Block, NestingLimit)
{
    cell* deep_ok = nested(999);
    std::string text = mold(deep_ok);
    EXPECT_EQ(text.size(), 999u * 2);
    cell* too_deep = nested(1000);
    EXPECT_EQ(error_of([&] { mold(too_deep); }), TOO_DEEP);
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_EQ(error_of([&] { form(too_deep); }), TOO_DEEP);
}

// An error inside a walk pops what the walk pushed: the data is not shown as cyclic later.
TEST_F(Block, ErrorInsideAWalkLeavesNoMarker)
{
    cell* inner = read("");
    cell failing = fault();
    block::rs_append(inner, &failing);
    cell* outer = read("x");
    block::rs_append(outer, inner);
    EXPECT_EQ(error_of([&] { mold(outer); }), code(ERR_SCRIPT, err::INVALID_ARG));
    EXPECT_EQ(error_of([&] { form(outer); }), code(ERR_SCRIPT, err::INVALID_ARG));
    EXPECT_EQ(cycle_depth(), 0u);
    cell ok = word_of("ok");
    series::poke_at(inner, 1, &ok);
    EXPECT_EQ(mold(outer), "[x [ok]]");
}

TEST_F(Block, Compare)
{
    struct row {
        const char* a;
        const char* b;
        int32_t op;
        int32_t sign;   // expected sign of the answer, or -2
    };
    const row rows[] = {
        {"1 2", "1 2", COMP_EQUAL, 0},   {"1 2", "1 3", COMP_LESSER, -1}, {"1", "1 2", COMP_LESSER, -1},
        {"", "1", COMP_LESSER, -1},      {"a b", "a c", COMP_LESSER, -1}, {"1 2", "1 2 3", COMP_EQUAL, 1},
        {"1 3", "1 2 3", COMP_LESSER, 1}, {"[1 2] a", "[1 2] a", COMP_EQUAL, 0},
        {"[1 2] a", "[1 3] a", COMP_GREATER, -1}, {"1 2", "1 2", COMP_SAME, -1}, {"", "", COMP_EQUAL, 0},
        {"true", "true", COMP_LESSER, -2},
    };
    for (const row& r : rows) {
        int32_t answer = block::compare(read(r.a), read(r.b), r.op);
        int32_t sign = answer == -2 ? -2 : answer < 0 ? -1 : answer > 0 ? 1 : 0;
        EXPECT_EQ(sign, r.sign) << "[" << r.a << "] vs [" << r.b << "] op " << r.op;
    }
    cell* s = read("a b");
    cell same = *s;
    EXPECT_EQ(block::compare(s, &same, COMP_SAME), 0);
    cell paren = *read("a b");
    cell_set_type(&paren, TYPE_PAREN);
    EXPECT_EQ(block::compare(s, &paren, COMP_EQUAL), -2);
}

// Values of unrelated kinds order by type id: [1 a] < [1 2] is false, word! (15) sorting after
// integer! (11). The 2 is a real integer! cell; no compare routine is called for such a pair.
TEST_F(Block, CompareOfUnrelatedKindsFollowsTypeIds)
{
    cell* numbers = read("1 2");
    block::rs_head(numbers)[1] = integer(2);
    EXPECT_EQ(block::compare(read("1 a"), numbers, COMP_LESSER), 1);
    EXPECT_EQ(block::compare(numbers, read("1 a"), COMP_LESSER), -1);
    EXPECT_EQ(block::compare(read("a"), read("\"a\""), COMP_EQUAL), 1) << "word! against string!";
}

TEST_F(Block, CompareOfCyclicBlocksEnds)
{
    cell* a = self_containing("x");
    cell* b = self_containing("x");
    EXPECT_EQ(block::compare(a, b, COMP_EQUAL), 0);
}

TEST_F(Block, CopyShallowSharesDeepCopies)
{
    cell* s = read("a [b [c]]");
    cell* shallow = stack::push_slot();
    block::copy(s, shallow, nullptr, false, nullptr);
    EXPECT_EQ(block::rs_head(shallow)[1].data2, block::rs_head(s)[1].data2);

    cell* deep = stack::push_slot();
    block::copy(s, deep, nullptr, true, nullptr);
    EXPECT_EQ(mold(deep), "[a [b [c]]]");
    cell inner_copy = block::rs_head(deep)[1];
    cell inner = block::rs_head(s)[1];
    EXPECT_NE(inner_copy.data2, inner.data2);
    EXPECT_NE(block::rs_head(&inner_copy)[1].data2, block::rs_head(&inner)[1].data2);
}

TEST_F(Block, CopyDeepCopiesNestedStrings)
{
    cell* s = read("a \"txt\" [\"in\"]");
    cell str = block::rs_head(s)[1];
    cell inner = *block::rs_head(&block::rs_head(s)[2]);
    cell* shallow = stack::push_slot();
    block::copy(s, shallow, nullptr, false, nullptr);
    EXPECT_EQ(block::rs_head(shallow)[1].data2, str.data2) << "copy shares the string";
    cell* deep = stack::push_slot();
    block::copy(s, deep, nullptr, true, nullptr);
    cell deep_str = block::rs_head(deep)[1];
    cell deep_inner = *block::rs_head(&block::rs_head(deep)[2]);
    EXPECT_NE(deep_str.data2, str.data2);
    EXPECT_NE(deep_inner.data2, inner.data2) << "a string inside a nested block is copied too";
    EXPECT_EQ(mold(deep), "[a \"txt\" [\"in\"]]");

    // The copy is a string of its own: changing it leaves the source alone.
    cell z{TYPE_CHAR, 0, 'z', 0};
    series::poke_at(&deep_str, 1, &z);
    EXPECT_EQ(mold(s), "[a \"txt\" [\"in\"]]");
    EXPECT_EQ(mold(deep), "[a \"zxt\" [\"in\"]]");
}

TEST_F(Block, CopyTypesCopiesOnlyTheNamedTypes)
{
    cell* s = read("a [b]");
    cell* copied = stack::push_slot();
    block::copy(s, copied, nullptr, false, arg(cell{TYPE_DATATYPE, TYPE_BLOCK, 0, 0}));
    EXPECT_NE(block::rs_head(copied)[1].data2, block::rs_head(s)[1].data2);
    cell* shared = stack::push_slot();
    block::copy(s, shared, nullptr, false, arg(cell{TYPE_DATATYPE, TYPE_PAREN, 0, 0}));
    EXPECT_EQ(block::rs_head(shared)[1].data2, block::rs_head(s)[1].data2);
    EXPECT_EQ(mold(shared), "[a [b]]");
}

TEST_F(Block, DeepCopyOfASelfContainingBlock)
{
    cell* s = self_containing("a");
    cell* result = stack::push_slot();
    EXPECT_EQ(error_of([&] { block::copy(s, result, nullptr, true, nullptr); }), NO_CYCLE);
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_EQ(error_of([&] { block::clone(s, true, false); }), NO_CYCLE);
    EXPECT_EQ(mold(read("a [b]")), "[a [b]]");
}

TEST_F(Block, Clone)
{
    cell* s = read("a \n[b] c");
    cell_set_type(s, TYPE_PAREN);
    series::next(s);
    cell* copy = block::clone(s, true, false);
    EXPECT_EQ(cell_type(copy), uint32_t(TYPE_PAREN));
    cell inner = block::rs_head(copy)[0];
    EXPECT_TRUE(inner.header & HEADER_NEW_LINE) << "a deep copy keeps the new-line marker";
    EXPECT_NE(inner.data2, block::rs_head(s)[0].data2);
    cell_set_type(copy, TYPE_BLOCK);
    EXPECT_EQ(mold(copy), "[\n    [b] c\n]");
}

TEST_F(Block, CloneOfAHeadPastTheTailIsEmpty)
{
    cell* s = read("[a b] c");
    cell inner = block::rs_head(s)[0];
    inner.data1 = 7;   // past the tail of [a b]
    block::rs_head(s)[0] = inner;
    cell* copy = block::clone(s, true, false);
    EXPECT_EQ(mold(copy), "[[] c]");
}

TEST_F(Block, MakeSizes)
{
    cell zero = integer(0);
    cell* made = block::make(nullptr, &zero, TYPE_BLOCK);
    EXPECT_EQ(series_of(made->data2)->size, 16u);
    EXPECT_EQ(block::rs_length(made), 0u);

    cell six = cell{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(&six, 6.9);
    EXPECT_GE(series_of(block::make(nullptr, &six, TYPE_PAREN)->data2)->size, 6u * 16);

    struct bad {
        cell spec;
        uint32_t error;
    };
    cell nan = cell{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(&nan, std::nan(""));
    cell huge_float = cell{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(&huge_float, 1e300);
    cell text = *string::make_at(stack::push_slot(), 4, 1);
    const bad bads[] = {
        {integer(-1), BAD_MAKE_ARG}, {nan, BAD_MAKE_ARG}, {huge_float, BAD_MAKE_ARG},
        {text, BAD_MAKE_ARG}, {integer(2147483647), code(ERR_INTERNAL, err::NO_MEMORY)},
    };
    for (const bad& b : bads) {
        cell spec = b.spec;
        EXPECT_EQ(error_of([&] { block::make(nullptr, &spec, TYPE_PATH); }), b.error);
    }
}

TEST_F(Block, MakeAndTo)
{
    cell* spec = read("a [b]");
    series::next(spec);
    cell* made = block::make(nullptr, spec, TYPE_PAREN);
    EXPECT_EQ(cell_type(made), uint32_t(TYPE_PAREN));
    cell_set_type(made, TYPE_BLOCK);
    EXPECT_EQ(mold(made), "[[b]]");

    cell five = integer(5);
    EXPECT_EQ(mold(block::to(nullptr, &five, TYPE_BLOCK)), "[5]");
    EXPECT_EQ(mold(block::to(nullptr, read("a b"), TYPE_BLOCK)), "[a b]");
}

TEST_F(Block, InsertAndAppendKeepOrder)
{
    cell* target = read("x y");
    block::ks_append_each(target, read("a b c"));
    EXPECT_EQ(target->data1, 3u);
    target->data1 = 0;
    EXPECT_EQ(mold(target), "[a b c x y]");

    cell v = word_of("z");
    block::insert_value(target, &v, false, true);
    block::ks_append_block(target, read("1 2"));
    EXPECT_EQ(mold(target), "[z a b c x y 1 2]");

    cell* self = read("a b");
    cell same = *self;
    block::ks_append_block(self, &same);
    EXPECT_EQ(mold(self), "[a b a b]");
    block::ks_append_each(self, &same);
    self->data1 = 0;
    EXPECT_EQ(mold(self), "[a b a b a b a b]");
}

// Routines handed a block cell that lies inside another block's buffer read it before they
// allocate: the dead buffer below the outer one lets the first collection slide it down.
TEST_F(Block, TargetCellInsideAMovingBuffer)
{
    struct row {
        void (*change)(cell* target, cell* source);
        const char* expected;
    };
    const row rows[] = {
        {[](cell* t, cell*) { block::make_in(t, 1); }, "[a b c d []]"},
        {[](cell* t, cell* s) { block::insert_value(t, block::rs_head(s), false, true); }, "[1 a b c d]"},
        {[](cell* t, cell* s) { block::ks_append_block(t, s); }, "[a b c d 1 2]"},
    };
    for (const row& r : rows) {
        cell* source = read("1 2");
        cell* doomed = block::push_only_star(64);
        cell* outer = read("");
        block::rs_append(outer, read("a b c d"));   // full: the first change grows it
        *doomed = none_value;
        r.change(block::rs_head(outer), source);
        cell target = *block::rs_head(outer);
        EXPECT_EQ(mold(&target), r.expected);
    }
}

TEST_F(Block, FindAndRemoveByCompare)
{
    cell* s = read("a b c b");
    cell b = word_of("b");
    EXPECT_EQ(test::mold(*block::find_by_compare(s, &b)), "c");   // a cell of s: copied before molding allocates
    cell c_last = word_of("q");
    EXPECT_EQ(block::find_by_compare(s, &c_last), &none_value);
    series::next(series::next(s));
    EXPECT_FALSE(block::remove_by_compare(s, &b, false));   // the b after the head
    EXPECT_TRUE(block::remove_by_compare(s, &b, true));     // the b before it
    s->data1 = 0;
    EXPECT_EQ(mold(s), "[a c]");
}

TEST_F(Block, PathStepsByIndex)
{
    cell* s = read("a b c");
    cell two = integer(2);
    EXPECT_EQ(mold(block::eval_path(s, &two, nullptr, nullptr, nullptr, nullptr, 0, false, false, false, false)),
              "b");
    cell x = word_of("x");
    block::eval_path(s, &two, &x, nullptr, nullptr, nullptr, 0, false, false, false, false);
    EXPECT_EQ(mold(s), "[a x c]");
    cell nine = integer(9);
    EXPECT_EQ(error_of([&] { block::eval_path(s, &nine, &x, nullptr, nullptr, nullptr, 0, false, false, false, false); }),
              code(ERR_SCRIPT, err::OUT_OF_RANGE));
}

// A word step reads the value after the word: any word kind matches, ASCII case counts only
// under /case, and a word with nothing after it gives none.
TEST_F(Block, PathStepsByWord)
{
    cell* s = read("x: 1 'y 2 /z 3 w");
    series::next(s);
    struct row {
        const char* key;
        bool case_;
        const char* expected;
    };
    const row rows[] = {
        {"y", false, "2"}, {"Y", false, "2"}, {"Y", true, "none"}, {"w", false, "none"},
        {"z", false, "none"}, {"q", false, "none"}, {"x", false, "none"},
    };
    for (const row& r : rows) {
        cell key = word_of(r.key);
        cell* got = block::eval_path(s, &key, nullptr, nullptr, nullptr, nullptr, 0, r.case_, false, false, false);
        EXPECT_EQ(mold(got), r.expected) << r.key << (r.case_ ? " /case" : "");
    }
    s->data1 = 0;
    cell x = word_of("x");
    EXPECT_EQ(mold(block::eval_path(s, &x, nullptr, nullptr, nullptr, nullptr, 0, false, false, false, false)), "1");
}

TEST_F(Block, RegisteredRoutines)
{
    EXPECT_EQ(actions_of(TYPE_BLOCK).at, actions_of(TYPE_SERIES).at);
    EXPECT_EQ(actions_of(TYPE_BLOCK).copy, &block::copy);
    EXPECT_EQ(actions_of(TYPE_BLOCK).mold, &block::mold);
    EXPECT_EQ(actions_of(TYPE_SERIES).mold, nullptr);
    EXPECT_EQ(actions_of(TYPE_STRING).copy, &series::copy) << "string! copies through series!";
}

}  // namespace
