// money!: decimal arithmetic on unpacked digit strings, the currency rule, rounding, comparison
// and the text form. Nothing here allocates before the result is written, except the text and
// word results, which are made last.
#include "runtime/datatypes/money.h"

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/stack.h"
#include "runtime/random.h"
#include "runtime/unicode.h"

namespace {

using money::amount;
using money::DIGITS;
using money::INTEGRAL;

// The currencies at start, in their fixed order (an index is a place in this list).
const char* const currencies[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN", "BHD",
    "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD", "CLP", "CNY",
    "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "ETH", "EUR", "FJD",
    "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD", "HNL", "HRK", "HTG", "HUF",
    "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY", "KES", "KGS", "KHR", "KID", "KMF",
    "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD", "MAD", "MDL", "MGA", "MKD", "MMK",
    "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN", "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR",
    "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB", "PYG", "QAR", "KIV", "RON", "RSD", "RUB", "RWF", "SAR",
    "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS",
    "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV",
    "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER", "ZAR", "ZMW"};
constexpr int32_t CURRENCY_COUNT = int32_t(sizeof currencies / sizeof currencies[0]);

[[noreturn]] void type_error(uint32_t id, uint32_t type, const cell* arg2 = nullptr)
{
    cell t = datatype::value_of(type);
    fire(ERR_SCRIPT, id, &t, arg2);
}
[[noreturn]] void overflow() { type_error(err::TYPE_LIMIT, TYPE_MONEY); }
[[noreturn]] void zero_divide() { fire(ERR_MATH, err::ZERO_DIVIDE); }

bool zero_q(const uint8_t* d)
{
    for (int i = 0; i < DIGITS; i++)
        if (d[i]) return false;
    return true;
}

int32_t cmp(const uint8_t* a, const uint8_t* b, int n = DIGITS) { return std::memcmp(a, b, size_t(n)); }

// out = a + b; false on a carry out of the first digit.
bool add_digits(const uint8_t* a, const uint8_t* b, uint8_t* out)
{
    int carry = 0;
    for (int i = DIGITS - 1; i >= 0; i--) {
        int s = a[i] + b[i] + carry;
        carry = s >= 10;
        out[i] = uint8_t(carry ? s - 10 : s);
    }
    return carry == 0;
}

// out = a - b for a >= b (n digits).
void subtract_digits(const uint8_t* a, const uint8_t* b, uint8_t* out, int n = DIGITS)
{
    int borrow = 0;
    for (int i = n - 1; i >= 0; i--) {
        int s = a[i] - b[i] - borrow;
        borrow = s < 0;
        out[i] = uint8_t(borrow ? s + 10 : s);
    }
}

// Long division of n digits by a 22-digit divisor (not zero): n quotient digits and the remainder.
void divide_digits(const uint8_t* num, int n, const uint8_t* den, uint8_t* quotient, uint8_t* rest)
{
    // A divisor below 10^18 divides digit by digit with a 64-bit remainder (r * 10 + 9 < 2^64).
    int lead = 0;
    while (lead < DIGITS && den[lead] == 0) lead++;
    if (DIGITS - lead <= 18) {
        uint64_t dv = 0, rv = 0;
        for (int k = lead; k < DIGITS; k++) dv = dv * 10 + den[k];
        for (int k = 0; k < n; k++) {
            rv = rv * 10 + num[k];
            quotient[k] = uint8_t(rv / dv);
            rv %= dv;
        }
        for (int k = DIGITS - 1; k >= 0; k--, rv /= 10) rest[k] = uint8_t(rv % 10);
        return;
    }
    uint8_t r[DIGITS + 1] = {}, d[DIGITS + 1] = {};
    std::memcpy(d + 1, den, DIGITS);
    int i = 0;
    for (; i < n && num[i] == 0; i++) quotient[i] = 0;   // leading zeros leave the remainder 0
    for (; i < n; i++) {
        std::memmove(r, r + 1, DIGITS);
        r[DIGITS] = num[i];
        uint8_t q = 0;
        while (cmp(r, d, DIGITS + 1) >= 0) {
            subtract_digits(r, d, r, DIGITS + 1);
            q++;
        }
        quotient[i] = q;
    }
    std::memcpy(rest, r + 1, DIGITS);
}

// ---- cells --------------------------------------------------------------------------------------

uint8_t* payload(cell* c) { return reinterpret_cast<uint8_t*>(&c->data1); }
const uint8_t* payload(const cell* c) { return reinterpret_cast<const uint8_t*>(&c->data1); }

}  // namespace

