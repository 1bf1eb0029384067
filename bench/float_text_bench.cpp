// Float text conversion speed both ways, on a fixed sample: random bit patterns and short
// decimals such as 0.1 or 250.75. Mold's text (float_form_into, the shortest round trip) beside the
// toolchain's shortest std::to_chars as the yardstick; form's 16 exactly rounded digits
// (float_form_g) and reading take the big-integer paths on the random sample.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "runtime/float_text.h"

namespace {

void measure(const char* label, const std::vector<double>& values)
{
    const int rounds = 5;
    std::vector<std::string> texts;
    texts.reserve(values.size());
    for (double v : values) texts.emplace_back(float_form(v, 0, 1));

    char text[64];
    size_t total = 0;
    double t0 = bench::now();
    for (int r = 0; r < rounds; r++)
        for (double v : values) total += float_form_into(v, 0, 1, text, sizeof text);
    double to_text = bench::now() - t0;

    size_t yardstick = 0;
    t0 = bench::now();
    for (int r = 0; r < rounds; r++)
        for (double v : values) yardstick += size_t(std::to_chars(text, text + sizeof text, v).ptr - text);
    double to_chars = bench::now() - t0;

    size_t formed = 0;
    t0 = bench::now();
    for (int r = 0; r < rounds; r++)
        for (double v : values) formed += float_form_g(v, 16, text, sizeof text);
    double form16 = bench::now() - t0;

    size_t finite = 0;
    t0 = bench::now();
    for (int r = 0; r < rounds; r++)
        for (const std::string& t : texts)
            finite += std::isfinite(text_to_float(t.data(), t.size(), 0, nullptr));
    double to_float = bench::now() - t0;

    double n = double(values.size()) * rounds;
    std::printf("%-16s mold %6.2f M/s   std::to_chars %6.2f M/s   form %%.16g %6.2f M/s   "
                "text_to_float %6.2f M/s   (%zu/%zu/%zu chars, %zu finite)\n",
                label, n / to_text / 1e6, n / to_chars / 1e6, n / form16 / 1e6, n / to_float / 1e6, total,
                yardstick, formed, finite);
}

}  // namespace

KIV_BENCH(float_text)
{
    std::mt19937_64 rng(42);
    const size_t n = 200000;
    std::vector<double> any, short_decimals;
    while (any.size() < n) {
        double v = std::bit_cast<double>(rng());
        if (v == v && v - v == 0) any.push_back(v);
    }
    for (size_t i = 0; i < n; i++) short_decimals.push_back(double(rng() % 100000) / 100.0);
    measure("random bits", any);
    measure("short decimals", short_decimals);
}
