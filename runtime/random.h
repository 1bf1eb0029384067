// Random numbers: the seeded generator behind `random` and `random/seed`, and the secure source
// behind `random/secure`. Every output is a non-negative 31-bit integer; draws rely on it.
#pragma once
#include <cstdint>

namespace random_ {
constexpr uint32_t STATE_WORDS = 624;

void init();                  // seeds with 19650218; fixes the hash seed for the run
void seed(uint32_t value);
uint32_t next();              // seeded generator
uint32_t secure_next();       // operating system's cryptographic source; raises when it fails
uint32_t draw(bool secure);   // secure_next under /secure, else next
int32_t int_(int32_t n, bool secure);   // 1..n, -|n|..-1, or 0 for n = 0

// The generator's words and position, for tests.
const int32_t* state();
uint32_t position();
// Tests: the secure source reports failure while set.
void secure_source_fails(bool fail);
}  // namespace random_
