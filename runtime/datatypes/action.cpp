// action!: registered with native!'s routines; its own texts come from its type name.
#include "runtime/datatypes/action.h"

#include "runtime/datatypes/datatype.h"

void action::init()
{
    datatype::register_type(TYPE_ACTION, TYPE_NATIVE, "action!", {
        .make = inherit, .reflect = inherit, .form = inherit, .mold = inherit, .compare = inherit,
        .mark = inherit});
}
