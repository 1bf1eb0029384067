// paren!: a block of code evaluated where it stands. Every routine but mold is block!'s.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace paren {
void init();
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace paren
