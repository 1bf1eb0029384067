// The type table, the action table and datatype! values. A child type copies its parent's
// routines at registration, so parents register first.
#include "runtime/datatypes/datatype.h"

#include <cstring>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/rterror.h"

datatype_state datatype_s;
cell* (*datatype::typename_word_hook)(const char* name);

void datatype::tables_init()
{
    datatype_s.types = static_cast<type_entry*>(rt_alloc(TYPE_TABLE_SIZE * sizeof(type_entry)));
    std::memset(datatype_s.types, 0, TYPE_TABLE_SIZE * sizeof(type_entry));
    datatype_s.rows = static_cast<action_table_row*>(rt_alloc(TYPE_TABLE_SIZE * sizeof(action_table_row)));
    std::memset(static_cast<void*>(datatype_s.rows), 0, TYPE_TABLE_SIZE * sizeof(action_table_row));
    datatype_s.max_type = 0;
}

namespace {
template <class F>
F resolve(const action_slot_value<F>& v, F parent_routine, uint32_t parent)
{
    if (v.from_parent) return parent ? parent_routine : nullptr;
    return v.routine;
}
}  // namespace

void datatype::register_type(uint32_t id, uint32_t parent, const char* name, const action_row& row)
{
    if (id > datatype_s.max_type) datatype_s.max_type = id;
    type_entry& t = datatype_s.types[id];
    t.name = name;
    t.length = uint32_t(std::strlen(name)) - 1;
    t.word = typename_word_hook ? typename_word_hook(name) : nullptr;
    const action_table_row from = datatype_s.rows[parent];   // copied first: a type may be its own parent's row
    action_table_row& to = datatype_s.rows[id];
#define ACTION_SLOT(idn, field, signature) to.field = resolve(row.field, from.field, parent);
#include "runtime/datatypes/action_slots.inc"
#undef ACTION_SLOT
    to.mark = resolve(row.mark, from.mark, parent);
}

action_row inherited_row()
{
    action_row row{};
#define ACTION_SLOT(idn, field, signature) row.field = inherit;
#include "runtime/datatypes/action_slots.inc"
#undef ACTION_SLOT
    row.mark = inherit;
    return row;
}

bool action_present(uint32_t type, uint32_t slot)
{
    const action_table_row& r = datatype_s.rows[type];
    switch (slot) {
#define ACTION_SLOT(idn, field, signature) case ACT_##idn: return r.field != nullptr;
#include "runtime/datatypes/action_slots.inc"
#undef ACTION_SLOT
    default: return false;
    }
}

int32_t form_value(cell* value, cell* buffer, cell* arg, int32_t part)
{
    auto f = actions_of(cell_type(value)).form;
    return f ? f(value, buffer, arg, part) : part;
}

int32_t mold_value(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    auto f = actions_of(cell_type(value)).mold;
    return f ? f(value, buffer, only, all, flat, arg, part, indent) : part;
}

void typenames_to_symbols()
{
    if (!datatype::typename_word_hook) return;
    for (uint32_t id = 1; id <= datatype_s.max_type; id++)
        if (datatype_s.types[id].name) datatype_s.types[id].word = datatype::typename_word_hook(datatype_s.types[id].name);
}

// ---- datatype! ----------------------------------------------------------------------------------

cell* datatype::make_at(cell* slot, uint32_t id)
{
    *slot = cell{TYPE_DATATYPE, id, 0, 0};
    return slot;
}
cell* datatype::push(uint32_t id) { return make_at(stack::push_slot(), id); }
cell* datatype::make_in(cell* blk, uint32_t id) { return make_at(block_alloc_tail(blk ? blk : &root_block), id); }
cell* datatype::box(uint32_t id) { return make_at(stack::arguments(), id); }

// Every id has its fixed name, whether its datatype is registered yet or not: datatype! values and
// their words exist for all of them.
const char* datatype::name_of(uint32_t id)
{
    static const char* const names[TYPE_EVENT + 1] = {
        "value!", "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!", "url!", "char!",
        "integer!", "float!", "symbol!", "context!", "word!", "set-word!", "lit-word!", "get-word!", "refinement!",
        "issue!", "native!", "action!", "op!", "function!", "path!", "lit-path!", "set-path!", "get-path!",
        "routine!", "bitset!", "triple!", "object!", "typeset!", "error!", "vector!", "hash!", "pair!", "percent!",
        "tuple!", "map!", "binary!", "series!", "time!", "tag!", "email!", "handle!", "date!", "port!", "money!",
        "ref!", "point2D!", "point3D!", "image!", "event!",
    };
    if (id < TYPE_TABLE_SIZE && datatype_s.types[id].name) return datatype_s.types[id].name;
    return id <= TYPE_EVENT ? names[id] : "value!";
}

int32_t datatype::form(cell* value, cell* buffer, cell*, int32_t part)
{
    std::string name = name_of(value->data1);
    name.pop_back();   // the "!"
    string::concatenate_literal(buffer, name.c_str());
    return part - int32_t(name.size());
}

int32_t datatype::mold(cell* value, cell* buffer, bool, bool all, bool, cell*, int32_t part, int32_t)
{
    const char* name = name_of(value->data1);
    if (all) string::concatenate_literal(buffer, "#(");
    string::concatenate_literal(buffer, name);
    if (all) {
        string::concatenate_literal(buffer, ")");
        part -= 3;
    }
    return part - int32_t(std::strlen(name));
}

int32_t datatype::compare(cell* value1, cell* value2, int32_t op)
{
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
        return (cell_type(value2) == TYPE_DATATYPE && value2->data1 == value1->data1) ? 0 : 1;
    default:
        return -2;
    }
}

void datatype::init()
{
    register_type(TYPE_DATATYPE, 0, "datatype!", {.form = form, .mold = mold, .compare = compare});
}

bool datatype::compared_by_value(uint32_t type1, uint32_t type2)
{
    return type1 == type2 || (any_word_q(type1) && any_word_q(type2)) || (number_kind_q(type1) && number_kind_q(type2));
}
