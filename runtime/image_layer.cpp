// The image layer over the Windows Imaging Component: records, decoding, pixel locks, copies,
// encoding and the hand-overs to GDI and GDI+. Must not break: a record's slot reaches a rooted
// cell before the next series allocation, and no WIC lock or reference outlives its routine
// unless the record owns it.
#include "runtime/image_layer.h"

#include <windows.h>
#include <gdiplus.h>
#include <objbase.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "runtime/errors.h"
#include "runtime/extern.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/rterror.h"

image_layer_state image_layer_s{nullptr, 0};

void com_release(IUnknown* object)
{
    if (object) object->Release();
}

namespace {

[[noreturn]] void bad_media() { fire(ERR_ACCESS, err::BAD_MEDIA); }
[[noreturn]] void no_memory() { fire(ERR_INTERNAL, err::NO_MEMORY); }
void check_media(HRESULT hr)
{
    if (FAILED(hr)) bad_media();
}

// The registry's release routine for the class "image": the record's references, then the record.
void release_record(void* pointer)
{
    auto h = static_cast<image_handle*>(pointer);
    if (!h) return;
    image_release(h);
    rt_free(h);
}

IWICBitmapSource* as_source(IWICBitmap* b) { return b; }

// ---- declared sizes -----------------------------------------------------------------------------
// A decoder may allocate the whole bitmap when it reads a header, so a size beyond the limits is
// refused from the header before WIC sees the data. Formats not parsed here are checked on the
// frame's size.

uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t le16(const uint8_t* p) { return p[0] | uint32_t(p[1]) << 8; }
uint32_t be32(const uint8_t* p) { return uint32_t(be16(p)) << 16 | be16(p + 2); }
uint32_t le32(const uint8_t* p) { return le16(p) | uint32_t(le16(p + 2)) << 16; }

// The first image descriptor of a GIF (frames may be larger than the logical screen); 0 when
// none is found in the bytes at hand.
bool gif_frame_size(const uint8_t* p, size_t n, uint64_t* w, uint64_t* h)
{
    size_t i = 13;
    if (p[10] & 0x80) i += size_t(3) << ((p[10] & 7) + 1);
    while (i < n) {
        if (p[i] == 0x2C) {
            if (i + 9 > n) return false;
            *w = le16(p + i + 5);
            *h = le16(p + i + 7);
            return true;
        }
        if (p[i] != 0x21 || i + 2 > n) return false;
        i += 2;   // introducer and label, then sub-blocks up to an empty one
        while (i < n && p[i]) i += size_t(p[i]) + 1;
        i++;
    }
    return false;
}

bool jpeg_size(const uint8_t* p, size_t n, uint64_t* w, uint64_t* h)
{
    size_t i = 2;
    while (i + 4 <= n) {
        if (p[i] != 0xFF) return false;
        uint8_t m = p[i + 1];
        if (m == 0xFF) {   // fill byte
            i++;
            continue;
        }
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD9)) {
            i += 2;
            continue;
        }
        bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (frame) {
            if (i + 9 > n) return false;
            *h = be16(p + i + 5);
            *w = be16(p + i + 7);
            return true;
        }
        i += 2 + be16(p + i + 2);
    }
    return false;
}

// False when the header declares a size the layer refuses; true when it fits or is not known.
bool declared_size_fits(const uint8_t* p, size_t n)
{
    uint64_t w = 0, h = 0;
    bool found = false;
    if (n >= 24 && p[0] == 0x89 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G' && std::memcmp(p + 12, "IHDR", 4) == 0) {
        w = be32(p + 16), h = be32(p + 20), found = true;
    } else if (n >= 13 && std::memcmp(p, "GIF8", 4) == 0) {
        if (!image_size_fits(le16(p + 6), le16(p + 8))) return false;
        found = gif_frame_size(p, n, &w, &h);
    } else if (n >= 26 && p[0] == 'B' && p[1] == 'M') {
        if (le32(p + 14) == 12) {
            w = le16(p + 18), h = le16(p + 20);
        } else {
            w = uint64_t(std::abs(int64_t(int32_t(le32(p + 18)))));
            h = uint64_t(std::abs(int64_t(int32_t(le32(p + 22)))));
        }
        found = true;
    } else if (n >= 4 && p[0] == 0xFF && p[1] == 0xD8) {
        found = jpeg_size(p, n, &w, &h);
    }
    return !found || image_size_fits(w, h);
}

