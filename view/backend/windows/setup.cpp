// GUI set-up (gui/init), the DPI model every length conversion uses, the monitor list behind the
// screens, and the dark-mode switches.
#include <windows.h>
#include <commctrl.h>
#include <shellscalingapi.h>

#include <cmath>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/extern.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "view/backend/windows/gui.h"

namespace {

// Sets a field of an object reached from system by the path, when every step exists.
void put_system(std::initializer_list<const char*> path, const char* field, const cell* value)
{
    cell owner = object::system_field(path);
    if (cell_type(&owner) != TYPE_OBJECT) return;
    stack::scope keep;
    cell* held = keep.push(owner);
    cell* v = keep.push(*value);
    uint32_t symbol = symbol::make(field);
    if (context::find_word(held->data1, symbol, true) < 0) return;
    context::put_value(held->data1, symbol, v);
}

void release_font(void* font) { DeleteObject(HGDIOBJ(font)); }
void release_com(void* object) { static_cast<IUnknown*>(object)->Release(); }

int32_t monitor_dpi(HMONITOR monitor)
{
    UINT x = 0, y = 0;
    if (monitor && SUCCEEDED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y)) && x) return int32_t(x);
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

int32_t cursor_dpi()
{
    POINT p{0, 0};
    GetCursorPos(&p);
    return monitor_dpi(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST));
}

void make_default_font()
{
    if (gui_s.default_font && gui_s.default_font != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(gui_s.default_font);
    gui_s.default_font = nullptr;
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    using for_dpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    auto spi = gui::proc<for_dpi>(LoadLibraryW(L"user32.dll"), "SystemParametersInfoForDpi");
    BOOL ok = spi ? spi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, UINT(gui_s.dpi))
                  : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    if (ok) {
        const LOGFONTW& f = metrics.lfMessageFont;
        stack::scope keep;
        std::string name;
        for (const wchar_t* p = f.lfFaceName; *p; p++) {
            wchar_t c = *p;
            if (c < 0x80) name += char(c);
            else if (c < 0x800) name += char(0xC0 | (c >> 6)), name += char(0x80 | (c & 0x3F));
            else name += char(0xE0 | (c >> 12)), name += char(0x80 | ((c >> 6) & 0x3F)), name += char(0x80 | (c & 0x3F));
        }
        cell* text = string::load_at(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()),
                                     keep.push(none_value), 0);
        put_system({"view", "fonts"}, "system", text);
        cell size{TYPE_INTEGER, 0, uint32_t(-f.lfHeight * 72 / gui_s.dpi), 0};
        put_system({"view", "fonts"}, "size", &size);
        gui_s.default_font = CreateFontIndirectW(&f);
    }
    if (!gui_s.default_font) gui_s.default_font = HFONT(GetStockObject(DEFAULT_GUI_FONT));
}

cell color_tuple(int index)
{
    DWORD c = GetSysColor(index);
    cell t;
    uint8_t bytes[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
    tuple::make_at(&t, bytes, 3);
    return t;
}

bool high_contrast_q()
{
    HIGHCONTRASTW hc{sizeof hc, 0, nullptr};
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

BOOL CALLBACK collect_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    // Nothing here may raise or allocate values: the monitors are only collected.
    reinterpret_cast<std::vector<HMONITOR>*>(data)->push_back(monitor);
    return TRUE;
}

}  // namespace

