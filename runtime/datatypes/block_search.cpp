// Block search: find, select, put and the set operations. A walk goes by index and reads each cell
// again through the node after every compare, since a compare routine may allocate; every
// position is checked against the tail as it is now, never as it was when the walk began.
#include <algorithm>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_internal.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace {

using block_internal::cell_at;
using block_internal::cells_of;
using block_internal::length_of;

// What a search looks for and how it walks.
struct search {
    cell value;
    bool sequence;     // the value's cells from its head, as a run
    int32_t length;    // cells matched at each position (1 for a single value)
    int32_t op;        // compare code of one cell
    bool by_type;      // a datatype! or typeset! value: cells of those types match
    int32_t step;
};

// Whether the cell at `index` matches pattern cell `k` (0 for a single value).
bool cell_matches(const cell* series, int64_t index, const search& s, int32_t k)
{
    cell c = *cell_at(series, index);
    if (s.by_type) {
        uint32_t t = cell_type(&c);
        return cell_type(&s.value) == TYPE_DATATYPE ? s.value.data1 == t : typeset_has(&s.value, t);
    }
    cell v = s.sequence ? *cell_at(&s.value, std::max(series_head_raw(&s.value), 0) + k) : s.value;
    auto cmp = actions_of(cell_type(&v)).compare;
    return cmp && cmp(&v, &c, s.op) == 0;
}

bool matches_at(const cell* series, int64_t index, int64_t limit, const search& s)
{
    for (int32_t k = 0; k < s.length; k++) {
        // The tail is read again each time: a compare routine may have shortened the block.
        if (index + k >= limit || index + k >= cells_of(series)) return false;
        if (s.sequence && std::max(series_head_raw(&s.value), 0) + k >= cells_of(&s.value)) return false;
        if (!cell_matches(series, index + k, s, k)) return false;
    }
    return true;
}

// The /part count: an integer, or a position in the same series (cells up to, not including it).
int64_t part_limit(const cell* series, const cell* part)
{
    if (cell_type(part) == TYPE_INTEGER) return integer_of(part);
    if (cell_type(part) == cell_type(series) && series_node(part) == series_node(series))
        return int64_t(series_head_raw(part)) - series_head_raw(series);
    fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
}

struct found {
    int64_t at;    // the match's first cell, -1 when nothing matched
    int64_t end;   // one past the matched run
};

found locate(const cell* series, const cell* value, cell* part, bool only, bool case_, bool same, cell* skip,
             bool last, bool reverse, bool match)
{
    constexpr found none{-1, -1};
    int32_t total = cells_of(series);
    int64_t head = series_head_raw(series);
    if (total == 0 || (!reverse && head >= total)) return none;
    head = std::clamp<int64_t>(head, 0, total);
    search s{*value, false, 1, same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_FIND, false, 1};
    if (arg_given(skip)) {
        if (cell_type(skip) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_SKIP), skip);
        if (integer_of(skip) < 1) fire(ERR_SCRIPT, err::OUT_OF_RANGE, skip);
        s.step = integer_of(skip);
    }
    int64_t limit = -1;
    if (arg_given(part)) {
        limit = part_limit(series, part);
        if (limit < 1) return none;
    }
    uint32_t vt = cell_type(value);
    if (!only && (vt == TYPE_DATATYPE || vt == TYPE_TYPESET)) s.by_type = true;
    if (!only && any_block_q(vt)) {
        s.sequence = true;
        s.length = length_of(value);
        if (s.length == 0) return none;   // an empty run is found nowhere
    }
    // Positions tried, as [low, high] for the run's first cell, walked up or down by the step.
    int64_t low, high, start;
    bool down = last || reverse;
    if (reverse) {
        low = limit < 0 ? 0 : std::max<int64_t>(head - limit, 0);
        high = head - s.length;
        start = high;
    } else {
        int64_t end = limit < 0 ? total : std::min<int64_t>(head + limit, total);
        low = head;
        high = end - s.length;
        start = last ? high : low;
    }
    if (match && reverse) return none;
    if (cell_type(series) == TYPE_HASH && series->data3 && !s.sequence && !s.by_type && !match) {
        // A look-up: the table keeps every cell's index, so the walk's first hit is the nearest
        // indexed cell on the walk's side of `start` that lies on its step.
        uint32_t from = uint32_t(down ? start + 1 : start);
        if (high < low) return none;
        cell* hit = hashtable_find_value(series->data3, value, s.op, from, uint32_t(s.step), down);
        if (!hit) return none;
        int64_t i = hit - cell_at(series, 0);
        if (i < low || i > high) return none;
        return {i, i + 1};
    }
    for (int64_t i = start; i >= low && i <= high; i += down ? -s.step : s.step) {
        int64_t stop = reverse ? head : high + s.length;
        if (matches_at(series, i, stop, s)) return {i, i + s.length};
        if (match) break;
    }
    return none;
}

}  // namespace

cell* block::find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool, cell*, cell* skip,
                  bool last, bool reverse, bool tail, bool match)
{
    found f = locate(series, value, part, only, case_, same, skip, last, reverse, match);
    if (f.at < 0) return none::make_at(series);
    int64_t to = f.at;
    if (tail) {
        bool single = f.end - f.at == 1 && !(!only && any_block_q(cell_type(value)));
        if (!single) to = f.end;
        else if (last || reverse) to = f.at + 1;
        else to = f.at + (arg_given(skip) ? integer_of(skip) : 1);
        to = std::min<int64_t>(to, cells_of(series));
    }
    series->data1 = uint32_t(to);
    return series;
}

