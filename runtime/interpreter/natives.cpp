// The natives table, its filling in number order, the natives not built yet (each raises
// internal/not-done naming itself), the comparisons behind the operators, and the services the
// native routines share: truth tests, set-many, argument checks for callers that did not check.
#include "runtime/interpreter/natives.h"

#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/stack.h"

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

// A native called by a caller that did not check its arguments (check set) has them checked
// against its spec first; the routine itself then runs as the interpreter calls it.
template <uint32_t N, native_fn F>
void checked(bool check, const int32_t* refs)
{
    if (check) {
        cell fn = block::rs_head(natives_s.values)[N - 1];
        cell name = *word::load(native_names[N - 1]);
        if (cell_type(&fn) == TYPE_NATIVE) interpreter::check_args(&fn, refs, &name);
    }
    F(false, refs);
}

using namespace natives;

// In native-number order: the routine of native n is routines[n - 1].
const native_fn routines[] = {
    checked<N_IF, if_star>, checked<N_UNLESS, unless_star>, checked<N_EITHER, either_star>,
    checked<N_ANY, any_star>, checked<N_ALL, all_star>, checked<N_WHILE, while_star>,
    checked<N_UNTIL, until_star>, checked<N_LOOP, loop_star>, checked<N_REPEAT, repeat_star>,
    checked<N_FOREVER, forever_star>, checked<N_FOREACH, foreach_star>, checked<N_FORALL, forall_star>,
    checked<N_REMOVE_EACH, remove_each_star>, checked<N_FUNC, func_star>, checked<N_FUNCTION, function_star>,
    checked<N_DOES, does_star>, checked<N_HAS, has_star>, checked<N_SWITCH, switch_star>,
    checked<N_CASE, case_star>, checked<N_DO, do_star>, checked<N_GET, get_star>, checked<N_SET, set_star>,
    checked<N_PRINT, print_star>, checked<N_PRIN, prin_star>, checked<N_EQUAL_Q, equal_q_star>,
    checked<N_NOT_EQUAL_Q, not_equal_q_star>, checked<N_STRICT_EQUAL_Q, strict_equal_q_star>,
    checked<N_LESSER_Q, lesser_q_star>, checked<N_GREATER_Q, greater_q_star>,
    checked<N_LESSER_OR_EQUAL_Q, lesser_or_equal_q_star>, checked<N_GREATER_OR_EQUAL_Q, greater_or_equal_q_star>,
    checked<N_SAME_Q, same_q_star>, checked<N_NOT, not_star>, checked<N_TYPE_Q, type_q_star>,
    checked<N_REDUCE, reduce_star>, checked<N_COMPOSE, compose_star>, checked<N_STATS, stats_star>,
    checked<N_BIND, bind_star>, checked<N_IN, in_star>, checked<N_PARSE, parse_star>, checked<N_UNION, union_star>,
    checked<N_INTERSECT, intersect_star>, checked<N_UNIQUE, unique_star>, checked<N_DIFFERENCE, difference_star>, checked<N_EXCLUDE, exclude_star>,
    checked<N_COMPLEMENT_Q, complement_q_star>, checked<N_DEHEX, dehex_star>, checked<N_ENHEX, enhex_star>, checked<N_NEGATIVE_Q, negative_q_star>,
    checked<N_POSITIVE_Q, positive_q_star>, checked<N_MAX, max_star>, checked<N_MIN, min_star>, checked<N_SHIFT, shift_star>, checked<N_TO_HEX, to_hex_star>,
    checked<N_SINE, sine_star>, checked<N_COSINE, cosine_star>, checked<N_TANGENT, tangent_star>, checked<N_ARCSINE, arcsine_star>, checked<N_ARCCOSINE, arccosine_star>,
    checked<N_ARCTANGENT, arctangent_star>, checked<N_ARCTANGENT2, arctangent2_star>, checked<N_NAN_Q, nan_q_star>, checked<N_LOG_2, log_2_star>, checked<N_LOG_10, log_10_star>,
    checked<N_LOG_E, log_e_star>, checked<N_EXP, exp_star>, checked<N_SQUARE_ROOT, square_root_star>, checked<N_CONSTRUCT, construct_star>,
    checked<N_VALUE_Q, value_q_star>, checked<N_TRY, try_star>, checked<N_UPPERCASE, uppercase_star>, checked<N_LOWERCASE, lowercase_star>,
    checked<N_AS_PAIR, as_pair_star>, checked<N_AS_POINT2D, as_point2d_star>, checked<N_AS_POINT3D, as_point3d_star>, checked<N_AS_MONEY, as_money_star>,
    checked<N_BREAK, break_star>, checked<N_CONTINUE, continue_star>, checked<N_EXIT, exit_star>,
    checked<N_RETURN, return_star>, checked<N_THROW, throw_star>, checked<N_CATCH, catch_star>,
    checked<N_EXTEND, extend_star>, checked<N_DEBASE, debase_star>, checked<N_TO_LOCAL_FILE, to_local_file_star>, checked<N_WAIT, wait_star>,
    not_done<N_CHECKSUM>, checked<N_UNSET, unset_star>, checked<N_NEW_LINE, new_line_star>,
    checked<N_NEW_LINE_Q, new_line_q_star>, checked<N_ENBASE, enbase_star>, checked<N_CONTEXT_Q, context_q_star>,
    checked<N_SET_ENV, set_env_star>, checked<N_GET_ENV, get_env_star>, not_done<N_LIST_ENV>, checked<N_NOW, now_star>, checked<N_SIGN_Q, sign_q_star>,
    checked<N_AS, as_star>, not_done<N_CALL>, checked<N_ZERO_Q, zero_q_star>, not_done<N_SIZE_Q>, not_done<N_BROWSE>,
    not_done<N_COMPRESS>, not_done<N_DECOMPRESS>, checked<N_RECYCLE, recycle_star>, not_done<N_TRANSCODE>,
    checked<N_APPLY, apply_star>,
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
    natives_s.values = block::make_in(nullptr, NATIVE_COUNT);
    for (uint32_t n = 0; n < NATIVE_COUNT; n++) block::rs_append(natives_s.values, &none_value);
    register_(NATIVE_COUNT, routines);
}

void natives::register_(uint32_t count, const native_fn* list)
{
    for (uint32_t i = 0; i < count; i++) {
        if (natives_s.next > native::NATIVE_SLOTS) fire(ERR_INTERNAL, err::LIMIT_HIT);
        natives_s.table[natives_s.next++ - 1] = list[i];
    }
}

void natives::record(uint32_t n, const cell* native)
{
    if (n >= 1 && n <= NATIVE_COUNT) block::rs_head(natives_s.values)[n - 1] = *native;
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
    cell* mark = stack::top();
    // A map gives its live entries' keys and values in turn, as foreach takes them.
    cell* held = vt == TYPE_MAP && !only ? map::pairs_of(&values) : stack::push(&values);
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
