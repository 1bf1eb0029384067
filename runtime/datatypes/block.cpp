// Block storage and the root block.
#include "runtime/datatypes/block.h"

#include "runtime/errors.h"

cell root_block;

namespace {
void block_cell_init(cell* slot, node_ref node)
{
    slot->header = TYPE_BLOCK;
    slot->data1 = 0;
    slot->data2 = node;
    slot->data3 = 0;
}
}  // namespace

cell* block::make_at(cell* slot, uint32_t capacity)
{
    node_ref node = cells_alloc(capacity ? capacity : 1);
    block_cell_init(slot, node);
    return slot;
}

cell* block::make_fixed(cell* slot, uint32_t capacity)
{
    node_ref node = series_alloc_fixed(capacity, 16, 0);
    block_cell_init(slot, node);
    return slot;
}

cell* block::make_in(cell* parent, uint32_t capacity)
{
    // The slot first: growing the parent may collect, and the new buffer must not exist yet.
    cell* owner = parent ? parent : &root_block;
    block_alloc_tail(owner);
    node_ref node = cells_alloc(capacity ? capacity : 1);
    cell* slot = block::rs_tail(owner) - 1;
    block_cell_init(slot, node);
    return slot;
}

cell* block_alloc_tail(cell* blk)
{
    series_buffer* s = series_of(blk->data2);
    if (s->tail + 16 > series_end_ref(s) && (s->flags & SERIES_FIXED)) fire(ERR_INTERNAL, err::LIMIT_HIT);
    return series_alloc_tail(s);
}

cell* block::rs_append(cell* blk, const cell* value)
{
    cell copy = *value;   // the value may live in the buffer that grows
    cell* slot = block_alloc_tail(blk);
    *slot = copy;
    return slot;
}

uint32_t block::rs_length(const cell* blk)
{
    series_buffer* s = series_of(blk->data2);
    uint32_t used = (s->tail - s->head) / 16;
    return blk->data1 >= used ? 0 : used - blk->data1;
}

cell* block::rs_head(const cell* blk) { return at<cell>(series_of(blk->data2)->head) + blk->data1; }
cell* block::rs_tail(const cell* blk) { return at<cell>(series_of(blk->data2)->tail); }

void root_block_init() { block::make_fixed(&root_block, ROOT_BLOCK_CELLS); }
