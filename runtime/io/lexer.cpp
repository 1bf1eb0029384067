// The lexer's engine: the automaton over class and transition tables, the scan loop, containers
// (blocks, parens, maps, paths) built on the shared output stack, events for callbacks, syntax
// errors, and the entries (scan of bytes or of a string, one value, a name's type).
// Must not break: no cell address from the output stack is kept across an append or an event,
// and the input of a scan is a buffer that no allocation moves.
#include "runtime/io/lexer.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/io/lexer_state.h"
#include "runtime/memory.h"
#include "runtime/rterror.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/unicode.h"

namespace lexer {
#include "runtime/io/lexer_tables.inc"

output_stack out_s;
bool (*callback_call_hook)(const cell* callback, cell* args);
const cell* (*callback_body_hook)(const cell* callback);
}  // namespace lexer

using namespace lexer;

namespace {

constexpr uint32_t OUTPUT_CELLS = 1000;
constexpr uint64_t OUTPUT_LIMIT = 0x80000000u;         // bytes of output cells at most
constexpr uint32_t IN_PLACE_UNITS = 1u << 20;           // strings from this length are read in place
constexpr uint32_t SCRATCH_BYTES = 100000;
constexpr uint32_t QUOTE_BYTES = 30;                // of the input quoted in a syntax error
constexpr uintptr_t STACK_MARGIN = 256 * 1024;      // left for a callback's own nested work
constexpr uint32_t EXIT_WORDS = 14;                 // structural tokens 1-13, by token number

struct lexer_module {
    state* chain;          // innermost active scan
    uint8_t* scratch;      // text of scanned strings and copies of inputs that could move
    uint32_t scratch_size;
    uint32_t scratch_used;
    const cell* exit_words[EXIT_WORDS];
};
lexer_module lexer_s;

// The words that events report for the structural tokens (the comma's is the lexer's own).
const char* const exit_names[EXIT_WORDS] = {nullptr,   "eof",    "error!", "block!",    "block!",
                                            "paren!",  "paren!", "string!", "string!",  "map!",
                                            "path!",   "datatype!", "comment", "comma"};

inline uint32_t class_word(uint8_t b) { return class_words_data.words[b]; }
inline uint32_t next_state(uint32_t s, uint32_t c) { return transitions_data.next[s][c]; }

bool path_kind(uint32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }

// ---- scratch text ---------------------------------------------------------------------------------

// A part of the shared scratch buffer for one scan (nested scans take the parts that follow), or
// a buffer of its own when the rest is too small. Gives it back on every exit.
class scratch_claim {
public:
    scratch_claim() : saved_(lexer_s.scratch_used) {}
    ~scratch_claim()
    {
        lexer_s.scratch_used = saved_;
        if (own_) rt_free(own_);
    }
    scratch_claim(const scratch_claim&) = delete;
    scratch_claim& operator=(const scratch_claim&) = delete;
    uint8_t* take(uint64_t n)
    {
        if (n >= 0x80000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
        if (lexer_s.scratch_used + n <= lexer_s.scratch_size) {
            uint8_t* p = lexer_s.scratch + lexer_s.scratch_used;
            lexer_s.scratch_used += uint32_t(n);
            return p;
        }
        own_ = static_cast<uint8_t*>(rt_alloc(size_t(n ? n : 1)));
        return own_;
    }

private:
    uint32_t saved_;
    uint8_t* own_ = nullptr;
};

// ---- the chain of scans -------------------------------------------------------------------------

// Links a state as the innermost scan for its life; unlinks it however the scan ends.
class chain_link {
public:
    explicit chain_link(state& st) : st_(st)
    {
        st.link = lexer_s.chain;
        lexer_s.chain = &st;
    }
    ~chain_link() { lexer_s.chain = st_.link; }
    chain_link(const chain_link&) = delete;
    chain_link& operator=(const chain_link&) = delete;

private:
    state& st_;
};

void mark_scans()
{
    for (state* st = lexer_s.chain; st; st = st->link) {
        for (uint32_t i = st->out_base; i < st->out_tail; i++) {
            const cell* c = out_at(i);
            if (cell_type(c) != MARKER) collector::mark_cell(c);
        }
        collector::mark_cell(&st->callback);
        collector::mark_cell(&st->input_value);
    }
}

// A callback may scan again from inside a scan; each level keeps the evaluator's frames below it.
void check_stack()
{
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    char probe;
    if (uintptr_t(&probe) - uintptr_t(low) < STACK_MARGIN) fire(ERR_INTERNAL, err::STACK_OVERFLOW);
}

// On 64-bit builds the output stack has an address range of its own, reserved at the first
// growth and committed as it doubles: the cells never move, and growth neither copies them nor
// leaves pages behind that were touched once (under Wine each fresh page costs a fault at its
// first touch). A 32-bit address space has no room to spare, so there the stack is reallocated.
void grow_output(uint32_t need)
{
    uint64_t capacity = out_s.capacity ? out_s.capacity : OUTPUT_CELLS;
    while (capacity < need) capacity *= 2;
    if (capacity * sizeof(cell) >= OUTPUT_LIMIT) fire(ERR_INTERNAL, err::NO_MEMORY);
#if UINTPTR_MAX > 0xFFFFFFFFu
    if (!out_s.cells) {
        out_s.cells = static_cast<cell*>(VirtualAlloc(nullptr, OUTPUT_LIMIT, MEM_RESERVE, PAGE_NOACCESS));
        out_s.reserved = out_s.cells != nullptr;
    }
    if (out_s.reserved) {
        if (!VirtualAlloc(out_s.cells, size_t(capacity * sizeof(cell)), MEM_COMMIT, PAGE_READWRITE))
            fire(ERR_INTERNAL, err::NO_MEMORY);
        out_s.capacity = uint32_t(capacity);
        return;
    }
#endif
    void* cells = rt_realloc(out_s.cells, size_t(capacity * sizeof(cell)));
    if (!cells) fire(ERR_INTERNAL, err::NO_MEMORY);
    out_s.cells = static_cast<cell*>(cells);
    out_s.capacity = uint32_t(capacity);
}

// Every datatype's name, registered or not (a datatype! of an unregistered id has no name to
// form, so errors about such types carry the name's word).
const char* type_name(uint32_t type)
{
    static const char* const names[TYPE_TABLE_SIZE] = {
        "", "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!", "url!", "char!",
        "integer!", "float!", "symbol!", "context!", "word!", "set-word!", "lit-word!", "get-word!",
        "refinement!", "issue!", "native!", "action!", "op!", "function!", "path!", "lit-path!", "set-path!",
        "get-path!", "routine!", "bitset!", "triple!", "object!", "typeset!", "error!", "vector!", "hash!",
        "pair!", "percent!", "tuple!", "map!", "binary!", "series!", "time!", "tag!", "email!", "handle!",
        "date!", "port!", "money!", "ref!", "point2D!", "point3D!", "image!", "event!", "", ""};
    return type < TYPE_TABLE_SIZE ? names[type] : "";
}

// A datatype as callbacks and errors receive it: its datatype! value, or its name's word while
// the datatype is not registered (such a datatype! could not be formed).
cell type_value(uint32_t type)
{
    if (registered(type)) return cell{TYPE_DATATYPE, type, 0, 0};
    cell name = *word::load(type_name(type));
    cell_clear_new_line(&name);
    return name;
}

// ---- offsets, events ----------------------------------------------------------------------------

// A byte position as the callback sees it: characters for a string! input, bytes otherwise.
uint32_t reported_offset(state& st, uint32_t pos)
{
    if (!st.chars) return pos;
    // Positions are character boundaries: going back counts only the characters passed over
    // (a token's start comes after its end has been reported, and counting again from the head
    // made every event cost the length of the input before it).
    if (pos < st.chars_pos) st.chars_count -= utf8_count_chars(st.input + pos, st.input + st.chars_pos);
    else st.chars_count += utf8_count_chars(st.input + st.chars_pos, st.input + pos);
    st.chars_pos = pos;
    return st.chars_count;
}

cell integer_cell(int32_t v) { return cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }

// Calls the callback with the event word, the input at `at`, the type (datatype! when positive,
// none for 0, the exit-state word of the token for negative), the line and the token (the loaded
// value, or the pair of its 1-based start and end offsets). Answers the callback's verdict.
bool fire_event(state& st, uint32_t event, int32_t type, const cell* value, uint32_t start, uint32_t end,
                uint32_t at)
{
    static const rt_word words[] = {W_PRESCAN, W_SCAN, W_LOAD, W_OPEN, W_CLOSE, W_ERROR};
    uint32_t which = 0;
    while ((1u << which) != event) which++;
    cell args[5];
    args[0] = *rt_word_cell(words[which]);
    cell_clear_new_line(&args[0]);
    args[1] = st.input_value;
    if (cell_type(&args[1]) != TYPE_NONE) args[1].data1 += reported_offset(st, at);
    if (type > 0) args[2] = type_value(uint32_t(type));
    else if (type < 0 && uint32_t(-type) < EXIT_WORDS) args[2] = *lexer_s.exit_words[-type];
    else args[2] = none_value;
    cell_clear_new_line(&args[2]);
    args[3] = integer_cell(int32_t(st.line));
    if (value) args[4] = *value;
    else args[4] = cell{TYPE_PAIR, 0, reported_offset(st, start) + 1, reported_offset(st, end) + 1};
    cell* first = stack::top();
    for (const cell& a : args) stack::push(&a);
    bool keep = callback_call_hook(&st.callback, first);
    stack_s.top = first;
    return keep;
}

// ---- syntax errors ------------------------------------------------------------------------------

cell* push_text(const uint8_t* bytes, uint32_t n)
{
    return string::load(bytes, n, 0);
}

// At most QUOTE_BYTES of the input from `start`, to the first LF; undecodable bytes read as
// U+FFFD, since the quoted text is often the reason for the error.
cell* push_quoted(const state& st, uint32_t start)
{
    uint32_t end = start;
    while (end < st.end && end - start < QUOTE_BYTES && st.input[end] != '\n') end++;
    uint8_t text[QUOTE_BYTES * 3];
    uint32_t n = 0;
    for (const uint8_t* p = st.input + start; p < st.input + end;) {
        int32_t cp;
        p = unicode::fast_decode_utf8_char(p, st.input + end, &cp);
        n += utf8_encode_char(cp < 0 ? 0xFFFDu : uint32_t(cp), text + n);
    }
    return push_text(text, n);
}

// The closing delimiter a container type waits for.
const char* closing_of(uint32_t type) { return type == TYPE_BLOCK || type == TYPE_MAP ? "]" : ")"; }

[[noreturn]] void raise_syntax(state& st, uint32_t start, int32_t code)
{
    char line[32];
    int n = std::snprintf(line, sizeof line, "(line %u)", st.line);
    cell* line_text = push_text(reinterpret_cast<const uint8_t*>(line), uint32_t(n));
    switch (code) {
    case E_BAD_CHAR:
        fire(ERR_SYNTAX, err::BAD_CHAR, line_text, push_quoted(st, start));
    case E_MALCONSTRUCT:
        fire(ERR_SYNTAX, err::MALCONSTRUCT, line_text, push_quoted(st, start));
    case E_MISSING:
    case E_MISSING_HERE: {
        uint8_t here = start < st.end ? st.input[start] : uint8_t(']');
        const char* closing = reinterpret_cast<const char*>(&here);
        if (code == E_MISSING) closing = closing_of(out_at(st.open - 1)->data2 & 0xFFFF);
        cell* missing = push_text(reinterpret_cast<const uint8_t*>(closing), 1);
        fire(ERR_SYNTAX, err::MISSING, line_text, missing, push_quoted(st, start));
    }
    default: {
        cell value = type_value(uint32_t(code));
        cell* type = stack::push(&value);
        fire(ERR_SYNTAX, err::INVALID, line_text, type, push_quoted(st, start));
    }
    }
}

// ---- containers ---------------------------------------------------------------------------------

uint32_t open_type(const state& st) { return st.open ? out_at(st.open - 1)->data2 & 0xFFFF : 0; }

// The automaton's start state for the next token: path items after a "/", else between tokens.
uint32_t start_state(const state& st) { return path_kind(open_type(st)) ? 59 : 0; }

void push_marker(state& st, uint32_t type, uint32_t at, bool new_line)
{
    uint32_t m = out_append(st);
    *out_at(m) = cell{MARKER | (new_line ? HEADER_NEW_LINE : 0), st.open, type, at};
    st.open = m + 1;
}

// A value completed at the top level counts toward the one-value stop.
struct scan_progress {
    uint32_t values;   // complete top-level values (or, when not loading, tokens)
};

// Replaces the innermost container's marker by the series of the cells after it.
void finish_container(state& st)
{
    uint32_t m = st.open - 1;
    cell marker = *out_at(m);
    uint32_t type = marker.data2 & 0xFFFF, commas = marker.data2 >> 16;
    uint32_t first = m + 1, count = st.out_tail - first;
    st.open = marker.data1;
    st.last_type = type;
    if (!st.load) {
        st.out_tail = m;
        return;
    }
    if (type == TYPE_MAP) {
        make_map_from(st, first, count, marker.data3);
        return;
    }
    if (type == TYPE_PAREN && commas) {
        make_point_from(st, first, count, commas);
        return;
    }
    if (!registered(type)) not_done(type);
    cell* slot = out_at(m);
    *slot = cell{TYPE_UNSET, 0, 0, 0};
    block::make_at(slot, count);   // the output stack does not move while this allocates
    series_buffer* s = series_of(slot->data2);
    std::memcpy(at<cell>(s->head), out_at(first), size_t(count) * sizeof(cell));
    s->tail = s->head + count * uint32_t(sizeof(cell));
    slot->header = type | (marker.header & HEADER_NEW_LINE);
    st.out_tail = m + 1;
}

// After a value: inside a path, a "/" goes on to the next item; anything else ends the path (":"
// making it a set-path!), and the path is the value that completes.
void after_value(state& st, scan_progress& progress)
{
    while (path_kind(open_type(st))) {
        uint32_t p = st.pos;
        if (p < st.end && st.input[p] == '/') {
            st.pos = p + 1;
            return;
        }
        cell* marker = out_at(st.open - 1);
        if (p < st.end && st.input[p] == ':') {
            uint32_t type = marker->data2 & 0xFFFF;
            uint32_t start = marker->data3;
            if (type != TYPE_PATH) throw_error(st, start, p + 1, int32_t(type));
            if (p + 1 < st.end && st.input[p + 1] == '/') throw_error(st, start, p + 2, TYPE_PATH);
            marker->data2 = TYPE_SET_PATH;
            st.pos = p + 1;
        }
        finish_container(st);
    }
    if (!st.open) progress.values++;
}

void open_container(state& st, uint32_t type, uint32_t at, uint32_t length)
{
    st.pos = at + length;
    if ((st.mask & EV_OPEN) && !fire_event(st, EV_OPEN, int32_t(type), nullptr, at, at + length, at)) return;
    push_marker(st, type, at, st.new_line);
}

void close_container(state& st, uint8_t closing, uint32_t at, scan_progress& progress)
{
    if (!st.open) throw_error(st, at, at + 1, E_MISSING_HERE);
    cell marker = *out_at(st.open - 1);
    uint32_t type = marker.data2 & 0xFFFF;
    bool fits = closing == ']' ? type == TYPE_BLOCK || type == TYPE_MAP : type == TYPE_PAREN;
    if (path_kind(type)) throw_error(st, marker.data3, at + 1, int32_t(type));   // a path ending in "/"
    // The error lies at the closing character: a callback reads the input from there.
    if (!fits) throw_error(st, marker.data3, at, E_MISSING);
    st.pos = at + 1;
    if ((st.mask & EV_CLOSE) && !fire_event(st, EV_CLOSE, int32_t(type), nullptr, marker.data3, at + 1, at + 1))
        return;
    finish_container(st);
    after_value(st, progress);
}

// "," makes the paren around it a point; each comma follows exactly one value.
void comma(state& st, uint32_t at)
{
    st.pos = at + 1;
    if (open_type(st) != TYPE_PAREN) throw_error(st, at, at + 1, TYPE_POINT2D);
    cell* marker = out_at(st.open - 1);
    uint32_t commas = marker->data2 >> 16;
    uint32_t values = st.out_tail - st.open;
    if (commas >= 2 || (st.load && values != commas + 1)) throw_error(st, marker->data3, at + 1, TYPE_POINT2D);
    marker->data2 += 1u << 16;
}

// ---- tokens -------------------------------------------------------------------------------------

// The automaton from position p in state s to a terminal state.
inline automaton_run automaton(const uint8_t* in, uint32_t p, uint32_t end, uint32_t s)
{
    uint32_t f = 0, prev = s, lines = 0;
    while (p < end) {
        uint32_t w = class_word(in[p]);
        f |= w;
        uint32_t c = w & 0xFF;
        prev = s;
        s = next_state(s, c);
        if (s > TERMINAL) break;
        lines += c == C_LF;
        p++;
    }
    if (s <= TERMINAL) {
        prev = s;
        s = next_state(s, C_END);
    }
    return {s, p, prev, f & ~0xFFu, lines};
}

// One token from st.pos: blanks first (between tokens only), then the automaton. Answers the
// terminal state; the byte that ended the token is not part of it.
uint32_t next_token(state& st, uint32_t* flags)
{
    const uint8_t* in = st.input;
    uint32_t p = st.pos, end = st.end;
    uint32_t s = start_state(st);
    st.new_line = false;
    if (s == 0) {
        while (p < end) {
            uint32_t c = class_word(in[p]) & 0xFF;
            if (next_state(0, c) != 0) break;
            if (c == C_LF) st.line++, st.new_line = true;
            p++;
        }
    }
    st.token_start = p;
    automaton_run r = automaton(in, p, end, s);
    st.token_end = r.stop;
    st.prev_state = r.prev;
    st.line += r.lines;
    *flags = r.flags;
    return r.state;
}

// The closing delimiter that a value token's loader steps over (the automaton stops before it).
uint32_t closer_of(const state& st, uint32_t s)
{
    switch (s) {
    case 72: case 76: case 79: case 84: case 86: case 87: case 96: return 1;
    case 85: return st.input[st.token_start + 1] == '"' ? 1 : 0;
    default: return 0;
    }
}

loader loader_of(uint32_t s)
{
    switch (s) {
    case 72: return load_braced;
    case 76: return load_construct;
    case 79: return load_string;
    case 80: case 81: return load_word;
    case 82: return load_integer;
    case 83: return load_refinement;
    case 84: return load_char;
    case 85: return load_file;
    case 86: return load_binary;
    case 87: return load_percent;
    case 88: return load_float;
    case 89: return load_float_alt;
    case 90: return load_tuple;
    case 91: return load_date;
    case 92: return load_pair;
    case 94: return load_time;
    case 95: return load_money;
    case 96: return load_tag;
    case 97: return load_url;
    case 98: return load_email;
    case 99: return load_integer_alt;
    case 100: return load_raw_string;
    case 101: return load_ref;
    default: return nullptr;
    }
}

// Unicode blanks end a word: leading ones are skipped, the word stops at the next. Answers false
// when the token holds nothing else (it is blank).
bool trim_word_blanks(state& st)
{
    const uint8_t* p = st.input + st.token_start;
    const uint8_t* end = st.input + st.token_end;
    const uint8_t* first = nullptr;
    while (p < end) {
        int32_t cp;
        const uint8_t* next = unicode::fast_decode_utf8_char(p, end, &cp);
        bool blank = cp >= 0 && unicode_blank_q(uint32_t(cp));
        if (!first && !blank) first = p;
        if (first && blank) break;
        p = next;
    }
    if (!first) return false;
    st.token_start = uint32_t(first - st.input);
    st.token_end = uint32_t(p - st.input);
    return true;
}

// One value token: the prescan event, the check and the scan event, the load and the load event.
void value_token(state& st, uint32_t s, uint32_t type, uint32_t flags, loader fn, scan_progress& progress)
{
    uint32_t start = st.token_start, end = st.token_end;
    if ((st.mask & EV_PRESCAN) && !fire_event(st, EV_PRESCAN, int32_t(type), nullptr, start, end, end)) {
        st.pos = end + closer_of(st, s);
        return;
    }
    if (st.prescan) {
        // Only double-quoted strings are followed (their text may hold delimiters).
        if (s == 79) fn(st, start, end, flags, false);
        else st.pos = end + closer_of(st, s);
        st.last_type = type;
        after_value(st, progress);
        return;
    }
    if (!st.load || (st.mask & EV_SCAN)) {
        fn(st, start, end, flags, false);
        if ((st.mask & EV_SCAN) && !fire_event(st, EV_SCAN, int32_t(st.last_type), nullptr, start, st.pos, st.pos))
            return;
        if (!st.load) {
            after_value(st, progress);
            return;
        }
    }
    uint32_t index = st.out_tail;
    fn(st, start, end, flags, true);
    if (st.out_tail > index) {
        if (st.new_line) out_at(index)->header |= HEADER_NEW_LINE;
        if (st.mask & EV_LOAD) {
            cell loaded = *out_at(index);
            if (!fire_event(st, EV_LOAD, int32_t(cell_type(&loaded)), &loaded, start, st.pos, st.pos)) {
                st.out_tail = index;
                return;
            }
        }
    }
    after_value(st, progress);
}

// The first item of a path and its "/": the path opens, the item is its first value.
void path_token(state& st, uint32_t flags)
{
    uint32_t start = st.token_start, end = st.token_end;
    uint32_t type = load_path_head(st, start, end, flags, false);
    push_marker(st, type, start, st.new_line);
    if (st.load) load_path_head(st, start, end, flags, true);
    st.pos = end + 1;
}

// Handles the token that ended in terminal state s. Answers false when the scan is over.
bool handle_token(state& st, uint32_t s, uint32_t flags, scan_progress& progress)
{
    uint32_t at = st.token_start;
    if (s == S_EOF) {
        if (st.mask & EV_PRESCAN) fire_event(st, EV_PRESCAN, -1, nullptr, at, at, at);
        st.pos = st.token_end;
        return false;
    }
    // A "(" that opens a point literal is no structural token: the point reports itself.
    bool point = s == 70 && point_ahead(st, at + 1);
    if (st.mask & EV_PRESCAN && s <= 78 && s != 72 && s != 76 && !point &&
        !fire_event(st, EV_PRESCAN, -int32_t(s - TERMINAL), nullptr, at, st.token_end, at)) {
        st.pos = s == S_ERROR || s == 77 ? st.token_end + (st.token_end < st.end) : at + 1;
        return true;
    }
    switch (s) {
    case S_ERROR: {
        uint32_t prev = st.prev_state;
        if (prev >= 10 && prev <= 12) {   // raw strings look further than the automaton does
            value_token(st, s, TYPE_STRING, flags, load_raw_string, progress);
            return true;
        }
        uint32_t type = state_type(prev);
        // Inside a path the quote starts with the path.
        if (path_kind(open_type(st))) at = out_at(st.open - 1)->data3;
        throw_error(st, at, st.token_end + (st.token_end < st.end), type ? int32_t(type) : E_BAD_CHAR);
    }
    case 68: open_container(st, TYPE_BLOCK, at, 1); return true;
    case 69: close_container(st, ']', at, progress); return true;
    case 70:
        if (point) {
            value_token(st, 93, TYPE_POINT2D, flags, load_point, progress);
            return true;
        }
        open_container(st, TYPE_PAREN, at, 1);
        return true;
    case 71: close_container(st, ')', at, progress); return true;
    case 72: {
        uint32_t body_flags = 0;
        st.token_end = scan_braced(st, at, &body_flags);
        value_token(st, s, TYPE_STRING, body_flags, load_braced, progress);
        return true;
    }
    case 74: open_container(st, TYPE_MAP, at, 2); return true;
    case 75: path_token(st, flags); return true;
    case 76: value_token(st, s, TYPE_DATATYPE, flags, load_construct, progress); return true;
    case 77: st.pos = st.token_end; return true;
    case 78: comma(st, at); return true;
    case 80:
        if ((flags & F_MULTIBYTE) && !trim_word_blanks(st)) {
            st.pos = st.token_end;
            return true;
        }
        break;
    default:
        break;
    }
    value_token(st, s, state_type(s), flags, loader_of(s), progress);
    return true;
}

// Closes the paths left open by a token that was dropped: each becomes a value of its own.
void close_paths(state& st, scan_progress& progress)
{
    while (path_kind(open_type(st))) finish_container(st);
    if (!st.open) progress.values++;
}

// The main loop. With `one` (or in prescan mode), it returns once one complete top-level value
// has been read.
void scan_tokens(state& st, bool one)
{
    scan_progress progress{0};
    for (;;) {
        uint32_t flags;
        uint32_t s = next_token(st, &flags);
        bool structural = s <= 78 && s != 72 && s != 76;
        try {
            if (!handle_token(st, s, flags, progress)) return;
        } catch (const stop_request&) {
            // The callback dropped a bad token (or this scan only checks): skip it and go on.
            if (!st.load && one) return;
            if (s == S_ERROR) st.pos = st.token_end + (st.token_end < st.end);
            else if (st.pos <= st.token_start) st.pos = st.token_end + closer_of(st, s);
            if (st.pos <= st.token_start) st.pos = st.token_start + 1;
            if (st.pos > st.end) st.pos = st.end;
            if (structural && s != S_ERROR && s != 78) return;
            close_paths(st, progress);
        }
        if ((one || st.prescan) && !st.open && progress.values) return;
    }
}

// At the end of the input every container must be closed.
void check_closed(state& st)
{
    while (path_kind(open_type(st))) finish_container(st);
    if (!st.open) return;
    try {
        throw_error(st, out_at(st.open - 1)->data3, st.end, E_MISSING);
    } catch (const stop_request&) {
        if (!st.load) {
            // Checking only: the input is reported as bad.
            st.open = 0;
            st.out_tail = st.out_base;
            st.last_type = TYPE_ERROR;
            return;
        }
        // The callback accepted the open containers: they end with the input.
        while (st.open) finish_container(st);
    }
}

struct scan_result {
    uint32_t type;
    uint32_t pos;   // bytes read
};

// Scans text that no allocation moves (the caller copied it where it could).
scan_result run_scan(cell* out, const uint8_t* text, uint32_t length, const scan_request& how, bool chars)
{
    check_stack();
    const void* nul = length ? std::memchr(text, 0, length) : nullptr;
    state st{};
    st.out_base = st.out_tail = lexer_s.chain ? lexer_s.chain->out_tail : 0;
    st.input = text;
    st.end = nul ? uint32_t(static_cast<const uint8_t*>(nul) - text) : length;
    st.line = 1;
    st.prescan = how.prescan;
    st.load = how.load && !how.prescan;
    st.chars = chars;
    st.callback = how.callback ? *how.callback : none_value;
    st.input_value = how.input ? *how.input : none_value;
    if (cell_type(&st.callback) != TYPE_NONE && callback_call_hook) st.mask = event_mask(&st.callback);
    chain_link linked(st);
    scan_tokens(st, how.one);
    check_closed(st);

    uint32_t count = st.out_tail - st.out_base;
    if (how.one) {
        *out = count ? *out_at(st.out_base) : unset_value;
    } else if (how.into) {
        for (uint32_t i = 0; i < count; i++) {
            cell value = *out_at(st.out_base + i);
            block::rs_append(how.into, &value);
        }
        *out = *how.into;
    } else {
        *out = cell{TYPE_UNSET, 0, 0, 0};
        block::make_at(out, count);
        series_buffer* s = series_of(out->data2);
        std::memcpy(at<cell>(s->head), out_at(st.out_base), size_t(count) * sizeof(cell));
        s->tail = s->head + count * uint32_t(sizeof(cell));
    }
    return {st.last_type, st.pos};
}

// The UTF-8 text of a string from its head, in scratch memory that the claim holds.
uint32_t string_text(const cell* str, int32_t length, scratch_claim& claim, const uint8_t** text)
{
    cell s = *str;
    uint32_t units = string::ks_length_q(&s);
    if (length >= 0 && uint32_t(length) < units) units = uint32_t(length);
    uint32_t unit = text_unit(series_of(s.data2));
    uint64_t room = uint64_t(units) * (unit == 1 ? 2 : unit == 2 ? 3 : 4) + 1;
    uint8_t* buffer = claim.take(room);
    *text = buffer;
    return units ? string_to_utf8_bounded(&s, buffer, int32_t(room - 1), int32_t(units), false) : 0;
}

// A string of a megabyte or more, of one-byte units that are all ASCII, is its own UTF-8 text:
// the scan may read it where it lies when nothing can move it, that is when no callback runs (so
// nothing evaluates) and the collector is held. A copy that large lands in fresh memory, a page
// fault per 4 KB. A smaller copy lands in memory the allocator reuses, while a held collector
// would send the values to fresh frames instead of the room a collection frees: measured, reading
// in place pays from about a megabyte. Answers the text's first byte and length, or null.
const uint8_t* ascii_text(const cell* str, int32_t length, const scan_request& how, uint32_t* n)
{
    if (how.callback && cell_type(how.callback) != TYPE_NONE) return nullptr;
    series_buffer* s = series_of(str->data2);
    if (text_unit(s) != 1) return nullptr;
    uint32_t total = s->tail - s->head;
    uint32_t head = str->data1 < total ? str->data1 : total;
    uint32_t units = total - head;
    if (length >= 0 && uint32_t(length) < units) units = uint32_t(length);
    if (units < IN_PLACE_UNITS) return nullptr;
    const uint8_t* text = at(s->head) + head;
    uint64_t high = 0;
    uint32_t i = 0;
    for (; i + 8 <= units; i += 8) {
        uint64_t w;
        std::memcpy(&w, text + i, 8);
        high |= w;
    }
    for (; i < units; i++) high |= text[i];
    if (high & 0x8080808080808080ull) return nullptr;
    *n = units;
    return text;
}

// Hooks of the lower layers: what a name loads as, and the values of a string as a block.
uint32_t name_type(const uint8_t* text, uint32_t length) { return scan_type(text, length); }
cell* string_block(const cell* str)
{
    cell* slot = stack::push_slot();
    *slot = unset_value;
    scan_from_string(slot, str, -1, scan_request{}, nullptr);
    return slot;
}

}  // namespace

// ---- shared with the loaders --------------------------------------------------------------------

uint32_t lexer::state_type(uint32_t s) { return s < STATE_TOTAL ? state_types_data.type[s] : 0; }

automaton_run lexer::run_automaton(const state& st, uint32_t from, uint32_t start_state)
{
    return automaton(st.input, from, st.end, start_state);
}

uint32_t lexer::scan_braced(state& st, uint32_t start, uint32_t* flags)
{
    if (st.mask & EV_OPEN) fire_event(st, EV_OPEN, TYPE_STRING, nullptr, start, start + 1, start);
    uint32_t depth = 1, p = start + 1, f = 0;
    for (;;) {
        automaton_run r = automaton(st.input, p, st.end, 4);
        f |= r.flags;
        st.line += r.lines;
        if (r.state == 72) {
            depth++;
        } else if (r.state == 73) {
            if (--depth == 0) {
                if (st.mask & EV_CLOSE) fire_event(st, EV_CLOSE, TYPE_STRING, nullptr, start, r.stop + 1, r.stop + 1);
                *flags = f;
                return r.stop;
            }
        } else {
            throw_error(st, start, r.stop, TYPE_STRING);
        }
        p = r.stop + 1;
    }
}

uint32_t lexer::out_append(state& st)
{
    if (st.out_tail >= out_s.capacity) grow_output(st.out_tail + 1);
    *out_at(st.out_tail) = cell{TYPE_UNSET, 0, 0, 0};
    return st.out_tail++;
}

void lexer::throw_error(state& st, uint32_t start, uint32_t end, int32_t code)
{
    if (st.mask & EV_ERROR) {
        // A container left open reports its own type, so a callback can tell input that more
        // text may complete (the console waits for the next line) from input that is wrong.
        int32_t type = code > 0 ? code : code == E_MISSING && st.open ? int32_t(open_type(st)) : int32_t(TYPE_ERROR);
        if (!fire_event(st, EV_ERROR, type, nullptr, start, end, end)) throw stop_request{};
    }
    if (!st.load) {
        st.last_type = TYPE_ERROR;
        throw stop_request{};
    }
    raise_syntax(st, start, code);
}

void lexer::not_done(uint32_t type)
{
    const char* name = type_name(type);
    cell* text = string::load(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), 0);
    fire(ERR_INTERNAL, err::NOT_DONE, text);
}

