// The C runtime library's math functions (msvcrt.dll), looked up once by name. A statically linked
// program would otherwise get the toolchain's own replacements, whose results differ from the
// runtime library's by an ulp or more (pow(10, -2) came out as 0.010000000000000002). When the
// library or a name is missing, the toolchain's function stands in.
#pragma once

namespace crt_math {

double pow(double x, double y);
double exp(double x);
double log(double x);
double log10(double x);
double sqrt(double x);
double sin(double x);
double cos(double x);
double tan(double x);
double asin(double x);
double acos(double x);
double atan(double x);
double atan2(double y, double x);

// True when every function above is the runtime library's own.
bool from_runtime_library();

}  // namespace crt_math
