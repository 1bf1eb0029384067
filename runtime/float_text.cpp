// Float to text and text to float, exact both ways: shortest digits by 128-bit scaling, digits cut
// to a precision by exact big-integer division, reading by a double approximation refined with
// exact big-integer comparisons. Every index into the caller's text is checked against its
// length; the FPU must round to nearest in double.
#include "runtime/float_text.h"

#include <bit>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "runtime/bigint.h"

namespace {

using bigint::big;

constexpr uint64_t FRACTION_MASK = (uint64_t(1) << 52) - 1;
constexpr uint64_t HIDDEN_BIT = uint64_t(1) << 52;
constexpr uint64_t SIGN_BIT = uint64_t(1) << 63;
constexpr uint64_t INFINITY_BITS = 0x7FF0000000000000;
constexpr uint64_t LARGEST_BITS = 0x7FEFFFFFFFFFFFFF;
constexpr uint64_t QUIET_NAN_BITS = 0x7FF8000000000000;

constexpr double tens[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr double big_tens[5] = {1e16, 1e32, 1e64, 1e128, 1e256};
constexpr double tiny_tens[5] = {1e-16, 1e-32, 1e-64, 1e-128, 1e-256};

uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }
double double_of(uint64_t b) { return std::bit_cast<double>(b); }

// A finite non-negative double as m x 2^q, q the exponent of its last place. At a power of two
// (above the smallest normal) the gap to the next lower double is half the gap above.
struct binary_parts {
    uint64_t m;
    int32_t q;
    bool lower_gap_half;
};

binary_parts split(uint64_t bits)
{
    uint32_t field = uint32_t(bits >> 52) & 0x7FF;
    uint64_t fraction = bits & FRACTION_MASK;
    if (field == 0) return {fraction, -1074, false};
    return {fraction | HIDDEN_BIT, int32_t(field) - 1075, fraction == 0 && field > 1};
}

big* times_u64(const big* a, uint64_t m)
{
    big* factor = bigint::from_u64(m);
    big* product = bigint::multiply(a, factor);
    bigint::release(factor);
    return product;
}

big* power_of_ten_parts(int32_t five, int32_t two)
{
    return bigint::shift_left(bigint::multiply_pow5(bigint::from_small(1), five), two);
}

// ---- Double to digits ----------------------------------------------------------------------

void append_digit(float_digits* out, int32_t digit) { out->digits[out->length++] = char('0' + digit); }

// Raises the digits by one in the last place, carrying through 9s; all 9s become "1" and the
// decade goes up.
void round_up(float_digits* out, int32_t* k)
{
    int32_t i = out->length;
    while (i > 0 && out->digits[i - 1] == '9') i--;
    if (i == 0) {
        out->digits[0] = '1';
        out->length = 1;
        (*k)++;
        return;
    }
    out->digits[i - 1]++;
    out->length = i;
}

// floor(log10(v)): the tangent of log10 at 1.5 never lies below the curve, so the estimate is
// exact or one too high. Exact at once for 0 <= k <= 22 by one comparison.
int32_t estimate_decade(double v, uint64_t bits, bool* exact)
{
    uint32_t field = uint32_t(bits >> 52) & 0x7FF;
    uint64_t fraction = bits & FRACTION_MASK;
    int32_t i;
    if (field) {
        i = int32_t(field) - 1023;
    } else {
        int32_t length = 64 - __builtin_clzll(fraction);
        fraction = (fraction << (53 - length)) & FRACTION_MASK;
        i = length - 1 - 1074;
    }
    double d2 = double_of(fraction | (uint64_t(1023) << 52));
    double ds = (d2 - 1.5) * 0.289529654602168 + 0.1760912590558 + i * 0.301029995663981;
    int32_t k = int32_t(ds);
    if (ds < 0 && ds != k) k--;
    *exact = false;
    if (k >= 0 && k <= 22) {
        if (v < tens[k]) k--;
        *exact = true;
    }
    return k;
}

bool is_integer(const binary_parts& p)
{
    if (p.q >= 0) return true;
    if (p.q <= -53) return false;
    return (p.m & ((uint64_t(1) << -p.q) - 1)) == 0;
}

// Integers below 10^15: every step is exact in double arithmetic.
void small_integer_digits(double v, int32_t k, int32_t limit, float_digits* out)
{
    double ds = tens[k];
    for (int32_t i = 1;; i++, v *= 10) {
        int32_t digit = int32_t(v / ds);
        v -= digit * ds;
        append_digit(out, digit);
        if (v == 0) break;
        if (i == limit) {
            v += v;
            if (v > ds || (v == ds && (digit & 1))) round_up(out, &k);
            break;
        }
    }
    out->point = k + 1;
}

// value / 10^k = r / s exactly, every quantity an integer.
struct digit_state {
    big* r;
    big* s;
};

digit_state scale_for_digits(const binary_parts& p, int32_t k)
{
    int32_t r2 = p.q > 0 ? p.q : 0, s2 = p.q < 0 ? -p.q : 0;
    int32_t r5 = 0, s5 = 0;
    if (k >= 0) {
        s5 = k;
        s2 += k;
    } else {
        r5 = -k;
        r2 -= k;
    }
    int32_t common = r2 < s2 ? r2 : s2;
    r2 -= common;
    s2 -= common;
    digit_state st;
    st.r = bigint::shift_left(bigint::multiply_pow5(bigint::from_u64(p.m), r5), r2);
    st.s = power_of_ten_parts(s5, s2);
    return st;
}

// The digits of the exact value, cut at `limit` digits and rounded half to even there.
void exact_digits(uint64_t bits, int32_t k, bool k_exact, int32_t limit, float_digits* out)
{
    digit_state st = scale_for_digits(split(bits), k);
    if (!k_exact && bigint::compare(st.r, st.s) < 0) {
        k--;
        st.r = bigint::multiply_add(st.r, 10, 0);
    }
    for (int32_t i = 1;; i++) {
        int32_t digit = int32_t(bigint::quotient_digit(st.r, st.s));
        append_digit(out, digit);
        if (bigint::is_zero(st.r)) break;   // the exact value ends here
        if (i < limit) {
            st.r = bigint::multiply_add(st.r, 10, 0);
            continue;
        }
        st.r = bigint::shift_left(st.r, 1);
        int32_t half = bigint::compare(st.r, st.s);
        if (half > 0 || (half == 0 && (digit & 1))) round_up(out, &k);
        break;
    }
    bigint::release(st.s);
    bigint::release(st.r);
    out->point = k + 1;
}

// ---- Shortest digits by 128-bit scaling ----------------------------------------------------
//
// The rounding interval of v = c x 2^q is scaled by 10^-k, with k the largest such that 10^k is
// no wider than the interval: then one or both of the neighbouring multiples of 10^k lie inside,
// and at most one multiple of 10^(k+1), which is the shorter text when there is one. v and the
// interval's ends are x = cb x 2^q x 10^-k for cb four times c, c - 1/2 and c + 1/2 (c - 1/4 below
// a power of two), made from G, the power of ten over a power of two rounded up: the product
// exceeds x by less than 2^-66. What the choice needs of each x is its floor and whether it is an
// integer, kept as floor | (not an integer): compared with an even integer that answers as x
// would. A product whose fraction is below 2^-66 could be an integer or a value just under or
// over one. With e = -k: G is exact for 0 <= e <= 54; for -24 <= e < 0 only an integer comes that
// close, as x is then a multiple of 5^e; for every other e, tools/float-powers-table proves that
// no double's product comes that close.

struct power_words {
    uint64_t high, low;
};

constexpr int32_t POWER_E_MIN = -292;
constexpr int32_t EXACT_POWER_MAX = 54;   // G is exact for 0 <= e <= 54

// G = ceil(10^e x 2^-r), r = floor(e log2 10) - 125, for e = -292 ... 324.
constexpr power_words powers[] = {
#include "runtime/float_text_powers.inc"
};

void multiply_64(uint64_t a, uint64_t b, uint64_t* high, uint64_t* low)
{
#if defined(__SIZEOF_INT128__)
    unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    *high = uint64_t(p >> 64);
    *low = uint64_t(p);
#else
    uint64_t a0 = uint32_t(a), a1 = a >> 32, b0 = uint32_t(b), b1 = b >> 32;
    uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0;
    uint64_t middle = (p00 >> 32) + uint32_t(p01) + uint32_t(p10);
    *low = middle << 32 | uint32_t(p00);
    *high = a1 * b1 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
#endif
}

// floor(e log10 2), floor(e log10 2 + log10 3/4) and floor(e log2 10), exact over the range of
// double exponents (tools/float-powers-table checks them against exact powers).
int32_t floor_log10_pow2(int32_t e) { return int32_t((int64_t(e) * 661971961083) >> 41); }
int32_t floor_log10_three_quarters_pow2(int32_t e)
{
    return int32_t((int64_t(e) * 661971961083 - 274743187321) >> 41);
}
int32_t floor_log2_pow10(int32_t e) { return int32_t((int64_t(e) * 913124641741) >> 38); }

// x = cp x G / 2^127 less the excess, as floor | (not an integer); cp < 2^61 bounds the excess.
uint64_t scaled_odd(const power_words& g, uint64_t cp, int32_t e)
{
    uint64_t a1, a0, b1, b0;
    multiply_64(g.low, cp, &a1, &a0);
    multiply_64(g.high, cp, &b1, &b0);
    uint64_t middle = b0 + a1;
    uint64_t whole = (b1 + (middle < a1)) << 1 | middle >> 63;
    uint64_t fraction_high = middle & ~SIGN_BIT;   // the fraction is fraction_high x 2^-63 + a0 x 2^-127
    if (fraction_high != 0 || a0 > uint64_t(1) << 61) return whole | 1;
    if (e >= 0 && e <= EXACT_POWER_MAX) return fraction_high == 0 && a0 == 0 ? whole : whole | 1;
    return whole;
}

// A finite positive double's shortest digits, nearest to it among the shortest (the even at a
// tie), as f x 10^exponent.
void shortest_decimal(uint64_t bits, uint64_t* f, int32_t* exponent)
{
    binary_parts p = split(bits);
    // Integers below 2^53: the spacing is at most 1, so no text with fewer digits lies inside.
    if (p.q <= 0 && p.q >= -52 && (p.m & ((uint64_t(1) << -p.q) - 1)) == 0) {
        *f = p.m >> -p.q;
        *exponent = 0;
        return;
    }
    uint64_t cb = p.m << 2, cb_high = cb + 2, cb_low = p.lower_gap_half ? cb - 1 : cb - 2;
    int32_t k = p.lower_gap_half ? floor_log10_three_quarters_pow2(p.q) : floor_log10_pow2(p.q);
    int32_t h = p.q + floor_log2_pow10(-k) + 2;   // 2 to 5
    const power_words& g = powers[-k - POWER_E_MIN];
    uint64_t vb = scaled_odd(g, cb << h, -k);
    uint64_t vb_low = scaled_odd(g, cb_low << h, -k);
    uint64_t vb_high = scaled_odd(g, cb_high << h, -k);
    uint64_t open = p.m & 1;   // an odd significand's interval leaves out its ends
    auto inside = [&](uint64_t d) { return vb_low + open <= d << 2 && (d << 2) + open <= vb_high; };
    uint64_t s = vb >> 2;
    uint64_t s10 = s / 10 * 10;
    *exponent = k;
    if (inside(s10) || inside(s10 + 10)) {
        *f = inside(s10) ? s10 : s10 + 10;
        return;
    }
    bool low_in = inside(s), high_in = inside(s + 1);
    if (low_in != high_in) {
        *f = low_in ? s : s + 1;
        return;
    }
    // Both: the nearer to v, the even one at a tie. vb compared with 4s + 2 is v with the midpoint.
    uint64_t midpoint = 4 * s + 2;
    *f = vb < midpoint || (vb == midpoint && (s & 1) == 0) ? s : s + 1;
}

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void put_pair(char* p, uint32_t n) { std::memcpy(p, digit_pairs + 2 * n, 2); }

// The eight digits of n < 10^8 at p, by pairs that do not wait on each other.
void put_eight(char* p, uint32_t n)
{
    uint32_t high = n / 10000, low = n % 10000;
    put_pair(p, high / 100);
    put_pair(p + 2, high % 100);
    put_pair(p + 4, low / 100);
    put_pair(p + 6, low % 100);
}

constexpr uint64_t ten_to[18] = {1,
                                 10,
                                 100,
                                 1000,
                                 10000,
                                 100000,
                                 1000000,
                                 10000000,
                                 100000000,
                                 1000000000,
                                 10000000000,
                                 100000000000,
                                 1000000000000,
                                 10000000000000,
                                 100000000000000,
                                 1000000000000000,
                                 10000000000000000,
                                 100000000000000000};

// f x 10^exponent (0 < f < 10^17) as digits and point, trailing zeros dropped. The digits are
// written in place from the last: the count comes from f's bit length, 1233 / 4096 ~ log10 2.
void put_decimal(uint64_t f, int32_t exponent, float_digits* out)
{
    int32_t t = ((64 - __builtin_clzll(f)) * 1233) >> 12;
    int32_t count = t + (f >= ten_to[t]);
    out->point = count + exponent;
    char* p = out->digits + count;
    for (; f >= 100000000; f /= 100000000) {
        p -= 8;
        put_eight(p, uint32_t(f % 100000000));
    }
    uint32_t n = uint32_t(f);
    for (; n >= 100; n /= 100) {
        p -= 2;
        put_pair(p, n % 100);
    }
    if (n >= 10) put_pair(p - 2, n);
    else p[-1] = char('0' + n);
    while (out->digits[count - 1] == '0') count--;
    out->length = count;
    out->digits[count] = 0;
}

// ---- Display layout ------------------------------------------------------------------------

const char* special_text(double value, uint32_t point_zero)
{
    uint64_t bits = bits_of(value);
    bool negative = bits & SIGN_BIT;
    if ((bits & INFINITY_BITS) == INFINITY_BITS) {
        if (bits & FRACTION_MASK) return "1.#NaN";
        return negative ? "-1.#INF" : "1.#INF";
    }
    if (point_zero) return negative ? "-0.0" : "0.0";
    return negative ? "-0" : "0";
}

// Up to 32 bytes by fixed-size moves that may overlap: the C runtime's memcpy and memset are calls
// that cost more than these short copies.
void copy_short(char* to, const char* from, size_t count)
{
    auto both_ends = [&](auto width) {
        constexpr size_t w = decltype(width)::value;
        std::memcpy(to, from, w);
        std::memcpy(to + count - w, from + count - w, w);
    };
    if (count >= 16) both_ends(std::integral_constant<size_t, 16>());
    else if (count >= 8) both_ends(std::integral_constant<size_t, 8>());
    else if (count >= 4) both_ends(std::integral_constant<size_t, 4>());
    else if (count >= 2) both_ends(std::integral_constant<size_t, 2>());
    else if (count) *to = *from;
}

constexpr char thirty_two_zeros[] = "00000000000000000000000000000000";

// A text being laid out into FLOAT_FORM_ROOM characters (always enough), written through a pointer
// that the compiler can keep in a register.
struct text_builder {
    char* start;
    char* at;
    void put(char c) { *at++ = c; }
    void put(const char* s, size_t count)
    {
        copy_short(at, s, count);
        at += count;
    }
    void zeros(int32_t count)
    {
        if (count > 0) put(thirty_two_zeros, size_t(count));
    }
    size_t length() const { return size_t(at - start); }
};

// A decimal exponent, below 1000 in magnitude: no "+" and no leading zeros.
void put_exponent(text_builder* b, int32_t e)
{
    if (e < 0) b->put('-');
    uint32_t u = e < 0 ? uint32_t(-e) : uint32_t(e);
    if (u >= 100) {
        b->put(char('0' + u / 100));
        u %= 100;
    } else if (u < 10) {
        b->put(char('0' + u));
        return;
    }
    put_pair(b->at, u);
    b->at += 2;
}

// Lays out digits d1..dn with point p: exponent form outside -6 <= p <= 17, else fixed form; a
// text that ends at its point gets "0" (point_zero) or loses the point.
void lay_out(const float_digits& d, uint32_t point_zero, text_builder* b)
{
    int32_t p = d.point, n = d.length;
    if (d.negative) b->put('-');
    bool exponent_form = p > 17 || p < -6;
    if (exponent_form) {
        b->put(d.digits[0]);
        b->put('.');
        b->put(d.digits + 1, size_t(n - 1));
    } else if (p <= 0) {
        b->put("0.", 2);
        b->zeros(-p);
        b->put(d.digits, size_t(n));
    } else if (p < n) {
        b->put(d.digits, size_t(p));
        b->put('.');
        b->put(d.digits + p, size_t(n - p));
    } else {
        b->put(d.digits, size_t(n));
        b->zeros(p - n);
        b->put('.');
    }
    if (b->at[-1] == '.') {
        if (point_zero) b->put('0');
        else b->at--;
    }
    if (exponent_form) {
        b->put('e');
        put_exponent(b, p - 1);
    }
}

// ---- Text to double ------------------------------------------------------------------------

bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr size_t NO_POINT = ~size_t(0);
// Exponent digits beyond this only push further into overflow or underflow.
constexpr int64_t EXPONENT_CAP = 1000000000;

// The significant digits of a decimal text, trailing zeros excluded:
// value = 0.d1d2...d(count) x 10^decade. Digit i sits at text[first + i], one further once past
// a point that falls among them.
struct decimal_text {
    const char* text;
    size_t first;
    size_t point;
    size_t count;
    int64_t decade;
    char digit(size_t i) const
    {
        size_t at = first + i;
        if (at >= point) at++;
        return text[at];
    }
};

enum class special_kind { none, infinity, nan };

struct scan_result {
    decimal_text d;
    bool negative;
    special_kind special;
    size_t stop;   // index where reading stopped
};

bool matches_folded(const char* text, size_t length, size_t at, const char* word)
{
    for (size_t i = 0; word[i]; i++) {
        if (at + i >= length) return false;
        char c = text[at + i];
        if (c >= 'a' && c <= 'z') c = char(c - 32);
        if (c != word[i]) return false;
    }
    return true;
}

// "d.#INF" and "d.#NaN" with one non-zero digit d: the letter after "#" decides.
bool scan_special(const char* t, size_t n, size_t int_start, size_t i, scan_result* res)
{
    if (i - int_start != 1 || t[int_start] == '0') return false;
    if (i + 2 >= n || t[i] != '.' || t[i + 1] != '#') return false;
    size_t letter = i + 2;
    if (matches_folded(t, n, letter, "I")) {
        res->special = special_kind::infinity;
        res->stop = letter + (matches_folded(t, n, letter, "INF") ? 3 : 1);
        return true;
    }
    if (matches_folded(t, n, letter, "N")) {
        res->special = special_kind::nan;
        res->stop = letter + (matches_folded(t, n, letter, "NAN") ? 3 : 1);
        return true;
    }
    return false;
}

// Reads sign, digits, point and exponent; stops at the first character that cannot continue
// them. An exponent marker without a digit after its sign is not part of the number.
scan_result scan(const char* t, size_t n, int32_t extra_exponent)
{
    scan_result res{};
    res.d.text = t;
    res.d.point = NO_POINT;
    size_t i = 0;
    if (i < n && (t[i] == '+' || t[i] == '-')) res.negative = t[i++] == '-';
    size_t int_start = i;
    while (i < n && t[i] == '0') i++;
    size_t first = i;
    while (i < n && is_digit(t[i])) i++;
    if (scan_special(t, n, int_start, i, &res)) return res;
    bool any_digit = i > int_start;
    int64_t integer_digits = int64_t(i - first);
    int64_t decade = integer_digits;
    size_t point = NO_POINT;
    if (i < n && t[i] == '.') {
        point = i++;
        size_t fraction_start = i;
        if (integer_digits == 0) {
            while (i < n && t[i] == '0') i++;
            decade = -int64_t(i - fraction_start);
            first = i;
            point = NO_POINT;
        }
        while (i < n && is_digit(t[i])) i++;
        any_digit |= i > fraction_start;
    }
    if (!any_digit) {   // nothing read: +0.0, stopped at the start
        res.negative = false;
        return res;
    }
    size_t end = i;
    res.d.first = first;
    res.d.point = point;
    size_t count = end - first - (point != NO_POINT ? 1 : 0);
    while (count > 0 && res.d.digit(count - 1) == '0') count--;
    res.d.count = count;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        bool minus = false;
        if (j < n && (t[j] == '+' || t[j] == '-')) minus = t[j++] == '-';
        if (j < n && is_digit(t[j])) {
            int64_t e = 0;
            for (; j < n && is_digit(t[j]); j++)
                if (e < EXPONENT_CAP) e = e * 10 + (t[j] - '0');
            decade += minus ? -e : e;
            i = j;
        }
    }
    res.d.decade = decade + extra_exponent;
    res.stop = i;
    return res;
}

