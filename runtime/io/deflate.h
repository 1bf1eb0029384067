// DEFLATE (RFC 1951) with zlib (RFC 1950) and gzip (RFC 1952) framing over caller-given buffers.
// Must not break: no routine allocates, reads outside [in, in + length) or writes outside
// [out, out + capacity); every length found in the data is checked against what is left first.
#pragma once
#include <cstdint>

// What every codec routine returns. CODEC_SMALL stores the size the whole output needs.
enum codec_result : int32_t { CODEC_DONE = 0, CODEC_SMALL = 1, CODEC_BAD = 2, CODEC_PAST_END = 3 };

// The largest output the routines produce: the data of the largest series. An input that would
// inflate past it is refused as bad data, so a bomb is never counted to its end nor allocated.
constexpr uint64_t CODEC_OUTPUT_MAX = 0x7FFFFFF0u;

// Every routine takes (out, size, in, length): *size holds the output capacity on entry and the
// output length, or the length needed, on return. out null with capacity 0 only counts.
using codec_routine = int32_t (*)(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length);

namespace deflate {
// One final block of the fixed codes, greedy matches from a 1024 x 4 table of earlier positions.
int32_t compress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length);
// Stored, fixed and dynamic blocks up to the end of the final block; what follows it is not read.
int32_t uncompress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length);
}  // namespace deflate

namespace zlib {
int32_t compress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length);
int32_t uncompress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length);
}  // namespace zlib

namespace gzip {
int32_t compress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length);
// One member; its size is found by inflating and must equal the trailer's ISIZE exactly.
int32_t uncompress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length);
}  // namespace gzip
