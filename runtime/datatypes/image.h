// image!: a two-dimensional series of pixels over a record of the image layer. The head is a
// pixel index in row-major order; pixels read and write as tuples r.g.b.t (t a transparency).
// Must not break: positions and rectangles are computed in 64 bits and clamped to the pixel
// count, and nothing reads past a binary's tail or an image's last pixel.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace image {

// An image! cell is owned (its changes reported to an owner) when this header bit is set.
constexpr uint32_t IMAGE_OWNED = 0x00010000u;

// Data modes of the path words and of extract-data / set-data.
enum data_mode : uint32_t { MODE_ALPHA = 0, MODE_RGB = 1, MODE_ARGB = 2 };

void init();

// ---- routines for the rest of the runtime (codecs, clipboard, foreach, KIVBIN, back end) -------
// A new image! of the given image scaled to width x height (nearest neighbour), pushed.
cell* push(const cell* image, uint32_t width, uint32_t height);
// The tuple of pixel index (0-based) into out, or none at or past the pixel count.
cell* pixel_to_tuple(const cell* image, int64_t index, cell* out);
// The tuples of n pixels from the head into the first n cells of the block (none past the end).
void pick_pixels(cell* blk, const cell* image, uint32_t n);
bool known_format_q(const cell* binary);
// Decoders: the image into out (a rooted cell). decode-binary gives none for an unknown signature
// and raises access/bad-media when decoding fails; decode-file raises access/cannot-open.
cell* decode_binary(const cell* binary, cell* out);
cell* decode_file(const cell* file, cell* out);
cell* decode(const cell* data, cell* out);
// The encoded file as a binary! into out; an image whose size word is 0 raises access/bad-media.
cell* encode(const cell* image, cell* out, int32_t format);
cell* extract_data(const cell* image, uint32_t mode, cell* out);
cell* set_data(cell* image, const cell* value, uint32_t mode);
// The head position an index names: mode 1 counts from 1 (at, pick, poke), mode 0 from 0 (skip).
// *out_of_range is set when the index names no pixel.
int64_t index(const cell* image, const cell* index, int32_t mode, bool* out_of_range);
void mark_bitmap(const cell* image);
void release_bitmaps(const cell* image);
// Installed by the back end: the face captured as an image into out; false when it is no face.
extern bool (*face_to_image)(const cell* face, cell* out);

// ---- actions ------------------------------------------------------------------------------------
cell* make(cell* proto, cell* spec, uint32_t type);
cell* to(cell* proto, cell* spec, uint32_t type);
int32_t form(cell* value, cell* buffer, cell* arg, int32_t part);
int32_t mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* arg, int32_t part, int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int32_t index, bool case_, bool get, bool tail, bool notify);
int32_t compare(cell* value1, cell* value2, int32_t op);
cell* at(cell* image, cell* n);
cell* skip(cell* image, cell* n);
cell* change(cell* image, cell* value, cell* part, bool only, cell* dup);
cell* copy(cell* image, cell* result, cell* part, bool deep, cell* types);
int32_t length_q(cell* image);
cell* next(cell* image);
cell* tail(cell* image);
cell* tail_q(cell* image);
cell* pick(cell* image, int32_t n, cell* index);
cell* poke(cell* image, int32_t n, cell* index, cell* value);

}  // namespace image
