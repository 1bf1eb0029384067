// Test helpers: form and mold a value into UTF-8 text through the action table.
#pragma once
#include <string>

#include "runtime/cell.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"

namespace test {

// Form and mold of a value whose cell does not move (argument stack, root block, a local).
inline std::string form_at(cell* v)
{
    cell* out = string::make_at(stack::push_slot(), 16, 1);
    actions_of(cell_type(v)).form(v, out, nullptr, 0x7FFFFFFF);
    std::string text = string::to_utf8(out);
    stack::pop(1);
    return text;
}

inline std::string mold_at(cell* v, bool only = false, bool all = false, bool flat = false)
{
    cell* out = string::make_at(stack::push_slot(), 16, 1);
    actions_of(cell_type(v)).mold(v, out, only, all, flat, nullptr, 0x7FFFFFFF, 0);
    std::string text = string::to_utf8(out);
    stack::pop(1);
    return text;
}

// The same for a value given by copy: it is kept on the argument stack meanwhile.
inline std::string form(cell value)
{
    std::string text = form_at(stack::push(&value));
    stack::pop(1);
    return text;
}

inline std::string mold(cell value, bool all = false, bool only = false, bool flat = false)
{
    std::string text = mold_at(stack::push(&value), only, all, flat);
    stack::pop(1);
    return text;
}

inline int32_t compare(cell a, cell b, int32_t op)
{
    cell* x = stack::push(&a);
    cell* y = stack::push(&b);
    int32_t r = actions_of(cell_type(x)).compare(x, y, op);
    stack::pop(2);
    return r;
}

inline cell integer(int32_t v) { return cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
inline cell float_(double d)
{
    cell c{TYPE_FLOAT, 0, 0, 0};
    cell_set_float(&c, d);
    return c;
}

}  // namespace test

#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/unset.h"

namespace test {
// The text as the data of a binary! pushed on the stack above a buffer that is garbage: the next
// collection slides the binary down, so the address returned goes stale at the next allocation
// (under KIV_GC_STRESS). Pushes two cells.
inline const uint8_t* moving_bytes(const std::string& text)
{
    cell* doomed = block::make_at(stack::push_slot(), 64);
    node_ref node = bytes_alloc(uint32_t(text.size()));
    cell binary{TYPE_BINARY, 0, node, 0};
    stack::push(&binary);
    series_buffer* s = series_of(node);
    std::memcpy(at(s->head), text.data(), text.size());
    s->tail = s->head + uint32_t(text.size());
    *doomed = none_value;
    return at(s->head);
}

// Holds the collector off in tests of the allocator itself, whose fresh buffers nothing refers to.
using no_collect = collector_hold;

// Collections only when the allocator itself asks for one: for tests that measure the trigger,
// which the stress modes (a collection at every allocation) would hide.
struct natural_collections {
    uint32_t every = collector_s.stress_every, move = collector_s.stress_move;
    natural_collections() { collector_s.stress_every = collector_s.stress_move = 0; }
    ~natural_collections()
    {
        collector_s.stress_every = every;
        collector_s.stress_move = move;
    }
};
}  // namespace test
