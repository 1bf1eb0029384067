// Runs every registered benchmark, or those named on the command line.
#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <vector>

#include "bench/bench.h"
#include "runtime/boot.h"
#include "runtime/rterror.h"
#include "runtime/runtime.h"

namespace {
struct entry { const char* name; bench::routine r; };
std::vector<entry>& entries()
{
    static std::vector<entry> list;
    return list;
}
}  // namespace

bench::start_times bench::started;

int bench::add(const char* name, routine r)
{
    entries().push_back({name, r});
    return 0;
}

int main(int argc, char** argv)
{
    rt_install_filter();
    double t0 = bench::now();
    runtime::start();   // as the real entry starts
    double t1 = bench::now();
    runtime::boot();
    bench::started = {t0, t1, bench::now()};
    // The benchmarks print narrow text; the runtime put the standard streams in UTF-16 mode.
    _setmode(_fileno(stdout), _O_TEXT);
    for (const entry& e : entries()) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; i++) wanted |= std::strcmp(argv[i], e.name) == 0;
        if (!wanted) continue;
        std::printf("== %s\n", e.name);
        e.r();
        std::fflush(stdout);
    }
    return 0;
}
