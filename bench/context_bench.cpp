// Binding blocks to a context: time per cell over wide data and over nesting at the cycle stack's
// bound, and how soon nesting past the bound is refused.
#include <cstdio>

#include "bench/bench.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace {

// A block of `blocks` blocks of `words` words each, pushed on the stack; half the words are in
// the context.
cell* wide_data(uint32_t blocks, uint32_t words)
{
    collector_hold hold;
    cell in{TYPE_WORD, 0, symbol::make("bench-bound"), uint32_t(-1)};
    cell out{TYPE_WORD, 0, symbol::make("bench-free"), uint32_t(-1)};
    cell* top = block::make_at(stack::push_slot(), blocks);
    for (uint32_t b = 0; b < blocks; b++) {
        cell inner = *block::make_in(top, words);
        for (uint32_t w = 0; w < words; w++) block::rs_append(&inner, w & 1 ? &in : &out);
    }
    return top;
}

// Blocks nested `depth` deep, each holding one word and the next block; pushed on the stack.
cell* deep_data(uint32_t depth)
{
    collector_hold hold;
    cell in{TYPE_WORD, 0, symbol::make("bench-bound"), uint32_t(-1)};
    cell inner = *block::make_at(stack::push_slot(), 1);
    block::rs_append(&inner, &in);
    for (uint32_t i = 1; i < depth; i++) {
        cell outer = *block::make_at(stack::top() - 1, 2);
        block::rs_append(&outer, &in);
        block::rs_append(&outer, &inner);
        inner = outer;
    }
    return stack::top() - 1;
}

}  // namespace

KIV_BENCH(bind)
{
    cell* mark = stack::top();
    cell spec_block = *block::make_at(stack::push_slot(), 1);
    cell bound{TYPE_WORD, 0, symbol::make("bench-bound"), uint32_t(-1)};
    block::rs_append(&spec_block, &bound);
    node_ref ctx = context::make(&spec_block, false, false, CONTEXT_OBJECT);
    gc_root keep(ctx);

    cell* wide = wide_data(1000, 1000);
    double t0 = bench::now();
    context::bind(wide, ctx, false);
    double wide_time = bench::now() - t0;
    std::printf("1,000 blocks of 1,000 words: %.1f ms, %.1f ns a cell\n", wide_time * 1e3, wide_time * 1e9 / 1001000);

    cell* deep = deep_data(CYCLE_STACK_ENTRIES - 1);
    const int rounds = 200;
    t0 = bench::now();
    for (int i = 0; i < rounds; i++) context::bind(deep, ctx, false);
    double deep_time = (bench::now() - t0) / rounds;
    std::printf("999 nested blocks: %.1f us, %.1f ns a level\n", deep_time * 1e6, deep_time * 1e9 / 999);

    cell* too_deep = deep_data(120000);
    t0 = bench::now();
    try {
        context::bind(too_deep, ctx, false);
        std::printf("120,000 nested blocks: bound without error (unexpected)\n");
    } catch (const script_error_unwind&) {
        std::printf("120,000 nested blocks: error %u after %.1f us\n", raised_error_get().code(),
                    (bench::now() - t0) * 1e6);
    }
    stack_s.top = mark;
}
