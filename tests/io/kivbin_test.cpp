// KIVBIN compact records: the byte layouts the format fixes, round trips that keep sharing and
// cycles, the records the decoder must refuse, and a fuzz run of damaged and random inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/op.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/vector.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/lexer.h"
#include "runtime/hashtable.h"
#include "runtime/image_layer.h"
#include "runtime/io/lz.h"
#include "runtime/memory.h"
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
    // A block of a native!, an action!, an op! of an action and an error! whose arg1 and near share
    // one block, pushed.
    cell* callables_and_error()
    {
        cell* blk = first_of("[first]");
        for (const char* name : {"if", "append", "+", "not"}) block::rs_append(blk, word::get(word::load(name)));
        cell* at_near = first_of("[near \"text\"]");
        cell* e = stack::push(error::create(ERR_SCRIPT, err::KB_INVALID_RECORD, at_near));
        *context::get_value_at(e->data1, EF_NEAR) = *at_near;
        block::rs_append(blk, e);
        return blk;
    }
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
        {"native slot 0", wrap({0x15, 0x00, 0x05, 0x00}), invalid},
        {"native slot past the table", wrap({0x15, 0x7F, 0x05, 0x00}), invalid},
        {"action slot 63", wrap({0x16, 0x3F, 0x05, 0x00}), invalid},
        {"native spec not a block", wrap({0x15, 0x01, 0x80}), invalid},
        {"native without its spec", wrap({0x15, 0x01}), invalid},
        {"op! of a function! record cut short", wrap({0x17, 0x18}), invalid},
        {"op! of a function! without two arguments",
         wrap({0x17, 0x18, 0, 0, 0x0E, 0x05, 0x00, 0x05, 0x00, 0x05, 0x00}), invalid},
        {"op! of a path to a block", wrap({0x05, 0x00, 0x17, 0xC1, 0x18, 0x01, 0x00}), invalid},
        {"op! of a native by path", wrap({0x17, 0xC1, 0x15, 0x01, 0x00}), invalid},
        {"op! of a routine!", wrap({0x17, 0x1D}), ERR_ACCESS * 100 + err::NO_CODEC},
        {"error code outside the catalogue", wrap({0x22, 0x8F, 0x4E, 3, 3, 3, 3, 3, 3}), invalid},
        {"error with five fields", wrap({0x22, 0x80, 0x07, 3, 3, 3, 3, 3}), invalid},
        {"function spec that make refuses", wrap({0x18, 1, 0, 0x0E, 0x05, 0x00, 0x05, 0x01, 0x80, 0x05, 0x00}), invalid},
        {"function body not a block", wrap({0x18, 0, 0, 0x0E, 0x05, 0x00, 0x05, 0x00, 0x80}), invalid},
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

// An object with its own context's words: made here as the language's make object! makes one.
cell* make_object(std::initializer_list<const char*> words)
{
    cell* o = object::make_at(stack::push_slot(), uint32_t(words.size()));
    for (const char* w : words) context::add_word(o->data1, symbol::make(w));
    *context::owner_of(o->data1) = *o;
    return o;
}

TEST_F(Kivbin, WritesAnObjectHoldingItselfOnce)
{
    cell* o = make_object({"a", "me"});
    cell one{TYPE_INTEGER, 0, 1, 0};
    *context::get_value_at(o->data1, 0) = one;
    *context::get_value_at(o->data1, 1) = *o;
    bytes got = kivbin::encode_cp(o);
    // class 0; context: kind 2, object bit, values; words 0 and 1; 1; then 0xC1 0x20 and path [0].
    bytes payload = {0x20, 0x00, 0x0E, 0x1A, 0x02, 0x00, 0x01, 0x81, 0xC1, 0x20, 0x01, 0x00};
    ASSERT_GE(got.size(), payload.size());
    EXPECT_EQ(bytes(got.end() - payload.size(), got.end()), payload);

    cell back = *block::rs_head(decode(got));
    ASSERT_EQ(cell_type(&back), TYPE_OBJECT);
    EXPECT_EQ(integer_of(context::get_value_at(back.data1, 0)), 1);
    EXPECT_EQ(context::get_value_at(back.data1, 1)->data1, back.data1) << "the field holds the object itself";
}

