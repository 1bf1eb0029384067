// Heap growth under sustained garbage: collections must run and the heap must stay within a small
// multiple of the live data, whatever shape earlier work left the frames in. These tests measure
// the allocator's own trigger, so they run without the stress modes (which collect at every
// allocation and would hide a trigger that never fires).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bench/workloads.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/memory.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

constexpr uint32_t MB = 1024 * 1024;

class HeapGrowth : public test::StackTest {
protected:
    test::natural_collections natural;
};

uint32_t node_frame_count()
{
    uint32_t n = 0;
    for (uint32_t r = memory_s.node_first; r; r = at<node_frame>(r)->next) n++;
    return n;
}

// Garbage of `count` buffers of `size` bytes each: the collections it runs and the heap's growth.
struct growth { uint32_t collections; uint32_t grown; };
growth make_garbage(uint32_t count, uint32_t size)
{
    uint32_t cycles = collector_s.cycles;
    uint32_t total = memory_s.total, peak = total;
    for (uint32_t i = 0; i < count; i++) {
        bytes_alloc(size);
        peak = std::max(peak, memory_s.total);
    }
    return {collector_s.cycles - cycles, peak - total};
}

TEST_F(HeapGrowth, SmallGarbageCollectsWhileAnEarlierFrameIsNearlyFull)
{
    collector::do_cycle();
    // The first frame's live prefix never moves: fill it up to 1,000 bytes of room with a kept
    // buffer (unless the boot left it with less). Such a frame is passed over for new buffers, and
    // must not stop collections either.
    series_frame* first = at<series_frame>(memory_s.series_first);
    memory_s.series_current = memory_s.series_first;
    uint32_t room = first->end - first->heap;
    node_ref filler = room > 1000u + 24 + 16 ? bytes_alloc((room - 1000 - 24) & ~15u) : bytes_alloc(0);
    gc_root keep(filler);
    ASSERT_TRUE(first->end - first->heap < 1016);
    // A collection is due once as much as the last one left in use (the boot's data) was handed
    // out again: the heap grows by that and a frame or so, never by the whole garbage (48 MB here).
    uint32_t budget = std::max(memory_s.live_after, COLLECT_BUDGET_MIN);
    growth g = make_garbage(1000000, 24);
    EXPECT_GE(g.collections, 10u);
    EXPECT_LT(g.grown, 2 * budget + 2 * MB);
}

TEST_F(HeapGrowth, SmallGarbageCollectsAfterTheBenchmarksHeapShape)
{
    // What the allocation benchmarks leave: frames of small blocks made with the collector off and
    // then collected, then short-lived blocks and strings with a small live set.
    bench::small_blocks_held(1000000);
    collector::do_cycle();
    bench::short_lived_blocks_and_strings(1000000);
    growth g = make_garbage(2000000, 16);
    EXPECT_GE(g.collections, 10u);
    EXPECT_LT(g.grown, 4 * MB);
}

// Sustained garbage of one size class against a live set of about 2 MB that keeps changing, so that
// holes open in earlier frames: the peak heap stays within a small multiple of the live data.
TEST_F(HeapGrowth, SustainedGarbageKeepsTheHeapNearTheLiveData)
{
    struct row { const char* name; uint32_t min_size, max_size, count; };
    const row rows[] = {
        {"small", 8, 64, 1000000},
        {"mixed", 8, 64 * 1024, 30000},
        {"large, in frames and big blocks", 256 * 1024, 3 * MB, 300},
    };
    const uint32_t live_count = 64, live_size = 32 * 1024;
    for (const row& r : rows) {
        std::mt19937 rng(7);
        cell* live = block::make_at(stack::push_slot(), live_count);
        for (uint32_t i = 0; i < live_count; i++) {
            cell binary{TYPE_BINARY, 0, bytes_alloc(live_size), 0};
            block::rs_append(live, &binary);
        }
        collector::do_cycle();
        uint32_t base = memory_s.total, peak = base;
        uint32_t cycles = collector_s.cycles;
        uint32_t since_replaced = 0;
        for (uint32_t i = 0; i < r.count; i++) {
            uint32_t size = r.min_size + rng() % (r.max_size - r.min_size + 1);
            bytes_alloc(size);
            since_replaced += size;
            if (since_replaced >= 256 * 1024) {   // one live buffer replaced: its old place becomes a hole
                cell binary{TYPE_BINARY, 0, bytes_alloc(live_size), 0};
                block::rs_head(live)[rng() % live_count] = binary;
                since_replaced = 0;
            }
            peak = std::max(peak, memory_s.total);
        }
        EXPECT_GE(collector_s.cycles - cycles, 5u) << r.name;
        EXPECT_LT(peak - base, 2 * live_count * live_size + 2 * r.max_size + 4 * MB) << r.name;
        stack::pop(1);
    }
}

// A live set that only grows: each collection finds everything alive, so collecting at every new
// frame would mark the whole set again per frame (quadratic in its size). Collections stay
// logarithmic in the live size and the heap within a small multiple of it.
TEST_F(HeapGrowth, AGrowingLiveSetIsNotMarkedAgainAtEveryFrame)
{
    collector::do_cycle();
    const uint32_t count = 12000, size = 4096;   // about 48 MB kept, all in series frames
    cell* live = block::make_at(stack::push_slot(), 16);
    uint32_t cycles = collector_s.cycles;
    uint32_t base = memory_s.total;
    for (uint32_t i = 0; i < count; i++) {
        cell binary{TYPE_BINARY, 0, bytes_alloc(size), 0};
        block::rs_append(live, &binary);
    }
    EXPECT_GE(collector_s.cycles - cycles, 3u);
    EXPECT_LE(collector_s.cycles - cycles, 10u);
    EXPECT_LT(memory_s.total - base, 3 * count * size);
    stack::pop(1);
}

TEST_F(HeapGrowth, ShortLivedSeriesReuseTheirNodeFrames)
{
    // Each round makes two and a half node frames' worth of series that die before the next
    // collection: the frames they emptied serve the next round instead of being made again.
    auto round = [] {
        for (int i = 0; i < 25000; i++) bytes_alloc(16);
        collector::do_cycle();
    };
    collector::do_cycle();
    round();
    round();
    uint32_t made = memory_s.node_frames_made;
    uint32_t frames = node_frame_count();
    for (int i = 0; i < 5; i++) round();
    EXPECT_EQ(memory_s.node_frames_made, made) << "node frames were made and released every cycle";
    // Once the churn stops, frames that stay empty for a second cycle go back to the system.
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_LT(node_frame_count(), frames);
}

}  // namespace
