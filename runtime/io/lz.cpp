// The LZ codec: greedy matching over two hash tables on the way in, one bounded pass on the way out.
#include "runtime/io/lz.h"

#include <cstring>

namespace {

uint32_t read_u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void put_u32(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) out[at + i] = uint8_t(v >> (8 * i));
}

// Bits are taken from each byte least significant first; a field's first bit is its bit 0.
struct bit_reader {
    const uint8_t* p;
    const uint8_t* end;
    uint32_t acc = 0;
    uint32_t count = 0;
    bool short_read = false;

    uint32_t get(uint32_t n)
    {
        while (count < n) {
            if (p == end) {
                short_read = true;
                return 0;
            }
            acc |= uint32_t(*p++) << count;
            count += 8;
        }
        uint32_t v = acc & ((1u << n) - 1);
        acc >>= n;
        count -= n;
        return v;
    }
    void to_byte() { acc = count = 0; }   // the rest of the current byte is padding
};

struct bit_writer {
    std::vector<uint8_t>& out;
    uint32_t acc = 0;
    uint32_t count = 0;

    void put(uint32_t n, uint32_t v)
    {
        acc |= (v & ((1u << n) - 1)) << count;
        count += n;
        while (count >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            count -= 8;
        }
    }
    void flush()
    {
        if (count) out.push_back(uint8_t(acc));
        acc = count = 0;
    }
};

// The match length code of n = length - 3 (0..563): unary class, then the value in the class.
void put_length(bit_writer& w, uint32_t n)
{
    struct band { uint32_t first, zeros, bits; };
    static const band bands[] = {{0, 0, 2}, {4, 1, 2}, {8, 2, 2}, {12, 3, 3}, {20, 4, 5}};
    for (const band& b : bands) {
        if (n < b.first + (1u << b.bits)) {
            w.put(b.zeros + 1, 1u << b.zeros);   // the zeros, then a 1
            w.put(b.bits, n - b.first);
            return;
        }
    }
    w.put(5, 0);
    w.put(9, n - 52);
}

// The distance d = back - 1 (0..0x3FFFF): a 4-bit class k, then j = k + 2 bits.
void put_distance(bit_writer& w, uint32_t d)
{
    if (d < 8) {
        w.put(4, 0);
        w.put(3, d);
        return;
    }
    uint32_t j = 31 - uint32_t(__builtin_clz(d));
    w.put(4, j - 2);
    w.put(j, d - (1u << j));
}

constexpr uint32_t MATCH_MIN = 3;
constexpr uint32_t MATCH_MAX = 566;
constexpr uint32_t CHAIN_MAX = 256;
constexpr uint32_t HASH3_SIZE = 0x80000;
constexpr uint32_t HASH4_SIZE = 0x100000;

uint32_t hash3(const uint8_t* p) { return ((uint32_t(p[0]) << 14) + (uint32_t(p[1]) << 7) + p[2]) & (HASH3_SIZE - 1); }
uint32_t hash4(const uint8_t* p)
{
    return ((uint32_t(p[0]) << 15) + (uint32_t(p[1]) << 10) + (uint32_t(p[2]) << 5) + p[3]) & (HASH4_SIZE - 1);
}

struct match_tables {
    std::vector<int32_t> last3 = std::vector<int32_t>(HASH3_SIZE);
    std::vector<int32_t> last4 = std::vector<int32_t>(HASH4_SIZE);
    std::vector<int32_t> chain = std::vector<int32_t>(lz::BLOCK_MAX);

    void reset()
    {
        std::fill(last3.begin(), last3.end(), -1);
        std::fill(last4.begin(), last4.end(), -1);
    }
    void enter(const uint8_t* block, uint32_t i, uint32_t length)
    {
        if (i + 3 <= length) last3[hash3(block + i)] = int32_t(i);
        if (i + 4 <= length) {
            uint32_t h = hash4(block + i);
            chain[i] = last4[h];
            last4[h] = int32_t(i);
        }
    }
};

uint32_t match_length(const uint8_t* block, uint32_t from, uint32_t i, uint32_t limit)
{
    uint32_t n = 0;
    while (n < limit && block[from + n] == block[i + n]) n++;
    return n;
}

