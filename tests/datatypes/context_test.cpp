// Contexts: making them from specs, global words and their case variants, stack contexts read
// through a window of stack cells, binding (cycles, self) and the errors of unbound access.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "support/values.h"

namespace {

using namespace tv;

class Context : public tv::Values {
protected:
    // A block on the argument stack holding words of the given kinds and names, unbound.
    cell* spec(std::initializer_list<std::pair<uint32_t, const char*>> items)
    {
        cell* blk = block::make_at(stack::push_slot(), 8);
        for (auto& [type, name] : items) {
            cell w{type, 0, symbol::make(name), uint32_t(-1)};
            block::rs_append(blk, &w);
        }
        return blk;
    }
    cell* item(cell* blk, uint32_t i) { return block::rs_head(blk) + i; }
    node_ref keep(node_ref ctx)
    {
        cell holder{TYPE_WORD, ctx, 0, uint32_t(-1)};
        stack::push(&holder);
        return ctx;
    }
};


constexpr uint32_t NOT_IN_CONTEXT = ERR_SCRIPT * 100 + err::NOT_IN_CONTEXT;

TEST_F(Context, MakeKeepsOneEntryPerNameAndOneValuePerSpecWord)
{
    cell* s = spec({{TYPE_WORD, "cx-a"}, {TYPE_REFINEMENT, "cx-b"}, {TYPE_SET_WORD, "cx-skip"}, {TYPE_WORD, "CX-A"}});
    node_ref ctx = keep(context::make(s, false, false, CONTEXT_FUNCTION));
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(series_used_bytes(series_of(context::cell_of(ctx)->data2)) / 16, 3u);
    EXPECT_EQ(context::kind_of(ctx), uint32_t(CONTEXT_FUNCTION));
    EXPECT_EQ(context::find_word(ctx, symbol::make("cx-b"), false), 1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("CX-B"), false), -1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("CX-B"), true), 1);
    EXPECT_EQ(cell_type(context::owner_of(ctx)), uint32_t(TYPE_UNSET));
}

TEST_F(Context, GlobalCaseVariantsShareOneValue)
{
    cell lower = *word::load("cx-shared");
    cell upper = *word::load("CX-Shared");
    EXPECT_NE(lower.data2, upper.data2);   // each keeps its own spelling
    EXPECT_EQ(lower.data3, upper.data3);
    cell v = integer(42);
    word::set(&upper, &v);
    EXPECT_EQ(word::get(&lower)->data2, 42u);
    // An alias symbol entered exactly gets its own entry that points at the canonical position.
    uint32_t alias = symbol::make("CX-SHARED");
    cell* entry = context::add_global_word(alias, false, true);
    EXPECT_EQ(entry->data2, alias);
    EXPECT_EQ(entry->data3, lower.data3);
}

TEST_F(Context, StackContextReadsItsWindowOnlyWhileTheCallRuns)
{
    cell* s = spec({{TYPE_WORD, "cx-x"}, {TYPE_WORD, "cx-y"}});
    node_ref ctx = keep(context::make(s, true, false, CONTEXT_FUNCTION));
    EXPECT_EQ(context::cell_of(ctx)->data2, 0u);
    cell y{TYPE_WORD, ctx, symbol::make("cx-y"), 1};
    EXPECT_EQ(raised([&] { context::get_in(&y, ctx); }), NOT_IN_CONTEXT);
    cell v = integer(5);
    EXPECT_EQ(raised([&] { context::set_in(&y, &v, ctx, true); }), code(ERR_SCRIPT, err::NOT_DEFINED));
    EXPECT_EQ(raised([&] { context::push_value_at(ctx, 0); }), code(ERR_SCRIPT, err::NOT_DEFINED));

    // A call: the window is two argument cells on the stack.
    cell* window = stack::push(&unset_value);
    stack::push(&unset_value);
    context::cell_of(ctx)->data2 = ref_of(window);
    context::set_in(&y, &v, ctx, true);
    EXPECT_EQ(window[1].data2, 5u);
    EXPECT_EQ(context::get_in(&y, ctx), window + 1);
    // Mended: after the window is popped, the stale reference is never read.
    stack::pop(2);
    EXPECT_EQ(raised([&] { context::get_in(&y, ctx); }), NOT_IN_CONTEXT);
    EXPECT_EQ(raised([&] { context::set_in(&y, &v, ctx, true); }), code(ERR_SCRIPT, err::NOT_DEFINED));
}

TEST_F(Context, UnboundWordsAndSelfWithoutContext)
{
    cell w{TYPE_WORD, context_s.global, symbol::make("cx-unbound"), uint32_t(-1)};
    EXPECT_EQ(raised([&] { word::get(&w); }), code(ERR_SCRIPT, err::NO_VALUE));
    // Mended: a self word that lost its context raises instead of reading through null.
    cell self{TYPE_WORD, 0, context_s.self_symbol, uint32_t(-1)};
    EXPECT_EQ(raised([&] { word::get(&self); }), code(ERR_SCRIPT, err::NO_VALUE));
}

