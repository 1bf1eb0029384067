// UTF-8 and UTF-16 conversion and string unit widening.
#pragma once
#include <cstdint>

// Encodes one code point as UTF-8 into out (room for 4 bytes); returns the byte count.
uint32_t utf8_encode_char(uint32_t cp, uint8_t* out);
