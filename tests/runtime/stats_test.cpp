// The memory report.
#include <gtest/gtest.h>

#include "runtime/datatypes/block.h"
#include "runtime/memory.h"
#include "runtime/rterror.h"
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

// A total of the report: integer! while it fits, float! beyond.
double number_of(const cell* c) { return cell_type(c) == TYPE_FLOAT ? cell_float(c) : double(int32_t(c->data2)); }

// The level 2 report, in a new block pushed on the stack.
cell* report()
{
    cell* result = block::make_at(stack::push_slot(), 8);
    memory::stats(result, 2);
    return result;
}

// The totals follow what is allocated: a buffer adds its size, 24 bytes of header and trailer and
// a 4-byte node to the bytes in use; a big block adds its need and 12 to the grand total, a node
// frame 4 bytes a node and 36.
TEST(Stats, TotalsFollowWhatIsAllocated)
{
    test::no_collect hold;   // nothing may be reclaimed between the reports
    memory_s.series_current = ref_of(series_frame_new());   // room for everything below
    cell* first = report();
    cell* items = block::rs_head(first);
    double grand = number_of(items + 3) - number_of(items + 4);
    uint32_t bigs = block::rs_length(items + 2);
    double used = memory::stats(first, 1);
    uint32_t small = 0;
    for (uint32_t n = 100; n < 200; n++) {
        bytes_alloc(n);
        small += round_up_to(n, 16) + 24 + 4;
    }
    EXPECT_EQ(memory::stats(first, 1), used + small);
    const uint32_t big_need = 3 * 1024 * 1024 + 24;
    bytes_alloc(big_need - 24);
    node_frame_new(NODE_FRAME_NODES);
    EXPECT_EQ(memory::stats(first, 1), used + small + big_need + 4);
    EXPECT_EQ(memory::stats(first, 0), 0.0);
    EXPECT_EQ(block::rs_length(first), 5u) << "levels 0 and 1 append nothing";

    cell* second = report();
    items = block::rs_head(second);
    EXPECT_EQ(number_of(items + 3) - number_of(items + 4), grand + big_need + 12 + 4 * NODE_FRAME_NODES + 36);
    EXPECT_EQ(number_of(items + 4), double(rt_heap_total()));
    ASSERT_EQ(block::rs_length(items + 2), bigs + 1);
    EXPECT_EQ(block::rs_head(items + 2)[bigs].data2, big_need);
    stack::pop(2);
}

}  // namespace
