// String changes: append, insert, change, swap, take and trim. Every added text is first written
// at the tail (text copied aside by concatenate, forms written there), repeated for /dup, and then
// turned into place; so a string added into itself gives its old text, and a change never reads
// what it has already overwritten. The owner hears of each change before and after.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_internal.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace {

using string_internal::code_points;
using string_internal::cp_at;

uint32_t units_of(const cell* s) { return series::units(s); }

// Cuts the text back to `units` units when a form went past its limit.
void cut_to(const cell* s, uint32_t units) { string::truncate_at(series_node(s), units); }

// Writes the value's text at the tail, at most `limit` units (-1: all); returns the units added.
uint32_t add_at_tail(cell* series, const cell* value, int32_t limit)
{
    uint32_t before = units_of(series);
    uint32_t t = cell_type(value);
    uint64_t cap = limit < 0 ? UINT64_MAX : uint64_t(limit);
    if (t == TYPE_CHAR) {
        if (cap > 0) string::append_char(series_node(series), char_of(value));
    } else if (t == TYPE_TAG) {
        if (cap > 0) string::append_char(series_node(series), '<');
        if (cap > 1) string::append_string(series, value, limit < 0 ? -1 : int32_t(cap - 1), 0, false, string::CONCAT_APPEND);
        if (units_of(series) - before < cap) string::append_char(series_node(series), '>');
    } else if (any_string_q(t)) {
        string::append_string(series, value, limit, 0, false, string::CONCAT_APPEND);
    } else if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        cell blk = *value;
        for (uint32_t i = series::head_clamped(&blk); i < series::units(&blk); i++) {
            if (units_of(series) - before >= cap) break;
            stack::scope held;
            cell* item = held.push(*(series_head_cell(series_of(series_node(&blk))) + i));
            form_value(item, series, nullptr, FORM_WHOLE);
            if (units_of(series) - before > cap) cut_to(series, uint32_t(before + cap));
        }
    } else {
        stack::scope held;
        cell* item = held.push(*value);
        form_value(item, series, nullptr, FORM_WHOLE);
        if (units_of(series) - before > cap) cut_to(series, uint32_t(before + cap));
    }
    return units_of(series) - before;
}

// Repeats the last `added` units until they stand `times` times; internal/no-memory when the size
// overflows.
void repeat_tail(const cell* series, uint32_t added, int64_t times)
{
    if (times < 2 || added == 0) return;
    uint32_t unit = string_internal::unit_of(series);
    uint64_t bytes = (uint64_t(units_of(series)) + uint64_t(added) * (times - 1)) * unit;
    if (bytes >= 0x80000000ull) fire(ERR_INTERNAL, err::NO_MEMORY);
    node_ref node = series_node(series);
    series_buffer* b = series::room_for(node, bytes);
    uint32_t segment = added * unit;
    uint8_t* first = at(b->tail) - segment;
    for (int64_t i = 1; i < times; i++) std::memcpy(at(b->tail) + (i - 1) * segment, first, segment);
    b->tail = b->head + uint32_t(bytes);
}

// Turns the units [from, tail) to stand at `to` (to <= from), the units between moving after them.
void move_tail_to(const cell* series, uint32_t to, uint32_t from)
{
    series_buffer* b = series_of(series_node(series));
    uint32_t unit = series_unit(b);
    std::rotate(at(b->head) + to * unit, at(b->head) + from * unit, at(b->tail));
}

int32_t part_count(const cell* series, const cell* part)
{
    if (!arg_given(part)) return -1;
    if (cell_type(part) == TYPE_INTEGER) return integer_of(part);
    if (cell_type(part) == cell_type(series) && series_node(part) == series_node(series))
        return int32_t(std::max<int64_t>(int64_t(series_head_raw(part)) - series::head_clamped(series), 0));
    fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
}

int64_t dup_count(const cell* dup)
{
    if (!arg_given(dup)) return 1;
    if (cell_type(dup) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_ARG, dup);
    return std::max(integer_of(dup), 0);
}

// The text from the tail's old end, placed at `at` and repeated; returns the units it now holds.
uint32_t add_at(cell* series, const cell* value, int32_t part, int64_t times, uint32_t at)
{
    if (times == 0) return 0;
    uint32_t old_tail = units_of(series);
    uint32_t added = add_at_tail(series, value, part);
    repeat_tail(series, added, times);
    uint32_t total = units_of(series) - old_tail;
    if (at < old_tail) move_tail_to(series, at, old_tail);
    return total;
}

