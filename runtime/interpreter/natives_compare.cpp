// Identity and the set natives: same? by the payload words that make a value's identity, and
// union, intersect, unique, difference, exclude and complement?, which check their arguments and
// hand the work to the set worker of the first set's datatype.
#include <cstring>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/stack.h"

namespace {

inline cell* base() { return stack_s.arguments; }

bool same_payload(const cell* a, const cell* b)
{
    uint32_t t = cell_type(a);
    switch (t) {
    case TYPE_NONE: case TYPE_UNSET: case TYPE_EVENT: return true;   // every event is the one event
    case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: return a->data1 == b->data1;
    case TYPE_CHAR: case TYPE_INTEGER: case TYPE_BITSET: return a->data2 == b->data2;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_PAIR: case TYPE_TIME:
        return a->data2 == b->data2 && a->data3 == b->data3;
    case TYPE_MONEY: return actions::compare(const_cast<cell*>(a), const_cast<cell*>(b), COMP_EQUAL);
    case TYPE_NATIVE: case TYPE_ACTION: case TYPE_POINT2D: return a->data1 == b->data1 && a->data2 == b->data2;
    case TYPE_OP: return a->data2 == b->data2 && a->data3 == b->data3;
    default:
        // Series share identity by buffer and head; image! keeps no buffer node, its record slot
        // stands in word 2 all the same.
        if (series_kind_q(t)) return a->data1 == b->data1 && a->data2 == b->data2;
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

bool block_set_q(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// The checks and the dispatch shared by the five set natives. refs: /case, /skip size.
void set_operation(uint32_t code, uint32_t native, bool two_sets, const int32_t* refs)
{
    cell* set1 = base();
    uint32_t t1 = cell_type(set1);
    if (two_sets) {
        uint32_t t2 = cell_type(set1 + 1);
        bool fits = block_set_q(t1) ? block_set_q(t2) : t1 == t2;
        if (!fits) {
            cell want = {TYPE_DATATYPE, t1, 0, 0};
            cell got = {TYPE_DATATYPE, t2, 0, 0};
            fire(ERR_SCRIPT, err::EXPECT_VAL, &want, &got);
        }
    }
    if (refs[1] >= 0 && integer_of(base() + refs[1]) < 1) fire(ERR_SCRIPT, err::OUT_OF_RANGE, base() + refs[1]);
    cell none_cell = none_value;
    cell* skip = refs[1] >= 0 ? base() + refs[1] : &none_cell;
    bool case_ = refs[0] >= 0;
    switch (t1) {
    case TYPE_TYPESET: {
        cell* r = typeset::do_bitwise(set1, set1 + 1, code);
        if (r != set1) *set1 = *r;
        return;
    }
    case TYPE_DATE:
        if (native != natives::N_DIFFERENCE) fire_expect_arg(0, t1);
        date::difference(base(), base() + 1);
        return;
    case TYPE_BITSET: {
        cell* r = bitset::do_bitwise(int32_t(code), set1, set1 + 1);
        if (r != set1) *set1 = *r;
        return;
    }
    case TYPE_BLOCK: case TYPE_HASH: {
        cell* r = block::do_set_op(int32_t(code), case_, skip);
        if (r != set1) *set1 = *r;
        return;
    }
    default:
        if (any_string_q(t1)) {
            cell* r = string::do_set_op(case_, skip, int32_t(code));
            if (r != set1) *set1 = *r;
            return;
        }
        fire_expect_arg(0, t1);
    }
}

}  // namespace

void natives::same_q_star(bool, const int32_t*)
{
    cell* a = base();
    cell* b = a + 1;
    logic::make_at(a, cell_type(a) == cell_type(b) && same_payload(a, b));
}

void natives::union_star(bool, const int32_t* refs) { set_operation(MATH_UNION, N_UNION, true, refs); }
void natives::intersect_star(bool, const int32_t* refs) { set_operation(MATH_INTERSECT, N_INTERSECT, true, refs); }
void natives::unique_star(bool, const int32_t* refs) { set_operation(MATH_UNIQUE, N_UNIQUE, false, refs); }
void natives::difference_star(bool, const int32_t* refs) { set_operation(MATH_DIFFERENCE, N_DIFFERENCE, true, refs); }
void natives::exclude_star(bool, const int32_t* refs) { set_operation(MATH_EXCLUDE, N_EXCLUDE, true, refs); }

void natives::complement_q_star(bool, const int32_t*)
{
    uint32_t t = cell_type(base());
    if (t != TYPE_BITSET) fire_expect_arg(0, t);
    logic::make_at(base(), bitset::complement_q(base()));
}
