// Case folding tables (ASCII only until the Unicode tables are generated).
#include "runtime/casefold.h"

void casefold_init() {}

uint32_t char_change_case(uint32_t cp, uint32_t upper)
{
    if (upper && cp >= 'a' && cp <= 'z') return cp - 32;
    if (!upper && cp >= 'A' && cp <= 'Z') return cp + 32;
    return cp;
}
