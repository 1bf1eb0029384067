// tuple!: constructors, conversions, saturating arithmetic, reversal, paths and text. Integer
// operations are exact in 64 bits and then clamped; float operations are clamped in double before
// the conversion (NaN gives 0), so no out-of-range conversion ever happens.
#include "runtime/datatypes/tuple.h"

#include <algorithm>
#include <cmath>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/random.h"

namespace {

void set_size(cell* c, uint32_t n) { c->header = (c->header & ~tuple::SIZE_MASK) | n << tuple::SIZE_SHIFT; }

uint8_t clamp_byte(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
uint8_t clamp_byte(double d)
{
    if (!(d > 0)) return 0;   // NaN included
    return d >= 255 ? 255 : uint8_t(d);
}

[[noreturn]] void bad_to_arg(const cell* spec)
{
    cell t = datatype::value_of(TYPE_TUPLE);
    fire(ERR_SCRIPT, err::BAD_TO_ARG, &t, spec);
}

[[noreturn]] void invalid_type(uint32_t type)
{
    cell t = datatype::value_of(type);
    fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
}

[[noreturn]] void invalid_refine_arg(rt_refinement which, const cell* value)
{
    fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(which), value);
}

int32_t hex_digit(uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c |= 0x20;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The bytes of a block of integers, chars and floats, each 0-255.
uint32_t block_bytes(const cell* spec, uint8_t* out)
{
    uint32_t n = block::rs_length(spec);
    if (n > tuple::MAX_BYTES) bad_to_arg(spec);
    const cell* items = block::rs_head(spec);
    for (uint32_t i = 0; i < n; i++) {
        double v;
        switch (cell_type(items + i)) {
        case TYPE_INTEGER: case TYPE_CHAR: v = double(int32_t(items[i].data2)); break;
        case TYPE_FLOAT: v = std::trunc(cell_float(items + i)); break;
        default: bad_to_arg(spec);
        }
        if (!(v >= 0 && v <= 255)) bad_to_arg(spec);
        out[i] = uint8_t(v);
    }
    return n;
}

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

cell* tuple::make_at(cell* slot, const uint8_t* bytes, uint32_t n)
{
    cell c{TYPE_TUPLE | n << SIZE_SHIFT, 0, 0, 0};
    std::copy(bytes, bytes + n, bytes_of(&c));
    *slot = c;
    return slot;
}

cell* tuple::make_in(cell* blk, const uint8_t* bytes, uint32_t n)
{
    uint8_t copy[MAX_BYTES];   // the bytes may lie in the block that grows
    std::copy(bytes, bytes + n, copy);
    return make_at(block_alloc_tail(blk ? blk : &root_block), copy, n);
}

cell* tuple::push(uint32_t n, uint32_t word1, uint32_t word2, uint32_t word3)
{
    cell c{TYPE_TUPLE, word1, word2, word3};
    return make_at(stack::push_slot(), bytes_of(&c), n);
}

cell* tuple::make_color(cell* slot, uint8_t r, uint8_t g, uint8_t b, int32_t alpha)
{
    const uint8_t bytes[4] = {r, g, b, uint8_t(alpha)};
    return make_at(slot, bytes, alpha < 0 ? 3 : 4);
}

cell* tuple::make_from_ints(uint32_t n, const int32_t* ints)
{
    uint8_t bytes[MAX_BYTES] = {};
    n = std::min(n, MAX_BYTES);
    for (uint32_t i = 0; i < n; i++) bytes[i] = uint8_t(ints[i]);
    return make_at(stack::push_slot(), bytes, std::max(n, 3u));
}

cell* tuple::from_binary(const cell* binary, cell* slot)
{
    uint8_t bytes[MAX_BYTES] = {};
    uint32_t n = std::min(binary::ks_length_q(binary), MAX_BYTES);
    std::copy(binary::ks_head(binary), binary::ks_head(binary) + n, bytes);
    return make_at(slot, bytes, std::max(n, 3u));
}

cell* tuple::from_hex(const cell* issue, cell* slot)
{
    uint32_t length;
    const uint8_t* text = symbol::name(issue->data2, &length);
    if (length != 3 && length != 6 && length != 8) fire(ERR_SCRIPT, err::INVALID_DATA, issue);
    int32_t digits[8];
    for (uint32_t i = 0; i < length; i++)
        if (text[i] < 32 || (digits[i] = hex_digit(text[i])) < 0) fire(ERR_SCRIPT, err::INVALID_DATA, issue);
    uint8_t bytes[4];
    const uint32_t n = length == 3 ? 3 : length / 2;
    for (uint32_t i = 0; i < n; i++)
        bytes[i] = uint8_t(length == 3 ? digits[i] * 17 : digits[2 * i] << 4 | digits[2 * i + 1]);
    return make_at(slot, bytes, n);
}

bool tuple::zero_q(const cell* c)
{
    const uint8_t* b = bytes_of(c);
    return std::all_of(b, b + size_of(c), [](uint8_t x) { return x == 0; });
}

// ---- make and to --------------------------------------------------------------------------------

cell* tuple::to(cell* proto, cell* spec, uint32_t)
{
    uint8_t bytes[MAX_BYTES] = {};
    switch (uint32_t t = cell_type(spec)) {
    case TYPE_TUPLE:
        return spec;
    case TYPE_ISSUE:
        return from_hex(spec, proto);
    case TYPE_BINARY:
        return from_binary(spec, proto);
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        return make_at(proto, bytes, std::max(block_bytes(spec, bytes), 3u));
    default:
        if (!any_string_q(t)) bad_to_arg(spec);
        cell loaded = *word::load_as(spec, TYPE_TUPLE);
        stack::pop(1);
        return copy_cell(&loaded, proto);
    }
}

// ---- random -------------------------------------------------------------------------------------

cell* tuple::random(cell* value, bool seed, bool secure, bool)
{
    if (seed) {
        random_::seed(value->data1 ^ value->data2 ^ value->data3);
        return unset::make_at(value);
    }
    uint8_t* b = bytes_of(value);
    for (uint32_t i = 0; i < size_of(value); i++) b[i] = uint8_t(random_::int_(b[i] + 1, secure) - 1);
    return value;
}

// ---- text ---------------------------------------------------------------------------------------

int32_t tuple::form(cell* value, cell* buffer, cell*, int32_t part)
{
    const cell v = *value;
    for (uint32_t i = 0; i < size_of(&v); i++) {
        if (i) part = string::emit_literal(buffer, ".", part);
        part = string::emit_literal(buffer, integer::form_signed(bytes_of(&v)[i]), part);
    }
    return part;
}

int32_t tuple::mold(cell* value, cell* buffer, bool, bool, bool, cell* arg, int32_t part, int32_t)
{
    return form(value, buffer, arg, part);
}

// ---- comparison ---------------------------------------------------------------------------------

int32_t tuple::compare(cell* value1, cell* value2, int32_t)
{
    if (cell_type(value2) != TYPE_TUPLE) return -2;
    // Bytes past a count are 0, so the longer count compares the missing bytes as 0.
    const uint32_t n = std::max(size_of(value1), size_of(value2));
    const uint8_t *a = bytes_of(value1), *b = bytes_of(value2);
    for (uint32_t i = 0; i < n; i++)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// ---- arithmetic ---------------------------------------------------------------------------------

cell* tuple::do_math(cell* x, cell* y, uint32_t code)
{
    if (cell_type(x) != TYPE_TUPLE) {
        // A scalar first: only the operations whose operands commute may swap them.
        if (code == MATH_SUBTRACT || code == MATH_DIVIDE) integer::not_related(integer::operation_word(code), cell_type(x));
        integer::swap_operands(x, y);
    }
    uint8_t* b = bytes_of(x);
    const uint32_t n = size_of(x);
    switch (uint32_t yt = cell_type(y)) {
    case TYPE_FLOAT: case TYPE_PERCENT: {
        const double f = cell_float(y);
        for (uint32_t i = 0; i < n; i++) b[i] = clamp_byte(float_::do_math_op(b[i], f, code));
        break;
    }
    case TYPE_INTEGER: {
        const int32_t v = int32_t(y->data2);
        for (uint32_t i = 0; i < n; i++) b[i] = clamp_byte(integer::wide_op(b[i], v, code));
        break;
    }
    case TYPE_TUPLE: {
        const uint32_t m = std::max(n, size_of(y));
        const uint8_t* c = bytes_of(y);
        for (uint32_t i = 0; i < m; i++) b[i] = clamp_byte(integer::wide_op(b[i], c[i], code));
        set_size(x, m);
        break;
    }
    default:
        invalid_type(yt);
    }
    return x;
}

cell* tuple::add(cell* value1, cell* value2) { return do_math(value1, value2, MATH_ADD); }
cell* tuple::subtract(cell* value1, cell* value2) { return do_math(value1, value2, MATH_SUBTRACT); }
cell* tuple::multiply(cell* value1, cell* value2) { return do_math(value1, value2, MATH_MULTIPLY); }
cell* tuple::divide(cell* value1, cell* value2) { return do_math(value1, value2, MATH_DIVIDE); }
cell* tuple::remainder(cell* value1, cell* value2) { return do_math(value1, value2, MATH_REMAINDER); }
cell* tuple::and_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_AND); }
cell* tuple::or_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_OR); }
cell* tuple::xor_t(cell* value1, cell* value2) { return do_math(value1, value2, MATH_XOR); }

