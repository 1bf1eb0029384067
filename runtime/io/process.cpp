// External processes: start, redirect, feed, drain and wait. One thread per pipe (CreateThread)
// feeds the input and drains each output at the same time. Mended: a child that fills its error
// pipe while its output is still open, or that gets more input than a pipe holds, no longer
// deadlocks the caller; a child that exits without reading its input ends the feed quietly; an
// output or error file that cannot be opened makes the call fail (-1) instead of dropping the
// output; captured text is decoded straight into the target, whatever its size.
#include "runtime/io/process.h"

#include <windows.h>

#include <cstring>

#include "runtime/datatypes/file.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/errors.h"
#include "runtime/interpreter/natives.h"
#include "runtime/stack.h"
#include "runtime/io/simple_io.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace {

using simple_io::file_handle;

constexpr uint32_t CAPTURE_START = 4096;
constexpr size_t CAPTURE_LIMIT = 0x7FFFFFF0u;   // more than a series can take is cut off, and raises

ext_process::failure failed_at;

// Notes the failing step with the system's error code, for the -1 that the caller returns.
int32_t fail(ext_process::step where)
{
    failed_at = {where, GetLastError()};
    return -1;
}

void real_shell_open(const wchar_t* target) { ShellExecuteW(nullptr, L"open", target, nullptr, nullptr, SW_SHOWNORMAL); }

// The work of one pipe thread: only its own handle and its own C++ buffer, never a value.
struct pipe_job {
    HANDLE pipe;
    std::vector<uint8_t>* bytes;
    bool failed = false;   // the buffer could not grow (bad_alloc) or passed the limit
};

DWORD WINAPI drain_pipe(void* argument)
{
    pipe_job* job = static_cast<pipe_job*>(argument);
    try {
        std::vector<uint8_t>& out = *job->bytes;
        out.resize(CAPTURE_START);
        size_t used = 0;
        for (;;) {
            if (used == out.size()) {
                if (out.size() >= CAPTURE_LIMIT) {
                    job->failed = true;
                    break;
                }
                out.resize(out.size() * 2 < CAPTURE_LIMIT ? out.size() * 2 : CAPTURE_LIMIT);
            }
            DWORD got = 0;
            if (!ReadFile(job->pipe, out.data() + used, DWORD(out.size() - used), &got, nullptr)) break;
            used += got;   // a zero-byte read is a zero-byte write of the child: go on
        }
        out.resize(used);
    } catch (...) {
        job->failed = true;
    }
    // A reader that stops early closes its end, so the child's writes fail instead of blocking.
    CloseHandle(job->pipe);
    return 0;
}

DWORD WINAPI feed_pipe(void* argument)
{
    pipe_job* job = static_cast<pipe_job*>(argument);
    const std::vector<uint8_t>& in = *job->bytes;
    size_t done = 0;
    while (done < in.size()) {
        size_t left = in.size() - done;
        DWORD want = DWORD(left < (1u << 20) ? left : (1u << 20)), put = 0;
        // A child that ends without reading breaks the pipe: the feed just ends.
        if (!WriteFile(job->pipe, in.data() + done, want, &put, nullptr)) break;
        done += put;
    }
    CloseHandle(job->pipe);
    return 0;
}

// A thread over a job; joined (and its handle closed) when the owner leaves scope.
struct pipe_thread {
    HANDLE thread = nullptr;
    pipe_job job;
    bool start(LPTHREAD_START_ROUTINE routine, HANDLE pipe, std::vector<uint8_t>* bytes)
    {
        job.pipe = pipe;
        job.bytes = bytes;
        thread = CreateThread(nullptr, 0, routine, &job, 0, nullptr);
        if (thread) return true;
        fail(ext_process::step::THREAD);
        CloseHandle(pipe);
        return false;
    }
    void join()
    {
        if (!thread) return;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        thread = nullptr;
    }
    ~pipe_thread() { join(); }
};

// A pipe whose parent end is not inherited; the child end is. False when any call fails.
bool make_pipe(HANDLE* parent_end, HANDLE* child_end, bool child_reads)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read_end, write_end;
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) return false;
    *parent_end = child_reads ? write_end : read_end;
    *child_end = child_reads ? read_end : write_end;
    if (!SetHandleInformation(*parent_end, HANDLE_FLAG_INHERIT, 0)) {
        CloseHandle(read_end);
        CloseHandle(write_end);
        return false;
    }
    return true;
}

HANDLE open_inherited(const std::wstring& path, bool input)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (input)
        return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) SetFilePointer(h, 0, nullptr, FILE_END);   // output is appended
    return h;
}

