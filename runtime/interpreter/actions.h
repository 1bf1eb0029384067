// The action entry table: the 62 generic action entries, in action slot order, that dispatch on
// the datatype of their first argument. An action! value holds its slot number, never the
// entry's address, and no action! is made for an empty entry.
#pragma once
#include <cstdint>
#include "runtime/datatypes/datatype.h"

// An action entry works on the current arguments window as a native does (natives.h).
using action_entry_fn = void (*)(bool check, const int32_t* refinements);

struct actions_state {
    action_entry_fn table[ACTION_SLOTS];   // slot n is table[n - 1]; null until the evaluator fills it
};
extern actions_state actions_s;

namespace actions {
void init();
// The entry of a slot; null for an empty slot or a number outside 1 to ACTION_SLOTS.
action_entry_fn entry(int64_t slot);
}  // namespace actions
