// Block storage, constructors and the block actions (make, to, form, mold, compare, copy, path
// steps). Walks go by node and index, never by a cell address held across an element's own
// form, mold, compare or copy, since those append to buffers and so may move them.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

cell root_block;
cell* (*block::string_scan_hook)(const cell* str);

namespace {

using block_internal::cell_at;
using block_internal::cells_of;
using block_internal::length_of;

cell* write_new(cell* slot, node_ref node)
{
    *slot = cell{TYPE_BLOCK, 0, node, slot->data3};
    return slot;
}

// A slot receives unset first, so that a collection during the allocation finds a valid cell.
cell* make_block_at(cell* slot, uint32_t capacity)
{
    slot->header = TYPE_UNSET;
    slot->data1 = 0;
    return write_new(slot, cells_alloc(capacity ? capacity : 1));
}

cell* grow_for_one(node_ref node)
{
    series_buffer* s = series_of(node);
    if (s->tail + CELL_BYTES <= series_end_ref(s)) return series_head_cell(s);
    if (s->flags & SERIES_FIXED) fire(ERR_INTERNAL, err::LIMIT_HIT);
    return series_head_cell(series::room_for(node, uint64_t(series_used_bytes(s)) + CELL_BYTES));
}

int32_t sign_of(int64_t n) { return n < 0 ? -1 : n > 0 ? 1 : 0; }

bool equality_op(int32_t op)
{
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_STRICT_EQUAL_WORD:
    case COMP_EQUAL_WORD: case COMP_FIND:
        return true;
    default:
        return false;
    }
}

// The last code point written to a string buffer, or 0 when it is empty.
uint32_t last_char(const cell* buffer)
{
    series_buffer* s = series_of(series_node(buffer));
    uint32_t unit = series_unit(s);
    if (series_used_bytes(s) < unit) return 0;
    const uint8_t* p = at(s->tail - unit);
    if (unit == 1) return *p;
    uint32_t v = 0;
    std::memcpy(&v, p, unit == 2 ? 2 : 4);
    return v;
}

