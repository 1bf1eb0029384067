// bitset!: making from the spec language, mold, membership, changes, and the set operations on
// normal and complemented bitsets checked member by member.
#include <gtest/gtest.h>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/string.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

class Bitset : public test::StackTest {
protected:
    void SetUp() override
    {
        StackTest::SetUp();
        stack::push_slot();
    }
    cell* text(const char* t)
    {
        cell* s = string::make_at(stack::push_slot(), 16);
        string::concatenate_literal(s, t);
        return s;
    }
    cell* push(cell c) { return stack::push(&c); }
    cell* make(cell* spec) { return bitset::make_from_spec(spec, bitset::CALLER_MAKE); }
    // A spec block: tv::read's words, with #"x" standing for chars.
    cell* spec(const char* source)
    {
        cell* blk = tv::read(source);
        for (uint32_t i = 0; i < block::rs_length(blk); i++) {
            cell c = block::rs_head(blk)[i];   // a copy: molding allocates and may move the block
            if (cell_type(&c) != TYPE_WORD) continue;
            std::string m = tv::mold(&c);
            if (m.rfind("#", 0) == 0) block::rs_head(blk)[i] = cell{TYPE_CHAR, 0, uint8_t(m[1]), 0};
        }
        return blk;
    }
};

}  // namespace

TEST_F(Bitset, MakeMoldAndLength)
{
    cell* ten = make(push(test::integer(10)));
    EXPECT_EQ(bitset::length_q(ten), 16);
    EXPECT_EQ(tv::mold(ten), "make bitset! #{0000}");
    EXPECT_EQ(bitset::length_q(make(push(test::integer(0)))), 0);
    EXPECT_EQ(raised([&] { make(push(test::integer(-1))); }), 300u + err::OUT_OF_RANGE);
    cell* a = make(text("A"));
    EXPECT_EQ(tv::mold(a), "make bitset! #{000000000000000040}");
    EXPECT_EQ(bitset::length_q(a), 72);
    cell* not_a = make(spec("not \"A\""));
    EXPECT_EQ(tv::mold(not_a), "make bitset! [not #{000000000000000040}]");
    EXPECT_TRUE(bitset::member_q(not_a, 66));
    EXPECT_TRUE(bitset::member_q(not_a, 100000));
    EXPECT_FALSE(bitset::member_q(not_a, 65));
    EXPECT_EQ(raised([&] { bitset::make_from_spec(push(test::integer(3)), bitset::CALLER_TO); }), 300u + err::BAD_TO_ARG);
}

TEST_F(Bitset, SpecRangesAndTheirErrors)
{
    cell* az = make(spec("#a - #z"));
    int members = 0;
    for (int i = 0; i < 200; i++) members += bitset::member_q(az, i);
    EXPECT_EQ(members, 26);
    EXPECT_EQ(raised([&] { make(spec("#z - #a")); }), 300u + err::PAST_END);
    EXPECT_EQ(raised([&] { make(spec("#a - 122")); }), 300u + err::INVALID_ARG);
    EXPECT_EQ(raised([&] { make(spec("#a -")); }), 300u + err::PAST_END);
    EXPECT_EQ(raised([&] { make(spec("1 x")); }), 300u + err::BAD_MAKE_ARG);
    EXPECT_EQ(bitset::process_spec(spec("#b - #d 200"), az, bitset::OP_TEST, true, bitset::CALLER_ACTION), 0);
    EXPECT_EQ(bitset::process_spec(spec("#b - #d #x"), az, bitset::OP_TEST, true, bitset::CALLER_ACTION), 1);
    // A size the largest bitset cannot hold, or no 32-bit integer, is refused naming the value given.
    for (cell size : {test::integer(0x7FFFFFFF), test::integer(2147483641), test::float_(2147483641.5),
                      test::float_(1e10), test::float_(-1.5e10), test::float_(0.0 / 0.0)}) {
        EXPECT_EQ(raised([&] { make(push(size)); }), 300u + err::OUT_OF_RANGE) << tv::mold(&size);
        cell named = raised_error_get().args[0];
        EXPECT_EQ(tv::mold(&named), tv::mold(&size));
    }
}

TEST_F(Bitset, ChangesGrowOnlyWhereMembershipChanges)
{
    cell* two = make(push(test::integer(16)));
    bitset::append(two, push(test::integer(1000)), nullptr, false, nullptr);
    EXPECT_EQ(bitset::length_q(two), 126 * 8);
    cell* comp = make(spec("not 1"));
    EXPECT_EQ(bitset::length_q(comp), 8);
    bitset::append(comp, push(test::integer(1000)), nullptr, false, nullptr);
    EXPECT_EQ(bitset::length_q(comp), 8);
    bitset::poke(push(*two), 0, push(test::integer(65)), push(test::integer(1)));
    EXPECT_TRUE(bitset::member_q(two, 65));
    bitset::poke(push(*two), 0, push(test::integer(65)), push(none_value));
    EXPECT_FALSE(bitset::member_q(two, 65));
    bitset::remove(comp, nullptr, push(test::integer(7)));
    EXPECT_TRUE(bitset::member_q(comp, 7));
    EXPECT_EQ(raised([&] { bitset::remove(comp, nullptr, nullptr); }), 300u + err::MISSING_ARG);
    bitset::clear(comp);
    EXPECT_TRUE(bitset::member_q(comp, 1));
}

TEST_F(Bitset, SetOperationsGiveTheRightMembers)
{
    const char* specs[] = {"\"a\"", "not \"a\"", "\"b\" 300", "not \"b\" 20", "[]"};
    const int32_t codes[] = {5, 6, 7, 9, 10, 11, 12};
    for (const char* s1 : specs)
        for (const char* s2 : specs)
            for (int32_t code : codes) {
                cell* x = make(spec(s1));
                cell* y = make(spec(s2));
                cell* out = push(*x);
                bitset::do_bitwise(code, out, y);
                for (int64_t i = 0; i < 400; i += 1) {
                    bool a = bitset::member_q(x, i), b = bitset::member_q(y, i), want;
                    switch (code) {
                    case 5: case 9: want = a || b; break;
                    case 6: case 10: want = a && b; break;
                    case 7: case 12: want = a != b; break;
                    default: want = a && !b;
                    }
                    ASSERT_EQ(bitset::member_q(out, i), want) << s1 << " op " << code << " " << s2 << " at " << i;
                }
            }
    cell* one = make(push(test::integer(8)));
    cell* three = make(push(test::integer(24)));
    EXPECT_EQ(bitset::length_q(bitset::do_bitwise(6, push(*one), three)), 8);
    EXPECT_EQ(bitset::length_q(bitset::do_bitwise(10, push(*one), three)), 24);
    EXPECT_EQ(raised([&] { bitset::do_bitwise(9, push(*one), push(test::integer(1))); }), 300u + err::INVALID_TYPE);
}
