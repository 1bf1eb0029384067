// The image layer: decoding the committed fixtures from bytes and from files, round trips through
// each encoder, the record's state bits and caches, the GDI and GDI+ hand-overs, the size limits
// and the life of records in the handle registry.
#include <gtest/gtest.h>
#include <windows.h>
#include <gdiplus.h>
#include <wincodec.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/hooks.h"
#include "support/images.h"

namespace {

using namespace img;
using ImageLayer = test::StackTest;

image_handle* record(const cell* c) { return image_record(c); }

// A file in the temporary folder holding the bytes, removed when it goes.
struct temp_file {
    std::wstring path;
    explicit temp_file(const bytes& data)
    {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        path = std::wstring(folder) + L"kiv-image-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(f, data.data(), DWORD(data.size()), &written, nullptr);
        CloseHandle(f);
    }
    ~temp_file() { DeleteFileW(path.c_str()); }
};

cell* decoded(const bytes& data)
{
    cell* out = stack::push_slot();
    if (!image_stream_new(out, data.data(), data.size())) ADD_FAILURE() << "not decoded";
    return out;
}

// An image of the given pixels (0xAARRGGBB), made through the argb path.
cell* image_of(uint32_t w, uint32_t h, const std::vector<uint32_t>& argb)
{
    cell* i = make(int32_t(w), int32_t(h));
    bytes raw(argb.size() * 4);
    std::memcpy(raw.data(), argb.data(), raw.size());
    image::set_data(i, binary(raw), image::MODE_ARGB);
    return i;
}

// A stand-in drawing bitmap that counts its references.
struct counted : IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST_F(ImageLayer, DecodesEachFixtureFromBytesAndFromAFile)
{
    for (const image_fixture& f : image_fixtures) {
        cell* from_bytes = decoded(fixture_bytes(f));
        ASSERT_EQ(image_cell_width(from_bytes), f.width) << f.name;
        ASSERT_EQ(image_cell_height(from_bytes), f.height) << f.name;
        EXPECT_EQ(record(from_bytes)->flags, 0u) << f.name << ": bytes decode lazily";
        std::vector<uint32_t> got = pixels(from_bytes);
        for (uint32_t i = 0; i < got.size(); i++)
            EXPECT_TRUE(close_to(got[i], f.pixels[i], f.tolerance))
                << f.name << " pixel " << i << ": " << std::hex << got[i] << " not " << f.pixels[i];

        temp_file file(fixture_bytes(f));
        cell* from_file = stack::push_slot();
        ASSERT_TRUE(image_load_file(from_file, file.path.c_str())) << f.name;
        EXPECT_EQ(record(from_file)->flags, uint32_t(IMAGE_BITMAP_CURRENT)) << f.name << ": a file is read whole";
        EXPECT_EQ(record(from_file)->source, nullptr);
        EXPECT_EQ(pixels(from_file), got) << f.name << ": file and bytes agree";
    }
    cell* out = stack::push_slot();
    EXPECT_FALSE(image_load_file(out, L"Z:\\no\\such\\file.png"));
}

TEST_F(ImageLayer, RoundTripsThroughEachEncoder)
{
    const std::vector<uint32_t> translucent = {0xFFFF0000, 0x8000FF00, 0x010000FF, 0x00102030, 0xFFFFFFFF, 0x7F123456};
    const std::vector<uint32_t> opaque = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF102030, 0xFFFFFFFF, 0xFF123456};
    const std::vector<uint32_t> primaries = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF000000, 0xFFFFFFFF, 0xFFFFFF00};
    std::vector<uint32_t> smooth;
    for (uint32_t y = 0; y < 16; y++)
        for (uint32_t x = 0; x < 16; x++) smooth.push_back(0xFF000000 | (x * 16) << 16 | (y * 16) << 8 | 0x80);
    struct row { const char* name; int32_t format; uint32_t w, h; std::vector<uint32_t> pixels; uint32_t tolerance; };
    const row rows[] = {
        {"PNG keeps straight alpha", IMAGE_PNG, 3, 2, translucent, 0},
        {"TIFF keeps straight alpha", IMAGE_TIFF, 3, 2, translucent, 0},
        {"BMP of opaque pixels", IMAGE_BMP, 3, 2, opaque, 0},
        {"GIF of black, white and primaries", IMAGE_GIF, 3, 2, primaries, 0},
        {"JPEG near", IMAGE_JPEG, 16, 16, smooth, 16},
    };
    for (const row& r : rows) {
        cell* source = image_of(r.w, r.h, r.pixels);
        cell* encoded = image_encode(source, stack::push_slot(), r.format);
        EXPECT_TRUE(image::known_format_q(encoded)) << r.name;
        cell* back = decoded(bytes_of(encoded));
        ASSERT_EQ(image_cell_pixels(back), r.w * r.h) << r.name;
        std::vector<uint32_t> got = pixels(back);
        for (uint32_t i = 0; i < got.size(); i++)
            EXPECT_TRUE(close_to(got[i], r.pixels[i], r.tolerance))
                << r.name << " pixel " << i << ": " << std::hex << got[i] << " not " << r.pixels[i];
    }
}

