// The token loaders: the text forms each literal accepts, the escapes, and the values they make.
// A loader checks its token first (the same check serves scan-only mode) and appends a value only
// when asked. Must not break: token text is read only inside the token and the input's end, and
// a value's slot is appended after the allocations its making needs that could fail the check.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/stack.h"
#include "runtime/io/lexer_state.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

using namespace lexer;

namespace {

constexpr uint32_t BLANK_SET_SIZE = 8290;   // code points at or above are never blanks
constexpr uint32_t FLOAT_TEXT_MAX = 312;

constexpr uint32_t NAME_CACHE = 4096;

struct name_entry {
    cell word;          // header 0: empty
    uint8_t length;
    uint8_t text[31];
};

struct loader_module {
    uint32_t blanks[(BLANK_SET_SIZE + 31) / 32];
    name_entry names[NAME_CACHE];        // names met before, by hash
    std::vector<uint32_t> code_points;   // reused by the text loaders
    std::vector<uint8_t> bytes;
};
loader_module loader_s;

const uint8_t* text_of(const state& st, uint32_t at) { return st.input + at; }

cell* emit(state& st) { return out_at(out_append(st)); }

bool digit_q(uint8_t c) { return c >= '0' && c <= '9'; }

int32_t hex_value(uint32_t c)
{
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
    return -1;
}

uint32_t lower(uint32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }
bool alpha_q(uint32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Case-insensitive comparison of ASCII text with a lower-case word.
bool same_word(const uint8_t* p, uint32_t n, const char* word)
{
    if (std::strlen(word) != n) return false;
    for (uint32_t i = 0; i < n; i++)
        if (lower(p[i]) != uint8_t(word[i])) return false;
    return true;
}

bool valid_utf8(const uint8_t* p, const uint8_t* end)
{
    while (p < end) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        int32_t cp;
        p = unicode::fast_decode_utf8_char(p, end, &cp);
        if (cp < 0) return false;
    }
    return true;
}

// ---- escapes and text -----------------------------------------------------------------------------

struct named_escape {
    const char* name;
    uint32_t code;
};
constexpr named_escape named_escapes[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

// The escape after a "^" at p: its code point and the position after it, or null when invalid.
const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, uint32_t* cp)
{
    if (p >= end) return nullptr;
    if (*p == '(') {
        const uint8_t* body = p + 1;
        const uint8_t* close = body;
        while (close < end && *close != ')' && close - body < 7) close++;
        if (close >= end || *close != ')' || close == body) return nullptr;
        uint32_t n = uint32_t(close - body);
        uint32_t value = 0;
        bool hex = n <= 6;
        for (uint32_t i = 0; hex && i < n; i++) {
            int32_t d = hex_value(body[i]);
            hex = d >= 0;
            value = value << 4 | uint32_t(d);
        }
        if (hex) {
            if (value > 0x10FFFF) return nullptr;
            *cp = value;
            return close + 1;
        }
        for (const named_escape& e : named_escapes) {
            if (!same_word(body, n, e.name)) continue;
            *cp = e.code;
            return close + 1;
        }
        return nullptr;
    }
    int32_t c;
    const uint8_t* next = unicode::fast_decode_utf8_char(p, end, &c);
    if (c < 0) return nullptr;
    switch (c) {
    case '-': *cp = 9; break;
    case '/': *cp = 10; break;
    case '~': *cp = 127; break;
    case '@': *cp = 0; break;
    default:
        if (c >= 'a' && c <= 'z') *cp = uint32_t(c - 'a' + 1);
        else if (c >= 'A' && c <= '_' && c != '^') *cp = uint32_t(c - 64);
        else *cp = uint32_t(c);   // " ^ { } and any other character stand for themselves
    }
    return next;
}

// Code points of [p, end): UTF-8 checked, "^" escapes decoded when asked. False when the text
// holds an invalid sequence or escape. *max gets the largest code point.
bool decode_text(const uint8_t* p, const uint8_t* end, bool escapes, std::vector<uint32_t>& out, uint32_t* max)
{
    out.clear();
    uint32_t top = 0;
    while (p < end) {
        uint32_t cp;
        if (*p < 0x80 && !(escapes && *p == '^')) {
            cp = *p++;
        } else if (*p == '^') {
            p = decode_escape(p + 1, end, &cp);
            if (!p) return false;
        } else {
            int32_t c;
            p = unicode::fast_decode_utf8_char(p, end, &c);
            if (c < 0) return false;
            cp = uint32_t(c);
        }
        if (cp > top) top = cp;
        out.push_back(cp);
    }
    *max = top;
    return true;
}

// "%" and two hex digits become that byte; a "%" without them stays as it is.
void percent_decode(std::vector<uint8_t>& bytes)
{
    size_t w = 0;
    for (size_t r = 0; r < bytes.size(); r++) {
        if (bytes[r] == '%' && r + 2 < bytes.size() && hex_value(bytes[r + 1]) >= 0 && hex_value(bytes[r + 2]) >= 0) {
            bytes[w++] = uint8_t(hex_value(bytes[r + 1]) << 4 | hex_value(bytes[r + 2]));
            r += 2;
        } else {
            bytes[w++] = bytes[r];
        }
    }
    bytes.resize(w);
}

// Appends a text value of `type` holding the code points, in the narrowest unit they fit.
void emit_code_points(state& st, uint32_t type, const std::vector<uint32_t>& cps, uint32_t max)
{
    uint32_t unit = max <= 0xFF ? 1 : max <= 0xFFFF ? 2 : 4;
    uint32_t n = uint32_t(cps.size());
    cell* slot = emit(st);
    string::make_at(slot, n, unit);
    series_buffer* s = series_of(slot->data2);
    uint8_t* out = at(s->head);
    for (uint32_t i = 0; i < n; i++) unit_write(out + i * unit, unit, cps[i]);
    s->tail = s->head + n * unit;
    cell_set_type(slot, type);
}

enum text_mode : uint32_t { PLAIN = 0, ESCAPES = 1, PERCENT = 2 };

// The text [from, to) of a token as a value of `type`. Raises `invalid` type (quoting from the
// token's start) when it does not decode.
void text_value(state& st, uint32_t from, uint32_t to, uint32_t flags, uint32_t type, uint32_t mode, bool load)
{
    const uint8_t* p = text_of(st, from);
    const uint8_t* end = text_of(st, to);
    bool escapes = (mode & ESCAPES) && (flags & F_CARET);
    bool percent = (mode & PERCENT) && (flags & F_PERCENT) && std::memchr(p, '%', size_t(end - p));
    st.last_type = type;
    if (!escapes && !percent && !(flags & F_NON_ASCII)) {
        // Plain ASCII: the bytes are the units.
        if (!load) return;
        uint32_t n = to - from;
        cell* slot = emit(st);
        string::make_at(slot, n, 1);
        series_buffer* s = series_of(slot->data2);
        std::memcpy(at(s->head), text_of(st, from), n);
        s->tail = s->head + n;
        cell_set_type(slot, type);
        return;
    }
    std::vector<uint32_t>& cps = loader_s.code_points;
    uint32_t max = 0;
    bool ok;
    if (percent) {
        // Escapes first, then the percent-encoded bytes, which must form UTF-8 themselves.
        std::vector<uint8_t>& bytes = loader_s.bytes;
        bytes.assign(p, end);
        ok = !escapes || decode_text(p, end, true, cps, &max);
        if (ok && escapes) {
            bytes.clear();
            for (uint32_t cp : cps) {
                uint8_t b[4];
                bytes.insert(bytes.end(), b, b + utf8_encode_char(cp, b));
            }
        }
        if (ok) {
            percent_decode(bytes);
            ok = decode_text(bytes.data(), bytes.data() + bytes.size(), false, cps, &max);
        }
    } else {
        ok = decode_text(p, end, escapes, cps, &max);
    }
    if (!ok) throw_error(st, st.token_start, to, int32_t(type));
    if (load) emit_code_points(st, type, cps, max);
}

// A text literal of a datatype with the string layout: its text is [from, to), its token ends
// at `after`. "^" escapes count only in ESCAPES mode (an unquoted file name has none).
void text_literal(state& st, uint32_t type, uint32_t from, uint32_t to, uint32_t after, uint32_t flags,
                  uint32_t mode, bool load)
{
    if (load && !registered(type)) not_done(type);
    text_value(st, from, to, flags, type, mode, load);
    st.pos = after;
}

// ---- words --------------------------------------------------------------------------------------

// The global word of a name: from the cache of names met before, else made (and cached). A
// symbol and its global position never change once made, so a cached word stays true.
cell global_word(const uint8_t* name, uint32_t length)
{
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < length; i++) hash = (hash ^ name[i]) * 16777619u;
    name_entry& e = loader_s.names[hash % NAME_CACHE];
    if (e.word.header && e.length == length && std::memcmp(e.text, name, length) == 0) return e.word;
    cell w{TYPE_UNSET, 0, 0, 0};
    word::make_at(symbol::search_part(name, length), &w);
    if (length <= sizeof e.text) {
        e.word = w;
        e.length = uint8_t(length);
        std::memcpy(e.text, name, length);
    }
    return w;
}

