// The collector: what survives, what moves, what is released, and frame-level compaction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/extern.h"
#include "support/values.h"

namespace {

using Collector = test::StackTest;

cell* new_block(uint32_t capacity) { return block::make_at(stack::push_slot(), capacity); }

// ---- survival and release -------------------------------------------------------------------------

TEST_F(Collector, RootScopeKeepsAValueThatMovesAndTheRestIsReclaimed)
{
    test::no_collect hold;
    collector::do_cycle();
    node_ref dropped = bytes_alloc(4000);   // garbage below the kept buffer: compaction slides over it
    node_ref kept = bytes_alloc(64);
    gc_root root(kept);
    std::memcpy(series_alloc_tail_bytes(kept, 5), "hello", 5);
    uint32_t before = *at<uint32_t>(kept);
    collector::do_cycle();
    EXPECT_NE(*at<uint32_t>(kept), before) << "the kept buffer should have slid down";
    series_buffer* s = series_of(kept);
    EXPECT_EQ(s->node, kept);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(at(s->head)), 5), "hello");
    // The dropped node went back to a node frame's free list.
    bool freed = false;
    for (uint32_t r = memory_s.node_first; r && !freed; r = at<node_frame>(r)->next)
        for (uint32_t n = at<node_frame>(r)->free_list; n && !freed; n = *at<uint32_t>(n)) freed = n == dropped;
    EXPECT_TRUE(freed);
    EXPECT_TRUE(memory_check_links());
}

// The moving stress mode moves what compaction leaves in place (the first frame's live prefix, big
// blocks) and poisons the place a buffer left, so a stale address reads poison at once.
TEST_F(Collector, MovingModeMovesEveryLiveBufferAndPoisonsItsOldPlace)
{
    node_ref big = 0;
    uint32_t start = memory_s.series_first + uint32_t(sizeof(series_frame)), big_at = 0;
    node_ref prefix = 0;
    {
        test::natural_collections natural;
        collector::do_cycle();
        prefix = at<series_buffer>(start)->node;   // the first frame's first buffer: alive
        ASSERT_NE(prefix, 0u);
        big = bytes_alloc(3 * 1024 * 1024);
        cell binary{TYPE_BINARY, 0, big, 0};
        stack::push(&binary);
        std::memcpy(series_alloc_tail_bytes(big, 4), "big!", 4);
        big_at = *at<uint32_t>(big);
        collector::do_cycle();
        ASSERT_EQ(*at<uint32_t>(prefix), start) << "compaction moved the live prefix";
        ASSERT_EQ(*at<uint32_t>(big), big_at) << "compaction moved a big block";
    }
    test::stress_collections moving;
    collector::do_cycle();
    EXPECT_NE(*at<uint32_t>(prefix), start);
    EXPECT_EQ(series_of(prefix)->node, prefix);
    series_buffer* moved = series_of(big);
    EXPECT_NE(ref_of(moved), big_at);
    EXPECT_TRUE(moved->flags & SERIES_BIG);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(at(moved->head)), moved->tail - moved->head), "big!");
    EXPECT_EQ(at<series_buffer>(big_at)->flags, 0xDDDDDDDDu) << "the old place should read poison";
    EXPECT_TRUE(memory_check_links());
}

std::vector<void*> released;
void record_release(void* p) { released.push_back(p); }

TEST_F(Collector, UnreferencedHandleIsReleasedExactlyOnce)
{
    static uint32_t klass = extern_class_register("collector-test", record_release);
    released.clear();
    cell* holder = new_block(4);   // before the handle: this allocation may collect
    int32_t slot = extern_handle_alloc(reinterpret_cast<void*>(0xABC0), klass);
    cell handle{TYPE_HANDLE, 0, 0, uint32_t(slot)};
    block::rs_append(holder, &handle);
    collector::do_cycle();
    EXPECT_TRUE(released.empty()) << "a referenced handle was released";
    series_of(holder->data2)->tail = series_of(holder->data2)->head;   // drop the reference
    collector::do_cycle();
    collector::do_cycle();
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], reinterpret_cast<void*>(0xABC0));
}

TEST_F(Collector, DeepNestingIsMarkedWithoutRecursion)
{
    test::no_collect hold;
    cell* outer = new_block(1);
    cell current = *outer;
    for (int i = 0; i < 100000; i++) {
        cell* inner = block::make_in(&current, 1);
        current = *inner;
    }
    cell text;
    string::make_at(&text, 8, 1);
    string::concatenate_literal(&text, "bottom");
    block::rs_append(&current, &text);
    collector::do_cycle();
    cell walk = *outer;
    for (int i = 0; i < 100000; i++) walk = *block::rs_head(&walk);
    EXPECT_EQ(string::utf8_copy(block::rs_head(&walk)), "bottom");
    EXPECT_TRUE(memory_check_links());
}

