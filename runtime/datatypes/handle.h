// handle!: an operating-system handle or native pointer (window, font, monitor, text layout) that
// Kiv code can pass around, compare and print. The pointer lives in the handle registry; the cell
// keeps the kind (word 1), the pointer's low 32 bits (word 2, for hashing) and the registry slot
// (word 3, -1 for a null handle), so a 64-bit pointer is never cut to 32 bits.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace handle {
enum kind : uint32_t { KIND_NULL, KIND_FD, KIND_MONITOR, KIND_WINDOW, KIND_FONT, KIND_RICH_TEXT, KIND_PORT_ACTIONS, KIND_COUNT };

void init();

// ---- constructors -------------------------------------------------------------------------------
cell* make_at(cell* slot, uintptr_t value, uint32_t kind);
cell* make_in(cell* blk, uintptr_t value, uint32_t kind);   // the root block when null
cell* push(uintptr_t value, uint32_t kind);
cell* push_empty();
// The pointer or handle value a cell stands for.
uintptr_t value_of(const cell* c);

// ---- actions ------------------------------------------------------------------------------------
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
void mark(const cell* c);
}  // namespace handle
