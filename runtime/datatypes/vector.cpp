// vector!: construction, element access, text forms, comparison, element-wise arithmetic and the
// changes that need element types (append, insert, change); the other series actions are the
// series module's, which reach elements through get_value and set_value. Element arithmetic on
// integers is done in unsigned 32 bits, so a sum wraps instead of overflowing.
#include "runtime/datatypes/vector.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_internal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/memory.h"

namespace {

series_buffer* buffer(const cell* v) { return series_of(v->data2); }
uint32_t unit_of(const cell* v) { return series_unit(buffer(v)); }
int64_t units_of(const cell* v) { return series::units(v); }
uint8_t* element_at(const cell* v, int64_t i) { return at<uint8_t>(buffer(v)->head + uint32_t(i * unit_of(v))); }
bool float_kind(uint32_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT; }
uint32_t default_bits(uint32_t t) { return float_kind(t) ? 64 : 32; }
cell datatype_cell(uint32_t t) { return cell{TYPE_DATATYPE, t, 0, 0}; }
int64_t head_of(const cell* v) { return series::head_clamped(v); }

void set_tail(const cell* v, int64_t n)
{
    series_buffer* b = buffer(v);
    b->tail = b->head + uint32_t(n * series_unit(b));
}

// Room for `total` elements; internal/no-memory past what a series holds.
void reserve(const cell* v, int64_t total)
{
    uint64_t bytes = uint64_t(std::max<int64_t>(total, 0)) * unit_of(v);
    if (total < 0 || bytes >= 0x80000000ull) fire(ERR_INTERNAL, err::NO_MEMORY);
    series::room_for(v->data2, bytes);
}

// A number as the element type wants it.
double as_double(const cell* c) { return float_kind(cell_type(c)) ? cell_float(c) : double(int32_t(c->data2)); }
int32_t as_int(const cell* c)
{
    if (!float_kind(cell_type(c))) return int32_t(c->data2);
    double d = std::trunc(cell_float(c));
    // Beyond 32 bits the low bits are kept, as a store keeps an element's low bits.
    if (!(std::fabs(d) < 9.2e18)) return 0;
    return int32_t(uint32_t(uint64_t(int64_t(d))));
}

int32_t int_op(int32_t a, int32_t b, uint32_t op)
{
    uint32_t ua = uint32_t(a), ub = uint32_t(b);
    switch (op) {
    case MATH_ADD: return int32_t(ua + ub);
    case MATH_SUBTRACT: return int32_t(ua - ub);
    case MATH_MULTIPLY: return int32_t(ua * ub);
    case MATH_DIVIDE: case MATH_REMAINDER:
        // The integer operation: division by zero and -2147483648 / -1 (and its remainder) raise.
        return integer::do_math_op(a, b, op, nullptr);
    case MATH_OR: return a | b;
    case MATH_AND: return a & b;
    case MATH_XOR: return a ^ b;
    default: fire(ERR_INTERNAL, err::NOT_DONE);
    }
}

// The float operation: a division by zero gives an infinity or NaN, as for float! values.
double float_op(double a, double b, uint32_t op)
{
    if (op >= MATH_OR) {
        // The float operation refuses bitwise work.
        cell word = *integer::operation_word(op);
        cell type = datatype_cell(TYPE_FLOAT);
        fire(ERR_SCRIPT, err::CANNOT_USE, &word, &type);
    }
    return float_::do_math_op(a, b, op);
}

// Writes element i of the vector from a number cell, converting between integer and float.
void store(const cell* v, int64_t i, const cell* value)
{
    uint32_t unit = unit_of(v);
    uint8_t* p = element_at(v, i);
    if (float_kind(v->data3)) {
        double d = as_double(value);
        if (unit == 4) {
            float f = float(d);
            std::memcpy(p, &f, 4);
        } else {
            std::memcpy(p, &d, 8);
        }
        return;
    }
    uint32_t x = uint32_t(as_int(value));
    std::memcpy(p, &x, unit);   // the low bytes (little-endian)
}

bool name_is(const cell* word, const char* name)
{
    uint32_t n;
    const uint8_t* p = symbol::name(word->data2, &n);
    if (n != std::strlen(name)) return false;
    for (uint32_t i = 0; i < n; i++)
        if (std::tolower(p[i]) != name[i]) return false;
    return true;
}

[[noreturn]] void bad_make(const cell* spec)
{
    cell type = datatype_cell(TYPE_VECTOR);
    fire(ERR_SCRIPT, err::BAD_MAKE_ARG, &type, spec);
}

// The cells a value contributes to append, insert and change: a block's from its head, else itself.
std::vector<cell> items_of(const cell* value, int64_t limit)
{
    uint32_t t = cell_type(value);
    if (t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_HASH) return {*value};
    int64_t n = block_internal::length_of(value);
    if (limit >= 0) n = std::min(n, limit);
    std::vector<cell> out(size_t(std::max<int64_t>(n, 0)));
    for (int64_t i = 0; i < n; i++) out[size_t(i)] = *block_internal::cell_at(value, series::head_clamped(value) + i);
    return out;
}

int32_t count_arg(const cell* arg)
{
    if (!arg_given(arg)) return -1;
    if (cell_type(arg) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_ARG, arg);
    return std::max(int32_t(arg->data2), 0);
}

}  // namespace