TEST_F(ImageLayer, UnknownFormatPrintsItsLineThenRaises)
{
    static std::string printed;
    static bool listening = false;
    static bool installed = false;
    if (!installed) {
        dyn_print::add(nullptr, [](const char* text, uint32_t length, uint32_t) {
            if (listening) printed.append(text, length);
        });
        installed = true;
    }
    printed.clear();
    listening = true;
    cell* i = make(2, 2);
    uint32_t error = raised([&] { image_encode(i, stack::push_slot(), 5); });
    listening = false;
    EXPECT_EQ(error, code(ERR_SCRIPT, err::INVALID_ARG));
    EXPECT_NE(printed.find("Cannot find image encoder"), std::string::npos) << printed;
    EXPECT_EQ(bytes_of(image_encode(make(2, 0), stack::push_slot(), IMAGE_GIF)), bytes{}) << "no pixels, no bytes";
}

TEST_F(ImageLayer, AWriteLockMakesTheNextSourceRebuildAndDropsTheCache)
{
    cell* i = make(2, 2);
    EXPECT_EQ(record(i)->flags, uint32_t(IMAGE_BITMAP_CURRENT | IMAGE_SOURCE_STALE)) << "a blank image";
    IWICBitmapSource* first = image_get_bitmap(i, false);
    EXPECT_EQ(image_get_bitmap(i, false), first) << "an up-to-date source is kept";
    counted cache;
    image_set_cache(i, &cache);
    { image_pixels px = image_lock(i, false); }
    EXPECT_EQ(image_get_bitmap(i, false), first) << "a read lock changes nothing";
    { image_pixels px = image_lock(i, true); px.data[0] = 0xFF010203; }
    EXPECT_TRUE(record(i)->flags & IMAGE_SOURCE_STALE);
    image_get_bitmap(i, false);
    EXPECT_EQ(record(i)->cache, nullptr) << "the cache shows old pixels: dropped";
    EXPECT_EQ(cache.refs, 1u);
    EXPECT_FALSE(record(i)->flags & IMAGE_SOURCE_STALE);
    cell* encoded = image_encode(i, stack::push_slot(), IMAGE_PNG);
    EXPECT_EQ(pixels(decoded(bytes_of(encoded)))[0], 0xFF010203u) << "encoding sees the written pixel";
}

TEST_F(ImageLayer, LockingAnUnchangedImageConvertsOnce)
{
    cell* i = decoded(fixture_bytes(fixture("rgba.png")));
    EXPECT_EQ(record(i)->bitmap, nullptr);
    { image_pixels px = image_lock(i, false); }
    IWICBitmap* built = record(i)->bitmap;
    ASSERT_NE(built, nullptr);
    { image_pixels px = image_lock(i, false); }
    EXPECT_EQ(record(i)->bitmap, built);
    image_mark_changed(i);
    { image_pixels px = image_lock(i, false); }
    EXPECT_TRUE(record(i)->flags & IMAGE_BITMAP_CURRENT) << "drawn into: rebuilt from the source";
}

TEST_F(ImageLayer, EnsureBitmapTwiceGivesOneBitmap)
{
    struct row { const char* name; std::function<cell*()> make; };
    const row rows[] = {
        {"blank, with a bitmap", [] { return make({pair(2, 1), tuple(10, 20, 30)}); }},
        {"decoded, without one", [] { return image_of(2, 1, {0xFF0A141E, 0xFF0A141E}); }},
        {"decoded lazily", [] { return decoded(fixture_bytes(fixture("rgb24.bmp"))); }},
    };
    for (const row& r : rows) {
        cell* i = r.make();
        std::vector<uint32_t> before = pixels(i);
        IWICBitmapSource* drawable = image_ensure_bitmap(i);
        EXPECT_EQ(record(i)->flags, uint32_t(IMAGE_DRAWABLE | IMAGE_PREMULTIPLIED)) << r.name;
        EXPECT_EQ(record(i)->bitmap, nullptr) << r.name;
        EXPECT_EQ(image_ensure_bitmap(i), drawable) << r.name;
        EXPECT_EQ(pixels(i), before) << r.name << ": opaque pixels survive the premultiplied form";
    }
}