// The first bytes of a file, for the header check.
bool file_head_fits(const wchar_t* path)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return true;   // the decoder reports it
    std::vector<uint8_t> head(65536);
    DWORD got = 0;
    BOOL ok = ReadFile(f, head.data(), DWORD(head.size()), &got, nullptr);
    CloseHandle(f);
    return !ok || declared_size_fits(head.data(), got);
}

// ---- decoding -----------------------------------------------------------------------------------

struct frame_source {
    com_ref<IWICFormatConverter> converter;
    uint32_t width = 0, height = 0;
};

// The first frame of a decoder as a straight BGRA converter; false for no frame, a size of 0 or
// one beyond the limits. The decoder's reference is released here whatever happens.
bool first_frame(IWICBitmapDecoder* decoder, frame_source* out)
{
    com_ref<IWICBitmapDecoder> d(decoder);
    UINT count = 0;
    if (FAILED(d->GetFrameCount(&count)) || count < 1) return false;
    com_ref<IWICBitmapFrameDecode> frame;
    if (FAILED(d->GetFrame(0, frame.out()))) return false;
    UINT w = 0, h = 0;
    if (FAILED(frame->GetSize(&w, &h)) || !w || !h || !image_size_fits(w, h)) return false;
    out->converter.reset(image_convert_format(frame.get(), false));
    if (!out->converter) return false;
    out->width = w;
    out->height = h;
    return true;
}

IWICBitmap* bitmap_from(IWICBitmapSource* source, WICBitmapCreateCacheOption option)
{
    IWICBitmap* b = nullptr;
    return SUCCEEDED(image_factory()->CreateBitmapFromSource(source, option, &b)) ? b : nullptr;
}

// An in-memory copy of a source: a new record (source null, bitmap the copy, flags 0x03).
void copy_into(cell* out, IWICBitmapSource* source, uint32_t width, uint32_t height)
{
    com_ref<IWICBitmap> copy(bitmap_from(source, WICBitmapCacheOnLoad));
    if (!copy) bad_media();
    image_handle_new(out, nullptr, copy.take(), IMAGE_BITMAP_CURRENT | IMAGE_SOURCE_STALE, width, height);
}

image_handle* record_or_fail(const cell* image)
{
    image_handle* h = image_record(image);
    if (!h) bad_media();
    return h;
}

// ---- encoding -----------------------------------------------------------------------------------

const GUID* container_of(int32_t format)
{
    static const GUID* const containers[] = {&GUID_ContainerFormatBmp, &GUID_ContainerFormatPng,
                                             &GUID_ContainerFormatGif, &GUID_ContainerFormatJpeg,
                                             &GUID_ContainerFormatTiff};
    return format >= 0 && format <= IMAGE_TIFF ? containers[format] : nullptr;
}

// Colours an indexed pixel format holds, 0 for a format that is not indexed.
uint32_t palette_room(const WICPixelFormatGUID& f)
{
    if (IsEqualGUID(f, GUID_WICPixelFormat8bppIndexed)) return 256;
    if (IsEqualGUID(f, GUID_WICPixelFormat4bppIndexed)) return 16;
    if (IsEqualGUID(f, GUID_WICPixelFormat2bppIndexed)) return 4;
    if (IsEqualGUID(f, GUID_WICPixelFormat1bppIndexed)) return 2;
    return 0;
}

// The palette of an indexed encoding: the image's own colours when they fit, so that an image of
// few colours comes back exact; otherwise WIC's reduction of them.
com_ref<IWICPalette> palette_of(IWICBitmapSource* source, uint32_t width, uint32_t height, uint32_t room)
{
    com_ref<IWICPalette> palette;
    check_media(image_factory()->CreatePalette(palette.out()));
    std::vector<uint32_t> pixels(size_t(width) * height);
    WICRect all{0, 0, INT(width), INT(height)};
    check_media(source->CopyPixels(&all, width * 4, UINT(pixels.size() * 4), reinterpret_cast<BYTE*>(pixels.data())));
    std::unordered_set<uint32_t> seen;
    std::vector<WICColor> colours;
    for (uint32_t p : pixels) {
        if (seen.insert(p).second) colours.push_back(p);
        if (colours.size() > room) break;
    }
    if (colours.size() <= room) check_media(palette->InitializeCustom(colours.data(), UINT(colours.size())));
    else check_media(palette->InitializeFromBitmap(source, room, FALSE));
    return palette;
}

