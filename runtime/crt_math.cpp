// The runtime library's math functions, resolved on first use. The table starts out pointing at
// one routine that fills it, so no call can come before the lookup, whatever the order of static
// initialisation.
#include "runtime/crt_math.h"

#include <windows.h>

#include <cmath>

namespace {

using unary = double (*)(double);
using binary = double (*)(double, double);

struct crt_math_state {
    binary pow, atan2;
    unary exp, log, log10, sqrt, sin, cos, tan, asin, acos, atan;
    bool from_library;
};

void resolve();
extern crt_math_state crt_math_s;

// The toolchain's functions, for a name the library lacks.
double std_pow(double x, double y) { return std::pow(x, y); }
double std_atan2(double y, double x) { return std::atan2(y, x); }
double std_exp(double x) { return std::exp(x); }
double std_log(double x) { return std::log(x); }
double std_log10(double x) { return std::log10(x); }
double std_sqrt(double x) { return std::sqrt(x); }
double std_sin(double x) { return std::sin(x); }
double std_cos(double x) { return std::cos(x); }
double std_tan(double x) { return std::tan(x); }
double std_asin(double x) { return std::asin(x); }
double std_acos(double x) { return std::acos(x); }
double std_atan(double x) { return std::atan(x); }

// The first call of any function resolves the whole table, then calls through it.
double first_pow(double x, double y) { return resolve(), crt_math_s.pow(x, y); }
double first_atan2(double y, double x) { return resolve(), crt_math_s.atan2(y, x); }
double first_exp(double x) { return resolve(), crt_math_s.exp(x); }
double first_log(double x) { return resolve(), crt_math_s.log(x); }
double first_log10(double x) { return resolve(), crt_math_s.log10(x); }
double first_sqrt(double x) { return resolve(), crt_math_s.sqrt(x); }
double first_sin(double x) { return resolve(), crt_math_s.sin(x); }
double first_cos(double x) { return resolve(), crt_math_s.cos(x); }
double first_tan(double x) { return resolve(), crt_math_s.tan(x); }
double first_asin(double x) { return resolve(), crt_math_s.asin(x); }
double first_acos(double x) { return resolve(), crt_math_s.acos(x); }
double first_atan(double x) { return resolve(), crt_math_s.atan(x); }

crt_math_state crt_math_s = {first_pow, first_atan2, first_exp, first_log, first_log10, first_sqrt, first_sin,
                             first_cos, first_tan, first_asin, first_acos, first_atan, false};

template <typename F>
F lookup(HMODULE library, const char* name, F fallback, bool& all)
{
    FARPROC found = library ? GetProcAddress(library, name) : nullptr;
    if (!found) {
        all = false;
        return fallback;
    }
    return reinterpret_cast<F>(reinterpret_cast<void*>(found));
}

void resolve()
{
    // Loaded for good: the process keeps the library to its end.
    HMODULE library = LoadLibraryW(L"msvcrt.dll");
    bool all = true;
    crt_math_s.pow = lookup<binary>(library, "pow", std_pow, all);
    crt_math_s.atan2 = lookup<binary>(library, "atan2", std_atan2, all);
    crt_math_s.exp = lookup<unary>(library, "exp", std_exp, all);
    crt_math_s.log = lookup<unary>(library, "log", std_log, all);
    crt_math_s.log10 = lookup<unary>(library, "log10", std_log10, all);
    crt_math_s.sqrt = lookup<unary>(library, "sqrt", std_sqrt, all);
    crt_math_s.sin = lookup<unary>(library, "sin", std_sin, all);
    crt_math_s.cos = lookup<unary>(library, "cos", std_cos, all);
    crt_math_s.tan = lookup<unary>(library, "tan", std_tan, all);
    crt_math_s.asin = lookup<unary>(library, "asin", std_asin, all);
    crt_math_s.acos = lookup<unary>(library, "acos", std_acos, all);
    crt_math_s.atan = lookup<unary>(library, "atan", std_atan, all);
    crt_math_s.from_library = all;
}

}  // namespace

double crt_math::pow(double x, double y) { return crt_math_s.pow(x, y); }
double crt_math::exp(double x) { return crt_math_s.exp(x); }
double crt_math::log(double x) { return crt_math_s.log(x); }
double crt_math::log10(double x) { return crt_math_s.log10(x); }
double crt_math::sqrt(double x) { return crt_math_s.sqrt(x); }
double crt_math::sin(double x) { return crt_math_s.sin(x); }
double crt_math::cos(double x) { return crt_math_s.cos(x); }
double crt_math::tan(double x) { return crt_math_s.tan(x); }
double crt_math::asin(double x) { return crt_math_s.asin(x); }
double crt_math::acos(double x) { return crt_math_s.acos(x); }
double crt_math::atan(double x) { return crt_math_s.atan(x); }
double crt_math::atan2(double y, double x) { return crt_math_s.atan2(y, x); }

bool crt_math::from_runtime_library()
{
    if (crt_math_s.pow == first_pow) resolve();
    return crt_math_s.from_library;
}
