// The DEFLATE codecs and their framings, called as the natives call them: Python's streams, zlib's
// verdicts on mutated streams, streams made bit by bit to break one rule each, the counting pass
// and short output buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "io/io_test.h"
#include "runtime/io/checksum.h"
#include "runtime/io/deflate.h"

namespace {

#include "fixtures/deflate_streams.inc"
#include "fixtures/deflate_verdicts.inc"

using bytes = std::vector<uint8_t>;

bytes of_text(const std::string& s) { return bytes(s.begin(), s.end()); }

struct codec {
    const char* name;
    codec_routine compress, uncompress;
};
const codec codecs[] = {
    {"raw", deflate::compress, deflate::uncompress},
    {"zlib", zlib::compress, zlib::uncompress},
    {"gzip", gzip::compress, gzip::uncompress},
};
const codec& codec_named(const std::string& name)
{
    for (const codec& c : codecs)
        if (name == c.name) return c;
    return codecs[0];
}

// The outcome of running a routine the way the natives do: a counting pass, then the exact size.
struct outcome {
    int32_t result;
    bytes out;
};
outcome run_sized(codec_routine routine, const bytes& in)
{
    uint64_t size = 0;
    int32_t r = routine(nullptr, &size, in.data(), in.size());
    if (r == CODEC_DONE) return {r, {}};
    if (r != CODEC_SMALL) return {r, {}};
    bytes out(size);
    uint64_t again = size;
    r = routine(out.data(), &again, in.data(), in.size());
    EXPECT_EQ(again, size);
    return {r, out};
}

std::string hex(const bytes& b) { return fixture::to_hex(b.data(), b.size()); }

// ---- streams written bit by bit ----------------------------------------------------------------------
class bit_stream {
public:
    bit_stream& bits(uint32_t value, uint32_t n)   // least significant bit first
    {
        for (uint32_t i = 0; i < n; i++, count_++) {
            if (count_ % 8 == 0) bytes_.push_back(0);
            bytes_.back() |= uint8_t(((value >> i) & 1) << (count_ % 8));
        }
        return *this;
    }
    bit_stream& code(uint32_t code, uint32_t length)   // a Huffman code: most significant bit first
    {
        for (uint32_t i = length; i-- > 0;) bits(code >> i & 1, 1);
        return *this;
    }
    bit_stream& stored(const bytes& data, bool last, uint32_t length, uint32_t complement)
    {
        bits(last, 1).bits(0, 2);
        count_ = uint32_t(bytes_.size()) * 8;
        bits(length, 16).bits(complement, 16);
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        count_ = uint32_t(bytes_.size()) * 8;
        return *this;
    }
    bit_stream& stored(const bytes& data, bool last = true)
    {
        return stored(data, last, uint32_t(data.size()), ~uint32_t(data.size()) & 0xFFFF);
    }
    const bytes& done() const { return bytes_; }

private:
    bytes bytes_;
    uint32_t count_ = 0;
};

// Fixed codes of literal/length symbols and distances.
bit_stream& fixed_symbol(bit_stream& s, uint32_t sym)
{
    if (sym < 144) return s.code(0x30 + sym, 8);
    if (sym < 256) return s.code(0x190 + sym - 144, 9);
    if (sym < 280) return s.code(sym - 256, 7);
    return s.code(0xC0 + sym - 280, 8);
}
bit_stream fixed_block(bool last = true) { return bit_stream().bits(last, 1).bits(1, 2); }

// Canonical codes of a set of lengths, as a block's header declares them.
struct canonical {
    std::vector<uint32_t> codes;
    const std::vector<uint8_t>& lengths;
    explicit canonical(const std::vector<uint8_t>& l) : codes(l.size()), lengths(l)
    {
        uint32_t next = 0;
        for (uint32_t len = 1; len <= 15; len++, next <<= 1)
            for (size_t s = 0; s < l.size(); s++)
                if (l[s] == len) codes[s] = next++;
    }
    void put(bit_stream& b, uint32_t sym) const { b.code(codes[sym], lengths[sym]); }
};

// The code-length code of the dynamic headers below: symbols 0-12 of four bits, 13-18 of five.
const std::vector<uint8_t> standard_cl = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5};
constexpr uint8_t CL_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A dynamic block's header with counts written as given and the code-length code `cl`; the
// caller writes the code lengths.
bit_stream dynamic_start(uint32_t nlit, uint32_t ndist, const std::vector<uint8_t>& cl = standard_cl)
{
    bit_stream s;
    s.bits(1, 1).bits(2, 2).bits(nlit - 257, 5).bits(ndist - 1, 5).bits(15, 4);
    for (uint8_t sym : CL_ORDER) s.bits(cl[sym], 3);
    return s;
}
// A whole dynamic header: every length written as its own code-length symbol.
bit_stream dynamic_block(const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist)
{
    bit_stream s = dynamic_start(uint32_t(lit.size()), uint32_t(dist.size()));
    canonical cl(standard_cl);
    for (uint8_t l : lit) cl.put(s, l);
    for (uint8_t l : dist) cl.put(s, l);
    return s;
}
std::vector<uint8_t> lengths_with(uint32_t n, std::initializer_list<std::pair<uint32_t, uint8_t>> set)
{
    std::vector<uint8_t> l(n, 0);
    for (auto [sym, len] : set) l[sym] = len;
    return l;
}

