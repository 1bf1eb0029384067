// The collector's state and the allocator's entry to it. Marking and compaction come later;
// until then a check only counts.
#include "runtime/collector.h"

collector_state collector;

void collector_check()
{
}

void collector_queue_node(node_ref node)
{
    (void)node;
}

void collector_init()
{
    collector = collector_state{};
}