// Encodes source into stream; every step is checked. The frame gets the pixel format it
// negotiates, converted here (with a palette for indexed formats).
void encode_into(IStream* stream, const GUID& container, IWICBitmapSource* source, uint32_t width, uint32_t height)
{
    IWICImagingFactory* factory = image_factory();
    com_ref<IWICBitmapEncoder> encoder;
    check_media(factory->CreateEncoder(container, nullptr, encoder.out()));
    check_media(encoder->Initialize(stream, WICBitmapEncoderNoCache));
    com_ref<IWICBitmapFrameEncode> frame;
    check_media(encoder->CreateNewFrame(frame.out(), nullptr));
    check_media(frame->Initialize(nullptr));
    check_media(frame->SetSize(width, height));
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    check_media(frame->SetPixelFormat(&format));
    com_ref<IWICFormatConverter> converted;
    IWICBitmapSource* written = source;
    if (!IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA)) {
        com_ref<IWICPalette> palette;
        if (uint32_t room = palette_room(format)) {
            palette = palette_of(source, width, height, room);
            check_media(frame->SetPalette(palette.get()));
        }
        check_media(factory->CreateFormatConverter(converted.out()));
        check_media(converted->Initialize(source, format, WICBitmapDitherTypeNone, palette.get(), 0.0,
                                          WICBitmapPaletteTypeCustom));
        written = converted.get();
    }
    check_media(frame->WriteSource(written, nullptr));
    check_media(frame->Commit());
    check_media(encoder->Commit());
}

}  // namespace

// ---- start-up and records -----------------------------------------------------------------------

void wic_init()
{
    image_layer_s.klass = extern_class_register("image", release_record);
}

// The factory is made by its first user: creating it costs start-up milliseconds.
IWICImagingFactory* image_factory()
{
    if (!image_layer_s.factory && !image_layer_s.factory_tried) {
        image_layer_s.factory_tried = true;
        platform_com_start();
        IWICImagingFactory* factory = nullptr;
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    reinterpret_cast<void**>(&factory))))
            factory = nullptr;
        image_layer_s.factory = factory;
    }
    if (!image_layer_s.factory) fire(ERR_ACCESS, err::NO_CODEC);
    return image_layer_s.factory;
}

bool image_size_fits(uint64_t width, uint64_t height)
{
    return width <= IMAGE_SIDE_MAX && height <= IMAGE_SIDE_MAX && width * height * 4 <= IMAGE_BYTES_MAX;
}

cell image_cell(int32_t slot, uint32_t width, uint32_t height)
{
    return cell{TYPE_IMAGE, 0, slot >= 0 ? uint32_t(slot) + 1 : 0, height << 16 | width};
}

image_handle* image_record(const cell* image)
{
    if (!image->data2) return nullptr;
    uint32_t slot = image->data2 - 1;
    // A cell whose slot was released (or never was an image's) is a fault of the runtime: kept
    // unrooted across a collection.
    if (slot >= externs.capacity || (externs.slots[slot].class_word & 0xFF) != image_layer_s.klass)
        runtime_error(RT_ASSERTION, rt_error_address());
    return static_cast<image_handle*>(externs.slots[slot].pointer);
}

image_handle* image_handle_new(cell* out, IWICBitmapSource* source, IWICBitmap* bitmap, uint32_t flags,
                               uint32_t width, uint32_t height)
{
    auto h = static_cast<image_handle*>(rt_alloc(sizeof(image_handle)));
    *h = image_handle{flags, source, bitmap, height << 16 | width, -1, nullptr};
    h->slot = extern_handle_alloc(h, image_layer_s.klass);
    *out = image_cell(h->slot, width, height);
    return h;
}

void image_release(image_handle* h)
{
    com_release(std::exchange(h->source, nullptr));
    com_release(std::exchange(h->bitmap, nullptr));
    image_release_cache(h);
}

