// image!: construction, positions, pixel and path access, paste, copies of rectangles, comparison,
// text and the decoding and encoding entries, all over the image layer. Must not break: pixel
// locks are scoped (image_pixels) so that an error leaves no lock behind, and a binary's bytes
// are fetched only after the last allocation before they are read.
#include "runtime/datatypes/image.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/image_layer.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

bool (*image::face_to_image)(const cell* face, cell* out);

namespace {

using image::data_mode;

int64_t width_of(const cell* img) { return image_cell_width(img); }
int64_t height_of(const cell* img) { return image_cell_height(img); }
int64_t pixels_of(const cell* img) { return width_of(img) * height_of(img); }
int64_t head_of(const cell* img) { return int32_t(img->data1); }

cell integer_cell(int32_t n) { return cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }
cell pair_cell(int32_t x, int32_t y) { return cell{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)}; }
int32_t pair_x(const cell* p) { return int32_t(p->data2); }
int32_t pair_y(const cell* p) { return int32_t(p->data3); }

const cell* datatype_arg(uint32_t type)
{
    static cell c;
    c = datatype::value_of(type);
    return &c;
}

// The bytes of a binary! from its head to its tail (none when the head lies past the tail). The
// address holds until the next allocation.
const uint8_t* binary_bytes(const cell* binary, uint32_t* length)
{
    *length = series::length_clamped(binary);
    return ::at(series_of(series_node(binary))->head) + series::head_clamped(binary);
}

// Colours: a tuple r.g.b or r.g.b.t (header bits 19-22 the byte count, bytes from the low byte of
// word 1; t a transparency, 0 opaque) and a pixel 0xAARRGGBB with straight alpha A = 255 - t.
uint32_t tuple_pixel(const cell* tuple)
{
    uint32_t n = (tuple->header >> 19) & 0xF, b = tuple->data1;
    uint32_t a = n >= 4 ? 255 - (b >> 24) : 255;
    return a << 24 | (b & 0xFF) << 16 | (b & 0xFF00) | (b >> 16 & 0xFF);
}
cell pixel_tuple(uint32_t pixel)
{
    uint32_t t = 255 - (pixel >> 24);
    return cell{TYPE_TUPLE | 4u << 19, (pixel >> 16 & 0xFF) | (pixel & 0xFF00) | (pixel & 0xFF) << 16 | t << 24, 0, 0};
}

// A new binary! of n bytes (tail set) into out; its data address holds until the next allocation.
uint8_t* binary_new(cell* out, uint32_t n)
{
    node_ref node = bytes_alloc(n);
    *out = cell{TYPE_BINARY, 0, node, 0};
    series_buffer* s = series_of(node);
    s->tail = s->head + n;
    return ::at(s->head);
}

// Changes are reported to an owner through the cell's own bit: images have no series buffer.
void tell_owner(cell* img, owner_event event, const cell* value, int64_t index, int64_t count)
{
    if (img->header & image::IMAGE_OWNED) ownership_check(img, event, value, int32_t(index), int32_t(count));
}

bool word_is(const cell* word, rt_symbol which)
{
    return cell_type(word) == TYPE_WORD && symbol::resolve(word->data2) == symbol::resolve(rt_symbol_id(which));
}

// ---- copies of rectangles -----------------------------------------------------------------------

struct rect {
    int64_t x, y, w, h;
};

// The copy of a rectangle of src into out: an empty image (0x0, no record) for a side below 1.
void copy_rect(const cell* src, cell* out, rect r)
{
    if (r.w < 1 || r.h < 1) {
        *out = image_cell(-1, 0, 0);
        return;
    }
    r.x = std::clamp<int64_t>(r.x, 0, width_of(src));
    r.y = std::clamp<int64_t>(r.y, 0, height_of(src));
    r.w = std::min(r.w, width_of(src) - r.x);
    r.h = std::min(r.h, height_of(src) - r.y);
    if (r.w < 1 || r.h < 1) {
        *out = image_cell(-1, 0, 0);
        return;
    }
    if (r.x == 0 && r.y == 0 && r.w == width_of(src) && r.h == height_of(src)) image_copy(src, out);
    else image_copy_part(src, out, uint32_t(r.x), uint32_t(r.y), uint32_t(r.w), uint32_t(r.h));
}

