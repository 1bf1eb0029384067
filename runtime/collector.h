// The collector: mark from precise roots, then compact series frames by sliding buffers.
// Nodes never move; only buffers do.
#pragma once
#include <cstdint>
#include "runtime/memory.h"

struct collector_state {
    uint32_t enabled;       // 0: allocations never collect
    uint32_t cycles;        // collections run so far
    uint32_t stress_every;  // KIV_GC_STRESS: collect at every N-th allocation (0: off)
    uint32_t stress_count;
};
extern collector_state collector;

// Called by the allocator when no frame has room (and, in stress mode, at every allocation).
void collector_check();
// Queues a node whose buffer died outside the frames (big blocks) for release.
void collector_queue_node(node_ref node);
void collector_init();
