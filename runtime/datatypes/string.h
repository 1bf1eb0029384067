// Strings: series of 1, 2 or 4-byte code points, widened in place when a wider one arrives.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace string {
// A new empty string of room for `size` code points of `unit` bytes, written into `slot`.
cell* make_at(cell* slot, uint32_t size, uint32_t unit);
// Appends an ASCII or Latin-1 text; returns the buffer's cell.
cell* concatenate_literal(cell* buffer, const char* text);
// The code points from the head to the tail as UTF-8 (for diagnostics and tests).
std::string to_utf8(const cell* str);
}  // namespace string
