// The datatype registry: the type table (names) and the action table (62 routines per type),
// and the datatype! values themselves. Types take routines from their parent at registration.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// Action slots, numbered from 1 as the action table counts them.
enum action_slot : uint32_t {
    ACT_MAKE = 1, ACT_RANDOM, ACT_REFLECT, ACT_TO, ACT_FORM, ACT_MOLD, ACT_EVAL_PATH, ACT_SET_PATH,
    ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE, ACT_MULTIPLY, ACT_NEGATE, ACT_POWER, ACT_REMAINDER,
    ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q, ACT_AND_T, ACT_COMPLEMENT, ACT_OR_T, ACT_XOR_T,
    ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q,
    ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_PUT, ACT_REMOVE,
    ACT_REVERSE, ACT_SELECT, ACT_SORT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_TRIM,
    ACT_CREATE, ACT_CLOSE, ACT_DELETE, ACT_MODIFY, ACT_OPEN, ACT_OPEN_Q, ACT_QUERY, ACT_READ, ACT_RENAME,
    ACT_UPDATE, ACT_WRITE,
    ACTION_SLOTS = 62
};
static_assert(ACT_WRITE == 62);

// Routines are stored untyped and cast back to the slot's signature by the caller.
using action_fn = void (*)();

// Signatures of the slots that every datatype shares.
using make_fn = cell* (*)(cell* proto, cell* spec, uint32_t type);
using form_fn = int32_t (*)(cell* value, cell* buffer, cell* arg, int32_t part);
using mold_fn = int32_t (*)(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part,
                            int32_t indent);
using compare_fn = int32_t (*)(cell* value1, cell* value2, int32_t op);

// Series slots. The series is the first argument (the call's result cell): these routines change
// it in place and return it. A refinement argument is a cell, absent when its address is at or
// below the arguments base (null included).
// series_fn: head, tail, next, back, clear, head?, tail?, index?; length_fn: length? (-1 gives
// none); position_fn: at and skip.
using series_fn = cell* (*)(cell* series);
using length_fn = int32_t (*)(cell* series);
using position_fn = cell* (*)(cell* series, cell* n);
using pick_fn = cell* (*)(cell* series, int32_t n);
using poke_fn = cell* (*)(cell* series, int32_t n, cell* value);
using remove_fn = cell* (*)(cell* series, cell* part, cell* key);
using reverse_fn = cell* (*)(cell* series, cell* part, cell* skip);
using take_fn = cell* (*)(cell* series, cell* part, bool deep, bool last);
using copy_fn = cell* (*)(cell* value, cell* result, cell* part, bool deep, cell* types);
using move_fn = cell* (*)(cell* source, cell* target, cell* part);
using random_fn = cell* (*)(cell* value, cell* seed, cell* secure, cell* only);
// One step of a path: value null reads, otherwise stores it. Returns the step's value.
using eval_path_fn = cell* (*)(cell* parent, cell* element, cell* value, cell* path, cell* grandparent,
                               cell* previous, int32_t index, bool case_, bool get, bool tail, bool notify);

// Compare operation codes.
enum compare_op : int32_t {
    COMP_EQUAL = 0, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_LESSER, COMP_LESSER_EQUAL, COMP_GREATER,
    COMP_GREATER_EQUAL, COMP_SORT, COMP_CASE_SORT, COMP_SAME, COMP_STRICT_EQUAL_WORD, COMP_EQUAL_WORD,
    COMP_FIND
};

// The compare codes under which types without an order still answer: equality and the sorts.
inline bool compare_equality_or_sort(int32_t op)
{
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT: case COMP_CASE_SORT:
    case COMP_SAME: case COMP_FIND:
        return true;
    default:
        return false;
    }
}

struct type_entry {
    const char* name;   // static text ending in "!"
    uint32_t length;    // without the "!"
    cell* word;         // the global word of the name (a root cell), once the words exist
};

struct datatype_registry {
    type_entry* types;      // TYPE_TABLE_SIZE entries
    action_fn* actions;     // TYPE_TABLE_SIZE * 256 entries
    uint32_t max_type;
};
extern datatype_registry registry;

// Slot values for registration: a routine, `nullptr` (none) or `inherit` (the parent's routine).
struct inherit_t {};
inline constexpr inherit_t inherit{};

namespace datatype {

inline action_fn slot_value(inherit_t) { return reinterpret_cast<action_fn>(intptr_t(-1)); }
inline action_fn slot_value(std::nullptr_t) { return nullptr; }
template <class R, class... A>
action_fn slot_value(R (*routine)(A...)) { return reinterpret_cast<action_fn>(routine); }

void register_slots(uint32_t id, uint32_t parent, const char* name, const action_fn* slots);

// One value per action slot, in slot order: the count is checked when the module is compiled.
template <class... R>
void register_type(uint32_t id, uint32_t parent, const char* name, R... routines)
{
    static_assert(sizeof...(R) == ACTION_SLOTS, "a datatype registers exactly one value per action slot");
    const action_fn slots[ACTION_SLOTS] = {slot_value(routines)...};
    register_slots(id, parent, name, slots);
}

void tables_init();
void init();
cell* push(uint32_t id);
cell* make_in(cell* block, uint32_t id);
cell* make_at(cell* slot, uint32_t id);
cell* box(uint32_t id);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);

}  // namespace datatype

inline action_fn action_of(uint32_t type, uint32_t slot) { return registry.actions[type * 256 + slot - 1]; }
template <class F>
inline F action_as(uint32_t type, uint32_t slot) { return reinterpret_cast<F>(action_of(type, slot)); }

// Hook for naming types once global words can be made (set by the word module).
extern cell* (*typename_word_maker)(const char* name);
void typenames_to_symbols();
