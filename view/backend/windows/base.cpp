// Base faces: windows the program paints itself (class "KivBase"), their procedure, layered base
// faces rendered into a DIB for UpdateLayeredWindow, and their making.
#include <windows.h>

#include <algorithm>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/reftable.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/stack.h"
#include "view/backend/windows/gui.h"
#include "view/backend/windows/render.h"

gui::base_state gui::base_s{};

namespace {

using gui::base_s;

constexpr UINT_PTR REPAINT_TIMER = 0x4B31;   // the one-shot timer of a throttled layered paint
enum face_field : uint32_t { F_TYPE, F_OFFSET, F_SIZE, F_TEXT, F_IMAGE, F_COLOR, F_DATA = 7, F_VISIBLE = 9, F_STATE = 15, F_DRAW = 22 };

bool layered_q(HWND hwnd) { return hwnd && (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED); }

void remember_repaint(HWND hwnd)
{
    if (std::find(base_s.deferred.begin(), base_s.deferred.end(), hwnd) == base_s.deferred.end())
        base_s.deferred.push_back(hwnd);
}

struct paint_call {
    HWND hwnd;
    bool layered;
};

// One session: the face paints itself, then its draw block or its `drawing` actor; the session
// ends whatever the actor did.
void render_body(void* data)
{
    auto* call = static_cast<paint_call*>(data);
    HWND hwnd = call->hwnd;
    gui::draw_context ctx;
    window_record* r = gui::record_of(hwnd);
    gui::draw_begin(&ctx, hwnd, call->layered);
    try {
        r = gui::record_of(hwnd);
        if (r) r->draw_context = &ctx;
        stack::scope keep;
        cell* face = keep.push(gui::get_face_obj(hwnd));
        cell draw = gui::facet(face, F_DRAW);
        if (cell_type(&draw) != TYPE_BLOCK) {
            base_s.drawing_events++;
            MSG* m = gui::make_current_msg();
            m->hwnd = hwnd;
            gui::make_event(m, 0, event::DRAWING);
        }
    } catch (...) {
        if ((r = gui::record_of(hwnd))) r->draw_context = nullptr;
        gui::draw_end(&ctx, hwnd, call->layered);
        throw;
    }
    if ((r = gui::record_of(hwnd))) r->draw_context = nullptr;
    gui::draw_end(&ctx, hwnd, call->layered);
}

LRESULT paint(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    if (base_s.painting) {
        // No paint inside a paint: the region is validated (else it comes straight back) and
        // painted once the outer paint is over.
        ValidateRect(hwnd, nullptr);
        remember_repaint(hwnd);
        return 0;
    }
    if (layered_q(base_s.last_painted) && gui::elapsed_ms(&base_s.frame_mark) < 16.6) {
        ValidateRect(hwnd, nullptr);
        SetTimer(hwnd, REPAINT_TIMER, 17, nullptr);
        return 0;
    }
    if (layered_q(hwnd) || !gui::has_face_q(hwnd)) return DefWindowProcW(hwnd, msg, wparam, lparam);
    base_s.last_painted = hwnd;
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    base_s.painting = true;
    base_s.paints++;
    paint_call call{hwnd, false};
    gui::guarded(render_body, &call);
    base_s.painting = false;
    EndPaint(hwnd, &ps);
    std::vector<HWND> again;
    again.swap(base_s.deferred);
    for (HWND h : again)
        if (IsWindow(h)) InvalidateRect(h, nullptr, FALSE);
    return 0;
}

}  // namespace

// A base face whose colour is a 3-byte tuple, or a 4-byte one with alpha 0.
bool gui::opaque_color_q(const cell* color)
{
    if (cell_type(color) != TYPE_TUPLE) return false;
    return tuple::size_of(color) == 3 || tuple::bytes_of(color)[3] == 0;
}

