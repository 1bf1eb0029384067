// The base cell routines and the cycle stack.
#include "support/values.h"

#include <cmath>
#include <stdexcept>


namespace {

using namespace tv;
using Cells = Values;

TEST_F(Cells, BytesRepeat)
{
    struct row {
        int32_t size, count;
        int32_t filled;   // bytes holding the pattern afterwards
    };
    const row rows[] = {{3, 5, 15}, {3, 1, 3}, {1, 8, 8}, {4, 4, 16}, {0, 5, 0}, {-2, 5, 0}};
    for (const row& r : rows) {
        uint8_t buffer[32];
        std::memset(buffer, 0xEE, sizeof buffer);
        for (int32_t i = 0; i < std::max(r.size, 0); i++) buffer[i] = uint8_t('a' + i);
        uint8_t* end = bytes_repeat(buffer, r.size, r.count);
        EXPECT_EQ(end, buffer + std::max(r.size, 0) * (r.size > 0 ? r.count : 0)) << r.size << " x " << r.count;
        for (int32_t i = 0; i < r.filled; i++) ASSERT_EQ(buffer[i], 'a' + i % r.size) << r.size << " x " << r.count;
        EXPECT_EQ(buffer[std::max(r.filled, std::max(r.size, 0))], 0xEE) << "wrote past " << r.size << " x " << r.count;
    }
}

TEST_F(Cells, IntCheckRange)
{
    auto flt = [](double d) {
        cell c{TYPE_FLOAT, 0, 0, 0};
        cell_set_float(&c, d);
        return c;
    };
    struct row {
        cell value;
        int32_t expected;
        bool out_of_range;
    };
    const row rows[] = {
        {flt(2147483647.0), 2147483647, false}, {flt(-2147483648.0), INT32_MIN, false},
        {flt(-2.9), -2, false},                 {flt(2.9), 2, false},
        {flt(2147483648.0), 0, true},           {flt(-2147483649.0), 0, true},
        {flt(std::nan("")), 0, true},           {flt(INFINITY), 0, true},
        {integer(-7), -7, false},
    };
    for (const row& r : rows) {
        cell v = r.value;
        if (r.out_of_range) {
            EXPECT_EQ(error_of([&] { int_check_range(&v); }), code(ERR_SCRIPT, err::OUT_OF_RANGE)) << cell_float(&v);
            EXPECT_EQ(raised_error_get().args[0].header, uint32_t(TYPE_FLOAT));
        } else {
            EXPECT_EQ(int_check_range(&v), r.expected);
        }
    }
}

TEST_F(Cells, CycleStackHoldsAtMost999)
{
    for (uint32_t i = 1; i <= 999; i++) cycle_push(i * 4);
    EXPECT_TRUE(cycle_find(4));
    EXPECT_TRUE(cycle_find(999 * 4));
    EXPECT_FALSE(cycle_find(1000 * 4));
    EXPECT_EQ(error_of([] { cycle_push(1000 * 4); }), code(ERR_INTERNAL, err::TOO_DEEP));
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_FALSE(cycle_find(4));
    cycle_pop();   // on an empty stack: nothing
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(Cells, CycleScopeUndoesItsPushWhenUnwound)
{
    cycle_push(8);
    try {
        cycle_scope a(12);
        cycle_scope b(16);
        cycle_push(20);   // a push made without a scope inside the walk goes too
        throw std::runtime_error("unwind");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(cycle_depth(), 1u);
    EXPECT_TRUE(cycle_find(8));
    EXPECT_FALSE(cycle_find(12));
    cycle_drop(1);
}

}  // namespace
