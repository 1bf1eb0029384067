// float!: constructors, the two text paths (mold: shortest round-trip; form: a fixed number of
// exactly rounded digits with the noise retry), tolerant comparison, arithmetic and rounding.
// Every text comes from the project's own digit generator, never from the C runtime's printf,
// whose exponents and special values differ between runtimes. No double becomes an int32
// without a range check.
#include "runtime/datatypes/float.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/crt_math.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/vector.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/stack.h"
#include "runtime/random.h"

const double float_::largest = std::bit_cast<double>(uint64_t(0x7FEFFFFFFFFFFFFF));
const double float_::infinity = std::bit_cast<double>(uint64_t(0x7FF0000000000000));
const double float_::minus_infinity = std::bit_cast<double>(uint64_t(0xFFF0000000000000));
const double float_::quiet_nan = std::bit_cast<double>(uint64_t(0x7FF8000000000000));
const double float_::almost_half = std::bit_cast<double>(uint64_t(0x3FDFFFFFFFFFFFFF));
int32_t float_::pretty_q = 1;

namespace {

constexpr double epsilon = 2.220446049250313e-16;
constexpr uint64_t sign_bit = uint64_t(1) << 63;
constexpr uint64_t exponent_bits = 0x7FF0000000000000;

// A double's digits written without an exponent: a sign, "0.", 325 zeros before the digits of the
// smallest subnormal moved two places for a percent, 17 digits, "%" and the NUL.
constexpr size_t PLAIN_ROOM = 360;

struct float_state {
    char text[FLOAT_FORM_ROOM];   // form_float's buffer
    char plain[PLAIN_ROOM];       // texts without an exponent
};
float_state float_s;

uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }

