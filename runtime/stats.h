// Memory statistics: bytes in use, or a block describing every frame.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace memory {
// Level 1: bytes in use, nothing appended. Levels 2 and up: appends the frame report to blk and
// returns 0.0. Never collects while it walks.
double stats(cell* blk, int32_t level);
}