struct crafted {
    const char* what;
    bytes (*stream)();
    int32_t expected;
    std::string output;
};

TEST(Deflate, CraftedStreamsAreJudgedByTheFormatsRules)
{
    const crafted rows[] = {
        {"a stored block", [] { return bit_stream().stored(of_text("abc")).done(); }, CODEC_DONE, "abc"},
        {"an empty stored block before a fixed one",
         [] {
             bit_stream s;
             s.stored({}, false);
             s.bits(1, 1).bits(1, 2);
             fixed_symbol(s, 'z');
             return fixed_symbol(s, 256).done();
         },
         CODEC_DONE, "z"},
        {"a stored length whose complement is wrong",
         [] { return bit_stream().stored(of_text("abc"), true, 3, 3).done(); }, CODEC_BAD, ""},
        {"a stored block longer than the input",
         [] { return bit_stream().stored(of_text("abc"), true, 10, ~10u & 0xFFFF).done(); }, CODEC_PAST_END, ""},
        {"block type 3", [] { return bit_stream().bits(1, 1).bits(3, 2).done(); }, CODEC_BAD, ""},
        // The zero bits that pad the last byte read as the start of a stored block, which is cut.
        {"no final block",
         [] {
             bit_stream s = fixed_block(false);
             return fixed_symbol(s, 256).done();
         },
         CODEC_PAST_END, ""},
        {"a final block cut before its end",
         [] {
             bit_stream s = fixed_block();
             return fixed_symbol(s, 'a').done();
         },
         CODEC_BAD, ""},
        {"literal/length symbol 286",
         [] {
             bit_stream s = fixed_block();
             return fixed_symbol(s, 286).done();
         },
         CODEC_BAD, ""},
        {"literal/length symbol 287",
         [] {
             bit_stream s = fixed_block();
             return fixed_symbol(s, 287).done();
         },
         CODEC_BAD, ""},
        {"distance code 30",
         [] {
             bit_stream s = fixed_block();
             fixed_symbol(s, 'a');
             fixed_symbol(s, 257).code(30, 5);
             return fixed_symbol(s, 256).done();
         },
         CODEC_BAD, ""},
        {"distance code 31",
         [] {
             bit_stream s = fixed_block();
             fixed_symbol(s, 'a');
             fixed_symbol(s, 257).code(31, 5);
             return fixed_symbol(s, 256).done();
         },
         CODEC_BAD, ""},
        {"a distance before the output's start",
         [] {
             bit_stream s = fixed_block();
             fixed_symbol(s, 257).code(0, 5);
             return fixed_symbol(s, 256).done();
         },
         CODEC_BAD, ""},
        {"a distance back to the first byte",
         [] {
             bit_stream s = fixed_block();
             fixed_symbol(s, 'a');
             fixed_symbol(s, 257).code(0, 5);
             return fixed_symbol(s, 256).done();
         },
         CODEC_DONE, "aaaa"},
        {"more than 286 literal/length codes",
         [] { return dynamic_start(287, 1).bits(0, 32).done(); }, CODEC_BAD, ""},
        {"more than 30 distance codes", [] { return dynamic_start(257, 31).bits(0, 32).done(); }, CODEC_BAD, ""},
        {"a repeat of the previous length first",
         [] {
             bit_stream s = dynamic_start(257, 1);
             canonical(standard_cl).put(s, 16);
             return s.bits(0, 2).bits(0, 32).done();
         },
         CODEC_BAD, ""},
        {"repeats past the declared lengths",
         [] {
             bit_stream s = dynamic_start(257, 1);
             canonical cl(standard_cl);
             cl.put(s, 18);
             s.bits(127, 7);
             cl.put(s, 18);
             return s.bits(127, 7).bits(0, 32).done();
         },
         CODEC_BAD, ""},
        {"an incomplete code-length code",
         [] { return dynamic_start(257, 1, lengths_with(19, {{0, 2}, {8, 2}})).bits(0, 32).done(); }, CODEC_BAD, ""},
        {"an over-subscribed code-length code",
         [] { return dynamic_start(257, 1, lengths_with(19, {{0, 1}, {8, 1}, {1, 1}})).bits(0, 32).done(); },
         CODEC_BAD, ""},
        {"an over-subscribed literal/length code",
         [] { return dynamic_block(lengths_with(257, {{'a', 1}, {'b', 1}, {256, 1}}), {0}).bits(0, 16).done(); },
         CODEC_BAD, ""},
        {"an incomplete literal/length code",
         [] { return dynamic_block(lengths_with(257, {{'a', 2}, {256, 2}}), {0}).bits(0, 16).done(); }, CODEC_BAD,
         ""},
        {"no end-of-block code",
         [] { return dynamic_block(lengths_with(257, {{'a', 1}, {'b', 1}}), {0}).bits(0, 16).done(); }, CODEC_BAD,
         ""},
        {"an incomplete distance code",
         [] {
             return dynamic_block(lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}}), {2, 2}).bits(0, 16).done();
         },
         CODEC_BAD, ""},
        {"a lone one-bit literal/length code",
         [] {
             auto lit = lengths_with(257, {{256, 1}});
             bit_stream s = dynamic_block(lit, {0});
             canonical(lit).put(s, 256);
             return s.done();
         },
         CODEC_DONE, ""},
        {"the unused pattern of a lone code",
         [] { return dynamic_block(lengths_with(257, {{256, 1}}), {0}).bits(1, 1).bits(0, 16).done(); }, CODEC_BAD,
         ""},
        {"no distance codes",
         [] {
             auto lit = lengths_with(257, {{'a', 1}, {256, 1}});
             bit_stream s = dynamic_block(lit, {0});
             canonical c(lit);
             c.put(s, 'a');
             c.put(s, 'a');
             c.put(s, 256);
             return s.done();
         },
         CODEC_DONE, "aa"},
        {"a lone one-bit distance code",
         [] {
             auto lit = lengths_with(258, {{'a', 2}, {256, 2}, {257, 1}});
             bit_stream s = dynamic_block(lit, {1});
             canonical c(lit);
             c.put(s, 'a');
             c.put(s, 257);
             s.code(0, 1);
             c.put(s, 256);
             return s.done();
         },
         CODEC_DONE, "aaaa"},
        {"a distance of 32768",
         [] {
             bytes first(32768);
             for (uint32_t i = 0; i < first.size(); i++) first[i] = uint8_t(i * 7 % 251);
             bit_stream s;
             s.stored(first, false).bits(1, 1).bits(1, 2);
             fixed_symbol(s, 257).code(29, 5).bits(32768 - 24577, 13);
             return fixed_symbol(s, 256).done();
         },
         CODEC_DONE, ""},
        {"a distance of 32768 after 32767 bytes",
         [] {
             bit_stream s;
             s.stored(bytes(32767, 1), false).bits(1, 1).bits(1, 2);
             fixed_symbol(s, 257).code(29, 5).bits(32768 - 24577, 13);
             return fixed_symbol(s, 256).done();
         },
         CODEC_BAD, ""},
    };
    for (const crafted& r : rows) {
        outcome o = run_sized(deflate::uncompress, r.stream());
        EXPECT_EQ(o.result, r.expected) << r.what;
        if (!r.output.empty()) {
            EXPECT_EQ(std::string(o.out.begin(), o.out.end()), r.output) << r.what;
        }
        if (std::string(r.what) != "a distance of 32768") continue;
        // The far copy gives the first three bytes again.
        ASSERT_EQ(o.out.size(), 32771u);
        EXPECT_EQ(bytes(o.out.end() - 3, o.out.end()), bytes(o.out.begin(), o.out.begin() + 3));
    }
}

