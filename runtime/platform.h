// The platform layer: the runtime's thin road to Windows (start, standard output with ANSI
// escapes on a console or UTF-8 on a pipe, diagnostic printing, virtual memory, directory,
// environment, sleep and clock). Output never raises: a closed standard output loses the text.
// Every console call goes through platform_s.console_calls, so tests can record them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>

struct console_point {
    int16_t x;   // column
    int16_t y;   // row
};
// What GetConsoleScreenBufferInfo reports (same layout as CONSOLE_SCREEN_BUFFER_INFO).
struct console_info {
    console_point size;
    console_point cursor;
    uint16_t attributes;
    int16_t left, top, right, bottom;   // the window
    console_point max_window;
};

// The console calls, each a thin wrapper of the Windows routine of the same name working on the
// stored output handle.
struct console_calls {
    uint32_t (*write)(const wchar_t* units, uint32_t count);                        // WriteConsoleW
    void (*set_cursor)(console_point at);                                           // SetConsoleCursorPosition
    void (*set_attributes)(uint16_t attributes);                                    // SetConsoleTextAttribute
    void (*fill_characters)(wchar_t c, uint32_t count, console_point from);         // FillConsoleOutputCharacterW
    void (*fill_attributes)(uint16_t attributes, uint32_t count, console_point from);   // FillConsoleOutputAttribute
    bool (*get_info)(console_info* info);                                           // GetConsoleScreenBufferInfo
};

// The zone of the local time as GetTimeZoneInformation gives it: the biases (minutes to add to
// local time to get UTC; a season's bias adds to the base one) and which season is in force.
struct zone_data {
    int32_t bias;
    int32_t standard_bias;
    int32_t daylight_bias;
    uint32_t id;
};
enum : uint32_t { ZONE_UNKNOWN, ZONE_STANDARD, ZONE_DAYLIGHT };

constexpr uint32_t OUTPUT_BUFFER_BYTES = 1024;
constexpr uint32_t CONSOLE_FLUSH_UNITS = 510;
constexpr uint32_t PIPE_FLUSH_BYTES = 1020;

struct platform_state {
    void* output;             // standard output handle, stored by the entry
    bool console;             // the output handle is a Windows console
    wchar_t format[32];       // formatted numbers
    union {
        uint8_t bytes[OUTPUT_BUFFER_BYTES];             // pipe path: UTF-8
        wchar_t units[OUTPUT_BUFFER_BYTES / 2];         // console path: UTF-16
    } out;
    uint32_t out_count;       // bytes (pipe path) or units (console path) pending in out
    console_info info;        // last screen-buffer info read
    uint16_t initial_attributes;
    console_point saved_cursor;
    uintptr_t gdiplus_token;  // 0 until GDI+ was started
    bool com_started;
    console_calls console_calls;
    void (*sleep)(uint32_t milliseconds);   // Sleep
    void (*zone)(zone_data* out);           // GetTimeZoneInformation
};
extern platform_state platform_s;
// The real Windows routines behind the seams of platform_s.
extern const console_calls windows_console_calls;

// ---- start ---------------------------------------------------------------------------------------
// Stores the standard output handle (the entry does this before runtime::init).
void platform_set_output(void* handle);
// Console detection, UTF-16 mode of stdout and stderr.
void platform_init();
// GDI+ and COM (single-threaded apartment), each started once, by its first user.
void platform_gdiplus_start();
void platform_com_start();
// Sets the console flag from the output handle and empties the output buffer.
bool console_mode_q();
void console_save_attributes();
void console_save_cursor();
void console_set_cursor(console_point at);
void console_set_attributes(uint16_t attributes);
// Erase modes: 0 cursor to end of line, 1 line start to cursor (cursor to line start),
// 2 whole line (cursor to line start), 3 cursor's line start to end of buffer,
// 4 top of buffer to the cursor's line start, 5 whole buffer (cursor home).
enum console_erase : uint32_t {
    ERASE_LINE_END, ERASE_LINE_START, ERASE_LINE, ERASE_BELOW, ERASE_ABOVE, ERASE_ALL
};
void console_clear(console_erase mode);
// Interprets a control sequence at text (ESC [ ...); returns the bytes consumed, 0 when the text
// does not start with ESC [.
uint32_t console_ansi_escape(const uint8_t* text, uint32_t bytes_left, uint32_t unit);
// Attributes after applying SGR code to a (a negative: the console's current attributes).
uint16_t sgr_to_attribute(int32_t a, uint32_t code);

