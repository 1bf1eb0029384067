// The platform layer: start, standard output (ANSI escapes interpreted on a console, UTF-8 on a
// pipe or file), diagnostic numbers, virtual memory, directory, environment, sleep and clock.
// Must not break: the output buffer is empty between calls (every writer flushes before it
// returns), and no output routine raises.
#include "runtime/platform.h"

#include <windows.h>
#include <gdiplus.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "runtime/hooks.h"
#include "runtime/rterror.h"
#include "runtime/unicode.h"

namespace {

HANDLE out_handle() { return static_cast<HANDLE>(platform_s.output); }
COORD coord(console_point p) { return COORD{p.x, p.y}; }

uint32_t win_write(const wchar_t* units, uint32_t count)
{
    DWORD written = 0;
    WriteConsoleW(out_handle(), units, count, &written, nullptr);
    return written;
}
void win_set_cursor(console_point at) { SetConsoleCursorPosition(out_handle(), coord(at)); }
void win_set_attributes(uint16_t attributes) { SetConsoleTextAttribute(out_handle(), attributes); }
void win_fill_characters(wchar_t c, uint32_t count, console_point from)
{
    DWORD done;
    FillConsoleOutputCharacterW(out_handle(), c, count, coord(from), &done);
}
void win_fill_attributes(uint16_t attributes, uint32_t count, console_point from)
{
    DWORD done;
    FillConsoleOutputAttribute(out_handle(), attributes, count, coord(from), &done);
}
bool win_get_info(console_info* info)
{
    static_assert(sizeof(console_info) == sizeof(CONSOLE_SCREEN_BUFFER_INFO));
    CONSOLE_SCREEN_BUFFER_INFO raw;
    if (!GetConsoleScreenBufferInfo(out_handle(), &raw)) return false;
    std::memcpy(info, &raw, sizeof raw);
    return true;
}
void win_sleep(uint32_t milliseconds) { Sleep(milliseconds); }
void win_zone(zone_data* out)
{
    TIME_ZONE_INFORMATION tz;
    DWORD id = GetTimeZoneInformation(&tz);
    *out = zone_data{tz.Bias, tz.StandardBias, tz.DaylightBias, id};
}

constexpr uint8_t ESC = 27;

[[noreturn]] void bad_unit() { runtime_error(RT_NO_SWITCH, rt_error_address()); }
void check_unit(uint32_t unit)
{
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
}

// ---- the two output paths' buffer ----------------------------------------------------------------

uint32_t console_flush()
{
    uint32_t n = platform_s.out_count;
    platform_s.out_count = 0;
    return n ? platform_s.console_calls.write(platform_s.out.units, n) : 0;
}

// Appends one character as UTF-16 (a surrogate pair above U+FFFF); flushes at 510 units.
void console_put(uint32_t cp)
{
    if (cp > 0xFFFF && cp <= 0x10FFFF) {
        cp -= 0x10000;
        platform_s.out.units[platform_s.out_count++] = wchar_t(0xD800 | (cp >> 10));
        cp = 0xDC00 | (cp & 0x3FF);
    } else if (cp > 0xFFFF) {
        cp = 0xFFFD;
    }
    platform_s.out.units[platform_s.out_count++] = wchar_t(cp);
    if (platform_s.out_count >= CONSOLE_FLUSH_UNITS) console_flush();
}

void pipe_write_bytes(const void* bytes, uint32_t count)
{
    DWORD written;
    WriteFile(out_handle(), bytes, count, &written, nullptr);
}

void pipe_flush()
{
    if (platform_s.out_count) pipe_write_bytes(platform_s.out.bytes, platform_s.out_count);
    platform_s.out_count = 0;
}

// ---- control sequences ---------------------------------------------------------------------------

bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }

console_info read_info()
{
    platform_s.console_calls.get_info(&platform_s.info);
    return platform_s.info;
}