// ---- a random graph survives many collections --------------------------------------------------

// A structural checksum: types, lengths, string texts and the shape of sharing and cycles.
uint64_t checksum(const cell* root)
{
    std::map<node_ref, uint32_t> seen;
    std::vector<cell> work{*root};
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint64_t v) { h = (h ^ v) * 1099511628211ull; };
    while (!work.empty()) {
        cell c = work.back();
        work.pop_back();
        uint32_t t = cell_type(&c);
        mix(t);
        if (t == TYPE_INTEGER) { mix(c.data2); continue; }
        node_ref node = t == TYPE_BLOCK || t == TYPE_STRING ? c.data2 : t == TYPE_WORD ? c.data1 : 0;
        if (!node) continue;
        auto it = seen.find(node);
        if (it != seen.end()) { mix(0xC0FFEE + it->second); continue; }
        seen[node] = uint32_t(seen.size());
        if (t == TYPE_STRING) {
            for (char ch : string::utf8_copy(&c)) mix(uint8_t(ch));
            continue;
        }
        if (t == TYPE_WORD) {   // a context: its values block
            cell values{TYPE_BLOCK, 0, context::cell_of(node)->data2, 0};
            work.push_back(values);
            continue;
        }
        series_buffer* s = series_of(node);
        mix((s->tail - s->head) / 16);
        for (cell* e = at<cell>(s->head); e < at<cell>(s->tail); e++) work.push_back(*e);
    }
    return h;
}

TEST_F(Collector, RandomGraphSurvivesRepeatedCollections)
{
    std::mt19937 rng(20261210);
    cell* all = new_block(10000);   // the root of everything that must live
    {
        test::no_collect hold;   // building is not what is tested; collecting at every step would be slow
        for (int i = 0; i < 10000; i++) {
            cell made;
            switch (rng() % 3) {
            case 0:
                block::make_at(&made, 4);
                break;
            case 1:
                string::make_at(&made, 8, 1);
                string::concatenate_literal(&made, i % 2 ? "odd" : "even");
                break;
            default: {
                node_ref ctx = context::create(4, false, false, 0, CONTEXT_OBJECT);
                made = cell{TYPE_WORD, ctx, 0, uint32_t(-1)};
                break;
            }
            }
            block::rs_append(all, &made);
            if (i % 7 == 0) bytes_alloc(64 + rng() % 512);   // garbage between the live buffers
        }
        // Shared and cyclic references between the blocks, and integers.
        uint32_t n = block::rs_length(all);
        for (int k = 0; k < 20000; k++) {
            cell from = block::rs_head(all)[rng() % n];
            if (cell_type(&from) != TYPE_BLOCK) continue;
            cell to = rng() % 4 ? block::rs_head(all)[rng() % n] : test::integer(k);
            block::rs_append(&from, &to);
        }
    }
    uint64_t expected = checksum(all);
    for (int cycle = 0; cycle < 1000; cycle++) {
        {
            test::no_collect hold;   // garbage between the cycles under test, not more cycles
            for (int g = 0; g < 20; g++) bytes_alloc(32 + rng() % 2048);
        }
        collector::do_cycle();
        if (cycle % 100 == 0 || cycle == 999) {
            ASSERT_EQ(checksum(all), expected) << "after cycle " << cycle;
            ASSERT_TRUE(memory_check_links()) << "after cycle " << cycle;
        }
    }
}

// ---- frame-level compaction --------------------------------------------------------------------

// Takes fresh frames out of the allocator's list and lets a test compact just them; on exit the
// frames left are put back in order.
class FrameScene : public ::testing::Test {
protected:
    test::no_collect hold;
    memory_state saved{};
    std::vector<series_frame*> frames;

