// Block sort: a randomised cross-check of every engine and refinement combination against a
// reference sort written here, the refinement errors, and a user comparison that raises, exits or
// changes the block while it is being sorted. The user function is a stand-in installed as the
// evaluator's call hook: it compares its two arguments by the same reference order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/string.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

// ---- the reference order ------------------------------------------------------------------------

std::string folded(const cell* c, bool case_)
{
    std::string s = string::utf8_copy(c);
    if (!case_)
        for (char& ch : s) ch = char(std::tolower(uint8_t(ch)));
    return s;
}

// Integers by value, strings by their text (letter case ignored unless case_), none equal to none,
// values of two types by their type ids.
int reference_compare(const cell* a, const cell* b, bool case_)
{
    uint32_t ta = cell_type(a), tb = cell_type(b);
    if (ta != tb) return ta < tb ? -1 : 1;
    if (ta == TYPE_INTEGER) return integer_of(a) < integer_of(b) ? -1 : integer_of(a) > integer_of(b);
    if (ta == TYPE_STRING) {
        int r = folded(a, case_).compare(folded(b, case_));
        return r < 0 ? -1 : r > 0;
    }
    return 0;
}

struct hook_state {
    bool case_ = false;
    int32_t calls = 0;
    int32_t raise_at = -1;      // raise script/invalid-arg at this call
    int32_t exit_at = -1;       // answer a non-local exit at this call
    cell* grow_at_call = nullptr;   // a block to append to at call 3
};
hook_state hook_s;

// The stand-in for `func [a b] [a < b]`; whole records arrive as blocks and compare by their cells.
cell stand_in_call(const cell*, const cell*, const cell* args, uint32_t count, bool)
{
    EXPECT_EQ(count, 2u);
    int32_t call = hook_s.calls++;
    if (call == hook_s.raise_at) fire(ERR_SCRIPT, err::INVALID_ARG);
    if (call == hook_s.exit_at) throw exit_unwind{};
    if (call == 3 && hook_s.grow_at_call) {
        cell v = test::integer(99);
        block::rs_append(hook_s.grow_at_call, &v);
    }
    int r = 0;
    if (cell_type(args) == TYPE_BLOCK) {
        for (uint32_t i = 0; i < block::rs_length(args) && !r; i++)
            r = reference_compare(block::rs_head(args) + i, block::rs_head(args + 1) + i, hook_s.case_);
    } else {
        r = reference_compare(args, args + 1, hook_s.case_);
    }
    return cell{TYPE_LOGIC, r < 0, 0, 0};
}

class BlockSort : public test::StackTest {
protected:
    void SetUp() override
    {
        StackTest::SetUp();
        stack::push_slot();   // the window's result cell: refinement arguments lie above it
        saved_hook = function::call_hook;
        function::call_hook = stand_in_call;
        hook_s = hook_state{};
    }
    void TearDown() override
    {
        function::call_hook = saved_hook;
        StackTest::TearDown();
    }
    cell* push(cell c) { return stack::push(&c); }
    cell* function() { return push(cell{TYPE_FUNCTION, 0, 0, 0}); }
    decltype(function::call_hook) saved_hook = nullptr;
};

const char* const words[] = {"apple", "Apple", "b", "B", "cherry", "", "a", "A", "zz", "Zz"};

// A random block of `n` values of the kind: 0 integers, 1 strings, 2 integers, strings and none.
cell* random_block(std::mt19937& rng, uint32_t n, int kind)
{
    cell* blk = block::push_only_star(n);
    for (uint32_t i = 0; i < n; i++) {
        int k = kind == 2 ? int(rng() % 3) : kind;
        if (k == 0) {
            cell v = test::integer(int32_t(rng() % 9) - 4);
            block::rs_append(blk, &v);
        } else if (k == 1) {
            cell* s = string::make_at(stack::push_slot(), 8);
            string::concatenate_literal(s, words[rng() % 10]);
            block::rs_append(blk, s);
            stack::pop(1);
        } else {
            block::rs_append(blk, &none_value);
        }
    }
    return blk;
}

