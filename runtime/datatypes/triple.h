// triple!: three signed 32-bit integers in words 1-3 of one cell. Only the parse engine makes
// them; they are copied as cells and printed, nothing more.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace triple {
void init();
cell* make_at(cell* slot, int32_t first, int32_t second, int32_t third);
cell* push(int32_t first, int32_t second, int32_t third);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace triple
