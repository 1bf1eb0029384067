// The ownership table and its walks. Walks go by node and index (binding allocates table entries,
// and a collection may move every buffer), each block and object is entered once through the
// cycle stack, and the cells handed to a handler are stack copies. This module reads the block,
// object and context layouts directly, as the collector does: it sits below their modules.
#include "runtime/ownership.h"

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

ownership_state ownership_s;
void (*ownership_fire_on_deep_hook)(cell* owner, cell* word, cell* target, owner_event action, cell* value,
                                    int32_t index, int32_t part);

namespace {

constexpr uint32_t INITIAL_ENTRIES = 1000;
constexpr uint32_t ENTRY_VALUES = 3;   // the value bound, the owner object, the field word

bool block_kind(uint32_t t)
{
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH) || t == TYPE_HASH;
}

// Series whose buffer carries the owned flag. (image! keeps its flag on the cell and is bound by
// its own module once it exists.)
bool owned_kind(uint32_t t)
{
    switch (t) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_VECTOR: case TYPE_BITSET:
        return true;
    default:
        return block_kind(t);
    }
}

// ---- layouts: a block cell holds its cells' node in word 2; an object cell its context node in
// word 1, whose buffer holds the context cell (word table, values node) and the owner cell ---------

uint32_t cells_in(node_ref node) { return series_used_bytes(series_of(node)) / 16; }
cell cell_in(node_ref node, uint32_t i) { return series_head_cell(series_of(node))[i]; }
cell* context_cell(node_ref ctx) { return series_head_cell(series_of(ctx)); }
node_ref values_of(node_ref ctx) { return context_cell(ctx)->data2; }
cell word_entry(node_ref ctx, uint32_t i)
{
    // An object's entries are bound to no context: its table may be shared by objects of a class.
    cell w = cell_in(hashtable_record(context_cell(ctx)->data1)->block, i);
    w.header = TYPE_WORD;
    w.data1 = ctx;
    return w;
}
bool tracking_owner(node_ref ctx) { return (series_of(ctx)->flags & SERIES_TRACKING_OWNER) != 0; }
node_ref key_of(const cell* value) { return cell_type(value) == TYPE_OBJECT ? value->data1 : value->data2; }

void bind(const cell& value, const cell& owner, const cell& word);

void bind_cells(node_ref node, uint32_t from, const cell& owner, const cell& word)
{
    if (cycle_find(node)) return;
    cycle_scope walking(node);
    for (uint32_t i = from; i < cells_in(node); i++) bind(cell_in(node, i), owner, word);
}

void bind_object(const cell& object, const cell& owner)
{
    node_ref ctx = object.data1;
    if (tracking_owner(ctx) || cycle_find(ctx)) return;
    cycle_scope walking(ctx);
    for (uint32_t i = 0; i < cells_in(values_of(ctx)); i++) {
        cell v = cell_in(values_of(ctx), i);
        if (cell_type(&v) == TYPE_OBJECT && v.data1 == owner.data1) continue;   // the owner itself
        bind(v, owner, word_entry(ctx, i));
    }
}

void bind(const cell& value, const cell& owner, const cell& word)
{
    uint32_t t = cell_type(&value);
    if (t == TYPE_OBJECT) return bind_object(value, owner);
    if (!owned_kind(t)) return;
    node_ref node = value.data2;
    if (!(series_of(node)->flags & SERIES_OWNED)) {
        cell* entry = hashtable_put(ownership_s.table, node);
        entry[0] = value;
        entry[1] = owner;
        entry[2] = word;
        series_of(node)->flags |= SERIES_OWNED;
    }
    if (block_kind(t)) bind_cells(node, value.data1, owner, word);
}

void drop_entry(node_ref key)
{
    cell* values = hashtable_delete(ownership_s.table, key);
    if (values)
        for (uint32_t i = 0; i < ENTRY_VALUES; i++) values[i] = cell{TYPE_UNSET, 0, 0, 0};
}

