// point2D! and point3D!: two or three single-precision floats in words 1-3 (a point2D! keeps word 3
// at 0). The action routines serve both types, the cell's type giving the dimension; arithmetic is
// done in double precision and stored back as single.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace point2D {
void init();

// ---- constructors -------------------------------------------------------------------------------
cell* make_at(cell* slot, float x, float y);   // rewrites the whole header
cell* make_in(cell* blk, float x, float y);    // appended to the block (the root block when null)
cell* push(float x, float y);
// A pair's x and y as a point2D!, written into slot.
cell* from_pair(const cell* pair, cell* slot);

// Component i (0 x, 1 y, 2 z) of a point cell.
float get(const cell* point, uint32_t i);
// 1, 2 or 3 for a word! x, y or z (letter case ignored), else 0.
uint32_t axis_word(const cell* word);
// A double as single precision: beyond the float range it becomes an infinity of its sign.
float to_single(double d);

// ---- actions (point2D! and point3D!) ------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);   // make and to
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* absolute(cell* value);
cell* add(cell* value1, cell* value2);
cell* divide(cell* value1, cell* value2);
cell* multiply(cell* value1, cell* value2);
cell* negate(cell* value);
cell* remainder(cell* value1, cell* value2);
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
cell* subtract(cell* value1, cell* value2);
cell* pick(cell* value, int32_t n, cell* index);
cell* reverse(cell* value, cell* part, cell* skip);
// The arithmetic of add to remainder (codes 0-4); the result replaces left.
cell* do_math(cell* left, cell* right, uint32_t code);
}  // namespace point2D

namespace point3D {
void init();
cell* make_at(cell* slot, float x, float y, float z);
cell* make_in(cell* blk, float x, float y, float z);
cell* push(float x, float y, float z);
}  // namespace point3D
