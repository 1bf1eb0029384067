// typeset!: a set of datatypes as a 96-bit mask in words 1-3 of the cell (see typeset_has in
// cell.h for the bit of an id). The type of every function parameter is one: membership is one
// bit test, and making one from a spec block never allocates until the result is stored.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace typeset {
void init();

// ---- plain routines -----------------------------------------------------------------------------
cell* make_at(cell* slot, uint32_t word1 = 0, uint32_t word2 = 0, uint32_t word3 = 0);
cell* push(uint32_t word1 = 0, uint32_t word2 = 0, uint32_t word3 = 0);
// Appended at the tail of the block (the root block when null).
cell* make_in(cell* blk, uint32_t word1, uint32_t word2, uint32_t word3);
// Every datatype but unset!: the type of a parameter that declares none.
cell* make_all(cell* blk);
inline bool has(const cell* ts, uint32_t type) { return typeset_has(ts, type); }
void add(cell* ts, uint32_t type);
void unite(cell* ts, const cell* other);   // ts gets the members of both
void clear(cell* ts);
uint32_t count(const cell* ts);            // members from datatype! to the last registered id
// A parameter type list: datatypes, typesets and words naming them; a word whose value is a word
// stands for object!, a block is skipped, anything else raises script/invalid-type-spec. The new
// typeset is appended to blk (the root block when null) and returned.
cell* from_block(cell* blk, const cell* spec);
// Adds a datatype, a typeset, or the value of a word naming one; else script/invalid-arg.
void set_type(cell* ts, const cell* value);
// A new block of the members' datatype words, in id order, written into slot (which must not lie
// in a movable buffer).
cell* to_block(const cell* ts, cell* slot);
// Set arithmetic of the call's two arguments (codes of math_op); the result ends in left.
cell* do_bitwise(cell* left, cell* right, uint32_t code);
// The text of form and mold: make typeset! [integer! float!], or the names alone with only.
int32_t serialize(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);   // make and to
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* and_t(cell* value1, cell* value2);
cell* complement(cell* value);
cell* or_t(cell* value1, cell* value2);
cell* xor_t(cell* value1, cell* value2);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
           cell* skip, bool last, bool reverse, bool tail, bool match);
}  // namespace typeset
