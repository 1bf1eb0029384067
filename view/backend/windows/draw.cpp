// The drawing session: a draw context opened on a window's render target, its pen, fill, line,
// font and clip state, pushes and pops of that state, the face's own paint (colour and text), and
// the end of the session with Present and device-loss recovery.
#include "view/backend/windows/render.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "view/backend/windows/gui.h"

namespace {

using gui::com;
using gui::draw_context;
using gui::draw_fields;
using gui::gx;

enum face_field : uint32_t { F_TYPE, F_OFFSET, F_SIZE, F_TEXT, F_IMAGE, F_COLOR, F_MENU, F_DATA, F_PARA = 18, F_FONT = 19 };
constexpr uint32_t FONT_COLOR = 4, FONT_STYLE = 2;

void copy_fields(draw_fields& to, const draw_fields& from)
{
    to.pen.share(from.pen.p);
    to.fill.share(from.fill.p);
    to.stroke.share(from.stroke.p);
    to.format.share(from.format.p);
    to.pen_kind = from.pen_kind;
    to.fill_kind = from.fill_kind;
    to.saved_pen_kind = from.saved_pen_kind;
    to.pen_color = from.pen_color;
    to.fill_color = from.fill_color;
    to.text_color = from.text_color;
    to.underline = from.underline;
    to.strike = from.strike;
    to.font_color = from.font_color;
    to.font_set = from.font_set;
    to.line_width = from.line_width;
    to.join = from.join;
    to.cap = from.cap;
    to.dashes = from.dashes;
}

void release_fields(draw_fields& f)
{
    f.pen.reset();
    f.fill.reset();
    f.stroke.reset();
    f.format.reset();
    f.dashes.clear();
}

void rebuild_stroke(draw_context* ctx)
{
    draw_fields& f = ctx->f;
    f.stroke.reset();
    if (!gx.d2d) return;
    D2D1_STROKE_STYLE_PROPERTIES props{D2D1_CAP_STYLE(f.cap), D2D1_CAP_STYLE(f.cap), D2D1_CAP_STYLE(f.cap),
                                       D2D1_LINE_JOIN(f.join), 10.0f,
                                       f.dashes.empty() ? D2D1_DASH_STYLE_SOLID : D2D1_DASH_STYLE_CUSTOM, 0.0f};
    gx.d2d->CreateStrokeStyle(&props, f.dashes.empty() ? nullptr : f.dashes.data(), UINT32(f.dashes.size()),
                              f.stroke.put());
}

uint32_t system_text_color()
{
    COLORREF c = GetSysColor(COLOR_WINDOWTEXT);
    return uint32_t(GetRValue(c)) | uint32_t(GetGValue(c)) << 8 | uint32_t(GetBValue(c)) << 16;
}

bool word_is(const cell* w, const char* name)
{
    return any_word_q(cell_type(w)) && symbol::resolve(w->data2) == symbol::resolve(symbol::make(name));
}

// Kiv character positions to UTF-16 positions: code points above U+FFFF count two units.
std::vector<uint32_t> unit_offsets(const std::wstring& text)
{
    std::vector<uint32_t> at;   // at[i]: the unit where character i (0-based) starts; at[n] the length
    for (uint32_t u = 0; u < text.size();) {
        at.push_back(u);
        u += (text[u] >= 0xD800 && text[u] < 0xDC00 && u + 1 < text.size()) ? 2 : 1;
    }
    at.push_back(uint32_t(text.size()));
    return at;
}

// The face's text as UTF-16, sized to the text (no fixed scratch).
std::wstring text_of(const cell* v)
{
    if (cell_type(v) != TYPE_STRING) return std::wstring();
    stack::scope keep;
    return std::wstring(string_to_utf16(keep.push(*v)));
}

struct layout_holder {
    com<IDWriteTextLayout> layout;
    std::vector<com<ID2D1SolidColorBrush>*> brushes;
    ~layout_holder()
    {
        for (auto* b : brushes) delete b;
    }
};

[[noreturn]] void style_invalid(const cell* styles, const cell* at)
{
    fire(ERR_SCRIPT, err::DRAW_INVALID, at, styles);
}

// The style ranges of a rich-text face's data: [s x n attributes ...]. Ranges are clamped to the
// text; an empty range is skipped.
void parse_text_styles(IDWriteTextLayout* layout, ID2D1DeviceContext* target, const cell* data,
                       const std::vector<uint32_t>& at, layout_holder* holder)
{
    uint32_t chars = uint32_t(at.size() - 1);
    uint32_t n = block::rs_length(data);
    DWRITE_TEXT_RANGE range{0, 0};
    bool have = false;
    for (uint32_t i = 0; i < n; i++) {
        cell v = *(block::rs_head(data) + i);
        uint32_t t = cell_type(&v);
        if (t == TYPE_PAIR) {
            int64_t s = int32_t(v.data2), len = int32_t(v.data3);
            if (s < 1) s = 1;
            if (s > int64_t(chars) + 1) s = chars + 1;
            int64_t e = len > 0 ? s + len : s;
            if (e > int64_t(chars) + 1) e = chars + 1;
            range = DWRITE_TEXT_RANGE{at[size_t(s - 1)], at[size_t(e - 1)] - at[size_t(s - 1)]};
            have = range.length > 0;
            continue;
        }
        auto skip_optional = [&]() {
            while (i + 1 < n) {
                cell next = *(block::rs_head(data) + i + 1);
                if (cell_type(&next) == TYPE_TUPLE || cell_type(&next) == TYPE_LIT_WORD) i++;
                else break;
            }
        };
        if (t == TYPE_TUPLE) {
            if (have && target) {
                auto* b = new com<ID2D1SolidColorBrush>();
                holder->brushes.push_back(b);
                if (SUCCEEDED(target->CreateSolidColorBrush(gui::to_dx_color(gui::tuple_to_color(&v)), b->put())))
                    layout->SetDrawingEffect(b->p, range);
            }
        } else if (t == TYPE_STRING) {
            if (have) layout->SetFontFamilyName(text_of(&v).c_str(), range);
        } else if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
            float pt = t == TYPE_INTEGER ? float(integer_of(&v)) : float(cell_float(&v));
            if (have && pt > 0) layout->SetFontSize(pt * 96.0f / 72.0f, range);
        } else if (word_is(&v, "bold")) {
            if (have) layout->SetFontWeight(DWRITE_FONT_WEIGHT_BOLD, range);
        } else if (word_is(&v, "italic")) {
            if (have) layout->SetFontStyle(DWRITE_FONT_STYLE_ITALIC, range);
        } else if (word_is(&v, "underline")) {
            if (have) layout->SetUnderline(TRUE, range);
            skip_optional();
        } else if (word_is(&v, "strike")) {
            if (have) layout->SetStrikethrough(TRUE, range);
            skip_optional();
        } else if (word_is(&v, "border")) {
            skip_optional();
        } else if (word_is(&v, "backdrop")) {
            // The backdrop colour is read; its painting belongs to the renderer's fills.
            if (i + 1 < n) i++;
        } else {
            style_invalid(data, &v);
        }
    }
}

