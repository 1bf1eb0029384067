// Case folding: simple one-to-one upper and lower case mappings of Unicode code points.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

void casefold_init();
// upper = 1: to upper case, 0: to lower case; a code point without a mapping comes back unchanged.
uint32_t char_change_case(uint32_t cp, uint32_t upper);
