// Fonts: a font! object's GDI font and DirectWrite text format, cached in its state block
// [HFONT-for-DPI text-format HFONT-96] as handles whose registry slots release them; para flags.
#include <windows.h>

#include <cstring>
#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/extern.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "view/backend/windows/gui.h"
#include "view/backend/windows/render.h"

namespace {

enum font_field : uint32_t { F_NAME, F_SIZE, F_STYLE, F_ANGLE, F_COLOR, F_ANTI_ALIAS, F_SHADOW, F_STATE, F_PARENT };
enum para_field : uint32_t { P_ALIGN = 3, P_V_ALIGN = 4, P_WRAP = 5 };

bool word_is(const cell* w, const char* name)
{
    return any_word_q(cell_type(w)) && symbol::resolve(w->data2) == symbol::resolve(symbol::make(name));
}

// Whether a style value (a word or a block of words) names the style.
bool has_style(const cell* style, const char* name)
{
    if (cell_type(style) == TYPE_WORD || cell_type(style) == TYPE_LIT_WORD) return word_is(style, name);
    if (cell_type(style) != TYPE_BLOCK) return false;
    uint32_t n = block::rs_length(style);
    for (uint32_t i = 0; i < n; i++)
        if (word_is(block::rs_head(style) + i, name)) return true;
    return false;
}

int32_t default_size()
{
    cell v = object::system_field({"view", "fonts", "size"});
    return cell_type(&v) == TYPE_INTEGER && integer_of(&v) > 0 ? integer_of(&v) : 9;
}

int32_t font_size(const cell* font)
{
    cell v = gui::facet(font, F_SIZE);
    return cell_type(&v) == TYPE_INTEGER && integer_of(&v) > 0 ? integer_of(&v) : default_size();
}

// The font's name cut to 31 characters, or the default GUI font's.
std::wstring font_name(const cell* font)
{
    stack::scope keep;
    cell v = cell_type(font) == TYPE_OBJECT ? gui::facet(font, F_NAME) : none_value;
    if (cell_type(&v) != TYPE_STRING) v = object::system_field({"view", "fonts", "system"});
    if (cell_type(&v) != TYPE_STRING) return L"Segoe UI";
    std::wstring name = string_to_utf16(keep.push(v));
    // Cut at 31 code points, a surrogate pair kept whole.
    size_t units = 0;
    for (int count = 0; units < name.size() && count < 31; count++)
        units += (name[units] >= 0xD800 && name[units] < 0xDC00 && units + 1 < name.size()) ? 2 : 1;
    name.resize(units);
    return name;
}

// The font's state block, made [none none none] when it is not one.
cell state_block(const cell* font)
{
    cell state = gui::facet(font, F_STATE);
    if (cell_type(&state) == TYPE_BLOCK && block::rs_length(&state) >= 3) return state;
    stack::scope keep;
    cell* blk = block::make_at(keep.push(none_value), 3);
    for (int i = 0; i < 3; i++) block::rs_append(blk, &none_value);
    gui::set_facet(font, F_STATE, blk);
    return *blk;
}

cell registered(void* pointer, uint32_t klass, uint32_t kind)
{
    int32_t slot = extern_handle_alloc(pointer, klass);
    return cell{TYPE_HANDLE, kind, uint32_t(uintptr_t(pointer)), uint32_t(slot)};
}

// Releases what a state cell holds and makes it none; whether there was anything.
bool free_cell(cell* c)
{
    if (cell_type(c) != TYPE_HANDLE || int32_t(c->data3) < 0) return false;
    extern_handle_free(int32_t(c->data3), true);
    *c = none_value;
    return true;
}

}  // namespace