TEST_F(ImageLayer, CacheSurvivesOneCollectionAfterItIsAskedForNotTwo)
{
    cell* i = make(2, 2);
    counted cache;
    image_set_cache(i, &cache);
    EXPECT_EQ(cache.refs, 2u);
    IUnknown* got = image_get_cache(i);
    EXPECT_EQ(got, &cache);
    got->Release();
    collector::do_cycle();
    EXPECT_EQ(record(i)->cache, &cache) << "asked for since the last collection";
    collector::do_cycle();
    EXPECT_EQ(record(i)->cache, nullptr) << "not asked for between two collections";
    EXPECT_EQ(cache.refs, 1u);
    EXPECT_EQ(image_get_cache(i), nullptr);
}

TEST_F(ImageLayer, GdiAndGdiplusHandOversKeepPixels)
{
    const std::vector<uint32_t> argb = {0xFFFF0000, 0x8000FF00, 0x000000FF, 0xFF123456};
    cell* i = image_of(2, 2, argb);
    HBITMAP h = image_to_hbitmap(i);
    ASSERT_NE(h, nullptr);
    std::vector<uint32_t> bits(4);
    EXPECT_EQ(GetBitmapBits(h, 16, bits.data()), 16);
    EXPECT_EQ(bits, argb);
    cell* back = stack::push_slot();
    ASSERT_TRUE(image_from_hbitmap(back, h, 0));
    EXPECT_EQ(pixels(back), argb);
    cell* opaque = stack::push_slot();
    ASSERT_TRUE(image_from_hbitmap(opaque, h, 2));
    EXPECT_EQ(pixels(opaque)[1], 0xFF00FF00u) << "alpha ignored: opaque, colour kept";
    DeleteObject(h);

    IWICBitmapLock* lock = nullptr;
    void* bitmap = image_to_gdiplus(i, &lock);
    ASSERT_NE(bitmap, nullptr);
    for (uint32_t k = 0; k < 4; k++) {
        Gdiplus::ARGB colour = 0;
        Gdiplus::DllExports::GdipBitmapGetPixel(static_cast<Gdiplus::GpBitmap*>(bitmap), INT(k % 2), INT(k / 2), &colour);
        EXPECT_EQ(colour, argb[k]) << k;
    }
    EXPECT_EQ(raised([&] { image_lock(i, true); }), code(ERR_ACCESS, err::BAD_MEDIA))
        << "the pixels stay locked while GDI+ reads them";
    image_gdiplus_release(bitmap, lock);
    EXPECT_TRUE(write_lock_free(i));
}

TEST_F(ImageLayer, FlipAndScale)
{
    cell* i = image_of(2, 2, {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004});
    cell* flipped = stack::push_slot();
    image_flip_rotate(flipped, i);
    EXPECT_EQ(pixels(flipped), (std::vector<uint32_t>{0xFF000003, 0xFF000004, 0xFF000001, 0xFF000002}));
    cell* scaled = image::push(i, 4, 2);
    EXPECT_EQ(pixels(scaled), (std::vector<uint32_t>{0xFF000001, 0xFF000001, 0xFF000002, 0xFF000002, 0xFF000003,
                                                     0xFF000003, 0xFF000004, 0xFF000004}));
}

TEST_F(ImageLayer, WithoutAFactoryNoCodec)
{
    IWICImagingFactory* saved = image_layer_s.factory;
    bool tried = image_layer_s.factory_tried;
    bytes png = fixture_bytes(fixture("rgba.png"));
    image_layer_s.factory = nullptr;
    image_layer_s.factory_tried = true;   // a creation that failed
    uint32_t make_error = raised([] { make(2, 2); });
    uint32_t decode_error = raised([&] { image::decode_binary(binary(png), stack::push_slot()); });
    image_layer_s.factory = saved;
    image_layer_s.factory_tried = tried;
    EXPECT_EQ(make_error, code(ERR_ACCESS, err::NO_CODEC));
    EXPECT_EQ(decode_error, code(ERR_ACCESS, err::NO_CODEC));
}

TEST_F(ImageLayer, SizeLimits)
{
    struct row { uint64_t w, h; bool fits; };
    const row rows[] = {{65535, 8192, true}, {65535, 8193, false}, {65536, 1, false}, {1, 65536, false},
                        {0, 0, true},        {23170, 23170, true}, {23171, 23171, false}};
    for (const row& r : rows) EXPECT_EQ(image_size_fits(r.w, r.h), r.fits) << r.w << "x" << r.h;
}

TEST_F(ImageLayer, RecordsLiveWhileReferencedAndTheirSlotsComeBack)
{
    collector::do_cycle();
    uint32_t before = live_images();
    cell* first = stack::top();
    for (int k = 0; k < 20; k++) make(1 + k, 2);
    collector::do_cycle();
    EXPECT_EQ(live_images(), before + 20);
    for (int k = 0; k < 20; k++) EXPECT_EQ(image_cell_width(first + 2 * k + 1), uint32_t(1 + k));
    stack_s.top = first;
    collector::do_cycle();
    EXPECT_EQ(live_images(), before) << "unreferenced records go back to the registry";
}

}  // namespace
