// The literals of the small datatypes through the lexer: molds load back unchanged, binary bodies
// in each base, and conversions of text that load one value.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/numbers.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/io/lexer.h"

namespace {

using namespace num;
using SmallLiteralsTest = test::StackTest;

// The first value of the text.
cell loaded(const std::string& text)
{
    cell* out = stack::push_slot();
    lexer::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), out);
    return *block::rs_head(out);
}

TEST_F(SmallLiteralsTest, MoldsLoadBackUnchanged)
{
    const std::string sixty_four_bytes = "#{\n    " + std::string(64, 'F') + "\n    " + std::string(64, '0') + "\n}";
    struct row { const char* text; uint32_t type; };
    const row rows[] = {
        {"1.2.3", TYPE_TUPLE},
        {"255.0.0.128", TYPE_TUPLE},
        {"0.0.0.0.0.0.0.0.0.0.0.255", TYPE_TUPLE},
        {"10x-20", TYPE_PAIR},
        {"-2147483648x2147483647", TYPE_PAIR},
        {"#{}", TYPE_BINARY},
        {"#{00FF}", TYPE_BINARY},
        {sixty_four_bytes.c_str(), TYPE_BINARY},
        {"<a href=\"x\">", TYPE_TAG},
        {"user@host.example", TYPE_EMAIL},
        {"@ref", TYPE_REF},
        {"12.5%", TYPE_PERCENT},
        {"0%", TYPE_PERCENT},
        {"(1, 2)", TYPE_POINT2D},
        {"(0.5, 2.25, -10)", TYPE_POINT3D},
    };
    for (const row& r : rows) {
        cell v = loaded(r.text);
        EXPECT_EQ(cell_type(&v), r.type) << r.text;
        EXPECT_EQ(test::mold(v), r.text);
    }
}

TEST_F(SmallLiteralsTest, ValuesMadeInCodeLoadBackEqual)
{
    cell slot;
    const uint8_t bytes[] = {9, 0, 255, 17, 3};
    const cell values[] = {*tuple::make_at(&slot, bytes, 5), *pair::make_at(&slot, -3, 40000),
                           *::binary::load(bytes, 5), *point2D::make_at(&slot, 1.0f / 3, -2.5f)};
    for (const cell& v : values) {
        cell back = loaded(test::mold(v));
        EXPECT_EQ(test::compare(back, v, COMP_EQUAL), 0) << test::mold(v);
    }
}

TEST_F(SmallLiteralsTest, BinaryBodiesInEachBase)
{
    struct row { const char* text; const char* bytes; };
    const row rows[] = {
        {"2#{01000001 01000010}", "#{4142}"},
        {"16#{41 42 ; comment\n 43}", "#{414243}"},
        {"64#{QUI=}", "#{4142}"},
        {"64#{QUI}", "#{4142}"},
        {"64#{QU\nJD}", "#{414243}"},
    };
    for (const row& r : rows) EXPECT_EQ(test::mold(loaded(r.text)), r.bytes) << r.text;
    for (const char* bad : {"#{ABC}", "#{4G}", "2#{0100}", "64#{Q===}", "8#{00}", "64#{QQ==QQ==}"})
        EXPECT_EQ(error_of([&] { loaded(bad); }), code(ERR_SYNTAX, err::INVALID)) << bad;
}

TEST_F(SmallLiteralsTest, ConversionsOfText)
{
    auto make = [](make_fn routine, const char* source, uint32_t type) {
        cell t = text(source);
        cell* spec = stack::push(&t);
        cell* proto = stack::push_slot();
        return test::mold(*routine(proto, spec, type));
    };
    EXPECT_EQ(make(pair::make, "3x4", TYPE_PAIR), "3x4");
    EXPECT_EQ(make(pair::make, " -3x4 ", TYPE_PAIR), "-3x4");
    EXPECT_EQ(make(tuple::to, "1.2.3", TYPE_TUPLE), "1.2.3");
    EXPECT_EQ(make(point2D::make, "(1, 2)", TYPE_POINT2D), "(1, 2)");
    EXPECT_EQ(make(point2D::make, "(1, 2, 3)", TYPE_POINT3D), "(1, 2, 3)");
    struct fault { make_fn routine; const char* text; uint32_t type; };
    const fault faults[] = {
        {pair::make, "abc", TYPE_PAIR},        // a word
        {pair::make, "1x", TYPE_PAIR},         // no value at all
        {pair::make, "1x2 3x4", TYPE_PAIR},    // more than one
        {pair::make, "", TYPE_PAIR},
        {tuple::to, "1.2", TYPE_TUPLE},
        {point2D::make, "(1, 2)", TYPE_POINT3D},
    };
    for (const fault& f : faults)
        EXPECT_EQ(error_of([&] { make(f.routine, f.text, f.type); }), code(ERR_SCRIPT, err::BAD_TO_ARG)) << f.text;
}

}  // namespace
