// The parse dialect engine: matches an input series (any block, any string) against a block of
// rules. Rule blocks are walked by node and index, the input by its node and an index, so nothing
// the engine holds goes stale when a paren action evaluates, allocates or changes the input.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace parse {
// The keywords, the trace event words and the rule stack (a root block reused by every parse).
void init();

// Matches input (from its index) against rules. case_: case-sensitive comparisons; end: the
// absolute index where the input stops (-1: its tail); callback: the /trace function or null.
// The result (true/false, or the block collected by an outermost collect) goes into `result`, a
// cell that does not move. A non-local exit leaving a paren is passed on (exit_code() set).
void process(cell* result, const cell* input, const cell* rules, bool case_, int32_t end, const cell* callback);
}  // namespace parse
