// The message loop, the translation of input messages into events, the event maker that calls
// system/view/awake, the face timers' procedure and synthetic input.
#include <windows.h>

#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"
#include "runtime/rterror.h"
#include "runtime/stack.h"
#include "view/backend/windows/gui.h"

gui_state gui_s;

namespace {

// The virtual keys whose key event comes from the character message.
bool char_key_q(uint32_t vk)
{
    if (vk > 255) return false;
    static const uint8_t ranges[][2] = {{8, 9}, {13, 13}, {27, 27}, {32, 32}, {48, 57}, {65, 90}, {96, 107},
                                        {109, 111}, {186, 192}, {219, 223}, {226, 228}, {233, 245}};
    for (const auto& r : ranges)
        if (vk >= r[0] && vk <= r[1]) return true;
    return false;
}

bool key_down_q(int vk) { return (GetKeyState(vk) & 0x8000) != 0; }

// The keyboard's state in one call (each GetKeyState is a call to the server under Wine).
uint32_t state_flags(bool buttons)
{
    BYTE keys[256];
    if (!GetKeyboardState(keys)) return 0;
    auto down = [&](int vk) { return (keys[vk] & 0x80) != 0; };
    uint32_t f = 0;
    if (down(VK_CONTROL)) f |= event::FLAG_CONTROL;
    if (down(VK_SHIFT)) f |= event::FLAG_SHIFT;
    if (down(VK_MENU)) f |= event::FLAG_ALT;
    if (!buttons) return f;
    if (down(VK_LBUTTON)) f |= event::FLAG_DOWN;
    if (down(VK_RBUTTON)) f |= event::FLAG_ALT_DOWN;
    if (down(VK_MBUTTON)) f |= event::FLAG_MID_DOWN;
    if (down(VK_XBUTTON1)) f |= event::FLAG_AUX_DOWN;
    return f;
}

uint32_t live_keys() { return state_flags(false); }
uint32_t live_state() { return state_flags(true); }

uint32_t modifiers() { return gui_s.modifier_override >= 0 ? uint32_t(gui_s.modifier_override) : live_state(); }

// The buttons and modifier keys a mouse message reports in its wParam.
uint32_t wheel_flags(WPARAM w)
{
    uint32_t f = 0;
    if (w & MK_LBUTTON) f |= event::FLAG_DOWN;
    if (w & MK_RBUTTON) f |= event::FLAG_ALT_DOWN;
    if (w & MK_SHIFT) f |= event::FLAG_SHIFT;
    if (w & MK_CONTROL) f |= event::FLAG_CONTROL;
    if (w & MK_MBUTTON) f |= event::FLAG_MID_DOWN;
    if (w & (MK_XBUTTON1 | MK_XBUTTON2)) f |= event::FLAG_AUX_DOWN;
    return f;
}

// Those of a mouse message, with the keys held now.
uint32_t mouse_flags(WPARAM w) { return live_keys() | wheel_flags(w); }

int32_t translate_special(uint32_t vk, LPARAM lparam)
{
    bool extended = (lparam >> 24) & 1;
    switch (vk) {
    case VK_SHIFT: return int32_t(MapVirtualKeyW((lparam >> 16) & 0xFF, MAPVK_VSC_TO_VK_EX));
    case VK_CONTROL: return extended ? 163 : 162;
    case VK_MENU: return extended ? 165 : 164;
    default: return int32_t(vk);
    }
}

// Fills the data word of the event cell by code; false when the message makes no event.
bool fill_data(MSG* msg, int32_t value, uint32_t code, uint32_t* data)
{
    switch (code) {
    case event::OVER:
        *data = uint32_t(value);
        return true;
    case event::KEY_DOWN: case event::KEY_UP: {
        uint32_t vk = LOWORD(msg->wParam);
        if (code == event::KEY_DOWN && vk == VK_PROCESSKEY) {
            gui_s.special_key = -1;
            return false;
        }
        if ((code == event::KEY_DOWN && gui_s.ime_composing) || char_key_q(vk)) gui_s.special_key = -1;
        else gui_s.special_key = translate_special(vk, msg->lParam);
        if (gui_s.special_key == -1) {
            uint32_t c = MapVirtualKeyW(vk, MAPVK_VK_TO_CHAR);
            if (c) vk = c & 0xFFFF;
        }
        *data = modifiers() | vk;
        return true;
    }
    case event::KEY: {
        uint32_t mods = modifiers();
        uint32_t c = uint32_t(msg->wParam) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF) {
            gui_s.last_code_point = c;
            return false;
        }
        if (c >= 0xDC00 && c <= 0xDFFF) {
            uint32_t high = gui_s.last_code_point;
            if (high < 0xD800 || high > 0xDBFF) high = 0xD800;   // a lone low half joins nothing real
            c = (((high & 0x3FF) << 10) | (c & 0x3FF)) + 0x10000;
            gui_s.last_code_point = c;
            mods = 0;
        } else {
            gui_s.last_code_point = 0;
        }
        if ((gui_s.ime_composing && key_down_q(VK_SHIFT)) || gui_s.special_key == 164 || gui_s.special_key == 165)
            gui_s.special_key = -1;
        *data = c > 0xFFFF ? c : c | mods;
        return true;
    }
    case event::SELECT:
        *data = uint32_t(value + 1) & 0xFFFF;
        return true;
    case event::CHANGE:
        *data = uint32_t(value) & 0xFFFF;
        return true;
    case event::WHEEL: case event::DBL_CLICK: case event::DOWN: case event::UP: case event::MID_DOWN:
    case event::MID_UP: case event::ALT_DOWN: case event::ALT_UP: case event::AUX_DOWN: case event::AUX_UP:
        *data = uint32_t(value) | live_state();
        return true;
    case event::CLICK:
        *data = live_keys();
        return true;
    case event::MENU:
        *data = uint32_t(value) & 0xFFFF;
        return true;
    default:
        *data = 0;
        return true;
    }
}