// The rectangle that /part with a pair names, from the current pixel.
rect part_by_pair(const cell* img, const cell* part)
{
    int64_t w = width_of(img), h = height_of(img), head = head_of(img);
    int64_t pw = pair_x(part), ph = pair_y(part);
    int64_t x0 = head % w, y0 = head / w;
    if (pw >= 1 && ph >= 1 && head < w * h) return {x0, y0, std::min(pw, w - x0), std::min(ph, h - y0)};
    if (pw < 0 && ph < 0 && head >= 1) {
        // The rectangle that ends at the current pixel.
        int64_t sw = -pw, sh = -ph;
        if (x0 == 0) x0 = w;
        if (x0 - sw >= 0) x0 -= sw;
        else sw = x0, x0 = 0;
        if (y0 < h) y0++;
        if (y0 - sh >= 0) y0 -= sh;
        else sh = y0, y0 = 0;
        return {x0, y0, sw, sh};
    }
    return {0, 0, 0, 0};
}

// ---- text ---------------------------------------------------------------------------------------

// Text goes out in chunks; with a part limit, a chunk never runs past what is left of it.
struct text_out {
    cell* buffer;
    int32_t part;
    bool limited;
    std::string chunk;

    bool done() const { return limited && part - int32_t(chunk.size()) <= 0; }
    void flush()
    {
        if (!chunk.empty()) part = string::emit_literal(buffer, chunk.c_str(), part);
        chunk.clear();
    }
    void put(const char* text)
    {
        chunk += text;
        if (chunk.size() >= 4096 || done()) flush();
    }
    void indent(int32_t level)
    {
        for (int32_t i = 0; i < level; i++) put("    ");
    }
};

void put_hex(text_out& t, uint32_t value, int digits)
{
    static const char hex[] = "0123456789ABCDEF";
    char text[8];
    for (int i = 0; i < digits; i++) text[i] = hex[(value >> (4 * (digits - 1 - i))) & 0xF];
    text[digits] = 0;
    t.put(text);
}

// One routine for form and mold: form does not indent, mold indents one level deeper than its
// caller. Returns the part budget left.
int32_t text(const cell* img, cell* buffer, bool only, bool flat, cell* arg, int32_t part, int32_t indent)
{
    text_out t{buffer, part, arg_given(arg), {}};
    if (!only) t.put("make image! [");
    t.put((std::to_string(width_of(img)) + "x" + std::to_string(height_of(img))).c_str());
    if (!image_record(img)) {
        t.put(" #{}");
        if (!only) t.put("]");
        t.flush();
        return t.part;
    }
    t.put(" #{");
    image_pixels px = image_lock(img, false);
    int64_t first = std::clamp<int64_t>(head_of(img), 0, px.count);
    int64_t count = px.count - first;
    bool lines = !flat && count * 4 >= 31;
    if (lines) {
        t.put("\n");
        t.indent(indent);
    }
    bool translucent = false;
    for (int64_t i = 0; i < count && !t.done(); i++) {
        uint32_t p = px.data[first + i];
        translucent |= (p >> 24) != 255;
        put_hex(t, p & 0xFFFFFF, 6);
        if (lines && (i + 1) % 10 == 0) {
            t.put("\n");
            t.indent(indent);
        }
    }
    if (lines && count % 10 != 0) {
        t.put("\n");
        t.indent(indent - 1);
    }
    t.put("}");
    if (translucent && !t.done()) {
        t.put(" #{\n");
        t.indent(indent);
        for (int64_t i = 0; i < count && !t.done(); i++) {
            if (i && i % 10 == 0) {
                t.put("\n");
                t.indent(indent);
            }
            put_hex(t, 255 - (px.data[first + i] >> 24), 2);
        }
        t.put("\n");
        t.indent(indent - 1);
        t.put("}");
    }
    if (!only) t.put("]");
    t.flush();
    return t.part;
}

