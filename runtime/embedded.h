// The Kiv sources the executable carries as text (library/, view/, console/), found by path, until
// the boot image takes their place. The table is generated at build time by
// tools/embed_sources.cmake; each source's bytes end with a NUL its length does not count.
#pragma once
#include <cstdint>

struct embedded_source {
    const char* name;   // the path from the project's root, such as "library/errors.kiv"
    const unsigned char* bytes;
    uint32_t length;
};
// Ends with a row whose name is null.
extern const embedded_source embedded_sources[];

namespace embedded {
// The source of that path, or null.
const embedded_source* find(const char* name);
}  // namespace embedded
