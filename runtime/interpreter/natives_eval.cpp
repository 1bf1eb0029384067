// Evaluation, word and function natives: do, reduce, compose, the word natives, try, catch,
// throw, return, exit, apply, the function makers, the new-line markers, print and prin.
// Values being collected live on the argument stack until one allocation makes their block.
#include <cstring>

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"

namespace {

inline cell* base() { return stack_s.arguments; }
inline bool used(const int32_t* refs, int i) { return refs[i] >= 0; }
inline cell* ref_arg(const int32_t* refs, int i) { return base() + refs[i]; }

inline bool function_kind(uint32_t t)
{
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}
inline bool word_kind(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }
inline bool path_kind(uint32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }

// A frame of the given kind named as the native's own call.
cell* mark_as_native(uint32_t kind)
{
    if (stack::frames_empty()) return stack::mark(stack_s.anon_symbol, 0, kind << FRAME_KIND_SHIFT);
    const call_frame* f = stack::current();
    return stack::mark(frame_symbol_of(f), f->context, kind << FRAME_KIND_SHIFT);
}

// The n cells from `first` (on the stack, the top) become one new block that replaces them.
cell* collapse_into_block(cell* first, uint32_t n)
{
    cell* made = block::make_at(stack::push_slot(), n);
    series_buffer* s = series_of(made->data2);
    std::memcpy(at<cell>(s->head), first, size_t(n) * 16);
    s->tail = s->head + n * 16;
    *first = *made;
    stack_s.top = first + 1;
    return first;
}

// The n cells from `first` inserted into `out` at its index (appended at its tail), out's index
// moved past them.
void insert_cells(cell* out, cell* first, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++) block::insert_value(out, first + i, true, false);
}

// A single value evaluated as an expression of its own: a word is looked up (a function is
// called with no arguments), a get-word gives its value, other values are themselves. Pushed.
void eval_alone(const cell* value)
{
    cell* held = stack::push(value);
    cell* one = block::make_at(stack::push_slot(), 1);
    block::rs_append(one, held);
    cell code = *one;
    interpreter::eval(&code, false);
    if (exit_code()) return;
    *held = *(stack_s.top - 1);
    stack_s.top = held + 1;
}

// The absolute index of a block's tail (the block may change while it is evaluated).
inline uint32_t tail_of(const cell* blk)
{
    series_buffer* s = series_of(blk->data2);
    return (s->tail - s->head) / 16;
}

// Each expression of the block evaluated in turn and its value appended to `out`, a block cell on
// the argument stack. Values go into the block, not onto the argument stack, so a long block costs
// no stack. False when an exit stopped it.
bool reduce_into(const cell* blk, cell* out)
{
    cell code = *blk;
    for (uint32_t pos = code.data1; pos < tail_of(&code);) {
        cell* mark = stack_s.top;
        pos = interpreter::eval_next(&code, pos);
        if (exit_code()) return false;
        cell value = *(stack_s.top - 1);
        block::rs_append(out, &value);
        stack_s.top = mark;
    }
    return true;
}

// ---- compose ------------------------------------------------------------------------------------

// The composed items of the block added to `out`, a block cell on the argument stack: appended,
// or with `insert` inserted at out's index, which moves past them. Items go straight into the
// output rather than onto the argument stack, so a long result costs no stack; only nesting (with
// /deep) does.
void compose_into(const cell* blk, cell* out, bool insert, bool deep, bool only)
{
    machine_stack_check();
    cell code = *blk;
    auto add = [out, insert](const cell* v) {
        if (insert) block::insert_value(out, v, true, false);
        else block::rs_append(out, v);
    };
    for (uint32_t i = code.data1; i < tail_of(&code); i++) {
        cell item = *block::ks_abs_at(&code, i);
        uint32_t t = cell_type(&item);
        if (t == TYPE_PAREN) {
            interpreter::eval(&item, false);
            if (exit_code()) return;
            cell* result = stack_s.top - 1;
            uint32_t rt = cell_type(result);
            if (rt == TYPE_BLOCK && !only) {
                // Spliced item by item; each is copied out first, as adding may move its buffer.
                uint32_t n = block::rs_length(result);
                for (uint32_t k = 0; k < n && k < block::rs_length(result); k++) {
                    cell v = *(block::rs_head(result) + k);
                    add(&v);
                }
            } else if (rt != TYPE_UNSET) {
                add(result);
            }
            stack_s.top = result;
        } else if (t == TYPE_BLOCK && deep) {
            cell* nested = block::make_at(stack::push_slot(), block::rs_length(&item));
            compose_into(&item, nested, false, deep, only);
            if (exit_code()) return;
            nested->header |= item.header & HEADER_NEW_LINE;
            add(nested);
            stack_s.top = nested;
        } else {
            add(&item);
        }
    }
}

