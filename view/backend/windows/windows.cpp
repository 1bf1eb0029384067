// The window classes, the record each window of them carries, the window procedure of windows
// and panels, the small procedures of the superclassed controls, and the link between a window
// and its face.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/reftable.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "view/backend/windows/gui.h"
#include "view/backend/windows/render.h"

namespace {

constexpr int EXTRA_BYTES = 80;   // the back end's own classes: their extra bytes, then the record

// The base procedures of the superclassed controls, by class.
WNDPROC combo_base, face_base, area_base, calendar_base;
WNDPROC button_base, list_base, progress_base, slider_base, scroller_base, tab_base;

struct class_row {
    const wchar_t* name;
    const wchar_t* base;   // null: one of our own classes
    WNDPROC proc;          // null: the base class's procedure
    WNDPROC* base_proc;
    bool system;
};

LRESULT CALLBACK combo_wnd_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK face_wnd_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK area_wnd_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK calendar_wnd_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK plain_wnd_proc(HWND, UINT, WPARAM, LPARAM);
LRESULT control_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, WNDPROC base);
// A control whose handling is its base class's: only the record is kept in step.
template <WNDPROC* BASE>
LRESULT CALLBACK system_control_proc(HWND h, UINT m, WPARAM w, LPARAM l) { return control_proc(h, m, w, l, *BASE); }

const class_row superclasses[] = {
    {L"KivButton", L"BUTTON", system_control_proc<&button_base>, &button_base, true},
    {L"KivListBox", L"ListBox", system_control_proc<&list_base>, &list_base, true},
    {L"KivProgress", L"msctls_progress32", system_control_proc<&progress_base>, &progress_base, true},
    {L"KivSlider", L"msctls_trackbar32", system_control_proc<&slider_base>, &slider_base, true},
    {L"KivScroller", L"SCROLLBAR", system_control_proc<&scroller_base>, &scroller_base, true},
    {L"KivTabpanel", L"SysTabControl32", system_control_proc<&tab_base>, &tab_base, true},
    {L"KivCombo", L"ComboBox", combo_wnd_proc, &combo_base, true},
    {L"KivFace", L"STATIC", face_wnd_proc, &face_base, true},
    {L"KivCalendar", L"SysMonthCal32", calendar_wnd_proc, &calendar_base, true},
    {L"KivArea", L"EDIT", area_wnd_proc, &area_base, true},
    {L"KivField", L"KivArea", nullptr, nullptr, false},
};

const wchar_t* const own_classes[] = {L"KivWindow", L"KivPanel", L"KivBase", L"KivBaseInternal", L"KivCamera"};

// Where a window's record pointer lies: after the extra bytes of the class its class derives from.
int record_offset(HWND hwnd)
{
    LONG_PTR extra = GetClassLongPtrW(hwnd, GCL_CBWNDEXTRA);
    return int(extra) - int(sizeof(LONG_PTR));
}

void superclass_control(HINSTANCE module, const class_row& row)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(row.system ? nullptr : module, row.base, &wc))
        rt_print_line({"*** Error in GetClassInfoEx"});
    wc.cbSize = sizeof wc;
    // The base class's own extra bytes stay where it expects them; the record pointer follows.
    // A class derived from one of ours already ends with the record's slot.
    if (row.system)
        wc.cbWndExtra = (wc.cbWndExtra + int(sizeof(LONG_PTR)) - 1) / int(sizeof(LONG_PTR)) * int(sizeof(LONG_PTR)) +
                        int(sizeof(LONG_PTR));
    wc.hInstance = module;
    wc.lpszClassName = row.name;
    if (row.proc) {
        if (row.base_proc) *row.base_proc = wc.lpfnWndProc;
        wc.lpfnWndProc = row.proc;
    }
    RegisterClassExW(&wc);
}

window_record* attach_record(HWND hwnd)
{
    window_record* r = new window_record{};
    SetWindowLongPtrW(hwnd, record_offset(hwnd), LONG_PTR(r));
    return r;
}

