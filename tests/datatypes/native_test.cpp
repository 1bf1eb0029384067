// native!, action! and op!: making from a spec block and a filled slot (and what is refused), the
// argument context, reflection, form, mold and compare, and op! from any two-argument callable.
#include "datatypes/callables.h"

#include <climits>

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/symbol.h"

namespace {

using namespace tv;
using Native = Callables;

constexpr uint32_t BAD_MAKE_ARG = code(ERR_SCRIPT, err::BAD_MAKE_ARG);
constexpr uint32_t BAD_OP_SPEC = code(ERR_SCRIPT, err::BAD_OP_SPEC);
constexpr uint32_t INVALID_TYPE = code(ERR_SCRIPT, err::INVALID_TYPE);
constexpr uint32_t NOT_DONE = code(ERR_INTERNAL, err::NOT_DONE);
constexpr int32_t NO_SLOT = INT_MIN;   // the make block holds no integer after the spec values

TEST_F(Native, MakeRefusesABlockThatNamesNoRoutine)
{
    struct row {
        uint32_t type;
        const char* values;   // what the make block holds before the slot
        int32_t slot;
    };
    const row rows[] = {
        {TYPE_NATIVE, "[a]", 121}, {TYPE_NATIVE, "[a]", 0}, {TYPE_NATIVE, "[a]", -1},
        {TYPE_ACTION, "[a]", 63},  {TYPE_ACTION, "[a]", 0},
        {TYPE_NATIVE, "[a]", 3},     // in range, but no routine in the slot
        {TYPE_ACTION, "[a]", 1},
        {TYPE_NATIVE, "a", 1},       // the spec is not a block
        {TYPE_NATIVE, "[a] x", NO_SLOT},
        {TYPE_NATIVE, "[a]", NO_SLOT},
        {TYPE_NATIVE, "", 1},
    };
    for (const row& r : rows) {
        cell* blk = read(r.values);
        if (r.slot != NO_SLOT) {
            cell n = integer(r.slot);
            block::rs_append(blk, &n);
        }
        cell proto{TYPE_DATATYPE, r.type, 0, 0};
        EXPECT_EQ(error_of([&] { native::make(&proto, blk, r.type); }), BAD_MAKE_ARG)
            << datatype_s.types[r.type].name << " " << r.values << " " << r.slot;
    }
    // Three values, and a make argument that is not a block at all.
    cell* three = read("[a]");
    cell one = integer(1);
    block::rs_append(three, &one);
    block::rs_append(three, &one);
    cell proto{TYPE_DATATYPE, TYPE_NATIVE, 0, 0};
    EXPECT_EQ(error_of([&] { native::make(&proto, three, TYPE_NATIVE); }), BAD_MAKE_ARG);
    EXPECT_EQ(error_of([&] { native::make(&proto, &one, TYPE_NATIVE); }), BAD_MAKE_ARG);
}

// The natives table fills in slot order, and a native! can be made exactly for the filled slots.
TEST_F(Native, TableFillsInSlotOrder)
{
    std::memset(&natives_s.table, 0, sizeof natives_s.table);
    natives_s.next = 119;
    const native_fn two[] = {stand_in_native, stand_in_native};
    natives::register_(2, two);
    EXPECT_EQ(natives::entry(118), nullptr);
    EXPECT_EQ(natives::entry(119), stand_in_native);
    EXPECT_EQ(natives::entry(120), stand_in_native);
    EXPECT_EQ(natives::entry(0), nullptr);
    EXPECT_EQ(natives::entry(121), nullptr);
    EXPECT_EQ(error_of([&] { natives::register_(1, two); }), code(ERR_INTERNAL, err::LIMIT_HIT)) << "a 121st native";
    EXPECT_EQ(error_of([&] { make_builtin(TYPE_NATIVE, "a", 118); }), BAD_MAKE_ARG);
    EXPECT_EQ(make_builtin(TYPE_NATIVE, "a", 119)->data1, 119u);
}

TEST_F(Native, MakeSharesTheSpecAndBuildsTheArgumentContext)
{
    cell* n = make_builtin(TYPE_NATIVE, "a [integer!] /only b", 120);
    EXPECT_EQ(n->header, uint32_t(TYPE_NATIVE));
    EXPECT_EQ(n->data1, 120u);
    collector::do_cycle();
    ASSERT_TRUE(memory_check_links());

    cell more{TYPE_BLOCK, 0, n->data3, 0};
    ASSERT_EQ(block::rs_length(&more), 2u);
    cell ctx_value = block::rs_head(&more)[native::MORE_CONTEXT];
    EXPECT_EQ(cell_type(&ctx_value), uint32_t(TYPE_CONTEXT));
    node_ref ctx = ctx_value.data3;
    EXPECT_EQ(context::kind_of(ctx), uint32_t(CONTEXT_FUNCTION));
    EXPECT_TRUE(context::on_stack(ctx));
    EXPECT_EQ(context::word_count(ctx), 3u);
    EXPECT_EQ(context::find_word(ctx, symbol::make("b"), true), 2);
    EXPECT_EQ(cell_type(&block::rs_head(&more)[native::MORE_CACHE]), uint32_t(TYPE_NONE));

    // spec-of is the very series: a change through it is a change of the native's spec.
    cell spec = *reflected(n, "spec");
    EXPECT_EQ(spec.data2, n->data2);
    cell extra = word_of("c");
    block::rs_append(&spec, &extra);
    EXPECT_EQ(mold(n), "make native! [[a [integer!] /only b c]]");
}

// A spec given past its first value: the native keeps it from there, as its context reads it.
TEST_F(Native, SpecFromItsHead)
{
    cell* blk = read("[skipped a b]");
    block::rs_head(blk)->data1 = 1;
    cell n = integer(2);
    block::rs_append(blk, &n);
    cell proto{TYPE_DATATYPE, TYPE_NATIVE, 0, 0};
    cell* made = native::make(&proto, blk, TYPE_NATIVE);
    EXPECT_EQ(mold(made), "make native! [[a b]]");
    cell more{TYPE_BLOCK, 0, made->data3, 0};
    EXPECT_EQ(context::word_count(block::rs_head(&more)->data3), 2u);
}

TEST_F(Native, FormMoldAndReflectOfEachKind)
{
    cell* fn = make_func("a b", "a + b");
    cell* add = make_builtin(TYPE_ACTION, "value1 value2", 11);
    struct row {
        cell value;
        const char* formed;
        const char* molded;
        int32_t body_slot;   // reflect body: the slot, or 0 for a function's body
    };
    const row rows[] = {
        {*make_builtin(TYPE_NATIVE, "cond then-blk", 1), "?native?", "make native! [[cond then-blk]]", 1},
        {*add, "?action?", "make action! [[value1 value2]]", 11},
        {*make_op(add), "?op?", "make op! [[value1 value2]]", 11},
        {*make_op(fn), "?op?", "make op! func [a b][a + b]", 0},
        {*fn, "?function?", "func [a b][a + b]", 0},
    };
    for (const row& r : rows) {
        cell* v = stack::push(&r.value);
        cell* buffer = new_buffer();
        int32_t left = actions_of(cell_type(v)).form(v, buffer, nullptr, 100);
        EXPECT_EQ(string::utf8_copy(buffer), r.formed);
        EXPECT_EQ(left, 100 - int32_t(std::strlen(r.formed))) << r.formed;
        EXPECT_EQ(mold(v), r.molded);
        cell body = *reflected(v, "body");
        if (r.body_slot) {
            EXPECT_EQ(body.header, uint32_t(TYPE_INTEGER)) << r.molded;
            EXPECT_EQ(int32_t(body.data2), r.body_slot) << r.molded;
        } else {
            EXPECT_EQ(test::mold(body), "[a + b]") << r.molded;
        }
        if (cell_type(v) != TYPE_FUNCTION) {
            EXPECT_EQ(error_of([&] { reflected(v, "words"); }), NOT_DONE) << r.molded;
        }
    }
}

TEST_F(Native, CompareBySlotWithinOneType)
{
    cell first = *make_builtin(TYPE_NATIVE, "a", 1);
    cell again = *make_builtin(TYPE_NATIVE, "a", 1);
    cell second = *make_builtin(TYPE_NATIVE, "a", 2);
    cell add = *make_builtin(TYPE_ACTION, "a b", 11);
    cell subtract = *make_builtin(TYPE_ACTION, "a b", 18);
    cell add_op = *make_op(&add);
    struct row {
        cell a, b;
        int32_t op;
        int32_t expected;
    };
    const row rows[] = {
        {first, again, COMP_EQUAL, 0},       {first, second, COMP_EQUAL, -1},
        {second, first, COMP_SORT, 1},       {first, again, COMP_SAME, 0},
        {add, subtract, COMP_STRICT_EQUAL, -1},
        {first, add, COMP_EQUAL, -2},        // a native! never equals an action!
        {add, add_op, COMP_EQUAL, -2},       {add_op, add_op, COMP_FIND, 0},
        {first, second, COMP_LESSER, -2},    // no order beyond equality and sorting
    };
    for (const row& r : rows)
        EXPECT_EQ(test::compare(r.a, r.b, r.op), r.expected)
            << datatype_s.types[cell_type(&r.a)].name << " " << r.a.data1 << " op " << r.op << " "
            << datatype_s.types[cell_type(&r.b)].name << " " << r.b.data1;
}

TEST_F(Native, OpNeedsExactlyTwoArguments)
{
    struct row {
        const char* spec;
        bool accepted;
    };
    const row rows[] = {
        {"a b", true},           {"a [integer!] \"doc\" b", true}, {"a b /local c", true},
        {"a b return: [integer!]", true}, {"a :b", true},           {"a 'b", true},
        {"a b /ref", false},     {"a", false},                      {"a b c", false},
        {":a b", false},         {"/local a b", false},            {"", false},
    };
    for (const row& r : rows) {
        EXPECT_EQ(op::two_args_q(read(r.spec)), r.accepted) << r.spec;
        cell* fn = make_func(r.spec, "");
        EXPECT_EQ(error_of([&] { make_op(fn); }), r.accepted ? 0 : BAD_OP_SPEC) << r.spec;
    }
    cell* blk = read("a b");
    EXPECT_EQ(error_of([&] { make_op(blk); }), INVALID_TYPE);
    cell* add = make_builtin(TYPE_ACTION, "a b", 11);
    cell* add_op = make_op(add);
    EXPECT_EQ(error_of([&] { make_op(add_op); }), INVALID_TYPE) << "an op! of an op!";
}

TEST_F(Native, OpOfAFunctionIsKeptInTheFunctionsMoreBlock)
{
    cell* fn = make_func("a b", "a * b");
    fn->header |= HEADER_NEW_LINE;
    cell* times = make_op(fn);
    EXPECT_EQ(times->header, uint32_t(TYPE_FUNCTION << op::WRAPPED_SHIFT | TYPE_OP)) << "no new-line bit";
    EXPECT_EQ(times->data1, fn->data1);
    EXPECT_EQ(times->data3, fn->data3);
    cell more{TYPE_BLOCK, 0, fn->data3, 0};
    cell kept = block::rs_head(&more)[function::MORE_OP];
    EXPECT_EQ(cell_type(&kept), uint32_t(TYPE_FUNCTION));
    EXPECT_EQ(kept.data3, fn->data3);

    // With only the op! left, the function and its context live on.
    cell only_op = *times;
    stack_s.top = stack_s.arguments;
    cell* held = stack::push(&only_op);
    collector::do_cycle();
    ASSERT_TRUE(memory_check_links());
    EXPECT_EQ(mold(held), "make op! func [a b][a * b]");
    EXPECT_EQ(context::find_word(held->data1, symbol::make("b"), true), 1);
}

}  // namespace
