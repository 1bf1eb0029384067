// compress and decompress as the natives call them: results and errors, inputs that move, text of
// every unit width, the retry, /size, the bomb, and the streams written for Python to read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "io/io_test.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/compress.h"
#include "runtime/memory.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

#include "fixtures/deflate_bomb.inc"

using bytes = std::vector<uint8_t>;

using test::push_binary;
using test::push_text;
using test::push_word;
cell* push_integer(int32_t n)
{
    cell c = test::integer(n);
    return stack::push(&c);
}

bytes binary_bytes(const cell* b)
{
    EXPECT_EQ(cell_type(b), TYPE_BINARY);
    return test::binary_bytes(b);
}
std::string hex(const bytes& b) { return fixture::to_hex(b.data(), b.size()); }
bytes of_text(const std::string& s) { return bytes(s.begin(), s.end()); }

class Compress : public test::StackTest {
protected:
    bytes compress(cell* data, const char* method)
    {
        compress::native(data, push_word(method));
        return binary_bytes(data);
    }
    bytes decompress(cell* data, const char* method, cell* size = nullptr)
    {
        decompress::native(data, push_word(method), size);
        return binary_bytes(data);
    }
    bytes round_trip(cell* data, const char* method)
    {
        compress(data, method);
        return decompress(data, method);
    }
};

constexpr uint32_t INVALID_ARG = ERR_SCRIPT * 100 + err::INVALID_ARG;
constexpr uint32_t INVALID_DATA = ERR_SCRIPT * 100 + err::INVALID_DATA;

TEST_F(Compress, NativesGiveTheKnownResults)
{
    EXPECT_EQ(hex(compress(push_binary(bytes{}), "deflate")), "0300");
    EXPECT_EQ(hex(compress(push_text("abc"), "zlib")), "78014B4C4A0600024D0127");
    EXPECT_EQ(hex(compress(push_text("abc"), "GZip")), "1F8B08000000000004044B4C4A0600C241243503000000");
    EXPECT_EQ(hex(compress(push_text("abcabcabc"), "deflate")), "4B4C4A4E042300");
    EXPECT_EQ(hex(decompress(push_binary(fixture::from_hex("78014B4C4A0600024D0127")), "zlib", push_integer(0))),
              "616263");
    EXPECT_EQ(hex(decompress(push_binary(fixture::from_hex("0300")), "deflate")), "");
}

TEST_F(Compress, WrongMethodsAndBadDataRaise)
{
    const bytes gabc = fixture::from_hex("1F8B08000000000004044B4C4A0600C241243503000000");
    bytes larger = gabc, largest = gabc;
    larger[19] = 4;
    std::memset(largest.data() + 19, 0xFF, 4);
    struct row {
        const char* what;
        std::function<void()> call;
        uint32_t expected;
    };
    const row rows[] = {
        {"compress with lz4", [&] { compress(push_text("x"), "lz4"); }, INVALID_ARG},
        {"compress of a number", [&] { compress(push_integer(1), "zlib"); }, INVALID_ARG},
        {"decompress with lz4", [&] { decompress(push_binary(bytes{3, 0}), "lz4"); }, INVALID_ARG},
        {"decompress of text", [&] { decompress(push_text("abc"), "zlib"); }, INVALID_ARG},
        {"a zlib header alone", [&] { decompress(push_binary(bytes{0x78, 0x01}), "zlib"); }, INVALID_DATA},
        {"a gzip size above the data's", [&] { decompress(push_binary(larger), "gzip"); }, INVALID_DATA},
        {"the largest gzip size", [&] { decompress(push_binary(largest), "gzip"); }, INVALID_DATA},
        {"a cut raw stream", [&] { decompress(push_binary(bytes{0x4B, 0x4C}), "deflate"); }, INVALID_DATA},
    };
    for (const row& r : rows) EXPECT_EQ(raised(r.call), r.expected) << r.what;
}

TEST_F(Compress, GzipMembersAreCompressedLikeAnyInput)
{
    // The bytes of a gzip member are data like any other: compressing them makes a new member
    // that gives them back, instead of handing the input back unchanged.
    const bytes member = fixture::from_hex("1F8B08000000000004044B4C4A0600C241243503000000");
    bytes packed = compress(push_binary(member), "gzip");
    EXPECT_NE(packed, member);
    EXPECT_EQ(round_trip(push_binary(member), "gzip"), member);
}