HFONT gui::make_font(const cell* face, const cell* font, bool for_dpi)
{
    int32_t dpi = for_dpi ? gui_s.dpi : 96;
    int32_t height = -(font_size(font) * dpi / 72);
    cell angle = facet(font, F_ANGLE), aa = facet(font, F_ANTI_ALIAS), style = facet(font, F_STYLE);
    int32_t orientation = cell_type(&angle) == TYPE_INTEGER ? integer_of(&angle) * 10 : 0;
    DWORD quality = cell_type(&aa) == TYPE_LOGIC && aa.data1 ? ANTIALIASED_QUALITY
                    : word_is(&aa, "ClearType")                ? CLEARTYPE_QUALITY
                                                                : DEFAULT_QUALITY;
    std::wstring name = font_name(font);
    HFONT h = CreateFontW(height, 0, 0, orientation, has_style(&style, "bold") ? 700 : 400, has_style(&style, "italic"),
                          has_style(&style, "underline"), has_style(&style, "strike"), DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality, 0, name.c_str());
    if (!h) return nullptr;
    if (for_dpi) {
        // The 96-DPI font comes first, then this one in cell 1.
        cell state = state_block(font);
        if (cell_type(block::rs_head(&state) + 2) != TYPE_HANDLE) make_font(face, font, false);
        state = state_block(font);
        cell* c = block::rs_head(&state);
        free_cell(c);
        *block::rs_head(&state) = registered(h, gui_s.font_class, handle::KIND_FONT);
    } else {
        cell state = state_block(font);
        free_cell(block::rs_head(&state) + 2);
        *(block::rs_head(&state) + 2) = registered(h, gui_s.font_class, handle::KIND_FONT);
    }
    (void)face;
    return h;
}

HFONT gui::get_font_handle(const cell* face, const cell* font)
{
    cell state = facet(font, F_STATE);
    if (cell_type(&state) == TYPE_BLOCK && block::rs_length(&state) >= 1) {
        const cell* c = block::rs_head(&state);
        if (cell_type(c) == TYPE_HANDLE && int32_t(c->data3) >= 0) return HFONT(handle::value_of(c));
    }
    return make_font(face, font, true);
}

bool gui::free_font_handles(const cell* font)
{
    cell state = facet(font, F_STATE);
    if (cell_type(&state) != TYPE_BLOCK) return false;
    bool any = false;
    uint32_t n = block::rs_length(&state);
    for (uint32_t i = 0; i < n && i < 3; i++) {
        if (i == 1 && gx.no_dwrite) continue;
        any |= free_cell(block::rs_head(&state) + i);
    }
    if (any) set_facet(font, F_STATE, &none_value);
    return any;
}

// Only the fields that shape the glyphs remake the handles; a colour keeps them.
void gui::update_font(const cell* font, int32_t field)
{
    if (cell_type(font) != TYPE_OBJECT) return;
    switch (field) {
    case F_NAME: case F_SIZE: case F_STYLE: case F_ANGLE: case F_ANTI_ALIAS:
        free_font_handles(font);
        make_font(nullptr, font, true);
        break;
    default:
        break;
    }
}

IDWriteTextFormat* gui::create_text_format(const cell* font, bool* owned)
{
    *owned = false;
    if (!gx.dwrite) init_direct2d();
    if (!gx.dwrite) return nullptr;
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    DWRITE_FONT_STYLE style = DWRITE_FONT_STYLE_NORMAL;
    float size;
    if (cell_type(font) == TYPE_OBJECT) {
        cell state = state_block(font);
        const cell* cached = block::rs_head(&state) + 1;
        if (cell_type(cached) == TYPE_HANDLE && int32_t(cached->data3) >= 0)
            return reinterpret_cast<IDWriteTextFormat*>(handle::value_of(cached));
        if (cell_type(block::rs_head(&state)) != TYPE_HANDLE) make_font(nullptr, font, true);
        cell st = facet(font, F_STYLE);
        if (has_style(&st, "bold")) weight = DWRITE_FONT_WEIGHT_BOLD;
        if (has_style(&st, "italic")) style = DWRITE_FONT_STYLE_ITALIC;
        size = float(font_size(font)) * 96.0f / 72.0f;
    } else {
        size = float(default_size()) * 96.0f / 72.0f;
        *owned = true;
    }
    std::wstring name = font_name(font);
    IDWriteTextFormat* format = nullptr;
    if (FAILED(gx.dwrite->CreateTextFormat(name.c_str(), nullptr, weight, style, DWRITE_FONT_STRETCH_NORMAL, size,
                                           gx.locale, &format)))
        return nullptr;
    if (*owned) return format;
    cell state = state_block(font);
    free_cell(block::rs_head(&state) + 1);
    *(block::rs_head(&state) + 1) = registered(format, gui_s.com_class, handle::KIND_FONT);
    return format;
}

