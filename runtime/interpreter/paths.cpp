// Paths: evaluation of every path kind, setting through a set-path with the owner's
// notification, and refinement calls through a path. The path's elements are re-read by index
// after each step: a step may evaluate (a paren, a call) and move them.

#include "runtime/interpreter/interpreter_internal.h"


using namespace interp;

namespace {

// Values whose path setters change the cell itself: the path walk changes a copy, which must be
// stored back where it was read (the head word, or the container one step up).
bool in_cell_path_type(uint32_t t)
{
    return t == TYPE_PAIR || t == TYPE_TUPLE || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TIME ||
           t == TYPE_DATE || t == TYPE_MONEY || t == TYPE_EVENT;
}

bool notify_owner(const cell* parent, const cell* grandparent, const cell* element)
{
    uint32_t et = cell_type(element);
    if (cell_type(grandparent) == TYPE_OBJECT && et == TYPE_WORD) return true;
    uint32_t pt = cell_type(parent);
    return pt == TYPE_BLOCK || pt == TYPE_PAREN || (pt >= TYPE_PATH && pt <= TYPE_GET_PATH) || pt == TYPE_HASH;
}

}  // namespace

namespace interp {

[[gnu::noinline]] uint32_t call_path(node_ref code, uint32_t pos)
{
    cell path = *code_at(code, pos);
    const series_buffer* s = series_of(path.data2);
    const cell* head = at<cell>(s->head) + path.data1;
    const cell* end = at<cell>(s->tail);
    if (head >= end || cell_type(head) != TYPE_WORD) return 0;
    const cell* value = word_slot(head);
    if (!value || !callable_type(cell_type(value))) return 0;
    // Refinement words only: the call then takes every element, or raises.
    for (const cell* e = head + 1; e < end; e++)
        if (cell_type(e) != TYPE_WORD) return 0;
    cell name = *head, callable = *value;
    cell* kept = stack::push(&path);   // keeps the path's elements reachable, as eval_path does
    path_refs refs{path, path.data1 + 1};
    pos = call_word(&callable, code, pos + 1, &name, &refs);
    if (exit_code()) return pos;
    *kept = *(stack_s.top - 1);
    stack_s.top = kept + 1;
    return pos;
}

[[gnu::noinline]] uint32_t path_operand(node_ref code, uint32_t pos, bool no_infix)
{
    cell* start = stack_s.top;
    uint32_t next = call_path(code, pos);
    if (!next) return interpreter::eval_expression(code, pos, no_infix);
    if (exit_code() || no_infix || next >= code_tail(code)) return next;
    const cell* op = infix_op(code_at(code, next));
    return op ? operators_after(code, next, start, op) : next;
}

}  // namespace interp

uint32_t interpreter::eval_path(const cell* path_value, node_ref code, uint32_t pos, const cell* set, bool get)
{
    cell* mark = stack_s.top;
    // A word and a field or an index (o/a, o/a: v, b/2): a slot read or write when the
    // container's step has nothing more to do.
    if (!tracing_now()) {
        const cell* r = path_target(path_value, set);
        if (r && (set || get || !callable_type(cell_type(r)))) {   // a function field is called
            *stack::push_slot() = *r;
            return pos;
        }
    }
    cell* path = stack::push(path_value);   // keeps the path's elements reachable
    node_ref steps = path->data2;
    uint32_t first = path->data1;
    if (first >= code_tail(steps)) fire(ERR_SCRIPT, err::EMPTY_PATH);
    cell head = *code_at(steps, first);
    if (cell_type(&head) != TYPE_WORD) fire(ERR_SCRIPT, err::WORD_FIRST, path);
    cell* current = stack::push(word_value(&head));
    cell* previous = stack::push(&none_value);
    cell* value = stack::push(set ? set : &unset_value);
    cell* via = stack::push(&none_value);   // the selector that gave `current` (none: the head word)
    cell* work = stack_s.top;
    uint32_t i = first + 1;
    if (tracing_now()) [[unlikely]] trace::fire(TRACE_ENTER, path, int32_t(first), nullptr, nullptr);
    if (cell_type(current) == TYPE_UNSET) fire(ERR_SCRIPT, err::UNSET_PATH, path, &head);
    if (callable_type(cell_type(current))) {
        if (set) fire(ERR_SCRIPT, err::INVALID_PATH_SET, path);
        if (get) fire(ERR_SCRIPT, err::INVALID_PATH_GET, path);
        path_refs refs{*path, i};
        cell callable = *current;
        pos = tracing_now() ? eval_code(&callable, code, pos, &head, &refs, APPLY_NONE)
                            : call_word(&callable, code, pos, &head, &refs);
        if (exit_code()) return pos;
        *current = *--stack_s.top;
        i = refs.first;
    }
    for (; i < code_tail(steps); i++) {
        cell el = *code_at(steps, i);
        cell* selector = stack::push(&el);
        if (cell_type(&el) == TYPE_GET_WORD) {
            *selector = *word_value(&el);
        } else if (cell_type(&el) == TYPE_PAREN) {
            eval(&el, false);
            if (exit_code()) return pos;
            *selector = *--stack_s.top;
        }
        if (cell_type(selector) == TYPE_UNSET) fire(ERR_SCRIPT, err::UNSET_PATH, path, &el);
        bool last = i + 1 == code_tail(steps);
        // An object's field by word is a slot read or write when the object's step has nothing
        // more to do (null: it has).
        cell* r = cell_type(current) == TYPE_OBJECT && cell_type(&el) == TYPE_WORD
                      ? object::path_field(current, &el, set && last ? value : nullptr)
                      : nullptr;
        bool in_cell = false;
        if (!r) {
            eval_path_fn step = actions_of(cell_type(current)).eval_path;
            if (!step) {
                cell type = datatype::value_of(cell_type(current));
                fire(ERR_SCRIPT, err::BAD_PATH_TYPE, &type, selector);
            }
            // A value changed in its cell is stored back below, and the container's own setter
            // tells the owner then: the value's setter must not tell it a second time.
            in_cell = set && last && in_cell_path_type(cell_type(current));
            bool notify = last && !in_cell && notify_owner(current, previous, &el);
            r = step(current, selector, set && last ? value : nullptr, path, previous, selector, int32_t(i), false,
                     get, last, notify);
        }
        cell result = *r;
        if (in_cell) {
            if (i == first + 1) {
                word::set(&head, current);
            } else if (eval_path_fn up = actions_of(cell_type(previous)).eval_path) {
                up(previous, via, current, path, &none_value, via, int32_t(i - 1), false, false, true, false);
            }
        }
        *via = *selector;
        stack_s.top = work;
        *previous = *current;
        *current = result;
        if (!set && !get && callable_type(cell_type(current))) {
            path_refs refs{*path, i + 1};
            cell callable = *current;
            cell name = el;
            pos = tracing_now() ? eval_code(&callable, code, pos, &name, &refs, APPLY_NONE)
                                : call_word(&callable, code, pos, &name, &refs);
            if (exit_code()) return pos;
            *current = *--stack_s.top;
            break;
        }
    }
    if (tracing_now()) [[unlikely]]
        trace::fire(TRACE_EXIT, path, int32_t(code_tail(steps)), nullptr, set ? value : current);
    *mark = set ? *value : *current;
    stack_s.top = mark + 1;
    return pos;
}