// A layout of the face's text in its font, para and box; rich-text faces take their style ranges.
bool face_layout(const cell* face, ID2D1DeviceContext* target, float width, float height, layout_holder* out,
                 const cell* text_override = nullptr)
{
    stack::scope keep;
    cell* f = keep.push(*face);
    cell text = text_override ? *text_override : gui::facet(f, F_TEXT);
    std::wstring wide = text_of(&text);
    cell font = gui::facet(f, F_FONT);
    bool owned = false;
    IDWriteTextFormat* format = gui::create_text_format(&font, &owned);
    if (!format) return false;
    com<IDWriteTextFormat> own_format;
    if (owned) *own_format.put() = format;
    HRESULT hr = gx.dwrite->CreateTextLayout(wide.c_str(), UINT32(wide.size()), format, width > 0 ? width : FLT_MAX,
                                             height > 0 ? height : FLT_MAX, out->layout.put());
    if (FAILED(hr)) return false;
    bool rich = gui::face_type_is(f, "rich-text");
    cell type = gui::facet(f, F_TYPE), para = gui::facet(f, F_PARA);
    uint32_t flags = cell_type(&para) == TYPE_OBJECT ? gui::get_para_flags(&type, &para) : rich ? 0x10 : 0x05;
    if (width <= 0) flags &= ~0x10u;
    gui::set_text_alignment(out->layout.p, flags);
    DWRITE_TEXT_RANGE all{0, UINT32(wide.size())};
    if (cell_type(&font) == TYPE_OBJECT) {
        cell style = gui::facet(&font, FONT_STYLE);
        auto has = [&](const char* name) {
            if (cell_type(&style) == TYPE_WORD || cell_type(&style) == TYPE_LIT_WORD) return word_is(&style, name);
            if (cell_type(&style) != TYPE_BLOCK) return false;
            for (uint32_t i = 0; i < block::rs_length(&style); i++)
                if (word_is(block::rs_head(&style) + i, name)) return true;
            return false;
        };
        if (has("underline")) out->layout->SetUnderline(TRUE, all);
        if (has("strike")) out->layout->SetStrikethrough(TRUE, all);
    }
    cell data = gui::facet(f, F_DATA);
    if (rich && cell_type(&data) == TYPE_BLOCK && block::rs_length(&data) > 1)
        parse_text_styles(out->layout.p, target, &data, unit_offsets(wide), out);
    return true;
}