void gui::init()
{
    if (gui_s.ready) return;
    // Per-monitor awareness, as the manifest asks; a system that refuses the call (Wine does) leaves
    // the process as it started, which is no error.
    using awareness_fn = BOOL(WINAPI*)(HANDLE);
    if (auto set = gui::proc<awareness_fn>(LoadLibraryW(L"user32.dll"), "SetProcessDpiAwarenessContext"))
        set(HANDLE(-4));   // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    gui_s.process_id = GetCurrentProcessId();
    gui_s.screen_dc = GetDC(nullptr);
    gui_s.instance = GetModuleHandleW(nullptr);
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    gui_s.major = version.dwMajorVersion;
    gui_s.minor = version.dwMinorVersion;
    if (!(gui_s.major == 5 && gui_s.minor == 0)) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_DATE_CLASSES | ICC_PROGRESS_CLASS |
                                                           ICC_UPDOWN_CLASS | ICC_TAB_CLASSES | ICC_BAR_CLASSES |
                                                           ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
    }
    gui_s.composition = false;
    if (HMODULE dwm = LoadLibraryW(L"dwmapi.dll")) {
        using enabled_fn = HRESULT(WINAPI*)(BOOL*);
        BOOL on = FALSE;
        if (auto f = gui::proc<enabled_fn>(dwm, "DwmIsCompositionEnabled"))
            gui_s.composition = SUCCEEDED(f(&on)) && on;
        FreeLibrary(dwm);
    }
    gui_s.pre_vista = gui_s.major < 6;
    gui_s.win8 = gui_s.major > 9 || (gui_s.major == 6 && gui_s.minor >= 2);
    gui_s.win10 = gui_s.major > 9;
    stack::scope keep;
    cell* v = keep.push(none_value);
    uint8_t bytes[3] = {uint8_t(gui_s.major), uint8_t(gui_s.minor), 0};
    tuple::make_at(v, bytes, 3);
    put_system({"view", "platform"}, "version", v);
    set_dpi(cursor_dpi());
    make_default_font();
    register_classes(gui_s.instance);
    gui_s.build = version.dwBuildNumber;
    gui_s.product = version.wProductType;
    *v = cell{TYPE_INTEGER, 0, gui_s.build, 0};
    put_system({"view", "platform"}, "build", v);
    *v = cell{TYPE_INTEGER, 0, gui_s.product, 0};
    put_system({"view", "platform"}, "product", v);
    gui_s.monitors.clear();
    *v = cell{TYPE_INTEGER, 0, uint32_t(gui_s.dpi), 0};
    put_system({"view", "metrics"}, "dpi", v);
    pair::make_at(v, GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CYHSCROLL));
    put_system({"view", "metrics", "misc"}, "scroller", v);
    *v = color_tuple(COLOR_WINDOWTEXT);
    put_system({"view", "metrics", "colors"}, "text", v);
    *v = color_tuple(COLOR_WINDOW);
    put_system({"view", "metrics", "colors"}, "window", v);
    *v = color_tuple(COLOR_BTNFACE);
    put_system({"view", "metrics", "colors"}, "panel", v);
    gui_s.dark_entry_found = false;
    gui_s.dark_at_start = false;
    if (gui_s.win10) {
        if (HMODULE theme = LoadLibraryW(L"uxtheme.dll")) {
            using dark_fn = BOOL(WINAPI*)();
            if (auto dark = gui::proc<dark_fn>(theme, MAKEINTRESOURCEA(132))) {
                gui_s.dark_entry_found = true;
                gui_s.dark_at_start = dark() && !high_contrast_q();
            }
        }
    }
    gui_s.font_class = extern_class_register("font", release_font);
    gui_s.com_class = extern_class_register("com-object", release_com);
    gui_s.ready = true;
}

// ---- DPI ----------------------------------------------------------------------------------------

void gui::set_dpi(int32_t dpi)
{
    if (dpi <= 0) dpi = 96;
    gui_s.dpi = dpi;
    gui_s.scale = dpi / 96.0;
}

int32_t gui::dip_to_pixel(double length) { return int32_t(std::trunc(length * gui_s.scale + 0.5)); }

double gui::pixel_to_dip(int32_t pixels) { return pixels / gui_s.scale; }

int32_t gui::window_dpi(HWND hwnd)
{
    using dpi_fn = UINT(WINAPI*)(HWND);
    static auto for_window =
        gui::proc<dpi_fn>(LoadLibraryW(L"user32.dll"), "GetDpiForWindow");
    UINT dpi = hwnd && for_window ? for_window(GetAncestor(hwnd, GA_ROOT)) : 0;
    return dpi ? int32_t(dpi) : gui_s.dpi;
}

int32_t gui::enter_dpi_context(HWND hwnd)
{
    gui_s.dpi_nesting++;
    int32_t saved = gui_s.dpi;
    if (hwnd) set_dpi(window_dpi(hwnd));
    return saved;
}

void gui::leave_dpi_context(int32_t saved)
{
    gui_s.dpi_nesting--;
    if (saved == gui_s.dpi) return;
    if (gui_s.dpi_nesting == 0) {
        HWND active = GetActiveWindow();
        if (active && IsWindowVisible(active)) {
            set_dpi(window_dpi(active));
            return;
        }
    }
    set_dpi(saved);
}

