// Operations per second of pair! and tuple! actions as the action entry calls them: the operands
// in an arguments window, the result in its first cell.
#include <cstdint>
#include <cstdio>

#include "bench/bench.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/stack.h"

namespace {

void measure(const char* name, binary_fn op, cell left, cell right)
{
    const uint32_t n = 5000000;
    cell* window = stack::push(&left);
    stack::push(&right);
    uint32_t sink = 0;
    double t0 = bench::now();
    for (uint32_t i = 0; i < n; i++) {
        window[0] = left;
        window[1] = right;
        sink += op(window, window + 1)->data2;
    }
    double t = bench::now() - t0;
    std::printf("%-28s %8.1f M ops/s   (%u)\n", name, n / t / 1e6, sink & 1);
    stack::pop(2);
}

}  // namespace

KIV_BENCH(pair_tuple)
{
    cell p{TYPE_PAIR, 0, 12, 34}, q{TYPE_PAIR, 0, 5, 6}, k{TYPE_INTEGER, 0, 3, 0}, half{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(&half, 0.5);
    cell t{TYPE_TUPLE | 4u << tuple::SIZE_SHIFT, 0x80402010u, 0, 0}, u{TYPE_TUPLE | 3u << tuple::SIZE_SHIFT, 0x030201u, 0, 0};
    measure("pair + pair", pair::add, p, q);
    measure("pair * integer", pair::multiply, p, k);
    measure("pair / integer", pair::divide, p, k);
    measure("pair * float (to point2D!)", pair::multiply, p, half);
    measure("tuple + tuple", tuple::add, t, u);
    measure("tuple * integer", tuple::multiply, t, k);
    measure("tuple * float", tuple::multiply, t, half);
    measure("integer * tuple (swapped)", integer::multiply, k, t);
}
