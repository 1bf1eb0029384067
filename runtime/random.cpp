// The seeded generator (MT19937 constants over signed words: every right shift is arithmetic, which
// keeps outputs within 31 bits) and the secure source on CryptoAPI.
// Mended: a failing secure source raises an error instead of handing out non-random numbers.
#include "runtime/random.h"

#include <windows.h>
#include <wincrypt.h>

#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/rterror.h"

namespace {

struct random_state {
    int32_t* words;
    uint32_t index;
    HCRYPTPROV provider;
    bool fail_secure;
};
random_state random_s;

constexpr uint32_t SEED_AT_START = 19650218u;
constexpr uint32_t HASH_SEED = 0x5BD1E995u;   // any fixed non-zero value; nothing stored depends on it
constexpr uint32_t MIDDLE = 397;

inline int32_t wrap(uint32_t x) { return int32_t(x); }

void regenerate()
{
    int32_t* s = random_s.words;
    for (uint32_t i = 0; i < random_::STATE_WORDS; i++) {
        uint32_t following = (i + 1) % random_::STATE_WORDS;
        int32_t y = wrap((uint32_t(s[i]) & 0x80000000u) | (uint32_t(s[following]) & 0x7FFFFFFFu));
        int32_t mixed = s[(i + MIDDLE) % random_::STATE_WORDS] ^ (y >> 1);
        if (y & 1) mixed ^= wrap(0x9908B0DFu);
        s[i] = mixed;
    }
}

}  // namespace

void random_::init()
{
    random_s.words = static_cast<int32_t*>(rt_alloc(STATE_WORDS * sizeof(int32_t)));
    seed(SEED_AT_START);
    hash_seed = HASH_SEED;
}

void random_::seed(uint32_t value)
{
    int32_t* s = random_s.words;
    s[0] = wrap(value);
    for (uint32_t i = 1; i < STATE_WORDS; i++)
        s[i] = wrap(1812433253u * uint32_t(s[i - 1] ^ (s[i - 1] >> 30)) + i);
    random_s.index = 0;
}

uint32_t random_::next()
{
    if (random_s.index == STATE_WORDS) {
        random_s.index = 0;
        regenerate();
    }
    int32_t y = random_s.words[random_s.index++];
    y ^= y >> 11;
    y ^= wrap(uint32_t(y) << 7) & wrap(0x9D2C5680u);
    y ^= wrap(uint32_t(y) << 15) & wrap(0xEFC60000u);
    return uint32_t(y ^ (y >> 18));
}

uint32_t random_::secure_next()
{
    if (!random_s.provider && !random_s.fail_secure &&
        !CryptAcquireContextW(&random_s.provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        random_s.provider = 0;
    BYTE bytes[4] = {};
    if (random_s.fail_secure || !random_s.provider || !CryptGenRandom(random_s.provider, sizeof bytes, bytes))
        fire(ERR_INTERNAL, err::FEATURE_NA);
    uint32_t r = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    return r & 0x7FFFFFFFu;
}

uint32_t random_::draw(bool secure) { return secure ? secure_next() : next(); }

int32_t random_::int_(int32_t n, bool secure)
{
    if (n == 0) return 0;
    if (n == INT32_MIN) return int32_t(~draw(secure));
    uint32_t m = n < 0 ? uint32_t(-n) : uint32_t(n);
    uint32_t limit = m * (0x7FFFFFFFu / m);
    uint32_t r;
    do r = draw(secure);
    while (r >= limit);
    int32_t result = int32_t(r % m + 1);
    return n < 0 ? -result : result;
}

const int32_t* random_::state() { return random_s.words; }
uint32_t random_::position() { return random_s.index; }
void random_::secure_source_fails(bool fail) { random_s.fail_secure = fail; }
