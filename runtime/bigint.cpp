// Unsigned big integers of the float text conversions: size-class records on the tracked heap,
// free lists for classes 0-7 kept for the process's life. Every result is trimmed: `used` counts
// no leading zero word, and compare relies on that.
#include "runtime/bigint.h"

#include <cmath>
#include <cstring>

#include "runtime/rterror.h"

namespace bigint {
namespace {

constexpr int32_t RECYCLED_CLASSES = 8;   // classes 0-7 go back to a free list
// The conversions never need more than a few hundred words; far beyond that is a broken caller.
constexpr int32_t LARGEST_CLASS = 16;

struct bigint_state {
    big* free_lists[RECYCLED_CLASSES];
};
bigint_state bigint_s;

int32_t class_for(int32_t words)
{
    int32_t k = 0;
    while ((int32_t(1) << k) < words) k++;
    return k;
}

void trim(big* b)
{
    uint32_t* w = words(b);
    while (b->used > 1 && w[b->used - 1] == 0) b->used--;
}

// A record of room for at least `n` words, holding zero in all of them.
big* allocate_zeroed(int32_t n)
{
    big* b = allocate(class_for(n));
    std::memset(words(b), 0, sizeof(uint32_t) * size_t(n));
    b->used = n;
    return b;
}

int32_t bit_length(const big* b)
{
    uint32_t top = words(b)[b->used - 1];
    if (top == 0) return 0;
    return 32 * (b->used - 1) + (32 - __builtin_clz(top));
}

uint32_t word_at(const big* b, int32_t i) { return i < b->used ? words(b)[i] : 0; }

// The 64 bits of b starting at bit `shift`.
uint64_t bits_at(const big* b, int32_t shift)
{
    int32_t w = shift / 32, bit = shift % 32;
    uint64_t low = word_at(b, w) | uint64_t(word_at(b, w + 1)) << 32;
    uint64_t result = low >> bit;
    if (bit) result |= uint64_t(word_at(b, w + 2)) << (64 - bit);
    return result;
}

// b -= s, for b >= s.
void subtract_in_place(big* b, const big* s)
{
    uint32_t* bw = words(b);
    uint64_t borrow = 0;
    for (int32_t i = 0; i < b->used; i++) {
        uint64_t d = uint64_t(bw[i]) - word_at(s, i) - borrow;
        bw[i] = uint32_t(d);
        borrow = (d >> 32) & 1;
    }
    trim(b);
}

// b -= q * s, for q * s <= b.
void subtract_multiple(big* b, const big* s, uint32_t q)
{
    uint32_t* bw = words(b);
    uint64_t carry = 0, borrow = 0;
    for (int32_t i = 0; i < b->used; i++) {
        uint64_t p = uint64_t(word_at(s, i)) * q + carry;
        carry = p >> 32;
        uint64_t d = uint64_t(bw[i]) - uint32_t(p) - borrow;
        bw[i] = uint32_t(d);
        borrow = (d >> 32) & 1;
    }
    trim(b);
}

double to_double(const big* b, int32_t* exponent)
{
    int32_t length = bit_length(b);
    int32_t shift = length > 64 ? length - 64 : 0;
    *exponent = shift;
    return double(bits_at(b, shift));
}

}  // namespace

big* allocate(int32_t k)
{
    if (k < 0 || k > LARGEST_CLASS) runtime_error(RT_NO_CASE, rt_error_address());
    big* b;
    if (k < RECYCLED_CLASSES && bigint_s.free_lists[k]) {
        b = bigint_s.free_lists[k];
        bigint_s.free_lists[k] = b->link;
    } else {
        size_t capacity = size_t(1) << k;
        b = static_cast<big*>(rt_alloc(sizeof(big) + capacity * sizeof(uint32_t)));
        b->k = k;
        b->capacity = int32_t(capacity);
    }
    b->link = nullptr;
    b->sign = 0;
    b->used = 0;
    return b;
}

void release(big* b)
{
    if (!b) return;
    if (b->k < RECYCLED_CLASSES) {
        b->link = bigint_s.free_lists[b->k];
        bigint_s.free_lists[b->k] = b;
    } else {
        rt_free(b);
    }
}

big* copy(const big* b)
{
    big* c = allocate(b->k);
    c->sign = b->sign;
    c->used = b->used;
    std::memcpy(words(c), words(b), sizeof(uint32_t) * size_t(b->used));
    return c;
}

big* from_small(uint32_t i)
{
    big* b = allocate(0);
    words(b)[0] = i;
    b->used = 1;
    return b;
}

big* from_u64(uint64_t i)
{
    big* b = allocate(1);
    words(b)[0] = uint32_t(i);
    words(b)[1] = uint32_t(i >> 32);
    b->used = 2;
    trim(b);
    return b;
}

big* from_digits(const char* digits, int32_t count)
{
    static constexpr uint32_t chunk_scale[10] = {1, 10, 100, 1000, 10000, 100000, 1000000,
                                                  10000000, 100000000, 1000000000};
    big* b = from_small(0);
    for (int32_t i = 0; i < count;) {
        int32_t n = count - i < 9 ? count - i : 9;
        uint32_t chunk = 0;
        for (int32_t j = 0; j < n; j++) chunk = chunk * 10 + uint32_t(digits[i + j] - '0');
        b = multiply_add(b, chunk_scale[n], chunk);
        i += n;
    }
    return b;
}

big* multiply_add(big* b, uint32_t m, uint32_t a)
{
    uint32_t* w = words(b);
    uint64_t carry = a;
    for (int32_t i = 0; i < b->used; i++) {
        uint64_t p = uint64_t(w[i]) * m + carry;
        w[i] = uint32_t(p);
        carry = p >> 32;
    }
    if (carry) {
        if (b->used == b->capacity) {
            big* grown = allocate(b->k + 1);
            grown->used = b->used;
            std::memcpy(words(grown), w, sizeof(uint32_t) * size_t(b->used));
            release(b);
            b = grown;
        }
        words(b)[b->used++] = uint32_t(carry);
    }
    trim(b);
    return b;
}

big* multiply(const big* a, const big* b)
{
    big* c = allocate_zeroed(a->used + b->used);
    uint32_t* cw = words(c);
    const uint32_t* aw = words(a);
    const uint32_t* bw = words(b);
    for (int32_t i = 0; i < a->used; i++) {
        if (aw[i] == 0) continue;
        uint64_t carry = 0;
        for (int32_t j = 0; j < b->used; j++) {
            uint64_t p = uint64_t(aw[i]) * bw[j] + cw[i + j] + carry;
            cw[i + j] = uint32_t(p);
            carry = p >> 32;
        }
        cw[i + b->used] = uint32_t(carry);
    }
    trim(c);
    return c;
}

big* multiply_pow5(big* b, int32_t k)
{
    static constexpr uint32_t small_pow5[13] = {1, 5, 25, 125, 625, 3125, 15625, 78125, 390625,
                                                1953125, 9765625, 48828125, 244140625};
    constexpr uint32_t POW5_13 = 1220703125;
    for (; k >= 13; k -= 13) b = multiply_add(b, POW5_13, 0);
    if (k > 0) b = multiply_add(b, small_pow5[k], 0);
    return b;
}

big* shift_left(big* b, int32_t n)
{
    if (n <= 0 || is_zero(b)) return b;
    int32_t word_shift = n / 32, bit = n % 32;
    int32_t need = b->used + word_shift + 1;
    big* r = b;
    if (need > b->capacity) r = allocate(class_for(need));
    const uint32_t* src = words(b);
    uint32_t* dst = words(r);
    // From the top down, so that shifting in place never overwrites a word still to be read.
    uint32_t spill = 0;
    for (int32_t i = b->used - 1; i >= 0; i--) {
        uint32_t w = src[i];
        dst[i + word_shift + 1] = bit ? (spill | (w >> (32 - bit))) : spill;
        spill = bit ? w << bit : w;
    }
    dst[word_shift] = spill;
    for (int32_t i = 0; i < word_shift; i++) dst[i] = 0;
    r->used = need;
    r->sign = 0;
    if (r != b) release(b);
    trim(r);
    return r;
}

int32_t compare(const big* a, const big* b)
{
    if (a->used != b->used) return a->used < b->used ? -1 : 1;
    const uint32_t* aw = words(a);
    const uint32_t* bw = words(b);
    for (int32_t i = a->used - 1; i >= 0; i--)
        if (aw[i] != bw[i]) return aw[i] < bw[i] ? -1 : 1;
    return 0;
}

big* difference(const big* a, const big* b)
{
    int32_t order = compare(a, b);
    if (order == 0) return from_small(0);
    const big* larger = order > 0 ? a : b;
    const big* smaller = order > 0 ? b : a;
    big* d = copy(larger);
    subtract_in_place(d, smaller);
    d->sign = order < 0;
    return d;
}

bool is_zero(const big* b) { return b->used <= 1 && words(b)[0] == 0; }

uint32_t quotient_digit(big* b, const big* s)
{
    if (compare(b, s) < 0) return 0;
    // Estimate from the top 60 bits of s and the same bits of b: never above the quotient and,
    // when s was cut, at most one below it. An uncut s gives the exact quotient.
    int32_t length = bit_length(s);
    int32_t shift = length > 60 ? length - 60 : 0;
    uint64_t top_s = bits_at(s, shift), top_b = bits_at(b, shift);
    uint32_t q = uint32_t(shift ? top_b / (top_s + 1) : top_b / top_s);
    if (q) subtract_multiple(b, s, q);
    while (compare(b, s) >= 0) {
        subtract_in_place(b, s);
        q++;
    }
    return q;
}

double ratio(const big* a, const big* b)
{
    int32_t ea, eb;
    double da = to_double(a, &ea);
    double db = to_double(b, &eb);
    return std::ldexp(da / db, ea - eb);
}

}  // namespace bigint
