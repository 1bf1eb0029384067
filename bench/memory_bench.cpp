// Allocation speed of small series.
#include "bench/bench.h"
#include "runtime/memory.h"

KIV_BENCH(series_alloc)
{
    const int n = 1000000;
    double t0 = bench::now();
    for (int i = 0; i < n; i++) series_alloc(4, 16, 0);
    double t = bench::now() - t0;
    std::printf("%d small blocks: %.3f s (%.1f ns each)\n", n, t, t * 1e9 / n);
}
