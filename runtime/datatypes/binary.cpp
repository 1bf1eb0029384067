// binary!: constructors, the bytes of values, conversion, text, comparison, the changing actions
// and the bitwise ones. Every change gathers the new bytes into a private copy first and then makes
// one splice through the node, so a source inside the target (or inside a buffer that moves when
// the target grows) is read before anything is written.
#include "runtime/datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace {

constexpr uint64_t SIZE_LIMIT = 0x80000000u;   // the memory manager's bound on one buffer

uint32_t used_of(const cell* v)
{
    series_buffer* s = series_of(v->data2);
    return s->tail - s->head;
}
uint32_t head_of(const cell* v) { return std::min(v->data1, used_of(v)); }

[[noreturn]] void bad_to_arg(const cell* value)
{
    cell t = datatype::value_of(TYPE_BINARY);
    fire(ERR_SCRIPT, err::BAD_TO_ARG, &t, value);
}

// Replaces `removed` bytes at index `at` (counted from the first used byte) by `count` copies of
// `size` bytes, which must not lie in the value range. The buffer grows by doubling, or to the
// exact need when that is larger; the totals are counted in 64 bits.
void splice(node_ref node, uint32_t at, uint32_t removed, const uint8_t* bytes, uint64_t size, uint64_t count)
{
    const uint64_t added = size * count;
    series_buffer* s = series_of(node);
    const uint32_t length = s->tail - s->head;
    // An owner's handler may have shortened the series since the place was chosen.
    at = std::min(at, length);
    removed = std::min(removed, length - at);
    const uint64_t need = uint64_t(length) - removed + added;
    if (size >= SIZE_LIMIT || count >= SIZE_LIMIT || need >= SIZE_LIMIT) fire(ERR_INTERNAL, err::NO_MEMORY);
    if (need > series_end_ref(s) - s->head) {
        uint64_t doubled = uint64_t(s->size) * 2;
        s = series_expand(s, uint32_t(doubled > need && doubled < SIZE_LIMIT ? doubled : need));
    }
    uint8_t* base = ::at(s->head);
    std::memmove(base + at + added, base + at + removed, length - at - removed);
    if (added) {
        std::memcpy(base + at, bytes, size_t(size));
        bytes_repeat(base + at, int32_t(size), int32_t(count));
    }
    s->tail = s->head + uint32_t(need);
}

// A /part or /dup count: absent -1 (part) or 1 (dup); an integer below 0 counts 0; a position in
// the same series counts the units between the two heads.
int64_t count_of(const cell* arg, const cell* series, int64_t absent)
{
    if (!arg_given(arg)) return absent;
    if (cell_type(arg) == TYPE_INTEGER) return std::max(int32_t(arg->data2), 0);
    if (cell_type(arg) == cell_type(series) && arg->data2 == series->data2)
        return std::max<int64_t>(int64_t(arg->data1) - series->data1, 0);
    fire(ERR_SCRIPT, err::INVALID_PART, arg);
}

bool text_or_binary_q(uint32_t t) { return t == TYPE_BINARY || any_string_q(t); }

// The types whose bytes append and insert take as they are; change forms any other value.
bool has_bytes_q(uint32_t t)
{
    return text_or_binary_q(t) || t == TYPE_CHAR || t == TYPE_INTEGER || t == TYPE_TUPLE || any_block_q(t);
}

void text_bytes(const cell* text, int64_t part, std::vector<uint8_t>& out)
{
    static constexpr uint32_t widest[5] = {0, 2, 3, 0, 4};   // UTF-8 bytes per unit, at most
    uint32_t units = string::ks_length_q(text);
    if (part >= 0 && part < units) units = uint32_t(part);
    size_t old = out.size();
    out.resize(old + size_t(units) * widest[text_unit(series_of(text->data2))]);
    out.resize(old + string_to_utf8_into(text, out.data() + old, int32_t(units), false));
}

// The bytes to compare a binary with: another binary's own, or a text's UTF-8 in `scratch`.
const uint8_t* operand_bytes(const cell* value, uint32_t* n, std::vector<uint8_t>& scratch)
{
    if (cell_type(value) == TYPE_BINARY) {
        *n = binary::ks_length_q(value);
        return binary::ks_head(value);
    }
    text_bytes(value, -1, scratch);
    *n = uint32_t(scratch.size());
    return scratch.data();
}

