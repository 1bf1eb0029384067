// The runtime's own vocabulary and the mold cycle markers: the text written in place of a series
// or object that is already being formed or molded, so that walks over cyclic data end.
// Routines test the vocabulary by symbol id or word cell, never by looking a name up.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// Symbols the runtime compares against (function specs, parse keywords, date and event fields...).
// A name listed twice in the making order ("code") has one entry: making it again gives the same id.
enum rt_symbol : uint32_t {
    SYM_SPEC, SYM_BODY, SYM_WORDS, SYM_CLASS, SYM_LOGIC, SYM_INTEGER, SYM_CHAR, SYM_FLOAT, SYM_PERCENT,
    SYM_ANY_TYPE, SYM_EXIT, SYM_RETURN, SYM_WINDOWS, SYM_SYLLABLE, SYM_MACOS, SYM_LINUX, SYM_NETBSD, SYM_REPEAT,
    SYM_FOREACH, SYM_MAP_EACH, SYM_REMOVE_EACH, SYM_ANY, SYM_BREAK, SYM_COPY, SYM_END, SYM_FAIL, SYM_INTO,
    SYM_OPT, SYM_NOT, SYM_QUOTE, SYM_CASE, SYM_REJECT, SYM_SET, SYM_SKIP, SYM_SOME, SYM_THRU, SYM_TO, SYM_NONE,
    SYM_PIPE, SYM_MINUS, SYM_IF, SYM_REMOVE, SYM_WHILE, SYM_INSERT, SYM_ONLY, SYM_COLLECT, SYM_KEEP, SYM_PICK,
    SYM_AHEAD, SYM_AFTER, SYM_X, SYM_Y, SYM_Z, SYM_SELF, SYM_VALUES, SYM_OWNER, SYM_OWNED, SYM_EVENTS_Q,
    SYM_TRUE, SYM_FALSE, SYM_YES, SYM_NO, SYM_ON, SYM_OFF, SYM_TYPE, SYM_FACE, SYM_WINDOW, SYM_OFFSET, SYM_KEY,
    SYM_FLAG, SYM_CODE, SYM_PICKED, SYM_FLAGS, SYM_AWAY_Q, SYM_CTRL_Q, SYM_SHIFT_Q, SYM_DOWN_Q, SYM_MID_DOWN_Q,
    SYM_ALT_DOWN_Q, SYM_AUX_DOWN_Q, SYM_ORIENTATION, SYM_GET, SYM_PUT, SYM_POST, SYM_HEAD, SYM_SIZE, SYM_RGB,
    SYM_ALPHA, SYM_ARGB, SYM_DATE, SYM_YEAR, SYM_MONTH, SYM_DAY, SYM_ZONE, SYM_ISOWEEK, SYM_WEEK, SYM_WEEKDAY,
    SYM_YEARDAY, SYM_JULIAN, SYM_TIME, SYM_HOUR, SYM_MINUTE, SYM_SECOND, SYM_TIMEZONE, SYM_AMOUNT, SYM_USER,
    SYM_HOST, SYM_SYSTEM, SYM_SYSTEM_GLOBAL, SYM_STACK, SYM_TRACE, SYM_NO_TRACE, SYM_COUNT
};

// Global words: first those made from the symbols above (operating systems, parse keywords), then
// those made from names (series actions and change events, frame names, port actions, trace and
// lexer events, error categories). Spelled exactly as the events name them ("put-ed", "swaped").
enum rt_word : uint32_t {
    W_WINDOWS, W_SYLLABLE, W_MACOS, W_LINUX, W_NETBSD, W_TO, W_THRU, W_NOT, W_REMOVE, W_WHILE, W_COLLECT,
    W_KEEP, W_AHEAD, W_PIPE, W_ANY, W_SOME, W_COPY, W_OPT, W_INTO, W_INSERT, W_IF, W_QUOTE, W_SET, W_CASE,
    W_END, W_AT, W_BACK, W_FIND, W_HEAD, W_HEAD_Q, W_INDEX_Q, W_LENGTH_Q, W_NEXT, W_PICK, W_SKIP, W_SELECT,
    W_TAIL, W_TAIL_Q, W_CHANGE, W_CHANGED, W_CLEAR, W_CLEARED, W_SET_PATH, W_APPEND, W_APPENDED, W_MOVE,
    W_MOVED, W_POKE, W_POKED, W_PUT, W_PUT_ED, W_REMOVED, W_RANDOM, W_RANDOMIZED, W_REVERSE, W_REVERSED, W_SORT,
    W_SORTED, W_SWAP, W_SWAPED, W_TAKE, W_TAKEN, W_TRIM, W_TRIMMED, W_INSERTED, W_UPPERCASE, W_LOWERCASE,
    W_CHECKSUM, W_PUSH, W_POP, W_FETCH, W_MATCH, W_ITERATE, W_PAREN, W_ANON_TAG, W_BODY_TAG, W_NOT_FOUND_TAG,
    W_ADD, W_SUBTRACT, W_DIVIDE, W_ON_PARSE_EVENT, W_ON_CHANGE_STAR, W_ON_DEEP_CHANGE_STAR, W_TYPE, W_ID, W_TRY,
    W_CATCH, W_NAME, W_MULTIPLY, W_BROWSE, W_OPEN, W_CREATE, W_CLOSE, W_DELETE, W_MODIFY, W_QUERY, W_READ,
    W_RENAME, W_UPDATE, W_WRITE, W_PRESCAN, W_SCAN, W_LOAD, W_ERROR, W_COMMENT, W_INIT, W_EXEC, W_CALL,
    W_RETURN, W_ENTER, W_EXIT, W_PROLOG, W_EPILOG, W_THROW, W_EXPR, W_INTERP_CALLBACK_TAG, W_LEXER_CALLBACK_TAG,
    W_PARSE_CALLBACK_TAG, W_COMPARE_CALLBACK_TAG, W_NOTE, W_SYNTAX, W_SCRIPT, W_MATH, W_ACCESS, W_USER,
    W_INTERNAL, W_INVALID_ERROR, W_LOCAL, W_APPLIED_TAG, W_COUNT
};

// Refinements that errors name (script/invalid-refine-arg), in the order they are made.
enum rt_refinement : uint32_t { REF_LOCAL, REF_EXTERN, REF_COMPARE, REF_PART, REF_SKIP, REF_WITH, REF_SEEK, REF_COUNT };

// Made once by runtime::init while booting: every word and refinement is a root-block cell that
// never moves, so the addresses below stay valid for the process's life.
void runtime_words_init();
void refinement_words_init();

uint32_t rt_symbol_id(rt_symbol which);
const cell* rt_word_cell(rt_word which);
// The refinement! value; none before refinement_words_init has run.
const cell* rt_refinement_word(rt_refinement which);

// When the value's node is on the cycle stack, appends its marker ("[...]", "(...)", ... when
// molding, "..." when forming), lowers *budget by the marker's length and answers true.
// The budget may go negative: the caller's /part handling treats that as exhausted.
bool mold_cycle_check(const cell* value, cell* buffer, int32_t* budget, bool mold);
// Appends four spaces per level to the string buffer; returns budget - 4 * level.
int32_t mold_indent(cell* buffer, int32_t level, int32_t budget);
