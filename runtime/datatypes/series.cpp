// series! actions on any unit width. Positions are unit indexes from the buffer offset; every
// index is checked against the tail before a unit is read or written, and buffers are fetched
// again through the node after anything that may allocate or call the owner.
#include "runtime/datatypes/series.h"

#include <algorithm>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/vector.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/ownership.h"
#include "runtime/random.h"
#include "runtime/unicode.h"

namespace {

using series::notify;

series_buffer* buffer_of(const cell* s) { return series_of(series_node(s)); }
uint32_t unit_of(const cell* s) { return series_unit(buffer_of(s)); }
int32_t units_of(const cell* s) { return int32_t(series::units(s)); }
uint8_t* unit_at(const cell* s, int64_t index)
{
    KIV_CHECK(index >= 0 && index <= units_of(s));
    series_buffer* b = buffer_of(s);
    return at(b->head + uint32_t(index) * series_unit(b));
}

cell integer_cell(int32_t n) { return cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }
cell datatype_cell(uint32_t type) { return cell{TYPE_DATATYPE, type, 0, 0}; }

constexpr uint32_t PLACEMENT_FLAGS = SERIES_BIG | SERIES_FIXED | SERIES_ROOM_HEAD | SERIES_MARK;

// A new buffer takes the source's flags but keeps its own placement (a copy of a fixed buffer is
// an ordinary one) and is never owned.
void inherit_flags(series_buffer* fresh, const series_buffer* source, uint32_t unit)
{
    uint32_t keep = source->flags & ~(PLACEMENT_FLAGS | SERIES_OWNED | SERIES_UNIT_MASK);
    fresh->flags = keep | (fresh->flags & PLACEMENT_FLAGS) | unit;
}

// Room for n more bytes at the tail.
void ensure_room(node_ref node, uint32_t n) { series::room_for(node, uint64_t(series_used_bytes(series_of(node))) + n); }

// /part as a unit count: an integer!, or a position in the same series.
int64_t part_count(const cell* s, const cell* part)
{
    if (cell_type(part) == TYPE_INTEGER) return int32_t(part->data2);
    if (cell_type(part) == cell_type(s) && part->data2 == s->data2) return int64_t(series_head_raw(part)) - series_head_raw(s);
    fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
}

int32_t clamp_units(int64_t index, int32_t units) { return int32_t(std::clamp<int64_t>(index, 0, units)); }

// Position of a key (find/case semantics) from the head, or -1.
int64_t find_key(const cell* s, const cell* key)
{
    uint32_t type = cell_type(s);
    int32_t units = units_of(s);
    cell k = *key;
    for (int64_t i = std::max(series_head_raw(s), 0); i < units; i++) {
        if (any_block_q(type)) {
            cell c = *reinterpret_cast<cell*>(unit_at(s, i));
            auto cmp = actions_of(cell_type(&c)).compare;
            if (cmp && cell_type(&c) == cell_type(&k) && cmp(&c, &k, COMP_STRICT_EQUAL) == 0) return i;
            units = units_of(s);
            continue;
        }
        uint32_t kt = cell_type(&k);
        if (kt != TYPE_CHAR && kt != TYPE_INTEGER) return -1;
        if (unit_read(unit_at(s, i), unit_of(s)) == k.data2) return i;
    }
    return -1;
}

// Removes units [start, start + count) (count already within the tail).
void cut(const cell* s, int64_t start, int64_t count)
{
    series_buffer* b = buffer_of(s);
    uint32_t unit = series_unit(b);
    uint8_t* from = at(b->head + uint32_t(start + count) * unit);
    uint8_t* to = at(b->head + uint32_t(start) * unit);
    std::memmove(to, from, size_t(at(b->tail) - from));
    b->tail -= uint32_t(count) * unit;
}

// Opens a gap of n units at index in a buffer that has the room.
void open_gap(node_ref node, int64_t index, uint32_t n)
{
    series_buffer* b = series_of(node);
    uint32_t unit = series_unit(b);
    uint8_t* p = at(b->head + uint32_t(index) * unit);
    std::memmove(p + n * unit, p, size_t(at(b->tail) - p));
    b->tail += n * unit;
}

// Rotates the units [first, last) so that the unit at middle comes first.
void rotate_units(const cell* s, int64_t first, int64_t middle, int64_t last)
{
    std::rotate(unit_at(s, first), unit_at(s, middle), unit_at(s, last));
}

void swap_units(const cell* s, int64_t a, int64_t b, uint32_t n)
{
    std::swap_ranges(unit_at(s, a), unit_at(s, a) + size_t(n) * unit_of(s), unit_at(s, b));
}

// Series families: moving units between two series needs the same family.
enum family { FAM_NONE, FAM_BLOCK, FAM_STRING, FAM_BINARY, FAM_VECTOR, FAM_IMAGE };
family family_of(uint32_t t)
{
    if (any_block_q(t)) return FAM_BLOCK;
    if (any_string_q(t)) return FAM_STRING;
    if (t == TYPE_BINARY) return FAM_BINARY;
    if (t == TYPE_VECTOR) return FAM_VECTOR;
    if (t == TYPE_IMAGE) return FAM_IMAGE;
    return FAM_NONE;
}

}  // namespace

