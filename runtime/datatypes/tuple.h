// tuple!: 3 to 12 unsigned bytes (versions, and colours whose fourth byte is a transparency). The
// bytes fill words 1-3 in memory order, the count sits in header bits 19-22, and bytes past the
// count are kept 0, so that equal tuples have equal words. Arithmetic is byte by byte and
// saturates at 0 and 255.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tuple {
constexpr uint32_t MAX_BYTES = 12;
constexpr uint32_t SIZE_SHIFT = 19;
constexpr uint32_t SIZE_MASK = 0xFu << SIZE_SHIFT;

inline uint32_t size_of(const cell* c) { return (c->header & SIZE_MASK) >> SIZE_SHIFT; }
inline uint8_t* bytes_of(cell* c) { return reinterpret_cast<uint8_t*>(&c->data1); }
inline const uint8_t* bytes_of(const cell* c) { return reinterpret_cast<const uint8_t*>(&c->data1); }

void init();

// ---- constructors (each rewrites the whole header) ----------------------------------------------
// n bytes (3 to 12) into slot; bytes past n become 0.
cell* make_at(cell* slot, const uint8_t* bytes, uint32_t n);
cell* make_in(cell* blk, const uint8_t* bytes, uint32_t n);   // the root block when null
// A tuple of n bytes from three raw words, pushed.
cell* push(uint32_t n, uint32_t word1, uint32_t word2, uint32_t word3);
// r.g.b when alpha is -1, else r.g.b.alpha.
cell* make_color(cell* slot, uint8_t r, uint8_t g, uint8_t b, int32_t alpha);
// The low bytes of n integers (at most 12), padded with zeros to 3, pushed.
cell* make_from_ints(uint32_t n, const int32_t* ints);
// The first bytes (at most 12) of a binary! from its head, padded with zeros to 3.
cell* from_binary(const cell* binary, cell* slot);
// An issue!'s text as hexadecimal: 3 digits (each doubled), 6 or 8; else script/invalid-data.
cell* from_hex(const cell* issue, cell* slot);
bool zero_q(const cell* c);

// ---- actions ------------------------------------------------------------------------------------
cell* to(cell* proto, cell* spec, uint32_t type);   // make and to
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* add(cell* value1, cell* value2);
cell* divide(cell* value1, cell* value2);
cell* multiply(cell* value1, cell* value2);
cell* remainder(cell* value1, cell* value2);
cell* subtract(cell* value1, cell* value2);
cell* and_t(cell* value1, cell* value2);
cell* complement(cell* value);
cell* or_t(cell* value1, cell* value2);
cell* xor_t(cell* value1, cell* value2);
int32_t length_q(cell* value);
cell* pick(cell* value, int32_t n, cell* index);
cell* reverse(cell* value, cell* part, cell* skip);
// Byte k (from 1) set to an integer! (clamped to 0-255), or the tuple cut before it by none.
void poke(cell* value, const cell* index, const cell* new_value);
// The arithmetic behind add to xor~ (math codes 0-7), either operand the tuple; the result
// replaces x.
cell* do_math(cell* x, cell* y, uint32_t code);
}  // namespace tuple
