// pair!: two signed 32-bit integers, x in word 2 and y in word 3 (word 1 is 0), for the sizes and
// positions of faces and images. Arithmetic never wraps: a component that leaves the 32-bit range,
// or a fractional scale, turns the result into a point2D!.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace pair {
void init();

// ---- constructors -------------------------------------------------------------------------------
cell* make_at(cell* slot, int32_t x, int32_t y);   // rewrites the whole header
cell* make_in(cell* blk, int32_t x, int32_t y);    // appended to the block (the root block when null)
cell* push(int32_t x, int32_t y);

inline int32_t x_of(const cell* c) { return int32_t(c->data2); }
inline int32_t y_of(const cell* c) { return int32_t(c->data3); }

// ---- actions ------------------------------------------------------------------------------------
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
cell* and_t(cell* value1, cell* value2);
cell* or_t(cell* value1, cell* value2);
cell* xor_t(cell* value1, cell* value2);
cell* pick(cell* value, int32_t n, cell* index);
cell* reverse(cell* value, cell* part, cell* skip);
// The arithmetic behind add to xor~ (math codes 0-7); the result replaces left.
cell* do_math(cell* left, cell* right, uint32_t code);
}  // namespace pair
