// The process engine with real children: kiv-child.exe (built beside this test program) and cmd.
// The large cases are the deadlocks a sequential drain or a one-shot feed would hit: a child that
// fills its error pipe first, one that echoes more than a pipe holds, one that never reads.
#include <windows.h>

#include <string>
#include <vector>

#include "io/io_test.h"
#include "runtime/io/process.h"
#include "support/fixtures.h"

namespace {

constexpr uint32_t BIG = 8u << 20;

std::wstring child(const std::wstring& arguments)
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    path = path.substr(0, path.find_last_of(L'\\') + 1) + L"kiv-child.exe";
    return L"\"" + path + L"\" " + arguments;
}

struct call_result {
    int32_t code;
    ext_process::redirect in, out, err;
    bool shell;
    ext_process::failure failed;
};

call_result run(const std::wstring& command, bool wait, bool shell, ext_process::redirect in = {},
                ext_process::redirect out = {}, ext_process::redirect err = {})
{
    call_result r{0, std::move(in), std::move(out), std::move(err), false, {}};
    ext_process::run_options options;
    options.wait = wait;
    options.shell = shell;
    r.code = ext_process::run(command, options, r.in, r.out, r.err);
    r.shell = options.shell;
    r.failed = ext_process::last_failure();
    return r;
}

ext_process::redirect capture()
{
    ext_process::redirect r;
    r.kind = ext_process::redirect::CAPTURE;
    return r;
}
ext_process::redirect bytes(std::vector<uint8_t> data)
{
    ext_process::redirect r;
    r.kind = ext_process::redirect::BYTES;
    r.bytes = std::move(data);
    return r;
}
ext_process::redirect path(const std::wstring& p)
{
    ext_process::redirect r;
    r.kind = ext_process::redirect::FILE_PATH;
    r.path = p;
    return r;
}

bool all_of(const std::vector<uint8_t>& v, uint8_t byte)
{
    for (uint8_t b : v)
        if (b != byte) return false;
    return true;
}

TEST(ProcessCall, BothOutputsAreDrainedTogether)
{
    call_result r = run(child(L"err 8388608 out 8388608"), true, false, {}, capture(), capture());
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.bytes.size(), BIG);
    EXPECT_EQ(r.err.bytes.size(), BIG);
    EXPECT_TRUE(all_of(r.out.bytes, 'o'));
    EXPECT_TRUE(all_of(r.err.bytes, 'e'));
}

TEST(ProcessCall, InputIsFedWhileOutputIsRead)
{
    std::vector<uint8_t> data = fixture::xorshift_bytes(BIG, 7);
    call_result r = run(child(L"echo"), true, false, bytes(data), capture());
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.bytes == data);
}

TEST(ProcessCall, AChildThatNeverReadsItsInputEndsTheFeedQuietly)
{
    call_result r = run(child(L"exit 7"), true, false, bytes(std::vector<uint8_t>(BIG, 1)));
    EXPECT_EQ(r.code, 7);
}

TEST(ProcessCall, ExitCodesAndTheCommandInterpreter)
{
    EXPECT_EQ(run(L"cmd /c exit 3", true, false).code, 3);
    call_result shell = run(L"exit 5", true, true);
    EXPECT_EQ(shell.code, 5);
    call_result echo = run(L"cmd /c echo hi", true, false, {}, capture());
    EXPECT_EQ(std::string(echo.out.bytes.begin(), echo.out.bytes.end()), "hi\r\n");
    EXPECT_FALSE(echo.shell);
    // A built-in of the interpreter is not a program: the direct start fails and the shell form runs.
    call_result dir = run(L"dir", false, false, {}, capture());
    EXPECT_EQ(dir.code, 0);
    EXPECT_TRUE(dir.shell);
    EXPECT_FALSE(dir.out.bytes.empty());
}

