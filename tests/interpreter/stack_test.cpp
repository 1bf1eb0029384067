// The argument stack's windows and the refinement helpers of compiled code.
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