amount money::get(const cell* c)
{
    amount a;
    a.negative = (c->header & SIGN_BIT) != 0;
    const uint8_t* p = payload(c);
    a.currency = p[0];
    for (int i = 0; i < DIGITS; i++) a.d[i] = uint8_t(i & 1 ? p[1 + i / 2] & 15 : p[1 + i / 2] >> 4);
    return a;
}

cell* money::make_at(cell* slot, const amount& a)
{
    uint8_t packed[11];
    for (int i = 0; i < 11; i++) packed[i] = uint8_t(a.d[2 * i] << 4 | a.d[2 * i + 1]);
    return set_all(slot, a.negative && !zero_q(a.d), a.currency, packed);
}

cell* money::push(const amount& a) { return make_at(stack::push_slot(), a); }

cell* money::set_all(cell* slot, bool negative, uint8_t currency, const uint8_t* packed)
{
    *slot = cell{TYPE_MONEY | (negative ? SIGN_BIT : 0), 0, 0, 0};
    uint8_t* p = payload(slot);
    p[0] = currency;
    std::memcpy(p + 1, packed, 11);
    return slot;
}

bool money::valid_payload_q(uint8_t currency, const uint8_t* packed)
{
    if (currency > CURRENCY_COUNT) return false;
    for (int i = 0; i < 11; i++)
        if ((packed[i] >> 4) > 9 || (packed[i] & 15) > 9) return false;
    return true;
}

void money::packed_digits(const cell* c, uint8_t* out11) { std::memcpy(out11, payload(c) + 1, 11); }

int32_t money::currency_index(const char* code, uint32_t length)
{
    if (length != 3) return -1;
    char up[4] = {};
    for (uint32_t i = 0; i < 3; i++) up[i] = char(code[i] >= 'a' && code[i] <= 'z' ? code[i] - 32 : code[i]);
    for (int32_t i = 0; i < CURRENCY_COUNT; i++)
        if (std::memcmp(currencies[i], up, 3) == 0) return i + 1;
    return -1;
}

const char* money::currency_name(uint8_t index)
{
    return index >= 1 && index <= CURRENCY_COUNT ? currencies[index - 1] : "";
}

bool money::make_in(cell* slot, bool negative, const char* currency, const char* digits, uint32_t digit_count,
                    const char* fraction, uint32_t fraction_count)
{
    amount a;
    a.negative = negative;
    if (currency && *currency) {
        int32_t i = currency_index(currency, uint32_t(std::strlen(currency)));
        if (i < 0) return false;
        a.currency = uint8_t(i);
    }
    std::string integral;
    for (uint32_t i = 0; i < digit_count; i++)
        if (digits[i] != '\'' && !(integral.empty() && digits[i] == '0')) integral += digits[i];
    if (integral.size() > size_t(INTEGRAL) || fraction_count > uint32_t(FRACTION)) return false;
    for (size_t i = 0; i < integral.size(); i++) a.d[INTEGRAL - integral.size() + i] = uint8_t(integral[i] - '0');
    for (uint32_t i = 0; i < fraction_count; i++) a.d[INTEGRAL + i] = uint8_t(fraction[i] - '0');
    make_at(slot, a);
    return true;
}

int32_t money::sign_of(const amount& a) { return zero_q(a.d) ? 0 : a.negative ? -1 : 1; }

// ---- conversions --------------------------------------------------------------------------------

