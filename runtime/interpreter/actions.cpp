// The 62 action entries: each reads its arguments from the current window (base[0] first, each
// refinement as the window index of its first argument or -1), finds the routine of the first
// argument's datatype in the action table and leaves the result in base[0]. Routines return the
// cell that holds their result; it may be on the stack above the window, so it is copied down
// before anything else is pushed.
#include "runtime/interpreter/actions.h"

#include <array>
#include <cstring>
#include <utility>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

actions_state actions_s;

namespace {

inline cell* base() { return stack_s.arguments; }
// A refinement's argument cell, or null when it is not used (routines test "absent" that way).
inline cell* arg(const int32_t* refs, int i) { return refs[i] >= 0 ? base() + refs[i] : nullptr; }
inline bool flag(const int32_t* refs, int i) { return refs[i] >= 0; }

template <class F>
F routine_of(const cell* value, F action_table_row::*field, uint32_t slot)
{
    uint32_t type = actions::dispatch_type(value, slot);
    F f = datatype_s.rows[type].*field;
    if (!f) actions::no_routine(type);
    return f;
}

// After a non-local exit out of user code the action ran (a sort's comparison), base() is the
// exit's target window and holds its value: the routine's result must not overwrite it.
inline void result(const cell* r)
{
    if (r && r != base() && !exit_code()) *base() = *r;
}

// ---- the entries --------------------------------------------------------------------------------

void make(bool, const int32_t*)
{
    make_fn f = routine_of(base(), &action_table_row::make, ACT_MAKE);
    result(f(base(), base() + 1, actions::dispatch_type(base(), ACT_MAKE)));
}
void random(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::random, ACT_RANDOM)(base(), flag(r, 0), flag(r, 1), flag(r, 2)));
}
void reflect(bool, const int32_t*)
{
    result(routine_of(base(), &action_table_row::reflect, ACT_REFLECT)(base(), base() + 1));
}
void to(bool, const int32_t*)
{
    make_fn f = routine_of(base(), &action_table_row::to, ACT_TO);
    result(f(base(), base() + 1, actions::dispatch_type(base(), ACT_TO)));
}
void form(bool, const int32_t* r)
{
    int32_t limit = flag(r, 0) ? int32_t(arg(r, 0)->data2) : actions::NO_LIMIT;
    result(actions::form_value(base(), limit));
}
void mold(bool, const int32_t* r)
{
    int32_t limit = flag(r, 3) ? int32_t(arg(r, 3)->data2) : actions::NO_LIMIT;
    result(actions::mold_value(base(), flag(r, 0), flag(r, 1), flag(r, 2), limit));
}
void eval_path(bool, const int32_t*)
{
    eval_path_fn f = routine_of(base(), &action_table_row::eval_path, ACT_EVAL_PATH);
    result(f(base(), base() + 1, nullptr, base() + 1, base(), base() + 1, 0, false, true, true, false));
}
void compare(bool, const int32_t*)
{
    int32_t code = cell_type(base() + 2) == TYPE_INTEGER ? int32_t(base()[2].data2) : COMP_EQUAL;
    actions::compare_to_logic(code);
}

template <unary_fn action_table_row::*field, uint32_t slot>
void unary(bool, const int32_t*)
{
    result(routine_of(base(), field, slot)(base()));
}
template <binary_fn action_table_row::*field, uint32_t slot>
void binary(bool, const int32_t*)
{
    result(routine_of(base(), field, slot)(base(), base() + 1));
}
template <position_fn action_table_row::*field, uint32_t slot>
void position(bool, const int32_t*)
{
    result(routine_of(base(), field, slot)(base(), base() + 1));
}

void round(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::round, ACT_ROUND)(base(), arg(r, 0), flag(r, 1), flag(r, 2),
                                                                    flag(r, 3), flag(r, 4), flag(r, 5), flag(r, 6)));
}

// append, insert and change: a /dup count below 1 changes nothing.
template <append_fn action_table_row::*field, uint32_t slot>
void append_like(bool, const int32_t* r)
{
    append_fn f = routine_of(base(), field, slot);
    cell* dup = arg(r, 2);
    if (dup && cell_type(dup) == TYPE_INTEGER && int32_t(dup->data2) < 1) return;
    result(f(base(), base() + 1, arg(r, 0), flag(r, 1), dup));
}

