// handle!: its text, comparison by value, and the registry slot, which keeps a whole pointer
// and is released once no value refers to it.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"
#include "runtime/collector.h"
#include "runtime/datatypes/handle.h"
#include "runtime/extern.h"

namespace {

using namespace num;
using HandleTest = test::StackTest;

TEST_F(HandleTest, HandleText)
{
    cell* window = handle::push(0x1A2B, handle::KIND_WINDOW);
    EXPECT_EQ(test::mold_at(window, false, true), "#[handle! 00001A2Bh window]");
    EXPECT_EQ(test::mold_at(window), "handle!");
    EXPECT_EQ(test::form_at(window), "00001A2Bh");
    EXPECT_EQ(test::mold_at(handle::push_empty(), false, true), "#[handle! 00000000h]");
    if (sizeof(uintptr_t) == 8) {
        const uintptr_t wide = uintptr_t(0x12345678ull << 32 | 0x9ABCDEF0u);
        cell* pointer = handle::push(wide, handle::KIND_RICH_TEXT);
        EXPECT_EQ(handle::value_of(pointer), wide) << "the whole pointer, from the registry";
        EXPECT_EQ(test::form_at(pointer), "123456789ABCDEF0h");
        EXPECT_EQ(test::mold_at(pointer, false, true), "#[handle! 123456789ABCDEF0h rich-text]");
    }
}

TEST_F(HandleTest, HandlesCompareByValueNotKind)
{
    cell a = *handle::push(5, handle::KIND_FONT), b = *handle::push(5, handle::KIND_WINDOW);
    cell c2 = *handle::push(uintptr_t(-1), handle::KIND_FD);
    EXPECT_EQ(test::compare(a, b, COMP_EQUAL), 0);
    EXPECT_EQ(test::compare(c2, a, COMP_LESSER), -1) << "signed values";
    EXPECT_EQ(test::compare(a, i(5), COMP_EQUAL), -2);
}

TEST_F(HandleTest, RegistrySlotLivesAsLongAsAValueRefersToIt)
{
    cell* kept = handle::push(0xBEEF, handle::KIND_FONT);
    int32_t slot = int32_t(kept->data3);
    ASSERT_GE(slot, 0);
    int32_t dropped_slot = int32_t(handle::push(0xF00D, handle::KIND_FONT)->data3);
    stack::pop(1);
    collector::do_cycle();
    EXPECT_EQ(externs.slots[slot].pointer, reinterpret_cast<void*>(0xBEEF)) << "marked through the cell";
    EXPECT_TRUE(externs.slots[dropped_slot].class_word & EXTERN_FREE) << "released once unreferenced";
    EXPECT_EQ(handle::value_of(kept), 0xBEEFu);
}

}  // namespace