void release_record(HWND hwnd)
{
    window_record* r = gui::record_of(hwnd);
    if (!r) return;
    SetWindowLongPtrW(hwnd, record_offset(hwnd), 0);
    if (r->face_ref) reftable_remove(r->face_ref);
    if (r->render_target) gui::release_target(hwnd);
    bool counted = r->per_type == 1 && !r->freed;
    delete r;
    if (counted) gui::window_gone();
}

bool window_face_q(const cell* face) { return gui::face_type_is(face, "window"); }

cell pixels_value(int32_t x, int32_t y, bool pair)
{
    cell v;
    if (pair) pair::make_at(&v, int32_t(gui::pixel_to_dip(x)), int32_t(gui::pixel_to_dip(y)));
    else point2D::make_at(&v, float(gui::pixel_to_dip(x)), float(gui::pixel_to_dip(y)));
    return v;
}

int32_t client_origin(HWND hwnd, window_record* r)
{
    if (!r->origin_known) {
        RECT wr;
        GetWindowRect(hwnd, &wr);
        POINT c{0, 0};
        ClientToScreen(hwnd, &c);
        int32_t ox = wr.left - c.x, oy = wr.top - c.y;
        r->client_origin = int32_t(uint32_t(ox) << 16 | (uint32_t(oy) & 0xFFFF));
        r->origin_known = true;
    }
    return r->client_origin;
}

MSG* event_msg(HWND hwnd)
{
    MSG* m = gui::make_current_msg();
    m->hwnd = hwnd;
    return m;
}

void position_event(HWND hwnd, window_record* r, const cell* face, int32_t x, int32_t y, uint32_t facet_n,
                    uint32_t code)
{
    cell v = pixels_value(x, y, r->mode & gui::MODE_PAIR);
    gui::set_facet(face, facet_n, &v);
    MSG* m = event_msg(hwnd);
    m->lParam = LPARAM(uint32_t(y) << 16 | (uint32_t(x) & 0xFFFF));
    gui::make_event(m, 0, code);
}

bool face_alive_q(const cell* face)
{
    cell state = gui::facet(face, 15);
    return cell_type(&state) == TYPE_BLOCK;
}

struct proc_call {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    LRESULT result;
    bool handled;
};

