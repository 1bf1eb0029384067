// Small cell routines shared by natives, the interpreter and the datatypes, and the cycle stack
// that stops recursive walks (form, mold, compare, deep copy) on self-containing data.
// What a walk pushes for its duration is popped again when an error unwinds through it.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// Copies the first `size` bytes of the buffer onto the following ones until size * count bytes
// hold the pattern; returns buffer + size * count. Nothing is copied for size < 1 or count < 2.
uint8_t* bytes_repeat(uint8_t* buffer, int32_t size, int32_t count);
// A float! truncated toward zero (script/out-of-range beyond 32 bits or NaN); other values: word 2.
int32_t int_check_range(const cell* value);
// Appends four spaces per level to the string buffer; returns budget - 4 * level.
int32_t mold_indent(cell* buffer, int32_t level, int32_t budget);
// Refinement given: its flag in the window becomes 1; not given: its `count` arguments become none.
void refinements_none(const cell* refinement, uint32_t index, uint32_t count);
[[noreturn]] void fire_error_arg(const cell* arg1, const cell* arg2);

// A refinement argument is given when its cell lies above the arguments base.
bool arg_given(const cell* refinement);

// ---- argument checks ----------------------------------------------------------------------------
// A typeset! keeps its 96-bit mask in words 1-3 as 12 bytes in memory order; datatype id t is the
// bit 0x80 >> (t & 7) of byte t >> 3.
inline bool typeset_has(const cell* typeset, uint32_t type)
{
    if (type >= 96) return false;
    const uint8_t* mask = reinterpret_cast<const uint8_t*>(&typeset->data1);
    return (mask[type >> 3] & (0x80u >> (type & 7))) != 0;
}
// The words an argument error names: the running function's word and the word of its argument
// `index` (none for index < 0). Installed by the evaluator, which knows the call; until then
// both are none.
extern void (*call_words)(int32_t index, cell* function_word, cell* argument_word);
cell running_function_word();
// script/expect-arg: the running function, the datatype given, the argument's word.
[[noreturn]] void fire_expect_arg(int32_t index, uint32_t type);
// Each returns the value checked. The value's datatype must be in the typeset.
cell* arg_type_check(const cell* typeset, int32_t index, cell* value);
// Checks slot n of the current arguments window; nothing for n < 0.
void arg_type_check_at(int32_t n, const cell* typeset, int32_t index);
// Checks only when the refinement was given (its word 1 is not zero).
cell* arg_type_check_if_used(const cell* refinement, const cell* typeset, int32_t index, cell* value);
// An unset value is refused as expect-arg of unset!.
cell* arg_need_value(int32_t index, cell* value);

// ---- words and context slots --------------------------------------------------------------------
// The value to store is the stack top. "Emptying the window" leaves only its result cell.
// Stores into the word's context; an unset value raises script/need-value naming the word. word_set
// then empties the arguments window, word_set_from_stack leaves it as it is.
void word_set(cell* word);
void word_set_from_stack(cell* word);
// The word's value; unset raises script/no-value naming the word.
cell* word_get_checked(const cell* word);
// Slot n of the context (the values block, or the running call's arguments for a stack context).
// A context without values (a function that is not running), or n past them: script/not-defined.
cell* context_get_slot(node_ref ctx, uint32_t n);
// Stores into slot n with the unset check (script/need-value naming word n); set_slot then empties
// the window, set_local does not.
void context_set_slot(node_ref ctx, uint32_t n);
void context_set_local(node_ref ctx, uint32_t n);
// No unset check; an object's word n is flagged as set (WORD_ENTRY_SET). Empties the window.
void object_set_slot(node_ref ctx, uint32_t n);

// ---- the cycle stack ----------------------------------------------------------------------------
constexpr uint32_t CYCLE_STACK_ENTRIES = 1000;

struct cycle_stack_state {
    node_ref* base;
    node_ref* top;   // one past the last entry
    node_ref* end;
};
extern cycle_stack_state cycle_s;

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
