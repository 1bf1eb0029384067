// typeset!: making, membership, set arithmetic, comparison, text; and triple!'s text.
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/typeset.h"
#include "support/values.h"

namespace {

using namespace tv;
using Typeset = Values;

cell dt(uint32_t id) { return datatype::value_of(id); }

// make typeset! from a block of the given values, pushed on the stack.
cell made(std::initializer_list<cell> values)
{
    cell* spec = block::push_only_star(4);
    for (const cell& v : values) block::rs_append(spec, &v);
    return *typeset::make(nullptr, spec, TYPE_TYPESET);
}

cell members(std::initializer_list<uint32_t> ids)
{
    cell ts{TYPE_TYPESET, 0, 0, 0};
    for (uint32_t id : ids) typeset::add(&ts, id);
    return ts;
}

TEST_F(Typeset, MakeFromDatatypesTypesetsAndWords)
{
    cell numbers = made({dt(TYPE_FLOAT), dt(TYPE_INTEGER)});
    EXPECT_EQ(test::mold(numbers), "make typeset! [integer! float!]") << "members in id order";
    EXPECT_EQ(test::form(numbers), "make typeset! [integer! float!]");
    EXPECT_EQ(mold(&numbers, true), "integer! float!") << "mold/only";
    EXPECT_EQ(test::mold(made({})), "make typeset! []");
    cell nothing = made({});
    EXPECT_EQ(mold(&nothing, true), "");
    cell named = word_of("h12-numbers!");
    word::set(&named, &numbers);
    cell with_word = made({named, dt(TYPE_BLOCK)});
    EXPECT_EQ(test::mold(with_word), "make typeset! [block! integer! float!]") << "a word's typeset merges";
    cell five = test::integer(5), text = *new_buffer();
    EXPECT_EQ(error_of([&] { made({dt(TYPE_INTEGER), five}); }), code(ERR_SCRIPT, err::INVALID_ARG));
    EXPECT_EQ(error_of([&] { typeset::make(nullptr, &text, TYPE_TYPESET); }), code(ERR_SCRIPT, err::BAD_TO_ARG));
    EXPECT_EQ(typeset::make(nullptr, &numbers, TYPE_TYPESET), &numbers) << "a typeset is its own make";
}

TEST_F(Typeset, FindTestsOneBit)
{
    cell integers = members({TYPE_INTEGER});
    cell integer_type = dt(TYPE_INTEGER), float_type = dt(TYPE_FLOAT), five = test::integer(5);
    EXPECT_EQ(typeset::find(&integers, &integer_type, nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), &true_value);
    EXPECT_EQ(typeset::find(&integers, &float_type, nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0), &false_value);
    EXPECT_EQ(error_of([&] { typeset::find(&integers, &five, nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0); }),
              code(ERR_SCRIPT, err::INVALID_ARG));
}

TEST_F(Typeset, ComplementAndTheTypeOfAnyParameter)
{
    cell empty = members({});
    cell all = *typeset::complement(&empty);
    for (uint32_t id = 1; id <= datatype_s.max_type; id++) EXPECT_TRUE(typeset::has(&all, id)) << id;
    std::string text = test::form(all);
    EXPECT_EQ(text.rfind("make typeset! [datatype! unset! none! logic! block! ", 0), 0u) << text;
    cell any = *typeset::make_all(block::push_only_star(1));
    EXPECT_FALSE(typeset::has(&any, TYPE_UNSET));
    EXPECT_TRUE(typeset::has(&any, TYPE_NONE));
    EXPECT_NE(test::compare(all, any, COMP_EQUAL), 0);
}

TEST_F(Typeset, Compare)
{
    cell a = members({TYPE_INTEGER, TYPE_FLOAT}), b = members({TYPE_FLOAT, TYPE_INTEGER}),
         one = members({TYPE_BLOCK}), none = none_value;
    for (int32_t op : {COMP_EQUAL, COMP_STRICT_EQUAL, COMP_SAME, COMP_FIND}) EXPECT_EQ(test::compare(a, b, op), 0) << op;
    EXPECT_EQ(test::compare(a, one, COMP_EQUAL), 1);
    EXPECT_EQ(test::compare(one, a, COMP_SORT), -1) << "sorted by member count";
    EXPECT_EQ(test::compare(a, one, COMP_CASE_SORT), 1);
    EXPECT_EQ(test::compare(a, one, COMP_LESSER), -2) << "< between typesets is an error";
    EXPECT_EQ(test::compare(a, none, COMP_EQUAL), -2);
}

TEST_F(Typeset, SetArithmetic)
{
    struct row { const char* name; cell right; uint32_t code; std::initializer_list<uint32_t> want; };
    const row rows[] = {
        {"union with a datatype", dt(TYPE_BLOCK), MATH_UNION, {TYPE_BLOCK, TYPE_INTEGER, TYPE_FLOAT}},
        {"exclude a datatype", dt(TYPE_FLOAT), MATH_EXCLUDE, {TYPE_INTEGER}},
        {"unique", none_value, MATH_UNIQUE, {TYPE_INTEGER, TYPE_FLOAT}},
        {"and", members({TYPE_FLOAT, TYPE_BLOCK}), MATH_AND, {TYPE_FLOAT}},
        {"or", members({TYPE_BLOCK}), MATH_OR, {TYPE_BLOCK, TYPE_INTEGER, TYPE_FLOAT}},
        {"xor", members({TYPE_FLOAT, TYPE_BLOCK}), MATH_XOR, {TYPE_BLOCK, TYPE_INTEGER}},
        {"difference", members({TYPE_FLOAT}), MATH_DIFFERENCE, {TYPE_INTEGER}},
        {"intersect", members({TYPE_FLOAT}), MATH_INTERSECT, {TYPE_FLOAT}},
    };
    for (const row& r : rows) {
        cell both = members({TYPE_INTEGER, TYPE_FLOAT});
        cell* left = stack::push(&both);
        cell* right = stack::push(&r.right);
        typeset::do_bitwise(left, right, r.code);
        EXPECT_EQ(test::mold(*left), test::mold(members(r.want))) << r.name;
    }
    cell left = members({}), none = none_value;
    EXPECT_EQ(error_of([&] { typeset::do_bitwise(&left, &none, MATH_UNION); }), code(ERR_SCRIPT, err::INVALID_ARG));
}

TEST_F(Typeset, ParameterTypeLists)
{
    // A word whose value is a word, one whose value is a typeset, a datatype and a nested block.
    cell word_valued = word_of("h12-word-valued"), target = word_of("anything");
    word::set(&word_valued, &target);
    cell typeset_valued = word_of("h12-typeset-valued"), numbers_only = members({TYPE_INTEGER});
    word::set(&typeset_valued, &numbers_only);
    cell* list = block::push_only_star(4);
    cell inner = *read("[inner]"), block_type = dt(TYPE_BLOCK);
    for (const cell* v : {&block_type, &inner, &word_valued, &typeset_valued}) block::rs_append(list, v);
    cell ts = *typeset::from_block(block::push_only_star(1), list);
    EXPECT_EQ(test::mold(members({TYPE_BLOCK, TYPE_INTEGER, TYPE_OBJECT})), test::mold(ts));
    EXPECT_TRUE(typeset::has(&ts, TYPE_OBJECT)) << "a word whose value is a word";
    EXPECT_EQ(typeset::count(&ts), 3u);
    cell* bad = read("\"x\"");
    EXPECT_EQ(error_of([&] { typeset::from_block(block::push_only_star(1), bad); }),
              code(ERR_SCRIPT, err::INVALID_TYPE_SPEC));
    cell numbers = members({TYPE_FLOAT, TYPE_INTEGER});
    cell* blk = block::to(nullptr, &numbers, TYPE_BLOCK);
    EXPECT_EQ(mold(blk), "[integer! float!]");
    EXPECT_EQ(cell_type(block::rs_head(blk)), uint32_t(TYPE_WORD));
}

TEST_F(Typeset, PartStopsWritingOnceTheBudgetIsSpent)
{
    cell ts = members({TYPE_INTEGER, TYPE_FLOAT, TYPE_BLOCK});
    cell* value = stack::push(&ts);
    cell* buffer = new_buffer();
    cell limit = test::integer(20);
    cell* arg = stack::push(&limit);
    int32_t left = typeset::form(value, buffer, arg, 20);
    EXPECT_EQ(string::utf8_copy(buffer), "make typeset! [block! ");
    EXPECT_EQ(left, 20 - 22);
}

TEST(Triple, FormAndMoldAreTheMakeThatBuildsIt)
{
    cell* mark = stack::top();
    struct row { int32_t a, b, c; const char* text; };
    const row rows[] = {{1, -2, 3, "make triple! [1 -2 3]"},
                        {INT32_MIN, INT32_MAX, 0, "make triple! [-2147483648 2147483647 0]"}};
    for (const row& r : rows) {
        cell* t = triple::push(r.a, r.b, r.c);
        EXPECT_EQ(test::form(*t), r.text);
        EXPECT_EQ(test::mold(*t), r.text);
        cell* buffer = string::make_at(stack::push_slot(), 16, 1);
        EXPECT_EQ(triple::form(t, buffer, nullptr, 100), 100 - int32_t(std::strlen(r.text)));
    }
    EXPECT_EQ(actions_of(TYPE_TRIPLE).make, nullptr);
    EXPECT_EQ(actions_of(TYPE_TRIPLE).compare, nullptr);
    stack_s.top = mark;
}

}  // namespace
