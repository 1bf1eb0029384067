// Helpers for the number tests: actions called in an arguments window of their own, as the
// action entry calls them, and the texts of the results.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <type_traits>

#include "runtime/cell.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/stack.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace num {

inline cell i(int32_t v) { return cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
inline cell f(double d) { return test::float_(d); }
inline cell c(uint32_t cp) { return cell{TYPE_CHAR, 0, cp, 0}; }
inline cell t(double seconds)
{
    cell c{TYPE_TIME, 0, 0, 0};
    cell_set_float(&c, seconds);
    return c;
}
inline cell pc(double fraction)
{
    cell c = f(fraction);
    cell_set_type(&c, TYPE_PERCENT);
    return c;
}
inline cell p(int32_t x, int32_t y) { return cell{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)}; }
inline cell pt(float x, float y)
{
    cell c;
    return *point2D::make_at(&c, x, y);
}
inline cell pt3(float x, float y, float z)
{
    cell c;
    return *point3D::make_at(&c, x, y, z);
}
inline int32_t int_of(cell v) { return int32_t(v.data2); }
inline double float_of(cell v) { return cell_float(&v); }
inline cell hms(double h, double m, double s) { return t(h * 3600 + m * 60 + s); }

// The result of an action on two operands (or one), called with the operands as the first cells
// of a new arguments window; the window is given back afterwards.
template <class F>
cell call(F&& action, cell a, cell b = cell{TYPE_UNSET, 0, 0, 0})
{
    cell* mark = stack::top();
    cell* saved = stack::arguments();
    cell* first = stack::push(&a);
    cell* second = stack::push(&b);
    stack_s.arguments = first;
    cell result;
    try {
        if constexpr (std::is_invocable_v<F, cell*, cell*>) result = *action(first, second);
        else result = *action(first);
    } catch (...) {
        stack_s.top = mark;
        stack_s.arguments = saved;
        throw;
    }
    stack_s.top = mark;
    stack_s.arguments = saved;
    return result;
}

// Series values for conversions, pushed on the argument stack (kept there until the test ends).
inline cell text(const char* utf8)
{
    return *string::load(reinterpret_cast<const uint8_t*>(utf8), uint32_t(std::strlen(utf8)), 0);
}
inline cell binary(std::initializer_list<uint8_t> bytes)
{
    node_ref node = bytes_alloc(uint32_t(bytes.size()) + 1);
    series_buffer* s = series_of(node);
    for (uint8_t b : bytes) *at(s->tail++) = b;
    cell c{TYPE_BINARY, 0, node, 0};
    return *stack::push(&c);
}
inline cell issue_of(const char* name) { return *issue::make_at(stack::push_slot(), name); }
inline cell block_of(std::initializer_list<cell> values)
{
    cell* blk = block::push_only_star(uint32_t(values.size()) + 1);
    for (const cell& v : values) block::rs_append(blk, &v);
    return *blk;
}
inline cell type(uint32_t id) { return datatype::value_of(id); }

// One step of a path through a type's routine, the cells on the argument stack: a read without
// value gives the element's value, a write with one gives the parent as the step left it.
inline cell path_step(eval_path_fn routine, cell parent_value, cell element, const cell* value = nullptr)
{
    cell* parent = stack::push(&parent_value);
    cell* e = stack::push(&element);
    cell* v = value ? stack::push(value) : nullptr;
    cell path = none_value;
    cell* result = routine(parent, e, v, &path, nullptr, nullptr, 0, false, false, true, false);
    return value ? *parent : *result;
}

// The code of the error an expression raises, 0 for none.
template <class F>
uint32_t error_of(F&& f)
{
    return test::raised(f);
}

constexpr uint32_t code(uint32_t category, uint32_t id) { return category * 100 + id; }

}  // namespace num