cell* store(cell* slot, double value)
{
    *slot = cell{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(slot, value);
    return slot;
}

[[noreturn]] void type_fault(uint32_t id, uint32_t type, const cell* value)
{
    cell t = datatype::value_of(type);
    fire(ERR_SCRIPT, id, &t, value);
}

bool is_number_type(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME; }

// The double of an integer!, char!, float!, percent! or time! cell.
double number_of(const cell* c)
{
    uint32_t t = cell_type(c);
    return t == TYPE_INTEGER || t == TYPE_CHAR ? double(int32_t(c->data2)) : cell_float(c);
}


// ---- powers of integral numbers -----------------------------------------------------------------
// The runtime library's pow may miss the nearest double by an ulp, and then a power whose exact
// value is a short decimal prints badly (10 ** 23 as 1.0000000000000001e23). A power of an
// integral base and exponent is therefore computed exactly and rounded once, to nearest even.

// Unsigned integers of up to 48 words, least significant first: room for the 1031 bits of the
// largest power computed, and for the bit more that a remainder of the division by it can take.
struct wide {
    static constexpr int32_t WORDS = 48;
    uint32_t w[WORDS] = {};
    int32_t used = 1;

    void multiply(uint32_t m)
    {
        uint64_t carry = 0;
        for (int32_t i = 0; i < used; i++) {
            uint64_t p = uint64_t(w[i]) * m + carry;
            w[i] = uint32_t(p);
            carry = p >> 32;
        }
        if (carry) w[used++] = uint32_t(carry);   // callers keep the product within WORDS
    }
    int32_t bits() const { return (used - 1) * 32 + (32 - std::countl_zero(w[used - 1])); }
    bool bit(int32_t i) const { return (w[i >> 5] >> (i & 31)) & 1; }
};

// The double nearest to (q + a sticky fraction) * 2^exponent, q not zero, for a result known to
// be a normal double.
double round_nearest(uint64_t q, bool sticky, int32_t exponent)
{
    int32_t shift = std::countl_zero(q);
    q <<= shift;
    exponent -= shift;
    uint64_t mantissa = q >> 11, rest = q & 0x7FF;
    if (rest > 0x400 || (rest == 0x400 && (sticky || (mantissa & 1)))) mantissa++;
    return std::ldexp(double(mantissa), exponent + 11);
}

// The top 64 bits of x below bit `top` (exclusive), and whether any bit below them is set.
uint64_t top_bits(const wide& x, int32_t top, bool* sticky)
{
    uint64_t q = 0;
    int32_t low = std::max(top - 64, 0);
    for (int32_t i = top - 1; i >= low; i--) q = q << 1 | uint64_t(x.bit(i));
    *sticky = false;
    for (int32_t i = 0; i < low && !*sticky; i++) *sticky = x.bit(i);
    return q;
}

// floor(2^(n + 62) / d) for d of n bits, with whether a remainder is left: long division, one
// quotient bit per step. The quotient lies in (2^62, 2^63].
uint64_t reciprocal_bits(const wide& d, int32_t n, bool* sticky)
{
    wide r;
    uint64_t q = 0;
    for (int32_t step = 0; step <= n + 62; step++) {
        // r := 2r + (the dividend's bit: only its top bit is set)
        uint32_t carry = step == 0 ? 1 : 0;
        for (int32_t i = 0; i < r.used; i++) {
            uint32_t next = r.w[i] >> 31;
            r.w[i] = r.w[i] << 1 | carry;
            carry = next;
        }
        if (carry) r.w[r.used++] = carry;
        bool fits = r.used > d.used;
        if (!fits && r.used == d.used) {
            int32_t i = r.used - 1;
            while (i > 0 && r.w[i] == d.w[i]) i--;
            fits = r.w[i] >= d.w[i];
        }
        q <<= 1;
        if (!fits) continue;
        q |= 1;
        uint64_t borrow = 0;
        for (int32_t i = 0; i < r.used; i++) {
            uint64_t sub = uint64_t(i < d.used ? d.w[i] : 0) + borrow;
            borrow = r.w[i] < sub;
            r.w[i] = uint32_t(uint64_t(r.w[i]) - sub);
        }
        while (r.used > 1 && r.w[r.used - 1] == 0) r.used--;
    }
    *sticky = r.used > 1 || r.w[0] != 0;
    return q;
}

// base ** exponent rounded once, when both are integral, |base| is 2 to 2^32 - 1 and the result
// is a normal double; false otherwise (the library's pow decides: overflow, underflow, 0, ±1).
bool exact_integral_power(double base, double exponent, double* out)
{
    double magnitude = std::fabs(base);
    if (!(magnitude >= 2.0 && magnitude < 4294967296.0) || base != std::trunc(base)) return false;
    if (!(std::fabs(exponent) <= 1100.0) || exponent != std::trunc(exponent)) return false;
    int32_t e = int32_t(std::fabs(exponent));
    // Beyond 1030 bits no result is a normal double (the estimate's error is far below a bit).
    if (e * std::log2(magnitude) > 1030.0) return false;
    wide x;
    x.w[0] = 1;
    for (int32_t i = 0; i < e; i++) x.multiply(uint32_t(magnitude));
    int32_t n = x.bits();
    bool sticky;
    double r;
    if (exponent >= 0) {
        if (n > 1024) return false;
        uint64_t q = top_bits(x, n, &sticky);
        r = round_nearest(q, sticky, std::max(n - 64, 0));
    } else {
        // 1 / x lies in (2^-n, 2^(1-n)]: normal while n stays below 1022.
        if (n > 1021) return false;
        uint64_t q = reciprocal_bits(x, n, &sticky);
        r = round_nearest(q, sticky, -(n + 62));
    }
    *out = base < 0 && (e & 1) ? -r : r;
    return true;
}

}  // namespace

// ---- constructors and accessors -----------------------------------------------------------------

cell* float_::make_at(cell* slot, double value) { return store(slot, value); }
cell* float_::push(double value) { return store(stack::push_slot(), value); }
cell* float_::push64(uint32_t high, uint32_t low)
{
    cell* c = stack::push_slot();
    *c = cell{TYPE_FLOAT, 0, low, high};
    return c;
}
cell* float_::make_in(cell* blk, uint32_t high, uint32_t low)
{
    cell* c = block_alloc_tail(blk ? blk : &root_block);
    *c = cell{TYPE_FLOAT, 0, low, high};
    return c;
}
cell* float_::make_in(cell* blk, double value) { return store(block_alloc_tail(blk ? blk : &root_block), value); }
cell* float_::box(double value) { return store(stack::arguments(), value); }

double float_::get_any(const cell* c)
{
    uint32_t t = cell_type(c);
    if (t != TYPE_INTEGER && t != TYPE_FLOAT) type_fault(err::BAD_TO_ARG, TYPE_FLOAT, c);
    return number_of(c);
}

