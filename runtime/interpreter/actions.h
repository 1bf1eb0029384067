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

// A native port scheme's routines for the series and port actions, slot ACT_APPEND first; a
// port! whose actor is a handle! of kind handle::KIND_PORT_ACTIONS pointing to one runs them in
// place of port!'s own routines. A null slot is an action the scheme does not support.
struct native_port_actions {
    action_entry_fn slots[ACTION_SLOTS - ACT_APPEND + 1];
};
// The routine of a port's native table for a slot, or null when the actor is no handle!; a
// handle! that is not such a table, or a null slot, raises access/no-port-action with the call.
action_entry_fn native_port_action(const cell* port, uint32_t slot);
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

// ---- fast paths for compiled code ---------------------------------------------------------------
// Each computes two integers (and, for add, subtract and multiply, two floats) itself and runs the
// generic action or compare under a native frame named by `word` (null: <anon>) otherwise, so
// that errors name the call. Pushing forms leave the result as a new cell on the stack top.
// op: MATH_ADD, MATH_SUBTRACT, MATH_MULTIPLY, MATH_OR, MATH_AND, MATH_XOR. An add, subtract or
// multiply of two integers that leaves 32 bits gives the float! of the operation on doubles.
cell* fast_op(uint32_t op, const cell* word, const cell* a, const cell* b);
cell* fast_op_int(uint32_t op, const cell* word, const cell* a, int32_t b);
// The stack top is the left operand and receives the result.
cell* fast_op_top(uint32_t op, const cell* word, const cell* b);
cell* fast_op_top_int(uint32_t op, const cell* word, int32_t b);
// code: COMP_EQUAL to COMP_GREATER_EQUAL; two integers compare as signed values.
cell* fast_compare(int32_t code, const cell* word, const cell* a, const cell* b);
cell* fast_compare_int(int32_t code, const cell* word, const cell* a, int32_t b);
bool fast_compare_flag(int32_t code, const cell* word, const cell* a, const cell* b);
bool fast_compare_int_flag(int32_t code, const cell* word, const cell* a, int32_t b);
void fast_compare_set(int32_t code, const cell* word, const cell* a, const cell* b, cell* slot);
void fast_compare_int_set(int32_t code, const cell* word, const cell* a, int32_t b, cell* slot);
cell* fast_compare_top(int32_t code, const cell* word, const cell* b);
cell* fast_compare_top_int(int32_t code, const cell* word, int32_t b);
// pick of a block by a 1-based index counted from the block's index (none outside it); other
// types go through their eval-path action with the integer as selector.
cell* fast_pick(const cell* value, int32_t index, const cell* word);
enum series_op : uint32_t {
    SERIES_LENGTH = 1, SERIES_INDEX, SERIES_HEAD_Q, SERIES_TAIL_Q, SERIES_NEXT, SERIES_BACK, SERIES_HEAD, SERIES_TAIL
};
// length?, index?, head?, tail?, next, back, head, tail: computed for a block!, through the
// action entry for other types.
cell* fast_series_op(const cell* value, uint32_t op, const cell* word);
}  // namespace actions
