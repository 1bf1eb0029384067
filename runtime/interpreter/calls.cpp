// Calls: the argument cache of each callable, gathering arguments by it (plain, refinements
// through a path, apply's modes), the lean call by a plain word with if/unless/either branches in
// place, the general call, and call_value, the one way C++ calls Kiv code. Every window is filled
// on the argument stack; no cell of a movable series is held across an argument's evaluation.

#include "runtime/interpreter/interpreter_internal.h"


namespace interp {

node_ref global_context, global_values;
running_call running;
recent_callable recent[RECENT_CALLABLES];

[[gnu::noinline]] const recent_callable& learn_callable(const cell* fn, recent_callable& r)
{
    node_ref cache = cache_of(fn);   // building it may collect
    series_buffer* s = series_of(cache);
    r.more = fn->data3;
    r.cycles = collector_s.cycles;
    r.cache = cache;
    r.count = (s->tail - s->head) >> 4;
    r.entries = at<cell>(s->head);
    r.leading = 0;
    while (r.leading < r.count && cell_type(r.entries + r.leading) == TYPE_TYPESET &&
           (arg_mode_of(r.entries + r.leading) == ARG_EVALUATE || arg_mode_of(r.entries + r.leading) == ARG_SKIP))
        r.leading++;
    if (r.leading < r.count && cell_type(r.entries + r.leading) == TYPE_TYPESET) r.leading = NOT_PLAIN;
    r.native_nones = NOT_PLAIN;
    r.refinements = 0;
    if (r.leading != NOT_PLAIN && native_kind(callee_type(fn))) {
        r.native_nones = 0;
        for (uint32_t i = r.leading; i < r.count; i++) {
            const cell* e = r.entries + i;
            if (cell_type(e) == TYPE_TYPESET) r.native_nones += arg_mode_of(e) != ARG_SKIP;
            else if (cell_type(e) == TYPE_REFINEMENT) r.refinements++;
        }
    }
    r.body = *at<cell>(series_of(fn->data3)->head);
    return r;
}

// The argument context of a callable: its own for function! and routine!, the more block's first
// cell for native! and action!.
node_ref arg_context_of(const cell* fn)
{
    if (native_kind(callee_type(fn))) {
        cell more{TYPE_BLOCK, 0, fn->data3, 0};
        return block::ks_abs_at(&more, native::MORE_CONTEXT)->data3;
    }
    return fn->data1;
}

// The word of cache entry `index`: the entries stand in context order, skip entries aside.
cell argument_word(const cell* fn, node_ref cache, uint32_t index)
{
    uint32_t position = 0;
    for (uint32_t i = 0; i < index; i++) {
        const cell* e = cache_at(cache, i);
        if (cell_type(e) == TYPE_REFINEMENT || (cell_type(e) == TYPE_TYPESET && arg_mode_of(e) != ARG_SKIP)) position++;
    }
    node_ref ctx = arg_context_of(fn);
    if (!ctx || position >= context::word_count(ctx)) return none_value;
    cell w = *context::get_word(ctx, position);
    w.header = TYPE_WORD;
    return w;
}

// The name a call's errors give: its word, or <anon>.
cell call_name(const cell* name)
{
    if (name && cell_type(name) == TYPE_WORD) return *name;
    return *rt_word_cell(W_ANON_TAG);
}

[[noreturn]] void expect_arg(const cell* fn, node_ref cache, uint32_t index, const cell* name, uint32_t type)
{
    cell who = call_name(name);
    cell given = datatype::value_of(type);
    cell arg = argument_word(fn, cache, index);
    fire(ERR_SCRIPT, err::EXPECT_ARG, &who, &given, &arg);
}

// Appends one typeset entry of the given mode: from the type block at spec index i + 1 when there
// is one (returns true then), else every type but unset!.
bool add_typeset(cell* cache, const cell* spec, uint32_t i, uint32_t mode)
{
    bool typed = i + 1 < block::rs_length(spec) && cell_type(block::rs_head(spec) + i + 1) == TYPE_BLOCK;
    cell* entry;
    if (typed) {
        cell types = block::rs_head(spec)[i + 1];
        entry = typeset::from_block(cache, &types);
    } else {
        entry = typeset::make_all(cache);
    }
    entry->header |= mode << ARG_MODE_SHIFT;
    return typed;
}

bool is_local(const cell* c)
{
    return cell_type(c) == TYPE_REFINEMENT &&
           symbol::resolve(c->data2) == symbol::resolve(rt_refinement_word(REF_LOCAL)->data2);
}

// Calls the native, action or routine whose window is filled.
void invoke(const cell* fn, const refinement_state& refs)
{
    switch (callee_type(fn)) {
    case TYPE_NATIVE:
        natives_s.table[fn->data1 - 1](false, refs.ints);
        break;
    case TYPE_ACTION:
        actions_s.table[fn->data1 - 1](false, refs.ints);
        break;
    case TYPE_ROUTINE: {
        cell more{TYPE_BLOCK, 0, fn->data3, 0};
        routine_fn r = routine::entry(int32_t(block::ks_abs_at(&more, 2)->data2));
        if (!r) fire(ERR_INTERNAL, err::NOT_DONE);
        // A routine of no arguments has an empty window: its result needs a cell of its own, or
        // what a trace pushes after the call lands on it.
        if (stack_s.top == stack_s.arguments) stack::push_slot();
        r();
        break;
    }
    default:
        break;
    }
}

// One argument by its entry's mode, pushed. single: the argument is the next value alone.
[[gnu::noinline]] uint32_t fetch_one(const cell* fn, node_ref cache, uint32_t index, node_ref code, uint32_t pos,
                                     const cell* name, bool no_infix, bool single)
{
    uint32_t mode = arg_mode_of(cache_at(cache, index));
    if (pos >= code_tail(code)) {
        if (mode == ARG_LITERAL && typeset_has(cache_at(cache, index), TYPE_UNSET)) {
            stack::push(&unset_value);
            return pos;
        }
        cell who = call_name(name);
        cell arg = argument_word(fn, cache, index);
        fire(ERR_SCRIPT, err::NO_ARG, &who, &arg);
    }
    if (mode == ARG_EVALUATE) return interpreter::eval_expression(code, pos, no_infix || single);
    cell v = *code_at(code, pos);
    if (mode == ARG_LITERAL) {
        switch (cell_type(&v)) {
        case TYPE_PAREN:
            interpreter::eval(&v, false);
            return pos + 1;
        case TYPE_GET_WORD:
            stack::push(word_value(&v));
            return pos + 1;
        case TYPE_GET_PATH:
            interpreter::eval_path(&v, code, pos + 1, nullptr, true);
            return pos + 1;
        default:
            break;
        }
    }
    stack::push(&v);
    return pos + 1;
}

// The path's refinements, in the path's order, each with its arguments from the code. Returns the
// code position; refs->first is moved to the first element not taken (the tail when all were).
[[gnu::noinline]] uint32_t fetch_refinements(const cell* fn, node_ref cache, uint32_t rest, node_ref code,
                                             uint32_t pos, const cell* name, path_refs* refs,
                                             refinement_state& state, uint32_t mode)
{
    bool natives = native_kind(callee_type(fn));
    uint32_t cache_length = code_tail(cache);
    uint32_t defined = 0;
    for (uint32_t i = rest; i < cache_length; i++) defined += cell_type(cache_at(cache, i)) == TYPE_REFINEMENT;
    uint64_t seen_small = 0;
    std::vector<bool> seen_large;
    if (defined > 64) seen_large.resize(defined);
    cell* base = stack_s.arguments;
    node_ref path = refs->path.data2;
    for (uint32_t p = refs->first; p < code_tail(path); p++) {
        cell el = *code_at(path, p);
        uint32_t et = cell_type(&el);
        bool used = true;
        if (et == TYPE_GET_WORD) used = !cell_falsy(word_value(&el));
        else if (et != TYPE_WORD && !(et == TYPE_REFINEMENT && (mode & APPLY_NAMED))) {
            if (defined == 0) {
                refs->first = p;
                return pos;
            }
            fire(ERR_SCRIPT, err::BAD_REFINE, &el);
        }
        // Find the refinement and its window slot: slots count the entries before it.
        uint32_t slot = 0, i = 0, number = 0;
        uint32_t wanted = symbol::resolve(el.data2);
        bool found = false;
        for (; i < cache_length; i++) {
            const cell* e = cache_at(cache, i);
            uint32_t t = cell_type(e);
            if (t == TYPE_REFINEMENT) {
                number++;
                if (symbol::resolve(e->data2) == wanted) {
                    found = true;
                    break;
                }
                if (!natives) slot++;
            } else if (t == TYPE_TYPESET && arg_mode_of(e) != ARG_SKIP) {
                slot++;
            }
        }
        if (!found) {
            cell who = call_name(name);
            el.header = TYPE_WORD;
            fire(ERR_SCRIPT, err::NO_REFINE, &who, &el);
        }
        bool dup = defined > 64 ? seen_large[number - 1] : (seen_small >> (number - 1)) & 1;
        if (dup) fire(ERR_SCRIPT, err::DUP_REFINE, &refs->path);
        if (defined > 64) seen_large[number - 1] = true;
        else seen_small |= uint64_t(1) << (number - 1);
        if (natives) {
            state.ints[number - 1] = used ? int32_t(slot) : -1;
        } else {
            base[slot] = cell{TYPE_LOGIC, used ? 1u : 0u, 0, 0};
            slot++;
        }
        for (uint32_t k = i + 1; k < cache_length; k++) {
            const cell* e = cache_at(cache, k);
            if (cell_type(e) != TYPE_TYPESET) break;
            if (arg_mode_of(e) == ARG_SKIP) continue;
            pos = fetch_one(fn, cache, k, code, pos, name, mode & CALL_INFIX, mode & APPLY_SAFER);
            if (exit_code()) return pos;
            check_arg(fn, cache, k, name, stack_s.top - 1);
            base[slot++] = *--stack_s.top;
        }
    }
    refs->first = code_tail(path);
    return pos;
}

// apply/all: every argument and refinement of the spec in order, each refinement as a value whose
// truth decides whether it is used; past the end of the values, arguments are none and
// refinements false. With APPLY_SAFER each argument is the single next value, and those of an
// unused refinement are passed over without being evaluated.
[[gnu::noinline]] uint32_t fetch_all(const cell* fn, node_ref cache, node_ref code, uint32_t pos, const cell* name,
                                     uint32_t mode, refinement_state& state)
{
    bool natives = native_kind(callee_type(fn));
    bool safer = mode & APPLY_SAFER;
    bool used = true;   // the group of arguments being taken: the mandatory ones, or a refinement's
    uint32_t slot = 0;
    for (uint32_t i = 0; i < code_tail(cache); i++) {
        const cell* e = cache_at(cache, i);
        uint32_t t = cell_type(e);
        if (t == TYPE_INTEGER) {
            if (!natives) function::init_locals(e->data2);
            continue;
        }
        if (t == TYPE_TYPESET && arg_mode_of(e) == ARG_SKIP) continue;
        bool given = pos < code_tail(code);
        if (t == TYPE_REFINEMENT) {
            used = false;
            if (given) {
                pos = interpreter::eval_expression(code, pos, safer);
                if (exit_code()) return pos;
                used = !cell_falsy(stack_s.top - 1);
                stack::pop(1);
            }
            if (natives) {
                state.ints[state.count++] = used ? int32_t(slot) : -1;
            } else {
                stack::push(used ? &true_value : &false_value);
                slot++;
            }
            continue;
        }
        if (!given) {
            stack::push(&none_value);
        } else if (!used && safer) {
            stack::push(&none_value);
            pos++;
        } else {
            pos = fetch_one(fn, cache, i, code, pos, name, false, safer);
            if (exit_code()) return pos;
            if (used) check_arg(fn, cache, i, name, stack_s.top - 1);
        }
        slot++;
    }
    return pos;
}

// The cache entries from `from` on in their defaults: refinements unused (natives and actions
// note them in the state, the others get false in the window), their arguments none, locals none.
void push_defaults(node_ref cache, uint32_t from, uint32_t n, bool natives, refinement_state& state)
{
    for (uint32_t i = from; i < n; i++) {
        const cell* e = cache_at(cache, i);
        switch (cell_type(e)) {
        case TYPE_TYPESET:
            if (arg_mode_of(e) != ARG_SKIP) stack::push(&none_value);
            break;
        case TYPE_REFINEMENT:
            if (natives) state.ints[state.count++] = -1;
            else stack::push(&false_value);
            break;
        case TYPE_INTEGER:
            if (!natives) function::init_locals(e->data2);
            break;
        default:
            break;
        }
    }
}

// The call event of a native, action or routine: its arguments are gathered and it runs now.
[[gnu::noinline]] void fire_call(node_ref code, uint32_t first, const cell* name, const cell* fn)
{
    fire_traced(TRACE_CALL, code, int32_t(first), name, fn);
}

// Fills the window of a call: arguments, refinements, locals; then calls natives, actions and
// routines (a function! is run by the caller), after their call event. Returns the code position
// after the arguments.
uint32_t fetch_args(const cell* fn, node_ref code, uint32_t pos, const cell* name, path_refs* refs, uint32_t mode)
{
    const uint32_t first = pos;
    const recent_callable& info = callable_info(fn);
    node_ref cache = info.cache;
    if (mode & APPLY_ALL) {
        refinement_state state;
        pos = fetch_all(fn, cache, code, pos, name, mode, state);
        if (exit_code()) return pos;
        if (native_kind(callee_type(fn)) || callee_type(fn) == TYPE_ROUTINE) {
            if (tracing_now()) [[unlikely]] fire_call(code, first, name, fn);
            invoke(fn, state);
        }
        return pos;
    }
    cell* entries = info.entries;
    uint32_t n = info.count;
    uint32_t cycles = info.cycles;   // the entries' address holds while it is the collector's count
    bool natives = native_kind(callee_type(fn));
    bool infix = mode & CALL_INFIX;
    uint32_t i = 0;
    // The arguments every call takes.
    for (bool first = true; i < n; i++) {
        uint32_t m = arg_mode_of(entries + i);
        if (cell_type(entries + i) != TYPE_TYPESET) break;
        if (m == ARG_SKIP) continue;
        if (!(infix && first)) {
            if (m == ARG_EVALUATE && pos < code_tail(code))
                pos = eval_operand(code, pos, infix || (mode & APPLY_SAFER));
            else
                pos = fetch_one(fn, cache, i, code, pos, name, infix, mode & APPLY_SAFER);
            if (exit_code()) return pos;
            if (collector_s.cycles != cycles) {
                cycles = collector_s.cycles;
                entries = at<cell>(series_of(cache)->head);
            }
        }
        first = false;
        if (!typeset_has(entries + i, cell_type(stack_s.top - 1)))
            expect_arg(fn, cache, i, name, cell_type(stack_s.top - 1));
    }
    if (i == n && !refs) {
        static const refinement_state no_refinements{};   // read by no routine: there are none
        if (natives || callee_type(fn) == TYPE_ROUTINE) {
            if (tracing_now()) [[unlikely]] fire_call(code, first, name, fn);
            invoke(fn, no_refinements);
        }
        return pos;
    }
    refinement_state state;
    uint32_t rest = i;
    push_defaults(cache, i, n, natives, state);
    if (refs) {
        pos = fetch_refinements(fn, cache, rest, code, pos, name, refs, state, mode);
        if (exit_code()) return pos;
    }
    if (natives || callee_type(fn) == TYPE_ROUTINE) {
        if (tracing_now()) [[unlikely]] fire_call(code, first, name, fn);
        invoke(fn, state);
    }
    return pos;
}

// if, unless and either whose branches are blocks written in the code: with the condition in the
// window, the branch taken is evaluated where it stands, as the native would evaluate it, without
// fetching the blocks. Returns the code position after them, or 0 when the branches are not such
// blocks (the call then goes on as any other).
uint32_t branch_in_place(uint32_t native, node_ref code, uint32_t pos, const cell* entries, uint32_t count)
{
    uint32_t blocks = count - 1;
    if (native < natives::N_IF || blocks != (native == natives::N_EITHER ? 2u : 1u)) return 0;
    uint32_t end = pos + blocks;
    if (end > code_tail(code)) return 0;
    for (uint32_t k = 0; k < blocks; k++)
        if (cell_type(code_at(code, pos + k)) != TYPE_BLOCK || !typeset_has(entries + 1 + k, TYPE_BLOCK)) return 0;
    // A block followed by an operator is the operator's left operand, not the branch.
    if (end < code_tail(code) && infix_op(code_at(code, end))) return 0;
    cell* cond = stack_s.arguments;
    uint32_t chosen;
    if (native == natives::N_EITHER) chosen = natives::truthy_strict(cond) ? 0 : 1;
    else chosen = cell_falsy(cond) == (native == natives::N_UNLESS) ? 0 : blocks;
    if (chosen == blocks) {
        *cond = none_value;
    } else {
        cell body = *code_at(code, pos + chosen);
        interpreter::eval(&body, true);
    }
    return end;
}

// A call by a plain word outside a trace, as eval_code makes it: the callable goes under its
// window, the arguments every call takes are evaluated into it, the rest get their defaults.
[[gnu::noinline]] uint32_t call_word(const cell* value, node_ref code, uint32_t pos, const cell* name, path_refs* refs)
{
    machine_stack_check();
    cell* slot = stack::push(value);
    const recent_callable& known = callable_info(slot);   // building the cache may collect
    if (known.leading == NOT_PLAIN) {
        cell fn = *slot;
        stack_s.top = slot;
        return interpreter::eval_code(&fn, code, pos, name, refs, APPLY_NONE);
    }
    uint32_t type = cell_type(slot);
    stack::mark(name->data2, name->data1, type == TYPE_FUNCTION ? FRAME_INTERP_FUNCTION : FRAME_INTERP_NATIVE);
    // Copied out: a call made by an argument may take the entry over.
    uint32_t leading = known.leading, n = known.count, cycles = known.cycles;
    cell body = known.body;
    node_ref cache = known.cache;
    cell* entries = known.entries;
    for (uint32_t i = 0; i < leading; i++) {
        if (arg_mode_of(entries + i) == ARG_SKIP) continue;
        if (pos >= code_tail(code)) fetch_one(slot, cache, i, code, pos, name, false, false);   // raises
        pos = eval_operand(code, pos, false);
        if (exit_code()) return pos;
        if (collector_s.cycles != cycles) [[unlikely]] {
            cycles = collector_s.cycles;
            entries = at<cell>(series_of(cache)->head);
        }
        uint32_t t = cell_type(stack_s.top - 1);
        if (!typeset_has(entries + i, t)) expect_arg(slot, cache, i, name, t);
        if (i == 0 && type == TYPE_NATIVE && slot->data1 <= natives::N_EITHER && leading == n && !refs) {
            uint32_t next = branch_in_place(slot->data1, code, pos, entries, leading);
            if (next) return exit_code() ? next : end_call(slot, next);
        }
    }
    if (leading < n || refs) {
        refinement_state state;
        // Read again rather than carried through the argument loop: an entry of the table.
        const recent_callable& now = callable_info(slot);
        if (now.native_nones != NOT_PLAIN) push_native_defaults(now.native_nones, now.refinements, state);
        else push_defaults(cache, leading, n, native_kind(type), state);
        if (refs) {
            pos = fetch_refinements(slot, cache, leading, code, pos, name, refs, state, APPLY_NONE);
            if (exit_code()) return pos;
        }
        if (type == TYPE_FUNCTION) run_body(slot, body);
        else invoke(slot, state);
    } else {
        static const refinement_state no_refinements{};   // read by no routine: there are none
        switch (type) {
        case TYPE_FUNCTION: run_body(slot, body); break;
        case TYPE_NATIVE: natives_s.table[slot->data1 - 1](false, no_refinements.ints); break;
        case TYPE_ACTION: actions_s.table[slot->data1 - 1](false, no_refinements.ints); break;
        default: invoke(slot, no_refinements); break;
        }
    }
    return exit_code() ? pos : end_call(slot, pos);
}

}  // namespace interp