// Appends a word of `type` named by [from, to): issues and refinements keep no position in the
// global context, the other kinds are bound to it.
void emit_word(state& st, uint32_t type, uint32_t from, uint32_t to)
{
    cell w = global_word(text_of(st, from), to - from);
    if (type == TYPE_ISSUE || type == TYPE_REFINEMENT) w.data3 = uint32_t(-1);
    cell_set_type(&w, type);
    *emit(st) = w;
}

void check_name(state& st, uint32_t from, uint32_t to, uint32_t flags, uint32_t type)
{
    if (from >= to || ((flags & F_NON_ASCII) && !valid_utf8(text_of(st, from), text_of(st, to))))
        throw_error(st, st.token_start, to, int32_t(type));
}

// ---- numbers --------------------------------------------------------------------------------------

// Decimal digits with single "'" separators after a digit: the digit count, or -1 when the text
// is not that. The digits' value, when it fits 64 bits, goes to *value.
int32_t digit_run(const uint8_t* p, uint32_t n, uint64_t* value)
{
    int32_t digits = 0;
    uint64_t v = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (p[i] == '\'') {
            if (i == 0 || p[i - 1] == '\'') return -1;
            continue;
        }
        if (!digit_q(p[i])) return -1;
        if (v < 100000000000000000ull) v = v * 10 + (p[i] - '0');
        digits++;
    }
    *value = v;
    return digits ? digits : -1;
}

// A decimal: the float syntax of float! conversions (sign, digits with "'", "." and digits, an
// exponent) or a special float ("1.#NaN", "1.#INF" with a sign, in any letter case).
bool decimal(const uint8_t* t, uint32_t n, double* value)
{
    int32_t status;
    *value = float_::from_text(t, n, 1, &status);
    return status == 0;
}