void draw_layout(draw_context* ctx, float x, float y, IDWriteTextLayout* layout)
{
    if (!ctx->target || !ctx->f.pen) return;
    bool recolour = ctx->f.text_color != ctx->f.pen_color;
    if (recolour) ctx->f.pen->SetColor(gui::to_dx_color(ctx->f.text_color));
    ctx->target->DrawTextLayout(D2D1::Point2F(x, y), layout, ctx->f.pen.p, D2D1_DRAW_TEXT_OPTIONS_NONE);
    if (recolour) ctx->f.pen->SetColor(gui::to_dx_color(ctx->f.pen_color));
}

}  // namespace

// ---- the session --------------------------------------------------------------------------------

gui::draw_context* gui::draw_begin(draw_context* ctx, HWND hwnd, bool layered)
{
    ctx->hwnd = hwnd;
    ctx->saved_dpi = enter_dpi_context(hwnd);
    render_target* rt;
    try {
        rt = get_render_target(hwnd);
    } catch (...) {
        leave_dpi_context(ctx->saved_dpi);
        ctx->saved_dpi = -1;
        throw;
    }
    ctx->rt = rt;
    if (!rt->bitmap) return ctx;   // no target bitmap (a failed resize): the session draws nothing
    ID2D1DeviceContext* target = gx.context.p;
    if (gx.session_depth > 0) {
        // A session inside a session: its own device context, the outer one keeps its target.
        if (FAILED(gx.d2d_device->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, ctx->own_target.put())))
            return ctx;
        target = ctx->own_target.p;
    }
    ctx->target = target;
    target->SetTarget(rt->bitmap.p);
    target->SetDpi(float(gui_s.dpi), float(gui_s.dpi));
    target->BeginDraw();
    ctx->began = true;
    gx.session_depth++;
    target->SetTextAntialiasMode(layered ? D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE : D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE);
    target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    target->SetTransform(D2D1::Matrix3x2F::Identity());
    ctx->f.line_width = 1.0f;
    rebuild_stroke(ctx);
    target->CreateSolidColorBrush(to_dx_color(0), ctx->f.pen.put());
    target->CreateSolidColorBrush(to_dx_color(0), ctx->f.fill.put());
    ctx->f.pen_kind = 1;
    ctx->f.fill_kind = 0;

    // The face paints itself first: its colour (none: fully transparent), then its text.
    stack::scope keep;
    cell* face = keep.push(get_face_obj(hwnd));
    cell color = facet(face, F_COLOR);
    target->Clear(to_dx_color(cell_type(&color) == TYPE_TUPLE ? tuple_to_color(&color) : 0xFFFFFFFFu));
    cell text = facet(face, F_TEXT);
    if (!face_type_is(face, "window") && cell_type(&text) == TYPE_STRING) {
        cell font = facet(face, F_FONT);
        cell fc = cell_type(&font) == TYPE_OBJECT ? facet(&font, FONT_COLOR) : none_value;
        ctx->f.text_color = cell_type(&fc) == TYPE_TUPLE ? tuple_to_color(&fc) : system_text_color();
        D2D1_SIZE_F size = target->GetSize();
        draw_face_text(ctx, face, size.width, size.height);
        ctx->f.text_color = 0;
    }
    return ctx;
}

