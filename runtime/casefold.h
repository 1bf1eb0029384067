// Case folding: one-to-one upper and lower case mappings of Unicode code points (Unicode 11.0,
// generated tables). Must not break: a character whose case partner is several letters maps to
// itself, never to the first of them.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// Builds the two 65,536-entry tables of the Basic Multilingual Plane (once, at start-up).
void casefold_init();
// upper = 1: to upper case, 0: to lower case; a code point without a mapping comes back unchanged.
uint32_t char_change_case(uint32_t cp, uint32_t upper);
