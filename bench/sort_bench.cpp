// Sort and search figures: 1,000,000 integers and 100,000 strings sorted by both engines, with and
// without a /compare function (a native stand-in through the evaluator's call hook, so the figure
// is the sort's own cost of calling out, not the interpreter's), and find/select over blocks and
// text. The data come from one generator that bench/python-sort-reference repeats for Python.
#include <string>

#include "bench/bench.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"

namespace {

// x <- (x * 1103515245 + 12345) mod 2^31, the generator the Python reference repeats.
struct lcg {
    uint32_t x = 42;
    uint32_t next()
    {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
        return x;
    }
};

cell* integers(uint32_t n)
{
    lcg g;
    cell* blk = block::push_only_star(n);
    for (uint32_t i = 0; i < n; i++) {
        cell v{TYPE_INTEGER, 0, g.next() % 1000000, 0};
        block::rs_append(blk, &v);
    }
    return blk;
}

cell* strings(uint32_t n)
{
    lcg g;
    cell* blk = block::push_only_star(n);
    for (uint32_t i = 0; i < n; i++) {
        char text[9];
        for (int k = 0; k < 8; k++) text[k] = char('a' + g.next() % 26);
        text[8] = 0;
        cell* s = string::make_at(stack::push_slot(), 8);
        string::concatenate_literal(s, text);
        block::rs_append(blk, s);
        stack::pop(1);
    }
    return blk;
}

cell less_than(const cell*, const cell*, const cell* args, uint32_t, bool)
{
    cell a = args[0], b = args[1];
    return cell{TYPE_LOGIC, actions_of(cell_type(&a)).compare(&a, &b, COMP_SORT) < 0, 0, 0};
}

void time_sort(const char* what, cell* (*make)(uint32_t), uint32_t n, bool stable, bool compare)
{
    stack::scope held;
    cell* data = make(n);
    cell fn{TYPE_FUNCTION, 0, 0, 0};
    cell* comparator = compare ? stack::push(&fn) : nullptr;
    auto saved = function::call_hook;
    function::call_hook = less_than;
    double t = bench::now();
    block::sort(data, false, nullptr, comparator, nullptr, false, false, stable);
    t = bench::now() - t;
    function::call_hook = saved;
    std::printf("sort %-9s %7u %-6s %-8s %8.3f s\n", what, n, stable ? "stable" : "quick", compare ? "/compare" : "", t);
}

}  // namespace

KIV_BENCH(sort)
{
    for (bool compare : {false, true})
        for (bool stable : {false, true}) {
            time_sort("integers", integers, 1000000, stable, compare);
            time_sort("strings", strings, 100000, stable, compare);
        }
}

KIV_BENCH(find_select)
{
    stack::scope held;
    cell* data = integers(1000000);
    cell key{TYPE_INTEGER, 0, 1000001, 0};   // never present: every search walks the whole block
    cell* k = stack::push(&key);
    double t = bench::now();
    for (int i = 0; i < 20; i++) {
        cell* s = stack::push(data);
        block::find(s, k, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
        s = stack::push(data);
        block::select(s, k, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
        stack::pop(2);
    }
    t = bench::now() - t;
    std::printf("find+select in 1,000,000 integers, 20 rounds: %.3f s (%.1f ns a cell)\n", t, t / 40e6 * 1e9);
    cell* text = string::make_at(stack::push_slot(), 1 << 20);
    std::string chunk(1023, 'a');
    chunk += 'b';
    for (int i = 0; i < 1024; i++) string::concatenate_literal(text, chunk.c_str());
    cell* pattern = string::make_at(stack::push_slot(), 8);
    string::concatenate_literal(pattern, "aaaac");
    t = bench::now();
    for (int i = 0; i < 10; i++) {
        cell* s = stack::push(text);
        string::find(s, pattern, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
        stack::pop(1);
    }
    t = bench::now() - t;
    std::printf("find of a missing 5-letter text in 1 MB, 10 rounds: %.3f s (%.1f MB/s)\n", t, 10.0 / t);
}
