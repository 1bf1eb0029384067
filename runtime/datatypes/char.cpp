// char!: constructors, arithmetic kept inside the code point range, comparison, form (the
// character) and mold (#"x" with the caret escapes), and conversion to a character.
#include "runtime/datatypes/char.h"

#include <cmath>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/vector.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace {

cell* store(cell* slot, uint32_t code_point)
{
    *slot = cell{TYPE_CHAR, 0, code_point, 0};
    return slot;
}

[[noreturn]] void bad_to_arg(const cell* spec)
{
    cell t = datatype::value_of(TYPE_CHAR);
    fire(ERR_SCRIPT, err::BAD_TO_ARG, &t, spec);
}

// A number truncated toward zero as an int32, or nothing when it has none (NaN included).
bool truncated(double d, int32_t* out)
{
    if (!(d > -2147483649.0 && d < 2147483648.0)) return false;
    *out = int32_t(d);
    return true;
}

}  // namespace

cell* char_::push(uint32_t code_point) { return store(stack::push_slot(), code_point); }
cell* char_::make_at(cell* slot, uint32_t code_point) { return store(slot, code_point); }
cell* char_::make_in(cell* blk, uint32_t code_point)
{
    return store(block_alloc_tail(blk ? blk : &root_block), code_point);
}
cell* char_::box(uint32_t code_point) { return store(stack::arguments(), code_point); }

// ---- arithmetic ---------------------------------------------------------------------------------

cell* char_::do_math(cell* left, cell* right, uint32_t code)
{
    int32_t n;
    switch (uint32_t rt = cell_type(right)) {
    case TYPE_CHAR: case TYPE_INTEGER:
        n = int32_t(right->data2);
        break;
    case TYPE_FLOAT:
        if (!truncated(cell_float(right), &n)) fire(ERR_MATH, err::OVERFLOW);
        break;
    case TYPE_VECTOR:
        integer::swap_operands(left, right);
        return copy_cell(vector::do_math(code, left, right, true), left);
    default: {
        cell t = datatype::value_of(rt);
        fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
    }
    }
    // A scratch cell catches a result beyond 32 bits (it turns float!); a division passes none,
    // so it always truncates.
    cell scratch = *left;
    int32_t r = integer::do_math_op(int32_t(left->data2), n, code, code == MATH_DIVIDE ? nullptr : &scratch);
    if (cell_type(&scratch) != TYPE_CHAR || r < 0 || uint32_t(r) > LAST_CODE_POINT) fire(ERR_MATH, err::OVERFLOW);
    left->data2 = uint32_t(r);
    return left;
}

cell* char_::add(cell* value1, cell* value2) { return do_math(value1, value2, MATH_ADD); }
cell* char_::subtract(cell* value1, cell* value2) { return do_math(value1, value2, MATH_SUBTRACT); }
cell* char_::multiply(cell* value1, cell* value2) { return do_math(value1, value2, MATH_MULTIPLY); }
cell* char_::divide(cell* value1, cell* value2) { return do_math(value1, value2, MATH_DIVIDE); }
cell* char_::remainder(cell* value1, cell* value2) { return do_math(value1, value2, MATH_REMAINDER); }
cell* char_::and_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_AND); }
cell* char_::or_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_OR); }
cell* char_::xor_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_XOR); }

// ---- compare and text ---------------------------------------------------------------------------

int32_t char_::compare(cell* value1, cell* value2, int32_t op)
{
    uint32_t t2 = cell_type(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t2 != TYPE_CHAR) return 1;
    if (t2 != TYPE_CHAR && t2 != TYPE_INTEGER) return -2;
    int32_t a = int32_t(value1->data2), b = int32_t(value2->data2);
    return a < b ? -1 : a > b ? 1 : 0;
}

int32_t char_::form(cell* value, cell* buffer, cell*, int32_t part)
{
    string::append_char(series_node(buffer), value->data2);
    return part - 1;
}

int32_t char_::mold(cell* value, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    string::concatenate_literal(buffer, "#\"");
    string::mold_char(buffer, value->data2, all);
    string::concatenate_literal(buffer, "\"");
    return part - 4;
}

// ---- make and to --------------------------------------------------------------------------------

namespace {

uint32_t from_binary(const cell* spec)
{
    series_buffer* s = series_of(series_node(spec));
    uint32_t used = series_used_bytes(s), head = uint32_t(series_head_raw(spec));
    if (head >= used) bad_to_arg(spec);
    uint32_t available = used - head;
    int32_t cp = utf8_decode_checked(at(s->head + head), &available);
    if (cp < 0) fire(ERR_ACCESS, err::INVALID_UTF8, spec);   // the bytes end inside the sequence
    return uint32_t(cp);
}

uint32_t from_string(const cell* spec)
{
    cell str = *spec;
    const uint8_t* head = string::ks_head(&str);
    if (string::ks_tail_q(&str)) bad_to_arg(spec);
    return string::get_char(head, series_unit(series_of(series_node(&str))));
}

}  // namespace

cell* char_::make(cell* proto, cell* spec, uint32_t)
{
    int32_t n = -1;
    switch (uint32_t t = cell_type(spec)) {
    case TYPE_CHAR: case TYPE_INTEGER:
        n = int32_t(spec->data2);
        break;
    case TYPE_FLOAT: case TYPE_PERCENT:
        if (!truncated(cell_float(spec), &n)) n = -1;
        break;
    case TYPE_BINARY:
        return store(proto, from_binary(spec));
    default:
        if (!any_string_q(t)) bad_to_arg(spec);
        return store(proto, from_string(spec));
    }
    if (n < 0 || uint32_t(n) > LAST_CODE_POINT) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
    return store(proto, uint32_t(n));
}

void char_::init()
{
    datatype::register_type(TYPE_CHAR, TYPE_INTEGER, "char!", {
        .make = make, .random = inherit, .to = make, .form = form, .mold = mold, .compare = compare,
        .absolute = inherit, .add = add, .divide = divide, .multiply = multiply, .remainder = remainder,
        .subtract = subtract, .even_q = inherit, .odd_q = inherit, .and_t = and_t, .or_t = or_t, .xor_t = xor_t});
}
