// pair!: constructors, conversions, arithmetic with its promotion to point2D!, rounding, paths and
// text. Every component operation is computed exactly in 64 bits before it is stored, and every
// double is range-checked before it becomes a component.
#include "runtime/datatypes/pair.h"

#include <cmath>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/random.h"

namespace {

cell* store(cell* slot, int32_t x, int32_t y)
{
    *slot = cell{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)};
    return slot;
}

bool in_int32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// A double truncated toward zero; script/invalid-arg (with `arg`) when it is not finite or the
// truncation leaves the 32-bit range.
int32_t truncated(double d, const cell* arg)
{
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ERR_SCRIPT, err::INVALID_ARG, arg);
    return int32_t(d);
}

int32_t whole_number(const cell* c)
{
    return cell_type(c) == TYPE_INTEGER ? int32_t(c->data2) : truncated(cell_float(c), c);
}

[[noreturn]] void invalid_type(uint32_t type)
{
    cell t = datatype::value_of(type);
    fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
}

// The operation redone on points: left becomes the point2D! of the pair, right (an operand already
// turned into a point2D!) is applied to it.
cell* as_points(cell* left, const cell& right, uint32_t code)
{
    point2D::from_pair(left, left);
    cell r = right;
    return point2D::do_math(left, &r, code);
}

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

cell* pair::make_at(cell* slot, int32_t x, int32_t y) { return store(slot, x, y); }
cell* pair::make_in(cell* blk, int32_t x, int32_t y) { return store(block_alloc_tail(blk ? blk : &root_block), x, y); }
cell* pair::push(int32_t x, int32_t y) { return store(stack::push_slot(), x, y); }

// ---- make and to --------------------------------------------------------------------------------

cell* pair::make(cell* proto, cell* spec, uint32_t)
{
    switch (uint32_t t = cell_type(spec)) {
    case TYPE_PAIR:
        return spec;
    case TYPE_INTEGER: case TYPE_FLOAT: {
        int32_t n = whole_number(spec);
        return store(proto, n, n);
    }
    case TYPE_POINT2D:
        return store(proto, truncated(point2D::get(spec, 0), spec), truncated(point2D::get(spec, 1), spec));
    case TYPE_BLOCK: {
        const cell* items = block::rs_head(spec);
        bool numbers = block::rs_length(spec) >= 2;
        for (uint32_t i = 0; i < 2 && numbers; i++)
            numbers = cell_type(items + i) == TYPE_INTEGER || cell_type(items + i) == TYPE_FLOAT;
        if (!numbers) fire(ERR_SYNTAX, err::MALCONSTRUCT, spec);
        return store(proto, whole_number(items), whole_number(items + 1));
    }
    default: {
        if (any_string_q(t)) {
            cell loaded = *word::load_as(spec, TYPE_PAIR);
            stack::pop(1);
            return copy_cell(&loaded, proto);
        }
        cell named = datatype::value_of(TYPE_PAIR);
        fire(ERR_SCRIPT, err::BAD_TO_ARG, &named, spec);
    }
    }
}

// ---- random -------------------------------------------------------------------------------------

cell* pair::random(cell* value, bool seed, bool secure, bool)
{
    if (seed) {
        random_::seed(value->data2 ^ value->data3);
        return unset::make_at(value);
    }
    if (x_of(value)) value->data2 = uint32_t(random_::int_(x_of(value), secure));
    if (y_of(value)) value->data3 = uint32_t(random_::int_(y_of(value), secure));
    return value;
}

// ---- text ---------------------------------------------------------------------------------------

int32_t pair::form(cell* value, cell* buffer, cell*, int32_t part)
{
    const int32_t y = y_of(value);   // form_signed's text lives until its next call
    part = string::emit_literal(buffer, integer::form_signed(x_of(value)), part);
    part = string::emit_literal(buffer, "x", part);
    return string::emit_literal(buffer, integer::form_signed(y), part);
}

int32_t pair::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    return form(value, buffer, arg, part);
}

// ---- paths and pick -----------------------------------------------------------------------------

cell* pair::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool, bool,
                      bool)
{
    uint32_t i = cell_type(element) == TYPE_INTEGER ? element->data2 : point2D::axis_word(element);
    if (i != 1 && i != 2) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    if (!value) return integer::push(int32_t((&parent->data2)[i - 1]));
    if (cell_type(value) != TYPE_INTEGER) invalid_type(cell_type(value));
    (&parent->data2)[i - 1] = value->data2;
    return value;
}

cell* pair::pick(cell* value, int32_t n, cell* index)
{
    int32_t i = n;
    if (cell_type(index) == TYPE_WORD) {
        i = int32_t(point2D::axis_word(index));
        if (i != 1 && i != 2) fire(ERR_SCRIPT, err::CANNOT_USE, index, value);
    }
    if (i != 1 && i != 2) fire(ERR_SCRIPT, err::OUT_OF_RANGE, index);
    return integer::make_at(value, int32_t((&value->data2)[i - 1]));
}

