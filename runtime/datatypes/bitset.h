// bitset!: a set of non-negative integers (code points, mostly) as a bit array, bit i in byte
// i >> 3 under the mask 0x80 >> (i & 7), with a complement flag that makes every value beyond the
// stored bytes a member. The stored bits always hold membership directly. A bitset never stores
// more than BITSET_MAX_BYTES bytes, so its length in bits fits a 32-bit integer.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

constexpr uint32_t BITSET_MAX_BYTES = 0x0FFFFFFF;

namespace bitset {

enum spec_op : int32_t { OP_SIZE = 0, OP_SET = 1, OP_TEST = 2, OP_CLEAR = 3 };
enum spec_caller : int32_t { CALLER_MAKE = 0, CALLER_TO = 1, CALLER_ACTION = 2 };

// Whether the bitset carries the complement flag.
bool complement_q(const cell* bitset);
// Membership of i (a negative i lies beyond the stored bits).
bool member_q(const cell* bitset, int64_t i);
// Applies op to the spec (a char, integer, float, string or block of them with ranges). Sizing,
// setting and clearing give the largest value met (a top-level size pass the bytes needed
// instead); testing gives 1 when every value is a member.
int64_t process_spec(const cell* spec, const cell* bitset, int32_t op, bool nested, int32_t caller);
int32_t process_range(const cell* bitset, int64_t low, int64_t high, int32_t op);
// A new bitset from the spec, pushed.
cell* make_from_spec(const cell* spec, int32_t caller);
// The operation (5 or, 9 union, 6 and, 10 intersect, 7 xor, 12 difference, 11 exclude,
// 8 unique) on two bitsets; the result is written over value1 and returned. script/invalid-type
// when value2 is not a bitset.
cell* do_bitwise(int32_t code, cell* value1, const cell* value2);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
cell* reflect(cell* value, cell* field);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* negate(cell* value);
cell* and_t(cell* value1, cell* value2);
cell* complement(cell* value);
cell* or_t(cell* value1, cell* value2);
cell* xor_t(cell* value1, cell* value2);
cell* append(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* clear(cell* value);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
           bool last, bool reverse, bool tail, bool match);
int32_t length_q(cell* value);
cell* pick(cell* value, int32_t n, cell* index);
cell* poke(cell* value, int32_t n, cell* index, cell* new_value);
cell* remove(cell* value, cell* part, cell* key);
cell* modify(cell* value, cell* field, cell* new_value, bool case_);

void init();
}  // namespace bitset
