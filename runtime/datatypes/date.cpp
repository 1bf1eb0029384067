// date!: calendar arithmetic on day numbers, the 14 fields, make/to, text and comparison. Every
// cell routine reads what it needs into locals first and writes the cell last, so a field set
// that raises leaves the date as it was.
#include "runtime/datatypes/date.h"

#include <cmath>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_internal.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/platform.h"
#include "runtime/random.h"

namespace {

constexpr double DAY = 86400.0;

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Days before 1 March of the March-based year y.
int64_t year_base(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

[[noreturn]] void year_out_of_range(int64_t year)
{
    cell v{TYPE_INTEGER, 0, uint32_t(int32_t(year < INT32_MIN ? INT32_MIN : year > INT32_MAX ? INT32_MAX : year)), 0};
    fire(ERR_SCRIPT, err::OUT_OF_RANGE, &v);
}

[[noreturn]] void bad_to_arg(const cell* spec)
{
    cell t = datatype::value_of(TYPE_DATE);
    fire(ERR_SCRIPT, err::BAD_TO_ARG, &t, spec);
}

int32_t int_arg(const cell* v)
{
    if (cell_type(v) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_ARG, v);
    return integer_of(v);
}

uint32_t zone_of(uint32_t packed) { return packed & date::ZONE_MASK; }

}  // namespace

// ---- calendar -----------------------------------------------------------------------------------

uint32_t date::pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool time)
{
    if (year < YEAR_MIN || year > YEAR_MAX) year_out_of_range(year);
    return uint32_t(int32_t(year) * (1 << 17)) | uint32_t(month) << 12 | uint32_t(day) << 7 | (time ? HAS_TIME : 0) |
           (zone & ZONE_MASK);
}

