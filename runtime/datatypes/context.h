// context!: the tables that give words their values, and binding. A context is a node whose buffer
// holds two cells: the context cell and the owner cell. Values live in a block (heap contexts) or in
// a window of the argument stack while a call runs (stack contexts); a stack context whose window is
// gone must never be read.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// Context cell: header 14 | kind << 11 | CONTEXT_ON_STACK | CONTEXT_OF_OBJECT | CONTEXT_SHARED_WORDS
// | CONTEXT_SET_FLAGS; data1 word table (kind 2 hash table whose block holds one word! cell per
// entry); data2 values block node, or for a stack context the reference of the call's first
// argument cell (0 while no call runs); data3 the set-flags node (with CONTEXT_SET_FLAGS) or 0.
// Owner cell: unset! until the maker stores the object! or function! that owns the context.
// A context! value held elsewhere (the more block of a native or action) is a copy of the context
// cell whose data3 is the context's node: it keeps the context alive and leads back to it.
//
// Objects copied from one another share one word table: an object holds only its values until it
// gains a word, when it takes a copy of the table for itself (CONTEXT_SHARED_WORDS marks a table
// that another context may use too). So the entries of an object's table are bound to no context
// (data1 0): `word_at` gives an entry bound to the context it is read through. Which fields of an
// object had a value stored is the object's own: a bit per position in a byte series of its own
// (data3), made at the first store and dropped by `clear_set_flags`.
constexpr uint32_t CONTEXT_KIND_SHIFT = 11;
constexpr uint32_t CONTEXT_SET_FLAGS = 0x100000u;
constexpr uint32_t CONTEXT_SHARED_WORDS = 0x200000u;
constexpr uint32_t CONTEXT_ON_STACK = 0x400000u;
constexpr uint32_t CONTEXT_OF_OBJECT = 0x1000000u;
enum context_kind : uint32_t { CONTEXT_GLOBAL = 0, CONTEXT_FUNCTION = 1, CONTEXT_OBJECT = 2 };

struct context_state {
    node_ref global;
    uint32_t self_symbol;
};
extern context_state context_s;

namespace context {
constexpr uint32_t GLOBAL_SLOTS = 4000;

// Installed by object!'s init: runs the owner's on-change* handler after a field was set. Every
// cell it is handed is on the argument stack.
extern void (*fire_on_set_hook)(cell* owner, cell* word, cell* old_value, cell* new_value);

void init();          // registers context!
void mark(const cell* c);   // the word table, and the values unless they live on the argument stack
void global_init();   // the global context
void words_init();    // the symbols this module names, once the symbol table exists

inline cell* cell_of(node_ref ctx)
{
    KIV_CHECK(ctx != 0);
    return at<cell>(series_of(ctx)->head);
}
inline cell* owner_of(node_ref ctx) { return cell_of(ctx) + 1; }
inline uint32_t kind_of(node_ref ctx) { return (cell_of(ctx)->header >> CONTEXT_KIND_SHIFT) & 3; }
inline bool on_stack(node_ref ctx) { return (cell_of(ctx)->header & CONTEXT_ON_STACK) != 0; }
inline node_ref table_of(node_ref ctx) { return cell_of(ctx)->data1; }
uint32_t word_count(node_ref ctx);

// source: a context whose word table the new one starts as a copy of (an object context shares
// it), or 0.
node_ref create(uint32_t slots, bool on_stack, bool object, node_ref source, uint32_t kind);
node_ref make(const cell* spec, bool on_stack, bool object, uint32_t kind);
cell value_of(node_ref ctx);
// word must not live in a movable buffer: it is rebound to the new context.
node_ref clone(cell* word, uint32_t kind);

// Positions are value positions: in the global context an alias entry shares its canonical
// entry's position.
int32_t find_word(node_ref ctx, uint32_t symbol, bool case_insensitive);
int32_t find_or_add(node_ref ctx, uint32_t symbol, bool case_insensitive, int32_t* added);
cell* get_word(node_ref ctx, uint32_t i);   // entry i of the word table (read its symbol)
cell word_at(node_ref ctx, uint32_t i);     // entry i as a word! bound to the context
cell* get_value_at(node_ref ctx, uint32_t i);
// The value cell of position i, or null when there is none to read: no values (a stack context
// outside its call), or i past them.
cell* slot_of(node_ref ctx, uint32_t i);
// The symbol's entry (exact id) bound to the context, or its global word.
cell resolve_word(node_ref ctx, uint32_t symbol);
cell* get_global_value(uint32_t symbol, node_ref ctx);

uint32_t add_word(node_ref ctx, uint32_t symbol);
// The global entry of the symbol (added when absent). The address is valid until the next
// allocation; a case variant asked with keep_name gets a root-block copy carrying its own symbol.
cell* add_global_word(uint32_t symbol, bool case_insensitive, bool keep_name);
cell* add_with_value(node_ref ctx, uint32_t symbol, const cell* value);
cell* put_value(node_ref ctx, uint32_t symbol, const cell* value);
bool collect_set_words(node_ref ctx, const cell* block);

cell* get_in(const cell* word, node_ref ctx);
// word must not live in a movable buffer: its position is stored into it.
cell* set_in(cell* word, const cell* value, node_ref ctx, bool notify);
cell* push_value_at(node_ref ctx, uint32_t i);
void set_at(node_ref ctx, uint32_t i);
void set_at_keep_old(node_ref ctx, uint32_t i);

// The set flags of an object context: whether a value was stored through word i. Flagging may
// allocate (the flags' first store, or a context that gained words since).
bool set_flag_q(node_ref ctx, uint32_t i);
void flag_set(node_ref ctx, uint32_t i);
void clear_set_flags(node_ref ctx);
// The target takes a copy of the source's flags (none when the source has none).
void copy_set_flags(node_ref source, node_ref target);

int32_t bind_word(node_ref ctx, cell* word);
// Binds the block deep. Each block entered is held on the cycle stack, so a block inside itself
// is walked once and nesting past its bound raises internal/too-deep.
cell* bind(cell* block, node_ref ctx, bool self_word);
}  // namespace context

// ---- context slots for compiled code: the value to store is the stack top -----------------------
// Slot n of the context (the values block, or the running call's arguments for a stack context).
// A context without values (a function that is not running), or n past them: script/not-defined
// naming word n.
cell* context_get_slot(node_ref ctx, uint32_t n);
// Stores into slot n with the unset check (script/need-value naming word n); context_set_slot
// then empties the arguments window, context_set_local does not.
void context_set_slot(node_ref ctx, uint32_t n);
void context_set_local(node_ref ctx, uint32_t n);
// No unset check; an object's word n is flagged as set. Empties the window.
void object_set_slot(node_ref ctx, uint32_t n);
