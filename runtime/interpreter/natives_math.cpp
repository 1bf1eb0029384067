// Math natives: the sign tests, max and min, shift, to-hex, the trigonometric natives (in degrees
// unless /radians), the logarithms, exp and square-root. Floating-point work uses the C runtime
// library's functions (crt_math); nothing here converts a double to an integer without a range
// check first.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/crt_math.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/stack.h"

namespace {

constexpr double PI = 3.141592653589793;
constexpr double LN2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;
constexpr double SNAP = 2.220446049250313e-16;

inline cell* base() { return stack_s.arguments; }
inline bool used(const int32_t* refs, int i) { return refs[i] >= 0; }

inline bool floatish(uint32_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME; }

// The double of an integer!, float! or percent! argument (the other types never reach here: the
// specs admit only these).
double number_to_float(const cell* value)
{
    return cell_type(value) == TYPE_INTEGER ? double(integer_of(value)) : cell_float(value);
}

void float_result(double d) { float_::make_at(base(), d); }

// The sign of a number: -1, 0 or 1; NaN counts as 0 (neither negative nor positive).
int32_t sign_of(const cell* value)
{
    uint32_t t = cell_type(value);
    if (t == TYPE_INTEGER) return integer::sign(integer_of(value));
    if (floatish(t)) {
        double d = cell_float(value);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    if (t == TYPE_MONEY) return money::sign_of(money::get(value));
    fire_expect_arg(0, t);
}

// Degrees reduced by 360 into (-180, 180].
double reduce_degrees(double deg)
{
    double x = std::fmod(deg, 360.0);
    if (x > 180.0) x -= 360.0;
    else if (x <= -180.0) x += 360.0;
    return x;
}

double snap(double r) { return std::fabs(r) < SNAP ? 0.0 : r; }

enum trig_kind { TRIG_SINE, TRIG_COSINE, TRIG_TANGENT };

// math/trig: the angle of base[0] in degrees (or radians) through the function.
double trig(trig_kind kind, bool radians)
{
    double angle = number_to_float(base());
    if (!radians) {
        angle = reduce_degrees(angle);
        if (kind == TRIG_TANGENT) {
            // tan has period 180: bring the angle into [-90, 90] so that both poles are exact.
            if (angle > 90.0) angle -= 180.0;
            else if (angle < -90.0) angle += 180.0;
            if (angle == 90.0) return 1.0 / 0.0;
            if (angle == -90.0) return -1.0 / 0.0;
        }
        angle = angle * PI / 180.0;
    }
    switch (kind) {
    case TRIG_SINE: return snap(crt_math::sin(angle));
    case TRIG_COSINE: return snap(crt_math::cos(angle));
    default:
        if (angle == PI / 2) return 1.0 / 0.0;
        if (angle == -PI / 2) return -1.0 / 0.0;
        return crt_math::tan(angle);
    }
}

// math/arc: radians turned into degrees unless asked for radians.
double arc(double radians_value, bool radians) { return radians ? radians_value : radians_value * 180.0 / PI; }

// ---- max and min --------------------------------------------------------------------------------

bool nan_number_q(const cell* v)
{
    uint32_t t = cell_type(v);
    return (t == TYPE_FLOAT || t == TYPE_PERCENT) && std::isnan(cell_float(v));
}
bool plain_number_q(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }
bool vector_like_q(uint32_t t) { return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TUPLE; }

// The coordinates of a pair!, point2D! or point3D!, or the bytes of a tuple!, as doubles; a number
// spread over the shape of one of them.
struct elements {
    uint32_t type;
    uint32_t count;
    double at[tuple::MAX_BYTES];
};

elements elements_of(const cell* v)
{
    elements e{cell_type(v), 0, {}};
    if (e.type == TYPE_PAIR) {
        e.count = 2;
        e.at[0] = pair::x_of(v);
        e.at[1] = pair::y_of(v);
    } else if (e.type == TYPE_TUPLE) {
        e.count = tuple::size_of(v);
        for (uint32_t i = 0; i < e.count; i++) e.at[i] = tuple::bytes_of(v)[i];
    } else {
        e.count = e.type == TYPE_POINT2D ? 2 : 3;
        for (uint32_t i = 0; i < e.count; i++) e.at[i] = point2D::get(v, i);
    }
    return e;
}

// A number over the shape of `like`. Where integers are needed (a pair's, a tuple's) a float is
// truncated; a pair then becomes a point2D! when the float is no 32-bit integer, and a tuple
// refuses it.
elements spread(const cell* number, elements& like)
{
    double n = number_to_float(number);
    if (cell_type(number) != TYPE_INTEGER && (like.type == TYPE_PAIR || like.type == TYPE_TUPLE)) {
        bool fits = n > -2147483649.0 && n < 2147483648.0;
        if (fits) n = std::trunc(n);
        else if (like.type == TYPE_PAIR) like.type = TYPE_POINT2D;
        else {
            cell t = datatype::value_of(TYPE_INTEGER);
            fire(ERR_SCRIPT, err::TYPE_LIMIT, &t);
        }
    }
    elements e{like.type, like.count, {}};
    for (uint32_t i = 0; i < e.count; i++) e.at[i] = n;
    return e;
}

// The two shapes compared element by element: the same type, or a pair! with a point2D! (both
// taken as points). False for shapes that do not go together.
bool common_shape(elements& a, elements& b)
{
    if (a.type != b.type) {
        bool pair_point = (a.type == TYPE_PAIR && b.type == TYPE_POINT2D) || (a.type == TYPE_POINT2D && b.type == TYPE_PAIR);
        if (!pair_point) return false;
        a.type = b.type = TYPE_POINT2D;
    }
    a.count = b.count = std::max(a.count, b.count);   // a shorter tuple's missing bytes count as 0
    return true;
}

// The greater (lesser) element; a NaN wins.
double winner(double a, double b, bool max)
{
    if (std::isnan(a)) return a;
    if (std::isnan(b)) return b;
    return max ? (a >= b ? a : b) : (a <= b ? a : b);
}

// max and min of a pair!, point! or tuple! with a number or with another of them, element by
// element, into the first argument. False when the values do not go together element-wise.
bool max_min_elements(cell* a, const cell* b, bool max)
{
    bool va = vector_like_q(cell_type(a)), vb = vector_like_q(cell_type(b));
    elements x, y;
    if (va && vb) {
        x = elements_of(a);
        y = elements_of(b);
        if (!common_shape(x, y)) return false;
    } else if (va) {
        x = elements_of(a);
        y = spread(b, x);
        x.type = y.type;
    } else {
        y = elements_of(b);
        x = spread(a, y);
        y.type = x.type;
    }
    double r[tuple::MAX_BYTES];
    for (uint32_t i = 0; i < x.count; i++) r[i] = winner(x.at[i], y.at[i], max);
    switch (x.type) {
    case TYPE_PAIR: pair::make_at(a, int32_t(r[0]), int32_t(r[1])); break;
    case TYPE_POINT2D: point2D::make_at(a, point2D::to_single(r[0]), point2D::to_single(r[1])); break;
    case TYPE_POINT3D:
        point3D::make_at(a, point2D::to_single(r[0]), point2D::to_single(r[1]), point2D::to_single(r[2]));
        break;
    default: {
        uint8_t bytes[tuple::MAX_BYTES];
        for (uint32_t i = 0; i < x.count; i++) bytes[i] = uint8_t(std::clamp(r[i], 0.0, 255.0));
        tuple::make_at(a, bytes, x.count);
    }
    }
    return true;
}

void max_min(bool max)
{
    cell* a = base();
    cell* b = base() + 1;
    uint32_t ta = cell_type(a), tb = cell_type(b);
    // A NaN wins against any plain number.
    if (plain_number_q(ta) && plain_number_q(tb)) {
        if (nan_number_q(a)) return;
        if (nan_number_q(b)) {
            *a = *b;
            return;
        }
    }
    bool shaped = (vector_like_q(ta) && (vector_like_q(tb) || plain_number_q(tb))) ||
                  (vector_like_q(tb) && plain_number_q(ta));
    if (shaped && max_min_elements(a, b, max)) return;
    // An integer against a float or percent is compared as floats, the winner returned whole.
    bool first_wins;
    if (ta == TYPE_INTEGER && (tb == TYPE_FLOAT || tb == TYPE_PERCENT)) {
        double x = integer_of(a), y = cell_float(b);
        first_wins = max ? x >= y : x <= y;
    } else if (tb == TYPE_INTEGER && (ta == TYPE_FLOAT || ta == TYPE_PERCENT)) {
        double x = cell_float(a), y = integer_of(b);
        first_wins = max ? x >= y : x <= y;
    } else {
        first_wins = actions::compare(a, b, max ? COMP_GREATER_EQUAL : COMP_LESSER_EQUAL);
    }
    if (!first_wins) *a = *b;
}

}  // namespace

// ---- sign tests ---------------------------------------------------------------------------------

void natives::negative_q_star(bool, const int32_t*) { logic::make_at(base(), sign_of(base()) < 0); }
void natives::positive_q_star(bool, const int32_t*) { logic::make_at(base(), sign_of(base()) > 0); }
void natives::sign_q_star(bool, const int32_t*) { integer::make_at(base(), sign_of(base())); }

void natives::zero_q_star(bool, const int32_t*)
{
    cell* v = base();
    uint32_t t = cell_type(v);
    bool zero = false;
    if (t == TYPE_INTEGER || t == TYPE_CHAR) zero = v->data2 == 0;
    else if (floatish(t)) zero = cell_float(v) == 0.0;
    else if (t == TYPE_MONEY) zero = money::sign_of(money::get(v)) == 0;
    else if (vector_like_q(t)) {
        elements e = elements_of(v);
        zero = std::all_of(e.at, e.at + e.count, [](double d) { return d == 0.0; });
    }
    logic::make_at(v, zero);
}

void natives::nan_q_star(bool, const int32_t*)
{
    cell* v = base();
    logic::make_at(v, cell_type(v) != TYPE_INTEGER && std::isnan(cell_float(v)));
}

void natives::max_star(bool, const int32_t*) { max_min(true); }
void natives::min_star(bool, const int32_t*) { max_min(false); }

// ---- bits ---------------------------------------------------------------------------------------

void natives::shift_star(bool, const int32_t* refs)
{
    int32_t data = integer_of(base());
    int32_t bits = integer_of(base() + 1);
    if (bits < 0) bits = 0;
    int32_t r;
    if (used(refs, 0)) r = bits < 32 ? int32_t(uint32_t(data) << bits) : 0;
    else if (used(refs, 1)) r = bits < 32 ? int32_t(uint32_t(data) >> bits) : 0;
    else r = bits < 32 ? data >> bits : data < 0 ? -1 : 0;
    integer::make_at(base(), r);
}

void natives::to_hex_star(bool, const int32_t* refs)
{
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", uint32_t(integer_of(base())));
    int32_t length = 8;
    if (used(refs, 0)) {
        cell* size = base() + refs[0];
        length = integer_of(size);
        if (length <= 0) fire(ERR_SCRIPT, err::INVALID_ARG, size);
        if (length > 8) length = 8;
    }
    issue::make_at(base(), digits + 8 - length);
}

// ---- trigonometry, logarithms, roots ------------------------------------------------------------

void natives::sine_star(bool, const int32_t* refs) { float_result(trig(TRIG_SINE, used(refs, 0))); }
void natives::cosine_star(bool, const int32_t* refs) { float_result(trig(TRIG_COSINE, used(refs, 0))); }
void natives::tangent_star(bool, const int32_t* refs) { float_result(trig(TRIG_TANGENT, used(refs, 0))); }
void natives::arcsine_star(bool, const int32_t* refs)
{
    float_result(arc(crt_math::asin(number_to_float(base())), used(refs, 0)));
}
void natives::arccosine_star(bool, const int32_t* refs)
{
    float_result(arc(crt_math::acos(number_to_float(base())), used(refs, 0)));
}
void natives::arctangent_star(bool, const int32_t* refs)
{
    float_result(arc(crt_math::atan(number_to_float(base())), used(refs, 0)));
}
void natives::arctangent2_star(bool, const int32_t* refs)
{
    float_result(arc(crt_math::atan2(number_to_float(base()), number_to_float(base() + 1)), used(refs, 0)));
}

void natives::log_2_star(bool, const int32_t*) { float_result(crt_math::log(number_to_float(base())) / LN2); }
void natives::log_10_star(bool, const int32_t*) { float_result(crt_math::log10(number_to_float(base()))); }
void natives::log_e_star(bool, const int32_t*) { float_result(crt_math::log(number_to_float(base()))); }
void natives::exp_star(bool, const int32_t*) { float_result(crt_math::pow(E, number_to_float(base()))); }
void natives::square_root_star(bool, const int32_t*) { float_result(crt_math::sqrt(number_to_float(base()))); }
