// money!: an exact decimal amount of 17 integral and 5 fraction digits with an optional currency.
// Header bit 14 is the sign; byte 4 the currency (0 none, else its 1-based place in the currency
// list); bytes 5-15 the 22 digits packed two a byte, most significant first. Arithmetic works on
// the unpacked digits: products in 44 digits, a dividend shifted into 27, nothing through floats.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace money {

constexpr uint32_t SIGN_BIT = 0x4000;
constexpr int32_t DIGITS = 22, INTEGRAL = 17, FRACTION = 5;

// An unpacked amount: d[0] is the most significant digit (10^16), d[21] the last (10^-5).
struct amount {
    bool negative = false;
    uint8_t currency = 0;
    uint8_t d[DIGITS] = {};
};

void init();

amount get(const cell* c);
cell* make_at(cell* slot, const amount& a);
cell* push(const amount& a);
// The KIVBIN decoders' constructor: sign, currency index and the 11 packed digit bytes.
cell* set_all(cell* slot, bool negative, uint8_t currency, const uint8_t* packed);
void packed_digits(const cell* c, uint8_t* out11);
// Whether outside data holds a real amount: a known currency (or none) and digits 0-9.
bool valid_payload_q(uint8_t currency, const uint8_t* packed11);

// The 1-based place of a currency code (case ignored) in the list, -1 when absent.
int32_t currency_index(const char* code, uint32_t length);
const char* currency_name(uint8_t index);
// The place of a word's spelling in the currency list (case ignored), -1 when absent.
int32_t word_currency(const cell* word);   // upper case; "" for 0 or an unknown index

// The lexer's constructor: integral digits (at most 17) and fraction digits (at most 5); false
// when the currency is unknown or the digits do not fit (the caller reports it).
bool make_in(cell* slot, bool negative, const char* currency, const char* digits, uint32_t digit_count,
             const char* fraction, uint32_t fraction_count);

amount from_integer(int32_t n);
int32_t to_integer(const cell* c);   // script/type-limit beyond 32 bits; the fraction dropped
// strict: a float with more than 5 fraction digits raises script/bad-make-arg (else they drop).
// Not finite, non-zero below 0.00001, or from 1e17: script/bad-make-arg.
amount from_float(double x, bool strict);
double to_float(const cell* c);
int32_t sign_of(const amount& a);
// Magnitude routines behind multiply and divide (signs combined, currency 0): the product cut to
// 5 places and the quotient truncated to 5; script/type-limit beyond 17 integral digits,
// math/zero-divide by zero.
amount product(const amount& a, const amount& b);
amount quotient(const amount& a, const amount& b);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* absolute(cell* value);
cell* add(cell* value1, cell* value2);
cell* divide(cell* value1, cell* value2);
cell* multiply(cell* value1, cell* value2);
cell* negate(cell* value);
cell* remainder(cell* value1, cell* value2);
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
cell* subtract(cell* value1, cell* value2);
cell* even_q(cell* value);
cell* odd_q(cell* value);
cell* pick(cell* value, int32_t n, cell* index);

}  // namespace money
