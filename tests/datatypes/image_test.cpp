// image!: make and its text, the pixel and tuple mapping, positions, paste, copies of rectangles,
// paths, comparison, the errors (each leaving no lock behind) and the decoding entries.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/hooks.h"
#include "support/images.h"

namespace {

using namespace img;
using ImageTest = test::StackTest;

std::string mold(cell* v) { return test::mold_at(v); }
std::string form(cell* v) { return test::form_at(v); }
int32_t index_of(const cell* v) { return int32_t(v->data1) + 1; }

// The cell given as a refinement argument: above the arguments base.
cell* given(cell v) { return stack::push(&v); }

cell* make_3x3()
{
    // Pixel i has the colour i.i.i, so a pixel names its own index.
    bytes rgb;
    for (uint8_t i = 0; i < 9; i++) rgb.insert(rgb.end(), {i, i, i});
    return make({pair(3, 3), *binary(rgb)});
}

TEST_F(ImageTest, MakeAndMold)
{
    struct row { std::function<cell*()> make; std::string mold; };
    const row rows[] = {
        {[] { return make(2, 2); }, "make image! [2x2 #{FFFFFFFFFFFFFFFFFFFFFFFF}]"},
        {[] { return make(-3, 2); }, "make image! [0x2 #{}]"},
        {[] { return make({pair(2, 1), *binary(unhex("FF000000FF00")), *binary(unhex("00FF"))}); },
         "make image! [2x1 #{FF000000FF00} #{\n    00FF\n}]"},
        {[] { return make({pair(3, 1), *binary(unhex("01020304050607"))}); }, "make image! [3x1 #{010203040506FFFFFF}]"},
        {[] { return make({pair(2, 1), tuple(255, 0, 0, 255)}); }, "make image! [2x1 #{FF0000FF0000} #{\n    FFFF\n}]"},
        {[] { return make({pair(1, 1), tuple(1, 2, 3)}); }, "make image! [1x1 #{010203}]"},
        // At least 31 bytes: one pixel block per line of ten, the closing brace one level out.
        {[] { return make(3, 3); }, "make image! [3x3 #{\n    FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\n}]"},
        {[] { return make(11, 1); },
         "make image! [11x1 #{\n    " + std::string(60, 'F') + "\n    FFFFFF\n}]"},
        // The pixels from the head on; the size stays the image's.
        {[] { cell* i = make({pair(2, 1), *binary(unhex("FF000000FF00"))}); i->data1 = 1; return i; },
         "make image! [2x1 #{00FF00}]"},
    };
    for (const row& r : rows) EXPECT_EQ(mold(r.make()), r.mold);
}

TEST_F(ImageTest, FormDoesNotIndentAndPartStopsEarly)
{
    cell* i = make({pair(2, 1), tuple(255, 0, 0, 255)});
    EXPECT_EQ(form(i), "make image! [2x1 #{FF0000FF0000} #{\nFFFF\n}]");
    cell* out = string::make_at(stack::push_slot(), 16, 1);
    int32_t left = image::mold(make(100, 100), out, false, false, false, given(integer(20)), 20, 0);
    EXPECT_LE(left, 0);
    EXPECT_LT(string::utf8_copy(out).size(), 100u) << "a part limit must stop the walk, not mold every pixel";
}

TEST_F(ImageTest, MakeErrors)
{
    cell proto = datatype::value_of(TYPE_IMAGE);
    struct row { const char* name; std::function<void()> make; uint32_t error; };
    const row rows[] = {
        {"wide", [] { make(70000, 1); }, code(ERR_SCRIPT, err::OUT_OF_RANGE)},
        {"tall", [] { make(1, 65536); }, code(ERR_SCRIPT, err::OUT_OF_RANGE)},
        {"bytes past 2^31 - 1", [] { make(30000, 30000); }, code(ERR_INTERNAL, err::NO_MEMORY)},
        {"empty block, no image", [&] { image::make(&proto, block::push_only_star(1), TYPE_IMAGE); },
         code(ERR_SCRIPT, err::INVALID_ARG)},
        {"size not a pair", [] { make({integer(2)}); }, code(ERR_SCRIPT, err::INVALID_ARG)},
        {"colour neither binary nor tuple", [] { make({pair(2, 2), integer(1)}); }, code(ERR_SCRIPT, err::INVALID_ARG)},
        {"alpha not a binary", [] { make({pair(2, 2), *binary({}), tuple(1, 2, 3)}); }, code(ERR_SCRIPT, err::INVALID_ARG)},
        {"other spec", [] { make(integer(3)); }, code(ERR_SCRIPT, err::BAD_TO_ARG)},
    };
    for (const row& r : rows) EXPECT_EQ(raised(r.make), r.error) << r.name;
}

TEST_F(ImageTest, MakeFromAnImageCopiesIt)
{
    cell* original = make({pair(2, 1), tuple(9, 8, 7)});
    cell* spec = block::push_only_star(1);
    cell* copy = image::make(original, spec, TYPE_IMAGE);
    EXPECT_NE(copy->data2, original->data2);
    EXPECT_EQ(pixels(copy), pixels(original));
}

TEST_F(ImageTest, PixelsReadAsTuplesWithATransparency)
{
    cell* i = make({pair(2, 1), *binary(unhex("FF000000FF00")), *binary(unhex("00FF"))});
    struct row { cell index; const char* pick; };
    const row rows[] = {{integer(1), "255.0.0.0"}, {integer(2), "0.255.0.255"}, {pair(2, 1), "0.255.0.255"},
                        {integer(0), "none"},      {integer(3), "none"},        {integer(-1), "none"},
                        {pair(3, 1), "none"},      {pair(1, 2), "none"}};
    for (const row& r : rows) {
        cell* v = stack::push(i);
        cell index = r.index;
        image::pick(v, int32_t(index.data2), &index);
        EXPECT_EQ(tuple_text(*v), r.pick) << r.index.data2 << "x" << r.index.data3;
    }
}

TEST_F(ImageTest, DataPaths)
{
    cell* i = make({pair(2, 1), *binary(unhex("FF000000FF00")), *binary(unhex("00FF"))});
    cell out;
    EXPECT_EQ(hex(bytes_of(image::extract_data(i, image::MODE_ARGB, &out))), "0000FFFF00FF0000");
    EXPECT_EQ(hex(bytes_of(image::extract_data(i, image::MODE_RGB, &out))), "FF000000FF00");
    EXPECT_EQ(hex(bytes_of(image::extract_data(i, image::MODE_ALPHA, &out))), "00FF");
    EXPECT_EQ(hex(bytes_of(image::extract_data(make(2, 1), image::MODE_ALPHA, &out))), "0000");
    EXPECT_EQ(hex(bytes_of(image::extract_data(make(0, 3), image::MODE_RGB, &out))), "");

    struct row { const char* name; uint32_t mode; std::function<cell()> value; const char* argb; };
    const row rows[] = {
        // Short data changes the first pixels only; long data stops at the last pixel.
        {"rgb short", image::MODE_RGB, [] { return *binary(unhex("010203")); }, "030201FFFFFFFFFF"},
        {"rgb long", image::MODE_RGB, [] { return *binary(unhex("010203040506070809")); }, "030201FF060504FF"},
        {"alpha keeps colour", image::MODE_ALPHA, [] { return *binary(unhex("FF")); }, "FFFFFF00FFFFFFFF"},
        {"argb long", image::MODE_ARGB, [] { return *binary(unhex("0102030405060708090A")); }, "0102030405060708"},
        {"argb tuple", image::MODE_ARGB, [] { return tuple(1, 2, 3, 4); }, "030201FB030201FB"},
        {"argb 3-byte tuple", image::MODE_ARGB, [] { return tuple(1, 2, 3); }, "030201FF030201FF"},
        {"rgb tuple", image::MODE_RGB, [] { return tuple(9, 8, 7, 6); }, "070809FF070809FF"},
        {"alpha integer", image::MODE_ALPHA, [] { return integer(0x55); }, "FFFFFFAAFFFFFFAA"},
        {"argb integer", image::MODE_ARGB, [] { return integer(0x01020304); }, "020304FE020304FE"},
    };
    for (const row& r : rows) {
        cell* target = make(2, 1);
        cell value = r.value();
        image::set_data(target, &value, r.mode);
        EXPECT_EQ(hex(bytes_of(image::extract_data(target, image::MODE_ARGB, &out))), r.argb) << r.name;
    }
    cell text = *string::make_at(stack::push_slot(), 4, 1);
    EXPECT_EQ(raised([&] { image::set_data(i, &text, image::MODE_RGB); }), code(ERR_SCRIPT, err::INVALID_ARG));
}

TEST_F(ImageTest, EvalPath)
{
    cell* i = make(2, 2);
    auto path = [&](cell element, const cell* value) {
        return image::eval_path(i, &element, const_cast<cell*>(value), &element, nullptr, nullptr, 0, false,
                                !value, false, true);
    };
    cell size = *path(*word::load("size"), nullptr);
    EXPECT_TRUE(cell_type(&size) == TYPE_PAIR && size.data2 == 2 && size.data3 == 2);
    cell red = tuple(255, 0, 0);
    path(pair(2, 2), &red);
    EXPECT_EQ(tuple_text(*path(integer(4), nullptr)), "255.0.0.0");
    cell* rgb = binary(unhex("0A0B0C"));
    path(*word::load("rgb"), rgb);
    EXPECT_EQ(hex(bytes_of(path(*word::load("rgb"), nullptr))), "0A0B0CFFFFFFFFFFFFFF0000");
    cell ten = pair(10, 10);
    EXPECT_EQ(raised([&] { path(*word::load("size"), &ten); }), code(ERR_SCRIPT, err::INVALID_PATH));
    EXPECT_EQ(raised([&] { path(*word::load("color"), nullptr); }), code(ERR_SCRIPT, err::INVALID_PATH));
}

TEST_F(ImageTest, Positions)
{
    cell* i = make_3x3();
    cell two_two = pair(2, 2), zero = integer(0), one = integer(1), big = integer(2147483647);
    EXPECT_EQ(index_of(image::at(stack::push(i), &two_two)), 5);
    EXPECT_EQ(index_of(image::at(stack::push(i), &zero)), index_of(image::at(stack::push(i), &one)));
    cell* small = make(2, 2);
    cell three = integer(3);
    EXPECT_EQ(index_of(image::at(image::at(stack::push(small), &three), &big)), 5) << "64-bit: no wrap to the head";
    cell back = integer(-2147483647 - 1);
    EXPECT_EQ(index_of(image::skip(image::at(stack::push(small), &three), &back)), 1);
    cell* tail = image::tail(stack::push(i));
    EXPECT_EQ(index_of(tail), 10);
    EXPECT_EQ(index_of(image::next(tail)), 10) << "next stops at the tail";
    EXPECT_TRUE(logic::get(image::tail_q(stack::push(tail))));
    EXPECT_EQ(image::length_q(tail), 9) << "length? ignores the head";
    cell skip = pair(1, 1);
    EXPECT_EQ(index_of(image::skip(stack::push(i), &skip)), 5) << "skip counts pairs from 0";
}

TEST_F(ImageTest, ChangePastesAndAdvances)
{
    cell* i = make_3x3();
    cell* black = make({pair(2, 2), tuple(0, 0, 0)});
    cell* after = image::change(stack::push(i), black, nullptr, false, nullptr);
    EXPECT_EQ(index_of(after), 6);
    std::vector<uint32_t> want = {0xFF000000, 0xFF000000, 0xFF020202, 0xFF000000, 0xFF000000, 0xFF050505,
                                  0xFF060606, 0xFF070707, 0xFF080808};
    EXPECT_EQ(pixels(i), want);

    // Clipped at the right and bottom edges: only the corner pixel is pasted.
    cell* j = make_3x3();
    cell corner = pair(3, 3);
    cell* at_corner = image::at(stack::push(j), &corner);
    EXPECT_EQ(index_of(image::change(at_corner, black, nullptr, false, nullptr)), 10);
    EXPECT_EQ(pixels(j)[8], 0xFF000000u);
    EXPECT_EQ(pixels(j)[7], 0xFF070707u);

    // Pasted into itself, the image reads its old pixels.
    cell* k = make_3x3();
    cell two = integer(2);
    image::change(image::at(stack::push(k), &two), k, nullptr, false, nullptr);
    std::vector<uint32_t> shifted = {0xFF000000, 0xFF000000, 0xFF010101, 0xFF030303, 0xFF030303, 0xFF040404,
                                     0xFF060606, 0xFF060606, 0xFF070707};
    EXPECT_EQ(pixels(k), shifted);

    cell red = tuple(255, 0, 0);
    cell* pos = image::change(stack::push(k), &red, nullptr, false, nullptr);
    EXPECT_EQ(index_of(pos), 2);
    EXPECT_EQ(pixels(k)[0], 0xFFFF0000u);
}

TEST_F(ImageTest, CopyRectangles)
{
    cell* i = make_3x3();
    struct row { const char* name; std::function<cell*()> copy; int32_t w, h; std::vector<uint32_t> first; };
    auto copy = [](cell* from, cell* part) { return image::copy(from, stack::push_slot(), part, false, nullptr); };
    cell five = integer(5), tail_part = pair(-2, -2), ones = pair(1, 1), huge = pair(2147483647, 2147483647);
    const row rows[] = {
        {"whole", [&] { return copy(i, nullptr); }, 3, 3, {0xFF000000}},
        {"from the head to the corner", [&] { return copy(image::at(stack::push(i), &five), nullptr); }, 2, 2,
         {0xFF040404, 0xFF050505, 0xFF070707}},
        {"ending at the tail", [&] { return copy(image::tail(stack::push(i)), given(tail_part)); }, 2, 2,
         {0xFF040404, 0xFF050505, 0xFF070707, 0xFF080808}},
        {"a pair", [&] { return copy(image::at(stack::push(i), &five), given(ones)); }, 1, 1, {0xFF040404}},
        {"a huge pair is clipped, not wrapped", [&] { return copy(image::at(stack::push(i), &five), given(huge)); }, 2, 2,
         {0xFF040404}},
        {"between two positions", [&] {
             cell from = pair(1, 1), to = pair(3, 3);
             return copy(image::at(stack::push(i), &from), given(*image::at(stack::push(i), &to)));
         }, 2, 2, {0xFF000000, 0xFF010101, 0xFF030303, 0xFF040404}},
        {"the tail", [&] { return copy(image::tail(stack::push(i)), nullptr); }, 0, 0, {}},
        {"no record", [&] { return copy(make(0, 4), nullptr); }, 0, 0, {}},
    };
    for (const row& r : rows) {
        cell* c = r.copy();
        EXPECT_EQ(int32_t(image_cell_width(c)), r.w) << r.name;
        EXPECT_EQ(int32_t(image_cell_height(c)), r.h) << r.name;
        EXPECT_EQ(c->data1, 0u) << r.name;
        if (!r.first.empty()) {
            std::vector<uint32_t> p = pixels(c);
            EXPECT_EQ(std::vector<uint32_t>(p.begin(), p.begin() + r.first.size()), r.first) << r.name;
        }
    }
    cell* c = copy(i, nullptr);
    cell red = tuple(255, 0, 0);
    image::poke(stack::push(c), 1, nullptr, &red);
    EXPECT_EQ(pixels(i)[0], 0xFF000000u) << "a copy has pixels of its own";
}

TEST_F(ImageTest, ErrorsLeaveNoLockBehind)
{
    cell* i = make(2, 2);
    struct row { const char* name; std::function<void()> act; uint32_t error; };
    cell x = *string::make_at(stack::push_slot(), 4, 1);
    cell black = tuple(0, 0, 0), size = pair(10, 10), five = integer(5), other_part = *make(2, 2);
    const row rows[] = {
        {"size is read-only", [&] {
             cell w = *word::load("size");
             image::eval_path(i, &w, &size, &w, nullptr, nullptr, 0, false, false, false, true);
         }, code(ERR_SCRIPT, err::INVALID_PATH)},
        {"poke a string", [&] { cell one = integer(1); image::poke(stack::push(i), 1, &one, &x); },
         code(ERR_SCRIPT, err::INVALID_ARG)},
        {"poke past the end", [&] { cell n = integer(100); image::poke(stack::push(i), 100, &n, &black); },
         code(ERR_SCRIPT, err::OUT_OF_RANGE)},
        {"copy/part by count", [&] { image::copy(i, stack::push_slot(), given(five), false, nullptr); },
         code(ERR_INTERNAL, err::NOT_DONE)},
        {"copy/part by another image", [&] { image::copy(i, stack::push_slot(), given(other_part), false, nullptr); },
         code(ERR_SCRIPT, err::INVALID_REFINE_ARG)},
        {"change at the tail", [&] { image::change(image::tail(stack::push(i)), &black, nullptr, false, nullptr); },
         code(ERR_SCRIPT, err::OUT_OF_RANGE)},
        {"change/part", [&] { image::change(stack::push(i), &black, given(five), false, nullptr); },
         code(ERR_INTERNAL, err::NOT_DONE)},
        {"change/dup 2", [&] { image::change(stack::push(i), &black, nullptr, false, given(integer(2))); },
         code(ERR_INTERNAL, err::NOT_DONE)},
        {"change a string", [&] { image::change(stack::push(i), &x, nullptr, false, nullptr); },
         code(ERR_SCRIPT, err::INVALID_TYPE)},
    };
    for (const row& r : rows) {
        EXPECT_EQ(raised(r.act), r.error) << r.name;
        EXPECT_TRUE(write_lock_free(i)) << r.name;
    }
    EXPECT_EQ(pixels(i), std::vector<uint32_t>(4, 0xFFFFFFFF)) << "no error wrote a pixel";
}

TEST_F(ImageTest, Compare)
{
    cell* a = make({pair(2, 1), tuple(1, 2, 3)});
    cell* b = make({pair(2, 1), tuple(1, 2, 3)});
    cell* c = make({pair(2, 1), tuple(1, 2, 4)});
    cell* small = make(1, 1);
    cell one = integer(1);
    EXPECT_EQ(image::compare(a, b, COMP_EQUAL), 0) << "equal pixels";
    EXPECT_EQ(image::compare(a, c, COMP_EQUAL), -1);
    EXPECT_EQ(image::compare(c, a, COMP_STRICT_EQUAL), 1);
    EXPECT_EQ(image::compare(small, a, COMP_SORT), -1) << "fewer pixels sort first";
    EXPECT_EQ(image::compare(a, &one, COMP_EQUAL), -2) << "not comparable with an integer";
    EXPECT_EQ(image::compare(a, a, COMP_LESSER), -2) << "no order: invalid-compare";
    EXPECT_EQ(image::compare(a, a, COMP_SAME), 0);
    EXPECT_EQ(image::compare(a, b, COMP_SAME), -1);
    EXPECT_EQ(image::compare(make(0, 2), make(3, 0), COMP_EQUAL), 0);
}

TEST_F(ImageTest, PixelsForForeach)
{
    cell* i = make({pair(3, 1), *binary(unhex("010101020202030303"))});
    cell two = integer(2);
    cell* from = image::at(stack::push(i), &two);
    cell* blk = block::push_only_star(3);
    for (int k = 0; k < 3; k++) block::rs_append(blk, &true_value);
    image::pick_pixels(blk, from, 3);
    cell* got = block::rs_head(blk);
    EXPECT_EQ(tuple_text(got[0]) + " " + tuple_text(got[1]) + " " + tuple_text(got[2]), "2.2.2.0 3.3.3.0 none");
    cell out;
    EXPECT_EQ(tuple_text(*image::pixel_to_tuple(i, 0, &out)), "1.1.1.0");
    EXPECT_EQ(cell_type(image::pixel_to_tuple(i, 3, &out)), uint32_t(TYPE_NONE));
}

TEST_F(ImageTest, DecodeAndEncodeEntries)
{
    cell* out = stack::push_slot();
    EXPECT_EQ(cell_type(image::decode_binary(binary(unhex("FFD8")), out)), uint32_t(TYPE_NONE)) << "no known format";
    EXPECT_EQ(raised([&] { image::decode_binary(binary(unhex("89504E470D0A1A0A0000")), out); }),
              code(ERR_ACCESS, err::BAD_MEDIA));
    cell* missing = string::make_at(stack::push_slot(), 32, 1);
    string::concatenate_literal(missing, "no-such-folder/missing.png");
    cell_set_type(missing, TYPE_FILE);
    EXPECT_EQ(raised([&] { image::decode(missing, out); }), code(ERR_ACCESS, err::CANNOT_OPEN));

    struct sig { const char* hex; bool known; };
    const sig sigs[] = {{"89504E47", true}, {"FFD8FF", true},   {"424D", true},     {"474946383761", true},
                        {"474946383961", true}, {"49492A00", true}, {"4D4D002A", true}, {"FFD8", false},
                        {"4749463839", false}, {"49492A", false}, {"", false}};
    for (const sig& s : sigs) EXPECT_EQ(image::known_format_q(binary(unhex(s.hex))), s.known) << s.hex;

    EXPECT_EQ(hex(bytes_of(image::encode(make(0, 2), out, IMAGE_PNG))), "");
    EXPECT_EQ(raised([&] { image::encode(make(0, 0), out, IMAGE_PNG); }), code(ERR_ACCESS, err::BAD_MEDIA));
}

}  // namespace
