// Block append, insert, change, take, swap and trim: results, positions, a block changed with
// itself, and the owner events they send.
#include <gtest/gtest.h>

#include "runtime/datatypes/block.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

class BlockModify : public test::StackTest {
protected:
    cell* push(cell c) { return stack::push(&c); }
    cell* count(int32_t n) { return push(test::integer(n)); }
};

struct modify_case {
    const char* name;
    int action;   // 0 append, 1 insert, 2 change
    const char* series;
    int32_t head;
    const char* value;   // read as a block; "=" is the series itself at head 1
    bool only;
    int32_t part, dup;   // -1: not given
    const char* result;  // the series after the action, from its buffer's first cell
    int32_t index;       // the head index of the answer
};

const modify_case cases[] = {
    {"append a block", 0, "1", 0, "[2 3]", false, -1, -1, "[1 2 3]", 0},
    {"append /only", 0, "1", 0, "[2 3]", true, -1, -1, "[1 [2 3]]", 0},
    {"append /dup", 0, "", 0, "x", false, -1, 3, "[x x x]", 0},
    {"append /dup 0 adds nothing", 0, "a", 0, "x", false, -1, 0, "[a]", 0},
    {"append /dup -1 adds nothing", 0, "a", 0, "x", false, -1, -1 - 1, "[a]", 0},
    {"append /part", 0, "a", 0, "[b c d]", false, 2, -1, "[a b c]", 0},
    {"insert gives the position after", 1, "b c", 0, "a", false, -1, -1, "[a b c]", 1},
    {"insert /dup", 1, "c", 0, "[a b]", false, -1, 2, "[a b a b c]", 4},
    {"insert into itself", 1, "1 2 3", 0, "=", false, -1, -1, "[2 3 1 2 3]", 2},
    {"append to itself", 0, "1 2 3", 0, "=", false, -1, -1, "[1 2 3 2 3]", 0},
    {"change", 2, "a b c d", 0, "[x y]", false, -1, -1, "[x y c d]", 2},
    {"change /part", 2, "a b c d", 0, "[x y]", false, 3, -1, "[x y d]", 2},
    {"change past the tail grows", 2, "a b", 1, "[x y z]", false, -1, -1, "[a x y z]", 4},
    {"change /only", 2, "a b", 0, "[x y]", true, -1, -1, "[[x y] b]", 1},
    {"change /dup", 2, "a b c d e", 0, "x", false, -1, 3, "[x x x d e]", 3},
    {"change with itself", 2, "1 2 3", 0, "=", false, -1, -1, "[2 3 3]", 2},
};

}  // namespace

TEST_F(BlockModify, AppendInsertChangeTable)
{
    for (const modify_case& c : cases) {
        cell* series = tv::read(c.series);
        series->data1 = uint32_t(c.head);
        cell* value;
        if (c.value[0] == '=') {
            value = push(*series);
            value->data1 = 1;
        } else {
            value = push(*block::rs_head(tv::read(c.value)));
        }
        cell* part = c.part >= 0 ? count(c.part) : nullptr;
        cell* dup = c.dup != -1 ? count(c.dup) : nullptr;
        cell* answer = push(*series);
        if (c.action == 0) block::append(answer, value, part, c.only, dup);
        else if (c.action == 1) block::insert(answer, value, part, c.only, dup);
        else block::change(answer, value, part, c.only, dup);
        cell whole = *series;
        whole.data1 = 0;
        EXPECT_EQ(test::mold(whole), c.result) << c.name;
        EXPECT_EQ(series_head_raw(answer), c.index) << c.name;
    }
}

TEST_F(BlockModify, TakeSwapTrim)
{
    cell* b = tv::read("a b c d");
    cell* taken = push(*b);
    block::take(taken, nullptr, false, false);
    EXPECT_EQ(tv::mold(taken), "a");
    taken = push(*b);
    block::take(taken, count(2), false, true);
    EXPECT_EQ(tv::mold(taken), "[c d]");
    EXPECT_EQ(tv::mold(b), "[b]");
    cell* empty = tv::read("");
    EXPECT_EQ(tv::mold(block::take(empty, nullptr, false, false)), "none");

    cell* deep = tv::read("[x] y");
    cell inner = *block::rs_head(deep);
    cell* copy = push(*deep);
    block::take(copy, count(1), true, false);
    EXPECT_NE(block::rs_head(copy)->data2, inner.data2) << "take/deep copies a taken block";

    cell* x = tv::read("a b");
    cell* y = tv::read("c d");
    x->data1 = 1;
    block::swap(x, y);
    x->data1 = 0;
    EXPECT_EQ(tv::mold(x), "[a c]");
    EXPECT_EQ(tv::mold(y), "[b d]");
    cell* not_block = push(test::integer(1));
    EXPECT_EQ(raised([&] { block::swap(x, not_block); }), 300u + err::INVALID_ARG);

    cell* t = tv::read("none a none none b none");
    block::trim(t, false, false, false, false, false, nullptr);
    EXPECT_EQ(tv::mold(t), "[a b]");
}