// The child's side of one stream: a file, a pipe (the parent's end going to *parent_end), or the
// null device. False on failure.
bool child_stream(const ext_process::redirect& r, bool input, file_handle& child, HANDLE* parent_end, HANDLE null)
{
    if (r.kind == ext_process::redirect::FILE_PATH) {
        child.handle = open_inherited(r.path, input);
        return child.valid();
    }
    if (r.kind == ext_process::redirect::NONE) {
        HANDLE copy;
        if (!DuplicateHandle(GetCurrentProcess(), null, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
            return false;
        child.handle = copy;
        return true;
    }
    HANDLE end;
    if (!make_pipe(parent_end, &end, input)) return false;
    child.handle = end;
    return true;
}

// A file! gives its native path; a string its plain text.
std::wstring command_text(const cell* value)
{
    return cell_type(value) == TYPE_FILE ? file::native_path(value) : simple_io::wide_text(value);
}

// The types the native's spec allows, checked here too: a caller that did not check (apply) must
// not get a number read as a series.
void need(const cell* value, bool binary_too)
{
    uint32_t t = cell_type(value);
    if (t == TYPE_STRING || t == TYPE_FILE || (binary_too && t == TYPE_BINARY)) return;
    cell copy = *value;
    fire(ERR_SCRIPT, err::INVALID_ARG, &copy);
}

void output_redirect(const cell* value, ext_process::redirect& r)
{
    need(value, true);
    if (cell_type(value) == TYPE_FILE) {
        r.kind = ext_process::redirect::FILE_PATH;
        r.path = file::native_path(value);
    } else {
        r.kind = ext_process::redirect::CAPTURE;
    }
}

// Appends a capture to the caller's value: a binary takes the bytes, a string the decoded text
// (the ANSI code page after the command interpreter, else UTF-8; bad sequences become U+FFFD).
void deliver(cell* target, const std::vector<uint8_t>& bytes, bool ansi)
{
    if (bytes.empty()) return;
    if (bytes.size() > CAPTURE_LIMIT - 16) fire(ERR_INTERNAL, err::NO_MEMORY);
    if (cell_type(target) == TYPE_BINARY) {
        uint8_t* tail = series_alloc_tail_bytes(target->data2, uint32_t(bytes.size()));
        std::memcpy(tail, bytes.data(), bytes.size());
        return;
    }
    UINT page = ansi ? CP_ACP : CP_UTF8;
    const char* text = reinterpret_cast<const char*>(bytes.data());
    int units = MultiByteToWideChar(page, 0, text, int(bytes.size()), nullptr, 0);
    if (units <= 0) return;
    std::vector<wchar_t> wide(static_cast<size_t>(units));
    MultiByteToWideChar(page, 0, text, int(bytes.size()), wide.data(), units);
    stack::scope scope;
    node_ref node = utf16_load_string(reinterpret_cast<const uint8_t*>(wide.data()), uint32_t(units), nullptr, false);
    cell* decoded = scope.push(cell{TYPE_STRING, 0, node, 0});
    string::concatenate(target, decoded, -1, 0, false, string::CONCAT_APPEND);
}

}  // namespace

void (*ext_process::shell_open)(const wchar_t* target) = real_shell_open;

ext_process::failure ext_process::last_failure() { return failed_at; }

int32_t ext_process::run(const std::wstring& command, run_options& options, redirect& in, redirect& out,
                         redirect& err)
{
    failed_at = {};
    bool redirected = in.kind != redirect::NONE || out.kind != redirect::NONE || err.kind != redirect::NONE;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    file_handle null(CreateFileW(L"nul:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                 OPEN_EXISTING, 0, nullptr));
    file_handle child_in, child_out, child_err;
    file_handle parent_in, parent_out, parent_err;
    if (redirected) {
        if (!null.valid()) return fail(step::NULL_DEVICE);
        if (!child_stream(in, true, child_in, &parent_in.handle, null.handle)) return fail(step::INPUT);
        if (!child_stream(out, false, child_out, &parent_out.handle, null.handle)) return fail(step::OUTPUT);
        if (!child_stream(err, false, child_err, &parent_err.handle, null.handle)) return fail(step::ERROR_OUTPUT);
    }
    STARTUPINFOW si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (redirected) {
        si.dwFlags |= STARTF_USESTDHANDLES;
        si.hStdInput = child_in.handle;
        si.hStdOutput = child_out.handle;
        si.hStdError = child_err.handle;
    }
    if (!options.show) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    }
    bool wait = options.wait || redirected;
    auto start = [&](bool shell, PROCESS_INFORMATION* pi) {
        std::wstring text = shell ? L"cmd /s /c \"" + command + L"\"" : command;
        std::vector<wchar_t> line(text.begin(), text.end());   // CreateProcessW may write into it
        line.push_back(0);
        return CreateProcessW(nullptr, line.data(), nullptr, nullptr, redirected, 0, nullptr, nullptr, &si, pi) != 0;
    };
    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    bool started = start(options.shell, &pi);
    // Under load Wine now and then loses a new process before it runs (ERROR_INTERNAL_ERROR, the
    // child's shared page could not be mapped): nothing ran, so it is started once more.
    if (!started && GetLastError() == ERROR_INTERNAL_ERROR) started = start(options.shell, &pi);
    if (!started && !options.shell && GetLastError() == ERROR_FILE_NOT_FOUND) {
        options.shell = true;
        started = start(true, &pi);
    }
    if (!started) return fail(step::START);
    file_handle process(pi.hProcess), thread(pi.hThread);
    // The child holds its own copies now; the parent's must go, or no reader ever sees the end.
    for (file_handle* h : {&child_in, &child_out, &child_err}) {
        if (h->valid()) CloseHandle(h->handle);
        h->handle = INVALID_HANDLE_VALUE;
    }

    pipe_thread feeder, out_reader, err_reader;
    // Each thread takes over (and closes) its pipe end.
    auto hand_over = [](file_handle& h) {
        HANDLE raw = h.handle;
        h.handle = INVALID_HANDLE_VALUE;
        return raw;
    };
    bool ok = true;
    if (in.kind == redirect::BYTES) ok &= feeder.start(feed_pipe, hand_over(parent_in), &in.bytes);
    if (out.kind == redirect::CAPTURE) ok &= out_reader.start(drain_pipe, hand_over(parent_out), &out.bytes);
    if (err.kind == redirect::CAPTURE) ok &= err_reader.start(drain_pipe, hand_over(parent_err), &err.bytes);
    if (!ok) TerminateProcess(process.handle, 1);
    feeder.join();
    out_reader.join();
    err_reader.join();
    if (!ok) return -1;
    if (out_reader.job.failed || err_reader.job.failed) fire(ERR_INTERNAL, err::NO_MEMORY);
    if (!wait) return int32_t(pi.dwProcessId);
    if (WaitForSingleObject(process.handle, INFINITE) != WAIT_OBJECT_0) return fail(step::WAIT);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.handle, &code)) return fail(step::EXIT_CODE);
    return int32_t(code);
}

