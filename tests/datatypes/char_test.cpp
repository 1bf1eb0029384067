// char!: constructors, arithmetic inside the code point range, comparison, text, conversion.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"

namespace {

using namespace num;
using CharTest = test::StackTest;

TEST_F(CharTest, ConstructorsMakeCharCells)
{
    cell* blk = block::push_only_star(2);
    char_::make_in(blk, 'a');
    EXPECT_EQ(test::mold(*block::rs_head(blk)), "#\"a\"");
    EXPECT_EQ(test::form(*char_::push(0xE9)), "\xC3\xA9");
}

}  // namespace