// ---- shared routines ----------------------------------------------------------------------------

series_buffer* series::room_for(node_ref node, uint64_t need)
{
    series_buffer* b = series_of(node);
    if (uint64_t(series_end_ref(b)) - b->head >= need) return b;
    if (need * 2 >= 0x80000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
    return series_expand(b, uint32_t(need * 2));
}

// The owned flag spares every series without an owner the table look-up.
void series::notify(const cell* s, owner_event event, int32_t index, int32_t count, const cell* value)
{
    if (buffer_of(s)->flags & SERIES_OWNED) ownership_check(s, event, value, index, count);
}

bool series::ks_tail_q(const cell* s) { return series_head_raw(s) >= units_of(s); }
uint32_t series::buffer_length(const cell* s) { return uint32_t(units_of(s)); }

bool series::skip_in_bounds(cell* s, int32_t n)
{
    int64_t to = int64_t(series_head_raw(s)) + n;
    int32_t units = units_of(s);
    if (to >= 0 && to <= units) s->data1 = uint32_t(to);
    return series_head_raw(s) >= units;
}

int32_t series::get_length(cell* s, bool from_offset)
{
    int32_t units = units_of(s);
    int32_t head = series_head_raw(s);
    if (head > units) {
        s->data1 = uint32_t(units);
        return 0;
    }
    if (from_offset) return units;
    return units - std::max(head, 0);
}

int32_t series::at_position(const cell* s, const cell* n, bool one_based)
{
    if (cell_type(n) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_ARG, n);
    int64_t by = int32_t(n->data2);
    if (one_based && by >= 1) by--;
    return clamp_units(series_head_raw(s) + by, units_of(s));
}

// ---- position actions ---------------------------------------------------------------------------

cell* series::head_q(cell* s) { return logic::make_at(s, series_head_raw(s) == 0); }
cell* series::tail_q(cell* s) { return logic::make_at(s, ks_tail_q(s)); }

cell* series::index_q(cell* s)
{
    *s = integer_cell(series_head_raw(s) + 1);
    return s;
}

int32_t series::length_q(cell* s) { return get_length(s, false); }

cell* series::head(cell* s)
{
    s->data1 = 0;
    return s;
}
cell* series::tail(cell* s)
{
    s->data1 = uint32_t(units_of(s));
    return s;
}
cell* series::back(cell* s)
{
    if (series_head_raw(s) > 0) s->data1--;
    return s;
}
cell* series::next(cell* s)
{
    if (series_head_raw(s) < units_of(s)) s->data1++;
    return s;
}
cell* series::at(cell* s, cell* n)
{
    s->data1 = uint32_t(at_position(s, n, true));
    return s;
}
cell* series::skip(cell* s, cell* n)
{
    s->data1 = uint32_t(at_position(s, n, false));
    return s;
}

// ---- pick and poke ------------------------------------------------------------------------------

namespace {
// Unit index of pick/poke's n, or -1 when it names no unit.
int64_t element_index(const cell* s, int32_t n)
{
    int64_t pos = n >= 0 ? int64_t(series_head_raw(s)) + n - 1 : int64_t(series_head_raw(s)) + n;
    if (n == 0 || pos < 0 || pos >= units_of(s)) return -1;
    return pos;
}
}  // namespace

cell* series::pick_into(const cell* s, int32_t n, cell* out)
{
    int64_t pos = element_index(s, n);
    if (pos < 0) return none::make_at(out);
    uint32_t type = cell_type(s);
    uint32_t unit = unit_of(s);
    if (any_block_q(type) || type == TYPE_MAP) *out = *reinterpret_cast<cell*>(unit_at(s, pos));
    else if (type == TYPE_BINARY) *out = integer_cell(*unit_at(s, pos));
    else if (any_string_q(type)) *out = cell{TYPE_CHAR, 0, unit_read(unit_at(s, pos), unit), 0};
    else if (type == TYPE_VECTOR) *out = vector::get_value(s, pos);
    else fire(ERR_INTERNAL, err::NOT_DONE);
    return out;
}

void series::poke_at(const cell* series_cell, int32_t n, const cell* value)
{
    cell s = *series_cell;
    cell v = *value;
    int64_t pos = element_index(&s, n);
    if (pos < 0) {
        cell index = integer_cell(n);
        fire(ERR_SCRIPT, err::OUT_OF_RANGE, &index);
    }
    uint32_t type = cell_type(&s);
    uint32_t vt = cell_type(&v);
    if (type == TYPE_BINARY) {
        if (vt != TYPE_INTEGER && vt != TYPE_CHAR) fire(ERR_SCRIPT, err::INVALID_ARG, &v);
        if (v.data2 > 0xFF) fire(ERR_SCRIPT, err::OUT_OF_RANGE, &v);
    } else if (any_string_q(type)) {
        if (vt != TYPE_CHAR) fire(ERR_SCRIPT, err::INVALID_ARG, &v);
    } else if (type == TYPE_VECTOR) {
        vector::check_element(&s, &v);
    } else if (!any_block_q(type) && type != TYPE_MAP) {
        fire(ERR_INTERNAL, err::NOT_DONE);
    }
    notify(&s, EV_POKE, int32_t(pos), 1, &v);
    if (any_block_q(type) || type == TYPE_MAP) {
        if (pos < units_of(&s)) {
            hash::unindex(&s, pos, 1);
            *reinterpret_cast<cell*>(unit_at(&s, pos)) = v;
            hash::index(&s, pos, 1);
        }
    } else if (pos < units_of(&s)) {
        if (any_string_q(type)) string::poke_char_at(s.data2, uint32_t(pos), v.data2);   // widens when needed
        else if (type == TYPE_VECTOR) vector::set_value(&s, pos, &v);
        else *unit_at(&s, pos) = uint8_t(v.data2);
    }
    notify(&s, EV_POKED, int32_t(pos), 1, &v);
}

cell* series::pick(cell* s, int32_t n, cell*) { return pick_into(s, n, s); }

cell* series::poke(cell* s, int32_t n, cell*, cell* value)
{
    cell v = *value;
    poke_at(s, n, &v);
    *s = v;
    return s;
}

// ---- changing actions ---------------------------------------------------------------------------

cell* series::clear(cell* s)
{
    if (get_length(s, false) < 1) return s;
    notify(s, EV_CLEAR, series_head_raw(s), get_length(s, false));
    int32_t head = std::clamp(series_head_raw(s), 0, units_of(s));
    hash::unindex(s, head, units_of(s) - head);
    series_buffer* b = buffer_of(s);
    b->tail = b->head + uint32_t(head) * series_unit(b);
    notify(s, EV_CLEARED, series_head_raw(s), 0);
    return s;
}

cell* series::remove(cell* s, cell* part, cell* key)
{
    int64_t count = arg_given(part) ? part_count(s, part) : 1;
    if (count < 1) return s;
    int32_t length = get_length(s, false);
    int64_t start = std::max(series_head_raw(s), 0);
    if (arg_given(key)) {
        start = find_key(s, key);
        if (start < 0) return none::make_at(s);
        count++;
    }
    if (length < 1 || start >= units_of(s)) return s;
    notify(s, EV_REMOVE, int32_t(start), int32_t(std::min<int64_t>(count, INT32_MAX)));
    int32_t units = units_of(s);
    if (start < units) {
        count = std::min<int64_t>(count, units - start);
        hash::unindex(s, start, count);
        cut(s, start, count);
        hash::shifted(s, start + count, -count);
    }
    notify(s, EV_REMOVED, int32_t(start), 0);
    return s;
}

cell* series::reverse(cell* s, cell* part, cell* skip)
{
    int32_t length = get_length(s, false);
    if (length < 1) return s;
    int64_t count = arg_given(part) ? part_count(s, part) : length;
    if (count < 1) return s;
    count = std::min<int64_t>(count, length);
    int64_t size = 1;
    if (arg_given(skip)) {
        if (cell_type(skip) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_SKIP), skip);
        size = int32_t(skip->data2);
        if (size == count) return s;
        if (size < 1) fire(ERR_SCRIPT, err::OUT_OF_RANGE, skip);
        if (count < size || count % size) fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_SKIP), skip);
    }
    notify(s, EV_REVERSE, series_head_raw(s), int32_t(count));
    count = std::min<int64_t>(count, get_length(s, false));   // the owner may have shortened it
    int64_t first = series_head_raw(s);
    int64_t last = first + count - size;
    hash::unindex(s, first, count);
    for (; first < last; first += size, last -= size) swap_units(s, first, last, uint32_t(size));
    hash::index(s, series_head_raw(s), count);
    notify(s, EV_REVERSED, series_head_raw(s), int32_t(count));
    return s;
}