void copy(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::copy, ACT_COPY)(base(), base(), arg(r, 0), flag(r, 1), arg(r, 2)));
}
void find(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::find, ACT_FIND)(base(), base() + 1, arg(r, 0), flag(r, 1), flag(r, 2),
                                                                  flag(r, 3), flag(r, 4), arg(r, 5), arg(r, 6),
                                                                  flag(r, 7), flag(r, 8), flag(r, 9), flag(r, 10)));
}
void select(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::select, ACT_SELECT)(base(), base() + 1, arg(r, 0), flag(r, 1),
                                                                      flag(r, 2), flag(r, 3), flag(r, 4), arg(r, 5),
                                                                      arg(r, 6), flag(r, 7), flag(r, 8), false, false));
}
void length_q(bool, const int32_t*)
{
    int32_t n = routine_of(base(), &action_table_row::length_q, ACT_LENGTH_Q)(base());
    *base() = n < 0 ? none_value : cell{TYPE_INTEGER, 0, uint32_t(n), 0};
}
void move(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::move, ACT_MOVE)(base(), base() + 1, arg(r, 0)));
}
void pick(bool, const int32_t*)
{
    pick_fn f = routine_of(base(), &action_table_row::pick, ACT_PICK);
    result(f(base(), actions::get_index_arg(base() + 1), base() + 1));
}
void poke(bool, const int32_t*)
{
    poke_fn f = routine_of(base(), &action_table_row::poke, ACT_POKE);
    result(f(base(), actions::get_index_arg(base() + 1), base() + 1, base() + 2));
}
void put(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::put, ACT_PUT)(base(), base() + 1, base() + 2, flag(r, 0)));
}
void remove(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::remove, ACT_REMOVE)(base(), arg(r, 0), arg(r, 1)));
}
void reverse(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::reverse, ACT_REVERSE)(base(), arg(r, 0), arg(r, 1)));
}
void sort(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::sort, ACT_SORT)(base(), flag(r, 0), arg(r, 1), arg(r, 2), arg(r, 3),
                                                                  flag(r, 4), flag(r, 5), flag(r, 6)));
}
void take(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::take, ACT_TAKE)(base(), arg(r, 0), flag(r, 1), flag(r, 2)));
}
void trim(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::trim, ACT_TRIM)(base(), flag(r, 0), flag(r, 1), flag(r, 2),
                                                                  flag(r, 3), flag(r, 4), arg(r, 5)));
}
void modify(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::modify, ACT_MODIFY)(base(), base() + 1, base() + 2, flag(r, 0)));
}
void open(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::open, ACT_OPEN)(base(), flag(r, 0), flag(r, 1), flag(r, 2),
                                                                  flag(r, 3), arg(r, 4)));
}
void read(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::read, ACT_READ)(base(), arg(r, 0), arg(r, 1), flag(r, 2), flag(r, 3),
                                                                  flag(r, 4), arg(r, 5)));
}
void write(bool, const int32_t* r)
{
    result(routine_of(base(), &action_table_row::write, ACT_WRITE)(base(), base() + 1, flag(r, 0), flag(r, 1),
                                                                    flag(r, 2), flag(r, 3), arg(r, 4), arg(r, 5),
                                                                    arg(r, 6), arg(r, 7)));
}

using R = action_table_row;

// In slot order; slot 8 (set-path) has no entry.
constexpr action_entry_fn plain_entries[ACTION_SLOTS] = {
    make, random, reflect, to, form, mold, eval_path, nullptr, compare,
    unary<&R::absolute, ACT_ABSOLUTE>, binary<&R::add, ACT_ADD>, binary<&R::divide, ACT_DIVIDE>,
    binary<&R::multiply, ACT_MULTIPLY>, unary<&R::negate, ACT_NEGATE>, binary<&R::power, ACT_POWER>,
    binary<&R::remainder, ACT_REMAINDER>, round, binary<&R::subtract, ACT_SUBTRACT>, unary<&R::even_q, ACT_EVEN_Q>,
    unary<&R::odd_q, ACT_ODD_Q>, binary<&R::and_t, ACT_AND_T>, unary<&R::complement, ACT_COMPLEMENT>,
    binary<&R::or_t, ACT_OR_T>, binary<&R::xor_t, ACT_XOR_T>, append_like<&R::append, ACT_APPEND>,
    position<&R::at, ACT_AT>, unary<&R::back, ACT_BACK>, append_like<&R::change, ACT_CHANGE>,
    unary<&R::clear, ACT_CLEAR>, copy, find, unary<&R::head, ACT_HEAD>, unary<&R::head_q, ACT_HEAD_Q>,
    unary<&R::index_q, ACT_INDEX_Q>, append_like<&R::insert, ACT_INSERT>, length_q, move,
    unary<&R::next, ACT_NEXT>, pick, poke, put, remove, reverse, select, sort, position<&R::skip, ACT_SKIP>,
    binary<&R::swap, ACT_SWAP>, unary<&R::tail, ACT_TAIL>, unary<&R::tail_q, ACT_TAIL_Q>, take, trim,
    unary<&R::create, ACT_CREATE>, unary<&R::close, ACT_CLOSE>, unary<&R::delete_, ACT_DELETE>, modify, open,
    unary<&R::open_q, ACT_OPEN_Q>, unary<&R::query, ACT_QUERY>, read, binary<&R::rename, ACT_RENAME>,
    unary<&R::update, ACT_UPDATE>, write,
};

