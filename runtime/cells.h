// Small cell routines of the base shared by natives, the interpreter and the datatypes, and the
// cycle stack that stops recursive walks (form, mold, compare, deep copy, bind) on
// self-containing data. What a walk pushes for its duration is popped again when an error
// unwinds through it. The word and context-slot routines are the word and context modules'.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// Copies the first `size` bytes of the buffer onto the following ones until size * count bytes
// hold the pattern; returns buffer + size * count. Nothing is copied for size < 1 or count < 2.
uint8_t* bytes_repeat(uint8_t* buffer, int32_t size, int32_t count);
// A float! truncated toward zero (script/out-of-range beyond 32 bits or NaN); other values: word 2.
int32_t int_check_range(const cell* value);

// ---- the machine stack guard --------------------------------------------------------------------
// Every recursive C++ path checks the machine stack before it goes deeper: under Wine a real
// overflow ends the process silently, so internal/stack-overflow is raised while room is left
// for the unwinding and the error's own work. The floor is the thread's lowest usable address
// plus the margin, set once at start-up. Above the margin lies a reserve that only the error event
// of a raise may use (stack::reserve_scope), so a tracer hears even of an overflow.
constexpr uintptr_t MACHINE_STACK_RESERVE = sizeof(void*) == 8 ? 512 * 1024 : 256 * 1024;
extern uintptr_t machine_stack_floor;
void machine_stack_init();
[[noreturn]] void machine_stack_overflow();
inline void machine_stack_check()
{
    // The stack pointer itself, not the frame address: asking for the frame address forces a
    // frame pointer, whose unwind description GCC gets wrong in some large frames on x86-64 Windows.
    uintptr_t sp;
#if defined(__x86_64__)
    asm volatile("movq %%rsp, %0" : "=r"(sp));
#else
    asm volatile("movl %%esp, %0" : "=r"(sp));
#endif
    if (sp < machine_stack_floor) machine_stack_overflow();
}
// Bytes left above the floor (tests drive recursions down to it).
uintptr_t machine_stack_room();

// ---- the cycle stack ----------------------------------------------------------------------------
constexpr uint32_t CYCLE_STACK_ENTRIES = 1000;

struct cycle_state {
    node_ref* base;
    node_ref* top;   // one past the last entry
    node_ref* end;
};
extern cycle_state cycle_s;

void cycle_stack_init();
// Raises internal/too-deep, with the stack emptied, when the 1,000th entry would be held.
void cycle_push(node_ref node);
void cycle_pop();
void cycle_drop(uint32_t n);
void cycle_reset();
bool cycle_find(node_ref node);
uint32_t cycle_depth();
// The collector keeps the nodes of the walks in progress alive.
void cycle_stack_mark(void (*keep)(node_ref node));

// Pushes a node for the scope's life. On any exit, normal or by unwinding, the stack returns to
// the depth it had before the push, so an error never leaves a stale entry behind (a stale entry
// made a later mold print "[...]" for data that was not cyclic).
class cycle_scope {
public:
    explicit cycle_scope(node_ref node) : depth_(cycle_depth()) { cycle_push(node); }
    ~cycle_scope();
    cycle_scope(const cycle_scope&) = delete;
    cycle_scope& operator=(const cycle_scope&) = delete;

private:
    uint32_t depth_;
};
