// The runtime's own vocabulary and the mold cycle markers: the text written in place of a series
// or object that is already being formed or molded, so that walks over cyclic data end.
// Routines test the vocabulary by symbol id or word cell, never by looking a name up.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// Refinements that errors name (script/invalid-refine-arg). Until the word module makes them at
// start-up each reads as none; the error still carries its value argument.
enum rt_refinement : uint32_t { REF_LOCAL, REF_EXTERN, REF_COMPARE, REF_PART, REF_SKIP, REF_WITH, REF_COUNT };
const cell* rt_refinement_word(rt_refinement which);

// When the value's node is on the cycle stack, appends its marker ("[...]", "(...)", ... when
// molding, "..." when forming), lowers *budget by the marker's length and answers true.
// The budget may go negative: the caller's /part handling treats that as exhausted.
bool mold_cycle_check(const cell* value, cell* buffer, int32_t* budget, bool mold);
