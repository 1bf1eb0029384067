// The argument and call-frame stacks, and the exits that walk the frames. An exit never walks the
// argument stack's values: it moves the three pointers to its catch point and stores one code.
#include "runtime/stack.h"

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"

stack_state stack_s;

namespace {

bool anonymous(const call_frame* f)
{
    uint32_t s = frame_symbol_of(f);
    return s == stack_s.body_symbol || s == stack_s.anon_symbol;
}

// The innermost frame below `from` (exclusive) that the test accepts, stopping at a try/all frame.
// Null when a try/all frame or the bottom comes first.
template <class Test>
call_frame* find_target(call_frame* from, Test accepts)
{
    for (call_frame* f = from - 1; f >= stack_s.bottom; f--) {
        if (accepts(f)) return f;
        if (frame_kind_of(f) == FRAME_TRY_ALL) return nullptr;
    }
    return nullptr;
}

}  // namespace

void stack::init()
{
    stack_s.start = at<cell>(series_data_ref(series_of(stack_s.args_node)));
    stack_s.end = stack_s.start + ARGS_CELLS - ARGS_RESERVE;
    stack_s.arguments = stack_s.top = stack_s.start;
    stack_s.bottom = at<call_frame>(series_data_ref(series_of(stack_s.frames_node)));
    stack_s.frame_end = stack_s.bottom + FRAMES - FRAMES_RESERVE;
    stack_s.frame_top = stack_s.bottom;
    stack_s.throw_marker = nullptr;
    system_s.exit_code = EXIT_NONE;
    collector::register_marker(mark_gc);
}

// Mended: the stack is lowered by five cells before raising, so the error's own work has room,
// and the cycle stack is emptied as the molder's walks were cut off.
void stack::overflow()
{
    stack_s.top = stack_s.top - stack_s.start < 5 ? stack_s.start : stack_s.top - 5;
    if (stack_s.arguments > stack_s.top) stack_s.arguments = stack_s.top;
    cycle_reset();
    fire(ERR_INTERNAL, err::STACK_OVERFLOW);
}

void stack::frame_overflow()
{
    cycle_reset();
    fire(ERR_INTERNAL, err::STACK_OVERFLOW);
}

void stack::pop(uint32_t n)
{
    stack_s.top = (stack_s.top - stack_s.start) < ptrdiff_t(n) ? stack_s.start : stack_s.top - n;
}

cell* stack::set_last(const cell* value)
{
    *stack_s.arguments = *value;
    return stack_s.arguments;
}

void stack::reset() { stack_s.top = stack_s.arguments + 1; }

cell* stack::keep_value(const cell* value)
{
    cell copy = *value;
    stack_s.top = stack_s.arguments + 1;
    *stack_s.arguments = copy;
    return stack_s.arguments;
}

cell stack::top_value() { return stack_s.top > stack_s.start ? *(stack_s.top - 1) : cell{TYPE_UNSET, 0, 0, 0}; }

void stack::revert(call_frame* from) { stack_s.frame_top = from; }

call_frame* stack::set_caller_flag()
{
    if (depth() < 2) return nullptr;
    call_frame* f = stack_s.frame_top - 2;
    if (f->header & FRAME_RETURN_TARGET) return nullptr;
    f->header |= FRAME_RETURN_TARGET;
    return f;
}

void stack::clear_flag(call_frame* f)
{
    if (f) f->header &= ~FRAME_RETURN_TARGET;
}

bool stack::eval_q(const call_frame* f, bool single)
{
    if (!f) {
        if (frames_empty()) return false;
        f = current();
    }
    if (single) return (f->header & FRAME_INTERPRETED) != 0;
    for (; f >= stack_s.bottom; f--)
        if (f->header & FRAME_INTERPRETED) return true;
    return false;
}

// ---- exits --------------------------------------------------------------------------------------

namespace {

// The catch frame stays pushed and becomes the current one; its window is emptied. The window of
// a frame starts at the base that the frame above it saved, or, when none is above, at the base
// in force now; an exit leaves only from frames above its target, so one is always above it.
cell* window_of_target(call_frame* target)
{
    cell* base = target + 1 < stack_s.frame_top ? stack_s.start + (target + 1)->base : stack_s.arguments;
    stack_s.frame_top = target + 1;
    stack_s.arguments = base;
    stack_s.top = base;
    return base;
}

}  // namespace

// The native's own frame is the current one: the walk starts below it.
void stack::throw_break(bool with_value, bool continue_)
{
    cell value = with_value ? *stack_s.arguments : unset_value;
    call_frame* target = find_target(current(), [](const call_frame* f) { return frame_kind_of(f) == FRAME_LOOP; });
    if (!target) fire(ERR_THROW, continue_ ? err::CONTINUE : err::BREAK);
    cell* base = window_of_target(target);
    *base = value;
    stack_s.top = base + 1;
    set_exit_code(continue_ ? EXIT_CONTINUE : EXIT_BREAK);
}