amount money::from_integer(int32_t n)
{
    amount a;
    a.negative = n < 0;
    uint32_t m = n < 0 ? 0u - uint32_t(n) : uint32_t(n);
    for (int i = money::INTEGRAL - 1; i >= 0 && m; i--, m /= 10) a.d[i] = uint8_t(m % 10);
    return a;
}

int32_t money::to_integer(const cell* c)
{
    amount a = get(c);
    int64_t v = 0;
    for (int i = 0; i < INTEGRAL; i++) {
        v = v * 10 + a.d[i];
        if (v > 2147483648LL) break;
    }
    if (a.negative) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) type_error(err::TYPE_LIMIT, TYPE_INTEGER);
    return int32_t(v);
}

namespace {
bool float_too_small_q(double x) { return x != 0 && std::fabs(x) < 0.00001; }
bool float_too_big_q(double x) { return std::fabs(x) >= 1e17; }
}  // namespace

// From the shortest text that reads back as the float: 0.1 is $0.10, not the binary expansion.
amount money::from_float(double x, bool strict)
{
    cell f{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(&f, x);
    if (!std::isfinite(x) || float_too_small_q(x) || float_too_big_q(x)) type_error(err::BAD_MAKE_ARG, TYPE_MONEY, &f);
    amount a;
    if (x == 0) return a;
    float_digits fd;
    float_to_digits(x, 0, &fd);
    a.negative = fd.negative != 0;
    for (int32_t k = 0; k < fd.length; k++) {
        int32_t i = INTEGRAL - fd.point + k;   // digit k weighs 10^(point - 1 - k)
        if (i >= DIGITS) {
            if (strict) type_error(err::BAD_MAKE_ARG, TYPE_MONEY, &f);
            break;
        }
        if (i < 0) type_error(err::BAD_MAKE_ARG, TYPE_MONEY, &f);
        a.d[i] = uint8_t(fd.digits[k] - '0');
    }
    return a;
}

double money::to_float(const cell* c)
{
    amount a = get(c);
    char text[32];
    int n = 0;
    if (a.negative) text[n++] = '-';
    for (int i = 0; i < DIGITS; i++) {
        if (i == INTEGRAL) text[n++] = '.';
        text[n++] = char('0' + a.d[i]);
    }
    return text_to_float(text, size_t(n), 0, nullptr);
}

// ---- arithmetic ---------------------------------------------------------------------------------

namespace {

enum op_code { OP_ADD, OP_SUBTRACT, OP_MULTIPLY, OP_DIVIDE, OP_REMAINDER };

amount operand(const cell* v)
{
    switch (cell_type(v)) {
    case TYPE_MONEY: return money::get(v);
    case TYPE_INTEGER: return money::from_integer(integer_of(v));
    case TYPE_FLOAT: case TYPE_PERCENT: return money::from_float(cell_float(v), false);
    default: type_error(err::INVALID_TYPE, cell_type(v));
    }
}

// Equal currencies or either absent; the result's currency (the second's, else the first's).
uint8_t common_currency(const cell* v1, const amount& a, const cell* v2, const amount& b)
{
    if (a.currency && b.currency && a.currency != b.currency) {
        cell x = *v1, y = *v2;
        fire(ERR_SCRIPT, err::WRONG_DENOM, &x, &y);
    }
    return b.currency ? b.currency : a.currency;
}

amount add_signed(const amount& a, const amount& b)
{
    if (zero_q(a.d)) return b;
    if (zero_q(b.d)) return a;
    amount r;
    if (a.negative == b.negative) {
        if (!add_digits(a.d, b.d, r.d)) overflow();
        r.negative = a.negative;
    } else if (cmp(a.d, b.d) >= 0) {
        subtract_digits(a.d, b.d, r.d);
        r.negative = a.negative;
    } else {
        subtract_digits(b.d, a.d, r.d);
        r.negative = b.negative;
    }
    return r;
}

}  // namespace

amount money::product(const amount& a, const amount& b)
{
    uint32_t acc[2 * DIGITS] = {};
    for (int i = 0; i < DIGITS; i++)
        if (a.d[i])
            for (int j = 0; j < DIGITS; j++) acc[i + j + 1] += uint32_t(a.d[i]) * b.d[j];
    for (int k = 2 * DIGITS - 1; k > 0; k--) {
        acc[k - 1] += acc[k] / 10;
        acc[k] %= 10;
    }
    // 44 digits with 10 fraction places: the result is digits 17-38, five places dropped.
    for (int k = 0; k < money::INTEGRAL; k++)
        if (acc[k]) overflow();
    amount r;
    for (int i = 0; i < DIGITS; i++) r.d[i] = uint8_t(acc[money::INTEGRAL + i]);
    r.negative = a.negative != b.negative;
    return r;
}

// The dividend shifted 5 places into 27 digits, so the quotient keeps 5 fraction digits.
amount money::quotient(const amount& a, const amount& b)
{
    if (zero_q(b.d)) zero_divide();
    uint8_t num[DIGITS + money::FRACTION] = {}, q[DIGITS + money::FRACTION], rest[DIGITS];
    std::memcpy(num, a.d, DIGITS);
    divide_digits(num, DIGITS + money::FRACTION, b.d, q, rest);
    for (int i = 0; i < money::FRACTION; i++)
        if (q[i]) overflow();
    amount r;
    std::memcpy(r.d, q + money::FRACTION, DIGITS);
    r.negative = a.negative != b.negative;
    return r;
}

namespace {

amount remainder_of(const amount& a, const amount& b, uint8_t* whole_quotient = nullptr)
{
    if (zero_q(b.d)) zero_divide();
    uint8_t q[DIGITS];
    amount r;
    divide_digits(a.d, DIGITS, b.d, q, r.d);
    if (whole_quotient) std::memcpy(whole_quotient, q, DIGITS);
    r.negative = a.negative;
    return r;
}

cell* do_math(cell* v1, cell* v2, op_code code)
{
    uint32_t t1 = cell_type(v1), t2 = cell_type(v2);
    if ((code == OP_MULTIPLY && t1 == TYPE_MONEY && t2 == TYPE_MONEY) ||
        ((code == OP_DIVIDE || code == OP_REMAINDER) && t1 != TYPE_MONEY && t2 == TYPE_MONEY))
        type_error(err::INVALID_TYPE, t1);
    amount a = operand(v1), b = operand(v2);
    uint8_t currency = common_currency(v1, a, v2, b);
    amount r;
    switch (code) {
    case OP_ADD: r = add_signed(a, b); break;
    case OP_SUBTRACT:
        b.negative = !b.negative;
        r = add_signed(a, b);
        break;
    case OP_MULTIPLY: r = money::product(a, b); break;
    case OP_DIVIDE:
        r = money::quotient(a, b);
        if (t1 == TYPE_MONEY && t2 == TYPE_MONEY) {
            r.currency = 0;
            cell q;
            money::make_at(&q, r);
            return float_::make_at(v1, money::to_float(&q));
        }
        break;
    default: r = remainder_of(a, b); break;
    }
    r.currency = currency;
    return money::make_at(v1, r);
}

}  // namespace

cell* money::add(cell* v1, cell* v2) { return do_math(v1, v2, OP_ADD); }
cell* money::subtract(cell* v1, cell* v2) { return do_math(v1, v2, OP_SUBTRACT); }
cell* money::multiply(cell* v1, cell* v2) { return do_math(v1, v2, OP_MULTIPLY); }
cell* money::divide(cell* v1, cell* v2) { return do_math(v1, v2, OP_DIVIDE); }
cell* money::remainder(cell* v1, cell* v2) { return do_math(v1, v2, OP_REMAINDER); }

cell* money::absolute(cell* value)
{
    value->header &= ~SIGN_BIT;
    return value;
}

cell* money::negate(cell* value)
{
    amount a = get(value);
    a.negative = !a.negative;
    return make_at(value, a);
}

cell* money::even_q(cell* value)
{
    bool odd = get(value).d[INTEGRAL - 1] & 1;
    *value = cell{TYPE_LOGIC, odd ? 0u : 1u, 0, 0};
    return value;
}

cell* money::odd_q(cell* value)
{
    bool odd = get(value).d[INTEGRAL - 1] & 1;
    *value = cell{TYPE_LOGIC, odd ? 1u : 0u, 0, 0};
    return value;
}

// Ties are recognised exactly for any scale (twice the remainder equals the scale), and /even
// looks at the parity of the multiple the amount lies above.
cell* money::round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                   bool half_ceiling)
{
    amount a = get(value);
    if (zero_q(a.d)) return value;
    amount s = from_integer(1);
    if (scale) {
        switch (cell_type(scale)) {
        case TYPE_MONEY: s = get(scale); break;
        case TYPE_INTEGER: s = from_integer(integer_of(scale)); break;
        case TYPE_FLOAT: s = from_float(cell_float(scale), true); break;
        default: integer::not_related(word::load("round"), cell_type(scale));
        }
    }
    if (zero_q(s.d)) return value;
    bool negative = a.negative;
    a.negative = s.negative = false;
    uint8_t q[DIGITS];
    amount r = remainder_of(a, s, q);
    if (zero_q(r.d)) return value;
    amount lower, upper, other;
    subtract_digits(a.d, r.d, lower.d);
    subtract_digits(s.d, r.d, other.d);   // the distance up
    int32_t c = cmp(r.d, other.d);
    bool tie = c == 0;
    auto up = [&] {
        if (!add_digits(lower.d, s.d, upper.d)) overflow();
        return upper;
    };
    auto nearest = [&] { return c < 0 ? lower : up(); };
    amount result;
    if (down) result = lower;
    else if (floor) result = negative ? up() : lower;
    else if (ceiling) result = negative ? lower : up();
    else if (even) result = tie ? (q[DIGITS - 1] % 2 == 0 ? lower : up()) : nearest();
    else if (half_down) result = tie ? lower : nearest();
    else if (half_ceiling) result = tie ? (negative ? lower : up()) : nearest();
    else result = nearest();
    result.negative = negative;
    result.currency = get(value).currency;
    return make_at(value, result);
}

