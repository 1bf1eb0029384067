// Hash tables: an open-addressing index over a backing block of cells (kinds 0-4), and a plain
// integer table on the process heap. The block is the data, the index only points into it, so an
// index can always be rebuilt from its block. Never keep an address returned here across a call
// that allocates: fetch it again through the table's node.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// ---- hashing ------------------------------------------------------------------------------------
// The runtime's seed: 0 until the random-number module starts, then a fixed constant for the run.
extern uint32_t hash_seed;
uint32_t murmur3_x86_32(const void* data, uint32_t length, uint32_t seed);
uint32_t murmur3_hash(const void* data, uint32_t length);
uint32_t hash_mix(uint32_t x);
uint32_t pow2_round_up(uint32_t x);   // x itself when x is a power of two
// The code points of a string from its head, as UTF-32; case-folded unless case_sensitive.
uint32_t string_hash(const cell* str, bool case_sensitive);
// Hash of a key for the kind 0 and 1 tables (always case-folded, so every search mode finds).
uint32_t value_hash(const cell* value);

// ---- tables over a backing block ----------------------------------------------------------------
enum hash_kind : uint32_t { HASH_BLOCK = 0, HASH_MAP = 1, HASH_SYMBOLS = 2, HASH_INT = 3, HASH_INT_OWNED = 4 };

// The record, kept in a byte series of its own and reached through the table's node.
struct hashtable {
    int32_t live;        // live keys (kind 0: buckets in use)
    uint32_t aux;        // kind 0: reverse index node; kinds 3/4: entry size in bytes
    uint32_t chains;     // kind 0: node of the list of duplicate-key arrays
    uint32_t flags;      // node: 2 bits per bucket, 2 = empty, 1 = deleted, 0 = in use
    uint32_t keys;       // node: one 32-bit key word per bucket (kind 1: then the key's hash)
    uint32_t block;      // node of the backing block
    uint32_t occupied;   // buckets in use plus deleted buckets
    uint32_t buckets;    // a power of two, at least 4
    uint32_t upper;      // occupied count that triggers a resize
    uint32_t kind;
    // Kind 1: the text last found, by its series node and head, the mode it was found in and the
    // cell index of its key; 0 in memo_node when none. Any insertion or rebuild forgets it.
    uint32_t memo_node, memo_head, memo_index;
    int32_t memo_op;
};

constexpr double HASH_LOAD = 0.77;
constexpr uint32_t BUCKET_IN_USE = 0, BUCKET_DELETED = 1, BUCKET_EMPTY = 2;

inline hashtable* hashtable_record(node_ref table) { return at<hashtable>(series_of(table)->head); }
uint32_t hashtable_bucket_state(node_ref table, uint32_t bucket);
int32_t hashtable_key_word(node_ref table, uint32_t bucket);

// size keys; block: a block cell to index from its head (kinds 0-2), or null for a fresh block;
// width: value cells per entry (kinds 3/4).
node_ref hashtable_new(uint32_t size, const cell* block, uint32_t kind, uint32_t width);
// Kinds 3/4, 32-bit keys. The value cells are unset! after put.
cell* hashtable_put(node_ref table, uint32_t key);
cell* hashtable_get(node_ref table, uint32_t key);
cell* hashtable_delete(node_ref table, uint32_t key);
// Kinds 0-2: indexes a cell that is already in the backing block. Returns 2 when a rebuild from the
// block indexed it already, else 0.
uint32_t hashtable_put_value(node_ref table, const cell* key);
void hashtable_put_value_key(node_ref table, const cell* key);
// Kinds 0 and 1: the block cell of a key equal under op (COMP_EQUAL, COMP_STRICT_EQUAL, COMP_SAME),
// or null. Kind 0 searches forwards from cell index start in steps of skip, or with last backwards
// before start.
cell* hashtable_find_value(node_ref table, const cell* key, int32_t op, uint32_t start = 0, uint32_t skip = 1,
                           bool last = false);
// Kind 1: resumes a search; start with a zeroed cursor.
struct hash_cursor {
    uint32_t bucket, step, visited, hash;
    bool started;
};
cell* hashtable_find_next_value(node_ref table, const cell* key, int32_t op, hash_cursor& cursor);
void hashtable_delete_value(node_ref table, const cell* key);
void hashtable_remove(node_ref table, uint32_t index, uint32_t n);
void hashtable_clear(node_ref table);
node_ref hashtable_copy(node_ref table, node_ref block);
void hashtable_rehash(node_ref table, uint32_t start, uint32_t step);
// Kind 0 upkeep while the block changes. hashtable_index_range indexes cells [start, start + n)
// that are not indexed yet (hashtable_remove unindexes them). hashtable_move is called after the
// block opened or closed a gap: the cells that stood from `from` on now stand delta cells further,
// and their stored indexes (buckets, duplicate chains, reverse index) shift with them; a closed gap
// must have been unindexed first.
void hashtable_index_range(node_ref table, uint32_t start, uint32_t n);
void hashtable_move(node_ref table, uint32_t from, int32_t delta);
// Indexes the whole block again, sized for its cell count.
void hashtable_reindex(node_ref table);
// Rebuilds the index from the block with room for n keys (kinds 3/4 also drop deleted entries).
void hashtable_rebuild(node_ref table, uint32_t n);
// The series of a table, for the collector: mark_series keeps a buffer, mark_cells a block with
// its cells.
void hashtable_gc_mark(node_ref table, void (*mark_series)(node_ref), void (*mark_cells)(node_ref));

// Symbol table (kind 2 over the symbol block): the 1-based id of the name, added when new.
uint32_t symbol_table_find_or_add(node_ref table, const uint8_t* name, uint32_t length, bool exact);
// Only the case-insensitive pass: the canonical id of any ASCII-case variant, added when none.
uint32_t symbol_table_find_or_add_canonical(node_ref table, const uint8_t* name, uint32_t length);
// Context word tables (kind 2 over word cells). Returns the entry index, or -1; with a context node
// a missing word is added as a word! cell bound to it, its index stored in *added.
int32_t hashtable_find_or_add_symbol(node_ref table, uint32_t symbol, node_ref context, bool case_insensitive,
                                     int32_t* added);

// ---- plain integer table (process heap, for the collector) --------------------------------------
struct int_table {
    uint32_t live;
    uint32_t* flags;
    uint32_t* entries;   // {key, value} per bucket
    uint32_t occupied, buckets, upper;
};
int_table* int_table_new(uint32_t size);
void int_table_put(int_table* table, uint32_t key, uint32_t value);
int32_t int_table_find(const int_table* table, uint32_t key);   // bucket or -1
uint32_t* hashtable_int_entry(int_table* table, uint32_t key);   // address of the value or null
int32_t int_table_resize(int_table* table, uint32_t n);           // -1 when it cannot grow
void int_table_free(int_table* table);
