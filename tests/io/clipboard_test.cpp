// The clipboard's block layouts on plain memory, and images through the system clipboard (the
// ClipboardSystem suite needs a display).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/io/clipboard.h"
#include "support/images.h"

namespace {

using clipboard::dibv5_pixels;

std::vector<uint8_t> bottom_up(uint32_t w, uint32_t h, const std::vector<uint32_t>& top_first)
{
    std::vector<uint8_t> block = clipboard::dibv5_block(w, h, top_first.data());
    int32_t positive = int32_t(h);
    std::memcpy(block.data() + 8, &positive, 4);
    for (uint32_t y = 0; y < h; y++)
        std::memcpy(block.data() + 124 + y * w * 4, top_first.data() + (h - 1 - y) * w, w * 4);
    return block;
}

TEST(ClipboardLayout, DibRoundTripAndBottomUpRows)
{
    const std::vector<uint32_t> px = {0x80FF0000, 0x0000FF00, 0xFF0000FF, 0x40102030, 0x11223344, 0xFFFFFFFF};
    std::vector<uint8_t> top = clipboard::dibv5_block(3, 2, px.data());
    ASSERT_EQ(top.size(), 124u + 24u);
    int32_t height;
    std::memcpy(&height, top.data() + 8, 4);
    EXPECT_EQ(height, -2);
    for (const std::vector<uint8_t>& block : {top, bottom_up(3, 2, px)}) {
        uint32_t w = 0, h = 0;
        std::vector<uint32_t> out;
        ASSERT_TRUE(dibv5_pixels(block.data(), block.size(), &w, &h, &out));
        EXPECT_EQ(w, 3u);
        EXPECT_EQ(h, 2u);
        EXPECT_EQ(out, px);   // top row first either way
    }
}

TEST(ClipboardLayout, DibClaimsBeyondTheBlockAreRefused)
{
    const std::vector<uint32_t> px(4, 0xFF000000);
    struct row { const char* what; size_t offset; uint32_t value; size_t size_cut; };
    const row rows[] = {
        {"one byte short", 0, 124, 1},
        {"width too large", 4, 3, 0},
        {"height wrapping 32 bits", 4, 0x40000000, 0},
        {"header past the block", 0, 0x10000, 0},
        {"header too small", 0, 40, 0},
        {"16 bits per pixel", 14, 16, 0},
        {"no alpha mask", 52, 0, 0},
    };
    for (const row& r : rows) {
        std::vector<uint8_t> block = clipboard::dibv5_block(2, 2, px.data());
        if (r.offset == 14)
            block[14] = uint8_t(r.value);
        else
            std::memcpy(block.data() + r.offset, &r.value, 4);
        block.resize(block.size() - r.size_cut);
        uint32_t w, h;
        std::vector<uint32_t> out;
        EXPECT_FALSE(dibv5_pixels(block.data(), block.size(), &w, &h, &out)) << r.what;
    }
    EXPECT_FALSE(dibv5_pixels(nullptr, 0, nullptr, nullptr, nullptr));
}

TEST(ClipboardLayout, DropFilesAndPaths)
{
    std::vector<uint8_t> b = clipboard::dropfiles_block({u"c:\\a", u"d"});
    const uint8_t want[] = {20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
                            'c', 0, ':', 0, '\\', 0, 'a', 0, 0, 0, 'd', 0, 0, 0, 0, 0};
    EXPECT_EQ(b, std::vector<uint8_t>(want, want + sizeof want));
    struct row { std::u16string kiv, native; };
    const row rows[] = {{u"/c/a.txt", u"c:\\a.txt"}, {u"/C/x y/z", u"C:\\x y\\z"}, {u"rel/a", u"rel\\a"}};
    for (const row& r : rows) {
        EXPECT_TRUE(clipboard::to_native_path(r.kiv) == r.native);
        EXPECT_TRUE(clipboard::to_kiv_path(r.native) == r.kiv);
    }
}

using ClipboardSystem = test::StackTest;

// Places one format as another program would.
bool place(UINT format, const std::vector<uint8_t>& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    bool ok = OpenClipboard(owner) && EmptyClipboard() && SetClipboardData(format, h);
    CloseClipboard();
    DestroyWindow(owner);
    if (!ok) GlobalFree(h);
    return ok;
}

std::vector<uint32_t> pixels_of(const cell* image)
{
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < image_cell_pixels(image); i++) out.push_back(image_get_pixel(image, i));
    return out;
}