cell* block::select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool, cell*, cell* skip,
                    bool last, bool reverse, bool, bool)
{
    found f = locate(series, value, part, only, case_, same, skip, last, reverse, false);
    if (f.at < 0 || f.end >= cells_of(series)) return none::make_at(series);
    *series = *cell_at(series, f.end);
    return series;
}

cell* block::put(cell* series, cell* key, cell* value, bool case_)
{
    cell v = *value;
    found f = locate(series, key, nullptr, false, case_, false, nullptr, false, false, false);
    if (f.at < 0) {
        series::notify(series, EV_PUT, cells_of(series), 2, &v);
        cell k = *key;
        rs_append(series, &k);
        rs_append(series, &v);
        series::notify(series, EV_PUT_ED, cells_of(series) - 2, 2, &v);
    } else if (f.end >= cells_of(series)) {
        series::notify(series, EV_PUT, int32_t(f.end), 1, &v);
        rs_append(series, &v);
        series::notify(series, EV_PUT_ED, int32_t(f.end), 1, &v);
    } else {
        cell old = *cell_at(series, f.end);
        auto cmp = actions_of(cell_type(&v)).compare;
        if (!(cmp && cell_type(&v) == cell_type(&old) && cmp(&v, &old, COMP_FIND) == 0)) {
            series::notify(series, EV_PUT, int32_t(f.end), 1, &v);
            if (f.end < cells_of(series)) {
                hash::unindex(series, f.end, 1);
                *cell_at(series, f.end) = v;
                hash::index(series, f.end, 1);
            }
            series::notify(series, EV_PUT_ED, int32_t(f.end), 1, &v);
        }
    }
    *series = v;
    return series;
}

// ---- set operations -----------------------------------------------------------------------------

namespace {

// A hash table over a block, held on the argument stack as a hash! cell so that a collection keeps
// both the block and the table.
cell* push_indexed(const cell* blk)
{
    cell b = *blk;
    cell* held = stack::push(&b);
    node_ref table = hashtable_new(uint32_t(std::max(length_of(&b), 1)), &b, HASH_BLOCK, 0);
    *held = cell{TYPE_HASH, series_head_raw(&b) < 0 ? 0u : b.data1, b.data2, table};
    return held;
}

// Whether the block holds v as the first value of one of its records. Any-block values hash by
// identity, so they are searched cell by cell (find/only).
bool holds(const cell* indexed, const cell* v, int32_t op, int32_t size)
{
    if (any_block_q(cell_type(v))) {
        cell b = *indexed;
        cell_set_type(&b, TYPE_BLOCK);
        int32_t head = std::max(series_head_raw(&b), 0);
        for (int64_t i = head; i < cells_of(&b); i += size) {
            cell c = *cell_at(&b, i), k = *v;
            auto cmp = actions_of(cell_type(&k)).compare;
            if (cmp && cmp(&k, &c, op) == 0) return true;
        }
        return false;
    }
    return hashtable_find_value(indexed->data3, v, op, 0, uint32_t(size)) != nullptr;
}

}  // namespace

cell* block::do_set_op(int32_t op, bool case_, cell* skip)
{
    cell* base = stack::arguments();
    int32_t size = 1;
    if (arg_given(skip)) {
        if (cell_type(skip) != TYPE_INTEGER || integer_of(skip) < 1)
            fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_SKIP), skip);
        size = integer_of(skip);
    }
    bool two = op != 8;
    for (int i = 0; i < (two ? 2 : 1); i++) base[i].data1 = series::head_clamped(base + i);
    bool hash = cell_type(base) == TYPE_HASH || (two && cell_type(base + 1) == TYPE_HASH);
    int32_t cmp_op = case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
    stack::scope held;
    uint32_t room = uint32_t(length_of(base)) + (op == 9 ? uint32_t(length_of(base + 1)) : 0);
    cell* result = push_indexed(push_only_star(std::max(room, 1u)));
    int passes = op == 9 || op == 12 ? 2 : 1;
    for (int pass = 0; pass < passes; pass++) {
        cell* walked = base + pass;
        cell* other = two ? push_indexed(base + 1 - pass) : nullptr;
        for (int64_t i = series_head_raw(walked); i < cells_of(walked); i += size) {
            cell v = *cell_at(walked, i);
            bool keep = true;
            if (op == 10) keep = holds(other, &v, cmp_op, size);
            else if (op == 11 || op == 12) keep = !holds(other, &v, cmp_op, size);
            if (!keep || holds(result, &v, cmp_op, size)) continue;
            // A short last record gives the cells it has: nothing is read past the tail.
            // Appended as to a block: this scratch table indexes the records' first cells only.
            cell plain = *result;
            cell_set_type(&plain, TYPE_BLOCK);
            for (int64_t k = i; k < i + size && k < cells_of(walked); k++) {
                cell c = *cell_at(walked, k);
                rs_append(&plain, &c);
            }
            hashtable_put_value(result->data3, cell_at(result, cells_of(result) - std::min<int64_t>(size, cells_of(walked) - i)));
        }
    }
    cell out{TYPE_BLOCK, 0, result->data2, 0};
    if (hash) {
        // A hash! indexes every cell; the table above holds the records' first cells only.
        stack::push(&out);
        out = cell{TYPE_HASH, 0, out.data2, hashtable_new(uint32_t(std::max(cells_of(&out), 1)), &out, HASH_BLOCK, 0)};
    }
    *base = out;
    return base;
}
