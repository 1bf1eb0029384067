// integer!: the 32-bit signed integer, its constructors, the decimal text every module prints
// numbers with, and the arithmetic core that char! and the vector-like types share.
// Must not break: arithmetic never wraps and never relies on C++ overflow; a result that leaves
// the 32-bit range becomes a float! where the action allows it and math/overflow elsewhere.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/datatypes/datatype.h"

// Math operation codes, shared by the arithmetic of every numeric type and the set operations.
enum math_op : uint32_t {
    MATH_ADD = 0, MATH_SUBTRACT, MATH_MULTIPLY, MATH_DIVIDE, MATH_REMAINDER, MATH_OR, MATH_AND, MATH_XOR,
    MATH_UNIQUE, MATH_UNION, MATH_INTERSECT, MATH_EXCLUDE, MATH_DIFFERENCE
};

namespace integer {
void init();

// ---- constructors: each stores the value in word 2 and returns the cell -------------------------
cell* push(int32_t value);                   // a new cell at the argument stack's top
cell* make_at(cell* slot, int32_t value);    // changes only the type byte of the slot's header
cell* make_in(cell* blk, int32_t value);     // appended to the block (the root block when null)
cell* box(int32_t value);                    // into the current call's result cell

inline int32_t get(const cell* c) { return int32_t(c->data2); }
int32_t get_arg();          // word 2 of the current call's first argument
int32_t get_any_arg();      // the same when it is an integer!, else 0

// ---- shared routines ----------------------------------------------------------------------------
// Whether the double of a float! cell lies outside the int32 range or is NaN.
bool overflow_q(const cell* f);
int32_t sign(int32_t value);
int32_t absolute_checked(int32_t value);   // math/overflow for -2147483648
// NUL-terminated decimal text in a static buffer, valid until the next call.
const char* form_signed(int32_t value);
// The sum, difference or product (MATH_ADD, MATH_SUBTRACT, MATH_MULTIPLY) of two integers into r,
// as every integer path computes it (the action's core below, the interpreter's fast path):
// false when it leaves the int32 range, where the result is wide_float's.
inline bool small_op(int32_t left, int32_t right, uint32_t code, int32_t* r)
{
    return !(code == MATH_ADD        ? __builtin_add_overflow(left, right, r)
             : code == MATH_SUBTRACT ? __builtin_sub_overflow(left, right, r)
                                     : __builtin_mul_overflow(left, right, r));
}
inline double wide_float(int32_t left, int32_t right, uint32_t code)
{
    double a = left, b = right;
    return code == MATH_ADD ? a + b : code == MATH_SUBTRACT ? a - b : a * b;
}
// The answer of compare for two integers (-1, 0, 1): the action's and the fast path's.
inline int32_t order(int32_t left, int32_t right) { return left < right ? -1 : left > right ? 1 : 0; }
// A quotient that stays an integer: false for a division by zero or -2147483648 / -1 (which
// raise) and for one with a remainder (a float!).
inline bool whole_quotient(int32_t left, int32_t right, int32_t* r)
{
    if (right == 0 || (left == INT32_MIN && right == -1) || left % right != 0) return false;
    *r = left / right;
    return true;
}
// The arithmetic core. With a cell, an integer result goes into its word 2 only (a char! stays a
// char!) and an add, subtract or multiply that leaves the int32 range, or a division with a
// remainder, turns the cell into a float!; 0 is returned then. Without a cell such an overflow
// raises math/overflow and a division truncates.
int32_t do_math_op(int32_t left, int32_t right, uint32_t code, cell* result);
// The exact result of a 32-bit operation, for the vector-like types that saturate or promote where
// an integer fails: nothing overflows in 64 bits (-2147483648 / -1 is 2147483648), and only a
// division or remainder by zero raises (math/zero-divide).
int64_t wide_op(int32_t left, int32_t right, uint32_t code);
// The typed entry: left is the call's first argument and receives the result.
cell* do_math(cell* left, cell* right, uint32_t code);
// ---- arithmetic shared by the numeric types ----------------------------------------------------
// The action routine a math code stands for in a type's row (null when it has none).
binary_fn math_routine(uint32_t type, uint32_t code);
// Exchanges two operand cells: the right operand's type then works with the left as its own right.
void swap_operands(cell* left, cell* right);
// The type's routine for the code on (first, second); the result ends in first. A type without
// one raises script/invalid-type naming it.
cell* by_type_of(cell* first, cell* second, uint32_t type, uint32_t code);
// value2's own compare on the two swapped (orderings mirrored), its answer turned back.
int32_t compare_reversed(cell* value1, cell* value2, int32_t op);
// The word of an arithmetic action (add, subtract, multiply or divide), as errors name it.
const cell* operation_word(uint32_t code);
// script/not-related: the word of the operation (or function) and the datatype.
[[noreturn]] void not_related(const cell* word, uint32_t type);

// A decimal text of units (1, 2 or 4 bytes each): an optional sign, digits, "'" separators after
// the sign. *status: 0 on success, -1 for a text that is not a number, -2 for int32 overflow.
int32_t from_text(const uint8_t* start, uint32_t count, uint32_t unit, int32_t* status);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
cell* random(cell* value, bool seed, bool secure, bool only);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* absolute(cell* value);
cell* add(cell* value1, cell* value2);
cell* divide(cell* value1, cell* value2);
cell* multiply(cell* value1, cell* value2);
cell* negate(cell* value);
cell* power(cell* base, cell* exponent);
cell* remainder(cell* value1, cell* value2);
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
cell* subtract(cell* value1, cell* value2);
cell* even_q(cell* value);
cell* odd_q(cell* value);
cell* and_t(cell* value1, cell* value2);
cell* complement(cell* value);
cell* or_t(cell* value1, cell* value2);
cell* xor_t(cell* value1, cell* value2);
}  // namespace integer
