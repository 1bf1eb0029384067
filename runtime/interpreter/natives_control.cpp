// Control-flow natives: the conditionals, the loops and the loop exits. A loop pushes a loop frame
// whose window receives each evaluation of its body; break and continue come back as the exit code
// with the stacks at that frame, every other exit code passes through (the loop just returns).
#include <cmath>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"

namespace {

inline cell* base() { return stack_s.arguments; }

// A loop frame named as the native's own call; its window starts empty.
cell* mark_loop()
{
    if (stack::frames_empty()) return stack::mark(stack_s.anon_symbol, 0, FRAME_LOOP << FRAME_KIND_SHIFT);
    const call_frame* f = stack::current();
    return stack::mark(frame_symbol_of(f), f->context, FRAME_LOOP << FRAME_KIND_SHIFT);
}

// What one evaluation of a loop's block ended with.
enum class step { next, continued, stop, leave };
inline step loop_step()
{
    switch (exit_code()) {
    case EXIT_NONE: return step::next;
    case EXIT_CONTINUE: set_exit_code(EXIT_NONE); return step::continued;
    case EXIT_BREAK: set_exit_code(EXIT_NONE); return step::stop;
    default: return step::leave;   // not the loop's own: it passes on
    }
}

// One evaluation of the body into the loop window's result cell.
inline step run_body(cell* window, const cell* body)
{
    stack_s.top = window;
    interpreter::eval(body, true);
    return loop_step();
}

// A count argument as an integer, a float truncated toward zero. Mended: a float beyond the
// 32-bit range (or NaN) raises script/type-limit instead of running the loop zero times.
int32_t loop_count(const cell* value)
{
    if (cell_type(value) != TYPE_FLOAT) return int32_t(value->data2);
    double d = cell_float(value);
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        cell type = datatype::value_of(TYPE_INTEGER);
        fire(ERR_SCRIPT, err::TYPE_LIMIT, &type);
    }
    return int32_t(std::trunc(d));
}

// The words a foreach or remove-each sets: one word, or a block of at least one.
uint32_t word_count(const cell* words)
{
    if (cell_type(words) != TYPE_BLOCK) return 1;
    uint32_t n = block::rs_length(words);
    if (n == 0) fire(ERR_SCRIPT, err::INVALID_ARG, words);
    return n;
}

// The walks end at the tail; an image's tail is its last pixel, width x height.
bool walk_done(const cell* series)
{
    if (cell_type(series) != TYPE_IMAGE) return series::ks_tail_q(series);
    cell img = *series;
    return int64_t(series_head_raw(&img)) >= image::length_q(&img);
}

// Item k (from 0) at the series' index, none past the tail; an image gives its pixels as tuples.
void item_at(const cell* series, uint32_t k, cell* out)
{
    if (cell_type(series) == TYPE_IMAGE) image::pixel_to_tuple(series, int64_t(series_head_raw(series)) + k, out);
    else series::pick_into(series, int32_t(k + 1), out);
}

// Sets the words from the n items at the series' index (items past the tail are none).
void set_from_series(const cell* words, const cell* series, uint32_t n)
{
    if (cell_type(words) == TYPE_BLOCK && any_block_q(cell_type(series))) {
        natives::set_many(words, series, n, true, false, false);
        return;
    }
    for (uint32_t k = 0; k < n; k++) {
        cell item;
        item_at(series, k, &item);
        cell w = cell_type(words) == TYPE_BLOCK ? block::rs_head(words)[k] : *words;
        cell* target = stack::push(&w);
        word::set(target, &item);
        stack::pop(1);
    }
}

}  // namespace

// ---- conditionals -------------------------------------------------------------------------------

void natives::if_star(bool, const int32_t*)
{
    if (cell_falsy(base())) {
        *base() = none_value;
        return;
    }
    cell body = base()[1];
    interpreter::eval(&body, true);
}

void natives::unless_star(bool, const int32_t*)
{
    if (!cell_falsy(base())) {
        *base() = none_value;
        return;
    }
    cell body = base()[1];
    interpreter::eval(&body, true);
}

void natives::either_star(bool, const int32_t*)
{
    cell body = truthy_strict(base()) ? base()[1] : base()[2];
    interpreter::eval(&body, true);
}

