// Unsigned arbitrary-precision integers for the exact float text conversions, and nothing else.
// Records come from the tracked heap and are recycled through one free list per small size class.
// Operations marked "consumes" hand their operand back or reuse it: never touch it afterwards.
#pragma once
#include <cstdint>

namespace bigint {

struct big {
    big* link;          // next free record of the same class, while on a free list
    int32_t k;          // size class: room for 2^k words
    int32_t capacity;   // 2^k
    int32_t sign;       // 1 only for a difference whose first operand was the smaller
    int32_t used;       // words in use; zero is one word holding 0
};

// Words of a record, least significant first; they follow the record header.
inline uint32_t* words(big* b) { return reinterpret_cast<uint32_t*>(b + 1); }
inline const uint32_t* words(const big* b) { return reinterpret_cast<const uint32_t*>(b + 1); }

big* allocate(int32_t k);
void release(big* b);                        // null is ignored
big* copy(const big* b);
big* from_small(uint32_t i);
big* from_u64(uint64_t i);
// Decimal digits '0'-'9' (the caller has checked them) as one integer.
big* from_digits(const char* digits, int32_t count);

big* multiply_add(big* b, uint32_t m, uint32_t a);   // b * m + a; consumes b
big* multiply(const big* a, const big* b);
big* multiply_pow5(big* b, int32_t k);               // b * 5^k, k >= 0; consumes b
big* shift_left(big* b, int32_t n);                  // b * 2^n, n >= 0; consumes b

int32_t compare(const big* a, const big* b);         // -1, 0 or 1
big* difference(const big* a, const big* b);         // |a - b|, sign set when a < b
bool is_zero(const big* b);

// floor(b / s) for a quotient known to be below 10; b becomes the remainder.
uint32_t quotient_digit(big* b, const big* s);

// a / b as a double (b not zero); close, not correctly rounded.
double ratio(const big* a, const big* b);

}  // namespace bigint