TEST_F(Compress, InputsThatMoveAndTextOfEveryWidthRoundTrip)
{
    // Under KIV_GC_STRESS the input slides at the output's allocation: the codec must read it
    // after that allocation, from where it then lies.
    const std::string text = "moving data, moving data, moving data!";
    for (const char* method : {"zlib", "deflate", "gzip"}) {
        test::moving_bytes(text);
        EXPECT_EQ(round_trip(stack::top() - 1, method), of_text(text)) << method;
    }
    for (const std::string utf8 : {"plain and Köln", "Preis: 20 € – Σ", "Schlüssel 𝄞 und 😀"})
        for (const char* method : {"zlib", "deflate", "gzip"}) EXPECT_EQ(round_trip(push_text(utf8), method), of_text(utf8));
}

TEST_F(Compress, ARetryFollowsAShortFirstGuess)
{
    // Random bytes take nine bits a literal above 143: more than the first guess of length + 32.
    bytes random = fixture::xorshift_bytes(3000, 77);
    bytes packed = compress(push_binary(random), "deflate");
    EXPECT_GT(packed.size(), random.size() + 32);
    EXPECT_EQ(round_trip(push_binary(random), "zlib"), random);

    // /size: a guess above the input's length is tried first, then the size it reports; one below
    // the input's length, negative or ignored (gzip) means a counting pass.
    bytes zeros(5000, 0);
    cell* z = push_binary(zeros);
    bytes zpacked = compress(z, "zlib");
    for (int32_t guess : {int32_t(zpacked.size()) + 1, 5000, 9000, 0, -7})
        EXPECT_EQ(decompress(push_binary(zpacked), "zlib", push_integer(guess)), zeros) << guess;
    bytes gpacked = compress(push_binary(zeros), "gzip");
    EXPECT_EQ(decompress(push_binary(gpacked), "gzip", push_integer(100)), zeros);
}

TEST_F(Compress, BombIsRefusedBeforeAnythingLargeIsAllocated)
{
    bytes inner = decompress(push_binary(fixture::from_hex(bomb_stream)), "zlib");
    ASSERT_EQ(inner.size(), BOMB_INNER_LENGTH);
    cell* data = push_binary(inner);
    uint32_t before = memory_s.total;
    EXPECT_EQ(raised([&] { decompress(data, "zlib"); }), INVALID_DATA);
    EXPECT_LT(memory_s.total - before, 4u << 20);
}

// Not a check of its own: with KIV_DEFLATE_EXPORT naming a folder, writes data sets and their
// three compressed forms there for tests/io/deflate_python.sh, which has python3 read them back.
TEST_F(Compress, WritesStreamsForPythonToRead)
{
    const char* folder = std::getenv("KIV_DEFLATE_EXPORT");
    if (!folder) GTEST_SKIP() << "KIV_DEFLATE_EXPORT not set";
    bytes mixed;
    for (int i = 0; i < 40; i++) {
        bytes r = fixture::xorshift_bytes(1000 + 37 * i, uint32_t(i + 1));
        mixed.insert(mixed.end(), r.begin(), r.end());
        for (int k = 0; k < 20; k++) mixed.insert(mixed.end(), r.begin(), r.begin() + 100 + i);
        mixed.insert(mixed.end(), 300 * i, 0);
    }
    bytes far = fixture::xorshift_bytes(300, 9);
    far.resize(32767, 'x');
    far.insert(far.end(), far.begin(), far.begin() + 300);
    const std::pair<const char*, bytes> sets[] = {
        {"empty", {}},
        {"one", of_text("a")},
        {"two", of_text("ab")},
        {"abc", of_text("abcabcabc")},
        {"runs", bytes(70000, 'r')},
        {"text", of_text("Grüße aus Köln! 20 € — " + std::string(2000, '.') + " the end, the end, the end")},
        {"random", fixture::xorshift_bytes(5000, 3)},
        {"mixed", mixed},
        {"far", far},
    };
    for (const auto& [name, data] : sets) {
        std::string base = std::string(folder) + "/" + name;
        auto write = [](const std::string& path, const bytes& b) {
            FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr) << path;
            if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f);
            std::fclose(f);
        };
        write(base + ".data", data);
        for (const char* method : {"zlib", "deflate", "gzip"}) write(base + "." + method, compress(push_binary(data), method));
    }
}

}  // namespace
