// paren!: registered with every routine block! fills, and its own mold between parentheses.
#include "runtime/datatypes/paren.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/rtwords.h"

// A paren inside itself writes the cycle marker instead of recursing.
int32_t paren::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part,
                    int32_t indent)
{
    if (mold_cycle_check(value, buffer, &part, true)) return part;
    if (!only) part = string::emit_literal(buffer, "(", part);
    part = block::mold_each(value, buffer, only, all, flat, arg, part, indent);
    if (!only) part = string::emit_literal(buffer, ")", part);
    return part;
}

void paren::init()
{
    action_row row = inherited_row();
    row.mold = mold;
    datatype::register_type(TYPE_PAREN, TYPE_BLOCK, "paren!", row);
}
