// The clipboard service behind read-clipboard and write-clipboard.
// Invariants: the clipboard is open only while system memory is copied in or out (never across a
// Kiv allocation or an error); every global block prepared for writing is either taken by the
// system or freed here; a block from another program is read only within its GlobalSize.
#include "runtime/io/clipboard.h"

#include <windows.h>
#include <shellapi.h>
#include <wincodec.h>

#include <cstring>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/image_layer.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace {

constexpr uint32_t DIB_HEADER = 124;
constexpr uint32_t DROPFILES_HEADER = 20;

uint32_t rd32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void wr32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// ---- opening ------------------------------------------------------------------------------------

// The owner window: a message-only window, since SetClipboardData fails on a clipboard opened
// without one. Made on first use and kept for the process.
HWND owner_window()
{
    static HWND owner = nullptr;
    if (!owner) owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return owner;
}

// Three tries, with a short sleep and a look at the queue between them so an owner can answer.
bool open_clipboard()
{
    HWND owner = owner_window();
    for (int attempt = 0; attempt < 3; attempt++) {
        if (OpenClipboard(owner)) return true;
        Sleep(1);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    return false;
}

struct clipboard_open {
    bool ok = open_clipboard();
    ~clipboard_open()
    {
        if (ok) CloseClipboard();
    }
};

// A copy of a clipboard block's bytes; false when it cannot be locked.
bool copy_global(HANDLE h, std::vector<uint8_t>* out)
{
    if (!h) return false;
    SIZE_T size = GlobalSize(h);
    const void* p = GlobalLock(h);
    if (!p) return false;
    out->assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + size);
    GlobalUnlock(h);
    return true;
}

// A movable global block holding the bytes; null when memory is short.
HGLOBAL global_of(const std::vector<uint8_t>& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
    if (!h) return nullptr;
    void* p = GlobalLock(h);
    if (!p) {
        GlobalFree(h);
        return nullptr;
    }
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

// ---- text ---------------------------------------------------------------------------------------

// The text from the head to the tail as UTF-16 code units (surrogate pairs above U+FFFF).
std::u16string utf16_of(const cell* str)
{
    cell s = *str;
    const uint8_t* p = string::ks_head(&s);
    const uint8_t* end = string::ks_tail(&s);
    uint32_t unit = series_unit(series_of(series_node(&s)));
    std::u16string out;
    for (; p < end; p += unit) {
        uint32_t cp = string::get_char(p, unit);
        utf16_append(out, cp <= 0x10FFFF ? cp : 0xFFFD);
    }
    return out;
}

cell* text_value(const std::u16string& text, uint32_t type, cell* out)
{
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size() * 2), out, -1);
    cell_set_type(out, type);
    return out;
}

// ---- the formats ----------------------------------------------------------------------------------

const char* const file_formats[] = {"PNG", "JFIF", "GIF"};

// What reading found, copied out while the clipboard was open.
struct clip_data {
    enum kind_t { NONE, TEXT, FILES, ENCODED, DIB, BITMAP } kind = NONE;
    std::vector<uint8_t> bytes;
    std::vector<std::u16string> files;
    HBITMAP bitmap = nullptr;   // a copy of the clipboard's bitmap, ours to delete
};

void take_text(HANDLE h, clip_data* d)
{
    if (!copy_global(h, &d->bytes)) return;
    // Units within the block up to the first NUL: a block without one ends at its size.
    size_t units = d->bytes.size() / 2, n = 0;
    while (n < units && (d->bytes[2 * n] | d->bytes[2 * n + 1])) n++;
    d->bytes.resize(2 * n);
    d->kind = clip_data::TEXT;
}

void take_files(HANDLE h, clip_data* d)
{
    HDROP drop = static_cast<HDROP>(h);
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<wchar_t> name(260);
    for (UINT i = 0; i < count; i++) {
        UINT need = DragQueryFileW(drop, i, nullptr, 0);
        if (need + 1 > name.size()) name.resize(need + 1);
        UINT got = DragQueryFileW(drop, i, name.data(), UINT(name.size()));
        d->files.emplace_back(reinterpret_cast<const char16_t*>(name.data()), got);
    }
    d->kind = clip_data::FILES;
}

