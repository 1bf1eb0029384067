// The parse dialect engine and the parse native's front end. Rules are matched by descending
// into rule blocks; every level keeps only nodes and indices (a rule block's node and the rule's
// index, the input's node in a fixed argument-stack cell and its position), and re-reads cells
// after anything that may evaluate or allocate. Each entered block is recorded on the rule stack
// (a root block), which bounds the nesting (parse-stack), finds left recursion (parse-infinite)
// and is what a /trace callback sees; every exit, an unwinding error included, cuts the rule
// stack back to where its parse found it.
#include "runtime/interpreter/parse.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/casefold.h"
#include "runtime/cells.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/stack.h"
#include "runtime/interpreter/trace.h"
#include "runtime/unicode.h"

uint32_t (*parse::scan_one_hook)(const uint8_t*, uint32_t, uint32_t*) = nullptr;

namespace {

enum keyword : uint32_t {
    K_NONE_KW = 0, K_ANY, K_BREAK, K_COPY, K_END, K_FAIL, K_INTO, K_OPT, K_NOT, K_QUOTE, K_CASE, K_REJECT, K_SET,
    K_SKIP, K_SOME, K_THRU, K_TO, K_NONE, K_PIPE, K_DASH, K_IF, K_REMOVE, K_WHILE, K_INSERT, K_ONLY, K_COLLECT,
    K_KEEP, K_PICK, K_AHEAD, K_AFTER, K_CHANGE, K_COUNT
};
const char* const keyword_names[K_COUNT] = {
    "", "any", "break", "copy", "end", "fail", "into", "opt", "not", "quote", "case", "reject", "set", "skip",
    "some", "thru", "to", "none", "|", "-", "if", "remove", "while", "insert", "only", "collect", "keep", "pick",
    "ahead", "after", "change",
};

// Rule-stack cells: a parse may use at most this many (two per entered block).
constexpr uint32_t STACK_LIMIT = 10000;
// Machine stack kept free below the deepest rule level, so that the error is parse-stack and not
// an overflow that ends the process.
constexpr uintptr_t MACHINE_MARGIN = 256 * 1024;

struct parse_state {
    uint32_t keywords[K_COUNT];   // canonical symbols
    cell* rule_stack;             // a root block cell
};
parse_state parse_s;

enum parse_event : uint32_t { EV_PUSH, EV_POP, EV_FETCH, EV_MATCH, EV_ITERATE, EV_PAREN, EV_END };
constexpr rt_word event_words[] = {W_PUSH, W_POP, W_FETCH, W_MATCH, W_ITERATE, W_PAREN, W_END};

// The state of one parse call. input is an argument-stack cell (it never moves): the series being
// matched, its data1 the current position. collect is an argument-stack cell too (none when no
// collect is in force).
struct run {
    cell* input;
    int32_t end;          // absolute end index, -1 for the tail
    int32_t mode;         // COMP_EQUAL or COMP_STRICT_EQUAL
    cell* callback;       // null when not traced
    cell* collect;        // the block keep adds to
    int32_t collect_at;   // insertion index into the collect target, -1 to append
    cell* result_block;   // the block of an outermost collect (none until one ran)
    uint32_t stack_base;  // rule-stack length when this parse began
    uint32_t brk;         // 1 break, 2 reject: ends the enclosing repetition
    bool halt;            // a non-local exit or the callback ended the parse
    bool last_match;
};

// ---- access to the input ------------------------------------------------------------------------

inline int32_t pos(const run& r) { return int32_t(r.input->data1); }
inline void set_pos(run& r, int32_t p) { r.input->data1 = uint32_t(p); }
inline int32_t tail_of(const cell* s) { return int32_t(series::units(s)); }
inline int32_t limit(const run& r)
{
    int32_t t = tail_of(r.input);
    return r.end >= 0 && r.end < t ? r.end : t;
}
inline bool at_end(const run& r) { return pos(r) >= limit(r); }
inline bool block_input(const run& r) { return any_block_q(cell_type(r.input)); }
inline bool binary_input(const run& r) { return cell_type(r.input) == TYPE_BINARY; }

// The input value at index i (block input); a copy.
cell value_at(const cell* s, int32_t i)
{
    series_buffer* b = series_of(series_node(s));
    return at<cell>(b->head)[i];
}
// The byte at index i (binary input).
uint8_t byte_at(const cell* s, int32_t i) { return at<uint8_t>(series_of(series_node(s))->head)[i]; }
// The code point at index i (string input).
uint32_t char_at(const cell* s, int32_t i)
{
    series_buffer* b = series_of(series_node(s));
    uint32_t unit = text_unit(b);
    return unit_read(at<uint8_t>(b->head + uint32_t(i) * unit), unit);
}

// ---- access to the rules ------------------------------------------------------------------------

inline uint32_t rules_tail(node_ref rules)
{
    series_buffer* b = series_of(rules);
    return (b->tail - b->head) >> 4;
}
inline cell rule_at(node_ref rules, uint32_t i) { return at<cell>(series_of(rules)->head)[i]; }

keyword keyword_of(const cell& v)
{
    if (cell_type(&v) != TYPE_WORD) return K_NONE_KW;
    uint32_t s = symbol::resolve(word_symbol(&v));
    for (uint32_t k = 1; k < K_COUNT; k++)
        if (parse_s.keywords[k] == s) return keyword(k);
    return K_NONE_KW;
}

// The rule block cell at index i as a value (for errors and the callback).
cell rules_value(node_ref rules, uint32_t i) { return cell{TYPE_BLOCK, i, rules, 0}; }

[[noreturn]] void fire_end(node_ref rules, uint32_t i)
{
    cell after = rules_value(rules, i ? i - 1 : 0);
    fire(ERR_SCRIPT, err::PARSE_END, &after);
}

// The value of a word used as a rule: unset raises no-value.
cell word_value(const cell& w)
{
    cell v = *word::get(&w);
    if (cell_type(&v) == TYPE_UNSET) fire(ERR_SCRIPT, err::NO_VALUE, &w);
    return v;
}

// ---- the rule stack -----------------------------------------------------------------------------

inline uint32_t stack_length() { return block::rs_length(parse_s.rule_stack); }

// Cuts the rule stack back on every way out of a parse or of one rule level.
struct stack_mark {
    uint32_t length = stack_length();
    ~stack_mark() { block::ks_clear_at(parse_s.rule_stack, length); }
};

// ---- the /trace callback ------------------------------------------------------------------------

void fire_event(run& r, parse_event event, bool match, node_ref rules, uint32_t i)
{
    if (!r.callback || r.halt) return;
    stack::scope held;
    cell input = *r.input;
    cell args[5] = {*rt_word_cell(event_words[event]), cell{TYPE_LOGIC, match ? 1u : 0u, 0, 0},
                    rules ? rules_value(rules, i) : none_value, input, *parse_s.rule_stack};
    for (cell& a : args) held.push(a);
    cell answer = interpreter::call_value(r.callback, rt_word_cell(W_PARSE_CALLBACK_TAG), held.mark, 5);
    // A callback that answers false ends the parse, which then fails.
    if (cell_type(&answer) == TYPE_LOGIC && answer.data1 == 0) {
        r.halt = true;
        r.last_match = false;
    }
}

// ---- evaluating parens --------------------------------------------------------------------------

// Evaluates a paren; the value is returned, or unset with r.halt set when an exit left it.
cell eval_paren(run& r, const cell& paren)
{
    stack::scope held;
    cell code = paren;
    cell_set_type(&code, TYPE_PAREN);
    interpreter::eval(&code, false);
    if (exit_code()) {
        r.halt = true;
        held.mark = stack::top();   // leave the stacks as the exit left them
        return cell{TYPE_UNSET, 0, 0, 0};
    }
    return *(stack::top() - 1);
}

// ---- literal matching ---------------------------------------------------------------------------

inline uint32_t fold(uint32_t cp, const run& r) { return r.mode == COMP_STRICT_EQUAL ? cp : char_change_case(cp, 0); }

// The number of input units a text rule matches at p, or -1. The tag! rule brings its brackets.
int32_t match_text(const run& r, const cell& text, int32_t p)
{
    series_buffer* b = series_of(series_node(&text));
    uint32_t unit = text_unit(b);
    int32_t from = int32_t(series::head_clamped(&text));
    int32_t n = int32_t(series::length_clamped(&text));
    bool tag = cell_type(&text) == TYPE_TAG;
    int32_t total = n + (tag ? 2 : 0);
    if (p + total > limit(r)) return -1;
    int32_t q = p;
    if (tag && char_at(r.input, q++) != '<') return -1;
    for (int32_t k = 0; k < n; k++) {
        b = series_of(series_node(&text));
        uint32_t want = unit_read(at<uint8_t>(b->head + uint32_t(from + k) * unit), unit);
        if (fold(char_at(r.input, q++), r) != fold(want, r)) return -1;
    }
    if (tag && char_at(r.input, q) != '>') return -1;
    return total;
}

// Bytes matched by one literal rule value at p of binary input, or -1: a char! or bitset! tests
// one byte, a text its UTF-8 bytes, a binary its bytes (exactly, whatever the case mode).
int32_t match_bytes(const run& r, const cell& rule, int32_t p)
{
    uint32_t rt = cell_type(&rule);
    int32_t end = limit(r);
    if (rt == TYPE_CHAR) return p < end && byte_at(r.input, p) == char_of(&rule) ? 1 : -1;
    if (rt == TYPE_BITSET) return p < end && bitset::member_q(&rule, byte_at(r.input, p)) ? 1 : -1;
    if (rt != TYPE_BINARY && !any_string_q(rt)) {
        cell bad = rule;
        fire(ERR_SCRIPT, err::PARSE_RULE, &bad);
    }
    std::vector<uint8_t> want;
    binary::bytes_of(&rule, -1, want);   // the input's address is taken only after this
    int32_t n = int32_t(want.size());
    if (n > end - p) return -1;
    return n == 0 || std::memcmp(&at<uint8_t>(series_of(series_node(r.input))->head)[p], want.data(), size_t(n)) == 0
               ? n : -1;
}

// Units matched by one literal rule value at the current position, or -1.
int32_t match_literal(run& r, const cell& rule)
{
    int32_t p = pos(r);
    uint32_t rt = cell_type(&rule);
    if (binary_input(r)) return match_bytes(r, rule, p);
    if (block_input(r)) {
        if (p >= limit(r)) return -1;
        cell in = value_at(r.input, p);
        cell want = rule;
        int32_t code = r.mode;
        if (rt == TYPE_LIT_WORD || rt == TYPE_LIT_PATH)
            code = r.mode == COMP_STRICT_EQUAL ? COMP_STRICT_EQUAL_WORD : COMP_EQUAL_WORD;
        return actions::compare(&in, &want, code) ? 1 : -1;
    }
    if (rt == TYPE_CHAR) {
        if (p >= limit(r)) return -1;
        return fold(char_at(r.input, p), r) == fold(char_of(&rule), r) ? 1 : -1;
    }
    if (any_string_q(rt)) return match_text(r, rule, p);
    if (rt == TYPE_BITSET) return p < limit(r) && bitset::member_q(&rule, char_at(r.input, p)) ? 1 : -1;
    cell bad = rule;
    fire(ERR_SCRIPT, err::PARSE_RULE, &bad);
}

inline bool type_fits(const cell& rule, uint32_t t)
{
    return cell_type(&rule) == TYPE_DATATYPE ? rule.data1 == t : typeset_has(&rule, t);
}

// A datatype! or typeset! rule: one input value of that type. Binary input is scanned as source
// text, the value starting at the position taking the bytes its token spans.
int32_t match_type(run& r, const cell& rule)
{
    int32_t p = pos(r);
    if (binary_input(r) && parse::scan_one_hook) {
        if (p >= limit(r)) return -1;
        uint32_t consumed = 0;
        const uint8_t* bytes = &at<uint8_t>(series_of(series_node(r.input))->head)[p];
        uint32_t t = parse::scan_one_hook(bytes, uint32_t(limit(r) - p), &consumed);
        return t && consumed && type_fits(rule, t) ? int32_t(consumed) : -1;
    }
    if (!block_input(r)) fire(ERR_SCRIPT, err::PARSE_UNSUPPORTED);
    if (p >= limit(r)) return -1;
    cell in = value_at(r.input, p);
    return type_fits(rule, cell_type(&in)) ? 1 : -1;
}

// ---- the engine ---------------------------------------------------------------------------------

bool match_block(run& r, node_ref rules, uint32_t from);
bool match_rule(run& r, node_ref rules, uint32_t& i);

void guard_depth()
{
    if (stack_length() + 2 > STACK_LIMIT || machine_stack_room() < MACHINE_MARGIN) fire(ERR_SCRIPT, err::PARSE_STACK);
}

// The index after the rule that starts at i, without matching it (for a rule repeated 0 times).
uint32_t rule_end(node_ref rules, uint32_t i)
{
    guard_depth();
    if (i >= rules_tail(rules)) fire_end(rules, i);
    cell v = rule_at(rules, i);
    switch (keyword_of(v)) {
    case K_ANY: case K_SOME: case K_OPT: case K_WHILE: case K_NOT: case K_AHEAD: case K_TO: case K_THRU:
    case K_INTO: case K_REMOVE:
        return rule_end(rules, i + 1);
    case K_COPY: case K_SET: case K_CASE: return rule_end(rules, i + 2);
    case K_QUOTE: case K_IF: return i + 2;
    case K_COLLECT: {
        keyword k = i + 1 < rules_tail(rules) ? keyword_of(rule_at(rules, i + 1)) : K_NONE_KW;
        return rule_end(rules, k == K_SET || k == K_INTO || k == K_AFTER ? i + 3 : i + 1);
    }
    case K_KEEP: {
        bool pick = i + 1 < rules_tail(rules) && keyword_of(rule_at(rules, i + 1)) == K_PICK;
        return rule_end(rules, pick ? i + 2 : i + 1);
    }
    case K_INSERT: {
        bool only = i + 1 < rules_tail(rules) && keyword_of(rule_at(rules, i + 1)) == K_ONLY;
        return i + (only ? 3 : 2);
    }
    case K_CHANGE: {
        bool only = i + 1 < rules_tail(rules) && keyword_of(rule_at(rules, i + 1)) == K_ONLY;
        return rule_end(rules, only ? i + 2 : i + 1) + 1;
    }
    default: break;
    }
    if (cell_type(&v) == TYPE_INTEGER) {
        uint32_t j = i + 1;
        if (j < rules_tail(rules)) {
            cell w = rule_at(rules, j);
            if (cell_type(&w) == TYPE_INTEGER) j++;
        }
        return rule_end(rules, j);
    }
    return i + 1;
}

// The operand of a keyword at i: fails with parse-end when the block ends there.
void need_operand(node_ref rules, uint32_t i)
{
    if (i >= rules_tail(rules)) fire_end(rules, i);
}

// A rule at i that is a char!, bitset! or text on string or binary input (directly or through a
// word), with no callback watching: its repetitions and searches run in the tight loops below
// instead of going through match_rule for every round.
bool tight_literal(const run& r, node_ref rules, uint32_t i, cell* literal)
{
    if (r.callback || block_input(r)) return false;
    cell v = rule_at(rules, i);
    if (cell_type(&v) == TYPE_WORD) {
        if (keyword_of(v)) return false;
        v = *word::get(&v);
    }
    uint32_t t = cell_type(&v);
    if (t != TYPE_CHAR && t != TYPE_BITSET && t != TYPE_BINARY && !any_string_q(t)) return false;
    if (t == TYPE_BINARY && !binary_input(r)) return false;   // left to match_literal's refusal
    *literal = v;
    return true;
}

// How many times in a row the literal matches from the position, at most max (-1: no bound); the
// position moves past them. A literal that matches nothing counts once and stops.
int32_t tight_repeat(run& r, const cell& literal, int32_t max)
{
    int32_t count = 0;
    int32_t end = limit(r);
    int32_t p = pos(r);
    uint32_t t = cell_type(&literal);
    if (t == TYPE_CHAR || t == TYPE_BITSET) {
        bool bytes = binary_input(r);
        bool folded = t == TYPE_CHAR && !bytes && r.mode != COMP_STRICT_EQUAL;
        uint32_t want = t == TYPE_CHAR ? (folded ? fold(char_of(&literal), r) : char_of(&literal)) : 0;
        while (p < end && (max < 0 || count < max)) {
            uint32_t c = bytes ? byte_at(r.input, p) : char_at(r.input, p);
            bool ok = t == TYPE_BITSET ? bitset::member_q(&literal, c) : (folded ? fold(c, r) : c) == want;
            if (!ok) break;
            p++;
            count++;
        }
        set_pos(r, p);
        return count;
    }
    while (max < 0 || count < max) {
        int32_t n = match_literal(r, literal);
        if (n < 0) break;
        count++;
        if (n == 0) break;
        set_pos(r, pos(r) + n);
    }
    return count;
}

// Repeats the rule at i between min and max times (max -1: no bound); i moves past the rule.
bool repeat(run& r, node_ref rules, uint32_t& i, int32_t min, int32_t max, bool while_)
{
    need_operand(rules, i);
    if (max == 0) {
        i = rule_end(rules, i);
        return true;
    }
    cell literal;
    if (tight_literal(r, rules, i, &literal)) {
        i++;
        return tight_repeat(r, literal, max) >= min;
    }
    uint32_t start = i, after = i;
    int32_t count = 0;
    for (;;) {
        if (max >= 0 && count >= max) break;
        int32_t p = pos(r);
        int32_t length = tail_of(r.input);
        uint32_t j = start;
        bool ok = match_rule(r, rules, j);
        after = j;
        if (r.halt) return false;
        if (r.brk) {
            bool broke = r.brk == 1;
            r.brk = 0;
            i = after;
            return broke;
        }
        if (!ok) {
            set_pos(r, p);
            break;
        }
        count++;
        fire_event(r, EV_ITERATE, true, rules, start);
        if (!while_ && pos(r) == p && tail_of(r.input) == length) break;
    }
    i = after;
    return count >= min;
}

// A count from a rule value: an integer!, or a word that holds one.
bool count_of(const cell& v, int32_t* n)
{
    cell c = v;
    if (cell_type(&c) == TYPE_WORD && !keyword_of(c)) c = *word::get(&c);
    if (cell_type(&c) != TYPE_INTEGER) return false;
    *n = integer_of(&c);
    return true;
}

// to and thru: the rule at i is searched forward from the current position.
bool search(run& r, node_ref rules, uint32_t& i, bool thru)
{
    need_operand(rules, i);
    cell v = rule_at(rules, i);
    if (keyword_of(v) == K_END) {
        i++;
        set_pos(r, limit(r));
        return true;
    }
    int32_t start = pos(r);
    cell literal;
    if (tight_literal(r, rules, i, &literal)) {
        i++;
        for (int32_t p = start; p <= limit(r); p++) {
            set_pos(r, p);
            int32_t n = match_literal(r, literal);
            if (n >= 0) {
                set_pos(r, thru ? p + n : p);
                return true;
            }
        }
        set_pos(r, start);
        return false;
    }
    uint32_t after = i;
    for (int32_t p = start; p <= limit(r); p++) {
        set_pos(r, p);
        uint32_t j = i;
        bool ok = match_rule(r, rules, j);
        after = j;
        if (r.halt) return false;
        if (ok) {
            if (!thru) set_pos(r, p);
            i = after;
            return true;
        }
    }
    set_pos(r, start);
    i = after;
    return false;
}

// The matched part [from, to) of the input as a new series of its kind, pushed.
cell* copy_part(const run& r, int32_t from, int32_t to)
{
    cell* source = stack::push(r.input);
    source->data1 = uint32_t(from);
    cell* count = stack::push(&none_value);
    integer::make_at(count, to - from);
    cell* out = stack::push_slot();
    actions_of(cell_type(source)).copy(source, out, count, false, nullptr);
    *source = *out;
    stack_s.top = source + 1;
    return source;
}

// The first value of the matched part (set): a char! of a string, the value of a block.
cell first_of(const run& r, int32_t from, int32_t to)
{
    if (to <= from) return none_value;
    if (block_input(r)) return value_at(r.input, from);
    if (binary_input(r)) return cell{TYPE_INTEGER, 0, byte_at(r.input, from), 0};
    return cell{TYPE_CHAR, 0, char_at(r.input, from), 0};
}

void set_word_to(const cell& w, const cell& value)
{
    cell target = w;
    cell_set_type(&target, TYPE_WORD);
    cell* held = stack::push(&value);
    word::set(&target, held);
    stack::pop(1);
}

// Adds a kept value to the collect target.
void collect_add(run& r, const cell& value)
{
    cell* held = stack::push(&value);
    if (r.collect_at < 0) {
        block::rs_append(r.collect, held);
    } else {
        cell at_pos = *r.collect;
        at_pos.data1 = uint32_t(r.collect_at);
        block::insert_value(&at_pos, held, true, false);
        r.collect_at++;
    }
    stack::pop(1);
}

// keep: the matched part as one value (a single value as itself), or with pick value by value.
void keep_part(run& r, int32_t from, int32_t to, bool pick)
{
    if (pick || to - from == 1) {
        for (int32_t k = from; k < to; k++) collect_add(r, first_of(r, k, k + 1));
        return;
    }
    cell* part = copy_part(r, from, to);
    collect_add(r, *part);
    stack::pop(1);
}

// Inserts value at the input position (a block's items one by one unless only); returns the
// number of units inserted.
int32_t insert_into_input(run& r, const cell& value, bool only)
{
    cell* v = stack::push(&value);
    int32_t p = pos(r);
    int32_t n = 0;
    if (block_input(r)) {
        cell target = *r.input;
        if (cell_type(v) == TYPE_BLOCK && !only) {
            uint32_t count = block::rs_length(v);
            for (uint32_t k = 0; k < count; k++) {
                cell item = block::rs_head(v)[k];
                block::insert_value(&target, &item, true, false);
            }
            n = int32_t(count);
        } else {
            block::insert_value(&target, v, true, false);
            n = 1;
        }
    } else if (binary_input(r)) {
        std::vector<uint8_t> bytes;
        binary::bytes_of(v, -1, bytes);
        cell target = *r.input;
        target.data1 = 0;
        binary::insert_bytes(&target, uint32_t(p), bytes.data(), uint32_t(bytes.size()));
        n = int32_t(bytes.size());
    } else if (cell_type(v) == TYPE_CHAR) {
        string::insert_char_at(series_node(r.input), uint32_t(p), char_of(v));
        n = 1;
    } else {
        if (!any_string_q(cell_type(v))) {
            cell* text = actions::form_value(v, actions::NO_LIMIT);
            *v = *text;
            stack_s.top = v + 1;
        }
        n = int32_t(series::length_clamped(v));
        cell target = *r.input;
        target.data1 = 0;
        string::concatenate(&target, v, -1, uint32_t(p), true, string::CONCAT_INSERT);
    }
    stack::pop(1);
    return n;
}

void remove_from_input(run& r, int32_t from, int32_t to)
{
    cell* s = stack::push(r.input);
    s->data1 = uint32_t(from);
    cell* count = stack::push(&none_value);
    integer::make_at(count, to - from);
    series::remove(s, count, nullptr);
    stack::pop(2);
}

// The value a command inserts: a paren is evaluated, a path refused.
cell command_value(run& r, node_ref rules, uint32_t i)
{
    need_operand(rules, i);
    cell v = rule_at(rules, i);
    uint32_t t = cell_type(&v);
    if (any_path_q(t)) fire(ERR_SCRIPT, err::PARSE_RULE, &v);
    if (t == TYPE_PAREN) return eval_paren(r, v);
    if (t == TYPE_WORD) return word_value(v);
    return v;
}

bool match_collect(run& r, node_ref rules, uint32_t& i)
{
    need_operand(rules, i);
    keyword how = keyword_of(rule_at(rules, i));
    cell target_word = none_value;
    if (how == K_SET || how == K_INTO || how == K_AFTER) {
        need_operand(rules, i + 1);
        target_word = rule_at(rules, i + 1);
        if (!any_word_q(cell_type(&target_word))) fire(ERR_SCRIPT, err::PARSE_RULE, &target_word);
        i += 2;
    } else {
        how = K_NONE_KW;
    }
    cell* saved = r.collect;
    int32_t saved_at = r.collect_at;
    cell* target = stack::push_slot();
    if (how == K_INTO || how == K_AFTER) {
        cell v = word_value(target_word);
        if (!series_kind_q(cell_type(&v))) fire(ERR_SCRIPT, err::PARSE_INTO_BAD);
        if (!any_block_q(cell_type(&v))) fire(ERR_SCRIPT, err::PARSE_INTO_TYPE);
        *target = v;
        r.collect_at = how == K_INTO ? int32_t(series::head_clamped(&v)) : -1;
    } else {
        block::make_at(target, 8);
        r.collect_at = -1;
    }
    r.collect = target;
    bool ok = match_rule(r, rules, i);
    r.collect = saved;
    r.collect_at = saved_at;
    if (r.halt) return false;
    if (how == K_SET) {
        set_word_to(target_word, *target);
    } else if (how == K_NONE_KW) {
        if (saved) collect_add(r, *target);
        else *r.result_block = *target;
    }
    return ok;
}

bool match_keep(run& r, node_ref rules, uint32_t& i)
{
    if (!r.collect) fire(ERR_SCRIPT, err::PARSE_KEEP);
    need_operand(rules, i);
    bool pick = keyword_of(rule_at(rules, i)) == K_PICK;
    if (pick) i++;
    need_operand(rules, i);
    cell v = rule_at(rules, i);
    if (cell_type(&v) == TYPE_PAREN) {
        i++;
        cell value = eval_paren(r, v);
        if (r.halt) return false;
        if (pick && cell_type(&value) == TYPE_BLOCK) {
            cell* held = stack::push(&value);
            for (uint32_t k = 0; k < block::rs_length(held); k++) collect_add(r, block::rs_head(held)[k]);
            stack::pop(1);
        } else {
            collect_add(r, value);
        }
        return true;
    }
    int32_t from = pos(r);
    bool ok = match_rule(r, rules, i);
    if (ok && !r.halt) keep_part(r, from, pos(r), pick);
    return ok;
}

// One keyword rule; i is just after the keyword and moves past its operands.
bool match_keyword(run& r, keyword k, node_ref rules, uint32_t& i)
{
    switch (k) {
    case K_SKIP:
        if (at_end(r)) return false;
        set_pos(r, pos(r) + 1);
        return true;
    case K_ANY: return repeat(r, rules, i, 0, -1, false);
    case K_SOME: return repeat(r, rules, i, 1, -1, false);
    case K_OPT: return repeat(r, rules, i, 0, 1, false);
    case K_WHILE: return repeat(r, rules, i, 0, -1, true);
    case K_TO: return search(r, rules, i, false);
    case K_THRU: return search(r, rules, i, true);
    case K_BREAK: r.brk = 1; return true;
    case K_REJECT: r.brk = 2; return false;
    case K_FAIL: return false;
    case K_NONE: return true;
    case K_END: return at_end(r);
    case K_NOT: case K_AHEAD: {
        need_operand(rules, i);
        int32_t p = pos(r);
        bool ok = match_rule(r, rules, i);
        set_pos(r, p);
        return k == K_NOT ? !ok : ok;
    }
    case K_QUOTE: {
        need_operand(rules, i);
        cell v = rule_at(rules, i++);
        int32_t n = match_literal(r, v);
        if (n < 0) return false;
        set_pos(r, pos(r) + n);
        return true;
    }
    case K_CASE: {
        need_operand(rules, i);
        cell w = rule_at(rules, i++);
        cell v = cell_type(&w) == TYPE_WORD ? word_value(w) : w;
        int32_t saved = r.mode;
        r.mode = cell_falsy(&v) ? COMP_EQUAL : COMP_STRICT_EQUAL;
        need_operand(rules, i);
        bool ok = match_rule(r, rules, i);
        r.mode = saved;
        return ok;
    }
    case K_COPY: case K_SET: {
        need_operand(rules, i + 1);
        cell w = rule_at(rules, i);
        if (!any_word_q(cell_type(&w))) fire(ERR_SCRIPT, err::PARSE_RULE, &w);
        i++;
        int32_t from = pos(r);
        bool ok = match_rule(r, rules, i);
        if (!ok || r.halt) return ok;
        if (k == K_COPY) {
            cell* part = copy_part(r, from, pos(r));
            set_word_to(w, *part);
            stack::pop(1);
        } else {
            set_word_to(w, first_of(r, from, pos(r)));
        }
        return true;
    }
    case K_INTO: {
        need_operand(rules, i);
        cell sub = rule_at(rules, i++);
        if (cell_type(&sub) == TYPE_WORD) sub = word_value(sub);
        if (cell_type(&sub) != TYPE_BLOCK) fire(ERR_SCRIPT, err::PARSE_RULE, &sub);
        if (!block_input(r)) {
            cell in = *r.input;
            fire(ERR_SCRIPT, err::PARSE_BLOCK, &in);
        }
        if (at_end(r)) return false;
        cell inner = value_at(r.input, pos(r));
        if (!any_block_q(cell_type(&inner)) && !any_string_q(cell_type(&inner))) return false;
        cell* held = stack::push(r.input);   // the outer input, kept while the inner one is matched
        cell* saved_input = r.input;
        int32_t saved_end = r.end;
        cell* in = stack::push(&inner);
        in->data1 = series::head_clamped(&inner);
        r.input = in;
        r.end = -1;
        stack::push(&sub);
        bool ok = match_block(r, sub.data2, series::head_clamped(&sub)) && at_end(r);
        r.input = saved_input;
        r.end = saved_end;
        stack_s.top = held;
        if (ok) set_pos(r, pos(r) + 1);
        return ok && !r.halt;
    }
    case K_IF: {
        need_operand(rules, i);
        cell v = rule_at(rules, i++);
        if (cell_type(&v) != TYPE_PAREN) fire(ERR_SCRIPT, err::PARSE_RULE, &v);
        cell value = eval_paren(r, v);
        return !r.halt && !cell_falsy(&value);
    }
    case K_COLLECT: return match_collect(r, rules, i);
    case K_KEEP: return match_keep(r, rules, i);
    case K_REMOVE: {
        need_operand(rules, i);
        int32_t from = pos(r);
        bool ok = match_rule(r, rules, i);
        if (!ok || r.halt) return ok;
        int32_t to = pos(r);
        set_pos(r, from);
        remove_from_input(r, from, to);
        return true;
    }
    case K_INSERT: {
        need_operand(rules, i);
        bool only = keyword_of(rule_at(rules, i)) == K_ONLY;
        if (only) i++;
        cell v = command_value(r, rules, i++);
        if (r.halt) return false;
        int32_t n = insert_into_input(r, v, only);
        set_pos(r, pos(r) + n);
        return true;
    }
    case K_CHANGE: {
        need_operand(rules, i);
        bool only = keyword_of(rule_at(rules, i)) == K_ONLY;
        if (only) i++;
        need_operand(rules, i);
        int32_t from = pos(r);
        bool ok = match_rule(r, rules, i);
        if (r.halt) return false;
        need_operand(rules, i);
        if (!ok) {
            i++;
            return false;
        }
        cell v = command_value(r, rules, i++);
        if (r.halt) return false;
        int32_t to = pos(r);
        remove_from_input(r, from, to);
        set_pos(r, from);
        int32_t n = insert_into_input(r, v, only);
        set_pos(r, from + n);
        return true;
    }
    case K_PIPE: case K_DASH: case K_ONLY: case K_PICK: case K_AFTER: default: {
        cell bad = rule_at(rules, i - 1);
        fire(ERR_SCRIPT, err::PARSE_RULE, &bad);
    }
    }
}

// One rule value v (taken from index i - 1; i is past it and moves past any operands).
bool match_value(run& r, const cell& v, node_ref rules, uint32_t& i)
{
    uint32_t t = cell_type(&v);
    switch (t) {
    case TYPE_BLOCK: {
        cell* held = stack::push(&v);   // keeps a rule block reached through a word alive
        bool ok = match_block(r, v.data2, series::head_clamped(held));
        stack::pop(1);
        return ok;
    }
    case TYPE_PAREN: {
        eval_paren(r, v);
        if (r.halt) return false;
        fire_event(r, EV_PAREN, true, rules, i - 1);
        return !r.halt;
    }
    case TYPE_DATATYPE: case TYPE_TYPESET: {
        int32_t n = match_type(r, v);
        fire_event(r, EV_MATCH, n >= 0, rules, i - 1);
        if (n < 0) return false;
        set_pos(r, pos(r) + n);
        return true;
    }
    case TYPE_SET_WORD: {
        cell here = *r.input;
        set_word_to(v, here);
        return true;
    }
    case TYPE_GET_WORD: {
        cell w = v;
        cell target = word_value(w);
        if (cell_type(&target) != cell_type(r.input) || target.data2 != r.input->data2)
            fire(ERR_SCRIPT, err::PARSE_INVALID_REF, &w);
        set_pos(r, int32_t(series::head_clamped(&target)));
        return true;
    }
    case TYPE_INTEGER: {
        int32_t min = integer_of(&v), max = min;
        if (i < rules_tail(rules) && count_of(rule_at(rules, i), &max)) i++;
        if (min < 0 || max < min) {
            cell bad = min < 0 ? v : cell{TYPE_INTEGER, 0, uint32_t(max), 0};
            fire(ERR_SCRIPT, err::OUT_OF_RANGE, &bad);
        }
        return repeat(r, rules, i, min, max, false);
    }
    case TYPE_WORD: {
        keyword k = keyword_of(v);
        if (k) return match_keyword(r, k, rules, i);
        cell value = word_value(v);
        uint32_t vt = cell_type(&value);
        if (vt == TYPE_WORD || vt == TYPE_PAREN || vt == TYPE_SET_WORD || vt == TYPE_GET_WORD) {
            int32_t n = match_literal(r, value);
            fire_event(r, EV_MATCH, n >= 0, rules, i - 1);
            if (n < 0) return false;
            set_pos(r, pos(r) + n);
            return true;
        }
        return match_value(r, value, rules, i);
    }
    case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION:
    case TYPE_OP: {
        cell bad = v;
        fire(ERR_SCRIPT, err::PARSE_RULE, &bad);
    }
    default: {
        int32_t n = match_literal(r, v);
        fire_event(r, EV_MATCH, n >= 0, rules, i - 1);
        if (n < 0) return false;
        set_pos(r, pos(r) + n);
        return true;
    }
    }
}

// The rule at i with its keyword prefixes; i moves past it whether it matched or not.
bool match_rule(run& r, node_ref rules, uint32_t& i)
{
    need_operand(rules, i);
    cell v = rule_at(rules, i++);
    fire_event(r, EV_FETCH, r.last_match, rules, i - 1);
    if (r.halt) return false;
    bool ok = match_value(r, v, rules, i);
    r.last_match = ok;
    return ok;
}

// The index of the next | from i, or the tail.
uint32_t next_alternative(node_ref rules, uint32_t i)
{
    uint32_t tail = rules_tail(rules);
    for (; i < tail; i++)
        if (keyword_of(rule_at(rules, i)) == K_PIPE) return i;
    return tail;
}

bool match_block(run& r, node_ref rules, uint32_t from)
{
    guard_depth();
    stack_mark mark;
    int32_t start = pos(r);
    // Left recursion: this block entered again at the same place with the input where it was.
    {
        series_buffer* s = series_of(series_node(parse_s.rule_stack));
        const cell* entries = at<cell>(s->head);
        uint32_t n = (s->tail - s->head) >> 4;
        for (uint32_t k = r.stack_base; k + 1 < n; k += 2) {
            if (entries[k].data2 == rules && entries[k].data1 == from && entries[k].data3 == series_node(r.input) &&
                int32_t(entries[k + 1].data2) == start) {
                cell bad = rules_value(rules, from);
                fire(ERR_SCRIPT, err::PARSE_INFINITE, &bad);
            }
        }
    }
    cell entry = rules_value(rules, from);
    entry.data3 = series_node(r.input);   // the same rule at the same index of another input is no loop
    block::rs_append(parse_s.rule_stack, &entry);
    cell position{TYPE_TRIPLE, from, uint32_t(start), uint32_t(tail_of(r.input))};
    block::rs_append(parse_s.rule_stack, &position);
    fire_event(r, EV_PUSH, true, rules, from);

    bool ok = true;
    uint32_t i = from;
    while (!r.halt) {
        if (i >= rules_tail(rules)) break;
        if (keyword_of(rule_at(rules, i)) == K_PIPE) break;   // this alternative matched
        ok = match_rule(r, rules, i);
        if (r.halt || r.brk) break;
        if (!ok) {
            set_pos(r, start);
            uint32_t bar = next_alternative(rules, i);
            if (bar >= rules_tail(rules)) break;
            i = bar + 1;
            ok = true;
        }
    }
    if (r.halt) ok = false;
    if (!ok) set_pos(r, start);
    fire_event(r, EV_POP, ok, rules, from);
    return ok;
}

}  // namespace