// ---- shared routines ----------------------------------------------------------------------------

int32_t float_::round_to_int(double value)
{
    double v = value + almost_half;
    // Saturated: a coordinate beyond the int32 range has no exact pixel anyway.
    if (!(v > -2147483649.0)) return std::isnan(v) ? 0 : INT32_MIN;
    if (!(v < 2147483648.0)) return INT32_MAX;
    return int32_t(v);
}

double float_::abs(double value) { return std::bit_cast<double>(bits_of(value) & ~sign_bit); }

bool float_::nan_q(double value)
{
    uint64_t b = bits_of(value);
    return (b & exponent_bits) == exponent_bits && (b & ~(exponent_bits | sign_bit)) != 0;
}

bool float_::nan32_q(float value) { return value != value; }

bool float_::not_finite_q(double value) { return (bits_of(value) & exponent_bits) == exponent_bits; }

bool float_::almost_equal_q(double a, double b)
{
    if (nan_q(a) || nan_q(b)) return false;
    if (a == b) return true;
    if (abs(a - b) < epsilon) return true;
    // Ordered keys: the distance between two keys counts the doubles between the values.
    auto key = [](double d) {
        uint64_t bits = bits_of(d);
        return bits & sign_bit ? 0 - bits : bits | sign_bit;
    };
    uint64_t ka = key(a), kb = key(b);
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

bool float_::equal32_q(float a, float b)
{
    if (a != a || b != b) return false;
    if (a == b) return true;
    uint32_t ia = std::bit_cast<uint32_t>(a), ib = std::bit_cast<uint32_t>(b);
    uint32_t ma = ia & 0x7FFFFFFF, mb = ib & 0x7FFFFFFF;
    if (ma >= 0x7F7FFFFF || mb >= 0x7F7FFFFF)
        return ((ia ^ ib) & 0x80000000) == 0 && (ma > mb ? ma - mb : mb - ma) < 0x100000;
    auto ordered = [](uint32_t bits) { return int64_t(int32_t(bits & 0x80000000 ? 0x80000000u - bits : bits)); };
    int64_t d = ordered(ia) - ordered(ib);
    return d >= -10 && d <= 10;
}

// ---- text ---------------------------------------------------------------------------------------

namespace {

// Significant digits of the first text of a kind (seconds: 6, laid out by float_form_into).
int32_t first_precision(int32_t kind)
{
    return kind == float_::FORM_FLOAT ? 16 : kind == float_::FORM_PERCENT ? 13 : kind == float_::FORM_SECONDS ? 6 : 7;
}

// The first text of a kind: significant digits by the precision the kind is printed with.
size_t first_text(double value, int32_t kind, char* out)
{
    if (kind == float_::FORM_SECONDS) return float_form_into(value, 6, 0, out, FLOAT_FORM_ROOM);
    return float_form_g(value, first_precision(kind), out, FLOAT_FORM_ROOM);
}

// Digits that show the binary representation rather than the number: a long text ending in 01
// or 99 (before the exponent when there is one).
bool noisy(const char* text, size_t length)
{
    const char* e = std::strchr(text, 'e');
    size_t mantissa = e ? size_t(e - text) : length;
    if (e) {
        if (mantissa <= 16) return false;
    } else {
        const char* first = text[0] == '-' ? text + 1 : text;
        if (!((length > 16 && *first != '0') || length > 17)) return false;
    }
    const char* last2 = text + mantissa - 2;
    return (last2[0] == '0' && last2[1] == '1') || (last2[0] == '9' && last2[1] == '9');
}

// The digits of d (0.d1d2...dn x 10^point) without an exponent into out (PLAIN_ROOM); its length.
size_t write_plain(const float_digits& d, int32_t point, char* out)
{
    size_t k = 0;
    auto digits = [&](int32_t from, int32_t to) {
        for (int32_t i = from; i < to; i++) out[k++] = d.digits[i];
    };
    if (d.negative) out[k++] = '-';
    if (point <= 0) {
        out[k++] = '0';
        out[k++] = '.';
        for (int32_t i = point; i < 0; i++) out[k++] = '0';
        digits(0, d.length);
    } else if (point < d.length) {
        digits(0, point);
        out[k++] = '.';
        digits(point, d.length);
    } else {
        digits(0, d.length);
        for (int32_t i = d.length; i < point; i++) out[k++] = '0';
    }
    out[k] = 0;
    return k;
}

}  // namespace

const char* float_::form_float(double value, int32_t kind)
{
    if (not_finite_q(value)) {
        if (nan_q(value)) return "1.#NaN";
        return bits_of(value) & sign_bit ? "-1.#INF" : "1.#INF";
    }
    bool percent = kind == FORM_SINGLE_PERCENT || kind == FORM_PERCENT;
    if (pretty_q && abs(value) < epsilon) return percent ? "0%" : kind == FORM_POINT ? "0" : "0.0";
    char* text = float_s.text;
    size_t n = first_text(value, kind, text);
    int32_t precision = first_precision(kind);
    if (pretty_q && noisy(text, n)) {
        bool single = kind == FORM_SINGLE || kind == FORM_SECONDS || kind == FORM_POINT;
        precision = single ? 5 : 14;
        n = float_form_g(value, precision, text, FLOAT_FORM_ROOM);
    }
    if (percent) {
        // The lexer reads no exponent before a "%": the same digits are written out in full.
        if (std::strchr(text, 'e')) {
            float_digits d;
            float_to_digits(value, precision, &d);
            text = float_s.plain;
            n = write_plain(d, d.point, text);
        }
        text[n++] = '%';
        text[n] = 0;
    } else if (!std::strchr(text, '.') && kind != FORM_SECONDS && kind != FORM_POINT) {
        char* e = std::strchr(text, 'e');
        size_t at = e ? size_t(e - text) : n;
        std::memmove(text + at + 2, text + at, n - at + 1);
        text[at] = '.';
        text[at + 1] = '0';
    }
    return text;
}

const char* float_::plain_text(const float_digits& d, int32_t point)
{
    write_plain(d, point, float_s.plain);
    return float_s.plain;
}

const char* float_::exact_percent_text(double fraction)
{
    float_digits d;
    float_to_digits(fraction, 0, &d);
    if (d.point == FLOAT_POINT_SPECIAL) return form_float(fraction, FORM_PERCENT);
    if (d.point == FLOAT_POINT_ZERO) return d.negative ? "-0%" : "0%";
    // The fraction's own digits with the point moved: the loader lowers the exponent by two
    // instead of dividing, so the text reads back as exactly this fraction.
    char* text = float_s.plain;
    size_t n = write_plain(d, d.point + 2, text);
    text[n] = '%';
    text[n + 1] = 0;
    return text;
}

int32_t float_::form(cell* value, cell* buffer, cell*, int32_t part)
{
    return string::emit_literal(buffer, form_float(get(value), FORM_FLOAT), part);
}

int32_t float_::mold(cell* value, cell* buffer, bool, bool, bool, cell*, int32_t part, int32_t)
{
    char text[FLOAT_FORM_ROOM];
    size_t n = float_form_into(get(value), 0, 1, text, sizeof text);
    string::concatenate_literal_part(buffer, reinterpret_cast<const uint8_t*>(text), uint32_t(n));
    return part - int32_t(n);
}

double float_::from_text(const uint8_t* start, uint32_t count, uint32_t unit, int32_t* status)
{
    *status = -1;
    constexpr uint32_t longest = 312;
    if (count == 0 || count > longest) return 0;
    char text[longest + 1];
    size_t n = 0;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = string::get_char(start + i * unit, unit);
        if (c == '\'') continue;
        if (c > 127) return 0;
        text[n++] = c == ',' ? '.' : char(c);
    }
    text[n] = 0;
    // The syntax first: the reader takes whatever follows an exponent marker as its digits.
    size_t i = text[0] == '+' || text[0] == '-' ? 1 : 0;
    auto digits = [&] {
        size_t from = i;
        while (i < n && text[i] >= '0' && text[i] <= '9') i++;
        return i - from;
    };
    size_t whole = digits();
    if (whole == 1 && n - i == 5 && text[i] == '.' && text[i + 1] == '#') {
        const char* special = text + i + 2;
        bool inf = (special[0] | 0x20) == 'i' && (special[1] | 0x20) == 'n' && (special[2] | 0x20) == 'f';
        bool nan = (special[0] | 0x20) == 'n' && (special[1] | 0x20) == 'a' && (special[2] | 0x20) == 'n';
        if (!inf && !nan) return 0;
    } else {
        size_t fraction = 0;
        if (i < n && text[i] == '.') {
            i++;
            fraction = digits();
        }
        if (whole + fraction == 0) return 0;
        if (i < n && (text[i] == 'e' || text[i] == 'E')) {
            i++;
            if (i < n && (text[i] == '+' || text[i] == '-')) i++;
            if (digits() == 0) return 0;
        }
        if (i != n) return 0;
    }
    *status = 0;
    return text_to_float(text, n, 0, nullptr);
}

