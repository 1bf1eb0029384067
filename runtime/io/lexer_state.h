// What the lexer's two files share: the record of one active scan, the output stack, and the
// routines that token loaders call to raise errors and append values. Internal to the lexer.
// Must not break: a cell address from the output stack is valid only until the next append or
// event (a callback may scan again and grow the stack); loaders keep indexes instead.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/io/lexer.h"

namespace lexer {

// One record per active scan, chained from the innermost: a callback may scan again, and the
// collector marks the output cells, callback and input of every state on the chain.
struct state {
    state* link;              // the enclosing scan, or null
    uint32_t out_base;        // first output cell of this scan
    uint32_t out_tail;        // one past its last output cell
    uint32_t open;            // innermost open container: its marker's index + 1 (0: none)
    const uint8_t* input;     // stable for the scan's life
    uint32_t end;             // input length, cut at the first NUL
    uint32_t pos;             // where the next token starts
    uint32_t token_start, token_end;
    uint32_t line;            // current line, from 1 (LF bytes only)
    uint32_t prev_state;      // last non-terminal state of the current token
    uint32_t last_type;       // datatype of the last token handled
    bool new_line;            // the current token starts a line
    bool load;                // make values (else only recognise and check)
    bool prescan;
    bool chars;               // offsets are reported in characters (string! input)
    uint32_t mask;            // events the callback wants (0: no callback)
    cell callback;
    cell input_value;
    uint32_t chars_pos, chars_count;   // cache: characters before a byte position
};

// Container markers on the output stack: type 31 (never seen outside the lexer), word 1 the
// enclosing marker's index + 1, word 2 the container's datatype with its comma count << 16,
// word 3 the input offset of its opening delimiter; the new-line bit goes to the container.
constexpr uint32_t MARKER = TYPE_TRIPLE;

struct output_stack {
    cell* cells;          // outside the value range: never moved by the collector, only by growth
    uint32_t capacity;
    bool reserved;        // cells lie in a reserved range that growth commits in place
};
extern output_stack out_s;
inline cell* out_at(uint32_t index) { return out_s.cells + index; }
// Appends an unset cell to the scan's output; answers its index.
uint32_t out_append(state& st);

// A scan's way out of a token that the error event's callback chose to skip, and out of a bad
// token in scan-only mode: caught by the scan loop, never seen outside the lexer.
struct stop_request {};

// Syntax error codes besides datatype ids (`invalid` with that datatype).
enum error_code : int32_t { E_BAD_CHAR = -1, E_MALCONSTRUCT = -2, E_MISSING = -3, E_MISSING_HERE = -4 };
// Raises the syntax error for input [start, end), after the error event; or, when the callback
// answers false or the scan only checks tokens, abandons the token by a stop request.
[[noreturn]] void throw_error(state& st, uint32_t start, uint32_t end, int32_t code);
// internal/not-done naming the datatype, for literals whose datatype is not connected yet.
[[noreturn]] void not_done(uint32_t type);
// Whether a datatype is registered (its cells can be made and molded).
bool registered(uint32_t type);

// Value loaders, one per value token: they check the token's text [start, end), set st.pos past
// it (and its closing delimiter) and st.last_type, and with `load` append the value.
using loader = void (*)(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load);
void load_string(state&, uint32_t, uint32_t, uint32_t, bool);
void load_braced(state&, uint32_t, uint32_t, uint32_t, bool);
void load_raw_string(state&, uint32_t, uint32_t, uint32_t, bool);
void load_word(state&, uint32_t, uint32_t, uint32_t, bool);
void load_refinement(state&, uint32_t, uint32_t, uint32_t, bool);
void load_integer(state&, uint32_t, uint32_t, uint32_t, bool);
void load_integer_alt(state&, uint32_t, uint32_t, uint32_t, bool);
void load_char(state&, uint32_t, uint32_t, uint32_t, bool);
void load_file(state&, uint32_t, uint32_t, uint32_t, bool);
void load_binary(state&, uint32_t, uint32_t, uint32_t, bool);
void load_percent(state&, uint32_t, uint32_t, uint32_t, bool);
void load_float(state&, uint32_t, uint32_t, uint32_t, bool);
void load_float_alt(state&, uint32_t, uint32_t, uint32_t, bool);
void load_tuple(state&, uint32_t, uint32_t, uint32_t, bool);
void load_date(state&, uint32_t, uint32_t, uint32_t, bool);
void load_pair(state&, uint32_t, uint32_t, uint32_t, bool);
void load_point(state&, uint32_t, uint32_t, uint32_t, bool);
void load_time(state&, uint32_t, uint32_t, uint32_t, bool);
void load_money(state&, uint32_t, uint32_t, uint32_t, bool);
void load_tag(state&, uint32_t, uint32_t, uint32_t, bool);
void load_url(state&, uint32_t, uint32_t, uint32_t, bool);
void load_email(state&, uint32_t, uint32_t, uint32_t, bool);
void load_ref(state&, uint32_t, uint32_t, uint32_t, bool);
void load_construct(state&, uint32_t, uint32_t, uint32_t, bool);

// One run of the automaton: the terminal state, where it stopped (the byte there not taken),
// the last non-terminal state, the flags of the bytes seen and the LFs taken.
struct automaton_run {
    uint32_t state;
    uint32_t stop;
    uint32_t prev;
    uint32_t flags;
    uint32_t lines;
};
automaton_run run_automaton(const state& st, uint32_t from, uint32_t start_state);
uint32_t state_type(uint32_t s);

// The end of a braced string whose "{" is at start: the index of its closing "}". Follows
// nesting and escapes through the automaton's braced-string states; raises `invalid` string! at
// a bad byte or the end of the input. Fires the open and close events.
uint32_t scan_braced(state& st, uint32_t start, uint32_t* flags);
// The first item of a path (the text before its first "/"): a word without its "'" or ":" mark,
// or a hexadecimal integer. Answers the path datatype the mark gives.
uint32_t load_path_head(state& st, uint32_t start, uint32_t end, uint32_t flags, bool load);
// The fields of a date literal, checked: year -9999 to 9999, a day of its month, an hour below
// 24, minutes below 60, seconds below 60, zone hours within 15. False for any other text.
struct date_fields {
    int32_t year, month, day;
    bool time;
    double seconds;   // time of day
    bool zone;
    int32_t zone_minutes;
};
bool parse_date(const uint8_t* text, uint32_t length, date_fields& d);
// Builds the Unicode blank set (start-up).
void init_blanks();
// Whether the text of a paren after its "(" is a point literal: a run of number characters that
// reaches a ",".
bool point_ahead(const state& st, uint32_t from);
// The numbers of a paren closed with commas, made into a point (its cells are replaced).
void make_point_from(state& st, uint32_t first, uint32_t count, uint32_t commas);
// The key check of a map literal and the map made from its cells.
void make_map_from(state& st, uint32_t first, uint32_t count, uint32_t start);

}  // namespace lexer
