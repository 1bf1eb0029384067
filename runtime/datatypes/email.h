// email!: an address written as its characters; string!'s cell, buffer and routines otherwise, with
// the paths user (the text before the first "@") and host (the text after it).
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace email {
void init();
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
}  // namespace email