// ---- storage ------------------------------------------------------------------------------------

cell* vector::make_at(cell* out, int64_t count, uint32_t type, uint32_t unit)
{
    if (count < 0 || uint64_t(count) * unit >= 0x80000000ull) fire(ERR_INTERNAL, err::NO_MEMORY);
    node_ref node = series_alloc(uint32_t(std::max<int64_t>(count, 1)), unit, 0);
    *out = cell{TYPE_VECTOR, 0, node, type};
    return out;
}

cell vector::get_value(const cell* v, int64_t i)
{
    uint32_t t = v->data3, unit = unit_of(v);
    const uint8_t* p = element_at(v, i);
    cell out{t, 0, 0, 0};
    if (float_kind(t)) {
        double d;
        if (unit == 4) {
            float f;
            std::memcpy(&f, p, 4);
            d = f;
        } else {
            std::memcpy(&d, p, 8);
        }
        cell_set_float(&out, d);
        return out;
    }
    int32_t n;
    if (unit == 1) {
        n = t == TYPE_CHAR ? int32_t(*p) : int32_t(int8_t(*p));
    } else if (unit == 2) {
        uint16_t x;
        std::memcpy(&x, p, 2);
        n = t == TYPE_CHAR ? int32_t(x) : int32_t(int16_t(x));
    } else {
        std::memcpy(&n, p, 4);
    }
    out.data2 = uint32_t(n);
    return out;
}

void vector::check_element(const cell* v, const cell* value)
{
    if (cell_type(value) != v->data3) fire(ERR_SCRIPT, err::INVALID_ARG, value);
}

void vector::set_value(const cell* v, int64_t index, const cell* value)
{
    uint32_t t = cell_type(value);
    if (t != TYPE_CHAR && t != TYPE_INTEGER && !float_kind(t)) {
        cell type = datatype_cell(t);
        fire(ERR_SCRIPT, err::INVALID_TYPE, &type);
    }
    store(v, index, value);
}

cell* vector::to_block(const cell* v)
{
    cell held = *v;
    int64_t head = head_of(&held), n = units_of(&held) - head;
    cell* out = block::push_only_star(uint32_t(std::max<int64_t>(n, 1)));
    for (int64_t i = 0; i < n; i++) {
        cell e = get_value(&held, head + i);
        block::rs_append(out, &e);
    }
    return out;
}

// ---- make ---------------------------------------------------------------------------------------

