// The base-2, 16, 58 and 64 codecs of binary!: plain routines over byte and code-point ranges that
// never allocate from the value heap (and so never move their input), and the two value-level
// entries that size the result first and then fetch the input again. Every room is counted in 64
// bits; decoders read only the units they are given and fail rather than guess.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace {

constexpr char alphabet58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char alphabet64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char hex_digits[] = "0123456789ABCDEF";
constexpr uint32_t POWER58 = 58u * 58 * 58 * 58 * 58;   // five base-58 digits per 32-bit limb step

// Decoding tables of bases 58 and 64, by ASCII code: a digit value, SKIP for the blanks the text
// may hold (backspace, tab, line feed, form feed, carriage return, space, apostrophe) or INVALID.
// The base-64 padding "=" is no digit: its decoder takes it first.
constexpr uint8_t SKIP = 0xFE, INVALID = 0xFF;
struct decode_table {
    uint8_t value[128];
    constexpr explicit decode_table(const char* alphabet) : value{}
    {
        for (uint8_t& v : value) v = INVALID;
        for (uint8_t c : {8, 9, 10, 12, 13, 32, 39}) value[c] = SKIP;
        for (uint8_t i = 0; alphabet[i]; i++) value[uint8_t(alphabet[i])] = i;
    }
};
constexpr decode_table table58(alphabet58), table64(alphabet64);

// The code points of a text of 1-, 2- or 4-byte units, with ";" comments (to the next line feed)
// passed over.
struct text_reader {
    const uint8_t* p;
    const uint8_t* end;
    uint32_t unit;
    bool whole;   // a literal: a base-16 digit left without its partner fails instead of being dropped
    // The next code point outside comments, or -1 at the end.
    int64_t next()
    {
        while (p < end) {
            uint32_t cp = unit_read(p, unit);
            p += unit;
            if (cp != ';') return cp;
            while (p < end && unit_read(p, unit) != '\n') p += unit;
        }
        return -1;
    }
};

// Base 16 by ASCII code: a digit value, SKIP for every code up to space, or INVALID.
struct hex_table {
    uint8_t value[128];
    constexpr hex_table() : value{}
    {
        for (uint32_t c = 0; c < 128; c++)
            value[c] = c <= 32 ? SKIP : c >= '0' && c <= '9' ? uint8_t(c - '0') : c >= 'A' && c <= 'F' ? uint8_t(c - 'A' + 10)
                       : c >= 'a' && c <= 'f' ? uint8_t(c - 'a' + 10) : INVALID;
    }
};
constexpr hex_table table16;

// ---- base 2 -------------------------------------------------------------------------------------

uint32_t enbase_2(const uint8_t* bytes, uint32_t n, uint8_t* out)
{
    for (uint32_t i = 0; i < n; i++)
        for (int bit = 7; bit >= 0; bit--) *out++ = uint8_t('0' + ((bytes[i] >> bit) & 1));
    return n * 8;
}

int64_t debase_2(text_reader in, uint8_t* out)
{
    int64_t written = 0;
    uint32_t acc = 0, bits = 0;
    for (int64_t cp; (cp = in.next()) >= 0;) {
        if (cp <= 32) continue;
        if (cp != '0' && cp != '1') return -1;
        acc = acc << 1 | uint32_t(cp - '0');
        if (++bits == 8) {
            out[written++] = uint8_t(acc);
            acc = bits = 0;
        }
    }
    return bits ? -1 : written;
}

// ---- base 16 ------------------------------------------------------------------------------------

uint32_t enbase_16(const uint8_t* bytes, uint32_t n, uint8_t* out)
{
    for (uint32_t i = 0; i < n; i++) {
        *out++ = uint8_t(hex_digits[bytes[i] >> 4]);
        *out++ = uint8_t(hex_digits[bytes[i] & 15]);
    }
    return n * 2;
}

int64_t debase_16(text_reader in, uint8_t* out)
{
    int64_t written = 0;
    int32_t high = -1;
    for (int64_t cp; (cp = in.next()) >= 0;) {
        // The whole code point is the digit: a letter above 127 is never one.
        uint8_t v = cp < 128 ? table16.value[cp] : INVALID;
        if (v == SKIP) continue;
        if (v == INVALID) return -1;
        if (high < 0) {
            high = v;
        } else {
            out[written++] = uint8_t(high << 4 | v);
            high = -1;
        }
    }
    return high >= 0 && in.whole ? -1 : written;   // an odd last digit is dropped, but in a literal
}

// ---- base 64 ------------------------------------------------------------------------------------