// Types whose values a deep copy replaces by copies of their own.
bool deep_copied(uint32_t t)
{
    return series_kind_q(t);
}
bool typed_copyable(uint32_t t)
{
    return deep_copied(t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_MAP;
}

bool type_accepted(const cell* types, uint32_t t)
{
    if (cell_type(types) == TYPE_DATATYPE) return types->data1 == t;
    return cell_type(types) == TYPE_TYPESET && typeset_has(types, t);
}

// Holds the node for a deep walk that must not enter itself.
void enter_or_no_cycle(node_ref node)
{
    if (cycle_find(node)) {
        cycle_reset();
        fire(ERR_INTERNAL, err::NO_CYCLE);
    }
}

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

cell* block::make_at(cell* slot, uint32_t capacity) { return make_block_at(slot, capacity); }

cell* block::make_fixed(cell* slot, uint32_t capacity, bool fixed)
{
    if (!fixed) {
        slot->header = TYPE_UNSET;
        slot->data1 = 0;
        return write_new(slot, cells_alloc_unset(capacity ? capacity : 1));
    }
    return write_new(slot, series_alloc_fixed(capacity, 16, 0));
}

namespace {
// Appends an unset slot to the parent, then gives it a buffer. The slot comes first so that the
// new buffer is reachable when the allocation collects; it is fetched again by index afterwards.
// The parent is read once: its cell may lie in a buffer (a block made by an earlier make_in) that
// these allocations move.
cell* make_in_with(cell* parent, uint32_t capacity, bool fixed)
{
    cell p = parent ? *parent : root_block;
    block_alloc_tail(&p)->data3 = 0;
    int32_t index = cells_of(&p) - 1;
    node_ref node = fixed ? series_alloc_fixed(capacity ? capacity : 1, 16, 0) : cells_alloc(capacity ? capacity : 1);
    return write_new(cell_at(&p, index), node);
}
}  // namespace

cell* block::make_in(cell* parent, uint32_t capacity) { return make_in_with(parent, capacity, false); }
cell* block::make_in_parent(cell* parent, uint32_t capacity) { return make_in_with(parent, capacity, true); }

cell* block::push(const cell* blk) { return stack::push(blk); }

cell* block::push_only_star(uint32_t capacity)
{
    cell* slot = stack::push_slot();
    slot->data3 = 0;
    return make_block_at(slot, capacity);
}

cell* block_alloc_tail(cell* blk)
{
    series_buffer* s = series_of(series_node(blk));
    if (s->tail + 16 > series_end_ref(s) && (s->flags & SERIES_FIXED)) fire(ERR_INTERNAL, err::LIMIT_HIT);
    return series_alloc_tail(s);
}

void root_block_init() { block::make_fixed(&root_block, ROOT_BLOCK_CELLS); }

// ---- walking and storage ------------------------------------------------------------------------

cell* block::rs_append(cell* blk, const cell* value)
{
    cell copy = *value;   // the value may live in the buffer that grows
    cell* slot = block_alloc_tail(blk);
    *slot = copy;
    if (cell_type(blk) != TYPE_HASH) return slot;
    cell b = *blk;
    hash::index(&b, cells_of(&b) - 1, 1);
    return cell_at(&b, cells_of(&b) - 1);
}

uint32_t block::rs_length(const cell* blk) { return uint32_t(length_of(blk)); }
cell* block::rs_head(const cell* blk) { return cell_at(blk, series_head_raw(blk)); }
cell* block::rs_tail(const cell* blk) { return series_tail_cell(series_of(series_node(blk))); }

int32_t block::ks_length_q(const cell* blk) { return cells_of(blk) - series_head_raw(blk); }

bool block::ks_next(cell* blk)
{
    if (series_head_raw(blk) < cells_of(blk)) blk->data1++;
    return series_head_raw(blk) >= cells_of(blk);
}

cell* block::ks_head(cell* blk)
{
    if (series_head_raw(blk) > cells_of(blk)) blk->data1 = uint32_t(cells_of(blk));
    return cell_at(blk, series_head_raw(blk));
}

cell* block::ks_tail(const cell* blk) { return rs_tail(blk); }
bool block::ks_tail_q(const cell* blk) { return series_head_raw(blk) == cells_of(blk); }
cell* block::ks_abs_at(const cell* blk, uint32_t n) { return cell_at(blk, n); }

void block::ks_clear(cell* blk) { ks_clear_at(blk, uint32_t(std::max(series_head_raw(blk), 0))); }

void block::ks_clear_at(cell* blk, uint32_t n)
{
    series_buffer* s = series_of(series_node(blk));
    if (n >= series_used_bytes(s) / 16) return;
    hash::unindex(blk, n, series_used_bytes(s) / 16 - n);
    s->tail = s->head + n * 16;
}

cell* block::ks_append(cell* blk, const cell* value) { return rs_append(blk, value); }

namespace {
// Calls step(target, value) for each cell of the source, head to tail, on a copy of the target
// cell (which may lie in a buffer that the growth moves); returns that copy. A source that shares
// the target's buffer is read from a copy taken first: the target's growth must not feed the walk.
template <class F>
cell append_each_of(const cell* target, const cell* source, F step)
{
    cell src = *source;
    cell tgt = *target;
    bool same = src.data2 == tgt.data2;
    if (same) src = *block::clone(&src, false, false);
    int32_t end = cells_of(&src);
    for (int32_t i = std::max(series_head_raw(&src), 0); i < end; i++) {
        cell v = *cell_at(&src, i);
        step(&tgt, &v);
    }
    if (same) stack::pop(1);
    return tgt;
}
}  // namespace

cell* block::ks_append_block(cell* target, const cell* source)
{
    append_each_of(target, source, [](cell* t, const cell* v) { rs_append(t, v); });
    return target;
}

cell* block::ks_append_each(cell* target, const cell* source)
{
    target->data1 = append_each_of(target, source, [](cell* t, const cell* v) { insert_value(t, v, true, false); }).data1;
    return target;
}

cell* block::insert_value(cell* blk, const cell* value, bool advance, bool at_start)
{
    cell v = *value;
    const cell b = *blk;   // blk may lie in a buffer that the growth moves
    cell* first = grow_for_one(b.data2);
    int32_t cells = cells_of(&b);
    int32_t index = at_start ? 0 : std::clamp(series_head_raw(&b), 0, cells);
    if (index < cells) std::memmove(first + index + 1, first + index, size_t(cells - index) * 16);
    series_of(series_node(&b))->tail += 16;
    first[index] = v;
    if (advance) blk->data1 = uint32_t(index + 1);
    if (cell_type(&b) != TYPE_HASH) return first + index;
    hash::shifted(&b, index, 1);
    hash::index(&b, index, 1);
    return cell_at(&b, index);
}

cell* block::insert_star()
{
    cell* base = stack::arguments();
    insert_value(base - 1, base, true, false);
    return base - 1;
}

cell* block::append_star()
{
    cell* base = stack::arguments();
    rs_append(base - 1, base);
    return base - 1;
}

cell* block::append_arg_star()
{
    cell* base = stack::arguments();
    rs_append(base, base + 1);
    return base;
}

const cell* block::find_word(const cell* word, const cell* blk, bool exact)
{
    uint32_t symbol = exact ? word->data2 : symbol::resolve(word->data2);
    for (int32_t i = std::max(series_head_raw(blk), 0); i < cells_of(blk); i++) {
        const cell* c = cell_at(blk, i);
        uint32_t t = cell_type(c);
        if (!lookup_word_q(t)) continue;
        if ((exact ? c->data2 : symbol::resolve(c->data2)) != symbol) continue;
        return i + 1 < cells_of(blk) ? cell_at(blk, i + 1) : &none_value;
    }
    return &none_value;
}

const cell* block::find_by_compare(const cell* blk, const cell* value)
{
    cell b = *blk, v = *value;
    auto cmp = actions_of(cell_type(&v)).compare;
    if (!cmp) return &none_value;
    for (int32_t i = std::max(series_head_raw(&b), 0); i < cells_of(&b); i++) {
        cell c = *cell_at(&b, i);
        if (cmp(&v, &c, COMP_FIND) != 0) continue;
        return i + 1 < cells_of(&b) ? cell_at(&b, i + 1) : &none_value;
    }
    return &none_value;
}

bool block::remove_by_compare(cell* blk, const cell* value, bool from_start)
{
    cell v = *value;
    auto cmp = actions_of(cell_type(&v)).compare;
    if (!cmp) return false;
    for (int32_t i = from_start ? 0 : std::max(series_head_raw(blk), 0); i < cells_of(blk); i++) {
        cell c = *cell_at(blk, i);
        if (cmp(&v, &c, COMP_FIND) != 0) continue;
        hash::unindex(blk, i, 1);
        cell* p = cell_at(blk, i);
        std::memmove(p, p + 1, size_t(cells_of(blk) - i - 1) * 16);
        series_of(series_node(blk))->tail -= 16;
        hash::shifted(blk, i + 1, -1);
        return i <= series_head_raw(blk);
    }
    return false;
}

cell* block::clone(const cell* blk, bool deep, bool deep_any)
{
    cell src = *blk;
    int32_t count = length_of(&src);
    cell* out = push_only_star(uint32_t(std::max(count, 1)));
    // A head past the tail copies nothing (and names no cell past the buffer).
    if (count > 0) std::memcpy(cell_at(out, 0), cell_at(&src, std::max(series_head_raw(&src), 0)), size_t(count) * 16);
    series_of(series_node(out))->tail += uint32_t(count) * 16;
    if (deep && count > 0) {
        enter_or_no_cycle(src.data2);
        cycle_scope walking(src.data2);
        for (int32_t i = 0; i < count; i++) {
            cell c = *cell_at(out, i);
            uint32_t t = cell_type(&c);
            if (t != TYPE_BLOCK && !(deep_any && (t == TYPE_PAREN || any_path_q(t))))
                continue;
            cell* inner = clone(&c, deep, deep_any);
            inner->header = c.header;
            *cell_at(out, i) = *inner;
            stack::pop(1);
        }
    }
    cell_set_type(out, cell_type(&src));
    return out;
}

void block::copy_at(const cell* blk, uint32_t index, bool deep, const cell* types)
{
    cell* element = cell_at(blk, index);
    auto f = actions_of(cell_type(element)).copy;
    if (!f) return;
    cell* held = stack::push(element);
    cell* types_arg = nullptr;
    if (types && deep) types_arg = stack::push(types);
    f(held, held, nullptr, deep, types_arg);
    if (index < uint32_t(cells_of(blk))) *cell_at(blk, index) = *held;
    stack::pop(types_arg ? 2 : 1);
}

void block::clear_new_lines(node_ref node)
{
    series_buffer* s = series_of(node);
    for (cell* c = series_head_cell(s); c < series_tail_cell(s); c++) cell_clear_new_line(c);
}

void block::copy_typed(const cell* blk, uint32_t first, uint32_t end, uint32_t step, bool deep, const cell* types)
{
    cell b = *blk;
    cell t = *types;
    if (step == 0) step = 1;
    for (uint32_t i = first; i < end && i < uint32_t(cells_of(&b)); i += step) {
        uint32_t type = cell_type(cell_at(&b, i));
        if (typed_copyable(type) && type_accepted(&t, type)) copy_at(&b, i, deep, deep ? &t : nullptr);
    }
}

// ---- make and to --------------------------------------------------------------------------------

cell* block::make(cell* proto, cell* spec, uint32_t type)
{
    uint32_t st = cell_type(spec);
    if (st == TYPE_MAP || st == TYPE_VECTOR) return to(proto, spec, type);
    if (any_block_q(st) || st == TYPE_OBJECT) {
        cell* out = st == TYPE_OBJECT ? object::body_of(spec) : clone(spec, false, false);
        cell_set_type(out, type);
        return out;
    }
    int64_t size = -1;
    if (st == TYPE_INTEGER) size = int32_t(spec->data2);
    if (st == TYPE_FLOAT) {
        double d = cell_float(spec);
        if (!std::isnan(d) && d >= 0.0 && d <= 2147483647.0) size = int64_t(d);
    }
    // A negative, NaN or out-of-range size never reaches the allocator; a huge one fails there
    // with internal/no-memory.
    if (size < 0) {
        cell t = cell{TYPE_DATATYPE, type, 0, 0};
        fire_error_arg(&t, spec);
    }
    cell* out = push_only_star(uint32_t(size));
    cell_set_type(out, type);
    return out;
}

cell* block::to(cell*, cell* value, uint32_t type)
{
    uint32_t vt = cell_type(value);
    if (any_block_q(vt) || vt == TYPE_OBJECT) {
        cell* out = vt == TYPE_OBJECT ? object::body_of(value) : clone(value, false, false);
        cell_set_type(out, type);
        return out;
    }
    if (vt == TYPE_STRING && string_scan_hook) {
        cell* out = string_scan_hook(value);
        cell_set_type(out, type);
        return out;
    }
    if (vt == TYPE_TYPESET) {
        cell* out = typeset::to_block(value, stack::push_slot());
        cell_set_type(out, type);
        return out;
    }
    if (vt == TYPE_MAP) {
        cell* out = map::body_of(value);
        cell_set_type(out, type);
        return out;
    }
    if (vt == TYPE_VECTOR) {
        cell* out = vector::to_block(value);
        cell_set_type(out, type);
        return out;
    }
    if (vt == TYPE_STRING) fire(ERR_INTERNAL, err::NOT_DONE);
    cell v = *value;
    cell_clear_new_line(&v);
    cell* out = push_only_star(1);
    rs_append(out, &v);
    cell_set_type(out, type);
    return out;
}

// ---- form and mold ------------------------------------------------------------------------------

int32_t block::form(cell* blk, cell* buffer, cell* arg, int32_t part)
{
    if (mold_cycle_check(blk, buffer, &part, false)) return part;
    cell b = *blk;
    cycle_scope walking(b.data2);
    bool limited = arg_given(arg);
    for (int32_t i = std::max(series_head_raw(&b), 0); i < cells_of(&b); i++) {
        if (limited && part <= 0) break;
        cell v = *cell_at(&b, i);
        part = form_value(&v, buffer, arg, part);
        if (i + 1 >= cells_of(&b)) break;
        uint32_t c = last_char(buffer);
        if (c != '\t' && c != '\n' && c != '\r') part = string::emit_literal(buffer, " ", part);
    }
    return part;
}

int32_t block::mold(cell* blk, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    if (mold_cycle_check(blk, buffer, &part, true)) return part;
    if (!only) part = string::emit_literal(buffer, "[", part);
    part = mold_each(blk, buffer, only, all, flat, arg, part, indent);
    if (!only) part = string::emit_literal(buffer, "]", part);
    return part;
}

int32_t block::mold_each(cell* blk, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part,
                         int32_t indent)
{
    cell b = *blk;
    bool limited = arg_given(arg);
    bool indented = false;
    {
        cycle_scope walking(b.data2);
        int32_t first = std::max(series_head_raw(&b), 0);
        for (int32_t i = first; i < cells_of(&b); i++) {
            if (limited && part <= 0) return part;
            cell v = *cell_at(&b, i);
            if (!flat && (v.header & HEADER_NEW_LINE)) {
                if (!only && i == first) {
                    indented = true;
                    indent++;
                }
                if (!(only && i == first)) part = string::emit_literal(buffer, "\n", part);
                part = mold_indent(buffer, indent, part);
            } else if (i != first) {
                part = string::emit_literal(buffer, " ", part);
            }
            part = mold_value(&v, buffer, false, all, flat, arg, part, indent);
        }
    }
    if (indented) {
        indent--;
        part = string::emit_literal(buffer, "\n", part);
        part = mold_indent(buffer, indent, part);
    }
    return part;
}

// ---- compare ------------------------------------------------------------------------------------

int32_t block::compare(cell* blk1, cell* blk2, int32_t op)
{
    uint32_t t1 = cell_type(blk1), t2 = cell_type(blk2);
    if (t1 != t2) {
        bool word_eq = op == COMP_STRICT_EQUAL_WORD || op == COMP_EQUAL_WORD;
        bool path_pair = (t1 == TYPE_PATH && t2 == TYPE_LIT_PATH) || (t1 == TYPE_LIT_PATH && t2 == TYPE_PATH);
        if (!word_eq || !path_pair) return -2;
    }
    cell a = *blk1, b = *blk2;
    if (a.data2 == b.data2 && a.data1 == b.data1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycle_find(a.data2)) return cycle_find(b.data2) ? 0 : -1;
    int32_t len1 = length_of(&a), len2 = length_of(&b);
    if (len1 != len2 && equality_op(op)) return 1;
    if (len1 == 0 || len2 == 0) return sign_of(int64_t(len1) - len2);
    cycle_scope walking1(a.data2);
    cycle_scope walking2(b.data2);
    for (int32_t i = 0; i < std::min(len1, len2); i++) {
        if (i >= length_of(&a) || i >= length_of(&b)) break;   // an element's compare shortened one
        cell c1 = *cell_at(&a, std::max(series_head_raw(&a), 0) + i);
        cell c2 = *cell_at(&b, std::max(series_head_raw(&b), 0) + i);
        uint32_t e1 = cell_type(&c1), e2 = cell_type(&c2);
        if (!datatype::compared_by_value(e1, e2)) return e1 < e2 ? -1 : 1;
        auto cmp = actions_of(e1).compare;
        int32_t r = cmp ? cmp(&c1, &c2, op) : -2;
        if (r != 0) return r;
    }
    return sign_of(int64_t(len1) - len2);
}

// ---- path steps and copy ------------------------------------------------------------------------

cell* block::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool case_, bool,
                       bool, bool)
{
    if (cell_type(element) == TYPE_INTEGER) {
        int32_t n = integer_of(element);
        if (value) {
            series::poke_at(parent, n, value);
            return value;
        }
        return series::pick_into(parent, n, stack::push_slot());
    }
    if (value) {
        // A key sets the value after it; the key must be there.
        cell* found = stack::push(parent);
        find(found, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false, false);
        if (cell_type(found) == TYPE_NONE) fire(ERR_SCRIPT, err::BAD_PATH_SET, path, element);
        series::poke_at(found, 2, value);
        stack::pop(1);
        return value;
    }
    if (cell_type(element) == TYPE_WORD && cell_type(parent) != TYPE_HASH)
        return stack::push(find_word(element, parent, case_));
    cell* out = stack::push(parent);
    return select(out, element, nullptr, true, case_, false, false, nullptr, nullptr, false, false, false, false);
}

