// map!: entries block plus kind-1 table. Keys are normalised when stored (word kinds as set-words,
// series keys copied), so the caller's later changes never reach a key. Every routine reads entry
// cells again by index after anything that may allocate or evaluate.
#include "runtime/datatypes/map.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_internal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace {

using block_internal::cell_at;
using block_internal::cells_of;

constexpr uint32_t KEY_TYPES[] = {TYPE_STRING, TYPE_FILE,    TYPE_URL,     TYPE_CHAR,       TYPE_INTEGER,
                                  TYPE_FLOAT,  TYPE_WORD,    TYPE_SET_WORD, TYPE_LIT_WORD,  TYPE_GET_WORD,
                                  TYPE_REFINEMENT, TYPE_ISSUE, TYPE_PAIR,  TYPE_PERCENT,    TYPE_TUPLE,
                                  TYPE_BINARY, TYPE_TIME,    TYPE_TAG,     TYPE_EMAIL,      TYPE_DATE,
                                  TYPE_MONEY,  TYPE_REF,     TYPE_POINT2D, TYPE_POINT3D};

constexpr uint64_t key_type_mask()
{
    uint64_t mask = 0;
    for (uint32_t t : KEY_TYPES) mask |= uint64_t(1) << t;
    return mask;
}
static_assert(TYPE_TABLE_SIZE <= 64, "key_type_mask holds a bit per type id");

bool word_kind(uint32_t t) { return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }
bool copied_kind(uint32_t t)
{
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_BINARY || t == TYPE_TAG ||
           t == TYPE_EMAIL || t == TYPE_REF;
}

cell datatype_cell(uint32_t type) { return cell{TYPE_DATATYPE, type, 0, 0}; }

hashtable* table(const cell* m) { return hashtable_record(m->data3); }
bool live_q(const cell* value_cell) { return value_cell->header != 0; }

[[noreturn]] void bad_key(const cell* key)
{
    cell where = datatype_cell(TYPE_MAP), what = datatype_cell(cell_type(key));
    fire(ERR_SCRIPT, err::INVALID_PATH, &where, &what);
}

// The key as it is stored, pushed.
cell* normalized_key(const cell* key)
{
    cell k = *key;
    cell_clear_new_line(&k);
    uint32_t t = cell_type(&k);
    if (!map::key_type_q(t)) bad_key(&k);
    cell* out = stack::push(&k);
    if (word_kind(t)) cell_set_type(out, TYPE_SET_WORD);
    else if (copied_kind(t)) series::copy(out, out, nullptr, false, nullptr);
    return out;
}

// The index of the key cell of the entry equal to key under mode (removed entries included), or -1.
int64_t entry_of(const cell* m, const cell* key, int32_t mode)
{
    if (!map::key_type_q(cell_type(key))) return -1;
    cell k = *key;
    cell* hit = hashtable_find_value(m->data3, &k, mode);
    return hit ? hit - cell_at(m, 0) : -1;
}

int32_t mode_of(bool case_, bool same) { return same ? map::MODE_SAME : case_ ? map::MODE_STRICT : map::MODE_EQUAL; }

// A key as the language gives it back: set-word keys as words.
cell key_out(const cell* stored)
{
    cell k = *stored;
    cell_clear_new_line(&k);
    if (cell_type(&k) == TYPE_SET_WORD) cell_set_type(&k, TYPE_WORD);
    return k;
}

void mark(const cell* c)
{
    if (c->data2) collector::mark_block(c->data2);
    if (c->data3 && collector::hashtable_mark_hook) collector::hashtable_mark_hook(c->data3);
}

[[noreturn]] void bad_to(const cell* spec)
{
    cell type = datatype_cell(TYPE_MAP);
    fire(ERR_SCRIPT, err::BAD_TO_ARG, &type, spec);
}

// Make and to: from a block, paren, hash or map.
cell* from_any_block(cell* spec)
{
    uint32_t st = cell_type(spec);
    if (st == TYPE_MAP) return map::copy(spec, stack::push(spec), nullptr, false, nullptr);
    if (st != TYPE_BLOCK && st != TYPE_PAREN && st != TYPE_HASH) bad_to(spec);
    return map::from_block(spec);
}

}  // namespace

bool map::key_type_q(uint32_t type) { return type < 64 && (key_type_mask() >> type & 1); }

int32_t map::count(const cell* m) { return table(m)->live; }

cell* map::push(const cell* m) { return stack::push(m); }