bool equality_op(int32_t op)
{
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME ||
           op == COMP_STRICT_EQUAL_WORD || op == COMP_EQUAL_WORD || op == COMP_FIND;
}

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

cell* binary::make_at(cell* slot, uint32_t capacity)
{
    node_ref node = bytes_alloc(capacity);
    *slot = cell{TYPE_BINARY, 0, node, 0};
    return slot;
}

cell* binary::load(const uint8_t* bytes, uint32_t length)
{
    std::vector<uint8_t> copy;   // bytes of a series would move with the allocation
    if (in_value_range(bytes)) {
        copy.assign(bytes, bytes + length);
        bytes = copy.data();
    }
    cell* result = make_at(stack::push_slot(), length);
    splice(result->data2, 0, 0, bytes, length, 1);
    return result;
}

cell* binary::load_in(const uint8_t* bytes, uint32_t length, cell* blk)
{
    cell made = *load(bytes, length);   // on the stack while the block grows
    block::rs_append(blk ? blk : &root_block, &made);
    stack::pop(1);
    return block::rs_tail(blk ? blk : &root_block) - 1;
}

cell* binary::push(const cell* value) { return stack::push(value); }

// ---- access -------------------------------------------------------------------------------------

uint32_t binary::ks_length_q(const cell* value) { return used_of(value) - head_of(value); }
uint8_t* binary::ks_head(const cell* value) { return at(series_of(value->data2)->head) + head_of(value); }
uint8_t binary::byte_at(const cell* value, uint32_t offset) { return ks_head(value)[offset]; }

void binary::poke_byte(uint8_t* address, const cell* value)
{
    uint32_t t = cell_type(value);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) fire(ERR_SCRIPT, err::INVALID_ARG, value);
    *address = uint8_t(value->data2);
}

bool binary::byte_in_bitset_q(const cell* value, const cell* bitset)
{
    if (ks_length_q(value) == 0) return false;
    uint8_t b = *ks_head(value);
    series_buffer* s = series_of(bitset->data2);
    if (uint32_t(b >> 3) >= s->tail - s->head) return (s->flags & SERIES_COMPLEMENT) != 0;
    return (at(s->head)[b >> 3] & (0x80u >> (b & 7))) != 0;
}

void binary::set_bytes(const cell* value, const uint8_t* bytes, uint32_t length)
{
    std::vector<uint8_t> copy(bytes, bytes + length);
    series_buffer* s = series_of(value->data2);
    s->head = series_data_ref(s);   // from the buffer's first byte
    splice(value->data2, 0, s->tail - s->head, copy.data(), length, 1);
}

void binary::insert_bytes(const cell* value, uint32_t offset, const uint8_t* bytes, uint32_t length)
{
    std::vector<uint8_t> copy(bytes, bytes + length);
    uint32_t index = uint32_t(std::min<uint64_t>(uint64_t(head_of(value)) + offset, used_of(value)));
    splice(value->data2, index, 0, copy.data(), length, 1);
}

// ---- the bytes of values ------------------------------------------------------------------------

void binary::bytes_of(const cell* value, int64_t part, std::vector<uint8_t>& out)
{
    switch (uint32_t t = cell_type(value)) {
    case TYPE_CHAR: {
        uint8_t b[4];
        out.insert(out.end(), b, b + utf8_encode_char(value->data2, b));
        return;
    }
    case TYPE_INTEGER: {
        int32_t v = int32_t(value->data2);
        if (v < -128 || v > 255) fire(ERR_SCRIPT, err::INVALID_ARG, value);
        out.push_back(uint8_t(v));
        return;
    }
    case TYPE_BINARY: {
        uint32_t n = ks_length_q(value);
        if (part >= 0 && part < n) n = uint32_t(part);
        out.insert(out.end(), ks_head(value), ks_head(value) + n);
        return;
    }
    case TYPE_TUPLE:
        out.insert(out.end(), tuple::bytes_of(value), tuple::bytes_of(value) + tuple::size_of(value));
        return;
    default:
        if (any_string_q(t)) {
            text_bytes(value, part, out);
            return;
        }
        if (!any_block_q(t)) bad_to_arg(value);
        // Nothing allocates while the bytes are gathered, so the cells stay where they are; the
        // cycle stack stops a block that holds itself and bounds the depth.
        if (cycle_find(value->data2)) fire(ERR_INTERNAL, err::NO_CYCLE);
        cycle_scope walking(value->data2);
        uint32_t n = block::rs_length(value);
        if (part >= 0 && part < n) n = uint32_t(part);
        const cell* items = block::rs_head(value);
        for (uint32_t i = 0; i < n; i++) bytes_of(items + i, -1, out);
    }
}