// A port whose actor is a handle! runs the native routine of the handle's table for the series
// and port actions; a port with an actor object reaches port!'s own routines, which call the
// actor's functions.
template <action_entry_fn plain, uint32_t slot>
void series_entry(bool check, const int32_t* r)
{
    if (cell_type(base()) == TYPE_PORT) [[unlikely]] {
        if (action_entry_fn f = actions::native_port_action(base(), slot)) return f(check, r);
    }
    plain(check, r);
}

template <size_t i>
constexpr action_entry_fn entry_of_slot()
{
    if constexpr (i + 1 < ACT_APPEND) return plain_entries[i];
    else return series_entry<plain_entries[i], i + 1>;
}
template <size_t... i>
constexpr auto with_port_redirection(std::index_sequence<i...>)
{
    return std::array<action_entry_fn, ACTION_SLOTS>{entry_of_slot<i>()...};
}
constexpr auto entries = with_port_redirection(std::make_index_sequence<ACTION_SLOTS>{});

}  // namespace

action_entry_fn actions::native_port_action(const cell* port, uint32_t slot)
{
    cell actor = object::field_of(port, "actor");
    if (cell_type(&actor) != TYPE_HANDLE) return nullptr;
    // Only a handle made for this purpose points to a table: reading a window or font handle as
    // one would call through an arbitrary address.
    auto table = actor.data1 == handle::KIND_PORT_ACTIONS
                     ? reinterpret_cast<const native_port_actions*>(handle::value_of(&actor)) : nullptr;
    action_entry_fn f = table && slot >= ACT_APPEND && slot <= ACTION_SLOTS ? table->slots[slot - ACT_APPEND] : nullptr;
    if (!f) {
        cell call = stack::get_call();
        cell* name = stack::push(&call);
        fire(ERR_ACCESS, err::NO_PORT_ACTION, name);
    }
    return f;
}

void actions::init()
{
    std::memset(actions_s.table, 0, sizeof actions_s.table);
    register_(ACTION_SLOTS, entries.data());
    native_s.action_slot_filled = [](int64_t slot) { return entry(slot) != nullptr; };
}

void actions::register_(uint32_t count, const action_entry_fn* list)
{
    for (uint32_t i = 0; i < count && i < ACTION_SLOTS; i++) actions_s.table[i] = list[i];
}

action_entry_fn actions::entry(int64_t slot) { return slot >= 1 && slot <= ACTION_SLOTS ? actions_s.table[slot - 1] : nullptr; }

uint32_t actions::dispatch_type(const cell* value, uint32_t slot)
{
    uint32_t type = cell_type(value);
    if (type == TYPE_DATATYPE && (slot == ACT_MAKE || slot == ACT_TO || slot == ACT_REFLECT) && value->data1 < TYPE_TABLE_SIZE)
        return value->data1;
    return type;
}

void actions::no_routine(uint32_t type) { fire_expect_arg(0, type); }

// ---- comparison ---------------------------------------------------------------------------------

int32_t actions::compare_raw(cell* value1, cell* value2, int32_t code)
{
    compare_fn f = datatype_s.rows[cell_type(value1)].compare;
    return f ? f(value1, value2, code) : -2;
}

bool actions::compare(cell* value1, cell* value2, int32_t code)
{
    int32_t answer = compare_raw(value1, value2, code);
    if (answer == -2 && code >= COMP_LESSER && code <= COMP_GREATER_EQUAL)
        fire(ERR_SCRIPT, err::INVALID_COMPARE, value1, value2);
    return compare_answer(code, answer);
}

void actions::compare_to_logic(int32_t code)
{
    bool truth = compare(base(), base() + 1, code);
    *base() = cell{TYPE_LOGIC, truth ? 1u : 0u, 0, 0};
}