void parse::init()
{
    for (uint32_t k = 1; k < K_COUNT; k++) parse_s.keywords[k] = symbol::resolve(word_symbol(word::load(keyword_names[k])));
    parse_s.rule_stack = block::make_in(nullptr, 8);   // a root cell: it never moves
}

void parse::process(cell* result, const cell* input, const cell* rules, bool case_, int32_t end, const cell* callback)
{
    stack::scope held;
    stack_mark mark;
    run r{};
    r.input = held.push(*input);
    r.input->data1 = series::head_clamped(input);
    r.end = end;
    r.mode = case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
    r.callback = callback ? held.push(*callback) : nullptr;
    r.collect = nullptr;
    r.collect_at = -1;
    r.result_block = held.push(none_value);
    r.stack_base = stack_length();
    r.last_match = true;
    cell* rule_block = held.push(*rules);

    bool ok = match_block(r, rule_block->data2, series::head_clamped(rule_block));
    if (exit_code()) {
        held.mark = stack::top();   // the exit's stacks stay as they are
        return;
    }
    bool matched = ok && !r.halt && at_end(r);
    r.halt = false;
    r.last_match = matched;
    fire_event(r, EV_END, matched, 0, 0);
    if (exit_code()) {
        held.mark = stack::top();
        return;
    }
    if (r.halt) matched = false;
    if (cell_type(r.result_block) == TYPE_BLOCK) *result = *r.result_block;
    else *result = cell{TYPE_LOGIC, matched ? 1u : 0u, 0, 0};
}

