// UTF-8 and UTF-16 conversion.
#include "runtime/unicode.h"

uint32_t utf8_encode_char(uint32_t cp, uint8_t* out)
{
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = uint8_t(0xF0 | (cp >> 18));
    out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}
