// String storage: the units of a string from its head index to its tail.
#include "runtime/datatypes/string.h"

#include "runtime/unicode.h"

cell* string::make_at(cell* slot, uint32_t size, uint32_t unit)
{
    node_ref node = series_alloc_unit(size, unit);
    slot->header = TYPE_STRING;
    slot->data1 = 0;
    slot->data2 = node;
    slot->data3 = 0;
    return slot;
}

cell* string::concatenate_literal(cell* buffer, const char* text)
{
    node_ref node = buffer->data2;
    uint32_t unit = series_unit(series_of(node));
    uint32_t n = 0;
    while (text[n]) n++;
    uint8_t* p = series_alloc_tail_bytes(node, n * unit);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t cp = uint8_t(text[i]);
        if (unit == 1) p[i] = uint8_t(cp);
        else if (unit == 2) { p[2 * i] = uint8_t(cp); p[2 * i + 1] = 0; }
        else { p[4 * i] = uint8_t(cp); p[4 * i + 1] = p[4 * i + 2] = p[4 * i + 3] = 0; }
    }
    return buffer;
}

std::string string::to_utf8(const cell* str)
{
    series_buffer* s = series_of(str->data2);
    uint32_t unit = series_unit(s);
    std::string out;
    for (uint32_t p = s->head + str->data1 * unit; p < s->tail; p += unit) {
        uint32_t cp = unit == 1 ? *at<uint8_t>(p) : unit == 2 ? *at<uint16_t>(p) : *at<uint32_t>(p);
        uint8_t bytes[4];
        out.append(reinterpret_cast<char*>(bytes), utf8_encode_char(cp, bytes));
    }
    return out;
}
