// The memory manager: frames, buffers, growth and its failure paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/errors.h"
#include "runtime/memory.h"
#include "support/values.h"

namespace {

// These tests look at where fresh, unreferenced buffers land: no collection may take them.
class Memory : public ::testing::Test {
    test::no_collect hold;
};

uint32_t frame_count()
{
    uint32_t n = 0;
    for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next) n++;
    return n;
}

TEST_F(Memory, FirstSeriesFrameIsOneMegabyteThenTwo)
{
    series_frame* first = at<series_frame>(memory_s.series_first);
    EXPECT_EQ(first->size - sizeof(series_frame), 0x100000u);
    EXPECT_EQ(memory_s.series_next_size, 0x200000u);
}

TEST_F(Memory, BigBlockThreshold)
{
    series_buffer* big = series_of(bytes_alloc(2097136));
    EXPECT_TRUE(big->flags & SERIES_BIG);
    uint32_t frames = frame_count();
    series_buffer* framed = series_of(bytes_alloc(2097120));
    EXPECT_FALSE(framed->flags & SERIES_BIG);
    EXPECT_EQ(framed->size, 2097120u);
    // Only an empty 2 MB frame holds it.
    EXPECT_EQ(frame_count(), frames + 1);
    EXPECT_TRUE(memory_check_links());
}

TEST_F(Memory, SmallestAllocations)
{
    EXPECT_EQ(series_of(bytes_alloc(0))->size, 16u);
    series_buffer* s = series_of(series_alloc_unit(0, 4));
    EXPECT_EQ(s->size / 4, 4u);
    EXPECT_EQ(series_unit(s), 4u);
}

TEST_F(Memory, MiddleOffsetSetsBothRoomBits)
{
    series_buffer* s = series_of(series_alloc(10, 1, -1));
    EXPECT_EQ(s->head, s->tail);
    EXPECT_EQ(s->head - series_data_ref(s), s->size / 2);
    EXPECT_TRUE(s->flags & SERIES_ROOM_HEAD);
    EXPECT_TRUE(s->flags & SERIES_ROOM_TAIL);
}

TEST_F(Memory, ResizeDetachesOldBufferAndKeepsLength)
{
    node_ref node = bytes_alloc(16);
    series_buffer* old = series_of(node);
    for (int i = 0; i < 10; i++) *series_alloc_tail_bytes(node, 1) = uint8_t('a' + i);
    old = series_of(node);
    series_buffer* fresh = series_expand(old, 64);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SERIES_USED);
    EXPECT_EQ(series_of(node), fresh);
    EXPECT_EQ(fresh->tail - fresh->head, 10u);
    EXPECT_EQ(*at<uint8_t>(fresh->head + 9), 'j');
}

// A big block grows in place while the range after its region is free, and moves once another
// region lies there; either way the content and the links stay whole. The blocks are larger than
// any hole earlier tests leave, so each lands where the used range ends.
TEST_F(Memory, BigBlockGrowsInPlaceUntilTheRangeAfterIsTaken)
{
    const uint32_t size = 64u << 20;
    node_ref node = bytes_alloc(size);
    std::memcpy(series_alloc_tail_bytes(node, 3), "abc", 3);
    series_buffer* first = series_of(node);
    uint32_t total = memory_s.total;
    series_buffer* grown = series_expand(first, 2 * size);
    EXPECT_EQ(grown, first);
    EXPECT_EQ(grown->size, 2 * size);
    EXPECT_GE(memory_s.total, total + size);
    std::memset(at(grown->head) + 2 * size - 1, 'z', 1);   // the last byte is committed
    node_ref after = bytes_alloc(size);                      // takes the range after the block
    series_buffer* moved = series_expand(series_of(node), 4 * size);
    EXPECT_NE(moved, grown);
    EXPECT_EQ(series_of(node), moved);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(at(moved->head)), moved->tail - moved->head), "abc");
    EXPECT_EQ(series_of(after)->node, after);
    EXPECT_TRUE(memory_check_links());
}

TEST_F(Memory, SystemRefusalRaisesNoMemoryWithListsUnchanged)
{
    memory_state before = memory_s;
    memory_fail_virtual_after(1);
    try {
        bytes_alloc(8 * 1024 * 1024);   // a big block needs a new region
        FAIL() << "no error raised";
    } catch (const script_error_unwind&) {
        EXPECT_EQ(raised_error_get().code(), 900u + err::NO_MEMORY);
    }
    memory_fail_virtual_after(0);
    EXPECT_EQ(before.big_first, memory_s.big_first);
    EXPECT_EQ(before.series_first, memory_s.series_first);
    EXPECT_EQ(before.node_first, memory_s.node_first);
    EXPECT_EQ(before.total, memory_s.total);
}