void gui::draw_end(draw_context* ctx, HWND hwnd, bool no_present)
{
    if (ctx->saved_dpi != -1) leave_dpi_context(ctx->saved_dpi);
    ctx->saved_dpi = -1;
    if (!ctx->began) {
        release_fields(ctx->f);
        return;
    }
    while (ctx->clip_depth > 0) draw_pop_clip(ctx);
    HRESULT hr = ctx->target->EndDraw();
    if (gx.inject_end_draw) hr = gx.inject_end_draw, gx.inject_end_draw = 0;
    ctx->target->SetTarget(nullptr);
    ctx->began = false;
    gx.session_depth--;
    release_fields(ctx->f);
    ctx->own_target.reset();
    ctx->target = nullptr;
    if (hr == HRESULT(D2DERR_RECREATE_TARGET)) {
        ctx->rt = nullptr;
        device_lost(hwnd);
        return;
    }
    if (no_present || !ctx->rt || !ctx->rt->swap) return;
    hr = ctx->rt->swap->Present(0, gx.occluded ? DXGI_PRESENT_TEST : 0);
    if (gx.occluded && hr == S_OK) hr = ctx->rt->swap->Present(0, 0);
    if (gx.inject_present) hr = gx.inject_present, gx.inject_present = 0;
    if (hr == S_OK) {
        gx.occluded = false;
    } else if (hr == HRESULT(DXGI_ERROR_DEVICE_RESET) || hr == HRESULT(DXGI_ERROR_DEVICE_REMOVED)) {
        ctx->rt = nullptr;
        device_lost(hwnd);
    } else if (hr == HRESULT(DXGI_STATUS_OCCLUDED)) {
        gx.occluded = true;
    } else {
        char line[40];
        snprintf(line, sizeof line, "%ld", long(hr));
        rt_print_line({"draw-end error: ", line});
    }
}

// ---- state commands -----------------------------------------------------------------------------

void gui::set_pen_color(draw_context* ctx, uint32_t color, bool off)
{
    draw_fields& f = ctx->f;
    if (off) {
        f.pen_kind = 0;
        f.saved_pen_kind = 0;
        return;
    }
    if (!f.font_color) f.text_color = color;
    if (f.pen_kind == 1 && f.pen) {
        f.pen->SetColor(to_dx_color(color));
    } else if (ctx->target) {
        ctx->target->CreateSolidColorBrush(to_dx_color(color), f.pen.put());
    }
    f.pen_color = color;
    f.pen_kind = 1;
    if (f.line_width == 0.0f) {
        f.saved_pen_kind = f.pen_kind;
        f.pen_kind = 0;
    }
}

void gui::set_brush_color(draw_context* ctx, uint32_t color, bool off)
{
    draw_fields& f = ctx->f;
    if (off) {
        f.fill_kind = 0;
        return;
    }
    if (f.fill_kind == 1 && f.fill) f.fill->SetColor(to_dx_color(color));
    else if (ctx->target) ctx->target->CreateSolidColorBrush(to_dx_color(color), f.fill.put());
    f.fill_color = color;
    f.fill_kind = 1;
}

void gui::draw_line_width(draw_context* ctx, float width)
{
    draw_fields& f = ctx->f;
    if (width == f.line_width) return;
    if (width == 0.0f) {
        f.saved_pen_kind = f.pen_kind;
        f.pen_kind = 0;
    } else if (f.line_width == 0.0f) {
        f.pen_kind = f.saved_pen_kind;
    }
    f.line_width = width;
    rebuild_stroke(ctx);
}

