// time!: constructors, fields, text, conversion and arithmetic.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"

namespace {

using namespace num;
using TimeTest = test::StackTest;

TEST_F(TimeTest, ConstructorsMakeTimeCells)
{
    cell* blk = block::push_only_star(2);
    time_::make_in(blk, 5415.0);
    EXPECT_EQ(test::mold(*block::rs_head(blk)), "1:30:15");
    EXPECT_EQ(test::form(*time_::push(-90 * 60)), "-1:30:00");
}

}  // namespace