TEST_F(ClipboardSystem, PartialAlphaRoundTripsExactly)
{
    const uint32_t px[] = {0x80FF0000, 0x0000FF00, 0xFF0000FF, 0x40204060};
    cell* image = stack::push_slot();
    ASSERT_TRUE(image_new_bitmap(image, 2, 2, 0, px));
    EXPECT_TRUE(clipboard::write(image));
    cell* back = clipboard::read(stack::push_slot());
    ASSERT_EQ(cell_type(back), uint32_t(TYPE_IMAGE));
    EXPECT_EQ(pixels_of(back), std::vector<uint32_t>(px, px + 4));
}

TEST_F(ClipboardSystem, ForeignBottomUpDibReadsTopRowFirst)
{
    const std::vector<uint32_t> px = {0xFF010203, 0xFF040506, 0xFF070809, 0xFF0A0B0C};
    ASSERT_TRUE(place(CF_DIBV5, bottom_up(2, 2, px)));
    cell* back = clipboard::read(stack::push_slot());
    ASSERT_EQ(cell_type(back), uint32_t(TYPE_IMAGE));
    EXPECT_EQ(pixels_of(back), px);
}

std::u16string text_of(const cell* c)
{
    cell s = *c;
    std::u16string out;
    for (const uint8_t* p = string::ks_head(&s); p < string::ks_tail(&s); p += series_unit(series_of(series_node(&s))))
        out.push_back(char16_t(string::get_char(p, series_unit(series_of(series_node(&s))))));
    return out;
}

TEST_F(ClipboardSystem, FileListsReadBackAsFiles)
{
    cell* files = block::make_at(stack::push_slot(), 2);
    for (const char* name : {"/c/a.txt", "/c/b.txt"}) {
        cell* f = string::load_at(reinterpret_cast<const uint8_t*>(name), 8, stack::push_slot(), 0);
        cell_set_type(f, TYPE_FILE);
        block::rs_append(files, f);
        stack::pop(1);
    }
    EXPECT_TRUE(clipboard::write(files));
    cell* back = clipboard::read(stack::push_slot());
    ASSERT_EQ(cell_type(back), uint32_t(TYPE_BLOCK));
    ASSERT_EQ(series::length_clamped(back), 2u);
    const cell* items = block::rs_head(back);
    EXPECT_EQ(cell_type(&items[0]), uint32_t(TYPE_FILE));
    EXPECT_TRUE(text_of(&items[0]) == u"/c/a.txt");
    EXPECT_TRUE(text_of(&items[1]) == u"/c/b.txt");
}

TEST_F(ClipboardSystem, ImageOfNoPixelsPlacesNothing)
{
    ASSERT_TRUE(place(CF_UNICODETEXT, {'k', 0, 0, 0}));
    cell* empty = stack::push_slot();
    image_new(empty, 0, 0);
    EXPECT_TRUE(clipboard::write(empty));
    cell* still = clipboard::read(stack::push_slot());
    ASSERT_EQ(cell_type(still), uint32_t(TYPE_STRING));
}

// Another thread holds the clipboard open until told to close it.
struct holder {
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;
    bool held = false;
    static DWORD WINAPI run(void* p)
    {
        holder* h = static_cast<holder*>(p);
        h->held = OpenClipboard(nullptr);
        SetEvent(h->opened);
        WaitForSingleObject(h->release, 10000);
        if (h->held) CloseClipboard();
        return 0;
    }
    holder()
    {
        thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
        WaitForSingleObject(opened, 10000);
    }
    ~holder()
    {
        SetEvent(release);
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        CloseHandle(opened);
        CloseHandle(release);
    }
};

TEST_F(ClipboardSystem, BusyClipboardPlacesNothing)
{
    cell* text = string::load_at(reinterpret_cast<const uint8_t*>("x"), 1, stack::push_slot(), 0);
    {
        holder busy;
        ASSERT_TRUE(busy.held);
        EXPECT_FALSE(clipboard::write(text));
        EXPECT_EQ(cell_type(clipboard::read(stack::push_slot())), uint32_t(TYPE_NONE));
    }
    EXPECT_TRUE(clipboard::write(text));
}

}  // namespace