// make's common end: a side above the limit is refused before anything is allocated.
cell* make_sized(cell* result, const cell* size, const cell* rgb, const cell* alpha, const cell* colour)
{
    int32_t x = pair_x(size), y = pair_y(size);
    if (x > int32_t(IMAGE_SIDE_MAX) || y > int32_t(IMAGE_SIDE_MAX)) fire(ERR_SCRIPT, err::OUT_OF_RANGE, size);
    image_fill fill;
    uint32_t pixel = colour ? tuple_pixel(colour) : 0;
    if (colour) fill.colour = &pixel;
    if (rgb) fill.rgb = binary_bytes(rgb, &fill.rgb_length);
    if (alpha) fill.alpha = binary_bytes(alpha, &fill.alpha_length);
    image_new(result, uint32_t(std::max(x, 0)), uint32_t(std::max(y, 0)), fill);
    return result;
}

}  // namespace

// ---- positions ----------------------------------------------------------------------------------

int64_t image::index(const cell* img, const cell* index, int32_t mode, bool* out_of_range)
{
    int64_t w = width_of(img), h = height_of(img), total = w * h;
    int64_t e;
    bool outside = false;
    if (cell_type(index) == TYPE_PAIR) {
        int64_t x = pair_x(index), y = pair_y(index);
        if (mode == 0) {
            e = x + w * y;
            outside = x >= w || x < 0 || y >= h || y < 0;
        } else {
            e = y > 0 ? x + w * (y - 1) : x + w * y;
            outside = x > w || x <= 0 || y > h || y <= 0;
        }
    } else {
        e = int32_t(index->data2);
    }
    int64_t p = e + head_of(img) - mode;
    if (mode == 1 && e <= 0) p++;   // at 0 behaves as at 1
    if (e == 0 || p < 0 || p >= total) outside = true;
    if (out_of_range) *out_of_range = outside;
    return std::clamp<int64_t>(p, 0, total);
}

cell* image::at(cell* img, cell* n)
{
    img->data1 = uint32_t(index(img, n, 1, nullptr));
    return img;
}

cell* image::skip(cell* img, cell* n)
{
    img->data1 = uint32_t(index(img, n, 0, nullptr));
    return img;
}

int32_t image::length_q(cell* img) { return int32_t(pixels_of(img)); }

cell* image::next(cell* img)
{
    if (head_of(img) + 1 <= pixels_of(img)) img->data1++;
    return img;
}

cell* image::tail(cell* img)
{
    img->data1 = uint32_t(pixels_of(img));
    return img;
}

cell* image::tail_q(cell* img) { return logic::make_at(img, head_of(img) + 1 > pixels_of(img)); }

// ---- pixels -------------------------------------------------------------------------------------

cell* image::pixel_to_tuple(const cell* img, int64_t index, cell* out)
{
    if (index < 0 || index >= pixels_of(img) || !image_record(img)) return none::make_at(out);
    *out = pixel_tuple(image_get_pixel(img, uint32_t(index)));
    return out;
}

void image::pick_pixels(cell* blk, const cell* img, uint32_t n)
{
    series_buffer* s = series_of(blk->data2);
    uint32_t room = (s->tail - s->head) / sizeof(cell);
    n = std::min(n, room > blk->data1 ? room - blk->data1 : 0);
    if (!n) return;
    cell* first = ::at<cell>(s->head) + blk->data1;
    int64_t head = std::max<int64_t>(head_of(img), 0);
    if (!image_record(img)) {
        std::fill(first, first + n, none_value);
        return;
    }
    image_pixels px = image_lock(img, false);
    for (uint32_t i = 0; i < n; i++) {
        int64_t p = head + i;
        first[i] = p < px.count ? pixel_tuple(px.data[p]) : none_value;
    }
}

cell* image::pick(cell* img, int32_t n, cell* index)
{
    cell i = index && (cell_type(index) == TYPE_PAIR || cell_type(index) == TYPE_INTEGER) ? *index : integer_cell(n);
    bool outside;
    int64_t p = image::index(img, &i, 1, &outside);
    if (outside) return none::make_at(img);
    return pixel_to_tuple(img, p, img);
}

