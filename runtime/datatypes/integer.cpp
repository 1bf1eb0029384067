// integer!: constructors, the decimal text of an int32, the arithmetic core and the action
// routines. Sums, differences, products and powers are computed with the overflow builtins, so
// no C++ overflow ever happens; -2147483648 / -1 and its remainder are refused before dividing,
// and every double is range-checked before it becomes an int32.
#include "runtime/datatypes/integer.h"

#include <cmath>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/random.h"
#include "runtime/rterror.h"


namespace {

struct integer_state {
    char text[12];   // form_signed's buffer: a sign, ten digits and the NUL, filled from the right
};
integer_state integer_s;

cell* store(cell* slot, int32_t value)
{
    *slot = cell{TYPE_INTEGER, 0, uint32_t(value), 0};
    return slot;
}

[[noreturn]] void overflow() { fire(ERR_MATH, err::OVERFLOW); }

[[noreturn]] void type_fault(uint32_t category, uint32_t id, uint32_t type, const cell* value)
{
    cell t = datatype::value_of(type);
    fire(category, id, &t, value);
}

}  // namespace

// ---- arithmetic shared by the numeric types ----------------------------------------------------

binary_fn integer::math_routine(uint32_t type, uint32_t code)
{
    const action_table_row& row = actions_of(type);
    switch (code) {
    case MATH_ADD: return row.add;
    case MATH_SUBTRACT: return row.subtract;
    case MATH_MULTIPLY: return row.multiply;
    case MATH_DIVIDE: return row.divide;
    case MATH_REMAINDER: return row.remainder;
    case MATH_OR: return row.or_t;
    case MATH_AND: return row.and_t;
    case MATH_XOR: return row.xor_t;
    default: return nullptr;
    }
}

void integer::swap_operands(cell* left, cell* right)
{
    cell old_left = *left;
    *left = *right;
    *right = old_left;
}

cell* integer::by_type_of(cell* first, cell* second, uint32_t type, uint32_t code)
{
    binary_fn routine = math_routine(type, code);
    if (!routine) {
        cell t = datatype::value_of(type);
        fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
    }
    cell* result = routine(first, second);
    return copy_cell(result, first);
}

int32_t integer::compare_reversed(cell* value1, cell* value2, int32_t op)
{
    compare_fn routine = actions_of(cell_type(value2)).compare;
    if (!routine) return -2;
    static constexpr int32_t mirrored[] = {
        COMP_EQUAL, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_GREATER, COMP_GREATER_EQUAL, COMP_LESSER,
        COMP_LESSER_EQUAL, COMP_SORT, COMP_CASE_SORT, COMP_SAME, COMP_STRICT_EQUAL_WORD, COMP_EQUAL_WORD, COMP_FIND};
    cell a = *value2, b = *value1;
    int32_t r = routine(&a, &b, op >= 0 && op <= COMP_FIND ? mirrored[op] : op);
    return r == -2 ? -2 : -r;
}

void integer::not_related(const cell* word, uint32_t type)
{
    cell t = datatype::value_of(type);
    fire(ERR_SCRIPT, err::NOT_RELATED, word, &t);
}

const cell* integer::operation_word(uint32_t code)
{
    switch (code) {
    case MATH_ADD: return rt_word_cell(W_ADD);
    case MATH_MULTIPLY: return rt_word_cell(W_MULTIPLY);
    case MATH_DIVIDE: return rt_word_cell(W_DIVIDE);
    default: return rt_word_cell(W_SUBTRACT);
    }
}

// ---- constructors and accessors -----------------------------------------------------------------

cell* integer::push(int32_t value) { return store(stack::push_slot(), value); }

cell* integer::make_at(cell* slot, int32_t value)
{
    cell_set_type(slot, TYPE_INTEGER);
    slot->data2 = uint32_t(value);
    return slot;
}

cell* integer::make_in(cell* blk, int32_t value) { return store(block_alloc_tail(blk ? blk : &root_block), value); }
cell* integer::box(int32_t value) { return store(stack::arguments(), value); }
int32_t integer::get_arg() { return get(stack::arguments()); }
int32_t integer::get_any_arg()
{
    const cell* arg = stack::arguments();
    return cell_type(arg) == TYPE_INTEGER ? get(arg) : 0;
}

// ---- shared routines ----------------------------------------------------------------------------

bool integer::overflow_q(const cell* f)
{
    double d = cell_float(f);
    return !(d >= -2147483648.0 && d <= 2147483647.0);
}