// ---- comparison ---------------------------------------------------------------------------------

int32_t float_::compare(cell* value1, cell* value2, int32_t op)
{
    uint32_t t1 = cell_type(value1), t2 = cell_type(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && t1 != t2) return 1;
    if (t2 == TYPE_MONEY) return integer::compare_reversed(value1, value2, op);
    if (!is_number_type(t2)) return -2;
    return compare_doubles(get(value1), number_of(value2), op);
}

// ---- arithmetic ---------------------------------------------------------------------------------

double float_::do_math_op(double left, double right, uint32_t code)
{
    switch (code) {
    case MATH_ADD: case MATH_SUBTRACT: case MATH_MULTIPLY: case MATH_DIVIDE:
        return basic_op(left, right, code);
    case MATH_REMAINDER:
        if (nan_q(right)) return quiet_nan;
        if (not_finite_q(right)) return not_finite_q(left) ? quiet_nan : left;
        return std::fmod(left, right);
    default: {
        cell word = running_function_word();
        type_fault(err::CANNOT_USE, TYPE_FLOAT, &word);
    }
    }
}

cell* float_::do_math(cell* left, cell* right, uint32_t code)
{
    uint32_t lt = cell_type(left), rt = cell_type(right);
    switch (rt) {
    case TYPE_TUPLE: case TYPE_MONEY:
        return integer::by_type_of(left, right, rt, code);
    case TYPE_PAIR: case TYPE_POINT2D: case TYPE_POINT3D:
        if (lt == TYPE_TIME) break;
        if (code == MATH_SUBTRACT || code == MATH_DIVIDE) integer::not_related(integer::operation_word(code), rt);
        integer::swap_operands(left, right);
        return integer::by_type_of(left, right, rt, code);
    case TYPE_VECTOR:
        // The vector changes in place with the number as the left operand.
        integer::swap_operands(left, right);
        return copy_cell(vector::do_math(code, left, right, true), left);
    default:
        break;
    }
    bool right_ok = rt == TYPE_CHAR ? lt != TYPE_TIME && lt != TYPE_PERCENT : is_number_type(rt);
    if (!right_ok) {
        cell t = datatype::value_of(rt);
        fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
    }
    double result = do_math_op(number_of(left), number_of(right), code);
    uint32_t type = (lt == TYPE_TIME) != (rt == TYPE_TIME) ? uint32_t(TYPE_TIME)
                    : lt == TYPE_INTEGER                  ? uint32_t(TYPE_FLOAT)
                                                          : lt;
    cell_set_type(left, type);
    cell_set_float(left, result);
    return left;
}