// An axis-aligned clip while the transform keeps axes aligned and the depth is within 32 levels,
// else a layer. Returns whether the clip was pushed (a refused layer pushes nothing).
bool gui::draw_clip(draw_context* ctx, float x1, float y1, float x2, float y2)
{
    if (!ctx->target) return false;
    int32_t level = ctx->clip_depth + 1;
    D2D1_MATRIX_3X2_F m;
    ctx->target->GetTransform(&m);
    bool aligned = std::fabs(m._12) < 1e-5f && std::fabs(m._21) < 1e-5f;
    D2D1_RECT_F rect{std::fmin(x1, x2), std::fmin(y1, y2), std::fmax(x1, x2), std::fmax(y1, y2)};
    if (level <= AXIS_CLIP_LEVELS) ctx->clip_mask &= ~(1u << (level - 1));
    if (level <= AXIS_CLIP_LEVELS && aligned) {
        ctx->target->PushAxisAlignedClip(rect, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
        ctx->clip_mask |= 1u << (level - 1);
    } else {
        D2D1_LAYER_PARAMETERS1 params{rect, nullptr, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE, D2D1::Matrix3x2F::Identity(),
                                      1.0f, nullptr, D2D1_LAYER_OPTIONS1_INITIALIZE_FROM_BACKGROUND};
        ctx->target->PushLayer(&params, nullptr);
    }
    ctx->clip_depth = level;
    return true;
}

void gui::draw_pop_clip(draw_context* ctx)
{
    if (ctx->clip_depth <= 0 || !ctx->target) return;
    int32_t level = ctx->clip_depth--;
    if (level <= AXIS_CLIP_LEVELS && (ctx->clip_mask & (1u << (level - 1)))) ctx->target->PopAxisAlignedClip();
    else ctx->target->PopLayer();
}

void gui::draw_push_state(draw_context* ctx, draw_saved* saved)
{
    saved->saved = false;
    if (!ctx->target || !gx.d2d || FAILED(gx.d2d->CreateDrawingStateBlock(nullptr, nullptr, saved->block.put()))) {
        rt_print_line({"OS-draw-state-push failed"});
        saved->block.reset();
        return;
    }
    copy_fields(saved->f, ctx->f);
    saved->clip_depth = ctx->clip_depth;
    ctx->target->SaveDrawingState(saved->block.p);
    saved->saved = true;
}

// Pops the clips pushed since the copy; after a failed push nothing else was saved, so nothing
// else is restored.
void gui::draw_pop_state(draw_context* ctx, draw_saved* saved)
{
    while (ctx->clip_depth > saved->clip_depth) draw_pop_clip(ctx);
    if (!saved->saved) return;
    ctx->target->RestoreDrawingState(saved->block.p);
    saved->block.reset();
    release_fields(ctx->f);
    copy_fields(ctx->f, saved->f);
    release_fields(saved->f);
    saved->saved = false;
    if (ctx->f.pen_kind == 1 && ctx->f.pen) ctx->f.pen->SetColor(to_dx_color(ctx->f.pen_color));
    if (ctx->f.fill_kind == 1 && ctx->f.fill) ctx->f.fill->SetColor(to_dx_color(ctx->f.fill_color));
}

void gui::draw_font(draw_context* ctx, const cell* font_value)
{
    stack::scope keep;
    cell* font = keep.push(*font_value);
    bool owned = false;
    IDWriteTextFormat* format = create_text_format(font, &owned);
    if (owned) *ctx->f.format.put() = format;
    else ctx->f.format.share(format);
    ctx->f.font_set = true;
    cell color = facet(font, FONT_COLOR);
    ctx->f.font_color = cell_type(&color) == TYPE_TUPLE;
    ctx->f.text_color = ctx->f.font_color ? tuple_to_color(&color) : ctx->f.pen_color;
    cell style = facet(font, FONT_STYLE);
    auto has = [&](const char* name) {
        if (cell_type(&style) == TYPE_WORD || cell_type(&style) == TYPE_LIT_WORD) return word_is(&style, name);
        if (cell_type(&style) != TYPE_BLOCK) return false;
        for (uint32_t i = 0; i < block::rs_length(&style); i++)
            if (word_is(block::rs_head(&style) + i, name)) return true;
        return false;
    };
    ctx->f.underline = has("underline");
    ctx->f.strike = has("strike");
}

void gui::draw_text(draw_context* ctx, float x, float y, const cell* text)
{
    if (!ctx->target) return;
    std::wstring wide = text_of(text);
    if (!ctx->f.format) {
        bool owned = false;
        IDWriteTextFormat* format = create_text_format(&none_value, &owned);
        if (!format) return;
        *ctx->f.format.put() = format;
    }
    com<IDWriteTextLayout> layout;
    if (FAILED(gx.dwrite->CreateTextLayout(wide.c_str(), UINT32(wide.size()), ctx->f.format.p, FLT_MAX, FLT_MAX,
                                           layout.put())))
        return;
    layout->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_LEADING);
    layout->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
    layout->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
    DWRITE_TEXT_RANGE all{0, UINT32(wide.size())};
    if (ctx->f.underline) layout->SetUnderline(TRUE, all);
    if (ctx->f.strike) layout->SetStrikethrough(TRUE, all);
    draw_layout(ctx, x, y, layout.p);
}

