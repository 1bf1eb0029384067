// routine!: a callable whose body is a C++ routine of the routines table, reached by its slot
// number (never an address); its spec and body blocks come from Kiv source, so reflection works.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// routine! cell: as function! (function.h), with header 29 | CALL_MODE | arity << ARITY_SHIFT
// (the spec's word! count); data1 an argument context (kind 1, values on the stack). More block:
// the body block itself (not copied, not bound) or none, unset, integer! slot number, unset,
// integer! result type (a datatype id, -1 for none).
using routine_fn = void (*)();   // works on the current arguments window, result in its first cell

namespace routine {
constexpr uint32_t SLOTS = 160;
constexpr uint32_t CALL_MODE = 0x8000, ARITY_SHIFT = 25, ARITY_MAX = 31;
}  // namespace routine

struct routine_state {
    routine_fn table[routine::SLOTS];   // slot n is table[n - 1]; null when empty
};
extern routine_state routine_s;

namespace routine {
void init();
// The routine of a slot; null for an empty slot or a number outside 1 to SLOTS.
routine_fn entry(int64_t slot);
// Makes the routine! of a filled slot and leaves it on the argument stack's top. body may be null.
cell* push(const cell* spec, const cell* body, uint32_t slot, int32_t result_type, bool call_mode);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace routine
