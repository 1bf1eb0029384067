// String storage and construction: code points in units of 1, 2 or 4 bytes, widened in place,
// the routines every text producer uses, make/to and comparison. Must not break: nothing keeps a
// buffer address across a call that may allocate; cells that come in are copied before growing.
#include "runtime/datatypes/string.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/casefold.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/stack.h"
#include "runtime/rterror.h"
#include "runtime/unicode.h"

namespace {

struct string_state {
    char byte_hex[3];
    char hex[9];
};
string_state string_s = {"00", "00000000"};

const char hex_digits[] = "0123456789ABCDEF";

[[noreturn]] void out_of_range(int32_t value)
{
    cell arg{TYPE_INTEGER, 0, uint32_t(value), 0};
    fire(ERR_SCRIPT, err::OUT_OF_RANGE, &arg);
}

uint32_t units_of(const series_buffer* s) { return (s->tail - s->head) / text_unit(s); }

// A symbol! stands for its name string, read from its start. The name string is made on demand
// (symbol::get_string); a symbol whose string was never made is refused rather than read.
cell text_view(const cell* value)
{
    if (cell_type(value) != TYPE_SYMBOL) return *value;
    if (!value->data2) fire(ERR_INTERNAL, err::NOT_HERE);
    return cell{TYPE_STRING, 0, value->data2, 0};
}

using series::head_clamped;
using series::length_clamped;

using series::room_for;

// Widens the buffer when cp does not fit its unit; `limit` is the largest code point a unit-1
// buffer keeps (127 when appending, 255 when writing at a place).
series_buffer* fit_code_point(node_ref node, uint32_t cp, uint32_t limit)
{
    series_buffer* s = series_of(node);
    uint32_t unit = text_unit(s);
    if (unit == 1 && cp > limit) return string::widen(node, 1, cp > 0xFFFF ? 4 : 2);
    if (unit == 2 && cp > 0xFFFF) return string::widen(node, 2, 4);
    return s;
}

cell* string_at(cell* slot, node_ref node, uint32_t type)
{
    *slot = cell{type, 0, node, 0};
    return slot;
}

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

cell* string::make_at(cell* slot, uint32_t size, uint32_t unit)
{
    slot->header = TYPE_UNSET;   // the slot is seen as nothing while the allocation runs
    node_ref node = series_alloc_unit(size ? size : 1, unit);
    return string_at(slot, node, TYPE_STRING);
}

cell* string::make_at_unit(cell* slot, uint32_t size, uint32_t unit) { return make_at(slot, size, unit); }

cell* string::push(const cell* str) { return stack::push(str); }

cell* string::load_at(const uint8_t* bytes, uint32_t count, cell* slot, int32_t encoding)
{
    if (!slot) slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    node_ref node;
    if (encoding == 0) node = utf8_load_plain(bytes, count);
    else if (encoding == -1) node = utf16_load_string(bytes, count / 2, nullptr, false);
    else {
        // An unknown encoding is the caller's mistake, not a reason to end the process.
        cell arg{TYPE_INTEGER, 0, uint32_t(encoding), 0};
        fire(ERR_SCRIPT, err::INVALID_ARG, &arg);
    }
    return string_at(slot, node, TYPE_STRING);
}

cell* string::load_in(const uint8_t* bytes, uint32_t count, cell* blk, int32_t encoding)
{
    cell* loaded = load_at(bytes, count, nullptr, encoding);   // rooted on the stack while the block grows
    cell* slot = block::rs_append(blk ? blk : &root_block, loaded);
    stack::pop(1);
    return slot;
}

cell* string::load(const uint8_t* bytes, uint32_t count, int32_t encoding)
{
    return load_at(bytes, count, nullptr, encoding);
}

// ---- unit access --------------------------------------------------------------------------------

uint32_t string::get_char(const uint8_t* p, uint32_t unit) { return unit_read(p, unit); }

uint8_t* string::ks_head(cell* str)
{
    series_buffer* s = series_of(series_node(str));
    uint32_t unit = text_unit(s);
    if (str->data1 > units_of(s)) str->data1 = units_of(s);
    return at(s->head) + str->data1 * unit;
}

uint8_t* string::ks_tail(const cell* str) { return at(series_of(series_node(str))->tail); }

bool string::ks_tail_q(const cell* str) { return length_clamped(str) == 0; }

uint32_t string::ks_abs_at(const cell* str, uint32_t index)
{
    series_buffer* s = series_of(series_node(str));
    uint32_t unit = text_unit(s);
    if (index >= units_of(s)) out_of_range(int32_t(index));
    return unit_read(at(s->head) + index * unit, unit);
}

uint32_t string::ks_length_q(const cell* str) { return length_clamped(str); }

uint32_t string::ks_abs_length_q(const cell* str) { return units_of(series_of(series_node(str))); }

void string::ks_reset(cell* str)
{
    series_buffer* s = series_of(series_node(str));
    s->tail = s->head;
    s->flags = (s->flags & ~SERIES_UNIT_MASK) | 1;
    str->data1 = 0;
}

// ---- writing code points ------------------------------------------------------------------------

series_buffer* string::append_char(node_ref node, uint32_t cp)
{
    uint32_t unit = text_unit(fit_code_point(node, cp, 127));
    uint8_t* p = series_alloc_tail_bytes(node, unit);
    unit_write(p, unit, cp);
    return series_of(node);
}

series_buffer* string::poke_char(node_ref node, const uint8_t* address, uint32_t cp)
{
    series_buffer* s = series_of(node);
    return poke_char_at(node, uint32_t(address - at(s->head)) / text_unit(s), cp);
}

series_buffer* string::poke_char_at(node_ref node, uint32_t index, uint32_t cp)
{
    // Past the tail there is nothing to write over: refused rather than leaving a gap of garbage.
    if (index > units_of(series_of(node))) out_of_range(int32_t(index));
    series_buffer* s = fit_code_point(node, cp, 255);
    uint32_t unit = series_unit(s);
    if (index == units_of(s)) {
        s = room_for(node, uint64_t(index + 1) * unit);
        s->tail += unit;
    }
    unit_write(at(s->head) + index * unit, unit, cp);
    return s;
}

series_buffer* string::insert_char_at(node_ref node, uint32_t index, uint32_t cp)
{
    if (index > units_of(series_of(node))) out_of_range(int32_t(index));
    series_buffer* s = fit_code_point(node, cp, 255);
    uint32_t unit = series_unit(s);
    s = room_for(node, uint64_t(units_of(s) + 1) * unit);
    uint8_t* p = at(s->head) + index * unit;
    std::memmove(p + unit, p, at(s->tail) - p);
    s->tail += unit;
    unit_write(p, unit, cp);
    return s;
}

void string::remove_at(cell* str, uint32_t index, uint32_t n)
{
    series_buffer* s = series_of(series_node(str));
    uint32_t unit = text_unit(s), total = units_of(s);
    if (index >= total) return;
    if (n > total - index) n = total - index;
    uint8_t* p = at(s->head) + index * unit;
    std::memmove(p, p + n * unit, (total - index - n) * unit);
    s->tail -= n * unit;
}

void string::truncate_at(node_ref node, uint32_t n)
{
    series_buffer* s = series_of(node);
    uint64_t end = s->head + uint64_t(n) * text_unit(s);
    if (end < s->tail) s->tail = uint32_t(end);
}

void string::move_chars(cell* source, cell* target, uint32_t n)
{
    cell src = *source, tgt = *target;
    uint32_t from = head_clamped(&src), length = length_clamped(&src);
    if (n > length) n = length;
    std::vector<uint32_t> moved(n);
    for (uint32_t i = 0; i < n; i++) moved[i] = ks_abs_at(&src, from + i);
    uint32_t to = tgt.data1;
    for (uint32_t i = 0; i < n; i++) insert_char_at(tgt.data2, to + i, moved[i]);
    // Inserting in front of the source in its own buffer pushed the source up by n units.
    if (src.data2 == tgt.data2 && to <= from) from += n;
    remove_at(&src, from, n);
}

series_buffer* string::widen(node_ref node, uint32_t from, uint32_t to)
{
    series_buffer* s = series_of(node);
    if (series_unit(s) != from) runtime_error(RT_NO_SWITCH, rt_error_address());
    if (from == 1 && to == 2) return string_widen_ucs2(s);
    if (from == 1 && to == 4) return string_widen_ucs4(s);
    if (from == 2 && to == 4) return string_ucs2_to_ucs4(s);
    runtime_error(RT_NO_SWITCH, rt_error_address());
}

series_buffer* string::copy_widen(series_buffer* source, series_buffer* target, uint32_t new_size,
                                  uint32_t target_unit, uint32_t byte_offset, int32_t start, int32_t limit,
                                  bool keep_tail)
{
    uint32_t unit = text_unit(source);
    if (target_unit <= unit || (target_unit != 2 && target_unit != 4)) runtime_error(RT_NO_CASE, rt_error_address());
    uint32_t total = units_of(source);
    uint32_t first = start < 0 ? 0 : uint32_t(start) < total ? uint32_t(start) : total;
    uint32_t n = limit < 0 || uint32_t(limit) > total - first ? total - first : uint32_t(limit);
    // Read the units before anything allocates: the source may move or be the buffer replaced.
    std::vector<uint32_t> cps(n);
    for (uint32_t i = 0; i < n; i++) cps[i] = unit_read(at(source->head) + (first + i) * unit, unit);
    if (!target) target = series_resize(source, new_size);
    uint32_t room = (series_end_ref(target) - target->head);
    if (byte_offset > room) byte_offset = room;
    if (n > (room - byte_offset) / target_unit) n = (room - byte_offset) / target_unit;
    uint8_t* out = at(target->head) + byte_offset;
    for (uint32_t i = 0; i < n; i++) unit_write(out + i * target_unit, target_unit, cps[i]);
    if (!keep_tail) {
        target->tail = target->head + byte_offset + n * target_unit;
        target->flags = (target->flags & ~SERIES_UNIT_MASK) | target_unit;
    }
    return target;
}

// ---- appending text -----------------------------------------------------------------------------

series_buffer* string::concatenate(const cell* target, const cell* source, int32_t part, uint32_t offset,
                                   bool keep_source, uint32_t mode)
{
    const cell tgt = text_view(target), src = text_view(source);   // either may live in a buffer that moves
    const node_ref tn = tgt.data2, sn = src.data2;
    uint32_t tu = text_unit(series_of(tn)), su = text_unit(series_of(sn));
    if (tu < su) tu = text_unit(widen(tn, tu, su));
    uint32_t count = length_clamped(&src);
    if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
    uint32_t at_index = head_clamped(&tgt) + offset;
    if (at_index > units_of(series_of(tn))) at_index = units_of(series_of(tn));
    if (su < tu && keep_source) {
        for (uint32_t i = 0; i < count; i++) {
            uint32_t cp = ks_abs_at(&src, head_clamped(&src) + i);
            if (mode == CONCAT_APPEND) append_char(tn, cp);
            else if (mode == CONCAT_INSERT) insert_char_at(tn, at_index + i, cp);
            else poke_char_at(tn, at_index + i, cp);
        }
        return series_of(tn);
    }
    if (su < tu) su = text_unit(widen(sn, su, tu));
    uint32_t bytes = count * tu;
    if (!bytes) return series_of(tn);
    // Copied aside first: source and target may share the buffer, and growing may move it.
    std::vector<uint8_t> text(bytes);
    std::memcpy(text.data(), at(series_of(sn)->head) + head_clamped(&src) * su, bytes);
    series_buffer* s = series_of(tn);
    uint32_t used = units_of(s);
    if (mode == CONCAT_APPEND) at_index = used;
    uint64_t end = mode == CONCAT_OVERWRITE ? std::max<uint64_t>(used, uint64_t(at_index) + count) : uint64_t(used) + count;
    s = room_for(tn, end * tu);
    uint8_t* p = at(s->head) + at_index * tu;
    if (mode != CONCAT_OVERWRITE) std::memmove(p + bytes, p, (used - at_index) * tu);
    std::memcpy(p, text.data(), bytes);
    s->tail = s->head + uint32_t(end) * tu;
    return s;
}

series_buffer* string::append_string(const cell* target, const cell* source, int32_t part, uint32_t offset,
                                     bool keep_source, uint32_t mode)
{
    return concatenate(target, source, part, offset, keep_source, mode);
}

cell* string::concatenate_literal(cell* buffer, const char* text)
{
    return concatenate_literal_part(buffer, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
}

cell* string::concatenate_literal_part(cell* buffer, const uint8_t* bytes, uint32_t n)
{
    // Bytes read from a series (a binary's data, a scratch buffer) would move as the string grows.
    std::vector<uint8_t> copy;
    if (in_value_range(bytes)) {
        copy.assign(bytes, bytes + n);
        bytes = copy.data();
    }
    node_ref node = buffer->data2;
    uint32_t unit = text_unit(series_of(node));
    // The run that goes in unit by unit (for a one-byte string, up to the first non-ASCII byte)
    // takes its room once.
    uint32_t run = 0;
    while (run < n && (unit != 1 || bytes[run] <= 127)) run++;
    uint8_t* to = series_alloc_tail_bytes(node, run * unit);
    if (unit == 1) std::memcpy(to, bytes, run);
    else for (uint32_t i = 0; i < run; i++) unit_write(to + i * unit, unit, bytes[i]);
    for (uint32_t i = run; i < n; i++) append_char(node, bytes[i]);
    return buffer;
}

// ---- numbers and small searches -----------------------------------------------------------------

const char* string::byte_to_hex(uint8_t byte)
{
    string_s.byte_hex[0] = hex_digits[byte >> 4];
    string_s.byte_hex[1] = hex_digits[byte & 15];
    return string_s.byte_hex;
}

int32_t string::emit_literal(cell* buffer, const char* text, int32_t part)
{
    concatenate_literal(buffer, text);
    return part - int32_t(std::strlen(text));
}

double string::to_float(const uint8_t* bytes, uint32_t length, int32_t* remaining)
{
    const char* start = reinterpret_cast<const char*>(bytes);
    return text_to_float(start, start + length, 0, remaining);
}

const char* string::to_hex(int32_t value, bool trim)
{
    uint32_t v = uint32_t(value);
    for (int i = 7; i >= 0; i--, v >>= 4) string_s.hex[i] = hex_digits[v & 15];
    if (!trim) return string_s.hex;
    if (value == 0) return string_s.hex + 6;
    const char* p = string_s.hex;
    while (*p == '0') p++;
    return p;
}

int32_t string::find_char(const cell* str, uint32_t cp)
{
    series_buffer* s = series_of(series_node(str));
    uint32_t unit = text_unit(s), from = head_clamped(str), total = units_of(s);
    for (uint32_t i = from; i < total; i++)
        if (unit_read(at(s->head) + i * unit, unit) == cp) return int32_t(i - from);
    return -1;
}

bool string::starts_with_literal_q(const cell* str, const char* text)
{
    uint32_t n = uint32_t(std::strlen(text));
    if (length_clamped(str) < n) return false;
    series_buffer* s = series_of(series_node(str));
    uint32_t unit = text_unit(s);
    const uint8_t* p = at(s->head) + head_clamped(str) * unit;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t cp = unit_read(p + i * unit, unit);
        if (cp > 255 || cp != uint8_t(text[i])) return false;
    }
    return true;
}

// ---- make, to, compare --------------------------------------------------------------------------

cell* string::make(cell* proto, cell* spec, uint32_t type)
{
    uint32_t t = cell_type(spec);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        int32_t n = int32_t(spec->data2);
        if (t == TYPE_FLOAT) {
            double d = cell_float(spec);
            if (!(d >= -2147483648.0 && d < 2147483648.0)) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
            n = int32_t(d);
        }
        if (n < 0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
        cell* result = make_at(stack::push_slot(), n ? uint32_t(n) : 16);
        cell_set_type(result, type);
        return result;
    }
    if (type == TYPE_BINARY) {
        cell binary_type{TYPE_DATATYPE, TYPE_BINARY, 0, 0};
        if (t == TYPE_MONEY) fire(ERR_SCRIPT, err::BAD_MAKE_ARG, &binary_type, spec);
        if (auto f = actions_of(TYPE_BINARY).to) return f(proto, spec, type);
        fire(ERR_SCRIPT, err::BAD_MAKE_ARG, &binary_type, spec);
    }
    return to(proto, spec, type);
}

cell* string::to(cell*, cell* spec, uint32_t type)
{
    uint32_t t = cell_type(spec);
    if (t == TYPE_NONE) {
        cell string_type{TYPE_DATATYPE, TYPE_STRING, 0, 0};
        fire(ERR_SCRIPT, err::BAD_TO_ARG, &string_type, spec);
    }
    cell* result;
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        result = make_at(stack::push_slot(), 16);
        const cell blk = *spec;
        for (uint32_t i = 0; i < block::rs_length(&blk); i++) {
            cell* item = stack::push(block::rs_head(&blk) + i);   // rooted while forming allocates
            form_value(item, result, nullptr, FORM_WHOLE);
            stack::pop(1);
        }
    } else if (any_string_q(t)) {
        result = make_at(stack::push_slot(), length_clamped(spec), text_unit(series_of(series_node(spec))));
        append_string(result, spec, -1, 0, true, CONCAT_APPEND);
    } else if (t == TYPE_REFINEMENT) {
        result = make_at(stack::push_slot(), 16);
        if (type == TYPE_STRING) form_value(spec, result, nullptr, FORM_WHOLE);
        else mold_value(spec, result, false, false, false, nullptr, FORM_WHOLE, 0);
    } else if (t == TYPE_BINARY) {
        result = make_at(stack::push_slot(), 16);
        series_buffer* b = series_of(series_node(spec));
        uint32_t head = spec->data1 < b->tail - b->head ? spec->data1 : b->tail - b->head;
        uint32_t remaining = 0;
        utf8_load_into_string(at(b->head) + head, b->tail - b->head - head, result, &remaining);
        if (remaining) {
            // The bytes the decoder could not finish are the error's argument.
            node_ref rest = bytes_alloc(remaining);
            b = series_of(series_node(spec));
            series_buffer* r = series_of(rest);
            std::memcpy(at(r->head), at(b->tail) - remaining, remaining);
            r->tail = r->head + remaining;
            cell arg{TYPE_BINARY, 0, rest, 0};
            fire(ERR_ACCESS, err::INVALID_UTF8, &arg);
        }
    } else {
        result = make_at(stack::push_slot(), 16);
        form_value(spec, result, nullptr, FORM_WHOLE);
    }
    cell_set_type(result, type);
    return result;
}