TEST_F(Memory, OversizedRequestsRaiseNoMemory)
{
    struct row { const char* name; uint32_t count, unit; };
    const row rows[] = {
        {"count times unit wraps 32 bits", 0x40000000u, 16},
        {"two gigabytes", 0x80000000u, 1},
        {"just under the limit after rounding", 0x7FFFFFF8u, 1},
    };
    for (const row& r : rows) {
        try {
            series_alloc(r.count, r.unit, 0);
            ADD_FAILURE() << r.name;
        } catch (const script_error_unwind&) {
            EXPECT_EQ(raised_error_get().code(), 900u + err::NO_MEMORY) << r.name;
        }
    }
    // Doubling a buffer of 1 GB would pass 2 GB.
    series_buffer fake{1 | SERIES_USED, 0, 0x40000000u, 0, 0};
    EXPECT_THROW(series_resize(&fake, 0), script_error_unwind);
}

TEST_F(Memory, MillionMixedSeriesKeepTheirLinks)
{
    const uint32_t units[] = {1, 2, 4, 16};
    std::vector<node_ref> nodes;
    for (uint32_t i = 0; i < 1000000; i++) {
        node_ref n = series_alloc(1 + i % 7, units[i % 4], 0);
        if (i % 3 == 0) series_expand(series_of(n), 64);
        if (i % 1000 == 0) nodes.push_back(n);
    }
    EXPECT_TRUE(memory_check_links());
    for (node_ref n : nodes) EXPECT_EQ(series_of(n)->node, n);
}

}  // namespace

namespace {

TEST_F(Memory, CopyOfAFixedBufferIsAnOrdinaryOne)
{
    node_ref fixed = series_alloc_fixed(16, 1, 0);
    std::memcpy(series_alloc_tail_bytes(fixed, 3), "abc", 3);
    node_ref copy = series_copy(series_of(fixed));
    series_buffer* s = series_of(copy);
    EXPECT_FALSE(s->flags & SERIES_FIXED);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(at(s->head)), s->tail - s->head), "abc");
    EXPECT_TRUE(memory_check_links());
}

}  // namespace

namespace {

// The memory manager's routines while collections run: every allocation collects and moves.
TEST(MemoryCollected, CopyKeepsItsSourceThroughItsOwnAllocation)
{
    test::stress_collections collecting;
    node_ref source = bytes_alloc(64);   // held by nothing but the copy's argument
    std::memcpy(series_alloc_tail_bytes(source, 5), "hello", 5);
    node_ref copy = series_copy(series_of(source));
    series_buffer* s = series_of(copy);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(at(s->head)), s->tail - s->head), "hello");
    EXPECT_TRUE(memory_check_links());
}

TEST(MemoryCollected, MixedSeriesKeepTheirLinksAcrossCollections)
{
    // The allocator's own collections in the normal run; one at every allocation in the stress run,
    // where the count is cut to keep the run short.
    const uint32_t n = collector_s.stress_every ? 20000 : 1000000;
    const uint32_t units[] = {1, 2, 4, 16};
    cell* kept = block::make_at(stack::push_slot(), n / 1000 + 1);   // never grows: no fresh series waits
    for (uint32_t i = 0; i < n; i++) {
        node_ref node = series_alloc(1 + i % 7, units[i % 4], 0);
        if (i % 3 == 0) series_expand(series_of(node), 64);
        if (i % 1000 == 0) {   // unit 1: four bytes hold the number
            std::memcpy(series_alloc_tail_bytes(node, 4), &i, 4);
            cell binary{TYPE_BINARY, 0, node, 0};
            block::rs_append(kept, &binary);
        }
    }
    EXPECT_TRUE(memory_check_links());
    for (uint32_t k = 0; k < block::rs_length(kept); k++) {
        node_ref node = block::rs_head(kept)[k].data2;
        series_buffer* s = series_of(node);
        ASSERT_EQ(s->node, node);
        uint32_t number;
        std::memcpy(&number, at(s->head), 4);
        EXPECT_EQ(number, k * 1000);
    }
    stack::pop(1);
}

}  // namespace
