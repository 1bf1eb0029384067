// Integer and byte arrays over series buffers. Positions are 1-based where the name says
// "position", byte offsets where it says "offset"; every access is checked against the tail.
#include "runtime/arrays.h"

#include <cstring>
#include <vector>

#include "runtime/errors.h"

namespace {

uint32_t log2_unit(const series_buffer* s)
{
    uint32_t u = series_unit(s);
    return u == 4 ? 2 : u == 2 ? 1 : u == 8 ? 3 : u == 16 ? 4 : 0;
}

// Address of the 32-bit value at a 1-based position, or an out-of-range error.
uint32_t* int_at(node_ref node, uint32_t position)
{
    series_buffer* s = series_of(node);
    if (position < 1 || uint64_t(position) * 4 > s->tail - s->head) {
        cell arg{TYPE_INTEGER, 0, position, 0};
        fire(ERR_SCRIPT, err::OUT_OF_RANGE, &arg);
    }
    return at<uint32_t>(s->head + (position - 1) * 4);
}

}  // namespace

node_ref array_new(uint32_t count, uint32_t unit) { return series_alloc_unit(count, unit); }

uint32_t array_length(node_ref node)
{
    series_buffer* s = series_of(node);
    return (s->tail - s->head) >> log2_unit(s);
}

void array_clear(node_ref node)
{
    series_buffer* s = series_of(node);
    s->tail = s->head;
}

void array_truncate(node_ref node, uint32_t position)
{
    series_buffer* s = series_of(node);
    if (position < 1) position = 1;
    uint64_t tail = s->head + uint64_t(position - 1) * series_unit(s);
    if (tail < s->tail) s->tail = uint32_t(tail);
}

node_ref array_copy(node_ref node) { return series_copy(series_of(node)); }

uint8_t* array_head(node_ref node) { return at(series_of(node)->head); }

void bytes_append(node_ref node, uint8_t byte) { *series_alloc_tail_bytes(node, 1) = byte; }

uint8_t bytes_pick(node_ref node, uint32_t position)
{
    series_buffer* s = series_of(node);
    if (position < 1 || position > s->tail - s->head) {
        cell arg{TYPE_INTEGER, 0, position, 0};
        fire(ERR_SCRIPT, err::OUT_OF_RANGE, &arg);
    }
    return *at(s->head + position - 1);
}

void bytes_append_range(node_ref node, const uint8_t* source, uint32_t length)
{
    // The source may lie in a movable buffer: copy it out before the tail grows.
    std::vector<uint8_t> copy(source, source + length);
    std::memcpy(series_alloc_tail_bytes(node, length), copy.data(), length);
}

void int_append(node_ref node, uint32_t value) { std::memcpy(series_alloc_tail_bytes(node, 4), &value, 4); }

int32_t int_find(node_ref node, uint32_t value)
{
    series_buffer* s = series_of(node);
    for (uint32_t p = s->head; p + 4 <= s->tail; p += 4)
        if (*at<uint32_t>(p) == value) return int32_t(p - s->head);
    return -1;
}

uint32_t array_pick(node_ref node, uint32_t position) { return *int_at(node, position); }

void array_poke(node_ref node, uint32_t position, uint32_t value) { *int_at(node, position) = value; }

void int_insert(node_ref node, uint32_t value, uint32_t index)
{
    uint32_t count = array_length(node);
    if (index > count) index = count;
    series_alloc_tail_bytes(node, 4);   // may move the buffer
    series_buffer* s = series_of(node);
    uint32_t* base = at<uint32_t>(s->head);
    std::memmove(base + index + 1, base + index, (count - index) * 4);
    base[index] = value;
}

void ptr_remove(node_ref node, uint32_t ref)
{
    int32_t offset = int_find(node, ref);
    if (offset >= 0) array_remove_bytes(node, uint32_t(offset), 4);
}

void array_remove_bytes(node_ref node, uint32_t offset, uint32_t n)
{
    series_buffer* s = series_of(node);
    uint32_t used = s->tail - s->head;
    if (offset >= used) return;
    if (n > used - offset) n = used - offset;
    uint8_t* p = at(s->head);
    std::memmove(p + offset, p + offset + n, used - offset - n);
    s->tail -= n;
}