namespace {

// A text's units from its clamped head: where they start, how many, and their width.
struct text_span {
    const uint8_t* p;
    uint32_t n, unit;
};

text_span span_of(const cell* text)
{
    series_buffer* b = series_of(text->data2);
    uint32_t unit = series_unit(b);
    if (unit != 1 && unit != 2 && unit != 4) unit = text_unit(b);   // refuses the width
    uint32_t total = series_used_bytes(b) >> (unit >> 1);
    int32_t head = series_head_raw(text);
    uint32_t from = head <= 0 ? 0 : uint32_t(head) > total ? total : uint32_t(head);
    return {at<uint8_t>(b->head) + from * unit, total - from, unit};
}

template <class T>
inline T load_unit(const uint8_t* p)
{
    T unit;
    std::memcpy(&unit, p, sizeof unit);
    return unit;
}

// The first n code points of two texts in order: equal units fold alike, so only a difference is
// folded.
template <class A, class B>
int32_t compare_code_points(const uint8_t* p1, const uint8_t* p2, uint32_t n, bool fold)
{
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c1 = load_unit<A>(p1 + i * sizeof(A)), c2 = load_unit<B>(p2 + i * sizeof(B));
        if (c1 == c2) continue;
        if (fold) c1 = char_change_case(c1, 1), c2 = char_change_case(c2, 1);
        if (c1 != c2) return c1 > c2 ? 1 : -1;
    }
    return 0;
}

