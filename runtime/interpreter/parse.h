// The parse dialect engine: matches an input series (any block, any string, binary) against a
// block of rules. Rule blocks are walked by node and index, the input by its node and an index, so nothing
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
// Installed by the lexer's layer: the datatype of the one value that starts the bytes (0 when
// there is none or the token is bad) and the bytes it takes. Makes nothing, raises nothing.
extern uint32_t (*scan_one_hook)(const uint8_t* bytes, uint32_t length, uint32_t* consumed);

void process(cell* result, const cell* input, const cell* rules, bool case_, int32_t end, const cell* callback);
}  // namespace parse