clip_data take_clipboard()
{
    clip_data d;
    clipboard_open open;
    if (!open.ok) return d;
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        take_text(h, &d);
        return d;
    }
    if (HANDLE h = GetClipboardData(CF_HDROP)) {
        take_files(h, &d);
        return d;
    }
    for (const char* name : file_formats) {
        UINT format = RegisterClipboardFormatA(name);
        HANDLE h = format ? GetClipboardData(format) : nullptr;
        if (h) {
            if (copy_global(h, &d.bytes)) d.kind = clip_data::ENCODED;
            return d;
        }
    }
    if (HANDLE h = GetClipboardData(CF_DIBV5)) {
        if (copy_global(h, &d.bytes)) {
            d.kind = clip_data::DIB;
            uint32_t w, hgt;
            if (clipboard::dibv5_pixels(d.bytes.data(), d.bytes.size(), &w, &hgt, nullptr)) return d;
            d.bytes.clear();
            d.kind = clip_data::NONE;
        }
    }
    if (HANDLE h = GetClipboardData(CF_BITMAP)) {
        d.bitmap = static_cast<HBITMAP>(CopyImage(h, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (d.bitmap) d.kind = clip_data::BITMAP;
    }
    return d;
}

}  // namespace

// ---- block layouts --------------------------------------------------------------------------------

std::vector<uint8_t> clipboard::dropfiles_block(const std::vector<std::u16string>& paths)
{
    std::vector<uint8_t> out(DROPFILES_HEADER, 0);
    wr32(out.data(), DROPFILES_HEADER);
    wr32(out.data() + 16, 1);
    for (const std::u16string& p : paths) {
        for (char16_t c : p) {
            out.push_back(uint8_t(c));
            out.push_back(uint8_t(c >> 8));
        }
        out.insert(out.end(), 2, 0);
    }
    out.insert(out.end(), 2, 0);
    return out;
}

std::vector<uint8_t> clipboard::dibv5_block(uint32_t width, uint32_t height, const uint32_t* pixels)
{
    uint64_t bytes = uint64_t(width) * height * 4;
    std::vector<uint8_t> out(DIB_HEADER + bytes, 0);
    uint8_t* h = out.data();
    wr32(h, DIB_HEADER);
    wr32(h + 4, width);
    wr32(h + 8, uint32_t(-int32_t(height)));   // top-down rows
    h[12] = 1;                                  // planes
    h[14] = 32;                                 // bits per pixel
    wr32(h + 16, BI_BITFIELDS);
    wr32(h + 20, uint32_t(bytes));
    wr32(h + 40, 0x00FF0000);
    wr32(h + 44, 0x0000FF00);
    wr32(h + 48, 0x000000FF);
    wr32(h + 52, 0xFF000000);
    wr32(h + 56, 0x57696E20);   // "Win "
    wr32(h + 108, 4);           // intent
    if (bytes) std::memcpy(h + DIB_HEADER, pixels, bytes);
    return out;
}

bool clipboard::dibv5_pixels(const uint8_t* block, size_t size, uint32_t* width, uint32_t* height,
                             std::vector<uint32_t>* pixels)
{
    if (size < DIB_HEADER) return false;
    uint32_t header = rd32(block);
    int32_t w = int32_t(rd32(block + 4)), h = int32_t(rd32(block + 8));
    uint16_t planes = uint16_t(block[12] | block[13] << 8), bits = uint16_t(block[14] | block[15] << 8);
    if (header < DIB_HEADER || header > size || planes != 1 || bits != 32 || rd32(block + 16) != BI_BITFIELDS ||
        rd32(block + 52) != 0xFF000000 || rd32(block + 48) != 0x000000FF)
        return false;
    if (w <= 0 || h == 0 || h == INT32_MIN) return false;
    uint64_t rows = uint64_t(h < 0 ? -int64_t(h) : h);
    uint64_t need = uint64_t(header) + uint64_t(w) * rows * 4;   // 64-bit: no wrap on any claim
    if (need > size) return false;
    *width = uint32_t(w);
    *height = uint32_t(rows);
    if (!pixels) return true;
    pixels->resize(size_t(w) * rows);
    const uint8_t* data = block + header;
    for (uint64_t y = 0; y < rows; y++) {
        // A positive height stores the bottom row first.
        uint64_t from = h > 0 ? rows - 1 - y : y;
        std::memcpy(pixels->data() + y * w, data + from * w * 4, size_t(w) * 4);
    }
    return true;
}

std::u16string clipboard::to_native_path(const std::u16string& file)
{
    std::u16string out;
    size_t i = 0;
    // "/c/..." names drive c; "/c" alone its root.
    if (file.size() >= 2 && file[0] == u'/' && file[1] != u'/' && (file.size() == 2 || file[2] == u'/')) {
        out.push_back(file[1]);
        out.push_back(u':');
        i = 2;
        if (file.size() == 2) out.push_back(u'\\');
    }
    for (; i < file.size(); i++) out.push_back(file[i] == u'/' ? u'\\' : file[i]);
    return out;
}

std::u16string clipboard::to_kiv_path(const std::u16string& native)
{
    std::u16string out;
    size_t i = 0;
    if (native.size() >= 2 && native[1] == u':') {
        out.push_back(u'/');
        out.push_back(native[0]);
        i = 2;
    }
    for (; i < native.size(); i++) out.push_back(native[i] == u'\\' ? u'/' : native[i]);
    return out;
}