void gui::set_text_alignment(IDWriteTextFormat* format, uint32_t flags)
{
    format->SetTextAlignment(flags & 1 ? DWRITE_TEXT_ALIGNMENT_CENTER
                             : flags & 2 ? DWRITE_TEXT_ALIGNMENT_TRAILING
                                         : DWRITE_TEXT_ALIGNMENT_LEADING);
    format->SetParagraphAlignment(flags & 4 ? DWRITE_PARAGRAPH_ALIGNMENT_CENTER
                                  : flags & 8 ? DWRITE_PARAGRAPH_ALIGNMENT_FAR
                                              : DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
    format->SetWordWrapping(flags & 0x10 ? DWRITE_WORD_WRAPPING_WRAP : DWRITE_WORD_WRAPPING_NO_WRAP);
}

// The flags of the para for a face type: window styles of system controls, alignment and wrap
// bits of drawn faces.
uint32_t gui::get_para_flags(const cell* type, const cell* para)
{
    struct row { const char* type; uint32_t h[4]; uint32_t v[4]; uint32_t no_wrap; bool wrap_bit; };
    static const row rows[] = {
        {"base", {0, 1, 2, 1}, {0, 4, 8, 4}, 0, true},
        {"rich-text", {0, 1, 2, 0}, {0, 4, 8, 0}, 0, true},
        {"button", {BS_LEFT, BS_CENTER, BS_RIGHT, BS_CENTER}, {BS_TOP, BS_VCENTER, BS_BOTTOM, BS_VCENTER}, 0, false},
        {"toggle", {BS_LEFT, BS_CENTER, BS_RIGHT, BS_CENTER}, {BS_TOP, BS_VCENTER, BS_BOTTOM, BS_VCENTER}, 0, false},
        {"check", {BS_LEFT, BS_CENTER, BS_RIGHT, BS_LEFT}, {BS_TOP, BS_VCENTER, BS_BOTTOM, BS_VCENTER}, 0, false},
        {"radio", {BS_LEFT, BS_CENTER, BS_RIGHT, BS_LEFT}, {BS_TOP, BS_VCENTER, BS_BOTTOM, BS_VCENTER}, 0, false},
        {"field", {0, ES_CENTER, ES_RIGHT, 0}, {0, 0x200, 0, 0}, ES_AUTOHSCROLL | ES_AUTOVSCROLL, false},
        {"area", {0, ES_CENTER, ES_RIGHT, 0}, {0, 0x200, 0, 0}, ES_AUTOHSCROLL | ES_AUTOVSCROLL, false},
        {"text", {0, SS_CENTER, SS_RIGHT, 0}, {0, SS_CENTERIMAGE, 0, 0}, SS_ENDELLIPSIS, false},
    };
    const row* r = nullptr;
    for (const row& x : rows)
        if (word_is(type, x.type)) r = &x;
    if (!r) return 0;
    int h = 3, v = 3;
    bool wrap = true;
    if (cell_type(para) == TYPE_OBJECT) {
        cell a = facet(para, P_ALIGN), va = facet(para, P_V_ALIGN), w = facet(para, P_WRAP);
        h = word_is(&a, "left") ? 0 : word_is(&a, "center") ? 1 : word_is(&a, "right") ? 2 : 3;
        v = word_is(&va, "top") ? 0 : word_is(&va, "middle") ? 1 : word_is(&va, "bottom") ? 2 : 3;
        wrap = !(cell_type(&w) == TYPE_LOGIC && !w.data1);
    } else {
        // A face without a para: the row's defaults, drawn text wrapped as the none of wrap? says.
        wrap = true;
    }
    uint32_t flags = r->h[h] | r->v[v];
    if (r->wrap_bit) {
        if (wrap) flags |= 0x10;
    } else if (!wrap) {
        flags |= r->no_wrap;
    }
    return flags;
}

// The para's flags into the window's style; the face's change bits get the para's bit so that
// the next show applies it. Only faces with a window whose type is a word.
void gui::update_para(const cell* face, int32_t)
{
    cell state = facet(face, 15), type = facet(face, 0);
    HWND hwnd = face_handle_q(face);
    if (cell_type(&state) != TYPE_BLOCK || cell_type(&type) != TYPE_WORD || !hwnd) return;
    uint32_t mask;
    if (word_is(&type, "base") || word_is(&type, "rich-text")) mask = ~0x2Fu;
    else if (word_is(&type, "button") || word_is(&type, "toggle") || word_is(&type, "check") || word_is(&type, "radio"))
        mask = ~0xF00u;
    else if (word_is(&type, "field") || word_is(&type, "area") || word_is(&type, "text")) mask = ~0x40C3u;
    else mask = 0xFFFFFFFFu;
    cell para = facet(face, 18);
    LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    SetWindowLongW(hwnd, GWL_STYLE, LONG((uint32_t(style) & mask) | get_para_flags(&type, &para)));
    if (block::rs_length(&state) >= 2) {
        cell* bits = block::rs_head(&state) + 1;
        if (cell_type(bits) == TYPE_INTEGER) bits->data2 |= 0x40000u;
    }
}

// The font requester: on OK the result font takes the chosen name, size and style; a cancel
// gives none.
bool gui::request_font(const cell* result, const cell* current, bool mono)
{
    LOGFONTW lf{};
    HFONT h = cell_type(current) == TYPE_OBJECT ? get_font_handle(nullptr, current) : nullptr;
    if (!h || !GetObjectW(h, sizeof lf, &lf)) {
        lf = LOGFONTW{};
        lf.lfHeight = -(gui_s.dpi * 11) / 72;
        lf.lfCharSet = DEFAULT_CHARSET;
        wcscpy(lf.lfFaceName, L"Courier New");
    }
    CHOOSEFONTW cf{};
    cf.lStructSize = sizeof cf;   // the structure's own size on either target
    cf.hwndOwner = GetForegroundWindow();
    cf.lpLogFont = &lf;
    cf.Flags = CF_SCREENFONTS | CF_PRINTERFONTS | CF_INITTOLOGFONTSTRUCT | CF_NOVERTFONTS | (mono ? CF_FIXEDPITCHONLY : 0);
    if (!ChooseFontW(&cf)) return false;
    stack::scope keep;
    std::string name;
    for (const wchar_t* p = lf.lfFaceName; *p; p++) {
        uint32_t c = *p;
        if (c < 0x80) name += char(c);
        else if (c < 0x800) name += char(0xC0 | (c >> 6)), name += char(0x80 | (c & 0x3F));
        else name += char(0xE0 | (c >> 12)), name += char(0x80 | ((c >> 6) & 0x3F)), name += char(0x80 | (c & 0x3F));
    }
    cell* text = string::load_at(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), keep.push(none_value), 0);
    set_facet(result, F_NAME, text);
    cell size{TYPE_INTEGER, 0, uint32_t(cf.iPointSize / 10), 0};
    set_facet(result, F_SIZE, &size);
    bool bold = lf.lfWeight == 700, italic = lf.lfItalic != 0;
    if (bold && italic) {
        cell* blk = block::make_at(keep.push(none_value), 2);
        block::rs_append(blk, word::load("bold"));
        block::rs_append(blk, word::load("italic"));
        set_facet(result, F_STYLE, blk);
    } else if (bold || italic) {
        set_facet(result, F_STYLE, word::load(bold ? "bold" : "italic"));
    }
    return true;
}
