// The datatype registry: the type table (names) and the action table (62 routines per type),
// and the datatype! values themselves. Types take routines from their parent at registration.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

// Action slots, numbered from 1 as the action table counts them.
enum action_slot : uint32_t {
    ACT_NONE = 0,
#define ACTION_SLOT(id, field, signature) ACT_##id,
#include "runtime/datatypes/action_slots.inc"
#undef ACTION_SLOT
    ACTION_SLOTS = ACT_WRITE
};
static_assert(ACT_MAKE == 1 && ACT_COMPARE == 9 && ACT_APPEND == 25 && ACT_WRITE == 62);

// Signatures of the action slots. Arguments come as cells in the action's spec order; then, per
// refinement in spec order, a cell for a refinement that takes an argument (absent when its
// address is at or below the arguments base, null included) or a bool for one that takes none.
// Routines that work on the first argument in place (the call's result cell) change it and
// return it; others return the cell that holds the result.
using make_fn = cell* (*)(cell* proto, cell* spec, uint32_t type);   // make and to
using random_fn = cell* (*)(cell* value, bool seed, bool secure, bool only);
using reflect_fn = cell* (*)(cell* value, cell* field);
using form_fn = int32_t (*)(cell* value, cell* buffer, cell* arg, int32_t part);
using mold_fn = int32_t (*)(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part,
                            int32_t indent);
// One step of a path: value null reads, otherwise stores it. Returns the step's value.
using eval_path_fn = cell* (*)(cell* parent, cell* element, cell* value, cell* path, cell* grandparent,
                               cell* previous, int32_t index, bool case_, bool get, bool tail, bool notify);
using set_path_fn = void (*)();   // slot 8: no datatype fills it
using compare_fn = int32_t (*)(cell* value1, cell* value2, int32_t op);
using unary_fn = cell* (*)(cell* value);                  // absolute, negate, head, next, clear, ...
using binary_fn = cell* (*)(cell* value1, cell* value2);  // two operands: add, ..., swap, rename
using round_fn = cell* (*)(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor,
                           bool ceiling, bool half_ceiling);
using append_fn = cell* (*)(cell* series, cell* value, cell* part, bool only, cell* dup);   // append, insert, change
using position_fn = cell* (*)(cell* series, cell* n);     // at and skip
using copy_fn = cell* (*)(cell* value, cell* result, cell* part, bool deep, cell* types);
// find and select (select ignores tail and match).
using find_fn = cell* (*)(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
                          cell* with, cell* skip, bool last, bool reverse, bool tail, bool match);
using length_fn = int32_t (*)(cell* series);              // -1 gives none
using move_fn = cell* (*)(cell* source, cell* target, cell* part);
// pick and poke get the index both as the entry's integer reading of it and as the cell itself.
using pick_fn = cell* (*)(cell* value, int32_t n, cell* index);
using poke_fn = cell* (*)(cell* value, int32_t n, cell* index, cell* new_value);
using put_fn = cell* (*)(cell* series, cell* key, cell* value, bool case_);
using remove_fn = cell* (*)(cell* series, cell* part, cell* key);
using reverse_fn = cell* (*)(cell* series, cell* part, cell* skip);
using sort_fn = cell* (*)(cell* series, bool case_, cell* skip, cell* comparator, cell* part, bool all,
                          bool reverse, bool stable);
using take_fn = cell* (*)(cell* series, cell* part, bool deep, bool last);
using trim_fn = cell* (*)(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with);
using modify_fn = cell* (*)(cell* value, cell* field, cell* new_value, bool case_);
using open_fn = cell* (*)(cell* value, bool new_, bool read, bool write, bool seek, cell* allow);
using read_fn = cell* (*)(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as);
using write_fn = cell* (*)(cell* target, cell* data, bool binary, bool lines, bool info, bool append, cell* part,
                           cell* seek, cell* allow, cell* as);
// How the collector marks what a cell of the type refers to.
using mark_fn = void (*)(const cell* c);

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

// Slot values for registration: a routine of the slot's signature, nothing (empty), or
// `inherit` (the parent's routine, copied at registration).
struct inherit_t {};
inline constexpr inherit_t inherit{};

template <class F>
struct action_slot_value {
    F routine = nullptr;
    bool from_parent = false;
    constexpr action_slot_value() = default;
    constexpr action_slot_value(F f) : routine(f) {}
    constexpr action_slot_value(std::nullptr_t) {}
    constexpr action_slot_value(inherit_t) : from_parent(true) {}
};

// What a datatype module registers: one field per action slot, in slot order, filled with
// designated initialisers ({.make = make, .form = form, .at = inherit}); a routine of the wrong
// signature or a field out of order does not compile, an omitted field is empty.
struct action_row {
#define ACTION_SLOT(id, field, signature) action_slot_value<signature> field;
#include "runtime/datatypes/action_slots.inc"
#undef ACTION_SLOT
    action_slot_value<mark_fn> mark;   // the collector's marker for the type's cells
};

// A row whose every slot, the marker included, is the parent's: for a type that differs from its
// parent in a few routines only.
action_row inherited_row();

// The registered routines of a type, parents' routines copied in.
struct action_table_row {
#define ACTION_SLOT(id, field, signature) signature field;
#include "runtime/datatypes/action_slots.inc"
#undef ACTION_SLOT
    mark_fn mark;
};

struct datatype_state {
    type_entry* types;         // TYPE_TABLE_SIZE entries
    action_table_row* rows;    // TYPE_TABLE_SIZE rows
    uint32_t max_type;
};
extern datatype_state datatype_s;

namespace datatype {

void register_type(uint32_t id, uint32_t parent, const char* name, const action_row& row);

void tables_init();
void init();
cell* push(uint32_t id);
cell* make_in(cell* block, uint32_t id);
cell* make_at(cell* slot, uint32_t id);
cell* box(uint32_t id);
// The name of an id ("integer!"), registered or not.
const char* name_of(uint32_t id);
// The datatype! value of an id, as errors take it for an argument.
inline cell value_of(uint32_t id) { return cell{TYPE_DATATYPE, id, 0, 0}; }
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);

// Whether two values met at one position of two blocks or objects are compared by value: the same
// type, two word kinds or two numbers. Others are ordered by their type ids.
bool compared_by_value(uint32_t type1, uint32_t type2);

}  // namespace datatype

// Form and mold of any value through its type's routine; a type without one writes nothing and
// the part budget comes back unchanged. The whole budget is 0x7FFFFFFF (FORM_WHOLE).
constexpr int32_t FORM_WHOLE = 0x7FFFFFFF;
int32_t form_value(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold_value(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);

// The routines of a type (all empty for an unregistered id).
inline const action_table_row& actions_of(uint32_t type)
{
    KIV_CHECK(type < TYPE_TABLE_SIZE);
    return datatype_s.rows[type];
}
// Whether a type has a routine in slot N (1 to 62), for code that knows the slot by number only.
bool action_present(uint32_t type, uint32_t slot);

namespace datatype {
// Gives a type name its global word once words can be made: installed by word::words_init.
extern cell* (*typename_word_hook)(const char* name);
}
// Names every type registered so far (the hook's first run).
void typenames_to_symbols();
