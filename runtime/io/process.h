// External process calls: the engine behind `call` (CreateProcessW, pipes, files, the null device)
// and the `browse` front end. Must not break: pipe threads touch only their own C++ buffers (the
// input is copied before the child starts, captures are turned into values after every thread has
// been joined), and every handle is closed on every path.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "runtime/cell.h"

namespace ext_process {

// One standard stream of the child: left alone (the null device once anything is redirected), a
// file, bytes to feed (input), or a capture (output, error).
struct redirect {
    enum kind_t : uint32_t { NONE, FILE_PATH, BYTES, CAPTURE } kind = NONE;
    std::wstring path;           // FILE_PATH
    std::vector<uint8_t> bytes;  // BYTES: what is fed; CAPTURE: what was read
};

struct run_options {
    bool wait = false;
    bool show = false;
    bool shell = false;   // in: asked for; out: the command ran through the command interpreter
};

// Why the last run returned -1: the step that failed and the system's error code (GetLastError)
// taken right after it. A run that did not fail leaves step NONE and code 0, so a -1 that is the
// child's own exit code can be told from ours.
enum class step : uint32_t { NONE, NULL_DEVICE, INPUT, OUTPUT, ERROR_OUTPUT, START, THREAD, WAIT, EXIT_CODE };
struct failure {
    step where = step::NONE;
    uint32_t code = 0;
};
failure last_failure();

// Runs a command: the exit code when waiting (asked, or forced by a redirection), else the process
// id; -1 when a pipe, an input or output file or the start fails. Input is fed and both outputs
// drained at the same time, so no child blocks on a full pipe.
int32_t run(const std::wstring& command, run_options& options, redirect& in, redirect& out, redirect& err);

// The `call` native's work on the current arguments window (refinements as the natives table
// passes them): /console raises internal/not-done, an empty command returns 0.
void call(const int32_t* refinements);

// The shell's open verb, replaceable by tests (the real one is ShellExecuteW with "open").
extern void (*shell_open)(const wchar_t* target);
// `browse`: a file! becomes its native path first; failures are not reported.
void browse(const cell* target);

void init();

}  // namespace ext_process
