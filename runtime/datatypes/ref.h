// ref!: a reference written "@" and its characters; string!'s cell, buffer and routines otherwise.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace ref {
void init();
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace ref