void gui::draw_face_text(draw_context* ctx, const cell* face, float width, float height)
{
    if (!ctx->target) return;
    layout_holder h;
    if (!face_layout(face, ctx->target, width, height, &h)) return;
    draw_layout(ctx, 0, 0, h.layout.p);
}

void gui::draw_rectangle(draw_context* ctx, float x1, float y1, float x2, float y2)
{
    if (!ctx->target) return;
    D2D1_RECT_F r{x1, y1, x2, y2};
    if (ctx->f.fill_kind == 1 && ctx->f.fill) ctx->target->FillRectangle(r, ctx->f.fill.p);
    if (ctx->f.pen_kind == 1 && ctx->f.pen) ctx->target->DrawRectangle(r, ctx->f.pen.p, ctx->f.line_width, ctx->f.stroke.p);
}

bool gui::measure_text(const cell* face, const cell* text, float* width, float* height)
{
    if (!gx.dwrite) init_direct2d();
    if (!gx.dwrite) return false;
    layout_holder h;
    if (!face_layout(face, nullptr, 0, 0, &h, text)) return false;
    DWRITE_TEXT_METRICS m;
    if (FAILED(h.layout->GetMetrics(&m))) return false;
    *width = m.widthIncludingTrailingWhitespace;
    *height = m.height;
    return true;
}

// ---- text box metrics ---------------------------------------------------------------------------

