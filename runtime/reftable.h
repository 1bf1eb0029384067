// Reference slots: a value kept alive for code outside the value world, found again by a
// 1-based slot number. The table is a block marked as a root.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

struct reftable_state {
    cell table;        // block! cell; its cells are the slots
    uint32_t capacity;
    int32_t free_head;
};
extern reftable_state reftable_s;

void reftable_init();
void reftable_reset(uint32_t n);
uint32_t reftable_add(const cell* value);
cell* reftable_slot(uint32_t n);
void reftable_remove(uint32_t n);