// ---- to -----------------------------------------------------------------------------------------

cell* binary::to(cell*, cell* spec, uint32_t)
{
    std::vector<uint8_t> bytes;
    auto big_endian = [&](uint64_t v, uint32_t n) {
        for (uint32_t i = n; i-- > 0;) bytes.push_back(uint8_t(v >> (8 * i)));
    };
    switch (uint32_t t = cell_type(spec)) {
    case TYPE_INTEGER:
        big_endian(spec->data2, 4);
        break;
    case TYPE_FLOAT: case TYPE_PERCENT:
        big_endian(std::bit_cast<uint64_t>(cell_float(spec)), 8);
        break;
    case TYPE_ISSUE: {
        uint32_t length;
        const uint8_t* name = symbol::name(spec->data2, &length);
        bytes.resize(size_t(debase_room(16, length)));
        int64_t n = debase_into(16, name, length, 1, bytes.data());
        if (n < 0) fire(ERR_SCRIPT, err::INVALID_DATA, spec);
        bytes.resize(size_t(n));
        break;
    }
    case TYPE_BITSET: {
        series_buffer* s = series_of(spec->data2);
        bytes.assign(at(s->head), at(s->tail));
        break;
    }
    case TYPE_IMAGE: {
        // The pixels come with the image! datatype's own extraction.
        cell named = datatype::value_of(t);
        fire(ERR_INTERNAL, err::NOT_DONE, &named);
    }
    default:
        if (!has_bytes_q(t) || t == TYPE_INTEGER) bad_to_arg(spec);
        bytes_of(spec, -1, bytes);
    }
    return load(bytes.data(), uint32_t(bytes.size()));
}

// ---- text ---------------------------------------------------------------------------------------

namespace {

// The one writer of form and mold: 31 bytes or more go on lines of 32 bytes, one level deeper than
// the braces, unless flat. The budget counts every character written; output stops when it is spent.
int32_t write_text(const cell* value, cell* buffer, bool only, bool flat, int32_t part, int32_t indent)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const cell v = *value;
    const uint32_t n = binary::ks_length_q(&v);
    const bool lines = n >= 31 && !flat;
    auto line_break = [&](int32_t level) {
        string::concatenate_literal(buffer, "\n");
        part = mold_indent(buffer, level, part - 1);
    };
    if (!only) part = string::emit_literal(buffer, "#{", part);
    if (lines) line_break(indent + 1);
    for (uint32_t i = 0; i < n && part > 0;) {
        char text[64];
        uint32_t k = std::min(32u, n - i), m = 0;
        const uint8_t* bytes = binary::ks_head(&v) + i;   // fetched again: the buffer's growth moves it
        for (uint32_t j = 0; j < k && part > 0; j++, part -= 2) {
            text[m++] = hex[bytes[j] >> 4];
            text[m++] = hex[bytes[j] & 15];
        }
        string::concatenate_literal_part(buffer, reinterpret_cast<const uint8_t*>(text), m);
        i += k;
        if (lines && part > 0) line_break(i < n ? indent + 1 : indent);
    }
    if (!only) part = string::emit_literal(buffer, "}", part);
    return part;
}

}  // namespace

int32_t binary::form(cell* value, cell* buffer, cell*, int32_t part)
{
    return write_text(value, buffer, false, false, part, 0);
}

int32_t binary::mold(cell* value, cell* buffer, bool only, bool, bool flat, cell*, int32_t part, int32_t indent)
{
    return write_text(value, buffer, only, flat, part, indent);
}

// ---- comparison ---------------------------------------------------------------------------------