using namespace interp;

// ---- the cache ----------------------------------------------------------------------------------

node_ref interpreter::arg_cache(const cell* fn)
{
    const cell* held = at<cell>(series_of(fn->data3)->head) + native::MORE_CACHE;
    if (cell_type(held) == TYPE_BLOCK) return held->data2;
    cell more{TYPE_BLOCK, 0, fn->data3, 0};

    bool natives = native_kind(callee_type(fn));
    cell spec{TYPE_BLOCK, 0, fn->data2, 0};
    cell* mark = stack::top();
    cell* cache = block::push_only_star(8);
    uint32_t refinements = 0;
    uint32_t length = block::rs_length(&spec);
    for (uint32_t i = 0; i < length; i++) {
        cell c = block::rs_head(&spec)[i];
        switch (cell_type(&c)) {
        case TYPE_WORD:
            if (add_typeset(cache, &spec, i, ARG_EVALUATE)) i++;
            break;
        case TYPE_GET_WORD:
            if (add_typeset(cache, &spec, i, ARG_GET)) i++;
            break;
        case TYPE_LIT_WORD:
            if (add_typeset(cache, &spec, i, ARG_LITERAL)) i++;
            break;
        case TYPE_SET_WORD:
            if (symbol::resolve(c.data2) != symbol::resolve(rt_symbol_id(SYM_RETURN)))
                fire(ERR_SCRIPT, err::BAD_FUNC_DEF, &c);
            if (add_typeset(cache, &spec, i, ARG_SKIP)) i++;
            break;
        case TYPE_REFINEMENT:
            if (!natives && is_local(&c)) {
                // The /local flag and one none per word after it; those words are not entered.
                cell count{TYPE_INTEGER, 0, uint32_t(function::count_locals(spec.data2, 0, false)), 0};
                block::rs_append(cache, &count);
                i = length;
                break;
            }
            refinements++;
            if (natives && refinements > MAX_REFINEMENTS) fire(ERR_SCRIPT, err::BAD_FUNC_DEF, &spec);
            c = cell{TYPE_REFINEMENT, 0, c.data2, refinements};
            block::rs_append(cache, &c);
            break;
        default:
            break;   // doc strings, the attribute block
        }
    }
    if (natives && refinements) {
        cell count{TYPE_INTEGER, 0, refinements, 0};
        block::rs_append(cache, &count);
    }
    node_ref node = cache->data2;
    *block::ks_abs_at(&more, native::MORE_CACHE) = *cache;
    stack_s.top = mark;
    return node;
}

