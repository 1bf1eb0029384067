// The collector: marks from precise roots (no machine-stack scan), then compacts series frames by
// sliding live buffers down, fixing each moved buffer's node, head and tail. Nodes never move.
// C++ code keeps a fresh node alive across another allocation with a gc_root.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

struct collector_state {
    uint32_t enabled;       // a cycle runs from an allocation only while this is 1
    uint32_t busy;
    uint32_t cycles;        // collections run so far
    uint32_t node_cycles;   // collections that released node frames
    uint32_t stress_every;  // KIV_GC_STRESS: collect at every N-th allocation (0: off)
    uint32_t stress_count;
    uint32_t stress_move;   // KIV_GC_STRESS_MOVE: every collection moves every live buffer
    uint32_t released_nodes;   // nodes given back by the last cycle (for tests and stats)
};
extern collector_state collector_s;

namespace collector {
void init();
// Called by the allocator when no frame has room (and, in stress mode, at every allocation).
void check();
// Queues a node whose buffer died (big blocks, compaction) for release at the end of the cycle.
void add_pending(node_ref node);
void do_cycle();
bool active_q();
// The compaction steps of a cycle, for tests that drive them on frames they set up.
void compact_series(int mode);   // mode 1: fill the previous frame's room first
void flush_pending();
// Marking primitives for modules that mark their own structures.
bool keep(node_ref node);                 // marks the node's buffer; true when newly marked
void mark_block(node_ref node);           // keep, then the buffer's cells
void mark_cells(const cell* first, const cell* last);
void mark_cell(const cell* c);
void mark_context(node_ref node);
void clear_mark(node_ref node);
// A routine called at every cycle to mark what a module keeps outside the value world.
void register_marker(void (*routine)());
// Markers of the layouts several datatypes share, for their action rows: a block cell (word 2 a
// node of cells), a string cell (word 2 the buffer, word 3 a scratch buffer or 0), a cell whose
// word 2 is an opaque buffer.
void mark_block_cell(const cell* c);
void mark_string_cell(const cell* c);
void mark_buffer_cell(const cell* c);
// Marks a hash table's own buffers (set by the hash-table module).
extern void (*hashtable_mark_hook)(node_ref table);
// Weak tables: swept after marking, before compaction (set by the ownership module).
extern void (*ownership_sweep_hook)();
}  // namespace collector

// Holds the collector off for a scope, also when an error unwinds through it: for walks that must
// see nothing move (statistics) and for code that looks at where fresh buffers land.
struct collector_hold {
    uint32_t saved = collector_s.enabled;
    collector_hold() { collector_s.enabled = 0; }
    ~collector_hold() { collector_s.enabled = saved; }
    collector_hold(const collector_hold&) = delete;
    collector_hold& operator=(const collector_hold&) = delete;
};

// Keeps a node (and, for cell buffers, what its cells refer to) alive while in scope.
struct gc_root {
    node_ref node;
    gc_root* prev;
    explicit gc_root(node_ref n);
    ~gc_root();
    gc_root(const gc_root&) = delete;
    gc_root& operator=(const gc_root&) = delete;
};

// Keeps a value alive while in scope; `value` may be read and rewritten freely.
struct gc_cell_root {
    cell value;
    gc_cell_root* prev;
    explicit gc_cell_root(const cell& v);
    ~gc_cell_root();
    gc_cell_root(const gc_cell_root&) = delete;
    gc_cell_root& operator=(const gc_cell_root&) = delete;
};
