// The natives table and its filling in slot order.
#include "runtime/interpreter/natives.h"

#include <cstring>

#include "runtime/errors.h"

natives_state natives_s;

void natives::init()
{
    std::memset(natives_s.table, 0, sizeof natives_s.table);
    natives_s.next = 1;
    native_s.native_slot_filled = [](int64_t slot) { return entry(slot) != nullptr; };
}

void natives::register_(uint32_t count, const native_fn* list)
{
    for (uint32_t i = 0; i < count; i++) {
        if (natives_s.next > native::NATIVE_SLOTS) fire(ERR_INTERNAL, err::LIMIT_HIT);
        natives_s.table[natives_s.next++ - 1] = list[i];
    }
}

native_fn natives::entry(int64_t slot) { return slot >= 1 && slot <= native::NATIVE_SLOTS ? natives_s.table[slot - 1] : nullptr; }
