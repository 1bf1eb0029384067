// email!: the text without quotes, the user and host paths of an address read from its head,
// and setting a part in place, which its owner hears of.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"
#include "datatypes/objects.h"
#include "runtime/datatypes/email.h"

namespace {

using namespace num;
using EmailTest = test::StackTest;

cell of_type(const char* utf8, uint32_t type)
{
    cell t = text(utf8);
    cell_set_type(&t, type);
    return t;
}

TEST_F(EmailTest, FormAndMoldAreTheCharacters)
{
    cell address = of_type("user@host", TYPE_EMAIL);
    EXPECT_EQ(test::form(address), "user@host");
    EXPECT_EQ(test::mold(address), "user@host");
}

cell path_step(cell address, const char* element, const cell* value = nullptr)
{
    return num::path_step(email::eval_path, address, *word::load(element), value);
}

TEST_F(EmailTest, EmailUserAndHost)
{
    struct row { const char* address; const char* user; const char* host; };
    const row rows[] = {
        {"user@host", "user", "host"},
        {"nobody", "nobody", ""},
        {"a@b@c", "a", "b@c"},
        {"@host", "", "host"},
    };
    for (const row& r : rows) {
        cell user = path_step(of_type(r.address, TYPE_EMAIL), "user");
        cell host = path_step(of_type(r.address, TYPE_EMAIL), "HOST");
        EXPECT_EQ(cell_type(&user), uint32_t(TYPE_STRING));
        EXPECT_EQ(string::utf8_copy(&user), r.user) << r.address;
        EXPECT_EQ(string::utf8_copy(&host), r.host) << r.address;
    }
    cell positioned = of_type("xxme@there", TYPE_EMAIL);
    positioned.data1 = 2;
    cell user = path_step(positioned, "user"), host = path_step(positioned, "host");
    EXPECT_EQ(string::utf8_copy(&user), "me") << "from the value's head";
    EXPECT_EQ(string::utf8_copy(&host), "there");
    EXPECT_EQ(error_of([&] { path_step(of_type("a@b", TYPE_EMAIL), "name"); }), code(ERR_SCRIPT, err::INVALID_PATH));
}

TEST_F(EmailTest, EmailSettersChangeThePartInPlace)
{
    cell you = text("you"), wide_host = text("h\xC3\xA9.example"), number = i(42);
    cell a = path_step(of_type("me@here", TYPE_EMAIL), "user", &you);
    EXPECT_EQ(test::form(a), "you@here");
    EXPECT_EQ(test::form(path_step(a, "host", &wide_host)), "you@h\xC3\xA9.example");
    EXPECT_EQ(test::form(path_step(of_type("solo", TYPE_EMAIL), "host", &you)), "solo@you");
    EXPECT_EQ(test::form(path_step(of_type("solo", TYPE_EMAIL), "user", &number)), "42") << "a value by its form";
    cell positioned = of_type("xxme@here", TYPE_EMAIL);
    positioned.data1 = 2;
    cell changed = path_step(positioned, "user", &you);
    changed.data1 = 0;
    EXPECT_EQ(test::form(changed), "xxyou@here");
}

class EmailOwner : public tob::Objects {};

TEST_F(EmailOwner, SettingAPartTellsTheOwner)
{
    cell* o = tob::with_handlers("e: none", nullptr, "owner word target action value index part");
    cell address = num::text("me@here");
    cell_set_type(&address, TYPE_EMAIL);
    cell* held = stack::push(&address);
    cell w = tob::word("e");
    ownership_set(held, o, &w);
    cell you = num::text("you");
    path_step(*held, "user", &you);
    ASSERT_EQ(tob::calls.size(), 2u);
    EXPECT_NE(tob::calls[0].find("| change | \"you\" | 0 | 7"), std::string::npos) << tob::calls[0];
    EXPECT_NE(tob::calls[1].find("| changed | \"you\" | 0 | 8"), std::string::npos) << tob::calls[1];
}

}  // namespace
