// The handle registry, the reference table and the integer arrays.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/arrays.h"
#include "runtime/errors.h"
#include "runtime/extern.h"
#include "runtime/reftable.h"
#include "runtime/rterror.h"
#include "support/values.h"

namespace {

std::vector<void*> released;
void record_release(void* p) { released.push_back(p); }

uint32_t test_class()
{
    static uint32_t id = extern_class_register("test", record_release);
    return id;
}

TEST(Handles, TableDoublesAndKeepsEarlierSlots)
{
    std::vector<int32_t> slots;
    uint32_t capacity = externs.capacity;
    int i = 0;
    while (externs.capacity == capacity) {
        slots.push_back(extern_handle_alloc(reinterpret_cast<void*>(uintptr_t(0x1000 + i)), test_class()));
        i++;
    }
    EXPECT_EQ(externs.capacity, capacity * 2);
    for (size_t k = 0; k < slots.size(); k++)
        EXPECT_EQ(externs.slots[slots[k]].pointer, reinterpret_cast<void*>(uintptr_t(0x1000 + k)));
    released.clear();
    for (int32_t s : slots) extern_handle_free(s, false);
    EXPECT_TRUE(released.empty()) << "freeing without release called the class routine";
}

TEST(Handles, SweepReleasesExactlyTheUnmarked)
{
    released.clear();
    int32_t kept = extern_handle_alloc(reinterpret_cast<void*>(0x10), test_class());
    int32_t dropped = extern_handle_alloc(reinterpret_cast<void*>(0x20), test_class());
    int32_t classless = extern_handle_alloc(reinterpret_cast<void*>(0x30), 0);
    extern_handle_mark(kept, nullptr);
    extern_handles_sweep();
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], reinterpret_cast<void*>(0x20));
    EXPECT_EQ(externs.slots[dropped].class_word, EXTERN_FREE);
    EXPECT_EQ(externs.slots[classless].class_word, EXTERN_FREE);
    EXPECT_EQ(externs.slots[kept].class_word & EXTERN_MARK, 0u);
    // A second sweep releases the no longer marked one, once.
    extern_handles_sweep();
    EXPECT_EQ(released.size(), 2u);
    extern_handles_sweep();
    EXPECT_EQ(released.size(), 2u);
}

TEST(Handles, SetReleasesOnlyAChangedPointer)
{
    released.clear();
    int32_t s = extern_handle_alloc(reinterpret_cast<void*>(0x40), test_class());
    extern_handle_set(s, reinterpret_cast<void*>(0x40));
    EXPECT_TRUE(released.empty());
    extern_handle_set(s, reinterpret_cast<void*>(0x50));
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], reinterpret_cast<void*>(0x40));
    extern_handle_free(s, true);
    EXPECT_EQ(released.size(), 2u);
}

TEST(Handles, MarkingAFreedSlotKeepsNothing)
{
    int32_t s = extern_handle_alloc(reinterpret_cast<void*>(0x60), test_class());
    extern_handle_free(s, false);
    EXPECT_EQ(extern_handle_mark(s, nullptr), 0u);   // a handle! value that outlived its slot
    EXPECT_EQ(externs.slots[s].class_word, EXTERN_FREE);
}

class HandlesDeathTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rt_test_mode()) << "run with KIV_TEST_MODE set, or message boxes block"; }
};

// Freeing a slot twice would put it on the free list twice, and two later handles would share it;
// a slot number beyond the table would be read or written past it. Both end the process.
TEST_F(HandlesDeathTest, DoubleFreeAndSlotsOutsideTheTableAreInternalFaults)
{
    int32_t s = extern_handle_alloc(reinterpret_cast<void*>(0x70), test_class());
    extern_handle_free(s, false);
    const int32_t beyond = int32_t(externs.capacity);
    struct row { const char* name; void (*use)(int32_t); int32_t slot; };
    const row rows[] = {
        {"free of a free slot", [](int32_t i) { extern_handle_free(i, false); }, s},
        {"set of a free slot", [](int32_t i) { extern_handle_set(i, nullptr); }, s},
        {"free beyond the table", [](int32_t i) { extern_handle_free(i, true); }, beyond},
        {"set beyond the table", [](int32_t i) { extern_handle_set(i, nullptr); }, beyond},
        {"mark beyond the table", [](int32_t i) { extern_handle_mark(i, nullptr); }, beyond},
        {"call below the table", [](int32_t i) { extern_handle_call(i); }, -2},
    };
    for (const row& r : rows)
        EXPECT_EXIT(r.use(r.slot), testing::ExitedWithCode(98), "Runtime Error 98: assertion failed") << r.name;
}

TEST(RefTable, SlotsAreReusedAndTheTableDoubles)
{
    reftable_init();
    cell v = test::integer(7);
    EXPECT_EQ(reftable_add(&v), 1u);
    for (uint32_t n = 2; n <= 100; n++) EXPECT_EQ(reftable_add(&v), n);
    cell w = test::integer(101);
    EXPECT_EQ(reftable_add(&w), 101u);
    EXPECT_EQ(reftable_s.capacity, 200u);
    EXPECT_EQ(reftable_slot(101)->data2, 101u);
    EXPECT_EQ(reftable_slot(1)->data2, 7u);
    reftable_remove(5);
    EXPECT_EQ(reftable_add(&w), 5u);
    int32_t head = reftable_s.free_head;
    reftable_remove(0);
    EXPECT_EQ(reftable_s.free_head, head);
}

TEST(Arrays, LengthsOffsetsAndRemoval)
{
    node_ref ints = array_new(0, 4);
    gc_root keep_ints(ints);
    for (uint32_t v : {10u, 20u, 30u}) int_append(ints, v);
    EXPECT_EQ(array_length(ints), 3u);
    node_ref bytes = array_new(0, 1);
    gc_root keep_bytes(bytes);
    bytes_append_range(bytes, array_head(ints), 12);
    EXPECT_EQ(array_length(bytes), 12u);
    EXPECT_EQ(int_find(ints, 30), 8);
    EXPECT_EQ(int_find(ints, 99), -1);
    ptr_remove(ints, 99);
    EXPECT_EQ(array_length(ints), 3u);
    ptr_remove(ints, 20);
    EXPECT_EQ(array_length(ints), 2u);
    EXPECT_EQ(array_pick(ints, 2), 30u);
    int_insert(ints, 5, 0);
    EXPECT_EQ(array_pick(ints, 1), 5u);
    EXPECT_THROW(array_pick(ints, 4), script_error_unwind);
    EXPECT_THROW(bytes_pick(bytes, 13), script_error_unwind);
    array_truncate(ints, 2);
    EXPECT_EQ(array_length(ints), 1u);
}

TEST(Arrays, GrowthKeepsValues)
{
    node_ref ints = array_new(0, 4);
    gc_root keep(ints);
    for (uint32_t v = 0; v < 10000; v++) int_append(ints, v * 3);
    for (uint32_t v = 0; v < 10000; v += 997) EXPECT_EQ(array_pick(ints, v + 1), v * 3);
}

}  // namespace