template <class A>
int32_t compare_with(const uint8_t* p1, const text_span& b, uint32_t n, bool fold)
{
    if (b.unit == 1) return compare_code_points<A, uint8_t>(p1, b.p, n, fold);
    if (b.unit == 2) return compare_code_points<A, uint16_t>(p1, b.p, n, fold);
    return compare_code_points<A, uint32_t>(p1, b.p, n, fold);
}

int32_t compare_spans(const text_span& a, text_span b, uint32_t n, bool fold)
{
    const uint8_t* p1 = a.p;
    if (a.unit == b.unit) {
        // Texts of one width skip their identical stretch eight bytes at a time.
        uint32_t bytes = n * a.unit, same = 0;
        while (same + 8 <= bytes && load_unit<uint64_t>(p1 + same) == load_unit<uint64_t>(b.p + same)) same += 8;
        p1 += same;
        b.p += same;
        n -= same / a.unit;
    }
    if (a.unit == 1) return compare_with<uint8_t>(p1, b, n, fold);
    if (a.unit == 2) return compare_with<uint16_t>(p1, b, n, fold);
    return compare_with<uint32_t>(p1, b, n, fold);
}

}  // namespace

int32_t string::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value1) != cell_type(value2)) {
        if (any_string_q(cell_type(value2)) && (op == COMP_EQUAL || op == COMP_NOT_EQUAL))
            return equal_q(value1, value2, op, false);
        return -2;
    }
    return equal_q(value1, value2, op, false);
}

