// point2D! and point3D!: constructors, conversions, arithmetic, rounding, comparison and text. Every
// double goes through to_single before it is stored, so a value beyond the float range becomes an
// infinity instead of an undefined conversion.
#include "runtime/datatypes/point.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/random.h"

namespace {

uint32_t dims(const cell* c) { return cell_type(c) == TYPE_POINT3D ? 3 : 2; }

uint32_t* word_of(cell* c, uint32_t i) { return &c->data1 + i; }
void set(cell* c, uint32_t i, float v) { *word_of(c, i) = std::bit_cast<uint32_t>(v); }

cell* store(cell* slot, uint32_t type, float x, float y, float z)
{
    *slot = cell{type, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                 type == TYPE_POINT3D ? std::bit_cast<uint32_t>(z) : 0};
    return slot;
}

[[noreturn]] void invalid_type(const cell* value)
{
    cell t = datatype::value_of(cell_type(value));
    fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
}

bool number_q(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT; }
double number(const cell* c) { return cell_type(c) == TYPE_INTEGER ? double(int32_t(c->data2)) : cell_float(c); }

}  // namespace

float point2D::to_single(double d)
{
    constexpr double largest = std::numeric_limits<float>::max();
    if (d > largest) return std::numeric_limits<float>::infinity();
    if (d < -largest) return -std::numeric_limits<float>::infinity();
    return float(d);
}

float point2D::get(const cell* point, uint32_t i) { return std::bit_cast<float>((&point->data1)[i]); }

uint32_t point2D::axis_word(const cell* word)
{
    if (cell_type(word) != TYPE_WORD) return 0;
    uint32_t symbol = symbol::resolve(word->data2);
    static constexpr rt_symbol axes[] = {SYM_X, SYM_Y, SYM_Z};
    for (uint32_t i = 0; i < 3; i++)
        if (symbol == symbol::resolve(rt_symbol_id(axes[i]))) return i + 1;
    return 0;
}

// ---- constructors -------------------------------------------------------------------------------

cell* point2D::make_at(cell* slot, float x, float y) { return store(slot, TYPE_POINT2D, x, y, 0); }
cell* point2D::make_in(cell* blk, float x, float y) { return make_at(block_alloc_tail(blk ? blk : &root_block), x, y); }
cell* point2D::push(float x, float y) { return make_at(stack::push_slot(), x, y); }
cell* point2D::from_pair(const cell* p, cell* slot)
{
    return make_at(slot, float(pair::x_of(p)), float(pair::y_of(p)));
}

cell* point3D::make_at(cell* slot, float x, float y, float z) { return store(slot, TYPE_POINT3D, x, y, z); }
cell* point3D::make_in(cell* blk, float x, float y, float z)
{
    return make_at(block_alloc_tail(blk ? blk : &root_block), x, y, z);
}
cell* point3D::push(float x, float y, float z) { return make_at(stack::push_slot(), x, y, z); }

// ---- make and to --------------------------------------------------------------------------------

cell* point2D::make(cell* proto, cell* spec, uint32_t type)
{
    const uint32_t n = type == TYPE_POINT3D ? 3 : 2;
    float c[3] = {0, 0, 0};
    const uint32_t t = cell_type(spec);
    if (t == type) return spec;
    if (t == TYPE_BLOCK) {
        if (block::rs_length(spec) < n) fire(ERR_SYNTAX, err::MALCONSTRUCT, spec);
        const cell* items = block::rs_head(spec);
        for (uint32_t i = 0; i < n; i++) {
            if (!number_q(cell_type(items + i))) fire(ERR_SYNTAX, err::MALCONSTRUCT, spec);
            c[i] = to_single(number(items + i));
        }
    } else if (number_q(t)) {
        c[0] = c[1] = c[2] = to_single(number(spec));
    } else if (t == TYPE_PAIR) {
        c[0] = float(pair::x_of(spec));
        c[1] = float(pair::y_of(spec));
    } else if (t == TYPE_POINT2D && type == TYPE_POINT3D) {
        c[0] = get(spec, 0);
        c[1] = get(spec, 1);
    } else if (any_string_q(t)) {
        cell loaded = *word::load_as(spec, type);
        stack::pop(1);
        return copy_cell(&loaded, proto);
    } else {
        cell named = datatype::value_of(type);
        fire(ERR_SCRIPT, err::BAD_TO_ARG, &named, spec);
    }
    return store(proto, type, c[0], c[1], c[2]);
}

