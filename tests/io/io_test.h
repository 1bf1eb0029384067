// What the checksum and DEFLATE tests share: the row types of the fixtures that
// tools/deflate-fixtures writes, the generator of their messages and keys, hex, and the binaries,
// texts and words the natives take, pushed on the argument stack.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/memory.h"

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

namespace test {

inline cell* push_binary(const std::vector<uint8_t>& bytes, uint32_t index = 0)
{
    node_ref node = bytes_alloc(uint32_t(bytes.size()));
    series_buffer* s = series_of(node);
    if (!bytes.empty()) std::memcpy(at(s->head), bytes.data(), bytes.size());
    s->tail = s->head + uint32_t(bytes.size());
    cell binary{TYPE_BINARY, index, node, 0};
    return stack::push(&binary);
}
inline cell* push_binary(const std::string& bytes, uint32_t index = 0)
{
    return push_binary(std::vector<uint8_t>(bytes.begin(), bytes.end()), index);
}
inline cell* push_text(const std::string& utf8)
{
    return string::load(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), 0);
}
inline cell* push_word(const char* name) { return stack::push(word::load(name)); }

// The bytes of a binary! from its index.
inline std::vector<uint8_t> binary_bytes(const cell* b)
{
    series_buffer* s = series_of(b->data2);
    return std::vector<uint8_t>(at(s->head) + b->data1, at(s->tail));
}
inline std::string binary_hex(const cell* b)
{
    std::vector<uint8_t> v = binary_bytes(b);
    return fixture::to_hex(v.data(), v.size());
}

}  // namespace test
