// date! and money! against Python's datetime and decimal (fixtures written by
// tools/date-money-fixture): calendar fields, day differences, zones and moments; exact sums,
// products, quotients, remainders and every rounding mode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/time.h"
#include "runtime/stack.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

using DateCheck = test::StackTest;
using MoneyCheck = test::StackTest;

int32_t int_field(const cell* d, int32_t index)
{
    cell v = *date::get_field(d, index);
    stack::pop(1);
    return integer_of(&v);
}

TEST_F(DateCheck, PythonCrossCheck)
{
    struct row {
        int32_t y, m, d, y2, m2, d2, diff, weekday, yearday, isoweek, week, h, mi, s, zone;
        long long epoch;
        int32_t uy, um, ud, uh, umi, us;
    };
    static const row rows[] = {
#include "fixtures/dates.inc"
    };
    const uint32_t epoch_day = date::pack(1970, 1, 1, 0, false);
    for (const row& r : rows) {
        std::string at = std::to_string(r.y) + "-" + std::to_string(r.m) + "-" + std::to_string(r.d);
        cell a, b;
        date::set_all(&a, r.y, r.m, r.d, 0, 0, false);
        date::set_all(&b, r.y2, r.m2, r.d2, 0, 0, false);
        cell diff = a;
        date::subtract(&diff, &b);
        EXPECT_EQ(integer_of(&diff), r.diff) << at;
        EXPECT_EQ(int_field(&a, date::F_WEEKDAY), r.weekday) << at;
        EXPECT_EQ(int_field(&a, date::F_YEARDAY), r.yearday) << at;
        EXPECT_EQ(int_field(&a, date::F_ISOWEEK), r.isoweek) << at;
        EXPECT_EQ(int_field(&a, date::F_WEEK), r.week) << at;
        // The local time with its zone: the moment, and the same moment written in UTC.
        cell t;
        date::set_all(&t, r.y, r.m, r.d, r.h * 3600.0 + r.mi * 60.0 + r.s, r.zone, true);
        EXPECT_EQ(date::to_seconds(date::packed_of(&t), date::time_of(&t)) - date::to_seconds(epoch_day, 0),
                  double(r.epoch)) << at;
        EXPECT_EQ(int_field(&t, date::F_HOUR), r.h) << at;
        EXPECT_EQ(int_field(&t, date::F_MINUTE), r.mi) << at;
        cell zero{TYPE_INTEGER, 0, 0, 0};
        date::set_field(&t, date::F_TIMEZONE, &zero);
        uint32_t p = date::packed_of(&t);
        EXPECT_EQ(date::year_of(p) * 10000 + date::month_of(p) * 100 + date::day_of(p), r.uy * 10000 + r.um * 100 + r.ud)
            << at << " zone " << r.zone;
        EXPECT_EQ(date::time_of(&t), r.uh * 3600.0 + r.umi * 60.0 + r.us) << at << " zone " << r.zone;
    }
}

TEST_F(DateCheck, DayNumbersRoundTripAcrossTheYearRange)
{
    // Every 97th day from the first to the last representable year, and years around 0.
    const int64_t first = date::date_to_days(date::pack(date::YEAR_MIN, 1, 1, 0, false));
    const int64_t last = date::date_to_days(date::pack(date::YEAR_MAX, 12, 31, 0, false));
    for (int64_t n = first; n <= last; n += 97) EXPECT_EQ(date::date_to_days(date::days_to_date(n, 0, false)), n);
    for (int64_t n = date::date_to_days(date::pack(-2, 1, 1, 0, false));
         n < date::date_to_days(date::pack(2, 1, 1, 0, false)); n++) {
        uint32_t p = date::days_to_date(n, 0, false);
        EXPECT_EQ(date::date_to_days(p), n);
        EXPECT_EQ(date::days_to_date(n + 1, 0, false) != p, true);
    }
    EXPECT_EQ(test::raised([&] { date::days_to_date(last + 1, 0, false); }), ERR_SCRIPT * 100 + err::OUT_OF_RANGE);
}

// "-$12.34000" to a money! cell.
cell money_of(const std::string& text)
{
    size_t i = 0;
    bool negative = text[0] == '-';
    if (negative) i++;
    i++;   // "$"
    size_t point = text.find('.');
    std::string whole = text.substr(i, point - i), fraction = text.substr(point + 1);
    cell c;
    EXPECT_TRUE(money::make_in(&c, negative, "", whole.data(), uint32_t(whole.size()), fraction.data(),
                               uint32_t(fraction.size())));
    return c;
}

// The mold/all text of the operation's result, "!" for type-limit, "/" for zero-divide.
template <class F>
std::string result_of(F op)
{
    std::string out;
    uint32_t code = test::raised([&] { out = test::mold(op(), true); });
    if (code == ERR_SCRIPT * 100 + err::TYPE_LIMIT) return "!";
    if (code == ERR_MATH * 100 + err::ZERO_DIVIDE) return "/";
    return code ? "error " + std::to_string(code) : out;
}

TEST_F(MoneyCheck, PythonCrossCheckArithmetic)
{
    struct row { const char *a, *b, *sum, *difference, *product, *quotient, *remainder; };
    static const row rows[] = {
#include "fixtures/money.inc"
    };
    using money::amount;
    for (const row& r : rows) {
        const cell a = money_of(r.a), b = money_of(r.b);
        std::string at = std::string(r.a) + " and " + r.b;
        auto action = [&](binary_fn f) {
            return [&, f] {
                cell x = a, y = b;
                return *f(&x, &y);
            };
        };
        // Money times or by money is no action result (refused, or a float!): the decimal
        // routines behind the actions are checked directly.
        auto digits = [&](amount (*f)(const amount&, const amount&)) {
            return [&, f] {
                cell c;
                money::make_at(&c, f(money::get(&a), money::get(&b)));
                return c;
            };
        };
        EXPECT_EQ(result_of(action(money::add)), r.sum) << at;
        EXPECT_EQ(result_of(action(money::subtract)), r.difference) << at;
        EXPECT_EQ(result_of(digits(money::product)), r.product) << at;
        EXPECT_EQ(result_of(digits(money::quotient)), r.quotient) << at;
        EXPECT_EQ(result_of(action(money::remainder)), r.remainder) << at;
    }
}

TEST_F(MoneyCheck, PythonCrossCheckRounding)
{
    struct row { const char *amount, *scale, *modes[7]; };
    static const row rows[] = {
#include "fixtures/money_round.inc"
    };
    for (const row& r : rows) {
        cell scale = money_of(r.scale);
        for (int m = 0; m < 7; m++) {
            cell a = money_of(r.amount);
            std::string out;
            uint32_t code = test::raised([&] {
                money::round(&a, &scale, m == 1, m == 2, m == 5, m == 3, m == 4, m == 6);
                out = test::mold(a, true);
            });
            EXPECT_EQ(code ? std::string("!") : out, r.modes[m]) << r.amount << " to " << r.scale << " mode " << m;
        }
    }
}

}  // namespace
