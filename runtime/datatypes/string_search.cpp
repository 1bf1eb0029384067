// String search: find, select, path steps, the parse engine's one-value tests and the set
// operations on texts. Patterns are copied out as code points before a walk (forming a value
// allocates), and every read is bounded by the unit count as it is then: nothing reads past a
// pattern's end or a series' tail, an empty pattern included (it is found nowhere).
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_internal.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace {

using string_internal::code_points;
using string_internal::cp_at;
using string_internal::fold;

// Text kinds whose units are the pattern (tag! is formed, with its delimiters).
bool text_pattern_q(uint32_t t)
{
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF;
}

using bitset::member_q;

// What one search looks for.
struct text_search {
    std::vector<uint32_t> pattern;   // a run of code points (folded when folding)
    bool single;                     // one unit compared with pattern[0], or tested against the bitset
    cell bitset;                     // a bitset! value, or none
    bool fold;
};

text_search make_search(const cell* series, const cell* value, bool folding)
{
    text_search s{{}, false, none_value, folding};
    uint32_t st = cell_type(series), vt = cell_type(value);
    if (vt == TYPE_CHAR) {
        s.single = true;
        s.pattern.push_back(char_of(value));
    } else if (vt == TYPE_BITSET) {
        s.single = true;
        s.bitset = *value;
        s.fold = false;
    } else if (text_pattern_q(vt)) {
        s.pattern = code_points(value);
    } else if (vt == TYPE_WORD) {
        uint32_t length = 0;
        const uint8_t* p = symbol::name(word_symbol(value), &length);
        std::vector<uint8_t> bytes(p, p + length);   // copied: the symbol block may move
        for (const uint8_t *q = bytes.data(), *end = q + length; q < end;) {
            int32_t cp = 0;
            q = unicode::fast_decode_utf8_char(q, end, &cp);
            s.pattern.push_back(uint32_t(cp));
        }
    } else if (vt == TYPE_BINARY) {
        if (st != TYPE_BINARY) fire(ERR_SCRIPT, err::INVALID_ARG, value);
        s.pattern = code_points(value);
    } else if (vt == TYPE_INTEGER && st == TYPE_BINARY) {
        s.single = true;
        s.pattern.push_back(uint32_t(integer_of(value)));
    } else {
        stack::scope held;
        cell* text = string::make_at(stack::push_slot(), 16);
        form_value(const_cast<cell*>(value), text, nullptr, FORM_WHOLE);
        s.pattern = code_points(text);
    }
    if (s.fold)
        for (uint32_t& cp : s.pattern) cp = fold(cp);
    return s;
}

// The folded code point, ASCII without a table look-up (its letters fold only among themselves).
inline uint32_t fold_fast(uint32_t cp) { return cp < 128 ? (cp - 'a' < 26 ? cp - 32 : cp) : fold(cp); }

// The first of the candidate positions (walked from low up, or from high down, by step) where the
// search matches, or -1. base holds the text's units; the caller bounds high so that the whole
// pattern lies within them. Runs no code, so the buffer cannot move under it.
template <uint32_t UNIT>
int64_t walk(const uint8_t* base, int64_t low, int64_t high, int64_t step, bool down, bool match, const text_search& s)
{
    auto read = [&](int64_t i) {
        uint32_t cp = unit_read(base + i * UNIT, UNIT);
        return s.fold ? fold_fast(cp) : cp;
    };
    bool bits = cell_type(&s.bitset) == TYPE_BITSET;
    size_t length = s.single ? 1 : s.pattern.size();
    uint32_t first = bits ? 0 : s.pattern[0];
    for (int64_t i = down ? high : low; i >= low && i <= high; i += down ? -step : step) {
        if (bits) {
            if (member_q(&s.bitset, unit_read(base + i * UNIT, UNIT))) return i;
        } else if (read(i) == first) {
            size_t k = 1;
            while (k < length && read(i + int64_t(k)) == s.pattern[k]) k++;
            if (k == length) return i;
        }
        if (match) break;
    }
    return -1;
}

struct text_found {
    int64_t at;   // -1: no hit
    int64_t end;
};

text_found locate(const cell* series, const cell* value, cell* part, bool case_, bool same, bool any, cell* with,
                  cell* skip, bool last, bool reverse, bool match)
{
    constexpr text_found none{-1, -1};
    int64_t total = series::units(series);
    int64_t head = series_head_raw(series);
    if (total == 0 || (!reverse && head >= total)) return none;
    if (any || arg_given(with)) fire(ERR_INTERNAL, err::NOT_DONE);
    head = std::clamp<int64_t>(head, 0, total);
    int64_t step = 1;
    if (arg_given(skip)) {
        if (cell_type(skip) != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_SKIP), skip);
        if (integer_of(skip) < 1) fire(ERR_SCRIPT, err::OUT_OF_RANGE, skip);
        step = integer_of(skip);
    }
    int64_t limit = -1;
    if (arg_given(part)) {
        if (cell_type(part) == TYPE_INTEGER) limit = integer_of(part);
        else if (cell_type(part) == cell_type(series) && series_node(part) == series_node(series))
            limit = int64_t(series_head_raw(part)) - series_head_raw(series);
        else fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
        if (limit < 1) return none;
    }
    if (reverse && (head == 0 || match)) return none;
    text_search s = make_search(series, value, any_string_q(cell_type(series)) && !case_ && !same);
    int64_t length = s.single ? 1 : int64_t(s.pattern.size());
    if (length == 0) return none;
    // First units of the candidate matches: [low, high], walked up, or down from high.
    int64_t low, high;
    if (reverse) {
        low = limit < 0 ? 0 : std::max<int64_t>(head - limit, 0);
        high = head - length;
    } else {
        low = head;
        high = (limit < 0 ? total : std::min(head + limit, total)) - length;
    }
    bool down = last || reverse;
    // Forming the pattern ran code: the buffer and its unit count are read only now.
    series_buffer* b = series_of(series_node(series));
    uint32_t unit = series_unit(b);
    high = std::min<int64_t>(high, int64_t((b->tail - b->head) / unit) - length);
    const uint8_t* base = at(b->head);
    int64_t i = unit == 1   ? walk<1>(base, low, high, step, down, match, s)
                : unit == 2 ? walk<2>(base, low, high, step, down, match, s)
                            : walk<4>(base, low, high, step, down, match, s);
    if (i >= 0) return {i, i + length};
    return none;
}

}  // namespace