cell* series::take(cell* s, cell* part, bool, bool last)
{
    int32_t length = get_length(s, false);
    if (length < 1) return none::make_at(s);
    int64_t head = series_head_raw(s);
    int64_t count = 1;
    if (arg_given(part)) {
        if (cell_type(part) == TYPE_INTEGER) count = int32_t(part->data2);
        else if (cell_type(part) == cell_type(s) && part->data2 == s->data2) {
            int64_t pos = series_head_raw(part);
            count = pos < head ? 0 : last ? head + length - pos : pos - head;
        } else {
            fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
        }
    }
    int64_t from;
    if (count > 0) {
        count = std::min<int64_t>(count, length);
        from = last ? head + length - count : head;
    } else if (last || head == 0) {
        count = 0;
        from = head;
    } else {
        count = std::min<int64_t>(std::max<int64_t>(-count, 1), head);
        from = head - count;
    }
    notify(s, EV_TAKE, int32_t(from), int32_t(count));
    // A fresh buffer every time: a taken value never shares units with a later take.
    cell source = *s;
    uint32_t unit = unit_of(&source);
    node_ref node = series_alloc(uint32_t(std::max<int64_t>(count, 1)), unit, 0);
    series_buffer* d = series_of(node);
    inherit_flags(d, buffer_of(&source), unit);
    int32_t units = units_of(&source);
    count = std::min<int64_t>(count, std::max<int64_t>(units - from, 0));   // the owner may have shortened it
    std::memcpy(::at(d->head), unit_at(&source, from), size_t(count) * unit);
    d->tail = d->head + uint32_t(count) * unit;
    if (count > 0) {
        hash::unindex(&source, from, count);
        cut(&source, from, count);
        hash::shifted(&source, from + count, -count);
    }
    uint32_t type = cell_type(&source);
    *s = cell{type, 0, node, type == TYPE_VECTOR ? source.data3 : 0};
    if (type == TYPE_HASH) hash::attach(s);
    notify(&source, EV_TAKEN, int32_t(from), int32_t(count));
    return s;
}