uint32_t interpreter::refinement_count(node_ref cache)
{
    uint32_t n = code_tail(cache);
    if (!n) return 0;
    const cell* last = cache_at(cache, n - 1);
    return cell_type(last) == TYPE_INTEGER ? last->data2 : 0;
}

void interpreter::check_args(const cell* callable, const int32_t* refs, const cell* name)
{
    cell fn = *callable;
    cell who = *name;
    node_ref cache = arg_cache(&fn);
    cell* base = stack_s.arguments;
    bool active = true;   // the mandatory arguments, then each used refinement's
    uint32_t slot = 0, refinement = 0;
    for (uint32_t i = 0; i < code_tail(cache); i++) {
        const cell* e = cache_at(cache, i);
        if (cell_type(e) == TYPE_REFINEMENT) {
            active = refs && refs[refinement++] >= 0;
            continue;
        }
        if (cell_type(e) != TYPE_TYPESET || arg_mode_of(e) == ARG_SKIP) continue;
        if (active) check_arg(&fn, cache, i, &who, base + slot);
        slot++;
    }
}

// ---- calls --------------------------------------------------------------------------------------

uint32_t interpreter::eval_code(const cell* callable, node_ref code, uint32_t pos, const cell* name, path_refs* refs,
                                uint32_t mode)
{
    machine_stack_check();
    cell fn = *callable;
    uint32_t symbol = stack_s.anon_symbol;
    node_ref context = 0;
    if (name && cell_type(name) == TYPE_WORD) {
        symbol = name->data2;
        context = name->data1;
    }
    uint32_t header = cell_type(&fn) == TYPE_FUNCTION ? FRAME_INTERP_FUNCTION : FRAME_INTERP_NATIVE;
    cell* slot;
    if (mode & CALL_INFIX) {
        // The left operand is the top cell: the callable goes under it, where the result will be,
        // so that it stays reachable for the call.
        slot = stack_s.top - 1;
        cell left = *slot;
        *slot = fn;
        stack::mark(symbol, context, header);
        stack::push(&left);
    } else {
        slot = stack::push(&fn);
        stack::mark(symbol, context, header);
    }
    if (tracing_now()) [[unlikely]] fire_traced(TRACE_OPEN, code, int32_t(pos), nullptr, name);
    uint32_t first = pos;
    pos = fetch_args(&fn, code, pos, name, refs, mode);
    if (exit_code()) return pos;
    if (cell_type(&fn) == TYPE_FUNCTION) {
        if (tracing_now()) [[unlikely]] fire_traced(TRACE_CALL, code, int32_t(first), name, &fn);
        call_function(&fn);
        if (exit_code()) return pos;
    }
    end_call(slot, pos);
    if (tracing_now()) [[unlikely]] fire_traced(TRACE_RETURN, code, int32_t(pos), name, slot);
    return pos;
}


