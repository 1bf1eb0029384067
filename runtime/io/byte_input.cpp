// Byte inputs of the natives: binaries read in place, texts encoded once into a tracked buffer.
#include "runtime/io/byte_input.h"

#include <cstring>

#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/rterror.h"
#include "runtime/unicode.h"

cell* binary_result(cell* slot, node_ref node, uint32_t length)
{
    series_buffer* s = series_of(node);
    s->tail = s->head + length;
    *slot = cell{TYPE_BINARY, 0, node, 0};
    return slot;
}

cell* binary_of_bytes(cell* slot, const uint8_t* bytes, uint32_t length)
{
    node_ref node = bytes_alloc(length);
    if (length) std::memcpy(at(series_of(node)->head), bytes, length);
    return binary_result(slot, node, length);
}

bool byte_input_q(uint32_t type) { return type == TYPE_BINARY || any_string_q(type); }

byte_input::byte_input(const cell* value)
{
    series_buffer* s = series_of(value->data2);
    uint32_t used = series_used_bytes(s);
    if (cell_type(value) == TYPE_BINARY) {
        node_ = value->data2;
        offset_ = value->data1 < used ? value->data1 : used;
        size_ = used - offset_;
        return;
    }
    uint32_t unit = text_unit(s);
    uint32_t head = value->data1 < used / unit ? value->data1 * unit : used;
    // Sized exactly first, in 64 bits: the UTF-8 of a long text may pass what a series can hold,
    // and the tracked heap ends the process on a refused request. Nothing here allocates from
    // the value heap, so the string stays where it is.
    uint64_t bytes = 0;
    for (const uint8_t *p = at(s->head) + head, *end = at(s->tail); p < end; p += unit)
        bytes += utf8_char_size(unit_read(p, unit));
    if (bytes >= 0x80000000u) fire(ERR_INTERNAL, err::NO_MEMORY);
    text_ = static_cast<uint8_t*>(rt_alloc(bytes ? size_t(bytes) : 1));
    size_ = string_to_utf8_into(value, text_, -1, false);
}

byte_input::~byte_input()
{
    if (text_) rt_free(text_);
}

const uint8_t* byte_input::data() const
{
    if (text_) return text_;
    return at(series_of(node_)->head) + offset_;
}