void window_proc_body(void* data)
{
    proc_call& c = *static_cast<proc_call*>(data);
    HWND hwnd = c.hwnd;
    if (gui_s.wndproc_probe) gui_s.wndproc_probe(hwnd, c.msg);
    if (c.msg == WM_NCCREATE) {
        window_record* r = attach_record(hwnd);
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(c.lparam);
        r->face_ref = uint32_t(uintptr_t(cs->lpCreateParams));
        return;
    }
    if (c.msg == WM_NCDESTROY) {
        release_record(hwnd);
        return;
    }
    window_record* r = gui::record_of(hwnd);
    if (!r) return;
    if (c.msg == WM_CLOSE && r->freed) {
        gui_s.current_msg = nullptr;
        return;
    }
    if (!r->face_ref || r->freed) return;
    stack::scope keep;
    cell* face = keep.push(gui::get_face_obj(hwnd));
    if (cell_type(face) != TYPE_OBJECT) return;
    bool window = window_face_q(face);
    switch (c.msg) {
    case WM_SIZE:
        InvalidateRect(hwnd, nullptr, TRUE);
        if (!window) return;
        c.handled = true;
        c.result = 0;
        if (c.wparam == SIZE_MINIMIZED) return;
        position_event(hwnd, r, face, LOWORD(c.lparam), HIWORD(c.lparam), 2, event::RESIZE);
        if (face_alive_q(face) && (!gui_s.size_move || c.wparam == SIZE_MAXIMIZED))
            gui::make_event(event_msg(hwnd), 0, event::RESIZE);
        return;
    case WM_MOVE: {
        if (!window) return;
        c.handled = true;
        c.result = 0;
        int32_t x = short(LOWORD(c.lparam)), y = short(HIWORD(c.lparam));
        // A minimised window: Windows parks it at -32000, Wine at an icon's place on the screen.
        if ((x < -9999 && y < -9999) || IsIconic(hwnd)) return;
        int32_t origin = client_origin(hwnd, r);
        r->last_position = int32_t(c.lparam);
        position_event(hwnd, r, face, x + (origin >> 16), y + int16_t(origin & 0xFFFF), 1, event::MOVE);
        return;
    }
    case WM_ENTERSIZEMOVE:
        if (window) gui_s.size_move = 1;
        return;
    case WM_MOVING: case WM_SIZING: {
        if (!window) return;
        auto* rc = reinterpret_cast<RECT*>(c.lparam);
        int32_t origin = client_origin(hwnd, r);
        int32_t ox = origin >> 16, oy = int16_t(origin & 0xFFFF);
        c.handled = true;
        c.result = 1;
        if (c.msg == WM_MOVING) {
            r->last_position = int32_t(uint32_t(rc->top - oy) << 16 | (uint32_t(rc->left - ox) & 0xFFFF));
            r->size_move_code = event::MOVING;
            position_event(hwnd, r, face, rc->left, rc->top, 1, event::MOVING);
        } else {
            r->size_move_code = event::RESIZING;
            position_event(hwnd, r, face, rc->right - rc->left + 2 * ox, rc->bottom - rc->top + oy + ox, 2,
                           event::RESIZING);
        }
        return;
    }
    case WM_EXITSIZEMOVE:
        if (!window) return;
        gui_s.size_move = 0;
        gui::make_event(event_msg(hwnd), 0, r->size_move_code == event::MOVING ? event::MOVE : event::RESIZE);
        c.handled = true;
        c.result = 0;
        return;
    case WM_ACTIVATE:
        if (!window) return;
        if (LOWORD(c.wparam)) {
            gui::set_dpi(gui::window_dpi(hwnd));
            gui::make_event(event_msg(hwnd), 0, event::FOCUS);
            c.handled = true;
            c.result = 0;
        } else {
            gui::make_event(event_msg(hwnd), 0, event::UNFOCUS);
        }
        return;
    case WM_CLOSE:
        if (!window) return;
        SetFocus(hwnd);
        if (gui::make_event(event_msg(hwnd), 0, event::CLOSE) == 0) {
            gui_s.current_msg = nullptr;
            gui::request_exit();
        }
        c.handled = true;
        c.result = 0;
        return;
    case WM_SETCURSOR: {
        window_record* under = gui::record_of(HWND(c.wparam));
        if (!under || !under->cursor) return;
        if (under->cursor_self) {
            c.handled = true;
            c.result = 0;
            return;
        }
        SetCursor(under->cursor);
        c.handled = true;
        c.result = 1;
        return;
    }
    case WM_GETMINMAXINFO: {
        if (!window) return;
        cell size = gui::facet(face, 2);
        int32_t w, h;
        if (cell_type(&size) == TYPE_PAIR) {
            w = gui::dip_to_pixel(int32_t(size.data2));
            h = gui::dip_to_pixel(int32_t(size.data3));
        } else if (cell_type(&size) == TYPE_POINT2D) {
            w = gui::dip_to_pixel(point2D::get(&size, 0));
            h = gui::dip_to_pixel(point2D::get(&size, 1));
        } else {
            return;
        }
        RECT wr, cr;
        GetWindowRect(hwnd, &wr);
        GetClientRect(hwnd, &cr);
        w += (wr.right - wr.left) - cr.right;
        h += (wr.bottom - wr.top) - cr.bottom;
        auto* info = reinterpret_cast<MINMAXINFO*>(c.lparam);
        bool grew = false;
        for (POINT* p : {&info->ptMaxSize, &info->ptMaxTrackSize}) {
            if (p->x < w) p->x = w, grew = true;
            if (p->y < h) p->y = h, grew = true;
        }
        if (grew) {
            c.handled = true;
            c.result = 0;
        }
        return;
    }
    case WM_HSCROLL: case WM_VSCROLL: {
        c.handled = true;
        c.result = 0;
        if (c.lparam) {
            gui::make_event(event_msg(hwnd), 0, event::CHANGE);
            return;
        }
        MSG* m = event_msg(hwnd);
        m->message = c.msg;
        m->wParam = c.wparam;
        gui::make_event(m, 0, event::SCROLL);
        return;
    }
    case WM_LBUTTONDOWN:
        SetCapture(hwnd);
        c.handled = true;
        c.result = 0;
        return;
    case WM_LBUTTONUP:
        ReleaseCapture();
        c.handled = true;
        c.result = 0;
        return;
    case WM_DPICHANGED: {
        if (!face_alive_q(face)) return;
        gui::set_dpi(LOWORD(c.wparam));
        auto* rc = reinterpret_cast<RECT*>(c.lparam);
        if (rc) SetWindowPos(hwnd, nullptr, rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        c.handled = true;
        c.result = 0;
        return;
    }
    case WM_DISPLAYCHANGE: {
        cell refresh = object::system_field({"view", "platform", "refresh-screens"});
        if (cell_type(&refresh) == TYPE_FUNCTION) interpreter::call_value(&refresh, nullptr, nullptr, 0);
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        return;
    }
    default:
        return;
    }
}

LRESULT run_guarded(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, WNDPROC base)
{
    proc_call c{hwnd, msg, wparam, lparam, 0, false};
    gui::guarded(window_proc_body, &c);
    if (c.handled) return c.result;
    return base ? CallWindowProcW(base, hwnd, msg, wparam, lparam) : DefWindowProcW(hwnd, msg, wparam, lparam);
}

// The controls' procedures keep the record in step (made at creation, freed at the end); their
// own handling is the widgets'.
LRESULT control_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, WNDPROC base)
{
    if (msg == WM_NCCREATE) {
        window_record* r = attach_record(hwnd);
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lparam);
        r->face_ref = uint32_t(uintptr_t(cs->lpCreateParams));
    } else if (msg == WM_NCDESTROY) {
        LRESULT result = CallWindowProcW(base, hwnd, msg, wparam, lparam);
        release_record(hwnd);
        return result;
    }
    return CallWindowProcW(base, hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK combo_wnd_proc(HWND h, UINT m, WPARAM w, LPARAM l) { return control_proc(h, m, w, l, combo_base); }
LRESULT CALLBACK face_wnd_proc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    switch (m) {
    case WM_LBUTTONDOWN: SetCapture(h); return 0;
    case WM_LBUTTONUP: ReleaseCapture(); return 0;
    case WM_NCHITTEST: return HTCLIENT;
    default: return control_proc(h, m, w, l, face_base);
    }
}
LRESULT CALLBACK area_wnd_proc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_CHAR) {
        LONG style = GetWindowLongW(h, GWL_STYLE);
        if (!(style & ES_MULTILINE) && (w == 13 || w == 9)) return 0;
        if ((style & ES_MULTILINE) && w == 1) {
            SendMessageW(h, EM_SETSEL, 0, -1);
            return 1;
        }
    }
    return control_proc(h, m, w, l, area_base);
}
LRESULT CALLBACK calendar_wnd_proc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    if (m == WM_LBUTTONDOWN) SetFocus(h);
    return control_proc(h, m, w, l, calendar_base);
}