cell* image::poke(cell* img, int32_t n, cell* index, cell* value)
{
    cell i = index && (cell_type(index) == TYPE_PAIR || cell_type(index) == TYPE_INTEGER) ? *index : integer_cell(n);
    bool outside;
    int64_t p = image::index(img, &i, 1, &outside);
    if (outside || !image_record(img)) fire(ERR_SCRIPT, err::OUT_OF_RANGE, &i);
    if (cell_type(value) != TYPE_TUPLE) fire(ERR_SCRIPT, err::INVALID_ARG, value);
    cell v = *value;
    tell_owner(img, EV_POKE, &v, p, 1);
    image_set_pixel(img, uint32_t(p), tuple_pixel(&v));
    tell_owner(img, EV_POKED, &v, p, 1);
    *img = v;
    return img;
}

cell* image::extract_data(const cell* img, uint32_t mode, cell* out)
{
    static constexpr uint32_t unit[] = {1, 3, 4};
    cell source = *img;
    uint32_t count = image_record(&source) ? uint32_t(pixels_of(&source)) : 0;
    gc_cell_root keep(source);
    uint8_t* d = binary_new(out, count * unit[mode]);
    if (!count) return out;
    image_pixels px = image_lock(&keep.value, false);
    d = ::at(series_of(out->data2)->head);   // the lock may have run WIC only, but fetch it once more
    for (uint32_t i = 0; i < count; i++) {
        uint32_t p = px.data[i];
        switch (mode) {
        case image::MODE_ALPHA: d[i] = uint8_t(255 - (p >> 24)); break;
        case image::MODE_RGB:
            d[3 * i] = uint8_t(p >> 16), d[3 * i + 1] = uint8_t(p >> 8), d[3 * i + 2] = uint8_t(p);
            break;
        default: std::memcpy(d + 4 * i, &p, 4); break;
        }
    }
    return out;
}

cell* image::set_data(cell* img, const cell* value, uint32_t mode)
{
    if (!image_record(img) || pixels_of(img) == 0) return const_cast<cell*>(value);
    uint32_t vt = cell_type(value);
    if (vt != TYPE_BINARY && vt != TYPE_TUPLE && vt != TYPE_INTEGER) fire(ERR_SCRIPT, err::INVALID_ARG, value);
    tell_owner(img, EV_CHANGE, value, 0, pixels_of(img));
    {
        image_pixels px = image_lock(img, true);
        uint32_t count = px.count;
        uint32_t* d = px.data;
        if (vt == TYPE_BINARY) {
            uint32_t length = 0;
            const uint8_t* b = binary_bytes(value, &length);   // after the lock: nothing allocates from here
            if (mode == MODE_ARGB) {
                std::memcpy(d, b, std::min<uint64_t>(uint64_t(count) * 4, length));
            } else if (mode == MODE_RGB) {
                uint32_t n = std::min(length / 3, count);
                for (uint32_t i = 0; i < n; i++)
                    d[i] = (d[i] & 0xFF000000u) | uint32_t(b[3 * i]) << 16 | uint32_t(b[3 * i + 1]) << 8 | b[3 * i + 2];
            } else {
                uint32_t n = std::min(length, count);
                for (uint32_t i = 0; i < n; i++) d[i] = (d[i] & 0xFFFFFF) | uint32_t(255 - b[i]) << 24;
            }
        } else {
            uint32_t word = vt == TYPE_TUPLE ? value->data1 : value->data2;
            if (vt == TYPE_TUPLE && ((value->header >> 19) & 0xF) < 4) word &= 0xFFFFFF;
            uint32_t b0 = word & 0xFF, b1 = word >> 8 & 0xFF, b2 = word >> 16 & 0xFF, b3 = word >> 24;
            uint32_t colour = b0 << 16 | b1 << 8 | b2;
            if (mode == MODE_ARGB) std::fill(d, d + count, (255 - b3) << 24 | colour);
            else if (mode == MODE_RGB) for (uint32_t i = 0; i < count; i++) d[i] = (d[i] & 0xFF000000u) | colour;
            else for (uint32_t i = 0; i < count; i++) d[i] = (d[i] & 0xFFFFFF) | (255 - b0) << 24;
        }
    }
    tell_owner(img, EV_CHANGED, value, 0, pixels_of(img));
    return const_cast<cell*>(value);
}

