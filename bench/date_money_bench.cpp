// Operations per second of date! and money! actions as the action entry calls them: the operands
// in an arguments window, the result in its first cell; field reads and text.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bench/bench.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/stack.h"

namespace {

constexpr uint32_t N = 2000000;

void report(const char* name, uint32_t n, double t, uint32_t sink)
{
    std::printf("%-34s %8.2f M ops/s   (%u)\n", name, n / t / 1e6, sink & 1);
}

void measure(const char* name, binary_fn op, cell left, cell right)
{
    cell* window = stack::push(&left);
    stack::push(&right);
    uint32_t sink = 0;
    double t0 = bench::now();
    for (uint32_t i = 0; i < N; i++) {
        window[0] = left;
        window[1] = right;
        sink += op(window, window + 1)->data2;
    }
    report(name, N, bench::now() - t0, sink);
    stack::pop(2);
}

void measure_field(const char* name, cell d, int32_t field)
{
    cell* v = stack::push(&d);
    cell* mark = stack::top();
    uint32_t sink = 0;
    double t0 = bench::now();
    for (uint32_t i = 0; i < N; i++) {
        sink += date::get_field(v, field)->data2;
        stack_s.top = mark;
    }
    report(name, N, bench::now() - t0, sink);
    stack::pop(1);
}

void measure_mold(const char* name, cell v, bool all)
{
    const uint32_t n = N / 4;
    cell* value = stack::push(&v);
    cell* out = string::make_at(stack::push_slot(), 64, 1);
    uint32_t sink = 0;
    double t0 = bench::now();
    for (uint32_t i = 0; i < n; i++) {
        string::ks_reset(out);
        sink += uint32_t(actions_of(cell_type(value)).mold(value, out, false, all, false, nullptr, 0x7FFFFFFF, 0));
    }
    report(name, n, bench::now() - t0, sink);
    stack::pop(2);
}

cell money_cell(bool negative, const char* whole, const char* fraction, const char* currency = "")
{
    cell c;
    money::make_in(&c, negative, currency, whole, uint32_t(std::strlen(whole)), fraction, uint32_t(std::strlen(fraction)));
    return c;
}

}  // namespace

KIV_BENCH(date_money)
{
    cell d, e, zoned;
    date::set_all(&d, 2024, 3, 5, 0, 0, false);
    date::set_all(&e, 1999, 12, 31, 0, 0, false);
    date::set_all(&zoned, 2024, 3, 5, 14 * 3600.0 + 30 * 60, 330, true);
    cell days{TYPE_INTEGER, 0, 45, 0}, hours{TYPE_TIME, 0, 0, 0};
    cell_set_float(&hours, 25 * 3600.0);
    measure("date + integer", date::add, d, days);
    measure("date + time (zoned)", date::add, zoned, hours);
    measure("date - date", date::subtract, d, e);
    measure("date < date (compare)", [](cell* a, cell* b) {
        a->data2 = uint32_t(date::compare(a, b, COMP_LESSER));
        return a;
    }, zoned, e);
    measure_field("date/isoweek", d, date::F_ISOWEEK);
    measure_field("date/weekday", d, date::F_WEEKDAY);
    measure_field("date/minute (zoned)", zoned, date::F_MINUTE);
    measure_mold("mold date (zoned)", zoned, false);

    cell a = money_cell(false, "1234567", "12345", "USD"), b = money_cell(true, "98765", "4321", "USD");
    cell big = money_cell(false, "12345678901234", "5"), k{TYPE_INTEGER, 0, 3, 0};
    measure("money + money", money::add, a, b);
    measure("money - money", money::subtract, a, b);
    measure("money * integer", money::multiply, a, k);
    measure("money / integer", money::divide, big, k);
    measure("money / money (to float)", money::divide, a, b);
    measure("money // money", money::remainder, a, b);
    measure("money < money (compare)", [](cell* x, cell* y) {
        x->data2 = uint32_t(money::compare(x, y, COMP_LESSER));
        return x;
    }, a, b);
    measure("round/even/to money 0.05", [](cell* x, cell* y) { return money::round(x, y, true, false, false, false, false, false); },
            a, money_cell(false, "0", "05"));
    measure_mold("mold money", a, false);
}
