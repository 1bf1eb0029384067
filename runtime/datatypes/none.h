// none!: the absence of a value. The static none cell is shared and never written; routines that
// answer "no value" return &none_value.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

extern cell none_value;

namespace none {
void init();
cell* push();
cell* make_in(cell* blk);
cell* make_at(cell* slot);
cell* box();
cell* make(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
// Series actions on none give none (length? answers -1, which its entry turns into none).
cell* clear(cell* series);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
           bool last, bool reverse, bool tail, bool match);   // also select
int32_t length_q(cell* series);
cell* remove(cell* series, cell* part, cell* key);
cell* take(cell* series, cell* part, bool deep, bool last);
}  // namespace none
