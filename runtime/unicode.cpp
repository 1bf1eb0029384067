// UTF-8 and UTF-16 conversion and in-place widening of string buffers. Must not break: decoders
// stop at the end they are given; input that lies in the value range is copied before anything
// allocates, and every buffer address is fetched again through its node after an allocation.
#include "runtime/unicode.h"

#include <cstring>
#include <vector>

#include "runtime/errors.h"
#include "runtime/rterror.h"

const uint8_t utf8_dfa[364] = {
    // byte classes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions: 256 + state + class
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12,
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
};

namespace {

constexpr uint32_t DFA_ACCEPT = 0;
constexpr uint32_t DFA_REJECT = 12;
constexpr uint32_t LAST_CODE_POINT = 0x10FFFF;

[[noreturn]] void invalid_char(uint32_t cp)
{
    cell arg{TYPE_INTEGER, 0, cp, 0};
    fire(ERR_SCRIPT, err::INVALID_CHAR, &arg);
}

// access/invalid-utf8 with a binary! of the (up to) four bytes at the offending position.
[[noreturn]] void invalid_utf8(const uint8_t* p, uint32_t available)
{
    uint8_t bytes[4];
    uint32_t n = available < 4 ? available : 4;
    std::memcpy(bytes, p, n);   // p may lie in a buffer that the allocation below moves
    node_ref node = bytes_alloc(n);
    series_buffer* s = series_of(node);
    std::memcpy(at(s->head), bytes, n);
    s->tail = s->head + n;
    cell arg{TYPE_BINARY, 0, node, 0};
    fire(ERR_ACCESS, err::INVALID_UTF8, &arg);
}

// Input held in a movable buffer is copied first: loading allocates, which may move it.
const uint8_t* stable_input(const uint8_t* bytes, uint32_t count, std::vector<uint8_t>& copy)
{
    if (!bytes || !in_value_range(bytes)) return bytes;
    copy.assign(bytes, bytes + count);
    return copy.data();
}

uint32_t room_units(series_buffer* s, uint32_t unit) { return (series_end_ref(s) - s->head) / unit; }

// Makes room for `units` units of the buffer's unit from its offset, keeping the content.
series_buffer* reserve_units(series_buffer* s, uint64_t units)
{
    uint32_t unit = series_unit(s);
    if (room_units(s, unit) >= units) return s;
    uint64_t bytes = units * unit;
    return series_expand(s, bytes >= 0x80000000u ? 0x80000000u : uint32_t(bytes));
}

series_buffer* widen_in_place(series_buffer* s, uint32_t from, uint32_t to)
{
    uint32_t n = (s->tail - s->head) / from;
    uint64_t need = uint64_t(n) * to + to;
    if (uint64_t(series_end_ref(s)) - s->head < need) {
        if (need >= 0x80000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
        s = series_expand(s, uint32_t(need));
    }
    uint8_t* base = at(s->head);
    for (uint32_t i = n; i-- > 0;) unit_write(base + i * to, to, unit_read(base + i * from, from));
    s->tail = s->head + n * to;
    s->flags = (s->flags & ~SERIES_UNIT_MASK) | to;
    return s;
}

series_buffer* widen_to(series_buffer* s, uint32_t to)
{
    uint32_t from = series_unit(s);
    if (from == 1 && to == 2) return string_widen_ucs2(s);
    if (from == 1 && to == 4) return string_widen_ucs4(s);
    return string_ucs2_to_ucs4(s);
}

uint32_t width_of(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// The units of a string from its head (clamped to the tail) to its tail, cut to a limit.
struct text_range {
    const uint8_t* start;
    uint32_t units;
    uint32_t unit;
};

text_range range_of(const cell* str, int32_t limit)
{
    series_buffer* s = series_of(str->data2);
    uint32_t unit = text_unit(s);
    uint32_t total = (s->tail - s->head) / unit;
    uint32_t head = str->data1 < total ? str->data1 : total;
    uint32_t n = total - head;
    if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
    return {at(s->head) + head * unit, n, unit};
}

constexpr uint32_t utf8_width_of_unit[5] = {0, 2, 3, 0, 4};

uint32_t encode_range(text_range r, uint8_t* out, bool crlf)
{
    uint8_t* o = out;
    for (uint32_t i = 0; i < r.units; i++) {
        uint32_t cp = unit_read(r.start + i * r.unit, r.unit);
        if (crlf && cp == 10) *o++ = 13;
        o += utf8_encode_char(cp, o);
    }
    return uint32_t(o - out);
}

}  // namespace

uint32_t text_unit(const series_buffer* s)
{
    uint32_t unit = series_unit(s);
    if (unit != 1 && unit != 2 && unit != 4) runtime_error(RT_NO_SWITCH, rt_error_address());
    return unit;
}

// ---- decoding and sizing ------------------------------------------------------------------------

const uint8_t* unicode::fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp)
{
    if (p >= end) {
        *cp = -1;
        return p;
    }
    uint32_t b = *p++;
    uint32_t t = utf8_dfa[b];
    uint32_t c = (0xFFu >> t) & b;
    uint32_t state = utf8_dfa[256 + t];
    while (state != DFA_ACCEPT) {
        // A sequence cut by the end is rejected like a bad one: the caller never reads past end.
        if (state == DFA_REJECT || p >= end) {
            *cp = -1;
            return p;
        }
        b = *p++;
        c = (b & 0x3Fu) | (c << 6);
        state = utf8_dfa[256 + state + utf8_dfa[b]];
    }
    *cp = int32_t(c);
    return p;
}

uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end)
{
    uint32_t n = 0;
    int32_t cp;
    while (start < end) {
        start = unicode::fast_decode_utf8_char(start, end, &cp);
        n++;
    }
    return n;
}

