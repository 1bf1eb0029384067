// Allocation speed: small series, and a churn of short-lived blocks and strings that makes the
// collector run.
#include "bench/bench.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"

KIV_BENCH(series_alloc)
{
    const int n = 1000000;
    double t = 0;
    {
        collector_hold hold;
        double t0 = bench::now();
        for (int i = 0; i < n; i++) series_alloc(4, 16, 0);
        t = bench::now() - t0;
    }
    collector::do_cycle();
    std::printf("%d small blocks, no collection: %.3f s (%.1f ns each)\n", n, t, t * 1e9 / n);
}

KIV_BENCH(churn)
{
    // A million short-lived blocks and strings, with a small live set that keeps changing.
    const int n = 1000000;
    cell* live = block::make_at(stack::push_slot(), 1024);
    uint32_t cycles0 = collector_s.cycles;
    double t0 = bench::now();
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
    double t = bench::now() - t0;
    std::printf("%d blocks and strings: %.3f s (%.1f ns each), %u collections\n", n, t, t * 1e9 / n,
                collector_s.cycles - cycles0);
    stack::pop(1);
}
