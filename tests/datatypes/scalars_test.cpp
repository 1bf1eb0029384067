// datatype!, unset!, none! and logic!: registry rows, text, comparison, construction and truth.
#include <gtest/gtest.h>

#include <cmath>

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors.h"
#include "support/values.h"

namespace {

const cell T = true_value, F = false_value, NONE = none_value, UNSET = unset_value;
const cell INTEGER_TYPE{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
const cell STRING_TYPE{TYPE_DATATYPE, TYPE_STRING, 0, 0};

TEST(Registry, ChildTakesParentRoutineOnlyWhereAsked)
{
    auto parent_form = [](cell*, cell*, cell*, int32_t part) -> int32_t { return part - 1; };
    auto child_mold = [](cell*, cell*, bool, bool, bool, cell*, int32_t part, int32_t) -> int32_t { return part; };
    form_fn pf = parent_form;
    mold_fn cm = child_mold;
    // Two spare ids stand in for a parent and its child.
    datatype::register_type(55, 0, "parent!", {.form = pf});
    datatype::register_type(56, 55, "child!", {.make = inherit, .form = inherit, .mold = cm, .compare = inherit});
    EXPECT_EQ(actions_of(56).form, pf);
    EXPECT_EQ(actions_of(56).mold, cm);
    EXPECT_EQ(actions_of(56).make, nullptr) << "inherited from a parent that has none";
    EXPECT_EQ(actions_of(56).at, nullptr) << "not asked to inherit";
    EXPECT_FALSE(action_present(56, ACT_MAKE));
    EXPECT_TRUE(action_present(56, ACT_MOLD));
    EXPECT_EQ(datatype_s.types[56].length, 5u);
    // The row was copied at registration: a later change of the parent does not reach the child.
    datatype_s.rows[55].form = nullptr;
    EXPECT_EQ(actions_of(56).form, pf);
    datatype_s.types[55] = datatype_s.types[56] = type_entry{};
    datatype_s.rows[55] = datatype_s.rows[56] = action_table_row{};
}

TEST(Registry, BlockAndStringTakeTheSeriesRoutines)
{
    ASSERT_NE(actions_of(TYPE_SERIES).at, nullptr);
    EXPECT_EQ(actions_of(TYPE_BLOCK).at, actions_of(TYPE_SERIES).at);
    EXPECT_EQ(actions_of(TYPE_STRING).skip, actions_of(TYPE_SERIES).skip);
}

TEST(Registry, SetPathSlotIsEmptyForEveryType)
{
    for (uint32_t t = 1; t <= datatype_s.max_type; t++) EXPECT_FALSE(action_present(t, ACT_SET_PATH)) << t;
}

TEST(Scalars, Text)
{
    struct row { cell value; const char* form; const char* mold; const char* mold_all; };
    const row rows[] = {
        {cell{TYPE_DATATYPE, TYPE_LOGIC, 0, 0}, "logic", "logic!", "#(logic!)"},
        {UNSET, "", "unset", "#(unset)"},
        {NONE, "none", "none", "#(none)"},
        {T, "true", "true", "#(true)"},
        {F, "false", "false", "#(false)"},
        {cell{TYPE_LOGIC, 2, 0, 0}, "false", "false", "#(false)"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(test::form(r.value), r.form);
        EXPECT_EQ(test::mold(r.value), r.mold);
        EXPECT_EQ(test::mold(r.value, true), r.mold_all);
    }
}

TEST(Scalars, Compare)
{
    struct row { const char* name; cell a, b; int32_t op; int32_t want; };
    const row rows[] = {
        {"integer! = integer!", INTEGER_TYPE, INTEGER_TYPE, COMP_EQUAL, 0},
        {"integer! = 1", INTEGER_TYPE, test::integer(1), COMP_EQUAL, 1},
        {"integer! < string! is not comparable", INTEGER_TYPE, STRING_TYPE, COMP_LESSER, -2},
        {"none = none", NONE, NONE, COMP_EQUAL, 0},
        {"none = false is not comparable", NONE, F, COMP_EQUAL, -2},
        {"none < none is not an order", NONE, NONE, COMP_LESSER, -2},
        {"unset = unset", UNSET, UNSET, COMP_EQUAL, 0},
        {"false sorts before true", F, T, COMP_SORT, -1},
        {"true = true", T, T, COMP_STRICT_EQUAL, 0},
        {"logic < is not an order", F, T, COMP_LESSER, -2},
        {"true = 1", T, test::integer(1), COMP_EQUAL, -2},
    };
    for (const row& r : rows) EXPECT_EQ(test::compare(r.a, r.b, r.op), r.want) << r.name;
}

TEST(Scalars, LogicConstruction)
{
    struct row { const char* name; bool make; cell spec; uint32_t want; };
    const row rows[] = {
        {"make logic! 0", true, test::integer(0), 0},
        {"make logic! 2", true, test::integer(2), 1},
        {"make logic! 0.0", true, test::float_(0.0), 0},
        {"make logic! NaN", true, test::float_(std::nan("")), 1},
        {"to logic! 0", false, test::integer(0), 1},
        {"to logic! none", false, NONE, 0},
        {"to logic! false", false, F, 0},
    };
    for (const row& r : rows) {
        cell* base = stack::top();
        cell proto = F;
        cell spec = r.spec;
        cell* result = r.make ? logic::make(&proto, &spec, TYPE_LOGIC) : logic::to(&proto, &spec, TYPE_LOGIC);
        EXPECT_EQ(cell_type(result), TYPE_LOGIC) << r.name;
        EXPECT_EQ(result->data1, r.want) << r.name;
        stack_s.top = base;
    }
}

TEST(Scalars, Truth)
{
    EXPECT_EQ(logic::true_q(&NONE, false, nullptr), 0u);
    EXPECT_EQ(logic::true_q(&F, false, nullptr), 0u);
    cell two{TYPE_LOGIC, 2, 0, 0};
    EXPECT_EQ(logic::true_q(&two, false, nullptr), 0u);
    cell zero = test::integer(0);
    EXPECT_EQ(logic::true_q(&zero, false, nullptr), 1u);
    EXPECT_EQ(logic::true_q(&UNSET, false, nullptr), 1u);
    EXPECT_THROW(logic::true_q(&UNSET, true, &NONE), script_error_unwind);
    EXPECT_EQ(raised_error_get().code(), 300u + err::NO_VALUE);
}

TEST(Scalars, LogicBitwise)
{
    struct row { cell a, b; cell* (*op)(cell*, cell*); uint32_t want; };
    const row rows[] = {
        {T, F, logic::and_t, 0}, {T, T, logic::xor_t, 0}, {F, T, logic::or_t, 1}, {T, F, logic::xor_t, 1},
    };
    for (const row& r : rows) {
        cell a = r.a, b = r.b;
        EXPECT_EQ(r.op(&a, &b)->data1, r.want);
    }
}

// A non-logic second argument: script/expect-arg naming the action, the datatype and the argument.
TEST(Scalars, LogicBitwiseNamesTheActionAndArgument)
{
    struct row { cell* (*op)(cell*, cell*); const char* action; };
    const row rows[] = {{logic::and_t, "and~"}, {logic::or_t, "or~"}, {logic::xor_t, "xor~"}};
    for (const row& r : rows) {
        cell* a = stack::push(&T);
        cell* b = stack::push_slot();
        *b = test::integer(1);
        EXPECT_EQ(test::raised([&] { r.op(a, b); }), 300u + err::EXPECT_ARG) << r.action;
        const raised_error& e = raised_error_get();
        EXPECT_EQ(cell_type(&e.args[0]), uint32_t(TYPE_WORD)) << r.action;
        EXPECT_EQ(test::form(e.args[0]), r.action);
        EXPECT_EQ(test::form(e.args[1]), "integer");
        EXPECT_EQ(test::form(e.args[2]), "value2") << r.action;
        stack::pop(2);
    }
}

TEST(Scalars, NoneSeriesActionsGiveNone)
{
    cell v = NONE;
    EXPECT_EQ(none::length_q(&v), -1);
    const action_table_row& r = actions_of(TYPE_NONE);
    EXPECT_EQ(cell_type(r.clear(&v)), TYPE_NONE);
    EXPECT_EQ(cell_type(r.find(&v, &v, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false)),
              TYPE_NONE);
    EXPECT_EQ(cell_type(r.select(&v, &v, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false)),
              TYPE_NONE);
    EXPECT_EQ(cell_type(r.remove(&v, nullptr, nullptr)), TYPE_NONE);
    EXPECT_EQ(cell_type(r.take(&v, nullptr, false, false)), TYPE_NONE);
}

}  // namespace