// The value of decimal text with its exponent lowered by two: a percent's, correctly rounded.
double percent_value(const uint8_t* t, uint32_t n)
{
    char text[FLOAT_TEXT_MAX + 1];
    size_t k = 0;
    for (uint32_t i = 0; i < n && k < FLOAT_TEXT_MAX; i++)
        if (t[i] != '\'') text[k++] = char(t[i]);
    size_t remaining = 0;
    return text_to_float(text, k, -2, &remaining);
}

// A signed decimal integer in 32 bits: optional sign, digits with single "'". *fits is false on
// overflow (the text is still an integer's).
bool signed_integer(const uint8_t* t, uint32_t n, int32_t* value, bool* fits)
{
    bool negative = n && t[0] == '-';
    uint32_t i = n && (t[0] == '-' || t[0] == '+') ? 1 : 0;
    uint64_t v = 0;
    int32_t digits = digit_run(t + i, n - i, &v);
    if (digits < 0) return false;
    uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    *fits = digits <= 10 && v <= limit;
    *value = *fits ? int32_t(negative ? -int64_t(v) : int64_t(v)) : 0;
    return true;
}

// ---- values whose datatypes come with other modules ----------------------------------------------

void emit_integer(state& st, int32_t value) { integer::make_at(emit(st), value); }
void emit_float(state& st, double value) { float_::make_at(emit(st), value); }
void emit_char(state& st, uint32_t cp) { char_::make_at(emit(st), cp); }
void emit_time(state& st, double seconds) { time_::make_at(emit(st), seconds); }

void make_percent(state& st, double value) { percent::make_at(emit(st), value); }
void make_tuple(state& st, const uint8_t* bytes, uint32_t count) { tuple::make_at(emit(st), bytes, count); }
void make_pair(state& st, int32_t x, int32_t y) { pair::make_at(emit(st), x, y); }
void make_point(state& st, const double* v, uint32_t count)
{
    if (count == 3) point3D::make_at(emit(st), point2D::to_single(v[0]), point2D::to_single(v[1]), point2D::to_single(v[2]));
    else point2D::make_at(emit(st), point2D::to_single(v[0]), point2D::to_single(v[1]));
}
void make_binary(state& st, const std::vector<uint8_t>& bytes)
{
    cell* slot = binary::make_at(emit(st), uint32_t(bytes.size()));
    series_buffer* s = series_of(slot->data2);
    if (!bytes.empty()) std::memcpy(at(s->head), bytes.data(), bytes.size());
    s->tail = s->head + uint32_t(bytes.size());
}

void make_date(state& st, const date_fields& d)
{
    date::set_all(emit(st), d.year, d.month, d.day, d.seconds, d.zone ? d.zone_minutes : 0, d.time);
}

struct money_fields {
    bool negative;
    char currency[4];   // empty when none
    std::string digits;     // integral digits, leading zeros dropped
    std::string fraction;   // up to 5 digits
};
// False when the currency is unknown or the amount has more integral digits than money! holds.
bool make_money(state& st, const money_fields& m)
{
    cell made;
    if (!money::make_in(&made, m.negative, m.currency, m.digits.data(), uint32_t(m.digits.size()),
                        m.fraction.data(), uint32_t(m.fraction.size())))
        return false;
    *emit(st) = made;
    return true;
}

// ---- dates ----------------------------------------------------------------------------------------

const char* const month_names[12] = {"january", "february", "march",     "april",   "may",      "june",
                                     "july",    "august",   "september", "october", "november", "december"};

bool leap_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t month_days(int32_t y, int32_t m)
{
    static const int32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap_q(y) ? 29 : days[m - 1];
}

// Reads the date text left to right.
struct cursor {
    const uint8_t* p;
    const uint8_t* end;
    bool at(uint8_t c) const { return p < end && *p == c; }
    bool take(uint8_t c)
    {
        if (!at(c)) return false;
        p++;
        return true;
    }
    // Up to `most` digits (at least one): their value; -1 when there is none.
    int32_t number(uint32_t most, uint32_t* count = nullptr)
    {
        uint32_t n = 0;
        int32_t v = 0;
        while (p < end && digit_q(*p) && n < most) v = v * 10 + (*p++ - '0'), n++;
        if (count) *count = n;
        return n ? v : -1;
    }
    bool digits_next() const { return p < end && digit_q(*p); }
};

// Seconds with an optional fraction: "ss" or "ss.fff".
bool seconds_part(cursor& c, double* seconds)
{
    const uint8_t* start = c.p;
    while (c.digits_next()) c.p++;
    if (c.p == start) return false;
    if (c.take('.') || c.take(',')) {
        while (c.digits_next()) c.p++;
    }
    char text[64];
    uint32_t n = 0;
    for (const uint8_t* q = start; q < c.p && n < sizeof text - 1; q++) text[n++] = *q == ',' ? '.' : char(*q);
    size_t remaining = 0;
    *seconds = text_to_float(text, n, 0, &remaining);
    return remaining == 0 && *seconds < 60.0;
}

// "Z", or a sign, one or two hour digits, then ":" and minutes (or two more digits).
bool zone_part(cursor& c, date_fields& d)
{
    if (c.p >= c.end) return true;
    if (c.take('Z') || c.take('z')) {
        d.zone = true;
        d.zone_minutes = 0;
        return c.p == c.end;
    }
    int32_t sign = c.take('+') ? 1 : c.take('-') ? -1 : 0;
    if (!sign) return false;
    uint32_t count;
    int32_t hours = c.number(4, &count), minutes = 0;
    if (hours < 0) return false;
    if (count > 2) {
        if (count != 4) return false;
        minutes = hours % 100;
        hours /= 100;
    } else if (c.take(':')) {
        uint32_t m_count;
        minutes = c.number(2, &m_count);
        if (m_count != 2) return false;
    }
    if (hours > 15 || minutes > 59) return false;
    d.zone = true;
    d.zone_minutes = sign * (hours * 60 + minutes);
    return c.p == c.end;
}