// The camera's procedure is still to come: it keeps the record and otherwise behaves as a plain
// window.
LRESULT CALLBACK plain_wnd_proc(HWND h, UINT m, WPARAM w, LPARAM l) { return control_proc(h, m, w, l, DefWindowProcW); }
// Base faces and their hosts: the record kept here, the rest is theirs (guarded: no exception
// leaves the procedure).
struct base_call {
    HWND h;
    UINT m;
    WPARAM w;
    LPARAM l;
    WNDPROC proc;
    LRESULT result;
};
void base_body(void* data)
{
    auto* c = static_cast<base_call*>(data);
    c->result = control_proc(c->h, c->m, c->w, c->l, c->proc);
}
template <WNDPROC PROC>
LRESULT CALLBACK base_class_proc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    base_call c{h, m, w, l, PROC, 0};
    if (!gui::guarded(base_body, &c) && m == WM_NCDESTROY) release_record(h);
    return c.result;
}

}  // namespace

// ---- the guard of every callback ----------------------------------------------------------------

void gui::print_caught(interpreter::catch_point& point)
{
    const raised_error e = raised_error_get();
    point.take_error();
    natives::print_error(e.category, e.id, e.arg_count > 0 ? &e.args[0] : nullptr,
                         e.arg_count > 1 ? &e.args[1] : nullptr, e.arg_count > 2 ? &e.args[2] : nullptr);
}