// ---- comparison ---------------------------------------------------------------------------------

namespace {

int32_t compare_amounts(const amount& a, const amount& b)
{
    int32_t sa = money::sign_of(a), sb = money::sign_of(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    int32_t c = cmp(a.d, b.d);
    c = c < 0 ? -1 : c > 0 ? 1 : 0;
    return sa < 0 ? -c : c;
}

bool ordering_q(int32_t op)
{
    return op == COMP_LESSER || op == COMP_LESSER_EQUAL || op == COMP_GREATER || op == COMP_GREATER_EQUAL;
}

}  // namespace

int32_t money::compare(cell* value1, cell* value2, int32_t op)
{
    uint32_t t2 = cell_type(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && t2 != TYPE_MONEY) return 1;
    amount a = get(value1);
    amount b;
    switch (t2) {
    case TYPE_MONEY: {
        b = get(value2);
        if (op == COMP_SORT || op == COMP_CASE_SORT) {
            if (a.currency != b.currency) {
                if (!a.currency || !b.currency) return a.currency ? 1 : -1;
                int c = std::strcmp(currency_name(a.currency), currency_name(b.currency));
                return c < 0 ? -1 : 1;
            }
            break;
        }
        bool compatible = !a.currency || !b.currency || a.currency == b.currency;
        if (ordering_q(op)) common_currency(value1, a, value2, b);
        else if (!compatible) return 1;
        if ((op == COMP_STRICT_EQUAL || op == COMP_SAME) && a.currency != b.currency) return 1;
        break;
    }
    case TYPE_INTEGER: b = from_integer(integer_of(value2)); break;
    case TYPE_FLOAT: case TYPE_PERCENT: {
        double x = cell_float(value2);
        if (std::isnan(x)) return -2;
        // Beyond what money holds, the float lies strictly between zero and the smallest
        // amount, or beyond the largest: the order follows from the signs alone.
        if (float_too_small_q(x)) {
            int32_t s = sign_of(a);
            return s != 0 ? s : (x > 0 ? -1 : 1);
        }
        if (float_too_big_q(x)) return x > 0 ? -1 : 1;
        b = from_float(x, false);
        break;
    }
    default: return -2;
    }
    return compare_amounts(a, b);
}

// ---- make and to --------------------------------------------------------------------------------

namespace {

[[noreturn]] void bad_make(const cell* spec) { type_error(err::BAD_MAKE_ARG, TYPE_MONEY, spec); }

}  // namespace

int32_t money::word_currency(const cell* word)
{
    cell* name = word::as_string(word);
    std::string text;
    uint32_t n = series::length_clamped(name), head = series::head_clamped(name);
    series_buffer* b = series_of(series_node(name));
    uint32_t unit = series_unit(b);
    for (uint32_t i = 0; i < n && i < 4; i++) {
        uint32_t cp = unit_read(at(b->head) + (head + i) * unit, unit);
        text += char(cp < 128 ? cp : '?');
    }
    return n == 3 ? money::currency_index(text.data(), 3) : -1;
}

namespace {

cell* from_block(cell* proto, const cell* spec)
{
    uint32_t n = block::rs_length(spec);
    const cell* items = block::rs_head(spec);
    if (n < 1 || n > 3) bad_make(spec);
    uint32_t i = 0;
    uint8_t currency = 0;
    if (cell_type(items) == TYPE_WORD) {
        int32_t c = money::word_currency(items);
        items = block::rs_head(spec);
        if (c < 0) bad_make(spec);
        currency = uint8_t(c);
        i = 1;
    }
    if (i >= n) bad_make(spec);
    amount a;
    uint32_t t = cell_type(items + i);
    if (t == TYPE_INTEGER) a = money::from_integer(integer_of(items + i));
    else if (t == TYPE_FLOAT) a = money::from_float(cell_float(items + i), true);
    else bad_make(spec);
    if (++i < n) {
        if (t == TYPE_FLOAT || cell_type(items + i) != TYPE_INTEGER) bad_make(spec);
        int32_t f = integer_of(items + i);
        if (f < 0 || f > 99999) bad_make(spec);
        if (++i < n) bad_make(spec);
        amount frac;
        for (int k = DIGITS - 1; k >= money::INTEGRAL; k--, f /= 10) frac.d[k] = uint8_t(f % 10);
        // Added with the amount's sign: [USD -1 50] is -USD$1.0005.
        uint8_t sum[DIGITS];
        add_digits(a.d, frac.d, sum);
        std::memcpy(a.d, sum, DIGITS);
    }
    a.currency = currency;
    return money::make_at(proto, a);
}

cell* convert(cell* proto, cell* spec, bool make)
{
    uint32_t t = cell_type(spec);
    switch (t) {
    case TYPE_MONEY: return spec;
    case TYPE_INTEGER: return money::make_at(proto, money::from_integer(integer_of(spec)));
    case TYPE_FLOAT: return money::make_at(proto, money::from_float(cell_float(spec), true));
    case TYPE_WORD:
        if (make) {
            int32_t c = money::word_currency(spec);
            if (c < 0) bad_make(spec);
            amount a;
            a.currency = uint8_t(c);
            return money::make_at(proto, a);
        }
        break;
    case TYPE_BLOCK:
        if (make) return from_block(proto, spec);
        break;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: {
        if (!word::string_load_hook) {
            cell named = datatype::value_of(TYPE_MONEY);
            fire(ERR_INTERNAL, err::NOT_DONE, &named);
        }
        cell* loaded = word::string_load_hook(spec);
        if (!loaded || cell_type(loaded) != TYPE_MONEY) type_error(err::BAD_TO_ARG, TYPE_MONEY, spec);
        cell m = *loaded;
        stack::pop(1);
        *proto = m;
        return proto;
    }
    default: break;
    }
    type_error(err::BAD_TO_ARG, TYPE_MONEY, spec);
}

}  // namespace

cell* money::make(cell* proto, cell* spec, uint32_t) { return convert(proto, spec, true); }
cell* money::to(cell* proto, cell* spec, uint32_t) { return convert(proto, spec, false); }

// ---- text ---------------------------------------------------------------------------------------

namespace {

int32_t form_into(const cell* value, cell* buffer, int32_t part, bool grouped, bool all)
{
    amount a = money::get(value);
    std::string text;
    if (a.negative && !zero_q(a.d)) text += '-';
    text += money::currency_name(a.currency);
    text += '$';
    int first = 0;
    while (first < money::INTEGRAL - 1 && a.d[first] == 0) first++;
    for (int i = first; i < money::INTEGRAL; i++) {
        if (grouped && i > first && (money::INTEGRAL - i) % 3 == 0) text += '\'';
        text += char('0' + a.d[i]);
    }
    int32_t digits = 2;
    cell option = object::system_field({"options", "money-digits"});
    if (cell_type(&option) == TYPE_INTEGER) digits = integer_of(&option);
    if (all || digits > money::FRACTION) digits = money::FRACTION;
    if (digits >= 1) {
        text += '.';
        for (int i = 0; i < digits; i++) text += char('0' + a.d[money::INTEGRAL + i]);
    }
    return string::emit_literal(buffer, text.c_str(), part);
}

}  // namespace

int32_t money::form(cell* value, cell* buffer, cell*, int32_t part) { return form_into(value, buffer, part, true, false); }

int32_t money::mold(cell* value, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    return form_into(value, buffer, part, false, all);
}

// ---- pick, paths, random ------------------------------------------------------------------------

namespace {

int32_t field_of(const cell* element)
{
    if (cell_type(element) == TYPE_INTEGER) return integer_of(element);
    if (cell_type(element) != TYPE_WORD) return -1;
    uint32_t s = symbol::resolve(word_symbol(element));
    if (s == symbol::resolve(rt_symbol_id(SYM_CODE))) return 1;
    if (s == symbol::resolve(rt_symbol_id(SYM_AMOUNT))) return 2;
    return -1;
}

cell* get_field(const cell* value, int32_t i)
{
    amount a = money::get(value);
    if (i == 2) {
        a.currency = 0;
        return money::push(a);
    }
    if (!a.currency) return none::push();
    return stack::push(word::load(money::currency_name(a.currency)));
}

}  // namespace

cell* money::pick(cell* value, int32_t, cell* index)
{
    int32_t i = field_of(index);
    if (i != 1 && i != 2) fire(ERR_SCRIPT, err::OUT_OF_RANGE, index);
    return get_field(value, i);
}

cell* money::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool,
                       bool, bool)
{
    int32_t i = field_of(element);
    if (i != 1 && i != 2) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    if (value) fire(ERR_SCRIPT, err::BAD_PATH_SET, path, element);
    return get_field(parent, i);
}

cell* money::random(cell* value, bool seed, bool secure, bool)
{
    if (seed) {
        random_::seed(value->data1 ^ value->data2 ^ value->data3 ^ (value->header & SIGN_BIT));
        return unset::make_at(value);
    }
    amount a = get(value);
    bool below = false;
    for (int i = 0; i < DIGITS; i++) {
        uint32_t bound = below ? 9 : a.d[i];
        uint8_t digit = uint8_t(random_::draw(secure) % (bound + 1));
        if (digit < a.d[i]) below = true;
        a.d[i] = digit;
    }
    return make_at(value, a);
}

void money::init()
{
    datatype::register_type(TYPE_MONEY, 0, "money!", {
        .make = make, .random = random, .to = to, .form = form, .mold = mold, .eval_path = eval_path,
        .compare = compare, .absolute = absolute, .add = add, .divide = divide, .multiply = multiply,
        .negate = negate, .remainder = remainder, .round = round, .subtract = subtract, .even_q = even_q,
        .odd_q = odd_q, .pick = pick});
}
