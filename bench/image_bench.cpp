// Speed of the image layer and image!: decoding a 4096x4096 PNG (with ImageMagick's time beside
// it when bench/imagemagick-reference passes it in KIV_BENCH_MAGICK), reading and writing the argb
// data, per-pixel pick and poke, pick-pixels as foreach uses it, and the cost of a first and a
// second lock of a decoded image (the second converts nothing).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/image_layer.h"
#include "runtime/stack.h"
#include "runtime/memory.h"

namespace {

constexpr uint32_t SIDE = 4096;

uint32_t xorshift(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

// A photo-like image: smooth gradients with a little noise, opaque, pushed.
cell* generated(uint32_t side)
{
    cell* img = stack::push_slot();
    image_new(img, side, side);
    image_pixels px = image_lock(img, true);
    uint32_t x = 2024;
    for (uint32_t y = 0; y < side; y++)
        for (uint32_t i = 0; i < side; i++) {
            uint32_t n = xorshift(x) & 7;
            px.data[y * side + i] = 0xFF000000u | ((i * 255 / side + n) & 0xFF) << 16 | ((y * 255 / side) & 0xFF) << 8 |
                                    (((i + y) * 127 / side + n) & 0xFF);
        }
    return img;
}

std::vector<uint8_t> encoded_png(cell* img)
{
    cell* out = image_encode(img, stack::push_slot(), IMAGE_PNG);
    series_buffer* s = series_of(out->data2);
    return std::vector<uint8_t>(at(s->head), at(s->tail));
}

}  // namespace

// Writes the generated PNG to the file KIV_BENCH_PNG names, for bench/imagemagick-reference.
KIV_BENCH(image_png_file)
{
    const char* path = std::getenv("KIV_BENCH_PNG");
    if (!path) {
        std::printf("(writes the generated PNG to the file named by KIV_BENCH_PNG)\n");
        return;
    }
    cell* mark = stack::top();
    std::vector<uint8_t> png = encoded_png(generated(SIDE));
    if (FILE* f = std::fopen(path, "wb")) {
        std::fwrite(png.data(), 1, png.size(), f);
        std::fclose(f);
    }
    stack_s.top = mark;
}

KIV_BENCH(image_png)
{
    cell* mark = stack::top();
    cell* img = generated(SIDE);
    std::vector<uint8_t> png;
    double encode = bench::best_seconds(1, [&] { png = encoded_png(img); });
    std::printf("%-44s %8.1f ms  (%zu bytes)\n", "encode 4096x4096 PNG", encode * 1e3, png.size());
    double decode = bench::best_seconds(3, [&] {
        cell* out = stack::push_slot();
        image_stream_new(out, png.data(), png.size());
        image_pixels px = image_lock(out, false);
        stack::pop(1);
    });
    double magick = bench::reference_figure("KIV_BENCH_MAGICK", "decode");
    if (magick > 0)
        std::printf("%-44s %8.1f ms  (ImageMagick %7.1f ms: Kiv's time %.2fx)\n", "decode 4096x4096 PNG", decode * 1e3,
                    magick, decode * 1e3 / magick);
    else std::printf("%-44s %8.1f ms\n", "decode 4096x4096 PNG", decode * 1e3);
    stack_s.top = mark;
}

KIV_BENCH(image_pixels)
{
    cell* mark = stack::top();
    cell* img = generated(SIDE);
    double mb = double(SIDE) * SIDE * 4 / 1e6;
    cell* data = stack::push_slot();
    double read = bench::best_seconds(3, [&] { image::extract_data(img, image::MODE_ARGB, data); });
    // Into a new binary each time: the pages of a fresh big block are committed on first touch.
    std::printf("%-44s %8.1f MB/s\n", "argb read into a new binary (4096x4096)", mb / read);
    double write = bench::best_seconds(3, [&] { image::set_data(img, data, image::MODE_ARGB); });
    std::printf("%-44s %8.1f MB/s\n", "argb write from a binary (4096x4096)", mb / write);

    // Per pixel, as a Kiv loop over pick and poke does it: one lock per call.
    cell* small = generated(256);
    uint32_t count = 256 * 256;
    cell* slot = stack::push_slot();
    double pick = bench::best_seconds(3, [&] {
        for (uint32_t i = 1; i <= count; i++) {
            *slot = *small;
            cell n{TYPE_INTEGER, 0, i, 0};
            image::pick(slot, int32_t(i), &n);
        }
    });
    std::printf("%-44s %8.2f Mpixel/s\n", "pick, pixel by pixel", count / pick / 1e6);
    cell colour{TYPE_TUPLE | 3u << 19, 0x102030, 0, 0};
    double poke = bench::best_seconds(3, [&] {
        for (uint32_t i = 1; i <= count; i++) {
            *slot = *small;
            cell n{TYPE_INTEGER, 0, i, 0};
            image::poke(slot, int32_t(i), &n, &colour);
        }
    });
    std::printf("%-44s %8.2f Mpixel/s\n", "poke, pixel by pixel", count / poke / 1e6);
    cell* blk = block::push_only_star(8);
    for (int k = 0; k < 8; k++) block::rs_append(blk, &colour);
    for (uint32_t n : {1u, 8u}) {
        double t = bench::best_seconds(3, [&] {
            for (uint32_t i = 0; i < count; i += n) {
                *slot = *small;
                slot->data1 = i;
                image::pick_pixels(blk, slot, n);
            }
        });
        std::string what = "pick-pixels, " + std::to_string(n) + " at a time";
        std::printf("%-44s %8.2f Mpixel/s\n", what.c_str(), count / t / 1e6);
    }
    stack_s.top = mark;
}

KIV_BENCH(image_lock)
{
    cell* mark = stack::top();
    std::vector<uint8_t> png = encoded_png(generated(SIDE));
    cell* img = stack::push_slot();
    image_stream_new(img, png.data(), png.size());
    double first = bench::best_seconds(1, [&] { image_pixels px = image_lock(img, false); });
    double second = bench::best_seconds(1, [&] { image_pixels px = image_lock(img, false); });
    std::printf("%-44s %8.3f ms\n", "first lock of a decoded 4096x4096", first * 1e3);
    std::printf("%-44s %8.3f ms\n", "second lock (nothing converted)", second * 1e3);
    stack_s.top = mark;
}