int32_t integer::sign(int32_t value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

int32_t integer::absolute_checked(int32_t value)
{
    if (value == INT32_MIN) overflow();
    return value < 0 ? -value : value;
}

const char* integer::form_signed(int32_t value)
{
    char* p = integer_s.text + sizeof integer_s.text - 1;
    *p = 0;
    // The magnitude in 32 unsigned bits: -2147483648 has no positive int32 partner.
    uint32_t u = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    do {
        *--p = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (value < 0) *--p = '-';
    return p;
}

int32_t integer::do_math_op(int32_t left, int32_t right, uint32_t code, cell* result)
{
    int32_t r;
    switch (code) {
    case MATH_ADD: case MATH_SUBTRACT: case MATH_MULTIPLY:
        if (small_op(left, right, code, &r)) break;
        if (!result) overflow();
        float_::make_at(result, wide_float(left, right, code));
        return 0;
    case MATH_DIVIDE: case MATH_REMAINDER:
        if (right == 0) fire(ERR_MATH, err::ZERO_DIVIDE);
        if (left == INT32_MIN && right == -1) overflow();
        if (code == MATH_REMAINDER) {
            r = left % right;
            break;
        }
        if (result && left % right != 0) {
            float_::make_at(result, double(left) / double(right));
            return 0;
        }
        r = left / right;
        break;
    case MATH_OR: r = left | right; break;
    case MATH_AND: r = left & right; break;
    case MATH_XOR: r = left ^ right; break;
    default: runtime_error(RT_NO_SWITCH, rt_error_address());
    }
    if (result) result->data2 = uint32_t(r);
    return r;
}

int64_t integer::wide_op(int32_t left, int32_t right, uint32_t code)
{
    const int64_t a = left, b = right;
    switch (code) {
    case MATH_ADD: return a + b;
    case MATH_SUBTRACT: return a - b;
    case MATH_MULTIPLY: return a * b;
    case MATH_DIVIDE: case MATH_REMAINDER:
        if (b == 0) fire(ERR_MATH, err::ZERO_DIVIDE);
        return code == MATH_DIVIDE ? a / b : a % b;
    case MATH_OR: return a | b;
    case MATH_AND: return a & b;
    case MATH_XOR: return a ^ b;
    default: runtime_error(RT_NO_SWITCH, rt_error_address());
    }
}

cell* integer::do_math(cell* left, cell* right, uint32_t code)
{
    uint32_t rt = cell_type(right);
    switch (rt) {
    case TYPE_INTEGER: case TYPE_CHAR:
        do_math_op(get(left), get(right), code, left);
        return left;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        return float_::do_math(left, right, code);
    case TYPE_MONEY:
        return by_type_of(left, right, TYPE_MONEY, code);
    case TYPE_PAIR: case TYPE_POINT2D: case TYPE_POINT3D: case TYPE_TUPLE: {
        // The vector-like types do the arithmetic with the integer as their right operand.
        if (code == MATH_DIVIDE || (rt == TYPE_TUPLE && code == MATH_SUBTRACT))
            not_related(operation_word(code), TYPE_INTEGER);
        swap_operands(left, right);
        if (code == MATH_SUBTRACT) {
            unary_fn negate_first = actions_of(rt).negate;
            if (!negate_first) {
                cell t = datatype::value_of(rt);
                fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
            }
            negate_first(left);
            code = MATH_ADD;
        }
        return by_type_of(left, right, rt, code);
    }
    case TYPE_VECTOR:
        // The vector changes in place with the integer as the left operand: 10 - v is 10 - each.
        swap_operands(left, right);
        return copy_cell(vector::do_math(code, left, right, true), left);
    case TYPE_DATE:
        if (code != MATH_ADD) not_related(rt_word_cell(W_SUBTRACT), TYPE_INTEGER);
        swap_operands(left, right);
        return by_type_of(left, right, TYPE_DATE, code);
    default: {
        cell t = datatype::value_of(rt);
        fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
    }
    }
}

int32_t integer::from_text(const uint8_t* start, uint32_t count, uint32_t unit, int32_t* status)
{
    *status = -1;
    uint32_t i = 0;
    bool negative = false;
    if (count > 0) {
        uint32_t first = string::get_char(start, unit);
        if (first == '+' || first == '-') {
            negative = first == '-';
            i = 1;
        }
    }
    // The magnitude stays within 2^31 + 9 * 10 < 2^63 before each check.
    const uint64_t limit = negative ? 2147483648u : 2147483647u;
    uint64_t magnitude = 0;
    bool digits = false;
    for (; i < count; i++) {
        uint32_t c = string::get_char(start + i * unit, unit);
        if (c == '\'') continue;
        if (c < '0' || c > '9') return 0;
        digits = true;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) {
            *status = -2;
            return 0;
        }
    }
    if (!digits) return 0;
    *status = 0;
    return negative ? int32_t(0 - uint32_t(magnitude)) : int32_t(magnitude);
}

// ---- make and to --------------------------------------------------------------------------------

namespace {

int32_t from_issue(const cell* spec)
{
    uint32_t length;
    const uint8_t* name = symbol::name(word_symbol(spec), &length);
    if (length == 0 || length > 8) fire(ERR_SCRIPT, err::INVALID_DATA, spec);
    uint32_t value = 0;
    for (uint32_t i = 0; i < length; i++) {
        // A byte above 127 belongs to a code point above 127: never a hexadecimal digit.
        uint8_t c = name[i];
        uint32_t digit = c >= '0' && c <= '9' ? c - '0'
                         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                : 16;
        if (digit == 16) fire(ERR_SCRIPT, err::INVALID_DATA, spec);
        value = value * 16 + digit;
    }
    return int32_t(value);
}

int32_t from_binary(const cell* spec)
{
    series_buffer* s = series_of(series_node(spec));
    uint32_t used = series_used_bytes(s);
    uint32_t head = uint32_t(series_head_raw(spec)) < used ? uint32_t(series_head_raw(spec)) : used;
    uint32_t n = used - head < 4 ? used - head : 4;
    const uint8_t* p = at(s->head + head);
    uint32_t value = 0;
    for (uint32_t i = 0; i < n; i++) value = value << 8 | p[i];
    return int32_t(value);
}

int32_t from_string(const cell* spec)
{
    cell str = *spec;
    const uint8_t* head = string::ks_head(&str);
    int32_t status;
    int32_t value = integer::from_text(head, string::ks_length_q(&str), series_unit(series_of(series_node(&str))), &status);
    if (status != 0) type_fault(ERR_SCRIPT, err::BAD_TO_ARG, TYPE_INTEGER, spec);
    return value;
}

// A time rounded to the nearest second; beyond the int32 range it has no integer.
int32_t from_time(const cell* spec)
{
    double t = cell_float(spec) + 0.5;
    if (!(t > -2147483649.0 && t < 2147483648.0)) type_fault(ERR_SCRIPT, err::TYPE_LIMIT, TYPE_INTEGER, nullptr);
    return int32_t(t);
}

}  // namespace

cell* integer::make(cell* proto, cell* spec, uint32_t type)
{
    if (cell_type(spec) == TYPE_LOGIC) return store(proto, spec->data1 == 1 ? 1 : 0);
    return to(proto, spec, type);
}

cell* integer::to(cell* proto, cell* spec, uint32_t)
{
    int32_t value;
    switch (uint32_t t = cell_type(spec)) {
    case TYPE_INTEGER:
        return spec;
    case TYPE_CHAR:
        value = get(spec);
        break;
    case TYPE_FLOAT: case TYPE_PERCENT:
        if (overflow_q(spec)) type_fault(ERR_SCRIPT, err::TYPE_LIMIT, TYPE_INTEGER, nullptr);
        value = int32_t(cell_float(spec));
        break;
    case TYPE_TIME:
        value = from_time(spec);
        break;
    case TYPE_BINARY:
        value = from_binary(spec);
        break;
    case TYPE_ISSUE:
        value = from_issue(spec);
        break;
    case TYPE_MONEY:
        value = money::to_integer(spec);
        break;
    case TYPE_DATE:
        value = date::to_epoch(spec);
        break;
    default:
        if (!any_string_q(t)) type_fault(ERR_SCRIPT, err::BAD_TO_ARG, TYPE_INTEGER, spec);
        value = from_string(spec);
    }
    return store(proto, value);
}

// ---- the other actions --------------------------------------------------------------------------

cell* integer::random(cell* value, bool seed, bool secure, bool)
{
    if (seed) {
        random_::seed(value->data2);
        return unset::make_at(value);
    }
    // Only word 2 changes: a char! stays a char!.
    if (get(value) != 0) value->data2 = uint32_t(random_::int_(get(value), secure));
    return value;
}

int32_t integer::form(cell* value, cell* buffer, cell*, int32_t part)
{
    return string::emit_literal(buffer, form_signed(get(value)), part);
}

int32_t integer::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    return form(value, buffer, arg, part);
}

