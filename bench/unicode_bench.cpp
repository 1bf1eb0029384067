// Speed of the text border: the lexer's automaton, UTF-8 loading and UTF-16 output.
#include <string>

#include "bench/bench.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace {

// About 1 MB of mixed text: mostly ASCII, some Latin-1, a few wider code points.
std::string sample_text()
{
    std::string line = "Grüße aus Köln, 20 € pro Stück; plain ASCII words fill most of each line.\n";
    std::string out;
    while (out.size() < 1000000) out += line;
    return out;
}

}  // namespace

KIV_BENCH(utf8_decode)
{
    std::string text = sample_text();
    auto p = reinterpret_cast<const uint8_t*>(text.data());
    double t0 = bench::now();
    uint32_t n = 0;
    for (int round = 0; round < 20; round++) n += utf8_count_chars(p, p + text.size());
    double t = bench::now() - t0;
    std::printf("fast decode: %.1f MB/s (%u characters)\n", 20 * text.size() / t / 1e6, n);
}

KIV_BENCH(utf8_load)
{
    std::string text = sample_text();
    double t0 = bench::now();
    for (int round = 0; round < 20; round++)
        utf8_load_string(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0, nullptr, true);
    double t = bench::now() - t0;
    std::printf("load into a string: %.1f MB/s\n", 20 * text.size() / t / 1e6);
}

KIV_BENCH(utf16_output)
{
    std::string text = sample_text();
    cell* str = string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0);
    double t0 = bench::now();
    for (int round = 0; round < 20; round++) string_to_utf16(str);
    double t = bench::now() - t0;
    std::printf("string to UTF-16 with CR LF: %.1f M characters/s\n", 20 * string::ks_length_q(str) / t / 1e6);
    stack::pop(1);
}
