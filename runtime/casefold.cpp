// Case folding tables: the generated pair lists (casefold_tables.inc, made by tools/gen-casefold)
// and the two direct tables built from them at start-up. Entries hold the mapped code point, or 0
// for a code point that maps to itself; tables are written once and only read afterwards.
#include "runtime/casefold.h"

#include <cstring>

#include "runtime/rterror.h"

namespace {

#include "runtime/casefold_tables.inc"

constexpr uint32_t BMP_SIZE = 0x10000;

struct casefold_state {
    uint32_t* upper_table;
    uint32_t* lower_table;
};
casefold_state casefold_s;

uint32_t* table_of(const uint16_t (*pairs)[2], uint32_t count)
{
    auto table = static_cast<uint32_t*>(rt_alloc(BMP_SIZE * sizeof(uint32_t)));
    std::memset(table, 0, BMP_SIZE * sizeof(uint32_t));
    for (uint32_t i = 0; i < count; i++) table[pairs[i][0]] = pairs[i][1];
    return table;
}

// Linear scan of a sorted key, value run; a bounds test first rejects most code points.
uint32_t astral_change(const uint32_t* run, uint32_t values, uint32_t cp)
{
    if (cp < run[0] || cp > run[values - 2]) return cp;
    for (uint32_t i = 0; i < values; i += 2) {
        if (run[i] > cp) break;
        if (run[i] == cp) return run[i + 1];
    }
    return cp;
}

}  // namespace

void casefold_init()
{
    if (casefold_s.upper_table) return;
    casefold_s.upper_table = table_of(upper_pairs, sizeof upper_pairs / sizeof upper_pairs[0]);
    casefold_s.lower_table = table_of(lower_pairs, sizeof lower_pairs / sizeof lower_pairs[0]);
}

uint32_t casefold_lookup(uint32_t cp, uint32_t upper)
{
    if (cp < BMP_SIZE) {
        uint32_t e = (upper ? casefold_s.upper_table : casefold_s.lower_table)[cp];
        return e ? e : cp;
    }
    if (upper) return astral_change(upper_pairs_astral, sizeof upper_pairs_astral / sizeof(uint32_t), cp);
    return astral_change(lower_pairs_astral, sizeof lower_pairs_astral / sizeof(uint32_t), cp);
}