TEST(Deflate, FramingsRefuseWhatTheirHeadersAndTrailersForbid)
{
    const bytes zabc = fixture::from_hex("78014B4C4A0600024D0127");
    const bytes gabc = fixture::from_hex("1F8B08000000000004044B4C4A0600C241243503000000");
    auto with = [](bytes b, size_t at, std::initializer_list<uint8_t> values) {
        for (uint8_t v : values) b[at++] = v;
        return b;
    };
    auto zlib_head = [&](uint8_t cmf, uint8_t flags) {
        uint8_t flg = uint8_t(flags + (31 - (cmf * 256 + flags) % 31) % 31);
        return with(zabc, 0, {cmf, flg});
    };
    // A name field whose only zero bytes lie in the trailer: the search must stop before it.
    bytes name_into_trailer = fixture::from_hex("1F8B080800000000000441424344");
    name_into_trailer.insert(name_into_trailer.end(), gabc.end() - 8, gabc.end());
    struct row {
        const char* what;
        codec_routine routine;
        bytes stream;
        int32_t expected;
    };
    const row rows[] = {
        {"zlib: the framing written here", zlib::uncompress, zabc, CODEC_DONE},
        {"zlib: a header check that fails", zlib::uncompress, with(zabc, 1, {0x02}), CODEC_BAD},
        {"zlib: a method other than 8", zlib::uncompress, zlib_head(0x77, 0x00), CODEC_BAD},
        {"zlib: a window above 32 KB", zlib::uncompress, zlib_head(0x88, 0x00), CODEC_BAD},
        {"zlib: a preset dictionary", zlib::uncompress, zlib_head(0x78, 0x20), CODEC_BAD},
        {"zlib: a level in the flags", zlib::uncompress, zlib_head(0x78, 0xC0), CODEC_DONE},
        {"zlib: a wrong Adler-32", zlib::uncompress, with(zabc, 10, {0x28}), CODEC_BAD},
        {"zlib: header only", zlib::uncompress, fixture::from_hex("7801"), CODEC_BAD},
        {"zlib: nothing", zlib::uncompress, {}, CODEC_BAD},
        {"gzip: the framing written here", gzip::uncompress, gabc, CODEC_DONE},
        {"gzip: a size above the data's", gzip::uncompress, with(gabc, 19, {0x04}), CODEC_BAD},
        {"gzip: a size below the data's", gzip::uncompress, with(gabc, 19, {0x02}), CODEC_BAD},
        {"gzip: the largest size", gzip::uncompress, with(gabc, 19, {0xFF, 0xFF, 0xFF, 0xFF}), CODEC_BAD},
        {"gzip: a wrong CRC-32", gzip::uncompress, with(gabc, 15, {0x00}), CODEC_BAD},
        {"gzip: a reserved flag", gzip::uncompress, with(gabc, 3, {0x20}), CODEC_BAD},
        {"gzip: a wrong magic", gzip::uncompress, with(gabc, 1, {0x8C}), CODEC_BAD},
        {"gzip: a method other than 8", gzip::uncompress, with(gabc, 2, {7}), CODEC_BAD},
        {"gzip: extra field longer than the member", gzip::uncompress, with(gabc, 3, {0x04}), CODEC_BAD},
        {"gzip: a wrong header CRC", gzip::uncompress, with(gabc, 3, {0x02}), CODEC_BAD},
        {"gzip: a name running into the trailer", gzip::uncompress, name_into_trailer, CODEC_BAD},
        {"gzip: 17 bytes", gzip::uncompress, bytes(gabc.begin(), gabc.begin() + 17), CODEC_BAD},
    };
    for (const row& r : rows) EXPECT_EQ(run_sized(r.routine, r.stream).result, r.expected) << r.what;
}

