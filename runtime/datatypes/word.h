// word! and its kinds (set-word!, lit-word!, get-word!, refinement!) and issue!: one cell layout,
// different evaluation and mold. Words made while booting are root-block copies that never move;
// any other word cell returned here is valid only until the next allocation.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// Word cell: header 15-20; data1 context node (the global context for words made from text, 0 for
// a refinement from refinement::load); data2 symbol id as written; data3 position in the context,
// or -1 (issues, unresolved words, self bound by bind).

namespace word {
void mark(const cell* c);   // the word's context
void init();
using ::any_word_q;   // word/any-word?: the class of runtime/cell.h

// Once the symbol table and the global context exist: gives every type name its word, now and
// for the types registered later (installs datatype::typename_word_hook).
void words_init();
cell* load(const char* name);
cell* from_symbol(uint32_t symbol);
// The slot is written after the word is added to the global context, which allocates: it must not
// lie in a movable buffer.
cell* make_at(uint32_t symbol, cell* slot);
cell* make_in(uint32_t symbol, cell* block);
cell* load_with(const char* name, cell* block);
cell* push_global(uint32_t symbol);

cell* push(const cell* word);
cell* push_from(node_ref ctx, uint32_t i);
cell* get_symbol(const cell* word);
cell* get(const cell* word);
// Stores a copy of value, no unset check; word_set (below, outside the namespace) is the checked
// store of the stack top.
cell* set(cell* word, const cell* value);
cell* push_get(const cell* word);
cell* set_star();
cell* as_string(const cell* word);
uint32_t scan_type(const cell* word);

// The lexer's services, installed when it starts: the datatype a name loads as (check_name until
// then), and loading a string! as one value (pushed; returns it; null until then).
extern uint32_t (*name_scan_hook)(const uint8_t* text, uint32_t length);
extern cell* (*string_load_hook)(const cell* str);
// What a text loads as, judged by the word syntax alone: the word kind it spells (a, a:, :a, 'a,
// /a, #a), TYPE_INTEGER for text that starts like a number, 0 for anything else. Reads only the
// length bytes given.
uint32_t check_name(const uint8_t* text, uint32_t length);

cell* make(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* index_q(cell* word);
}  // namespace word

// ---- words for compiled code: the value to store is the stack top -------------------------------
// Stores into the word's context (word::set, which takes its value as an argument); an unset
// value raises script/need-value naming the word. word_set then empties the arguments window
// (only its result cell is left), word_set_from_stack leaves it as it is.
void word_set(cell* word);
void word_set_from_stack(cell* word);
// The word's value (word::get); unset raises script/no-value naming the word.
cell* word_get_checked(const cell* word);

namespace set_word {
void init();
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace set_word

namespace lit_word {
void init();
cell* push(const cell* word);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace lit_word

namespace get_word {
void init();
cell* push(const cell* word);
cell* push_from(node_ref ctx, uint32_t i);
cell* push_value(const cell* word);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace get_word

namespace refinement {
void init();
cell* push(const cell* word);
cell* push_from(node_ref ctx, uint32_t i);
cell* load(const char* name);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
}  // namespace refinement

namespace issue {
void init();
cell* make_at(cell* slot, const char* name);
cell* make_in(const char* name, cell* block);
cell* load(const char* name);
cell* push(const cell* word);
cell* make(cell* proto, cell* spec, uint32_t type);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
}  // namespace issue