const uint8_t* utf8_skip_chars(const uint8_t* p, const uint8_t* end, uint32_t n)
{
    int32_t cp;
    while (n-- && p < end) p = unicode::fast_decode_utf8_char(p, end, &cp);
    return p;
}

uint32_t utf8_lead_length(uint8_t byte)
{
    if ((byte & 0xF0) == 0xF0) return 4;
    if ((byte & 0xE0) == 0xE0) return 3;
    if ((byte & 0xC0) == 0xC0) return 2;
    return 0;
}

int32_t utf8_decode_checked(const uint8_t* p, uint32_t* count)
{
    uint32_t available = *count;
    if (available == 0) return -1;
    uint32_t b = p[0];
    if (b <= 0x7F) {
        *count = 1;
        return int32_t(b);
    }
    if (b < 0xC0 || b >= 0xF8) invalid_utf8(p, available);
    uint32_t length = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    uint32_t cp = b & (0x7Fu >> length);
    if (available < length) return -1;
    for (uint32_t i = 1; i < length; i++) {
        if ((p[i] & 0xC0) != 0x80) invalid_utf8(p, available);
        cp = cp << 6 | (p[i] - 0x80u);
    }
    // Overlong forms and most surrogates pass; only this block of low surrogates is refused.
    if (length == 3 && cp >= 0xDC00 && cp <= 0xDCFF) invalid_utf8(p, available);
    if (length == 4 && cp > LAST_CODE_POINT) invalid_utf8(p, available);
    *count = length;
    return int32_t(cp);
}

uint32_t utf8_char_size(uint32_t cp)
{
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= LAST_CODE_POINT) return 4;
    invalid_char(cp);
}

uint32_t utf8_size_of_units(const uint8_t* start, const uint8_t* end, uint32_t unit)
{
    uint32_t n = 0;
    for (; start < end; start += unit) n += utf8_char_size(unit_read(start, unit));
    return n;
}

// ---- encoding -----------------------------------------------------------------------------------

uint32_t utf8_encode_char(uint32_t cp, uint8_t* out)
{
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp > LAST_CODE_POINT) invalid_char(cp);
    out[0] = uint8_t(0xF0 | (cp >> 18));
    out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}

uint32_t utf8_encode_char_bounded(uint32_t cp, uint8_t* out, int32_t room)
{
    if (room <= 0) return 0;
    uint8_t bytes[4];
    uint32_t n = utf8_encode_char(cp, bytes);
    if (uint32_t(room) < n) n = uint32_t(room);
    std::memcpy(out, bytes, n);
    return n;
}

