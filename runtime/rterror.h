// Fatal runtime errors and the tracked heap: every way the process ends goes through
// runtime_error. Nothing here may allocate from the value heap.
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

// Text of a runtime error code ("unknown error code!" for codes outside the table).
const char* runtime_error_text(int32_t code);

// Shows the message (code 0: nothing), frees the tracked heap and ends the process with `code`.
[[noreturn]] void runtime_error(int32_t code, uintptr_t address);

// Handler of the outermost catch: a throw that nothing caught.
[[noreturn]] void rt_top_handler();

// Address of the caller's code, for the message of a runtime error raised right there.
#define rt_error_address() (reinterpret_cast<uintptr_t>(__builtin_return_address(0)))

// The tracked heap: blocks the runtime keeps for the process's life; freed by runtime_error.
// A refused request is runtime error 94.
void* rt_alloc(size_t size);
void* rt_realloc(void* block, size_t size);
void rt_free(void* block);
void rt_free_all();
size_t rt_heap_total();   // sum over tracked blocks of size + 16

// Installs the unhandled-exception filter (start-up).
void rt_install_filter();

// Test mode (environment KIV_TEST_MODE set): message boxes go to standard error instead.
bool rt_test_mode();
void show_error_box(const wchar_t* title, const wchar_t* text);
