// binary!: a series of bytes in string!'s cell (word 1 the head index, word 2 the node of a unit-1
// buffer), and the base-2, 16, 58 and 64 codecs between bytes and text. Must not break: no routine
// keeps a buffer address across anything that allocates; the bytes a value stands for are gathered
// into a private copy before the target changes, so a binary may be written into itself.
#pragma once
#include <cstdint>
#include <vector>
#include "runtime/cell.h"

namespace binary {
void init();

// ---- constructors: the slot must not lie in a movable buffer ------------------------------------
cell* make_at(cell* slot, uint32_t capacity);
// A new binary! holding a copy of the bytes, pushed (load) or appended to a block (load_in; the
// root block when null).
cell* load(const uint8_t* bytes, uint32_t length);
cell* load_in(const uint8_t* bytes, uint32_t length, cell* blk);
cell* push(const cell* value);

// ---- access (no allocation) ---------------------------------------------------------------------
uint32_t ks_length_q(const cell* value);   // bytes from the head (0 when the head lies past the tail)
uint8_t* ks_head(const cell* value);       // the byte at the head, clamped to the tail
uint8_t byte_at(const cell* value, uint32_t offset);   // offset counted from the head, within the length
// Stores the low 8 bits of an integer! or char!; any other value raises script/invalid-arg.
void poke_byte(uint8_t* address, const cell* value);
// Whether the byte at the head is a member of the bitset! (false at the tail).
bool byte_in_bitset_q(const cell* value, const cell* bitset);

// ---- changing the bytes (the bytes may lie anywhere, a binary's own buffer included) -------------
// Replaces the whole content, from the buffer's first byte, by a copy of the bytes.
void set_bytes(const cell* value, const uint8_t* bytes, uint32_t length);
// Inserts a copy of the bytes at head + offset (clamped to the tail).
void insert_bytes(const cell* value, uint32_t offset, const uint8_t* bytes, uint32_t length);

// ---- comparison ---------------------------------------------------------------------------------
// Byte-wise comparison of a binary with a binary or a text, a text taken as the UTF-8 bytes of its
// characters from its head. -2 for anything else. match: value2 need only be a prefix of value1.
int32_t equal_q(const cell* value1, const cell* value2, int32_t op, bool match);
// Whether value2 (a text or binary, byte-wise; a char! equal to the byte) matches at value1's head.
bool match_at_q(const cell* value1, const cell* value2, int32_t op);

// The bytes a value stands for when it is appended, inserted or converted: a char! its UTF-8, an
// integer! one byte (-128 to 255), a binary! or text its bytes (texts as UTF-8) from the head, a
// tuple! its bytes, a block! the bytes of each value in turn. part limits the units taken from a
// series (elements of a block), -1 none. Anything else raises script/bad-to-arg.
void bytes_of(const cell* value, int64_t part, std::vector<uint8_t>& out);

// ---- base-2, 16, 58 and 64 codecs ---------------------------------------------------------------
// Room the text of n bytes needs (base 58: an upper bound), and the room n code points decode into.
uint64_t enbase_room(int32_t base, uint64_t n);
uint64_t debase_room(int32_t base, uint64_t n);
// n bytes as text into out (enbase_room bytes); answers the characters written. No allocation.
uint32_t enbase_into(int32_t base, const uint8_t* bytes, uint32_t n, uint8_t* out);
// n code points of `unit` bytes each (1, 2 or 4) decoded into out (debase_room bytes); answers the
// bytes written, or -1 for text that is not valid in the base. A literal's base-16 digits must
// pair up (elsewhere an odd last digit is dropped). No allocation.
int64_t debase_into(int32_t base, const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out,
                    bool literal = false);
// The bytes of a binary! from its head as a new string!, pushed.
cell* enbase(const cell* value, int32_t base);
// The text of a string! (any unit width) or binary! from its head decoded into a new binary!,
// pushed; null, with nothing pushed, when the text is not valid in the base.
cell* debase(const cell* text, int32_t base);
bool base_q(int32_t base);   // 2, 16, 58 or 64

// ---- actions ------------------------------------------------------------------------------------
cell* to(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* and_t(cell* value1, cell* value2);
cell* complement(cell* value);
cell* or_t(cell* value1, cell* value2);
cell* xor_t(cell* value1, cell* value2);
cell* append(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* insert(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* change(cell* series, cell* value, cell* part, bool only, cell* dup);
cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with, cell* skip,
           bool last, bool reverse, bool tail, bool match);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any, cell* with,
             cell* skip, bool last, bool reverse, bool tail, bool match);
cell* trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);
}  // namespace binary
