// Float text conversion speed both ways, on a fixed sample: random bit patterns (mostly the big
// integer paths) and short decimals such as 0.1 or 250.75 (mostly the double fast paths).
#include <bit>
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

    size_t total = 0;
    double t0 = bench::now();
    for (int r = 0; r < rounds; r++)
        for (double v : values) total += std::strlen(float_form(v, 0, 1));
    double to_text = bench::now() - t0;

    size_t finite = 0;
    t0 = bench::now();
    for (int r = 0; r < rounds; r++)
        for (const std::string& t : texts)
            finite += std::isfinite(text_to_float(t.data(), t.size(), 0, nullptr));
    double to_float = bench::now() - t0;

    double n = double(values.size()) * rounds;
    std::printf("%-16s float_form %6.2f M/s   text_to_float %6.2f M/s   (%zu chars, %zu finite)\n",
                label, n / to_text / 1e6, n / to_float / 1e6, total, finite);
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
