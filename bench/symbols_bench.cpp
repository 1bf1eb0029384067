// Interning names, and reading global values through a bound word and by name.
#include <cstdio>
#include <vector>

#include "bench/bench.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

KIV_BENCH(symbol_interning)
{
    const int n = 200000;
    char name[32];
    double t0 = bench::now();
    for (int i = 0; i < n; i++) {
        std::snprintf(name, sizeof name, "bench-name-%d", i);
        symbol::make(name);
    }
    double fresh = bench::now() - t0;
    t0 = bench::now();
    for (int i = 0; i < n; i++) {
        std::snprintf(name, sizeof name, "bench-name-%d", i);
        symbol::make(name);
    }
    double again = bench::now() - t0;
    std::printf("%d new names: %.0f per second; found again: %.0f per second\n", n, n / fresh, n / again);
}

KIV_BENCH(context_lookups)
{
    const int words = 1000, rounds = 2000;
    std::vector<cell> bound;
    std::vector<uint32_t> names;
    char name[32];
    for (int i = 0; i < words; i++) {
        std::snprintf(name, sizeof name, "bench-word-%d", i);
        bound.push_back(*word::load(name));
        names.push_back(bound.back().data2);
    }
    uint64_t sum = 0;
    double t0 = bench::now();
    for (int r = 0; r < rounds; r++)
        for (const cell& w : bound) sum += word::get(&w)->header;
    double by_word = bench::now() - t0;
    t0 = bench::now();
    for (int r = 0; r < rounds; r++)
        for (uint32_t s : names) sum += context::get_global_value(s, context_s.global)->header;
    double by_name = bench::now() - t0;
    double n = double(words) * rounds;
    std::printf("bound word: %.0f lookups per second; by name: %.0f per second (%llu)\n", n / by_word, n / by_name,
                static_cast<unsigned long long>(sum));
}
