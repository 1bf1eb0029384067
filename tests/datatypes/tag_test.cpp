// tag!: form and mold are one text, the characters between angle brackets.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"

namespace {

using namespace num;
using TagTest = test::StackTest;

cell of_type(const char* utf8, uint32_t type)
{
    cell t = text(utf8);
    cell_set_type(&t, type);
    return t;
}

TEST_F(TagTest, FormAndMoldAlike)
{
    cell tag = of_type("a href", TYPE_TAG);
    EXPECT_EQ(test::form(tag), "<a href>");
    EXPECT_EQ(test::mold(tag), "<a href>");
}

}  // namespace
