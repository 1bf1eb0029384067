// The LZ codec of packed data: a bit-stream LZ77 whose record is a packed byte count P and an
// unpacked size U (32-bit little-endian each), then blocks of at most 1 MB, each a 32-bit output
// length and a bit stream ending at a byte boundary. KIVBIN bodies with their packed flag use it.
// Must not break: the decoder reads only the bytes it is handed, never writes past the declared
// size, allocates no more than the packed bytes can produce, and accepts a record only when it
// yields exactly U bytes.
#pragma once
#include <cstdint>
#include <vector>

namespace lz {

constexpr uint32_t BLOCK_MAX = 0x100000;   // output bytes of one block
constexpr uint32_t WINDOW = 0x40000;       // farthest back a match reaches

// The packed record of `length` bytes at `in` (a non-empty input always gives at least one block).
std::vector<uint8_t> compress(const uint8_t* in, uint64_t length);

// Unpacks the record held in the `length` bytes at `in` into `out`; false (out emptied) for a
// record that is cut short, inconsistent or yields other than its declared size.
bool decompress(const uint8_t* in, uint64_t length, std::vector<uint8_t>* out);

}  // namespace lz
