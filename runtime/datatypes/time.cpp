// time!: constructors, fields, text, conversion and the arithmetic rules for mixing times with
// numbers and dates. The field setters are the exact inverses of the getters (hours toward zero,
// minutes of the magnitude, seconds with the sign), so writing a field's own value changes nothing.
#include "runtime/datatypes/time.h"

#include <cmath>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/stack.h"

namespace {

cell* store(cell* slot, double seconds)
{
    *slot = cell{TYPE_TIME, 0, 0, 0};
    cell_set_float(slot, seconds);
    return slot;
}

[[noreturn]] void no_integer()
{
    cell t = datatype::value_of(TYPE_INTEGER);
    fire(ERR_SCRIPT, err::TYPE_LIMIT, &t);
}

bool in_int32(double d) { return d > -2147483649.0 && d < 2147483648.0; }

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

cell* time_::make_at(cell* slot, double seconds)
{
    cell_set_type(slot, TYPE_TIME);
    cell_set_float(slot, seconds);
    return slot;
}
cell* time_::push(double seconds) { return store(stack::push_slot(), seconds); }
cell* time_::make_in(cell* blk, uint32_t high, uint32_t low)
{
    cell* c = block_alloc_tail(blk ? blk : &root_block);
    *c = cell{TYPE_TIME, 0, low, high};
    return c;
}
cell* time_::make_in(cell* blk, double seconds) { return store(block_alloc_tail(blk ? blk : &root_block), seconds); }

// ---- fields -------------------------------------------------------------------------------------

int32_t time_::get_hours(double seconds)
{
    double h = std::trunc(seconds / 3600);
    if (!in_int32(h)) no_integer();
    return int32_t(h);
}

int32_t time_::get_minutes(double seconds)
{
    double m = std::floor(std::fmod(float_::abs(seconds), 3600) / 60);
    if (!in_int32(m)) no_integer();   // NaN: an infinite or undefined time
    return int32_t(m);
}

int32_t time_::field_index(const cell* word, const cell* value)
{
    uint32_t symbol = symbol::resolve(word_symbol(word));
    static constexpr rt_symbol fields[] = {SYM_HOUR, SYM_MINUTE, SYM_SECOND};
    for (int32_t i = 0; i < 3; i++)
        if (symbol == symbol::resolve(rt_symbol_id(fields[i]))) return i + 1;
    if (cell_type(value) == TYPE_TIME) fire(ERR_SCRIPT, err::CANNOT_USE, word, value);
    return -1;
}

cell* time_::get_field(const cell* time, int32_t index)
{
    double t = cell_float(time);
    switch (index) {
    case FIELD_HOUR: return integer::push(get_hours(t));
    case FIELD_MINUTE: return integer::push(get_minutes(t));
    default: return float_::push(std::fmod(t, 60));
    }
}

// ---- text ---------------------------------------------------------------------------------------

namespace {

// The decimal digits of an integral double, written out in full however large it is.
int32_t emit_whole(cell* buffer, double whole, int32_t part)
{
    if (whole < 2147483648.0) return string::emit_literal(buffer, integer::form_signed(int32_t(whole)), part);
    float_digits d;
    float_to_digits(whole, 0, &d);
    part = string::emit_literal(buffer, d.digits, part);
    for (int32_t i = d.length; i < d.point; i++) part = string::emit_literal(buffer, "0", part);
    return part;
}

// The fewest digits of the seconds s, without an exponent (the lexer reads none in a time), for
// which the loader's sum base + seconds gives back total. Seventeen digits are s itself, and
// base + s is total exactly, base being total less its exact remainder s.
const char* exact_seconds(double base, double s, double total)
{
    for (int32_t digits = 1;; digits++) {
        float_digits d;
        float_to_digits(s, digits, &d);
        const char* text = float_::plain_text(d, d.point);
        size_t remaining = 0;
        if (digits >= 17 || base + text_to_float(text, std::strlen(text), 0, &remaining) == total) return text;
    }
}

}  // namespace

int32_t time_::form_into(double t, cell* buffer, int32_t part, bool exact)
{
    // A time divided by zero: no hours or minutes to show.
    if (float_::not_finite_q(t)) return string::emit_literal(buffer, float_::form_float(t, float_::FORM_FLOAT), part);
    if (t < 0) {
        part = string::emit_literal(buffer, "-", part);
        t = -t;
    }
    double hours = std::floor(t / 3600), s = std::fmod(t, 60);
    int32_t minutes = int32_t(std::floor(std::fmod(t, 3600) / 60));
    part = emit_whole(buffer, hours, part);
    char text[8] = {':', char('0' + minutes / 10), char('0' + minutes % 10), ':', 0};
    part = string::emit_literal(buffer, text, part);
    const char* seconds;
    if (exact) {
        if (s == 0) return string::emit_literal(buffer, "00", part);
        seconds = exact_seconds(hours * 3600.0 + double(minutes) * 60.0, s, t);
    } else {
        if (s < 0.000001) return string::emit_literal(buffer, "00", part);
        seconds = float_::form_float(s, float_::FORM_SECONDS);
    }
    if (seconds[1] == 0 || seconds[1] == '.') part = string::emit_literal(buffer, "0", part);
    return string::emit_literal(buffer, seconds, part);
}

int32_t time_::form(cell* value, cell* buffer, cell*, int32_t part) { return form_into(cell_float(value), buffer, part); }

// mold/all writes the seconds that load back as exactly this time; plain mold is form's text.
int32_t time_::mold(cell* value, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    return form_into(cell_float(value), buffer, part, all);
}

// ---- make and to --------------------------------------------------------------------------------

void time_::bad_to_arg_error(const cell* spec)
{
    cell t = datatype::value_of(TYPE_TIME);
    fire(ERR_SCRIPT, err::BAD_TO_ARG, &t, spec);
}

namespace {

// [hours minutes seconds], each part optional from the end; only the hours may be negative.
double from_block(const cell* spec)
{
    uint32_t n = block::rs_length(spec);
    if (n > 3) time_::bad_to_arg_error(spec);
    const cell* items = block::rs_head(spec);
    double parts[3] = {0, 0, 0};
    for (uint32_t i = 0; i < n; i++) {
        uint32_t t = cell_type(items + i);
        if (t != TYPE_INTEGER && !(i == 2 && t == TYPE_FLOAT)) time_::bad_to_arg_error(spec);
        parts[i] = t == TYPE_INTEGER ? double(int32_t(items[i].data2)) : cell_float(items + i);
        if (i > 0 && parts[i] < 0) time_::bad_to_arg_error(spec);
    }
    bool negative = parts[0] < 0;
    double seconds = float_::abs(parts[0]) * 3600 + parts[1] * 60 + parts[2];
    return negative ? -seconds : seconds;
}

}  // namespace

cell* time_::make(cell* proto, cell* spec, uint32_t)
{
    double seconds;
    uint32_t t = cell_type(spec);
    switch (t) {
    case TYPE_TIME:
        return spec;
    case TYPE_INTEGER:
        seconds = double(int32_t(spec->data2));
        break;
    case TYPE_FLOAT: case TYPE_PERCENT:
        seconds = cell_float(spec);
        break;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        seconds = from_block(spec);
        break;
    default: {
        if (!any_string_q(t)) bad_to_arg_error(spec);
        if (!word::string_load_hook) {
            cell named = datatype::value_of(TYPE_TIME);
            fire(ERR_INTERNAL, err::NOT_DONE, &named);
        }
        cell* loaded = word::string_load_hook(spec);
        if (!loaded || cell_type(loaded) != TYPE_TIME) bad_to_arg_error(spec);
        seconds = cell_float(loaded);
        stack::pop(1);
        return store(proto, seconds);
    }
    }
    // A time made from numbers keeps its hour within 32 bits, so its fields can always be read
    // (arithmetic may still give an infinite time).
    if (!in_int32(std::trunc(seconds / 3600))) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
    return store(proto, seconds);
}

// ---- arithmetic ---------------------------------------------------------------------------------

cell* time_::add(cell* value1, cell* value2)
{
    if (cell_type(value2) != TYPE_DATE) return float_::do_math(value1, value2, MATH_ADD);
    integer::swap_operands(value1, value2);
    return integer::by_type_of(value1, value2, TYPE_DATE, MATH_ADD);
}

cell* time_::subtract(cell* value1, cell* value2)
{
    if (cell_type(value2) == TYPE_DATE) integer::not_related(rt_word_cell(W_SUBTRACT), TYPE_TIME);
    return float_::do_math(value1, value2, MATH_SUBTRACT);
}

cell* time_::multiply(cell* value1, cell* value2)
{
    if (cell_type(value2) == TYPE_TIME) integer::not_related(rt_word_cell(W_MULTIPLY), TYPE_TIME);
    return float_::do_math(value1, value2, MATH_MULTIPLY);
}

cell* time_::divide(cell* value1, cell* value2)
{
    bool ratio = cell_type(value2) == TYPE_TIME;
    float_::do_math(value1, value2, MATH_DIVIDE);
    if (ratio) cell_set_type(value1, TYPE_FLOAT);
    return value1;
}

cell* time_::round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                   bool half_ceiling)
{
    double t, sc;
    if (!float_::round_scale(value, scale, &t, &sc)) return value;
    // Always a time, whatever the scale's type: no detour through an integer of seconds.
    return make_at(value, float_::round_double(t, sc, even, down, half_down, floor, ceiling, half_ceiling));
}

