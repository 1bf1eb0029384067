// percent!: the text of the fraction times 100, constructors, and float!'s routines on percents.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"
#include "runtime/datatypes/percent.h"

namespace {

using namespace num;
using PercentTest = test::StackTest;

TEST_F(PercentTest, TextConstructorsAndArithmetic)
{
    struct row { double fraction; const char* text; };
    const row rows[] = {{0.5, "50%"}, {0.0, "0%"}, {0.125, "12.5%"}, {-0.015, "-1.5%"}, {1e-5, "0.001%"}};
    for (const row& r : rows) {
        EXPECT_EQ(test::mold(*percent::push(r.fraction)), r.text) << r.fraction;
        EXPECT_EQ(test::form(*percent::push(r.fraction)), r.text) << r.fraction;
    }
    cell* blk = block::push_only_star(1);
    percent::make_in(blk, 0x3FE00000, 0);
    EXPECT_EQ(test::mold(*block::rs_head(blk)), "50%") << "from the double's raw words";
    cell half = *percent::push(0.5);
    EXPECT_EQ(float_of(call([](cell* s, cell*) { return float_::make(s + 1, s, TYPE_FLOAT); }, half)), 0.5);
    EXPECT_EQ(test::mold(call(actions_of(TYPE_PERCENT).add, half, half)), "100%") << "float!'s arithmetic";
}

}  // namespace