// The common append: a string of the target's unit width, whole and once, to a string that no
// owner watches. A short text is copied aside on the machine stack (the value may be the target
// itself, and growth may move either buffer); false leaves every other case to the general path.
bool append_short_text(cell* series, const cell* v)
{
    constexpr uint32_t SHORT_BYTES = 64;
    uint32_t type = cell_type(v);
    if (!any_string_q(type) || type == TYPE_TAG) return false;
    node_ref node = series_node(series);
    series_buffer* t = series_of(node);
    const series_buffer* s = series_of(series_node(v));
    uint32_t unit = series_unit(t);
    if ((t->flags & SERIES_OWNED) || series_unit(s) != unit || (unit != 1 && unit != 2 && unit != 4)) return false;
    uint32_t units = (s->tail - s->head) >> (unit >> 1);
    uint32_t from = uint32_t(std::clamp<int64_t>(series_head_raw(v), 0, units));
    uint32_t bytes = (units - from) * unit;
    if (bytes > SHORT_BYTES) return false;
    uint8_t text[SHORT_BYTES];
    std::memcpy(text, at(s->head) + from * unit, bytes);
    t = series::room_for(node, uint64_t(t->tail - t->head) + bytes);
    std::memcpy(at(t->tail), text, bytes);
    t->tail += bytes;
    series->data1 = 0;
    return true;
}

}  // namespace

cell* string::append(cell* series, cell* value, cell* part, bool, cell* dup)
{
    cell v = *value;
    if (!arg_given(part) && !arg_given(dup) && append_short_text(series, &v)) return series;
    int32_t limit = part_count(&v, part);
    int64_t times = dup_count(dup);
    series::notify(series, EV_APPEND, int32_t(units_of(series)), 0, &v);
    uint32_t added = add_at(series, &v, limit, times, units_of(series));
    series::notify(series, EV_APPENDED, int32_t(units_of(series) - added), int32_t(added), &v);
    series->data1 = 0;
    return series;
}

cell* string::insert(cell* series, cell* value, cell* part, bool, cell* dup)
{
    cell v = *value;
    int32_t limit = part_count(&v, part);
    int64_t times = dup_count(dup);
    uint32_t head = series::head_clamped(series);
    series::notify(series, EV_INSERT, int32_t(head), 0, &v);
    head = std::min(head, units_of(series));
    uint32_t added = add_at(series, &v, limit, times, head);
    series::notify(series, EV_INSERTED, int32_t(head), int32_t(added), &v);
    series->data1 = std::min(head + added, units_of(series));
    return series;
}

cell* string::change(cell* series, cell* value, cell* part, bool, cell* dup)
{
    cell v = *value;
    int32_t limit = part_count(series, part);
    int64_t times = dup_count(dup);
    uint32_t head = series::head_clamped(series);
    series->data1 = head;
    series::notify(series, EV_CHANGE, int32_t(head), limit < 0 ? 0 : limit, &v);
    head = std::min(head, units_of(series));
    uint32_t rest = units_of(series) - head;
    uint32_t added = add_at(series, &v, -1, times, head);
    uint32_t removed = limit >= 0 ? std::min<uint32_t>(uint32_t(limit), rest) : std::min(added, rest);
    remove_at(series, head + added, removed);
    series::notify(series, EV_CHANGED, int32_t(head), int32_t(added), &v);
    series->data1 = std::min(head + added, units_of(series));
    return series;
}

cell* string::swap(cell* series1, cell* series2)
{
    uint32_t t = cell_type(series2);
    if (!any_string_q(t) && t != TYPE_BINARY) fire(ERR_SCRIPT, err::INVALID_ARG, series2);
    if (series::length_clamped(series1) == 0 || series::length_clamped(series2) == 0) return series1;
    uint32_t h1 = series::head_clamped(series1), h2 = series::head_clamped(series2);
    series::notify(series1, EV_SWAP, int32_t(h1), 1);
    series::notify(series2, EV_SWAP, int32_t(h2), 1);
    if (h1 < units_of(series1) && h2 < units_of(series2)) {
        uint32_t a = cp_at(series1, h1), b = cp_at(series2, h2);
        poke_char_at(series_node(series1), h1, b);
        poke_char_at(series_node(series2), h2, a);
    }
    series::notify(series1, EV_SWAPED, int32_t(h1), 1);
    series::notify(series2, EV_SWAPED, int32_t(h2), 1);
    return series1;
}

