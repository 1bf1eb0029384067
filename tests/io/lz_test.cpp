// The LZ codec: round trips over data that exercises literals, short and long matches and block
// boundaries; hand-made records for the token forms; and the records the decoder must refuse.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "runtime/io/lz.h"
#include "support/guarded.h"

namespace {

using bytes = std::vector<uint8_t>;

void put_u32(bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
}

// A record of one block from a bit string written in reading order ("0" and "1" characters).
bytes record_of(uint32_t size, const char* bits)
{
    bytes stream;
    uint32_t n = 0;
    for (const char* p = bits; *p; p++) {
        if (*p == ' ') continue;
        if (n % 8 == 0) stream.push_back(0);
        if (*p == '1') stream.back() |= uint8_t(1u << (n % 8));
        n++;
    }
    bytes r;
    put_u32(r, uint32_t(stream.size() + 4));
    put_u32(r, size);
    put_u32(r, size);
    r.insert(r.end(), stream.begin(), stream.end());
    return r;
}

// 3 MB of text-like runs, repeats at every distance class, and incompressible noise.
bytes mixed_data(size_t size)
{
    std::mt19937 rng(7);
    bytes d;
    d.reserve(size);
    const char* words[] = {"block ", "string! ", "function ", "[a b c] ", "0123456789", "\n    "};
    while (d.size() < size) {
        switch (rng() % 4) {
        case 0:
            for (int i = 0; i < 40; i++) for (const char* w = words[rng() % 6]; *w; w++) d.push_back(uint8_t(*w));
            break;
        case 1: {
            size_t back = 1 + rng() % (d.empty() ? 1 : std::min<size_t>(d.size(), 300000));
            size_t n = 3 + rng() % 700;
            for (size_t i = 0; i < n && back <= d.size(); i++) d.push_back(d[d.size() - back]);
            break;
        }
        case 2: for (int i = 0; i < 300; i++) d.push_back(uint8_t(rng())); break;
        default: d.insert(d.end(), 1 + rng() % 2000, uint8_t(rng()));
        }
    }
    d.resize(size);
    return d;
}

bool unpacks_to(const bytes& record, const bytes& expected)
{
    bytes out;
    return lz::decompress(record.data(), record.size(), &out) && out == expected;
}

TEST(Lz, RoundTripsMixedDataOverSeveralBlocks)
{
    bytes data = mixed_data(3 * 1024 * 1024 + 17);
    bytes packed = lz::compress(data.data(), data.size());
    EXPECT_LT(packed.size(), data.size() * 3 / 4);
    EXPECT_TRUE(unpacks_to(packed, data));
}

TEST(Lz, RoundTripsSmallInputs)
{
    for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(127), size_t(128), size_t(1000)}) {
        bytes data(n);
        for (size_t i = 0; i < n; i++) data[i] = uint8_t(i % 3 == 0 ? 'a' : i);
        bytes packed = lz::compress(data.data(), data.size());
        EXPECT_TRUE(unpacks_to(packed, data)) << n;
        if (n) {
            EXPECT_GT(packed.size(), 12u) << "a non-empty input gets a block: " << n;
        }
    }
}

TEST(Lz, DecodesTheTokenForms)
{
    // literal 'a' (0x61), then a match: length code "1 10" = 2 -> 5 bytes, class k 0, distance 0.
    EXPECT_TRUE(unpacks_to(record_of(6, "0 10000110  1 1 01  0000 000"), bytes(6, 'a')));
    // literals 'a','b', then "00001" + 5 bits 00000 -> n 20 -> 23 bytes, k 0, distance 1 (2 back).
    bytes ab = {'a', 'b'};
    for (int i = 0; i < 23; i++) ab.push_back(ab[ab.size() - 2]);
    EXPECT_TRUE(unpacks_to(record_of(25, "0 10000110 0 01000110  1 00001 00000  0000 100"), ab));
    // An empty record.
    bytes empty;
    put_u32(empty, 0);
    put_u32(empty, 0);
    EXPECT_TRUE(unpacks_to(empty, {}));
}

TEST(Lz, RefusesInconsistentRecords)
{
    bytes good = record_of(6, "0 10000110  1 1 01  0000 000");
    bytes out;
    struct refusal {
        const char* what;
        bytes record;
    };
    std::vector<refusal> cases;
    cases.push_back({"cut inside the stream", bytes(good.begin(), good.end() - 1)});
    bytes cut = good;
    cut[0] += 1;   // P claims more bytes than there are
    cases.push_back({"packed count past the data", cut});
    bytes bigger = good;
    bigger[4] = 7;   // U says 7, the block makes 6
    cases.push_back({"size other than the output", bigger});
    cases.push_back({"match before the block", record_of(6, "1 1 01  0000 000")});
    cases.push_back({"match past the block", record_of(3, "0 10000110  1 1 01  0000 000")});
    bytes zero;
    put_u32(zero, 4);
    put_u32(zero, 0);
    put_u32(zero, 0);
    cases.push_back({"block length 0", zero});
    bytes huge;
    put_u32(huge, 5);
    put_u32(huge, 0x100001);
    put_u32(huge, 0x100001);
    huge.push_back(0);
    cases.push_back({"block length 1,048,577", huge});
    bytes bomb;
    put_u32(bomb, 4);
    put_u32(bomb, 0x7FFFFFFF);
    put_u32(bomb, 0x100000);
    cases.push_back({"size the packed bytes cannot make", bomb});
    cases.push_back({"shorter than the record's own words", bytes{4, 0, 0}});
    for (const refusal& c : cases) {
        EXPECT_FALSE(lz::decompress(c.record.data(), c.record.size(), &out)) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
}

// Cut, flipped and overwritten records of a fixed seed, each placed right after or right before a
// page that may not be touched: every one decodes to its declared size or is refused, without
// reading outside it.
TEST(LzFuzz, MutatedRecordsAreDecodedOrRefused)
{
    test::guarded_region input(256 * 1024);
    ASSERT_TRUE(input.ready());
    std::mt19937 rng(20261210);
    bytes data = mixed_data(40000);
    bytes seed = lz::compress(data.data(), data.size());
    bytes out;
    for (int iteration = 0; iteration < 3000; iteration++) {
        bytes r = seed;
        switch (rng() % 4) {
        case 0: r.resize(rng() % r.size()); break;
        case 1:
            for (int n = 1 + rng() % 4; n; n--) r[rng() % r.size()] ^= uint8_t(1u << (rng() % 8));
            break;
        case 2:
            for (int n = 1 + rng() % 3; n; n--) r[rng() % 16] = uint8_t(rng());
            break;
        default:
            r.resize(rng() % 64);
            for (uint8_t& b : r) b = uint8_t(rng());
        }
        const uint8_t* placed = iteration % 2 ? input.place(r) : input.place_first(r);
        if (lz::decompress(placed, r.size(), &out)) {
            ASSERT_GE(r.size(), 8u);
            EXPECT_EQ(out.size(), uint32_t(r[4] | r[5] << 8 | r[6] << 16 | uint32_t(r[7]) << 24));
        }
    }
}

}  // namespace
