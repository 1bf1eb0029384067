// Errors at the interpreter's level: catch points, the error value of a raise with its where and
// near, the texts of uncaught errors, and the call-stack words that errors and their traces name.

#include "runtime/interpreter/interpreter_internal.h"


using namespace interp;

cell interpreter::near_value()
{
    const cell& c = interpreter_s.current_code;
    return cell_type(&c) == TYPE_UNSET ? none_value : c;
}

interpreter::catch_point::catch_point()
    : top(stack_s.top), base(stack_s.arguments), frame_top(stack_s.frame_top), code(interpreter_s.current_code)
{
}

void interpreter::catch_point::restore() const
{
    stack_s.top = top;
    stack_s.arguments = base;
    stack_s.frame_top = frame_top;
    stack_s.throw_marker = nullptr;
    interpreter_s.current_code = code;
    set_exit_code(EXIT_NONE);
}

cell* interpreter::raised_error_value()
{
    const raised_error& e = raised_error_get();
    if (cell_type(&error_s.prototype) != TYPE_OBJECT) {
        // Before the catalogue is loaded there are no error values: the code stands for one.
        cell code{TYPE_INTEGER, 0, e.code(), 0};
        return stack::push(&code);
    }
    cell* error;
    if (e.arg_count == RAISED_VALUE) {
        error = stack::push(&e.args[0]);
    } else {
        cell args[3] = {e.args[0], e.args[1], e.args[2]};
        error = error::create(e.category, e.id, e.arg_count > 0 ? &args[0] : nullptr,
                              e.arg_count > 1 ? &args[1] : nullptr, e.arg_count > 2 ? &args[2] : nullptr);
    }
    cell where = stack::get_call();
    if (where.data2 != rt_word_cell(W_NOT_FOUND_TAG)->data2) error::set_where(error, &where);
    // The frame position, for the stack trace the error's text may show.
    cell* stamp = context::get_value_at(error->data1, error::stack_index());
    if (cell_type(stamp) != TYPE_BLOCK) *stamp = cell{TYPE_INTEGER, 0, stack::depth(), 0};
    return error;
}

cell interpreter::catch_point::take_error() const
{
    stack_s.top = stack_s.arguments = top;
    cell error = *raised_error_value();
    restore();
    return error;
}

std::string interpreter::error_text(const cell* error)
{
    cell* mark = stack_s.top;
    cell* held = stack::push(error);
    std::string text;
    if (cell_type(held) == TYPE_ERROR) text = string::utf8_copy(actions::form_value(held, actions::NO_LIMIT));
    else text = "*** Error: code " + std::to_string(held->data2);
    stack_s.top = mark;
    return text;
}

std::string interpreter::raised_error_text()
{
    stack_s.top = stack_s.arguments = stack_s.start;
    cell error = *raised_error_value();
    stack_s.top = stack_s.start;
    return error_text(&error);
}

void interpreter::uncaught_error()
{
    std::string text = raised_error_text();
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), int(wide.size()));
    wide.resize(size_t(n > 0 ? n : 0));
    show_error_box(L"Kiv NoName App", wide.c_str());
    rt_exit(0xFFFFFFFEu);
}

namespace interp {

// The words of the named calls from the bottom frame up to a stamped frame position, as a level
// asks: every named call above level 1, else only those of function! values.
template <class Each>
void each_traced_call(int32_t frame, int32_t level, Each each)
{
    call_frame* end = stack_s.bottom + (frame < 0 ? 0 : frame);
    if (end > stack_s.frame_top) end = stack_s.frame_top;
    for (call_frame* f = stack_s.bottom; f < end; f++) {
        uint32_t symbol = frame_symbol_of(f);
        if (symbol == stack_s.body_symbol || symbol == stack_s.anon_symbol) continue;
        cell w = f->context ? context::resolve_word(f->context, symbol) : *word::from_symbol(symbol);
        w.header = TYPE_WORD;
        const cell* value = word_slot(&w);
        if (level <= 1 && !(value && cell_type(value) == TYPE_FUNCTION)) continue;
        each(w);
    }
}

void trace_in(cell* block, int32_t frame, int32_t level)
{
    each_traced_call(frame, level, [&](const cell& w) { block::rs_append(block, &w); });
}

int32_t form_trace(cell* buffer, int32_t frame, int32_t level, int32_t part)
{
    each_traced_call(frame, level, [&](const cell& w) {
        cell name = w;
        part = actions_of(TYPE_WORD).form(&name, buffer, nullptr, part);
        part = string::emit_literal(buffer, " ", part);
    });
    return part;
}
// The words of an argument error: the innermost named call and its argument `index`.
void words_of_call(int32_t index, cell* function_word, cell* argument_word)
{
    *function_word = stack::get_call();
    if (index < 0) return;
    cell* value = word_slot(function_word);
    if (!value) return;
    uint32_t t = cell_type(value);
    if (!callable_type(t) && t != TYPE_OP) return;
    node_ref ctx = arg_context_of(value);
    if (!ctx || uint32_t(index) >= context::word_count(ctx)) return;
    *argument_word = *context::get_word(ctx, uint32_t(index));
    argument_word->header = TYPE_WORD;
}

}  // namespace interp
