// routine!: a callable whose body is a C++ routine of the routines table, reached by its slot
// number (never an address); its spec and body blocks come from Kiv source, so reflection works.
// Library source makes one with `make routine! [spec entry-name]`: the routines table is filled by
// name at start-up, and only a name in it makes a routine.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// routine! cell: as function! (function.h), with header 29 | CALL_MODE | arity << ARITY_SHIFT
// (the spec's word! count); data1 an argument context (kind 1, values on the stack). More block:
// the body block itself (not copied, not bound) or none, unset, integer! slot number, unset,
// integer! result type (a datatype id, -1 for none).
using routine_fn = void (*)();   // works on the current arguments window, result in its first cell

namespace routine {
constexpr uint32_t SLOTS = 224;
constexpr uint32_t CALL_MODE = 0x8000, ARITY_SHIFT = 25, ARITY_MAX = 31;
}  // namespace routine

// A row of the routines table: the entry name that library source gives, and its routine.
struct routine_row {
    const char* name;
    routine_fn entry;
};

struct routine_state {
    routine_fn table[routine::SLOTS];   // slot n is table[n - 1]; null when empty
    const char* names[routine::SLOTS];  // the entry name of each filled slot
    uint32_t count;                     // slots filled, from 1
};
extern routine_state routine_s;

namespace routine {
void init();
// The routine of a slot; null for an empty slot or a number outside 1 to SLOTS.
routine_fn entry(int64_t slot);
// Fills the next slots with the rows, in order; a full table is a fatal runtime error.
void register_(const routine_row* rows, uint32_t n);
// The slot whose entry has the name (compared exactly), or 0.
uint32_t slot_named(const uint8_t* name, uint32_t length);
// make routine! [spec entry-name]: the spec block and the entry's word, which stays as the body.
// A name that no slot has raises script/bad-make-arg.
cell* make(cell* proto, cell* spec, uint32_t type);
// Makes the routine! of a filled slot and leaves it on the argument stack's top. body may be null.
cell* push(const cell* spec, const cell* body, uint32_t slot, int32_t result_type, bool call_mode);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace routine
