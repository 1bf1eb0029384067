// The memory report.
#include <gtest/gtest.h>

#include "runtime/datatypes/block.h"
#include "runtime/memory.h"
#include "runtime/stats.h"
#include "support/values.h"

namespace {

TEST(Stats, ReportShapeAndTotals)
{
    cell* result = block::make_at(stack::push_slot(), 8);
    EXPECT_EQ(memory::stats(result, 2), 0.0);
    ASSERT_EQ(block::rs_length(result), 5u);
    cell* items = block::rs_head(result);
    cell nodes = items[0];
    ASSERT_EQ(cell_type(&nodes), TYPE_BLOCK);
    cell* first = block::rs_head(&nodes);
    EXPECT_TRUE(first->header & HEADER_NEW_LINE);
    cell* triple = block::rs_head(first);
    EXPECT_EQ(triple[0].data2 + triple[1].data2, 10000u);
    EXPECT_GT(triple[1].data2, 0u);
    EXPECT_EQ(triple[2].data2, 10000u);
    cell* total = block::rs_head(result) + 3;
    EXPECT_TRUE(cell_type(total) == TYPE_INTEGER || cell_type(total) == TYPE_FLOAT);
    stack::pop(1);
}

TEST(Stats, LevelOneCountsBytesInUseAndAppendsNothing)
{
    cell* result = block::make_at(stack::push_slot(), 8);
    double before = memory::stats(result, 1);
    bytes_alloc(1000);
    EXPECT_EQ(memory::stats(result, 1), before + 4 + 1008 + 24);
    EXPECT_EQ(memory::stats(result, 0), 0.0);
    EXPECT_EQ(block::rs_length(result), 0u);
    stack::pop(1);
}

}  // namespace
