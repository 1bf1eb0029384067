// series! actions: positions, pick and poke, remove, reverse, take, copy and move, on blocks and
// on raw 1- and 4-byte text buffers.
#include "support/values.h"

#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/series.h"
#include "runtime/image_layer.h"
#include "runtime/random.h"

namespace {

using namespace tv;
using Series = Values;

constexpr uint32_t OUT_OF_RANGE = code(ERR_SCRIPT, err::OUT_OF_RANGE);
constexpr uint32_t INVALID_REFINE = code(ERR_SCRIPT, err::INVALID_REFINE_ARG);
constexpr uint32_t MOVE_BAD = code(ERR_SCRIPT, err::MOVE_BAD);

// script/invalid-refine-arg names the refinement by its word.
void expect_refinement_named(const char* name)
{
    cell refinement = raised_error_get().args[0];
    EXPECT_EQ(cell_type(&refinement), uint32_t(TYPE_REFINEMENT));
    EXPECT_EQ(form(&refinement), name);
}

cell* text(const char* s, uint32_t unit = 1, uint32_t type = TYPE_STRING)
{
    cell* c = string::make_at(stack::push_slot(), 16, unit);
    string::concatenate_literal(c, s);
    c->header = type;
    return c;
}

TEST_F(Series, PositionActions)
{
    struct row {
        const char* what;
        cell* (*step)(cell*, int32_t);
        int32_t n;
        const char* expected;
    };
    const row rows[] = {
        {"at 0 stays at the head", [](cell* s, int32_t n) { cell i = integer(n); return series::at(s, &i); }, 0, "[a b c]"},
        {"at 1 stays at the head", [](cell* s, int32_t n) { cell i = integer(n); return series::at(s, &i); }, 1, "[a b c]"},
        {"at 2 is b", [](cell* s, int32_t n) { cell i = integer(n); return series::at(s, &i); }, 2, "[b c]"},
        {"at 10 is the tail", [](cell* s, int32_t n) { cell i = integer(n); return series::at(s, &i); }, 10, "[]"},
        {"skip -5 from b is the head",
         [](cell* s, int32_t n) { cell i = integer(n); return series::skip(series::next(s), &i); }, -5, "[a b c]"},
        {"tail then back is c", [](cell* s, int32_t) { return series::back(series::tail(s)); }, 0, "[c]"},
        {"back at the head stays", [](cell* s, int32_t) { return series::back(s); }, 0, "[a b c]"},
        {"next at the tail stays", [](cell* s, int32_t) { return series::next(series::tail(s)); }, 0, "[]"},
    };
    for (const row& r : rows) {
        cell* s = read("a b c");
        EXPECT_EQ(mold(r.step(s, r.n)), r.expected) << r.what;
    }
}

TEST_F(Series, IndexHeadTailAndLength)
{
    cell* s = read("a b c");
    cell probe = *s;
    EXPECT_EQ(cell_type(series::index_q(&probe)), TYPE_INTEGER);
    EXPECT_EQ(probe.data2, 1u);
    probe = *s;
    EXPECT_EQ(series::head_q(series::next(&probe))->data1, 0u);
    probe = *read("");
    EXPECT_EQ(series::tail_q(&probe)->data1, 1u);
    EXPECT_EQ(series::length_q(series::next(s)), 2);

    // A head left past the tail by another value's removal reads as the tail.
    cell* shortened = read("a b c");
    shortened->data1 = 3;
    cell other = *shortened;
    other.data1 = 1;
    series::clear(&other);
    EXPECT_EQ(series::length_q(shortened), 0);
    EXPECT_EQ(shortened->data1, 1u);
}

TEST_F(Series, AtRejectsANonInteger)
{
    cell* s = read("a b c");
    cell n = none_value;
    EXPECT_EQ(error_of([&] { series::at(s, &n); }), code(ERR_SCRIPT, err::INVALID_ARG));
}

TEST_F(Series, PickOutsideGivesNone)
{
    struct row {
        int32_t n;
        bool from_next;
        const char* expected;
    };
    const row rows[] = {{0, false, "none"}, {-1, false, "none"}, {3, false, "c"}, {4, false, "none"},
                        {-1, true, "a"},    {-2, true, "none"},  {1, true, "b"}};
    for (const row& r : rows) {
        cell* s = read("a b c");
        if (r.from_next) series::next(s);
        EXPECT_EQ(mold(series::pick(s, r.n, nullptr)), r.expected) << "pick " << r.n << (r.from_next ? " from b" : "");
    }
}

TEST_F(Series, PokeInsideAndOutside)
{
    cell* s = read("a b c");
    cell x = word_of("x");   // poke [a b c] n 'x: the lit-word evaluates to the word
    gc_cell_root keep_root(*s);   // the series outlives the argument cell the action rewrites
    cell& keep = keep_root.value;
    EXPECT_EQ(mold(series::poke(s, 2, nullptr, &x)), "x");
    EXPECT_EQ(mold(&keep), "[a x c]");
    for (int32_t n : {0, 4, -1}) {
        cell probe = keep;
        EXPECT_EQ(error_of([&] { series::poke(&probe, n, nullptr, &x); }), OUT_OF_RANGE) << "poke " << n;
        EXPECT_EQ(int32_t(raised_error_get().args[0].data2), n);
    }
}

TEST_F(Series, PokeWidensAText)
{
    cell* s = text("abc");
    cell wide = cell{TYPE_CHAR, 0, 0x1F600, 0};
    gc_cell_root keep_root(*s);   // the series outlives the argument cell the action rewrites
    cell& keep = keep_root.value;
    series::poke(s, 2, nullptr, &wide);
    EXPECT_EQ(series_unit(series_of(keep.data2)), 4u);
    EXPECT_EQ(string::utf8_copy(&keep), "a\xF0\x9F\x98\x80" "c");
    cell not_char = integer(65);
    EXPECT_EQ(error_of([&] { series::poke(&keep, 1, nullptr, &not_char); }), code(ERR_SCRIPT, err::INVALID_ARG));
}

TEST_F(Series, Remove)
{
    cell* s = read("a b c d");
    series::remove(s, arg(integer(2)), nullptr);
    EXPECT_EQ(mold(s), "[c d]");

    cell* keyed = read("a 1 b 2");
    series::remove(keyed, nullptr, arg(word_of("b")));
    EXPECT_EQ(mold(keyed), "[a 1]");

    cell* missing = read("a 1");
    EXPECT_EQ(mold(series::remove(missing, nullptr, arg(word_of("q")))), "none");

    cell* zero = read("a b");
    EXPECT_EQ(mold(series::remove(zero, arg(integer(0)), nullptr)), "[a b]");

    cell* up_to = read("a b c d");
    cell position = *up_to;
    position.data1 = 3;
    series::remove(up_to, arg(position), nullptr);
    EXPECT_EQ(mold(up_to), "[d]");

    cell* other = read("x y");
    cell* s2 = read("a b");
    EXPECT_EQ(error_of([&] { series::remove(s2, arg(*other), nullptr); }), INVALID_REFINE);
    expect_refinement_named("part");
}

TEST_F(Series, Reverse)
{
    struct row {
        const char* data;
        int32_t part;   // -1: no /part
        int32_t skip;   // -1: no /skip
        const char* expected;
    };
    const row rows[] = {
        {"a b c", -1, -1, "[c b a]"},       {"a b c", 2, -1, "[b a c]"},
        {"a 1 b 2", -1, 2, "[b 2 a 1]"},     {"a b c d e f", -1, 3, "[d e f a b c]"},
        {"a b c d", -1, 4, "[a b c d]"},     {"", -1, -1, "[]"},
    };
    for (const row& r : rows) {
        cell* s = read(r.data);
        series::reverse(s, r.part < 0 ? nullptr : arg(integer(r.part)), r.skip < 0 ? nullptr : arg(integer(r.skip)));
        EXPECT_EQ(mold(s), r.expected) << r.data << " part " << r.part << " skip " << r.skip;
    }
    struct bad {
        cell skip;
        uint32_t error;
    };
    const bad bads[] = {{integer(3), INVALID_REFINE}, {integer(0), OUT_OF_RANGE}, {integer(8), INVALID_REFINE},
                        {none_value, INVALID_REFINE}};
    for (const bad& b : bads) {
        cell* s = read("a 1 b 2");
        EXPECT_EQ(error_of([&] { series::reverse(s, nullptr, arg(b.skip)); }), b.error);
        if (b.error == INVALID_REFINE) expect_refinement_named("skip");
        EXPECT_EQ(mold(s), "[a 1 b 2]") << "a refused reverse leaves the block alone";
    }
}

TEST_F(Series, Take)
{
    struct row {
        const char* data;
        bool from_next;
        int32_t part;   // -1000: no /part
        bool last;
        const char* taken;
        const char* left;
    };
    const row rows[] = {
        {"a b c", false, -1000, false, "[a]", "[b c]"},
        {"a b c", false, -1000, true, "[c]", "[a b]"},
        {"a b c", false, 2, false, "[a b]", "[c]"},
        {"a b c", false, 2, true, "[b c]", "[a]"},
        {"a b c", false, 9, false, "[a b c]", "[]"},
        {"a b c", true, -1, false, "[a]", "[b c]"},
        {"a b c", true, 0, false, "[a]", "[b c]"},
        {"a b c", true, -1, true, "[]", "[a b c]"},
        {"a b c", false, -1, false, "[]", "[a b c]"},
        {"", false, -1000, false, "none", "[]"},
    };
    for (const row& r : rows) {
        cell* s = read(r.data);
        gc_cell_root keep_root(*s);   // the series outlives the argument cell the action rewrites
    cell& keep = keep_root.value;
        if (r.from_next) series::next(s);
        series::take(s, r.part == -1000 ? nullptr : arg(integer(r.part)), false, r.last);
        keep.data1 = 0;
        EXPECT_EQ(mold(s), r.taken) << r.data << " part " << r.part << (r.last ? " last" : "");
        EXPECT_EQ(mold(&keep), r.left) << r.data << " part " << r.part << (r.last ? " last" : "");
    }
}

// Two takes never share storage: the first taken value keeps its content.
TEST_F(Series, TakenValuesAreIndependent)
{
    cell* s = read("a b");
    gc_cell_root first(*s);   // each result is a new block that only this test holds
    series::take(&first.value, nullptr, false, false);
    gc_cell_root second(*s);
    series::take(&second.value, nullptr, false, false);
    EXPECT_EQ(mold(&first.value), "[a]");
    EXPECT_EQ(mold(&second.value), "[b]");
}

TEST_F(Series, CopyPart)
{
    struct row {
        int32_t head;
        cell part;
        const char* expected;
    };
    const row rows[] = {
        {0, cell{TYPE_PAIR, 0, 2, 4}, "bc"}, {0, integer(2), "ab"},     {4, integer(-2), "cd"},
        {1, integer(-5), "a"},               {0, integer(99), "abcdef"}, {0, cell{TYPE_PAIR, 0, 4, 2}, ""},
    };
    for (const row& r : rows) {
        cell* s = text("abcdef");
        s->data1 = uint32_t(r.head);
        cell* result = stack::push_slot();
        series::copy(s, result, arg(r.part), false, nullptr);
        EXPECT_EQ(string::utf8_copy(result), r.expected) << "head " << r.head;
        EXPECT_NE(result->data2, s->data2);
    }
}

TEST_F(Series, CopyOfAFixedBufferIsAnOrdinaryOne)
{
    cell* fixed = block::make_fixed(stack::push_slot(), 4);
    cell v = integer(1);
    block::rs_append(fixed, &v);
    series::copy(fixed, fixed, nullptr, false, nullptr);
    EXPECT_FALSE(series_of(fixed->data2)->flags & SERIES_FIXED);
    EXPECT_EQ(mold(fixed), "[1]");
}

TEST_F(Series, MoveWithinOneBlock)
{
    struct row {
        int32_t from, to, part;
        const char* expected;
    };
    const row rows[] = {
        {0, 2, 1, "[b c a d e]"}, {0, 5, 2, "[c d e a b]"}, {3, 0, 1, "[d a b c e]"},
        {3, 1, 2, "[a d e b c]"}, {0, 1, 2, "[a b c d e]"}, {2, 2, 1, "[a b c d e]"},
        {0, 9, 1, "[b c d e a]"},
    };
    for (const row& r : rows) {
        cell* s = read("a b c d e");
        gc_cell_root keep_root(*s);   // the series outlives the argument cell the action rewrites
    cell& keep = keep_root.value;
        cell* target = arg(*s);
        s->data1 = uint32_t(r.from);
        target->data1 = uint32_t(r.to);
        series::move(s, target, arg(integer(r.part)));
        EXPECT_EQ(mold(&keep), r.expected) << "from " << r.from << " to " << r.to << " part " << r.part;
    }
}

TEST_F(Series, MoveBetweenBlocks)
{
    cell* source = read("a b c");
    cell* target = arg(*read("x y"));
    gc_cell_root source_root(*source), target_root(*target);
    cell& source_keep = source_root.value;
    cell& target_keep = target_root.value;
    target->data1 = 1;
    series::move(source, target, arg(integer(2)));
    EXPECT_EQ(mold(&source_keep), "[c]");
    EXPECT_EQ(mold(&target_keep), "[x a b y]");
}

// Units are never reinterpreted: only texts move into texts (the target widening), and other
// families need the same family and width.
TEST_F(Series, MoveBetweenFamilies)
{
    cell* wide = text("", 4);
    string::concatenate_literal(wide, "z");
    *reinterpret_cast<uint32_t*>(at(series_of(wide->data2)->head)) = 0x1F600;
    cell* narrow = arg(*text("ab", 1, TYPE_FILE));
    narrow->data1 = 1;
    cell narrow_keep = *narrow;
    series::move(wide, narrow, nullptr);
    EXPECT_EQ(series_unit(series_of(narrow_keep.data2)), 4u);
    narrow_keep.data1 = 0;
    EXPECT_EQ(string::utf8_copy(&narrow_keep), "a\xF0\x9F\x98\x80" "b");

    struct row {
        cell* (*source)();
        cell* (*target)();
        const char* what;
    };
    const row rows[] = {
        {[] { return read("a b"); }, [] { return text("xy"); }, "block into text"},
        {[] { return text("ab"); }, [] { return read("x"); }, "text into block"},
        {[] { return text("ab"); }, [] { return text("xy", 1, TYPE_BINARY); }, "text into binary"},
        {[] { return text("ab", 1, TYPE_BINARY); }, [] { return text("xy", 2); }, "binary into text"},
        {[] { return read("x"); }, [] {
             cell* pixels = stack::push_slot();
             image_new(pixels, 2, 1);
             return pixels;
         }, "block into pixels"},
        {[] { return text("ab", 2, TYPE_VECTOR); }, [] { return text("xy", 4, TYPE_VECTOR); }, "vector widths"},
    };
    for (const row& r : rows) {
        cell* source = r.source();
        cell* target = arg(*r.target());
        EXPECT_EQ(error_of([&] { series::move(source, target, nullptr); }), MOVE_BAD) << r.what;
    }
    cell* s = read("a");
    cell* not_series = arg(none_value);
    EXPECT_EQ(error_of([&] { series::move(s, not_series, nullptr); }), code(ERR_SCRIPT, err::EXPECT_ARG));
    // The error names the action, the target's datatype and the argument.
    const raised_error& e = raised_error_get();
    cell action = e.args[0], type = e.args[1], argument = e.args[2];
    EXPECT_EQ(form(&action), "move");
    EXPECT_EQ(cell_type(&type), uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(type.data1, uint32_t(TYPE_NONE));
    EXPECT_EQ(form(&argument), "target");
}

// The order a shuffle leaves is the generator's: for i = length down to 1, the unit at the
// position is exchanged with the one random/int(i) - 1 further on. The length and seed are chosen
// so that some draw falls in the rejected top range, where a plain modulo gives another order.
TEST_F(Series, ShuffleDrawsWithTheRejectionDraw)
{
    constexpr uint32_t n = 60000;
    constexpr uint32_t seed = 5;
    std::vector<uint32_t> expected(n), by_modulo(n);
    for (uint32_t i = 0; i < n; i++) expected[i] = by_modulo[i] = i;
    random_::seed(seed);
    for (uint32_t i = n, pos = 0; i >= 1; i--, pos++) std::swap(expected[pos], expected[pos + random_::int_(int32_t(i), false) - 1]);
    random_::seed(seed);
    for (uint32_t i = n, pos = 0; i >= 1; i--, pos++) std::swap(by_modulo[pos], by_modulo[pos + random_::next() % i]);
    ASSERT_NE(expected, by_modulo) << "the seed must reach a rejected draw";

    cell* s = text("", 4);
    series_buffer* b = series_of(s->data2);
    b = series_expand(b, n * 4);
    for (uint32_t i = 0; i < n; i++) at<uint32_t>(b->head)[i] = i;
    b->tail = b->head + n * 4;
    random_::seed(seed);
    series::random(s, false, false, false);
    b = series_of(s->data2);
    std::vector<uint32_t> shuffled(at<uint32_t>(b->head), at<uint32_t>(b->head) + n);
    EXPECT_EQ(shuffled, expected);
}

TEST_F(Series, RandomOnlyPicksWithTheRejectionDraw)
{
    cell* s = read("a b c d e f g");
    random_::seed(99);
    std::vector<int32_t> positions;
    for (int i = 0; i < 20; i++) positions.push_back(random_::int_(7, false));
    random_::seed(99);
    const char* names[] = {"a", "b", "c", "d", "e", "f", "g"};
    for (int32_t p : positions) {
        cell* picked = arg(*s);
        series::random(picked, false, false, true);
        EXPECT_EQ(form(picked), names[p - 1]);
    }
}

TEST_F(Series, ClearEndsAtTheHead)
{
    cell* s = read("a b c");
    gc_cell_root keep_root(*s);   // the series outlives the argument cell the action rewrites
    cell& keep = keep_root.value;
    series::clear(series::next(s));
    EXPECT_EQ(mold(&keep), "[a]");
}

}  // namespace