TEST(Deflate, InflatesEveryPythonStream)
{
    for (const fixture::stream_case& c : stream_cases) {
        outcome o = run_sized(codec_named(c.framing).uncompress, fixture::from_hex(c.stream));
        ASSERT_EQ(o.result, CODEC_DONE) << c.what << " " << c.framing;
        EXPECT_EQ(o.out.size(), c.length) << c.what << " " << c.framing;
        EXPECT_EQ(crc32(o.out.data(), o.out.size()), c.crc) << c.what << " " << c.framing;
    }
}

TEST(Deflate, AgreesWithZlibOnMutatedStreams)
{
    for (const fixture::verdict_case& c : verdict_cases) {
        outcome o = run_sized(deflate::uncompress, fixture::from_hex(c.stream));
        ASSERT_EQ(o.result == CODEC_DONE, c.accepted) << c.stream << " gave " << o.result;
        if (!c.accepted) continue;
        EXPECT_EQ(o.out.size(), c.length) << c.stream;
        EXPECT_EQ(crc32(o.out.data(), o.out.size()), c.crc) << c.stream;
    }
}

TEST(Deflate, CompressorWritesTheExactStreams)
{
    struct row {
        codec_routine routine;
        const char* input;
        const char* expected;
    };
    const row rows[] = {
        {deflate::compress, "", "0300"},
        {zlib::compress, "abc", "78014B4C4A0600024D0127"},
        {gzip::compress, "abc", "1F8B08000000000004044B4C4A0600C241243503000000"},
        {deflate::compress, "abcabcabc", "4B4C4A4E042300"},   // a b c a, then length 5 distance 3
    };
    for (const row& r : rows) {
        bytes in = of_text(r.input), out(64);
        uint64_t size = out.size();
        ASSERT_EQ(r.routine(out.data(), &size, in.data(), in.size()), CODEC_DONE) << r.input;
        out.resize(size);
        EXPECT_EQ(hex(out), r.expected) << r.input;
    }
}