bool map::foreach_next(const cell* words, cell* m, uint32_t n)
{
    bool many = cell_type(words) == TYPE_BLOCK;
    for (uint32_t k = 0; k < n; k++) {
        cell w = many ? block::rs_head(words)[k] : *words;
        if (!word_kind(cell_type(&w))) fire(ERR_SCRIPT, err::INVALID_ARG, &w);
    }
    uint32_t pos = m->data1;
    for (uint32_t k = 0; k < n; k++) {
        // Where a key is due, removed entries are passed over.
        if (k % 2 == 0)
            while (int64_t(pos) + 1 < cells_of(m) && !live_q(cell_at(m, pos + 1))) pos += 2;
        if (k == 0 && int64_t(pos) >= cells_of(m)) {
            m->data1 = pos;
            return false;
        }
        cell item = none_value;
        if (int64_t(pos) < cells_of(m)) {
            item = k % 2 == 0 ? key_out(cell_at(m, pos)) : *cell_at(m, pos);
            pos++;
        }
        cell w = many ? block::rs_head(words)[k] : *words;
        cell* target = stack::push(&w);
        word::set(target, &item);   // may evaluate nothing, but allocates: the map is read again
        stack::pop(1);
    }
    m->data1 = pos;
    return true;
}

cell* map::make_at(const cell* entries, cell* out, uint32_t size)
{
    if (entries) {
        cell whole = *entries;
        node_ref t = hashtable_new(std::max<uint32_t>(block_internal::length_of(&whole), 2), &whole, HASH_MAP, 0);
        *out = cell{TYPE_MAP, 0, whole.data2, t};
        return out;
    }
    node_ref t = hashtable_new(std::max<uint32_t>(size, 2), nullptr, HASH_MAP, 0);
    *out = cell{TYPE_MAP, 0, hashtable_record(t)->block, t};
    return out;
}

void map::put_pair(const cell* map_cell, const cell* key, const cell* value, bool case_)
{
    // A key already there takes the value in place: finding it allocates nothing, so nothing needs
    // holding until a new key is to be copied.
    int64_t at = entry_of(map_cell, key, case_ ? MODE_STRICT : MODE_EQUAL);
    if (at >= 0) {
        cell v = *value;   // the value may be the entry's own cell
        cell* slot = cell_at(map_cell, at + 1);
        if (!live_q(slot)) table(map_cell)->live++;
        *slot = v;
        return;
    }
    stack::scope scope;
    cell m = *map_cell;
    cell* held = scope.push(m);   // keeps the map while the key is copied
    cell* k = scope.push(*key);
    cell v = *value;
    cell* val = scope.push(v);
    cell nk = *normalized_key(k);
    cell* key_slot = block_alloc_tail(held);
    *key_slot = nk;
    cell* value_slot = block_alloc_tail(held);
    *value_slot = *val;
    hashtable_put_value(held->data3, cell_at(held, cells_of(held) - 2));
}

cell* map::from_block(const cell* pairs)
{
    cell p = *pairs;
    int32_t n = block_internal::length_of(&p);
    if (n % 2) fire(ERR_SCRIPT, err::INVALID_ARG, &p);
    cell* source = stack::push(&p);
    cell* out = stack::push_slot();
    make_at(nullptr, out, uint32_t(n));
    for (int32_t i = 0; i + 1 < n && i + 1 < block_internal::length_of(source); i += 2) {
        int32_t at = series_head_raw(source) + i;
        cell key = *cell_at(source, at), value = *cell_at(source, at + 1);
        cell_clear_new_line(&value);
        put_pair(out, &key, &value, false);
    }
    *source = *out;
    stack::pop(1);
    return source;
}

cell* map::extend(cell* m, const cell* pairs, bool case_)
{
    cell p = *pairs;
    int32_t n = block_internal::length_of(&p);
    if (n % 2) fire(ERR_SCRIPT, err::INVALID_ARG, &p);
    cell* source = stack::push(&p);
    for (int32_t i = 0; i + 1 < n && i + 1 < block_internal::length_of(source); i += 2) {
        int32_t at = series_head_raw(source) + i;
        cell key = *cell_at(source, at), value = *cell_at(source, at + 1);
        put_pair(m, &key, &value, case_);
    }
    stack::pop(1);
    return m;
}

// ---- make, to, reflect --------------------------------------------------------------------------

namespace {
cell* entries_block(const cell* m, int what);
}

