// float!: constructors, the form and mold texts, tolerant comparison, arithmetic and rounding.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"

namespace {

using namespace num;
using FloatTest = test::StackTest;

TEST_F(FloatTest, ConstructorsKeepTheBitsInWordsTwoAndThree)
{
    cell* pushed = float_::push64(0x3FF00000, 0);
    EXPECT_EQ(pushed->header, uint32_t(TYPE_FLOAT));
    EXPECT_EQ(float_::get(pushed), 1.0);
    cell* blk = block::push_only_star(2);
    float_::make_in(blk, 0xBFF80000, 0);
    float_::make_in(blk, 0.5);
    EXPECT_EQ(float_::get(block::rs_head(blk)), -1.5);
    EXPECT_EQ(test::mold(block::rs_head(blk)[1]), "0.5");
}

}  // namespace
