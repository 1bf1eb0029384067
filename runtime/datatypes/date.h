// date!: a calendar date with an optional time of day and zone in one cell. Word 1 is the packed
// date (year in bits 17-31, signed; month 12-15; day 7-11; has-time bit 16; zone bits 0-6: sign
// bit 6, whole hours 2-5, quarter hours 0-1); words 2-3 the time of day in seconds, stored in UTC
// while the calendar fields hold the local date. Day numbers count from a March-based year 0 with
// floor divisions, so years at and below 0 are exact; they and seconds stay in 64 bits.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace date {

constexpr uint32_t HAS_TIME = 0x10000;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr int32_t YEAR_MIN = -16384, YEAR_MAX = 16383;

enum field : int32_t {
    F_DATE = 1, F_YEAR, F_MONTH, F_DAY, F_ZONE, F_TIME, F_HOUR, F_MINUTE, F_SECOND, F_WEEKDAY, F_YEARDAY,
    F_TIMEZONE, F_WEEK, F_ISOWEEK
};

void init();

// ---- packed words -------------------------------------------------------------------------------
inline int32_t year_of(uint32_t packed) { return int32_t(packed) >> 17; }
inline int32_t month_of(uint32_t packed) { return int32_t((packed >> 12) & 15); }
inline int32_t day_of(uint32_t packed) { return int32_t((packed >> 7) & 31); }
inline bool has_time(uint32_t packed) { return (packed & HAS_TIME) != 0; }
// Year, month and day packed with the zone bits and the flag; script/out-of-range for a year
// outside YEAR_MIN..YEAR_MAX.
uint32_t pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool time);

int64_t date_to_days(uint32_t packed);
// Whether outside data holds a real date: month 1-12 and a day of that month.
bool valid_packed_q(uint32_t packed);
uint32_t days_to_date(int64_t days, uint32_t zone, bool time);
bool leap_year_q(int64_t year);
int64_t year_start(uint32_t packed);
int64_t week_start(uint32_t packed, int32_t* weekday_of_jan1);
int32_t year_day(uint32_t packed);
int32_t weekday(int64_t days);   // 1 Monday .. 7 Sunday
double zone_seconds(uint32_t zone);
// The zone bits of an offset in minutes (hours taken modulo 16), sign from the whole offset.
uint32_t zone_bits(int32_t minutes);
double to_seconds(uint32_t packed, double time);   // day number x 86400 + time

// Moves whole days between the time and the day number so the local time ends in [0, 24 h).
int64_t normalize(int64_t days, double* time, uint32_t zone);
// Writes the normalised date into the cell (its zone and flag kept); to_utc first takes the time
// as local.
void normalize_all(cell* c, double time, bool to_utc);

// ---- cells ---------------------------------------------------------------------------------------
inline uint32_t packed_of(const cell* c) { return c->data1; }
double time_of(const cell* c);
cell* make_at(cell* slot, uint32_t packed, double time);
cell* push(uint32_t packed, double time);
// The local time given; stored in UTC. Zone from signed hours and minutes (the lexer's fields).
cell* set_all(cell* slot, int32_t year, int32_t month, int32_t day, double time, int32_t zone_minutes,
              bool with_time);
// A UTC time of a file or the clock: zone 0, has-time set.
cell* set_with_time(cell* slot, int32_t year, int32_t month, int32_t day, int32_t hours, int32_t minutes,
                    int32_t seconds, int32_t nanoseconds);

// Seconds since 1-Jan-1970 00:00 UTC, rounded (floor of x + 0.5); script/type-limit beyond 32 bits.
int32_t to_epoch(const cell* c);
// a's moment minus b's as a time!, written into a.
cell* difference(cell* a, const cell* b);

int32_t field_index(const cell* word);   // 1-14, -1 for no field word
cell* get_field(const cell* c, int32_t index);   // pushed on the argument stack
// Stores the value into the field of the cell; raises script/invalid-arg for a wrong value.
void set_field(cell* c, int32_t index, const cell* value);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* add(cell* value1, cell* value2);
cell* subtract(cell* value1, cell* value2);
cell* pick(cell* value, int32_t n, cell* index);

}  // namespace date