void image_mark_bitmap(int32_t slot)
{
    auto h = static_cast<image_handle*>(externs.slots[slot].pointer);
    if (!extern_handle_mark(slot, nullptr)) return;
    if (h->flags & IMAGE_CACHE_USED) h->flags &= ~IMAGE_CACHE_USED;
    else image_release_cache(h);
}

// ---- state --------------------------------------------------------------------------------------

IWICFormatConverter* image_convert_format(IWICBitmapSource* source, bool premultiplied)
{
    IWICFormatConverter* c = nullptr;
    if (FAILED(image_factory()->CreateFormatConverter(&c))) return nullptr;
    const WICPixelFormatGUID& to = premultiplied ? GUID_WICPixelFormat32bppPBGRA : GUID_WICPixelFormat32bppBGRA;
    if (FAILED(c->Initialize(source, to, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom))) {
        c->Release();
        return nullptr;
    }
    return c;
}

IWICBitmapSource* image_get_bitmap(const cell* image, bool premultiplied)
{
    image_handle* h = image_record(image);
    if (!h) return nullptr;
    bool current = h->source && !(h->flags & IMAGE_SOURCE_STALE) &&
                   bool(h->flags & IMAGE_PREMULTIPLIED) == premultiplied;
    if (current) return h->source;
    IWICBitmapSource* base = h->bitmap ? as_source(h->bitmap) : h->source;
    if (!base) bad_media();
    IWICFormatConverter* converter = image_convert_format(base, premultiplied);
    if (!converter) bad_media();
    com_release(h->source);
    h->source = converter;
    image_release_cache(h);
    h->flags &= ~(IMAGE_SOURCE_STALE | IMAGE_DRAWABLE | IMAGE_PREMULTIPLIED);
    if (premultiplied) h->flags |= IMAGE_PREMULTIPLIED;
    return h->source;
}

IWICBitmap* image_get_lockable(image_handle* h)
{
    if (h->flags & IMAGE_DRAWN) h->flags &= ~(IMAGE_DRAWN | IMAGE_BITMAP_CURRENT);
    if (h->bitmap && ((h->flags & IMAGE_BITMAP_CURRENT) || !h->source)) {
        h->flags |= IMAGE_BITMAP_CURRENT;
        return h->bitmap;
    }
    if (!h->source) bad_media();
    // Copied at once (cache on load): a source that fails to decode fails here, and the copy
    // never reads through to a source that changes later.
    com_ref<IWICFormatConverter> straight(image_convert_format(h->source, false));
    if (!straight) bad_media();
    IWICBitmap* fresh = bitmap_from(straight.get(), WICBitmapCacheOnLoad);
    if (!fresh) bad_media();
    com_release(h->bitmap);   // the stale copy, if any: it is replaced, not leaked
    h->bitmap = fresh;
    h->flags |= IMAGE_BITMAP_CURRENT;
    return fresh;
}

IWICBitmapSource* image_ensure_bitmap(const cell* image)
{
    IWICBitmapSource* source = image_get_bitmap(image, true);
    if (!source) return nullptr;
    image_handle* h = image_record(image);
    if (h->flags & IMAGE_DRAWABLE) return source;
    IWICBitmap* drawable = bitmap_from(source, WICBitmapCacheOnLoad);
    if (!drawable) bad_media();
    com_release(std::exchange(h->bitmap, nullptr));
    com_release(h->source);
    h->source = drawable;
    // Exactly these bits, whether or not there was a bitmap: the source is now the drawable one,
    // so the next call returns it instead of copying again.
    h->flags = IMAGE_DRAWABLE | IMAGE_PREMULTIPLIED;
    return drawable;
}

void image_mark_changed(const cell* image)
{
    if (image_handle* h = image_record(image)) {
        h->flags |= IMAGE_DRAWN;
        image_release_cache(h);
    }
}

IUnknown* image_get_cache(const cell* image)
{
    image_handle* h = image_record(image);
    if (!h) return nullptr;
    h->flags |= IMAGE_CACHE_USED;
    if (h->cache) h->cache->AddRef();
    return h->cache;
}

void image_set_cache(const cell* image, IUnknown* bitmap)
{
    image_handle* h = image_record(image);
    if (!h) return;
    if (bitmap) bitmap->AddRef();
    com_release(std::exchange(h->cache, bitmap));
}

