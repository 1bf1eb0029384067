// Fatal runtime errors and the tracked heap: every way the process ends goes through
// runtime_error (or, for an interrupt, rt_exit). Nothing here may allocate from the value heap.
#pragma once
#include <cstddef>
#include <cstdint>

enum rt_code : int32_t {
    RT_NORMAL_END = 0,
    RT_NO_MEMORY = 94,
    RT_NO_CATCH = 95,
    RT_ASSERTION = 98,
    RT_UNKNOWN = 99,
    RT_NO_CASE = 100,
    RT_NO_SWITCH = 101,
};

// Process status of an interrupted run (exception 0xC000013A, Ctrl+C): silent, but not a success.
constexpr uint32_t RT_INTERRUPTED_STATUS = 0xC000013Au;

// Text of a runtime error code ("unknown error code!" for codes outside the table).
const char* runtime_error_text(int32_t code);

// Formats "*** Runtime Error %d: %s\n*** at: %08Xh" into out (the address takes as many hex
// digits as a pointer has: 8 on i686, 16 on x86-64). Returns the units written.
constexpr size_t RT_MESSAGE_UNITS = 512;
size_t runtime_error_message(int32_t code, uintptr_t address, wchar_t (&out)[RT_MESSAGE_UNITS]);

// Shows the message (code 0: nothing), frees the tracked heap and ends the process with `code`.
[[noreturn]] void runtime_error(int32_t code, uintptr_t address);

// Frees the tracked heap and ends the process with `status`, showing nothing.
[[noreturn]] void rt_exit(uint32_t status);

// Handler of the outermost catch: a throw that nothing caught (runtime error 95).
[[noreturn]] void rt_top_handler();

// A throw of the runtime's own code (virtual-memory failure, for one): the code is stored in
// system_s.thrown and this unwinds to the nearest handler, which reads it there. One that
// reaches the entry ends the process through rt_top_handler.
struct system_throw_unwind {};
[[noreturn]] void rt_throw(uint32_t code);

// Where the last fault happened: stack and frame pointers, filled by the exception filter from
// the faulting context and by rt_error_address from the frame that raises.
struct fault_record {
    uintptr_t stack;
    uintptr_t frame;
};
extern fault_record rt_fault;

// Records the caller's frame in rt_fault and yields the caller's return address: the code
// address that a runtime error raised right there reports.
#define rt_error_address() \
    rt_note_frame(__builtin_frame_address(0), __builtin_return_address(0))
uintptr_t rt_note_frame(void* frame, void* return_address);

// The tracked heap: blocks the runtime keeps for the process's life; freed by runtime_error.
// A refused request is runtime error 94.
void* rt_alloc(size_t size);
void* rt_realloc(void* block, size_t size);
void rt_free(void* block);
void rt_free_all();
size_t rt_heap_total();   // sum over tracked blocks of size + 16

// Installs the unhandled-exception filter and sets the process error mode (start-up); makes the
// file KIV_STARTED_FILE names, when set, so that a test harness knows the program ran.
void rt_install_filter();

// Test mode (environment KIV_TEST_MODE set): message boxes go to standard error instead.
bool rt_test_mode();
void show_error_box(const wchar_t* title, const wchar_t* text);
