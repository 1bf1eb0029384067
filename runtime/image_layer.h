// The image layer: every bitmap of the system lives in Windows Imaging Component objects held by
// one native record per image, owned by a slot of the handle registry; an image! cell keeps the
// slot. Must not break: a new record is stored in a rooted cell before anything else allocates
// (else the next collection releases it), and every lock and COM reference is released on every
// path, errors included (com_ref, image_pixels).
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>

#include "runtime/cell.h"

struct IUnknown;
struct IWICImagingFactory;
struct IWICBitmapSource;
struct IWICBitmap;
struct IWICBitmapLock;
struct IWICBitmapDecoder;
struct IWICFormatConverter;
struct HBITMAP__;

// Releases any COM interface (null is allowed).
void com_release(IUnknown* object);

// One COM reference, released when the holder goes: a routine that raises half-way leaks nothing.
template <class T>
class com_ref {
public:
    com_ref() = default;
    explicit com_ref(T* p) : p_(p) {}
    com_ref(com_ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    com_ref& operator=(com_ref&& o) noexcept
    {
        if (this != &o) reset(std::exchange(o.p_, nullptr));
        return *this;
    }
    com_ref(const com_ref&) = delete;
    com_ref& operator=(const com_ref&) = delete;
    ~com_ref() { reset(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For a creation call that writes a new reference: the old one is released first.
    T** out()
    {
        reset();
        return &p_;
    }
    T* take() { return std::exchange(p_, nullptr); }
    void reset(T* p = nullptr)
    {
        com_release(reinterpret_cast<IUnknown*>(std::exchange(p_, p)));
    }

private:
    T* p_ = nullptr;
};

// State bits of an image record.
enum image_flag : uint32_t {
    IMAGE_BITMAP_CURRENT = 0x01,   // `bitmap` holds the latest pixels
    IMAGE_SOURCE_STALE = 0x02,     // `bitmap` was written after `source` was made
    IMAGE_DRAWABLE = 0x08,         // `source` is an in-memory premultiplied bitmap a target can draw into
    IMAGE_PREMULTIPLIED = 0x10,    // `source` delivers premultiplied pixels
    IMAGE_DRAWN = 0x20,            // `source` was drawn into: `bitmap` must be rebuilt from it
    IMAGE_CACHE_USED = 0x40        // `cache` was handed out since the last collection
};

// The native record behind an image!. It owns one reference to each of source, bitmap and cache.
struct image_handle {
    uint32_t flags;
    IWICBitmapSource* source;   // converter over a decoder frame, scaler, flip-rotator or bitmap; may be null
    IWICBitmap* bitmap;         // the lockable pixels in 32bppBGRA; may be null
    uint32_t size;              // width in bits 0-15, height in bits 16-31
    int32_t slot;               // its entry in the handle registry, class "image"
    IUnknown* cache;            // the back end's drawing bitmap, or null
};

// The sides an image may have, and the most pixel bytes (width x height x 4) one may hold.
constexpr uint32_t IMAGE_SIDE_MAX = 65535;
constexpr uint64_t IMAGE_BYTES_MAX = 0x7FFFFFFF;

struct image_layer_state {
    IWICImagingFactory* factory;   // null until the first image_factory, or when creation failed
    bool factory_tried;
    uint32_t klass;                // the registry class "image"
};
extern image_layer_state image_layer_s;

// Registers the class "image" (the imaging factory is made on first use).
void wic_init();

// ---- records ------------------------------------------------------------------------------------
// The record of an image! cell, or null for an image without one (a side of 0).
image_handle* image_record(const cell* image);
inline uint32_t image_width(const image_handle* h) { return h->size & 0xFFFF; }
inline uint32_t image_height(const image_handle* h) { return h->size >> 16; }
inline uint32_t image_cell_width(const cell* image) { return image->data3 & 0xFFFF; }
inline uint32_t image_cell_height(const cell* image) { return image->data3 >> 16; }
inline uint32_t image_cell_pixels(const cell* image) { return image_cell_width(image) * image_cell_height(image); }
// An image! cell, head 0, over the record in `slot` (-1: no record) of the given size.
cell image_cell(int32_t slot, uint32_t width, uint32_t height);
// Enters a record taking over the references given, and writes its image! into `out` (a rooted
// cell) before anything can allocate. Returns the record.
image_handle* image_handle_new(cell* out, IWICBitmapSource* source, IWICBitmap* bitmap, uint32_t flags,
                               uint32_t width, uint32_t height);
// Releases source and bitmap (clearing them), then the cache. Neither allocates nor raises.
void image_release(image_handle* h);
// The collector's hook for a live image: marks the slot and evicts a drawing cache that nobody
// asked for since the last collection.
void image_mark_bitmap(int32_t slot);

// The imaging factory, made (with COM started) on the first call; raises access/no-codec when it
// cannot be created.
IWICImagingFactory* image_factory();
// Sides within the limits, and width x height x 4 (64-bit) within IMAGE_BYTES_MAX.
bool image_size_fits(uint64_t width, uint64_t height);

// ---- state --------------------------------------------------------------------------------------
// A new format converter over source, to 32bppPBGRA or 32bppBGRA; null on failure.
IWICFormatConverter* image_convert_format(IWICBitmapSource* source, bool premultiplied);
// The record's source brought up to date in the asked form (not a new reference); null without
// a record. A failed conversion raises access/bad-media.
IWICBitmapSource* image_get_bitmap(const cell* image, bool premultiplied);
// The record's lockable bitmap, rebuilt from source when stale; a failure raises access/bad-media.
IWICBitmap* image_get_lockable(image_handle* h);
// A premultiplied in-memory bitmap the back end can draw into; it becomes the record's source.
IWICBitmapSource* image_ensure_bitmap(const cell* image);
void image_mark_changed(const cell* image);
IUnknown* image_get_cache(const cell* image);   // one more reference, or null
void image_set_cache(const cell* image, IUnknown* bitmap);
void image_release_cache(image_handle* h);

// ---- making and decoding: each writes its image! into `out`, a rooted cell --------------------
// What a blank image is filled with: one pixel (0xAARRGGBB), or the rgb bytes (three a pixel, then
// white) and the alpha bytes (a transparency each, then opaque). The spans may lie in the value
// range: nothing here allocates series memory.
struct image_fill {
    const uint32_t* colour = nullptr;
    const uint8_t* rgb = nullptr;
    uint32_t rgb_length = 0;
    const uint8_t* alpha = nullptr;
    uint32_t alpha_length = 0;
};
// A side of 0 gives an image without a record; a failed bitmap raises internal/no-memory.
void image_new(cell* out, uint32_t width, uint32_t height, const image_fill& fill = {});
// An image over a copy of the caller's BGRA memory (stride 0: width x 4).
bool image_new_bitmap(cell* out, uint32_t width, uint32_t height, uint32_t stride, const void* pixels);
// Decoding: false when the data is no image the layer can read (or too large for one).
bool image_load_file(cell* out, const wchar_t* path);
bool image_stream_new(cell* out, const uint8_t* bytes, size_t length);
bool image_decode_first_frame(cell* out, IWICBitmapDecoder* decoder);   // takes the decoder's reference
// An image of a GDI bitmap; alpha: 0 use alpha, 1 premultiplied, 2 ignore alpha. On failure out
// is none and the answer false.
bool image_from_hbitmap(cell* out, HBITMAP__* bitmap, uint32_t alpha);
// Transforms and copies; `image` has a record. Failures raise access/bad-media.
void image_flip_rotate(cell* out, const cell* image);
void image_scale(cell* out, const cell* image, uint32_t width, uint32_t height);
void image_copy(const cell* image, cell* out);
void image_copy_part(const cell* image, cell* out, uint32_t x, uint32_t y, uint32_t width, uint32_t height);

// ---- pixel access -------------------------------------------------------------------------------
// A lock over a whole image's pixels: rows contiguous, 0xAARRGGBB words. Unlocked when it goes.
struct image_pixels {
    com_ref<IWICBitmapLock> lock;
    uint32_t* data = nullptr;
    uint32_t count = 0;   // pixels
};
// A read or write lock on an image with a record; a write lock marks source stale first. A failed
// lock raises access/bad-media.
image_pixels image_lock(const cell* image, bool write);
// The first pixel of a lock, its byte size in *size; null when the layout is not width x 4 rows.
uint8_t* image_lock_data(IWICBitmapLock* lock, uint32_t* size);
uint32_t image_get_pixel(const cell* image, uint32_t index);
void image_set_pixel(const cell* image, uint32_t index, uint32_t pixel);
// HRESULTs of the pixel-format queries; *flag 1 when the format is 32bppBGRA.
long image_has_std_format_q(IWICBitmapSource* source, int32_t* flag);
long image_lock_has_std_format_q(IWICBitmapLock* lock, int32_t* flag);
inline bool image_flag_one_q(int32_t x) { return x == 1; }

// ---- encoding and interchange -------------------------------------------------------------------
enum image_format : int32_t { IMAGE_BMP = 0, IMAGE_PNG, IMAGE_GIF, IMAGE_JPEG, IMAGE_TIFF };
// The encoded file as a binary! in `out` (rooted). An unknown format prints its line and raises
// script/invalid-arg; a failed encoder step raises access/bad-media.
cell* image_encode(const cell* image, cell* out, int32_t format);
// A GDI bitmap of the pixels; failure raises internal/no-memory.
HBITMAP__* image_to_hbitmap(const cell* image);
// A GDI+ bitmap over the pixels, which stay locked (*lock) until image_gdiplus_release.
void* image_to_gdiplus(const cell* image, IWICBitmapLock** lock);
void image_gdiplus_release(void* bitmap, IWICBitmapLock* lock);