// ---- make and to --------------------------------------------------------------------------------

cell* image::make(cell* proto, cell* spec, uint32_t type)
{
    uint32_t t = cell_type(spec);
    const cell* size = nullptr;
    const cell *rgb = nullptr, *alpha = nullptr, *colour = nullptr;
    cell* result = stack::push_slot();
    *result = image_cell(-1, 0, 0);
    if (t == TYPE_BLOCK) {
        series_buffer* s = series_of(spec->data2);
        cell* first = ::at<cell>(s->head) + spec->data1;
        cell* end = ::at<cell>(s->tail);
        int64_t n = first < end ? end - first : 0;
        if (n == 0) {
            if (cell_type(proto) == TYPE_IMAGE) return copy(proto, result, nullptr, false, nullptr);
            fire(ERR_SCRIPT, err::INVALID_ARG, spec);
        }
        // The block's cells are read into locals: nothing below may keep an address in it.
        cell parts[3];
        for (int64_t i = 0; i < std::min<int64_t>(n, 3); i++) parts[i] = first[i];
        if (cell_type(&parts[0]) != TYPE_PAIR) fire(ERR_SCRIPT, err::INVALID_ARG, &parts[0]);
        size = &parts[0];
        if (n >= 2) {
            if (cell_type(&parts[1]) == TYPE_BINARY) rgb = &parts[1];
            else if (cell_type(&parts[1]) == TYPE_TUPLE) colour = &parts[1];
            else fire(ERR_SCRIPT, err::INVALID_ARG, &parts[1]);
        }
        if (n >= 3) {
            if (cell_type(&parts[2]) != TYPE_BINARY) fire(ERR_SCRIPT, err::INVALID_ARG, &parts[2]);
            alpha = &parts[2];
        }
        return make_sized(result, size, rgb, alpha, colour);
    }
    if (t == TYPE_PAIR) return make_sized(result, spec, nullptr, nullptr, nullptr);
    stack::pop(1);
    return to(proto, spec, type);
}

cell* image::to(cell* proto, cell* spec, uint32_t type)
{
    if (cell_type(spec) == TYPE_IMAGE) return copy(spec, stack::push(spec), nullptr, false, nullptr);
    if (cell_type(spec) == TYPE_OBJECT && face_to_image) {
        cell* result = stack::push_slot();
        *result = none_value;
        if (face_to_image(spec, result)) return result;
        stack::pop(1);
    }
    fire(ERR_SCRIPT, err::BAD_TO_ARG, datatype_arg(TYPE_IMAGE), spec);
}

// ---- text ---------------------------------------------------------------------------------------

int32_t image::form(cell* value, cell* buffer, cell* arg, int32_t part)
{
    return text(value, buffer, false, false, arg, part, 0);
}

int32_t image::mold(cell* value, cell* buffer, bool only, bool, bool flat, cell* arg, int32_t part, int32_t indent)
{
    return text(value, buffer, only, flat, arg, part, indent + 1);
}

// ---- paths --------------------------------------------------------------------------------------

cell* image::eval_path(cell* parent, cell* element, cell* value, cell* path, cell*, cell*, int32_t, bool, bool, bool,
                       bool)
{
    uint32_t et = cell_type(element);
    if (et == TYPE_INTEGER || et == TYPE_PAIR) {
        cell* r = stack::push(parent);
        if (!value) return pick(r, int32_t(element->data2), element);
        return poke(r, int32_t(element->data2), element, value);
    }
    static constexpr rt_symbol words[] = {SYM_ALPHA, SYM_RGB, SYM_ARGB};   // in data_mode order
    for (uint32_t mode = 0; mode < 3; mode++) {
        if (!word_is(element, words[mode])) continue;
        if (value) return set_data(parent, value, mode);
        return extract_data(parent, mode, stack::push_slot());
    }
    if (word_is(element, SYM_SIZE) && !value) {
        cell size = pair_cell(int32_t(width_of(parent)), int32_t(height_of(parent)));
        return stack::push(&size);
    }
    fire(ERR_SCRIPT, err::INVALID_PATH, path, element);
}

