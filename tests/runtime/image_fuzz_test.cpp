// Fuzzing the image decoders through image/decode: cut, bit-flipped and overwritten PNG, JPEG,
// BMP and GIF files from a fixed seed and iteration count, each ending at a page that may not be
// touched. Every input gives none, an image whose pixels read completely, or access/bad-media;
// none leaves a lock or a registry slot behind. Headers that declare sizes beyond the limits are
// refused before a decoder sees them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "support/guarded.h"
#include "support/images.h"

namespace {

using namespace img;

constexpr uint32_t ITERATIONS = 3000;
constexpr uint32_t SEED = 20240917;
constexpr size_t INPUT_ROOM = 64 * 1024;

class ImageFuzz : public test::StackTest {
protected:
    std::mt19937 rng{SEED};
    test::guarded_region input{INPUT_ROOM};
    std::vector<bytes> seeds;

    void SetUp() override
    {
        StackTest::SetUp();
        ASSERT_TRUE(input.ready());
        for (const char* name : {"rgba.png", "palette.png", "interlaced.png", "rgba16.png", "photo.jpg", "rgb24.bmp",
                                 "bgra32.bmp", "two-frames.gif"})
            seeds.push_back(fixture_bytes(fixture(name)));
    }
    uint32_t below(size_t n) { return n ? uint32_t(rng() % n) : 0; }

    bytes mutated()
    {
        bytes s = seeds[below(seeds.size())];
        switch (rng() % 3) {
        case 0:
            for (uint32_t n = 1 + rng() % 4; n && !s.empty(); n--) s[below(s.size())] ^= uint8_t(1u << (rng() % 8));
            break;
        case 1: s.resize(below(s.size())); break;
        default:
            // Signatures, sizes and table lengths sit in the first bytes.
            for (uint32_t n = 1 + rng() % 3; n && !s.empty(); n--) s[below(s.size() < 40 ? s.size() : 40)] = uint8_t(rng());
        }
        return s;
    }

    // What image/decode makes of the bytes, decoded from a copy placed against the guard page.
    std::string outcome(const bytes& data)
    {
        if (!image::known_format_q(binary(data))) return "none";
        const uint8_t* at_guard = input.place(data);
        cell* out = stack::push_slot();
        uint32_t error = raised([&] {
            if (!image_stream_new(out, at_guard, data.size())) fire(ERR_ACCESS, err::BAD_MEDIA);
            image_pixels px = image_lock(out, false);
            volatile uint32_t sum = 0;
            for (uint32_t i = 0; i < px.count; i++) sum = sum + px.data[i];
        });
        if (error) return error == code(ERR_ACCESS, err::BAD_MEDIA) ? "bad-media" : "error " + std::to_string(error);
        return write_lock_free(out) ? "image" : "lock left";
    }
};

TEST_F(ImageFuzz, MutatedFilesDecodeOrFailCleanly)
{
    collector::do_cycle();
    uint32_t before = live_images();
    cell* mark = stack::top();
    uint32_t counts[3] = {};
    for (uint32_t i = 0; i < ITERATIONS; i++) {
        std::string r = outcome(mutated());
        ASSERT_TRUE(r == "none" || r == "image" || r == "bad-media") << "iteration " << i << ": " << r;
        counts[r == "none" ? 0 : r == "image" ? 1 : 2]++;
        stack_s.top = mark;
    }
    collector::do_cycle();
    EXPECT_EQ(live_images(), before) << "a slot outlived its image";
    EXPECT_GT(counts[1], 0u);
    EXPECT_GT(counts[2], 0u);
}

// PNG's header with a valid check sum, then garbage.
bytes png_header(uint32_t w, uint32_t h)
{
    bytes ihdr = {'I', 'H', 'D', 'R', uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w),
                  uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h), 8, 6, 0, 0, 0};
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t b : ihdr) {
        crc ^= b;
        for (int k = 0; k < 8; k++) crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    crc = ~crc;
    bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13};
    for (uint8_t b : ihdr) out.push_back(b);
    for (int k = 3; k >= 0; k--) out.push_back(uint8_t(crc >> (8 * k)));
    out.resize(out.size() + 64, 0x5A);
    return out;
}

TEST_F(ImageFuzz, HugeDeclaredSizesAreRefusedBeforeDecoding)
{
    bytes gif = unhex("474946383961" "0400" "0200" "00" "00" "00"       // small screen, no colour table
                      "2C" "0000" "0000" "FFFF" "FFFF" "00" "02");      // a 65535x65535 frame
    bytes bmp = unhex("424D" "00000000" "00000000" "36000000" "28000000" "FFFF0000" "0000FFFF" "0100" "2000");
    bytes jpeg = unhex("FFD8" "FFE0" "0004" "0000" "FFC0" "0011" "08" "FFFF" "FFFF" "03");
    struct row { const char* name; bytes data; };
    const row rows[] = {{"PNG 65535x65535", png_header(65535, 65535)},
                        {"PNG 70000x1", png_header(70000, 1)},
                        {"GIF frame", gif},
                        {"BMP", bmp},
                        {"JPEG", jpeg}};
    for (const row& r : rows) {
        bytes data = r.data;
        data.resize(data.size() + 32, 0);
        const uint8_t* at_guard = input.place(data);
        EXPECT_FALSE(image_stream_new(stack::push_slot(), at_guard, data.size())) << r.name;
    }
    cell* out = stack::push_slot();
    EXPECT_EQ(raised([&] { image::decode_binary(binary(png_header(65535, 65535)), out); }), code(ERR_ACCESS, err::BAD_MEDIA));
}

}  // namespace
