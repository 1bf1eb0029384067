// integer!: constructors, arithmetic and its promotions to float!, rounding, conversions, text.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"

namespace {

using namespace num;
using IntegerTest = test::StackTest;

TEST_F(IntegerTest, ConstructorsWriteTheWholeHeaderExceptMakeAt)
{
    cell slot{TYPE_STRING | HEADER_NEW_LINE, 1, 2, 3};
    integer::make_at(&slot, -5);
    EXPECT_EQ(slot.header, TYPE_INTEGER | HEADER_NEW_LINE) << "make_at changes only the type byte";
    EXPECT_EQ(integer::get(&slot), -5);
    cell* pushed = integer::push(7);
    EXPECT_EQ(pushed->header, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(pushed, stack::top() - 1);
    cell* blk = block::push_only_star(2);
    integer::make_in(blk, 9);
    EXPECT_EQ(integer::get(block::rs_head(blk)), 9);
    EXPECT_EQ(test::mold(*block::rs_head(blk)), "9");
}

}  // namespace