// A first approximation: y x 10^e through the power tables. Each factor moves the value
// monotonically towards the result, so nothing overflows or underflows before the result would.
double approximate(double y, int32_t e)
{
    if (e > 0) {
        y *= tens[e & 15];
        for (int32_t i = 0, rest = e >> 4; rest; i++, rest >>= 1)
            if (rest & 1) y *= big_tens[i];
    } else if (e < 0) {
        y /= tens[(-e) & 15];
        for (int32_t i = 0, rest = (-e) >> 4; rest; i++, rest >>= 1)
            if (rest & 1) y *= tiny_tens[i];
    }
    return y;
}

uint64_t leading_value(const char* digits, int32_t count)
{
    uint64_t y = 0;
    for (int32_t i = 0; i < count; i++) y = y * 10 + uint64_t(digits[i] - '0');
    return y;
}

// One round of the correction: compares D x 10^e with the double `bits` exactly, on a scale where
// a quarter of the double's last place is 1. Answers the corrected bits; *done when they are
// the nearest double (ties to the even significand).
uint64_t correction_step(const big* d5, const big* c5, int32_t e, uint64_t bits, bool single_step,
                         bool* done)
{
    binary_parts p = split(bits);
    int32_t two = e + 2 - p.q;
    big* v = bigint::shift_left(bigint::copy(d5), two > 0 ? two : 0);
    big* c = bigint::shift_left(bigint::copy(c5), two < 0 ? -two : 0);
    big* x = times_u64(c, p.m << 2);
    big* delta = bigint::difference(v, x);
    bool above = !delta->sign;
    big* half_gap = (above || !p.lower_gap_half) ? bigint::shift_left(bigint::copy(c), 1) : bigint::copy(c);
    int32_t order = bigint::compare(delta, half_gap);
    uint64_t next = bits;
    *done = order <= 0;
    if (order == 0 && (p.m & 1)) {
        next = above ? bits + 1 : bits - 1;
    } else if (order > 0) {
        int64_t step = 1;
        if (!single_step) {
            big* gap = bigint::shift_left(bigint::copy(c), 2);
            double ulps = bigint::ratio(delta, gap);
            bigint::release(gap);
            if (ulps > 1.5) step = ulps < 1e15 ? int64_t(ulps + 0.5) : int64_t(1e15);
        }
        if (above) {
            // A long jump must not land on infinity; only one step past the largest double may.
            next = bits + uint64_t(step) > INFINITY_BITS ? LARGEST_BITS : bits + uint64_t(step);
            if (next == INFINITY_BITS && step > 1) next = LARGEST_BITS;
            if (next == INFINITY_BITS) *done = true;
        } else {
            next = uint64_t(step) > bits ? 0 : bits - uint64_t(step);
        }
    }
    for (big* b : {v, c, x, delta, half_gap}) bigint::release(b);
    return next;
}

