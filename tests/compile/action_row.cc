// Rows that must not compile, one per KIV_ROW_CASE, and the control row (case 0) that must. CTest
// compiles each case with the cross compiler (the compile.action_row.* entries): a registration
// with a routine of the wrong signature or fields out of slot order is a compile error.
#include "runtime/datatypes/datatype.h"

namespace {

cell* make(cell*, cell*, uint32_t) { return nullptr; }
int32_t form(cell*, cell*, cell*, int32_t part) { return part; }
int32_t compare(cell*, cell*, int32_t) { return 0; }
void mark(const cell*) {}

#if KIV_ROW_CASE == 0
const action_row row{.make = make, .form = form, .compare = compare, .at = inherit, .mark = mark};
#elif KIV_ROW_CASE == 1
const action_row row{.make = form};   // a form routine in the make slot
#elif KIV_ROW_CASE == 2
const action_row row{.form = form, .make = make};   // fields out of slot order
#elif KIV_ROW_CASE == 3
const action_row row{.compare = make};   // a make routine in the compare slot
#elif KIV_ROW_CASE == 4
const action_row row{.make = make, .mark = form};   // a form routine as the collector's marker
#endif

}  // namespace

const action_row* used_row() { return &row; }