namespace {

struct caret_box {
    float x, y, width, height;
};

// The lines and clusters of a layout, for the hit tests Wine lacks.
struct layout_walk {
    std::vector<DWRITE_LINE_METRICS> lines;
    std::vector<DWRITE_CLUSTER_METRICS> clusters;
    std::vector<float> line_left;   // each line's x, by the layout's alignment
    float top = 0;
    bool ok = false;
};

layout_walk walk_layout(IDWriteTextLayout* layout)
{
    layout_walk w;
    UINT32 n = 0;
    layout->GetLineMetrics(nullptr, 0, &n);
    w.lines.resize(n);
    if (n && FAILED(layout->GetLineMetrics(w.lines.data(), n, &n))) return w;
    UINT32 c = 0;
    layout->GetClusterMetrics(nullptr, 0, &c);
    w.clusters.resize(c);
    if (c && FAILED(layout->GetClusterMetrics(w.clusters.data(), c, &c))) return w;
    DWRITE_TEXT_METRICS m;
    if (FAILED(layout->GetMetrics(&m))) return w;
    w.top = m.top;
    float box = layout->GetMaxWidth();
    DWRITE_TEXT_ALIGNMENT align = layout->GetTextAlignment();
    size_t k = 0;
    for (const DWRITE_LINE_METRICS& line : w.lines) {
        float width = 0;
        UINT32 units = 0;
        size_t first = k;
        while (k < w.clusters.size() && units < line.length) units += w.clusters[k].length, width += w.clusters[k].width, k++;
        // Trailing white space does not move the line.
        for (size_t j = k; j > first && w.clusters[j - 1].isWhitespace; j--) width -= w.clusters[j - 1].width;
        float left = 0;
        if (box < 1e30f) {
            if (align == DWRITE_TEXT_ALIGNMENT_CENTER) left = (box - width) / 2;
            else if (align == DWRITE_TEXT_ALIGNMENT_TRAILING) left = box - width;
        } else {
            left = m.left;
        }
        w.line_left.push_back(left);
    }
    w.ok = true;
    return w;
}

// Where the characters of a cluster start (a surrogate pair is one character).
std::vector<UINT32> cluster_parts(const std::wstring& text, UINT32 start, UINT32 length)
{
    std::vector<UINT32> parts;
    for (UINT32 u = start; u < start + length && u < text.size();)
        parts.push_back(u), u += (text[u] >= 0xD800 && text[u] < 0xDC00 && u + 1 < text.size()) ? 2 : 1;
    if (parts.empty()) parts.push_back(start);
    return parts;
}

// The caret before UTF-16 position `unit` and the box of the character there.
bool fallback_caret(IDWriteTextLayout* layout, const std::wstring& text, UINT32 unit, caret_box* out)
{
    layout_walk w = walk_layout(layout);
    if (!w.ok || w.lines.empty()) return false;
    float y = w.top;
    UINT32 start = 0;
    size_t k = 0;
    for (size_t i = 0; i < w.lines.size(); i++) {
        const DWRITE_LINE_METRICS& line = w.lines[i];
        bool last = i + 1 == w.lines.size();
        if (unit < start + line.length || last) {
            float x = w.line_left[i];
            UINT32 u = start;
            while (k < w.clusters.size() && u + w.clusters[k].length <= unit && u < start + line.length)
                x += w.clusters[k].width, u += w.clusters[k].length, k++;
            float width = 0;
            if (k < w.clusters.size() && unit < start + line.length) {
                // A cluster of several characters is shared out evenly between them.
                std::vector<UINT32> parts = cluster_parts(text, u, w.clusters[k].length);
                width = w.clusters[k].width / float(parts.size());
                for (size_t j = 0; j < parts.size() && parts[j] < unit; j++) x += width;
            }
            *out = caret_box{x, y, width, line.height};
            return true;
        }
        for (UINT32 units = 0; k < w.clusters.size() && units < line.length; k++) units += w.clusters[k].length;
        start += line.length;
        y += line.height;
    }
    return false;
}

// The position under a point: the cluster's start, and whether its trailing half was hit.
bool fallback_point(IDWriteTextLayout* layout, const std::wstring& text, float px, float py, UINT32* unit, bool* trailing,
                    UINT32* length)
{
    layout_walk w = walk_layout(layout);
    if (!w.ok || w.lines.empty()) return false;
    float y = w.top;
    UINT32 start = 0;
    size_t k = 0;
    for (size_t i = 0; i < w.lines.size(); i++) {
        const DWRITE_LINE_METRICS& line = w.lines[i];
        size_t first = k;
        UINT32 units = 0;
        while (k < w.clusters.size() && units < line.length) units += w.clusters[k].length, k++;
        if (py < y + line.height || i + 1 == w.lines.size()) {
            float x = w.line_left[i];
            UINT32 u = start;
            *trailing = false;
            *length = 0;
            *unit = start;
            for (size_t j = first; j < k; j++) {
                const DWRITE_CLUSTER_METRICS& c = w.clusters[j];
                std::vector<UINT32> parts = cluster_parts(text, u, c.length);
                float part = c.width / float(parts.size());
                for (size_t q = 0; q < parts.size(); q++) {
                    *unit = parts[q];
                    *length = (q + 1 < parts.size() ? parts[q + 1] : u + c.length) - parts[q];
                    if (px < x + part) {
                        *trailing = px >= x + part / 2;
                        return true;
                    }
                    x += part;
                }
                u += c.length;
            }
            // Past the line's end: after its last character, before a line break.
            if (k > first) {
                const DWRITE_CLUSTER_METRICS& c = w.clusters[k - 1];
                *trailing = !c.isNewline;
            }
            return true;
        }
        start += line.length;
        y += line.height;
    }
    return false;
}

}  // namespace

