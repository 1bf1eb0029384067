// KIVBIN: the binary form of values. An 8-byte header ("KIVBIN", a version byte, a flags byte:
// bit 0 compact records, bit 1 LZ-packed body, bit 2 symbol table), then the body: a preamble, the
// symbol names, and the records. The compact encoder writes one value with everything reachable
// from it; series and contexts met twice are written once and referred to by a path of indices.
// The decoder appends the top-level records to an output block. The boot image is KIVBIN too.
// Must not break: every count, size, index, unit and depth read from the data is checked against
// what remains of it before anything is allocated or written; any violation is
// script/kb-invalid-record with the 1-based offset of the fault.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

struct kivbin_state {
    uint32_t codec_q;   // set by encoding runs and codec decodes, clear for the boot image
    cell* callables;    // a fixed root block: the native! and action! values the boot bound
};
extern kivbin_state kivbin_s;

namespace kivbin {

constexpr uint8_t FLAG_COMPACT = 1, FLAG_PACKED = 2, FLAG_SYMBOLS = 4;
constexpr uint32_t DEPTH_MAX = 1000;    // nested records, containers and owners
constexpr uint32_t PATH_STEPS = 65536;    // steps of a reference path

constexpr uint32_t CALLABLES = 240;   // room for every native and action slot

enum mode : uint32_t { MODE_BOOT = 0, MODE_CODEC = 1 };

// Start-up, while booting: the block of registered callables.
void init();
// After the boot: each native! and action! of a global word, first of its slot, becomes the value
// that decoding a record of that slot gives (records carry a slot, never a trusted spec).
void register_callables();

// The compact KIVBIN of one value (flags 1, or 5 with symbols). A routine!, triple!, handle!,
// port! or event! anywhere in it raises access/no-codec with the value.
std::vector<uint8_t> encode_cp(const cell* value);
// The same in the fixed form: every field a 32-bit little-endian word (flags 0, or 4 with symbols).
std::vector<uint8_t> encode(const cell* value);

// Decodes `length` bytes into the block `output` (which must not lie in a movable buffer):
// script/invalid-data for a wrong magic or a packed body that does not unpack, kb-invalid-record
// and no-codec from the records. Returns the number of top-level values appended.
uint32_t decode(const uint8_t* data, uint64_t length, cell* output, mode m);

// Start-up: decodes the embedded image into the root block with the collector held off. A bad
// image prints its reason and ends the process with a fatal runtime error (never status 0).
void boot_load(const uint8_t* image, uint64_t length);

// The boot image's first top-level value, in the root block; null until boot_load ran.
cell* boot_cell(uint32_t n);
// The node of root n's context (word 1 of the cell).
node_ref boot_cell_node(uint32_t n);

}  // namespace kivbin
