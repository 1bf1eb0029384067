// ref!: mold writes an at sign before the characters; form is the characters.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"

namespace {

using namespace num;
using RefTest = test::StackTest;

cell of_type(const char* utf8, uint32_t type)
{
    cell t = text(utf8);
    cell_set_type(&t, type);
    return t;
}

TEST_F(RefTest, MoldAddsTheAtSign)
{
    for (const char* name : {"x", "\xC3\xA9t\xC3\xA9"}) {
        cell ref = of_type(name, TYPE_REF);
        EXPECT_EQ(test::form(ref), name);
        EXPECT_EQ(test::mold(ref), std::string("@") + name);
    }
}

}  // namespace
