// Fatal runtime errors, the exception filter and the tracked heap. Every end of the process
// passes through runtime_error; it must work when the value heap is exhausted or corrupt.
#include "runtime/rterror.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "runtime/system.h"
#include "runtime/unicode.h"

fault_record rt_fault;

namespace {

const char* const rt_texts[] = {
    nullptr,
    "access violation", "invalid alignment", "breakpoint", "single step", "bounds exceeded",
    "float denormal operan", "float divide by zero", "float inexact result", "float invalid operation",
    "float overflow", "float stack check", "float underflow", "integer divide by zero", "integer overflow",
    "privileged instruction", "invalid virtual address", "illegal instruction", "non-continuable exception",
    "stack error or overflow", "invalid disposition", "guard page", "invalid handle", "illegal operand",
    "illegal addressing mode", "illegal trap", "coprocessor error", "non-existent physical address",
    "object specific hardware error", "hardware memory error consumed AR", "hardware memory error consumed AO",
    "privileged register", "segmentation fault", "FPU error", "Bus error",
};
static_assert(sizeof rt_texts / sizeof rt_texts[0] == 35, "codes 1 to 34 have a text each");

struct rt_text_entry { int32_t code; const char* text; };
const rt_text_entry rt_high_texts[] = {
    {94, "out of memory"}, {95, "no CATCH for THROW"}, {98, "assertion failed"}, {99, "unknown error"},
    {100, "no value matched in CASE"}, {101, "no value matched in SWITCH"},
};

struct exception_entry { DWORD exception; int32_t code; };
const exception_entry exception_map[] = {
    {0xC0000005, 1}, {0x80000002, 2}, {0x80000003, 3}, {0x80000004, 4}, {0xC000008C, 5}, {0xC000008D, 6},
    {0xC000008E, 7}, {0xC000008F, 8}, {0xC0000090, 9}, {0xC0000091, 10}, {0xC0000092, 11}, {0xC0000093, 12},
    {0xC0000094, 13}, {0xC0000095, 14}, {0xC0000096, 15}, {0xC0000006, 16}, {0xC000001D, 17}, {0xC0000025, 18},
    {0xC00000FD, 19}, {0xC0000026, 20}, {0x80000001, 21}, {0xC0000008, 22},
};
// Ctrl+C or Ctrl+Break in a console. Wine's UnhandledExceptionFilter ends the process with
// status 1 on this code before it calls the process's filter, so a vectored handler catches it too.
constexpr DWORD EXCEPTION_INTERRUPTED = 0xC000013A;

// Tracked heap block header (16 bytes on x86, 32 on x86-64); statistics count 16 on both.
struct tracked_block {
    tracked_block* prev;
    tracked_block* next;
    size_t size;
};
constexpr size_t TRACKED_HEADER = (sizeof(tracked_block) + 15) & ~size_t(15);
tracked_block* tracked_head;

int test_mode = -1;

LONG WINAPI exception_filter(EXCEPTION_POINTERS* info)
{
    DWORD exception = info->ExceptionRecord->ExceptionCode;
    if (exception == EXCEPTION_INTERRUPTED) rt_exit(RT_INTERRUPTED_STATUS);
    const CONTEXT* c = info->ContextRecord;
    constexpr DWORD registers = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (c && (c->ContextFlags & registers) == registers) {
#if defined(_WIN64)
        rt_fault = {uintptr_t(c->Rsp), uintptr_t(c->Rbp)};
#else
        rt_fault = {uintptr_t(c->Esp), uintptr_t(c->Ebp)};
#endif
    }
    int32_t code = RT_UNKNOWN;
    for (const auto& e : exception_map)
        if (e.exception == exception) code = e.code;
    runtime_error(code, reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress));
}

LONG WINAPI interrupt_handler(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_INTERRUPTED) exception_filter(info);
    return EXCEPTION_CONTINUE_SEARCH;
}

void write_stderr_utf8(const wchar_t* text)
{
    char buf[2048];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
    if (n <= 1) return;
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), buf, DWORD(n - 1), &written, nullptr);
}

}  // namespace

const char* runtime_error_text(int32_t code)
{
    if (code >= 1 && code <= 34) return rt_texts[code];
    for (const auto& e : rt_high_texts)
        if (e.code == code) return e.text;
    return "unknown error code!";
}

