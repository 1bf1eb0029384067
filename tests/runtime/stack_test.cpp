// The argument stack's windows and the refinement helpers of compiled code.
#include "runtime/datatypes/typeset.h"
#include "support/values.h"

namespace {

using namespace tv;
using Stack = Values;

TEST_F(Stack, RefinementsNone)
{
    cell* base = stack::push(&unset_value);
    stack::push(&unset_value);
    stack::push(&unset_value);
    stack::push(&unset_value);
    refinements_none(&false_value, 1, 2);
    EXPECT_EQ(cell_type(base + 2), uint32_t(TYPE_NONE));
    EXPECT_EQ(cell_type(base + 3), uint32_t(TYPE_NONE));
    refinements_none(&true_value, 1, 2);
    EXPECT_EQ(base[1].data1, 1u);
}

TEST_F(Stack, ArgGivenOnlyAboveTheArgumentsBase)
{
    cell* base = stack::push(&unset_value);
    cell* given = stack::push(&true_value);
    EXPECT_FALSE(arg_given(nullptr));
    EXPECT_FALSE(arg_given(base)) << "the base is the result cell, never an argument";
    EXPECT_FALSE(arg_given(base - 1));
    EXPECT_TRUE(arg_given(given));
}

}  // namespace

namespace {

using namespace tv;
using ArgumentChecks = Values;

// An evaluator's view of the call: the function is `add`, its arguments are named a, b, c...
void names_of_add(int32_t index, cell* function_word, cell* argument_word)
{
    *function_word = *word::load("add");
    if (index >= 0) *argument_word = *word::load(std::string(1, char('a' + index)).c_str());
}

TEST_F(ArgumentChecks, TypeChecksNameTheFunctionTheTypeAndTheArgument)
{
    cell numbers = *typeset::push();
    typeset::add(&numbers, TYPE_INTEGER);
    typeset::add(&numbers, TYPE_FLOAT);
    cell one = integer(1), text = *new_buffer();
    EXPECT_EQ(arg_type_check(&numbers, 0, &one), &one);
    auto saved = call_words_hook;
    call_words_hook = names_of_add;
    uint32_t error = error_of([&] { arg_type_check(&numbers, 1, &text); });
    const raised_error& raised = raised_error_get();
    call_words_hook = saved;
    EXPECT_EQ(error, code(ERR_SCRIPT, err::EXPECT_ARG));
    EXPECT_EQ(mold(const_cast<cell*>(&raised.args[0])), "add");
    EXPECT_EQ(mold(const_cast<cell*>(&raised.args[1])), "string!");
    EXPECT_EQ(mold(const_cast<cell*>(&raised.args[2])), "b");
    EXPECT_EQ(error_of([&] { arg_need_value(0, &unset_value); }), code(ERR_SCRIPT, err::EXPECT_ARG));
    EXPECT_EQ(mold(const_cast<cell*>(&raised_error_get().args[1])), "unset!");
}

TEST_F(ArgumentChecks, WindowSlotsAndRefinements)
{
    cell integers = *typeset::push();
    typeset::add(&integers, TYPE_INTEGER);
    cell* base = stack::push(&unset_value);
    stack::push(&none_value);
    stack_s.arguments = base;
    arg_type_check_at(-1, &integers, 0);
    EXPECT_EQ(error_of([&] { arg_type_check_at(1, &integers, 0); }), code(ERR_SCRIPT, err::EXPECT_ARG));
    cell unused{TYPE_LOGIC, 0, 0, 0}, used{TYPE_LOGIC, 1, 0, 0};
    EXPECT_EQ(error_of([&] { arg_type_check_if_used(&unused, &integers, 0, base + 1); }), 0u);
    EXPECT_EQ(error_of([&] { arg_type_check_if_used(&used, &integers, 0, base + 1); }), code(ERR_SCRIPT, err::EXPECT_ARG));
}

}  // namespace