bool date::valid_packed_q(uint32_t packed)
{
    static const int32_t lengths[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int32_t m = month_of(packed), d = day_of(packed);
    if (m < 1 || m > 12 || d < 1 || d > lengths[m - 1]) return false;
    return m != 2 || d < 29 || leap_year_q(year_of(packed));
}

bool date::leap_year_q(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int64_t date::date_to_days(uint32_t packed)
{
    int64_t m = (month_of(packed) + 9) % 12;   // March 0 .. February 11
    int64_t y = year_of(packed) - m / 10;
    return year_base(y) + (306 * m + 5) / 10 + day_of(packed) - 1;
}

uint32_t date::days_to_date(int64_t n, uint32_t zone, bool time)
{
    int64_t y = int64_t(std::floor((10000.0 * double(n) + 14780.0) / 3652425.0));
    while (n < year_base(y)) y--;
    while (n >= year_base(y + 1)) y++;
    int64_t r = n - year_base(y);
    int64_t mi = (100 * r + 52) / 3060;
    int32_t month = int32_t((mi + 2) % 12 + 1);
    int64_t year = y + (mi + 2) / 12;
    int32_t day = int32_t(r - (306 * mi + 5) / 10 + 1);
    return pack(year, month, day, zone, time);
}

int64_t date::year_start(uint32_t packed) { return date_to_days(pack(year_of(packed), 1, 1, 0, false)); }

int32_t date::weekday(int64_t days) { return int32_t(floor_mod(days + 2, 7)) + 1; }

int64_t date::week_start(uint32_t packed, int32_t* weekday_of_jan1)
{
    int64_t s = year_start(packed);
    int32_t b = int32_t(floor_mod(s + 2, 7));   // 0 Monday
    if (weekday_of_jan1) *weekday_of_jan1 = b + 1;
    return b >= 4 ? s - b + 7 : s - b;
}

int32_t date::year_day(uint32_t packed) { return int32_t(date_to_days(packed) - year_start(packed) + 1); }

double date::zone_seconds(uint32_t zone)
{
    double s = double((zone >> 2) & 15) * 3600.0 + double(zone & 3) * 900.0;
    return zone & 0x40 ? -s : s;
}

uint32_t date::zone_bits(int32_t minutes)
{
    int32_t sign = minutes < 0 ? -1 : 1;
    int32_t m = minutes < 0 ? -minutes : minutes;
    m = (m / 60 % 16) * 60 + m % 60;
    return date_zone_pack(sign * m);
}

double date::to_seconds(uint32_t packed, double time) { return double(date_to_days(packed)) * DAY + time; }

int64_t date::normalize(int64_t days, double* time, uint32_t zone)
{
    double local = *time + zone_seconds(zone);
    double m = std::floor(local / DAY);
    if (!std::isfinite(m)) return days;
    if (std::fabs(m) > 1e7) year_out_of_range(m < 0 ? INT32_MIN : INT32_MAX);
    *time -= m * DAY;
    return days + int64_t(m);
}

void date::normalize_all(cell* c, double time, bool to_utc)
{
    uint32_t packed = packed_of(c);
    if (to_utc) time -= zone_seconds(zone_of(packed));
    int64_t days = normalize(date_to_days(packed), &time, zone_of(packed));
    make_at(c, days_to_date(days, zone_of(packed), has_time(packed)), time);
}

// ---- cells --------------------------------------------------------------------------------------

double date::time_of(const cell* c) { return cell_float(c); }

cell* date::make_at(cell* slot, uint32_t packed, double time)
{
    *slot = cell{TYPE_DATE, packed, 0, 0};
    cell_set_float(slot, time);
    return slot;
}

cell* date::push(uint32_t packed, double time) { return make_at(stack::push_slot(), packed, time); }

cell* date::set_all(cell* slot, int32_t year, int32_t month, int32_t day, double time, int32_t zone_minutes,
                    bool with_time)
{
    uint32_t zone = with_time ? zone_bits(zone_minutes) : 0;
    make_at(slot, pack(year, month, day, zone, with_time), 0.0);
    if (with_time) normalize_all(slot, time, true);
    return slot;
}

cell* date::set_with_time(cell* slot, int32_t year, int32_t month, int32_t day, int32_t hours, int32_t minutes,
                          int32_t seconds, int32_t nanoseconds)
{
    double t = hours * 3600.0 + minutes * 60.0 + seconds + nanoseconds * 1e-9;
    return make_at(slot, pack(year, month, day, 0, true), t);
}

int32_t date::to_epoch(const cell* c)
{
    static const int64_t epoch = date_to_days(pack(1970, 1, 1, 0, false));
    double x = double(date_to_days(packed_of(c)) - epoch) * DAY + time_of(c);
    double r = std::floor(x + 0.5);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) {
        cell t = datatype::value_of(TYPE_INTEGER);
        fire(ERR_SCRIPT, err::TYPE_LIMIT, &t);
    }
    return int32_t(r);
}

cell* date::difference(cell* a, const cell* b)
{
    double s = double(date_to_days(packed_of(a)) - date_to_days(packed_of(b))) * DAY + (time_of(a) - time_of(b));
    return time_::make_at(a, s);
}

// ---- fields -------------------------------------------------------------------------------------

int32_t date::field_index(const cell* word)
{
    static constexpr struct {
        rt_symbol symbol;
        int32_t index;
    } fields[] = {{SYM_DATE, F_DATE},         {SYM_YEAR, F_YEAR},       {SYM_MONTH, F_MONTH},
                  {SYM_DAY, F_DAY},           {SYM_ZONE, F_ZONE},       {SYM_TIME, F_TIME},
                  {SYM_HOUR, F_HOUR},         {SYM_MINUTE, F_MINUTE},   {SYM_SECOND, F_SECOND},
                  {SYM_WEEKDAY, F_WEEKDAY},   {SYM_YEARDAY, F_YEARDAY}, {SYM_JULIAN, F_YEARDAY},
                  {SYM_TIMEZONE, F_TIMEZONE}, {SYM_WEEK, F_WEEK},       {SYM_ISOWEEK, F_ISOWEEK}};
    uint32_t symbol = symbol::resolve(word_symbol(word));
    for (const auto& f : fields)
        if (symbol == symbol::resolve(rt_symbol_id(f.symbol))) return f.index;
    return -1;
}

namespace {

int32_t iso_week(uint32_t packed)
{
    int32_t w1;
    int64_t ws = date::week_start(packed, &w1);
    int64_t d = date::date_to_days(packed);
    int32_t year = date::year_of(packed);
    if (d < ws) {
        if (w1 == 5) return 53;
        if (w1 == 6) return date::leap_year_q(int64_t(year) - 1) ? 53 : 52;
        return w1 == 7 ? 52 : 1;
    }
    int64_t ws2 = date::week_start(date::pack(int64_t(year) + 1, 1, 1, 0, false), nullptr);
    return d < ws2 ? int32_t((d - ws) / 7 + 1) : 1;
}

int32_t sunday_week(uint32_t packed)
{
    int32_t f = int32_t(floor_mod(date::year_start(packed) + 3, 7));
    int32_t yd = date::year_day(packed);
    return yd > 7 - f ? (yd + f - 1) / 7 + 1 : 1;
}

}  // namespace

cell* date::get_field(const cell* c, int32_t index)
{
    uint32_t packed = packed_of(c);
    double local = time_of(c) + zone_seconds(zone_of(packed));
    switch (index) {
    case F_DATE: return push(packed & ~(HAS_TIME | ZONE_MASK), 0.0);
    case F_YEAR: return integer::push(year_of(packed));
    case F_MONTH: return integer::push(month_of(packed));
    case F_DAY: return integer::push(day_of(packed));
    case F_ZONE: case F_TIMEZONE:
        return has_time(packed) ? time_::push(zone_seconds(zone_of(packed))) : none::push();
    case F_TIME: return has_time(packed) ? time_::push(local) : none::push();
    case F_HOUR: return integer::push(time_::get_hours(local));
    case F_MINUTE: return integer::push(time_::get_minutes(local));
    case F_SECOND: return float_::push(std::fmod(local, 60));
    case F_WEEKDAY: return integer::push(weekday(date_to_days(packed)));
    case F_YEARDAY: return integer::push(year_day(packed));
    case F_WEEK: return integer::push(sunday_week(packed));
    default: return integer::push(iso_week(packed));
    }
}

namespace {

// The packed date moved to a day number, zone and flag kept.
void to_day(cell* c, int64_t days, double time)
{
    uint32_t p = date::packed_of(c);
    date::make_at(c, date::days_to_date(days, zone_of(p), date::has_time(p)), time);
}

// Year and month (any integer, whole years carried) with the day kept, through a day number.
int64_t month_days(int64_t year, int64_t n, int32_t day)
{
    year += floor_div(n - 1, 12);
    int32_t month = int32_t(floor_mod(n - 1, 12)) + 1;
    if (year < date::YEAR_MIN || year > date::YEAR_MAX) year_out_of_range(year);
    return date::date_to_days(date::pack(year, month, 1, 0, false)) + day - 1;
}

void set_zone(cell* c, const cell* value, bool keep_utc)
{
    int32_t minutes;
    if (cell_type(value) == TYPE_INTEGER) {
        minutes = (integer_of(value) % 16) * 60;
    } else if (cell_type(value) == TYPE_TIME) {
        double t = std::fmod(cell_float(value), 57600.0);
        if (!std::isfinite(t)) fire(ERR_SCRIPT, err::INVALID_ARG, value);
        minutes = int32_t(std::trunc(t / 60));
    } else {
        fire(ERR_SCRIPT, err::INVALID_ARG, value);
    }
    uint32_t p = date::packed_of(c);
    double stored = date::time_of(c);
    double local = stored + date::zone_seconds(zone_of(p));
    uint32_t zone = date::zone_bits(minutes);
    uint32_t np = (p & ~date::ZONE_MASK) | zone | date::HAS_TIME;
    if (keep_utc) {
        date::make_at(c, np, stored);
        date::normalize_all(c, stored, false);
    } else {
        date::make_at(c, np, local - date::zone_seconds(zone));
    }
}

}  // namespace

void date::set_field(cell* c, int32_t index, const cell* value)
{
    uint32_t p = packed_of(c);
    double t = time_of(c);
    int64_t days = date_to_days(p);
    switch (index) {
    case F_DATE:
        if (cell_type(value) != TYPE_DATE) fire(ERR_SCRIPT, err::INVALID_ARG, value);
        make_at(c, (packed_of(value) & ~(HAS_TIME | ZONE_MASK)) | (p & (HAS_TIME | ZONE_MASK)), t);
        return;
    case F_YEAR: {
        int32_t y = int_arg(value);
        if (y < YEAR_MIN || y > YEAR_MAX) year_out_of_range(y);
        return to_day(c, date_to_days(pack(y, month_of(p), day_of(p), 0, false)), t);
    }
    case F_MONTH: return to_day(c, month_days(year_of(p), int_arg(value), day_of(p)), t);
    case F_DAY: return to_day(c, month_days(year_of(p), month_of(p), 0) + int_arg(value), t);
    case F_ZONE: return set_zone(c, value, false);
    case F_TIMEZONE: return set_zone(c, value, true);
    case F_TIME:
        if (cell_type(value) == TYPE_NONE) return void(make_at(c, p & ~HAS_TIME, 0.0));
        if (cell_type(value) != TYPE_TIME) fire(ERR_SCRIPT, err::INVALID_ARG, value);
        make_at(c, p | HAS_TIME, 0.0);
        return normalize_all(c, cell_float(value), true);
    case F_HOUR: case F_MINUTE: case F_SECOND: {
        // Set on the local time of day, then back to UTC: the field reads back what was written.
        double zs = zone_seconds(zone_of(p));
        double local = time_::with_field(t + zs, index - F_HOUR + time_::FIELD_HOUR, value);
        make_at(c, p | HAS_TIME, 0.0);
        return normalize_all(c, local, true);
    }
    case F_WEEKDAY:
        return to_day(c, days + (int_arg(value) - 1) - floor_mod(days + 2, 7), t);
    case F_YEARDAY: return to_day(c, year_start(p) + int_arg(value) - 1, t);
    case F_WEEK: {
        int32_t n = int_arg(value);
        int64_t s = year_start(p);
        if (n > 1) s = s + 7 * int64_t(n) - floor_mod(s + 3, 7) - 7;
        return to_day(c, s, t);
    }
    default: return to_day(c, week_start(p, nullptr) + 7 * int64_t(int_arg(value)) - 7, t);
    }
}

// ---- make and to --------------------------------------------------------------------------------

namespace {

enum slot : uint8_t {
    S_FIRST = 0, S_MONTH = 1, S_THIRD = 2, S_HOUR = 3, S_MINUTE = 4, S_SECOND = 5, S_ZONE_H = 6, S_ZONE_M = 7,
    S_SECOND_F = 8, S_TIME = 10, S_ZONE_T = 12, S_NONE = 255
};
struct step {
    uint8_t next, slot;
};
// Per state, per kind (integer, time, float): the next state and the slot the value fills.
constexpr step N{0, S_NONE};
constexpr step machine[14][3] = {
    {{1, S_FIRST}, N, N},     {{2, S_MONTH}, N, N},         {{3, S_THIRD}, N, N},
    {{8, S_HOUR}, {4, S_TIME}, N},                             {{6, S_ZONE_H}, {5, S_ZONE_T}, N},
    {N, N, N},                {{7, S_ZONE_M}, N, N},        {N, N, N},
    {{9, S_MINUTE}, N, N},    {{10, S_SECOND}, N, {10, S_SECOND_F}},
    {{12, S_ZONE_H}, {11, S_ZONE_T}, N},                       {N, N, N},
    {{13, S_ZONE_M}, N, N},   {N, N, N},
};

cell* from_block(cell* proto, cell* spec, bool strict)
{
    uint32_t n = block::rs_length(spec);
    const cell* items = block::rs_head(spec);
    int64_t v[13] = {};
    double second_f = 0, time = 0, zone_t = 0;
    uint32_t state = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t t = cell_type(items + i);
        int kind = t == TYPE_INTEGER ? 0 : t == TYPE_TIME ? 1 : t == TYPE_FLOAT ? 2 : -1;
        if (kind < 0 || state > 13) bad_to_arg(spec);
        step s = machine[state][kind];
        if (s.slot == S_NONE) bad_to_arg(spec);
        if (s.slot == S_TIME) time = cell_float(items + i);
        else if (s.slot == S_ZONE_T) zone_t = cell_float(items + i);
        else if (s.slot == S_SECOND_F) second_f = cell_float(items + i);
        else v[s.slot] = integer_of(items + i);
        state = s.next;
    }
    if (n < 3) bad_to_arg(spec);
    int64_t day = v[S_FIRST], month = v[S_MONTH], year = v[S_THIRD];
    if (day > 99 && day > year) std::swap(day, year);
    int32_t zone_minutes;
    if (state == 5 || state == 11) zone_minutes = int32_t(std::trunc(std::fmod(zone_t, 57600.0) / 60));
    else zone_minutes = int32_t(v[S_ZONE_H] % 16) * 60 + int32_t(v[S_ZONE_H] < 0 ? -(v[S_ZONE_M] % 60) : v[S_ZONE_M] % 60);
    bool timed = n > 3;
    if (state >= 8) time = double(v[S_HOUR]) * 3600 + double(v[S_MINUTE]) * 60 + (second_f != 0.0 ? second_f : double(v[S_SECOND]));
    else if (state < 3) time = 0;
    if (!std::isfinite(time) || year < date::YEAR_MIN || year > date::YEAR_MAX || day < -100000 || day > 100000)
        bad_to_arg(spec);
    int64_t days = month_days(year, month, 1) + day - 1;
    uint32_t packed = date::days_to_date(days, 0, timed);
    date::make_at(proto, packed, 0.0);
    date::normalize_all(proto, time, false);
    if (strict) {
        uint32_t p = date::packed_of(proto);
        bool ok = date::year_of(p) == year && date::month_of(p) == month && date::day_of(p) == day;
        if (ok && timed && state >= 3) {
            double hours = std::floor(time / 3600);
            ok = hours >= 0 && hours <= 23 && time_::get_minutes(date::time_of(proto)) == time_::get_minutes(time);
        }
        if (!ok) bad_to_arg(spec);
    }
    uint32_t p = date::packed_of(proto);
    date::make_at(proto, (p & ~date::ZONE_MASK) | (timed ? date::zone_bits(zone_minutes) : 0), date::time_of(proto));
    date::normalize_all(proto, date::time_of(proto), true);
    return proto;
}

cell* make_or_to(cell* proto, cell* spec, bool strict)
{
    switch (cell_type(spec)) {
    case TYPE_DATE: return spec;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: return from_block(proto, spec, strict);
    case TYPE_INTEGER: {
        static const int64_t epoch = date::date_to_days(date::pack(1970, 1, 1, 0, false));
        int64_t s = integer_of(spec);
        int64_t days = epoch + floor_div(s, 86400);
        return date::make_at(proto, date::days_to_date(days, 0, true), double(floor_mod(s, 86400)));
    }
    default: bad_to_arg(spec);
    }
}

}  // namespace