void ext_process::call(const int32_t* refs)
{
    enum { WAIT, SHOW, CONSOLE, SHELL, INPUT, OUTPUT, ERROR_ };
    cell* base = stack::arguments();
    auto used = [&](int i) { return refs[i] >= 0; };
    if (used(CONSOLE)) fire(ERR_INTERNAL, err::NOT_DONE);
    need(base, false);
    std::wstring command = command_text(base);
    if (command.empty()) {
        *base = cell{TYPE_INTEGER, 0, 0, 0};
        return;
    }
    redirect in, out, err;
    if (used(INPUT)) {
        const cell* value = base + refs[INPUT];
        need(value, true);
        uint32_t type = cell_type(value);
        if (type == TYPE_FILE) {
            in.kind = redirect::FILE_PATH;
            in.path = file::native_path(value);
        } else if (type == TYPE_BINARY) {
            in.kind = redirect::BYTES;
            series_buffer* s = series_of(value->data2);
            uint32_t used_bytes = series_used_bytes(s);
            uint32_t head = value->data1 < used_bytes ? value->data1 : used_bytes;
            in.bytes.assign(at(s->head) + head, at(s->head) + used_bytes);
        } else {
            in.kind = redirect::BYTES;   // a string goes as its UTF-16 text
            std::wstring text = simple_io::wide_text(value);
            const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
            in.bytes.assign(p, p + text.size() * 2);
        }
    }
    if (used(OUTPUT)) output_redirect(base + refs[OUTPUT], out);
    if (used(ERROR_)) output_redirect(base + refs[ERROR_], err);
    run_options options;
    options.wait = used(WAIT);
    options.show = used(SHOW);
    options.shell = used(SHELL);
    int32_t result = run(command, options, in, out, err);
    if (out.kind == redirect::CAPTURE) deliver(base + refs[OUTPUT], out.bytes, options.shell);
    if (err.kind == redirect::CAPTURE) deliver(base + refs[ERROR_], err.bytes, options.shell);
    *base = cell{TYPE_INTEGER, 0, uint32_t(result), 0};
}

void ext_process::browse(const cell* target)
{
    if (!any_string_q(cell_type(target))) {
        cell copy = *target;
        fire(ERR_SCRIPT, err::INVALID_ARG, &copy);
    }
    std::wstring text = command_text(target);
    shell_open(text.c_str());
}

void ext_process::init()
{
    natives_s.table[natives::N_CALL - 1] = [](bool, const int32_t* refs) { call(refs); };
    natives_s.table[natives::N_BROWSE - 1] = [](bool, const int32_t*) {
        browse(stack::arguments());
        *stack::arguments() = unset_value;
    };
}