std::string exact(const cell* c) { return std::to_string(cell_type(c)) + ":" + test::mold(*c); }

}  // namespace

// Every combination of engine, /case, /reverse, record size, /compare (none, an offset, a function)
// and /all sorts 10,000 random blocks as the reference does: the records come out in order, as a
// permutation of the input, and in input order among equals under /stable.
TEST_F(BlockSort, RandomisedCrossCheckWithTheReferenceSort)
{
    std::mt19937 rng(2024);
    // A collection at every allocation makes each block costly: the stress run checks fewer.
    const uint32_t blocks = collector_s.stress_every ? 600 : 10000;
    for (uint32_t iteration = 0; iteration < blocks; iteration++) {
        stack::scope held;
        uint32_t combo = iteration % 64;
        bool stable = combo & 1, case_ = combo & 2, reverse = combo & 4;
        uint32_t size = (combo & 8) ? 2 : 1;
        uint32_t compare_mode = (combo >> 4) & 3;   // 0 none, 1 offset, 2 function, 3 /all
        bool all = compare_mode == 3 && size > 1;
        bool with_function = compare_mode == 2 || (compare_mode == 3 && (iteration & 64));
        if (compare_mode == 1 && size == 1) compare_mode = 0;
        uint32_t n = (rng() % 24) * size;
        cell* blk = random_block(rng, n, int(rng() % 3));
        // The reference: the records as cell runs, sorted stably by the same order.
        uint32_t offset = compare_mode == 1 ? 1 : 0;
        std::vector<std::vector<cell>> records(n / size);
        for (uint32_t r = 0; r < n / size; r++)
            records[r].assign(block::rs_head(blk) + r * size, block::rs_head(blk) + (r + 1) * size);
        auto order = [&](const std::vector<cell>& x, const std::vector<cell>& y) {
            int c = 0;
            if (all) {
                for (uint32_t i = 0; i < size && !c; i++) c = reference_compare(&x[i], &y[i], case_);
            } else {
                c = reference_compare(&x[offset], &y[offset], case_);
            }
            return c;
        };
        std::vector<std::vector<cell>> expected = records;
        std::stable_sort(expected.begin(), expected.end(),
                         [&](const auto& x, const auto& y) { return reverse ? order(y, x) < 0 : order(x, y) < 0; });
        hook_s.case_ = case_;
        cell* skip = size > 1 ? push(test::integer(int32_t(size))) : nullptr;
        cell* comparator = with_function ? function() : compare_mode == 1 ? push(test::integer(2)) : nullptr;
        cell* answer = push(*blk);
        block::sort(answer, case_, skip, comparator, nullptr, all, reverse, stable);
        SCOPED_TRACE(testing::Message() << "iteration " << iteration << " combo " << combo << " n " << n);
        std::vector<std::string> got, want;
        for (uint32_t r = 0; r < n / size; r++) {
            std::vector<cell> record(block::rs_head(blk) + r * size, block::rs_head(blk) + (r + 1) * size);
            if (r > 0) {
                std::vector<cell> before(block::rs_head(blk) + (r - 1) * size, block::rs_head(blk) + r * size);
                ASSERT_LE(reverse ? order(record, before) : order(before, record), 0) << "out of order at " << r;
            }
            for (uint32_t i = 0; i < size; i++) {
                got.push_back(exact(&record[i]));
                want.push_back(exact(&expected[r][i]));
            }
        }
        if (stable) {
            ASSERT_EQ(got, want);
        } else {
            std::sort(got.begin(), got.end());
            std::sort(want.begin(), want.end());
            ASSERT_EQ(got, want) << "not a permutation of the input";
        }
    }
}

