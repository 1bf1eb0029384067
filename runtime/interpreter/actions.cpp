// The action entry table.
#include "runtime/interpreter/actions.h"

#include <cstring>

#include "runtime/datatypes/native.h"

actions_state actions_s;

void actions::init()
{
    std::memset(actions_s.table, 0, sizeof actions_s.table);
    native_s.action_slot_filled = [](int64_t slot) { return entry(slot) != nullptr; };
}

action_entry_fn actions::entry(int64_t slot) { return slot >= 1 && slot <= ACTION_SLOTS ? actions_s.table[slot - 1] : nullptr; }