void screen_buffer_report()
{
    console_info i = read_info();
    rt_print_line({"Screen buffer info:"});
    rt_print_line({"   size______ ", int32_t(i.size.x), "x", int32_t(i.size.y)});
    rt_print_line({"   cursor____ ", int32_t(i.cursor.x), "x", int32_t(i.cursor.y)});
    rt_print_line({"   attribute_ ", diag_hex(i.attributes), " ", diag_hex(platform_s.initial_attributes)});
    rt_print_line({"   left______ ", int32_t(i.left), " top: ", int32_t(i.top)});
    rt_print_line({"   right_____ ", int32_t(i.right), " bottom: ", int32_t(i.bottom)});
    rt_print_line({"   max_______ ", int32_t(i.max_window.x), "x", int32_t(i.max_window.y)});
}

int16_t clamp16(int32_t v, int32_t low, int32_t high)
{
    return int16_t(v < low ? low : v > high ? high : v);
}

// Cursor moves of one row or column count, kept inside the screen buffer.
void cursor_move(uint32_t direction, uint32_t n)
{
    console_info i = read_info();
    console_point c = i.cursor;
    int32_t d = int32_t(n);
    switch (direction) {
    case 'A': c.y = clamp16(c.y - d, 0, i.size.y - 1); break;
    case 'B': c.y = clamp16(c.y + d, 0, i.size.y - 1); break;
    case 'C': c.x = clamp16(c.x + d, 0, i.size.x - 1); break;
    case 'D': c.x = clamp16(c.x - d, 0, i.size.x - 1); break;
    }
    console_set_cursor(c);
}

struct sgr_state {
    uint16_t attributes;
    void apply(uint32_t code)
    {
        attributes = sgr_to_attribute(attributes, code);
        console_set_attributes(attributes);
    }
};

}  // namespace

platform_state platform_s = {
    .output = nullptr,
    .console = false,
    .format = {},
    .out = {},
    .out_count = 0,
    .info = {},
    .initial_attributes = 0x07,
    .saved_cursor = {},
    .gdiplus_token = 0,
    .console_calls = {win_write, win_set_cursor, win_set_attributes, win_fill_characters, win_fill_attributes,
                      win_get_info},
    .sleep = win_sleep,
    .zone = win_zone,
};

// ---- start ---------------------------------------------------------------------------------------

void platform_set_output(void* handle) { platform_s.output = handle; }

bool console_mode_q()
{
    DWORD mode;
    platform_s.out_count = 0;
    platform_s.console = platform_s.output && GetConsoleMode(out_handle(), &mode);
    return platform_s.console;
}

void platform_init()
{
    // GDI+ and COM start on first use (platform_gdiplus_start, platform_com_start): each costs
    // start-up several milliseconds that a run without images never needs back.
    if (console_mode_q()) console_save_attributes();
    // Without a standard stream (a GUI start with nothing inherited) there is no mode to set.
    for (FILE* stream : {stdout, stderr}) {
        int fd = _fileno(stream);
        if (fd >= 0 && _get_osfhandle(fd) != -1) _setmode(fd, _O_U16TEXT);
    }
}

void platform_gdiplus_start()
{
    if (platform_s.gdiplus_token) return;
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &gdiplus_input, nullptr) == Gdiplus::Ok) platform_s.gdiplus_token = token;
}

