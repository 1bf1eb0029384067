// url!: make and to from a block of parts, the percent-encoded mold, path joining and the percent
// coding. Text is taken out as code points or UTF-8 bytes before anything is written, since the
// output may be the buffer of a value being read; every escape is checked to lie inside the bytes
// before its digits are read.
#include "runtime/datatypes/url.h"

#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_internal.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace {

// Bytes below 0x80 that stand for themselves: the path table, then the strict table.
bool in_table(uint8_t c, const char* extra)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    for (; *extra; extra++)
        if (uint8_t(*extra) == c) return true;
    return false;
}

// The text from the head as UTF-8 bytes (at most `limit` code points).
std::vector<uint8_t> utf8_of(const cell* value, uint32_t limit = 0xFFFFFFFFu)
{
    std::vector<uint8_t> out;
    for (uint32_t cp : string_internal::code_points(value, limit)) {
        uint8_t bytes[4];
        out.insert(out.end(), bytes, bytes + utf8_encode_char(cp, bytes));
    }
    return out;
}

int32_t hex_value(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte of the escape "%XX" at i, or -1 when there is none there.
int32_t escape_at(const std::vector<uint8_t>& bytes, size_t i)
{
    if (i + 2 >= bytes.size() || bytes[i] != '%') return -1;
    int32_t hi = hex_value(bytes[i + 1]), lo = hex_value(bytes[i + 2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

void append_escape(cell* out, uint8_t byte)
{
    char text[4] = "%00";
    const char* hex = string::byte_to_hex(byte);
    text[1] = hex[0];
    text[2] = hex[1];
    string::concatenate_literal(out, text);
}

bool block_like_q(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

void form_into(cell* out, const cell* value)
{
    stack::scope held;
    form_value(held.push(*value), out, nullptr, FORM_WHOLE);
}

}  // namespace

bool url::plain_q(uint8_t byte, uint32_t table)
{
    if (byte >= 0x80) return false;
    return in_table(byte, table == PERCENT_STRICT ? "-._~" : "!#$&'()*+,-./:=?@_~");
}

void url::encode_percent(const cell* value, cell* out, uint32_t table)
{
    for (uint8_t byte : utf8_of(value)) {
        if (plain_q(byte, table)) string::append_char(out->data2, byte);
        else append_escape(out, byte);
    }
}

void url::decode_percent(const cell* value, cell* out)
{
    std::vector<uint8_t> bytes = utf8_of(value);
    for (size_t i = 0; i < bytes.size();) {
        int32_t b = escape_at(bytes, i);
        if (b >= 0) {
            size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
            if (n == 0) {
                string::append_char(out->data2, uint32_t(b));
                i += 3;
                continue;
            }
            uint8_t seq[4];
            size_t k = 0;
            for (; k < n; k++) {
                int32_t e = escape_at(bytes, i + 3 * k);
                if (e < 0) break;
                seq[k] = uint8_t(e);
            }
            int32_t cp = -1;
            if (k == n && unicode::fast_decode_utf8_char(seq, seq + n, &cp) == seq + n && cp >= 0) {
                string::append_char(out->data2, uint32_t(cp));
                i += 3 * n;
                continue;
            }
        }
        // Not a complete escape: one character of the raw text.
        int32_t cp = -1;
        const uint8_t* next = unicode::fast_decode_utf8_char(bytes.data() + i, bytes.data() + bytes.size(), &cp);
        string::append_char(out->data2, cp < 0 ? 0xFFFD : uint32_t(cp));
        i = size_t(next - bytes.data());
    }
}

cell* url::make(cell* proto, cell* spec, uint32_t type)
{
    if (type == TYPE_URL && block_like_q(cell_type(spec))) return to(proto, spec, type);
    return string::make(proto, spec, type);
}

cell* url::to(cell* proto, cell* spec, uint32_t type)
{
    if (type != TYPE_URL || !block_like_q(cell_type(spec))) return string::to(proto, spec, type);
    const cell parts = *spec;
    uint32_t count = series::length_clamped(&parts), head = series::head_clamped(&parts);
    if (count == 0) {
        cell t{TYPE_DATATYPE, TYPE_URL, 0, 0};
        fire(ERR_SCRIPT, err::BAD_TO_ARG, &t, spec);
    }
    auto part = [&](uint32_t i) { return *(series_head_cell(series_of(parts.data2)) + head + i); };
    cell* out = string::make_at(stack::push_slot(), 16);
    cell value = part(0);
    form_into(out, &value);
    string::concatenate_literal(out, "://");
    uint32_t i = 1;
    if (count > 1) {
        value = part(1);
        form_into(out, &value);
        i = 2;
    }
    if (i < count && cell_type(&(value = part(i))) == TYPE_INTEGER) {
        string::concatenate_literal(out, ":");
        form_into(out, &value);
        i++;
    }
    if (i < count) string::concatenate_literal(out, "/");
    for (; i < count; i++) {
        value = part(i);
        form_into(out, &value);
        if (i + 1 < count) string::concatenate_literal(out, cell_type(&(value = part(i + 1))) == TYPE_ISSUE ? "#" : "/");
    }
    cell_set_type(out, TYPE_URL);
    return out;
}

int32_t url::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    bool limited = arg_given(arg);
    int32_t written = 0;
    for (uint8_t byte : utf8_of(value)) {
        // Parentheses stand for themselves in a url, but the lexer ends a url at them.
        if (plain_q(byte, PERCENT_PATH) && byte != '(' && byte != ')') {
            if (limited && written >= part) break;
            string::append_char(buffer->data2, byte);
            written++;
            continue;
        }
        const char* hex = string::byte_to_hex(byte);
        const char escape[3] = {'%', hex[0], hex[1]};
        for (char c : escape) {
            if (limited && written >= part) break;
            string::append_char(buffer->data2, uint8_t(c));
            written++;
        }
    }
    return part - written;
}

cell* url::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool, bool,
                     bool)
{
    if (value) fire(ERR_SCRIPT, err::BAD_PATH_SET, path, element);
    stack::scope held;
    cell step = cell_type(element) == TYPE_GET_WORD ? *word_get_checked(element) : *element;
    cell base = *parent;
    uint32_t unit = string_internal::unit_of(&base);
    cell* formed = string::make_at(stack::push_slot(), 16, unit);
    form_into(formed, &step);
    cell* out = string::make_at(stack::push_slot(), series::length_clamped(&base) + series::length_clamped(formed) + 16, unit);
    string::append_string(out, &base, -1, 0, true, string::CONCAT_APPEND);
    uint32_t length = series::length_clamped(&base);
    bool ends = length > 0 && string_internal::cp_at(&base, series::units(&base) - 1) == '/';
    bool starts = series::length_clamped(formed) > 0 && string_internal::cp_at(formed, 0) == '/';
    if (!ends && !starts) string::append_char(out->data2, '/');
    if (ends && starts) formed->data1 = 1;
    string::append_string(out, formed, -1, 0, true, string::CONCAT_APPEND);
    cell_set_type(out, cell_type(&base));
    return held.result(*out);
}

void url::init()
{
    datatype::register_type(TYPE_URL, TYPE_STRING, "url!", {
        .make = make, .to = to, .form = inherit, .mold = mold, .eval_path = eval_path, .compare = inherit,
        .append = inherit, .at = inherit, .back = inherit, .change = inherit, .clear = inherit, .copy = inherit,
        .find = inherit, .head = inherit, .head_q = inherit, .index_q = inherit, .insert = inherit,
        .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit, .poke = inherit,
        .remove = inherit, .reverse = inherit, .select = inherit, .skip = inherit, .swap = inherit,
        .tail = inherit, .tail_q = inherit, .take = inherit, .modify = inherit,
        .mark = collector::mark_string_cell});
}
