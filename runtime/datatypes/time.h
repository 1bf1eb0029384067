// time!: a duration or time of day held as seconds in a double, a child of float! that takes its
// compare, random, absolute, negate and remainder. Its own: the h:mm:ss text, conversion from
// blocks and text, and the hour, minute and second fields by path and pick.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace time_ {
void init();

// ---- constructors -------------------------------------------------------------------------------
cell* make_at(cell* slot, double seconds);   // changes only the type byte of the slot's header
cell* push(double seconds);                  // writes the whole header
// Appended at the tail of the block (the root block when null), whole header written.
cell* make_in(cell* blk, uint32_t high, uint32_t low);
cell* make_in(cell* blk, double seconds);

// ---- fields -------------------------------------------------------------------------------------
enum field : int32_t { FIELD_HOUR = 1, FIELD_MINUTE = 2, FIELD_SECOND = 3 };
// Hours toward zero and minutes 0-59 of |seconds|; script/type-limit when there is no int32 for it.
int32_t get_hours(double seconds);
int32_t get_minutes(double seconds);
// 1, 2 or 3 for the words hour, minute and second (case ignored), -1 for another word; another
// word raises script/cannot-use when value is a time! (pick names fields only).
int32_t field_index(const cell* word, const cell* value);
// The field's value pushed on the argument stack: integer! hour and minute, float! second.
cell* get_field(const cell* time, int32_t index);
// The time with a field set (an integer!, or a float! second); script/invalid-arg otherwise.
double with_field(double seconds, int32_t index, const cell* value);

// Appends the h:mm:ss text; returns part less what it wrote. exact: seconds that read back as
// exactly this time (mold/all), else six significant digits.
int32_t form_into(double seconds, cell* buffer, int32_t part, bool exact = false);
[[noreturn]] void bad_to_arg_error(const cell* spec);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);   // make and to
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
cell* add(cell* value1, cell* value2);
cell* subtract(cell* value1, cell* value2);
cell* multiply(cell* value1, cell* value2);
cell* divide(cell* value1, cell* value2);
cell* round(cell* value, cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
cell* even_q(cell* value);
cell* odd_q(cell* value);
cell* pick(cell* value, int32_t n, cell* index);
}  // namespace time_
