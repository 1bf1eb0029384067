// Fuzzing the three decoders: cut, bit-flipped, overwritten and spliced streams from a fixed seed
// and iteration count. Every input ends at a page that may not be touched, and so does every
// output buffer, so a read past the input or a write past the capacity faults the test.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "io/io_test.h"
#include "runtime/io/deflate.h"
#include "support/guarded.h"

namespace {

#include "fixtures/deflate_streams.inc"

constexpr uint32_t ITERATIONS = 20000;
constexpr uint32_t SEED = 20240601;
constexpr size_t INPUT_ROOM = 64 * 1024;
constexpr size_t OUTPUT_ROOM = 1024 * 1024;

using bytes = std::vector<uint8_t>;

class DeflateFuzz : public testing::Test {
protected:
    std::mt19937 rng{SEED};
    test::guarded_region input{INPUT_ROOM}, output{OUTPUT_ROOM};
    std::vector<bytes> seeds;
    std::vector<uint32_t> framings;   // the index of each seed's decoder

    void SetUp() override
    {
        ASSERT_TRUE(input.ready() && output.ready());
        for (const fixture::stream_case& c : stream_cases) {
            seeds.push_back(fixture::from_hex(c.stream));
            std::string f = c.framing;
            framings.push_back(f == "raw" ? 0 : f == "zlib" ? 1 : 2);
        }
    }
    uint32_t below(size_t n) { return n ? uint32_t(rng() % n) : 0; }

    // A mutated seed, and the index of the seed's decoder.
    bytes mutated(uint32_t* framing)
    {
        uint32_t pick = below(seeds.size());
        *framing = framings[pick];
        bytes s = seeds[pick];
        switch (rng() % 4) {
        case 0:
            for (uint32_t n = 1 + rng() % 4; n && !s.empty(); n--) s[below(s.size())] ^= uint8_t(1u << (rng() % 8));
            break;
        case 1: s.resize(below(s.size())); break;
        case 2:
            // Headers, code lengths and framing fields sit in the first bytes.
            for (uint32_t n = 1 + rng() % 3; n && !s.empty(); n--) s[below(s.size() < 32 ? s.size() : 32)] = uint8_t(rng());
            break;
        default: {
            const bytes& other = seeds[below(seeds.size())];
            s.resize(below(s.size()));
            s.insert(s.end(), other.begin() + below(other.size()), other.end());
        }
        }
        if (s.size() > INPUT_ROOM) s.resize(INPUT_ROOM);
        return s;
    }

    // The routine as the natives run it, each buffer against its guard page.
    void check(codec_routine routine, const bytes& stream)
    {
        const uint8_t* in = input.place(stream);
        uint64_t needed = 0;
        int32_t r = routine(nullptr, &needed, in, stream.size());
        ASSERT_TRUE(r == CODEC_DONE || r == CODEC_SMALL || r == CODEC_BAD || r == CODEC_PAST_END) << r;
        if (r == CODEC_DONE) {
            ASSERT_EQ(needed, 0u);
        }
        if (r != CODEC_SMALL) return;
        ASSERT_GT(needed, 0u);
        ASSERT_LE(needed, CODEC_OUTPUT_MAX);
        if (needed > OUTPUT_ROOM) return;
        uint64_t size = needed;
        r = routine(output.tail(size_t(needed)), &size, in, stream.size());
        ASSERT_TRUE(r == CODEC_DONE || r == CODEC_BAD) << r;   // a check sum is tested on full output only
        if (r == CODEC_DONE) {
            ASSERT_EQ(size, needed);
        }
        uint64_t short_capacity = below(size_t(needed));
        size = short_capacity;
        r = routine(output.tail(size_t(short_capacity)), &size, in, stream.size());
        ASSERT_EQ(r, CODEC_SMALL);
        ASSERT_EQ(size, needed);
    }
};

TEST_F(DeflateFuzz, DecodersStayInsideTheirBuffers)
{
    // Mostly the decoder of the stream's own framing, which gets past the headers; now and then
    // another one.
    const codec_routine decoders[] = {deflate::uncompress, zlib::uncompress, gzip::uncompress};
    for (uint32_t i = 0; i < ITERATIONS; i++) {
        uint32_t framing;
        bytes stream = mutated(&framing);
        check(decoders[i % 5 ? framing : rng() % 3], stream);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
