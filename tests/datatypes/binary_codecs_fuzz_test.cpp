// Fuzzing the four decoders and encoders from a fixed seed and iteration count: texts of symbols,
// blanks, comments, padding and stray code points in every unit width, and mutated encodings of
// random bytes. Every input ends at a page that may not be touched, and every output fills the
// room the codec asked for up to such a page, so a read or write past either end faults.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/unicode.h"
#include "support/guarded.h"

namespace {

constexpr uint32_t ITERATIONS = 12000;
constexpr uint32_t SEED = 20250220;
constexpr size_t ROOM = 64 * 1024;
constexpr int32_t BASES[4] = {2, 16, 58, 64};

class CodecFuzz : public testing::Test {
protected:
    std::mt19937 rng{SEED};
    test::guarded_region input{ROOM}, output{ROOM};

    uint32_t below(uint32_t n) { return n ? rng() % n : 0; }

    std::vector<uint8_t> random_bytes(uint32_t max)
    {
        std::vector<uint8_t> b(below(max));
        for (uint8_t& x : b) x = uint8_t(below(4) == 0 ? 0 : rng());   // runs of zeros for base 58
        return b;
    }

    // A code point a decoder may meet: a symbol of any base, a blank, a comment, padding, a letter
    // above 127 that folds to a digit, or anything.
    uint32_t random_code_point()
    {
        static const char common[] = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz+/=;\n \t'";
        switch (below(8)) {
        case 0: return 0xC1;   // A-acute: "A" modulo 128
        case 1: return below(0x110000);
        case 2: return below(128);
        default: return uint8_t(common[below(sizeof common - 1)]);
        }
    }

    // The code points as units of the given width, placed to end at the guard page.
    const uint8_t* place(const std::vector<uint32_t>& cps, uint32_t unit)
    {
        std::vector<uint8_t> bytes(cps.size() * unit);
        for (size_t i = 0; i < cps.size(); i++) unit_write(bytes.data() + i * unit, unit, cps[i]);
        return input.place(bytes);
    }

    // Decodes into exactly the room the codec asks for, ending at the guard page.
    int64_t decode(int32_t base, const std::vector<uint32_t>& cps, uint32_t unit, std::vector<uint8_t>* out = nullptr)
    {
        const uint8_t* text = place(cps, unit);
        uint64_t room = binary::debase_room(base, cps.size());
        uint8_t* target = output.tail(size_t(room));
        int64_t n = binary::debase_into(base, text, uint32_t(cps.size()), unit, target, below(2) == 0);
        EXPECT_LE(n, int64_t(room));
        if (out && n >= 0) out->assign(target, target + n);
        return n;
    }

    std::vector<uint32_t> encode(int32_t base, const std::vector<uint8_t>& bytes)
    {
        const uint8_t* source = input.place(bytes);
        uint64_t room = binary::enbase_room(base, bytes.size());
        uint8_t* target = output.tail(size_t(room));
        uint32_t n = binary::enbase_into(base, source, uint32_t(bytes.size()), target);
        EXPECT_LE(n, room);
        return std::vector<uint32_t>(target, target + n);
    }
};

TEST_F(CodecFuzz, RandomTextNeverReadsOrWritesOutOfBounds)
{
    ASSERT_TRUE(input.ready() && output.ready());
    for (uint32_t k = 0; k < ITERATIONS; k++) {
        std::vector<uint32_t> cps(below(48));
        for (uint32_t& cp : cps) cp = random_code_point();
        uint32_t unit = 1u << below(3);
        if (unit < 4)
            for (uint32_t& cp : cps) cp &= unit == 1 ? 0xFF : 0xFFFF;
        decode(BASES[below(4)], cps, unit);
    }
}

TEST_F(CodecFuzz, EncodingsDecodeBackAndTheirMutationsStayInBounds)
{
    ASSERT_TRUE(input.ready() && output.ready());
    for (uint32_t k = 0; k < ITERATIONS / 4; k++) {
        int32_t base = BASES[below(4)];
        std::vector<uint8_t> bytes = random_bytes(base == 58 ? 40 : 200);
        std::vector<uint32_t> text = encode(base, bytes);
        std::vector<uint8_t> back;
        uint32_t unit = 1u << below(3);
        ASSERT_EQ(decode(base, text, unit, &back), int64_t(bytes.size())) << "base " << base;
        EXPECT_EQ(back, bytes) << "base " << base;
        // Cut, overwritten or extended, the text decodes or fails; it never overruns.
        switch (below(3)) {
        case 0: text.resize(below(uint32_t(text.size()) + 1)); break;
        case 1:
            for (uint32_t n = 1 + below(3); n && !text.empty(); n--) text[below(uint32_t(text.size()))] = random_code_point();
            break;
        default:
            for (uint32_t n = 1 + below(4); n; n--) text.push_back(random_code_point());
        }
        if (unit < 4)
            for (uint32_t& cp : text) cp &= unit == 1 ? 0xFF : 0xFFFF;
        decode(base, text, unit);
    }
}

}  // namespace
