// The file layer on real files in a scratch folder of the working directory: text and binary
// round trips, /part and /seek, lines, listings, delete/rename/query, size limits, and files whose
// size the system reports as 0.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "io/io_test.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/io/simple_io.h"
#include "support/fixtures.h"

namespace {

constexpr uint32_t CANNOT_OPEN = ERR_ACCESS * 100 + err::CANNOT_OPEN;
constexpr uint32_t INVALID_UTF8 = ERR_ACCESS * 100 + err::INVALID_UTF8;
constexpr uint32_t REFINE = ERR_SCRIPT * 100 + err::INVALID_REFINE_ARG;
constexpr uint32_t TYPE_LIMIT = ERR_SCRIPT * 100 + err::TYPE_LIMIT;
constexpr uint32_t NO_MEMORY = ERR_INTERNAL * 100 + err::NO_MEMORY;

class SimpleIo : public test::StackTest {
protected:
    std::string dir;
    void SetUp() override
    {
        test::StackTest::SetUp();
        dir = "io-test-" + std::to_string(GetCurrentProcessId()) + "/";
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    void TearDown() override
    {
        remove_tree(dir);
        test::StackTest::TearDown();
    }
    static void remove_tree(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((folder + "*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name == "." || name == "..") continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(folder + name + "/");
                else DeleteFileA((folder + name).c_str());
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(folder.c_str());
    }
    // A file! cell on the stack (the result slot a read or query writes into).
    cell* file(const std::string& name)
    {
        cell* c = test::push_text(name);
        c->header = TYPE_FILE;
        return c;
    }
    void put(const std::string& name, const std::string& bytes)
    {
        HANDLE h = CreateFileA((dir + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, nullptr);
        CloseHandle(h);
    }
    std::string bytes_of(const std::string& name)
    {
        cell* c = simple_io::read(file(dir + name), -1, -1, true, false);
        std::vector<uint8_t> v = test::binary_bytes(c);
        return std::string(v.begin(), v.end());
    }
    std::string read_text(const std::string& name, int64_t part = -1, int64_t seek = -1)
    {
        cell* c = simple_io::read(file(dir + name), part, seek, false, false);
        EXPECT_EQ(cell_type(c), uint32_t(TYPE_STRING));
        return string::utf8_copy(c);
    }
    std::vector<std::string> texts_of(const cell* blk)
    {
        std::vector<std::string> out;
        for (uint32_t i = 0; i < block::rs_length(blk); i++) out.push_back(string::utf8_copy(block::rs_head(blk) + i));
        return out;
    }
};

TEST_F(SimpleIo, ReadsTextBinaryAndPartsOfFiles)
{
    struct row {
        const char* what;
        std::string bytes;
        int64_t part, seek;
        bool binary;
        std::string expected;
    } rows[] = {
        {"empty file as text", "", -1, -1, false, ""},
        {"empty file as binary", "", -1, -1, true, ""},
        {"part 0", "abcd", 0, -1, false, ""},
        {"CR LF folds to LF", "a\r\nb", -1, -1, false, "a\nb"},
        {"lone CR kept", "a\rb", -1, -1, false, "a\rb"},
        {"binary keeps CR LF", "a\r\nb", -1, -1, true, "a\r\nb"},
        {"byte-order mark dropped", "\xEF\xBB\xBFhi", -1, -1, false, "hi"},
        {"seek", "abcd", -1, 2, false, "cd"},
        {"seek and part", "abcd", 2, 1, false, "bc"},
        {"seek past the end", "abcd", -1, 9, false, ""},
        {"seek past the end, binary", "abcd", -1, 9, true, ""},
        {"part past the end", "abcd", 10, -1, true, "abcd"},
        {"UTF-8 text", "\xC3\xA9t\xC3\xA9", -1, -1, false, "\xC3\xA9t\xC3\xA9"},
    };
    for (const row& r : rows) {
        put("f", r.bytes);
        cell* c = simple_io::read(file(dir + "f"), r.part, r.seek, r.binary, false);
        if (r.binary) {
            ASSERT_EQ(cell_type(c), uint32_t(TYPE_BINARY)) << r.what;
            std::vector<uint8_t> v = test::binary_bytes(c);
            EXPECT_EQ(std::string(v.begin(), v.end()), r.expected) << r.what;
        } else {
            ASSERT_EQ(cell_type(c), uint32_t(TYPE_STRING)) << r.what;
            EXPECT_EQ(string::utf8_copy(c), r.expected) << r.what;
        }
    }
}

TEST_F(SimpleIo, LinesSplitAtLineFeedsWithoutATrailingEmptyLine)
{
    struct row {
        std::string bytes;
        std::vector<std::string> lines;
    } rows[] = {
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\r\n", {"a"}},
        {"a\nb\n", {"a", "b"}},
        {"", {}},
        {"\n", {""}},
        {"x\ry", {"x\ry"}},
    };
    for (const row& r : rows) {
        put("f", r.bytes);
        cell* c = simple_io::read(file(dir + "f"), -1, -1, false, true);
        ASSERT_EQ(cell_type(c), uint32_t(TYPE_BLOCK)) << r.bytes;
        EXPECT_EQ(texts_of(c), r.lines) << r.bytes;
    }
}

TEST_F(SimpleIo, TextCutInsideAUtf8SequenceRaisesInsteadOfLosingBytes)
{
    put("f", "ab\xC3");
    EXPECT_EQ(raised([&] { simple_io::read(file(dir + "f"), -1, -1, false, false); }), INVALID_UTF8);
    EXPECT_EQ(raised([&] { simple_io::read(file(dir + "f"), -1, -1, false, true); }), INVALID_UTF8);
    EXPECT_EQ(bytes_of("f"), "ab\xC3");
}

TEST_F(SimpleIo, WritesTextAsCrLfAndBinaryUnchanged)
{
    cell* text = test::push_text("a\nb");
    simple_io::write(file(dir + "t"), text, -1, -1, false, false, false);
    EXPECT_EQ(bytes_of("t"), "a\r\nb");
    EXPECT_EQ(read_text("t"), "a\nb");
    simple_io::write(file(dir + "b"), text, -1, -1, true, false, false);
    EXPECT_EQ(bytes_of("b"), "a\nb");
    cell* bin = test::push_binary(std::string("\x01\x0A\x02"));
    simple_io::write(file(dir + "b"), bin, 2, -1, false, false, false);
    EXPECT_EQ(bytes_of("b"), "\x01\x0A");
    cell* number = stack::push_slot();
    *number = cell{TYPE_INTEGER, 0, 42, 0};
    simple_io::write(file(dir + "n"), number, -1, -1, false, false, false);
    EXPECT_EQ(bytes_of("n"), "42");
}

TEST_F(SimpleIo, WriteSeekKeepsTheRestAndAppendCreatesAMissingFile)
{
    put("f", "abcd");
    simple_io::write(file(dir + "f"), test::push_text("XY"), -1, 1, false, false, false);
    EXPECT_EQ(bytes_of("f"), "aXYd");
    simple_io::write(file(dir + "new"), test::push_text("1"), -1, -1, false, true, false);
    simple_io::write(file(dir + "new"), test::push_text("2"), -1, -1, false, true, false);
    EXPECT_EQ(bytes_of("new"), "12");
    simple_io::write(file(dir + "new"), test::push_text("z"), -1, -1, false, false, false);
    EXPECT_EQ(bytes_of("new"), "z");
}

// write/allow: a file written without the word write among its access words is made read-only; one
// written with it loses the attribute (the rest of the write is as without /allow).
TEST_F(SimpleIo, WriteAllowSetsTheReadOnlyAttribute)
{
    auto attributes = [&] { return GetFileAttributesA((dir + "p").c_str()); };
    auto write_allowing = [&](std::initializer_list<const char*> words) {
        cell* target = file(dir + "p");   // the window's first cell: a refinement lies above it
        cell* access = block::make_at(stack::push_slot(), 2);
        for (const char* w : words) block::rs_append(access, word::load(w));
        actions_of(TYPE_FILE).write(target, test::push_text("x"), false, false, false, false, nullptr,
                                    nullptr, access, nullptr);
    };
    write_allowing({"read", "execute"});
    EXPECT_EQ(bytes_of("p"), "x");
    EXPECT_TRUE(attributes() & FILE_ATTRIBUTE_READONLY);
    write_allowing({"write", "read"});
    EXPECT_FALSE(attributes() & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(raised([&] { write_allowing({"read", "fly"}); }), uint32_t(ERR_SCRIPT * 100 + err::INVALID_ARG));
}

TEST_F(SimpleIo, WriteLinesEndsEachItemWithCrLf)
{
    cell* blk = block::make_at(stack::push_slot(), 2);
    block::rs_append(blk, test::push_text("a\nb"));
    cell n{TYPE_INTEGER, 0, 7, 0};
    block::rs_append(blk, &n);
    simple_io::write(file(dir + "l"), blk, -1, -1, false, false, true);
    EXPECT_EQ(bytes_of("l"), "a\r\nb\r\n7\r\n");
}

TEST_F(SimpleIo, MissingFilesAndFoldersRaiseCannotOpen)
{
    EXPECT_EQ(raised([&] { simple_io::read(file(dir + "missing"), -1, -1, false, false); }), CANNOT_OPEN);
    EXPECT_EQ(raised([&] { simple_io::read(file(dir + "missing/"), -1, -1, false, false); }), CANNOT_OPEN);
    EXPECT_EQ(raised([&] { simple_io::write(file(dir + "no/such/f"), test::push_text("x"), -1, -1, false, false, false); }),
              CANNOT_OPEN);
}

TEST_F(SimpleIo, NegativeOrNonNumericPartAndSeekAreRefused)
{
    const cell* seek = rt_refinement_word(REF_SEEK);
    stack::push_slot();   // the window's result cell: a refinement argument lies above it
    cell* values = stack::push_slot();
    *values = cell{TYPE_INTEGER, 0, uint32_t(-1), 0};
    EXPECT_EQ(raised([&] { simple_io::refinement_count(values, seek); }), REFINE);
    *values = cell{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(raised([&] { simple_io::refinement_count(values, seek); }), REFINE);
    *values = cell{TYPE_INTEGER, 0, 5, 0};
    EXPECT_EQ(simple_io::refinement_count(values, seek), 5);
    EXPECT_EQ(simple_io::refinement_count(nullptr, seek), -1);
}

TEST_F(SimpleIo, ListsFoldersAndDrives)
{
    put("a.txt", "x");
    CreateDirectoryA((dir + "sub").c_str(), nullptr);
    cell* c = simple_io::read(file(dir), -1, -1, false, false);
    ASSERT_EQ(cell_type(c), uint32_t(TYPE_BLOCK));
    std::vector<std::string> names = texts_of(c);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub/"}));
    EXPECT_EQ(cell_type(block::rs_head(c)), uint32_t(TYPE_FILE));
    cell* drives = simple_io::read(file("/"), -1, -1, false, false);
    std::vector<std::string> roots = texts_of(drives);
    EXPECT_NE(std::find(roots.begin(), roots.end(), "C/"), roots.end());
    EXPECT_NE(std::find(roots.begin(), roots.end(), "Z/"), roots.end());
}

TEST_F(SimpleIo, DeleteRenameQueryAndExistence)
{
    CreateDirectoryA((dir + "full").c_str(), nullptr);
    CreateDirectoryA((dir + "empty").c_str(), nullptr);
    put("full/f", "1");
    EXPECT_FALSE(simple_io::delete_(file(dir + "full/")));
    EXPECT_TRUE(simple_io::delete_(file(dir + "empty/")));
    EXPECT_TRUE(simple_io::rename(file(dir + "full/f"), file(dir + "g")));
    EXPECT_TRUE(simple_io::file_exists_q(file(dir + "g")));
    EXPECT_FALSE(simple_io::file_exists_q(file(dir + "full/f")));
    EXPECT_TRUE(simple_io::delete_(file(dir + "g")));
    EXPECT_FALSE(simple_io::delete_(file(dir + "g")));
    EXPECT_TRUE(simple_io::make_dir(file(dir + "made")));
    EXPECT_TRUE(simple_io::file_exists_q(file(dir + "made/")));

    EXPECT_EQ(cell_type(simple_io::query(file(dir + "missing"))), uint32_t(TYPE_NONE));
    put("q", "1");
    EXPECT_EQ(cell_type(simple_io::query(file(dir + "q/"))), uint32_t(TYPE_NONE));   // a file named as a folder
    cell* date = simple_io::query(file(dir + "q"));
    ASSERT_EQ(cell_type(date), uint32_t(TYPE_DATE));
    SYSTEMTIME now;
    GetSystemTime(&now);
    EXPECT_EQ(date->data1 >> 17, now.wYear);
    EXPECT_TRUE(date->data1 & 0x10000);   // has a time
    EXPECT_EQ(date->data1 & 0x7F, 0u);    // zone 0
}

TEST_F(SimpleIo, SizeOfFilesFoldersAndMissingFiles)
{
    put("f", "abc");
    EXPECT_EQ(integer_of(simple_io::size_q(file(dir + "f"))), 3);
    EXPECT_EQ(cell_type(simple_io::size_q(file(dir + "missing"))), uint32_t(TYPE_NONE));
    EXPECT_EQ(cell_type(simple_io::size_q(file("./"))), uint32_t(TYPE_NONE));
    EXPECT_EQ(cell_type(simple_io::size_q(file(dir + ".."))), uint32_t(TYPE_NONE));
}

TEST_F(SimpleIo, AFileOfFiveGigabytesIsRefusedWholeButReadInParts)
{
    std::string name = dir + "sparse";
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = 5LL << 30;
    SetFilePointerEx(h, end, nullptr, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    EXPECT_EQ(raised([&] { simple_io::size_q(file(name)); }), TYPE_LIMIT);
    EXPECT_EQ(raised([&] { simple_io::read(file(name), -1, -1, true, false); }), NO_MEMORY);
    cell* c = simple_io::read(file(name), 4, -1, true, false);
    EXPECT_EQ(test::binary_hex(c), "00000000");
    c = simple_io::read(file(name), 2, (5LL << 30) - 1, true, false);   // a position past 32 bits
    EXPECT_EQ(test::binary_hex(c), "00");
}

TEST_F(SimpleIo, AFileReportingSizeZeroIsReadWhole)
{
    // procfs entries report size 0 through Wine's Z: drive.
    cell* c = simple_io::read(file("/Z/proc/self/status"), -1, -1, false, false);
    std::string text = string::utf8_copy(c);
    EXPECT_NE(text.find("Name:"), std::string::npos);
    EXPECT_GT(text.size(), 200u);
    cell* part = simple_io::read(file("/Z/proc/self/status"), 5, -1, false, false);
    EXPECT_EQ(string::utf8_copy(part), "Name:");
}

TEST_F(SimpleIo, NativePathsOfFileNames)
{
    struct row {
        const char* name;
        const wchar_t* path;
    } rows[] = {
        {"/c/dir/f.txt", L"c:\\dir\\f.txt"}, {"/c", L"c:\\"}, {"/", L"\\"}, {"/srv/share/a", L"\\\\srv\\share\\a"},
        {"dir/f", L"dir\\f"}, {"", L""},
    };
    for (const row& r : rows) EXPECT_EQ(file::native_path(file(r.name)), r.path) << r.name;
}

}  // namespace
