// float!: the IEEE double of the language and the numeric core of its children percent! and
// time!; also the routines every module prints doubles with (form_float), compares doubles with
// a tolerance, and draws random doubles with. Arithmetic never traps: infinities and NaN are
// values, and only the routines named here raise errors.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/datatypes/integer.h"

struct float_digits;

namespace float_ {
void init();

// Constants made at start-up.
extern const double largest;         // the largest finite double
extern const double infinity;
extern const double minus_infinity;
extern const double quiet_nan;
extern const double almost_half;     // 0.49999999999999994

// Mirrors system/options/float/pretty?: form drops representation noise while it is 1.
extern int32_t pretty_q;

// What form_float prints: the rules differ by the kind of number.
enum form_kind : int32_t {
    FORM_SINGLE = 0,           // a single-precision vector! element
    FORM_FLOAT = 1,
    FORM_SINGLE_PERCENT = 2,   // a single-precision percent vector! element
    FORM_PERCENT = 3,
    FORM_SECONDS = 4,          // the seconds field of a time!
    FORM_POINT = 5             // a point2D! or point3D! coordinate
};

// ---- constructors (each writes the whole header 12) ---------------------------------------------
cell* push(double value);
cell* push64(uint32_t high, uint32_t low);
cell* make_at(cell* slot, double value);
cell* make_in(cell* blk, uint32_t high, uint32_t low);   // the root block when blk is null
cell* make_in(cell* blk, double value);
cell* box(double value);

inline double get(const cell* c) { return cell_float(c); }
// The double of an integer! or float! cell; any other type raises script/bad-to-arg.
double get_any(const cell* c);

// ---- shared routines ----------------------------------------------------------------------------
int32_t round_to_int(double value);   // value + 0.49999999999999994, truncated (saturated)
double abs(double value);             // the sign bit cleared
bool nan_q(double value);
bool nan32_q(float value);
bool not_finite_q(double value);
bool almost_equal_q(double a, double b);   // the tolerant equality of `=`
bool equal32_q(float a, float b);
// NUL-terminated ASCII text of value for the kind, valid until the next call.
const char* form_float(double value, int32_t kind);
// The digits of d (0.d1d2...dn x 10^point) written without an exponent, the sign first: 0.00ddd,
// dd.dd or dd00 (no point when whole). Valid until the next call.
const char* plain_text(const float_digits& d, int32_t point);
// mold/all of a percent!: the text that reads back as exactly the fraction, valid until the next
// call.
const char* exact_percent_text(double fraction);
double do_math_op(double left, double right, uint32_t code);
// The four operations of do_math_op (MATH_ADD to MATH_DIVIDE) as every float path computes them:
// the action's core and the interpreter's fast path.
inline double basic_op(double left, double right, uint32_t code)
{
    switch (code) {
    case MATH_ADD: return left + right;
    case MATH_SUBTRACT: return left - right;
    case MATH_MULTIPLY: return left * right;
    default: return left / right;
    }
}
// The answer of compare for two doubles (-1, 0, 1) under op: equality tolerant, strict equality
// exact, sameness by bits, and a NaN ordered after every value for lesser and before it for
// greater, so that an ordering with a NaN is false. Shared by compare and the fast path.
inline int32_t compare_doubles(double a, double b, int32_t op)
{
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL:
        return almost_equal_q(a, b) ? 0 : 1;
    case COMP_STRICT_EQUAL:
        return a == b ? 0 : 1;
    case COMP_SAME:
        return __builtin_bit_cast(uint64_t, a) == __builtin_bit_cast(uint64_t, b) ? 0 : 1;
    case COMP_FIND:
        // A search finds a NaN only by a NaN of the same bits; everything else by exact value.
        if (a != a || b != b) return __builtin_bit_cast(uint64_t, a) == __builtin_bit_cast(uint64_t, b) ? 0 : 1;
        return a < b ? -1 : a > b ? 1 : 0;
    default:
        if (a < b) return -1;
        if (a > b) return 1;
        if (a == b) return 0;
        if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
        if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
        return 0;
    }
}
// The typed entry: left is the call's first argument (float!, percent!, time! or integer!) and
// receives the result.
cell* do_math(cell* left, cell* right, uint32_t code);
double random_scaled(double max, bool secure);
double from_binary(const cell* binary);
double from_block(const cell* blk);
// A decimal text of units (1, 2 or 4 bytes each): "," is taken as the point and "'" dropped;
// *status is 0 on success, else the text is not a float.
double from_text(const uint8_t* start, uint32_t count, uint32_t unit, int32_t* status);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);   // make and to
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* absolute(cell* value);
cell* add(cell* value1, cell* value2);
cell* divide(cell* value1, cell* value2);
cell* multiply(cell* value1, cell* value2);
cell* negate(cell* value);
cell* power(cell* base, cell* exponent);
cell* remainder(cell* value1, cell* value2);
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
// The double round works on and its scale (made positive, in percent units for a percent!);
// money! and non-number scales refused. False when the scale is negligible beside the value,
// which then stays as it is, type included.
bool round_scale(const cell* value, cell* scale, double* f, double* sc);
// The rounding itself: value rounded to a multiple of the scale (already made positive and
// adjusted for percents) by the refinements; nothing is stored.
double round_double(double value, double scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                    bool half_ceiling);
cell* subtract(cell* value1, cell* value2);
cell* even_q(cell* value);
cell* odd_q(cell* value);
}  // namespace float_