cell* date::make(cell* proto, cell* spec, uint32_t) { return make_or_to(proto, spec, true); }
cell* date::to(cell* proto, cell* spec, uint32_t) { return make_or_to(proto, spec, false); }

// ---- text ---------------------------------------------------------------------------------------

namespace {

const char* const english_months[12] = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};

int32_t emit_month(cell* buffer, int32_t month, int32_t part)
{
    // system/locale/months when the system object has it, else the English names.
    cell months = object::system_field({"locale", "months"});
    if (cell_type(&months) == TYPE_NONE) {
        char name[4] = {};
        std::memcpy(name, english_months[month - 1], 3);
        return string::emit_literal(buffer, name, part);
    }
    if (cell_type(&months) != TYPE_BLOCK || block::rs_length(&months) < uint32_t(month) ||
        cell_type(block::rs_head(&months) + month - 1) != TYPE_STRING)
        fire(ERR_SCRIPT, err::INVALID_MONTHS);
    cell name = block::rs_head(&months)[month - 1];
    uint32_t head = series::head_clamped(&name), n = series::length_clamped(&name);
    for (uint32_t k = 0; k < n && k < 3; k++) {
        uint32_t cp = string_internal::cp_at(&name, head + k);
        string::append_char(series_node(buffer), cp);
        part--;
    }
    return part;
}

