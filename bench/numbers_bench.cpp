// Integer and float arithmetic through the action routines, as the action entry calls them: both
// operands in a window of the argument stack, the result left in the first cell.
#include <cstdint>

#include "bench/bench.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/stack.h"

namespace {

cell integer_cell(int32_t v) { return cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
cell float_cell(double d)
{
    cell c{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(&c, d);
    return c;
}

// Millions of operations per second; the operands vary with i so that no result is constant.
void measure(const char* label, binary_fn routine, cell left, cell right, bool vary_left)
{
    const uint32_t n = 20000000;
    cell* saved = stack::arguments();
    cell* first = stack::push_slot();
    cell* second = stack::push_slot();
    stack_s.arguments = first;
    uint64_t check = 0;
    double t0 = bench::now();
    for (uint32_t i = 0; i < n; i++) {
        *first = left;
        *second = right;
        if (vary_left) first->data2 += i & 1023;
        check += routine(first, second)->data2;
    }
    double seconds = bench::now() - t0;
    stack_s.arguments = saved;
    stack::pop(2);
    std::printf("%-36s %7.1f M ops/s   (check %llu)\n", label, n / seconds / 1e6, (unsigned long long)check);
}

}  // namespace

KIV_BENCH(integer_arithmetic)
{
    const action_table_row& row = actions_of(TYPE_INTEGER);
    measure("integer add", row.add, integer_cell(12345), integer_cell(678), true);
    measure("integer multiply", row.multiply, integer_cell(1234), integer_cell(567), true);
    measure("integer multiply, promoted to float", row.multiply, integer_cell(65536), integer_cell(65536), true);
    measure("integer divide, exact", row.divide, integer_cell(1 << 20), integer_cell(16), false);
    measure("integer divide, to float", row.divide, integer_cell(7), integer_cell(2), true);
    measure("integer remainder", row.remainder, integer_cell(1000003), integer_cell(97), true);
    measure("integer + float", row.add, integer_cell(1), float_cell(0.5), true);
}

KIV_BENCH(float_arithmetic)
{
    const action_table_row& row = actions_of(TYPE_FLOAT);
    measure("float add", row.add, float_cell(1.5), float_cell(2.25), true);
    measure("float multiply", row.multiply, float_cell(1.5), float_cell(2.25), true);
    measure("float divide", row.divide, float_cell(1.5), float_cell(3.0), true);
    measure("float remainder", row.remainder, float_cell(5.5), float_cell(2.0), true);
    measure("float + integer", row.add, float_cell(1.5), integer_cell(2), true);
}
