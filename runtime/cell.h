// The value cell: one 16-byte record of four 32-bit words on every target, and the datatype ids.
// A cell never holds a machine pointer: series are reached through 32-bit node references,
// routines through table indexes, operating-system objects through the handle registry.
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

constexpr uint32_t HEADER_NEW_LINE = 0x40000000u;
constexpr uint32_t HEADER_TYPE_MASK = 0xFFu;

inline uint32_t cell_type(const cell* c) { return c->header & HEADER_TYPE_MASK; }

// Changes the datatype only: the new-line bit and the flags of the header stay.
inline void cell_set_type(cell* c, uint32_t type) { c->header = (c->header & ~HEADER_TYPE_MASK) | type; }
inline void cell_clear_new_line(cell* c) { c->header &= ~HEADER_NEW_LINE; }
inline cell* copy_cell(const cell* source, cell* target)
{
    if (source != target) *target = *source;
    return target;
}

// A float or other 64-bit payload lives in words 2 and 3 (low word first).
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
