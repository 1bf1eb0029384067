// percent!: a float! written and read as a percentage. The cell holds the fraction (50% is 0.5, in
// words 2-3 as for float!); only the text multiplies by 100. Every other routine is float!'s.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace percent {
void init();

cell* make_at(cell* slot, double fraction);                // rewrites the whole header
cell* make_in(cell* blk, uint32_t high, uint32_t low);     // from the double's raw words (root block when null)
cell* push(double fraction);

int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace percent