uint32_t enbase_64(const uint8_t* bytes, uint32_t n, uint8_t* out)
{
    uint8_t* start = out;
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) *out++ = uint8_t(alphabet64[(v >> shift) & 63]);
    }
    if (i < n) {
        uint32_t v = uint32_t(bytes[i]) << 16 | (i + 1 < n ? uint32_t(bytes[i + 1]) << 8 : 0);
        *out++ = uint8_t(alphabet64[v >> 18]);
        *out++ = uint8_t(alphabet64[(v >> 12) & 63]);
        *out++ = i + 1 < n ? uint8_t(alphabet64[(v >> 6) & 63]) : uint8_t('=');
        *out++ = '=';
    }
    return uint32_t(out - start);
}

// Groups of four symbols give three bytes. "=" ends the text: after three symbols of a group it
// completes two bytes, after two symbols one byte, and one more "=" may follow the latter. A last
// group of two or three symbols without "=" completes the same way; a single leftover symbol, a
// symbol after "=" or "=" anywhere else fails.
int64_t debase_64(text_reader in, uint8_t* out)
{
    int64_t written = 0;
    uint32_t acc = 0, symbols = 0;
    int32_t pads_allowed = -1;   // -1 until the first "="; then how many more may follow
    auto finish_group = [&] {
        if (symbols == 1) return false;
        if (symbols == 2) out[written++] = uint8_t(acc >> 4);
        if (symbols == 3) {
            out[written++] = uint8_t(acc >> 10);
            out[written++] = uint8_t(acc >> 2);
        }
        symbols = 0;
        return true;
    };
    for (int64_t cp; (cp = in.next()) >= 0;) {
        if (cp == '=') {
            if (pads_allowed < 0) {
                if (symbols < 2) return -1;
                pads_allowed = symbols == 2 ? 1 : 0;
                finish_group();
            } else if (pads_allowed-- == 0) {
                return -1;
            }
            continue;
        }
        uint8_t v = cp < 128 ? table64.value[cp] : INVALID;
        if (v == SKIP) continue;
        if (v == INVALID || pads_allowed >= 0) return -1;
        acc = acc << 6 | v;
        if (++symbols == 4) {
            out[written++] = uint8_t(acc >> 16);
            out[written++] = uint8_t(acc >> 8);
            out[written++] = uint8_t(acc);
            acc = symbols = 0;
        }
    }
    return finish_group() ? written : -1;
}

// ---- base 58 ------------------------------------------------------------------------------------
// A big number kept as 32-bit limbs (most significant first), worked on five base-58 digits at a
// time: 58^5 < 2^30, so every step of the long division and multiplication fits in 64 bits.

uint32_t enbase_58(const uint8_t* bytes, uint32_t n, uint8_t* out)
{
    uint32_t zeros = 0;
    while (zeros < n && bytes[zeros] == 0) zeros++;
    std::vector<uint32_t> limbs((n - zeros + 3) / 4, 0);
    for (uint32_t i = zeros; i < n; i++) {
        uint32_t from_end = n - 1 - i;
        limbs[limbs.size() - 1 - from_end / 4] |= uint32_t(bytes[i]) << (8 * (from_end % 4));
    }
    std::vector<uint8_t> digits;   // least significant first
    size_t first = 0;
    while (first < limbs.size()) {
        uint64_t rest = 0;
        for (size_t i = first; i < limbs.size(); i++) {
            uint64_t current = rest << 32 | limbs[i];
            limbs[i] = uint32_t(current / POWER58);
            rest = current % POWER58;
        }
        while (first < limbs.size() && limbs[first] == 0) first++;
        for (int k = 0; k < 5; k++, rest /= 58) digits.push_back(uint8_t(rest % 58));
    }
    while (!digits.empty() && digits.back() == 0) digits.pop_back();
    std::memset(out, '1', zeros);
    for (size_t i = 0; i < digits.size(); i++) out[zeros + i] = uint8_t(alphabet58[digits[digits.size() - 1 - i]]);
    return zeros + uint32_t(digits.size());
}