TEST_F(Kivbin, WordsKeepTheirObjectContext)
{
    // [w v o]: w and v bound to the object o, whose field w holds the block itself.
    cell* o = make_object({"w", "v"});
    node_ref ctx = o->data1;
    cell* blk = block::make_at(stack::push_slot(), 4);
    cell w{TYPE_WORD, ctx, symbol::make("w"), 0};
    cell v{TYPE_GET_WORD, ctx, symbol::make("v"), 1};
    block::rs_append(blk, &w);
    block::rs_append(blk, &v);
    block::rs_append(blk, o);
    *context::get_value_at(ctx, 0) = *blk;
    cell seven{TYPE_INTEGER, 0, 7, 0};
    *context::get_value_at(ctx, 1) = seven;

    cell back = *block::rs_head(decode(kivbin::encode_cp(blk)));
    stack::push(&back);
    cell* items = block::rs_head(&back);
    node_ref c = items[0].data1;
    EXPECT_EQ(items[1].data1, c) << "both words share the one context";
    EXPECT_EQ(items[2].data1, c) << "and the object is its owner";
    EXPECT_EQ(cell_type(&items[1]), TYPE_GET_WORD);
    EXPECT_EQ(integer_of(context::get_value_at(c, 1)), 7);
    EXPECT_EQ(context::get_value_at(c, 0)->data2, back.data2) << "the field holds the outer block";
}

// The words of a fixed-form binary after its 16-byte header (no symbols).
std::vector<uint32_t> fixed_payload(const bytes& b)
{
    std::vector<uint32_t> words;
    for (size_t i = 16; i + 4 <= b.size(); i += 4) words.push_back(uint32_t(b[i] | b[i + 1] << 8 | b[i + 2] << 16 | uint32_t(b[i + 3]) << 24));
    return words;
}

TEST_F(Kivbin, FixedFormWritesWordsAndAlignsDoubles)
{
    bytes one_five = kivbin::encode(first_of("1.5"));
    EXPECT_EQ(bytes(one_five.begin(), one_five.begin() + 16),
              (bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 12, 0, 0, 0}));
    EXPECT_EQ(fixed_payload(one_five), (std::vector<uint32_t>{0x0C, 0x3FF80000, 0}));
    EXPECT_EQ(fixed_payload(kivbin::encode(first_of("\"ab\""))), (std::vector<uint32_t>{0x107, 0, 2, 0x6261}));
    // After a block's 12 bytes, a none (4) leaves the double aligned; an integer (8) does not.
    cell* with_none = first_of("[x 1.5]");
    *block::rs_head(with_none) = cell{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(fixed_payload(kivbin::encode(with_none)), (std::vector<uint32_t>{5, 0, 2, 3, 0x0C, 0x3FF80000, 0}));
    EXPECT_EQ(fixed_payload(kivbin::encode(first_of("[1 1.5]"))),
              (std::vector<uint32_t>{5, 0, 2, 0x0B, 1, 0, 0x0C, 0x3FF80000, 0}));
    // A symbol named "a" takes 8 bytes of the names area.
    bytes word = kivbin::encode(first_of("a"));
    EXPECT_EQ(word[7], kivbin::FLAG_SYMBOLS);
    EXPECT_EQ(bytes(word.begin() + 16, word.begin() + 36), (bytes{1, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0}));
}

// Callables decode to the value the boot bound for their slot, whatever spec the data holds; an
// error keeps its code and fields, and the block its two fields share stays one.
TEST_F(Kivbin, CallablesAndErrorsRoundTripInBothForms)
{
    cell* blk = callables_and_error();
    for (bool compact : {true, false}) {
        cell back = *block::rs_head(decode(compact ? kivbin::encode_cp(blk) : kivbin::encode(blk)));
        stack::push(&back);
        ASSERT_EQ(block::rs_length(&back), 6u);
        for (uint32_t i = 1; i <= 4; i++) {
            const cell& was = block::rs_head(blk)[i];
            const cell& got = block::rs_head(&back)[i];
            EXPECT_EQ(got.header, was.header) << i << (compact ? " compact" : " fixed");
            EXPECT_EQ(got.data1, was.data1) << i;
            EXPECT_EQ(got.data2, was.data2) << i << ": the registered spec";
        }
        cell e = block::rs_head(&back)[5];
        stack::push(&e);
        ASSERT_EQ(cell_type(&e), TYPE_ERROR);
        EXPECT_EQ(integer_of(context::get_value_at(e.data1, EF_CODE)), int32_t(ERR_SCRIPT * 100 + err::KB_INVALID_RECORD));
        cell arg1 = *context::get_value_at(e.data1, EF_ARG1);
        cell near_field = *context::get_value_at(e.data1, EF_NEAR);
        EXPECT_EQ(test::mold(arg1, true), "[near \"text\"]");
        EXPECT_EQ(arg1.data2, near_field.data2) << "arg1 and near share their block";
    }
    // A spec in the data is not trusted: a record whose spec differs still gives the boot's native.
    const cell* if_native = word::get(word::load("if"));
    cell back = *block::rs_head(decode(wrap({0x15, uint8_t(if_native->data1), 0x05, 0x01, 0x80})));
    EXPECT_EQ(back.data2, if_native->data2);
    // An op! over a native of one argument is refused.
    const cell* not_native = word::get(word::load("not"));
    EXPECT_EQ(raised([&] { decode(wrap({0x17, 0x15, uint8_t(not_native->data1), 0x05, 0x00})); }),
              ERR_SCRIPT * 100 + err::KB_INVALID_RECORD);
}