bool gui::guarded(void (*f)(void*), void* data)
{
    interpreter::catch_point point;
    try {
        f(data);
        return true;
    } catch (const script_error_unwind&) {
        print_caught(point);
    } catch (const exit_unwind&) {
        // An exit cannot go on past a system callback: it stops here.
        point.restore();
        set_exit_code(EXIT_NONE);
    } catch (const system_throw_unwind&) {
        rt_top_handler();
    } catch (const std::exception& x) {
        point.restore();
        rt_print_line({"*** Error in a window callback: ", x.what()});
    } catch (...) {
        point.restore();
        rt_print_line({"*** Error in a window callback"});
    }
    return false;
}

// ---- classes ------------------------------------------------------------------------------------

void gui::register_classes(HINSTANCE module)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.cbWndExtra = EXTRA_BYTES + int(sizeof(LONG_PTR));
    wc.hInstance = module;
    wc.hIcon = LoadIconW(module, MAKEINTRESOURCEW(1));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    wc.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
    for (const wchar_t* name : own_classes) {
        wc.lpszClassName = name;
        bool windows = name == own_classes[0] || name == own_classes[1];
        wc.lpfnWndProc = windows                     ? window_wnd_proc
                         : name == own_classes[2] ? base_class_proc<gui::base_wnd_proc>
                         : name == own_classes[3] ? base_class_proc<gui::base_internal_wnd_proc>
                                                  : plain_wnd_proc;
        wc.hbrBackground = name == own_classes[4] ? HBRUSH(2) : HBRUSH(COLOR_BTNFACE + 1);
        RegisterClassExW(&wc);
    }
    for (const class_row& row : superclasses) superclass_control(module, row);
}

void gui::unregister_classes(HINSTANCE module)
{
    for (const wchar_t* name : own_classes) UnregisterClassW(name, module);
    for (const class_row& row : superclasses) UnregisterClassW(row.name, module);
}

LRESULT CALLBACK gui::window_wnd_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    return run_guarded(hwnd, msg, wparam, lparam, nullptr);
}

// ---- window and face ----------------------------------------------------------------------------

window_record* gui::record_of(HWND hwnd)
{
    if (!hwnd || hwnd == HWND(-1) || !IsWindow(hwnd)) return nullptr;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId()) return nullptr;
    wchar_t name[20];
    if (!GetClassNameW(hwnd, name, 20) || wcsncmp(name, L"Kiv", 3) != 0) return nullptr;
    int offset = record_offset(hwnd);
    if (offset < 0) return nullptr;
    return reinterpret_cast<window_record*>(GetWindowLongPtrW(hwnd, offset));
}

bool gui::has_face_q(HWND hwnd)
{
    window_record* r = record_of(hwnd);
    return r && r->face_ref && !r->freed;
}

cell gui::get_face_obj(HWND hwnd)
{
    window_record* r = record_of(hwnd);
    if (!r || !r->face_ref || r->freed) return none_value;
    return *reftable_slot(r->face_ref);
}

HWND gui::get_event_hwnd(const MSG* msg)
{
    HWND hwnd = msg->hwnd;
    if (has_face_q(hwnd)) return hwnd;
    HWND parent = GetParent(hwnd);
    if (parent && has_face_q(parent)) return parent;
    HWND under = WindowFromPoint(msg->pt);
    DWORD pid = 0;
    if (under) GetWindowThreadProcessId(under, &pid);
    if (under && pid == GetCurrentProcessId() && has_face_q(under)) return under;
    return HWND(-1);
}

cell gui::facet(const cell* face, uint32_t n)
{
    if (cell_type(face) != TYPE_OBJECT || n >= object::get_size(face)) return none_value;
    return *context::get_value_at(face->data1, n);
}

void gui::set_facet(const cell* face, uint32_t n, const cell* value)
{
    if (cell_type(face) != TYPE_OBJECT || n >= object::get_size(face)) return;
    *context::get_value_at(face->data1, n) = *value;
}

bool gui::face_type_is(const cell* face, const char* name)
{
    cell type = facet(face, 0);
    return cell_type(&type) == TYPE_WORD && symbol::resolve(type.data2) == symbol::resolve(symbol::make(name));
}