// ---- comparison ---------------------------------------------------------------------------------

int32_t image::compare(cell* value1, cell* value2, int32_t op)
{
    if (cell_type(value2) != TYPE_IMAGE) return -2;
    bool same = value1->data2 == value2->data2 && value1->data1 == value2->data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (same && (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL)) return 0;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT: case COMP_CASE_SORT:
    case COMP_FIND: {
        int64_t n1 = image_record(value1) ? pixels_of(value1) : 0;
        int64_t n2 = image_record(value2) ? pixels_of(value2) : 0;
        if (n1 != n2) return n1 < n2 ? -1 : 1;
        if (n1 == 0) return 0;
        // Mended: equal pixel counts of different shapes (2x1 and 1x2) are different images.
        int64_t w1 = width_of(value1), w2 = width_of(value2);
        if (w1 != w2) return w1 < w2 ? -1 : 1;
        image_pixels a = image_lock(value1, false);
        image_pixels b = image_lock(value2, false);
        int r = std::memcmp(a.data, b.data, size_t(n1) * 4);
        return r < 0 ? -1 : r > 0 ? 1 : 0;
    }
    default:
        return -2;
    }
}

// ---- change -------------------------------------------------------------------------------------

namespace {

// Pastes src with its top-left pixel at the image's head, clipped at the right and bottom edges.
// The source rows are copied out before the target is locked, so pasting an image into itself
// reads its old pixels (and never needs two locks on one bitmap).
cell* paste(cell* img, const cell* src)
{
    int64_t w = width_of(img), h = height_of(img), head = head_of(img);
    int64_t sw = width_of(src), sh = height_of(src);
    if (head >= w * h || !image_record(img) || !image_record(src) || sw < 1 || sh < 1) return img;
    int64_t x0 = head % w, y0 = head / w;
    int64_t cols = std::min(sw, w - x0), rows = std::min(sh, h - y0);
    std::vector<uint32_t> block(size_t(cols * rows));
    {
        image_pixels s = image_lock(src, false);
        for (int64_t j = 0; j < rows; j++)
            std::memcpy(&block[size_t(j * cols)], s.data + j * sw, size_t(cols) * 4);
    }
    tell_owner(img, EV_CHANGE, src, head, cols * rows);
    {
        image_pixels d = image_lock(img, true);
        for (int64_t j = 0; j < rows; j++)
            std::memcpy(d.data + (y0 + j) * w + x0, &block[size_t(j * cols)], size_t(cols) * 4);
    }
    img->data1 = uint32_t((y0 + rows - 1) * w + std::min(x0 + sw, w));
    tell_owner(img, EV_CHANGED, src, head, cols * rows);
    return img;
}

}  // namespace

cell* image::change(cell* img, cell* value, cell* part, bool, cell* dup)
{
    bool many = arg_given(dup) && cell_type(dup) == TYPE_INTEGER && int32_t(dup->data2) >= 2;
    if (arg_given(part) || many) fire(ERR_INTERNAL, err::NOT_DONE);
    uint32_t vt = cell_type(value);
    if (vt == TYPE_IMAGE) {
        cell src = *value;
        return paste(img, &src);
    }
    if (vt != TYPE_TUPLE) fire(ERR_SCRIPT, err::INVALID_TYPE, datatype_arg(vt));
    int64_t head = head_of(img);
    if (head < 0 || head >= pixels_of(img) || !image_record(img)) {
        // At the tail there is no pixel to write.
        cell index = integer_cell(int32_t(head + 1));
        fire(ERR_SCRIPT, err::OUT_OF_RANGE, &index);
    }
    cell v = *value;
    tell_owner(img, EV_CHANGE, &v, head, 1);
    image_set_pixel(img, uint32_t(head), tuple_pixel(&v));
    img->data1 = uint32_t(head + 1);
    tell_owner(img, EV_CHANGED, &v, head, 1);
    return img;
}