struct loop_words {
    uint32_t system, view, awake, stop;
};
loop_words words;

// system/view/awake, found by the symbols kept at start.
cell awake_function()
{
    if (!words.system) {
        words.system = symbol::make("system");
        words.view = symbol::make("view");
        words.awake = symbol::make("awake");
        words.stop = symbol::make("stop");
    }
    cell v = *word::get(word::from_symbol(words.system));
    for (uint32_t name : {words.view, words.awake}) {
        if (cell_type(&v) != TYPE_OBJECT) return none_value;
        int32_t i = context::find_word(v.data1, name, true);
        if (i < 0) return none_value;
        v = *context::get_value_at(v.data1, uint32_t(i));
    }
    return v;
}

// Calls awake with the event under a try-all frame: an error, throw or exit inside it stops
// there. Returns awake's answer as the message's fate.
int32_t call_awake(uint32_t depth)
{
    cell awake = awake_function();
    uint32_t t = cell_type(&awake);
    if (t != TYPE_FUNCTION && t != TYPE_ROUTINE && t != TYPE_NATIVE && t != TYPE_ACTION) return 1;
    int32_t result = 1;
    uint32_t saved_tracing = trace_s.tracing;
    trace_s.tracing = 0;
    interpreter::catch_point point;
    try {
        stack::mark(stack_s.anon_symbol, 0, FRAME_TRY_ALL << FRAME_KIND_SHIFT);
        cell args[3] = {gui_s.event_cell, false_value, none_value};
        args[0].data2 = depth;
        cell answer = interpreter::call_value(&awake, nullptr, args, 3, true);
        stack::unwind();
        if (cell_type(&answer) == TYPE_WORD && symbol::resolve(answer.data2) == symbol::resolve(words.stop))
            result = 0;
    } catch (const script_error_unwind&) {
        gui::print_caught(point);
    } catch (const exit_unwind&) {
        point.restore();
    }
    set_exit_code(EXIT_NONE);
    trace_s.tracing = saved_tracing;
    return result;
}

}  // namespace

