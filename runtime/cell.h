// What a cell is: one 16-byte record of four 32-bit words on every target, the datatype ids, the
// type classes (each defined here once, with the one range it means), the payload accessors and
// the checked-build assertion. A cell never holds a machine pointer: series are reached through
// 32-bit node references, routines through table indexes, operating-system objects through the
// handle registry. Read a payload through its accessor: in the checked build it refuses a cell of
// another type, whose words would be taken for a node or an index and corrupt memory.
#pragma once
#include <cstdint>
#include <cstring>

struct cell {
    uint32_t header;   // bits 0-7 datatype id; bit 30 new line before the value
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;
};
static_assert(sizeof(cell) == 16, "a value cell is 16 bytes on every target");

using node_ref = uint32_t;   // offset of a node slot in the value range; 0 is no node

enum type_id : uint32_t {
    TYPE_VALUE = 0,   // not a type: "any value" in a few routine arguments
    TYPE_DATATYPE = 1, TYPE_UNSET, TYPE_NONE, TYPE_LOGIC, TYPE_BLOCK, TYPE_PAREN, TYPE_STRING,
    TYPE_FILE, TYPE_URL, TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_SYMBOL, TYPE_CONTEXT, TYPE_WORD,
    TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE, TYPE_NATIVE, TYPE_ACTION,
    TYPE_OP, TYPE_FUNCTION, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_ROUTINE,
    TYPE_BITSET, TYPE_TRIPLE, TYPE_OBJECT, TYPE_TYPESET, TYPE_ERROR, TYPE_VECTOR, TYPE_HASH, TYPE_PAIR,
    TYPE_PERCENT, TYPE_TUPLE, TYPE_MAP, TYPE_BINARY, TYPE_SERIES, TYPE_TIME, TYPE_TAG, TYPE_EMAIL,
    TYPE_HANDLE, TYPE_DATE, TYPE_PORT, TYPE_MONEY, TYPE_REF, TYPE_POINT2D, TYPE_POINT3D, TYPE_IMAGE,
    TYPE_EVENT,
    TYPE_TABLE_SIZE = 57   // ids 0 to 56; 55 and 56 stay unregistered
};
static_assert(TYPE_EVENT == 54);

// ---- header layout ------------------------------------------------------------------------------
constexpr uint32_t HEADER_TYPE_MASK = 0xFFu;
constexpr uint32_t HEADER_NEW_LINE = 0x40000000u;
constexpr uint32_t CELL_BYTES = sizeof(cell);

// ---- the checked-build assertion ----------------------------------------------------------------
// KIV_CHECK(condition) states what the code relies on. The test executable's runtime is built
// with KIV_CHECKED, where a false condition is runtime error 98 (assertion); the product compiles
// the check to nothing, so a condition must never have a side effect.
#if defined(KIV_CHECKED)
[[noreturn]] void kiv_check_failed();
#define KIV_CHECK(condition) ((condition) ? (void)0 : kiv_check_failed())
#else
#define KIV_CHECK(condition) ((void)0)
#endif

inline uint32_t cell_type(const cell* c) { return c->header & HEADER_TYPE_MASK; }

// Changes the datatype only: the new-line bit and the flags of the header stay.
inline void cell_set_type(cell* c, uint32_t type) { c->header = (c->header & ~HEADER_TYPE_MASK) | type; }
inline void cell_clear_new_line(cell* c) { c->header &= ~HEADER_NEW_LINE; }
inline cell* copy_cell(const cell* source, cell* target)
{
    if (source != target) *target = *source;
    return target;
}

// ---- type classes -------------------------------------------------------------------------------
// The six word kinds, word! to issue! (15-20): one cell layout (any-word? of the language).
inline bool any_word_q(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }
// The word kinds that binding touches, word! to refinement! (15-19): an issue! keeps its binding.
inline bool bindable_word_q(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }
// The word kinds a lookup by word in a block matches, word! to get-word! (15-18).
inline bool lookup_word_q(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }
// path!, lit-path!, set-path!, get-path! (25-28).
inline bool any_path_q(uint32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }
// Series of cells: block!, paren!, the path kinds and hash!.
inline bool any_block_q(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || any_path_q(t) || t == TYPE_HASH; }
// The six text kinds sharing the string layout: string!, file!, url!, tag!, email!, ref!.
inline bool any_string_q(uint32_t t)
{
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_REF;
}
// Values whose series payload (head index, buffer node) the series actions walk.
inline bool series_kind_q(uint32_t t)
{
    return any_block_q(t) || any_string_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_IMAGE;
}
// The numbers that compare with each other: integer!, float!, percent!.
inline bool number_kind_q(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }

// ---- series payload: word 1 the head index in units, word 2 the buffer's node, word 3 per type ---
// map! keeps its backing block in the series words too.
inline node_ref series_node(const cell* c)
{
    KIV_CHECK(series_kind_q(cell_type(c)) || cell_type(c) == TYPE_MAP);
    return c->data2;
}
// The head index as stored: raw, it may be negative or lie past the tail. The clamped reading
// needs the buffer: series::head_clamped.
inline int32_t series_head_raw(const cell* c)
{
    KIV_CHECK(series_kind_q(cell_type(c)) || cell_type(c) == TYPE_MAP);
    return int32_t(c->data1);
}

// ---- word payload: word 1 the context node (0: none), word 2 the symbol id, word 3 the position
// in the context or -1 ------------------------------------------------------------------------------
inline node_ref word_context(const cell* c)
{
    KIV_CHECK(any_word_q(cell_type(c)));
    return c->data1;
}
inline uint32_t word_symbol(const cell* c)
{
    KIV_CHECK(any_word_q(cell_type(c)));
    return c->data2;
}
inline int32_t word_position(const cell* c)
{
    KIV_CHECK(any_word_q(cell_type(c)));
    return int32_t(c->data3);
}

// ---- scalar payloads ----------------------------------------------------------------------------
// integer! and char! keep their value in word 2, logic! in word 1; a float or other 64-bit payload
// lives in words 2 and 3 (low word first).
inline int32_t integer_of(const cell* c)
{
    KIV_CHECK(cell_type(c) == TYPE_INTEGER);
    return int32_t(c->data2);
}
inline uint32_t char_of(const cell* c)
{
    KIV_CHECK(cell_type(c) == TYPE_CHAR);
    return c->data2;
}
inline double cell_float(const cell* c)
{
    double d;
    std::memcpy(&d, &c->data2, sizeof d);
    return d;
}
inline void cell_set_float(cell* c, double d) { std::memcpy(&c->data2, &d, sizeof d); }

// A typeset! keeps its 96-bit mask in words 1-3 as 12 bytes in memory order; datatype id t is the
// bit 0x80 >> (t & 7) of byte t >> 3.
inline bool typeset_has(const cell* typeset, uint32_t type)
{
    if (type >= 96) return false;
    const uint8_t* mask = reinterpret_cast<const uint8_t*>(&typeset->data1);
    return (mask[type >> 3] & (0x80u >> (type & 7))) != 0;
}