cell* string::find(cell* series, cell* value, cell* part, bool, bool case_, bool same, bool any, cell* with, cell* skip,
                   bool last, bool reverse, bool tail, bool match)
{
    text_found f = locate(series, value, part, case_, same, any, with, skip, last, reverse, match);
    if (f.at < 0) return none::make_at(series);
    series->data1 = uint32_t(tail ? f.end : f.at);
    return series;
}

cell* string::select(cell* series, cell* value, cell* part, bool, bool case_, bool same, bool any, cell* with,
                     cell* skip, bool last, bool reverse, bool, bool)
{
    text_found f = locate(series, value, part, case_, same, any, with, skip, last, reverse, false);
    if (f.at < 0 || f.end >= int64_t(series::units(series))) return none::make_at(series);
    uint32_t cp = cp_at(series, uint32_t(f.end));
    *series = cell_type(series) == TYPE_BINARY ? cell{TYPE_INTEGER, 0, cp, 0} : cell{TYPE_CHAR, 0, cp, 0};
    return series;
}

cell* string::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool case_, bool,
                        bool, bool)
{
    uint32_t et = cell_type(element);
    if (et == TYPE_INTEGER) {
        if (value) {
            series::poke_at(parent, integer_of(element), value);
            return value;
        }
        return series::pick_into(parent, integer_of(element), stack::push_slot());
    }
    if (et == TYPE_WORD) fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
    cell* out = stack::push(parent);
    if (!value) return select(out, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false, false);
    find(out, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false, false);
    if (cell_type(out) == TYPE_NONE) fire(ERR_SCRIPT, err::BAD_PATH_SET, path, element);
    series::poke_at(out, 2, value);
    stack::pop(1);
    return value;
}