// A function comes back as a new function of the same spec and body, its body bound to its own
// context; met twice, it is one function.
TEST_F(Kivbin, FunctionsRoundTripInBothForms)
{
    cell* make_block = first_of("[[a b /local c] [c: add a b  reduce [a \"s\"]]]");
    cell proto{TYPE_FUNCTION, 0, 0, 0};
    cell* fn = stack::push(function::make(&proto, make_block, TYPE_FUNCTION));
    cell* blk = first_of("[]");
    block::rs_append(blk, fn);
    block::rs_append(blk, fn);
    std::string molded = test::mold(*fn, true);
    for (bool compact : {true, false}) {
        cell back = *block::rs_head(decode(compact ? kivbin::encode_cp(blk) : kivbin::encode(blk)));
        stack::push(&back);
        ASSERT_EQ(block::rs_length(&back), 2u);
        cell got = block::rs_head(&back)[0];
        cell again = block::rs_head(&back)[1];
        ASSERT_EQ(cell_type(&got), TYPE_FUNCTION) << (compact ? "compact" : "fixed");
        EXPECT_EQ(again.data1, got.data1) << "one function";
        EXPECT_EQ(test::mold(got, true), molded);
        cell more{TYPE_BLOCK, 0, got.data3, 0};
        cell body = block::rs_head(&more)[function::MORE_BODY];
        cell set_c = block::rs_head(&body)[0];
        EXPECT_EQ(cell_type(&set_c), TYPE_SET_WORD);
        EXPECT_EQ(set_c.data1, got.data1) << "the body is bound to the function's own context";
    }
}

// An op! made from a function! is the op's lead and then the function's record: it comes back as an
// op! over a function of the same spec and body, one function with a plain function! value of it
// met before or after, whichever comes first.
TEST_F(Kivbin, OpOfAFunctionRoundTripsInBothForms)
{
    cell proto{TYPE_FUNCTION, 0, 0, 0};
    cell* fn = stack::push(function::make(&proto, first_of("[[a b] [a * 10 + b]]"), TYPE_FUNCTION));
    cell op_proto{TYPE_OP, 0, 0, 0};
    cell* infix = stack::push(op::make(&op_proto, fn, TYPE_OP));
    std::string molded = test::mold(*infix, true);
    for (bool op_first : {true, false}) {
        cell* blk = first_of("[]");
        block::rs_append(blk, op_first ? infix : fn);
        block::rs_append(blk, op_first ? fn : infix);
        block::rs_append(blk, infix);
        for (bool compact : {true, false}) {
            std::string where = std::string(compact ? "compact" : "fixed") + (op_first ? ", op first" : ", function first");
            cell back = *block::rs_head(decode(compact ? kivbin::encode_cp(blk) : kivbin::encode(blk)));
            stack::push(&back);
            ASSERT_EQ(block::rs_length(&back), 3u) << where;
            cell items[3] = {block::rs_head(&back)[0], block::rs_head(&back)[1], block::rs_head(&back)[2]};
            const cell& op_back = items[op_first ? 0 : 1];
            const cell& fn_back = items[op_first ? 1 : 0];
            EXPECT_EQ(op_back.header, uint32_t(TYPE_OP | TYPE_FUNCTION << op::WRAPPED_SHIFT)) << where;
            EXPECT_EQ(items[2].header, op_back.header) << where;
            EXPECT_EQ(cell_type(&fn_back), TYPE_FUNCTION) << where;
            EXPECT_EQ(fn_back.data1, op_back.data1) << where << ": one function";
            EXPECT_EQ(items[2].data1, op_back.data1) << where;
            EXPECT_EQ(test::mold(op_back, true), molded) << where;
            cell more{TYPE_BLOCK, 0, op_back.data3, 0};
            cell body = block::rs_head(&more)[function::MORE_BODY];
            EXPECT_EQ(block::rs_head(&body)[0].data1, op_back.data1) << where << ": the body is bound to its context";
        }
    }
    // The fixed form names the wrapped type twice: an op header that disagrees with the record after it.
    cell* alone = first_of("[]");
    block::rs_append(alone, infix);
    bytes compact = kivbin::encode_cp(alone);
    const uint8_t compact_lead[] = {0x17, 0x18};
    EXPECT_NE(std::search(compact.begin(), compact.end(), std::begin(compact_lead), std::end(compact_lead)), compact.end())
        << "the op's lead, then the function record's";
    bytes fixed = kivbin::encode(alone);
    const uint8_t lead[] = {TYPE_OP, 0, TYPE_FUNCTION, 0};
    auto at = std::search(fixed.begin(), fixed.end(), std::begin(lead), std::end(lead));
    ASSERT_NE(at, fixed.end());
    at[2] = TYPE_NATIVE;
    EXPECT_EQ(raised([&] { decode(fixed); }), ERR_SCRIPT * 100 + err::KB_INVALID_RECORD);
}