// ---- comparison ---------------------------------------------------------------------------------

int32_t pair::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) == TYPE_POINT2D) {
        cell point;
        point2D::from_pair(value1, &point);
        return point2D::compare(&point, value2, op);
    }
    if (cell_type(value2) != TYPE_PAIR) return -2;
    int32_t a = x_of(value1), b = x_of(value2);
    if (a == b) {
        a = y_of(value1);
        b = y_of(value2);
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

// ---- arithmetic ---------------------------------------------------------------------------------

cell* pair::do_math(cell* left, cell* right, uint32_t code)
{
    int32_t a, b;   // the right operand per component
    switch (uint32_t rt = cell_type(right)) {
    case TYPE_INTEGER:
        a = b = int32_t(right->data2);
        break;
    case TYPE_FLOAT: case TYPE_PERCENT: {
        // A scale keeps its fraction: the result is a point.
        double f = cell_float(right);
        if ((code == MATH_MULTIPLY && std::isfinite(f)) || (code == MATH_DIVIDE && !std::isnan(f))) {
            cell scale = *right;
            cell_set_type(&scale, TYPE_FLOAT);
            point2D::from_pair(left, left);
            return point2D::do_math(left, &scale, code);
        }
        a = b = truncated(f, right);
        break;
    }
    case TYPE_PAIR:
        a = x_of(right);
        b = y_of(right);
        break;
    case TYPE_POINT2D:
        // Points have no bitwise operations, whichever operand comes first.
        if (code > MATH_REMAINDER) invalid_type(rt);
        return as_points(left, *right, code);
    default:
        invalid_type(rt);
    }
    int64_t x = integer::wide_op(x_of(left), a, code), y = integer::wide_op(y_of(left), b, code);
    if (in_int32(x) && in_int32(y)) return store(left, int32_t(x), int32_t(y));
    cell operand;
    return as_points(left, *point2D::make_at(&operand, float(a), float(b)), code);
}

cell* pair::add(cell* value1, cell* value2) { return do_math(value1, value2, MATH_ADD); }
cell* pair::subtract(cell* value1, cell* value2) { return do_math(value1, value2, MATH_SUBTRACT); }
cell* pair::multiply(cell* value1, cell* value2) { return do_math(value1, value2, MATH_MULTIPLY); }
cell* pair::divide(cell* value1, cell* value2) { return do_math(value1, value2, MATH_DIVIDE); }
cell* pair::remainder(cell* value1, cell* value2) { return do_math(value1, value2, MATH_REMAINDER); }
cell* pair::and_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_AND); }
cell* pair::or_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_OR); }
cell* pair::xor_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_XOR); }

cell* pair::absolute(cell* value)
{
    return store(value, integer::absolute_checked(x_of(value)), integer::absolute_checked(y_of(value)));
}

cell* pair::negate(cell* value)
{
    // -2147483648 has no negative: an overflow, as for absolute.
    if (x_of(value) == INT32_MIN || y_of(value) == INT32_MIN) fire(ERR_MATH, err::OVERFLOW);
    return store(value, -x_of(value), -y_of(value));
}

cell* pair::reverse(cell* value, cell*, cell*) { return store(value, y_of(value), x_of(value)); }

cell* pair::round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                  bool half_ceiling)
{
    const bool to = arg_given(scale);
    const cell s = to ? *scale : unset_value;
    if (cell_type(&s) == TYPE_MONEY) {
        cell word = running_function_word();
        integer::not_related(&word, TYPE_MONEY);
    }
    // A point scale rounds the pair as a point: the multiples need not be whole.
    if (cell_type(&s) == TYPE_POINT2D || cell_type(&s) == TYPE_POINT3D) {
        point2D::from_pair(value, value);
        return point2D::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    }
    int32_t result[2];
    // integer::round reads a scale as given only above the arguments base: the cells go on the stack.
    cell* mark = stack::top();
    for (uint32_t i = 0; i < 2; i++) {
        cell* component = integer::push(int32_t((&value->data2)[i]));
        cell* sc = nullptr;
        if (cell_type(&s) == TYPE_PAIR) sc = integer::push(int32_t((&s.data2)[i]));
        else if (to) sc = stack::push(&s);
        cell* r = integer::round(component, sc, even, down, half_down, floor, ceiling, half_ceiling);
        result[i] = whole_number(r);
        stack_s.top = mark;
    }
    return store(value, result[0], result[1]);
}

void pair::init()
{
    datatype::register_type(TYPE_PAIR, 0, "pair!", {
        .make = make, .random = random, .to = make, .form = form, .mold = mold, .eval_path = eval_path,
        .compare = compare, .absolute = absolute, .add = add, .divide = divide, .multiply = multiply,
        .negate = negate, .remainder = remainder, .round = round, .subtract = subtract, .and_t = and_t,
        .or_t = or_t, .xor_t = xor_t, .pick = pick, .reverse = reverse});
}