cell* tuple::complement(cell* value)
{
    uint8_t* b = bytes_of(value);
    for (uint32_t i = 0; i < size_of(value); i++) b[i] = uint8_t(~b[i]);
    return value;
}

// ---- length, pick, poke, paths ------------------------------------------------------------------

int32_t tuple::length_q(cell* value) { return int32_t(size_of(value)); }

cell* tuple::pick(cell* value, int32_t n, cell* index)
{
    if (cell_type(index) != TYPE_INTEGER || n < 1 || uint32_t(n) > size_of(value))
        fire(ERR_SCRIPT, err::OUT_OF_RANGE, index);
    return integer::make_at(value, bytes_of(value)[n - 1]);
}

void tuple::poke(cell* value, const cell* index, const cell* new_value)
{
    const int32_t k = int32_t(index->data2);
    const uint32_t n = size_of(value);
    if (k < 1 || uint32_t(k) > n) fire(ERR_SCRIPT, err::OUT_OF_RANGE, index);
    uint8_t* b = bytes_of(value);
    if (cell_type(new_value) == TYPE_INTEGER) {
        b[k - 1] = clamp_byte(int64_t(int32_t(new_value->data2)));
        return;
    }
    std::fill(b + k - 1, b + n, 0);
    set_size(value, std::max(3u, uint32_t(k) - 1));
}

