// Blocks: series of cells, their walking routines, constructors and actions. The root block is
// fixed (never moves) and holds what must stay reachable for the process's life. A cell inside a
// block moves with its buffer: fetch it again by node and index after anything that allocates.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

constexpr uint32_t ROOT_BLOCK_CELLS = 9696;
extern cell root_block;

namespace block {
// ---- constructors (each writes the whole header: the new-line bit is clear) ---------------------
// A new empty block of room for `capacity` cells (at least 1), written into `slot`, which must not
// lie in a movable buffer (it is written after the allocation).
cell* make_at(cell* slot, uint32_t capacity);
// A new empty block appended to `parent` (the root block when null), which may be a cell inside
// another block. The address returned is valid until the next allocation.
cell* make_in(cell* parent, uint32_t capacity);
// Fixed: the cells live outside the collected frames and never move; otherwise an ordinary
// buffer whose cells all read unset.
cell* make_fixed(cell* slot, uint32_t capacity, bool fixed = true);
cell* make_in_parent(cell* parent, uint32_t capacity);
cell* push(const cell* blk);
cell* push_only_star(uint32_t capacity);

// ---- walking and storage (no errors; `blk` is any any-block cell) -------------------------------
cell* rs_append(cell* blk, const cell* value);   // appends a copy, new-line bit kept
uint32_t rs_length(const cell* blk);              // cells from the head, 0 when it lies past the tail
cell* rs_head(const cell* blk);
cell* rs_tail(const cell* blk);
int32_t ks_length_q(const cell* blk);             // negative when the head lies past the tail
bool ks_next(cell* blk);
cell* ks_head(cell* blk);                         // clamps a head past the tail
cell* ks_tail(const cell* blk);
bool ks_tail_q(const cell* blk);
cell* ks_abs_at(const cell* blk, uint32_t n);
void ks_clear(cell* blk);
void ks_clear_at(cell* blk, uint32_t n);
cell* ks_append(cell* blk, const cell* value);
cell* ks_append_block(cell* target, const cell* source);
// Moves the target's head past what it inserts: the target must not lie in a movable buffer.
cell* ks_append_each(cell* target, const cell* source);
// Inserts a copy at the head (or the buffer offset); advance moves the head past it, and then
// blk must not lie in a movable buffer (without advance it may).
cell* insert_value(cell* blk, const cell* value, bool advance, bool at_start);
cell* insert_star();       // value in the arguments base, block in the cell below it
cell* append_star();
cell* append_arg_star();   // block in the arguments base, value after it
// The cell after the first word!, set-word!, lit-word! or get-word! naming the word's symbol (exact:
// the same symbol; otherwise ASCII case ignored), or &none_value (no match, or the match is last).
const cell* find_word(const cell* word, const cell* blk, bool exact);
// The cell after the first one equal to value (search equality), or &none_value.
const cell* find_by_compare(const cell* blk, const cell* value);
// Removes the first equal cell; true when it stood at or before the head index.
bool remove_by_compare(cell* blk, const cell* value, bool from_start);
// A copy of the cells from head to tail, pushed on the argument stack. deep copies nested block!
// values (and, with deep_any, parens and paths); internal/no-cycle for a block inside itself.
cell* clone(const cell* blk, bool deep, bool deep_any);
// Replaces every step-th cell of [first, end) whose type `types` accepts by its copy.
void copy_typed(const cell* blk, uint32_t first, uint32_t end, uint32_t step, bool deep, const cell* types);
// Replaces cell `index` (from the buffer's first cell) by its copy, made by its type's copy action.
void copy_at(const cell* blk, uint32_t index, bool deep, const cell* types);
// Clears the new-line marker of every cell of a block buffer.
void clear_new_lines(node_ref node);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* value, uint32_t type);
int32_t form(cell* blk, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* blk, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t mold_each(cell* blk, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* blk1, cell* blk2, int32_t op);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
cell* copy(cell* blk, cell* result, cell* part, bool deep, cell* types);
// The cell a path step by index n reads, in the block's buffer (copy it before anything
// allocates); null when n names no cell, where the step gives none. Inline: the evaluator reads
// b/2 through it without the path walk.
inline const cell* path_cell(const cell* blk, int32_t n)
{
    int64_t pos = int64_t(series_head_raw(blk)) + n - (n > 0);
    const series_buffer* b = series_of(series_node(blk));
    if (n == 0 || pos < 0 || pos >= int64_t(series_used_bytes(b) / CELL_BYTES)) return nullptr;
    return at<cell>(b->head) + pos;
}

// ---- search, select, put (block_search.cpp) ------------------------------------------------------
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
           bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse, bool tail, bool match);
cell* put(cell* series, cell* key, cell* value, bool case_);
// The set operations (op 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference) on the
// series in the first two cells of the arguments window; the result replaces the first.
cell* do_set_op(int32_t op, bool case_, cell* skip);

// ---- changes (block_modify.cpp) -------------------------------------------------------------------
// append (append? set) and insert: one routine; part and dup are counts, -1 when not given.
cell* append_insert(cell* series, const cell* value, int32_t part, bool only, int32_t dup, bool append);
cell* append(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* insert(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* change(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* take(cell* series, cell* part, bool deep, bool last);
cell* swap(cell* series1, cell* series2);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);

// ---- sort (block_sort.cpp) ------------------------------------------------------------------------
cell* sort(cell* series, bool case_, cell* skip, cell* comparator, cell* part, bool all, bool reverse, bool stable);
// The comparisons given to the sorting engines. flags: bit 0 reverse, bit 1 whole records, bits
// 2-31 the record size (bit 1) or the offset of the compared cell. sort_compare reads cells in
// place (context: the compare code); sort_call's records are indexes into a rooted copy.
int32_t sort_compare(const void* a, const void* b, const void* op, uint32_t flags);
int32_t sort_call(const void* a, const void* b, const void* context, uint32_t flags);

// Installed by the lexer: the values of a string! as a new block pushed on the argument stack.
extern cell* (*string_scan_hook)(const cell* str);

void init();
}  // namespace block

// The next free cell at the block's tail (unset!); grows the buffer unless it is fixed.
cell* block_alloc_tail(cell* blk);
void root_block_init();
