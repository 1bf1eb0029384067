// Helpers of the image tests: tuple, pair and binary cells, images made as `make` makes them,
// their pixels and bytes read back, the committed image fixtures, and the count of live records.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/cell.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/extern.h"
#include "runtime/image_layer.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace img {

using bytes = std::vector<uint8_t>;

struct image_fixture {
    const char* name;
    const uint8_t* data;
    uint32_t size;
    uint32_t width, height;
    const uint32_t* pixels;
    uint32_t tolerance;   // per channel, for lossy formats
};

#include "fixtures/images.inc"

inline bytes fixture_bytes(const image_fixture& f) { return bytes(f.data, f.data + f.size); }
inline const image_fixture& fixture(const char* name)
{
    for (const image_fixture& f : image_fixtures)
        if (std::strcmp(f.name, name) == 0) return f;
    throw std::runtime_error(name);
}

inline cell tuple(uint32_t r, uint32_t g, uint32_t b)
{
    return cell{TYPE_TUPLE | 3u << 19, r | g << 8 | b << 16, 0, 0};
}
inline cell tuple(uint32_t r, uint32_t g, uint32_t b, uint32_t t)
{
    return cell{TYPE_TUPLE | 4u << 19, r | g << 8 | b << 16 | t << 24, 0, 0};
}
// r.g.b or r.g.b.t, and "none": the text of what pick gives.
inline std::string tuple_text(const cell& t)
{
    if (cell_type(&t) == TYPE_NONE) return "none";
    uint32_t n = (t.header >> 19) & 0xF;
    std::string out;
    for (uint32_t i = 0; i < n && i < 4; i++) out += (i ? "." : "") + std::to_string(t.data1 >> (8 * i) & 0xFF);
    return out;
}
inline cell pair(int32_t x, int32_t y) { return cell{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)}; }
inline cell integer(int32_t n) { return cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }

// A binary! of the bytes, pushed.
inline cell* binary(const bytes& b)
{
    node_ref node = bytes_alloc(uint32_t(b.size()));
    cell c{TYPE_BINARY, 0, node, 0};
    cell* slot = stack::push(&c);
    series_buffer* s = series_of(node);
    if (!b.empty()) std::memcpy(at(s->head), b.data(), b.size());
    s->tail = s->head + uint32_t(b.size());
    return slot;
}
inline bytes bytes_of(const cell* binary)
{
    series_buffer* s = series_of(binary->data2);
    uint32_t head = std::min(binary->data1, series_used_bytes(s));
    return bytes(at(s->head) + head, at(s->tail));
}
inline std::string hex(const bytes& b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t v : b) out += std::string{digits[v >> 4], digits[v & 15]};
    return out;
}
inline bytes unhex(const std::string& text)
{
    bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

// make image! with a pair or a block spec of the given cells, pushed (the spec stays below it).
inline cell* make(cell spec)
{
    cell proto = datatype::value_of(TYPE_IMAGE);
    return image::make(&proto, stack::push(&spec), TYPE_IMAGE);
}
inline cell* make(std::initializer_list<cell> parts)
{
    cell* blk = block::push_only_star(4);
    for (const cell& p : parts) block::rs_append(blk, &p);
    cell proto = datatype::value_of(TYPE_IMAGE);
    return image::make(&proto, blk, TYPE_IMAGE);
}
inline cell* make(int32_t w, int32_t h) { return make(pair(w, h)); }

inline std::vector<uint32_t> pixels(const cell* image)
{
    image_pixels px = image_lock(image, false);
    return std::vector<uint32_t>(px.data, px.data + px.count);
}

// Whether a write lock can be taken: no lock was left behind.
inline bool write_lock_free(const cell* image)
{
    image_pixels px = image_lock(image, true);
    return px.data != nullptr;
}

inline uint32_t live_images()
{
    uint32_t n = 0;
    for (int32_t i = externs.live_head; i >= 0; i = externs.slots[i].link)
        if ((externs.slots[i].class_word & 0xFF) == image_layer_s.klass) n++;
    return n;
}

// Every channel of two pixels within the tolerance.
inline bool close_to(uint32_t a, uint32_t b, uint32_t tolerance)
{
    for (uint32_t shift = 0; shift < 32; shift += 8) {
        int32_t d = int32_t(a >> shift & 0xFF) - int32_t(b >> shift & 0xFF);
        if (uint32_t(d < 0 ? -d : d) > tolerance) return false;
    }
    return true;
}

inline uint32_t code(uint32_t category, uint32_t id) { return category * 100 + id; }

}  // namespace img
