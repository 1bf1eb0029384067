// The boot: the last step of start-up, after the collector is on. The datatype words get their
// datatype! values, then every Kiv source of the library (the typesets, the actions, the natives,
// the operators, the routine words, the functions, the system object) is taken from the boot image
// and evaluated in a fixed order, its numbering checked against the runtime's tables, and the
// command line split into the system object. The error catalogue, the first source, is read while
// the runtime starts.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace runtime {
// The sources of the language, in the order the boot image holds them and the boot evaluates them.
constexpr uint32_t BOOT_SOURCES = 40;
extern const char* const boot_sources[BOOT_SOURCES];

// Pushes the values of source n as a block. The default reads the boot image's top-level block
// of source blocks; the first stage, which makes the image, installs one that loads the text.
extern cell* (*source_hook)(uint32_t n);
// Whether the sources come from the boot image (false in the first stage).
bool image_sources_q();

// Raises what the boot sources raise; a numbering that disagrees with the runtime's tables is a
// fatal runtime error.
void boot();
}  // namespace runtime