// ---- function makers ----------------------------------------------------------------------------

// The function of spec and body, made into base[0].
void make_function(const cell* spec, const cell* body)
{
    cell s = *spec, b = *body;
    uint32_t flags = function::validate_spec(&s);
    function::push(&s, &b, 0, flags);
    *base() = *(stack_s.top - 1);
}

// ---- catch names --------------------------------------------------------------------------------

bool name_matches(const cell* thrown, const cell* wanted)
{
    if (!word_kind(cell_type(thrown))) return false;
    uint32_t s = symbol::resolve(thrown->data2);
    if (cell_type(wanted) != TYPE_BLOCK) return symbol::resolve(wanted->data2) == s;
    for (uint32_t i = 0; i < block::rs_length(wanted); i++) {
        const cell* item = block::rs_head(wanted) + i;
        if (cell_type(item) != TYPE_WORD) {
            cell items = *wanted;
            cell name = *rt_word_cell(W_NAME);
            fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, &name, &items);
        }
        if (symbol::resolve(item->data2) == s) return true;
    }
    return false;
}

// ---- print --------------------------------------------------------------------------------------

// Gives the print scratch block back as it was (its index and length) on any way out: a nested
// print inside the reduction, an exit or an error.
struct scratch_scope {
    uint32_t index = natives_s.print_scratch->data1;
    uint32_t length = block::rs_length(natives_s.print_scratch) + natives_s.print_scratch->data1;
    scratch_scope() { natives_s.print_scratch->data1 = length; }
    ~scratch_scope()
    {
        series_buffer* s = series_of(natives_s.print_scratch->data2);
        uint32_t now = (s->tail - s->head) / 16;
        if (now > length) s->tail = s->head + length * 16;
        natives_s.print_scratch->data1 = index;
    }
    scratch_scope(const scratch_scope&) = delete;
    scratch_scope& operator=(const scratch_scope&) = delete;
};

void output(bool new_line)
{
    cell* value = base();
    cell* text;
    if (cell_type(value) == TYPE_BLOCK) {
        // A print inside the block appends after this one's values and cuts back to them.
        scratch_scope scratch;
        if (!reduce_into(value, natives_s.print_scratch)) return;
        cell reduced = *natives_s.print_scratch;
        text = actions::form_value(stack::push(&reduced), actions::NO_LIMIT);
        hooks_call_2(text, new_line);
    } else {
        text = cell_type(value) == TYPE_STRING ? value : actions::form_value(value, actions::NO_LIMIT);
        if (cell_type(text) == TYPE_STRING) string::ks_head(text);
        hooks_call_2(text, new_line);
    }
    natives_s.last_line = new_line;
    *base() = unset_value;
}

}  // namespace

cell natives::call_library(const char* name, const cell* values, uint32_t n)
{
    cell word = *word::load(name);
    cell* runner = context::get_in(&word, word.data1);
    if (cell_type(runner) != TYPE_FUNCTION) {
        cell* shown = stack::push(&word);
        fire(ERR_INTERNAL, err::NOT_DONE, shown);
    }
    cell fn = *runner;
    return interpreter::call_value(&fn, &word, values, n);
}

// ---- do, reduce, compose ------------------------------------------------------------------------

namespace {
void do_value(const int32_t* refs);
}

