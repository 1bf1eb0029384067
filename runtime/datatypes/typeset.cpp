// typeset!: making typesets from specs, set arithmetic, membership, comparison and text.
// Typesets are built in a local cell and stored once at the end: a spec block is walked by index
// and nothing allocates meanwhile, so its cells may be read in place.
#include "runtime/datatypes/typeset.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/rterror.h"

namespace {

uint32_t* words_of(cell* ts) { return &ts->data1; }
uint8_t* mask_of(cell* ts) { return reinterpret_cast<uint8_t*>(&ts->data1); }

cell empty() { return cell{TYPE_TYPESET, 0, 0, 0}; }

// A word stands for its value; an unset one raises script/no-value.
cell looked_up(const cell* value)
{
    if (cell_type(value) != TYPE_WORD) return *value;
    cell found = *word::push_get(value);
    stack::pop(1);
    return found;
}

// The member texts write this, then one space each.
const char* const HEAD = "make typeset! [";

void drop_last_char(cell* buffer)
{
    series_buffer* s = series_of(series_node(buffer));
    string::truncate_at(series_node(buffer), series_used_bytes(s) / series_unit(s) - 1);
}

}  // namespace

cell* typeset::make_at(cell* slot, uint32_t word1, uint32_t word2, uint32_t word3)
{
    *slot = cell{TYPE_TYPESET, word1, word2, word3};
    return slot;
}
cell* typeset::push(uint32_t word1, uint32_t word2, uint32_t word3)
{
    return make_at(stack::push_slot(), word1, word2, word3);
}
cell* typeset::make_in(cell* blk, uint32_t word1, uint32_t word2, uint32_t word3)
{
    return make_at(block_alloc_tail(blk ? blk : &root_block), word1, word2, word3);
}

cell* typeset::make_all(cell* blk)
{
    cell all{TYPE_TYPESET, ~0u, ~0u, ~0u};
    mask_of(&all)[TYPE_UNSET >> 3] &= uint8_t(~(0x80u >> (TYPE_UNSET & 7)));
    return make_in(blk, all.data1, all.data2, all.data3);
}

void typeset::add(cell* ts, uint32_t type)
{
    if (type < 96) mask_of(ts)[type >> 3] |= uint8_t(0x80u >> (type & 7));
}

void typeset::unite(cell* ts, const cell* other)
{
    ts->data1 |= other->data1;
    ts->data2 |= other->data2;
    ts->data3 |= other->data3;
}

void typeset::clear(cell* ts) { ts->data1 = ts->data2 = ts->data3 = 0; }

uint32_t typeset::count(const cell* ts)
{
    uint32_t n = 0;
    for (uint32_t id = 1; id <= datatype_s.max_type; id++) n += has(ts, id);
    return n;
}

void typeset::set_type(cell* ts, const cell* value)
{
    cell v = looked_up(value);
    switch (cell_type(&v)) {
    case TYPE_TYPESET: unite(ts, &v); break;
    case TYPE_DATATYPE: add(ts, v.data1); break;
    default: fire(ERR_SCRIPT, err::INVALID_ARG, value);
    }
}

cell* typeset::from_block(cell* blk, const cell* spec)
{
    cell ts = empty();
    const cell list = *spec;
    for (uint32_t i = 0; i < block::rs_length(&list); i++) {
        const cell item = block::rs_head(&list)[i];
        cell v = item;
        if (cell_type(&item) == TYPE_WORD) v = *word::get(&item);
        switch (cell_type(&v)) {
        case TYPE_DATATYPE: add(&ts, v.data1); break;
        case TYPE_TYPESET: unite(&ts, &v); break;
        case TYPE_WORD: add(&ts, TYPE_OBJECT); break;
        case TYPE_BLOCK: break;
        default: fire(ERR_SCRIPT, err::INVALID_TYPE_SPEC, &v);
        }
    }
    return make_in(blk, ts.data1, ts.data2, ts.data3);
}

cell* typeset::to_block(const cell* ts, cell* slot)
{
    const cell members = *ts;
    block::make_at(slot, 4);
    for (uint32_t id = 1; id <= datatype_s.max_type; id++) {
        const cell* word = datatype_s.types[id].word;
        if (!has(&members, id) || !datatype_s.types[id].name) continue;
        cell named = word ? *word : datatype::value_of(id);
        block::rs_append(slot, &named);
    }
    return slot;
}