node_ref string_to_utf8(cell* str, int32_t* limit, bool crlf)
{
    text_range r = range_of(str, *limit);
    uint64_t size = (uint64_t(r.units) + 1) * utf8_width_of_unit[r.unit];
    if (size >= 0x80000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
    uint8_t* out = string_scratch_buffer(str, uint32_t(size));
    r = range_of(str, *limit);   // the scratch allocation may have moved the string
    uint32_t n = encode_range(r, out, crlf);
    out[n] = 0;
    *limit = int32_t(n);
    return str->data3;
}

uint8_t* string_to_utf8_data(cell* str, int32_t* limit) { return string_to_utf8_crlf_data(str, limit, false); }

uint8_t* string_to_utf8_crlf_data(cell* str, int32_t* limit, bool crlf)
{
    return series_data(series_of(string_to_utf8(str, limit, crlf)));
}

uint32_t string_to_utf8_into(const cell* str, uint8_t* out, int32_t limit, bool terminate)
{
    uint32_t n = encode_range(range_of(str, limit), out, false);
    if (terminate) out[n] = 0;
    return n;
}

uint32_t string_to_utf8_bounded(const cell* str, uint8_t* out, int32_t room, int32_t limit, bool terminate)
{
    text_range r = range_of(str, limit <= 0 ? -1 : limit);
    int32_t written = 0;
    for (uint32_t i = 0; i < r.units && written < room; i++)
        written += int32_t(utf8_encode_char_bounded(unit_read(r.start + i * r.unit, r.unit), out + written,
                                                    room - written));
    if (terminate) out[written] = 0;
    return uint32_t(written);
}

// ---- widening in place --------------------------------------------------------------------------

series_buffer* string_widen_ucs2(series_buffer* s) { return widen_in_place(s, 1, 2); }
series_buffer* string_widen_ucs4(series_buffer* s) { return widen_in_place(s, 1, 4); }
series_buffer* string_ucs2_to_ucs4(series_buffer* s) { return widen_in_place(s, 2, 4); }

// ---- loading ------------------------------------------------------------------------------------

node_ref utf8_load_string(const uint8_t* bytes, uint32_t count, node_ref target, uint32_t* remaining, bool crlf)
{
    std::vector<uint8_t> copy;
    bytes = stable_input(bytes, count, copy);
    node_ref node = target ? target : series_alloc(count ? count : 1, 1, 0);
    series_buffer* s = series_of(node);
    uint32_t unit = text_unit(s);
    s->tail = s->head;
    if (remaining) *remaining = 0;
    if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) bytes += 3, count -= 3;
    s = reserve_units(s, count);
    uint32_t left = count, written = 0;
    while (left) {
        uint32_t length = left;
        int32_t decoded = utf8_decode_checked(bytes, &length);
        if (decoded < 0) {
            if (remaining) *remaining = left;   // the caller keeps the cut sequence for its next call
            break;
        }
        uint32_t cp = uint32_t(decoded);
        bytes += length, left -= length;
        if (crlf && cp == 13) {
            if (left && bytes[0] == 10) continue;
            cp = 10;
        }
        // The tail is set before widening or growing: both keep only the units up to it.
        if (width_of(cp) > unit) {
            s->tail = s->head + written * unit;
            s = widen_to(s, unit == 1 && cp <= 0xFFFF ? 2 : 4);
            unit = series_unit(s);
        }
        // Every code point left takes at least one byte: this room lasts until the next widening.
        if (written >= room_units(s, unit)) {
            s->tail = s->head + written * unit;
            s = reserve_units(s, uint64_t(written) + left + 1);
        }
        unit_write(at(s->head) + written * unit, unit, cp);
        written++;
    }
    s->tail = s->head + written * unit;
    return node;
}

node_ref utf8_load_into_string(const uint8_t* bytes, uint32_t count, cell* str, uint32_t* remaining)
{
    return utf8_load_string(bytes, count, str->data2, remaining, false);
}

node_ref utf8_load_plain(const uint8_t* bytes, uint32_t count) { return utf8_load_string(bytes, count, 0, nullptr, false); }