// The nearest double to D x 10^e (D the `count` digits), starting from the guess `bits`.
uint64_t correct(const char* digits, int32_t count, int32_t e, uint64_t bits)
{
    big* d5 = bigint::multiply_pow5(bigint::from_digits(digits, count), e > 0 ? e : 0);
    big* c5 = bigint::multiply_pow5(bigint::from_small(1), e < 0 ? -e : 0);
    bool done = false;
    // The guess is a few last places off; long jumps first, then single steps so that a jump
    // across a power of two cannot make the search swing.
    for (int32_t round = 0; !done; round++) bits = correction_step(d5, c5, e, bits, round >= 8, &done);
    bigint::release(c5);
    bigint::release(d5);
    return bits;
}

// Compares the full digit string with the midpoint between `bits` and the next double up:
// -1, 0 or 1. The midpoint's decimal digits are made one at a time and stop at the first
// difference, so a long text costs no long big integer.
int32_t compare_with_midpoint(const decimal_text& d, uint64_t bits)
{
    binary_parts p = split(bits);
    int32_t k = int32_t(d.decade);
    // midpoint / 10^(k-1) = (2m + 1) x 2^(q-1) / 10^(k-1) = num / den, compared with d1.d2d3...
    big* num = bigint::from_u64(2 * p.m + 1);
    big* den = bigint::from_small(1);
    int32_t five = 1 - k, two = p.q - k;
    if (five > 0) num = bigint::multiply_pow5(num, five);
    else den = bigint::multiply_pow5(den, -five);
    if (two > 0) num = bigint::shift_left(num, two);
    else den = bigint::shift_left(den, -two);
    int32_t order = 0;
    big* ten_den = bigint::multiply_add(bigint::copy(den), 10, 0);
    if (bigint::compare(num, ten_den) >= 0) order = -1;
    else if (bigint::compare(num, den) < 0) order = 1;
    bigint::release(ten_den);
    for (size_t i = 0; order == 0; i++) {
        if (i == d.count) {
            order = bigint::is_zero(num) ? 0 : -1;
            break;
        }
        int32_t mid_digit = int32_t(bigint::quotient_digit(num, den));
        int32_t text_digit = d.digit(i) - '0';
        if (text_digit != mid_digit) {
            order = text_digit < mid_digit ? -1 : 1;
        } else if (bigint::is_zero(num)) {
            // The midpoint ends here; the text's last digit is not zero, so it goes on above it.
            order = i + 1 < d.count ? 1 : 0;
            break;
        }
        num = bigint::multiply_add(num, 10, 0);
    }
    bigint::release(num);
    bigint::release(den);
    return order;
}

