// The lexer: UTF-8 source text into values. Every byte maps to a character class, a transition
// table moves an automaton between states, and each terminal state names a token whose scanner
// (structure: containers, braced strings, paths) or loader (one value) runs.
// Must not break: input is read only inside [0, end) of a buffer that does not move during the
// scan (a copy is made when it lies in the value range), and output cells are reached by index:
// a nested scan started by a callback may grow and move the shared output stack.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace lexer {

// ---- tables -------------------------------------------------------------------------------------
constexpr uint32_t CLASSES = 40;
constexpr uint32_t STATES = 65;           // non-terminal states 0-64
constexpr uint32_t STATE_TOTAL = 102;     // 65 unused, 66-101 terminal
constexpr uint32_t TERMINAL = 65;         // a state above this ends a token
constexpr uint32_t S_EOF = 66, S_ERROR = 67;

enum char_class : uint8_t {
    C_BLANK, C_LF, C_DIGIT, C_ZERO, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE, C_BRACE_OPEN,
    C_BRACE_CLOSE, C_QUOTE, C_HASH, C_APOSTROPHE, C_COLON, C_X, C_T, C_H, C_E_LOW, C_E_UP, C_HEX_LOW, C_HEX_UP,
    C_SLASH, C_BACKSLASH, C_LESS, C_GREATER, C_EQUAL, C_PERCENT, C_COMMA, C_SEMICOLON, C_AT, C_DOT, C_DOLLAR,
    C_PLUS, C_MINUS, C_CARET, C_CONTROL, C_CONTINUATION, C_OTHER, C_BAD, C_END
};

// Flag bits of the class words, ORed over a token's bytes so that loaders test what a token holds
// without reading it again. Bit 17 is the lexer's own: any byte of 80h or above.
enum token_flag : uint32_t {
    F_NON_ASCII = 1u << 17, F_PERCENT = 1u << 18, F_GREATER = 1u << 19, F_LESS = 1u << 20, F_SIGN = 1u << 21,
    F_NUL = 1u << 22, F_HASH = 1u << 23, F_EXPONENT = 1u << 24, F_APOSTROPHE = 1u << 25, F_COLON = 1u << 26,
    F_COMMA = 1u << 27, F_DOT = 1u << 28, F_CARET = 1u << 29, F_LEAD_2_3 = 1u << 30, F_LEAD_4 = 1u << 31
};
constexpr uint32_t F_MULTIBYTE = F_LEAD_2_3 | F_LEAD_4;

// ---- callbacks ----------------------------------------------------------------------------------
enum event_bit : uint32_t { EV_PRESCAN = 1, EV_SCAN = 2, EV_LOAD = 4, EV_OPEN = 8, EV_CLOSE = 16, EV_ERROR = 32 };
constexpr uint32_t EV_ALL = 63;

// Installed by the evaluator: call runs a callback (function! or routine!) with the five event
// arguments (cells on the argument stack) and answers its logic! result; body gives the body
// block of a callback, whose leading block of event words selects the events it wants.
extern bool (*callback_call_hook)(const cell* callback, cell* args);
extern const cell* (*callback_body_hook)(const cell* callback);

// The events a callback wants: the words of the block that begins its body, else all.
uint32_t event_mask(const cell* callback);

// ---- scanning -----------------------------------------------------------------------------------
struct scan_request {
    bool one = false;       // stop once one complete value is read
    bool prescan = false;   // follow the structure only; report the type of the first value
    bool load = true;       // make values (false: recognise and check tokens, raise nothing)
    const cell* callback = nullptr;   // function! or routine! told of each event; null or none: no events
    const cell* input = nullptr;      // the string! or binary! being scanned, as events report it
    cell* into = nullptr;             // values are appended to this block instead of a new one (a
                                      // cell that does not move)
};

// Scans `length` bytes of UTF-8 (a NUL ends the input). The values go into `out` as a new block
// (or are appended to `into`, and `out` gets that block); with `one`, `out` gets the value itself
// (unset when there is none). `out` must not lie in a movable buffer. `consumed` (when given)
// gets the bytes read. Answers the datatype of the last token (TYPE_ERROR for a bad token in
// scan-only mode). Syntax errors raise.
uint32_t scan(cell* out, const uint8_t* text, uint32_t length, const scan_request& how, uint32_t* consumed);
// The text of a string of any unit width from its head (`length` code points, -1 for all);
// `consumed` counts characters.
uint32_t scan_from_string(cell* out, const cell* str, int32_t length, const scan_request& how,
                          uint32_t* consumed);
// All values of the text as a new block written into `out` (start-up source, tests).
cell* load(const uint8_t* text, uint32_t length, cell* out);
// The whole string as one value: none when more than one value (or a stray character) follows
// it, unset when it holds none.
cell* scan_string_value(const cell* str, cell* out);
cell* scan_string_to_stack(const cell* str);   // pushed on the argument stack
// What a name would load as, judged by the lexer: the datatype of its one token, 0 when the text
// is not exactly one valid token. Reads only the bytes given; makes nothing.
uint32_t scan_type(const uint8_t* text, uint32_t length);

// Whether a code point is one of the Unicode blanks that end words.
bool unicode_blank_q(uint32_t cp);

void init();

}  // namespace lexer