cell* series::copy(cell* s, cell* result, cell* part, bool, cell*)
{
    cell source = *s;
    int32_t units = units_of(&source);
    int64_t head = series_head_raw(&source);
    int64_t start = head;
    int64_t count = std::max<int64_t>(units - head, 0);
    if (arg_given(part)) {
        if (cell_type(part) == TYPE_PAIR) {
            int64_t x = int32_t(part->data2), y = int32_t(part->data3);
            start = std::max<int64_t>(x < 0 ? head + x : head + x - 1, 0);
            count = y < x ? 0 : y - x;
        } else {
            count = part_count(&source, part);
        }
        if (count < 0) {
            start += count;
            count = -count;
            if (start < 0) {
                count = std::max<int64_t>(start + count, 0);
                start = 0;
            }
        }
    }
    start = std::clamp<int64_t>(start, 0, units);
    count = std::clamp<int64_t>(count, 0, units - start);
    if (result != s) unset::make_at(result);
    uint32_t unit = unit_of(&source);
    node_ref node = series_alloc(uint32_t(std::max<int64_t>(count, 1)), unit, 0);
    series_buffer* d = series_of(node);
    inherit_flags(d, buffer_of(&source), unit);
    std::memcpy(::at(d->head), unit_at(&source, start), size_t(count) * unit);
    d->tail = d->head + uint32_t(count) * unit;
    uint32_t type = cell_type(&source);
    *result = cell{source.header & (HEADER_TYPE_MASK | HEADER_NEW_LINE), 0, node,
                   type == TYPE_VECTOR ? source.data3 : 0};
    return result;
}