// ---- random -------------------------------------------------------------------------------------

cell* point2D::random(cell* value, bool seed, bool secure, bool)
{
    if (seed) {
        random_::seed(murmur3_hash(&value->data1, 4 * dims(value)));
        return unset::make_at(value);
    }
    for (uint32_t i = 0; i < dims(value); i++) {
        float v = get(value, i);
        if (v != 0) set(value, i, to_single(float_::random_scaled(v, secure)));
    }
    return value;
}

// ---- text ---------------------------------------------------------------------------------------

namespace {

// The fewest significant digits that the lexer reads back as the same single-precision float (as
// it does: the decimal as a double, then to_single). Nine always do; seventeen of the widened
// double are exact in any case.
const char* exact_single_text(float value, char* text)
{
    for (int32_t digits : {1, 2, 3, 4, 5, 6, 7, 8, 9, 17}) {
        size_t n = float_form_g(value, digits, text, FLOAT_FORM_ROOM);
        size_t remaining = 0;
        if (digits == 17 || point2D::to_single(text_to_float(text, n, 0, &remaining)) == value) break;
    }
    return text;
}

int32_t point_text(cell* value, cell* buffer, int32_t part, bool exact)
{
    const cell v = *value;   // the buffer may grow over nothing the value needs, but read it once
    char exact_text[FLOAT_FORM_ROOM];
    part = string::emit_literal(buffer, "(", part);
    for (uint32_t i = 0; i < dims(&v); i++) {
        if (i) part = string::emit_literal(buffer, ", ", part);
        float c = point2D::get(&v, i);
        const char* text = exact ? exact_single_text(c, exact_text) : float_::form_float(c, float_::FORM_POINT);
        part = string::emit_literal(buffer, text, part);
    }
    return string::emit_literal(buffer, ")", part);
}

}  // namespace

int32_t point2D::form(cell* value, cell* buffer, cell*, int32_t part) { return point_text(value, buffer, part, false); }

// mold/all keeps every component exactly; plain mold is form's seven digits.
int32_t point2D::mold(cell* value, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    return point_text(value, buffer, part, all);
}

// ---- paths and pick -----------------------------------------------------------------------------

namespace {

// Component number 1-3 of an integer or axis word element, 0 when it names none of the value's.
uint32_t component_of(const cell* value, const cell* element)
{
    uint32_t i = 0;
    if (cell_type(element) == TYPE_INTEGER) {
        int32_t n = int32_t(element->data2);
        i = n >= 1 && n <= 3 ? uint32_t(n) : 0;
    } else {
        i = point2D::axis_word(element);
    }
    return i <= dims(value) ? i : 0;
}

}  // namespace

cell* point2D::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool,
                         bool, bool)
{
    uint32_t i = component_of(parent, element);
    if (i == 0) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    if (!value) return float_::push(get(parent, i - 1));
    if (!number_q(cell_type(value))) invalid_type(value);
    set(parent, i - 1, to_single(number(value)));
    return value;
}

cell* point2D::pick(cell* value, int32_t, cell* index)
{
    uint32_t i = component_of(value, index);
    if (i == 0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, index);
    return float_::make_at(value, get(value, i - 1));
}

// ---- comparison ---------------------------------------------------------------------------------

int32_t point2D::compare(cell* value1, cell* value2, int32_t op)
{
    cell other = *value2;
    if (cell_type(&other) == TYPE_PAIR) from_pair(value2, &other);
    if (cell_type(&other) != cell_type(value1)) return -2;
    const uint32_t n = dims(value1);
    bool equal = true;
    for (uint32_t i = 0; i < n && equal; i++) {
        float a = get(value1, i), b = get(&other, i);
        switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_EQUAL_WORD: equal = float_::equal32_q(a, b); break;
        case COMP_SAME: equal = (&value1->data1)[i] == (&other.data1)[i]; break;
        default: equal = a == b;
        }
    }
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_EQUAL_WORD: case COMP_STRICT_EQUAL:
    case COMP_STRICT_EQUAL_WORD: case COMP_SAME:
        return equal ? 0 : 1;
    default:
        // Orders: x decides, then y, then z.
        for (uint32_t i = 0; i < n; i++) {
            float a = get(value1, i), b = get(&other, i);
            if (a < b) return -1;
            if (a > b) return 1;
        }
        return 0;
    }
}