cell* typeset::do_bitwise(cell* left, cell* right, uint32_t code)
{
    if (code == MATH_UNIQUE) return left;
    cell r;
    switch (cell_type(right)) {
    case TYPE_TYPESET: r = *right; break;
    case TYPE_DATATYPE:
        r = empty();
        add(&r, right->data1);
        break;
    default: fire(ERR_SCRIPT, err::INVALID_ARG, right);
    }
    cell result = *left;
    uint32_t* a = words_of(&result);
    const uint32_t* b = words_of(&r);
    for (uint32_t k = 0; k < 3; k++) {
        switch (code) {
        case MATH_OR: case MATH_UNION: a[k] |= b[k]; break;
        case MATH_AND: case MATH_INTERSECT: a[k] &= b[k]; break;
        case MATH_XOR: case MATH_DIFFERENCE: a[k] ^= b[k]; break;
        case MATH_EXCLUDE: a[k] &= ~b[k]; break;
        default: runtime_error(RT_NO_SWITCH, rt_error_address());
        }
    }
    return make_at(left, result.data1, result.data2, result.data3);
}

cell* typeset::and_t(cell* value1, cell* value2) { return do_bitwise(value1, value2, MATH_AND); }
cell* typeset::or_t(cell* value1, cell* value2) { return do_bitwise(value1, value2, MATH_OR); }
cell* typeset::xor_t(cell* value1, cell* value2) { return do_bitwise(value1, value2, MATH_XOR); }

cell* typeset::complement(cell* value) { return push(~value->data1, ~value->data2, ~value->data3); }

cell* typeset::find(cell* series, cell* value, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool, bool, bool)
{
    if (cell_type(value) != TYPE_DATATYPE) fire(ERR_SCRIPT, err::INVALID_ARG, value);
    return has(series, value->data1) ? &true_value : &false_value;
}

cell* typeset::make(cell*, cell* spec, uint32_t)
{
    switch (cell_type(spec)) {
    case TYPE_TYPESET:
        return spec;
    case TYPE_BLOCK: {
        cell ts = empty();
        const cell list = *spec;
        for (uint32_t i = 0; i < block::rs_length(&list); i++) {
            const cell item = block::rs_head(&list)[i];
            set_type(&ts, &item);
        }
        return stack::push(&ts);
    }
    default: {
        cell t = datatype::value_of(TYPE_TYPESET);
        fire(ERR_SCRIPT, err::BAD_TO_ARG, &t, spec);
    }
    }
}

int32_t typeset::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_TYPESET) return -2;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
        return value1->data1 == value2->data1 && value1->data2 == value2->data2 && value1->data3 == value2->data3
                   ? 0 : 1;
    case COMP_SORT: case COMP_CASE_SORT: {
        uint32_t a = count(value1), b = count(value2);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    default:
        return -2;
    }
}

int32_t typeset::serialize(cell* value, cell* buffer, bool only, bool, bool, cell* arg, int32_t part)
{
    const cell members = *value;
    const bool limited = arg_given(arg);
    if (!only) part = string::emit_literal(buffer, HEAD, part);
    bool named = false;
    for (uint32_t id = 1; id <= datatype_s.max_type; id++) {
        const char* name = datatype_s.types[id].name;
        if (!has(&members, id) || !name) continue;
        // Stops as soon as the budget is spent, leaving the text unfinished for the cut.
        if (limited && part <= 0) return part;
        part = string::emit_literal(buffer, name, part);
        part = string::emit_literal(buffer, " ", part);
        named = true;
    }
    if (named) {
        drop_last_char(buffer);
        part++;
    }
    if (!only) part = string::emit_literal(buffer, "]", part);
    return part;
}

int32_t typeset::form(cell* value, cell* buffer, cell* arg, int32_t part)
{
    return serialize(value, buffer, false, false, false, arg, part);
}

int32_t typeset::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t)
{
    return serialize(value, buffer, only, all, flat, arg, part);
}

void typeset::init()
{
    datatype::register_type(TYPE_TYPESET, 0, "typeset!", {
        .make = make, .to = make, .form = form, .mold = mold, .compare = compare, .and_t = and_t,
        .complement = complement, .or_t = or_t, .xor_t = xor_t, .find = find});
}
