// Allocation speed: small series, and a churn of short-lived blocks and strings that makes the
// collector run.
#include <algorithm>

#include "bench/bench.h"
#include "bench/workloads.h"

KIV_BENCH(series_alloc)
{
    const int n = 1000000;
    double t0 = bench::now();
    bench::small_blocks_held(n);
    double t = bench::now() - t0;
    collector::do_cycle();
    std::printf("%d small blocks, no collection: %.3f s (%.1f ns each)\n", n, t, t * 1e9 / n);
}

KIV_BENCH(churn)
{
    // A million short-lived blocks and strings, with a small live set that keeps changing.
    const int n = 1000000;
    uint32_t cycles0 = collector_s.cycles;
    double t0 = bench::now();
    bench::short_lived_blocks_and_strings(n);
    double t = bench::now() - t0;
    std::printf("%d blocks and strings: %.3f s (%.1f ns each), %u collections\n", n, t, t * 1e9 / n,
                collector_s.cycles - cycles0);
}

namespace {

uint32_t node_frame_count()
{
    uint32_t n = 0;
    for (uint32_t r = memory_s.node_first; r; r = at<node_frame>(r)->next) n++;
    return n;
}

}  // namespace

KIV_BENCH(small_churn)
{
    // Small short-lived buffers, several node frames' worth per collection, against the same
    // allocations made inside frames with no collection. The best of several rounds is reported:
    // the machine may be shared.
    const int rounds = 8, per_round = 500000, batch = 5000;
    double in_frame = 1e9, churn = 1e9;
    uint32_t cycles = 0;
    for (int r = 0; r < rounds; r++) {
        double t = 0;
        for (int done = 0; done < per_round; done += batch) {
            {
                collector_hold hold;   // a batch fits in the node and series frames left current
                double t0 = bench::now();
                for (int i = 0; i < batch; i++) bytes_alloc(16);
                t += bench::now() - t0;
            }
            collector::do_cycle();
        }
        in_frame = std::min(in_frame, t);
        uint32_t cycles0 = collector_s.cycles;
        double t0 = bench::now();
        for (int i = 0; i < per_round; i++) bytes_alloc(16);
        churn = std::min(churn, bench::now() - t0);
        cycles = collector_s.cycles - cycles0;
    }
    std::printf("small buffers, best of %d rounds of %d: %.1f ns each within frames, %.1f ns each with "
                "collections (%u collections a round, %u node frames at the end)\n",
                rounds, per_round, in_frame * 1e9 / per_round, churn * 1e9 / per_round, cycles, node_frame_count());
}