int64_t debase_58(text_reader in, uint8_t* out)
{
    std::vector<uint8_t> digits;
    for (int64_t cp; (cp = in.next()) >= 0;) {
        uint8_t v = cp < 128 ? table58.value[cp] : INVALID;
        if (v == SKIP) continue;
        if (v == INVALID) return -1;
        digits.push_back(v);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    std::vector<uint32_t> limbs;   // least significant first
    for (size_t i = zeros; i < digits.size();) {
        uint64_t multiplier = 1, chunk = 0;
        for (int k = 0; k < 5 && i < digits.size(); k++, i++) {
            chunk = chunk * 58 + digits[i];
            multiplier *= 58;
        }
        uint64_t carry = chunk;
        for (uint32_t& limb : limbs) {
            uint64_t current = limb * multiplier + carry;
            limb = uint32_t(current);
            carry = current >> 32;
        }
        if (carry) limbs.push_back(uint32_t(carry));
    }
    std::memset(out, 0, zeros);
    int64_t written = int64_t(zeros);
    bool leading = true;
    for (size_t i = limbs.size(); i-- > 0;) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            uint8_t b = uint8_t(limbs[i] >> shift);
            if (leading && b == 0) continue;
            leading = false;
            out[written++] = b;
        }
    }
    return written;
}

// ---- the table of codecs ------------------------------------------------------------------------

struct codec {
    int32_t base;
    uint64_t (*text_room)(uint64_t bytes);
    uint64_t (*byte_room)(uint64_t units);
    uint32_t (*encode)(const uint8_t* bytes, uint32_t n, uint8_t* out);
    int64_t (*decode)(text_reader in, uint8_t* out);
};

// Base 58: n bytes are below 256^n < 58^(1.37 n), so 1.37 n + 1 digits always suffice.
const codec codecs[] = {
    {2, [](uint64_t n) { return n * 8; }, [](uint64_t n) { return n / 8; }, enbase_2, debase_2},
    {16, [](uint64_t n) { return n * 2; }, [](uint64_t n) { return n / 2; }, enbase_16, debase_16},
    {58, [](uint64_t n) { return n * 137 / 100 + 1; }, [](uint64_t n) { return n; }, enbase_58, debase_58},
    {64, [](uint64_t n) { return (n + 2) / 3 * 4; }, [](uint64_t n) { return (n * 3 + 9) / 4; }, enbase_64, debase_64},
};

const codec& codec_of(int32_t base)
{
    for (const codec& c : codecs)
        if (c.base == base) return c;
    cell b{TYPE_INTEGER, 0, uint32_t(base), 0};
    fire(ERR_SCRIPT, err::INVALID_ARG, &b);
}

uint32_t checked_room(uint64_t room)
{
    if (room >= 0x80000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
    return uint32_t(room);
}

}  // namespace

bool binary::base_q(int32_t base)
{
    return std::any_of(std::begin(codecs), std::end(codecs), [base](const codec& c) { return c.base == base; });
}

uint64_t binary::enbase_room(int32_t base, uint64_t n) { return codec_of(base).text_room(n); }
uint64_t binary::debase_room(int32_t base, uint64_t n) { return codec_of(base).byte_room(n); }

uint32_t binary::enbase_into(int32_t base, const uint8_t* bytes, uint32_t n, uint8_t* out)
{
    return codec_of(base).encode(bytes, n, out);
}

int64_t binary::debase_into(int32_t base, const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out, bool literal)
{
    return codec_of(base).decode(text_reader{text, text + uint64_t(n) * unit, unit, literal}, out);
}

cell* binary::enbase(const cell* value, int32_t base)
{
    const codec& c = codec_of(base);
    const cell source = *value;
    const uint32_t n = ks_length_q(&source);
    cell* result = string::make_at(stack::push_slot(), checked_room(c.text_room(n)), 1);
    series_buffer* s = series_of(result->data2);
    // The source is fetched after the allocation, which may have moved it.
    s->tail = s->head + c.encode(ks_head(&source), n, at(s->head));
    return result;
}

cell* binary::debase(const cell* text, int32_t base)
{
    const codec& c = codec_of(base);
    const cell source = *text;
    const bool bytes = cell_type(&source) == TYPE_BINARY;
    const uint32_t n = bytes ? ks_length_q(&source) : string::ks_length_q(&source);
    cell* result = make_at(stack::push_slot(), checked_room(c.byte_room(n)));
    series_buffer* s = series_of(result->data2);
    series_buffer* in = series_of(source.data2);
    const uint32_t unit = bytes ? 1 : text_unit(in);
    const uint8_t* start = bytes ? ks_head(&source) : at(in->head) + std::min(source.data1, (in->tail - in->head) / unit) * unit;
    int64_t written = c.decode(text_reader{start, start + uint64_t(n) * unit, unit, false}, at(s->head));
    if (written < 0) {
        stack::pop(1);
        return nullptr;
    }
    s->tail = s->head + uint32_t(written);
    return result;
}
