// The natives table: the routine behind each native number (1 to 120), filled in number order at
// start-up. A native! value holds its slot number, never the routine's address, and no native!
// is made for an empty slot, so nothing can call into one.
#pragma once
#include <cstdint>
#include "runtime/datatypes/native.h"

// A native works on the current arguments window and leaves its result in the window's first
// cell. check: it must test the argument types itself (callers that did not); refinements: per
// refinement of its spec, the window index of its first argument, or -1 when it is not used.
using native_fn = void (*)(bool check, const int32_t* refinements);

struct natives_state {
    native_fn table[native::NATIVE_SLOTS];   // slot n is table[n - 1]; null when empty
    uint32_t next;                            // the slot that register_ fills next
};
extern natives_state natives_s;

namespace natives {
void init();
// Puts count routines into the slots from the next free one on, in list order.
void register_(uint32_t count, const native_fn* list);
// The routine of a slot; null for an empty slot or a number outside 1 to native::NATIVE_SLOTS.
native_fn entry(int64_t slot);
}  // namespace natives