cell* string::take(cell* series, cell* part, bool deep, bool last)
{
    uint32_t type = cell_type(series);
    series::take(series, part, deep, last);
    if (arg_given(part) || cell_type(series) == TYPE_NONE || units_of(series) != 1) return series;
    uint32_t cp = cp_at(series, 0);
    *series = type == TYPE_BINARY ? cell{TYPE_INTEGER, 0, cp, 0} : cell{TYPE_CHAR, 0, cp, 0};
    return series;
}

// ---- trim ---------------------------------------------------------------------------------------

namespace {

bool white_q(uint32_t c)
{
    return (c >= 1 && c <= 32) || c == 133 || c == 160 || c == 5760 || c == 6158 || (c >= 8192 && c <= 8202) ||
           c == 8232 || c == 8233 || c == 8239 || c == 8287 || c == 12288;
}
// Space-like for the line pass of plain trim: tab, space and the wide spaces (not line breaks).
bool space_like_q(uint32_t c) { return c == 9 || c == 32 || (c >= 133 && white_q(c)); }

std::vector<uint32_t> trim_spaces(const std::vector<uint32_t>& text, bool head, bool tail)
{
    size_t first = 0, last = text.size();
    if (!tail || head)
        while (first < last && white_q(text[first])) first++;
    bool line_feed = false;
    if (!head || tail)
        while (last > first && white_q(text[last - 1])) line_feed |= text[--last] == '\n';
    std::vector<uint32_t> out(text.begin() + ptrdiff_t(first), text.begin() + ptrdiff_t(last));
    if (head || tail) return out;
    // Plain trim: each line loses its leading spaces and the spaces before its line feed.
    std::vector<uint32_t> lines;
    bool line_start = true;
    for (size_t i = 0; i < out.size(); i++) {
        uint32_t c = out[i];
        if (space_like_q(c)) {
            size_t j = i;
            while (j < out.size() && space_like_q(out[j])) j++;
            if (!line_start && !(j < out.size() && out[j] == '\n'))
                lines.insert(lines.end(), out.begin() + ptrdiff_t(i), out.begin() + ptrdiff_t(j));
            i = j - 1;
            continue;
        }
        lines.push_back(c);
        line_start = c == '\n';
    }
    if (line_feed) lines.push_back('\n');
    return lines;
}

std::vector<uint32_t> trim_lines(const std::vector<uint32_t>& text)
{
    std::vector<uint32_t> out;
    bool pending = false;
    for (uint32_t c : text) {
        if (white_q(c)) {
            pending = !out.empty();
            continue;
        }
        if (pending) out.push_back(' ');
        pending = false;
        out.push_back(c);
    }
    return out;
}

}  // namespace

cell* string::trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with)
{
    uint32_t from = series::head_clamped(series);
    series->data1 = from;
    series::notify(series, EV_TRIM, int32_t(from), int32_t(series::length_clamped(series)));
    std::vector<uint32_t> text = code_points(series), out;
    if (all || arg_given(with)) {
        std::vector<uint32_t> drop = {9, 10, 13, 32};
        if (arg_given(with)) {
            uint32_t wt = cell_type(with);
            if (wt == TYPE_CHAR || wt == TYPE_INTEGER) drop = {with->data2};
            else if (any_string_q(wt) || wt == TYPE_BINARY) drop = code_points(with);
            else fire(ERR_SCRIPT, err::INVALID_ARG, with);
        }
        for (uint32_t c : text)
            if (std::find(drop.begin(), drop.end(), c) == drop.end()) out.push_back(c);
    } else if (auto_) {
        fire(ERR_INTERNAL, err::NOT_DONE);
    } else if (lines) {
        out = trim_lines(text);
    } else {
        out = trim_spaces(text, head, tail);
    }
    // The result is never longer than the text: written over it from the head, then cut.
    node_ref node = series_node(series);
    for (uint32_t i = 0; i < out.size(); i++) poke_char_at(node, from + i, out[i]);
    truncate_at(node, from + uint32_t(out.size()));
    series::notify(series, EV_TRIMMED, int32_t(from), int32_t(out.size()));
    return series;
}
