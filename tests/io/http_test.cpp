// The response header parser: names and values split at ": ", lines without one skipped, repeated
// names gathered, nothing read past the text's length (every case ends at a page that may not be
// touched).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/io/http.h"
#include "support/guarded.h"

namespace {

struct header_case {
    const char* text;
    // Expected as "name=value|value;name=value".
    const char* parsed;
};

const header_case header_cases[] = {
    {"A: 1\r\njunk\r\nB: 2", "A=1;B=2"},   // a line without ": " skipped; no final CR LF
    {"HTTP/1.0 200 OK\r\nX-Dup: 1\r\nX-Dup: 2\r\n\r\n", "X-Dup=1|2"},
    {"x-dup: 1\r\nX-DUP: 2\r\nOther: 3", "x-dup=1|2;Other=3"},   // names gathered ignoring case
    {"A:1\r\n: v\r\nB: \r\n", "B="},   // no space after the colon, an empty name, an empty value
    {"A: b: c\r\n", "A=b: c"},          // the first ": " splits
    {"A: x\ry\r\nB: 2\n", "A=x;B=2"},   // the value ends at a CR; a bare LF ends a line
    {"A: 1\r", "A=1"},
    {"A:", ""},
    {"A: ", "A="},
    {"", ""},
};

std::string render(const std::vector<simple_io::http_header>& headers)
{
    std::string out;
    for (const auto& h : headers) {
        if (!out.empty()) out += ';';
        out += h.name + "=";
        for (size_t i = 0; i < h.values.size(); i++) out += (i ? "|" : "") + h.values[i];
    }
    return out;
}

TEST(HttpHeaders, ParsesWithinTheTextsLength)
{
    test::guarded_region page(4096);
    ASSERT_TRUE(page.ready());
    for (const header_case& c : header_cases) {
        std::string text = c.text;
        const uint8_t* placed = page.place(std::vector<uint8_t>(text.begin(), text.end()));
        EXPECT_EQ(render(simple_io::parse_http_headers(placed, text.size())), c.parsed) << c.text;
    }
}

uint32_t next(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

TEST(HttpHeadersFuzz, RandomTextStaysWithinItsEnd)
{
    test::guarded_region page(4096);
    ASSERT_TRUE(page.ready());
    static const uint8_t alphabet[] = {'A', 'b', ':', ' ', '\r', '\n', 0xC3, 0xA9, 0};
    uint32_t x = 0x4EAD;
    for (uint32_t round = 0; round < 2000; round++) {
        std::vector<uint8_t> bytes(next(x) % 48);
        for (uint8_t& b : bytes) b = alphabet[next(x) % sizeof alphabet];
        size_t lines = 1;
        for (uint8_t b : bytes) lines += b == '\n';
        auto parsed = simple_io::parse_http_headers(page.place(bytes), bytes.size());
        size_t values = 0;
        for (const auto& h : parsed) {
            EXPECT_FALSE(h.name.empty()) << round;
            EXPECT_EQ(h.name.find_first_of("\r\n"), std::string::npos) << round;
            for (const std::string& v : h.values) EXPECT_EQ(v.find_first_of("\r\n"), std::string::npos) << round;
            values += h.values.size();
        }
        EXPECT_LE(values, lines) << round;
    }
}

}  // namespace