TEST_F(BlockSort, RefinementErrorsAndPositions)
{
    auto sort_of = [&](const char* text, cell* skip, cell* comparator, cell* part, bool all) {
        cell* b = tv::read(text);
        block::sort(b, false, skip, comparator, part, all, false, false);
        return b;
    };
    EXPECT_EQ(tv::mold(sort_of("b 2 a 1", push(test::integer(2)), nullptr, nullptr, false)), "[a 1 b 2]");
    EXPECT_EQ(tv::mold(sort_of("a 1", nullptr, nullptr, nullptr, false)), "[1 a]");
    EXPECT_EQ(tv::mold(sort_of("c b a d", nullptr, nullptr, push(test::integer(3)), false)), "[a b c d]");
    EXPECT_EQ(raised([&] { sort_of("1 2 3", push(test::integer(2)), nullptr, nullptr, false); }), 300u + err::INVALID_REFINE_ARG);
    EXPECT_EQ(raised([&] { sort_of("1 2", nullptr, nullptr, nullptr, true); }), 300u + err::BAD_REFINES);
    EXPECT_EQ(raised([&] { sort_of("1 2", nullptr, push(test::integer(1)), nullptr, false); }), 300u + err::BAD_REFINES);
    EXPECT_EQ(raised([&] { sort_of("1 2", push(test::integer(2)), push(test::integer(3)), nullptr, false); }), 300u + err::OUT_OF_RANGE);
    EXPECT_EQ(raised([&] { sort_of("1 2", nullptr, push(test::float_(1.5)), nullptr, false); }), 300u + err::INVALID_REFINE_ARG);
    // A negative /part sorts the cells before the head and moves the head back.
    cell* b = tv::read("d c b a");
    b->data1 = 3;
    block::sort(b, false, nullptr, nullptr, push(test::integer(-2)), false, false, false);
    EXPECT_EQ(series_head_raw(b), 1);
    b->data1 = 0;
    EXPECT_EQ(tv::mold(b), "[d b c a]");
}

TEST_F(BlockSort, AFunctionSortsDescendingByItsAnswer)
{
    cell* b = tv::read("1 3 2");
    // The stand-in is func [a b] [a < b]: the sort passes the later record first, so a true answer
    // puts the earlier one after it: ascending; /reverse passes them the other way round.
    block::sort(b, false, nullptr, function(), nullptr, false, false, false);
    EXPECT_EQ(tv::mold(b), "[1 2 3]");
    block::sort(b, false, nullptr, function(), nullptr, false, true, false);
    EXPECT_EQ(tv::mold(b), "[3 2 1]");
}

// Mended: the comparison runs interpreted code; whatever it does, the block is never written out
// of bounds and never loses or repeats a value.
TEST_F(BlockSort, AComparisonThatRaisesExitsOrChangesTheBlockLeavesItWhole)
{
    for (bool stable : {false, true}) {
        cell* b = tv::read("5 3 9 1 7 2 8 6 4 0 11 13 12");
        std::string before = tv::mold(b);
        hook_s = hook_state{};
        hook_s.raise_at = 10;
        EXPECT_EQ(raised([&] { block::sort(b, false, nullptr, function(), nullptr, false, false, stable); }),
                  300u + err::INVALID_ARG);
        EXPECT_EQ(tv::mold(b), before);

        hook_s = hook_state{};
        hook_s.exit_at = 4;
        EXPECT_THROW(block::sort(b, false, nullptr, function(), nullptr, false, false, stable), exit_unwind);
        EXPECT_EQ(tv::mold(b), before) << "an exit leaves the block as it was";
        EXPECT_EQ(hook_s.calls, 5) << "no call after the exit";

        hook_s = hook_state{};
        hook_s.grow_at_call = b;
        EXPECT_EQ(raised([&] { block::sort(b, false, nullptr, function(), nullptr, false, false, stable); }),
                  300u + err::INVALID_DATA);
        EXPECT_EQ(tv::mold(b), before.substr(0, before.size() - 1) + " 99]");
    }
}
