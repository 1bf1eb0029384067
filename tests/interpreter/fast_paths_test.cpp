// The fast paths that compiled code calls for arithmetic, comparison, pick and the block position
// actions: for every operand pair each must give what the generic action entry gives (or raise
// the same error), leave exactly its result on the stack and no frame behind.
#include <string>
#include <vector>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interpreter.h"
#include "support/outcome.h"
#include "support/values.h"

namespace {

using namespace tv;

class FastPaths : public Values {
protected:
    // The mold of what f pushes, or "error <code>"; the stacks and frames are checked around it.
    template <class F>
    std::string outcome(F&& f)
    {
        cell* top = stack_s.top;
        return test::outcome_of([&] {
            cell* pushed = f();
            EXPECT_EQ(stack_s.top, top + 1) << "one result pushed";
            EXPECT_EQ(pushed, top);
            return mold(pushed);
        });
    }
    // The generic action entry of the slot over a and b (b null: one argument), as the
    // interpreter runs it.
    static cell* entry(uint32_t slot, const cell& a, const cell* b)
    {
        cell x = a, y = b ? *b : cell{};
        cell* window = stack::mark(stack_s.anon_symbol, 0, FRAME_NATIVE << FRAME_KIND_SHIFT);
        stack::push(&x);
        if (b) stack::push(&y);
        static const int32_t none_used[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
        actions::entry(slot)(false, none_used);
        stack::unwind_keep();
        return window;
    }
};

const char* const operands = "0 1 -1 7 2147483647 -2147483648 46341 -46341 0.0 1.5 -2.5 1e308 \"a\" none";

TEST_F(FastPaths, ArithmeticAgreesWithTheActions)
{
    cell* values = read(operands);
    struct op_row {
        uint32_t op, slot;
    };
    const op_row ops[] = {{MATH_ADD, ACT_ADD},  {MATH_SUBTRACT, ACT_SUBTRACT}, {MATH_MULTIPLY, ACT_MULTIPLY},
                          {MATH_OR, ACT_OR_T},  {MATH_AND, ACT_AND_T},         {MATH_XOR, ACT_XOR_T}};
    uint32_t n = block::rs_length(values);
    for (const op_row& o : ops)
        for (uint32_t i = 0; i < n; i++)
            for (uint32_t j = 0; j < n; j++) {
                cell a = block::rs_head(values)[i], b = block::rs_head(values)[j];
                std::string expected = outcome([&] { return entry(o.slot, a, &b); });
                EXPECT_EQ(outcome([&] { return actions::fast_op(o.op, nullptr, &a, &b); }), expected)
                    << "op " << o.op << " of " << test::mold(a) << " and " << test::mold(b);
                if (cell_type(&b) == TYPE_INTEGER) {
                    EXPECT_EQ(outcome([&] { return actions::fast_op_int(o.op, nullptr, &a, integer_of(&b)); }),
                              expected);
                    EXPECT_EQ(outcome([&] {
                                  stack::push(&a);
                                  return actions::fast_op_top_int(o.op, nullptr, integer_of(&b));
                              }),
                              expected)
                        << "in place on the top";
                }
            }
    cell big = tv::integer(2147483647), one = tv::integer(1);
    EXPECT_EQ(outcome([&] { return actions::fast_op(MATH_ADD, nullptr, &big, &one); }), "2147483648.0");
}

TEST_F(FastPaths, ComparisonsAgreeWithCompare)
{
    cell* values = read(operands);
    uint32_t n = block::rs_length(values);
    for (int32_t code = COMP_EQUAL; code <= COMP_GREATER_EQUAL; code++)
        for (uint32_t i = 0; i < n; i++)
            for (uint32_t j = 0; j < n; j++) {
                cell a = block::rs_head(values)[i], b = block::rs_head(values)[j];
                std::string expected = outcome([&] {
                    bool truth = actions::compare(&a, &b, code);
                    cell r{TYPE_LOGIC, truth ? 1u : 0u, 0, 0};
                    return stack::push(&r);
                });
                std::string what = "code " + std::to_string(code) + " of " + test::mold(a) + " and " + test::mold(b);
                EXPECT_EQ(outcome([&] { return actions::fast_compare(code, nullptr, &a, &b); }), expected) << what;
                EXPECT_EQ(outcome([&] {
                              stack::push(&a);
                              return actions::fast_compare_top(code, nullptr, &b);
                          }),
                          expected)
                    << what;
                EXPECT_EQ(outcome([&] {
                              cell r{TYPE_LOGIC, actions::fast_compare_flag(code, nullptr, &a, &b) ? 1u : 0u, 0, 0};
                              return stack::push(&r);
                          }),
                          expected)
                    << what;
            }
}

// An error of the generic path names the word compiled code gave.
TEST_F(FastPaths, TheFallbackRunsUnderTheNamedCall)
{
    cell a = tv::integer(1), b = word_of("x"), name = word_of("lesser?");
    interpreter::catch_point point;
    std::string where;
    try {
        actions::fast_compare(COMP_LESSER, &name, &a, &b);
    } catch (const script_error_unwind&) {
        EXPECT_EQ(raised_error_get().code(), code(ERR_SCRIPT, err::INVALID_COMPARE));
        cell e = point.take_error();
        where = test::form(*context::get_value_at(e.data1, EF_WHERE));
    }
    EXPECT_EQ(where, "lesser?");
}

TEST_F(FastPaths, PickAndBlockPositionsAgreeWithTheActions)
{
    cell* blk = read("a b c");
    cell middle = *blk, tail = *blk;
    middle.data1 = 1;
    tail.data1 = 3;
    struct pick_row {
        int32_t index;
        const char* expected;
    };
    for (const pick_row& r : std::vector<pick_row>{{1, "b"}, {2, "c"}, {3, "none"}, {0, "none"}, {-1, "none"}})
        EXPECT_EQ(outcome([&] { return actions::fast_pick(&middle, r.index, nullptr); }), r.expected) << r.index;
    cell s = block::rs_head(read("(x y z)"))[0];
    EXPECT_EQ(outcome([&] { return actions::fast_pick(&s, 2, nullptr); }), "y") << "other types by eval-path";

    const uint32_t slots[] = {0, ACT_LENGTH_Q, ACT_INDEX_Q, ACT_HEAD_Q, ACT_TAIL_Q,
                              ACT_NEXT, ACT_BACK, ACT_HEAD, ACT_TAIL};
    for (cell position : {*blk, middle, tail, s})
        for (uint32_t op = actions::SERIES_LENGTH; op <= actions::SERIES_TAIL; op++) {
            std::string expected = outcome([&] { return entry(slots[op], position, nullptr); });
            EXPECT_EQ(outcome([&] { return actions::fast_series_op(&position, op, nullptr); }), expected)
                << "op " << op << " at " << position.data1 << " of " << test::mold(position);
        }
}

}  // namespace