namespace {
// The parity of the whole seconds of the second field, nudged by a microsecond away from zero.
bool odd_seconds(double t)
{
    if (float_::not_finite_q(t)) return false;
    double s = t >= 0 ? t + 0.000001 : t - 0.000001;
    return int32_t(std::fmod(s, 60)) & 1;
}
}  // namespace

cell* time_::even_q(cell* value) { return logic::make_at(value, !odd_seconds(cell_float(value))); }
cell* time_::odd_q(cell* value) { return logic::make_at(value, odd_seconds(cell_float(value))); }

// ---- pick and paths -----------------------------------------------------------------------------

cell* time_::pick(cell* value, int32_t n, cell* index)
{
    int32_t i = cell_type(index) == TYPE_WORD ? field_index(index, value) : n;
    if (i < FIELD_HOUR || i > FIELD_SECOND) fire(ERR_SCRIPT, err::OUT_OF_RANGE, index);
    return get_field(value, i);
}

double time_::with_field(double t, int32_t index, const cell* value)
{
    uint32_t vt = cell_type(value);
    if (vt != TYPE_INTEGER && !(index == time_::FIELD_SECOND && vt == TYPE_FLOAT))
        fire(ERR_SCRIPT, err::INVALID_ARG, value);
    double v = vt == TYPE_INTEGER ? double(int32_t(value->data2)) : cell_float(value);
    switch (index) {
    case time_::FIELD_HOUR:
        return t - (time_::get_hours(t) - v) * 3600;
    case time_::FIELD_MINUTE:
        // The minutes are those of the magnitude: a negative time moves the other way.
        return t - (t < 0 ? -1 : 1) * (time_::get_minutes(t) - v) * 60;
    default:
        return t - (std::fmod(t, 60) - v);
    }
}


cell* time_::eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                       int32_t, bool, bool, bool, bool notify)
{
    int32_t i = -1;
    if (cell_type(element) == TYPE_INTEGER) i = int32_t(element->data2);
    else if (cell_type(element) == TYPE_WORD) i = field_index(element, path);
    if (i < FIELD_HOUR || i > FIELD_SECOND) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    if (!value) return get_field(parent, i);
    stack::scope keep;
    cell* old = keep.push(*parent);
    cell_set_float(parent, with_field(cell_float(parent), i, value));
    if (!notify || !grandparent) return value;
    // The handlers get stack copies: the parent may lie in a buffer that their work moves.
    object::report_field_set(grandparent, previous, old, keep.push(*parent), value, i);
    return value;
}

void time_::init()
{
    datatype::register_type(TYPE_TIME, TYPE_FLOAT, "time!", {
        .make = make, .random = inherit, .to = make, .form = form, .mold = mold, .eval_path = eval_path,
        .compare = inherit, .absolute = inherit, .add = add, .divide = divide, .multiply = multiply,
        .negate = inherit, .remainder = inherit, .round = round, .subtract = subtract, .even_q = even_q,
        .odd_q = odd_q, .pick = pick});
}