cell* block::copy(cell* blk, cell* result, cell* part, bool deep, cell* types)
{
    bool typed = arg_given(types);
    if (!deep && !typed) return series::copy(blk, result, part, false, nullptr);
    cell src = *blk;
    std::optional<cycle_scope> walking;
    if (deep) {
        enter_or_no_cycle(src.data2);
        walking.emplace(src.data2);
    }
    series::copy(blk, result, part, false, nullptr);
    if (cell_type(&src) == TYPE_HASH) cell_set_type(result, TYPE_BLOCK);
    cell out = *result;
    // The copy is reachable from `result` alone: keep it where the collector sees it.
    cell* held = stack::push(&out);
    uint32_t count = uint32_t(cells_of(held));
    if (typed) {
        copy_typed(held, 0, count, 1, deep, types);
    } else {
        for (uint32_t i = 0; i < count && i < uint32_t(cells_of(held)); i++)
            if (deep_copied(cell_type(cell_at(held, i)))) copy_at(held, i, true, nullptr);
    }
    stack::pop(1);
    return result;
}

void block::init()
{
    datatype::register_type(TYPE_BLOCK, TYPE_SERIES, "block!", {
        .make = make, .random = inherit, .reflect = inherit, .to = to, .form = form, .mold = mold,
        .eval_path = eval_path, .compare = compare, .append = append, .at = inherit, .back = inherit,
        .change = change, .clear = inherit, .copy = copy, .find = find, .head = inherit, .head_q = inherit,
        .index_q = inherit, .insert = insert, .length_q = inherit, .move = inherit, .next = inherit,
        .pick = inherit, .poke = inherit, .put = put, .remove = inherit, .reverse = inherit, .select = select,
        .sort = sort, .skip = inherit, .swap = swap, .tail = inherit, .tail_q = inherit, .take = take,
        .trim = trim, .modify = inherit,
        .mark = collector::mark_block_cell});
}
