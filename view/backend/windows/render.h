// Graphics devices and render targets (Direct2D 1.1 on Direct3D 11, DirectWrite), the drawing
// session over them, fonts and text formats. Every COM interface the back end keeps lives in an
// owning holder (`gui::com`), released on every path; none is ever stored in a cell.
#pragma once
#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>
#include <dwrite.h>
#include <dxgi1_2.h>

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace gui {

// The live holders: armed by `put`, disarmed by `reset` (a failed creation leaves an armed holder
// with nothing in it, counted until it is reset). Tests compare the count between paints.
extern int64_t com_live;

template <class T>
struct com {
    T* p = nullptr;
    bool armed = false;
    com() = default;
    com(const com&) = delete;
    com& operator=(const com&) = delete;
    ~com() { reset(); }
    void reset()
    {
        if (p) p->Release();
        p = nullptr;
        if (armed) com_live--;
        armed = false;
    }
    // The slot a creating call fills.
    T** put()
    {
        reset();
        armed = true;
        com_live++;
        return &p;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    // Shares an interface held elsewhere: one more reference.
    void share(T* other)
    {
        reset();
        if (!other) return;
        other->AddRef();
        p = other;
        armed = true;
        com_live++;
    }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// The render target of one window: its swap chain and the bitmap over the back buffer, and the
// read-back of the back buffer into a DIB (layered windows, tests).
struct render_target {
    com<IDXGISwapChain1> swap;
    com<ID2D1Bitmap1> bitmap;
    com<ID3D11Texture2D> staging;
    UINT swap_flags = 0;
    HDC mem_dc = nullptr;
    HBITMAP dib = nullptr;
    HGDIOBJ old_bitmap = nullptr;
    uint8_t* pixels = nullptr;
    int32_t dib_width = 0, dib_height = 0;
};

struct gx_state {
    com<ID2D1Factory1> d2d;
    com<IDWriteFactory> dwrite;
    wchar_t locale[85];
    bool no_dwrite;
    com<ID3D11Device> d3d;
    com<ID3D11DeviceContext> d3d_context;
    com<ID2D1Device> d2d_device;
    com<ID2D1DeviceContext> context;
    com<IDXGIFactory2> dxgi;
    bool occluded;
    bool warp;                 // the device in use is WARP
    int32_t generation;        // devices made so far
    int32_t session_depth;     // drawing sessions open
    HWND measure_window;       // the hidden window text is measured for
    // seams of the tests (checked builds set them)
    int32_t fail_devices;      // device creations still to fail (each attempt counts)
    HRESULT inject_present;    // the next Present's result
    HRESULT inject_end_draw;   // the next EndDraw's result
    bool force_hit_fallback;   // hit tests from line and cluster metrics even where HitTest* works
};
extern gx_state gx;

bool init_direct2d();
bool dx_create_dev();
void release_dx();
void release_factories();

// The window's render target, made on first use; raises access/no-create for the face when the
// swap chain cannot be made.
render_target* get_render_target(HWND hwnd);
void resize_swap_chain(render_target* rt, int32_t width, int32_t height);
void release_target(HWND hwnd);
void drop_all_targets();
// Device loss at Present or EndDraw: every target and cache goes, the devices are made again and
// the window is painted again on them.
void device_lost(HWND hwnd);
// The back buffer copied into the target's DIB; the memory DC, or null on any failure.
HDC update_layered_dib(HWND hwnd);

// Colours: a tuple r.g.b[.a] (a: 0 opaque, 255 transparent).
uint32_t tuple_to_color(const cell* tuple);
D2D1_COLOR_F to_dx_color(uint32_t color);
uint32_t to_bgr(uint32_t color);

// The frame clock: 64-bit ticks.
void mark_time(int64_t* mark);
double elapsed_ms(int64_t* mark);

// ---- fonts and text formats ---------------------------------------------------------------------
HFONT make_font(const cell* face, const cell* font, bool for_dpi);
HFONT get_font_handle(const cell* face, const cell* font);
bool free_font_handles(const cell* font);
void update_font(const cell* font, int32_t field);
uint32_t get_para_flags(const cell* type_word, const cell* para);
// A text format of the font object (cached in its state), or of the default font when `font` is
// not an object (then `owned` is set: the caller releases it).
IDWriteTextFormat* create_text_format(const cell* font, bool* owned);
void set_text_alignment(IDWriteTextFormat* format, uint32_t flags);
void update_para(const cell* face, int32_t flags);
bool request_font(const cell* result, const cell* current, bool mono);

// ---- the drawing session ------------------------------------------------------------------------
// The state a push saves and a pop brings back.
struct draw_fields {
    com<ID2D1SolidColorBrush> pen, fill;
    com<ID2D1StrokeStyle> stroke;
    com<IDWriteTextFormat> format;
    int32_t pen_kind = 0, fill_kind = 0, saved_pen_kind = 0;
    uint32_t pen_color = 0, fill_color = 0, text_color = 0;
    bool underline = false, strike = false, font_color = false, font_set = false;
    float line_width = 1.0f;
    int32_t join = 0, cap = 0;
    std::vector<float> dashes;
};

constexpr int32_t AXIS_CLIP_LEVELS = 32;

struct draw_context {
    ID2D1DeviceContext* target = nullptr;   // the device context drawn on (null: the session draws nothing)
    com<ID2D1DeviceContext> own_target;     // a nested session's own device context
    draw_fields f;
    int32_t clip_depth = 0;
    uint32_t clip_mask = 0;                 // bit n: level n+1 is an axis-aligned clip, else a layer
    render_target* rt = nullptr;
    HWND hwnd = nullptr;
    int32_t saved_dpi = -1;
    bool began = false;
};

struct draw_saved {
    com<ID2D1DrawingStateBlock> block;
    draw_fields f;
    int32_t clip_depth = 0;
    bool saved = false;
};

draw_context* draw_begin(draw_context* ctx, HWND hwnd, bool layered);
void draw_end(draw_context* ctx, HWND hwnd, bool no_present);
void set_pen_color(draw_context* ctx, uint32_t color, bool off);
void set_brush_color(draw_context* ctx, uint32_t color, bool off);
void draw_line_width(draw_context* ctx, float width);
bool draw_clip(draw_context* ctx, float x1, float y1, float x2, float y2);
void draw_pop_clip(draw_context* ctx);
void draw_push_state(draw_context* ctx, draw_saved* saved);
void draw_pop_state(draw_context* ctx, draw_saved* saved);
void draw_font(draw_context* ctx, const cell* font);
// A string at (x, y) in the context's font and text colour.
void draw_text(draw_context* ctx, float x, float y, const cell* text);
// The face's text in its font, colour and para, in the box (0, 0)-(width, height).
void draw_face_text(draw_context* ctx, const cell* face, float width, float height);
void draw_rectangle(draw_context* ctx, float x1, float y1, float x2, float y2);
cell text_box_metrics(const cell* face, const cell* argument, int32_t query);
// The text of a face, laid out for measuring: its size in DIPs.
bool measure_text(const cell* face, const cell* text, float* width, float* height);

}  // namespace gui
