// hash!: block routines plus the upkeep of the kind-0 table in word 3. The table indexes every
// cell of the buffer by its index from the buffer's first cell, whatever the head of the cell at
// hand, so every hash! cell over one buffer shares one table.
#include "runtime/datatypes/hash.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_internal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace {

using block_internal::cells_of;

// The table of a hash! cell, or 0 for any other cell (a hash! being made has none yet).
node_ref table_of(const cell* s) { return cell_type(s) == TYPE_HASH ? s->data3 : 0; }

void mark(const cell* c)
{
    if (c->data2) collector::mark_block(c->data2);
    if (c->data3 && collector::hashtable_mark_hook) collector::hashtable_mark_hook(c->data3);
}

}  // namespace

cell* hash::attach(cell* blk)
{
    cell whole = *blk;
    whole.data1 = 0;
    cell_set_type(&whole, TYPE_BLOCK);
    uint32_t size = uint32_t(std::max(cells_of(&whole), 1));
    node_ref table = hashtable_new(size, &whole, HASH_BLOCK, 0);
    cell_set_type(blk, TYPE_HASH);
    blk->data3 = table;
    return blk;
}

void hash::unindex(const cell* s, int64_t at, int64_t n)
{
    node_ref t = table_of(s);
    if (t && n > 0) hashtable_remove(t, uint32_t(at), uint32_t(n));
}

void hash::shifted(const cell* s, int64_t from, int64_t delta)
{
    node_ref t = table_of(s);
    if (t && delta) hashtable_move(t, uint32_t(from), int32_t(delta));
}

void hash::index(const cell* s, int64_t at, int64_t n)
{
    node_ref t = table_of(s);
    if (t && n > 0) hashtable_index_range(t, uint32_t(at), uint32_t(n));
}

void hash::reindex(const cell* s)
{
    node_ref t = table_of(s);
    if (t) hashtable_reindex(t);
}

// ---- actions ------------------------------------------------------------------------------------

cell* hash::make(cell* proto, cell* spec, uint32_t)
{
    uint32_t st = cell_type(spec);
    if (st == TYPE_HASH) return copy(spec, spec, nullptr, false, nullptr);
    if (st != TYPE_INTEGER && st != TYPE_FLOAT && st != TYPE_BLOCK) return to(proto, spec, TYPE_HASH);
    return attach(block::make(proto, spec, TYPE_BLOCK));
}

cell* hash::to(cell* proto, cell* value, uint32_t)
{
    if (cell_type(value) == TYPE_HASH) return copy(value, value, nullptr, false, nullptr);
    cell* out = block::to(proto, value, TYPE_BLOCK);
    if (!any_block_q(cell_type(out))) return out;
    cell_set_type(out, TYPE_BLOCK);
    return attach(out);
}

int32_t hash::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    if (!only) part = string::emit_literal(buffer, "make hash! ", part);
    return block::mold(value, buffer, only, all, flat, arg, part, indent);
}

cell* hash::copy(cell* value, cell* result, cell* part, bool deep, cell* types)
{
    cell source = *value;
    bool whole = series_head_raw(&source) == 0 && !arg_given(part) && !deep && !arg_given(types);
    cell* held = stack::push(&source);
    block::copy(held, held, part, deep, types);
    cell_set_type(held, TYPE_BLOCK);
    if (whole) {
        node_ref table = hashtable_copy(source.data3, held->data2);
        cell_set_type(held, TYPE_HASH);
        held->data3 = table;
    } else {
        attach(held);
    }
    *result = *held;
    stack::pop(1);
    return result;
}

cell* hash::sort(cell* series, bool case_, cell* skip, cell* comparator, cell* part, bool all, bool reverse, bool stable)
{
    cell s = *series;
    cell* out = block::sort(series, case_, skip, comparator, part, all, reverse, stable);
    reindex(&s);
    return out;
}

cell* hash::trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with)
{
    cell s = *series;
    cell* out = block::trim(series, head, tail, auto_, lines, all, with);
    reindex(&s);
    return out;
}

void hash::init()
{
    action_row row = inherited_row();
    row.make = make;
    row.to = to;
    row.mold = mold;
    row.copy = copy;
    row.sort = sort;
    row.trim = trim;
    row.random = nullptr;
    row.mark = mark;
    datatype::register_type(TYPE_HASH, TYPE_BLOCK, "hash!", row);
}
