// string! and the routines that every text kind (file!, url!, tag!, email!, ref!) shares: storage
// in units of 1, 2 or 4 bytes widened in place, construction, comparison, form and mold.
// Must not break: a buffer's unit only grows, and routines that grow or widen a string take its
// node and hand back the buffer fetched again (never reuse an address from before the call).
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace string {

// Where concatenate puts the source: at the tail, inserted at an offset, or over the units there.
enum concat_mode : uint32_t { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };

// ---- constructors: the slot must not lie in a movable buffer -------------------------------------
// A new empty string of room for `size` code points of `unit` bytes, written into `slot`.
cell* make_at(cell* slot, uint32_t size, uint32_t unit = 1);
cell* make_at_unit(cell* slot, uint32_t size, uint32_t unit);
cell* push(const cell* str);
// Decodes bytes into a new string! (slot null: a new argument-stack cell). encoding 0 is UTF-8
// (a leading byte-order mark is skipped), -1 UTF-16LE; any other raises script/invalid-arg.
cell* load_at(const uint8_t* bytes, uint32_t count, cell* slot, int32_t encoding);
cell* load_in(const uint8_t* bytes, uint32_t count, cell* blk, int32_t encoding);
cell* load(const uint8_t* bytes, uint32_t count, int32_t encoding);

// ---- unit access --------------------------------------------------------------------------------
uint32_t get_char(const uint8_t* p, uint32_t unit);
uint8_t* ks_head(cell* str);   // sets a head past the tail back to the tail
uint8_t* ks_tail(const cell* str);
bool ks_tail_q(const cell* str);
uint32_t ks_abs_at(const cell* str, uint32_t index);
uint32_t ks_length_q(const cell* str);
uint32_t ks_abs_length_q(const cell* str);
void ks_reset(cell* str);

// ---- writing code points ------------------------------------------------------------------------
// Appending widens a unit-1 string above 127; writing at a place widens only above 255.
series_buffer* append_char(node_ref node, uint32_t cp);
series_buffer* poke_char(node_ref node, const uint8_t* address, uint32_t cp);
// index counts from the first used unit; at the tail it appends, past it raises script/out-of-range.
series_buffer* poke_char_at(node_ref node, uint32_t index, uint32_t cp);
series_buffer* insert_char_at(node_ref node, uint32_t index, uint32_t cp);
void remove_at(cell* str, uint32_t index, uint32_t n);
void truncate_at(node_ref node, uint32_t n);
void move_chars(cell* source, cell* target, uint32_t n);
series_buffer* widen(node_ref node, uint32_t from, uint32_t to);
// Copies the source's units (from start, -1: the first; limit units, -1: to the tail) into target
// at byte_offset as target_unit units. With no target, the source itself moves to a new
// allocation of new_size bytes first. Unless keep_tail, the target's tail and unit are set.
series_buffer* copy_widen(series_buffer* source, series_buffer* target, uint32_t new_size, uint32_t target_unit,
                          uint32_t byte_offset, int32_t start, int32_t limit, bool keep_tail);

// ---- appending text -----------------------------------------------------------------------------
// The source's units from its head (at most part when part >= 0) go into the target by mode;
// offset counts units from the target's head. keep_source: never widen the source.
series_buffer* concatenate(const cell* target, const cell* source, int32_t part, uint32_t offset, bool keep_source,
                           uint32_t mode);
series_buffer* append_string(const cell* target, const cell* source, int32_t part, uint32_t offset, bool keep_source,
                             uint32_t mode);
// Appends each byte as a code point 0-255; returns the buffer's cell.
cell* concatenate_literal(cell* buffer, const char* text);
cell* concatenate_literal_part(cell* buffer, const uint8_t* bytes, uint32_t n);

// ---- numbers and small searches -----------------------------------------------------------------
const char* byte_to_hex(uint8_t byte);           // valid until the next call
const char* to_hex(int32_t value, bool trim);     // valid until the next call
// Appends an ASCII text for form and mold; returns the part budget less its length.
int32_t emit_literal(cell* buffer, const char* text, int32_t part);
// The decimal number in the byte range, correctly rounded; `remaining` gets the unread count.
double to_float(const uint8_t* bytes, uint32_t length, int32_t* remaining);
int32_t find_char(const cell* str, uint32_t cp);  // units from the head, -1 when absent
bool starts_with_literal_q(const cell* str, const char* text);

// ---- actions ------------------------------------------------------------------------------------
void init();
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
// The comparison of two texts (also for symbols, words and parse with match set).
int32_t equal_q(const cell* value1, const cell* value2, int32_t op, bool match);

// ---- search, select, path steps, set operations (string_search.cpp) ----------------------------
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
           bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse, bool tail, bool match);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
// Whether the code point at the head is in the bitset (false at the tail).
bool head_in_bitset_q(const cell* str, const cell* bitset);
// Whether "<" stands at the head and ">" just after the tag's text would end.
bool tag_delimiters_q(const cell* str, const cell* tag);
// The parse engine's test of one value at the head.
bool match_value(const cell* str, const cell* value, int32_t op);
// Whether cp equals one of the units at head, head + step, ... (folded unless case_).
bool has_char_step_q(const cell* str, uint32_t cp, uint32_t step, bool case_);
// The set operations (op 8 unique to 12 difference) on the texts in the first two cells of the
// arguments window; the first takes the result's buffer.
cell* do_set_op(bool case_, cell* skip, int32_t op);

// ---- changes (string_modify.cpp) ----------------------------------------------------------------
cell* append(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* insert(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* change(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* swap(cell* series1, cell* series2);
cell* take(cell* series, cell* part, bool deep, bool last);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);

// ---- sort (string_sort.cpp) -------------------------------------------------------------------
cell* sort(cell* series, bool case_, cell* skip, cell* comparator, cell* part, bool all, bool reverse, bool stable);

// ---- mold helpers -------------------------------------------------------------------------------
// Writes one code point in the escaped form of a quoted string or a char! literal.
void mold_char(cell* buffer, uint32_t cp, bool all);
void count_quotes(const uint8_t* start, const uint8_t* end, uint32_t unit, uint32_t* quotes, uint32_t* new_lines);
// Whether the "{" at start has its partner before end.
bool brace_closes_q(const uint8_t* start, const uint8_t* end, uint32_t unit);

// The code points from the head to the tail, copied as UTF-8 text (for diagnostics, tests and
// conversions that read text at the border). Not the scratch-buffer conversion string_to_utf8.
std::string utf8_copy(const cell* str);
}  // namespace string

// Body of uppercase (upper 1) and lowercase (upper 0): a char! or a text value changed in place.
// part: null when /part is absent, else an integer! count or a position in the same series.
cell* change_case(cell* value, const cell* part, uint32_t upper);