int32_t integer::compare(cell* value1, cell* value2, int32_t op)
{
    uint32_t t2 = cell_type(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t2 != TYPE_INTEGER) return 1;
    switch (t2) {
    case TYPE_INTEGER: case TYPE_CHAR: {
        return order(get(value1), get(value2));
    }
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
        // The double of the value in a copy that keeps the integer! header: same? stays false.
        cell as_float = *value1;
        cell_set_float(&as_float, double(get(value1)));
        return float_::compare(&as_float, value2, op);
    }
    case TYPE_MONEY:
        return compare_reversed(value1, value2, op);
    default:
        return -2;
    }
}

cell* integer::absolute(cell* value)
{
    value->data2 = uint32_t(absolute_checked(get(value)));
    return value;
}

cell* integer::negate(cell* value)
{
    if (get(value) == INT32_MIN) overflow();
    value->data2 = uint32_t(-get(value));
    return value;
}

cell* integer::complement(cell* value)
{
    value->data2 = ~value->data2;
    return value;
}

cell* integer::even_q(cell* value) { return logic::make_at(value, (value->data2 & 1) == 0); }
cell* integer::odd_q(cell* value) { return logic::make_at(value, value->data2 & 1); }

cell* integer::add(cell* value1, cell* value2) { return do_math(value1, value2, MATH_ADD); }
cell* integer::subtract(cell* value1, cell* value2) { return do_math(value1, value2, MATH_SUBTRACT); }
cell* integer::multiply(cell* value1, cell* value2) { return do_math(value1, value2, MATH_MULTIPLY); }
cell* integer::divide(cell* value1, cell* value2) { return do_math(value1, value2, MATH_DIVIDE); }
cell* integer::remainder(cell* value1, cell* value2) { return do_math(value1, value2, MATH_REMAINDER); }
cell* integer::and_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_AND); }
cell* integer::or_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_OR); }
cell* integer::xor_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_XOR); }