// do/trace installs its callback around the evaluation unless a trace runs already.
void natives::do_star(bool, const int32_t* refs)
{
    if (!used(refs, 3) || trace_s.active) return do_value(refs);
    try {
        trace::start(ref_arg(refs, 3));
        if (!exit_code()) do_value(refs);
    } catch (...) {
        trace::abandon();
        throw;
    }
    trace::finish();
}

namespace {
// A script in a file or at a URL is run by the library's do-file (file, trace callback, script
// arguments); until the library defines it, running one is not done.
void do_script(const cell* script, const cell* args)
{
    cell values[3] = {*script, none_value, *args};
    cell out = natives::call_library("do-file", values, 3);
    *base() = out;
}

void do_value(const int32_t* refs)
{
    cell value = *base();
    // /expand: the library's preprocessor edits the block in place before it runs. A hash! is
    // left as it is: edits through a block view would leave its table behind.
    if (used(refs, 0) && (cell_type(&value) == TYPE_BLOCK || cell_type(&value) == TYPE_PAREN)) {
        natives::call_library("expand-directives", &value, 1);
        value = *base();
    }
    switch (cell_type(&value)) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
        if (value.data1 > tail_of(&value)) value.data1 = tail_of(&value);
        // A hash! runs as a block over the same cells; its table (word 3) plays no part, and the
        // current code must not hold a hash! cell without it.
        cell code = cell_type(&value) == TYPE_HASH ? cell{TYPE_BLOCK, value.data1, value.data2, 0} : value;
        if (!used(refs, 2)) {
            interpreter::eval(&code, true);
            return;
        }
        uint32_t pos = interpreter::eval_next(&code, code.data1);
        if (exit_code()) return;
        cell* result = stack_s.top - 1;
        cell position = value;
        position.data1 = pos;
        word::set(ref_arg(refs, 2), &position);
        *base() = *result;
        return;
    }
    case TYPE_STRING: {
        if (!interpreter_s.load_text) fire(ERR_INTERNAL, err::NOT_DONE);
        cell code = *interpreter_s.load_text(&value);
        interpreter::eval(&code, true);
        return;
    }
    case TYPE_ERROR: {
        // Raised as it is; its code names the category and id that handlers report.
        const cell* code = context::get_value_at(value.data1, EF_CODE);
        uint32_t c = cell_type(code) == TYPE_INTEGER ? code->data2 : UINT32_MAX;
        fire_value(&value, c / 100 < ERROR_CATEGORIES ? c / 100 : ERROR_CATEGORIES, c % 100);
    }
    case TYPE_FILE: case TYPE_URL:
        do_script(&value, used(refs, 1) ? ref_arg(refs, 1) : &none_value);
        return;
    default:
        eval_alone(&value);
        if (exit_code()) return;
        *base() = *(stack_s.top - 1);
    }
}
}  // namespace

void natives::reduce_star(bool, const int32_t* refs)
{
    cell value = *base();
    uint32_t t = cell_type(&value);
    cell* first = stack_s.top;
    uint32_t n = 1;
    if (t == TYPE_BLOCK || t == TYPE_PAREN) {
        cell* made = block::make_at(stack::push_slot(), block::rs_length(&value));
        if (!reduce_into(&value, made)) return;
        if (used(refs, 0)) {
            // Every value is made before the first goes in, as the block's code may read `out`.
            cell* out = ref_arg(refs, 0);
            for (uint32_t i = 0; i < block::rs_length(made); i++) {
                cell item = *(block::rs_head(made) + i);
                block::insert_value(out, &item, true, false);
            }
            *base() = *out;
            return;
        }
        *base() = *made;
        return;
    } else if (function_kind(t)) {
        if (!used(refs, 0)) return;
        stack::push(&value);
    } else {
        eval_alone(&value);
        if (exit_code()) return;
        if (!used(refs, 0)) {
            *base() = *first;
            return;
        }
    }
    if (used(refs, 0)) {
        cell* out = ref_arg(refs, 0);
        insert_cells(out, first, n);
        *base() = *out;
        return;
    }
    *base() = *collapse_into_block(first, n);
}