int32_t form_into(cell* value, cell* buffer, int32_t part, bool exact)
{
    uint32_t p = date::packed_of(value);
    const char* sep = int32_t(p) < 0 ? "/" : "-";
    part = string::emit_literal(buffer, integer::form_signed(date::day_of(p)), part);
    part = string::emit_literal(buffer, sep, part);
    part = emit_month(buffer, date::month_of(p), part);
    part = string::emit_literal(buffer, sep, part);
    int32_t y = date::year_of(p);
    if (y < 0) part = string::emit_literal(buffer, "-", part);
    int32_t m = y < 0 ? -y : y;
    char year[8];
    int k = 0;
    if (m <= 99) year[k++] = '0', year[k++] = '0';
    if (m <= 9) year[k++] = '0';
    year[k] = 0;
    part = string::emit_literal(buffer, year, part);
    part = string::emit_literal(buffer, integer::form_signed(m), part);
    if (!date::has_time(p)) return part;
    part = string::emit_literal(buffer, "/", part);
    uint32_t zone = zone_of(p);
    part = time_::form_into(date::time_of(value) + date::zone_seconds(zone), buffer, part, exact);
    if (zone == 0) return part;
    uint32_t hours = (zone >> 2) & 15, quarters = zone & 3;
    char text[8] = {zone & 0x40 ? '-' : '+', char('0' + hours / 10), char('0' + hours % 10), ':',
                    char('0' + quarters * 15 / 10), char('0' + quarters * 15 % 10), 0};
    return string::emit_literal(buffer, text, part);
}

}  // namespace

