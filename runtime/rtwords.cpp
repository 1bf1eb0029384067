// Mold cycle markers, and the runtime's refinement words that errors name.
#include "runtime/rtwords.h"

#include "runtime/cells.h"
#include "runtime/datatypes/scalars.h"
#include "runtime/datatypes/string.h"

namespace {

struct cycle_marker {
    uint32_t type;
    const char* mold;
    int32_t length;
};

constexpr cycle_marker markers[] = {
    {TYPE_BLOCK, "[...]", 5},   {TYPE_HASH, "[...]", 5},     {TYPE_PAREN, "(...)", 5},
    {TYPE_MAP, "#[...]", 6},    {TYPE_OBJECT, "make object! [...]", 18},
    {TYPE_PATH, "...", 3},      {TYPE_LIT_PATH, "...", 3},   {TYPE_SET_PATH, "...", 3},
    {TYPE_GET_PATH, "...", 3},
};

}  // namespace

// The refinement words come with the word module; none stands in until then.
const cell* rt_refinement_word(rt_refinement) { return &none_value; }

bool mold_cycle_check(const cell* value, cell* buffer, int32_t* budget, bool mold)
{
    uint32_t type = cell_type(value);
    node_ref node = type == TYPE_OBJECT ? value->data1 : value->data2;
    if (!cycle_find(node)) return false;
    const char* text = "...";
    int32_t length = 3;
    if (mold) {
        for (const cycle_marker& m : markers) {
            if (m.type != type) continue;
            text = m.mold;
            length = m.length;
        }
    }
    string::concatenate_literal(buffer, text);
    *budget -= length;
    return true;
}
