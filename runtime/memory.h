// The memory manager: nodes, series buffers, series frames and big blocks, all carved from one
// address range reserved at start, so that every reference between them is a 32-bit offset.
// Any series allocation may collect and move buffers: never keep a buffer or cell address across
// one; keep the node (and an index) and fetch the address again.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/cell.h"

// ---- references: 32-bit offsets into the value range --------------------------------------------
extern uint8_t* heap_base;
template <class T = uint8_t>
inline T* at(uint32_t ref) { return reinterpret_cast<T*>(heap_base + ref); }
inline uint32_t ref_of(const void* p) { return uint32_t(static_cast<const uint8_t*>(p) - heap_base); }

using node_ref = uint32_t;   // offset of a node slot; 0 is no node

struct series_buffer {
    uint32_t flags;   // unit in bits 0-4, then the SERIES_* bits
    uint32_t node;    // node that points here; 0 once replaced
    uint32_t size;    // data capacity in bytes, a multiple of 16
    uint32_t head;    // offset of the first used unit
    uint32_t tail;    // offset one past the last used unit
};
static_assert(sizeof(series_buffer) == 20);

constexpr uint32_t SERIES_UNIT_MASK = 0x1Fu;
constexpr uint32_t SERIES_OWNED = 0x00020000u;
// Code of the library: the body of a function the boot made, with every block, paren and path in
// it. Trace events whose code is such a series are not reported (trace::fire).
constexpr uint32_t SERIES_LIBRARY = 0x00040000u;
constexpr uint32_t SERIES_COMPLEMENT = 0x00080000u;
constexpr uint32_t SERIES_FIXED = 0x00100000u;
constexpr uint32_t SERIES_BIG = 0x01000000u;
constexpr uint32_t SERIES_MARK = 0x08000000u;
constexpr uint32_t SERIES_ROOM_HEAD = 0x10000000u;
constexpr uint32_t SERIES_ROOM_TAIL = 0x20000000u;
constexpr uint32_t SERIES_USED = 0x80000000u;

inline series_buffer* series_of(node_ref node) { return at<series_buffer>(*at<uint32_t>(node)); }
inline uint8_t* series_data(series_buffer* s) { return reinterpret_cast<uint8_t*>(s + 1); }
inline uint32_t series_data_ref(series_buffer* s) { return ref_of(s) + uint32_t(sizeof(series_buffer)); }
inline uint32_t series_unit(const series_buffer* s) { return s->flags & SERIES_UNIT_MASK; }
inline uint32_t series_used_bytes(const series_buffer* s) { return s->tail - s->head; }
inline uint32_t series_end_ref(series_buffer* s) { return series_data_ref(s) + s->size; }
inline cell* series_head_cell(series_buffer* s) { return at<cell>(s->head); }
inline cell* series_tail_cell(series_buffer* s) { return at<cell>(s->tail); }

// ---- frames and state ---------------------------------------------------------------------------
constexpr uint32_t NODE_FRAME_NODES = 10000;
constexpr uint32_t SERIES_FRAME_BASE = 0x100000;
constexpr uint32_t BIG_THRESHOLD = 0x200000;
constexpr uint32_t FRAME_ROOM_MIN = 0xCCCC;   // a frame with less room left is not reused
// The least allocation between two collections that run because memory ran out: a small live set
// still gets this much room before the next collection.
constexpr uint32_t COLLECT_BUDGET_MIN = 0x100000;
constexpr uint8_t MEMORY_POISON = 0xDD;        // space vacated in the stress modes

// stamp: the collection count when the frame last became the allocation frame (made, taken by
// node_alloc, or chosen after a cycle); an empty frame with an older stamp took no nodes since.
struct node_frame {
    uint32_t next, prev, capacity, free_list, used, stamp, used_seen, history, emptying;
    uint32_t* slots() { return reinterpret_cast<uint32_t*>(this + 1); }
};
struct series_frame {
    uint32_t next, prev, size, heap, end;
};
struct big_block {
    uint32_t next, zero, need;
    series_buffer* buffer() { return reinterpret_cast<series_buffer*>(this + 1); }
};