void natives::compose_star(bool, const int32_t* refs)
{
    cell value = *base();
    if (cell_type(&value) != TYPE_BLOCK) {
        cell expected = datatype::value_of(TYPE_BLOCK);
        cell given = datatype::value_of(cell_type(&value));
        fire(ERR_SCRIPT, err::EXPECT_VAL, &expected, &given);
    }
    bool deep = used(refs, 0), only = used(refs, 1);
    cell* out = used(refs, 2) ? ref_arg(refs, 2) : block::make_at(stack::push_slot(), block::rs_length(&value));
    compose_into(&value, out, used(refs, 2), deep, only);
    if (exit_code()) return;
    *base() = *out;
}

// ---- words --------------------------------------------------------------------------------------

void natives::get_star(bool, const int32_t* refs)
{
    cell target = *base();
    uint32_t t = cell_type(&target);
    if (path_kind(t)) {
        interpreter::eval_path(&target, target.data2, 0, nullptr, true);
        *base() = *(stack_s.top - 1);
        return;
    }
    if (t == TYPE_OBJECT) {
        cell field{TYPE_WORD, 0, rt_symbol_id(SYM_VALUES), 0};
        *base() = *object::reflect(&target, stack::push(&field));
        return;
    }
    cell* value = word::get(&target);
    if (cell_type(value) == TYPE_UNSET && !used(refs, 0)) fire(ERR_SCRIPT, err::NO_VALUE, &target);
    *base() = *value;
}

void natives::set_star(bool, const int32_t* refs)
{
    cell* target = base();
    cell* value = base() + 1;
    bool any = used(refs, 0), only = used(refs, 2), some = used(refs, 3);
    uint32_t t = cell_type(target);
    if (cell_type(value) == TYPE_UNSET && !any) fire(ERR_SCRIPT, err::NEED_VALUE, target);
    if (path_kind(t)) {
        interpreter::eval_path(target, target->data2, 0, value, false);
    } else if (t == TYPE_BLOCK) {
        set_many(target, value, block::rs_length(target), any, only, some);
    } else if (t == TYPE_OBJECT) {
        object::set_many(target, value, any, only, some);
    } else {
        word::set(target, value);
    }
    *base() = *value;
}

void natives::unset_star(bool, const int32_t*)
{
    cell* target = base();
    if (cell_type(target) == TYPE_WORD) {
        word::set(target, &unset_value);
    } else {
        cell words = *target;
        for (uint32_t i = 0; i < block::rs_length(&words); i++) {
            cell w = block::rs_head(&words)[i];
            if (cell_type(&w) != TYPE_WORD) continue;
            cell* held = stack::push(&w);
            word::set(held, &unset_value);
            stack::pop(1);
        }
    }
    *base() = unset_value;
}

void natives::value_q_star(bool, const int32_t*)
{
    const cell* v = base();
    if (word_kind(cell_type(v))) {
        node_ref ctx = v->data1;
        const cell* slot = ctx && int32_t(v->data3) >= 0 ? context::slot_of(ctx, v->data3) : nullptr;
        v = slot ? slot : &unset_value;
    }
    *base() = cell{TYPE_LOGIC, cell_type(v) != TYPE_UNSET ? 1u : 0u, 0, 0};
}

void natives::type_q_star(bool, const int32_t* refs)
{
    uint32_t t = cell_type(base());
    if (used(refs, 0)) {
        const cell* name = datatype_s.types[t].word;
        *base() = name ? *name : none_value;
        return;
    }
    *base() = datatype::value_of(t);
}

void natives::bind_star(bool, const int32_t* refs)
{
    cell target = base()[1];
    node_ref ctx;
    switch (cell_type(&target)) {
    case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT: case TYPE_FUNCTION: case TYPE_ROUTINE:
        ctx = target.data1;
        break;
    default:
        ctx = target.data1;   // a word: its own context
        if (!ctx) fire(ERR_SCRIPT, err::NOT_IN_CONTEXT, &target);
    }
    bool self = cell_type(&target) == TYPE_OBJECT;
    cell* value = base();
    if (word_kind(cell_type(value))) {
        context::bind_word(ctx, value);
        return;
    }
    if (used(refs, 0)) {
        cell* copy = block::clone(value, true, true);
        cell_set_type(copy, cell_type(value));
        *value = *copy;
    }
    context::bind(value, ctx, self);
}