HWND gui::face_handle_q(const cell* face)
{
    cell state = facet(face, 0 + 15);
    if (cell_type(&state) != TYPE_BLOCK || block::rs_length(&state) == 0) return nullptr;
    const cell* h = block::rs_head(&state);
    if (cell_type(h) != TYPE_HANDLE) return nullptr;
    return HWND(handle::value_of(h));
}

// The flag bits the back end reads: 1 for `all-over`.
uint32_t gui::get_flags(const cell* flags)
{
    uint32_t all_over = symbol::resolve(symbol::make("all-over"));
    auto is_all_over = [&](const cell* w) {
        uint32_t t = cell_type(w);
        return (t == TYPE_WORD || t == TYPE_LIT_WORD) && symbol::resolve(w->data2) == all_over;
    };
    if (is_all_over(flags)) return 1;
    if (cell_type(flags) != TYPE_BLOCK) return 0;
    uint32_t n = block::rs_length(flags);
    for (uint32_t i = 0; i < n; i++)
        if (is_all_over(block::rs_head(flags) + i)) return 1;
    return 0;
}

// A top-level window for a `window` face: its client area at the face's offset and size.
HWND gui::make_window_view(const cell* face_value, HWND parent)
{
    stack::scope keep;
    cell* face = keep.push(*face_value);
    if (!window_face_q(face)) {
        cell type = facet(face, 0);
        fire(ERR_SCRIPT, err::FACE_TYPE, &type);
    }
    auto length = [](const cell* v, int axis) -> int32_t {
        if (cell_type(v) == TYPE_PAIR) return dip_to_pixel(int32_t(axis ? v->data3 : v->data2));
        if (cell_type(v) == TYPE_POINT2D) return dip_to_pixel(point2D::get(v, uint32_t(axis)));
        return -1;
    };
    cell offset = facet(face, 1), size = facet(face, 2), text = facet(face, 3), visible = facet(face, 9);
    bool pair_mode = cell_type(&size) == TYPE_PAIR;
    auto units = [](const cell* v, int axis) -> double {
        if (cell_type(v) == TYPE_PAIR) return int32_t(axis ? v->data3 : v->data2);
        return point2D::get(v, uint32_t(axis));
    };
    if ((cell_type(&offset) == TYPE_PAIR || cell_type(&offset) == TYPE_POINT2D) &&
        (cell_type(&size) == TYPE_PAIR || cell_type(&size) == TYPE_POINT2D))
        place_on_monitor(units(&offset, 0), units(&offset, 1), units(&size, 0), units(&size, 1));
    DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT rc{0, 0, length(&size, 0) < 0 ? 200 : length(&size, 0), length(&size, 1) < 0 ? 200 : length(&size, 1)};
    AdjustWindowRectEx(&rc, style, FALSE, 0);
    int x = length(&offset, 0) < 0 ? CW_USEDEFAULT : length(&offset, 0) + rc.left;
    int y = length(&offset, 1) < 0 ? CW_USEDEFAULT : length(&offset, 1) + rc.top;
    std::wstring title;
    if (cell_type(&text) == TYPE_STRING) title = string_to_utf16(keep.push(text));
    uint32_t ref = reftable_add(face);
    HWND hwnd = CreateWindowExW(0, L"KivWindow", title.c_str(), style, x, y, rc.right - rc.left, rc.bottom - rc.top,
                                parent, nullptr, gui_s.instance, reinterpret_cast<void*>(uintptr_t(ref)));
    if (!hwnd) {
        reftable_remove(ref);
        rt_print_line({"*** View Error: CreateWindowEx failed!"});
        return nullptr;
    }
    window_record* r = record_of(hwnd);
    r->per_type = 1;   // a top-level window of a face: counted while it lives
    if (pair_mode) r->mode |= MODE_PAIR;
    gui_s.windows++;
    if (cell_type(&visible) != TYPE_LOGIC || visible.data1) ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    return hwnd;
}

void gui::destroy_window_view(const cell* face)
{
    HWND hwnd = face_handle_q(face);
    window_record* r = record_of(hwnd);
    if (!r) return;
    DestroyWindow(hwnd);
}