int32_t binary::equal_q(const cell* value1, const cell* value2, int32_t op, bool match)
{
    if (!text_or_binary_q(cell_type(value2))) return -2;
    if (cell_type(value2) == TYPE_BINARY && value1->data2 == value2->data2 && head_of(value1) == head_of(value2))
        return 0;
    if (op == COMP_SAME) return 1;
    std::vector<uint8_t> scratch;
    uint32_t n1 = ks_length_q(value1), n2;
    const uint8_t* b = operand_bytes(value2, &n2, scratch);
    const uint8_t* a = ks_head(value1);
    if (match && n2 <= n1) n1 = n2;
    if (equality_op(op) && !match && n1 != n2) return n1 < n2 ? -1 : 1;
    int r = std::memcmp(a, b, std::min(n1, n2));
    if (r != 0) return r < 0 ? -1 : 1;
    return n1 < n2 ? -1 : n1 > n2 ? 1 : 0;
}

bool binary::match_at_q(const cell* value1, const cell* value2, int32_t op)
{
    if (cell_type(value2) == TYPE_CHAR) return ks_length_q(value1) > 0 && *ks_head(value1) == value2->data2;
    return equal_q(value1, value2, op, true) == 0;
}

int32_t binary::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_BINARY) return -2;
    return equal_q(value1, value2, op, false);
}

// ---- bitwise ------------------------------------------------------------------------------------

namespace {

cell* bitwise(cell* value1, cell* value2, uint32_t code)
{
    if (cell_type(value2) != TYPE_BINARY) fire(ERR_SCRIPT, err::INVALID_ARG, value2);
    const cell a = *value1, b = *value2;   // both operands stay on the argument stack meanwhile
    const uint32_t na = binary::ks_length_q(&a), nb = binary::ks_length_q(&b), n = std::max(na, nb);
    cell* result = binary::make_at(stack::push_slot(), n);
    const uint8_t *p = binary::ks_head(&a), *q = binary::ks_head(&b);
    series_buffer* r = series_of(result->data2);
    uint8_t* out = at(r->head);
    for (uint32_t i = 0; i < n; i++) {
        if (i < na && i < nb) out[i] = code == MATH_AND ? p[i] & q[i] : code == MATH_OR ? p[i] | q[i] : p[i] ^ q[i];
        else out[i] = code == MATH_AND ? 0 : i < na ? p[i] : q[i];
    }
    r->tail = r->head + n;
    *value1 = *result;
    stack::pop(1);
    return value1;
}

}  // namespace

cell* binary::and_t(cell* value1, cell* value2) { return bitwise(value1, value2, MATH_AND); }
cell* binary::or_t(cell* value1, cell* value2) { return bitwise(value1, value2, MATH_OR); }
cell* binary::xor_t(cell* value1, cell* value2) { return bitwise(value1, value2, MATH_XOR); }

cell* binary::complement(cell* value)
{
    uint8_t* b = ks_head(value);
    for (uint32_t i = 0, n = ks_length_q(value); i < n; i++) b[i] = uint8_t(~b[i]);
    return value;
}

// ---- append, insert, change ---------------------------------------------------------------------

namespace {

cell* write(cell* series, cell* value, cell* part, cell* dup, bool insert)
{
    std::vector<uint8_t> bytes;
    binary::bytes_of(value, count_of(part, value, -1), bytes);
    const uint64_t count = uint64_t(count_of(dup, series, 1));
    const uint32_t index = insert ? head_of(series) : used_of(series);
    const int32_t added = int32_t(std::min<uint64_t>(bytes.size() * count, INT32_MAX));
    series::notify(series, insert ? EV_INSERT : EV_APPEND, int32_t(index), added, value);
    splice(series->data2, index, 0, bytes.data(), bytes.size(), count);
    series::notify(series, insert ? EV_INSERTED : EV_APPENDED, int32_t(index), added, value);
    if (insert) series->data1 = index + uint32_t(added);
    return series;
}

}  // namespace

cell* binary::append(cell* series, cell* value, cell* part, bool, cell* dup)
{
    return write(series, value, part, dup, false);
}

cell* binary::insert(cell* series, cell* value, cell* part, bool, cell* dup)
{
    return write(series, value, part, dup, true);
}

