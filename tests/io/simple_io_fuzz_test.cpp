// Random file text (line ends, byte-order marks, cut and invalid UTF-8) through the text and lines
// decoders, and random environment blocks through the splitter, each ending at a page that may not
// be touched. A decoder either raises access/invalid-utf8 or keeps every byte.
#include <string>
#include <vector>

#include "io/io_test.h"
#include "runtime/datatypes/block.h"
#include "runtime/io/os_info.h"
#include "runtime/io/simple_io.h"
#include "support/fixtures.h"
#include "support/guarded.h"

namespace {

constexpr uint32_t ROUNDS = 600;
constexpr uint32_t INVALID_UTF8 = ERR_ACCESS * 100 + err::INVALID_UTF8;

uint32_t next(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

std::vector<uint8_t> random_text(uint32_t& x)
{
    static const uint8_t alphabet[] = {'a', 'b', 13, 10, 0xC3, 0xA9, 0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x80, 0xFF, 0};
    std::vector<uint8_t> out(next(x) % 40);
    for (uint8_t& b : out) b = alphabet[next(x) % sizeof alphabet];
    if (next(x) % 4 == 0) out.insert(out.begin(), {0xEF, 0xBB, 0xBF});
    return out;
}

// What the text decoder keeps: the mark dropped, each CR LF pair folded.
std::string folded(const std::vector<uint8_t>& in)
{
    size_t i = in.size() >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF ? 3 : 0;
    std::string out;
    for (; i < in.size(); i++)
        if (!(in[i] == 13 && i + 1 < in.size() && in[i + 1] == 10)) out += char(in[i]);
    return out;
}

class SimpleIoFuzz : public test::StackTest {};

TEST_F(SimpleIoFuzz, TextAndLinesKeepEveryByteOrRaise)
{
    test::guarded_region page(4096);
    ASSERT_TRUE(page.ready());
    uint32_t x = 0x51A7E;
    cell* source = test::push_text("f");
    source->header = TYPE_FILE;
    for (uint32_t round = 0; round < ROUNDS; round++) {
        std::vector<uint8_t> bytes = random_text(x);
        std::string expected = folded(bytes);
        cell* slot = stack::push_slot();
        uint8_t* text = const_cast<uint8_t*>(page.place(bytes));
        uint32_t code = raised([&] { simple_io::text_to_string(slot, text, uint32_t(bytes.size()), source); });
        if (code) {
            EXPECT_EQ(code, INVALID_UTF8) << round;
        } else {
            EXPECT_EQ(string::utf8_copy(slot), expected) << round;
        }
        text = const_cast<uint8_t*>(page.place(bytes));
        uint32_t lines_code = raised([&] { simple_io::lines_to_block(slot, text, uint32_t(bytes.size()), source); });
        EXPECT_EQ(lines_code, code) << round;
        if (!lines_code) {
            std::string joined;
            for (uint32_t i = 0; i < block::rs_length(slot); i++)
                joined += string::utf8_copy(block::rs_head(slot) + i) + "\n";
            if (!expected.empty() && expected.back() != '\n' && !joined.empty()) joined.pop_back();
            EXPECT_EQ(joined, expected) << round;
        }
        stack::pop(1);
    }
}

TEST(OsInfoFuzz, EnvironmentBlocksSplitWithinTheirEnd)
{
    test::guarded_region page(4096);
    ASSERT_TRUE(page.ready());
    uint32_t x = 0xE4B;
    static const wchar_t alphabet[] = {L'=', L'A', L'b', L':', L'\\', 0xE9, 0};
    for (uint32_t round = 0; round < ROUNDS; round++) {
        std::vector<wchar_t> block(next(x) % 30);
        for (wchar_t& c : block) c = alphabet[next(x) % (sizeof alphabet / sizeof alphabet[0])];
        block.push_back(0);
        block.push_back(0);
        size_t entries = 0;
        for (size_t i = 0; i < block.size() && block[i]; i += std::wstring(&block[i]).size() + 1) entries++;
        std::vector<uint8_t> raw(reinterpret_cast<uint8_t*>(block.data()),
                                 reinterpret_cast<uint8_t*>(block.data() + block.size()));
        auto pairs = platform::split_env(reinterpret_cast<const wchar_t*>(page.place(raw)));
        ASSERT_EQ(pairs.size(), entries) << round;
        for (const auto& [name, value] : pairs) EXPECT_FALSE(name.empty()) << round;
    }
}

}  // namespace
