// Exact conversion between doubles and decimal text: shortest round-trip digits, the display
// layout of mold and form, and correctly rounded reading. Works on plain byte buffers and touches
// no series memory; what mold writes must read back to the same bits.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int32_t FLOAT_POINT_SPECIAL = 9999;   // point of infinity and NaN
constexpr int32_t FLOAT_POINT_ZERO = 9998;      // point of zero
constexpr int32_t FLOAT_DIGITS_MAX = 20;        // shortest digits never need more than 17
constexpr size_t FLOAT_FORM_ROOM = 32;          // always enough for float_form_into

// Decimal digits of a double: value = 0.d1d2...dn x 10^point, no trailing zeros.
struct float_digits {
    char digits[FLOAT_DIGITS_MAX + 1];   // NUL-terminated; empty for the special points
    int32_t length;
    int32_t point;
    uint32_t negative;                   // sign bit (0 for NaN)
};

// precision <= 0: the shortest digits that read back as `value`; above 0: at most that many,
// correctly rounded, fewer when a shorter string already reads back the same.
void float_to_digits(double value, int32_t precision, float_digits* out);

// The display text of `value` into out[0..room), NUL-terminated; answers its length, or 0 (and an
// empty text when room allows) when it does not fit.
size_t float_form_into(double value, int32_t precision, uint32_t point_zero, char* out, size_t room);
// The text of a "%.<precision>g" format (precision 1 to 17): the exact value correctly rounded to
// that many significant digits (ties to even; float_to_digits stops early at a shorter text that
// reads back), trailing zeros dropped, an exponent with no "+" and no leading zeros; zero is "0"
// or "-0", the specials as float_form writes them. Into out as float_form_into does.
size_t float_form_g(double value, int32_t precision, char* out, size_t room);

// The nearest double to the decimal text in text[0..length), its exponent raised by
// `extra_exponent`. *remaining gets the count of characters left unread at the end.
double text_to_float(const char* text, size_t length, int32_t extra_exponent, size_t* remaining);

// Entries on one shared text buffer, valid until the next conversion.
// float_to_text answers the digits (or the special text), preceded in memory by a "-", and sets
// the outputs that are not null.
const char* float_to_text(double value, int32_t precision, int32_t* point, int32_t* sign,
                          int32_t* length, uint32_t point_zero);
const char* float_form(double value, int32_t precision, uint32_t point_zero);
double text_to_float(const char* start, const char* end, int32_t extra_exponent, int32_t* remaining);
