// time!: constructors, fields, text, conversion and arithmetic.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"

namespace {

using namespace num;
using TimeTest = test::StackTest;

const double inf = float_::infinity;

TEST_F(TimeTest, ConstructorsMakeTimeCells)
{
    cell* blk = block::push_only_star(2);
    time_::make_in(blk, 5415.0);
    time_::make_in(blk, 0x40590000, 0);
    EXPECT_EQ(test::mold(*block::rs_head(blk)), "1:30:15");
    EXPECT_EQ(test::mold(block::rs_head(blk)[1]), "0:01:40");
    EXPECT_EQ(test::form(*time_::push(-90 * 60)), "-1:30:00");
    cell slot{TYPE_INTEGER | HEADER_NEW_LINE, 0, 0, 0};
    time_::make_at(&slot, 1.0);
    EXPECT_EQ(slot.header, TYPE_TIME | HEADER_NEW_LINE) << "make_at changes only the type byte";
}

TEST_F(TimeTest, Text)
{
    struct row { double seconds; const char* text; };
    const row rows[] = {
        {3723, "1:02:03"},
        {1.5, "0:00:01.5"},
        {-5400, "-1:30:00"},
        {0.25, "0:00:00.25"},
        {360000, "100:00:00"},
        {5, "0:00:05"},
        {0.0000001, "0:00:00"},
        {1e-6, "0:00:00.000001"},
        {3600 * 0x1p60, "1152921504606847000:00:00"},   // hours past 32 bits: the double's digits
        {inf, "1.#INF"},
        {-inf, "-1.#INF"},
        {float_::quiet_nan, "1.#NaN"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(test::form(t(r.seconds)), r.text) << r.seconds;
        EXPECT_EQ(test::mold(t(r.seconds)), r.text) << r.seconds;
    }
}

TEST_F(TimeTest, FieldsAndPick)
{
    cell negative = hms(-1, -30, -15);
    EXPECT_EQ(int_of(*time_::get_field(&negative, time_::FIELD_HOUR)), -1);
    EXPECT_EQ(int_of(*time_::get_field(&negative, time_::FIELD_MINUTE)), 30);
    EXPECT_EQ(float_of(*time_::get_field(&negative, time_::FIELD_SECOND)), -15.0);
    cell positive = hms(1, 30, 15), four = i(4), second = *word::load("SECOND"), other = *word::load("day");
    auto pick = [](cell value, cell index) {
        return call([](cell* v, cell* n) { return time_::pick(v, int32_t(n->data2), n); }, value, index);
    };
    EXPECT_EQ(test::mold(pick(positive, i(2))), "30");
    EXPECT_EQ(test::mold(pick(positive, second)), "15.0") << "field words ignore case";
    EXPECT_EQ(error_of([&] { pick(positive, four); }), code(ERR_SCRIPT, err::OUT_OF_RANGE));
    EXPECT_EQ(error_of([&] { pick(positive, other); }), code(ERR_SCRIPT, err::CANNOT_USE));
    EXPECT_EQ(error_of([] { time_::get_hours(1e20); }), code(ERR_SCRIPT, err::TYPE_LIMIT));
}

cell path_step(cell value, cell element, const cell* v = nullptr)
{
    return num::path_step(time_::eval_path, value, element, v);
}

TEST_F(TimeTest, PathSettersAreTheGettersInverses)
{
    cell hour = *word::load("hour"), minute = *word::load("minute"), second = *word::load("second");
    struct row { const char* name; cell time, field, value; const char* after; };
    const row rows[] = {
        {"minute 5", hms(1, 30, 15), minute, i(5), "1:05:15"},
        {"second 2.5", hms(1, 30, 15), second, f(2.5), "1:30:02.5"},
        {"hour 3 by index", hms(1, 30, 15), i(1), i(3), "3:30:15"},
        {"negative: its own hour", hms(-1, -30, -15), hour, i(-1), "-1:30:15"},
        {"negative: its own minute", hms(-1, -30, -15), minute, i(30), "-1:30:15"},
        {"negative: its own second", hms(-1, -30, -15), second, f(-15), "-1:30:15"},
        {"negative: hour -2", hms(-1, -30, -15), hour, i(-2), "-2:30:15"},
        {"negative: minute 10", hms(-1, -30, -15), minute, i(10), "-1:10:15"},
        {"below an hour: its own hour", hms(0, -30, 0), hour, i(0), "-0:30:00"},
    };
    for (const row& r : rows) {
        cell after = path_step(r.time, r.field, &r.value);
        EXPECT_EQ(test::mold(after), r.after) << r.name;
        int32_t index = cell_type(&r.field) == TYPE_INTEGER ? int_of(r.field) : time_::field_index(&r.field, &r.field);
        cell read = path_step(after, i(index));
        EXPECT_EQ(test::mold(read), test::mold(index == 3 && r.value.header == TYPE_INTEGER ? f(int_of(r.value)) : r.value))
            << r.name << ": the getter reads back what was set";
    }
    cell day = *word::load("day"), text_value = text("x");
    EXPECT_EQ(test::mold(path_step(hms(1, 2, 3), minute)), "2");
    EXPECT_EQ(error_of([&] { path_step(hms(1, 2, 3), i(4)); }), code(ERR_SCRIPT, err::INVALID_PATH));
    EXPECT_EQ(error_of([&] { path_step(hms(1, 2, 3), day); }), code(ERR_SCRIPT, err::INVALID_PATH));
    EXPECT_EQ(error_of([&] { path_step(hms(1, 2, 3), hour, &text_value); }), code(ERR_SCRIPT, err::INVALID_ARG));
    cell half = f(0.5);
    EXPECT_EQ(error_of([&] { path_step(hms(1, 2, 3), minute, &half); }), code(ERR_SCRIPT, err::INVALID_ARG));
}

cell to_time(cell spec)
{
    return call([](cell* proto, cell* s) { return time_::make(proto, s, TYPE_TIME); }, type(TYPE_TIME), spec);
}

TEST_F(TimeTest, ToTime)
{
    struct row { const char* name; cell spec; const char* want; };
    const row rows[] = {
        {"[1 30]", block_of({i(1), i(30)}), "1:30:00"},
        {"[-1 30]", block_of({i(-1), i(30)}), "-1:30:00"},
        {"[0 1 2.5]", block_of({i(0), i(1), f(2.5)}), "0:01:02.5"},
        {"[]", block_of({}), "0:00:00"},
        {"90", i(90), "0:01:30"},
        {"1.5", f(1.5), "0:00:01.5"},
        {"the last second of the largest hour", f(2147483648.0 * 3600 - 1), "2147483647:59:59"},
        {"the smallest hour", f(-2147483648.0 * 3600), "-2147483648:00:00"},
    };
    for (const row& r : rows) {
        cell result = to_time(r.spec);
        EXPECT_EQ(result.header, uint32_t(TYPE_TIME)) << r.name;
        EXPECT_EQ(test::mold(result), r.want) << r.name;
    }
    const uint32_t BAD_TO = code(ERR_SCRIPT, err::BAD_TO_ARG);
    for (cell bad : {block_of({i(1), i(-30)}), block_of({i(1), i(2), i(3), i(4)}), block_of({f(1.5), i(0)}),
                     block_of({i(1), i(0), i(-1)}), none_value})
        EXPECT_EQ(error_of([&] { to_time(bad); }), BAD_TO) << test::mold(bad);
    // An hour beyond 32 bits is refused, naming the spec.
    for (cell far : {f(1e300), f(2147483648.0 * 3600), f(-2147483649.0 * 3600), f(float_::infinity),
                     f(float_::quiet_nan), block_of({i(0), i(0), f(1e300)})}) {
        EXPECT_EQ(error_of([&] { to_time(far); }), code(ERR_SCRIPT, err::OUT_OF_RANGE)) << test::mold(far);
        cell named = raised_error_get().args[0];
        EXPECT_EQ(test::mold(named), test::mold(far));
    }
}

TEST_F(TimeTest, TextLoadsAsOneValue)
{
    EXPECT_EQ(test::mold(to_time(text("1:30"))), "1:30:00");
    EXPECT_EQ(test::mold(to_time(text("-0:00:01.5"))), "-0:00:01.5");
    for (const char* bad : {"1", "1:30 x", "", "abc"})
        EXPECT_EQ(error_of([&] { to_time(text(bad)); }), code(ERR_SCRIPT, err::BAD_TO_ARG)) << '"' << bad << '"';
}

TEST_F(TimeTest, Arithmetic)
{
    cell date{TYPE_DATE, 0, 0, 0};
    struct row { const char* name; binary_fn action; cell a, b; uint32_t type; const char* mold; };
    const row rows[] = {
        {"1:00 / 0:30 is a ratio", time_::divide, hms(1, 0, 0), hms(0, 30, 0), TYPE_FLOAT, "2.0"},
        {"1:00 / 2", time_::divide, hms(1, 0, 0), i(2), TYPE_TIME, "0:30:00"},
        {"1:00 / 0", time_::divide, hms(1, 0, 0), i(0), TYPE_TIME, "1.#INF"},
        {"1:00 + 30", time_::add, hms(1, 0, 0), i(30), TYPE_TIME, "1:00:30"},
        {"1:00 - 0:00:01.5", time_::subtract, hms(1, 0, 0), t(1.5), TYPE_TIME, "0:59:58.5"},
        {"0:01 * 2.5", time_::multiply, t(60), f(2.5), TYPE_TIME, "0:02:30"},
        {"remainder 1:00:10 0:01", actions_of(TYPE_TIME).remainder, hms(1, 0, 10), t(60), TYPE_TIME, "0:00:10"},
    };
    for (const row& r : rows) {
        cell result = call(r.action, r.a, r.b);
        EXPECT_EQ(cell_type(&result), r.type) << r.name;
        EXPECT_EQ(test::mold(result), r.mold) << r.name;
    }
    const uint32_t NOT_RELATED = code(ERR_SCRIPT, err::NOT_RELATED);
    EXPECT_EQ(error_of([] { call(time_::multiply, t(60), t(60)); }), NOT_RELATED);
    EXPECT_EQ(error_of([&] { call(time_::subtract, t(60), date); }), NOT_RELATED);
}

TEST_F(TimeTest, RoundStaysATime)
{
    cell minute = i(60), quarter = hms(0, 15, 0);
    auto rounded = [](cell value, const cell* scale) {
        return call([scale](cell* v, cell* s) {
            return time_::round(v, scale ? s : nullptr, false, false, false, false, false, false);
        }, value, scale ? *scale : cell{TYPE_UNSET, 0, 0, 0});
    };
    EXPECT_EQ(test::mold(rounded(hms(1, 23, 45), &minute)), "1:24:00");
    EXPECT_EQ(test::mold(rounded(hms(1, 23, 45), &quarter)), "1:30:00");
    EXPECT_EQ(test::mold(rounded(t(3600.6), nullptr)), "1:00:01");
    EXPECT_EQ(test::mold(rounded(hms(1e6, 0, 1), &minute)), "1000000:00:00") << "past the int32 range of seconds";
}

TEST_F(TimeTest, EvenAndOddLookAtTheWholeSeconds)
{
    struct row { double seconds; bool odd; };
    const row rows[] = {{62, false}, {59.9999995, false}, {59.5, true}, {-3, true}, {inf, false}};
    for (const row& r : rows) {
        EXPECT_EQ(call(time_::odd_q, t(r.seconds)).data1, uint32_t(r.odd)) << r.seconds;
        EXPECT_EQ(call(time_::even_q, t(r.seconds)).data1, uint32_t(!r.odd)) << r.seconds;
    }
}

}  // namespace

#include "datatypes/objects.h"

namespace {

using TimeEvents = tob::Objects;

// One path step that sets a field, as the evaluator makes it when the time sits in an object's
// field or in a series, with the grandparent and the previous element of the path.
void set_through_path(cell* parent, const char* field, int32_t value, cell* grandparent, const cell& previous)
{
    cell* mark = stack::top();
    cell name = tob::word(field);
    cell* element = stack::push(&name);
    cell* v = integer::push(value);
    cell* prev = stack::push(&previous);
    time_::eval_path(parent, element, v, &none_value, grandparent, prev, 1, false, false, true, true);
    stack_s.top = mark;
}

TEST_F(TimeEvents, AFieldSetThroughAnObjectTellsItsOnChange)
{
    cell* o = tob::with_handlers("t: none", "w old new", nullptr);
    cell t_word = tob::word("t"), start = num::hms(1, 30, 15);
    cell* slot = object::select_word(o, &t_word);
    *slot = start;
    set_through_path(slot, "hour", 3, o, t_word);
    EXPECT_EQ(tob::calls, std::vector<std::string>{"on-change* | t | 1:30:15 | 3:30:15"});
    EXPECT_EQ(test::mold(tob::field(o, "t")), "3:30:15");
}

TEST_F(TimeEvents, AFieldSetInAnOwnedSeriesTellsItsOnDeepChange)
{
    cell* o = tob::with_handlers("b: [x]", nullptr, "owner word target action value index part");
    cell b = tob::field(o, "b");
    *block::rs_head(&b) = num::hms(1, 30, 15);
    cell* held = stack::push(&b);
    set_through_path(block::rs_head(held), "minute", 5, held, num::i(1));
    EXPECT_EQ(tob::calls,
              std::vector<std::string>{"on-deep-change* | object | b | [1:05:15] | set-path | 5 | 2 | 1"});
}

}  // namespace