TEST_F(Kivbin, FixedFormRoundTrips)
{
    cell* blk = first_of("[1 -70000 2.5 #\"x\" \"text\" \"wide ^(2603)\" word set: :get 'lit /ref #iss (paren 1) a/b/c "
                         "none true 12:30:45 [nested [\"s\"]] \n new-line]");
    cell view = *block::rs_head(blk);
    block::rs_append(blk, blk);   // the block inside itself
    cell back = *block::rs_head(decode(kivbin::encode(blk)));
    stack::push(&back);
    EXPECT_EQ(block::rs_length(&back), block::rs_length(blk));
    cell* items = block::rs_head(&back);
    EXPECT_EQ(items[block::rs_length(&back) - 1].data2, back.data2);
    cell first_back = *items;   // before anything allocates
    EXPECT_EQ(test::mold(first_back, true), test::mold(view, true));
    EXPECT_EQ(raised([&] { decode(bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0}); }),
              ERR_SCRIPT * 100 + err::INVALID_DATA) << "fewer than 8 bytes of fixed body";
}

TEST_F(Kivbin, DatesAndMoneyRoundTripInBothFormsAndAreChecked)
{
    const char* text = "[1-Jan-2000 5-Mar-2024/14:30:15.5+05:30 1/Jan/-0044/0:00-03:45 $0 -USD$1234.56789 "
                       "EUR$99999999999999999.99999]";
    for (bool compact : {true, false}) {
        cell* blk = first_of(text);
        cell back = *block::rs_head(decode(compact ? kivbin::encode_cp(blk) : kivbin::encode(blk)));
        stack::push(&back);
        ASSERT_EQ(block::rs_length(&back), block::rs_length(blk));
        for (uint32_t i = 0; i < block::rs_length(blk); i++) {
            cell a = block::rs_head(blk)[i], b = block::rs_head(&back)[i];
            EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "value " << i << (compact ? " compact" : " fixed");
        }
    }
    EXPECT_EQ(kivbin::encode_cp(first_of("1-Jan-2000")), wrap({0x2F, 0x80, 0x10, 0xA0, 0x0F}));
    const uint32_t invalid = ERR_SCRIPT * 100 + err::KB_INVALID_RECORD;
    struct row {
        const char* what;
        bytes data;
    };
    const row rows[] = {
        {"time flag without the has-time bit", wrap({0x6F, 0x80, 0x10, 0xA0, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"month 13", wrap({0x2F, 0x80, 0xD0, 0xA0, 0x0F})},
        {"30 February", wrap({0x2F, 0x00, 0x2F, 0xA0, 0x0F})},
        {"date cut short", wrap({0x2F, 0x80, 0x10})},
        {"digit nibble 10", wrap({0x31, 0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"currency past the list", wrap({0x31, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"money cut short", wrap({0x31, 0, 0, 0})},
    };
    for (const row& r : rows) EXPECT_EQ(raised([&] { decode(r.data); }), invalid) << r.what;
}

// The cells a block decodes to, compared word for word with the block's own, in both forms.
void expect_identical_round_trips(cell* blk, const char* what)
{
    for (bool compact : {true, false}) {
        bytes data = compact ? kivbin::encode_cp(blk) : kivbin::encode(blk);
        cell* out = block::make_at(stack::push_slot(), 4);
        kivbin::decode(data.data(), data.size(), out, kivbin::MODE_CODEC);
        cell back = *block::rs_head(out);
        stack::push(&back);
        ASSERT_EQ(block::rs_length(&back), block::rs_length(blk)) << what;
        for (uint32_t i = 0; i < block::rs_length(blk); i++) {
            cell a = block::rs_head(blk)[i], b = block::rs_head(&back)[i];
            EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << what << " value " << i << (compact ? " compact" : " fixed");
        }
    }
}

// A fixed-form binary without symbols around a payload of words.
bytes wrap_fixed(const std::vector<uint32_t>& words)
{
    bytes b = {'K', 'I', 'V', 'B', 'I', 'N', 2, 0};
    uint32_t size = uint32_t(4 * words.size());
    for (uint32_t w : std::vector<uint32_t>{1, size}) b.insert(b.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)});
    for (uint32_t w : words) b.insert(b.end(), {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)});
    return b;
}

TEST_F(Kivbin, TuplesPairsAndPointsRoundTripInBothFormsAndAreChecked)
{
    cell* blk = first_of("[1.2.3 1.2.3.4 1.2.3.4.5.6.7.8.9.10.11.255 3x-4 -2147483648x2147483647 0x0]");
    block::rs_append(blk, point2D::push(1.5f, -0.0f));
    block::rs_append(blk, point3D::push(-2.25f, 1e30f, 3.0f));
    block::rs_head(blk)[1].header |= HEADER_NEW_LINE;
    expect_identical_round_trips(blk, "tuples, pairs and points");

    struct layout {
        const char* text;
        bytes payload;
    };
    const layout layouts[] = {
        {"1.2.3", {0x27, 1, 2, 3}},
        {"1.2.3.4", {0x67, 4, 1, 2, 3, 4}},
        {"3x-4", {0x25, 0x06, 0x07}},
    };
    for (const layout& l : layouts) EXPECT_EQ(kivbin::encode_cp(first_of(l.text)), wrap(l.payload)) << l.text;
    EXPECT_EQ(kivbin::encode_cp(point2D::push(1.5f, 2.0f)), wrap({0x33, 0, 0, 0xC0, 0x3F, 0, 0, 0, 0x40}));
    EXPECT_EQ(kivbin::encode(first_of("1.2.3.4")), wrap_fixed({0x0427, 0x04030201, 0, 0}));

    const uint32_t invalid = ERR_SCRIPT * 100 + err::KB_INVALID_RECORD;
    struct refused {
        const char* what;
        bytes data;
    };
    const refused rows[] = {
        {"tuple of 2 bytes", wrap({0x67, 2, 1, 2})},
        {"tuple of 13 bytes", wrap({0x67, 13, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13})},
        {"tuple cut short", wrap({0x27, 1, 2})},
        {"pair without y", wrap({0x25, 0x06})},
        {"point3D without z", wrap({0x34, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"fixed tuple of 2 bytes", wrap_fixed({0x0227, 0x0201, 0, 0})},
        {"fixed tuple of 13 bytes", wrap_fixed({0x0D27, 0, 0, 0})},
        {"fixed tuple cut short", wrap_fixed({0x0327, 0x030201})},
        {"fixed point2D without y", wrap_fixed({0x33, 0})},
    };
    for (const refused& r : rows) EXPECT_EQ(raised([&] { decode(r.data); }), invalid) << r.what;
    // The bytes past a fixed tuple's count are dropped, so equal tuples keep equal words.
    cell back = *block::rs_head(decode(wrap_fixed({0x0327, 0xFF030201, 0xFFFFFFFF, 0})));
    EXPECT_EQ(back.data1, 0x030201u);
    EXPECT_EQ(back.data2, 0u);
}

TEST_F(Kivbin, BitsetsKeepBitsComplementAndSharingInBothForms)
{
    cell* plain = bitset::make_from_spec(first_of("\"A\""), bitset::CALLER_MAKE);
    EXPECT_EQ(kivbin::encode_cp(plain), wrap({0x1E, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0x40}));
    cell* blk = first_of("[]");
    block::rs_append(blk, plain);
    cell* other = bitset::make_from_spec(first_of("\"az\""), bitset::CALLER_MAKE);
    series_of(other->data2)->flags |= SERIES_COMPLEMENT;
    block::rs_append(blk, other);
    block::rs_append(blk, plain);
    for (bool compact : {true, false}) {
        cell back = *block::rs_head(decode(compact ? kivbin::encode_cp(blk) : kivbin::encode(blk)));
        stack::push(&back);
        ASSERT_EQ(block::rs_length(&back), 3u);
        cell* items = block::rs_head(&back);
        EXPECT_EQ(items[0].data2, items[2].data2) << "one bitset met twice is shared";
        for (uint32_t i = 0; i < 2; i++) {
            cell* a = block::rs_head(blk) + i;
            EXPECT_EQ(bitset::complement_q(items + i), bitset::complement_q(a)) << i;
            series_buffer* x = series_of(a->data2);
            series_buffer* y = series_of(items[i].data2);
            ASSERT_EQ(y->tail - y->head, x->tail - x->head) << i;
            EXPECT_EQ(std::memcmp(at<uint8_t>(x->head), at<uint8_t>(y->head), x->tail - x->head), 0) << i;
        }
    }
    const uint32_t invalid = ERR_SCRIPT * 100 + err::KB_INVALID_RECORD;
    struct refused {
        const char* what;
        bytes data;
    };
    const refused rows[] = {
        {"count past the data", wrap({0x1E, 3, 0xFF, 0xFF})},
        {"fixed count past the data", wrap_fixed({0x1E, 5, 0xFFFFFFFF})},
        {"path to a string", wrap({0x05, 0x02, 0x07, 0x04, 'a', 0xC1, 0x1E, 0x02, 0x00, 0x00})},
    };
    for (const refused& r : rows) EXPECT_EQ(raised([&] { decode(r.data); }), invalid) << r.what;
}

TEST_F(Kivbin, VectorsKeepLayoutHeadAndSharingInBothForms)
{
    cell proto{TYPE_VECTOR, 0, 0, 0};
    EXPECT_EQ(kivbin::encode_cp(vector::make(&proto, first_of("[integer! 8 2 [1 2]]"), TYPE_VECTOR)),
              wrap({0x23, 0x2C, 2, 1, 2}));
    cell* blk = first_of("[]");
    for (const char* spec : {"[integer! 16 3 [1 -2 300]]", "[char! 32 2 [#\"a\" #\"^(2603)\"]]",
                             "[float! 32 2 [1.5 -2.25]]", "[float! 64 1 [1e300]]", "[percent! 2 [50% 1%]]"})
        block::rs_append(blk, stack::push(vector::make(&proto, first_of(spec), TYPE_VECTOR)));
    cell view = block::rs_head(blk)[0];
    view.data1 = 1;
    block::rs_append(blk, &view);
    for (bool compact : {true, false}) {
        cell back = *block::rs_head(decode(compact ? kivbin::encode_cp(blk) : kivbin::encode(blk)));
        stack::push(&back);
        ASSERT_EQ(block::rs_length(&back), block::rs_length(blk));
        for (uint32_t i = 0; i < block::rs_length(blk); i++) {
            cell a = block::rs_head(blk)[i], b = block::rs_head(&back)[i];
            EXPECT_EQ(b.data3, a.data3) << i;
            EXPECT_EQ(b.data1, a.data1) << i;
            EXPECT_EQ(series_unit(series_of(b.data2)), series_unit(series_of(a.data2))) << i;
            EXPECT_EQ(test::mold(b, true), test::mold(a, true)) << i << (compact ? " compact" : " fixed");
        }
        EXPECT_EQ(block::rs_head(&back)[5].data2, block::rs_head(&back)[0].data2) << "two views share one buffer";
    }
    const uint32_t invalid = ERR_SCRIPT * 100 + err::KB_INVALID_RECORD;
    struct refused {
        const char* what;
        bytes data;
    };
    const refused rows[] = {
        {"float! of 1 byte", wrap({0x23, 0x30, 1, 0})},
        {"percent! of 4 bytes", wrap({0x23, 0x9A, 1, 0, 0, 0, 0})},
        {"element type string!", wrap({0x23, 0x1C, 1, 0})},
        {"count past the data", wrap({0x23, 0x2E, 5, 0, 0})},
        {"char! past 0x10FFFF", wrap({0x23, 0x2A, 1, 0, 0, 0x11, 0})},
        {"fixed unit 3", wrap_fixed({0x0323, 0, 1, 11, 0})},
        {"fixed count past the data", wrap_fixed({0x0423, 0, 9, 11, 0})},
        {"string over a vector's buffer", wrap({0x05, 0x02, 0x23, 0x2E, 1, 0x41, 0, 0, 0, 0xC1, 0x07, 0x02, 0x00, 0x00})},
    };
    for (const refused& r : rows) EXPECT_EQ(raised([&] { decode(r.data); }), invalid) << r.what;
}

TEST_F(Kivbin, MapsWriteLiveEntriesAndKeepSharingInBothForms)
{
    cell* m = map::from_block(first_of("[1 2 3 4]"));
    EXPECT_EQ(kivbin::encode_cp(m), wrap({0x28, 4, 0x81, 0x82, 0x83, 0x84}));
    at<cell>(series_of(m->data2)->head)[1].header = 0;   // the entry of key 1 removed
    hashtable_record(m->data3)->live--;
    EXPECT_EQ(kivbin::encode_cp(m), wrap({0x28, 2, 0x83, 0x84}));

    // One block as two values, and the map as a value of itself.
    cell* held = map::from_block(first_of("[a [x y] \"k\" 1.5]"));
    cell blk = at<cell>(series_of(held->data2)->head)[1];
    cell* key = first_of("b");
    map::put_pair(held, key, &blk, false);
    map::put_pair(held, first_of("self"), held, false);
    for (bool compact : {true, false}) {
        cell back = *block::rs_head(decode(compact ? kivbin::encode_cp(held) : kivbin::encode(held)));
        stack::push(&back);
        ASSERT_EQ(cell_type(&back), TYPE_MAP);
        EXPECT_EQ(map::count(&back), 4);
        const cell* entries = at<cell>(series_of(back.data2)->head);
        EXPECT_EQ(entries[5].data2, entries[1].data2) << "the block met twice is shared";
        EXPECT_EQ(entries[7].data2, back.data2) << "the map holds itself";
        EXPECT_EQ(test::mold(entries[3], true), "1.5");
        EXPECT_EQ(test::mold_at(stack::push(&back), false, true), test::mold_at(held, false, true))
            << (compact ? "compact" : "fixed");
    }
    const uint32_t invalid = ERR_SCRIPT * 100 + err::KB_INVALID_RECORD;
    struct refused {
        const char* what;
        bytes data;
    };
    const refused rows[] = {
        {"odd count", wrap({0x28, 1, 0x81})},
        {"count past the data", wrap({0x28, 6, 0x81, 0x82})},
        {"key met twice", wrap({0x28, 4, 0x81, 0x82, 0x81, 0x83})},
        {"block as a key", wrap({0x28, 2, 0x05, 0x00, 0x81})},
        {"value missing", wrap({0x28, 2, 0x81})},
        {"fixed odd count", wrap_fixed({0x28, 1, 0x0B, 1})},
        {"path to a block", wrap({0x05, 0x02, 0x05, 0x00, 0xC1, 0x28, 0x02, 0x00, 0x00})},
    };
    for (const refused& r : rows) EXPECT_EQ(raised([&] { decode(r.data); }), invalid) << r.what;
}

TEST_F(Kivbin, ImagesKeepPixelsHeadAndSharingInBothForms)
{
    const uint32_t pixels[] = {0xFF112233u, 0xFFAABBCCu};
    cell* img = stack::push_slot();
    ASSERT_TRUE(image_new_bitmap(img, 2, 1, 0, pixels));
    EXPECT_EQ(kivbin::encode_cp(img), wrap({0x35, 2, 1, 0x33, 0x22, 0x11, 0xFF, 0xCC, 0xBB, 0xAA, 0xFF}));
    cell* blk = first_of("[]");
    block::rs_append(blk, img);
    cell view = *img;
    view.data1 = 1;
    block::rs_append(blk, &view);
    cell* empty = stack::push_slot();
    image_new(empty, 0, 3);
    block::rs_append(blk, empty);
    for (bool compact : {true, false}) {
        cell back = *block::rs_head(decode(compact ? kivbin::encode_cp(blk) : kivbin::encode(blk)));
        cell* held = stack::push(&back);
        ASSERT_EQ(block::rs_length(held), 3u);
        cell first = block::rs_head(held)[0], second = block::rs_head(held)[1], third = block::rs_head(held)[2];
        EXPECT_EQ(second.data2, first.data2) << "two views share one record";
        EXPECT_EQ(second.data1, 1u);
        EXPECT_EQ(first.data3, img->data3) << "the size";
        EXPECT_EQ(image_cell_height(&third), 3u);
        EXPECT_EQ(image_get_pixel(&first, 0), pixels[0]) << (compact ? "compact" : "fixed");
        EXPECT_EQ(image_get_pixel(&first, 1), pixels[1]) << (compact ? "compact" : "fixed");
    }
    const uint32_t invalid = ERR_SCRIPT * 100 + err::KB_INVALID_RECORD;
    struct refused {
        const char* what;
        bytes data;
    };
    const refused rows[] = {
        {"width 65536", wrap({0x35, 0x80, 0x80, 0x04, 1})},
        {"pixels past the data", wrap({0x35, 2, 2, 0, 0, 0, 0})},
        {"65535 x 65535 pixels", wrap({0x35, 0xFF, 0xFF, 0x03, 0xFF, 0xFF, 0x03, 0, 0, 0, 0})},
        {"fixed pixels past the data", wrap_fixed({0x35, 0, 2 | 2 << 16, 0})},
        {"path to a string", wrap({0x05, 0x02, 0x07, 0x04, 'a', 0xC1, 0x35, 0x02, 0x00, 0x00})},
        {"string over an image", wrap({0x05, 0x02, 0x35, 1, 1, 0, 0, 0, 0xFF, 0xC1, 0x07, 0x02, 0x00, 0x00})},
    };
    for (const refused& r : rows) EXPECT_EQ(raised([&] { decode(r.data); }), invalid) << r.what;
}

// Cut, bit-flipped and random inputs of both forms from a fixed seed, plain and with packed bodies, each
// placed right after or right before a page that may not be touched: each decodes or raises
// kb-invalid-record, invalid-data or no-codec.
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
    seeds.push_back(kivbin::encode_cp(first_of("[5-Mar-2024/14:30+05:30 1-Jan-2000 -USD$12.5 $0.00001]")));
    seeds.push_back(kivbin::encode(first_of("[5-Mar-2024/14:30+05:30 -USD$12.5]")));
    seeds.push_back(kivbin::encode(shared));
    seeds.push_back(kivbin::encode(first_of("[a \"wide ^(2603)\" 1.5 [b] #c]")));
    cell* o = make_object({"me", "w"});
    *context::get_value_at(o->data1, 0) = *o;
    *context::get_value_at(o->data1, 1) = cell{TYPE_WORD, o->data1, symbol::make("me"), 0};
    seeds.push_back(kivbin::encode_cp(o));
    seeds.push_back(kivbin::encode(o));
    cell fn_proto{TYPE_FUNCTION, 0, 0, 0};
    cell* fn = stack::push(function::make(&fn_proto, first_of("[[a /local b] [b: a  [b \"t\"]]]"), TYPE_FUNCTION));
    seeds.push_back(kivbin::encode_cp(fn));
    seeds.push_back(kivbin::encode(fn));
    cell op_proto{TYPE_OP, 0, 0, 0};
    cell* infix = stack::push(op::make(&op_proto, stack::push(function::make(&fn_proto, first_of("[[a b] [a + b]]"), TYPE_FUNCTION)), TYPE_OP));
    cell* ops = first_of("[]");
    block::rs_append(ops, infix);
    block::rs_append(ops, infix);
    seeds.push_back(kivbin::encode_cp(ops));
    seeds.push_back(kivbin::encode(ops));
    cell* callables = callables_and_error();
    seeds.push_back(kivbin::encode_cp(callables));
    seeds.push_back(kivbin::encode(callables));
    cell* scalars = first_of("[1.2.3 1.2.3.4.5 3x-4]");
    block::rs_append(scalars, point2D::push(1.5f, 2.0f));
    block::rs_append(scalars, point3D::push(1.0f, 2.0f, 3.0f));
    block::rs_append(scalars, bitset::make_from_spec(first_of("\"az\""), bitset::CALLER_MAKE));
    cell bits = block::rs_head(scalars)[5];
    block::rs_append(scalars, &bits);
    cell vector_proto{TYPE_VECTOR, 0, 0, 0};
    block::rs_append(scalars, stack::push(vector::make(&vector_proto, first_of("[float! 32 2 [1.5 2.5]]"), TYPE_VECTOR)));
    cell vector_view = block::rs_head(scalars)[7];
    vector_view.data1 = 1;
    block::rs_append(scalars, &vector_view);
    cell* seed_map = map::from_block(first_of("[a [x] \"k\" 1.5 3 4]"));
    map::put_pair(seed_map, first_of("self"), seed_map, false);
    block::rs_append(scalars, seed_map);
    const uint32_t seed_pixels[] = {0xFF010203u, 0x80405060u, 0, 0xFFFFFFFFu};
    cell* seed_image = stack::push_slot();
    ASSERT_TRUE(image_new_bitmap(seed_image, 2, 2, 0, seed_pixels));
    block::rs_append(scalars, seed_image);
    seeds.push_back(kivbin::encode_cp(scalars));
    seeds.push_back(kivbin::encode(scalars));
    std::mt19937 rng(1210);
    const uint32_t allowed[] = {ERR_SCRIPT * 100 + err::KB_INVALID_RECORD, ERR_SCRIPT * 100 + err::INVALID_DATA,
                                ERR_ACCESS * 100 + err::NO_CODEC, 0};
    auto mutate = [&](bytes& d) {
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
    };
    // Each seed with its body packed; and a body packed as literals alone, a record lz::compress
    // could write too, made without its cost (tables of a whole block for every call).
    auto packed_header = [](const bytes& plain) {
        bytes d(plain.begin(), plain.begin() + 8);
        d[7] |= kivbin::FLAG_PACKED;
        return d;
    };
    std::vector<bytes> packed_seeds;
    for (const bytes& plain : seeds) {
        bytes d = packed_header(plain);
        bytes body = lz::compress(plain.data() + 8, plain.size() - 8);
        d.insert(d.end(), body.begin(), body.end());
        packed_seeds.push_back(d);
    }
    auto literals = [&](const bytes& plain) {
        bytes d = packed_header(plain);
        uint32_t n = uint32_t(plain.size() - 8);
        bytes stream;
        uint32_t acc = 0, count = 0;
        for (size_t i = 8; i < plain.size(); i++) {
            acc |= uint32_t(plain[i]) << (count + 1);   // a 0 bit, then the byte from its low bit
            for (count += 9; count >= 8; count -= 8, acc >>= 8) stream.push_back(uint8_t(acc));
        }
        if (count) stream.push_back(uint8_t(acc));
        std::vector<uint32_t> words = {uint32_t(stream.size() + 4), n, n};
        if (n == 0) words = {0, 0};   // no block at all
        for (uint32_t word : words)
            for (int k = 0; k < 4; k++) d.push_back(uint8_t(word >> (8 * k)));
        d.insert(d.end(), stream.begin(), stream.end());
        return d;
    };
    for (const bytes& plain : seeds) {
        bytes record = literals(plain), out;
        ASSERT_TRUE(lz::decompress(record.data() + 8, record.size() - 8, &out));
        ASSERT_TRUE(std::equal(out.begin(), out.end(), plain.begin() + 8, plain.end()));
    }
    for (int iteration = 0; iteration < 5000; iteration++) {
        size_t seed = rng() % seeds.size();
        bytes d = seeds[seed];
        if (iteration < 3000) {
            mutate(d);
        } else if (rng() % 2) {
            // A damaged body behind a well-formed packed record reaches the record decoder.
            mutate(d);
            if (d.size() < 8) d.resize(8);
            d = literals(d);
        } else {
            // A damaged packed record reaches the LZ decoder.
            d = packed_seeds[seed];
            mutate(d);
        }
        const uint8_t* placed = iteration % 2 ? input.place(d) : input.place_first(d);
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