uint32_t utf16_unit_width(const uint8_t* data, uint32_t units)
{
    uint32_t width = 1;
    for (uint32_t i = 0; i < units; i++) {
        uint8_t high = data[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) width = 2;
    }
    return width;
}

node_ref utf16_load_string(const uint8_t* data, uint32_t units, cell* str, bool cr)
{
    std::vector<uint8_t> copy;
    if (!data) {
        // An operating-system call has just filled the scratch buffer; never read past its size.
        series_buffer* scratch = str && str->data3 ? series_of(str->data3) : nullptr;
        uint32_t held = scratch ? scratch->size / 2 : 0;
        if (units > held) units = held;
        data = scratch ? series_data(scratch) : nullptr;
    }
    data = stable_input(data, units * 2, copy);
    uint32_t width = utf16_unit_width(data, units);
    node_ref node;
    series_buffer* s;
    if (!str) {
        if (!units) width = 2;
        node = series_alloc(units ? units : 1, width, 0);
        s = series_of(node);
    } else {
        node = str->data2;
        s = series_of(node);
        s->tail = s->head;
        s->flags = (s->flags & ~SERIES_UNIT_MASK) | width;
        s = reserve_units(s, units);
    }
    uint8_t* out = at(s->head);
    uint32_t n = 0;
    for (uint32_t i = 0; i < units; i++) {
        uint32_t u = uint32_t(data[2 * i]) | uint32_t(data[2 * i + 1]) << 8;
        if (cr && u == 13) continue;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t low = uint32_t(data[2 * i + 2]) | uint32_t(data[2 * i + 3]) << 8;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                u = 0x10000 + ((u & 0x3FF) << 10 | (low & 0x3FF));
                i++;
            }
        }
        // A high surrogate without its partner is kept as the code point it is.
        unit_write(out + n * width, width, u);
        n++;
    }
    s->tail = s->head + n * width;
    return node;
}

// ---- to the operating system --------------------------------------------------------------------

uint32_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit)
{
    uint32_t extra = 0;
    for (; start < end; start += unit) {
        uint32_t cp = unit_read(start, unit);
        if (cp == 10 || cp > 0xFFFF) extra += 2;
    }
    return extra;
}

wchar_t* string_to_utf16(cell* str)
{
    int32_t limit = -1;
    return string_to_utf16_part(str, &limit, true);
}

wchar_t* string_to_utf16_part(cell* str, int32_t* limit, bool crlf)
{
    text_range r = range_of(str, *limit);
    uint64_t size = 2ull * r.units + 2 + utf16_extra_size(r.start, r.start + r.units * r.unit, r.unit);
    if (size >= 0x80000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
    uint8_t* out = string_scratch_buffer(str, uint32_t(size));
    r = range_of(str, *limit);
    uint32_t n = 0;
    auto put = [&](uint32_t u) {
        out[2 * n] = uint8_t(u);
        out[2 * n + 1] = uint8_t(u >> 8);
        n++;
    };
    if (r.unit == 2 && !crlf) {
        std::memcpy(out, r.start, 2 * r.units);
        n = r.units;
    } else {
        for (uint32_t i = 0; i < r.units; i++) {
            uint32_t cp = unit_read(r.start + i * r.unit, r.unit);
            if (cp > LAST_CODE_POINT) return nullptr;
            if (crlf && cp == 10) put(13);
            if (cp <= 0xFFFF) {
                put(cp);
                continue;
            }
            put(0xD800 | ((cp - 0x10000) >> 10));
            put(0xDC00 | (cp & 0x3FF));
        }
    }
    put(0);
    *limit = int32_t(n - 1);
    return reinterpret_cast<wchar_t*>(out);
}

wchar_t* cstring_to_utf16(const char* text, wchar_t* out)
{
    uint32_t i = 0;
    for (; text[i]; i++) out[i] = wchar_t(uint8_t(text[i]));
    out[i] = 0;
    return out;
}

uint8_t* string_scratch_buffer(cell* str, uint32_t size)
{
    if (!str->data3) {
        node_ref node = bytes_alloc(size);
        str->data3 = node;
        return series_data(series_of(node));
    }
    series_buffer* s = series_of(str->data3);
    if (s->size < size) s = series_expand(s, size);
    return series_data(s);
}