TEST_F(Context, BindingABlockThatContainsItselfTerminates)
{
    cell* s = spec({{TYPE_WORD, "cx-p"}});
    node_ref ctx = keep(context::make(s, false, false, CONTEXT_OBJECT));
    cell* body = spec({{TYPE_WORD, "CX-P"}, {TYPE_ISSUE, "cx-p"}, {TYPE_WORD, "cx-other"}});
    cell self_ref = *body;
    block::rs_append(body, &self_ref);
    cell nested = *block::make_at(stack::push_slot(), 2);
    block::rs_append(&nested, body);
    block::rs_append(body, &nested);
    context::bind(body, ctx, false);
    EXPECT_EQ(item(body, 0)->data1, ctx);
    EXPECT_EQ(item(body, 0)->data3, 0u);
    EXPECT_EQ(item(body, 1)->data1, 0u);   // issues keep their binding
    EXPECT_EQ(item(body, 2)->data1, 0u);   // not in the context: unchanged
}

// Blocks nested `depth` deep, each holding the word cx-deep and then the next block; the
// outermost is pushed on the stack.
cell* nested_blocks(uint32_t depth)
{
    test::no_collect hold;   // building is not what is tested; collecting at every step would be slow
    cell word{TYPE_WORD, 0, symbol::make("cx-deep"), uint32_t(-1)};
    cell inner = *block::make_at(stack::push_slot(), 1);
    block::rs_append(&inner, &word);
    for (uint32_t i = 1; i < depth; i++) {
        cell outer = *block::make_at(stack::top() - 1, 2);
        block::rs_append(&outer, &word);
        block::rs_append(&outer, &inner);
        inner = outer;
    }
    return stack::top() - 1;
}

cell* innermost(cell* blk)
{
    cell* c = block::rs_head(blk);
    while (block::rs_length(blk) == 2) {
        blk = c + 1;
        c = block::rs_head(blk);
    }
    return c;
}

// Binding holds the blocks it walks on the cycle stack: nesting within its bound binds to the
// bottom, past it raises internal/too-deep and leaves the stack empty, however deep the data.
TEST_F(Context, BindingDeepNestingStopsAtTheCycleStackBound)
{
    node_ref ctx = keep(context::make(spec({{TYPE_WORD, "cx-deep"}}), false, false, CONTEXT_OBJECT));
    cell* within = nested_blocks(CYCLE_STACK_ENTRIES - 1);
    context::bind(within, ctx, false);
    EXPECT_EQ(innermost(within)->data1, ctx);
    EXPECT_EQ(cycle_depth(), 0u);

    cell* deep = nested_blocks(120000);
    EXPECT_EQ(error_of([&] { context::bind(deep, ctx, false); }), code(ERR_INTERNAL, err::TOO_DEEP));
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_EQ(block::rs_head(deep)->data1, ctx) << "the levels above the bound were bound";
}

TEST_F(Context, BindingWithSelfChangesOnlyTheWordSelf)
{
    cell* s = spec({{TYPE_WORD, "cx-field"}});
    node_ref ctx = keep(context::make(s, false, true, CONTEXT_OBJECT));
    *context::owner_of(ctx) = integer(77);   // stands for the owning object
    cell* body = spec({{TYPE_WORD, "self"}, {TYPE_SET_WORD, "self"}, {TYPE_LIT_WORD, "self"}, {TYPE_WORD, "cx-field"}});
    context::bind(body, ctx, true);
    EXPECT_EQ(item(body, 0)->data1, ctx);
    EXPECT_EQ(int32_t(item(body, 0)->data3), -1);
    EXPECT_EQ(item(body, 1)->data1, 0u);
    EXPECT_EQ(item(body, 2)->data1, 0u);
    EXPECT_EQ(item(body, 3)->data1, ctx);
    cell self = *item(body, 0);
    EXPECT_EQ(word::get(&self)->data2, 77u);
}

TEST_F(Context, ObjectFieldsRecordTheirFirstStore)
{
    cell* s = spec({{TYPE_WORD, "cx-f1"}, {TYPE_WORD, "cx-f2"}});
    node_ref ctx = keep(context::make(s, false, true, CONTEXT_OBJECT));
    cell w{TYPE_WORD, ctx, symbol::make("cx-f2"), uint32_t(-1)};
    cell v = integer(3);
    context::set_in(&w, &v, ctx, true);
    EXPECT_EQ(w.data3, 1u);
    EXPECT_TRUE(context::set_flag_q(ctx, 1));
    EXPECT_FALSE(context::set_flag_q(ctx, 0));
    // A word not yet in the context is added by setting it.
    cell fresh{TYPE_WORD, ctx, symbol::make("cx-f3"), uint32_t(-1)};
    context::set_in(&fresh, &v, ctx, true);
    EXPECT_EQ(context::word_count(ctx), 3u);
    EXPECT_EQ(context::get_value_at(ctx, 2)->data2, 3u);
}