// ---- form and mold ------------------------------------------------------------------------------

namespace {
cell* cut(cell* text, int32_t limit)
{
    if (limit < actions::NO_LIMIT) string::truncate_at(text->data2, uint32_t(limit));
    return text;
}
}  // namespace

cell* actions::form_value(cell* value, int32_t limit)
{
    cell* text = string::make_at(stack::push_slot(), 16, 1);
    if (limit < 1) return text;
    form_fn f = routine_of(value, &action_table_row::form, ACT_FORM);
    f(value, text, nullptr, limit);
    return cut(text, limit);
}

cell* actions::mold_value(cell* value, bool only, bool all, bool flat, int32_t limit)
{
    cell* text = string::make_at(stack::push_slot(), 16, 1);
    if (limit < 1) return text;
    mold_fn f = routine_of(value, &action_table_row::mold, ACT_MOLD);
    f(value, text, only, all, flat, nullptr, limit, 0);
    return cut(text, limit);
}

int32_t actions::get_index_arg(const cell* index)
{
    switch (cell_type(index)) {
    case TYPE_INTEGER: case TYPE_CHAR: return int32_t(index->data2);
    case TYPE_LOGIC: return index->data1 == 1 ? 1 : 2;
    default: return 0;
    }
}

// ---- fast paths for compiled code ---------------------------------------------------------------

namespace {

const int32_t no_refinements[8] = {-1, -1, -1, -1, -1, -1, -1, -1};

// A native frame named by the word over a window holding copies of the arguments (they may lie on
// the stack where the window begins); pushed.
cell* open_native_frame(const cell* word, const cell* a, const cell* b)
{
    cell x = *a, y = b ? *b : cell{};
    cell* window = word ? stack::mark(word->data2, word->data1, FRAME_NATIVE << FRAME_KIND_SHIFT)
                        : stack::mark(stack_s.anon_symbol, 0, FRAME_NATIVE << FRAME_KIND_SHIFT);
    stack::push(&x);
    if (b) stack::push(&y);
    return window;
}

// The action entry of the slot run on a and b (b null for one argument); the result pushed.
cell* through_entry(uint32_t slot, const cell* word, const cell* a, const cell* b)
{
    cell* window = open_native_frame(word, a, b);
    actions_s.table[slot - 1](true, no_refinements);
    stack::unwind_keep();
    return window;
}

uint32_t math_slot(uint32_t op)
{
    switch (op) {
    case MATH_ADD: return ACT_ADD;
    case MATH_SUBTRACT: return ACT_SUBTRACT;
    case MATH_MULTIPLY: return ACT_MULTIPLY;
    case MATH_OR: return ACT_OR_T;
    case MATH_AND: return ACT_AND_T;
    case MATH_XOR: return ACT_XOR_T;
    default: fire(ERR_INTERNAL, err::NOT_DONE);
    }
}

// The result of two integers or two floats into r; false for other operands.
bool compute(uint32_t op, const cell* a, const cell* b, cell* r)
{
    uint32_t t = cell_type(a);
    if (t != cell_type(b)) return false;
    if (t == TYPE_INTEGER) {
        *r = cell{TYPE_INTEGER, 0, 0, 0};
        integer::do_math_op(integer_of(a), integer_of(b), op, r);
        return true;
    }
    if (t == TYPE_FLOAT && op <= MATH_MULTIPLY) {
        *r = cell{TYPE_FLOAT, 0, 0, 0};
        cell_set_float(r, float_::do_math_op(cell_float(a), cell_float(b), op));
        return true;
    }
    return false;
}

bool compare_values(int32_t code, const cell* word, const cell* a, const cell* b)
{
    if (cell_type(a) == TYPE_INTEGER && cell_type(b) == TYPE_INTEGER) {
        int32_t x = integer_of(a), y = integer_of(b);
        return actions::compare_answer(code, x < y ? -1 : x > y ? 1 : 0);
    }
    cell* window = open_native_frame(word, a, b);
    bool truth = actions::compare(window, window + 1, code);
    stack::unwind_keep();
    stack::pop(1);
    return truth;
}

inline cell logic_cell(bool truth) { return cell{TYPE_LOGIC, truth ? 1u : 0u, 0, 0}; }

}  // namespace

cell* actions::fast_op(uint32_t op, const cell* word, const cell* a, const cell* b)
{
    cell r;
    if (compute(op, a, b, &r)) return stack::push(&r);
    return through_entry(math_slot(op), word, a, b);
}