// A rich-text face's metrics: 0 caret of an offset, 6 far corner of its character, 1 offset under
// a point (trailing half: one more), 5 character under a point, 2 line height at an offset, 3 the
// layout's size, other the line count. Offsets are clamped to the text.
cell gui::text_box_metrics(const cell* face_value, const cell* argument, int32_t query)
{
    stack::scope keep;
    cell* face = keep.push(*face_value);
    cell* arg = keep.push(*argument);
    if (!gx.dwrite) init_direct2d();
    cell none = none_value;
    if (!gx.dwrite) return none;
    cell size = facet(face, F_SIZE);
    float bw = 0, bh = 0;
    if (cell_type(&size) == TYPE_PAIR) bw = float(int32_t(size.data2)), bh = float(int32_t(size.data3));
    else if (cell_type(&size) == TYPE_POINT2D) bw = point2D::get(&size, 0), bh = point2D::get(&size, 1);
    cell text = facet(face, F_TEXT);
    std::wstring wide = text_of(&text);
    std::vector<uint32_t> at = unit_offsets(wide);
    uint32_t chars = uint32_t(at.size() - 1);
    layout_holder h;
    if (!face_layout(face, nullptr, bw > 0 ? bw + 0.5f : 0, bh > 0 ? bh + 0.5f : 0, &h)) return none;
    IDWriteTextLayout* layout = h.layout.p;
    auto offset_unit = [&]() -> UINT32 {
        int64_t off = cell_type(arg) == TYPE_INTEGER ? integer_of(arg) : 1;
        if (off < 1) off = 1;
        if (off > int64_t(chars) + 1) off = chars + 1;
        return at[size_t(off - 1)];
    };
    auto unit_char = [&](UINT32 unit) -> int32_t {
        return int32_t(std::upper_bound(at.begin(), at.end(), unit) - at.begin());   // 1-based
    };
    cell out;
    switch (query) {
    case 0: case 6: {
        UINT32 unit = offset_unit();
        caret_box box{0, 0, 0, 0};
        DWRITE_HIT_TEST_METRICS m;
        FLOAT x, y;
        if (!gx.force_hit_fallback && SUCCEEDED(layout->HitTestTextPosition(unit, FALSE, &x, &y, &m)))
            box = caret_box{x, y, m.width, m.height};
        else if (!fallback_caret(layout, wide, unit, &box))
            return none;
        if (box.y < 0) box.y = 0;
        if (query == 0) point2D::make_at(&out, box.x, box.y);
        else point2D::make_at(&out, box.x + box.width, box.y + box.height);
        return out;
    }
    case 1: case 5: {
        float px = 0, py = 0;
        if (cell_type(arg) == TYPE_PAIR) px = float(int32_t(arg->data2)), py = float(int32_t(arg->data3));
        else if (cell_type(arg) == TYPE_POINT2D) px = point2D::get(arg, 0), py = point2D::get(arg, 1);
        UINT32 unit = 0, length = 0;
        bool trailing = false;
        BOOL t = FALSE, inside = FALSE;
        DWRITE_HIT_TEST_METRICS m;
        if (!gx.force_hit_fallback && SUCCEEDED(layout->HitTestPoint(px, py, &t, &inside, &m)))
            unit = m.textPosition, length = m.length, trailing = t;
        else if (!fallback_point(layout, wide, px, py, &unit, &trailing, &length))
            return none;
        int32_t c = unit_char(unit);
        if (query == 1 && trailing) c = unit_char(unit + (length ? length : 1));
        if (c > int32_t(chars) + 1) c = int32_t(chars) + 1;
        integer::make_at(&out, c);
        return out;
    }
    case 2: {
        UINT32 unit = offset_unit();
        layout_walk w = walk_layout(layout);
        float height = 0;
        UINT32 start = 0;
        for (const DWRITE_LINE_METRICS& line : w.lines) {
            height = line.height;
            if (unit < start + line.length) break;
            start += line.length;
        }
        float_::make_at(&out, height);
        return out;
    }
    default: {
        DWRITE_TEXT_METRICS m;
        if (FAILED(layout->GetMetrics(&m))) return none;
        if (query == 3) point2D::make_at(&out, m.width, m.height);
        else integer::make_at(&out, int32_t(m.lineCount));
        return out;
    }
    }
}
