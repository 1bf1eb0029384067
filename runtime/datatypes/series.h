// series!: the actions that blocks, strings, binaries, vectors and images inherit. They treat the
// content as opaque units of the buffer's width and read a value only for pick, poke and
// random/only. No buffer or cell address survives an allocation or an owner notification.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

namespace series {

// Tells the series' owner of a change (nothing for a series that is not owned); value is what the
// change stores, or null.
void notify(const cell* series, owner_event event, int32_t index, int32_t count, const cell* value = nullptr);

// ---- the series payload read against its buffer (runtime/cell.h has the raw words) -----------
// Units from the buffer's offset to the tail. Inline, and without a division for the widths of
// blocks and byte texts: every series action reads it.
inline uint32_t units(const cell* s)
{
    const series_buffer* b = series_of(series_node(s));
    uint32_t unit = series_unit(b), bytes = series_used_bytes(b);
    return unit == CELL_BYTES ? bytes / CELL_BYTES : unit == 1 ? bytes : bytes / unit;
}
// The head index within the buffer: a negative head reads as 0, one past the tail as the tail.
inline uint32_t head_clamped(const cell* s)
{
    int32_t head = series_head_raw(s);
    uint32_t n = units(s);
    return head <= 0 ? 0 : uint32_t(head) > n ? n : uint32_t(head);
}
// Units from the clamped head to the tail.
inline uint32_t length_clamped(const cell* s) { return units(s) - head_clamped(s); }

// The growth rule of every series that grows by appending: room for `need` bytes from the
// buffer's offset; when short, the buffer grows to twice the need, and a need whose double
// reaches 2 GB raises internal/no-memory. Returns the buffer, which may have moved.
series_buffer* room_for(node_ref node, uint64_t need);

// Shared walking routines (no errors).
bool ks_tail_q(const cell* s);
uint32_t buffer_length(const cell* s);                 // units from the buffer offset to the tail
bool skip_in_bounds(cell* s, int32_t n);
int32_t get_length(cell* s, bool from_offset);         // clamps a head past the tail
int32_t at_position(const cell* s, const cell* n, bool one_based);

// Pick and poke without touching the series cell: the result goes to `out` / the value is stored.
cell* pick_into(const cell* s, int32_t n, cell* out);
void poke_at(const cell* s, int32_t n, const cell* value);

// ---- sort's refinements, read alike by the block and string sorts ------------------------------
// The flags the sorts give the engines' compare routines: bit 0 reverse, bit 1 whole records, bits
// 2-31 the record size (whole records) or the offset of the compared unit in a record.
constexpr uint32_t SORT_REVERSE = 1, SORT_ALL = 2;
struct sort_plan {
    uint32_t head;            // the first unit sorted
    uint32_t count;           // units sorted, a whole number of records
    uint32_t size;            // units per record
    uint32_t flags;
    const cell* function;     // the /compare function, or null
};
// Reads /part, /skip, /compare, /all and /reverse against the `length` (>= 0) units from the head.
// False when nothing is to be sorted; a negative /part moves the head back first (to 0 when fewer
// units precede it, and then nothing is sorted). Raises script/invalid-refine-arg,
// script/bad-refines and script/out-of-range.
bool plan_sort(cell* series, int64_t length, cell* skip, cell* comparator, cell* part, bool all, bool reverse,
               sort_plan* plan);

// Actions.
cell* head_q(cell* s);
cell* tail_q(cell* s);
cell* index_q(cell* s);
int32_t length_q(cell* s);
cell* head(cell* s);
cell* tail(cell* s);
cell* back(cell* s);
cell* next(cell* s);
cell* at(cell* s, cell* n);
cell* skip(cell* s, cell* n);
cell* pick(cell* s, int32_t n, cell* index);
cell* poke(cell* s, int32_t n, cell* index, cell* value);
cell* clear(cell* s);
cell* remove(cell* s, cell* part, cell* key);
cell* reverse(cell* s, cell* part, cell* skip);
cell* take(cell* s, cell* part, bool deep, bool last);
cell* copy(cell* s, cell* result, cell* part, bool deep, cell* types);
cell* move(cell* source, cell* target, cell* part);
cell* random(cell* s, bool seed, bool secure, bool only);
// The field owned: reflect answers the owner record [object word] or none; modify with none drops
// the owner link, with [object word] makes that field the owner (deep, tracked).
cell* reflect(cell* s, cell* field);
cell* modify(cell* s, cell* field, cell* value, bool case_);

void init();

}  // namespace series
