// The natives table, its filling in number order, the natives not built yet (each raises
// internal/not-done naming itself), the comparisons behind the operators, and the services the
// native routines share: truth tests, set-many, argument checks for callers that did not check.
#include "runtime/interpreter/natives.h"

#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/stack.h"

natives_state natives_s;

namespace {

const char* const native_names[] = {
#define NATIVE(id, name) name,
#include "runtime/interpreter/natives_list.inc"
#undef NATIVE
};

// A native whose behaviour is not built yet: internal/not-done with its word.
template <uint32_t N>
void not_done(bool, const int32_t*)
{
    cell name = *word::load(native_names[N - 1]);
    fire(ERR_INTERNAL, err::NOT_DONE, &name);
}

template <int32_t code>
void comparison(bool check, const int32_t* refs)
{
    actions::compare_to_logic(code);
}

using namespace natives;

// In native-number order: the routine of native n is routines[n - 1].
const native_fn routines[] = {
    if_star, unless_star, either_star, any_star, all_star, while_star, until_star, loop_star, repeat_star,
    forever_star, foreach_star, forall_star, remove_each_star, func_star, function_star, does_star, has_star,
    switch_star, case_star, do_star, get_star, set_star, print_star, prin_star,
    equal_q_star, not_equal_q_star, strict_equal_q_star, lesser_q_star, greater_q_star, lesser_or_equal_q_star,
    greater_or_equal_q_star, same_q_star, not_star, type_q_star, reduce_star, compose_star,
    stats_star, bind_star, in_star, parse_star, union_star, intersect_star,
    unique_star, difference_star, exclude_star, complement_q_star,
    dehex_star, enhex_star, negative_q_star, positive_q_star, max_star,
    min_star, shift_star, to_hex_star, sine_star, cosine_star,
    tangent_star, arcsine_star, arccosine_star, arctangent_star,
    arctangent2_star, nan_q_star, log_2_star, log_10_star, log_e_star,
    exp_star, square_root_star, construct_star, value_q_star, try_star, uppercase_star,
    lowercase_star, as_pair_star, as_point2d_star, as_point3d_star,
    as_money_star, break_star, continue_star, exit_star, return_star, throw_star, catch_star, extend_star,
    not_done<N_DEBASE>, to_local_file_star, wait_star, not_done<N_CHECKSUM>, unset_star,
    new_line_star, new_line_q_star, not_done<N_ENBASE>, context_q_star, set_env_star, get_env_star,
    not_done<N_LIST_ENV>, now_star, sign_q_star, as_star, not_done<N_CALL>,
    zero_q_star, not_done<N_SIZE_Q>, not_done<N_BROWSE>, not_done<N_COMPRESS>, not_done<N_DECOMPRESS>,
    recycle_star, not_done<N_TRANSCODE>, apply_star,
};
static_assert(sizeof routines / sizeof routines[0] == NATIVE_COUNT);

}  // namespace

void natives::init()
{
    std::memset(natives_s.table, 0, sizeof natives_s.table);
    natives_s.next = 1;
    natives_s.last_line = 0;
    native_s.native_slot_filled = [](int64_t slot) { return entry(slot) != nullptr; };
    natives_s.print_scratch = block::make_in(nullptr, 32);   // a root cell: it never moves
    register_(NATIVE_COUNT, routines);
}

void natives::register_(uint32_t count, const native_fn* list)
{
    for (uint32_t i = 0; i < count; i++) {
        if (natives_s.next > native::NATIVE_SLOTS) fire(ERR_INTERNAL, err::LIMIT_HIT);
        natives_s.table[natives_s.next++ - 1] = list[i];
    }
}

native_fn natives::entry(int64_t slot) { return slot >= 1 && slot <= native::NATIVE_SLOTS ? natives_s.table[slot - 1] : nullptr; }

void natives::install(uint32_t n, native_fn routine)
{
    if (n < 1 || n > NATIVE_COUNT) fire(ERR_INTERNAL, err::LIMIT_HIT);
    natives_s.table[n - 1] = routine;
}

const char* natives::name_of(uint32_t n) { return n >= 1 && n <= NATIVE_COUNT ? native_names[n - 1] : ""; }

// ---- comparisons --------------------------------------------------------------------------------

void natives::equal_q_star(bool check, const int32_t* refs) { comparison<COMP_EQUAL>(check, refs); }
void natives::not_equal_q_star(bool check, const int32_t* refs) { comparison<COMP_NOT_EQUAL>(check, refs); }
void natives::strict_equal_q_star(bool check, const int32_t* refs) { comparison<COMP_STRICT_EQUAL>(check, refs); }
void natives::lesser_q_star(bool check, const int32_t* refs) { comparison<COMP_LESSER>(check, refs); }
void natives::greater_q_star(bool check, const int32_t* refs) { comparison<COMP_GREATER>(check, refs); }
void natives::lesser_or_equal_q_star(bool check, const int32_t* refs) { comparison<COMP_LESSER_EQUAL>(check, refs); }
void natives::greater_or_equal_q_star(bool check, const int32_t* refs)
{
    comparison<COMP_GREATER_EQUAL>(check, refs);
}

void natives::not_star(bool, const int32_t*)
{
    cell* base = stack::arguments();
    *base = cell{TYPE_LOGIC, cell_falsy(base) ? 1u : 0u, 0, 0};
}

// ---- shared services ----------------------------------------------------------------------------

void natives::set_many(const cell* words_value, const cell* values_value, uint32_t count, bool any, bool only,
                       bool some)
{
    cell words = *words_value, values = *values_value;
    uint32_t vt = cell_type(&values);
    bool spread = !only && (any_block_q(vt) || vt == TYPE_MAP);
    if (vt == TYPE_MAP && !only) fire(ERR_INTERNAL, err::NOT_DONE);
    cell* mark = stack::top();
    cell* held = stack::push(&values);
    // First pass: every target is a word kind, and no value is unset unless allowed.
    for (uint32_t i = 0; i < count; i++) {
        cell w = block::rs_head(&words)[i];
        uint32_t wt = cell_type(&w);
        if (wt != TYPE_WORD && wt != TYPE_SET_WORD && wt != TYPE_GET_WORD && wt != TYPE_LIT_WORD)
            fire(ERR_SCRIPT, err::INVALID_ARG, &w);
        if (!spread) continue;
        uint32_t n = block::rs_length(held);
        cell v = i < n ? block::rs_head(held)[i] : none_value;
        if (!any && cell_type(&v) == TYPE_UNSET) fire(ERR_SCRIPT, err::NEED_VALUE, &w);
    }
    if (!spread && !any && vt == TYPE_UNSET) {
        cell w = block::rs_head(&words)[0];
        fire(ERR_SCRIPT, err::NEED_VALUE, &w);
    }
    for (uint32_t i = 0; i < count; i++) {
        cell w = block::rs_head(&words)[i];
        uint32_t n = block::rs_length(held);
        cell v = !spread ? values : i < n ? block::rs_head(held)[i] : none_value;
        if (some && cell_type(&v) == TYPE_NONE) continue;
        cell* target = stack::push(&w);
        word::set(target, &v);
        stack::pop(1);
    }
    stack_s.top = mark;
}