constexpr int32_t EXACT_DIGITS_MAX = 40;   // longer texts drive the search with their first 18
constexpr int32_t TRUNCATED_DIGITS = 18;

// The magnitude of a decimal text, correctly rounded.
double magnitude(const decimal_text& d)
{
    if (d.count == 0) return 0.0;
    // value lies in [10^(decade-1), 10^decade)
    if (d.decade > 309) return double_of(INFINITY_BITS);
    if (d.decade < -323) return 0.0;
    int32_t decade = int32_t(d.decade);
    bool long_text = d.count > size_t(EXACT_DIGITS_MAX);
    char digits[EXACT_DIGITS_MAX];
    int32_t count = long_text ? TRUNCATED_DIGITS : int32_t(d.count);
    for (int32_t i = 0; i < count; i++) digits[i] = d.digit(size_t(i));
    while (digits[count - 1] == '0') count--;
    int32_t e = decade - count;
    if (!long_text && count <= 15) {
        double y = double(leading_value(digits, count));
        if (e == 0) return y;
        if (e > 0 && e <= 22) return y * tens[e];
        if (e > 22 && e <= 22 + (15 - count)) return (y * tens[15 - count]) * tens[e - (15 - count)];
        if (e < 0 && e >= -22) return y / tens[-e];
    }
    int32_t lead = count < 19 ? count : 19;
    double guess = approximate(double(leading_value(digits, lead)), decade - lead);
    uint64_t bits = bits_of(guess) >= INFINITY_BITS ? LARGEST_BITS : bits_of(guess);
    bits = correct(digits, count, e, bits);
    // The first 18 digits fall short of the text by less than a last place, so only the
    // midpoint above their double can lie between them and the text.
    if (long_text && bits < INFINITY_BITS) {
        int32_t order = compare_with_midpoint(d, bits);
        if (order > 0 || (order == 0 && (bits & 1))) bits++;
    }
    return double_of(bits);
}