MSG* gui::make_current_msg()
{
    if (!gui_s.current_msg) {
        std::memset(&gui_s.static_msg, 0, sizeof gui_s.static_msg);
        DWORD pos = GetMessagePos();
        gui_s.static_msg.pt = {short(LOWORD(pos)), short(HIWORD(pos))};
        gui_s.current_msg = &gui_s.static_msg;
    }
    return gui_s.current_msg;
}

gui::message_record* gui::record_of(const cell* e)
{
    uint32_t n = e->data2;
    if (n == 0 || n > gui_s.records.size()) return nullptr;
    return &gui_s.records[n - 1];
}

int32_t gui::make_event(MSG* msg, int32_t value, uint32_t code)
{
    uint32_t data = 0;
    if (!fill_data(msg, value, code, &data)) return 1;
    // The record of this nesting level: a nested loop's events take the next ones.
    uint32_t depth = ++gui_s.depth;
    struct leave { ~leave() { gui_s.depth--; } } leaving;
    if (gui_s.records.size() < depth) gui_s.records.resize(depth);
    message_record& r = gui_s.records[depth - 1];
    r.msg = *msg;
    r.special_key = gui_s.special_key;
    r.code_point = gui_s.last_code_point > 0xFFFF ? gui_s.last_code_point : 0;
    r.orientation = msg->message == WM_VSCROLL ? WM_VSCROLL : WM_HSCROLL;
    r.menu_x = gui_s.menu_x;
    r.menu_y = gui_s.menu_y;
    gui_s.event_cell = cell{TYPE_EVENT, code, depth, data};
    HWND window = msg->hwnd;
    int32_t result = call_awake(depth);
    msg->hwnd = window;
    return result;
}

int32_t gui::process_message(MSG* msg)
{
    switch (msg->message) {
    case WM_KEYDOWN: {
        int32_t r = make_event(msg, 0, event::KEY_DOWN);
        int32_t k = gui_s.special_key;
        if (r && k != -1 && k != 16 && k != 17 && !(k >= 160 && k <= 165)) r = make_event(msg, 0, event::KEY);
        return r;
    }
    case WM_SYSKEYDOWN: return make_event(msg, 0, event::KEY_DOWN);
    case WM_KEYUP: case WM_SYSKEYUP: return make_event(msg, 0, event::KEY_UP);
    case WM_CHAR:
        gui_s.special_key = -1;
        return make_event(msg, 0, event::KEY);
    case WM_MOUSEMOVE: {
        if (int32_t(msg->lParam) == gui_s.last_move_lparam) return 0;
        gui_s.last_move_lparam = int32_t(msg->lParam);
        HWND hwnd = msg->hwnd;
        if (IsWindowEnabled(hwnd)) {
            bool again = hwnd == gui_s.hover_window;
            if (again) {
                cell face = get_face_obj(hwnd);
                cell flags = cell_type(&face) == TYPE_OBJECT ? facet(&face, 11) : none_value;
                again = !(get_flags(&flags) & 1);
            }
            if (!again) {
                if (hwnd != gui_s.hover_window) {
                    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
                    TrackMouseEvent(&track);
                }
                make_event(msg, int32_t(mouse_flags(msg->wParam)), event::OVER);
            }
        }
        gui_s.hover_window = hwnd;
        return 1;
    }
    case WM_MOUSELEAVE:
        gui_s.last_move_lparam = -1;
        make_event(msg, int32_t(mouse_flags(msg->wParam) | event::FLAG_AWAY), event::OVER);
        if (gui_s.hover_window == msg->hwnd) gui_s.hover_window = nullptr;
        return 1;
    case WM_LBUTTONDOWN: return make_event(msg, 0, event::DOWN);
    case WM_LBUTTONUP: return make_event(msg, 0, event::UP);
    case WM_LBUTTONDBLCLK:
        make_event(msg, 0, event::DOWN);
        make_event(msg, int32_t(mouse_flags(msg->wParam)), event::DBL_CLICK);
        return 1;
    case WM_RBUTTONDOWN:
        if (GetCapture()) return 1;
        gui_s.menu_x = short(LOWORD(msg->lParam));
        gui_s.menu_y = short(HIWORD(msg->lParam));
        return make_event(msg, 0, event::ALT_DOWN);
    case WM_RBUTTONUP: return make_event(msg, 0, event::ALT_UP);
    case WM_MBUTTONDOWN: return make_event(msg, 0, event::MID_DOWN);
    case WM_MBUTTONUP: return make_event(msg, 0, event::MID_UP);
    case WM_XBUTTONDOWN: return make_event(msg, 0, event::AUX_DOWN);
    case WM_XBUTTONUP: return make_event(msg, 0, event::AUX_UP);
    case WM_MOUSEWHEEL: return make_event(msg, int32_t(wheel_flags(msg->wParam)), event::WHEEL);
    default: return 1;
    }
}

