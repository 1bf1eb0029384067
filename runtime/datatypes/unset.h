// unset!: the value of nothing. The static unset cell is shared and never written.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

extern cell unset_value;

namespace unset {
void init();
cell* push();
cell* make_in(cell* blk);
cell* make_at(cell* slot);
cell* box();
cell* make(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
}  // namespace unset
