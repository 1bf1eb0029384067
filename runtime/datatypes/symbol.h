// symbol!: the interned names behind every word. A symbol id is the 1-based position of its cell in
// the symbol block; ids never change and symbols are never removed. An alias always points to a
// canonical symbol (alias -1), never to another alias.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// Symbol cell: header 13; data1 alias (canonical id, or -1 when canonical); data2 node of the name
// as a string! (0 until first needed); data3 node of the UTF-8 name, its tail on a closing NUL.
struct symbol_state {
    cell* block;      // the symbol block's cell, in the root block (never moves)
    node_ref table;   // the name index (kind 2 hash table over the block)
};
extern symbol_state symbol_s;

namespace symbol {
constexpr uint32_t BLOCK_CELLS = 4000;

void init();         // registers symbol!
void mark(const cell* c);   // the name and the conversion buffer
void block_init();   // the symbol block, in the root block
void table_init();   // the name index, once the global context exists

uint32_t make(const char* name);
uint32_t make_canonical(const char* name);
uint32_t search_part(const uint8_t* text, uint32_t length);
// The text of a string from its head (length code points, -1 for all) as a symbol.
uint32_t search(const cell* str, int32_t length);

uint32_t count();
inline cell* cell_of(uint32_t id)
{
    KIV_CHECK(id >= 1 && id <= count());
    return at<cell>(series_of(symbol_s.block->data2)->head) + (id - 1);
}
// The canonical id: the alias when there is one, else id itself.
inline uint32_t resolve(uint32_t id)
{
    int32_t alias = int32_t(cell_of(id)->data1);
    return alias > 0 ? uint32_t(alias) : id;
}
inline int32_t get_alias(uint32_t id) { return int32_t(cell_of(id)->data1); }
// The UTF-8 name (not NUL-counted) and its byte length.
const uint8_t* name(uint32_t id, uint32_t* length);
// Makes the name string when there is none yet; returns its node.
node_ref get_string(uint32_t id);
cell* get(uint32_t id);   // the symbol cell, its name string made
int32_t compare(cell* value1, cell* value2, int32_t op);
}  // namespace symbol
