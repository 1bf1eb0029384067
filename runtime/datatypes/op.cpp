// op!: wrapping a two-argument callable, and its mold; reflection, form, compare and marking come
// from native!, whose routines read the wrapped type from the header.
#include "runtime/datatypes/op.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/datatypes/rtwords.h"

namespace {

bool symbol_is(const cell* word, rt_refinement which)
{
    return symbol::resolve(word->data2) == symbol::resolve(rt_refinement_word(which)->data2);
}

bool wraps_function(uint32_t type) { return type == TYPE_FUNCTION || type == TYPE_ROUTINE; }

}  // namespace

bool op::two_args_q(const cell* spec)
{
    cell s{TYPE_BLOCK, 0, spec->data2, 0};
    uint32_t count = 0;
    bool word_seen = false;
    for (uint32_t i = 0; i < block::rs_length(&s); i++) {
        const cell* c = block::ks_abs_at(&s, i);
        switch (cell_type(c)) {
        case TYPE_WORD:
            word_seen = true;
            count++;
            break;
        case TYPE_LIT_WORD: case TYPE_GET_WORD:
            if (!word_seen) return false;
            count++;
            break;
        case TYPE_REFINEMENT:
            if (symbol_is(c, REF_LOCAL) || symbol_is(c, REF_EXTERN)) return count == 2;
            return false;
        case TYPE_SET_WORD:
            return count == 2;
        default:
            break;
        }
    }
    return count == 2;
}

cell* op::make(cell* proto, cell* spec, uint32_t)
{
    uint32_t wrapped = cell_type(spec);
    if (wrapped != TYPE_NATIVE && wrapped != TYPE_ACTION && !wraps_function(wrapped)) {
        cell type{TYPE_DATATYPE, wrapped, 0, 0};
        fire(ERR_SCRIPT, err::INVALID_TYPE, &type);
    }
    cell spec_block{TYPE_BLOCK, 0, spec->data2, 0};
    if (!two_args_q(&spec_block)) fire(ERR_SCRIPT, err::BAD_OP_SPEC);
    cell callable = *spec;
    if (wraps_function(wrapped)) {
        cell more{TYPE_BLOCK, 0, callable.data3, 0};
        if (block::rs_length(&more) > 3) *block::ks_abs_at(&more, 3) = callable;
    }
    *proto = callable;
    proto->header = wrapped << WRAPPED_SHIFT | TYPE_OP;
    return proto;
}

int32_t op::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent)
{
    cell v = *value;
    bool function = (v.header >> WRAPPED_SHIFT & 0xFF) == TYPE_FUNCTION;
    part = string::emit_literal(buffer, function ? "make op! func " : "make op! [", part);
    cell spec{TYPE_BLOCK, 0, v.data2, 0};
    part = block::mold(&spec, buffer, only, all, flat, arg, part, indent);
    if (!function) return string::emit_literal(buffer, "]", part);
    cell more{TYPE_BLOCK, 0, v.data3, 0};
    cell body = *block::ks_abs_at(&more, 0);
    if (cell_type(&body) != TYPE_BLOCK) return part;
    return block::mold(&body, buffer, false, all, flat, arg, part, indent);
}

void op::init()
{
    datatype::register_type(TYPE_OP, TYPE_NATIVE, "op!", {
        .make = make, .reflect = inherit, .form = inherit, .mold = mold, .compare = inherit, .mark = inherit});
}
