// Runs every registered benchmark, or those named on the command line.
#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <vector>

#include "bench/bench.h"
#include "runtime/boot.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/io/lexer.h"
#include "runtime/stack.h"
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

bool bench::run_source(const char* text)
{
    stack::scope keep;
    cell* source = string::load_at(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)),
                                   keep.push(none_value), 0);
    cell* code = keep.push(none_value);
    interpreter::catch_point point;
    try {
        lexer::scan_from_string(code, source, -1, lexer::scan_request{}, nullptr);
        interpreter::eval(code, false);
    } catch (const script_error_unwind&) {
        point.restore();
        return false;
    }
    return true;
}

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