// ---- move ---------------------------------------------------------------------------------------

namespace {

// Within one series: the run [from, from + count) goes to the target position.
void move_within(cell* s, int64_t from, int64_t count, int64_t to)
{
    int32_t units = units_of(s);
    count = std::min<int64_t>(count, units - from);
    if (to == from || (to > from && to < from + count)) return;
    notify(s, EV_MOVE, int32_t(from), int32_t(count));
    units = units_of(s);
    if (from + count > units) return;   // the owner shortened it under us
    to = std::min<int64_t>(to, units);
    int64_t low = std::min(to, from), high = to < from ? from + count : (to == units ? units : to + 1);
    hash::unindex(s, low, high - low);
    if (to < from) rotate_units(s, to, from, from + count);
    else rotate_units(s, from, from + count, to == units ? units : to + 1);
    hash::index(s, low, high - low);
    notify(s, EV_MOVED, int32_t(to), int32_t(count));
}

// Between two series of one family. Texts may differ in unit (the target widens); any other
// family needs equal units, and vectors the same element type: raw units are never reinterpreted.
void move_across(cell* source, cell* target, int64_t count)
{
    cell src = *source, tgt = *target;
    uint32_t st = cell_type(&src), tt = cell_type(&tgt);
    family sf = family_of(st);
    // Families first: an image! has no buffer whose unit could be read (nor moves into another).
    bool bad = sf != family_of(tt) || sf == FAM_IMAGE;
    bool units_differ = !bad && unit_of(&src) != unit_of(&tgt);
    bool vector_kinds_differ = sf == FAM_VECTOR && src.data3 != tgt.data3;
    if (bad || (units_differ && sf != FAM_STRING) || vector_kinds_differ) {
        cell a = datatype_cell(st), b = datatype_cell(tt);
        fire(ERR_SCRIPT, err::MOVE_BAD, &a, &b);
    }
    notify(&src, EV_MOVE, series_head_raw(&src), int32_t(count));
    if (unit_of(&src) > unit_of(&tgt)) string::widen(tgt.data2, unit_of(&tgt), unit_of(&src));
    uint32_t tunit = unit_of(&tgt), sunit = unit_of(&src);
    count = std::min<int64_t>(count, std::max<int64_t>(units_of(&src) - series_head_raw(&src), 0));
    ensure_room(tgt.data2, uint32_t(count) * tunit);
    int64_t to = clamp_units(series_head_raw(&tgt), units_of(&tgt));
    open_gap(tgt.data2, to, uint32_t(count));
    hash::shifted(&tgt, to, count);
    if (sunit == tunit) std::memcpy(unit_at(&tgt, to), unit_at(&src, series_head_raw(&src)), size_t(count) * sunit);
    else
        for (int64_t i = 0; i < count; i++)
            unit_write(unit_at(&tgt, to + i), tunit, unit_read(unit_at(&src, series_head_raw(&src) + i), sunit));
    hash::unindex(&src, series_head_raw(&src), count);
    cut(&src, series_head_raw(&src), count);
    hash::shifted(&src, series_head_raw(&src) + count, -count);
    hash::index(&tgt, to, count);
    notify(&src, EV_MOVED, int32_t(to), int32_t(count));
}

}  // namespace