int32_t date::form(cell* value, cell* buffer, cell*, int32_t part) { return form_into(value, buffer, part, false); }
// mold/all writes the seconds of the time in full.
int32_t date::mold(cell* value, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    return form_into(value, buffer, part, all);
}

// ---- compare, arithmetic ------------------------------------------------------------------------

// By the UTC moment: the stored times are UTC, the day numbers local, so two dates of different
// zones order by day number x 86400 + stored time.
int32_t date::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_DATE) return -2;
    uint32_t p1 = packed_of(value1), p2 = packed_of(value2);
    double t1 = time_of(value1), t2 = time_of(value2);
    if (op == COMP_SAME) return p1 == p2 && std::memcmp(&value1->data2, &value2->data2, 8) == 0 ? 0 : 1;
    double a = to_seconds(p1, t1), b = to_seconds(p2, t2);
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND:
    case COMP_STRICT_EQUAL_WORD: case COMP_EQUAL_WORD:
        return float_::almost_equal_q(a, b) ? 0 : 1;
    default:
        return a < b ? -1 : a > b ? 1 : 0;
    }
}

namespace {

cell* do_math(cell* value1, cell* value2, bool subtract)
{
    uint32_t t2 = cell_type(value2);
    uint32_t p = date::packed_of(value1);
    int64_t days = date::date_to_days(p);
    double time = date::time_of(value1);
    bool timed = date::has_time(p);
    int64_t sign = subtract ? -1 : 1;
    switch (t2) {
    case TYPE_INTEGER: days += sign * integer_of(value2); break;
    case TYPE_TIME:
        time += double(sign) * cell_float(value2);
        timed = true;
        break;
    case TYPE_DATE:
        if (!subtract) integer::not_related(rt_word_cell(W_ADD), TYPE_DATE);
        days -= date::date_to_days(date::packed_of(value2));
        time -= date::time_of(value2);
        break;
    default: {
        cell t = datatype::value_of(t2);
        fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
    }
    }
    days = date::normalize(days, &time, t2 == TYPE_DATE ? 0 : zone_of(p));
    if (t2 == TYPE_DATE) {
        if (days < INT32_MIN || days > INT32_MAX) {
            cell t = datatype::value_of(TYPE_INTEGER);
            fire(ERR_SCRIPT, err::TYPE_LIMIT, &t);
        }
        return integer::make_at(value1, int32_t(days));
    }
    return date::make_at(value1, date::days_to_date(days, zone_of(p), timed), time);
}

}  // namespace