// The shared texts. The digits of float_to_text follow a fixed "-", so that a caller writing a
// negative number may step back one character and include it.
struct float_text_state {
    char text[FLOAT_FORM_ROOM];
    char signed_digits[1 + FLOAT_DIGITS_MAX + 1];
    float_digits digits;
};
float_text_state float_text_s;

}  // namespace

namespace {

// The exact value's digits rounded to `precision` of them (at most 20); zero, infinity and NaN by
// their points.
void digits_of(double value, int32_t precision, float_digits* out)
{
    uint64_t bits = bits_of(value);
    out->length = 0;
    out->digits[0] = 0;
    out->negative = (bits & SIGN_BIT) != 0;
    bits &= ~SIGN_BIT;
    if ((bits & INFINITY_BITS) == INFINITY_BITS) {
        out->point = FLOAT_POINT_SPECIAL;
        if (bits & FRACTION_MASK) out->negative = 0;
        return;
    }
    if (bits == 0) {
        out->point = FLOAT_POINT_ZERO;
        return;
    }
    double v = double_of(bits);
    int32_t limit = precision > 0 && precision < FLOAT_DIGITS_MAX ? precision : FLOAT_DIGITS_MAX;
    bool k_exact;
    int32_t k = estimate_decade(v, bits, &k_exact);
    if (k_exact && k <= 14 && is_integer(split(bits))) small_integer_digits(v, k, limit, out);
    else exact_digits(bits, k, k_exact, limit, out);
    while (out->length > 1 && out->digits[out->length - 1] == '0') out->length--;
    out->digits[out->length] = 0;
}

// Lays out a text by `write` into out[0..room), NUL-terminated: in place when the room is the
// largest a text needs, else through a buffer, answering 0 (and an empty text) when it does not fit.
template <class F>
size_t write_text(char* out, size_t room, F write)
{
    char buffer[FLOAT_FORM_ROOM];
    char* target = room >= FLOAT_FORM_ROOM ? out : buffer;
    text_builder b{target, target};
    write(&b);
    size_t n = b.length();
    if (target != out) {
        if (n + 1 > room) {
            if (room) out[0] = 0;
            return 0;
        }
        std::memcpy(out, buffer, n);
    }
    out[n] = 0;
    return n;
}

// What "%.<precision>g" lays out: fixed notation when the decimal exponent x of the first digit
// has -4 <= x < precision, else d.ddd and the exponent; the digits' trailing zeros stay dropped.
void lay_out_g(const float_digits& d, int32_t precision, text_builder* b)
{
    int32_t n = d.length, x = d.point - 1;
    if (d.negative) b->put('-');
    if (x < -4 || x >= precision) {
        b->put(d.digits[0]);
        if (n > 1) {
            b->put('.');
            b->put(d.digits + 1, size_t(n - 1));
        }
        b->put('e');
        put_exponent(b, x);
    } else if (x < 0) {
        b->put("0.", 2);
        b->zeros(-x - 1);
        b->put(d.digits, size_t(n));
    } else if (n <= x + 1) {
        b->put(d.digits, size_t(n));
        b->zeros(x + 1 - n);
    } else {
        b->put(d.digits, size_t(x + 1));
        b->put('.');
        b->put(d.digits + x + 1, size_t(n - x - 1));
    }
}

}  // namespace