    void SetUp() override
    {
        collector::do_cycle();
        saved = memory_s;
    }
    series_frame* add_frame()
    {
        memory_s.series_next_size = 0x200000;
        series_frame* f = series_frame_new();
        // Out of the allocator's list: only the test's own frames get compacted.
        if (f->prev) at<series_frame>(f->prev)->next = f->next; else memory_s.series_first = f->next;
        if (f->next) at<series_frame>(f->next)->prev = f->prev; else memory_s.series_last = f->prev;
        f->prev = f->next = 0;
        saved.series_first = memory_s.series_first;
        saved.series_last = memory_s.series_last;
        frames.push_back(f);
        return f;
    }
    void isolate()
    {
        for (size_t i = 0; i < frames.size(); i++) {
            frames[i]->prev = i ? ref_of(frames[i - 1]) : 0;
            frames[i]->next = i + 1 < frames.size() ? ref_of(frames[i + 1]) : 0;
        }
        memory_s.series_first = ref_of(frames.front());
        memory_s.series_last = ref_of(frames.back());
        memory_s.series_current = memory_s.series_first;
    }
    node_ref put(series_frame* f, uint32_t size, bool live)
    {
        memory_s.series_current = ref_of(f);
        node_ref n = series_alloc(size, 1, 0);
        EXPECT_EQ(ref_of(series_of(n)) >= ref_of(f) && ref_of(series_of(n)) < f->end, true);
        if (live) series_of(n)->flags |= SERIES_MARK;
        return n;
    }
    bool alive(series_frame* f)
    {
        for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next)
            if (r == ref_of(f)) return true;
        return false;
    }
    bool inside(node_ref n, series_frame* f) { return *at<uint32_t>(n) > ref_of(f) && *at<uint32_t>(n) < f->end; }
    void TearDown() override
    {
        // Put back every frame still alive, in address order, into the saved list.
        std::vector<uint32_t> list;
        for (uint32_t r = saved.series_first; r; r = at<series_frame>(r)->next) list.push_back(r);
        // The test's frames still alive, and any frame the allocator made while they stood alone.
        for (uint32_t r = memory_s.series_first; r; r = at<series_frame>(r)->next) list.push_back(r);
        std::sort(list.begin(), list.end());
        for (size_t i = 0; i < list.size(); i++) {
            at<series_frame>(list[i])->prev = i ? list[i - 1] : 0;
            at<series_frame>(list[i])->next = i + 1 < list.size() ? list[i + 1] : 0;
        }
        memory_s.series_first = list.front();
        memory_s.series_last = list.back();
        memory_s.series_current = saved.series_current;
    }
};

constexpr uint32_t ROOM = 0x10000;   // above the minimum room: the previous frame gets filled

TEST_F(FrameScene, RunLongerThanTheRoomIsSplitAndDeadFramesGo)
{
    series_frame* p = add_frame();
    series_frame* n1 = add_frame();
    series_frame* n2 = add_frame();
    series_frame* n3 = add_frame();
    isolate();
    put(p, 0x200000 - ROOM - 32, true);   // leaves a little more than ROOM bytes
    ASSERT_GE(p->end - p->heap, ROOM);
    ASSERT_LT(p->end - p->heap, ROOM + 0x18);
    put(n1, 1000, false);
    node_ref l1 = put(n1, 0x8000, true);
    node_ref l2 = put(n1, 0x8000, true);
    put(n2, 5000, false);
    collector::compact_series(1);
    collector::flush_pending();
    EXPECT_TRUE(inside(l1, p)) << "the part of the run that fits goes to the previous frame";
    EXPECT_TRUE(inside(l2, n1));
    EXPECT_EQ(*at<uint32_t>(l2), ref_of(n1) + sizeof(series_frame)) << "the rest slides to the frame's start";
    EXPECT_FALSE(alive(n2)) << "an all-dead frame with a successor is released";
    EXPECT_TRUE(alive(n3)) << "the last frame stays, even empty";
    EXPECT_TRUE(memory_check_links());
}

TEST_F(FrameScene, FrameWithLittleRoomIsNotChosenForANewBuffer)
{
    series_frame* small_room = add_frame();
    series_frame* full = add_frame();
    isolate();
    put(small_room, 0x200000 - 0x8000, true);   // about 32 KB left: room, but under the minimum
    put(full, 0x200000 - 64, true);
    uint32_t room = small_room->end - small_room->heap;
    ASSERT_LT(room, FRAME_ROOM_MIN);
    memory_s.series_current = ref_of(full);
    node_ref n = series_alloc(1000, 1, 0);   // fits in small_room, which is passed over
    EXPECT_FALSE(inside(n, small_room));
    EXPECT_FALSE(inside(n, full));
    EXPECT_EQ(small_room->end - small_room->heap, room);
    EXPECT_NE(memory_s.series_current, ref_of(small_room));
}

TEST_F(FrameScene, BufferLargerThanTheRoomSlidesWithinItsFrame)
{
    series_frame* p = add_frame();
    series_frame* n1 = add_frame();
    isolate();
    put(p, 0x200000 - ROOM - 32, true);
    put(n1, 1000, false);
    node_ref big = put(n1, 0x20000, true);
    memcpy(at(series_of(big)->head), "mark", 4);
    series_of(big)->tail += 4;
    uint32_t p_heap = p->heap;
    collector::compact_series(1);
    collector::flush_pending();
    EXPECT_EQ(p->heap, p_heap);
    EXPECT_EQ(*at<uint32_t>(big), ref_of(n1) + sizeof(series_frame));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(at(series_of(big)->head)), 4), "mark");
    EXPECT_TRUE(memory_check_links());
}

}  // namespace
