// The environment splitter and the OS description from given version records, then the real
// queries of this process.
#include <windows.h>

#include "io/io_test.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/object.h"
#include "runtime/io/os_info.h"
#include "runtime/platform.h"
#include "support/fixtures.h"

namespace {

TEST(OsInfo, EnvironmentEntriesSplitAtTheFirstEqualsSignAfterTheName)
{
    const wchar_t block[] = L"=C:=C:\\work\0A=b=c\0EMPTY=\0\0";
    auto pairs = platform::split_env(block);
    using pair = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(pairs, (std::vector<pair>{{L"=C:", L"C:\\work"}, {L"A", L"b=c"}, {L"EMPTY", L""}}));
    EXPECT_TRUE(platform::split_env(L"\0\0").empty());
}

TEST(OsInfo, ReleaseNamesByVersionBuildAndProductType)
{
    struct row {
        platform::version_record v;
        const char* name;
    } rows[] = {
        {{10, 0, 22000, 0, false, ""}, "Windows 11"},
        {{10, 0, 19045, 0, false, ""}, "Windows 10"},
        {{10, 0, 22000, 0, true, ""}, "Windows Server 2022"},
        {{10, 0, 17763, 0, true, ""}, "Windows Server 2019"},
        {{10, 0, 14393, 0, true, ""}, "Windows Server 2016"},
        {{6, 1, 7601, 1, false, "Service Pack 1"}, "Windows 7 Service Pack 1"},
        {{6, 1, 7601, 0, true, ""}, "Windows Server 2008 R2"},
        {{5, 2, 3790, 0, false, ""}, "Windows Server 2003"},
        {{6, 3, 9600, 0, false, ""}, "Windows 8.1"},
    };
    for (const row& r : rows) EXPECT_EQ(platform::os_name(r.v), r.name) << r.name;
    EXPECT_STREQ(platform::arch_name(9), "x86-64");
    EXPECT_STREQ(platform::arch_name(12), "ARM64");
    EXPECT_STREQ(platform::arch_name(77), "Unknown");
}

class OsInfoValues : public test::StackTest {};

TEST_F(OsInfoValues, TheDescriptionObjectHoldsItsFourFields)
{
    platform::version_record v{10, 0, 22631, 0, false, ""};
    cell* info = platform::get_os_info(stack::push_slot(), v, platform::native_arch_code());
    ASSERT_EQ(cell_type(info), uint32_t(TYPE_OBJECT));
    cell* name = object::select_word(info, word::load("name"));
    EXPECT_EQ(string::utf8_copy(name), "Windows 11");
    cell* arch = object::select_word(info, word::load("arch"));
    ASSERT_EQ(cell_type(arch), uint32_t(TYPE_WORD));
    EXPECT_EQ(arch->data2, word::load("x86-64")->data2);
    cell* version = object::select_word(info, word::load("version"));
    ASSERT_EQ(cell_type(version), uint32_t(TYPE_TUPLE));
    EXPECT_EQ(version->data1 & 0xFFFFFF, 10u);
    EXPECT_EQ(integer_of(object::select_word(info, word::load("build"))), 22631);
}

TEST_F(OsInfoValues, EnvironmentCommandLineAndTypeCheck)
{
    ASSERT_TRUE(os_set_env(L"KIV_T", L"\u00E9"));
    cell* pairs = platform::env_block(stack::push_slot());
    bool found = false;
    for (uint32_t i = 0; i + 1 < block::rs_length(pairs); i += 2)
        if (string::utf8_copy(block::rs_head(pairs) + i) == "KIV_T")
            found = string::utf8_copy(block::rs_head(pairs) + i + 1) == "\xC3\xA9";
    EXPECT_TRUE(found);
    os_set_env(L"KIV_T", nullptr);
    cell* line = platform::get_cmdline(stack::push_slot());
    EXPECT_NE(string::utf8_copy(line).find("kiv-tests"), std::string::npos);
    cell n{TYPE_INTEGER, 0, 1, 0};
    EXPECT_EQ(raised([&] { platform::check_type(&n, TYPE_STRING); }), ERR_SCRIPT * 100 + err::INVALID_ARG);
    platform::check_type(&n, TYPE_INTEGER);
}

}  // namespace