void image_release_cache(image_handle* h) { com_release(std::exchange(h->cache, nullptr)); }

// ---- making and decoding ------------------------------------------------------------------------

void image_new(cell* out, uint32_t width, uint32_t height, const image_fill& fill)
{
    if (!width || !height) {
        *out = image_cell(-1, width, height);
        return;
    }
    if (!image_size_fits(width, height)) no_memory();
    com_ref<IWICBitmap> bitmap;
    if (FAILED(image_factory()->CreateBitmap(width, height, GUID_WICPixelFormat32bppBGRA, WICBitmapCacheOnLoad,
                                             bitmap.out())))
        no_memory();
    {
        WICRect all{0, 0, INT(width), INT(height)};
        com_ref<IWICBitmapLock> lock;
        check_media(bitmap->Lock(&all, WICBitmapLockWrite, lock.out()));
        uint32_t bytes = 0;
        auto pixels = reinterpret_cast<uint32_t*>(image_lock_data(lock.get(), &bytes));
        if (!pixels) bad_media();
        uint32_t count = width * height;
        if (fill.colour) {
            std::fill(pixels, pixels + count, *fill.colour);
        } else {
            const uint8_t *c = fill.rgb, *a = fill.alpha;
            uint32_t coloured = std::min(fill.rgb_length / 3, count);
            uint32_t translucent = std::min(fill.alpha_length, count);
            for (uint32_t i = 0; i < count; i++) {
                uint32_t p = i < coloured ? uint32_t(c[3 * i]) << 16 | uint32_t(c[3 * i + 1]) << 8 | c[3 * i + 2]
                                          : 0xFFFFFFu;
                uint32_t av = i < translucent ? 255u - a[i] : 255u;
                pixels[i] = av << 24 | p;
            }
        }
    }
    image_handle_new(out, nullptr, bitmap.take(), IMAGE_BITMAP_CURRENT | IMAGE_SOURCE_STALE, width, height);
}

bool image_new_bitmap(cell* out, uint32_t width, uint32_t height, uint32_t stride, const void* pixels)
{
    if (!width || !height || !image_size_fits(width, height)) return false;
    if (!stride) stride = width * 4;
    if (stride < width * 4) return false;
    uint64_t size = uint64_t(stride) * height;
    if (size > IMAGE_BYTES_MAX) return false;
    com_ref<IWICBitmap> bitmap;
    if (FAILED(image_factory()->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat32bppBGRA, stride, UINT(size),
                                                       static_cast<BYTE*>(const_cast<void*>(pixels)), bitmap.out())))
        return false;
    image_handle_new(out, bitmap.take(), nullptr, 0, width, height);
    return true;
}

bool image_load_file(cell* out, const wchar_t* path)
{
    IWICImagingFactory* factory = image_factory();
    if (!file_head_fits(path)) return false;
    IWICBitmapDecoder* decoder = nullptr;
    if (FAILED(factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  &decoder)))
        return false;
    frame_source frame;
    if (!first_frame(decoder, &frame)) return false;
    // Read whole now, so the file is closed when this returns.
    com_ref<IWICBitmap> copy(bitmap_from(frame.converter.get(), WICBitmapCacheOnLoad));
    if (!copy) return false;
    image_handle_new(out, nullptr, copy.take(), IMAGE_BITMAP_CURRENT, frame.width, frame.height);
    return true;
}

bool image_stream_new(cell* out, const uint8_t* bytes, size_t length)
{
    IWICImagingFactory* factory = image_factory();
    if (length > IMAGE_BYTES_MAX || !declared_size_fits(bytes, length)) return false;
    // A memory stream that copies the bytes (so nothing here reads the value range again). Not
    // one over an HGLOBAL: Wine's reads past the block when a decoder seeks beyond the end of
    // corrupt data.
    com_ref<IStream> stream(SHCreateMemStream(bytes, UINT(length)));
    if (!stream) return false;
    IWICBitmapDecoder* decoder = nullptr;
    if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder)))
        return false;
    return image_decode_first_frame(out, decoder);
}

bool image_decode_first_frame(cell* out, IWICBitmapDecoder* decoder)
{
    frame_source frame;
    if (!first_frame(decoder, &frame)) return false;
    image_handle_new(out, frame.converter.take(), nullptr, 0, frame.width, frame.height);
    return true;
}

