// map!: key/value entries in a block (key cell, value cell) indexed by a kind-1 hash table. Word 1
// of the cell is 0, word 2 the entries block, word 3 the table. A removed entry keeps its place and
// bucket with its value cell's header 0, so putting the key again revives it in place.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace map {
// Lookup modes of the table's value search.
constexpr int32_t MODE_EQUAL = 0, MODE_STRICT = 2, MODE_SAME = 9;

// Writes a map into `out` (which must not lie in a movable buffer): over `entries` (a block cell of
// key/value pairs from its head, already normalised and free of repeated keys) or, when null, over
// a new block with room for `size` cells.
cell* make_at(const cell* entries, cell* out, uint32_t size);
// A new map of the pairs of a block (from its head), pushed; keys normalised and repeated keys
// folded as put does. script/invalid-arg for an odd count.
cell* from_block(const cell* pairs);
bool key_type_q(uint32_t type);
int32_t count(const cell* map);
// Stores value under key (mode 0, or 2 with case_). Both may lie anywhere: they are copied first.
void put_pair(const cell* map, const cell* key, const cell* value, bool case_);
// Adds or updates the pairs of a block (from its head); script/invalid-arg for an odd count.
cell* extend(cell* map, const cell* pairs, bool case_);
cell* push(const cell* map);
// One step of foreach over a map: sets the n words (a word, or a block of words) from the entries
// at the map cell's position (word 1, in cells), skipping removed entries where a key is due, and
// moves the position past what it took. False when no entry was left.
bool foreach_next(const cell* words, cell* map, uint32_t n);
// key, value, key, value ... of the live entries, each key starting a new line, pushed.
cell* body_of(const cell* map);
// key, value, key, value ... of the live entries with the keys as words, pushed.
cell* pairs_of(const cell* map);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
cell* reflect(cell* map, cell* field);
int32_t form(cell* map, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* map, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
int32_t compare(cell* map1, cell* map2, int32_t op);
cell* clear(cell* map);
cell* copy(cell* map, cell* result, cell* part, bool deep, cell* types);
cell* find(cell* map, cell* key, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
           bool last, bool reverse, bool tail, bool match);
int32_t length_q(cell* map);
cell* put(cell* map, cell* key, cell* value, bool case_);
cell* remove(cell* map, cell* part, cell* key);
cell* select(cell* map, cell* key, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
             bool last, bool reverse, bool tail, bool match);

void init();
}  // namespace map