void natives::any_star(bool, const int32_t*)
{
    cell conds = base()[0];
    uint32_t pos = conds.data1;
    while (pos < block::rs_length(&conds) + conds.data1) {
        pos = interpreter::eval_next(&conds, pos);
        if (exit_code()) return;
        cell* value = stack_s.top - 1;
        if (!cell_falsy(value)) {
            *base() = *value;
            return;
        }
        stack::pop(1);
    }
    *base() = none_value;
}

void natives::all_star(bool, const int32_t*)
{
    cell conds = base()[0];
    uint32_t pos = conds.data1;
    cell* last = stack::push(&none_value);
    while (pos < block::rs_length(&conds) + conds.data1) {
        pos = interpreter::eval_next(&conds, pos);
        if (exit_code()) return;
        *last = *--stack_s.top;
        if (cell_falsy(last)) {
            *base() = none_value;
            return;
        }
    }
    *base() = *last;
}

void natives::switch_star(bool, const int32_t* refs)
{
    cell cases = base()[1];
    const cell* after = block::find_by_compare(&cases, base());
    if (after != &none_value) {
        // The first block from the match on; the values between are skipped.
        uint32_t i = uint32_t(after - block::ks_abs_at(&cases, 0));
        uint32_t end = block::rs_length(&cases) + cases.data1;
        for (; i < end; i++) {
            cell branch = *block::ks_abs_at(&cases, i);
            if (cell_type(&branch) != TYPE_BLOCK) continue;
            interpreter::eval(&branch, true);
            return;
        }
    }
    if (refs[0] >= 0) {
        cell fallback = base()[refs[0]];
        interpreter::eval(&fallback, true);
        return;
    }
    *base() = none_value;
}

void natives::case_star(bool, const int32_t* refs)
{
    bool all = refs[0] >= 0;
    cell cases = base()[0];
    uint32_t pos = cases.data1;
    cell* last = stack::push(&none_value);
    bool ran = false;
    auto end = [&] { return block::rs_length(&cases) + cases.data1; };
    while (pos < end()) {
        pos = interpreter::eval_next(&cases, pos);
        if (exit_code()) return;
        cell condition = *--stack_s.top;
        if (pos >= end()) {
            cell name = stack::get_call();
            fire(ERR_SCRIPT, err::NEED_VALUE, &name);
        }
        if (!truthy_strict(&condition)) {
            pos++;
            continue;
        }
        cell branch = *block::ks_abs_at(&cases, pos);
        if (cell_type(&branch) == TYPE_BLOCK) {
            interpreter::eval(&branch, false);
            pos++;
        } else {
            pos = interpreter::eval_next(&cases, pos);
        }
        if (exit_code()) return;
        *last = *--stack_s.top;
        ran = true;
        if (!all) break;
    }
    *base() = ran ? *last : none_value;
}

// ---- loops --------------------------------------------------------------------------------------

void natives::loop_star(bool, const int32_t*)
{
    int32_t count = loop_count(base());
    if (count < 1) {
        *base() = none_value;
        return;
    }
    cell body = base()[1];
    cell* window = mark_loop();
    for (int32_t i = 0; i < count; i++) {
        step s = run_body(window, &body);
        if (s == step::stop) break;
        if (s == step::leave) return;
    }
    stack::unwind_last();
}

void natives::repeat_star(bool, const int32_t*)
{
    int32_t count = loop_count(base() + 1);
    if (count < 1) {
        *base() = none_value;
        return;
    }
    cell* counter = base();   // the word, on the stack: setting it stores its position into it
    cell body = base()[2];
    cell* window = mark_loop();
    for (int32_t i = 1; i <= count; i++) {
        cell n{TYPE_INTEGER, 0, uint32_t(i), 0};
        word::set(counter, &n);
        step s = run_body(window, &body);
        if (s == step::stop) break;
        if (s == step::leave) return;
    }
    stack::unwind_last();
}

void natives::forever_star(bool, const int32_t*)
{
    cell body = base()[0];
    cell* window = mark_loop();
    for (;;) {
        step s = run_body(window, &body);
        if (s == step::stop) break;
        if (s == step::leave) return;
    }
    stack::unwind_last();
}