// "hh:mm[:ss[.f]]" then the zone.
bool time_part(cursor& c, date_fields& d)
{
    int32_t h = c.number(2), m;
    if (h < 0 || !c.take(':') || (m = c.number(2)) < 0) return false;
    double s = 0;
    if (c.take(':') && !seconds_part(c, &s)) return false;
    if (h > 23 || m > 59) return false;
    d.time = true;
    d.seconds = h * 3600.0 + m * 60.0 + s;
    return zone_part(c, d);
}

// A month as a number or as 3 to 9 letters that begin an English month name.
int32_t month_part(cursor& c)
{
    if (c.digits_next()) return c.number(2);
    const uint8_t* start = c.p;
    while (c.p < c.end && alpha_q(*c.p)) c.p++;
    uint32_t n = uint32_t(c.p - start);
    if (n < 3 || n > 9) return -1;
    for (int32_t m = 0; m < 12; m++) {
        const char* name = month_names[m];
        if (n > std::strlen(name)) continue;
        uint32_t i = 0;
        while (i < n && lower(start[i]) == uint8_t(name[i])) i++;
        if (i == n) return m + 1;
    }
    return -1;
}

// Day of the year (from 1) to month and day.
bool from_year_day(date_fields& d, int32_t year_day)
{
    if (year_day < 1 || year_day > (leap_q(d.year) ? 366 : 365)) return false;
    d.month = 1;
    while (year_day > month_days(d.year, d.month)) year_day -= month_days(d.year, d.month++);
    d.day = year_day;
    return true;
}