// Each request ends one blocking loop. Windows keeps one quit flag however often it is posted, so
// the requests are counted here, and a loop takes its own before it waits again: a quit taken by
// a one-pass loop or a system modal loop ends the loop it was meant for all the same. Requests
// beyond the loops running are dropped.
void gui::request_exit()
{
    if (gui_s.exit_requests < gui_s.loop_depth) gui_s.exit_requests++;
    PostQuitMessage(0);
}

// No loop waits once no window is left: every running loop ends.
void gui::window_gone()
{
    if (gui_s.windows > 0) gui_s.windows--;
    if (gui_s.windows == 0 && gui_s.loop_depth > 0) PostQuitMessage(0);
}

bool gui::do_events(bool no_wait)
{
    int32_t saved_override = gui_s.modifier_override;
    gui_s.modifier_override = -1;
    bool result = false;
    if (!no_wait) gui_s.loop_depth++;
    for (;;) {
        if (!no_wait) {
            if (gui_s.exit_requests > 0) {
                gui_s.exit_requests--;
                break;
            }
            if (gui_s.windows == 0) break;
        }
        MSG msg;
        if (no_wait) {
            if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) break;
            result = true;
            if (msg.message == WM_QUIT) break;   // the request, if it was one, stays counted
        } else {
            BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got == -1) break;
            result = true;
            if (got == 0) {
                if (gui_s.exit_requests == 0 && gui_s.windows > 0) break;   // a quit from elsewhere
                continue;
            }
        }
        if (process_message(&msg) >= 1) {
            MSG* saved = gui_s.current_msg;
            gui_s.current_msg = &msg;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            gui_s.current_msg = saved;
        }
        if (no_wait) break;
    }
    if (!no_wait) {
        gui_s.loop_depth--;
        if (gui_s.exit_requests > gui_s.loop_depth) gui_s.exit_requests = gui_s.loop_depth;
        MSG stray;
        if (gui_s.exit_requests > 0 || (gui_s.windows == 0 && gui_s.loop_depth > 0)) PostQuitMessage(0);
        else while (PeekMessageW(&stray, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
    }
    gui_s.modifier_override = saved_override;
    return result;
}

namespace {
struct timer_call { HWND hwnd; };
void timer_body(void* data)
{
    MSG* m = gui::make_current_msg();
    m->hwnd = static_cast<timer_call*>(data)->hwnd;
    gui::make_event(m, 0, event::TIME);
}
}  // namespace

void CALLBACK gui::timer_proc(HWND hwnd, UINT, UINT_PTR, DWORD)
{
    timer_call call{hwnd};
    guarded(timer_body, &call);
}

void gui::send_event_os(const cell* event_value, bool post)
{
    cell e = *event_value;
    if (!(e.header & event::MADE) || !e.data2) return;
    cell blk{TYPE_BLOCK, 0, e.data2, 0};
    if (block::rs_length(&blk) != 4) return;
    cell face = block::rs_head(&blk)[0];
    cell offset = block::rs_head(&blk)[2];
    cell picked = block::rs_head(&blk)[3];
    HWND hwnd = face_handle_q(&face);
    if (!hwnd) return;
    uint32_t flags = (e.data3 & 0x001F0000u) ? 0 : e.data3 & event::FLAGS_MASK;
    UINT message = 0;
    WPARAM w = 0;
    uint32_t ch = (e.data3 & 0x001F0000u) ? e.data3 : e.data3 & 0xFFFF;
    bool mouse = true;
    switch (e.data1) {
    case event::DOWN: message = WM_LBUTTONDOWN; w = MK_LBUTTON; break;
    case event::UP: message = WM_LBUTTONUP; break;
    case event::MID_DOWN: message = WM_MBUTTONDOWN; w = MK_MBUTTON; break;
    case event::MID_UP: message = WM_MBUTTONUP; break;
    case event::ALT_DOWN: message = WM_RBUTTONDOWN; w = MK_RBUTTON; break;
    case event::ALT_UP: message = WM_RBUTTONUP; break;
    case event::AUX_DOWN: message = WM_XBUTTONDOWN; w = (XBUTTON1 << 16) | MK_XBUTTON1; break;
    case event::AUX_UP: message = WM_XBUTTONUP; w = XBUTTON1 << 16; break;
    case event::DBL_CLICK: message = WM_LBUTTONDBLCLK; w = MK_LBUTTON; break;
    case event::WHEEL: message = WM_MOUSEWHEEL; break;
    case event::OVER: message = (flags & event::FLAG_AWAY) ? WM_MOUSELEAVE : WM_MOUSEMOVE; break;
    case event::KEY: message = WM_CHAR; w = ch; mouse = false; break;
    case event::KEY_DOWN: message = WM_KEYDOWN; w = LOBYTE(VkKeyScanW(wchar_t(ch))); mouse = false; break;
    case event::KEY_UP: message = WM_KEYUP; w = LOBYTE(VkKeyScanW(wchar_t(ch))); mouse = false; break;
    default: return;
    }
    LPARAM l = 0;
    POINT screen{0, 0};
    if (mouse) {
        if (flags & event::FLAG_CONTROL) w |= MK_CONTROL;
        if (flags & event::FLAG_SHIFT) w |= MK_SHIFT;
        if (flags & event::FLAG_DOWN) w |= MK_LBUTTON;
        if (flags & event::FLAG_ALT_DOWN) w |= MK_RBUTTON;
        if (flags & event::FLAG_MID_DOWN) w |= MK_MBUTTON;
        if (flags & event::FLAG_AUX_DOWN) w |= MK_XBUTTON1;
        int32_t x = 0, y = 0;
        if (cell_type(&offset) == TYPE_PAIR) {
            x = int32_t(offset.data2);
            y = int32_t(offset.data3);
        } else if (cell_type(&offset) == TYPE_POINT2D) {
            x = dip_to_pixel(point2D::get(&offset, 0));
            y = dip_to_pixel(point2D::get(&offset, 1));
        }
        screen = {x, y};
        if (message == WM_MOUSEWHEEL || message == WM_MOUSELEAVE) ClientToScreen(hwnd, &screen);
        if (message == WM_MOUSEWHEEL) {
            x = screen.x;
            y = screen.y;
            if (cell_type(&picked) == TYPE_INTEGER) w += WPARAM(uint32_t(int32_t(picked.data2) * 120) << 16);
        }
        l = LPARAM(uint32_t(y) << 16 | (uint32_t(x) & 0xFFFF));
        if (message == WM_MOUSEMOVE) gui_s.last_move_lparam = -1;
    }
    if (post) {
        PostMessageW(hwnd, message, w, l);
        return;
    }
    MSG m{hwnd, message, w, l, 0, screen};
    int32_t saved = gui_s.modifier_override;
    if (!mouse) gui_s.modifier_override = int32_t(flags & 0x73C00000u);
    struct restore { int32_t v; ~restore() { gui_s.modifier_override = v; } } restoring{saved};
    process_message(&m);
}
