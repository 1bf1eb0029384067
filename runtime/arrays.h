// Growable arrays of bytes or 32-bit values kept in ordinary series buffers: they move with
// compaction like any series, so callers keep the node, never the data address.
#pragma once
#include <cstdint>
#include "runtime/memory.h"

node_ref array_new(uint32_t count, uint32_t unit);
uint32_t array_length(node_ref node);
void array_clear(node_ref node);
void array_truncate(node_ref node, uint32_t position);   // keeps the units before the 1-based position
node_ref array_copy(node_ref node);
uint8_t* array_head(node_ref node);
void bytes_append(node_ref node, uint8_t byte);
uint8_t bytes_pick(node_ref node, uint32_t position);
void bytes_append_range(node_ref node, const uint8_t* source, uint32_t length);
void int_append(node_ref node, uint32_t value);
inline void tail_append_int(node_ref node, uint32_t value) { int_append(node, value); }
int32_t int_find(node_ref node, uint32_t value);   // byte offset, or -1
uint32_t array_pick(node_ref node, uint32_t position);
inline uint32_t int_pick(node_ref node, uint32_t position) { return array_pick(node, position); }
void array_poke(node_ref node, uint32_t position, uint32_t value);
void int_insert(node_ref node, uint32_t value, uint32_t index);
inline int32_t block_index_of_cell(node_ref node, uint32_t ref) { return int_find(node, ref); }
void ptr_remove(node_ref node, uint32_t ref);
void array_remove_bytes(node_ref node, uint32_t offset, uint32_t n);
