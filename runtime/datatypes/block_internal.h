// What the block module's files share beyond block.h: cell addressing by index from the buffer's
// offset. An address is valid until the next allocation or evaluation; take it again after.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/datatypes/series.h"
#include "runtime/memory.h"

namespace block_internal {
// Cells from the buffer offset to the tail.
inline int32_t cells_of(const cell* blk) { return int32_t(series::units(blk)); }
inline cell* cell_at(const cell* blk, int64_t index)
{
    KIV_CHECK(index >= 0 && index <= cells_of(blk));
    return series_head_cell(series_of(series_node(blk))) + index;
}
// Cells from the head to the tail, 0 when the head lies past it.
inline int32_t length_of(const cell* blk) { return int32_t(series::length_clamped(blk)); }
}  // namespace block_internal
