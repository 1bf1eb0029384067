// The action entry table: the 62 generic action entries, in action slot order, that dispatch on
// the datatype of their first argument. An action! value holds its slot number, never the
// entry's address, and no action! is made for an empty entry. Each entry reads its arguments
// from the current window, finds the routine of base[0]'s datatype and leaves the result in base[0].
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
// Copies the routines into consecutive slots from slot 1.
void register_(uint32_t count, const action_entry_fn* list);
// The entry of a slot; null for an empty slot or a number outside 1 to ACTION_SLOTS.
action_entry_fn entry(int64_t slot);

// The datatype whose routine a value dispatches to for a slot: a datatype! first argument of make,
// to and reflect stands for the datatype it names.
uint32_t dispatch_type(const cell* value, uint32_t slot);
// script/expect-arg for a value whose datatype has no routine in the slot: the running call, the
// datatype, the call's first argument.
[[noreturn]] void no_routine(uint32_t type);

// ---- comparison ---------------------------------------------------------------------------------
// The raw answer of value1's compare routine (-1, 0, 1, or -2 when the values cannot be compared).
int32_t compare_raw(cell* value1, cell* value2, int32_t code);
// The truth of an answer under a code: equal codes want 0, the orderings their sign.
inline bool compare_answer(int32_t code, int32_t answer)
{
    switch (code) {
    case COMP_NOT_EQUAL: return answer != 0;
    case COMP_LESSER: return answer < 0;
    case COMP_LESSER_EQUAL: return answer < 1;
    case COMP_GREATER: return answer >= 1;
    case COMP_GREATER_EQUAL: return answer >= 0;
    default: return answer == 0;
    }
}
// The comparison as a truth; an ordering of values that cannot be compared raises
// script/invalid-compare, an equality test of them is simply false (not-equal true).
bool compare(cell* value1, cell* value2, int32_t code);
// compare of base[0] and base[1], the logic! left in base[0].
void compare_to_logic(int32_t code);

// ---- form and mold ------------------------------------------------------------------------------
constexpr int32_t NO_LIMIT = 0x7FFFFFFF;
// A new string holding the text of the value, pushed; cut to the limit (below 1: empty).
cell* form_value(cell* value, int32_t limit);
cell* mold_value(cell* value, bool only, bool all, bool flat, int32_t limit);

// The index argument of pick and poke: an integer! as it is, a char! its code point, true 1 and
// false 2, anything else 0.
int32_t get_index_arg(const cell* index);
}  // namespace actions