cell* actions::fast_op_int(uint32_t op, const cell* word, const cell* a, int32_t b)
{
    cell y{TYPE_INTEGER, 0, uint32_t(b), 0};
    return fast_op(op, word, a, &y);
}

cell* actions::fast_op_top(uint32_t op, const cell* word, const cell* b)
{
    cell x = stack_s.top[-1], y = *b;
    stack::pop(1);
    return fast_op(op, word, &x, &y);
}

cell* actions::fast_op_top_int(uint32_t op, const cell* word, int32_t b)
{
    cell y{TYPE_INTEGER, 0, uint32_t(b), 0};
    return fast_op_top(op, word, &y);
}

cell* actions::fast_compare(int32_t code, const cell* word, const cell* a, const cell* b)
{
    cell r = logic_cell(compare_values(code, word, a, b));
    return stack::push(&r);
}

cell* actions::fast_compare_int(int32_t code, const cell* word, const cell* a, int32_t b)
{
    cell y{TYPE_INTEGER, 0, uint32_t(b), 0};
    return fast_compare(code, word, a, &y);
}

bool actions::fast_compare_flag(int32_t code, const cell* word, const cell* a, const cell* b)
{
    return compare_values(code, word, a, b);
}

bool actions::fast_compare_int_flag(int32_t code, const cell* word, const cell* a, int32_t b)
{
    cell y{TYPE_INTEGER, 0, uint32_t(b), 0};
    return compare_values(code, word, a, &y);
}

void actions::fast_compare_set(int32_t code, const cell* word, const cell* a, const cell* b, cell* slot)
{
    *slot = logic_cell(compare_values(code, word, a, b));
}

void actions::fast_compare_int_set(int32_t code, const cell* word, const cell* a, int32_t b, cell* slot)
{
    cell y{TYPE_INTEGER, 0, uint32_t(b), 0};
    fast_compare_set(code, word, a, &y, slot);
}

cell* actions::fast_compare_top(int32_t code, const cell* word, const cell* b)
{
    cell x = stack_s.top[-1], y = *b;
    stack::pop(1);
    return fast_compare(code, word, &x, &y);
}

cell* actions::fast_compare_top_int(int32_t code, const cell* word, int32_t b)
{
    cell y{TYPE_INTEGER, 0, uint32_t(b), 0};
    return fast_compare_top(code, word, &y);
}

cell* actions::fast_pick(const cell* value, int32_t index, const cell* word)
{
    cell v = *value;
    if (cell_type(&v) == TYPE_BLOCK) {
        uint32_t n = block::rs_length(&v);
        cell r = index >= 1 && uint32_t(index) <= n ? block::rs_head(&v)[index - 1] : none_value;
        return stack::push(&r);
    }
    cell selector{TYPE_INTEGER, 0, uint32_t(index), 0};
    cell* window = open_native_frame(word, &v, &selector);
    actions_s.table[ACT_EVAL_PATH - 1](true, no_refinements);
    stack::unwind_keep();
    return window;
}

cell* actions::fast_series_op(const cell* value, uint32_t op, const cell* word)
{
    static const uint32_t slots[] = {0, ACT_LENGTH_Q, ACT_INDEX_Q, ACT_HEAD_Q, ACT_TAIL_Q,
                                     ACT_NEXT, ACT_BACK, ACT_HEAD, ACT_TAIL};
    if (op < SERIES_LENGTH || op > SERIES_TAIL) fire(ERR_INTERNAL, err::NOT_DONE);
    cell v = *value;
    if (cell_type(&v) != TYPE_BLOCK) return through_entry(slots[op], word, &v, nullptr);
    uint32_t index = v.data1;
    series_buffer* s = series_of(v.data2);
    uint32_t tail = (s->tail - s->head) / 16;
    cell r = v;
    switch (op) {
    case SERIES_LENGTH: r = cell{TYPE_INTEGER, 0, index < tail ? tail - index : 0, 0}; break;
    case SERIES_INDEX: r = cell{TYPE_INTEGER, 0, index + 1, 0}; break;
    case SERIES_HEAD_Q: r = logic_cell(index == 0); break;
    case SERIES_TAIL_Q: r = logic_cell(index >= tail); break;
    case SERIES_NEXT: if (index < tail) r.data1 = index + 1; break;
    case SERIES_BACK: if (index > 0) r.data1 = index - 1; break;
    case SERIES_HEAD: r.data1 = 0; break;
    case SERIES_TAIL: r.data1 = tail; break;
    }
    return stack::push(&r);
}
