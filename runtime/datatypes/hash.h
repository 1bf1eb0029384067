// hash!: a block whose cells are also entered in a kind-0 hash table (word 3 of the cell), so that
// find and select are look-ups instead of scans. Every block routine that changes the cells keeps
// the table in step through the upkeep routines below; each does nothing for other types.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace hash {
// Makes the any-block cell `blk` a hash! over its buffer, all cells indexed. `blk` must not lie in
// a movable buffer (the argument stack is fine).
cell* attach(cell* blk);

// ---- upkeep (indexes are cell indexes from the buffer's first cell) ------------------------------
// Before cells [at, at + n) are removed or overwritten.
void unindex(const cell* s, int64_t at, int64_t n);
// After a gap opened (delta > 0) or closed (delta < 0): the cells that stood from `from` on moved
// by delta. A closed gap was unindexed first.
void shifted(const cell* s, int64_t from, int64_t delta);
// After cells [at, at + n) were written.
void index(const cell* s, int64_t at, int64_t n);
// After the cells were rearranged.
void reindex(const cell* s);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* value, uint32_t type);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* copy(cell* value, cell* result, cell* part, bool deep, cell* types);
cell* sort(cell* series, bool case_, cell* skip, cell* comparator, cell* part, bool all, bool reverse, bool stable);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);

void init();
}  // namespace hash