void compress_block(const uint8_t* block, uint32_t length, match_tables& t, bit_writer& w)
{
    t.reset();
    uint32_t i = 0;
    while (i < length) {
        uint32_t best = 0, best_from = 0;
        uint32_t limit = length - i < MATCH_MAX ? length - i : MATCH_MAX;
        if (limit >= MATCH_MIN) {
            auto consider = [&](int32_t from) {
                if (from < 0 || i - uint32_t(from) > lz::WINDOW) return false;
                uint32_t n = match_length(block, uint32_t(from), i, limit);
                if (n > best) best = n, best_from = uint32_t(from);
                return true;
            };
            consider(t.last3[hash3(block + i)]);
            if (limit >= 4) {
                int32_t from = t.last4[hash4(block + i)];
                for (uint32_t steps = 0; steps < CHAIN_MAX && best < limit && consider(from); steps++)
                    from = t.chain[uint32_t(from)];
            }
        }
        if (best >= MATCH_MIN) {
            w.put(1, 1);
            put_length(w, best - MATCH_MIN);
            put_distance(w, i - best_from - 1);
            for (uint32_t k = 0; k < best; k++) t.enter(block, i + k, length);
            i += best;
        } else {
            w.put(1, 0);
            w.put(8, block[i]);
            t.enter(block, i, length);
            i++;
        }
    }
    w.flush();
}

uint32_t get_length(bit_reader& r)
{
    if (r.get(1)) return r.get(2);
    if (r.get(1)) return 4 + r.get(2);
    if (r.get(1)) return 8 + r.get(2);
    if (r.get(1)) return 12 + r.get(3);
    if (r.get(1)) return 20 + r.get(5);
    return 52 + r.get(9);
}

// One block of `length` output bytes appended at out[start]; false when the stream runs out,
// refers before the block or runs past its length.
bool decompress_block(bit_reader& r, uint8_t* block, uint32_t length)
{
    uint32_t i = 0;
    while (i < length) {
        if (!r.get(1)) {
            block[i++] = uint8_t(r.get(8));
        } else {
            uint32_t n = get_length(r) + MATCH_MIN;
            uint32_t j = r.get(4) + 2;
            uint32_t d = j > 2 ? (1u << j) + r.get(j) : r.get(3);
            if (r.short_read || d + 1 > i || n > length - i) return false;
            uint32_t from = i - d - 1;
            for (uint32_t k = 0; k < n; k++) block[i + k] = block[from + k];   // may overlap its output
            i += n;
        }
        if (r.short_read) return false;
    }
    r.to_byte();
    return true;
}

// A match of 566 bytes takes 22 bits: no stream yields more than 206 bytes per byte read.
constexpr uint64_t MOST_PER_BYTE = 206;

}  // namespace

std::vector<uint8_t> lz::compress(const uint8_t* in, uint64_t length)
{
    std::vector<uint8_t> out(8);
    if (length) {
        match_tables tables;
        for (uint64_t at = 0; at < length; at += BLOCK_MAX) {
            uint32_t n = uint32_t(length - at < BLOCK_MAX ? length - at : BLOCK_MAX);
            size_t header = out.size();
            out.resize(header + 4);
            put_u32(out, header, n);
            bit_writer w{out};
            compress_block(in + at, n, tables, w);
        }
    }
    put_u32(out, 0, uint32_t(out.size() - 8));
    put_u32(out, 4, uint32_t(length));
    return out;
}

bool lz::decompress(const uint8_t* in, uint64_t length, std::vector<uint8_t>* out)
{
    out->clear();
    if (length < 8) return false;
    uint64_t packed = read_u32(in), size = read_u32(in + 4);
    if (packed > length - 8 || size > packed * MOST_PER_BYTE) return false;
    out->resize(size_t(size));
    bit_reader r{in + 8, in + 8 + packed};
    uint64_t made = 0;
    bool sound = true;
    while (sound && r.p < r.end) {
        if (r.end - r.p < 4) return out->clear(), false;
        uint32_t n = read_u32(r.p);
        r.p += 4;
        sound = n != 0 && n <= BLOCK_MAX && n <= size - made && decompress_block(r, out->data() + made, n);
        made += n;
    }
    if (!sound || made != size) {
        out->clear();
        return false;
    }
    return true;
}