struct memory_state {
    uint32_t total;   // bytes taken from the system, prefix words included
    uint32_t node_first, node_last, node_current;
    uint32_t series_first, series_current, series_last;
    uint32_t series_base_size, series_next_size, big_threshold;
    uint32_t big_first;
    uint32_t node_frames_made;   // since start (tests and benchmarks watch for churn)
    // Buffer bytes handed out since the last collection, and the bytes the last collection left
    // in use: when no frame has room, the allocator collects only once the bytes handed out reach
    // the bytes left in use (COLLECT_BUDGET_MIN at least), else it takes a new frame. A growing
    // live set thus costs a number of collections logarithmic in its size, not one per frame.
    uint32_t allocated_since, live_after;
};
extern memory_state memory_s;

// ---- the value range ----------------------------------------------------------------------------
void memory_init();
uint32_t memory_alloc_virtual(uint32_t size);   // region of at least size bytes; raises internal/no-memory
uint32_t memory_try_alloc_virtual(uint32_t size);   // the same, 0 when refused (inside a collection)
// The moving stress mode's regions: a region for a moved frame or big block (0 when refused), and
// the parking of a vacated one, poisoned over its first `used` bytes.
uint32_t memory_take_moved_region(uint32_t size);
void memory_park_region(uint32_t region, uint32_t used);
void memory_free_virtual(uint32_t region);
uint32_t memory_range_size();
// An address inside the value range: what lies there may move at the next allocation, so input
// bytes found there are copied before a routine allocates.
inline bool in_value_range(const void* p)
{
    auto b = static_cast<const uint8_t*>(p);
    return b >= heap_base && b < heap_base + memory_range_size();
}
// Tests: the n-th following request for system memory fails (0: none fails).
void memory_fail_virtual_after(uint32_t n);

// ---- nodes --------------------------------------------------------------------------------------
node_frame* node_frame_new(uint32_t n);
void node_frame_free(node_frame* frame);
node_ref node_alloc();
void node_free(node_frame* frame, node_ref node);

// ---- series -------------------------------------------------------------------------------------
// may_refuse: answers nullptr when the system refuses the region, else that raises internal/no-memory.
series_frame* series_frame_new(bool may_refuse = false);
void series_frame_free(series_frame* frame);
series_frame* series_frame_find(uint32_t need);
// After a collection: measures the bytes in use and starts the next allocation budget.
void memory_budget_reset();
series_buffer* series_buffer_alloc(uint32_t count, uint32_t unit, int32_t offset);
node_ref series_alloc(uint32_t count, uint32_t unit, int32_t offset);
node_ref cells_alloc(uint32_t n);
node_ref cells_alloc_unset(uint32_t n);
node_ref bytes_alloc(uint32_t n);
node_ref series_alloc_unit(uint32_t count, uint32_t unit);
node_ref series_alloc_filled(uint32_t n, uint8_t byte);
node_ref series_alloc_fixed(uint32_t count, uint32_t unit, int32_t offset);
void series_set_flag(node_ref node, uint32_t bits);
series_buffer* series_resize(series_buffer* s, uint32_t new_size);
series_buffer* series_expand(series_buffer* s, uint32_t size);
series_buffer* series_expand_filled(series_buffer* s, uint32_t size, uint8_t byte);
node_ref series_copy(series_buffer* s);
void memory_fill(uint8_t* start, uint8_t* end, uint8_t byte);
series_buffer* big_block_alloc(uint32_t need, bool may_refuse = false);   // may_refuse: as series_frame_new
void big_block_free(series_buffer* s);
void big_blocks_sweep();
// Releases the node frames found idle (and those being emptied); the count released.
uint32_t node_frames_compact();

// Tail growth helpers shared by blocks, strings and arrays.
cell* series_alloc_tail(series_buffer* s);   // may move: returns the new tail cell
uint8_t* series_alloc_tail_bytes(node_ref node, uint32_t n);   // returns the old tail address

inline uint32_t round_up_to(uint32_t size, uint32_t alignment) { return (size + alignment - 1) & ~(alignment - 1); }

// Nodes of the fixed buffers (never move; the collector clears their marks after a cycle).
const uint32_t* memory_fixed_nodes(uint32_t* count);

// Every node <-> buffer link of the frames and big blocks is consistent (for tests).
bool memory_check_links();