// Day of the week of a date, Monday 1 to Sunday 7.
int32_t weekday_of(int32_t y, int32_t m, int32_t d)
{
    static const int32_t t[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    int32_t w = (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;   // 0 Sunday
    if (w < 0) w += 7;
    return w == 0 ? 7 : w;
}

// Week form: the Monday of week 1 is that of the week holding 4 January.
bool from_week(date_fields& d, int32_t week, int32_t weekday)
{
    if (week < 1 || week > 53 || weekday < 1 || weekday > 7) return false;
    int32_t year_day = 4 - (weekday_of(d.year, 1, 4) - 1) + (week - 1) * 7 + (weekday - 1);
    while (year_day < 1) year_day += leap_q(--d.year) ? 366 : 365;
    int32_t length = leap_q(d.year) ? 366 : 365;
    while (year_day > length) {
        year_day -= length;
        length = leap_q(++d.year) ? 366 : 365;
    }
    return from_year_day(d, year_day);
}

int32_t full_year(int32_t year, uint32_t digits) { return digits <= 2 ? (year > 49 ? 1900 : 2000) + year : year; }

}  // namespace

bool lexer::parse_date(const uint8_t* t, uint32_t n, date_fields& d)
{
    d = date_fields{};
    cursor c{t, t + n};
    // Compact ISO: yyyymmddThhmm[ss[.f]][zone].
    if (n >= 13 && t[8] == 'T') {
        bool compact = true;
        for (uint32_t i = 0; i < 8; i++) compact = compact && digit_q(t[i]);
        if (compact) {
            d.year = c.number(4), d.month = c.number(2), d.day = c.number(2);
            c.p++;
            uint32_t count;
            int32_t h = c.number(2, &count), m = c.number(2);
            if (count != 2 || m < 0 || h > 23 || m > 59) return false;
            double s = 0;
            if (c.digits_next() && !seconds_part(c, &s)) return false;
            d.time = true;
            d.seconds = h * 3600.0 + m * 60.0 + s;
            if (!zone_part(c, d)) return false;
            return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= month_days(d.year, d.month);
        }
    }
    bool negative_first = c.take('-');
    uint32_t first_digits;
    int32_t first = c.number(9, &first_digits);
    if (first < 0 || !(c.at('-') || c.at('/'))) return false;
    uint8_t separator = *c.p++;
    if (separator == '-' && (c.at('W') || c.at('w'))) {
        // ISO week: yyyy-Www[-d].
        c.p++;
        uint32_t count;
        int32_t week = c.number(2, &count), weekday = 1;
        if (count != 2) return false;
        if (c.take('-') && (weekday = c.number(1)) < 0) return false;
        d.year = negative_first ? -first : first;
        if (first_digits > 4 || !from_week(d, week, weekday)) return false;
        if ((c.at('T') || c.at('/')) && (c.p++, !time_part(c, d))) return false;
        return c.p == c.end;
    }
    if (separator == '-' && c.digits_next()) {
        // Ordinal: yyyy-ddd, exactly three digits and nothing before a time.
        const uint8_t* mark = c.p;
        uint32_t count;
        int32_t year_day = c.number(4, &count);
        if (count == 3 && !c.at('-')) {
            d.year = negative_first ? -first : first;
            if (first_digits > 4 || year_day == 0 || !from_year_day(d, year_day)) return false;
            if ((c.at('T') || c.at('/')) && (c.p++, !time_part(c, d))) return false;
            return c.p == c.end;
        }
        c.p = mark;
    }
    int32_t month = month_part(c);
    if (month < 1 || month > 12 || !c.take(separator)) return false;
    bool negative_last = c.take('-');
    uint32_t last_digits;
    int32_t last = c.number(9, &last_digits);
    if (last < 0) return false;
    if (first > 99 && last <= 31 && !negative_last) {
        d.year = negative_first ? -first : first;
        d.day = last;
        if (first_digits > 4) return false;
    } else {
        if (negative_first || last_digits > 4) return false;
        d.day = first;
        d.year = negative_last ? -last : full_year(last, last_digits);
    }
    d.month = month;
    if (c.at('/') || c.at('T')) {
        c.p++;
        if (!time_part(c, d)) return false;
    }
    if (c.p != c.end) return false;
    return d.year >= -9999 && d.year <= 9999 && d.day >= 1 && d.day <= month_days(d.year, d.month);
}

namespace {

// ---- binary ---------------------------------------------------------------------------------------

// The body of a binary literal in base 2, 16 or 64 by the binary! decoders, which pass over
// blanks, line feeds and ";" comments; base-16 digits must come in pairs.
bool decode_binary(const uint8_t* p, const uint8_t* end, int32_t base, std::vector<uint8_t>& out)
{
    const uint32_t n = uint32_t(end - p);
    out.resize(size_t(binary::debase_room(base, n)));
    int64_t written = binary::debase_into(base, p, n, 1, out.data(), true);
    if (written < 0) return false;
    out.resize(size_t(written));
    return true;
}

}  // namespace

// ---- the Unicode blanks -----------------------------------------------------------------------------

void lexer::init_blanks()
{
    static const uint32_t singles[] = {0x85, 0xA0, 0x1680, 0x180E, 0x2028, 0x2029, 0x202F, 0x205F, 0x200B};
    std::memset(loader_s.blanks, 0, sizeof loader_s.blanks);
    auto add = [](uint32_t cp) { loader_s.blanks[cp / 32] |= 1u << (cp % 32); };
    for (uint32_t cp : singles) add(cp);
    for (uint32_t cp = 0x2000; cp <= 0x200A; cp++) add(cp);
}

bool lexer::unicode_blank_q(uint32_t cp)
{
    return cp < BLANK_SET_SIZE && (loader_s.blanks[cp / 32] >> (cp % 32) & 1);
}

// ---- strings --------------------------------------------------------------------------------------

void lexer::load_string(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    text_literal(st, TYPE_STRING, start + 1, end, end + 1, flags, ESCAPES, load);
}

void lexer::load_braced(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    text_literal(st, TYPE_STRING, start + 1, end, end + 1, flags, ESCAPES, load);
}

// n "%", "{", the text, "}" and n "%": the first "}" followed by exactly n "%" ends it; a "}" with
// fewer is text; more is an error, as is the end of the input.
void lexer::load_raw_string(state& st, uint32_t start, uint32_t, uint32_t, bool load)
{
    uint32_t n = 0, p = start;
    while (p < st.end && st.input[p] == '%') n++, p++;
    uint32_t body = p + 1;
    for (p = body; p < st.end; p++) {
        if (st.input[p] != '}') continue;
        uint32_t k = 0;
        while (p + 1 + k < st.end && st.input[p + 1 + k] == '%') k++;
        if (k < n) continue;
        if (k > n) throw_error(st, start, p + 1 + k, TYPE_STRING);
        uint32_t flags = 0, end = p + 1 + k;
        for (uint32_t i = body; i < p; i++) flags |= st.input[i] >= 0x80 ? uint32_t(F_NON_ASCII) : 0u;
        text_value(st, body, p, flags, TYPE_STRING, PLAIN, load);
        // The automaton counted the lines up to where it stopped; the rest once, on the first run.
        for (uint32_t i = std::max(st.pos, st.token_end); i < end; i++) st.line += st.input[i] == '\n';
        st.pos = end;
        return;
    }
    throw_error(st, start, st.end, TYPE_STRING);
}

void lexer::load_file(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    if (st.input[start + 1] == '"') text_literal(st, TYPE_FILE, start + 2, end, end + 1, flags, ESCAPES | PERCENT, load);
    else text_literal(st, TYPE_FILE, start + 1, end, end, flags, PERCENT, load);
}

void lexer::load_url(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    uint8_t first = st.input[start];
    if (first == ':' || first == '\'') throw_error(st, start, end, first == ':' ? TYPE_GET_WORD : TYPE_LIT_WORD);
    text_literal(st, TYPE_URL, start, end, end, flags, PERCENT, load);
}

void lexer::load_tag(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    text_literal(st, TYPE_TAG, start + 1, end, end + 1, flags, PLAIN, load);
}

void lexer::load_email(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    text_literal(st, TYPE_EMAIL, start, end, end, flags, PLAIN, load);
}

void lexer::load_ref(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    text_literal(st, TYPE_REF, start + 1, end, end, flags, PLAIN, load);
}

// ---- words --------------------------------------------------------------------------------------

// A leading ":" makes a get-word!, a leading "'" a lit-word!, a trailing ":" a set-word!; "#"
// begins an issue. A mark alone, or two marks, are errors of the kind they start.
void lexer::load_word(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    const uint8_t* t = text_of(st, start);
    uint32_t n = end - start, from = start, to = end, type = TYPE_WORD;
    if (t[0] == '#') {
        type = TYPE_ISSUE, from++;
    } else {
        if (t[0] == ':') type = TYPE_GET_WORD, from++;
        else if (t[0] == '\'') type = TYPE_LIT_WORD, from++;
        if (n > 1 && t[n - 1] == ':') {
            if (type != TYPE_WORD) throw_error(st, start, end, int32_t(type));
            type = TYPE_SET_WORD, to--;
        }
    }
    check_name(st, from, to, flags, type);
    st.last_type = type;
    st.pos = end;
    if (load) emit_word(st, type, from, to);
}

void lexer::load_refinement(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    check_name(st, start + 1, end, flags, TYPE_REFINEMENT);
    st.last_type = TYPE_REFINEMENT;
    st.pos = end;
    if (load) emit_word(st, TYPE_REFINEMENT, start + 1, end);
}

uint32_t lexer::load_path_head(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load)
{
    uint8_t mark = st.input[start];
    uint32_t kind = mark == '\'' ? TYPE_LIT_PATH : mark == ':' ? TYPE_GET_PATH : TYPE_PATH;
    uint32_t from = kind == TYPE_PATH ? start : start + 1;
    if (load && !registered(kind)) not_done(kind);
    if (digit_q(st.input[from])) {
        load_integer_alt(st, from, end, flags, load);
    } else {
        check_name(st, from, end, flags, TYPE_WORD);
        if (load) emit_word(st, TYPE_WORD, from, end);
    }
    return kind;
}

// ---- numbers --------------------------------------------------------------------------------------

// Optional sign and digits with single "'": more than 10 digits, or more than 32 bits, load as
// a float! (but -2147483648 is the smallest integer).
void lexer::load_integer(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    const uint8_t* t = text_of(st, start);
    uint32_t n = end - start;
    int32_t value;
    bool fits;
    if (!signed_integer(t, n, &value, &fits)) throw_error(st, start, end, TYPE_INTEGER);
    // Too big for an integer, the text must read as a float! (so not be longer than one may be).
    double d = 0;
    if (!fits && !decimal(t, n, &d)) throw_error(st, start, end, TYPE_FLOAT);
    st.pos = end;
    st.last_type = fits ? TYPE_INTEGER : TYPE_FLOAT;
    if (!load) return;
    if (fits) emit_integer(st, value);
    else emit_float(st, d);
}

// 2 to 8 hexadecimal digits and "h"; 8 digits wrap to a negative integer.
void lexer::load_integer_alt(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    const uint8_t* t = text_of(st, start);
    uint32_t digits = end - start - 1, value = 0;
    bool ok = digits >= 2 && digits <= 8 && t[digits] == 'h';
    for (uint32_t i = 0; ok && i < digits; i++) {
        int32_t d = hex_value(t[i]);
        ok = d >= 0;
        value = value << 4 | uint32_t(d);
    }
    if (!ok) throw_error(st, start, end, TYPE_INTEGER);
    st.pos = end;
    st.last_type = TYPE_INTEGER;
    if (load) emit_integer(st, int32_t(value));
}

void lexer::load_float(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    double value;
    if (!decimal(text_of(st, start), end - start, &value)) throw_error(st, start, end, TYPE_FLOAT);
    st.pos = end;
    st.last_type = TYPE_FLOAT;
    if (load) emit_float(st, value);
}

// "1.#NaN" or "1.#INF", with an optional sign.
void lexer::load_float_alt(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    const uint8_t* t = text_of(st, start);
    uint32_t sign = t[0] == '-' || t[0] == '+' ? 1 : 0;
    double value;
    if (end - start != sign + 6 || t[sign] != '1' || !decimal(t, end - start, &value))
        throw_error(st, start, end, TYPE_FLOAT);
    st.pos = end;
    st.last_type = TYPE_FLOAT;
    if (load) emit_float(st, value);
}

void lexer::load_percent(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    double value;
    if (!decimal(text_of(st, start), end - start, &value)) throw_error(st, start, end + 1, TYPE_PERCENT);
    st.pos = end + 1;
    st.last_type = TYPE_PERCENT;
    if (load) make_percent(st, percent_value(text_of(st, start), end - start));
}

// 3 to 12 parts of 0 to 255 separated by ".".
void lexer::load_tuple(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    uint8_t bytes[12];
    uint32_t count = 0, value = 0, digits = 0;
    bool ok = true;
    for (uint32_t p = start; ok && p <= end; p++) {
        if (p == end || st.input[p] == '.') {
            ok = digits > 0 && count < 12;
            if (ok) bytes[count++] = uint8_t(value);
            value = digits = 0;
            continue;
        }
        value = value * 10 + (st.input[p] - '0');
        ok = digit_q(st.input[p]) && value <= 255;
        digits++;
    }
    if (!ok || count < 3) throw_error(st, start, end, TYPE_TUPLE);
    st.pos = end;
    st.last_type = TYPE_TUPLE;
    if (load) make_tuple(st, bytes, count);
}

// Two integers around "x" or "X", each with its sign; no ".".
void lexer::load_pair(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    const uint8_t* t = text_of(st, start);
    uint32_t n = end - start, x_at = 0;
    while (x_at < n && t[x_at] != 'x' && t[x_at] != 'X') x_at++;
    int32_t x = 0, y = 0;
    bool x_fits = false, y_fits = false;
    bool ok = x_at < n && signed_integer(t, x_at, &x, &x_fits) &&
              signed_integer(t + x_at + 1, n - x_at - 1, &y, &y_fits) && x_fits && y_fits;
    if (!ok) throw_error(st, start, end, TYPE_PAIR);
    st.pos = end;
    st.last_type = TYPE_PAIR;
    if (load) make_pair(st, x, y);
}

bool lexer::point_ahead(const state& st, uint32_t from)
{
    static const char number_chars[] = "\t #+-.0123456789AEFINaefin";
    uint32_t p = from;
    while (p < st.end && st.input[p] && std::strchr(number_chars, st.input[p])) p++;
    return p > from && p < st.end && st.input[p] == ',';
}

// "(" two or three decimals separated by "," ")", read from the "(" at start.
void lexer::load_point(state& st, uint32_t start, uint32_t, uint32_t, bool load)
{
    automaton_run r = run_automaton(st, start + 1, 35);
    uint32_t close = r.stop;
    double values[3];
    uint32_t count = 0;
    bool ok = r.state == 93;
    for (uint32_t from = start + 1; ok && from <= close;) {
        uint32_t to = from;
        while (to < close && st.input[to] != ',') to++;
        uint32_t a = from, b = to;
        while (a < b && (st.input[a] == ' ' || st.input[a] == '\t')) a++;
        while (b > a && (st.input[b - 1] == ' ' || st.input[b - 1] == '\t')) b--;
        ok = count < 3 && decimal(text_of(st, a), b - a, &values[count]);
        count++;
        from = to + 1;
    }
    uint32_t type = count == 3 ? TYPE_POINT3D : TYPE_POINT2D;
    if (!ok || count < 2) throw_error(st, start, close + (close < st.end), type);
    st.pos = close + 1;
    st.last_type = type;
    if (load) make_point(st, values, count);
}

// Optional sign, hours ":" minutes [":" seconds]; "h:m.s" reads minutes and seconds. Seconds
// take "." or "," as their decimal mark and have no upper bound.
void lexer::load_time(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    const uint8_t* t = text_of(st, start);
    uint32_t n = end - start, i = 0;
    bool negative = t[0] == '-';
    if (t[0] == '-' || t[0] == '+') i++;
    uint32_t parts_at[3], parts_end[3], parts = 0, from = i;
    for (uint32_t k = i; k <= n; k++) {
        if (k < n && t[k] != ':') continue;
        if (parts < 3) parts_at[parts] = from, parts_end[parts] = k;
        parts++;
        from = k + 1;
    }
    auto whole = [&](uint32_t k, int64_t* v) {
        uint64_t digits;
        if (digit_run(t + parts_at[k], parts_end[k] - parts_at[k], &digits) < 0 || digits > 0x7FFFFFFF) return false;
        *v = int64_t(digits);
        return true;
    };
    // Hours have no upper bound, as a time's text writes them all: past 17 digits they are read
    // as the nearest double.
    auto hours_of = [&](double* v) {
        uint64_t digits;
        int32_t count = digit_run(t + parts_at[0], parts_end[0] - parts_at[0], &digits);
        if (count < 0 || uint32_t(count) > FLOAT_TEXT_MAX) return false;
        *v = double(digits);
        if (count <= 17) return true;
        char text[FLOAT_TEXT_MAX];
        uint32_t m = 0;
        for (uint32_t q = parts_at[0]; q < parts_end[0]; q++)
            if (t[q] != '\'') text[m++] = char(t[q]);
        size_t remaining = 0;
        *v = text_to_float(text, m, 0, &remaining);
        return true;
    };
    auto fraction = [&](uint32_t k, double* v) {
        uint32_t a = parts_at[k], b = parts_end[k];
        char text[FLOAT_TEXT_MAX + 1];
        uint32_t m = 0, dots = 0;
        for (uint32_t q = a; q < b; q++) {
            if (m == FLOAT_TEXT_MAX) return false;
            if (t[q] == '.' || t[q] == ',') dots++, text[m++] = '.';
            else if (digit_q(t[q])) text[m++] = char(t[q]);
            else return false;
        }
        if (!m || dots > 1 || m == dots) return false;
        size_t remaining = 0;
        *v = text_to_float(text, m, 0, &remaining);
        return remaining == 0;
    };
    int64_t minutes = 0;
    double hours = 0, seconds = 0;
    bool ok = parts >= 2 && parts <= 3 && parts_end[parts - 1] > parts_at[parts - 1];
    if (ok && parts == 2 && std::memchr(t + parts_at[1], '.', parts_end[1] - parts_at[1])) {
        ok = whole(0, &minutes) && fraction(1, &seconds);
    } else if (ok) {
        ok = hours_of(&hours) && whole(1, &minutes) && (parts == 2 || fraction(2, &seconds));
    }
    if (!ok) throw_error(st, start, end, TYPE_TIME);
    st.pos = end;
    st.last_type = TYPE_TIME;
    double total = hours * 3600.0 + double(minutes) * 60.0 + seconds;
    if (load) emit_time(st, negative ? -total : total);
}

void lexer::load_date(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    date_fields d;
    if (!parse_date(text_of(st, start), end - start, d)) throw_error(st, start, end, TYPE_DATE);
    st.pos = end;
    st.last_type = TYPE_DATE;
    if (load) make_date(st, d);
}

// Sign, a three-letter currency code, "$", digits with single "'" (not last), "." or "," and at
// most 5 fraction digits; at most 18 significant integral digits.
void lexer::load_money(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    const uint8_t* t = text_of(st, start);
    uint32_t n = end - start, i = 0;
    money_fields m{};
    m.negative = t[0] == '-';
    if (t[0] == '-' || t[0] == '+') i++;
    uint32_t letters = 0;
    while (i + letters < n && alpha_q(t[i + letters])) letters++;
    bool ok = letters == 0 || letters == 3;
    for (uint32_t k = 0; ok && k < letters; k++) m.currency[k] = char(t[i + k]);
    i += letters;
    ok = ok && i < n && t[i++] == '$';
    uint32_t digits_at = i;
    for (; ok && i < n && (digit_q(t[i]) || t[i] == '\''); i++) {
        if (t[i] == '\'') ok = i > digits_at && t[i - 1] != '\'' && i + 1 < n && digit_q(t[i + 1]);
        else if (!(m.digits.empty() && t[i] == '0')) m.digits += char(t[i]);
    }
    ok = ok && i > digits_at && m.digits.size() <= 18;
    if (ok && i < n) {
        ok = t[i] == '.' || t[i] == ',';
        for (i++; ok && i < n; i++) {
            ok = digit_q(t[i]);
            m.fraction += char(t[i]);
        }
        ok = ok && !m.fraction.empty() && m.fraction.size() <= 5;
    }
    if (!ok) throw_error(st, start, end, TYPE_MONEY);
    st.pos = end;
    st.last_type = TYPE_MONEY;
    if (load && !make_money(st, m)) throw_error(st, start, end, TYPE_MONEY);
}

// ---- other values ---------------------------------------------------------------------------------

// "#" and a double quote, one character or escape, a double quote.
void lexer::load_char(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    const uint8_t* p = text_of(st, start + 2);
    const uint8_t* stop = text_of(st, end);
    uint32_t cp = 0;
    const uint8_t* next = nullptr;
    if (p < stop && *p == '^') {
        next = decode_escape(p + 1, stop, &cp);
    } else if (p < stop) {
        int32_t c;
        next = unicode::fast_decode_utf8_char(p, stop, &c);
        cp = uint32_t(c);
        if (c < 0) next = nullptr;
    }
    if (!next || next != stop || cp > 0x10FFFF) throw_error(st, start, end + 1, TYPE_CHAR);
    st.pos = end + 1;
    st.last_type = TYPE_CHAR;
    if (load) emit_char(st, cp);
}

// An optional base (2, 16 or 64) before "#{", the body, and "}" at end.
void lexer::load_binary(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    uint32_t hash = start;
    while (hash < end && st.input[hash] != '#') hash++;
    int32_t base = 0;
    for (uint32_t p = start; p < hash && base <= 64; p++) base = base * 10 + (st.input[p] - '0');
    if (hash == start) base = 16;
    std::vector<uint8_t>& bytes = loader_s.bytes;
    bool ok = (base == 2 || base == 16 || base == 64) &&
              decode_binary(text_of(st, hash + 2), text_of(st, end), base, bytes);
    if (!ok) throw_error(st, start, end + 1, TYPE_BINARY);
    st.pos = end + 1;
    st.last_type = TYPE_BINARY;
    if (load) make_binary(st, bytes);
}

// "#(" name ")": true, false, none or unset, else the first registered datatype whose name
// (with its "!") begins with the text, in id order.
void lexer::load_construct(state& st, uint32_t start, uint32_t end, uint32_t, bool load)
{
    const uint8_t* name = text_of(st, start + 2);
    uint32_t n = end - start - 2;
    cell value{TYPE_NONE, 0, 0, 0};
    if (same_word(name, n, "true") || same_word(name, n, "false")) {
        value = cell{TYPE_LOGIC, uint32_t(lower(name[0]) == 't'), 0, 0};
    } else if (same_word(name, n, "unset")) {
        value = unset_value;
    } else if (!same_word(name, n, "none")) {
        value.header = 0;
        for (uint32_t id = 1; n && id < TYPE_TABLE_SIZE && !value.header; id++) {
            const char* type_name = datatype_s.types[id].name;
            if (!type_name || std::strlen(type_name) < n) continue;
            uint32_t i = 0;
            while (i < n && lower(name[i]) == uint8_t(type_name[i])) i++;
            if (i == n) value = cell{TYPE_DATATYPE, id, 0, 0};
        }
        if (!value.header) throw_error(st, start, end + 1, E_MALCONSTRUCT);
    }
    st.pos = end + 1;
    st.last_type = cell_type(&value);
    if (load) *emit(st) = value;
}

// ---- containers with their own rules --------------------------------------------------------------

void lexer::make_point_from(state& st, uint32_t first, uint32_t count, uint32_t commas)
{
    double values[3];
    bool ok = count == commas + 1;
    for (uint32_t i = 0; ok && i < count; i++) {
        const cell* c = out_at(first + i);
        if (cell_type(c) == TYPE_INTEGER) values[i] = int32_t(c->data2);
        else if (cell_type(c) == TYPE_FLOAT) values[i] = cell_float(c);
        else ok = false;
    }
    uint32_t type = commas == 2 ? TYPE_POINT3D : TYPE_POINT2D;
    if (!ok) throw_error(st, out_at(first - 1)->data3, st.pos, type);
    st.out_tail = first - 1;
    st.last_type = type;
    make_point(st, values, count);
}

void lexer::make_map_from(state& st, uint32_t first, uint32_t count, uint32_t start)
{
    bool ok = count % 2 == 0;
    for (uint32_t i = 0; ok && i < count; i += 2) {
        uint32_t t = cell_type(out_at(first + i));
        ok = map::key_type_q(t);
    }
    if (!ok) throw_error(st, start, st.pos, TYPE_MAP);
    // The pairs become a block in the marker's slot (the output stack does not move while it
    // allocates), and the map is made from that block as make does.
    uint32_t m = first - 1;
    uint32_t line = out_at(m)->header & HEADER_NEW_LINE;
    cell* slot = out_at(m);
    *slot = cell{TYPE_UNSET, 0, 0, 0};
    block::make_at(slot, count);
    series_buffer* s = series_of(slot->data2);
    std::memcpy(at<cell>(s->head), out_at(first), size_t(count) * sizeof(cell));
    s->tail = s->head + count * uint32_t(sizeof(cell));
    cell pairs = *slot;
    cell made = *map::from_block(&pairs);
    stack::pop(1);
    made.header |= line;
    *out_at(m) = made;
    st.out_tail = m + 1;
}