void platform_com_start()
{
    if (platform_s.com_started) return;
    platform_s.com_started = true;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

void console_save_attributes() { platform_s.initial_attributes = read_info().attributes; }
void console_save_cursor() { platform_s.saved_cursor = read_info().cursor; }
void console_set_cursor(console_point at) { platform_s.console_calls.set_cursor(at); }
void console_set_attributes(uint16_t attributes) { platform_s.console_calls.set_attributes(attributes); }

void console_clear(console_erase mode)
{
    console_info i = read_info();
    int32_t width = i.size.x;
    console_point line_start = {0, i.cursor.y};
    console_point from = line_start;
    int32_t count = 0;
    switch (mode) {
    case ERASE_LINE_END: from = i.cursor; count = width - i.cursor.x; break;
    case ERASE_LINE_START: count = i.cursor.x + 1; break;
    case ERASE_LINE: count = width; break;
    case ERASE_BELOW: count = width * (i.size.y - i.cursor.y); break;
    case ERASE_ABOVE: from = {0, 0}; count = width * i.cursor.y; break;
    case ERASE_ALL: from = {0, 0}; count = width * i.size.y; break;
    }
    if (count > 0) {
        platform_s.console_calls.fill_characters(L' ', uint32_t(count), from);
        platform_s.console_calls.fill_attributes(platform_s.initial_attributes, uint32_t(count), from);
    }
    if (mode == ERASE_ALL) console_set_cursor({0, 0});
    if (mode == ERASE_LINE_START || mode == ERASE_LINE) console_set_cursor(line_start);
}

uint16_t sgr_to_attribute(int32_t a, uint32_t code)
{
    if (a < 0) a = read_info().attributes;
    // SGR colour order is RGB from bit 0; the console's is BGR: exchange bits 0 and 2.
    static const uint8_t console_colour[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    // The rules below are about the colour byte; the bits above it (underscore and the other
    // grid flags) are kept.
    uint32_t high = uint32_t(a) & 0xFF00;
    uint32_t low = uint32_t(a) & 0xFF;
    if (code == 0) return platform_s.initial_attributes;
    if (code == 1) low |= 0x88;
    else if (code == 4) high |= 0x8000;
    else if (code == 7) low = (low & 0x0F) << 4 | (low & 0xF0) >> 4;
    else if (code >= 30 && code <= 37) low = (low & 0xF8) | console_colour[code - 30];
    else if (code == 39) low |= 0x08;
    else if (code >= 40 && code <= 47) low = (low & 0x8F) | uint32_t(console_colour[code - 40]) << 4;
    else if (code == 49) low |= 0x80;
    return uint16_t(high | low);
}

uint32_t console_ansi_escape(const uint8_t* text, uint32_t bytes_left, uint32_t unit)
{
    check_unit(unit);
    uint32_t units = bytes_left / unit;
    if (units < 2 || unit_read(text, unit) != ESC || unit_read(text + unit, unit) != '[') return 0;
    sgr_state sgr{read_info().attributes};
    uint32_t state = 1, p = 0, q = 0;
    uint32_t n = 2;
    while (n < units) {
        uint32_t c = unit_read(text + n * unit, unit);
        n++;
        uint32_t digit = c - '0';
        switch (state) {
        case 1:
            if (is_digit(c)) { p = digit; state = 2; continue; }
            if (c == ';') continue;
            if (c == 's') console_save_cursor();
            else if (c == 'u') console_set_cursor(platform_s.saved_cursor);
            else if (c == 'K') console_clear(ERASE_LINE_END);
            else if (c == 'J') console_clear(ERASE_BELOW);
            else if (c == 'H' || c == 'f') console_set_cursor({0, 0});
            else if (c == '?') screen_buffer_report();
            return n * unit;
        case 2:
            if (is_digit(c)) { p = (p * 10 + digit) % 65535; continue; }
            if (c == ';') { state = 3; continue; }
            if (c == 'm') sgr.apply(p);
            else if (c == 'A' || c == 'B' || c == 'C' || c == 'D') cursor_move(c, p);
            else if (c == 'J' && p == 1) console_clear(ERASE_ABOVE);
            else if (c == 'J' && p == 2) console_clear(ERASE_ALL);
            else if (c == 'K' && p == 1) console_clear(ERASE_LINE_START);
            else if (c == 'K' && p == 2) console_clear(ERASE_LINE);
            return n * unit;
        case 3:
            if (is_digit(c)) { q = digit; state = 4; continue; }
            if (c == ';') continue;
            return n * unit;
        case 4:
            if (is_digit(c)) { q = (q * 10 + digit) % 65535; continue; }
            if (c == 'm' || c == ';') {
                sgr.apply(p);
                sgr.apply(q);
                if (c == 'm') return n * unit;
                p = q = 0;
                state = 1;
                continue;
            }
            if (c == 'H' || c == 'f') console_set_cursor({int16_t(p), int16_t(q)});
            return n * unit;
        }
    }
    return n * unit;   // cut off by the end of the text
}

// ---- text output ---------------------------------------------------------------------------------

void print_units(const void* text, uint32_t size, uint32_t unit, bool newline)
{
    if (platform_s.console) console_write_ansi(text, size, unit, newline);
    else pipe_write_utf8(text, size, unit, newline);
}

uint32_t console_write_ansi(const void* text, uint32_t size, uint32_t unit, bool newline)
{
    check_unit(unit);
    const uint8_t* p = static_cast<const uint8_t*>(text);
    const uint8_t* end = p + size / unit * unit;
    while (p < end) {
        uint32_t c = unit_read(p, unit);
        if (c == ESC) {
            console_flush();
            uint32_t consumed = console_ansi_escape(p, uint32_t(end - p), unit);
            if (consumed) {
                p += consumed;
                continue;
            }
        }
        console_put(c);
        p += unit;
    }
    if (newline) {
        console_put('\r');
        console_put('\n');
    }
    return console_flush();
}

void pipe_write_utf8(const void* text, uint32_t size, uint32_t unit, bool newline)
{
    check_unit(unit);
    const uint8_t* p = static_cast<const uint8_t*>(text);
    const uint8_t* end = p + size / unit * unit;
    for (; p < end; p += unit) {
        if (platform_s.out_count > PIPE_FLUSH_BYTES) pipe_flush();
        uint32_t cp = unit_read(p, unit);
        if (cp > 0x10FFFF) cp = 0xFFFD;   // no UTF-8 form: the replacement character
        platform_s.out_count += utf8_encode_char(cp, platform_s.out.bytes + platform_s.out_count);
    }
    if (newline) {
        if (platform_s.out_count > OUTPUT_BUFFER_BYTES - 2) pipe_flush();
        platform_s.out.bytes[platform_s.out_count++] = '\r';
        platform_s.out.bytes[platform_s.out_count++] = '\n';
    }
    pipe_flush();
}

void console_write_utf16(wchar_t unit) { platform_s.console_calls.write(&unit, 1); }

void print_cstring(const char* text)
{
    uint32_t length = uint32_t(std::strlen(text));
    if (platform_s.console) {
        for (uint32_t i = 0; i < length; i++) console_put(uint8_t(text[i]));
        console_flush();
    } else {
        pipe_write_bytes(text, length);
    }
    hooks_call_3(text, length, 0);
}

void print_formatted(uint32_t n)
{
    print_units(platform_s.format, n * 2, 2, false);
    char narrow[sizeof platform_s.format / sizeof platform_s.format[0] + 1];
    for (uint32_t i = 0; i < n; i++) narrow[i] = char(platform_s.format[i]);
    narrow[n] = 0;
    hooks_call_3(narrow, n, 0);
}

namespace {
template <class... A>
void print_number(const wchar_t* format, A... args)
{
    constexpr size_t room = sizeof platform_s.format / sizeof platform_s.format[0];
    int n = swprintf(platform_s.format, room, format, args...);
    if (n > 0) print_formatted(uint32_t(n));
}
}  // namespace

void print_int(int32_t n) { print_number(L"%i", int(n)); }
void print_hex2(uint32_t n) { print_number(L"%02X", unsigned(n)); }
void print_hex8(uint32_t n) { print_number(L"%08X", unsigned(n)); }
void print_float_16(double f) { print_number(L"%.16g", f); }
void print_float_7(float f) { print_number(L"%.7g", double(f)); }

void rt_print(std::initializer_list<diag_item> items)
{
    for (const diag_item& item : items) {
        switch (item.type) {
        case DIAG_LOGIC: print_cstring(item.i ? "true" : "false"); break;
        case DIAG_INTEGER: print_int(item.i); break;
        case DIAG_CHAR: print_units(&item.u, 4, 4, false); break;
        case DIAG_FLOAT32: print_float_7(item.f); break;
        case DIAG_FLOAT64: print_float_16(item.d); break;
        case DIAG_TEXT: print_cstring(item.s); break;
        default: print_hex8(item.u); break;
        }
    }
}

void rt_print_line(std::initializer_list<diag_item> items)
{
    rt_print(items);
    print_cstring("\n");
}

// ---- operating-system services -------------------------------------------------------------------

void* vm_alloc(size_t size, bool executable)
{
    void* p = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE);
    if (!p) rt_throw(THROW_VM_ALLOC);
    return p;
}

void vm_free(void* address)
{
    if (!VirtualFree(address, 0, MEM_RELEASE)) rt_throw(THROW_VM_FREE);
}

wchar_t* os_get_current_dir(uint32_t* length)
{
    DWORD size = GetCurrentDirectoryW(0, nullptr);   // with the NUL
    auto* dir = static_cast<wchar_t*>(rt_alloc((size ? size : 1) * sizeof(wchar_t)));
    DWORD n = size ? GetCurrentDirectoryW(size, dir) : 0;
    if (n >= size) n = 0;
    dir[n] = 0;
    *length = n;
    return dir;
}

bool platform::set_current_dir(const wchar_t* path) { return SetCurrentDirectoryW(path) != 0; }

bool os_set_env(const wchar_t* name, const wchar_t* value) { return SetEnvironmentVariableW(name, value) != 0; }

uint32_t os_get_env(const wchar_t* name, wchar_t* buffer, uint32_t size)
{
    return GetEnvironmentVariableW(name, buffer, size);
}

void os_sleep(double seconds)
{
    double ms = seconds * 1000.0;
    // Never less than 1 ms (NaN and negatives too); never INFINITE.
    if (!(ms >= 1.0)) ms = 1.0;
    if (ms > double(INFINITE - 1)) ms = double(INFINITE - 1);
    platform_s.sleep(uint32_t(ms));
}

double os_now(bool precise)
{
    FILETIME ft;
    SYSTEMTIME st;
    GetSystemTimeAsFileTime(&ft);
    FileTimeToSystemTime(&ft, &st);
    double seconds = st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond;
    if (precise) {
        uint64_t ticks = uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;   // 100 ns
        seconds += (st.wMilliseconds * 1e6 + double(ticks % 10000) * 100.0) / 1e9;
    }
    return seconds;
}

uint32_t date_zone_pack(int32_t minutes)
{
    // Sign and magnitude: an offset between -1 h and 0 keeps its sign although its hour is 0,
    // and the quarters of a negative offset count away from zero like the hours.
    uint32_t sign = minutes < 0 ? 1 : 0;
    uint32_t m = sign ? uint32_t(-minutes) : uint32_t(minutes);
    return sign << 6 | ((m / 60) & 0x0F) << 2 | ((m % 60) / 15 & 3);
}

uint32_t os_get_time(bool utc)
{
    SYSTEMTIME st;
    uint32_t zone = 0;
    if (utc) {
        GetSystemTime(&st);
    } else {
        GetLocalTime(&st);
        zone_data z;
        platform_s.zone(&z);
        // UTC = local time + bias (+ the bias of the season in force).
        int32_t bias = z.bias + (z.id == ZONE_DAYLIGHT ? z.daylight_bias : z.id == ZONE_STANDARD ? z.standard_bias : 0);
        zone = date_zone_pack(-bias);
    }
    return uint32_t(st.wYear) << 17 | uint32_t(st.wMonth) << 12 | uint32_t(st.wDay) << 7 | zone;
}
