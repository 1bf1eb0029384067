// handle!: constructors, text and comparison. The registry slot of a handle is released by the
// collector once no cell refers to it; the class has no release routine, since the value only
// names a resource whose owner (a window, the font cache) frees it.
#include "runtime/datatypes/handle.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/extern.h"
#include "runtime/stack.h"

namespace {

struct handle_state {
    uint32_t klass;   // the registry class of handle! pointers
};
handle_state handle_s;

const char* const kind_names[handle::KIND_COUNT] = {"null", "fd", "monitor", "window", "font", "rich-text", "port-actions"};

}  // namespace

cell* handle::make_at(cell* slot, uintptr_t value, uint32_t kind)
{
    int32_t index = value ? extern_handle_alloc(reinterpret_cast<void*>(value), handle_s.klass) : -1;
    *slot = cell{TYPE_HANDLE, kind, uint32_t(value), uint32_t(index)};
    return slot;
}

cell* handle::make_in(cell* blk, uintptr_t value, uint32_t kind)
{
    return make_at(block_alloc_tail(blk ? blk : &root_block), value, kind);
}

cell* handle::push(uintptr_t value, uint32_t kind) { return make_at(stack::push_slot(), value, kind); }
cell* handle::push_empty() { return push(0, KIND_NULL); }

uintptr_t handle::value_of(const cell* c)
{
    int32_t index = int32_t(c->data3);
    return index >= 0 ? reinterpret_cast<uintptr_t>(externs.slots[index].pointer) : c->data2;
}

int32_t handle::form(cell* value, cell* buffer, cell*, int32_t part)
{
    // Eight digits, or sixteen for a pointer that needs them.
    uint64_t v = value_of(value);
    if (v >> 32) part = string::emit_literal(buffer, string::to_hex(int32_t(v >> 32), false), part);
    part = string::emit_literal(buffer, string::to_hex(int32_t(uint32_t(v)), false), part);
    return string::emit_literal(buffer, "h", part);
}

int32_t handle::mold(cell* value, cell* buffer, bool, bool all, bool, cell* arg, int32_t part, int32_t)
{
    if (!all) return string::emit_literal(buffer, "handle!", part);
    const uint32_t kind = value->data1;
    part = string::emit_literal(buffer, "#[handle! ", part);
    part = form(value, buffer, arg, part);
    if (kind > KIND_NULL && kind < KIND_COUNT) {
        part = string::emit_literal(buffer, " ", part);
        part = string::emit_literal(buffer, kind_names[kind], part);
    }
    return string::emit_literal(buffer, "]", part);
}

int32_t handle::compare(cell* value1, cell* value2, int32_t)
{
    if (cell_type(value2) != TYPE_HANDLE) return -2;
    intptr_t a = intptr_t(value_of(value1)), b = intptr_t(value_of(value2));
    return a < b ? -1 : a > b ? 1 : 0;
}

void handle::mark(const cell* c)
{
    if (int32_t(c->data3) >= 0) extern_handle_mark(int32_t(c->data3), nullptr);
}

void handle::init()
{
    handle_s.klass = extern_class_register("handle", nullptr);
    datatype::register_type(TYPE_HANDLE, TYPE_INTEGER, "handle!", {
        .form = form, .mold = mold, .compare = compare, .mark = mark});
}
