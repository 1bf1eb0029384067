// Speed of DEFLATE and the checksums over a mixed corpus, in MB/s of uncompressed bytes. With the
// figures of python3's zlib and hashlib on the same bytes (bench/python-reference passes them in
// KIV_BENCH_PYTHON), each line also gives Kiv's time over Python's.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "runtime/io/checksum.h"
#include "runtime/io/deflate.h"

namespace {

using bytes = std::vector<uint8_t>;

struct part {
    const char* name;
    bytes data;
};

uint32_t xorshift(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

// About 3 MB: text, records of numbers, incompressible bytes and long runs.
std::vector<part> corpus()
{
    std::vector<part> parts;
    const char* words[] = {"the", "value", "of", "a", "block", "is", "evaluated", "when", "its", "words",
                           "refer", "to", "functions", "series", "string", "binary", "compress", "data",
                           "and", "returns", "result", "context", "object", "field", "set", "get"};
    uint32_t x = 12345;
    std::string text;
    while (text.size() < 1200000) {
        text += words[xorshift(x) % (sizeof words / sizeof words[0])];
        text += xorshift(x) % 11 ? " " : ".\n";
    }
    parts.push_back({"text", bytes(text.begin(), text.end())});
    bytes records;
    for (uint32_t i = 0; records.size() < 800000; i++) {
        uint32_t fields[4] = {i, 1000000 + i * 3, xorshift(x) % 100, 0x20240000u + (i & 0xFF)};
        records.insert(records.end(), reinterpret_cast<uint8_t*>(fields), reinterpret_cast<uint8_t*>(fields) + 16);
    }
    parts.push_back({"records", records});
    bytes noise(400000);
    for (uint8_t& b : noise) b = uint8_t(xorshift(x));
    parts.push_back({"random", noise});
    bytes runs;
    while (runs.size() < 600000) runs.insert(runs.end(), 1 + xorshift(x) % 2000, uint8_t(xorshift(x) % 4));
    parts.push_back({"runs", runs});
    return parts;
}

bytes joined(const std::vector<part>& parts)
{
    bytes all;
    for (const part& p : parts) all.insert(all.end(), p.data.begin(), p.data.end());
    return all;
}

bytes read_file(const std::string& path)
{
    bytes out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.insert(out.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return out;
}

// Python's MB/s for a name in KIV_BENCH_PYTHON ("compress=123.4,crc32=...") or 0.
double python_figure(const char* name) { return bench::reference_figure("KIV_BENCH_PYTHON", name); }

// Best of several rounds, as MB/s of `size` bytes.
template <class F>
double speed(uint64_t size, int rounds, F&& work)
{
    return double(size) / bench::best_seconds(rounds, work) / 1e6;
}

void report(const char* what, const char* python_name, double mbps)
{
    double py = python_name ? python_figure(python_name) : 0;
    if (py > 0) std::printf("%-44s %8.1f MB/s  (python3 %7.1f MB/s: Kiv's time %.2fx)\n", what, mbps, py, py / mbps);
    else std::printf("%-44s %8.1f MB/s\n", what, mbps);
}

int32_t compress_into(codec_routine routine, const bytes& in, bytes& out)
{
    uint64_t size = in.size() + in.size() / 4 + 64;
    out.resize(size);
    int32_t r = routine(out.data(), &size, in.data(), in.size());
    out.resize(size);
    return r;
}

// As the decompress native does it: a counting pass, then the inflation into an exact buffer.
int32_t decompress_twice(codec_routine routine, const bytes& in, bytes& out)
{
    uint64_t size = 0;
    routine(nullptr, &size, in.data(), in.size());
    out.resize(size);
    return routine(out.data(), &size, in.data(), in.size());
}

}  // namespace

// With KIV_BENCH_CORPUS naming a file, writes the corpus there for bench/python-reference.
KIV_BENCH(deflate_corpus)
{
    const char* path = std::getenv("KIV_BENCH_CORPUS");
    if (!path) {
        std::printf("(writes the corpus to the file named by KIV_BENCH_CORPUS)\n");
        return;
    }
    bytes all = joined(corpus());
    FILE* f = std::fopen(path, "wb");
    if (!f) return;
    std::fwrite(all.data(), 1, all.size(), f);
    std::fclose(f);
    std::printf("%zu bytes to %s\n", all.size(), path);
}

KIV_BENCH(deflate)
{
    std::vector<part> parts = corpus();
    bytes all = joined(parts), packed, back;
    for (const part& p : parts) {
        compress_into(zlib::compress, p.data, packed);
        std::printf("  %-8s %8zu bytes -> %8zu (%.1f%%)\n", p.name, p.data.size(), packed.size(),
                    100.0 * double(packed.size()) / double(p.data.size()));
    }
    compress_into(zlib::compress, all, packed);
    std::printf("  %-8s %8zu bytes -> %8zu (%.1f%%)\n", "corpus", all.size(), packed.size(),
                100.0 * double(packed.size()) / double(all.size()));
    report("compress (zlib framing)", "compress", speed(all.size(), 5, [&] { compress_into(zlib::compress, all, packed); }));
    report("decompress (counting pass, then inflate)", "decompress",
           speed(all.size(), 5, [&] { decompress_twice(zlib::uncompress, packed, back); }));
    if (back != all) std::printf("  round trip FAILED\n");
    uint64_t size = back.size();
    report("inflate alone", "decompress",
           speed(all.size(), 5, [&] { zlib::uncompress(back.data(), &size, packed.data(), packed.size()); }));
    // zlib's own level-1 stream of the same corpus, when bench/python-reference left one.
    if (const char* path = std::getenv("KIV_BENCH_CORPUS")) {
        bytes theirs = read_file(std::string(path) + ".z1");
        if (!theirs.empty()) {
            report("inflate zlib's level-1 stream, counting pass", "decompress",
                   speed(all.size(), 5, [&] { decompress_twice(zlib::uncompress, theirs, back); }));
            if (back != all) std::printf("  zlib's stream FAILED\n");
        }
    }
}

KIV_BENCH(checksums)
{
    bytes all = joined(corpus());
    volatile uint32_t sink = 0;
    report("CRC-32", "crc32", speed(all.size(), 10, [&] { sink = sink + crc32(all.data(), all.size()); }));
    report("Adler-32", "adler32", speed(all.size(), 10, [&] { sink = sink + adler32(all.data(), all.size()); }));
    uint8_t digest[DIGEST_MAX];
    report("MD5", "md5", speed(all.size(), 5, [&] { crypto_digest(all.data(), all.size(), METHOD_MD5, digest); }));
    report("SHA-256", "sha256",
           speed(all.size(), 5, [&] { crypto_digest(all.data(), all.size(), METHOD_SHA256, digest); }));
}
