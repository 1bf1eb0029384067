// The natives table: the routine behind each native number (1 to 120), filled in number order at
// start-up. A native! value holds its slot number, never the routine's address, and no native!
// is made for an empty slot, so nothing can call into one.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/datatypes/native.h"
#include "runtime/errors.h"

// A native works on the current arguments window and leaves its result in the window's first
// cell. check: it must test the argument types itself (callers that did not); refinements: per
// refinement of its spec, the window index of its first argument, or -1 when it is not used.
// The arguments of an unused refinement are in the window as none, so indices never shift.
using native_fn = void (*)(bool check, const int32_t* refinements);

struct natives_state {
    native_fn table[native::NATIVE_SLOTS];   // slot n is table[n - 1]; null when empty
    uint32_t next;                            // the slot that register_ fills next
    cell* print_scratch;                      // the block print and prin reduce into (a root cell)
    uint32_t last_line;                       // 1 after print, 0 after prin
    cell* values;                             // the native! of each number as the boot made it (a root cell)
};
extern natives_state natives_s;

namespace natives {
enum native_number : uint32_t {
    N_NONE = 0,
#define NATIVE(id, name) N_##id,
#include "runtime/interpreter/natives_list.inc"
#undef NATIVE
    NATIVE_COUNT = N_APPLY
};
static_assert(NATIVE_COUNT == 107 && N_EQUAL_Q == 25 && N_GREATER_OR_EQUAL_Q == 31 && N_PARSE == 40);

void init();
// Puts count routines into the slots from the next free one on, in list order.
void register_(uint32_t count, const native_fn* list);
// The routine of a slot; null for an empty slot or a number outside 1 to native::NATIVE_SLOTS.
native_fn entry(int64_t slot);
// The word of native n (1 to 107) as the boot source names it.
const char* name_of(uint32_t n);
// Puts the routine into slot n: the upper layers' natives (io) take their slots at start-up.
void install(uint32_t n, native_fn routine);

// ---- the natives built so far (natives_control.cpp, natives_eval.cpp) ----------------------------
// Control flow.
void if_star(bool check, const int32_t* refs);
void unless_star(bool check, const int32_t* refs);
void either_star(bool check, const int32_t* refs);
void any_star(bool check, const int32_t* refs);
void all_star(bool check, const int32_t* refs);
void while_star(bool check, const int32_t* refs);
void until_star(bool check, const int32_t* refs);
void loop_star(bool check, const int32_t* refs);
void repeat_star(bool check, const int32_t* refs);
void forever_star(bool check, const int32_t* refs);
void foreach_star(bool check, const int32_t* refs);
void forall_star(bool check, const int32_t* refs);
void remove_each_star(bool check, const int32_t* refs);
void switch_star(bool check, const int32_t* refs);
void case_star(bool check, const int32_t* refs);
void break_star(bool check, const int32_t* refs);
void continue_star(bool check, const int32_t* refs);
// Evaluation, words and functions.
void func_star(bool check, const int32_t* refs);
void function_star(bool check, const int32_t* refs);
void does_star(bool check, const int32_t* refs);
void has_star(bool check, const int32_t* refs);
void do_star(bool check, const int32_t* refs);
void get_star(bool check, const int32_t* refs);
void set_star(bool check, const int32_t* refs);
void print_star(bool check, const int32_t* refs);
void prin_star(bool check, const int32_t* refs);
void type_q_star(bool check, const int32_t* refs);
void reduce_star(bool check, const int32_t* refs);
void compose_star(bool check, const int32_t* refs);
void bind_star(bool check, const int32_t* refs);
void in_star(bool check, const int32_t* refs);
void construct_star(bool check, const int32_t* refs);
void value_q_star(bool check, const int32_t* refs);
void try_star(bool check, const int32_t* refs);
void exit_star(bool check, const int32_t* refs);
void return_star(bool check, const int32_t* refs);
void throw_star(bool check, const int32_t* refs);
void catch_star(bool check, const int32_t* refs);
void extend_star(bool check, const int32_t* refs);
void unset_star(bool check, const int32_t* refs);
void new_line_star(bool check, const int32_t* refs);
void new_line_q_star(bool check, const int32_t* refs);
void context_q_star(bool check, const int32_t* refs);
void apply_star(bool check, const int32_t* refs);
// The comparisons behind the operators, and not.
void equal_q_star(bool check, const int32_t* refs);
void not_equal_q_star(bool check, const int32_t* refs);
void strict_equal_q_star(bool check, const int32_t* refs);
void lesser_q_star(bool check, const int32_t* refs);
void greater_q_star(bool check, const int32_t* refs);
void lesser_or_equal_q_star(bool check, const int32_t* refs);
void greater_or_equal_q_star(bool check, const int32_t* refs);
void same_q_star(bool check, const int32_t* refs);
void not_star(bool check, const int32_t* refs);
// Sets (natives_compare.cpp).
void union_star(bool check, const int32_t* refs);
void intersect_star(bool check, const int32_t* refs);
void unique_star(bool check, const int32_t* refs);
void difference_star(bool check, const int32_t* refs);
void exclude_star(bool check, const int32_t* refs);
void complement_q_star(bool check, const int32_t* refs);
// The parse front end (parse.cpp).
void parse_star(bool check, const int32_t* refs);
// Text, codecs and constructors (natives_text.cpp).
void uppercase_star(bool check, const int32_t* refs);
void lowercase_star(bool check, const int32_t* refs);
void dehex_star(bool check, const int32_t* refs);
void enhex_star(bool check, const int32_t* refs);
void as_star(bool check, const int32_t* refs);
void as_pair_star(bool check, const int32_t* refs);
void as_point2d_star(bool check, const int32_t* refs);
void as_point3d_star(bool check, const int32_t* refs);
void as_money_star(bool check, const int32_t* refs);
void debase_star(bool check, const int32_t* refs);
void enbase_star(bool check, const int32_t* refs);
// System and time (natives_system.cpp).
void now_star(bool check, const int32_t* refs);
void wait_star(bool check, const int32_t* refs);
void recycle_star(bool check, const int32_t* refs);
void stats_star(bool check, const int32_t* refs);
void to_local_file_star(bool check, const int32_t* refs);
void set_env_star(bool check, const int32_t* refs);
void get_env_star(bool check, const int32_t* refs);
// Math (natives_math.cpp).
void negative_q_star(bool check, const int32_t* refs);
void positive_q_star(bool check, const int32_t* refs);
void sign_q_star(bool check, const int32_t* refs);
void zero_q_star(bool check, const int32_t* refs);
void nan_q_star(bool check, const int32_t* refs);
void max_star(bool check, const int32_t* refs);
void min_star(bool check, const int32_t* refs);
void shift_star(bool check, const int32_t* refs);
void to_hex_star(bool check, const int32_t* refs);
void sine_star(bool check, const int32_t* refs);
void cosine_star(bool check, const int32_t* refs);
void tangent_star(bool check, const int32_t* refs);
void arcsine_star(bool check, const int32_t* refs);
void arccosine_star(bool check, const int32_t* refs);
void arctangent_star(bool check, const int32_t* refs);
void arctangent2_star(bool check, const int32_t* refs);
void log_2_star(bool check, const int32_t* refs);
void log_10_star(bool check, const int32_t* refs);
void log_e_star(bool check, const int32_t* refs);
void exp_star(bool check, const int32_t* refs);
void square_root_star(bool check, const int32_t* refs);

// ---- services of the natives to the rest of the evaluator -----------------------------------------
// Truth of a condition: none and false are false. The strict test (either, while, until, case)
// refuses unset with script/no-return.
inline bool truthy_strict(const cell* value)
{
    if (cell_type(value) == TYPE_UNSET) fire(ERR_SCRIPT, err::NO_RETURN);
    return !(cell_type(value) == TYPE_NONE || (cell_type(value) == TYPE_LOGIC && value->data1 != 1));
}
// Records the native! the boot made for number n: a caller that did not check the argument types
// has them checked against its spec, whatever its word refers to later.
void record(uint32_t n, const cell* native);
// Reports an error without raising it: the error made from category, id and arguments is printed
// through the output hooks, under a native frame of its own that is gone again on return.
void print_error(uint32_t category, uint32_t id, const cell* arg1 = nullptr, const cell* arg2 = nullptr,
                 const cell* arg3 = nullptr);
// set-many of the loops and set: words 1..count from the items of values (none past its tail).
void set_many(const cell* words, const cell* values, uint32_t count, bool any, bool only, bool some);
// Calls the library function named `name` with the n values (interpreter::call_value) and returns
// its result. Raises internal/not-done naming it while the library does not define it.
cell call_library(const char* name, const cell* values, uint32_t n);
// wait's one pass of the GUI's message loop after it slept (installed by the GUI back end's start).
extern void (*wait_events_hook)();
}  // namespace natives