cell* tuple::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool,
                       bool, bool)
{
    if (cell_type(element) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    if (!value) {
        cell copy = *parent;
        return stack::push(pick(&copy, int32_t(element->data2), element));
    }
    const uint32_t vt = cell_type(value);
    if (vt != TYPE_INTEGER && vt != TYPE_NONE) invalid_type(vt);
    poke(parent, element, value);
    return value;
}

// ---- reverse ------------------------------------------------------------------------------------

cell* tuple::reverse(cell* value, cell* part, cell* skip)
{
    uint32_t length = size_of(value);
    if (arg_given(part)) {
        if (cell_type(part) != TYPE_INTEGER) invalid_refine_arg(REF_PART, part);
        if (int32_t(part->data2) < 0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, part);
        length = std::min(length, part->data2);
    }
    uint8_t* b = bytes_of(value);
    if (!arg_given(skip)) {
        std::reverse(b, b + length);
        return value;
    }
    if (cell_type(skip) != TYPE_INTEGER) invalid_refine_arg(REF_SKIP, skip);
    const int32_t s = int32_t(skip->data2);
    if (s < 1) fire(ERR_SCRIPT, err::OUT_OF_RANGE, skip);
    if (uint32_t(s) == length) return value;
    if (uint32_t(s) > length || length % uint32_t(s) != 0) invalid_refine_arg(REF_SKIP, skip);
    // Records swap end for end, each keeping its byte order.
    for (uint32_t first = 0, last = length - uint32_t(s); first < last; first += uint32_t(s), last -= uint32_t(s))
        std::swap_ranges(b + first, b + first + s, b + last);
    return value;
}

void tuple::init()
{
    datatype::register_type(TYPE_TUPLE, 0, "tuple!", {
        .make = to, .random = random, .to = to, .form = form, .mold = mold, .eval_path = eval_path,
        .compare = compare, .add = add, .divide = divide, .multiply = multiply, .remainder = remainder,
        .subtract = subtract, .and_t = and_t, .complement = complement, .or_t = or_t, .xor_t = xor_t,
        .length_q = length_q, .pick = pick, .reverse = reverse});
}