// ---- text output ---------------------------------------------------------------------------------
// size in bytes; unit 1, 2 or 4 (any other is runtime error 101); newline appends CR LF.
void print_units(const void* text, uint32_t size, uint32_t unit, bool newline);
uint32_t console_write_ansi(const void* text, uint32_t size, uint32_t unit, bool newline);
void pipe_write_utf8(const void* text, uint32_t size, uint32_t unit, bool newline);
void console_write_utf16(wchar_t unit);
// 8-bit text, no escapes: Latin-1 units on a console, the bytes unchanged elsewhere; then to the
// text hook list.
void print_cstring(const char* text);
void print_formatted(uint32_t n);
void print_int(int32_t n);
void print_hex2(uint32_t n);
void print_hex8(uint32_t n);
void print_float_16(double f);
void print_float_7(float f);

// Diagnostic printing: a list of typed items printed one after the other.
enum diag_type : uint32_t {
    DIAG_LOGIC = 1, DIAG_INTEGER, DIAG_CHAR, DIAG_FLOAT32, DIAG_FLOAT64, DIAG_TEXT, DIAG_HEX
};
struct diag_item {
    diag_type type;
    union {
        int32_t i;
        uint32_t u;
        float f;
        double d;
        const char* s;
    };
    diag_item(bool v) : type(DIAG_LOGIC), i(v) {}
    diag_item(int32_t v) : type(DIAG_INTEGER), i(v) {}
    diag_item(char32_t v) : type(DIAG_CHAR), u(v) {}
    diag_item(float v) : type(DIAG_FLOAT32), f(v) {}
    diag_item(double v) : type(DIAG_FLOAT64), d(v) {}
    diag_item(const char* v) : type(DIAG_TEXT), s(v) {}
    diag_item(diag_type t, uint32_t v) : type(t), u(v) {}
};
inline diag_item diag_hex(uint32_t v) { return diag_item(DIAG_HEX, v); }
void rt_print(std::initializer_list<diag_item> items);
void rt_print_line(std::initializer_list<diag_item> items);

// ---- operating-system services -------------------------------------------------------------------
// Committed pages; failure throws 7FFFFFF7h (rt_throw), a failed release 7FFFFFF6h.
constexpr uint32_t THROW_VM_ALLOC = 0x7FFFFFF7u;
constexpr uint32_t THROW_VM_FREE = 0x7FFFFFF6u;
void* vm_alloc(size_t size, bool executable);
void vm_free(void* address);

// A NUL-terminated copy from the tracked heap (the caller frees it with rt_free); *length gets
// the characters without the NUL.
wchar_t* os_get_current_dir(uint32_t* length);
namespace platform {
bool set_current_dir(const wchar_t* path);
}
bool os_set_env(const wchar_t* name, const wchar_t* value);
// Characters copied, the size needed when buffer is too small, 0 when the variable is not set.
uint32_t os_get_env(const wchar_t* name, wchar_t* buffer, uint32_t size);

void os_sleep(double seconds);
// Seconds since the start of the current UTC day (precise: to 100 ns, else whole seconds).
double os_now(bool precise);
// Packed date: year << 17 | month << 12 | day << 7 | zone (UTC: zone 0).
uint32_t os_get_time(bool utc);
// Zone bits of a packed date for an offset in minutes east of UTC: sign (bit 6), hours (bits
// 2-5), quarter hours (bits 0-1), both of the offset's magnitude.
uint32_t date_zone_pack(int32_t minutes);
