// What the string module's files share beyond string.h: code points read by index from the
// buffer's offset (valid until the next allocation: read again after one) and the one case fold
// that searches, set operations and sorts compare by.
#pragma once
#include <cstdint>
#include <vector>
#include "runtime/casefold.h"
#include "runtime/cell.h"
#include "runtime/datatypes/series.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace string_internal {
inline uint32_t unit_of(const cell* s) { return series_unit(series_of(series_node(s))); }
// The code point at `index` units from the buffer's offset (index below the unit count).
inline uint32_t cp_at(const cell* s, uint32_t index)
{
    series_buffer* b = series_of(series_node(s));
    uint32_t unit = series_unit(b);
    KIV_CHECK(index < (b->tail - b->head) / unit);
    return unit_read(at(b->head) + index * unit, unit);
}
inline uint32_t fold(uint32_t cp) { return char_change_case(cp, 1); }
// The code points from the head to the tail (at most `limit`).
inline std::vector<uint32_t> code_points(const cell* s, uint32_t limit = 0xFFFFFFFFu)
{
    uint32_t head = series::head_clamped(s), n = series::length_clamped(s);
    if (n > limit) n = limit;
    std::vector<uint32_t> out(n);
    for (uint32_t i = 0; i < n; i++) out[i] = cp_at(s, head + i);
    return out;
}
}  // namespace string_internal
