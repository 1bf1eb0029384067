// Case folding: the generated one-to-one tables.
#include <gtest/gtest.h>

#include "runtime/casefold.h"

namespace {

TEST(Casefold, MapsOneCodePointToOne)
{
    struct case_row {
        uint32_t cp, upper, expected;
    };
    const case_row cases[] = {
        {0x0061, 1, 0x0041}, {0x0041, 0, 0x0061}, {0x0041, 1, 0x0041}, {0x0130, 0, 0x0069},
        {0x01C5, 1, 0x01C4}, {0x01C5, 0, 0x01C6}, {0xFF41, 1, 0xFF21}, {0x00B5, 1, 0x039C},
        {0x00FF, 1, 0x0178}, {0x10D0, 1, 0x1C90},
        // Above the Basic Multilingual Plane.
        {0x10428, 1, 0x10400}, {0x1E922, 1, 0x1E900}, {0x1E943, 1, 0x1E921}, {0x1E900, 0, 0x1E922},
        {0x1F600, 1, 0x1F600}, {0x10FFFF, 1, 0x10FFFF},
        // Whose partner is several letters: itself, never the first of them.
        {0x00DF, 1, 0x00DF}, {0x0149, 1, 0x0149}, {0xFB01, 1, 0xFB01}, {0x0390, 1, 0x0390},
        {0x1E9E, 0, 0x00DF}, {0x1F80, 1, 0x1F88},
        // Given case mappings only after Unicode 11.0.
        {0xA7C0, 0, 0xA7C0}, {0xA7C1, 1, 0xA7C1}, {0x2C2F, 0, 0x2C2F}, {0x10570, 0, 0x10570},
    };
    for (const case_row& c : cases)
        EXPECT_EQ(char_change_case(c.cp, c.upper), c.expected) << std::hex << c.cp << " upper " << c.upper;
}

// ASCII is answered without the tables: the answer must be theirs, edges of A-Z and a-z included.
TEST(Casefold, AsciiAgreesWithTheTables)
{
    for (uint32_t cp = 0; cp < 128; cp++)
        for (uint32_t upper = 0; upper < 2; upper++)
            EXPECT_EQ(char_change_case(cp, upper), casefold_lookup(cp, upper)) << cp << " upper " << upper;
}

}  // namespace
