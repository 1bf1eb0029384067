// Benchmarks: each file registers named routines that print their own figures.
#pragma once
#include <windows.h>

#include <cstdio>

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
}  // namespace bench

#define KIV_BENCH(name)                                          \
    static void bench_##name();                                  \
    static int bench_reg_##name = bench::add(#name, bench_##name); \
    static void bench_##name()
