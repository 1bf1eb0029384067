// char!: one Unicode code point, a child of integer! that shares its arithmetic core but keeps
// every result inside 0 to 10FFFF hexadecimal, with its own text forms.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace char_ {
constexpr uint32_t LAST_CODE_POINT = 0x10FFFF;

void init();

// ---- constructors (each writes the whole header) ------------------------------------------------
cell* push(uint32_t code_point);
cell* make_at(cell* slot, uint32_t code_point);
cell* make_in(cell* blk, uint32_t code_point);   // the root block when blk is null
cell* box(uint32_t code_point);

// Arithmetic on the call's two arguments; the result stays a char! in left, or math/overflow.
cell* do_math(cell* left, cell* right, uint32_t code);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);   // make and to
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* add(cell* value1, cell* value2);
cell* divide(cell* value1, cell* value2);
cell* multiply(cell* value1, cell* value2);
cell* remainder(cell* value1, cell* value2);
cell* subtract(cell* value1, cell* value2);
cell* and_t(cell* value1, cell* value2);
cell* or_t(cell* value1, cell* value2);
cell* xor_t(cell* value1, cell* value2);
}  // namespace char_