void float_to_digits(double value, int32_t precision, float_digits* out)
{
    uint64_t bits = bits_of(value), magnitude = bits & ~SIGN_BIT;
    uint64_t f;
    int32_t exponent;
    if (magnitude - 1 >= INFINITY_BITS - 1) return digits_of(value, precision, out);   // zero, infinity, NaN
    shortest_decimal(magnitude, &f, &exponent);
    out->negative = uint32_t(bits >> 63);
    put_decimal(f, exponent, out);
    // Longer than the precision allows: no text that short reads back, so the exact value is
    // rounded to that many digits.
    if (precision > 0 && out->length > precision) digits_of(value, precision, out);
}

size_t float_form_into(double value, int32_t precision, uint32_t point_zero, char* out, size_t room)
{
    float_digits d;
    float_to_digits(value, precision, &d);
    return write_text(out, room, [&](text_builder* b) {
        if (d.point < FLOAT_POINT_ZERO) return lay_out(d, point_zero, b);
        const char* s = special_text(value, point_zero);
        b->put(s, std::strlen(s));
    });
}

size_t float_form_g(double value, int32_t precision, char* out, size_t room)
{
    if (precision < 1) precision = 1;
    if (precision > 17) precision = 17;
    float_digits d;
    digits_of(value, precision, &d);
    return write_text(out, room, [&](text_builder* b) {
        if (d.point < FLOAT_POINT_ZERO) return lay_out_g(d, precision, b);
        const char* s = special_text(value, 0);
        b->put(s, std::strlen(s));
    });
}