LRESULT CALLBACK gui::base_wnd_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    window_record* r = record_of(hwnd);
    switch (msg) {
    case WM_PAINT: case WM_DISPLAYCHANGE: case WM_PRINT: case WM_PRINTCLIENT:
        return paint(hwnd, msg, wparam, lparam);
    case WM_TIMER:
        if (wparam != REPAINT_TIMER) break;
        KillTimer(hwnd, REPAINT_TIMER);
        if (layered_q(hwnd)) update_base(hwnd);
        else InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_SIZE:
        if (r && r->render_target)
            resize_swap_chain(static_cast<render_target*>(r->render_target), LOWORD(lparam), HIWORD(lparam));
        if (layered_q(hwnd) && has_face_q(hwnd)) update_base(hwnd);
        else InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETCURSOR: {
        window_record* under = record_of(HWND(wparam));
        if (under && under->cursor && under->in_client) {
            SetCursor(under->cursor);
            return 1;
        }
        break;
    }
    case WM_NCHITTEST: {
        LRESULT hit = DefWindowProcW(hwnd, msg, wparam, lparam);
        if (r && r->cursor) r->in_client = hit == HTCLIENT;
        return hit;
    }
    case WM_MOUSEACTIVATE:
        if (layered_q(hwnd)) {
            if (HWND parent = GetParent(hwnd)) SetForegroundWindow(parent);
            return MA_NOACTIVATE;
        }
        break;
    case WM_NCCREATE:
        base_s.last_painted = hwnd;
        break;
    case WM_LBUTTONDOWN:
        if (!r) break;
        if (r->capture_count++ == 0) {
            SetCapture(hwnd);
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (r && r->capture_count >= 1) {
            r->capture_count--;
            ReleaseCapture();
            return 0;
        }
        break;
    case WM_CAPTURECHANGED:
        // Another window took the capture (or a button-up was lost): the count starts again.
        if (r) r->capture_count = 0;
        break;
    case WM_DESTROY:
        release_target(hwnd);
        if (base_s.last_painted == hwnd) base_s.last_painted = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK gui::base_internal_wnd_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_DESTROY:
        release_target(hwnd);
        break;
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(hwnd, &rc);
        FillRect(HDC(wparam), &rc, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

// Renders a layered base face into its DIB and hands it to UpdateLayeredWindow; a face that is
// not layered is only invalidated.
void gui::update_base(HWND hwnd)
{
    if (!layered_q(hwnd)) {
        InvalidateRect(hwnd, nullptr, TRUE);
        return;
    }
    base_s.last_painted = hwnd;
    mark_time(&base_s.frame_mark);
    bool was_painting = base_s.painting;
    base_s.painting = true;
    paint_call call{hwnd, true};
    guarded(render_body, &call);
    base_s.painting = was_painting;
    HDC dc = update_layered_dib(hwnd);
    if (!dc) return;
    RECT rc;
    GetClientRect(hwnd, &rc);
    SIZE size{rc.right, rc.bottom};
    POINT origin{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(hwnd, nullptr, nullptr, &size, dc, &origin, 0, &blend, ULW_ALPHA);
}

// A base or rich-text face's window: a child of the parent at the face's offset and size; a face
// whose colour is not opaque is a layered window.
HWND gui::make_base_view(const cell* face_value, HWND parent)
{
    stack::scope keep;
    cell* face = keep.push(*face_value);
    cell offset = facet(face, F_OFFSET), size = facet(face, F_SIZE), color = facet(face, F_COLOR), visible = facet(face, F_VISIBLE);
    auto length = [](const cell* v, int axis) -> int32_t {
        if (cell_type(v) == TYPE_PAIR) return dip_to_pixel(int32_t(axis ? v->data3 : v->data2));
        if (cell_type(v) == TYPE_POINT2D) return dip_to_pixel(point2D::get(v, uint32_t(axis)));
        return 0;
    };
    bool layered = !opaque_color_q(&color) && cell_type(&color) == TYPE_TUPLE;
    bool shown = !(cell_type(&visible) == TYPE_LOGIC && !visible.data1);
    // A layered face is a pop-up window owned by its parent's top-level window, kept at the
    // parent's place in screen coordinates (layered child windows break the display driver here).
    DWORD style = (parent && !layered ? WS_CHILD : WS_POPUP) | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    DWORD ex = layered ? WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE : 0;
    POINT at{length(&offset, 0), length(&offset, 1)};
    HWND owner = parent;
    if (layered && parent) {
        ClientToScreen(parent, &at);
        owner = GetAncestor(parent, GA_ROOT);
    }
    uint32_t ref = reftable_add(face);
    HWND hwnd = CreateWindowExW(ex, L"KivBase", L"", style, at.x, at.y,
                                std::max(length(&size, 0), 1), std::max(length(&size, 1), 1), owner, nullptr,
                                gui_s.instance, reinterpret_cast<void*>(uintptr_t(ref)));
    if (!hwnd) {
        reftable_remove(ref);
        rt_print_line({"*** View Error: CreateWindowEx failed!"});
        return nullptr;
    }
    window_record* r = record_of(hwnd);
    r->per_type = 0;
    r->mode = (cell_type(&size) == TYPE_PAIR ? MODE_PAIR : 0) | (face_type_is(face, "rich-text") ? MODE_RICH : 0);
    r->host = nullptr;
    r->capture_count = 0;
    r->render_target = nullptr;
    r->last_position = int32_t(uint32_t(length(&offset, 1)) << 16 | (uint32_t(length(&offset, 0)) & 0xFFFF));
    if (layered) {
        // The state must name the window before the first render reads the face.
        update_base(hwnd);
        if (shown && (!parent || IsWindowVisible(parent))) ShowWindow(hwnd, SW_SHOWNA);
    } else if (shown) {
        ShowWindow(hwnd, SW_SHOWNA);
    }
    return hwnd;
}