// The DPI of the monitor a window rectangle (96-DPI units) lands on becomes current; the rectangle
// in pixels changes with it, so the search repeats until the DPI holds (at most 4 times). A DPI
// that ended elsewhere than it began is taken again from the monitor under the mouse cursor.
void gui::place_on_monitor(double x, double y, double w, double h)
{
    int32_t start = gui_s.dpi;
    for (int i = 0; i < 4; i++) {
        RECT rc{dip_to_pixel(x), dip_to_pixel(y), dip_to_pixel(x + w), dip_to_pixel(y + h)};
        int32_t dpi = monitor_dpi(MonitorFromRect(&rc, MONITOR_DEFAULTTONEAREST));
        if (dpi == gui_s.dpi) break;
        set_dpi(dpi);
    }
    if (gui_s.dpi != start) set_dpi(cursor_dpi());
}

// ---- screens ------------------------------------------------------------------------------------

namespace gui {

cell* fetch_all_screens(cell* out)
{
    std::vector<HMONITOR> found;
    EnumDisplayMonitors(nullptr, nullptr, collect_monitor, LPARAM(&found));
    gui_s.monitors.clear();   // the table grows with the screens
    stack::scope keep;
    cell* all = block::make_at(keep.push(none_value), uint32_t(found.size()));
    for (HMONITOR m : found) {
        MONITORINFO info{sizeof info, {}, {}, 0};
        GetMonitorInfoW(m, &info);
        int32_t dpi = monitor_dpi(m);
        gui_s.monitors.push_back({m, float(dpi / 96.0), dpi});
        cell* one = block::make_at(keep.push(none_value), 4);
        cell v;
        pair::make_at(&v, info.rcMonitor.left, info.rcMonitor.top);
        block::rs_append(one, &v);
        pair::make_at(&v, info.rcMonitor.right - info.rcMonitor.left, info.rcMonitor.bottom - info.rcMonitor.top);
        block::rs_append(one, &v);
        float_::make_at(&v, dpi / 96.0);
        block::rs_append(one, &v);
        handle::make_at(&v, uintptr_t(m), handle::KIND_MONITOR);
        block::rs_append(one, &v);
        block::rs_append(all, one);
        stack::pop(1);
    }
    *out = *all;
    return out;
}

cell* get_current_screen(cell* out)
{
    POINT p{0, 0};
    GetCursorPos(&p);
    return handle::make_at(out, uintptr_t(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST)), handle::KIND_MONITOR);
}

cell* get_screen_size(cell* out)
{
    HDC dc = gui_s.screen_dc ? gui_s.screen_dc : GetDC(nullptr);
    int32_t w = GetDeviceCaps(dc, HORZRES), h = GetDeviceCaps(dc, VERTRES);
    if (!gui_s.screen_dc) ReleaseDC(nullptr, dc);
    int32_t dpi = gui_s.dpi > 0 ? gui_s.dpi : 96;
    return pair::make_at(out, w * 96 / dpi, h * 96 / dpi);
}

}  // namespace gui

// ---- dark mode ----------------------------------------------------------------------------------

// Only where the system has the entry that tells the applications' mode (Wine lacks it).
bool gui::support_dark_mode_q() { return gui_s.win10 && gui_s.dark_entry_found && !high_contrast_q(); }

void gui::set_dark_mode(HWND hwnd, bool dark, bool is_window)
{
    if (!hwnd) return;
    if (is_window) {
        if (HMODULE dwm = LoadLibraryW(L"dwmapi.dll")) {
            using attribute_fn = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
            BOOL value = dark;
            if (auto f = gui::proc<attribute_fn>(dwm, "DwmSetWindowAttribute")) {
                HRESULT hr = f(hwnd, 20, &value, sizeof value);
                (void)hr;   // an older system lacks the attribute: the window keeps its frame
            }
            FreeLibrary(dwm);
        }
    }
    if (HMODULE theme = LoadLibraryW(L"uxtheme.dll")) {
        using theme_fn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
        if (auto f = gui::proc<theme_fn>(theme, "SetWindowTheme")) {
            HRESULT hr = f(hwnd, dark ? L"DarkMode_Explorer" : L"Explorer", nullptr);
            (void)hr;   // a refused theme leaves the control as it was
        }
    }
}