void natives::in_star(bool, const int32_t*)
{
    cell* w = base() + 1;
    node_ref ctx = base()->data1;
    int32_t position = ctx ? context::find_word(ctx, w->data2, true) : -1;
    if (position < 0) {
        *base() = none_value;
        return;
    }
    *base() = cell{TYPE_WORD, ctx, w->data2, uint32_t(position)};
}

void natives::context_q_star(bool, const int32_t*)
{
    node_ref ctx = base()->data1;
    if (!ctx) {
        *base() = none_value;
        return;
    }
    const cell* owner = context::owner_of(ctx);
    *base() = cell_type(owner) == TYPE_UNSET ? none_value : *owner;
}

void natives::construct_star(bool, const int32_t* refs)
{
    const cell* proto = used(refs, 0) ? ref_arg(refs, 0) : nullptr;
    *base() = *object::make_from_spec(base(), proto, used(refs, 1));
}

void natives::extend_star(bool, const int32_t* refs)
{
    // Objects are not extended yet; a map takes the pairs of a block, or of another map.
    if (cell_type(base()) != TYPE_MAP) fire(ERR_INTERNAL, err::NOT_DONE);
    cell* pairs = base() + 1;
    if (cell_type(pairs) == TYPE_MAP) pairs = map::body_of(pairs);
    map::extend(base(), pairs, refs[0] >= 0);
}

// ---- try, catch, throw, return, exit ------------------------------------------------------------

void natives::try_star(bool, const int32_t* refs)
{
    bool all = used(refs, 0);
    cell block = *base();
    cell* result = base();
    interpreter::catch_point point;
    try {
        mark_as_native(all ? FRAME_TRY_ALL : FRAME_TRY);
        interpreter::eval(&block, true);
    } catch (const script_error_unwind&) {
        *result = point.take_error();
        if (used(refs, 1) && cell_type(result) == TYPE_ERROR) error::set_stack(result);
        return;
    }
    if (exit_code()) return;   // break, continue, return, exit, throw: not a try's own
    stack::unwind_last();
}

void natives::catch_star(bool, const int32_t* refs)
{
    cell block = *base();
    bool named = used(refs, 0);
    cell* wanted = named ? ref_arg(refs, 0) : nullptr;
    cell* window = mark_as_native(FRAME_CATCH);
    interpreter::eval(&block, true);
    uint32_t code = exit_code();
    if (code && code != EXIT_THROW) return;
    if (code == EXIT_THROW) {
        cell value = window[0], name = window[1];
        if (named && !name_matches(&name, wanted)) {
            // Not this catch's name: on to the next catch, with the value and name it was given.
            set_exit_code(EXIT_NONE);
            stack::throw_value(EXIT_THROW, &value, &name);
            return;
        }
        set_exit_code(EXIT_NONE);
        stack_s.throw_marker = nullptr;   // else the next error would name the throw's caller
        window[0] = value;
        stack_s.top = window + 1;
        if (trace_s.listening) trace::fire(TRACE_CATCH, nullptr, -1, nullptr, &value);
    }
    stack::unwind_last();
}

void natives::throw_star(bool, const int32_t* refs)
{
    cell value = *base();
    cell name = used(refs, 0) ? *ref_arg(refs, 0) : none_value;
    if (trace_s.listening) trace::fire(TRACE_THROW, nullptr, -1, nullptr, &value);
    stack::throw_value(EXIT_THROW, &value, &name);
}

void natives::return_star(bool, const int32_t*) { stack::throw_exit(true, false); }

void natives::exit_star(bool, const int32_t*) { stack::throw_exit(false, false); }

// ---- functions ----------------------------------------------------------------------------------

void natives::func_star(bool, const int32_t*) { make_function(base(), base() + 1); }