// The hook runs the owner's handler, whose evaluation allocates: the owner and the new value it
// is handed must still read right afterwards, though the context's buffers moved.
TEST_F(Context, OnSetHookReadsItsCellsAfterAllocating)
{
    static cell seen_owner, seen_old, seen_new;
    cell* doomed = block::make_at(stack::push_slot(), 64);
    node_ref ctx = keep(context::make(spec({{TYPE_WORD, "cx-h1"}}), false, true, CONTEXT_OBJECT));
    node_ref handlers = bytes_alloc(16);
    const cell owner{TYPE_OBJECT, ctx, 0, handlers};
    *context::owner_of(ctx) = owner;
    *doomed = none_value;   // below the context's buffers: the next collection slides them down
    auto saved = context::fire_on_set_hook;
    context::fire_on_set_hook = [](cell* owner, cell*, cell* old_value, cell* new_value) {
        bytes_alloc(16);
        seen_owner = *owner;
        seen_old = *old_value;
        seen_new = *new_value;
    };
    cell w{TYPE_WORD, ctx, symbol::make("cx-h1"), uint32_t(-1)};
    cell v = integer(5);
    context::set_in(&w, &v, ctx, true);
    context::fire_on_set_hook = saved;
    EXPECT_EQ(std::memcmp(&seen_owner, &owner, sizeof owner), 0);
    EXPECT_EQ(cell_type(&seen_old), uint32_t(TYPE_UNSET));
    EXPECT_EQ(cell_type(&seen_new), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(seen_new.data2, 5u);
}

TEST_F(Context, CollectSetWordsAndClone)
{
    node_ref ctx = keep(context::create(0, false, true, 0, CONTEXT_OBJECT));
    cell* body = spec({{TYPE_SET_WORD, "cx-s1"}, {TYPE_WORD, "cx-w"}, {TYPE_SET_WORD, "cx-s2"}, {TYPE_SET_WORD, "CX-S1"}});
    EXPECT_TRUE(context::collect_set_words(ctx, body));
    EXPECT_FALSE(context::collect_set_words(ctx, body));
    EXPECT_EQ(context::word_count(ctx), 2u);
    cell entry = context::word_at(ctx, 1);
    cell* w = stack::push(&entry);
    node_ref copy = keep(context::clone(w, CONTEXT_OBJECT));
    EXPECT_EQ(w->data1, copy);
    EXPECT_EQ(context::word_count(copy), 2u);
    EXPECT_EQ(context::word_at(copy, 0).data1, copy);
    EXPECT_EQ(context::word_at(ctx, 0).data1, ctx);
    context::add_word(copy, symbol::make("cx-only-in-copy"));
    EXPECT_EQ(context::find_word(ctx, symbol::make("cx-only-in-copy"), true), -1);
}

TEST_F(Context, ContextSlots)
{
    cell* base = stack::push_slot();   // the window's result cell
    node_ref object = context::make(read("cl-a cl-b"), false, true, CONTEXT_OBJECT);
    gc_root keep_object(object);

    // An object slot takes even unset, and its word is flagged as set.
    stack::push(&unset_value);
    object_set_slot(object, 1);
    EXPECT_EQ(stack::top(), base + 1);
    EXPECT_TRUE(context::set_flag_q(object, 1));
    EXPECT_FALSE(context::set_flag_q(object, 0));

    stack::push(&unset_value);
    EXPECT_EQ(error_of([&] { context_set_slot(object, 0); }), code(ERR_SCRIPT, err::NEED_VALUE));
    EXPECT_EQ(named_word(), "cl-a");
    stack::pop(1);
    cell seven = integer(7), eight = integer(8);
    cell* top = stack::push(&seven) + 1;
    context_set_local(object, 0);
    EXPECT_EQ(stack::top(), top);
    stack::push(&eight);
    context_set_slot(object, 1);
    EXPECT_EQ(stack::top(), base + 1);
    EXPECT_EQ(context_get_slot(object, 0)->data2, 7u);
    EXPECT_EQ(context_get_slot(object, 1)->data2, 8u);
    EXPECT_FALSE(context::set_flag_q(object, 0)) << "only object_set_slot flags";

    // Never a read past the values.
    EXPECT_EQ(error_of([&] { context_get_slot(object, 2); }), code(ERR_SCRIPT, err::NOT_DEFINED));
    stack::push(&eight);
    EXPECT_EQ(error_of([&] { object_set_slot(object, 9); }), code(ERR_SCRIPT, err::NOT_DEFINED));

    // A function that is not running has no values to read.
    node_ref function = context::make(read("cl-x"), true, false, CONTEXT_FUNCTION);
    gc_root keep_function(function);
    EXPECT_EQ(error_of([&] { context_get_slot(function, 0); }), code(ERR_SCRIPT, err::NOT_DEFINED));
    EXPECT_EQ(named_word(), "cl-x");
}

}  // namespace