TEST(Deflate, EachFramingGivesBackWhatItPacked)
{
    for (const fixture::stream_case& c : stream_cases) {
        if (std::string(c.framing) != "raw") continue;
        bytes data = run_sized(deflate::uncompress, fixture::from_hex(c.stream)).out;
        for (const codec& k : codecs) {
            bytes packed(data.size() * 2 + 64);
            uint64_t size = packed.size();
            ASSERT_EQ(k.compress(packed.data(), &size, data.data(), data.size()), CODEC_DONE) << c.what;
            packed.resize(size);
            EXPECT_EQ(run_sized(k.uncompress, packed).out, data) << c.what << " " << k.name;
        }
    }
}

TEST(Deflate, ShortOutputIsCountedNotWritten)
{
    for (const fixture::stream_case& c : stream_cases) {
        if (c.length < 2) continue;
        bytes in = fixture::from_hex(c.stream);
        codec_routine routine = codec_named(c.framing).uncompress;
        bytes full = run_sized(routine, in).out;
        // One byte short: the same size is asked for, and what fits is the data's beginning.
        bytes out(c.length + 16, 0xEE);
        uint64_t size = c.length - 1;
        ASSERT_EQ(routine(out.data(), &size, in.data(), in.size()), CODEC_SMALL) << c.what << " " << c.framing;
        EXPECT_EQ(size, c.length) << c.what;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + (c.length - 1), full.begin())) << c.what;
        EXPECT_EQ(out[c.length - 1], 0xEE) << c.what;
    }
    // The compressors count the same way, and never write past the capacity.
    bytes in = of_text("abcabcabc"), out(64, 0xEE);
    for (const codec& k : codecs) {
        uint64_t whole = 64;
        bytes ref(64);
        k.compress(ref.data(), &whole, in.data(), in.size());
        uint64_t size = whole - 1;
        EXPECT_EQ(k.compress(out.data(), &size, in.data(), in.size()), CODEC_SMALL) << k.name;
        EXPECT_EQ(size, whole) << k.name;
        EXPECT_EQ(out[whole - 1], 0xEE) << k.name;
        std::fill(out.begin(), out.end(), 0xEE);
    }
}

}  // namespace
