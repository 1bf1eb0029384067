// Cell routines, the cycle stack and the mold cycle markers.
#include "datatypes/values.h"

#include <cmath>
#include <stdexcept>

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/rtwords.h"

namespace {

using namespace tv;
using Cells = Values;

constexpr uint32_t NEED_VALUE = code(ERR_SCRIPT, err::NEED_VALUE);
constexpr uint32_t NO_VALUE = code(ERR_SCRIPT, err::NO_VALUE);
constexpr uint32_t NOT_DEFINED = code(ERR_SCRIPT, err::NOT_DEFINED);

// The name of the word an error names (its first argument).
std::string named_word()
{
    cell w = raised_error_get().args[0];
    return word::any_word_q(cell_type(&w)) ? form(&w) : "(not a word)";
}

TEST_F(Cells, BytesRepeat)
{
    struct row {
        int32_t size, count;
        int32_t filled;   // bytes holding the pattern afterwards
    };
    const row rows[] = {{3, 5, 15}, {3, 1, 3}, {1, 8, 8}, {4, 4, 16}, {0, 5, 0}, {-2, 5, 0}};
    for (const row& r : rows) {
        uint8_t buffer[32];
        std::memset(buffer, 0xEE, sizeof buffer);
        for (int32_t i = 0; i < std::max(r.size, 0); i++) buffer[i] = uint8_t('a' + i);
        uint8_t* end = bytes_repeat(buffer, r.size, r.count);
        EXPECT_EQ(end, buffer + std::max(r.size, 0) * (r.size > 0 ? r.count : 0)) << r.size << " x " << r.count;
        for (int32_t i = 0; i < r.filled; i++) ASSERT_EQ(buffer[i], 'a' + i % r.size) << r.size << " x " << r.count;
        EXPECT_EQ(buffer[std::max(r.filled, std::max(r.size, 0))], 0xEE) << "wrote past " << r.size << " x " << r.count;
    }
}

TEST_F(Cells, IntCheckRange)
{
    auto flt = [](double d) {
        cell c{TYPE_FLOAT, 0, 0, 0};
        cell_set_float(&c, d);
        return c;
    };
    struct row {
        cell value;
        int32_t expected;
        bool out_of_range;
    };
    const row rows[] = {
        {flt(2147483647.0), 2147483647, false}, {flt(-2147483648.0), INT32_MIN, false},
        {flt(-2.9), -2, false},                 {flt(2.9), 2, false},
        {flt(2147483648.0), 0, true},           {flt(-2147483649.0), 0, true},
        {flt(std::nan("")), 0, true},           {flt(INFINITY), 0, true},
        {integer(-7), -7, false},
    };
    for (const row& r : rows) {
        cell v = r.value;
        if (r.out_of_range) {
            EXPECT_EQ(error_of([&] { int_check_range(&v); }), code(ERR_SCRIPT, err::OUT_OF_RANGE)) << cell_float(&v);
            EXPECT_EQ(raised_error_get().args[0].header, uint32_t(TYPE_FLOAT));
        } else {
            EXPECT_EQ(int_check_range(&v), r.expected);
        }
    }
}

TEST_F(Cells, CycleStackHoldsAtMost999)
{
    for (uint32_t i = 1; i <= 999; i++) cycle_push(i * 4);
    EXPECT_TRUE(cycle_find(4));
    EXPECT_TRUE(cycle_find(999 * 4));
    EXPECT_FALSE(cycle_find(1000 * 4));
    EXPECT_EQ(error_of([] { cycle_push(1000 * 4); }), code(ERR_INTERNAL, err::TOO_DEEP));
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_FALSE(cycle_find(4));
    cycle_pop();   // on an empty stack: nothing
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(Cells, CycleScopeUndoesItsPushWhenUnwound)
{
    cycle_push(8);
    try {
        cycle_scope a(12);
        cycle_scope b(16);
        cycle_push(20);   // a push made without a scope inside the walk goes too
        throw std::runtime_error("unwind");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(cycle_depth(), 1u);
    EXPECT_TRUE(cycle_find(8));
    EXPECT_FALSE(cycle_find(12));
    cycle_drop(1);
}

TEST_F(Cells, MoldCycleMarkers)
{
    struct row {
        uint32_t type;
        const char* mold;
    };
    const row rows[] = {
        {TYPE_BLOCK, "[...]"}, {TYPE_HASH, "[...]"}, {TYPE_PAREN, "(...)"}, {TYPE_MAP, "#[...]"},
        {TYPE_OBJECT, "make object! [...]"}, {TYPE_PATH, "..."}, {TYPE_SET_PATH, "..."},
    };
    const node_ref node = 44;
    for (const row& r : rows) {
        // An object names its context in word 1; the series kinds their node in word 2.
        cell value = r.type == TYPE_OBJECT ? cell{r.type, node, 0, 0} : cell{r.type, 0, node, 0};
        for (bool molding : {true, false}) {
            cell* buffer = new_buffer();
            int32_t budget = 4;
            EXPECT_FALSE(mold_cycle_check(&value, buffer, &budget, molding));
            cycle_scope inside(node);
            EXPECT_TRUE(mold_cycle_check(&value, buffer, &budget, molding));
            std::string expected = molding ? r.mold : "...";
            EXPECT_EQ(string::to_utf8(buffer), expected);
            EXPECT_EQ(budget, 4 - int32_t(expected.size()));
        }
    }
}

TEST_F(Cells, RefinementsNone)
{
    cell* base = stack::push(&unset_value);
    stack::push(&unset_value);
    stack::push(&unset_value);
    stack::push(&unset_value);
    refinements_none(&false_value, 1, 2);
    EXPECT_EQ(cell_type(base + 2), uint32_t(TYPE_NONE));
    EXPECT_EQ(cell_type(base + 3), uint32_t(TYPE_NONE));
    refinements_none(&true_value, 1, 2);
    EXPECT_EQ(base[1].data1, 1u);
}

TEST_F(Cells, MoldIndent)
{
    cell* buffer = new_buffer();
    EXPECT_EQ(mold_indent(buffer, 2, 10), 2);
    EXPECT_EQ(string::to_utf8(buffer), "        ");
}

// Words: the value comes from the stack top; word_set empties the window, from_stack does not.
TEST_F(Cells, WordSetAndGetChecked)
{
    cell w = word_of("cl-target");
    cell* base = stack::push_slot();
    stack::push(&unset_value);
    EXPECT_EQ(error_of([&] { word_set(&w); }), NEED_VALUE);
    EXPECT_EQ(named_word(), "cl-target");
    EXPECT_EQ(error_of([&] { word_get_checked(&w); }), NO_VALUE) << "the refused set stored nothing";
    EXPECT_EQ(named_word(), "cl-target");

    cell seven = num(7);
    cell* top = stack::push(&seven) + 1;
    word_set_from_stack(&w);
    EXPECT_EQ(stack::top(), top);
    EXPECT_EQ(word_get_checked(&w)->data2, 7u);
    cell eight = num(8);
    stack::push(&eight);
    word_set(&w);
    EXPECT_EQ(stack::top(), base + 1) << "only the result cell is left";
    EXPECT_EQ(word_get_checked(word::load("cl-target"))->data2, 8u) << "the same global slot by name";

    cell loose = word_of("cl-loose", TYPE_REFINEMENT);
    loose.data1 = 0;   // a refinement made for a spec is bound to no context
    stack::push(&eight);
    EXPECT_EQ(error_of([&] { word_set(&loose); }), NOT_DEFINED);
}

TEST_F(Cells, ContextSlots)
{
    cell* base = stack::push_slot();   // the window's result cell
    node_ref object = context::make(read("cl-a cl-b"), false, true, CONTEXT_OBJECT);
    gc_root keep_object(object);

    // An object slot takes even unset, and its word is flagged as set.
    stack::push(&unset_value);
    object_set_slot(object, 1);
    EXPECT_EQ(stack::top(), base + 1);
    EXPECT_TRUE(context::get_word(object, 1)->header & WORD_ENTRY_SET);
    EXPECT_FALSE(context::get_word(object, 0)->header & WORD_ENTRY_SET);

    stack::push(&unset_value);
    EXPECT_EQ(error_of([&] { context_set_slot(object, 0); }), NEED_VALUE);
    EXPECT_EQ(named_word(), "cl-a");
    stack::pop(1);
    cell seven = num(7), eight = num(8);
    cell* top = stack::push(&seven) + 1;
    context_set_local(object, 0);
    EXPECT_EQ(stack::top(), top);
    stack::push(&eight);
    context_set_slot(object, 1);
    EXPECT_EQ(stack::top(), base + 1);
    EXPECT_EQ(context_get_slot(object, 0)->data2, 7u);
    EXPECT_EQ(context_get_slot(object, 1)->data2, 8u);
    EXPECT_FALSE(context::get_word(object, 0)->header & WORD_ENTRY_SET) << "only object_set_slot flags";

    // Never a read past the values.
    EXPECT_EQ(error_of([&] { context_get_slot(object, 2); }), NOT_DEFINED);
    stack::push(&eight);
    EXPECT_EQ(error_of([&] { object_set_slot(object, 9); }), NOT_DEFINED);

    // A function that is not running has no values to read.
    node_ref function = context::make(read("cl-x"), true, false, CONTEXT_FUNCTION);
    gc_root keep_function(function);
    EXPECT_EQ(error_of([&] { context_get_slot(function, 0); }), NOT_DEFINED);
    EXPECT_EQ(named_word(), "cl-x");
}

// The vocabulary is made at start-up. Its words and refinements are root-block cells, which never
// move, so holding their addresses for the process's life is safe.
TEST_F(Cells, RuntimeVocabulary)
{
    auto in_root_block = [](const cell* c) {
        return c >= block::rs_head(&root_block) && c < block::rs_tail(&root_block);
    };
    struct row {
        rt_word which;
        const char* name;
    };
    const row words[] = {
        {W_WINDOWS, "Windows"}, {W_PIPE, "|"}, {W_END, "end"}, {W_AT, "at"}, {W_PUT_ED, "put-ed"},
        {W_SWAPED, "swaped"}, {W_ON_DEEP_CHANGE_STAR, "on-deep-change*"}, {W_ANON_TAG, "<anon>"},
        {W_THROW, "throw"}, {W_APPLIED_TAG, "<applied>"},
    };
    for (const row& r : words) {
        const cell* w = rt_word_cell(r.which);
        EXPECT_EQ(cell_type(w), uint32_t(TYPE_WORD)) << r.name;
        EXPECT_EQ(w->data1, contexts.global) << r.name;
        EXPECT_TRUE(in_root_block(w)) << r.name;
        cell copy = *w;
        EXPECT_EQ(form(&copy), r.name);
    }
    // Words made from the vocabulary's symbols carry those very ids.
    EXPECT_EQ(rt_word_cell(W_TO)->data2, rt_symbol_id(SYM_TO));
    EXPECT_EQ(rt_word_cell(W_MACOS)->data2, rt_symbol_id(SYM_MACOS));
    EXPECT_EQ(rt_symbol_id(SYM_SPEC), symbol::make("spec"));
    EXPECT_EQ(rt_symbol_id(SYM_NO_TRACE), symbol::make("no-trace"));
    EXPECT_EQ(rt_symbol_id(SYM_CODE), symbol::make("code"));

    // A value stored through a vocabulary word is found by name.
    cell browse = *rt_word_cell(W_BROWSE);
    cell five = num(5);
    word::set(&browse, &five);
    EXPECT_EQ(word::get(word::load("browse"))->data2, 5u);
    word::set(&browse, &unset_value);

    const char* refinements[] = {"local", "extern", "compare", "part", "skip", "with"};
    for (uint32_t r = 0; r < REF_COUNT; r++) {
        const cell* ref = rt_refinement_word(rt_refinement(r));
        EXPECT_EQ(cell_type(ref), uint32_t(TYPE_REFINEMENT)) << refinements[r];
        EXPECT_EQ(ref->data1, 0u) << "bound to no context";
        EXPECT_TRUE(in_root_block(ref));
        cell copy = *ref;
        EXPECT_EQ(mold(&copy), std::string("/") + refinements[r]);
    }
}

}  // namespace
