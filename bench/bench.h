// Benchmarks: each file registers named routines that print their own figures.
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {
using routine = void (*)();
int add(const char* name, routine r);

// When main began, when the runtime had started and when the boot had run (performance counter).
struct start_times { double entry, started, booted; };
extern start_times started;

// Seconds on the performance counter.
inline double now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

// The best time of several rounds, in seconds.
template <class F>
double best_seconds(int rounds, F&& work)
{
    double best = 1e30;
    for (int i = 0; i < rounds; i++) {
        double t0 = now();
        work();
        double t = now() - t0;
        if (t < best) best = t;
    }
    return best;
}

// Evaluates Kiv source text; false when it raised an error.
bool run_source(const char* text);

// A reference tool's figure for a name, passed in an environment variable as
// "name=value,name=value" by the bench/*-reference scripts; 0 when absent.
inline double reference_figure(const char* variable, const char* name)
{
    const char* all = std::getenv(variable);
    if (!all) return 0;
    std::string key = std::string(name) + "=";
    const char* at = std::strstr(all, key.c_str());
    return at ? std::atof(at + key.size()) : 0;
}
}  // namespace bench

#define KIV_BENCH(name)                                          \
    static void bench_##name();                                  \
    static int bench_reg_##name = bench::add(#name, bench_##name); \
    static void bench_##name()