cell* vector::make(cell*, cell* spec, uint32_t)
{
    uint32_t st = cell_type(spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        int64_t n;
        if (st == TYPE_INTEGER) {
            n = int32_t(spec->data2);
        } else {
            double d = cell_float(spec);
            if (std::isnan(d) || d < -2147483648.0 || d > 2147483647.0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
            n = int64_t(d);
        }
        if (n < 0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
        cell* out = make_at(stack::push_slot(), n, TYPE_INTEGER, 4);
        std::memset(element_at(out, 0), 0, size_t(n) * 4);
        set_tail(out, n);
        return out;
    }
    if (st != TYPE_BLOCK) fire(ERR_INTERNAL, err::NOT_DONE);
    cell s = *spec;
    int64_t head = series::head_clamped(&s), length = block_internal::length_of(&s);
    auto item = [&](int64_t k) { return *block_internal::cell_at(&s, head + k); };
    uint32_t type = TYPE_INTEGER, bits = 32;
    int64_t count = 0;
    cell values{TYPE_NONE, 0, 0, 0};   // a block of initial values, or none
    cell lead = length > 0 ? item(0) : cell{TYPE_NONE, 0, 0, 0};
    if (cell_type(&lead) == TYPE_WORD) {
        if (length < 2) bad_make(spec);
        cell w = item(0);
        if (name_is(&w, "integer!")) type = TYPE_INTEGER;
        else if (name_is(&w, "char!")) type = TYPE_CHAR;
        else if (name_is(&w, "float!")) type = TYPE_FLOAT;
        else if (name_is(&w, "percent!")) type = TYPE_PERCENT;
        else bad_make(spec);
        int64_t k = 1;
        cell size = item(1);
        if (cell_type(&size) == TYPE_INTEGER) {
            bits = size.data2;
            bool ok = type == TYPE_PERCENT || (float_kind(type) ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 32);
            if (!ok) bad_make(spec);
            if (type == TYPE_PERCENT) bits = 64;
            k = 2;
        } else {
            if (type != TYPE_PERCENT) fire(ERR_SCRIPT, err::INVALID_SPEC_FIELD, &size);
            bits = 64;
        }
        if (k < length) {
            cell next = item(k);
            if (cell_type(&next) == TYPE_INTEGER) {
                count = int32_t(next.data2);
                if (count < 0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, &next);
                if (++k < length) {
                    cell after = item(k);
                    if (cell_type(&after) != TYPE_BLOCK) fire(ERR_SCRIPT, err::INVALID_SPEC_FIELD, &after);
                    values = after;
                }
            } else if (cell_type(&next) == TYPE_BLOCK) {
                values = next;
            } else {
                fire(ERR_SCRIPT, err::INVALID_SPEC_FIELD, &next);
            }
        }
    } else if (length > 0) {
        cell first = item(0);
        type = cell_type(&first);
        if (type != TYPE_CHAR && type != TYPE_INTEGER && !float_kind(type)) {
            cell t = datatype_cell(type);
            fire(ERR_SCRIPT, err::INVALID_TYPE, &t);
        }
        bits = default_bits(type);
        values = s;
    }
    std::vector<cell> initial;
    if (cell_type(&values) == TYPE_BLOCK) initial = items_of(&values, -1);
    count = std::max<int64_t>(count, int64_t(initial.size()));
    cell* out = make_at(stack::push_slot(), count, type, bits / 8);
    for (size_t i = 0; i < initial.size(); i++) {
        check_element(out, &initial[i]);
        set_tail(out, int64_t(i) + 1);
        store(out, int64_t(i), &initial[i]);
    }
    if (count > int64_t(initial.size()))
        std::memset(element_at(out, int64_t(initial.size())), 0, size_t(count - int64_t(initial.size())) * (bits / 8));
    set_tail(out, count);
    return out;
}

// ---- form and mold ------------------------------------------------------------------------------

namespace {

int32_t emit_elements(cell* v, cell* buffer, bool mold, bool all, cell* arg, int32_t part)
{
    cell held = *v;
    bool limited = arg_given(arg);
    int64_t head = head_of(&held);
    for (int64_t i = head; i < units_of(&held); i++) {
        if (limited && part <= 0) return part;
        if (i > head) part = string::emit_literal(buffer, " ", part);
        cell e = vector::get_value(&held, i);
        if (float_kind(held.data3) && unit_of(&held) == 4) {
            bool percent = held.data3 == TYPE_PERCENT;
            double d = cell_float(&e) * (percent ? 100.0 : 1.0);
            part = string::emit_literal(buffer, float_::form_float(d, percent ? float_::FORM_SINGLE_PERCENT : float_::FORM_SINGLE), part);
        } else if (mold) {
            part = mold_value(&e, buffer, false, all, false, arg, part, 0);
        } else {
            part = form_value(&e, buffer, arg, part);
        }
    }
    return part;
}

const char* type_name(uint32_t t)
{
    switch (t) {
    case TYPE_CHAR: return "char!";
    case TYPE_FLOAT: return "float!";
    case TYPE_PERCENT: return "percent!";
    default: return "integer!";
    }
}

}  // namespace

int32_t vector::form(cell* value, cell* buffer, cell* arg, int32_t part)
{
    return emit_elements(value, buffer, false, false, arg, part);
}

int32_t vector::mold(cell* value, cell* buffer, bool only, bool all, bool, cell* arg, int32_t part, int32_t)
{
    cell v = *value;
    if (!only) part = string::emit_literal(buffer, "make vector! [", part);
    bool plain = units_of(&v) > head_of(&v) && unit_of(&v) * 8 == default_bits(v.data3);
    if (plain) {
        part = emit_elements(&v, buffer, true, all, arg, part);
        if (!only) part = string::emit_literal(buffer, "]", part);
        return part;
    }
    char head[32];
    std::snprintf(head, sizeof head, "%s %u [", type_name(v.data3), unsigned(unit_of(&v) * 8));
    part = string::emit_literal(buffer, head, part);
    part = emit_elements(&v, buffer, true, all, arg, part);
    return string::emit_literal(buffer, only ? "]" : "]]", part);
}

// ---- compare ------------------------------------------------------------------------------------

int32_t vector::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_VECTOR) return -2;
    cell a = *value1, b = *value2;
    if (a.data3 != b.data3) fire(ERR_SCRIPT, err::NOT_SAME_TYPE);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (a.data2 == b.data2 && head_of(&a) == head_of(&b)) return 0;
    if (op == COMP_SAME) return -1;
    int64_t n1 = units_of(&a) - head_of(&a), n2 = units_of(&b) - head_of(&b);
    if (n1 == 0 && n2 == 0) return 0;
    if (n1 != n2 && equality) return 1;
    for (int64_t i = 0; i < std::min(n1, n2); i++) {
        cell x = get_value(&a, head_of(&a) + i), y = get_value(&b, head_of(&b) + i);
        if (float_kind(a.data3)) {
            double dx = cell_float(&x), dy = cell_float(&y);
            if (dx != dy) return dx < dy ? -1 : 1;
        } else if (x.data2 != y.data2) {
            return int32_t(x.data2) < int32_t(y.data2) ? -1 : 1;
        }
    }
    return n1 < n2 ? -1 : n1 > n2 ? 1 : 0;
}