cell* map::make(cell*, cell* spec, uint32_t)
{
    uint32_t st = cell_type(spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        int64_t n = st == TYPE_INTEGER ? int32_t(spec->data2) : 0;
        if (st == TYPE_FLOAT) {
            double d = cell_float(spec);
            if (std::isnan(d) || d < -2147483648.0 || d > 2147483647.0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
            n = int64_t(d);
        }
        if (n < 0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, spec);
        if (n > 0x3FFFFFFF) fire(ERR_INTERNAL, err::NO_MEMORY);
        return make_at(nullptr, stack::push_slot(), uint32_t(n == 0 ? 2 : 2 * n));
    }
    return from_any_block(spec);
}

cell* map::to(cell*, cell* spec, uint32_t) { return from_any_block(spec); }

cell* map::reflect(cell* m, cell* field)
{
    cell held = *m;
    uint32_t s = symbol::resolve(field->data2);
    auto is = [&](rt_symbol which) { return s == symbol::resolve(rt_symbol_id(which)); };
    bool words = is(SYM_WORDS), values = is(SYM_VALUES), body = is(SYM_BODY);
    if (!words && !values && !body) fire(ERR_INTERNAL, err::NOT_DONE);
    return entries_block(&held, words ? 0 : values ? 1 : 2);
}

cell* map::body_of(const cell* m) { return entries_block(m, 2); }
cell* map::pairs_of(const cell* m) { return entries_block(m, 3); }

namespace {
// what: 0 the keys (as words), 1 the values, 2 both with each key on a new line, 3 both with the
// keys as words and no new-line markers (as foreach takes them).
cell* entries_block(const cell* m, int what)
{
    cell held = *m;
    bool words = what == 0, values = what == 1, body = what >= 2;
    uint32_t live = uint32_t(map::count(&held));
    cell* out = block::push_only_star(std::max<uint32_t>(body ? 2 * live : live, 1));
    for (int32_t i = 0; i + 1 < cells_of(&held); i += 2) {
        cell k = *cell_at(&held, i), v = *cell_at(&held, i + 1);
        if (!live_q(&v)) continue;
        if (words) {
            cell w = key_out(&k);
            block::rs_append(out, &w);
        } else if (values) {
            block::rs_append(out, &v);
        } else {
            if (what == 3) k = key_out(&k);
            else k.header |= HEADER_NEW_LINE;
            cell_clear_new_line(&v);
            block::rs_append(out, &k);
            block::rs_append(out, &v);
        }
    }
    return out;
}
}  // namespace

// ---- form and mold ------------------------------------------------------------------------------

namespace {

// The live entries as "key value", joined by `between`; indent levels before each when given.
int32_t emit_entries(cell* m, cell* buffer, const char* between, bool all, cell* arg, int32_t part, int32_t level,
                     bool first_break)
{
    cell held = *m;
    bool limited = arg_given(arg);
    bool first = true;
    for (int32_t i = 0; i + 1 < cells_of(&held); i += 2) {
        if (limited && part <= 0) return part;
        cell k = *cell_at(&held, i), v = *cell_at(&held, i + 1);
        if (!live_q(&v)) continue;
        if (!first || first_break) part = string::emit_literal(buffer, between, part);
        first = false;
        if (level > 0) part = mold_indent(buffer, level, part);
        cell_clear_new_line(&k);
        part = mold_value(&k, buffer, false, all, true, arg, part, level);
        part = string::emit_literal(buffer, " ", part);
        cell_clear_new_line(&v);
        part = mold_value(&v, buffer, false, all, false, arg, part, level);
    }
    return part;
}

}  // namespace

int32_t map::form(cell* m, cell* buffer, cell* arg, int32_t part)
{
    if (mold_cycle_check(m, buffer, &part, false)) return part;
    cycle_scope walking(m->data2);
    return emit_entries(m, buffer, "\n", false, arg, part, 0, false);
}

int32_t map::mold(cell* m, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    if (mold_cycle_check(m, buffer, &part, true)) return part;
    cycle_scope walking(m->data2);
    if (!only) part = string::emit_literal(buffer, "#[", part);
    if (flat) {
        part = emit_entries(m, buffer, " ", all, arg, part, 0, false);
    } else if (only) {
        part = emit_entries(m, buffer, "\n", all, arg, part, 0, false);
    } else {
        uint32_t before = series::units(buffer);
        part = emit_entries(m, buffer, "\n", all, arg, part, indent + 1, true);
        if (series::units(buffer) != before) {
            part = string::emit_literal(buffer, "\n", part);
            if (indent > 0) part = mold_indent(buffer, indent, part);
        }
    }
    if (!only) part = string::emit_literal(buffer, "]", part);
    return part;
}

// ---- paths, compare -----------------------------------------------------------------------------

cell* map::eval_path(cell* parent, cell* element, cell* value, cell*, cell*, cell*, int32_t, bool case_, bool, bool,
                     bool)
{
    if (value) {
        put_pair(parent, element, value, case_);
        return value;
    }
    int64_t at = entry_of(parent, element, case_ ? MODE_STRICT : MODE_EQUAL);
    if (at < 0 || !live_q(cell_at(parent, at + 1))) return stack::push(&none_value);
    cell v = *cell_at(parent, at + 1);
    return stack::push(&v);
}

namespace {

bool values_equal(const cell* a, const cell* b, int32_t op)
{
    cell x = *a, y = *b;
    if (!datatype::compared_by_value(cell_type(&x), cell_type(&y))) return false;
    compare_fn cmp = actions_of(cell_type(&x)).compare;
    return cmp && cmp(&x, &y, op) == 0;
}

int32_t maps_equal(const cell* a, const cell* b, int32_t op)
{
    if (a->data2 == b->data2) return 0;
    if (op == COMP_SAME) return -1;
    if (cycle_find(a->data2)) return cycle_find(b->data2) ? 0 : -1;
    if (map::count(a) != map::count(b)) return 1;
    if (map::count(a) == 0) return 0;
    cycle_scope walking1(a->data2);
    cycle_scope walking2(b->data2);
    int32_t value_op = op == COMP_STRICT_EQUAL ? COMP_STRICT_EQUAL : COMP_EQUAL;
    for (int32_t i = 0; i + 1 < cells_of(a); i += 2) {
        cell k = *cell_at(a, i), v = *cell_at(a, i + 1);
        if (!live_q(&v)) continue;
        bool matched = false;
        hash_cursor cursor{};
        // Every entry of the other map whose key equals this one is tried until a value matches.
        for (;;) {
            cell* hit = hashtable_find_next_value(b->data3, &k, value_op, cursor);
            if (!hit) break;
            int64_t at = hit - cell_at(b, 0);
            cell w = *cell_at(b, at + 1);
            if (live_q(&w) && values_equal(&v, &w, value_op)) {
                matched = true;
                break;
            }
            if (at + 1 >= cells_of(b)) break;
        }
        if (!matched) return 1;
    }
    return 0;
}

}  // namespace

int32_t map::compare(cell* m1, cell* m2, int32_t op)
{
    if (cell_type(m2) != TYPE_MAP) return -2;
    if (op == COMP_SORT || op == COMP_CASE_SORT) return m1->data2 == m2->data2 ? 0 : m1->data2 < m2->data2 ? -1 : 1;
    if (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) {
        cell a = *m1, b = *m2;
        return maps_equal(&a, &b, op);
    }
    return -2;
}

// ---- series-like actions ------------------------------------------------------------------------

cell* map::clear(cell* m)
{
    hashtable_clear(m->data3);
    series_buffer* b = series_of(m->data2);
    b->tail = b->head;
    return m;
}

cell* map::copy(cell* m, cell* result, cell*, bool deep, cell* types)
{
    cell source = *m;
    bool typed = arg_given(types);
    std::optional<cycle_scope> walking;
    if (deep && typed) {
        if (cycle_find(source.data2)) {
            cycle_reset();
            fire(ERR_INTERNAL, err::NO_CYCLE);
        }
        walking.emplace(source.data2);
    }
    stack::scope scope;
    cell whole = cell{TYPE_BLOCK, 0, source.data2, 0};
    cell* entries = block::clone(&whole, deep && !typed, false);
    node_ref t = hashtable_copy(source.data3, entries->data2);
    cell out = cell{TYPE_MAP, 0, entries->data2, t};
    *entries = out;
    if (typed) {
        cell blk = cell{TYPE_BLOCK, 0, out.data2, 0};
        cell* held = scope.push(blk);
        block::copy_typed(held, 1, uint32_t(cells_of(held)), 2, deep, types);
    }
    *result = out;
    return result;
}

cell* map::find(cell* m, cell* key, cell*, bool, bool case_, bool same, bool, cell*, cell*, bool, bool, bool, bool)
{
    int64_t at = entry_of(m, key, mode_of(case_, same));
    if (at < 0 || !live_q(cell_at(m, at + 1))) return none::make_at(m);
    *m = key_out(cell_at(m, at));
    return m;
}

cell* map::select(cell* m, cell* key, cell*, bool, bool case_, bool same, bool, cell*, cell*, bool, bool, bool, bool)
{
    int64_t at = entry_of(m, key, mode_of(case_, same));
    if (at < 0 || !live_q(cell_at(m, at + 1))) return none::make_at(m);
    *m = *cell_at(m, at + 1);
    return m;
}

int32_t map::length_q(cell* m) { return count(m); }

cell* map::put(cell* m, cell* key, cell* value, bool case_)
{
    cell v = *value;
    put_pair(m, key, &v, case_);
    *m = v;
    return m;
}

cell* map::remove(cell* m, cell*, cell* key)
{
    if (!arg_given(key)) fire(ERR_SCRIPT, err::MISSING_ARG);
    int64_t at = entry_of(m, key, MODE_STRICT);
    if (at >= 0 && live_q(cell_at(m, at + 1))) hashtable_delete_value(m->data3, cell_at(m, at));
    return m;
}

void map::init()
{
    datatype::register_type(TYPE_MAP, 0, "map!", {
        .make = make, .reflect = reflect, .to = to, .form = form, .mold = mold, .eval_path = eval_path,
        .compare = compare, .clear = clear, .copy = copy, .find = find, .length_q = length_q, .put = put,
        .remove = remove, .select = select, .mark = mark});
}
