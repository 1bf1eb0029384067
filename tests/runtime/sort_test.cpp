// The sorting engines on raw records: order against std::stable_sort, stability, compare counts
// on ordered input, byte-wise records, and what a raising or inconsistent compare leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "runtime/errors.h"
#include "runtime/sort.h"
#include "support/fixtures.h"

namespace {

// Records of `width` bytes whose first byte is the key and whose last bytes hold the original
// position, so stability and permutation can be checked.
struct fixture {
    uint32_t width;
    uint32_t count;
    std::vector<uint8_t> bytes;
    uint8_t* at(uint32_t i) { return bytes.data() + size_t(i) * width; }
};

struct counter {
    uint32_t compares = 0;
    int32_t raise_after = -1;   // raise script/invalid-arg at this compare
    bool random_answers = false;
    std::mt19937 rng{7};
};

int32_t by_key(const void* a, const void* b, const void* context, uint32_t flags)
{
    auto* c = static_cast<counter*>(const_cast<void*>(context));
    if (c->raise_after >= 0 && c->compares == uint32_t(c->raise_after)) fire(ERR_SCRIPT, err::INVALID_ARG);
    c->compares++;
    if (c->random_answers) return int32_t(c->rng() % 3) - 1;
    int32_t d = int32_t(*static_cast<const uint8_t*>(a)) - int32_t(*static_cast<const uint8_t*>(b));
    return flags ? -d : d;
}

fixture make_records(uint32_t count, uint32_t width, uint32_t keys, uint32_t seed)
{
    fixture f{width, count, std::vector<uint8_t>(size_t(count) * width + 64, 0xEE)};   // 64 guard bytes
    std::mt19937 rng(seed);
    for (uint32_t i = 0; i < count; i++) {
        std::memset(f.at(i), 0, width);
        f.at(i)[0] = uint8_t(rng() % keys);
        std::memcpy(f.at(i) + width - 2, &i, 2);
    }
    return f;
}

uint16_t position_of(fixture& f, uint32_t i)
{
    uint16_t p;
    std::memcpy(&p, f.at(i) + f.width - 2, 2);
    return p;
}

bool guards_intact(fixture& f)
{
    return std::all_of(f.bytes.end() - 64, f.bytes.end(), [](uint8_t b) { return b == 0xEE; });
}

bool is_permutation(fixture& f)
{
    std::vector<bool> seen(f.count);
    for (uint32_t i = 0; i < f.count; i++) {
        uint16_t p = position_of(f, i);
        if (p >= f.count || seen[p]) return false;
        seen[p] = true;
    }
    return true;
}

using engine = void (*)(void*, uint32_t, uint32_t, const void*, uint32_t, sort_compare_fn);

}  // namespace

TEST(Sort, BothEnginesOrderRandomRecordsOfEveryWidth)
{
    struct row {
        uint32_t count, width, keys;
    };
    const row rows[] = {{0, 4, 5}, {1, 4, 5}, {2, 3, 2}, {24, 4, 30}, {25, 16, 3}, {300, 3, 7},
                        {700, 8, 256}, {5000, 4, 2}, {5000, 6, 200}};
    for (const row& r : rows)
        for (int stable = 0; stable < 2; stable++)
            for (uint32_t seed = 1; seed <= 3; seed++) {
                fixture f = make_records(r.count, r.width, r.keys, seed);
                fixture expected = f;
                std::vector<uint32_t> order(r.count);
                std::iota(order.begin(), order.end(), 0u);
                std::stable_sort(order.begin(), order.end(),
                                 [&](uint32_t a, uint32_t b) { return expected.at(a)[0] < expected.at(b)[0]; });
                counter c;
                (stable ? sort_stable : sort_quick)(f.bytes.data(), r.count, r.width, &c, 0, by_key);
                SCOPED_TRACE(testing::Message() << "count " << r.count << " width " << r.width << " stable " << stable);
                ASSERT_TRUE(guards_intact(f));
                ASSERT_TRUE(is_permutation(f));
                for (uint32_t i = 0; i < r.count; i++) {
                    ASSERT_EQ(f.at(i)[0], expected.at(order[i])[0]) << "at " << i;
                    if (stable) {
                        ASSERT_EQ(position_of(f, i), order[i]) << "equal keys out of input order at " << i;
                    }
                }
            }
}

TEST(Sort, OrderedAndReversedInputCostOnePassOfCompares)
{
    for (engine e : {engine(sort_stable), engine(sort_quick)}) {
        fixture f = make_records(100, 4, 1, 1);
        for (uint32_t i = 0; i < 100; i++) f.at(i)[0] = uint8_t(200 - i);   // strictly descending
        counter c;
        e(f.bytes.data(), 100, 4, &c, 0, by_key);
        EXPECT_EQ(c.compares, 99u);
        for (uint32_t i = 0; i < 100; i++) ASSERT_EQ(f.at(i)[0], 101 + i);
        counter again;
        e(f.bytes.data(), 100, 4, &again, 0, by_key);
        EXPECT_EQ(again.compares, 99u) << "sorted input";
    }
    counter none;
    fixture one = make_records(1, 4, 3, 1);
    sort_stable(one.bytes.data(), 1, 4, &none, 0, by_key);
    sort_quick(one.bytes.data(), 1, 4, &none, 0, by_key);
    EXPECT_EQ(none.compares, 0u);
}

TEST(Sort, AReversingFlagInTheContextSortsDescendingAndKeepsEqualsStable)
{
    fixture f = make_records(200, 4, 4, 9);
    counter c;
    sort_stable(f.bytes.data(), 200, 4, &c, 1, by_key);
    for (uint32_t i = 1; i < 200; i++) {
        ASSERT_GE(f.at(i - 1)[0], f.at(i)[0]);
        if (f.at(i - 1)[0] == f.at(i)[0]) {
            ASSERT_LT(position_of(f, i - 1), position_of(f, i));
        }
    }
}

// Mended: a merge that the compare routine interrupts puts back the records it held aside.
TEST(Sort, ARaisingCompareLeavesAPermutationInBothEngines)
{
    for (engine e : {engine(sort_stable), engine(sort_quick)})
        for (int32_t after : {0, 5, 40, 150, 700, 2000}) {
            fixture f = make_records(600, 6, 50, uint32_t(after) + 3);
            counter c;
            c.raise_after = after;
            EXPECT_EQ(test::raised([&] { e(f.bytes.data(), 600, 6, &c, 0, by_key); }), 300u + err::INVALID_ARG);
            EXPECT_TRUE(is_permutation(f)) << "raised after " << after;
            EXPECT_TRUE(guards_intact(f));
        }
}

TEST(Sort, AnInconsistentCompareStaysInBounds)
{
    for (engine e : {engine(sort_stable), engine(sort_quick)})
        for (uint32_t count : {7u, 30u, 600u, 4000u}) {
            fixture f = make_records(count, 4, 100, count);
            counter c;
            c.random_answers = true;
            e(f.bytes.data(), count, 4, &c, 0, by_key);
            EXPECT_TRUE(is_permutation(f)) << count;
            EXPECT_TRUE(guards_intact(f)) << count;
        }
}