bool image_from_hbitmap(cell* out, HBITMAP__* bitmap, uint32_t alpha)
{
    *out = cell{TYPE_NONE, 0, 0, 0};
    com_ref<IWICBitmap> wic;
    if (FAILED(image_factory()->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapAlphaChannelOption(alpha),
                                                        wic.out())))
        return false;
    UINT w = 0, h = 0;
    if (FAILED(wic->GetSize(&w, &h)) || !w || !h || !image_size_fits(w, h)) return false;
    com_ref<IWICFormatConverter> converter(image_convert_format(wic.get(), false));
    if (!converter) return false;
    image_handle_new(out, converter.take(), nullptr, 0, w, h);
    return true;
}

void image_flip_rotate(cell* out, const cell* image)
{
    image_handle* h = record_or_fail(image);
    uint32_t w = image_width(h), ht = image_height(h);
    IWICBitmapSource* source = image_get_bitmap(image, false);
    com_ref<IWICBitmapFlipRotator> flip;
    check_media(image_factory()->CreateBitmapFlipRotator(flip.out()));
    check_media(flip->Initialize(source, WICBitmapTransformFlipVertical));
    image_handle_new(out, flip.take(), nullptr, 0, w, ht);
}

void image_scale(cell* out, const cell* image, uint32_t width, uint32_t height)
{
    record_or_fail(image);
    if (!width || !height) {
        *out = image_cell(-1, width, height);
        return;
    }
    if (!image_size_fits(width, height)) no_memory();
    IWICBitmapSource* source = image_get_bitmap(image, false);
    com_ref<IWICBitmapScaler> scaler;
    check_media(image_factory()->CreateBitmapScaler(scaler.out()));
    check_media(scaler->Initialize(source, width, height, WICBitmapInterpolationModeNearestNeighbor));
    image_handle_new(out, scaler.take(), nullptr, 0, width, height);
}

void image_copy(const cell* image, cell* out)
{
    image_handle* h = record_or_fail(image);
    uint32_t w = image_width(h), ht = image_height(h);
    copy_into(out, image_get_bitmap(image, false), w, ht);
}

void image_copy_part(const cell* image, cell* out, uint32_t x, uint32_t y, uint32_t width, uint32_t height)
{
    image_handle* h = record_or_fail(image);
    if (!width || !height || uint64_t(x) + width > image_width(h) || uint64_t(y) + height > image_height(h))
        bad_media();
    IWICBitmapSource* source = image_get_bitmap(image, false);
    com_ref<IWICBitmapClipper> clipper;
    check_media(image_factory()->CreateBitmapClipper(clipper.out()));
    WICRect r{INT(x), INT(y), INT(width), INT(height)};
    check_media(clipper->Initialize(source, &r));
    copy_into(out, clipper.get(), width, height);
}

// ---- pixel access -------------------------------------------------------------------------------

uint8_t* image_lock_data(IWICBitmapLock* lock, uint32_t* size)
{
    UINT w = 0, h = 0, stride = 0, bytes = 0;
    BYTE* data = nullptr;
    if (FAILED(lock->GetSize(&w, &h)) || FAILED(lock->GetStride(&stride))) return nullptr;
    if (stride != w * 4 || FAILED(lock->GetDataPointer(&bytes, &data)) || !data) return nullptr;
    if (uint64_t(bytes) < uint64_t(w) * h * 4) return nullptr;
    *size = bytes;
    return data;
}

image_pixels image_lock(const cell* image, bool write)
{
    image_handle* h = record_or_fail(image);
    IWICBitmap* bitmap = image_get_lockable(h);
    if (write) h->flags |= IMAGE_SOURCE_STALE;
    uint32_t w = image_width(h), ht = image_height(h);
    image_pixels px;
    WICRect all{0, 0, INT(w), INT(ht)};
    check_media(bitmap->Lock(&all, write ? WICBitmapLockWrite : WICBitmapLockRead, px.lock.out()));
    uint32_t size = 0;
    px.data = reinterpret_cast<uint32_t*>(image_lock_data(px.lock.get(), &size));
    if (!px.data) bad_media();
    px.count = w * ht;
    return px;
}