TEST(ProcessCall, WithoutWaitOrRedirectionTheProcessIdComesBackWhileTheChildRuns)
{
    call_result r = run(child(L"sleep 2000"), false, false);
    ASSERT_GT(r.code, 0);
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, DWORD(r.code));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(WaitForSingleObject(h, 0), DWORD(WAIT_TIMEOUT));
    TerminateProcess(h, 0);
    CloseHandle(h);
}

TEST(ProcessCall, FileRedirections)
{
    std::wstring name = L"process-test-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    DeleteFileW(name.c_str());
    EXPECT_EQ(run(child(L"out 3"), false, false, {}, path(name)).code, 0);
    EXPECT_EQ(run(child(L"out 2"), false, false, {}, path(name)).code, 0);   // appended, not replaced
    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &info));
    EXPECT_EQ(info.nFileSizeLow, 5u);
    call_result from_file = run(child(L"echo"), false, false, path(name), capture());
    EXPECT_EQ(std::string(from_file.out.bytes.begin(), from_file.out.bytes.end()), "ooooo");
    DeleteFileW(name.c_str());
}

// A -1 of the engine names the step that failed and the system's code; a child's own -1 names none.
TEST(ProcessCall, AFailedRunNamesItsStepAndTheSystemsCode)
{
    using ext_process::step;
    std::wstring text = L"process-test-text-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    HANDLE h = CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    WriteFile(h, "text", 4, &put, nullptr);
    CloseHandle(h);
    struct {
        call_result r;
        int32_t code;
        step where;
        uint32_t error;
    } cases[] = {
        {run(child(L"echo"), false, false, path(L"missing-input-file")), -1, step::INPUT, ERROR_FILE_NOT_FOUND},
        {run(child(L"out 1"), false, false, {}, path(L"no-such-folder\\o.txt")), -1, step::OUTPUT,
         ERROR_PATH_NOT_FOUND},
        {run(child(L"out 1"), false, false, {}, {}, path(L"no-such-folder\\e.txt")), -1, step::ERROR_OUTPUT,
         ERROR_PATH_NOT_FOUND},
        {run(L"\"" + text + L"\"", true, false), -1, step::START, ERROR_BAD_EXE_FORMAT},
        {run(child(L"exit 4294967295"), true, false), -1, step::NONE, 0},
        {run(child(L"exit 0"), true, false), 0, step::NONE, 0},
    };
    DeleteFileW(text.c_str());
    for (size_t i = 0; i < std::size(cases); i++) {
        EXPECT_EQ(cases[i].r.code, cases[i].code) << "case " << i;
        EXPECT_EQ(cases[i].r.failed.where, cases[i].where) << "case " << i;
        EXPECT_EQ(cases[i].r.failed.code, cases[i].error) << "case " << i;
    }
}

class ProcessFront : public test::StackTest {};

TEST_F(ProcessFront, StringInputGoesAsUtf16AndCapturesAppendToTheTarget)
{
    cell* base = stack::arguments();
    std::string command;
    for (wchar_t c : child(L"echo")) command += char(c);
    test::push_text(command);   // base[0]: the command, then the /input and /output values
    test::push_text("ab");
    test::push_binary(std::string("\xFF"));
    const int32_t refs[] = {-1, -1, -1, -1, 1, 2, -1};
    ext_process::call(refs);
    EXPECT_EQ(integer_of(base), 0);
    EXPECT_EQ(test::binary_hex(base + 2), "FF61006200");
}

TEST_F(ProcessFront, BrowseHandsTheNativePathToTheShell)
{
    static std::wstring seen;
    auto saved = ext_process::shell_open;
    ext_process::shell_open = [](const wchar_t* target) { seen = target; };
    cell* f = test::push_text("/c/dir/a b.txt");
    f->header = TYPE_FILE;
    ext_process::browse(f);
    EXPECT_EQ(seen, L"c:\\dir\\a b.txt");
    ext_process::browse(test::push_text("http://example.invalid/"));
    EXPECT_EQ(seen, L"http://example.invalid/");
    ext_process::shell_open = saved;
}

}  // namespace
