// Text, codec and constructor natives: uppercase and lowercase, dehex and enhex (percent coding
// through UTF-8), as (a series seen as another kind of its class, sharing the buffer), and the
// constructors whose datatypes decide what they make. Text is read by code point from a node and
// an index, never through an address kept across an allocation.
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"

#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/natives.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace {

inline cell* base() { return stack_s.arguments; }

int hex_value(uint32_t cp)
{
    if (cp >= '0' && cp <= '9') return int(cp - '0');
    if (cp >= 'A' && cp <= 'F') return int(cp - 'A' + 10);
    if (cp >= 'a' && cp <= 'f') return int(cp - 'a' + 10);
    return -1;
}

// The code points of a text from its index.
std::u32string code_points(const cell* text)
{
    std::u32string out;
    series_buffer* s = series_of(series_node(text));
    uint32_t unit = text_unit(s);
    for (uint32_t p = s->head + series::head_clamped(text) * unit; p < s->tail; p += unit)
        out.push_back(unit_read(at<uint8_t>(p), unit));
    return out;
}

void append_utf8(std::string& out, uint32_t cp)
{
    uint8_t bytes[4];
    out.append(reinterpret_cast<char*>(bytes), utf8_encode_char(cp, bytes));
}

// Characters enhex leaves as they are: the unreserved ones, and for URL-style kinds (url!, file!
// and the others) also the delimiters that give such a text its structure.
bool keep_unencoded(uint32_t cp, bool string_kind)
{
    if ((cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9')) return true;
    const char* unreserved = "-._~";
    const char* delimiters = ":/?#[]@!$&'()*+,;=";
    for (const char* c = unreserved; *c; c++)
        if (cp == uint32_t(*c)) return true;
    if (string_kind) return false;
    for (const char* c = delimiters; *c; c++)
        if (cp == uint32_t(*c)) return true;
    return false;
}

void change_case_native(const int32_t* refs, uint32_t upper)
{
    const cell* part = refs[0] >= 0 ? base() + refs[0] : nullptr;
    cell* r = change_case(base(), part, upper);
    if (r != base()) *base() = *r;
}

bool block_class_q(uint32_t t) { return any_block_q(t) && t != TYPE_HASH; }

}  // namespace

void natives::uppercase_star(bool, const int32_t* refs) { change_case_native(refs, 1); }
void natives::lowercase_star(bool, const int32_t* refs) { change_case_native(refs, 0); }

void natives::dehex_star(bool, const int32_t*)
{
    std::u32string text = code_points(base());
    std::string bytes;
    for (size_t k = 0; k < text.size(); k++) {
        if (text[k] == '%' && k + 2 < text.size()) {
            int high = hex_value(text[k + 1]);
            int low = hex_value(text[k + 2]);
            if (high >= 0 && low >= 0) {
                bytes.push_back(char(high << 4 | low));
                k += 2;
                continue;
            }
        }
        append_utf8(bytes, text[k]);
    }
    string::load_at(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), base(), 0);
}

void natives::enhex_star(bool, const int32_t*)
{
    bool string_kind = cell_type(base()) == TYPE_STRING;
    std::u32string text = code_points(base());
    std::string out;
    static const char digits[] = "0123456789ABCDEF";
    for (uint32_t cp : text) {
        if (keep_unencoded(cp, string_kind)) {
            out.push_back(char(cp));
            continue;
        }
        std::string utf8;
        append_utf8(utf8, cp);
        for (unsigned char b : utf8) {
            out.push_back('%');
            out.push_back(digits[b >> 4]);
            out.push_back(digits[b & 15]);
        }
    }
    string::load_at(reinterpret_cast<const uint8_t*>(out.data()), uint32_t(out.size()), base(), 0);
}

void natives::as_star(bool, const int32_t*)
{
    cell* type = base();
    cell* spec = base() + 1;
    uint32_t to = cell_type(type) == TYPE_DATATYPE ? type->data1 : cell_type(type);
    uint32_t from = cell_type(spec);
    bool fits = (block_class_q(from) && block_class_q(to)) || (any_string_q(from) && any_string_q(to));
    if (!fits) {
        cell have{TYPE_DATATYPE, from, 0, 0};
        cell want{TYPE_DATATYPE, to, 0, 0};
        fire(ERR_SCRIPT, err::NOT_SAME_CLASS, &have, &want);
    }
    cell result = *spec;
    cell_set_type(&result, to);
    *base() = result;
}

// ---- the base codecs ----------------------------------------------------------------------------

namespace {

int32_t chosen_base(const int32_t* refs)
{
    if (refs[0] < 0) return 64;
    cell* b = base() + refs[0];
    if (!binary::base_q(integer_of(b))) fire(ERR_SCRIPT, err::INVALID_ARG, b);
    return integer_of(b);
}

}  // namespace

void natives::debase_star(bool, const int32_t* refs)
{
    int32_t b = chosen_base(refs);
    stack::scope held;
    cell* result = binary::debase(base(), b);
    *base() = result ? *result : none_value;
}

void natives::enbase_star(bool, const int32_t* refs)
{
    int32_t b = chosen_base(refs);
    stack::scope held;
    if (cell_type(base()) != TYPE_BINARY) {
        std::vector<uint8_t> bytes;
        binary::bytes_of(base(), -1, bytes);
        *base() = *binary::load(bytes.data(), uint32_t(bytes.size()));
    }
    // The text's room is known before anything is allocated; past 2^31 characters it is refused.
    if (binary::enbase_room(b, binary::ks_length_q(base())) > uint64_t(INT32_MAX)) fire(ERR_SCRIPT, err::TOO_LONG);
    *base() = *binary::enbase(base(), b);
}

// ---- constructors -------------------------------------------------------------------------------

namespace {

// An integer!, or a float! truncated toward zero; a float that is not finite or leaves the 32-bit
// range is refused before it becomes an integer.
int32_t truncated_coordinate(const cell* c)
{
    if (cell_type(c) == TYPE_INTEGER) return integer_of(c);
    double d = cell_float(c);
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ERR_SCRIPT, err::INVALID_ARG, c);
    return int32_t(d);
}

float single_coordinate(const cell* c)
{
    return point2D::to_single(cell_type(c) == TYPE_INTEGER ? double(integer_of(c)) : cell_float(c));
}

}  // namespace

void natives::as_pair_star(bool, const int32_t*)
{
    int32_t x = truncated_coordinate(base());
    int32_t y = truncated_coordinate(base() + 1);
    pair::make_at(base(), x, y);
}

void natives::as_point2d_star(bool, const int32_t*)
{
    point2D::make_at(base(), single_coordinate(base()), single_coordinate(base() + 1));
}

void natives::as_point3d_star(bool, const int32_t*)
{
    point3D::make_at(base(), single_coordinate(base()), single_coordinate(base() + 1), single_coordinate(base() + 2));
}

void natives::as_money_star(bool, const int32_t*)
{
    cell* args = base();
    int32_t currency = money::word_currency(args);
    if (currency < 0) fire(ERR_SCRIPT, err::BAD_DENOM, args);
    const cell* amount = args + 1;
    money::amount a = cell_type(amount) == TYPE_INTEGER ? money::from_integer(integer_of(amount))
                                                        : money::from_float(cell_float(amount), false);
    a.currency = uint8_t(currency);
    money::make_at(args, a);
}