// ---- the parse native ---------------------------------------------------------------------------

void natives::parse_star(bool, const int32_t* refs)
{
    cell* base = stack::arguments();
    cell* input = base;
    int32_t end = -1;
    if (refs[1] >= 0) {
        cell* length = base + refs[1];
        uint32_t lt = cell_type(length);
        int32_t head = int32_t(series::head_clamped(input));
        int64_t e;
        if (lt == TYPE_INTEGER) {
            e = int64_t(head) + integer_of(length);
        } else if (lt == TYPE_FLOAT || lt == TYPE_PERCENT) {
            double d = cell_float(length);
            if (!(d > -2147483648.0 && d < 2147483648.0)) fire(ERR_SCRIPT, err::INVALID_ARG, length);
            e = int64_t(head) + int64_t(d);
        } else {
            if (lt != cell_type(input) || length->data2 != input->data2) {
                cell word = *rt_refinement_word(REF_PART);
                fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, &word, length);
            }
            e = series::head_clamped(length);
        }
        if (e < 1) {
            logic::make_at(base, series::length_clamped(input) == 0);
            return;
        }
        end = int32_t(std::min<int64_t>(e, INT32_MAX));
    }
    cell* callback = refs[2] >= 0 ? base + refs[2] : nullptr;
    parse::process(base, input, base + 1, refs[0] >= 0, end, callback);
}