bool lexer::registered(uint32_t type) { return type < TYPE_TABLE_SIZE && datatype_s.types[type].name; }

uint32_t lexer::event_mask(const cell* callback)
{
    const cell* body = callback_body_hook ? callback_body_hook(callback) : nullptr;
    if (!body || !any_block_q(cell_type(body)) || block::rs_length(body) == 0) return EV_ALL;
    cell events = *block::rs_head(body);
    if (cell_type(&events) != TYPE_BLOCK) return EV_ALL;
    static const rt_word words[] = {W_PRESCAN, W_SCAN, W_LOAD, W_OPEN, W_CLOSE, W_ERROR};
    uint32_t mask = 0;
    for (uint32_t i = 0; i < block::rs_length(&events); i++) {
        const cell* w = block::rs_head(&events) + i;
        if (cell_type(w) != TYPE_WORD) continue;
        for (uint32_t e = 0; e < 6; e++)
            if (symbol::resolve(w->data2) == symbol::resolve(rt_word_cell(words[e])->data2)) mask |= 1u << e;
    }
    return mask;
}

// ---- entries ------------------------------------------------------------------------------------

uint32_t lexer::scan(cell* out, const uint8_t* text, uint32_t length, const scan_request& how, uint32_t* consumed)
{
    scratch_claim claim;
    if (length && in_value_range(text)) {
        uint8_t* copy = claim.take(length);
        std::memcpy(copy, text, length);
        text = copy;
    }
    scan_result r = run_scan(out, text, length, how, false);
    if (consumed) *consumed = r.pos;
    return r.type;
}