// ---- arithmetic ---------------------------------------------------------------------------------

cell* vector::do_math(uint32_t op, cell* v, const cell* scalar, bool scalar_first)
{
    uint32_t st = cell_type(scalar);
    bool floats = float_kind(v->data3);
    if (st != TYPE_INTEGER && !float_kind(st)) fire(ERR_INTERNAL, err::NOT_DONE);
    double sd = as_double(scalar);
    int32_t si = as_int(scalar);
    if (!scalar_first) {
        double neutral = floats ? sd : double(si);
        if (neutral == 0.0 && (op == MATH_ADD || op == MATH_SUBTRACT)) return v;
        if (neutral == 1.0 && (op == MATH_MULTIPLY || op == MATH_DIVIDE)) return v;
    }
    cell held = *v;
    for (int64_t i = head_of(&held); i < units_of(&held); i++) {
        cell e = get_value(&held, i);
        if (floats) {
            double x = cell_float(&e);
            cell_set_float(&e, scalar_first ? float_op(sd, x, op) : float_op(x, sd, op));
        } else {
            int32_t x = int32_t(e.data2);
            e.data2 = uint32_t(scalar_first ? int_op(si, x, op) : int_op(x, si, op));
        }
        store(&held, i, &e);
    }
    return v;
}

namespace {

// Element-wise between two vectors: a new series of the shorter length in the larger unit, given
// to the first operand's cell with head 0.
cell* math(cell* value1, cell* value2, uint32_t op)
{
    if (cell_type(value2) != TYPE_VECTOR) return vector::do_math(op, value1, value2, false);
    cell a = *value1, b = *value2;
    if (a.data3 != b.data3) fire(ERR_SCRIPT, err::NOT_SAME_TYPE);
    int64_t n = std::min(units_of(&a) - head_of(&a), units_of(&b) - head_of(&b));
    cell* out = vector::make_at(stack::push_slot(), n, a.data3, std::max(unit_of(&a), unit_of(&b)));
    set_tail(out, n);
    bool floats = float_kind(a.data3);
    for (int64_t i = 0; i < n; i++) {
        cell x = vector::get_value(&a, head_of(&a) + i), y = vector::get_value(&b, head_of(&b) + i);
        if (floats) cell_set_float(&x, float_op(cell_float(&x), cell_float(&y), op));
        else x.data2 = uint32_t(int_op(int32_t(x.data2), int32_t(y.data2), op));
        store(out, i, &x);
    }
    *value1 = *out;
    stack::pop(1);
    return value1;
}

cell* add(cell* a, cell* b) { return math(a, b, MATH_ADD); }
cell* subtract(cell* a, cell* b) { return math(a, b, MATH_SUBTRACT); }
cell* multiply(cell* a, cell* b) { return math(a, b, MATH_MULTIPLY); }
cell* divide(cell* a, cell* b) { return math(a, b, MATH_DIVIDE); }
cell* remainder(cell* a, cell* b) { return math(a, b, MATH_REMAINDER); }
cell* or_t(cell* a, cell* b) { return math(a, b, MATH_OR); }
cell* and_t(cell* a, cell* b) { return math(a, b, MATH_AND); }
cell* xor_t(cell* a, cell* b) { return math(a, b, MATH_XOR); }

// ---- append, insert, change ---------------------------------------------------------------------

cell* append_insert(cell* series, cell* value, cell* part, cell* dup, bool append)
{
    cell v = *series;
    series->data1 = uint32_t(head_of(&v));
    v.data1 = series->data1;
    std::vector<cell> items = items_of(value, count_arg(part));
    for (const cell& c : items) vector::check_element(&v, &c);
    int32_t times = arg_given(dup) ? count_arg(dup) : 1;
    int64_t total = int64_t(items.size()) * times;
    if (total == 0) return series;
    int64_t length = units_of(&v);
    series::notify(&v, append ? EV_APPEND : EV_INSERT, int32_t(append ? length : v.data1), int32_t(total), value);
    length = units_of(&v);
    int64_t at = append ? length : std::min<int64_t>(v.data1, length);
    reserve(&v, length + total);
    uint32_t unit = unit_of(&v);
    std::memmove(element_at(&v, at + total), element_at(&v, at), size_t(length - at) * unit);
    set_tail(&v, length + total);
    for (int64_t k = 0; k < total; k++) store(&v, at + k, &items[size_t(k % int64_t(items.size()))]);
    series::notify(&v, append ? EV_APPENDED : EV_INSERTED, int32_t(at), int32_t(total), value);
    if (!append) series->data1 = uint32_t(at + total);
    return series;
}

}  // namespace