// ---- reading and writing ----------------------------------------------------------------------------

cell* clipboard::read(cell* out)
{
    clip_data d = take_clipboard();   // the clipboard is closed again here
    switch (d.kind) {
    case clip_data::NONE:
        *out = none_value;
        break;
    case clip_data::TEXT:
        string::load_at(d.bytes.data(), uint32_t(d.bytes.size()), out, -1);
        break;
    case clip_data::FILES: {
        block::make_at(out, uint32_t(d.files.size()));
        for (const std::u16string& f : d.files) {
            cell* item = stack::push_slot();
            text_value(to_kiv_path(f), TYPE_FILE, item);
            block::rs_append(out, item);
            stack::pop(1);
        }
        break;
    }
    case clip_data::ENCODED:
        if (!image_stream_new(out, d.bytes.data(), d.bytes.size())) *out = none_value;
        break;
    case clip_data::DIB: {
        uint32_t w = 0, h = 0;
        std::vector<uint32_t> pixels;
        clipboard::dibv5_pixels(d.bytes.data(), d.bytes.size(), &w, &h, &pixels);
        if (!image_new_bitmap(out, w, h, 0, pixels.data())) *out = none_value;
        break;
    }
    case clip_data::BITMAP: {
        HBITMAP bitmap = d.bitmap;
        bool ok = image_from_hbitmap(out, bitmap, 2);
        DeleteObject(bitmap);
        if (!ok) *out = none_value;
        break;
    }
    }
    return out;
}

namespace {

// The prepared blocks of a write; whatever the system does not take is freed when it goes.
struct prepared {
    std::vector<std::pair<UINT, HGLOBAL>> blocks;
    bool failed = false;
    void add(UINT format, const std::vector<uint8_t>& bytes)
    {
        HGLOBAL h = global_of(bytes);
        if (h)
            blocks.emplace_back(format, h);
        else
            failed = true;
    }
    ~prepared()
    {
        for (auto& b : blocks)
            if (b.second) GlobalFree(b.second);
    }
};

void prepare_files(const cell* blk, prepared* p)
{
    std::vector<std::u16string> paths;
    const cell* head = block::rs_head(blk);
    uint32_t n = series::length_clamped(blk);
    for (uint32_t i = 0; i < n; i++) {
        if (!any_string_q(cell_type(&head[i]))) fire(ERR_SCRIPT, err::INVALID_ARG, blk);
        paths.push_back(clipboard::to_native_path(utf16_of(&head[i])));
    }
    p->add(CF_HDROP, clipboard::dropfiles_block(paths));
}

void prepare_image(const cell* image, prepared* p)
{
    uint32_t w = image_cell_width(image), h = image_cell_height(image);
    if (!w || !h) return;
    cell* png = stack::push_slot();
    image_encode(image, png, IMAGE_PNG);
    {
        cell b = *png;
        const uint8_t* head = at<uint8_t>(series_of(series_node(&b))->head) + b.data1;
        const uint8_t* tail = at<uint8_t>(series_of(series_node(&b))->tail);
        p->add(RegisterClipboardFormatA("PNG"), std::vector<uint8_t>(head, tail < head ? head : tail));
    }
    stack::pop(1);
    std::vector<uint32_t> pixels;
    {
        image_pixels lock = image_lock(image, false);
        if (!lock.data || lock.count != w * h) {
            p->failed = true;
            return;
        }
        pixels.assign(lock.data, lock.data + lock.count);
    }
    p->add(CF_DIBV5, clipboard::dibv5_block(w, h, pixels.data()));
}

}  // namespace

bool clipboard::write(const cell* value)
{
    prepared p;
    uint32_t type = cell_type(value);
    if (type == TYPE_STRING) {
        std::u16string text = utf16_of(value);
        std::vector<uint8_t> bytes(text.size() * 2 + 2, 0);
        if (!text.empty()) std::memcpy(bytes.data(), text.data(), text.size() * 2);
        p.add(CF_UNICODETEXT, bytes);
    } else if (type == TYPE_BLOCK) {
        prepare_files(value, &p);
    } else if (type == TYPE_IMAGE) {
        if (!image_cell_pixels(value)) return true;   // nothing to place
        prepare_image(value, &p);
    } else if (type != TYPE_NONE) {
        fire(ERR_SCRIPT, err::INVALID_ARG, value);
    }
    if (p.failed) return false;
    clipboard_open open;
    if (!open.ok) return false;
    bool placed = EmptyClipboard() != 0;
    for (auto& b : p.blocks) {
        if (placed && SetClipboardData(b.first, b.second))
            b.second = nullptr;   // the system's now
        else
            placed = false;
    }
    return placed;
}