cell* binary::change(cell* series, cell* value, cell* part, bool, cell* dup)
{
    cell* mark = stack::top();
    const cell* source = value;
    if (!has_bytes_q(cell_type(value))) {
        // Any other value stands for the UTF-8 of its form.
        cell* v = stack::push(value);
        cell* text = string::make_at(stack::push_slot(), 16, 1);
        form_value(v, text, nullptr, INT32_MAX);
        source = text;
    }
    std::vector<uint8_t> bytes;
    bytes_of(source, -1, bytes);
    stack_s.top = mark;
    const uint64_t count = uint64_t(count_of(dup, series, 1)), added = bytes.size() * count;
    const uint32_t index = head_of(series), room = used_of(series) - index;
    const uint64_t wanted = arg_given(part) ? uint64_t(count_of(part, series, 0)) : added;
    const uint32_t replaced = uint32_t(std::min<uint64_t>(wanted, room));
    series::notify(series, EV_CHANGE, int32_t(index), int32_t(replaced), value);
    splice(series->data2, index, replaced, bytes.data(), bytes.size(), count);
    series::notify(series, EV_CHANGED, int32_t(index), int32_t(std::min<uint64_t>(added, INT32_MAX)), value);
    series->data1 = index + uint32_t(added);
    return series;
}

// ---- trim ---------------------------------------------------------------------------------------

cell* binary::trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with)
{
    if (auto_ || lines) fire(ERR_INTERNAL, err::NOT_DONE);
    bool drop[256] = {};
    if (arg_given(with)) {
        std::vector<uint8_t> set;
        bytes_of(with, -1, set);
        for (uint8_t b : set) drop[b] = true;
    } else {
        drop[0] = true;
    }
    series_buffer* s = series_of(series->data2);
    uint8_t* base = at(s->head);
    const uint32_t from = head_of(series), end = s->tail - s->head;
    uint32_t kept = from;
    if (all || arg_given(with)) {
        for (uint32_t i = from; i < end; i++)
            if (!drop[base[i]]) base[kept++] = base[i];
    } else {
        const bool both = !head && !tail;
        uint32_t low = from, high = end;
        if (head || both)
            while (low < high && base[low] == 0) low++;
        if (tail || both)
            while (high > low && base[high - 1] == 0) high--;
        std::memmove(base + from, base + low, high - low);
        kept = from + (high - low);
    }
    s->tail = s->head + kept;
    series::notify(series, EV_TRIMMED, int32_t(from), int32_t(kept - from));
    return series;
}

// ---- search -------------------------------------------------------------------------------------

namespace {

// find and select look for bytes: a text is searched as its UTF-8 bytes, whatever its unit width,
// and bytes are compared exactly (no case folding).
void as_bytes(cell* value)
{
    if (!any_string_q(cell_type(value))) return;
    std::vector<uint8_t> bytes;
    binary::bytes_of(value, -1, bytes);
    *value = *binary::load(bytes.data(), uint32_t(bytes.size()));   // value is an argument cell
    stack::pop(1);
}

}  // namespace

cell* binary::find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
                   cell* skip, bool last, bool reverse, bool tail, bool match)
{
    as_bytes(value);
    return string::find(series, value, part, only, true, same, any, with, skip, last, reverse, tail, match);
}

cell* binary::select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
                     cell* skip, bool last, bool reverse, bool tail, bool match)
{
    as_bytes(value);
    return string::select(series, value, part, only, true, same, any, with, skip, last, reverse, tail, match);
}

void binary::init()
{
    datatype::register_type(TYPE_BINARY, TYPE_STRING, "binary!", {
        .make = inherit, .random = inherit, .reflect = inherit, .to = to, .form = form, .mold = mold,
        .eval_path = inherit, .compare = compare, .and_t = and_t, .complement = complement, .or_t = or_t,
        .xor_t = xor_t, .append = append, .at = inherit, .back = inherit, .change = change, .clear = inherit,
        .copy = inherit, .find = find, .head = inherit, .head_q = inherit, .index_q = inherit,
        .insert = insert, .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit,
        .poke = inherit, .remove = inherit, .reverse = inherit, .select = select, .sort = inherit,
        .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit, .take = inherit, .trim = trim,
        .modify = inherit, .mark = collector::mark_buffer_cell});
}