void stack::throw_exit(bool with_value, bool from_here)
{
    cell value = with_value ? *stack_s.arguments : unset_value;
    call_frame* from = from_here ? stack_s.frame_top : current();
    call_frame* target =
        find_target(from, [](const call_frame* f) { return (f->header & FRAME_RETURN_TARGET) != 0; });
    if (!target) fire(ERR_THROW, err::RETURN);
    cell* base = window_of_target(target);
    *base = value;
    stack_s.top = base + 1;
    set_exit_code(with_value ? EXIT_RETURN : EXIT_EXIT);
}

void stack::throw_value(uint32_t code, const cell* value, const cell* name)
{
    cell v = *value, n = *name;
    // The marker is the frame below the throw's own, so an uncaught throw's where names the
    // function that threw, not throw.
    if (!stack_s.throw_marker && current() > stack_s.bottom) stack_s.throw_marker = current() - 1;
    call_frame* target = find_target(current(), [](const call_frame* f) { return frame_kind_of(f) == FRAME_CATCH; });
    if (!target) fire(ERR_THROW, err::THROW, &v);
    cell* base = window_of_target(target);
    base[0] = v;
    base[1] = n;
    stack_s.top = base + 2;
    set_exit_code(code);
}

cell stack::get_call()
{
    call_frame* f = stack_s.throw_marker ? stack_s.throw_marker : stack_s.frame_top - 1;
    stack_s.throw_marker = nullptr;
    for (; f >= stack_s.bottom; f--) {
        if (anonymous(f)) continue;
        uint32_t symbol = frame_symbol_of(f);
        cell w = f->context ? context::resolve_word(f->context, symbol) : *word::from_symbol(symbol);
        w.header = TYPE_WORD;
        return w;
    }
    return *rt_word_cell(W_NOT_FOUND_TAG);
}

void stack::collect_calls(cell* block)
{
    // Frames do not move (the frame stack lies outside the heap), but appending may: the walk goes
    // by index and the block cell is read again each time.
    for (int32_t i = int32_t(depth()) - 1; i >= 0; i--) {
        call_frame* f = stack_s.bottom + i;
        if (anonymous(f)) continue;
        uint32_t symbol = frame_symbol_of(f);
        cell w = f->context ? context::resolve_word(f->context, symbol) : *word::from_symbol(symbol);
        w.header = TYPE_WORD;
        cell position{TYPE_INTEGER, 0, f->base, 0};
        block::rs_append(block, &w);
        block::rs_append(block, &position);
    }
}

void stack::mark_gc()
{
    for (call_frame* f = stack_s.bottom; f < stack_s.frame_top; f++) {
        if (f->context) collector::mark_context(f->context);
        if (f->fn_context) collector::mark_context(f->fn_context);
    }
}

// ---- refinements and argument checks -------------------------------------------------------------

bool arg_given(const cell* refinement) { return refinement && refinement > stack::arguments(); }

void refinements_none(const cell* refinement, uint32_t index, uint32_t count)
{
    cell* window = stack::arguments() + index;
    if (!cell_falsy(refinement)) {
        window->data1 = 1;
        return;
    }
    for (uint32_t i = 1; i <= count; i++) window[i].header = TYPE_NONE;
}

// ---- argument checks ----------------------------------------------------------------------------

void (*call_words_hook)(int32_t index, cell* function_word, cell* argument_word);

namespace {
void words_of_call(int32_t index, cell* function_word, cell* argument_word)
{
    *function_word = none_value;
    *argument_word = none_value;
    if (call_words_hook) call_words_hook(index, function_word, argument_word);
}
}  // namespace

cell running_function_word()
{
    cell function_word, argument_word;
    words_of_call(-1, &function_word, &argument_word);
    return function_word;
}

void fire_expect_arg(int32_t index, uint32_t type)
{
    cell function_word, argument_word;
    words_of_call(index, &function_word, &argument_word);
    cell given = datatype::value_of(type);
    fire(ERR_SCRIPT, err::EXPECT_ARG, &function_word, &given, &argument_word);
}

cell* arg_type_check(const cell* typeset, int32_t index, cell* value)
{
    if (!typeset_has(typeset, cell_type(value))) fire_expect_arg(index, cell_type(value));
    return value;
}

void arg_type_check_at(int32_t n, const cell* typeset, int32_t index)
{
    if (n >= 0) arg_type_check(typeset, index, stack::arguments() + n);
}

cell* arg_type_check_if_used(const cell* refinement, const cell* typeset, int32_t index, cell* value)
{
    return refinement->data1 ? arg_type_check(typeset, index, value) : value;
}

cell* arg_need_value(int32_t index, cell* value)
{
    if (cell_type(value) == TYPE_UNSET) fire_expect_arg(index, TYPE_UNSET);
    return value;
}