int32_t string::equal_q(const cell* value1, const cell* value2, int32_t op, bool match)
{
    bool same = value1->data2 == value2->data2 && value1->data1 == value2->data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (same && equality) return 0;
    const cell v1 = text_view(value1), v2 = text_view(value2);
    const text_span a = span_of(&v1), b = span_of(&v2);
    uint32_t length1 = a.n, length2 = b.n, n;
    if (match) {
        if (length2 == 0) return op == COMP_FIND ? 1 : 0;
        if (length1 < length2) return 1;
        n = length2;
    } else {
        if (length1 != length2 && (equality || length2 == 0)) return 1;
        if (length1 == length2 && length1 == 0) return 0;
        n = length1 < length2 ? length1 : length2;
    }
    bool fold = op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT;
    if (int32_t order = compare_spans(a, b, n, fold)) return order;
    if (match) return 0;
    return length1 > length2 ? 1 : length1 == length2 ? 0 : -1;
}

// ---- form and mold ------------------------------------------------------------------------------

namespace {

// The letter after the caret for code points 0-31, then the two printable ones that need it.
const char control_letters[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

char escape_letter(uint32_t cp)
{
    if (cp < 32) return control_letters[cp];
    if (cp == '"') return '"';
    if (cp == '^') return '^';
    return 0;
}

}  // namespace

void string::mold_char(cell* buffer, uint32_t cp, bool all)
{
    // Code 30 is written in hex: its caret letter would make "^^", which reads back as the caret.
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
        char text[16] = "^(";
        std::strcat(text, to_hex(int32_t(cp), true));
        std::strcat(text, ")");
        concatenate_literal(buffer, text);
        return;
    }
    if (char letter = escape_letter(cp)) {
        const char text[3] = {'^', letter, 0};
        concatenate_literal(buffer, text);
        return;
    }
    if (cp == 127) {
        concatenate_literal(buffer, "^~");
        return;
    }
    append_char(buffer->data2, cp);
}