cell* float_::add(cell* value1, cell* value2) { return do_math(value1, value2, MATH_ADD); }
cell* float_::subtract(cell* value1, cell* value2) { return do_math(value1, value2, MATH_SUBTRACT); }
cell* float_::multiply(cell* value1, cell* value2) { return do_math(value1, value2, MATH_MULTIPLY); }
cell* float_::divide(cell* value1, cell* value2) { return do_math(value1, value2, MATH_DIVIDE); }
cell* float_::remainder(cell* value1, cell* value2) { return do_math(value1, value2, MATH_REMAINDER); }

cell* float_::power(cell* base, cell* exponent)
{
    uint32_t et = cell_type(exponent);
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) fire_expect_arg(0, et);
    double b = get(base), e = number_of(exponent), r;
    if (!exact_integral_power(b, e, &r)) r = crt_math::pow(b, e);
    cell_set_float(base, r);
    return base;
}

cell* float_::absolute(cell* value)
{
    value->data3 &= 0x7FFFFFFFu;
    return value;
}

cell* float_::negate(cell* value)
{
    cell_set_float(value, 0.0 - get(value));
    return value;
}

namespace {
// Parity of the value truncated toward zero; outside the int32 range (NaN too) it counts as even.
bool odd_value(double d) { return d > -2147483649.0 && d < 2147483648.0 && (int32_t(d) & 1); }
}  // namespace