cell* integer::power(cell* base, cell* exponent)
{
    uint32_t et = cell_type(exponent);
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) fire_expect_arg(0, et);
    if (et == TYPE_INTEGER && get(exponent) >= 0) {
        // Exponentiation by squaring; an overflowing product hands the work to the float power.
        int32_t b = get(base), e = get(exponent), result = 1;
        bool exact = true;
        while (e != 0 && exact) {
            if ((e & 1) && __builtin_mul_overflow(result, b, &result)) exact = false;
            e >>= 1;
            int32_t squared;
            if (__builtin_mul_overflow(b, b, &squared) && e > 0) exact = false;
            b = squared;
        }
        if (exact) {
            base->data2 = uint32_t(result);
            return base;
        }
    }
    float_::make_at(base, double(get(base)));
    return float_::power(base, exponent);
}

cell* integer::round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                     bool half_ceiling)
{
    const int32_t v = get(value);
    if (v == INT32_MIN) return value;
    int64_t sc = 1;
    if (arg_given(scale)) {
        uint32_t st = cell_type(scale);
        if (st == TYPE_MONEY) {
            cell word = running_function_word();
            not_related(&word, TYPE_MONEY);
        }
        if (st != TYPE_INTEGER) {
            float_::make_at(value, double(v));
            return float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
        }
        sc = absolute_checked(get(scale));
    }
    if (sc == 0) return value;
    // In 64 bits: the multiple above n may pass 2147483647, which the result must not.
    const int64_t n = v < 0 ? -int64_t(v) : v;
    const int64_t r = n % sc;
    if (r == 0) return value;
    const int64_t s = sc - r, m = n + s;
    const bool beyond = m > INT32_MAX;
    auto toward_zero = [&] { return v > 0 ? n - r : r - n; };
    auto away_from_zero = [&] {
        if (beyond) overflow();
        return v > 0 ? m : -m;
    };
    int64_t result;
    if (down) {
        result = toward_zero();
    } else if (floor) {
        if (beyond) overflow();
        result = v > 0 ? n - r : -m;
    } else if (ceiling) {
        if (beyond) overflow();
        result = v < 0 ? r - n : m;
    } else if (r < s) {
        result = toward_zero();
    } else if (r > s) {
        result = away_from_zero();
    } else if (even) {
        result = (n / sc) % 2 == 0 ? toward_zero() : away_from_zero();
    } else if (half_down) {
        result = toward_zero();
    } else if (half_ceiling) {
        if (beyond) overflow();
        result = v >= 0 ? m : r - n;
    } else {
        result = away_from_zero();
    }
    value->data2 = uint32_t(int32_t(result));
    return value;
}

void integer::init()
{
    datatype::register_type(TYPE_INTEGER, 0, "integer!", {
        .make = make, .random = random, .to = to, .form = form, .mold = mold, .compare = compare,
        .absolute = absolute, .add = add, .divide = divide, .multiply = multiply, .negate = negate,
        .power = power, .remainder = remainder, .round = round, .subtract = subtract, .even_q = even_q,
        .odd_q = odd_q, .and_t = and_t, .complement = complement, .or_t = or_t, .xor_t = xor_t});
}
