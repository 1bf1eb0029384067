// Speed of the binary! codecs: MB/s of bytes in bases 64 and 16 over 10 MB, and base 58, whose long
// division is quadratic by nature, over 1 KB and 10 KB. Each line gives the value entries (a
// binary! in, a new string! out and back, each result a fresh buffer whose pages are touched for
// the first time) and the codec alone on buffers already in use.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/bench.h"
#include "runtime/datatypes/binary.h"
#include "runtime/stack.h"

namespace {

void measure(int32_t base, uint32_t size, int rounds)
{
    std::vector<uint8_t> data(size);
    uint32_t x = 2463534242u;
    for (uint8_t& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    cell* mark = stack::top();
    cell* source = binary::load(data.data(), size);
    cell* text = nullptr;
    double t0 = bench::now();
    for (int r = 0; r < rounds; r++) {
        stack_s.top = source + 1;
        text = binary::enbase(source, base);
    }
    double encode = bench::now() - t0;
    cell* back = nullptr;
    t0 = bench::now();
    for (int r = 0; r < rounds; r++) {
        stack_s.top = text + 1;
        back = binary::debase(text, base);
    }
    double decode = bench::now() - t0;
    bool same = back && binary::ks_length_q(back) == size;
    // The codec alone, between buffers written before.
    std::vector<uint8_t> text_bytes(size_t(binary::enbase_room(base, size))), bytes(size);
    uint32_t n = binary::enbase_into(base, data.data(), size, text_bytes.data());
    t0 = bench::now();
    for (int r = 0; r < rounds; r++) n = binary::enbase_into(base, data.data(), size, text_bytes.data());
    double raw_encode = bench::now() - t0;
    t0 = bench::now();
    for (int r = 0; r < rounds; r++) same &= binary::debase_into(base, text_bytes.data(), n, 1, bytes.data()) == size;
    double raw_decode = bench::now() - t0;
    double mb = double(size) * rounds / 1e6;
    std::printf("base %-2d %8u bytes   values: encode %8.2f  decode %8.2f MB/s   codec alone: encode %8.2f  "
                "decode %8.2f MB/s%s\n",
                base, size, mb / encode, mb / decode, mb / raw_encode, mb / raw_decode,
                same ? "" : "   (round trip FAILED)");
    stack_s.top = mark;
}

}  // namespace

KIV_BENCH(codecs)
{
    measure(64, 10000000, 3);
    measure(16, 10000000, 3);
    measure(58, 1000, 50);
    measure(58, 10000, 3);
}
