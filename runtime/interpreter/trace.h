// Evaluation tracing and the calls of user callbacks (do/trace, parse/trace): the event set, the
// mask a callback selects by the block that opens its body, and the one routine that calls a
// callback with values that are passed as they are, never evaluated.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace trace {
void init();

// Calls the function! with the n values as its arguments (missing ones none, refinements off,
// locals set up) in a frame named by the symbol; returns its result. When a non-local exit
// leaves the callback, the stacks are as the exit left them and the result is unset: the caller
// tests exit_code().
cell call_callback(const cell* fn, uint32_t name_symbol, const cell* args, uint32_t n);

// The block that opens a function's body (its event selection), or null.
const cell* selection_block(const cell* fn);
}  // namespace trace