cell* float_::even_q(cell* value) { return logic::make_at(value, !odd_value(get(value))); }
cell* float_::odd_q(cell* value) { return logic::make_at(value, odd_value(get(value))); }

// ---- rounding -----------------------------------------------------------------------------------

double float_::round_double(double f, double sc, bool even, bool down, bool half_down, bool floor, bool ceiling,
                            bool half_ceiling)
{
    // A zero scale would multiply by its infinite reciprocal: nothing to round to.
    if (sc == 0 || sc < abs(f) * 0x1p-53) return f;
    const bool whole_scale = sc >= 1.0;
    int32_t e = 0;
    double reciprocal = 1.0;
    if (whole_scale) {
        f = f / sc;
    } else {
        // A scale near the bottom of the range has no finite reciprocal: scale both first.
        double m = std::frexp(sc, &e);
        if (e <= -1022) {
            f = std::ldexp(f, -e);
            sc = m;
        } else {
            e = 0;
        }
        reciprocal = 1 / sc;
        f = f * reciprocal;
    }
    const double t = abs(f), low = std::floor(t), half = low + 0.5;
    auto with_sign = [f](double x) { return f < 0 ? 0.0 - x : x; };
    const double toward_zero = with_sign(low), away_from_zero = with_sign(std::ceil(t));
    double r;
    if (down) r = toward_zero;
    else if (floor) r = std::floor(f);
    else if (ceiling) r = std::ceil(f);
    else if (half < t) r = away_from_zero;
    else if (half > t) r = toward_zero;
    else if (even) r = std::fmod(t, 2.0) < 1.0 ? toward_zero : away_from_zero;
    else if (half_down) r = toward_zero;
    else if (half_ceiling) r = std::ceil(f);
    else r = away_from_zero;
    double back = whole_scale ? r * sc : std::ldexp(r / reciprocal, e);
    if (not_finite_q(back) && !not_finite_q(f)) fire(ERR_MATH, err::OVERFLOW);
    return back;
}

bool float_::round_scale(const cell* value, cell* scale, double* f, double* sc)
{
    const bool to = arg_given(scale);
    const uint32_t st = to ? cell_type(scale) : 0;
    if (st == TYPE_MONEY) {
        cell word = running_function_word();
        integer::not_related(&word, TYPE_MONEY);
    }
    if (to && !is_number_type(st)) fire(ERR_SCRIPT, err::INVALID_ARG, scale);
    const bool percent = cell_type(value) == TYPE_PERCENT;
    *f = number_of(value);
    *sc = percent ? 0.01 : 1.0;
    if (to) {
        *sc = abs(number_of(scale));
        if (percent) *sc /= 100;
    }
    return !(*sc < abs(*f) * 0x1p-53);
}

cell* float_::round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                    bool half_ceiling)
{
    double f, sc;
    if (!round_scale(value, scale, &f, &sc)) return value;
    double r = round_double(f, sc, even, down, half_down, floor, ceiling, half_ceiling);
    if (!arg_given(scale)) {
        cell_set_float(value, r);
        return value;
    }
    // An integer scale counts whole percents for a percent!, which stays one.
    if (cell_type(scale) == TYPE_INTEGER && cell_type(value) != TYPE_PERCENT) {
        if (!(r > -2147483649.0 && r < 2147483648.0)) fire(ERR_MATH, err::OVERFLOW);
        *value = cell{TYPE_INTEGER, 0, uint32_t(int32_t(r)), 0};
        return value;
    }
    cell_set_float(value, r);
    if (cell_type(scale) != TYPE_INTEGER) cell_set_type(value, cell_type(scale));
    return value;
}

// ---- random -------------------------------------------------------------------------------------

double float_::random_scaled(double max, bool secure)
{
    if (!secure) return random_::next() / 2147483647.0 * max;
    double r1 = random_::secure_next(), r2 = random_::secure_next();
    return (r1 / 2147483647.0 + r2) * max / 2147483648.0;
}

