// Path kinds: making, form and mold. The walks go by node and index: forming a step appends to
// the buffer, which may move the path's own cells.
#include "runtime/datatypes/path.h"

#include <cmath>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/datatypes/rtwords.h"

namespace {

// Writes each step through `step` with "/" between them. With a /part limit, a step that leaves
// no budget ends the walk without a separator.
template <class F>
int32_t walk_steps(cell* value, cell* buffer, cell* arg, int32_t part, bool mold, F step)
{
    if (mold_cycle_check(value, buffer, &part, mold)) return part;
    cell p = *value;
    cycle_scope walking(p.data2);
    bool limited = arg_given(arg);
    uint32_t n = block::rs_length(&p);
    for (uint32_t i = 0; i < n; i++) {
        cell v = *block::ks_abs_at(&p, p.data1 + i);
        part = step(&v, part);
        if (limited && part <= 0) return part;
        if (i + 1 < n) part = string::emit_literal(buffer, "/", part);
    }
    return part;
}

[[noreturn]] void refuse(uint32_t type, cell* spec)
{
    cell target{TYPE_DATATYPE, type, 0, 0};
    fire_error_arg(&target, spec);
}

}  // namespace

cell* path::make(cell* proto, cell* spec, uint32_t type)
{
    switch (cell_type(spec)) {
    case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_PERCENT: {
        double size = cell_type(spec) == TYPE_INTEGER ? int32_t(spec->data2) : std::trunc(cell_float(spec));
        // Mended: a negative or unrepresentable size is refused before it reaches the allocator.
        if (!(size >= 0 && size <= 2147483647.0)) refuse(type, spec);
        cell* out = block::push_only_star(uint32_t(size));
        cell_set_type(out, type);
        return out;
    }
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH:
        return block::to(proto, spec, type);
    default:
        refuse(type, spec);
    }
}

cell* path::to(cell* proto, cell* spec, uint32_t type)
{
    uint32_t t = cell_type(spec);
    if (t != TYPE_MAP && t != TYPE_OBJECT && t != TYPE_TYPESET) return block::to(proto, spec, type);
    cell step = *spec;
    cell_clear_new_line(&step);
    cell* out = block::push_only_star(1);
    block::rs_append(out, &step);
    out->header = type;
    return out;
}

int32_t path::form(cell* value, cell* buffer, cell* arg, int32_t part)
{
    return walk_steps(value, buffer, arg, part, false,
                      [&](cell* v, int32_t budget) { return form_value(v, buffer, arg, budget); });
}

int32_t path::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t)
{
    return walk_steps(value, buffer, arg, part, true, [&](cell* v, int32_t budget) {
        return mold_value(v, buffer, only, all, flat, arg, budget, 0);
    });
}

cell* path::push(cell* c)
{
    cell_set_type(c, TYPE_PATH);
    return stack::push(c);
}

void path::init()
{
    datatype::register_type(TYPE_PATH, TYPE_BLOCK, "path!", {
        .make = make, .reflect = inherit, .to = to, .form = form, .mold = mold, .eval_path = inherit,
        .compare = inherit, .append = inherit, .at = inherit, .back = inherit, .change = inherit,
        .clear = inherit, .copy = inherit, .find = inherit, .head = inherit, .head_q = inherit,
        .index_q = inherit, .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
        .pick = inherit, .poke = inherit, .put = inherit, .remove = inherit, .reverse = inherit,
        .select = inherit, .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit,
        .take = inherit, .modify = inherit,
        .mark = inherit});
}

// ---- the other kinds: a prefix or suffix around path!'s mold ------------------------------------

namespace {

int32_t mold_marked(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part,
                    const char* prefix, const char* suffix)
{
    part = string::emit_literal(buffer, prefix, part);
    part = path::mold(value, buffer, only, all, flat, arg, part, 0);
    return string::emit_literal(buffer, suffix, part);
}

// Every slot path! fills, with the kind's own mold.
void register_kind(uint32_t id, const char* name, mold_fn mold)
{
    action_row row = inherited_row();
    row.mold = mold;
    datatype::register_type(id, TYPE_PATH, name, row);
}

}  // namespace

int32_t lit_path::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t)
{
    return mold_marked(value, buffer, only, all, flat, arg, part, "'", "");
}
void lit_path::init() { register_kind(TYPE_LIT_PATH, "lit-path!", mold); }

int32_t set_path::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t)
{
    return mold_marked(value, buffer, only, all, flat, arg, part, "", ":");
}
void set_path::init() { register_kind(TYPE_SET_PATH, "set-path!", mold); }

int32_t get_path::mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t)
{
    return mold_marked(value, buffer, only, all, flat, arg, part, ":", "");
}
void get_path::init() { register_kind(TYPE_GET_PATH, "get-path!", mold); }