void natives::function_star(bool, const int32_t*)
{
    cell* spec = block::clone(base(), false, false);
    cell_set_type(spec, TYPE_BLOCK);
    function::collect_body_words(spec, base() + 1);
    make_function(spec, base() + 1);
}

void natives::does_star(bool, const int32_t*)
{
    cell* spec = block::make_at(stack::push_slot(), 1);
    make_function(spec, base());
}

void natives::has_star(bool, const int32_t*)
{
    cell* spec = block::clone(base(), false, false);
    cell_set_type(spec, TYPE_BLOCK);
    block::insert_value(spec, rt_refinement_word(REF_LOCAL), false, false);
    make_function(spec, base() + 1);
}

void natives::apply_star(bool, const int32_t* refs)
{
    cell target = base()[0];
    cell args = base()[1];
    cell name = *rt_word_cell(W_ANON_TAG);
    path_refs path{};
    path_refs* from_path = nullptr;
    uint32_t t = cell_type(&target);
    if (t == TYPE_WORD) {
        name = target;
        target = *word::get(&name);
    } else if (path_kind(t)) {
        cell head = block::rs_length(&target) ? block::rs_head(&target)[0] : none_value;
        if (cell_type(&head) != TYPE_WORD) fire(ERR_SCRIPT, err::INVALID_ARG, base());
        name = head;
        path = path_refs{*base(), target.data1 + 1};
        from_path = &path;
        target = *word::get(&name);
    }
    if (cell_type(&target) == TYPE_OP) target.header = (target.header >> 16) & 0xFF;
    uint32_t kind = cell_type(&target);
    if (kind != TYPE_NATIVE && kind != TYPE_ACTION && kind != TYPE_FUNCTION && kind != TYPE_ROUTINE)
        fire(ERR_SCRIPT, err::INVALID_ARG, base());
    uint32_t mode = used(refs, 0) ? APPLY_ALL : APPLY_NAMED;
    if (used(refs, 1)) mode |= APPLY_SAFER;
    uint32_t index = args.data1 < tail_of(&args) ? args.data1 : tail_of(&args);
    interpreter::eval_code(&target, args.data2, index, &name, mode & APPLY_ALL ? nullptr : from_path, mode);
    if (exit_code()) return;
    *base() = *(stack_s.top - 1);
}

// ---- new-line markers ---------------------------------------------------------------------------

void natives::new_line_star(bool, const int32_t* refs)
{
    cell position = *base();
    bool on = !cell_falsy(base() + 1);
    bool all = used(refs, 0);
    int32_t size = 0;
    if (used(refs, 1)) {
        size = int32_t(ref_arg(refs, 1)->data2);
        if (size <= 0) fire(ERR_SCRIPT, err::OUT_OF_RANGE, ref_arg(refs, 1));
    }
    uint32_t n = block::rs_length(&position);
    if (!all && !size) n = n ? 1 : 0;
    for (uint32_t i = 0; i < n; i++) {
        cell* item = block::rs_head(&position) + i;
        bool mark = size ? (i % uint32_t(size) == 0) == on : on;
        item->header = mark ? item->header | HEADER_NEW_LINE : item->header & ~HEADER_NEW_LINE;
    }
}

void natives::new_line_q_star(bool, const int32_t*)
{
    cell position = *base();
    bool marked = block::rs_length(&position) && (block::rs_head(&position)->header & HEADER_NEW_LINE);
    *base() = cell{TYPE_LOGIC, marked ? 1u : 0u, 0, 0};
}

// ---- output -------------------------------------------------------------------------------------

void natives::print_star(bool, const int32_t*) { output(true); }

void natives::prin_star(bool, const int32_t*) { output(false); }

void natives::print_error(uint32_t category, uint32_t id, const cell* arg1, const cell* arg2, const cell* arg3)
{
    cell* window = stack::mark(stack_s.body_symbol, 0, FRAME_NATIVE << FRAME_KIND_SHIFT);
    *window = *error::create(category, id, arg1, arg2, arg3);
    stack_s.top = window + 1;
    output(true);
    *window = unset_value;
    stack::unwind_keep();
}
