// Series ownership: binding deeply (first owner wins, cycles walked once), unbinding up to a
// tracking owner, who is told of a change, the weak table under collection, and its size when
// series come and go.
#include "datatypes/objects.h"
#include "runtime/collector.h"
#include "runtime/datatypes/series.h"
#include "runtime/hashtable.h"

namespace {

using tob::calls;
using tob::with_handlers;
using tob::word;
using tv::code;

constexpr const char* DEEP = "owner word target action value index part";

class Ownership : public tob::Objects {
protected:
    static bool owned(const cell* series) { return (series_of(series->data2)->flags & SERIES_OWNED) != 0; }
    static void own(const cell* series, const cell* owner, const char* field)
    {
        cell w = word(field);
        ownership_set(series, owner, &w);
    }
    static uint32_t live_entries() { return uint32_t(hashtable_record(ownership_s.table)->live); }
};

TEST_F(Ownership, ASeriesInTwoOwnersReportsToTheFirstOnly)
{
    cell* first = with_handlers("s: none", nullptr, DEEP);
    cell* second = with_handlers("s: none", nullptr, DEEP);
    cell* blk = tv::read("1 2");
    own(blk, first, "s");
    own(blk, second, "s");
    EXPECT_EQ(ownership_owner_of(blk->data2)->data1, first->data1);
    EXPECT_TRUE(ownership_check(blk, EV_CLEAR, nullptr, 0, 2));
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Ownership, ABlockInsideItselfIsBoundOnce)
{
    cell* o = with_handlers("s: none", nullptr, DEEP);
    cell* blk = tv::read("1 [2]");
    block::rs_append(blk, blk);
    own(blk, o, "s");
    EXPECT_TRUE(owned(blk));
    EXPECT_TRUE(owned(block::rs_head(blk) + 1));
    EXPECT_EQ(cycle_depth(), 0u);
    ownership_unbind(blk);
    EXPECT_FALSE(owned(blk));
    EXPECT_FALSE(owned(block::rs_head(blk) + 1));
}

TEST_F(Ownership, NestingDeeperThanTheCycleStackIsRefusedNotOverflowed)
{
    cell* o = with_handlers("s: none", nullptr, DEEP);
    cell* outer = block::push_only_star(1);
    for (uint32_t i = 0; i < 1200; i++) {
        cell* inner = block::push_only_star(1);
        block::rs_append(inner, outer);
        *outer = *inner;
        stack::pop(1);
    }
    cell w = word("s");
    EXPECT_EQ(error_of([&] { ownership_set(outer, o, &w); }), code(ERR_INTERNAL, err::TOO_DEEP));
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_EQ(error_of([&] { ownership_unbind(outer); }), code(ERR_INTERNAL, err::TOO_DEEP));
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(Ownership, NobodyIsToldWithoutAnEntryOrWithoutEvents)
{
    cell* loose = tv::read("1");
    EXPECT_FALSE(ownership_check(loose, EV_CLEAR, nullptr, 0, 1));
    cell* plain = tob::object_of("s: none");
    cell* held = tv::read("1");
    own(held, plain, "s");
    EXPECT_TRUE(owned(held));
    EXPECT_FALSE(ownership_check(held, EV_CLEAR, nullptr, 0, 1));
    EXPECT_TRUE(calls.empty());
}

TEST_F(Ownership, UnbindingStopsAtATrackingOwner)
{
    cell* tracker = with_handlers("t: \"own\"", nullptr, DEEP);
    cell own_text = tob::field(tracker, "t");
    cell* o = with_handlers("s: none", nullptr, DEEP);
    cell* outer = tv::read("[1] \"x\"");
    block::rs_append(outer, tracker);
    own(outer, o, "s");
    cell inner = block::rs_head(outer)[0], text = block::rs_head(outer)[1];
    EXPECT_TRUE(owned(&inner));
    EXPECT_TRUE(owned(&text));
    EXPECT_EQ(ownership_owner_of(own_text.data2)->data1, tracker->data1) << "the tracker keeps its own";
    ownership_unbind(outer);
    EXPECT_FALSE(owned(outer));
    EXPECT_FALSE(owned(&inner));
    EXPECT_FALSE(owned(&text));
    EXPECT_TRUE(owned(&own_text));
}

TEST_F(Ownership, EntriesKeepNeitherTheirSeriesNorTheirOwnerAlive)
{
    collector::do_cycle();   // entries of earlier tests' objects go first
    uint32_t before = live_entries();
    cell* mark = stack::top();
    cell* o = with_handlers("s: [1] t: [2]", nullptr, DEEP);
    cell kept = tob::field(o, "t");
    EXPECT_EQ(live_entries(), before + 2);
    stack_s.top = mark;
    cell* held = stack::push(&kept);   // the series outlives its owner
    collector::do_cycle();
    EXPECT_EQ(live_entries(), before) << "the dead owner's entries are gone";
    EXPECT_FALSE(owned(held)) << "a series left without its entry can be owned again";
    cell* next = with_handlers("u: none", nullptr, DEEP);
    own(held, next, "u");
    EXPECT_EQ(ownership_owner_of(held->data2)->data1, next->data1);
    stack_s.top = held;
    collector::do_cycle();
    EXPECT_EQ(live_entries(), before);
}

TEST_F(Ownership, AMillionOwnAndUnbindOverTwoThousandSeriesStaysBounded)
{
    cell* o = with_handlers("s: none", nullptr, DEEP);
    cell* all = block::push_only_star(2000);
    for (uint32_t i = 0; i < 2000; i++) {
        cell* blk = block::push_only_star(1);
        block::rs_append(all, blk);
        stack::pop(1);
    }
    cell w = word("s");
    uint32_t seed = 7;
    for (uint32_t op = 0; op < 1000000; op++) {
        seed = seed * 1103515245u + 12345u;
        cell blk = block::rs_head(all)[(seed >> 8) % 2000];
        if (op & 1) ownership_unbind(&blk);
        else ownership_set(&blk, o, &w);
    }
    hashtable* h = hashtable_record(ownership_s.table);
    EXPECT_LE(h->buckets, 4096u);
    EXPECT_LE(series_used_bytes(series_of(h->block)) / h->aux, h->buckets);
}

TEST_F(Ownership, SeriesReflectAndModifyTheOwnerLink)
{
    cell* o = with_handlers("s: none", nullptr, DEEP);
    cell* blk = tv::read("1");
    cell owned_field = word("owned");
    cell* record = tv::read("x s");
    block::rs_head(record)[0] = *o;
    series::modify(blk, &owned_field, record, false);
    cell r = *series::reflect(stack::push(blk), &owned_field);
    ASSERT_EQ(cell_type(&r), uint32_t(TYPE_BLOCK));
    EXPECT_EQ(block::rs_head(&r)[0].data1, o->data1);
    EXPECT_EQ(test::form(block::rs_head(&r)[1]), "s");   // copied: forming allocates, the block may move
    cell none = none_value;
    series::modify(blk, &owned_field, &none, false);
    EXPECT_EQ(cell_type(series::reflect(stack::push(blk), &owned_field)), uint32_t(TYPE_NONE));
    cell num = tv::integer(1);
    EXPECT_EQ(error_of([&] { series::modify(blk, &owned_field, &num, false); }), code(ERR_SCRIPT, err::INVALID_ARG));
    cell other = word("length");
    EXPECT_EQ(error_of([&] { series::reflect(stack::push(blk), &other); }), code(ERR_INTERNAL, err::NOT_DONE));
}

}  // namespace
