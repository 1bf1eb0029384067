// KIVBIN compact records: the byte layouts the format fixes, round trips that keep sharing and
// cycles, the records the decoder must refuse, and a fuzz run of damaged and random inputs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/lexer.h"
#include "runtime/io/lz.h"
#include "support/fixtures.h"
#include "support/guarded.h"
#include "support/values.h"

namespace {

using bytes = std::vector<uint8_t>;

class Kivbin : public test::StackTest {
protected:
    // The values of a text, as a block pushed on the argument stack.
    cell* load(const std::string& text)
    {
        return lexer::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), stack::push_slot());
    }
    // The first value of a text, pushed: a cell that no collection moves.
    cell* first_of(const std::string& text) { return stack::push(block::rs_head(load(text))); }
    // What a binary decodes to in codec mode, as a block pushed on the argument stack.
    cell* decode(const bytes& data)
    {
        cell* out = block::make_at(stack::push_slot(), 4);
        kivbin::decode(data.data(), data.size(), out, kivbin::MODE_CODEC);
        return out;
    }
    static bytes header(uint8_t flags) { return {'K', 'I', 'V', 'B', 'I', 'N', 2, flags}; }
    // A compact binary without symbols around a payload.
    static bytes wrap(const bytes& payload)
    {
        bytes b = header(kivbin::FLAG_COMPACT);
        b.push_back(1);
        b.push_back(uint8_t(payload.size()));
        b.insert(b.end(), payload.begin(), payload.end());
        return b;
    }
};

TEST_F(Kivbin, EncodesScalarsAndStringsByteForByte)
{
    struct row {
        const char* text;
        bytes payload;
    };
    const row rows[] = {
        {"63", {0xBF}},
        {"64", {0x0B, 0x80, 0x01}},
        {"-1", {0x0B, 0x01}},
        {"0", {0x80}},
        {"2.0", {0x4C, 0x04}},
        {"2.5", {0x0C, 0, 0, 0, 0, 0, 0, 0x04, 0x40}},
        {"-0.0", {0x0C, 0, 0, 0, 0, 0, 0, 0, 0x80}},
        {"-3.0", {0x4C, 0x05}},
        {"#\"a\"", {0x0A, 0x61}},
        {"\"abc\"", {0x07, 0x0C, 'a', 'b', 'c'}},
        {"none", {0x0F, 0x00}},   // a word: symbol table present, checked by payload only
    };
    for (const row& r : rows) {
        bytes got = kivbin::encode_cp(first_of(r.text));
        bytes tail(got.end() - std::min(got.size(), r.payload.size()), got.end());
        EXPECT_EQ(tail, r.payload) << r.text;
        if (std::string(r.text) != "none") {
            EXPECT_EQ(got, wrap(r.payload)) << r.text;
        }
    }
    cell* s = first_of("\"abc\"");
    s->data1 = 1;   // the same string at head 1
    EXPECT_EQ(kivbin::encode_cp(s), wrap({0x47, 0x01, 0x0C, 'a', 'b', 'c'}));
    cell t{TYPE_LOGIC, 1, 0, 0};
    EXPECT_EQ(kivbin::encode_cp(&t), wrap({0xC2}));
}

TEST_F(Kivbin, WritesEachSymbolOnceAndSharedSeriesByPath)
{
    bytes expected = header(kivbin::FLAG_COMPACT | kivbin::FLAG_SYMBOLS);
    // roots 1, payload 6; one symbol, names 2 bytes, offset 0, "a"; [a a] as two word records.
    bytes rest = {1, 6, 1, 2, 0, 0, 0, 0, 'a', 0, 0x05, 0x02, 0x0F, 0x00, 0x0F, 0x00};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(kivbin::encode_cp(first_of("[a a]")), expected);

    // The string in full once, then 0xC1, its lead and the path [0 0] to the first.
    cell* blk = first_of("[\"abc\"]");
    cell again = *block::rs_head(blk);
    block::rs_append(blk, &again);
    EXPECT_EQ(kivbin::encode_cp(blk), wrap({0x05, 0x02, 0x07, 0x0C, 'a', 'b', 'c', 0xC1, 0x07, 0x02, 0x00, 0x00}));
}

TEST_F(Kivbin, RoundTripsKeepValuesSharingAndCycles)
{
    const char* text =
        "[1 -70000 2.5 -0.0 1e300 #\"x\" #\"^(2603)\" \"text\" \"wide ^(2603)\" "
        "word set: :get 'lit /ref #iss (paren 1) a/b/c none true false 12:30:45 "
        "[nested [deeper [\"s\"]]] \n new-line]";
    cell* blk = first_of(text);
    std::string before = test::mold_at(blk, false, true);
    cell* out = decode(kivbin::encode_cp(blk));
    ASSERT_EQ(block::rs_length(out), 1u);
    EXPECT_EQ(test::mold(*block::rs_head(out), true), before);

    // Two cells over one series at different heads, and a block inside itself.
    cell* outer = first_of("[\"shared\" x]");
    cell view = *block::rs_head(outer);
    view.data1 = 2;
    block::rs_append(outer, &view);
    cell self = *outer;
    block::rs_append(outer, &self);
    cell* back = block::rs_head(decode(kivbin::encode_cp(outer)));
    cell* items = block::rs_head(back);
    EXPECT_EQ(items[0].data2, items[2].data2) << "the string's views share their buffer";
    EXPECT_EQ(items[2].data1, 2u);
    EXPECT_EQ(items[3].data2, back->data2) << "the block holds itself";
}

