// Blocks: series of cells. The root block is fixed (never moves) and holds what must stay
// reachable for the process's life; its cells may be referenced by address.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

constexpr uint32_t ROOT_BLOCK_CELLS = 9696;
extern cell root_block;

namespace block {
// A new empty block of room for `capacity` cells, written into `slot`.
cell* make_at(cell* slot, uint32_t capacity);
// A new empty block appended to `parent` (the root block when null).
cell* make_in(cell* parent, uint32_t capacity);
cell* make_fixed(cell* slot, uint32_t capacity);
// Appends a copy of the value (the header's new-line bit is kept).
cell* rs_append(cell* blk, const cell* value);
uint32_t rs_length(const cell* blk);
cell* rs_head(const cell* blk);
cell* rs_tail(const cell* blk);
}  // namespace block

// The next free cell at the block's tail (unset!); grows the buffer unless it is fixed.
cell* block_alloc_tail(cell* blk);
void root_block_init();
