// tag!, email!, ref! and handle!: their text forms, the user and host paths of an address, and the
// handle's registry slot, which keeps a whole pointer and is released once no value refers to it.
#include <gtest/gtest.h>

#include "datatypes/numbers.h"
#include "datatypes/objects.h"
#include "runtime/collector.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/handle.h"
#include "runtime/extern.h"

namespace {

using namespace num;
using TextKindsTest = test::StackTest;

cell of_type(const char* utf8, uint32_t type)
{
    cell t = text(utf8);
    cell_set_type(&t, type);
    return t;
}

TEST_F(TextKindsTest, FormAndMold)
{
    struct row { cell value; const char* form; const char* mold; };
    const row rows[] = {
        {of_type("a href", TYPE_TAG), "<a href>", "<a href>"},
        {of_type("user@host", TYPE_EMAIL), "user@host", "user@host"},
        {of_type("x", TYPE_REF), "x", "@x"},
        {of_type("\xC3\xA9t\xC3\xA9", TYPE_REF), "\xC3\xA9t\xC3\xA9", "@\xC3\xA9t\xC3\xA9"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(test::form(r.value), r.form);
        EXPECT_EQ(test::mold(r.value), r.mold);
    }
}

TEST_F(TextKindsTest, KindsInheritFromStringWhereThePartSays)
{
    EXPECT_EQ(actions_of(TYPE_TAG).length_q, actions_of(TYPE_STRING).length_q);
    EXPECT_EQ(actions_of(TYPE_EMAIL).form, actions_of(TYPE_STRING).form);
    EXPECT_EQ(actions_of(TYPE_REF).form, actions_of(TYPE_STRING).form);
    EXPECT_EQ(actions_of(TYPE_REF).append, nullptr) << "a ref has no append";
    EXPECT_EQ(actions_of(TYPE_REF).eval_path, nullptr) << "nor paths";
    EXPECT_EQ(actions_of(TYPE_TAG).random, nullptr);
    EXPECT_EQ(actions_of(TYPE_EMAIL).trim, nullptr);
    EXPECT_NE(actions_of(TYPE_TAG).mark, nullptr);
}

cell path_step(cell address, const char* element, const cell* value = nullptr)
{
    return num::path_step(email::eval_path, address, *word::load(element), value);
}

TEST_F(TextKindsTest, EmailUserAndHost)
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
        EXPECT_EQ(string::to_utf8(&user), r.user) << r.address;
        EXPECT_EQ(string::to_utf8(&host), r.host) << r.address;
    }
    cell positioned = of_type("xxme@there", TYPE_EMAIL);
    positioned.data1 = 2;
    cell user = path_step(positioned, "user"), host = path_step(positioned, "host");
    EXPECT_EQ(string::to_utf8(&user), "me") << "from the value's head";
    EXPECT_EQ(string::to_utf8(&host), "there");
    EXPECT_EQ(error_of([&] { path_step(of_type("a@b", TYPE_EMAIL), "name"); }), code(ERR_SCRIPT, err::INVALID_PATH));
}

TEST_F(TextKindsTest, EmailSettersChangeThePartInPlace)
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

TEST_F(TextKindsTest, HandleText)
{
    cell* window = handle::push(0x1A2B, handle::KIND_WINDOW);
    EXPECT_EQ(test::mold_at(window, false, true), "#[handle! 00001A2Bh window]");
    EXPECT_EQ(test::mold_at(window), "handle!");
    EXPECT_EQ(test::form_at(window), "00001A2Bh");
    EXPECT_EQ(test::mold_at(handle::push_empty(), false, true), "#[handle! 00000000h]");
    if (sizeof(uintptr_t) == 8) {
        const uintptr_t wide = uintptr_t(0x12345678ull << 32 | 0x9ABCDEF0u);
        cell* pointer = handle::push(wide, handle::KIND_RICH_TEXT);
        EXPECT_EQ(handle::value_of(pointer), wide) << "the whole pointer, from the registry";
        EXPECT_EQ(test::form_at(pointer), "123456789ABCDEF0h");
        EXPECT_EQ(test::mold_at(pointer, false, true), "#[handle! 123456789ABCDEF0h rich-text]");
    }
}

TEST_F(TextKindsTest, HandlesCompareByValueNotKind)
{
    cell a = *handle::push(5, handle::KIND_FONT), b = *handle::push(5, handle::KIND_WINDOW);
    cell c2 = *handle::push(uintptr_t(-1), handle::KIND_FD);
    EXPECT_EQ(test::compare(a, b, COMP_EQUAL), 0);
    EXPECT_EQ(test::compare(c2, a, COMP_LESSER), -1) << "signed values";
    EXPECT_EQ(test::compare(a, i(5), COMP_EQUAL), -2);
}

TEST_F(TextKindsTest, RegistrySlotLivesAsLongAsAValueRefersToIt)
{
    cell* kept = handle::push(0xBEEF, handle::KIND_FONT);
    int32_t slot = int32_t(kept->data3);
    ASSERT_GE(slot, 0);
    int32_t dropped_slot = int32_t(handle::push(0xF00D, handle::KIND_FONT)->data3);
    stack::pop(1);
    collector::do_cycle();
    EXPECT_EQ(externs.slots[slot].pointer, reinterpret_cast<void*>(0xBEEF)) << "marked through the cell";
    EXPECT_TRUE(externs.slots[dropped_slot].class_word & EXTERN_FREE) << "released once unreferenced";
    EXPECT_EQ(handle::value_of(kept), 0xBEEFu);
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