TEST_F(Kivbin, RefusesMalformedRecords)
{
    const uint32_t invalid = ERR_SCRIPT * 100 + err::KB_INVALID_RECORD;
    struct row {
        const char* what;
        bytes data;
        uint32_t code;
    };
    const row rows[] = {
        {"cut inside a record", wrap({0x07, 0x0C, 'a'}), invalid},
        {"payload past the data", bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 9, 0x80}, invalid},
        {"set-word prefix in codec mode", wrap({0xC4, 0x0F, 0x00}), invalid},
        {"reference before a small integer", wrap({0xC1, 0x85}), invalid},
        {"symbol index without a table", wrap({0x0F, 0x00}), invalid},
        {"unit code 3", wrap({0x07, 0x0F, 'a'}), invalid},
        {"typeset count above 12", wrap({0x21, 13}), invalid},
        {"datatype id 0", wrap({0x40}), invalid},
        {"lead 0xC5", wrap({0xC5}), invalid},
        {"six-byte varint", wrap({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), invalid},
        {"code point past 0x10FFFF", wrap({0x07, 0x06, 0x00, 0x00, 0x11, 0x00}), invalid},
        {"block count past the data", wrap({0x05, 0x7F}), invalid},
        {"path into nothing", wrap({0x05, 0x01, 0xC1, 0x07, 0x01, 0x05}), invalid},
        {"path count 0", wrap({0xFF, 0x00}), invalid},
        {"routine!", wrap({0x1D}), ERR_ACCESS * 100 + err::NO_CODEC},
        {"bad magic", bytes{'K', 'I', 'V', 'B', 'I', 'X', 2, 1, 1, 1, 0x80}, ERR_SCRIPT * 100 + err::INVALID_DATA},
        {"packed body that does not unpack", bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 3, 9, 0, 0, 0, 1, 0, 0, 0},
         ERR_SCRIPT * 100 + err::INVALID_DATA},
    };
    for (const row& r : rows) EXPECT_EQ(raised([&] { decode(r.data); }), r.code) << r.what;

    EXPECT_EQ(raised([&] { decode(wrap({0x05, 0x02, 0x80, 0xC5})); }), invalid);
    EXPECT_EQ(integer_of(&raised_error_get().args[0]), 14) << "the 1-based offset of the bad lead";
}

TEST_F(Kivbin, ReadsAPackedBody)
{
    bytes plain = kivbin::encode_cp(first_of("[\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\" 1 2 3 words here]"));
    bytes body(plain.begin() + 8, plain.end());
    bytes packed = lz::compress(body.data(), body.size());
    bytes data(plain.begin(), plain.begin() + 8);
    data[7] |= kivbin::FLAG_PACKED;
    data.insert(data.end(), packed.begin(), packed.end());
    cell a = *block::rs_head(decode(plain));
    cell b = *block::rs_head(decode(data));
    stack::push(&a);
    stack::push(&b);
    EXPECT_EQ(test::mold(a), test::mold(b));
}

// Cut, bit-flipped and random inputs from a fixed seed, placed against a page that may not be
// touched: each decodes or raises kb-invalid-record, invalid-data or no-codec.
TEST_F(Kivbin, FuzzedInputsDecodeOrRaise)
{
    test::guarded_region input(64 * 1024);
    ASSERT_TRUE(input.ready());
    std::vector<bytes> seeds;
    seeds.push_back(kivbin::encode_cp(first_of("[a b [c \"d\" 1.5 -7 #\"x\"] (e) f/g #h 'j :k l:]")));
    seeds.push_back(kivbin::encode_cp(first_of("[\"wide ^(2603)\" 123456789 none true 3:00]")));
    cell* shared = first_of("[\"s\" x]");
    cell again = *block::rs_head(shared);
    block::rs_append(shared, &again);
    seeds.push_back(kivbin::encode_cp(shared));
    std::mt19937 rng(1210);
    const uint32_t allowed[] = {ERR_SCRIPT * 100 + err::KB_INVALID_RECORD, ERR_SCRIPT * 100 + err::INVALID_DATA,
                                ERR_ACCESS * 100 + err::NO_CODEC, 0};
    for (int iteration = 0; iteration < 3000; iteration++) {
        bytes d = seeds[rng() % seeds.size()];
        switch (rng() % 4) {
        case 0: d.resize(rng() % d.size()); break;
        case 1:
            for (int n = 1 + rng() % 3; n; n--) d[8 + rng() % (d.size() - 8)] ^= uint8_t(1u << (rng() % 8));
            break;
        case 2: d[8 + rng() % (d.size() - 8)] = uint8_t(rng()); break;
        default:
            d.resize(8 + rng() % 48);
            for (size_t i = 8; i < d.size(); i++) d[i] = uint8_t(rng());
        }
        const uint8_t* placed = input.place(d);
        cell* mark = stack::top();
        uint32_t code = raised([&] {
            cell* out = block::make_at(stack::push_slot(), 4);
            kivbin::decode(placed, d.size(), out, kivbin::MODE_CODEC);
        });
        stack_s.top = mark;
        EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), code), std::end(allowed)) << code;
    }
}

}  // namespace
