// Cell routines and the cycle stack. The cycle stack is a fixed array on the runtime heap: it
// never moves and holds nodes, which never move either.
#include "runtime/cells.h"

#include <windows.h>

#include <cmath>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/rterror.h"

cycle_state cycle_s;
uintptr_t machine_stack_floor;

// ---- the machine stack guard --------------------------------------------------------------------

namespace {
// Room kept below the floor: the C++ unwinding of an error and the catch point's own work run on
// what is left. The reserve is 64 MB on x86-64 and 16 MB on i686.
constexpr uintptr_t MACHINE_STACK_MARGIN = sizeof(void*) == 8 ? 1024 * 1024 : 512 * 1024;
}  // namespace

void machine_stack_init()
{
    // The reservation that holds this frame begins at the stack's lowest address; the guard
    // pages lie just above it.
    MEMORY_BASIC_INFORMATION info;
    volatile char probe = 0;
    VirtualQuery(const_cast<char*>(&probe), &info, sizeof info);
    machine_stack_floor = reinterpret_cast<uintptr_t>(info.AllocationBase) + MACHINE_STACK_MARGIN + MACHINE_STACK_RESERVE;
}

void machine_stack_overflow()
{
    cycle_reset();
    fire(ERR_INTERNAL, err::STACK_OVERFLOW);
}

uintptr_t machine_stack_room()
{
    volatile char probe = 0;
    uintptr_t here = reinterpret_cast<uintptr_t>(&probe);
    return here > machine_stack_floor ? here - machine_stack_floor : 0;
}

uint8_t* bytes_repeat(uint8_t* buffer, int32_t size, int32_t count)
{
    if (size < 1) return buffer;
    int64_t total = int64_t(size) * (count > 0 ? count : 0);
    if (count < 2) return buffer + total;
    int64_t filled = size;
    while (total - filled >= filled) {
        std::memcpy(buffer + filled, buffer, size_t(filled));
        filled *= 2;
    }
    if (total > filled) std::memcpy(buffer + filled, buffer, size_t(total - filled));
    return buffer + total;
}

int32_t int_check_range(const cell* value)
{
    if (cell_type(value) != TYPE_FLOAT) return int32_t(value->data2);
    double d = cell_float(value);
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, value);
    return int32_t(d);
}

// ---- the cycle stack ----------------------------------------------------------------------------

void cycle_stack_init()
{
    cycle_s.base = static_cast<node_ref*>(rt_alloc(CYCLE_STACK_ENTRIES * sizeof(node_ref)));
    cycle_s.top = cycle_s.base;
    cycle_s.end = cycle_s.base + CYCLE_STACK_ENTRIES;
}

void cycle_push(node_ref node)
{
    machine_stack_check();
    *cycle_s.top++ = node;
    if (cycle_s.top == cycle_s.end) {
        cycle_reset();
        fire(ERR_INTERNAL, err::TOO_DEEP);
    }
}

void cycle_pop()
{
    if (cycle_s.top > cycle_s.base) cycle_s.top--;
}

void cycle_drop(uint32_t n) { cycle_s.top = n > cycle_depth() ? cycle_s.base : cycle_s.top - n; }

void cycle_reset() { cycle_s.top = cycle_s.base; }

bool cycle_find(node_ref node)
{
    for (node_ref* p = cycle_s.base; p < cycle_s.top; p++)
        if (*p == node) return true;
    return false;
}

uint32_t cycle_depth() { return uint32_t(cycle_s.top - cycle_s.base); }

void cycle_stack_mark(void (*keep)(node_ref node))
{
    for (node_ref* p = cycle_s.base; p < cycle_s.top; p++) keep(*p);
}

cycle_scope::~cycle_scope()
{
    // Never deeper than before the push; a reset in between (overflow, no-cycle) stays a reset.
    if (cycle_depth() > depth_) cycle_s.top = cycle_s.base + depth_;
}