void string::count_quotes(const uint8_t* start, const uint8_t* end, uint32_t unit, uint32_t* quotes,
                          uint32_t* new_lines)
{
    for (; start < end; start += unit) {
        uint32_t cp = unit_read(start, unit);
        if (cp == '"') ++*quotes;
        else if (cp == 10) ++*new_lines;
    }
}

bool string::brace_closes_q(const uint8_t* start, const uint8_t* end, uint32_t unit)
{
    uint32_t depth = 0;
    for (; start < end; start += unit) {
        uint32_t cp = unit_read(start, unit);
        if (cp == '{') depth++;
        else if (cp == '}') {
            if (depth == 1) return true;
            depth--;
        }
    }
    return false;
}

int32_t string::form(cell* value, cell* buffer, cell* arg, int32_t part)
{
    uint32_t n = length_clamped(value);
    append_string(buffer, value, arg_given(arg) ? int32_t(arg->data2) : -1, 0, true, CONCAT_APPEND);
    return part - int32_t(n);
}

int32_t string::mold(cell* value, cell* buffer, bool, bool all, bool, cell* arg, int32_t part, int32_t)
{
    const cell v = *value;
    const node_ref node = v.data2;
    uint32_t head = head_clamped(&v), total = units_of(series_of(node)), end = total;
    if (arg_given(arg) && arg->data2 != 0)
        end = part < 0 ? head : uint32_t(std::min<int64_t>(total, int64_t(head) + part));
    series_buffer* s = series_of(node);
    uint32_t unit = text_unit(s), quotes = 0, new_lines = 0;
    count_quotes(at(s->head) + head * unit, at(s->head) + end * unit, unit, &quotes, &new_lines);
    bool braces = new_lines >= 3 || quotes >= 1 || total - head >= 50;
    concatenate_literal(buffer, braces ? "{" : "\"");
    bool balanced = true;
    uint32_t depth = 0;
    for (uint32_t i = head; i < end; i++) {
        s = series_of(node);   // writing to the buffer may have moved or widened this string
        unit = series_unit(s);
        uint32_t cp = unit_read(at(s->head) + i * unit, unit);
        if (!braces) {
            mold_char(buffer, cp, all);
            continue;
        }
        switch (cp) {
        case '{':
            // Once one brace lacks its partner, every later opening brace is escaped too.
            if (balanced && !brace_closes_q(at(s->head) + i * unit, at(s->head) + end * unit, unit)) balanced = false;
            if (balanced) depth++;
            concatenate_literal(buffer, balanced ? "{" : "^{");
            break;
        case '}':
            if (depth < 1) concatenate_literal(buffer, "^}");
            else {
                depth--;
                concatenate_literal(buffer, "}");
            }
            break;
        case '"':
            concatenate_literal(buffer, "\"");
            break;
        case '^':
            concatenate_literal(buffer, "^^");
            break;
        default:
            mold_char(buffer, cp, all);
        }
    }
    concatenate_literal(buffer, braces ? "}" : "\"");
    return part - int32_t(end - head) - 2;
}

