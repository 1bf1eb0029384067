// tag!: a text written between angle brackets; string!'s cell, buffer and routines otherwise.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tag {
void init();
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace tag