// ---- arithmetic ---------------------------------------------------------------------------------

cell* point2D::do_math(cell* left, cell* right, uint32_t code)
{
    const uint32_t n = dims(left), rt = cell_type(right);
    double operand[3];
    if (rt == TYPE_INTEGER || rt == TYPE_FLOAT || rt == TYPE_PERCENT) {
        operand[0] = operand[1] = operand[2] = rt == TYPE_INTEGER ? double(int32_t(right->data2)) : cell_float(right);
    } else if (rt == TYPE_PAIR && n == 2) {
        operand[0] = pair::x_of(right);
        operand[1] = pair::y_of(right);
    } else if (rt == cell_type(left)) {
        for (uint32_t i = 0; i < n; i++) operand[i] = get(right, i);
    } else {
        invalid_type(right);
    }
    if (code > MATH_REMAINDER) invalid_type(right);
    for (uint32_t i = 0; i < n; i++) set(left, i, to_single(float_::do_math_op(get(left, i), operand[i], code)));
    return left;
}

cell* point2D::add(cell* value1, cell* value2) { return do_math(value1, value2, MATH_ADD); }
cell* point2D::subtract(cell* value1, cell* value2) { return do_math(value1, value2, MATH_SUBTRACT); }
cell* point2D::multiply(cell* value1, cell* value2) { return do_math(value1, value2, MATH_MULTIPLY); }
cell* point2D::divide(cell* value1, cell* value2) { return do_math(value1, value2, MATH_DIVIDE); }
cell* point2D::remainder(cell* value1, cell* value2) { return do_math(value1, value2, MATH_REMAINDER); }

cell* point2D::absolute(cell* value)
{
    for (uint32_t i = 0; i < dims(value); i++) set(value, i, std::fabs(get(value, i)));
    return value;
}

cell* point2D::negate(cell* value)
{
    for (uint32_t i = 0; i < dims(value); i++) set(value, i, 0.0f - get(value, i));
    return value;
}

cell* point2D::reverse(cell* value, cell*, cell*)
{
    const uint32_t last = dims(value) - 1;
    std::swap(*word_of(value, 0), *word_of(value, last));
    return value;
}

cell* point2D::round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                     bool half_ceiling)
{
    const bool to = arg_given(scale);
    const uint32_t st = to ? cell_type(scale) : 0;
    if (st == TYPE_MONEY) {
        cell word = running_function_word();
        integer::not_related(&word, TYPE_MONEY);
    }
    const bool by_axis = st == TYPE_PAIR || st == TYPE_POINT2D || st == TYPE_POINT3D;
    const cell s = to ? *scale : unset_value;
    // round_scale reads a scale as given only above the arguments base: the cells go on the stack.
    cell* mark = stack::top();
    for (uint32_t i = 0; i < dims(value); i++) {
        cell* component = float_::push(get(value, i));
        cell* sc = nullptr;
        if (by_axis) {
            // A pair scale has no z: the z of a point3D! is rounded to whole units then.
            if (i < (st == TYPE_POINT3D ? 3u : 2u))
                sc = float_::push(st == TYPE_PAIR ? double(int32_t((&s.data2)[i])) : double(get(&s, i)));
        } else if (to) {
            sc = stack::push(&s);
        }
        double f, unit;
        if (float_::round_scale(component, sc, &f, &unit))
            set(value, i, to_single(float_::round_double(f, unit, even, down, half_down, floor, ceiling, half_ceiling)));
        stack_s.top = mark;
    }
    return value;
}

// ---- registration -------------------------------------------------------------------------------

namespace {
const action_row point_row{
    .make = point2D::make, .random = point2D::random, .to = point2D::make, .form = point2D::form,
    .mold = point2D::mold, .eval_path = point2D::eval_path, .compare = point2D::compare,
    .absolute = point2D::absolute, .add = point2D::add, .divide = point2D::divide,
    .multiply = point2D::multiply, .negate = point2D::negate, .remainder = point2D::remainder,
    .round = point2D::round, .subtract = point2D::subtract, .pick = point2D::pick, .reverse = point2D::reverse};
}  // namespace

void point2D::init() { datatype::register_type(TYPE_POINT2D, 0, "point2D!", point_row); }
void point3D::init() { datatype::register_type(TYPE_POINT3D, 0, "point3D!", point_row); }
