// UTF-8 and UTF-16 conversion at the border of the runtime, and the in-place widening of string
// buffers. Must not break: no decoder reads past the end it is given, and every routine that may
// allocate re-fetches buffer addresses through the node afterwards.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// The published UTF-8 automaton: byte classes (0-255), then transitions (256 + state + class),
// states multiples of 12 (0 accept, 12 reject).
extern const uint8_t utf8_dfa[364];

// Appends one code point to a 16-bit string (std::wstring, std::u16string): a surrogate pair
// above U+FFFF.
template <class S>
inline void utf16_append(S& out, uint32_t cp)
{
    using unit = typename S::value_type;
    if (cp > 0xFFFF) {
        cp -= 0x10000;
        out += unit(0xD800 + (cp >> 10));
        out += unit(0xDC00 + (cp & 0x3FF));
    } else {
        out += unit(cp);
    }
}

namespace unicode {
// Decodes one sequence from p (p < end). cp becomes the code point, or -1 for a rejected or cut
// sequence. Returns the position after the consumed bytes (never past end). Never raises.
const uint8_t* fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp);
}  // namespace unicode

// ---- decoding and sizing ------------------------------------------------------------------------
uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end);
const uint8_t* utf8_skip_chars(const uint8_t* p, const uint8_t* end, uint32_t n);
uint32_t utf8_lead_length(uint8_t byte);
// Strict decoding: *count holds the bytes available; on success it becomes the sequence length.
// Returns -1 when the bytes available end inside the sequence. Raises access/invalid-utf8.
int32_t utf8_decode_checked(const uint8_t* p, uint32_t* count);
uint32_t utf8_char_size(uint32_t cp);   // raises script/invalid-char above U+10FFFF
uint32_t utf8_size_of_units(const uint8_t* start, const uint8_t* end, uint32_t unit);

// ---- encoding -----------------------------------------------------------------------------------
// Writes one code point as UTF-8 into out (room for 4 bytes); returns the byte count.
// Raises script/invalid-char above U+10FFFF; surrogates are encoded like any code point.
uint32_t utf8_encode_char(uint32_t cp, uint8_t* out);
uint32_t utf8_encode_char_bounded(uint32_t cp, uint8_t* out, int32_t room);

// Limits count units from the string's head; -1 (or any value not below the length) is the
// whole string. The text lands in the cell's scratch buffer (node in word 3), reused by the next
// conversion of the same cell; the cell must not live in a movable buffer.
node_ref string_to_utf8(cell* str, int32_t* limit, bool crlf);
uint8_t* string_to_utf8_data(cell* str, int32_t* limit);
uint8_t* string_to_utf8_crlf_data(cell* str, int32_t* limit, bool crlf);
// Into a caller's buffer of at least 4 bytes a code point (+1 with terminate). No allocation.
uint32_t string_to_utf8_into(const cell* str, uint8_t* out, int32_t limit, bool terminate);
// Never writes more than room bytes (the NUL excluded); the last sequence may be cut short.
uint32_t string_to_utf8_bounded(const cell* str, uint8_t* out, int32_t room, int32_t limit, bool terminate);

// ---- widening in place --------------------------------------------------------------------------
// Each returns the buffer, which may have moved (the node stays).
series_buffer* string_widen_ucs2(series_buffer* s);
series_buffer* string_widen_ucs4(series_buffer* s);
series_buffer* string_ucs2_to_ucs4(series_buffer* s);

// ---- loading ------------------------------------------------------------------------------------
// Decodes UTF-8 into the target (0: a new unit-1 string buffer), replacing its content from its
// offset. *remaining (when given) gets the bytes of a sequence cut by the end of the input.
// crlf folds CR LF and lone CR into LF. Returns the node of the buffer.
node_ref utf8_load_string(const uint8_t* bytes, uint32_t count, node_ref target, uint32_t* remaining, bool crlf);
node_ref utf8_load_into_string(const uint8_t* bytes, uint32_t count, cell* str, uint32_t* remaining);
node_ref utf8_load_plain(const uint8_t* bytes, uint32_t count);
uint32_t utf16_unit_width(const uint8_t* data, uint32_t units);
// Decodes UTF-16LE (data null: the start of str's scratch buffer) into str's buffer, or into a
// new buffer when str is null. cr drops every U+000D. Returns the node of the buffer.
node_ref utf16_load_string(const uint8_t* data, uint32_t units, cell* str, bool cr);

// ---- to the operating system --------------------------------------------------------------------
static_assert(sizeof(wchar_t) == 2, "Windows wide text is UTF-16");
wchar_t* string_to_utf16(cell* str);
// *limit becomes the UTF-16 units written (NUL excluded). Returns null for a code point of
// 110000h or more, leaving *limit as it was.
wchar_t* string_to_utf16_part(cell* str, int32_t* limit, bool crlf);
uint32_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit);
wchar_t* cstring_to_utf16(const char* text, wchar_t* out);
uint8_t* string_scratch_buffer(cell* str, uint32_t size);

// ---- units (shared by the string routines) ------------------------------------------------------
inline uint32_t unit_read(const uint8_t* p, uint32_t unit)
{
    if (unit == 1) return *p;
    if (unit == 2) return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void unit_write(uint8_t* p, uint32_t unit, uint32_t cp)
{
    p[0] = uint8_t(cp);
    if (unit == 1) return;
    p[1] = uint8_t(cp >> 8);
    if (unit == 2) return;
    p[2] = uint8_t(cp >> 16);
    p[3] = uint8_t(cp >> 24);
}
// The buffer's unit; a width other than 1, 2 or 4 is runtime error 101.
uint32_t text_unit(const series_buffer* s);