cell* date::add(cell* value1, cell* value2) { return do_math(value1, value2, false); }
cell* date::subtract(cell* value1, cell* value2) { return do_math(value1, value2, true); }

// ---- random, pick, paths ------------------------------------------------------------------------

cell* date::random(cell* value, bool seed, bool secure, bool)
{
    uint32_t p = packed_of(value);
    if (seed) {
        double t = time_of(value);
        random_::seed(p + uint32_t(int32_t(std::isfinite(t) ? std::fmod(t, 2147483648.0) : 0)));
        return unset::make_at(value);
    }
    int64_t days = date_to_days(p);
    int64_t r = days;
    if (days > 1 && days <= INT32_MAX) r = random_::int_(int32_t(days), secure);
    uint32_t zone = 0;
    double t = 0;
    if (has_time(p)) {
        zone = random_::draw(secure) & ZONE_MASK;
        double u = double(random_::draw(secure)) / 4294967296.0;
        t = std::floor(u * 3600) / 3600 * 24 * 3600;
    }
    make_at(value, days_to_date(r - 1, zone, has_time(p)), 0.0);
    if (has_time(p)) normalize_all(value, t, true);
    return value;
}

cell* date::pick(cell* value, int32_t n, cell* index)
{
    int32_t i = cell_type(index) == TYPE_WORD ? field_index(index) : cell_type(index) == TYPE_INTEGER ? n : -1;
    if (i < F_DATE || i > F_ISOWEEK) fire(ERR_SCRIPT, err::OUT_OF_RANGE, index);
    return get_field(value, i);
}

cell* date::eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                      int32_t, bool, bool, bool, bool notify)
{
    int32_t i = -1;
    if (cell_type(element) == TYPE_INTEGER) i = integer_of(element);
    else if (cell_type(element) == TYPE_WORD) i = field_index(element);
    if (i < F_DATE || i > F_ISOWEEK) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    if (!value) return get_field(parent, i);
    stack::scope keep;
    cell* old = keep.push(*parent);
    cell changed = *parent;
    set_field(&changed, i, value);
    *parent = changed;
    if (!notify || !grandparent) return value;
    object::report_field_set(grandparent, previous, old, keep.push(*parent), value, i);
    return value;
}

void date::init()
{
    datatype::register_type(TYPE_DATE, 0, "date!", {
        .make = make, .random = random, .to = to, .form = form, .mold = mold, .eval_path = eval_path,
        .compare = compare, .add = add, .subtract = subtract, .pick = pick});
}
