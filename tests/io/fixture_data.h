// What the checksum and DEFLATE tests share with tools/deflate-fixtures: the row types of the
// fixtures it writes, the generator of their messages and keys, and hex decoding.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

struct digest_case {
    const char* method;
    uint32_t message_length;
    int32_t key_length;   // -1: no key
    const char* result;   // hex digits
};
struct text_digest_case {
    const char* utf8;   // hex
    const char* method;
    int32_t key_length;
    const char* result;
};
struct stream_case {
    const char* what;
    const char* framing;   // raw, zlib or gzip
    const char* stream;    // hex
    uint32_t length;       // of the data it holds
    uint32_t crc;
};
struct verdict_case {
    const char* stream;   // hex
    bool accepted;
    uint32_t length;
    uint32_t crc;
};

inline std::vector<uint8_t> from_hex(const char* hex)
{
    std::vector<uint8_t> out;
    auto digit = [](char c) { return uint8_t(c <= '9' ? c - '0' : c - 'A' + 10); };
    for (; hex[0] && hex[1]; hex += 2) out.push_back(uint8_t(digit(hex[0]) << 4 | digit(hex[1])));
    return out;
}

inline std::string to_hex(const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < n; i++) out += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return out;
}

// xorshift32, the low byte of each step (the script's xorshift_bytes).
inline std::vector<uint8_t> xorshift_bytes(uint32_t n, uint32_t seed)
{
    std::vector<uint8_t> out(n);
    uint32_t x = seed;
    for (uint8_t& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return out;
}
inline std::vector<uint8_t> message_bytes(uint32_t n) { return xorshift_bytes(n, 0x1234567); }
inline std::vector<uint8_t> key_bytes(uint32_t n) { return xorshift_bytes(n, 0xBEEF); }

}  // namespace fixture
