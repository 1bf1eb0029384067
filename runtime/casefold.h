// Case folding: one-to-one upper and lower case mappings of Unicode code points (Unicode 11.0,
// generated tables). Must not break: a character whose case partner is several letters maps to
// itself, never to the first of them.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// Builds the two 65,536-entry tables of the Basic Multilingual Plane (once, at start-up).
void casefold_init();
// The tables' answer for code points from 128 on (char_change_case answers ASCII itself).
uint32_t casefold_lookup(uint32_t cp, uint32_t upper);
// upper = 1: to upper case, 0: to lower case; a code point without a mapping comes back unchanged.
// Inline for ASCII, whose only mappings are A-Z and a-z: texts compared and hashed without regard
// to case are mostly ASCII, and a call per character cost more than the fold.
inline uint32_t char_change_case(uint32_t cp, uint32_t upper)
{
    if (cp >= 128) return casefold_lookup(cp, upper);
    uint32_t from = upper ? 'a' : 'A';
    return cp - from < 26 ? cp ^ 0x20 : cp;
}