void unbind(const cell& value)
{
    uint32_t t = cell_type(&value);
    if (t == TYPE_OBJECT) {
        node_ref ctx = value.data1;
        if (tracking_owner(ctx) || cycle_find(ctx)) return;
        cycle_scope walking(ctx);
        for (uint32_t i = 0; i < cells_in(values_of(ctx)); i++) unbind(cell_in(values_of(ctx), i));
        return;
    }
    if (!owned_kind(t)) return;
    node_ref node = value.data2;
    series_of(node)->flags &= ~SERIES_OWNED;
    drop_entry(node);
    if (!block_kind(t) || cycle_find(node)) return;
    cycle_scope walking(node);
    for (uint32_t i = value.data1; i < cells_in(node); i++) unbind(cell_in(node, i));
}

// ---- the collector's side -----------------------------------------------------------------------

void keep_node(node_ref node) { collector::keep(node); }

// The table's own buffers live; what its entries refer to is not marked through.
void mark_table() { hashtable_gc_mark(ownership_s.table, keep_node, keep_node); }

bool marked(node_ref node) { return node && (series_of(node)->flags & SERIES_MARK); }

}  // namespace

void ownership_init()
{
    ownership_s.table = hashtable_new(INITIAL_ENTRIES, nullptr, HASH_INT_OWNED, ENTRY_VALUES);
    collector::register_marker(mark_table);
    collector::ownership_sweep_hook = ownership_sweep;
}

void ownership_set(const cell* value, const cell* owner, const cell* word)
{
    cell v = *value, o = *owner, w = *word;   // the cells may lie in buffers that binding moves
    bind(v, o, w);
}

void ownership_set_tracked(const cell* value, const cell* owner, const cell* word)
{
    node_ref ctx = owner->data1;
    ownership_set(value, owner, word);
    series_of(ctx)->flags |= SERIES_TRACKING_OWNER;
}

void ownership_unbind(const cell* value)
{
    cell v = *value;
    unbind(v);
}

void ownership_unbind_range(const cell* blk, uint32_t index, uint32_t count)
{
    node_ref node = blk->data2;
    for (uint32_t i = index; i < index + count && i < cells_in(node); i++) unbind(cell_in(node, i));
}

cell* ownership_owner_of(node_ref node)
{
    cell* values = hashtable_get(ownership_s.table, node);
    return values ? values + 1 : nullptr;
}

cell* ownership_word_of(node_ref node)
{
    cell* values = hashtable_get(ownership_s.table, node);
    return values ? values + 2 : nullptr;
}

bool ownership_check(const cell* value, owner_event action, const cell* new_value, int32_t index, int32_t count)
{
    cell* entry = hashtable_get(ownership_s.table, key_of(value));
    if (!entry || !ownership_fire_on_deep_hook) return false;
    // The owner as its context holds it now: the entry's copy may predate its event information.
    cell owner = context_cell(entry[1].data1)[1];
    if (!owner.data3) return false;
    cell* mark = stack::top();
    cell* held_owner = stack::push(&owner);
    cell* held_word = stack::push(&entry[2]);
    cell* target = stack::push(value);
    cell none{TYPE_NONE, 0, 0, 0};
    cell* held_value = stack::push(new_value ? new_value : &none);
    ownership_fire_on_deep_hook(held_owner, held_word, target, action, held_value, index, count);
    stack_s.top = mark;
    return true;
}

void ownership_sweep()
{
    // An entry lives while its series, its owner and the context its field word is bound to all
    // live. A series that outlives its entry loses the owned flag, so a later owner can bind it.
    node_ref table = ownership_s.table;
    hashtable* h = hashtable_record(table);
    series_buffer* s = series_of(h->block);
    for (uint32_t p = s->head; p + h->aux <= s->tail; p += h->aux) {
        cell* entry = at<cell>(p);
        if (entry->header == 0) continue;
        node_ref key = entry->data1;
        if (marked(key) && marked(entry[2].data1) && (!entry[3].data1 || marked(entry[3].data1))) continue;
        if (marked(key)) series_of(key)->flags &= ~SERIES_OWNED;
        drop_entry(key);
    }
}