bool string::head_in_bitset_q(const cell* str, const cell* bitset)
{
    if (series::length_clamped(str) == 0) return false;
    return member_q(bitset, cp_at(str, series::head_clamped(str)));
}

bool string::tag_delimiters_q(const cell* str, const cell* tag)
{
    uint64_t head = series::head_clamped(str), close = head + series::length_clamped(tag) + 1;
    if (close >= series::units(str)) return false;
    return cp_at(str, uint32_t(head)) == '<' && cp_at(str, uint32_t(close)) == '>';
}

bool string::match_value(const cell* str, const cell* value, int32_t op)
{
    uint32_t vt = cell_type(value);
    if (vt == TYPE_TAG) {
        if (!tag_delimiters_q(str, value)) return false;
        cell inner = *str;
        inner.data1 = series::head_clamped(str) + 1;
        return equal_q(&inner, value, op, true) == 0;
    }
    if (any_string_q(vt)) return equal_q(str, value, op, true) == 0;
    if (vt == TYPE_CHAR) {
        if (series::length_clamped(str) == 0) return false;
        uint32_t cp = cp_at(str, series::head_clamped(str)), want = char_of(value);
        return op == COMP_STRICT_EQUAL ? cp == want : fold(cp) == fold(want);
    }
    return false;
}

bool string::has_char_step_q(const cell* str, uint32_t cp, uint32_t step, bool case_)
{
    if (step == 0) step = 1;
    uint32_t want = case_ ? cp : fold(cp);
    for (uint64_t i = series::head_clamped(str); i < series::units(str); i += step) {
        uint32_t c = cp_at(str, uint32_t(i));
        if ((case_ ? c : fold(c)) == want) return true;
    }
    return false;
}

cell* string::do_set_op(bool case_, cell* skip, int32_t op)
{
    cell* base = stack::arguments();
    uint32_t size = 1;
    if (arg_given(skip)) {
        if (cell_type(skip) != TYPE_INTEGER || integer_of(skip) < 1)
            fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_SKIP), skip);
        size = uint32_t(integer_of(skip));
    }
    bool two = op != 8;
    for (int i = 0; i < (two ? 2 : 1); i++) base[i].data1 = series::head_clamped(base + i);
    // First code points of the records, as has-char-step? compares them.
    auto keys_of = [&](const cell* s) {
        std::unordered_set<uint32_t> keys;
        for (uint64_t i = series::head_clamped(s); i < series::units(s); i += size) {
            uint32_t c = cp_at(s, uint32_t(i));
            keys.insert(case_ ? c : fold(c));
        }
        return keys;
    };
    uint32_t room = series::length_clamped(base) + (op == 9 ? series::length_clamped(base + 1) : 0);
    stack::scope held;
    cell* result = make_at(stack::push_slot(), std::max(room, 1u));
    std::unordered_set<uint32_t> kept;
    int passes = op == 9 || op == 12 ? 2 : 1;
    for (int pass = 0; pass < passes; pass++) {
        const cell* walked = base + pass;
        std::unordered_set<uint32_t> other;
        if (two) other = keys_of(base + 1 - pass);
        for (uint64_t i = series::head_clamped(walked); i < series::units(walked); i += size) {
            uint32_t c = cp_at(walked, uint32_t(i)), key = case_ ? c : fold(c);
            bool keep = op == 10 ? other.count(key) != 0 : (op == 11 || op == 12) ? other.count(key) == 0 : true;
            if (!keep || !kept.insert(key).second) continue;
            for (uint64_t k = i; k < i + size && k < series::units(walked); k++)
                append_char(result->data2, cp_at(walked, uint32_t(k)));
        }
    }
    base->data1 = 0;
    base->data2 = result->data2;
    return base;
}