bool rt_test_mode()
{
    if (test_mode < 0) test_mode = GetEnvironmentVariableW(L"KIV_TEST_MODE", nullptr, 0) > 0 ? 1 : 0;
    return test_mode == 1;
}

void show_error_box(const wchar_t* title, const wchar_t* text)
{
    if (rt_test_mode()) {
        write_stderr_utf8(title);
        write_stderr_utf8(L"\n");
        write_stderr_utf8(text);
        write_stderr_utf8(L"\n");
        return;
    }
    MessageBoxW(nullptr, text, title, 0x2010);
}

size_t runtime_error_message(int32_t code, uintptr_t address, wchar_t (&out)[RT_MESSAGE_UNITS])
{
    wchar_t text[256];   // the longest text has 34 characters
    cstring_to_utf16(runtime_error_text(code), text);
    int written = swprintf(out, RT_MESSAGE_UNITS, L"*** Runtime Error %d: %ls\n*** at: %0*llXh", int(code), text,
                           int(sizeof(void*) * 2), static_cast<unsigned long long>(address));
    return written > 0 ? size_t(written) : 0;
}

void runtime_error(int32_t code, uintptr_t address)
{
    if (code != RT_NORMAL_END) {
        wchar_t message[RT_MESSAGE_UNITS];
        runtime_error_message(code, address, message);
        show_error_box(L"Kiv App Error", message);
    }
    rt_exit(uint32_t(code));
}

#if defined(KIV_CHECKED)
void kiv_check_failed() { runtime_error(RT_ASSERTION, rt_error_address()); }
#endif

void rt_exit(uint32_t status)
{
    rt_free_all();
    ExitProcess(status);
}

void rt_top_handler() { runtime_error(RT_NO_CATCH, reinterpret_cast<uintptr_t>(&rt_top_handler)); }

void rt_throw(uint32_t code)
{
    system_s.thrown = code;
    throw system_throw_unwind{};
}

uintptr_t rt_note_frame(void* frame, void* return_address)
{
    // This routine's own frame sits right below the raiser's stack pointer at the call: the
    // return address and the saved frame pointer.
    uintptr_t own = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    rt_fault = {own + 2 * sizeof(void*), reinterpret_cast<uintptr_t>(frame)};
    return reinterpret_cast<uintptr_t>(return_address);
}

void rt_install_filter()
{
    SetUnhandledExceptionFilter(exception_filter);
    AddVectoredExceptionHandler(0, interrupt_handler);
    SetErrorMode(1);
    // The test harness names a file to make once the program runs: a run that ends without it
    // never started (Wine loses a start now and then under load) and may be made again.
    wchar_t started[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"KIV_STARTED_FILE", started, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        HANDLE h = CreateFileW(started, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
}

void* rt_alloc(size_t size)
{
    auto* b = static_cast<tracked_block*>(std::malloc(size + TRACKED_HEADER));
    if (!b) runtime_error(RT_NO_MEMORY, rt_error_address());
    b->prev = nullptr;
    b->next = tracked_head;
    b->size = size;
    if (tracked_head) tracked_head->prev = b;
    tracked_head = b;
    return reinterpret_cast<char*>(b) + TRACKED_HEADER;
}

void* rt_realloc(void* block, size_t size)
{
    if (!block) return rt_alloc(size);
    auto* b = reinterpret_cast<tracked_block*>(static_cast<char*>(block) - TRACKED_HEADER);
    tracked_block* prev = b->prev;
    tracked_block* next = b->next;
    auto* n = static_cast<tracked_block*>(std::realloc(b, size + TRACKED_HEADER));
    if (!n) runtime_error(RT_NO_MEMORY, rt_error_address());
    n->size = size;
    if (prev) prev->next = n; else tracked_head = n;
    if (next) next->prev = n;
    return reinterpret_cast<char*>(n) + TRACKED_HEADER;
}

void rt_free(void* block)
{
    if (!block) return;
    auto* b = reinterpret_cast<tracked_block*>(static_cast<char*>(block) - TRACKED_HEADER);
    if (b->prev) b->prev->next = b->next; else tracked_head = b->next;
    if (b->next) b->next->prev = b->prev;
    std::free(b);
}

void rt_free_all()
{
    while (tracked_head) {
        tracked_block* next = tracked_head->next;
        std::free(tracked_head);
        tracked_head = next;
    }
}

size_t rt_heap_total()
{
    size_t total = 0;
    for (tracked_block* b = tracked_head; b; b = b->next) total += b->size + 16;
    return total;
}