cell* vector::append(cell* series, cell* value, cell* part, bool, cell* dup)
{
    return append_insert(series, value, part, dup, true);
}

cell* vector::insert(cell* series, cell* value, cell* part, bool, cell* dup)
{
    return append_insert(series, value, part, dup, false);
}

cell* vector::change(cell* series, cell* value, cell* part, bool, cell* dup)
{
    cell v = *series;
    int64_t head = head_of(&v);
    std::vector<cell> items;
    if (cell_type(value) == TYPE_VECTOR) {
        // Another vector gives its elements, converted to this one's element type.
        cell src = *value;
        for (int64_t i = head_of(&src); i < units_of(&src); i++) items.push_back(get_value(&src, i));
    } else {
        items = items_of(value, -1);
        for (const cell& c : items) check_element(&v, &c);
    }
    int32_t times = arg_given(dup) ? count_arg(dup) : 1;
    int64_t written = int64_t(items.size()) * times;
    int64_t rest = units_of(&v) - head;
    int32_t limit = count_arg(part);
    int64_t removed = limit >= 0 ? std::min<int64_t>(limit, rest) : std::min<int64_t>(written, rest);
    series::notify(&v, EV_CHANGE, int32_t(head), int32_t(removed), value);
    int64_t length = units_of(&v);
    head = std::min(head, length);
    removed = std::min(removed, length - head);
    reserve(&v, length - removed + written);
    uint32_t unit = unit_of(&v);
    std::memmove(element_at(&v, head + written), element_at(&v, head + removed), size_t(length - head - removed) * unit);
    set_tail(&v, length - removed + written);
    for (int64_t k = 0; k < written; k++) store(&v, head + k, &items[size_t(k % int64_t(items.size()))]);
    series::notify(&v, EV_CHANGED, int32_t(head), int32_t(written), value);
    series->data1 = uint32_t(std::min<int64_t>(head + written, units_of(&v)));
    return series;
}

