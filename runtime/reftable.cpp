// The reference table. Callers keep slot numbers, never cell addresses: adding may grow the
// table's buffer and so move it.
#include "runtime/reftable.h"

#include "runtime/memory.h"

reftable_state reftable_s;

namespace {
cell* slots() { return at<cell>(series_of(reftable_s.table.data2)->head); }
}

void reftable_init()
{
    reftable_s.capacity = 100;
    reftable_s.table = cell{TYPE_BLOCK, 0, cells_alloc(reftable_s.capacity), 0};
    reftable_reset(0);
}

void reftable_reset(uint32_t n)
{
    cell* c = slots();
    for (uint32_t i = n; i < reftable_s.capacity; i++)
        c[i] = cell{TYPE_INTEGER, 0, i + 1 < reftable_s.capacity ? i + 1 : uint32_t(-1), 0};
    reftable_s.free_head = int32_t(n);
    series_buffer* s = series_of(reftable_s.table.data2);
    s->tail = s->head + reftable_s.capacity * 16;
}

uint32_t reftable_add(const cell* value)
{
    cell copy = *value;   // the value may sit in the table itself
    if (reftable_s.free_head == -1) {
        uint32_t old = reftable_s.capacity;
        reftable_s.capacity *= 2;
        series_expand(series_of(reftable_s.table.data2), reftable_s.capacity * 16);
        reftable_reset(old);
    }
    uint32_t index = uint32_t(reftable_s.free_head);
    cell* slot = slots() + index;
    reftable_s.free_head = int32_t(slot->data2);
    *slot = copy;
    return index + 1;
}

cell* reftable_slot(uint32_t n) { return slots() + (n - 1); }

void reftable_remove(uint32_t n)
{
    if (n == 0) return;
    slots()[n - 1] = cell{TYPE_INTEGER, 0, uint32_t(reftable_s.free_head), 0};
    reftable_s.free_head = int32_t(n - 1);
}