// ---- copy ---------------------------------------------------------------------------------------

cell* image::copy(cell* img, cell* result, cell* part, bool, cell*)
{
    gc_cell_root source(*img);
    const cell* src = &source.value;
    int64_t w = width_of(src), h = height_of(src), head = std::max<int64_t>(head_of(src), 0);
    if (w == 0 || h < 1 || !image_record(src)) {
        *result = image_cell(-1, 0, 0);
        return result;
    }
    if (!arg_given(part)) {
        copy_rect(src, result, {head % w, head / w, w - head % w, h - head / w});
        return result;
    }
    uint32_t pt = cell_type(part);
    if (pt == TYPE_INTEGER) fire(ERR_INTERNAL, err::NOT_DONE);
    if (pt == TYPE_PAIR) {
        copy_rect(src, result, part_by_pair(src, part));
        return result;
    }
    if (pt == TYPE_IMAGE && part->data2 == src->data2) {
        int64_t a = std::clamp<int64_t>(head_of(part), 0, w * h);
        int64_t s = std::min(head, a), e = std::max(head, a);
        copy_rect(src, result, {s % w, s / w, e % w - s % w, e / w - s / w});
        return result;
    }
    fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_PART), part);
}

// ---- decoding and encoding ----------------------------------------------------------------------

bool image::known_format_q(const cell* binary)
{
    uint32_t n = 0;
    const uint8_t* p = binary_bytes(binary, &n);
    auto starts = [&](const char* sig, uint32_t len) { return n >= len && std::memcmp(p, sig, len) == 0; };
    return starts("\x89PNG", 4) || starts("\xFF\xD8\xFF", 3) || starts("BM", 2) || starts("GIF87a", 6) ||
           starts("GIF89a", 6) || starts("II*\0", 4) || starts("MM\0*", 4);
}

cell* image::decode_binary(const cell* binary, cell* out)
{
    if (!known_format_q(binary)) return none::make_at(out);
    uint32_t n = 0;
    const uint8_t* p = binary_bytes(binary, &n);
    // image_stream_new copies the bytes before anything can allocate.
    if (!image_stream_new(out, p, n)) fire(ERR_ACCESS, err::BAD_MEDIA);
    return out;
}

cell* image::decode_file(const cell* file, cell* out)
{
    cell f = *file;
    std::wstring path = file::native_path(&f);
    if (!image_load_file(out, path.c_str())) fire(ERR_ACCESS, err::CANNOT_OPEN, &f);
    return out;
}

cell* image::decode(const cell* data, cell* out)
{
    return cell_type(data) == TYPE_BINARY ? decode_binary(data, out) : decode_file(data, out);
}

cell* image::encode(const cell* img, cell* out, int32_t format)
{
    if (img->data3 == 0) fire(ERR_ACCESS, err::BAD_MEDIA);
    cell source = *img;
    gc_cell_root keep(source);
    return image_encode(&keep.value, out, format);
}

cell* image::push(const cell* img, uint32_t width, uint32_t height)
{
    cell* out = stack::push_slot();
    *out = none_value;
    cell source = *img;
    gc_cell_root keep(source);
    image_scale(out, &keep.value, width, height);
    return out;
}

// ---- collector and back end ---------------------------------------------------------------------

void image::mark_bitmap(const cell* img)
{
    if (img->data2) image_mark_bitmap(int32_t(img->data2 - 1));
}

void image::release_bitmaps(const cell* img)
{
    if (image_handle* h = image_record(img)) image_release(h);
}

void image::init()
{
    datatype::register_type(TYPE_IMAGE, TYPE_SERIES, "image!", {
        .make = make, .to = to, .form = form, .mold = mold, .eval_path = eval_path, .compare = compare,
        .at = at, .back = inherit, .change = change, .copy = copy, .head = inherit, .head_q = inherit,
        .index_q = inherit, .length_q = length_q, .next = next, .pick = pick, .poke = poke, .skip = skip,
        .tail = tail, .tail_q = tail_q, .modify = inherit, .mark = mark_bitmap});
}
