// map! and hash! figures: put and select per second with 1,000,000 integer keys and 1,000,000
// string keys, and find on a 100,000-cell hash! beside the same find on a block.
#include <cstdio>

#include "bench/bench.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace {

// Keys made before the clock starts: n integers, or n distinct eight-letter strings.
cell* keys(uint32_t n, bool strings)
{
    cell* blk = block::push_only_star(n);
    for (uint32_t i = 0; i < n; i++) {
        if (!strings) {
            cell v{TYPE_INTEGER, 0, i * 2654435761u >> 1, 0};
            block::rs_append(blk, &v);
            continue;
        }
        char text[9];
        uint32_t x = i;
        for (int k = 0; k < 8; k++, x /= 26) text[k] = char('a' + x % 26);
        text[8] = 0;
        cell* s = string::make_at(stack::push_slot(), 8);
        string::concatenate_literal(s, text);
        block::rs_append(blk, s);
        stack::pop(1);
    }
    return blk;
}

void put_select(const char* what, bool strings)
{
    const uint32_t n = 1000000;
    stack::scope scope;
    cell* ks = keys(n, strings);
    cell* m = map::make_at(nullptr, stack::push_slot(), 0);
    cell one{TYPE_INTEGER, 0, 1, 0};
    double t0 = bench::now();
    for (uint32_t i = 0; i < n; i++) {
        cell k = block::rs_head(ks)[i];
        map::put_pair(m, &k, &one, false);
    }
    double put = bench::now() - t0;
    uint64_t found = 0;
    t0 = bench::now();
    for (uint32_t i = 0; i < n; i++) {
        cell k = block::rs_head(ks)[i];
        cell* r = stack::push(m);
        map::select(r, &k, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
        found += cell_type(r) == TYPE_INTEGER;
        stack::pop(1);
    }
    double select = bench::now() - t0;
    std::printf("map! %s keys: put %.0f per second, select %.0f per second (%llu found)\n", what, n / put, n / select,
                static_cast<unsigned long long>(found));
}

}  // namespace

KIV_BENCH(map_hash)
{
    put_select("1,000,000 integer", false);
    put_select("1,000,000 string", true);

    const uint32_t cells = 100000, searches = 2000;
    stack::scope scope;
    cell* blk = keys(cells, false);
    cell* h = stack::push(blk);
    block::copy(h, h, nullptr, false, nullptr);
    hash::attach(h);
    for (const char* kind : {"hash!", "block!"}) {
        cell* series = kind[0] == 'h' ? h : blk;
        uint64_t hits = 0;
        double t = bench::best_seconds(3, [&] {
            for (uint32_t i = 0; i < searches; i++) {
                // Values spread over the whole series, so the block's scan averages half of it.
                cell v = block::rs_head(blk)[(i * 7919u) % cells];
                cell* r = stack::push(series);
                block::find(r, &v, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
                hits += cell_type(r) != TYPE_NONE;
                stack::pop(1);
            }
        });
        std::printf("find on a %u-cell %s: %.0f per second (%llu hits)\n", cells, kind, searches / t,
                    static_cast<unsigned long long>(hits));
    }
}