// ---- registration -------------------------------------------------------------------------------

void string::init()
{
    datatype::register_type(TYPE_STRING, TYPE_SERIES, "string!", {
        .make = make, .random = inherit, .reflect = inherit, .to = to, .form = form, .mold = mold,
        .eval_path = eval_path, .compare = compare, .append = append, .at = inherit, .back = inherit,
        .change = change, .clear = inherit, .copy = inherit, .find = find, .head = inherit, .head_q = inherit,
        .index_q = inherit, .insert = insert, .length_q = inherit, .move = inherit, .next = inherit,
        .pick = inherit, .poke = inherit, .remove = inherit, .reverse = inherit, .select = select, .sort = sort,
        .skip = inherit, .swap = swap, .tail = inherit, .tail_q = inherit, .take = take, .trim = trim,
        .modify = inherit,
        .mark = collector::mark_string_cell});
}

std::string string::utf8_copy(const cell* str)
{
    series_buffer* s = series_of(series_node(str));
    uint32_t unit = text_unit(s);
    std::string out;
    for (uint32_t p = s->head + head_clamped(str) * unit; p < s->tail; p += unit) {
        uint8_t bytes[4];
        out.append(reinterpret_cast<char*>(bytes), utf8_encode_char(unit_read(at(p), unit), bytes));
    }
    return out;
}