cell* series::move(cell* source, cell* target, cell* part)
{
    if (family_of(cell_type(target)) == FAM_NONE) {
        // Mended: the error names the action and its argument, as every expect-arg does.
        cell type = datatype_cell(cell_type(target));
        cell action = *rt_word_cell(W_MOVE);
        cell argument = *word::load("target");
        fire(ERR_SCRIPT, err::EXPECT_ARG, &action, &type, &argument);
    }
    cell tgt = *target;
    int32_t length = get_length(source, false);
    int64_t count = 1;
    if (arg_given(part)) {
        if (cell_type(part) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
        count = int32_t(part->data2);
    }
    if (length < 1 || count < 1) return copy_cell(&tgt, source);
    count = std::min<int64_t>(count, length);
    if (source->data2 != tgt.data2) {
        move_across(source, &tgt, count);
        return copy_cell(&tgt, source);
    }
    int64_t from = series_head_raw(source);
    int64_t to = clamp_units(series_head_raw(&tgt), units_of(source));
    if (to > from && to < from + count && to < units_of(source)) return source;
    move_within(source, from, count, to);
    return copy_cell(&tgt, source);
}

// ---- random -------------------------------------------------------------------------------------

cell* series::random(cell* s, bool seed, bool secure, bool only)
{
    int32_t length = get_length(s, false);
    if (seed) {
        uint32_t bytes = uint32_t(length) * unit_of(s);
        uint32_t h = length > 0 ? murmur3_hash(unit_at(s, series_head_raw(s)), bytes) : murmur3_hash(nullptr, 0);
        random_::seed(h);
        return unset::make_at(s);
    }
    // Mended: every draw is the generator's rejection draw, never a plain modulo, so the order
    // after /seed is the one the generator defines and every position is equally likely.
    if (only) {
        if (length < 1) return none::make_at(s);
        return pick_into(s, random_::int_(length, secure), s);
    }
    if (length < 2) return s;
    notify(s, EV_RANDOM, series_head_raw(s), length);
    length = get_length(s, false);
    int64_t pos = series_head_raw(s);
    hash::unindex(s, pos, length);
    for (int32_t i = length; i >= 1; i--, pos++) {
        int32_t j = random_::int_(i, secure);
        if (j > 1) swap_units(s, pos, pos + j - 1, 1);
    }
    hash::index(s, series_head_raw(s), length);
    notify(s, EV_RANDOMIZED, series_head_raw(s), length);
    return s;
}

// ---- ownership ----------------------------------------------------------------------------------

namespace {
bool owned_field_q(const cell* field)
{
    return word::any_word_q(cell_type(field)) && symbol::resolve(field->data2) == symbol::resolve(rt_symbol_id(SYM_OWNED));
}
}  // namespace

cell* series::reflect(cell* s, cell* field)
{
    if (!owned_field_q(field)) fire(ERR_INTERNAL, err::NOT_DONE);
    cell* owner = (buffer_of(s)->flags & SERIES_OWNED) ? ownership_owner_of(s->data2) : nullptr;
    if (!owner) return none::make_at(s);
    cell record[2] = {*owner, *ownership_word_of(s->data2)};
    cell* out = block::push_only_star(2);
    block::rs_append(out, &record[0]);
    block::rs_append(out, &record[1]);
    return out;
}

cell* series::modify(cell* s, cell* field, cell* value, bool)
{
    if (!owned_field_q(field)) return value;
    if (cell_type(value) == TYPE_NONE) {
        ownership_unbind(s);
        return value;
    }
    // [object word]: the series becomes owned by that field of the object.
    if (cell_type(value) != TYPE_BLOCK || block::rs_length(value) < 2) fire(ERR_SCRIPT, err::INVALID_ARG, value);
    cell owner = block::rs_head(value)[0], word = block::rs_head(value)[1];
    if (cell_type(&owner) != TYPE_OBJECT || !word::any_word_q(cell_type(&word))) fire(ERR_SCRIPT, err::INVALID_ARG, value);
    ownership_set_tracked(s, &owner, &word);
    return value;
}

// ---- registration -------------------------------------------------------------------------------

void series::init()
{
    datatype::register_type(TYPE_SERIES, 0, "series!", {
        .random = random, .reflect = reflect, .at = at, .back = back, .clear = clear, .copy = copy, .head = head,
        .head_q = head_q, .index_q = index_q, .length_q = length_q, .move = move, .next = next, .pick = pick,
        .poke = poke, .remove = remove, .reverse = reverse, .skip = skip, .tail = tail, .tail_q = tail_q,
        .take = take, .modify = modify});
}

// ---- sort's refinements -----------------------------------------------------------------------

bool series::plan_sort(cell* series, int64_t n, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
                       sort_plan* plan)
{
    auto bad_refine_arg = [](rt_refinement which, const cell* value) {
        fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(which), value);
    };
    if (arg_given(part)) {
        int64_t count = 0;
        if (cell_type(part) == TYPE_INTEGER) count = integer_of(part);
        else if (cell_type(part) == cell_type(series) && series_node(part) == series_node(series))
            count = int64_t(series_head_raw(part)) - series_head_raw(series);
        else bad_refine_arg(REF_PART, part);
        if (count < 0) {
            if (-count > series_head_raw(series)) {
                series->data1 = 0;
                return false;
            }
            series->data1 = uint32_t(series_head_raw(series) + count);
            n = -count;
        } else if (count < n) {
            n = count;
        }
    }
    if (n == 0) return false;
    int64_t size = 1;
    if (arg_given(skip)) {
        if (cell_type(skip) != TYPE_INTEGER) bad_refine_arg(REF_SKIP, skip);
        size = integer_of(skip);
        if (size < 1 || size > n || n % size) bad_refine_arg(REF_SKIP, skip);
    } else if (all) {
        fire(ERR_SCRIPT, err::BAD_REFINES);
    }
    uint32_t flags = reverse ? SORT_REVERSE : 0;
    const cell* function = nullptr;
    if (arg_given(comparator)) {
        if (cell_type(comparator) == TYPE_FUNCTION) {
            function = comparator;
            if (all && size > 1) flags |= SORT_ALL | uint32_t(size << 2);
        } else if (cell_type(comparator) == TYPE_INTEGER) {
            if (!arg_given(skip) || all) fire(ERR_SCRIPT, err::BAD_REFINES);
            int32_t k = integer_of(comparator);
            if (k < 1 || k > size) fire(ERR_SCRIPT, err::OUT_OF_RANGE, comparator);
            flags |= uint32_t(k - 1) << 2;
        } else {
            bad_refine_arg(REF_COMPARE, comparator);
        }
    } else if (all) {
        flags |= SORT_ALL | uint32_t(size << 2);
    }
    *plan = sort_plan{head_clamped(series), uint32_t(n), uint32_t(size), flags, function};
    return true;
}
