// The entries behind system/view/platform's routines and the event words (event?, find-flag?,
// send-event-os), the back end's start, and the entries the display tests drive windows with.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/natives.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "view/backend/windows/gui.h"
#include "view/backend/windows/render.h"

namespace gui {
cell* fetch_all_screens(cell* out);
cell* get_current_screen(cell* out);
cell* get_screen_size(cell* out);
}  // namespace gui

namespace {

cell* arg(uint32_t i) { return stack_s.arguments + i; }
void result_none() { *stack_s.arguments = none_value; }

// An entry whose back end is not built yet: the caller learns which one.
[[noreturn]] void not_built(const char* entry)
{
    cell* name = word::load(entry);
    cell w = *name;
    fire(ERR_INTERNAL, err::NOT_HERE, &w);
}

void ensure_ready()
{
    if (!gui_s.ready) gui::init();
}

// ---- the platform's routines --------------------------------------------------------------------

void gui_init()
{
    gui::init();
    result_none();
}

void make_null_handle() { handle::make_at(stack_s.arguments, 0, handle::KIND_NULL); }
void fetch_all_screens() { gui::fetch_all_screens(stack_s.arguments); }
void get_current_screen() { gui::get_current_screen(stack_s.arguments); }
void get_screen_size() { gui::get_screen_size(stack_s.arguments); }

[[noreturn]] void invalid_type_of(const cell* v)
{
    uint32_t t = cell_type(v);
    cell type_word = datatype_s.types[t].word ? *datatype_s.types[t].word : none_value;
    fire(ERR_SCRIPT, err::INVALID_TYPE, &type_word);
}

// The text's size in 96-DPI units, measured in the face's font (the default GUI font without
// one), tabs expanded, lines broken only where the text breaks them. Rich text is measured by its
// text box (text-box-metrics).
void size_text()
{
    ensure_ready();
    uint32_t t = cell_type(arg(1));
    if (t != TYPE_STRING && t != TYPE_NONE) invalid_type_of(arg(1));
    cell text = t == TYPE_NONE ? gui::facet(arg(0), 3) : *arg(1);
    if (cell_type(&text) != TYPE_STRING) return result_none();
    *arg(1) = text;
    std::wstring wide = string_to_utf16(arg(1));
    HWND hwnd = gui::face_handle_q(arg(0));
    HDC dc = GetDC(hwnd);
    cell font = gui::facet(arg(0), 19);
    HFONT face_font = cell_type(&font) == TYPE_OBJECT ? gui::get_font_handle(arg(0), &font) : nullptr;
    HGDIOBJ old = SelectObject(dc, face_font ? face_font : gui_s.default_font);
    RECT rc{0, 0, 0x3FFFFFFF, 0};
    DrawTextW(dc, wide.c_str(), int(wide.size()), &rc, DT_CALCRECT | DT_EXPANDTABS | DT_WORDBREAK);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    point2D::make_at(stack_s.arguments, float(gui::pixel_to_dip(rc.right - rc.left)),
                     float(gui::pixel_to_dip(rc.bottom - rc.top)));
}

void does_nothing() { result_none(); }

void destroy_view()
{
    if (gui::face_type_is(arg(0), "window")) gui::destroy_window_view(arg(0));
    else if (HWND hwnd = gui::face_handle_q(arg(0)); hwnd && gui::record_of(hwnd)) DestroyWindow(hwnd);
    result_none();
}

void update_font()
{
    gui::update_font(arg(0), cell_type(arg(1)) == TYPE_INTEGER ? integer_of(arg(1)) : -1);
    result_none();
}

void detach_image()
{
    ownership_unbind(arg(0));
    result_none();
}

void update_view()
{
    cell* v = arg(0);
    if (cell_type(v) == TYPE_BLOCK) {
        uint32_t n = block::rs_length(v);
        for (uint32_t i = 0; i < n; i++)
            if (cell_type(block::rs_head(v) + i) != TYPE_OBJECT) invalid_type_of(block::rs_head(v) + i);
    } else if (cell_type(v) != TYPE_OBJECT) {
        invalid_type_of(v);
    }
    // The faces' changes are applied by the update routines, still to come.
    result_none();
}

void refresh_window()
{
    UpdateWindow(HWND(handle::value_of(arg(0))));
    result_none();
}

void redraw()
{
    if (HWND hwnd = gui::face_handle_q(arg(0))) RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    result_none();
}

void show_window()
{
    HWND hwnd = HWND(handle::value_of(arg(0)));
    if (hwnd) ShowWindow(hwnd, SW_SHOWNORMAL);
    result_none();
}

void make_view()
{
    ensure_ready();
    bool base = gui::face_type_is(arg(0), "base") || gui::face_type_is(arg(0), "rich-text");
    if (!base && !gui::face_type_is(arg(0), "window")) not_built("make-view");
    HWND parent = HWND(handle::value_of(arg(1)));
    if (parent && !IsWindow(parent)) parent = nullptr;
    HWND hwnd = base ? gui::make_base_view(arg(0), parent) : gui::make_window_view(arg(0), parent);
    handle::make_at(stack_s.arguments, uintptr_t(hwnd), handle::KIND_WINDOW);
}

void draw_image() { not_built("draw-image"); }
void draw_face()
{
    if (!gui::face_handle_q(arg(0))) return result_none();
    not_built("draw-face");
}

void do_event_loop() { logic::make_at(stack_s.arguments, gui::do_events(arg(0)->data1 != 0)); }

void exit_event_loop()
{
    gui::request_exit();
    result_none();
}

void request_font()
{
    ensure_ready();
    if (!gui::request_font(arg(0), arg(1), arg(2)->data1 != 0)) result_none();
}

void update_para()
{
    gui::update_para(arg(0), integer_of(arg(1)));
    result_none();
}
void request_file() { not_built("request-file"); }
void request_dir() { not_built("request-dir"); }

void text_box_metrics()
{
    if (!gui::face_type_is(arg(0), "rich-text")) {
        cell type = gui::facet(arg(0), 0);
        fire(ERR_SCRIPT, err::FACE_TYPE, &type);
    }
    *stack_s.arguments = gui::text_box_metrics(arg(0), arg(1), integer_of(arg(2)));
}

// A scroller! object's field (by index: position, page-size, min-size, max-size, visible?,
// vertical?, parent) pushed into the scroll bar of its parent face's window.
void update_scroller()
{
    cell* scroller = arg(0);
    int32_t index = integer_of(arg(1));
    cell parent = gui::facet(scroller, 6);
    HWND hwnd = gui::face_handle_q(&parent);
    if (!hwnd) return result_none();
    cell vertical = gui::facet(scroller, 5);
    int bar = cell_type(&vertical) == TYPE_LOGIC && vertical.data1 ? SB_VERT : SB_HORZ;
    auto number = [&](uint32_t n) {
        cell v = gui::facet(scroller, n);
        return cell_type(&v) == TYPE_INTEGER ? integer_of(&v) : cell_type(&v) == TYPE_FLOAT ? int32_t(cell_float(&v)) : 0;
    };
    SCROLLINFO info{sizeof info, SIF_DISABLENOSCROLL, 0, 0, 0, 0, 0};
    switch (index) {
    case 0:
        info.fMask |= SIF_POS;
        info.nPos = number(0);
        SetScrollInfo(hwnd, bar, &info, TRUE);
        break;
    case 1: case 3:
        info.fMask |= SIF_RANGE | SIF_PAGE;
        info.nMin = 1;
        info.nMax = number(3);
        info.nPage = UINT(number(1));
        SetScrollInfo(hwnd, bar, &info, TRUE);
        break;
    case 4: {
        cell visible = gui::facet(scroller, 4);
        ShowScrollBar(hwnd, bar, cell_type(&visible) == TYPE_LOGIC && visible.data1);
        break;
    }
    default:
        break;
    }
    result_none();
}

void set_dark_mode()
{
    HWND hwnd = gui::face_handle_q(arg(0));
    gui::set_dark_mode(hwnd, arg(1)->data1 != 0, gui::face_type_is(arg(0), "window"));
    result_none();
}

void support_dark_mode_q()
{
    ensure_ready();
    logic::make_at(stack_s.arguments, gui::support_dark_mode_q());
}

void toggle_gpu() { not_built("toggle-GPU"); }

// ---- event words --------------------------------------------------------------------------------

void event_q() { logic::make_at(stack_s.arguments, cell_type(arg(0)) == TYPE_EVENT); }

void find_flag_q()
{
    cell* flags = arg(0);
    cell* flag = arg(1);
    bool found = false;
    auto matches = [&](const cell* w) {
        uint32_t t = cell_type(w);
        return (t == TYPE_WORD || t == TYPE_LIT_WORD) && any_word_q(cell_type(flag)) &&
               symbol::resolve(w->data2) == symbol::resolve(flag->data2);
    };
    if (cell_type(flags) == TYPE_WORD) found = matches(flags);
    else if (cell_type(flags) == TYPE_BLOCK) {
        uint32_t n = block::rs_length(flags);
        for (uint32_t i = 0; i < n && !found; i++) found = matches(block::rs_head(flags) + i);
    }
    logic::make_at(stack_s.arguments, found);
}

void send_event_os()
{
    gui::send_event_os(arg(0), arg(1)->data1 != 0);
    result_none();
}

// ---- what the display tests drive windows with (checked builds only) ----------------------------

#if KIV_CHECKED
HWND window_arg(uint32_t i) { return HWND(handle::value_of(arg(i))); }

void test_post()
{
    PostMessageW(window_arg(0), UINT(integer_of(arg(1))), WPARAM(uint32_t(integer_of(arg(2)))),
                 LPARAM(int32_t(integer_of(arg(3)))));
    result_none();
}

void test_send()
{
    LRESULT r = SendMessageW(window_arg(0), UINT(integer_of(arg(1))), WPARAM(uint32_t(integer_of(arg(2)))),
                             LPARAM(int32_t(integer_of(arg(3)))));
    integer::make_at(stack_s.arguments, int32_t(r));
}

void test_resize()
{
    SetWindowPos(window_arg(0), nullptr, 0, 0, integer_of(arg(1)), integer_of(arg(2)),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    result_none();
}

void test_show()
{
    ShowWindow(window_arg(0), integer_of(arg(1)));
    result_none();
}

UINT throw_on = 0;
void throwing_probe(HWND, UINT msg)
{
    if (msg != throw_on) return;
    throw_on = 0;
    throw std::runtime_error("test probe");
}

void test_throw_on()
{
    throw_on = UINT(integer_of(arg(0)));
    gui_s.wndproc_probe = throwing_probe;
    result_none();
}

void test_set_dpi()
{
    gui::set_dpi(integer_of(arg(0)));
    result_none();
}

void test_dip_to_pixel()
{
    cell* v = arg(0);
    double d = cell_type(v) == TYPE_INTEGER ? integer_of(v) : cell_float(v);
    integer::make_at(stack_s.arguments, gui::dip_to_pixel(d));
}

void test_set_timer()
{
    SetTimer(window_arg(0), 1, UINT(integer_of(arg(1))), gui::timer_proc);
    result_none();
}

void test_kill_timer()
{
    KillTimer(window_arg(0), 1);
    result_none();
}

// A message box whose timer asks for the end of a loop and then closes the box: the request is
// made while the system's modal loop runs.
void CALLBACK box_timer(HWND hwnd, UINT, UINT_PTR id, DWORD)
{
    KillTimer(hwnd, id);
    gui::request_exit();
    if (HWND box = FindWindowW(L"#32770", L"kiv-test-box")) PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void test_message_box()
{
    HWND owner = window_arg(0);
    SetTimer(owner, 7, 50, box_timer);
    MessageBoxW(owner, L"exit from a timer", L"kiv-test-box", MB_OK);
    result_none();
}

void test_scroll_info()
{
    SCROLLINFO info{sizeof info, SIF_ALL, 0, 0, 0, 0, 0};
    GetScrollInfo(window_arg(0), arg(1)->data1 ? SB_VERT : SB_HORZ, &info);
    cell* blk = block::make_at(stack::push_slot(), 4);
    for (int32_t v : {info.nMin, info.nMax, int32_t(info.nPage), info.nPos}) {
        cell c{TYPE_INTEGER, 0, uint32_t(v), 0};
        block::rs_append(blk, &c);
    }
    *stack_s.arguments = *blk;
}

void test_loop_state()
{
    cell* blk = block::make_at(stack::push_slot(), 3);
    cell v{TYPE_INTEGER, 0, uint32_t(gui_s.loop_depth), 0};
    block::rs_append(blk, &v);
    v.data2 = uint32_t(gui_s.exit_requests);
    block::rs_append(blk, &v);
    v.data2 = uint32_t(gui_s.windows);
    block::rs_append(blk, &v);
    *stack_s.arguments = *blk;
}
// The graphics seams: 0 live COM holders, 1 devices made, 2 the next Present's result, 3 the
// next EndDraw's result, 4 device creations to fail, 5 base paints, 6 drawing events, 7 hit tests
// from line and cluster metrics (1) or the real calls first (0).
void test_gx()
{
    int32_t op = integer_of(arg(0));
    int64_t v = 0;
    switch (op) {
    case 0: v = gui::com_live; break;
    case 1: v = gui::gx.generation; break;
    case 2: gui::gx.inject_present = HRESULT(uint32_t(integer_of(arg(1)))); break;
    case 3: gui::gx.inject_end_draw = HRESULT(uint32_t(integer_of(arg(1)))); break;
    case 4: gui::gx.fail_devices = integer_of(arg(1)); break;
    case 5: v = gui::base_s.paints; break;
    case 6: v = gui::base_s.drawing_events; break;
    case 7: gui::gx.force_hit_fallback = integer_of(arg(1)) != 0; break;
    default: break;
    }
    integer::make_at(stack_s.arguments, int32_t(v));
}

// The pixel at (x, y) of a window's back buffer, read back: r.g.b.a with a the alpha (premultiplied).
void test_pixel()
{
    HWND hwnd = window_arg(0);
    HDC dc = gui::update_layered_dib(hwnd);
    window_record* r = gui::record_of(hwnd);
    if (!dc || !r || !r->render_target) return result_none();
    auto* rt = static_cast<gui::render_target*>(r->render_target);
    int32_t x = integer_of(arg(1)), y = integer_of(arg(2));
    if (x < 0 || y < 0 || x >= rt->dib_width || y >= rt->dib_height) return result_none();
    const uint8_t* p = rt->pixels + (size_t(y) * size_t(rt->dib_width) + size_t(x)) * 4;
    uint8_t bytes[4] = {p[2], p[1], p[0], p[3]};
    tuple::make_at(stack_s.arguments, bytes, 4);
}

// The box [left top right bottom] of the back buffer's pixels within the tolerance of a colour
// (each of r, g, b), or none when there are none.
void test_find()
{
    HWND hwnd = window_arg(0);
    HDC dc = gui::update_layered_dib(hwnd);
    window_record* r = gui::record_of(hwnd);
    if (!dc || !r || !r->render_target) return result_none();
    auto* rt = static_cast<gui::render_target*>(r->render_target);
    const uint8_t* want = tuple::bytes_of(arg(1));
    int32_t tolerance = integer_of(arg(2));
    int32_t box[4] = {INT32_MAX, INT32_MAX, -1, -1};
    for (int32_t y = 0; y < rt->dib_height; y++)
        for (int32_t x = 0; x < rt->dib_width; x++) {
            const uint8_t* p = rt->pixels + (size_t(y) * size_t(rt->dib_width) + size_t(x)) * 4;
            if (abs(p[2] - want[0]) > tolerance || abs(p[1] - want[1]) > tolerance || abs(p[0] - want[2]) > tolerance)
                continue;
            box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
            box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
        }
    if (box[2] < 0) return result_none();
    cell* blk = block::make_at(stack::push_slot(), 4);
    for (int32_t v : box) {
        cell c{TYPE_INTEGER, 0, uint32_t(v), 0};
        block::rs_append(blk, &c);
    }
    *stack_s.arguments = *blk;
}

// A font's GDI font as [height name-length].
void test_font()
{
    HFONT font = gui::get_font_handle(nullptr, arg(0));
    LOGFONTW lf{};
    if (!font || !GetObjectW(font, sizeof lf, &lf)) return result_none();
    cell* blk = block::make_at(stack::push_slot(), 2);
    cell v{TYPE_INTEGER, 0, uint32_t(lf.lfHeight), 0};
    block::rs_append(blk, &v);
    v.data2 = uint32_t(wcslen(lf.lfFaceName));
    block::rs_append(blk, &v);
    *stack_s.arguments = *blk;
}

void test_para_flags() { integer::make_at(stack_s.arguments, int32_t(gui::get_para_flags(arg(0), arg(1)))); }

BOOL CALLBACK find_dialog(HWND h, LPARAM l)
{
    wchar_t name[16];
    if (GetClassNameW(h, name, 16) && wcscmp(name, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(l) = h;
        return FALSE;
    }
    return TRUE;
}

// The next system dialog of this thread is cancelled from a timer.
void CALLBACK cancel_dialog(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_dialog, LPARAM(&box));
    if (!box) return;
    KillTimer(nullptr, id);
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
}

void test_cancel_dialog()
{
    SetTimer(nullptr, 0, 100, cancel_dialog);
    result_none();
}

void test_ex_style() { integer::make_at(stack_s.arguments, int32_t(GetWindowLongW(window_arg(0), GWL_EXSTYLE))); }

void test_capture()
{
    window_record* r = gui::record_of(window_arg(0));
    integer::make_at(stack_s.arguments, r ? r->capture_count : -1);
}
#endif

const routine_row rows[] = {
    {"gui-init", gui_init}, {"gui-make-null-handle", make_null_handle},
    {"gui-fetch-all-screens", fetch_all_screens}, {"gui-get-current-screen", get_current_screen},
    {"gui-get-screen-size", get_screen_size}, {"gui-size-text", size_text},
    {"gui-on-change-facet", does_nothing}, {"gui-update-text", does_nothing}, {"gui-update-font", update_font},
    {"gui-update-para", update_para}, {"gui-destroy-view", destroy_view}, {"gui-detach-image", detach_image},
    {"gui-update-view", update_view}, {"gui-refresh-window", refresh_window}, {"gui-redraw", redraw},
    {"gui-show-window", show_window}, {"gui-make-view", make_view}, {"gui-draw-image", draw_image},
    {"gui-draw-face", draw_face}, {"gui-do-event-loop", do_event_loop}, {"gui-exit-event-loop", exit_event_loop},
    {"gui-request-font", request_font}, {"gui-request-file", request_file}, {"gui-request-dir", request_dir},
    {"gui-text-box-metrics", text_box_metrics}, {"gui-update-scroller", update_scroller},
    {"gui-set-dark-mode", set_dark_mode}, {"gui-support-dark-mode?", support_dark_mode_q},
    {"gui-toggle-GPU", toggle_gpu}, {"event?", event_q}, {"find-flag?", find_flag_q},
    {"send-event-os", send_event_os},
#if KIV_CHECKED
    {"gui-test-post", test_post}, {"gui-test-send", test_send}, {"gui-test-resize", test_resize},
    {"gui-test-show", test_show}, {"gui-test-throw-on", test_throw_on}, {"gui-test-set-dpi", test_set_dpi},
    {"gui-test-dip-to-pixel", test_dip_to_pixel}, {"gui-test-set-timer", test_set_timer},
    {"gui-test-kill-timer", test_kill_timer}, {"gui-test-message-box", test_message_box},
    {"gui-test-loop-state", test_loop_state}, {"gui-test-scroll-info", test_scroll_info},
    {"gui-test-gx", test_gx}, {"gui-test-pixel", test_pixel}, {"gui-test-font", test_font},
    {"gui-test-para-flags", test_para_flags}, {"gui-test-capture", test_capture},
    {"gui-test-ex-style", test_ex_style}, {"gui-test-find", test_find},
    {"gui-test-cancel-dialog", test_cancel_dialog},
#endif
};

// The values the back end keeps outside the value world.
void mark_gui() { collector::mark_cell(&gui_s.event_cell); }

// wait's one pass of the message loop after it slept.
void wait_pass() { gui::do_events(true); }

}  // namespace

void gui::module_init()
{
    gui_s.event_cell = cell{TYPE_EVENT, 0, 0, 0};
    gui_s.special_key = -1;
    gui_s.modifier_override = -1;
    gui_s.last_move_lparam = -1;
    gui_s.zoom_base = -1;
    set_dpi(96);
    event::words_init();
    event::init();
    routine::register_(rows, sizeof rows / sizeof rows[0]);
    collector::register_marker(mark_gui);
    natives::wait_events_hook = wait_pass;
}