double text_to_float(const char* text, size_t length, int32_t extra_exponent, size_t* remaining)
{
    scan_result res = scan(text, length, extra_exponent);
    if (remaining) *remaining = length - res.stop;
    if (res.special == special_kind::nan) return double_of(QUIET_NAN_BITS);
    double m = res.special == special_kind::infinity ? double_of(INFINITY_BITS) : magnitude(res.d);
    // Negated, not subtracted from zero: "-0.0" must read back as negative zero.
    return res.negative ? -m : m;
}

const char* float_to_text(double value, int32_t precision, int32_t* point, int32_t* sign,
                          int32_t* length, uint32_t point_zero)
{
    float_digits& d = float_text_s.digits;
    float_to_digits(value, precision, &d);
    if (point) *point = d.point;
    if (d.point >= FLOAT_POINT_ZERO) return special_text(value, point_zero);
    if (sign) *sign = int32_t(d.negative);
    if (length) *length = d.length;
    float_text_s.signed_digits[0] = '-';
    std::memcpy(float_text_s.signed_digits + 1, d.digits, size_t(d.length) + 1);
    return float_text_s.signed_digits + 1;
}

const char* float_form(double value, int32_t precision, uint32_t point_zero)
{
    float_form_into(value, precision, point_zero, float_text_s.text, sizeof float_text_s.text);
    return float_text_s.text;
}

double text_to_float(const char* start, const char* end, int32_t extra_exponent, int32_t* remaining)
{
    size_t length = end > start ? size_t(end - start) : 0;
    size_t left = 0;
    double v = text_to_float(start, length, extra_exponent, &left);
    if (remaining) *remaining = left > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(left);
    return v;
}