// ---- uppercase and lowercase --------------------------------------------------------------------

cell* change_case(cell* value, const cell* part, uint32_t upper)
{
    if (cell_type(value) == TYPE_CHAR) {
        value->data2 = char_change_case(value->data2, upper);
        return value;
    }
    uint32_t head = head_clamped(value);
    value->data1 = head;
    int64_t count = length_clamped(value);
    if (part) {
        if (cell_type(part) == TYPE_INTEGER) count = int32_t(part->data2);
        else if (cell_type(part) == cell_type(value) && part->data2 == value->data2) count = int64_t(part->data1) - head;
        // Mended: the error names the refinement, then the value, as every /part error does.
        else fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
        if (count < 0) count = 0;
        if (count > length_clamped(value)) count = length_clamped(value);
    }
    const node_ref node = value->data2;
    for (uint32_t i = 0; i < count; i++) {
        series_buffer* s = series_of(node);
        uint32_t unit = series_unit(s);
        uint32_t cp = unit_read(at(s->head) + (head + i) * unit, unit);
        uint32_t changed = char_change_case(cp, upper);
        if (changed != cp) string::poke_char_at(node, head + i, changed);
    }
    // Mended: the owner hears of the change, also of one that changed nothing.
    series::notify(value, upper ? EV_UPPERCASE : EV_LOWERCASE, int32_t(head), int32_t(count));
    return value;
}
