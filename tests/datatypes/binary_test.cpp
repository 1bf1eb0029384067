// binary!: the bytes of values, conversion, the changing actions (a source inside the target
// included), trimming, the bitwise actions, byte-wise comparison with binaries and texts, and the
// text layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/numbers.h"
#include "datatypes/objects.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/tuple.h"

namespace {

using namespace num;
using BinaryTest = test::StackTest;

// A binary! from hexadecimal digits, pushed (kept until the test ends).
cell bin(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    for (size_t k = 0; k + 1 < hex.size(); k += 2) bytes.push_back(uint8_t(std::stoi(hex.substr(k, 2), nullptr, 16)));
    return *binary::load(bytes.data(), uint32_t(bytes.size()));
}

cell wide(const char* utf8, uint32_t unit)
{
    cell s = text(utf8);
    cell* w = string::make_at(stack::push_slot(), 8, unit);
    string::append_string(w, &s, -1, 0, true, string::CONCAT_APPEND);
    return *w;
}

std::string flat(cell v) { return test::mold(v); }
// The whole binary, whatever position an action left it at.
std::string whole(cell v)
{
    v.data1 = 0;
    return flat(v);
}

// append, insert or change with /part and /dup given when not null; the series after it.
cell changed(append_fn action, cell series, cell value, const cell* part = nullptr, const cell* dup = nullptr)
{
    cell* s = stack::push(&series);
    cell* v = stack::push(&value);
    cell* p = part ? stack::push(part) : nullptr;
    cell* d = dup ? stack::push(dup) : nullptr;
    return *action(s, v, p, false, d);
}

TEST_F(BinaryTest, To)
{
    auto to = [](cell spec) { return call([](cell* s, cell*) { return binary::to(s + 1, s, TYPE_BINARY); }, spec); };
    cell t;
    const uint8_t rgb[] = {1, 2, 3};
    struct row { const char* name; cell spec; const char* result; };
    const row rows[] = {
        {"1", i(1), "#{00000001}"},
        {"-2", i(-2), "#{FFFFFFFE}"},
        {"1.0", f(1.0), "#{3FF0000000000000}"},
        {"50%", pc(0.5), "#{3FE0000000000000}"},
        {"#\"é\"", c(0xE9), "#{C3A9}"},
        {"#\"\U0001F600\"", c(0x1F600), "#{F09F9880}"},
        {"\"é\" of one-byte units", text("\xC3\xA9"), "#{C3A9}"},
        {"\"é\" of two-byte units", wide("\xC3\xA9", 2), "#{C3A9}"},
        {"1.2.3", *tuple::make_at(&t, rgb, 3), "#{010203}"},
        {"[1 \"a\" #\"b\" #{FF}]", block_of({i(1), text("a"), c('b'), bin("ff")}), "#{016162FF}"},
        {"[[1 2] 3]", block_of({block_of({i(1), i(2)}), i(3)}), "#{010203}"},
        {"#F0ab", issue_of("F0ab"), "#{F0AB}"},
        {"#{0102}", bin("0102"), "#{0102}"},
    };
    for (const row& r : rows) EXPECT_EQ(flat(to(r.spec)), r.result) << r.name;
    cell looped = block_of({i(1)});
    block::rs_append(&looped, &looped);
    struct fault { const char* name; cell spec; uint32_t error; };
    const fault faults[] = {
        {"#XY", issue_of("XY"), code(ERR_SCRIPT, err::INVALID_DATA)},
        {"none", none_value, code(ERR_SCRIPT, err::BAD_TO_ARG)},
        {"[1.5]", block_of({f(1.5)}), code(ERR_SCRIPT, err::BAD_TO_ARG)},
        {"[300]", block_of({i(300)}), code(ERR_SCRIPT, err::INVALID_ARG)},
        {"a block holding itself", looped, code(ERR_INTERNAL, err::NO_CYCLE)},
    };
    for (const fault& r : faults) EXPECT_EQ(error_of([&] { to(r.spec); }), r.error) << r.name;
    EXPECT_EQ(cycle_depth(), 0u) << "the cycle stack is left as it was";
}

TEST_F(BinaryTest, AppendAndInsert)
{
    cell two = i(2), three = i(3), zero = i(0);
    EXPECT_EQ(flat(changed(binary::append, bin(""), i(-1))), "#{FF}");
    EXPECT_EQ(flat(changed(binary::append, bin("01"), bin("0203"), nullptr, &three)), "#{01020302030203}");
    EXPECT_EQ(flat(changed(binary::append, bin("01"), text("abc"), &two)), "#{016162}");
    EXPECT_EQ(flat(changed(binary::append, bin("01"), block_of({i(1), i(2), i(3)}), &two)), "#{010102}");
    EXPECT_EQ(flat(changed(binary::append, bin("01"), bin("02"), nullptr, &zero)), "#{01}") << "/dup 0 appends nothing";
    EXPECT_EQ(error_of([&] { changed(binary::append, bin(""), i(256)); }), code(ERR_SCRIPT, err::INVALID_ARG));
    EXPECT_EQ(error_of([&] { changed(binary::append, bin(""), i(-129)); }), code(ERR_SCRIPT, err::INVALID_ARG));
    EXPECT_EQ(error_of([&] { changed(binary::append, bin(""), none_value); }), code(ERR_SCRIPT, err::BAD_TO_ARG));
    cell huge = i(1100000000);
    EXPECT_EQ(error_of([&] { changed(binary::append, bin(""), bin("0102"), nullptr, &huge); }),
              code(ERR_INTERNAL, err::NO_MEMORY)) << "the /dup total is counted in 64 bits";

    cell b = bin("0A0B");
    b.data1 = 1;
    cell after = changed(binary::insert, b, bin("FFEE"));
    EXPECT_EQ(after.data1, 3u) << "insert returns the position after what it inserted";
    EXPECT_EQ(whole(after), "#{0AFFEE0B}");
    cell appended = changed(binary::append, b, i(1));
    EXPECT_EQ(appended.data1, 1u) << "append keeps the position";
}

TEST_F(BinaryTest, WritingABinaryIntoItselfReadsTheSourceFirst)
{
    cell b = bin("010203");
    cell rest = b;
    rest.data1 = 1;
    EXPECT_EQ(whole(changed(binary::insert, b, rest)), "#{0203010203}");
    cell c2 = bin("010203");
    EXPECT_EQ(flat(changed(binary::append, c2, c2)), "#{010203010203}");
    cell d = bin("0102030405");
    cell from3 = d;
    from3.data1 = 2;
    EXPECT_EQ(whole(changed(binary::change, d, from3)), "#{0304050405}");
}

TEST_F(BinaryTest, Change)
{
    cell three = i(3), two = i(2);
    cell r = changed(binary::change, bin("010203"), bin("AABB"));
    EXPECT_EQ(r.data1, 2u) << "the position after the change";
    EXPECT_EQ(whole(r), "#{AABB03}");
    r = changed(binary::change, bin("010203"), bin("FF"), &three);
    EXPECT_EQ(whole(r), "#{FF}") << "/part replaces that many bytes";
    r = changed(binary::change, bin("01"), bin("AABBCC"));
    EXPECT_EQ(whole(r), "#{AABBCC}") << "past the tail the binary grows";
    r = changed(binary::change, bin("0102"), bin("AB"), nullptr, &two);
    EXPECT_EQ(whole(r), "#{ABAB}");
    r = changed(binary::change, bin("00"), none_value);
    EXPECT_EQ(whole(r), "#{6E6F6E65}") << "any other value by the text of its form";
}

TEST_F(BinaryTest, Trim)
{
    auto trim = [](cell v, bool head, bool tail, bool all, const cell* with = nullptr, bool auto_ = false) {
        cell* s = stack::push(&v);
        cell* w = with ? stack::push(with) : nullptr;
        return flat(*binary::trim(s, head, tail, auto_, false, all, w));
    };
    EXPECT_EQ(trim(bin("0000410000"), false, false, false), "#{41}");
    EXPECT_EQ(trim(bin("0000410000"), true, false, false), "#{410000}");
    EXPECT_EQ(trim(bin("0000410000"), false, true, false), "#{000041}");
    EXPECT_EQ(trim(bin("0041004200"), false, false, true), "#{4142}");
    cell set = bin("4100"), letter = c('B'), number = i(0x43);
    EXPECT_EQ(trim(bin("0041424300"), false, false, false, &set), "#{4243}");
    EXPECT_EQ(trim(bin("41424341"), false, false, false, &letter), "#{414341}");
    EXPECT_EQ(trim(bin("41424341"), false, false, false, &number), "#{414241}");
    EXPECT_EQ(trim(bin("0000"), false, false, false), "#{}");
    cell positioned = bin("00410000");
    positioned.data1 = 1;
    cell* s = stack::push(&positioned);
    binary::trim(s, false, false, false, false, false, nullptr);
    s->data1 = 0;
    EXPECT_EQ(flat(*s), "#{0041}") << "from the position on";
    EXPECT_EQ(error_of([&] { trim(bin("00"), false, false, false, nullptr, true); }), code(ERR_INTERNAL, err::NOT_DONE));
}

TEST_F(BinaryTest, Bitwise)
{
    struct row { binary_fn op; const char* a; const char* b; const char* result; };
    const row rows[] = {
        {binary::and_t, "FF00FF", "0F", "#{0F0000}"},
        {binary::or_t, "FF00FF", "0F", "#{FF00FF}"},
        {binary::xor_t, "FF00FF", "0F", "#{F000FF}"},
        {binary::xor_t, "0F", "FF00FF", "#{F000FF}"},
        {binary::and_t, "", "", "#{}"},
    };
    for (const row& r : rows) EXPECT_EQ(flat(call(r.op, bin(r.a), bin(r.b))), r.result) << r.a << " " << r.b;
    EXPECT_EQ(error_of([&] { call(binary::and_t, bin("01"), i(1)); }), code(ERR_SCRIPT, err::INVALID_ARG));
    cell b = bin("0FF0");
    cell* onstack = stack::push(&b);
    binary::complement(onstack);
    EXPECT_EQ(flat(b), "#{F00F}") << "complement works in place";
}

TEST_F(BinaryTest, Compare)
{
    struct row { const char* name; cell a, b; int32_t op; int32_t result; };
    const row rows[] = {
        {"#{01} < #{0102}", bin("01"), bin("0102"), COMP_LESSER, -1},
        {"#{02} > #{0102}", bin("02"), bin("0102"), COMP_LESSER, 1},
        {"#{0102} = #{0102}", bin("0102"), bin("0102"), COMP_EQUAL, 0},
        {"bytes unsigned", bin("FF"), bin("01"), COMP_GREATER, 1},
        {"equal prefix, longer", bin("0102"), bin("01"), COMP_EQUAL, 1},
        {"a text is not comparable", bin("61"), text("a"), COMP_EQUAL, -2},
    };
    for (const row& r : rows) EXPECT_EQ(test::compare(r.a, r.b, r.op), r.result) << r.name;
}

TEST_F(BinaryTest, TextsCompareAndMatchByTheirUtf8)
{
    cell e = bin("C3A9"), longer = bin("C3A941");
    for (uint32_t unit : {1u, 2u, 4u}) {
        cell text_e = wide("\xC3\xA9", unit);
        EXPECT_EQ(binary::equal_q(&e, &text_e, COMP_EQUAL, false), 0) << "unit " << unit;
        EXPECT_TRUE(binary::match_at_q(&longer, &text_e, COMP_FIND)) << "unit " << unit;
        EXPECT_FALSE(binary::match_at_q(&e, &longer, COMP_FIND)) << "a longer pattern never matches";
    }
    cell a = c('A'), ce = c(0xC3), head_at_a = longer;
    head_at_a.data1 = 2;
    EXPECT_TRUE(binary::match_at_q(&head_at_a, &a, COMP_FIND));
    EXPECT_TRUE(binary::match_at_q(&longer, &ce, COMP_FIND)) << "a char! is equal to the byte";
    cell same = e;
    EXPECT_EQ(binary::equal_q(&e, &same, COMP_SAME, false), 0);
    cell copy = bin("C3A9");
    EXPECT_EQ(binary::equal_q(&e, &copy, COMP_SAME, false), 1);
}

TEST_F(BinaryTest, MoldLayout)
{
    std::string thirty(60, 'A'), thirty_one(62, 'B'), thirty_two(64, 'C');
    EXPECT_EQ(flat(bin(thirty)), "#{" + thirty + "}");
    EXPECT_EQ(flat(bin(thirty_one)), "#{\n    " + thirty_one + "\n}");
    EXPECT_EQ(flat(bin(thirty_two)), "#{\n    " + thirty_two + "\n}");
    EXPECT_EQ(flat(bin(thirty_two + "0102")), "#{\n    " + thirty_two + "\n    0102\n}");
    cell v = bin(thirty_two);
    cell* out = string::make_at(stack::push_slot(), 16, 1);
    binary::mold(&v, out, false, false, false, nullptr, INT32_MAX, 1);
    EXPECT_EQ(string::utf8_copy(out), "#{\n        " + thirty_two + "\n    }") << "one level deeper than the value";
    cell* flat_out = string::make_at(stack::push_slot(), 16, 1);
    binary::mold(&v, flat_out, true, false, true, nullptr, INT32_MAX, 0);
    EXPECT_EQ(string::utf8_copy(flat_out), thirty_two) << "only and flat";
    cell* part_out = string::make_at(stack::push_slot(), 16, 1);
    cell small = bin("0102030405");
    int32_t left = binary::mold(&small, part_out, false, false, false, nullptr, 6, 0);
    EXPECT_EQ(string::utf8_copy(part_out), "#{0102}") << "the budget stops the bytes";
    EXPECT_LE(left, 0);
    cell positioned = bin("0102");
    positioned.data1 = 1;
    EXPECT_EQ(test::form(positioned), "#{02}") << "from the head";
}

TEST_F(BinaryTest, HelpersKeepTheirBytesAcrossMoves)
{
    const uint8_t* moving = test::moving_bytes("abc");   // stale after the next collection
    cell* loaded = binary::load(moving, 3);
    EXPECT_EQ(flat(*loaded), "#{616263}");
    cell* blk = block::push_only_star(1);
    binary::load_in(test::moving_bytes("xy"), 2, blk);
    EXPECT_EQ(flat(*block::rs_head(blk)), "#{7879}");
    cell target = bin("0102");
    binary::insert_bytes(&target, 1, binary::ks_head(&target), 2);
    EXPECT_EQ(flat(target), "#{01010202}");
    binary::set_bytes(&target, binary::ks_head(&target) + 1, 2);
    EXPECT_EQ(flat(target), "#{0102}");
    uint8_t byte = 0;
    cell ch = c(0x141);
    binary::poke_byte(&byte, &ch);
    EXPECT_EQ(byte, 0x41);
    EXPECT_EQ(error_of([&] { binary::poke_byte(&byte, &target); }), code(ERR_SCRIPT, err::INVALID_ARG));
}

TEST_F(BinaryTest, ByteInBitset)
{
    node_ref bits = bytes_alloc(2);
    series_buffer* s = series_of(bits);
    at(s->head)[0] = 0x40;   // bit 1
    at(s->head)[1] = 0x00;
    s->tail = s->head + 2;
    cell bitset{TYPE_BITSET, 0, bits, 0};
    stack::push(&bitset);
    cell one = bin("01"), two = bin("02"), beyond = bin("40"), empty = bin("");
    EXPECT_TRUE(binary::byte_in_bitset_q(&one, &bitset));
    EXPECT_FALSE(binary::byte_in_bitset_q(&two, &bitset));
    EXPECT_FALSE(binary::byte_in_bitset_q(&beyond, &bitset));
    EXPECT_FALSE(binary::byte_in_bitset_q(&empty, &bitset));
    series_of(bits)->flags |= SERIES_COMPLEMENT;
    EXPECT_TRUE(binary::byte_in_bitset_q(&beyond, &bitset)) << "past the stored bits: the complement flag";
}

// An owner with on-deep-change* hears of every change, before and after, and trim after.
class BinaryOwner : public tob::Objects {};

TEST_F(BinaryOwner, ChangesTellTheOwner)
{
    cell* o = tob::with_handlers("b: none", nullptr, "owner word target action value index part");
    const uint8_t bytes[] = {0, 1};
    cell* b = ::binary::load(bytes, 2);
    cell w = tob::word("b");
    ownership_set(b, o, &w);
    cell one = num::i(1), five = num::i(5);
    changed(::binary::append, *b, one);
    changed(::binary::insert, *b, five);
    changed(::binary::change, *b, five);
    cell* s = stack::push(b);
    ::binary::trim(s, false, false, false, false, false, nullptr);
    const char* expected[] = {"append | 1 | 2 | 1", "appended | 1 | 2 | 1", "insert | 5 | 0 | 1",
                              "inserted | 5 | 0 | 1", "change | 5 | 0 | 1", "changed | 5 | 0 | 1",
                              "trimmed | none | 0 | 4"};
    ASSERT_EQ(tob::calls.size(), std::size(expected));
    for (size_t k = 0; k < std::size(expected); k++)
        EXPECT_NE(tob::calls[k].find(expected[k]), std::string::npos) << tob::calls[k];
}

}  // namespace