namespace {

// take gives an element, or a vector of them with /part.
cell* take(cell* series, cell* part, bool deep, bool last)
{
    cell* out = series::take(series, part, deep, last);
    if (arg_given(part) || cell_type(out) != TYPE_VECTOR) return out;
    if (series::units(out) == 0) return none::make_at(out);
    *out = vector::get_value(out, 0);
    return out;
}

cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool, bool, bool)
{
    if (cell_type(element) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    if (value) {
        series::poke_at(parent, integer_of(element), value);
        return value;
    }
    return series::pick_into(parent, integer_of(element), stack::push_slot());
}

// find, select and sort work on the element values: the vector's elements become a block (rooted
// on the stack) and the block routines search or sort it, so a vector finds and orders numbers as
// a block of them does. The whole vector is copied, so /reverse and /last see the elements before
// the head too.
cell* elements_block(const cell* v)
{
    cell whole = *v;
    whole.data1 = 0;
    return vector::to_block(&whole);
}

// The /part argument for the block routines, pushed on the argument stack (where they look for
// given refinements): a position in the same vector becomes the count of elements it spans.
cell* part_arg(stack::scope& held, const cell* series, cell* part)
{
    if (!arg_given(part)) return part;
    if (cell_type(part) == TYPE_VECTOR && part->data2 == series->data2)
        return held.push(cell{TYPE_INTEGER, 0, uint32_t(int32_t(series_head_raw(part)) - int32_t(series_head_raw(series))), 0});
    return held.push(*part);
}

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
           bool last, bool reverse, bool tail, bool match)
{
    stack::scope held;
    cell* found = elements_block(series);
    found->data1 = series->data1;
    block::find(found, value, part_arg(held, series, part), only, case_, same, any, with, skip, last, reverse, tail, match);
    if (cell_type(found) == TYPE_NONE) return none::make_at(series);
    series->data1 = found->data1;
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse, bool tail, bool match)
{
    stack::scope held;
    cell* found = elements_block(series);
    found->data1 = series->data1;
    block::select(found, value, part_arg(held, series, part), only, case_, same, any, with, skip, last, reverse, tail,
                  match);
    *series = *found;
    return series;
}

cell* sort(cell* series, bool case_, cell* skip, cell* comparator, cell* part, bool all, bool reverse, bool stable)
{
    series::sort_plan plan;
    if (!series::plan_sort(series, series::length_clamped(series), skip, comparator, part, all, reverse, &plan))
        return series;
    series::notify(series, EV_SORT, int32_t(plan.head), int32_t(plan.count));
    stack::scope held;
    cell* values = elements_block(series);
    // Only the planned range is sorted: the block starts at the head and is cut after the count.
    values->data1 = plan.head;
    cell* count = held.push(cell{TYPE_INTEGER, 0, plan.count, 0});
    block::sort(values, case_, skip, comparator, count, all, reverse, stable);
    // A /compare function may have shortened the vector: write back only what still fits.
    int64_t end = std::min<int64_t>(plan.head + int64_t(plan.count), units_of(series));
    for (int64_t i = plan.head; i < end; i++) store(series, i, block_internal::cell_at(values, i));
    series::notify(series, EV_SORTED, int32_t(plan.head), int32_t(plan.count));
    return series;
}

}  // namespace

void vector::init()
{
    datatype::register_type(TYPE_VECTOR, TYPE_STRING, "vector!", {
        .make = make, .random = series::random, .reflect = series::reflect, .form = form, .mold = mold,
        .eval_path = eval_path, .compare = compare, .add = add, .divide = divide, .multiply = multiply,
        .remainder = remainder, .subtract = subtract, .and_t = and_t, .or_t = or_t, .xor_t = xor_t,
        .append = append, .at = series::at, .back = series::back, .change = change, .clear = series::clear,
        .copy = series::copy, .find = find, .head = series::head, .head_q = series::head_q, .index_q = series::index_q,
        .insert = insert, .length_q = series::length_q, .move = series::move, .next = series::next,
        .pick = series::pick, .poke = series::poke, .remove = series::remove, .reverse = series::reverse,
        .select = select, .sort = sort, .skip = series::skip, .tail = series::tail, .tail_q = series::tail_q, .take = take,
        .modify = series::modify,
        .mark = collector::mark_buffer_cell});
}
