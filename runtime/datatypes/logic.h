// logic!: true and false, and the truth tests. A value is false when it is none! or a logic! whose
// payload is not 1; everything else is true.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

extern cell true_value;
extern cell false_value;

inline bool cell_falsy(const cell* v)
{
    uint32_t t = cell_type(v);
    return t == TYPE_NONE || (t == TYPE_LOGIC && v->data1 != 1);
}

namespace logic {
void init();
cell* push(uint32_t value);
cell* make_in(cell* blk, uint32_t value);
cell* make_at(cell* slot, uint32_t value);
cell* box(uint32_t value);
inline uint32_t get(const cell* c) { return c->data1; }
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* complement(cell* value);
cell* and_t(cell* value1, cell* value2);
cell* or_t(cell* value1, cell* value2);
cell* xor_t(cell* value1, cell* value2);
// Truth tests.
uint32_t true_q(const cell* value, bool check_unset, const cell* name);
uint32_t check_arg_true_q();
uint32_t arg_false_q();
uint32_t top_false_q();
uint32_t top_true_q();
cell* random(cell* value, bool seed, bool secure, bool only);
}  // namespace logic