cell* float_::random(cell* value, bool seed, bool secure, bool)
{
    if (seed) {
        random_::seed(value->data2 ^ value->data3);
        return unset::make_at(value);
    }
    cell_set_float(value, random_scaled(get(value), secure));
    return value;
}

// ---- make and to --------------------------------------------------------------------------------

double float_::from_binary(const cell* binary)
{
    series_buffer* s = series_of(series_node(binary));
    uint32_t used = series_used_bytes(s);
    uint32_t head = uint32_t(series_head_raw(binary)) < used ? uint32_t(series_head_raw(binary)) : used;
    uint32_t n = used - head < 8 ? used - head : 8;
    const uint8_t* p = at(s->head + head);
    uint64_t bits = 0;
    for (uint32_t i = 0; i < n; i++) bits = bits << 8 | p[i];
    return std::bit_cast<double>(bits);
}

namespace {

// m x 10^k for the decimal digits of m, correctly rounded: [3 -1] gives 0.3, where multiplying by
// the double nearest 0.1 would give 0.30000000000000004.
double times_power_of_ten(double m, double k)
{
    if (m == 0 || float_::not_finite_q(m)) return m;
    // Beyond 10^+-100000 every finite m has overflowed or vanished.
    int32_t e = k > 100000 ? 100000 : k < -100000 ? -100000 : int32_t(k);
    float_digits d;
    float_to_digits(m, 0, &d);
    char text[FLOAT_DIGITS_MAX + 3] = "0.";
    std::memcpy(text + 2, d.digits, size_t(d.length));
    double r = text_to_float(text, size_t(d.length) + 2, d.point + e, nullptr);
    return d.negative ? -r : r;
}

}  // namespace

double float_::from_block(const cell* blk)
{
    if (block::rs_length(blk) != 2) type_fault(err::BAD_TO_ARG, TYPE_FLOAT, blk);
    const cell* items = block::rs_head(blk);
    for (uint32_t i = 0; i < 2; i++) {
        uint32_t t = cell_type(items + i);
        bool number = t == TYPE_INTEGER || (t == TYPE_FLOAT && !nan_q(cell_float(items + i)));
        if (!number) type_fault(err::BAD_TO_ARG, TYPE_FLOAT, blk);
    }
    return times_power_of_ten(number_of(items), std::trunc(number_of(items + 1)));
}

namespace {

double from_string(cell* spec, uint32_t type)
{
    cell str = *spec;
    const uint8_t* head = string::ks_head(&str);
    uint32_t count = string::ks_length_q(&str), unit = series_unit(series_of(series_node(&str)));
    if (type != TYPE_PERCENT) {
        int32_t status;
        double d = float_::from_text(head, count, unit, &status);
        if (status != 0) type_fault(err::BAD_TO_ARG, type, spec);
        return d;
    }
    if (!word::string_load_hook) {
        cell named = datatype::value_of(type);
        fire(ERR_INTERNAL, err::NOT_DONE, &named);
    }
    cell* loaded = word::string_load_hook(spec);
    uint32_t t = loaded ? cell_type(loaded) : 0;
    if (t != TYPE_FLOAT && t != TYPE_PERCENT && t != TYPE_INTEGER) type_fault(err::BAD_TO_ARG, type, spec);
    double d = number_of(loaded);
    stack::pop(1);
    return d;
}

}  // namespace

cell* float_::make(cell* proto, cell* spec, uint32_t type)
{
    double d;
    switch (uint32_t t = cell_type(spec)) {
    case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        d = number_of(spec);
        break;
    case TYPE_BINARY:
        d = from_binary(spec);
        break;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        d = from_block(spec);
        break;
    case TYPE_MONEY:
        d = money::to_float(spec);
        break;
    default:
        if (!any_string_q(t)) type_fault(err::BAD_TO_ARG, type, spec);
        d = from_string(spec, type);
    }
    *proto = cell{type, 0, 0, 0};
    cell_set_float(proto, d);
    return proto;
}

void float_::init()
{
    datatype::register_type(TYPE_FLOAT, 0, "float!", {
        .make = make, .random = random, .to = make, .form = form, .mold = mold, .compare = compare,
        .absolute = absolute, .add = add, .divide = divide, .multiply = multiply, .negate = negate,
        .power = power, .remainder = remainder, .round = round, .subtract = subtract, .even_q = even_q,
        .odd_q = odd_q});
}