uint32_t lexer::scan_from_string(cell* out, const cell* str, int32_t length, const scan_request& how,
                                 uint32_t* consumed)
{
    scan_request with_input = how;
    if (!with_input.input) with_input.input = str;
    uint32_t n;
    const uint8_t* in_place = ascii_text(str, length, how, &n);
    if (in_place) {
        // Nothing evaluates during the scan and the collector is held: the text cannot move.
        collector_hold hold;
        scan_result r = run_scan(out, in_place, n, with_input, true);
        if (consumed) *consumed = r.pos;
        return r.type;
    }
    scratch_claim claim;
    const uint8_t* text;
    n = string_text(str, length, claim, &text);
    scan_result r = run_scan(out, text, n, with_input, true);
    if (consumed) *consumed = utf8_count_chars(text, text + r.pos);
    return r.type;
}

cell* lexer::load(const uint8_t* text, uint32_t length, cell* out)
{
    scan(out, text, length, scan_request{}, nullptr);
    return out;
}

cell* lexer::scan_string_value(const cell* str, cell* out)
{
    scratch_claim claim;
    const uint8_t* text;
    uint32_t n = string_text(str, -1, claim, &text);
    scan_request how;
    how.one = true;
    how.input = str;
    scan_result r = run_scan(out, text, n, how, true);
    // Only blanks may follow the value.
    for (uint32_t p = r.pos; p < n && text[p]; p++)
        if (next_state(0, class_word(text[p]) & 0xFF) != 0) return copy_cell(&none_value, out);
    return out;
}

cell* lexer::scan_string_to_stack(const cell* str)
{
    cell* slot = stack::push_slot();
    *slot = unset_value;
    return scan_string_value(str, slot);
}

uint32_t lexer::scan_type(const uint8_t* text, uint32_t length)
{
    if (!length) return 0;
    scan_request how;
    how.one = true;
    how.load = false;
    cell out;
    uint32_t consumed = 0;
    uint32_t type = scan(&out, text, length, how, &consumed);
    return type == TYPE_ERROR || consumed != length ? 0 : type;
}

void lexer::init()
{
    grow_output(OUTPUT_CELLS);
    lexer_s.scratch = static_cast<uint8_t*>(rt_alloc(SCRATCH_BYTES));
    lexer_s.scratch_size = SCRATCH_BYTES;
    for (uint32_t i = 1; i < EXIT_WORDS; i++) lexer_s.exit_words[i] = word::load(exit_names[i]);
    init_blanks();
    collector::register_marker(mark_scans);
    word::name_scan_hook = name_type;
    word::string_load_hook = scan_string_to_stack;
    block::string_scan_hook = string_block;
}