void natives::while_star(bool, const int32_t*)
{
    cell condition = base()[0];
    cell body = base()[1];
    cell* window = mark_loop();
    for (;;) {
        stack_s.top = window;
        interpreter::eval(&condition, false);
        uint32_t code = exit_code();
        if (code == EXIT_BREAK || code == EXIT_CONTINUE) {
            set_exit_code(EXIT_NONE);
            fire(ERR_THROW, err::WHILE_COND);
        }
        if (code) return;
        if (!truthy_strict(window)) break;
        step s = run_body(window, &body);
        if (s == step::stop) break;
        if (s == step::leave) return;
    }
    *window = unset_value;
    stack::unwind_last();
}

void natives::until_star(bool, const int32_t*)
{
    cell body = base()[0];
    cell* window = mark_loop();
    for (;;) {
        step s = run_body(window, &body);
        if (s == step::stop) break;
        if (s == step::leave) return;
        if (s == step::next && truthy_strict(window)) break;
    }
    stack::unwind_last();
}

// Mended: a loop whose body never runs returns none; its result cell was never written.
void natives::foreach_star(bool, const int32_t*)
{
    cell* words = base();
    cell* series = base() + 1;   // the argument's copy: its index moves, the caller's does not
    cell body = base()[2];
    uint32_t n = word_count(words);
    cell* window = mark_loop();
    *window = none_value;
    stack_s.top = window + 1;
    if (cell_type(series) == TYPE_MAP) {
        while (map::foreach_next(words, series, n)) {
            step s = run_body(window, &body);
            if (s == step::stop) break;
            if (s == step::leave) return;
        }
        stack::unwind_last();
        return;
    }
    while (!walk_done(series)) {
        if (n == 1 && cell_type(words) != TYPE_BLOCK) {
            cell item;
            item_at(series, 0, &item);
            word::set(words, &item);
        } else {
            set_from_series(words, series, n);
        }
        series->data1 += n;
        step s = run_body(window, &body);
        if (s == step::stop) break;
        if (s == step::leave) return;
    }
    stack::unwind_last();
}

void natives::forall_star(bool, const int32_t*)
{
    cell* word = base();
    cell body = base()[1];
    cell* original = stack::push(word::get(word));
    uint32_t t = cell_type(original);
    if (!any_block_q(t) && !any_string_q(t) && t != TYPE_BINARY && t != TYPE_VECTOR && t != TYPE_IMAGE)
        fire_expect_arg(0, t);
    cell* window = mark_loop();
    *window = none_value;
    stack_s.top = window + 1;
    for (;;) {
        cell current = *word::get(word);
        if (walk_done(&current)) break;
        step s = run_body(window, &body);
        if (s == step::stop) {
            stack::unwind_last();
            return;
        }
        if (s == step::leave) return;
        current = *word::get(word);
        if (cell_type(&current) != t || current.data2 != original->data2)
            fire(ERR_SCRIPT, err::BAD_LOOP_SERIES, &current);
        current.data1++;
        word::set(word, &current);
    }
    word::set(word, original);
    stack::unwind_last();
}

void natives::remove_each_star(bool, const int32_t*)
{
    cell* words = base();
    cell* data = base() + 1;   // the result: the series at the index it was given
    cell body = base()[2];
    if (cell_type(data) == TYPE_MAP) fire_expect_arg(1, TYPE_MAP);
    uint32_t n = word_count(words);
    cell* series = stack::push(data);
    cell* window = mark_loop();
    stack_s.top = window + 1;
    while (!walk_done(series)) {
        set_from_series(words, series, n);
        series->data1 += n;
        step s = run_body(window, &body);
        if (s == step::stop) break;
        if (s == step::leave) return;
        if (s == step::continued || cell_falsy(window)) continue;
        series->data1 -= n;
        cell* target = stack::push(series);
        cell* part = stack::push(&none_value);
        *part = cell{TYPE_INTEGER, 0, n, 0};
        remove_fn remove = actions_of(cell_type(target)).remove;
        if (!remove) fire_expect_arg(1, cell_type(target));
        remove(target, n > 1 ? part : nullptr, nullptr);
        stack_s.top = window + 1;
    }
    stack::unwind();
    *base() = *data;
}

// ---- exits --------------------------------------------------------------------------------------

void natives::break_star(bool, const int32_t* refs) { stack::throw_break(refs[0] >= 0, false); }

void natives::continue_star(bool, const int32_t*) { stack::throw_break(false, true); }
