// Allocation workloads of the memory benchmarks. The heap-growth tests run them too: the heap
// shape the benchmarks leave behind must still let collections run.
#pragma once
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/memory.h"

namespace bench {

// n small blocks made with the collector held: garbage that fills frames with no collection.
inline void small_blocks_held(int n)
{
    collector_hold hold;
    for (int i = 0; i < n; i++) series_alloc(4, 16, 0);
}

// n short-lived blocks and strings; every thousandth joins a live set of up to 1,000 values, which
// is emptied when full.
inline void short_lived_blocks_and_strings(int n)
{
    cell* live = block::make_at(stack::push_slot(), 1024);   // never grows: the new value waits in no gap
    for (int i = 0; i < n; i++) {
        cell made;
        if (i & 1) {
            block::make_at(&made, 4);
        } else {
            string::make_at(&made, 16, 1);
            string::concatenate_literal(&made, "short-lived");
        }
        if (i % 1000 == 0) {
            if (block::rs_length(live) >= 1000) series_of(live->data2)->tail = series_of(live->data2)->head;
            block::rs_append(live, &made);
        }
    }
    stack::pop(1);
}

}  // namespace bench
