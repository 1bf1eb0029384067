// native!, and what action! and op! share with it: the cell of a built-in routine (its table slot
// number, never an address), make from a spec block and a slot, reflection, form, mold, compare.
// Must not break: a native! or action! is made only for a slot that holds a routine.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// native! and action! cell: data1 slot number (1-based) in the natives table or the action entry
// table; data2 node of the spec block (shared, never copied); data3 node of the more block: cell
// 0 the argument context (context! value, kind 1, values on the stack), cell 1 the argument cache
// (none until the evaluator builds it). op! (op.h) keeps the wrapped callable's words.
struct native_state {
    // Installed by the interpreter's tables: whether a slot number names a routine.
    bool (*native_slot_filled)(int64_t slot);
    bool (*action_slot_filled)(int64_t slot);
};
extern native_state native_s;

namespace native {
constexpr uint32_t NATIVE_SLOTS = 120;
constexpr uint32_t MORE_CONTEXT = 0, MORE_CACHE = 1;

void init();
// Every callable's marker: spec and more blocks, and the context of a function!, a routine! or
// an op! of one of them.
void mark(const cell* c);

// The spec block's node, from a cell whose series is read from its head: the series itself when
// the head is at 0, else a shallow copy from the head. Pushes one cell (the block) either way, so
// that the caller keeps it reachable until it is stored.
cell* push_spec(const cell* spec);

// make of native! and action! (action! inherits it; type picks the table).
cell* make(cell* proto, cell* spec, uint32_t type);
// spec, and body: the slot number, or for an op! of a function or routine that one's body.
// The result is written into value.
cell* reflect(cell* value, cell* field);
// Every callable forms as its type name between question marks ("?native?", "?function?").
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
// Same datatype only; equality and sort codes order by data1 (slot, or a wrapped function's context).
int32_t compare(cell* value1, cell* value2, int32_t op);
// The callables' compare by one word of the cell (function! orders by its more node).
int32_t compare_by(const cell* value1, const cell* value2, int32_t op, uint32_t cell::*word);
}  // namespace native
