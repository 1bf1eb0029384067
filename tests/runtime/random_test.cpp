// The seeded generator, the integer draw and the secure source's failure path.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "runtime/errors.h"
#include "runtime/random.h"

namespace {

// Tempering with arithmetic shifts, written out independently of the generator.
int32_t temper(int32_t y)
{
    y ^= y >> 11;
    y ^= int32_t(uint32_t(y) << 7) & int32_t(0x9D2C5680u);
    y ^= int32_t(uint32_t(y) << 15) & int32_t(0xEFC60000u);
    return y ^ (y >> 18);
}

TEST(Random, SeedZeroStateAndFirstOutput)
{
    random_::seed(0);
    EXPECT_EQ(random_::state()[0], 0);
    EXPECT_EQ(random_::state()[1], 1);
    EXPECT_EQ(random_::state()[2], int32_t(1812433253u + 2));
    EXPECT_EQ(random_::position(), 0u);
    EXPECT_EQ(random_::next(), 0u);
    EXPECT_EQ(random_::next(), uint32_t(temper(1)));
}

TEST(Random, The625thOutputComesFromARegeneratedState)
{
    random_::seed(0);
    std::vector<int32_t> seeded(random_::state(), random_::state() + random_::STATE_WORDS);
    for (uint32_t i = 0; i < random_::STATE_WORDS; i++) {
        uint32_t r = random_::next();
        ASSERT_EQ(r, uint32_t(temper(seeded[i]))) << i;
    }
    EXPECT_EQ(random_::position(), 624u);
    EXPECT_EQ(random_::state()[0], seeded[0]);   // not regenerated before it is needed
    // Word 0 regenerates from the top bit of word 0 (clear), the low bits of word 1 (1, odd) and word 397.
    int32_t word0 = seeded[397] ^ (1 >> 1) ^ int32_t(0x9908B0DFu);
    EXPECT_EQ(random_::next(), uint32_t(temper(word0)));
    EXPECT_EQ(random_::state()[0], word0);
    EXPECT_EQ(random_::position(), 1u);
}

TEST(Random, OutputsAreThirtyOneBitsAndRepeatForASeed)
{
    random_::seed(12345);
    std::vector<uint32_t> first;
    for (int i = 0; i < 2000; i++) first.push_back(random_::next());
    for (uint32_t r : first) ASSERT_LT(r, 0x80000000u);
    random_::seed(12345);
    for (int i = 0; i < 2000; i++) ASSERT_EQ(random_::next(), first[size_t(i)]);
}

TEST(Random, IntegerDraws)
{
    random_::seed(7);
    for (int i = 0; i < 200; i++) {
        ASSERT_EQ(random_::int_(1, false), 1);
        ASSERT_EQ(random_::int_(-1, false), -1);
        ASSERT_EQ(random_::int_(0, false), 0);
        int32_t d = random_::int_(6, false);
        ASSERT_TRUE(d >= 1 && d <= 6) << d;
        int32_t m = random_::int_(-6, false);
        ASSERT_TRUE(m >= -6 && m <= -1) << m;
        ASSERT_LT(random_::int_(INT_MIN, false), 0);
        int32_t big = random_::int_(INT_MAX, false);
        ASSERT_TRUE(big >= 1);
    }
}

TEST(Random, SecureSource)
{
    for (int i = 0; i < 100; i++) ASSERT_LT(random_::secure_next(), 0x80000000u);
    int32_t d = random_::int_(3, true);
    EXPECT_TRUE(d >= 1 && d <= 3);
    random_::secure_source_fails(true);
    try {
        random_::secure_next();
        ADD_FAILURE() << "a failing source raised nothing";
    } catch (const script_error_unwind&) {
        EXPECT_EQ(raised_error_get().code(), ERR_INTERNAL * 100 + err::FEATURE_NA);
    }
    random_::secure_source_fails(false);
}

}  // namespace