uint32_t image_get_pixel(const cell* image, uint32_t index)
{
    image_pixels px = image_lock(image, false);
    if (index >= px.count) fire(ERR_SCRIPT, err::OUT_OF_RANGE);
    return px.data[index];
}

void image_set_pixel(const cell* image, uint32_t index, uint32_t pixel)
{
    image_pixels px = image_lock(image, true);
    if (index >= px.count) fire(ERR_SCRIPT, err::OUT_OF_RANGE);
    px.data[index] = pixel;
}

long image_has_std_format_q(IWICBitmapSource* source, int32_t* flag)
{
    WICPixelFormatGUID f;
    HRESULT hr = source->GetPixelFormat(&f);
    *flag = SUCCEEDED(hr) && IsEqualGUID(f, GUID_WICPixelFormat32bppBGRA) ? 1 : 0;
    return hr;
}

long image_lock_has_std_format_q(IWICBitmapLock* lock, int32_t* flag)
{
    WICPixelFormatGUID f;
    HRESULT hr = lock->GetPixelFormat(&f);
    *flag = SUCCEEDED(hr) && IsEqualGUID(f, GUID_WICPixelFormat32bppBGRA) ? 1 : 0;
    return hr;
}

// ---- encoding and interchange -------------------------------------------------------------------

cell* image_encode(const cell* image, cell* out, int32_t format)
{
    const GUID* container = container_of(format);
    if (!container) {
        rt_print_line({"Cannot find image encoder"});
        cell id{TYPE_INTEGER, 0, uint32_t(format), 0};
        fire(ERR_SCRIPT, err::INVALID_ARG, &id);
    }
    uint32_t w = image_cell_width(image), h = image_cell_height(image);
    uint32_t size = 0;
    com_ref<IStorage> storage;
    com_ref<IStream> stream;
    if (w && h) {
        IWICBitmapSource* source = image_get_bitmap(image, false);
        if (!source) bad_media();
        check_media(StgCreateDocfile(nullptr, 0x04001012, 0, storage.out()));
        check_media(storage->CreateStream(L"KivImageStream", 0x12, 0, 0, stream.out()));
        encode_into(stream.get(), *container, source, w, h);
        STATSTG stat;
        check_media(stream->Stat(&stat, STATFLAG_NONAME));
        if (stat.cbSize.QuadPart > IMAGE_BYTES_MAX) no_memory();
        size = uint32_t(stat.cbSize.QuadPart);
    }
    // The encoder is done with the image: only now may the binary's allocation collect.
    node_ref node = bytes_alloc(size);
    *out = cell{TYPE_BINARY, 0, node, 0};
    if (!size) return out;
    LARGE_INTEGER start{};
    check_media(stream->Seek(start, STREAM_SEEK_SET, nullptr));
    series_buffer* s = series_of(node);
    ULONG read = 0;
    check_media(stream->Read(at(s->head), size, &read));
    if (read != size) bad_media();
    s->tail = s->head + size;
    return out;
}

HBITMAP__* image_to_hbitmap(const cell* image)
{
    image_pixels px = image_lock(image, false);
    HBITMAP b = CreateBitmap(int(image_cell_width(image)), int(image_cell_height(image)), 1, 32, px.data);
    if (!b) no_memory();
    return b;
}

void* image_to_gdiplus(const cell* image, IWICBitmapLock** lock)
{
    *lock = nullptr;
    image_handle* h = record_or_fail(image);
    image_get_bitmap(image, false);
    h->flags |= IMAGE_DRAWN;
    platform_gdiplus_start();
    image_pixels px = image_lock(image, false);
    Gdiplus::GpBitmap* bitmap = nullptr;
    int32_t w = int32_t(image_width(h));
    if (Gdiplus::DllExports::GdipCreateBitmapFromScan0(w, int32_t(image_height(h)), w * 4, PixelFormat32bppARGB,
                                                       reinterpret_cast<BYTE*>(px.data), &bitmap) != Gdiplus::Ok)
        no_memory();
    *lock = px.lock.take();
    return bitmap;
}

void image_gdiplus_release(void* bitmap, IWICBitmapLock* lock)
{
    if (bitmap) Gdiplus::DllExports::GdipDisposeImage(static_cast<Gdiplus::GpImage*>(bitmap));
    com_release(lock);
}
