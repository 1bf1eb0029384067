// vector!: a series of packed numbers of one element type (word 3: char!, integer!, float! or
// percent!), 1, 2, 4 or 8 bytes each (the buffer's unit). Integer elements wrap modulo their size;
// 8- and 16-bit integers read signed, 8- and 16-bit chars unsigned.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace vector {
// A new empty vector of room for `count` elements in `out` (not in a movable buffer).
// internal/no-memory when count * unit passes what a series holds.
cell* make_at(cell* out, int64_t count, uint32_t type, uint32_t unit);
// Element `index` (from the buffer's first element) as a cell of the element type.
cell get_value(const cell* v, int64_t index);
// Stores a value of the element type (or, converting, any number) at `index`.
void set_value(const cell* v, int64_t index, const cell* value);
// script/invalid-arg unless the value is of the vector's element type.
void check_element(const cell* v, const cell* value);
// The elements from the head as a new block, pushed.
cell* to_block(const cell* v);
// Element-wise op with a scalar, in place; scalar_first: the scalar is the left operand.
cell* do_math(uint32_t op, cell* v, const cell* scalar, bool scalar_first);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* append(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* insert(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* change(cell* series, cell* value, cell* part, bool only, cell* dup);

void init();
}  // namespace vector