void interpreter::call_function(const cell* fn)
{
    cell body = callable_info(fn).body;
    run_body(fn, body);
}

cell interpreter::call_value(const cell* callable, const cell* name, const cell* args, uint32_t count, bool whole)
{
    machine_stack_check();
    cell* slot = stack::push(callable);
    cell who = call_name(name);
    uint32_t type = callee_type(slot);
    if (cell_type(slot) == TYPE_OP) slot->header = type;   // an operator is called as what it wraps
    if (!callable_type(type)) fire(ERR_SCRIPT, err::INVALID_ARG, slot);
    stack::mark(who.data2, who.data1, type == TYPE_FUNCTION ? FRAME_INTERP_FUNCTION : FRAME_INTERP_NATIVE);
    const recent_callable& known = callable_info(slot);   // building the cache may collect
    node_ref cache = known.cache;
    cell body = known.body;
    bool natives = native_kind(type);
    refinement_state state;
    uint32_t given = 0, n = code_tail(cache), i = 0;
    if (!whole && known.leading != NOT_PLAIN) {
        // Pushes allocate nothing: the entries stay where they are until the defaults.
        const cell* entries = known.entries;
        uint32_t leading = known.leading;
        for (; i < leading; i++) {
            if (arg_mode_of(entries + i) == ARG_SKIP) continue;
            if (given < count && !typeset_has(entries + i, cell_type(args + given)))
                expect_arg(slot, cache, i, &who, cell_type(args + given));
            stack::push(given < count ? args + given++ : &none_value);
        }
        if (i < n) push_defaults(cache, i, n, natives, state);
    } else if (!whole) {
        // The leading arguments take the values; the rest get their defaults.
        for (; i < n && cell_type(cache_at(cache, i)) == TYPE_TYPESET; i++) {
            if (arg_mode_of(cache_at(cache, i)) == ARG_SKIP) continue;
            if (given < count) check_arg(slot, cache, i, &who, args + given);
            stack::push(given < count ? args + given++ : &none_value);
        }
        push_defaults(cache, i, n, natives, state);
    }
    // The whole spec in order: a refinement is used when its value is truthy, and only the
    // arguments of the groups used are checked. The cache is read afresh at each entry: the
    // locals' defaults may allocate.
    for (bool used = true; whole && i < n; i++) {
        const cell* e = cache_at(cache, i);
        switch (cell_type(e)) {
        case TYPE_TYPESET:
            if (arg_mode_of(e) == ARG_SKIP) break;
            if (used && given < count) check_arg(slot, cache, i, &who, args + given);
            stack::push(given < count ? args + given++ : &none_value);
            break;
        case TYPE_REFINEMENT:
            used = given < count && !cell_falsy(args + given++);
            if (natives) state.ints[state.count++] = used ? int32_t(stack_s.top - stack_s.arguments) : -1;
            else stack::push(used ? &true_value : &false_value);
            break;
        case TYPE_INTEGER:
            if (!natives) function::init_locals(e->data2);
            break;
        default:
            break;
        }
    }
    if (type == TYPE_FUNCTION) run_body(slot, body);
    else invoke(slot, state);
    if (exit_code()) throw exit_unwind{};
    end_call(slot, 0);
    cell result = *slot;
    stack_s.top = slot;
    return result;
}
