// DEFLATE: the greedy fixed-code compressor, the inflater of all three block types, and the zlib
// and gzip framings. Output past the capacity is counted, never written, so one pass with no
// buffer sizes the output. Mended: the inflater refuses everything RFC 1951 forbids (block type
// 3, a stored length whose complement is wrong, over-subscribed or incomplete codes, symbols and
// distances outside the alphabet or before the output's start, a stream that ends early), output
// sizes count in 64 bits and stop at the largest series, gzip's size comes from inflating rather
// than from the trailer, and gzip compression always makes a member.
#include "runtime/io/deflate.h"

#include <cstring>
#include <initializer_list>

#include "runtime/io/checksum.h"

namespace {

// ---- alphabets (RFC 1951, 3.2.5) ------------------------------------------------------------------
constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t END_OF_BLOCK = 256;
constexpr uint32_t MAX_MATCH = 258;
constexpr uint32_t MAX_DISTANCE = 32767;   // the compressor's reach; the inflater takes 32768

constexpr uint32_t reverse_bits(uint32_t code, uint32_t n)
{
    uint32_t r = 0;
    for (uint32_t i = 0; i < n; i++, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

// The fixed literal/length code of a symbol (RFC 1951, 3.2.6), most significant bit first.
struct fixed_code {
    uint32_t code, length;
};
constexpr fixed_code fixed_literal(uint32_t sym)
{
    if (sym < 144) return {0x30 + sym, 8};
    if (sym < 256) return {0x190 + sym - 144, 9};
    if (sym < 280) return {sym - 256, 7};
    return {0xC0 + sym - 280, 8};
}

// ---- compressor tables: every token's bits, codes reversed and extra bits in place ----------------
struct token_bits {
    uint32_t bits;
    uint32_t count;
};
struct compressor_tables {
    token_bits literal[256];
    token_bits length[MAX_MATCH + 1];
    uint8_t distance_symbol[512];   // of distance - 1 below 256, else of 256 + ((distance - 1) >> 7)
};

constexpr compressor_tables make_compressor_tables()
{
    compressor_tables t{};
    for (uint32_t b = 0; b < 256; b++) {
        fixed_code f = fixed_literal(b);
        t.literal[b] = {reverse_bits(f.code, f.length), f.length};
    }
    for (uint32_t sym = 0; sym < 29; sym++) {
        uint32_t last = sym == 28 ? 258 : LENGTH_BASE[sym] + (1u << LENGTH_EXTRA[sym]) - 1;
        if (sym == 27) last = 257;   // 258 has a code of its own
        fixed_code f = fixed_literal(257 + sym);
        for (uint32_t len = LENGTH_BASE[sym]; len <= last; len++)
            t.length[len] = {reverse_bits(f.code, f.length) | (len - LENGTH_BASE[sym]) << f.length,
                             f.length + LENGTH_EXTRA[sym]};
    }
    for (uint32_t sym = 0; sym < 30; sym++) {
        uint32_t first = DIST_BASE[sym] - 1, last = first + (1u << DIST_EXTRA[sym]) - 1;
        for (uint32_t d = first; d <= last; d++) {
            if (d < 256) t.distance_symbol[d] = uint8_t(sym);
            else t.distance_symbol[256 + (d >> 7)] = uint8_t(sym);
        }
    }
    return t;
}
constexpr compressor_tables ctab = make_compressor_tables();

token_bits distance_bits(uint32_t distance)
{
    uint32_t d = distance - 1;
    uint32_t sym = d < 256 ? ctab.distance_symbol[d] : ctab.distance_symbol[256 + (d >> 7)];
    return {reverse_bits(sym, 5) | (distance - DIST_BASE[sym]) << 5, 5u + DIST_EXTRA[sym]};
}

// Bits leave from the low end, 32 at a time; bytes past the capacity are counted, not written.
struct bit_writer {
    uint8_t* out;
    uint64_t capacity;
    uint64_t pos;
    uint64_t bits;
    uint32_t count;

    void put(token_bits t)
    {
        bits |= uint64_t(t.bits) << count;
        count += t.count;
        if (count >= 32) flush32();
    }
    void flush32()
    {
        uint32_t word = uint32_t(bits);
        if (pos + 4 <= capacity) std::memcpy(out + pos, &word, 4);
        else
            for (uint32_t i = 0; i < 4; i++)
                if (pos + i < capacity) out[pos + i] = uint8_t(word >> (8 * i));
        pos += 4;
        bits >>= 32;
        count -= 32;
    }
    void finish()   // the last byte padded with zero bits
    {
        for (; count > 0; count = count > 8 ? count - 8 : 0, bits >>= 8) {
            if (pos < capacity) out[pos] = uint8_t(bits);
            pos++;
        }
    }
};

inline uint32_t three_bytes(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

inline uint32_t bucket_of(const uint8_t* p)
{
    uint32_t x = three_bytes(p);
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x & 0x3FF;
}

// Bytes equal at a and b from `length` on, up to `limit`; both ranges lie inside the input.
inline uint32_t extend_match(const uint8_t* a, const uint8_t* b, uint32_t length, uint32_t limit)
{
    while (length + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + length, 8);
        std::memcpy(&y, b + length, 8);
        if (uint64_t diff = x ^ y) return length + uint32_t(__builtin_ctzll(diff) >> 3);
        length += 8;
    }
    while (length < limit && a[length] == b[length]) length++;
    return length;
}

// ---- inflater -----------------------------------------------------------------------------------------
constexpr uint32_t FAST_BITS = 10;
constexpr uint32_t FAST_MASK = (1u << FAST_BITS) - 1;
constexpr uint32_t MAX_CODE_BITS = 15;

// A canonical code: the fast table answers codes of up to FAST_BITS bits in one look (symbol << 4
// | length, 0 for a longer or unused pattern); the counts and sorted symbols decode the rest.
struct huffman {
    uint16_t fast[1u << FAST_BITS];
    uint16_t count[MAX_CODE_BITS + 1];
    uint16_t symbol[288];
};

enum code_kind { CODE_LENGTHS, LITERALS, DISTANCES };

// False for a set of lengths that over-subscribes the code space or leaves part of it unused. An
// unused part is allowed only in the two alphabets of the data when there is at most one code, of
// one bit: the one-symbol (or empty) alphabet has no complete code. Patterns left unused decode
// as errors.
constexpr bool build_code(huffman& h, const uint8_t* lengths, uint32_t n, code_kind kind)
{
    for (uint16_t& c : h.count) c = 0;
    for (uint32_t i = 0; i < n; i++) h.count[lengths[i]]++;
    h.count[0] = 0;
    int32_t left = 1;
    uint32_t longest = 0;
    for (uint32_t len = 1; len <= MAX_CODE_BITS; len++) {
        left = 2 * left - h.count[len];
        if (left < 0) return false;
        if (h.count[len]) longest = len;
    }
    if (left > 0 && (kind == CODE_LENGTHS || longest > 1)) return false;
    uint16_t offset[MAX_CODE_BITS + 2] = {};
    for (uint32_t len = 1; len <= MAX_CODE_BITS; len++) offset[len + 1] = uint16_t(offset[len] + h.count[len]);
    for (uint32_t sym = 0; sym < n; sym++)
        if (lengths[sym]) h.symbol[offset[lengths[sym]]++] = uint16_t(sym);
    for (uint16_t& e : h.fast) e = 0;
    uint32_t code = 0, index = 0;
    for (uint32_t len = 1; len <= FAST_BITS; len++, code <<= 1)
        for (uint32_t i = 0; i < h.count[len]; i++, code++) {
            uint16_t entry = uint16_t(h.symbol[index++] << 4 | len);
            for (uint32_t k = reverse_bits(code, len); k <= FAST_MASK; k += 1u << len) h.fast[k] = entry;
        }
    return true;
}

struct fixed_codes {
    huffman literals, distances;
};
constexpr fixed_codes make_fixed_codes()
{
    fixed_codes f{};
    uint8_t lengths[288] = {};
    for (uint32_t sym = 0; sym < 288; sym++) lengths[sym] = uint8_t(fixed_literal(sym).length);
    build_code(f.literals, lengths, 288, LITERALS);
    for (uint32_t sym = 0; sym < 32; sym++) lengths[sym] = 5;   // codes 30 and 31 exist, but are refused
    build_code(f.distances, lengths, 32, DISTANCES);
    return f;
}
constexpr fixed_codes fixed = make_fixed_codes();

// Bits from the low end of a 64-bit buffer. Past the end of the input it feeds zero bytes and
// counts them; overrun() tells when a decoded item used any of them, so no input is ever read
// past its end and a cut stream is refused.
struct bit_reader {
    const uint8_t* p;
    const uint8_t* end;
    uint64_t bits;
    uint32_t count;
    uint32_t fake;

    // At least 56 bits afterwards.
    void refill()
    {
        if (end - p >= 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            bits |= v << count;
            uint32_t n = (63 - count) >> 3;
            p += n;
            count += 8 * n;
            return;
        }
        for (; count <= 56; count += 8) {
            uint64_t byte = 0;
            if (p < end) byte = *p++;
            else fake++;
            bits |= byte << count;
        }
    }
    uint32_t take(uint32_t n)
    {
        uint32_t v = uint32_t(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    bool overrun() const { return fake && count < 8 * fake; }
    // Whole bytes that are still in the buffer and came from the input.
    uint64_t buffered_input() const { return count / 8 > fake ? count / 8 - fake : 0; }
};

// Decodes one symbol; the buffer holds at least MAX_CODE_BITS bits. -1 for an unused pattern.
inline int32_t decode(const huffman& h, bit_reader& in)
{
    uint32_t e = h.fast[in.bits & FAST_MASK];
    if (e) {
        in.bits >>= e & 15;
        in.count -= e & 15;
        return int32_t(e >> 4);
    }
    int32_t code = 0, first = 0, index = 0;
    for (uint32_t len = 1; len <= MAX_CODE_BITS; len++) {
        code |= int32_t((in.bits >> (len - 1)) & 1);
        int32_t n = h.count[len];
        if (code - first < n) {
            in.bits >>= len;
            in.count -= len;
            return h.symbol[index + code - first];
        }
        index += n;
        first = (first + n) << 1;
        code <<= 1;
    }
    return -1;
}

struct output {
    uint8_t* out;
    uint64_t capacity;
    uint64_t pos;

    void put(uint8_t byte)
    {
        if (pos < capacity) out[pos] = byte;
        pos++;
    }
    // The caller has checked distance <= pos.
    void copy_match(uint32_t distance, uint32_t length)
    {
        if (pos + length <= capacity) {
            uint8_t* d = out + pos;
            const uint8_t* s = d - distance;
            if (distance >= 8 && pos + length + 8 <= capacity) {
                // Eight bytes a step, never overlapping within a step; up to 7 bytes past the match
                // are written inside the capacity and overwritten later.
                for (uint8_t* stop = d + length; d < stop; d += 8, s += 8) std::memcpy(d, s, 8);
            } else if (distance == 1) {
                std::memset(d, *s, length);
            } else {
                for (uint32_t i = 0; i < length; i++) d[i] = s[i];
            }
        } else {
            for (uint64_t i = pos; i < pos + length && i < capacity; i++) out[i] = out[i - distance];
        }
        pos += length;
    }
};

int32_t inflate_stored(bit_reader& in, output& o)
{
    in.take(in.count & 7);
    if (in.count < 32) in.refill();
    uint32_t length = in.take(16), complement = in.take(16);
    if (in.overrun()) return CODEC_PAST_END;
    if (complement != (~length & 0xFFFF)) return CODEC_BAD;
    if (length > in.buffered_input() + uint64_t(in.end - in.p)) return CODEC_PAST_END;
    for (; length && in.count; length--) o.put(uint8_t(in.take(8)));
    if (!length) return CODEC_DONE;
    in.bits = 0;   // what lay above the count belonged to bytes that the copy below passes over
    if (o.pos < o.capacity) {
        uint64_t n = o.capacity - o.pos < length ? o.capacity - o.pos : length;
        std::memcpy(o.out + o.pos, in.p, size_t(n));
    }
    o.pos += length;
    in.p += length;
    return CODEC_DONE;
}

int32_t inflate_codes(bit_reader& in, output& o, const huffman& literals, const huffman& distances)
{
    for (;;) {
        if (in.count < 48) in.refill();   // a length, a distance and their extra bits fit in 48
        int32_t sym = decode(literals, in);
        if (sym < int32_t(END_OF_BLOCK)) {
            if (sym < 0) return CODEC_BAD;
            o.put(uint8_t(sym));
        } else if (sym == int32_t(END_OF_BLOCK)) {
            return in.overrun() ? CODEC_BAD : CODEC_DONE;
        } else {
            uint32_t l = uint32_t(sym) - 257;
            if (l >= 29) return CODEC_BAD;
            uint32_t length = LENGTH_BASE[l] + in.take(LENGTH_EXTRA[l]);
            int32_t d = decode(distances, in);
            if (d < 0 || d >= 30) return CODEC_BAD;
            uint32_t distance = DIST_BASE[d] + in.take(DIST_EXTRA[d]);
            if (distance > o.pos || in.overrun()) return CODEC_BAD;
            o.copy_match(distance, length);
        }
        if (in.overrun() || o.pos > CODEC_OUTPUT_MAX) return CODEC_BAD;
    }
}

int32_t inflate_dynamic(bit_reader& in, output& o)
{
    if (in.count < 32) in.refill();
    uint32_t nlit = in.take(5) + 257, ndist = in.take(5) + 1, ncode = in.take(4) + 4;
    if (nlit > 286 || ndist > 30) return CODEC_BAD;
    uint8_t lengths[286 + 30] = {};
    for (uint32_t i = 0; i < ncode; i++) {
        if (in.count < 3) in.refill();
        lengths[CODE_LENGTH_ORDER[i]] = uint8_t(in.take(3));
    }
    huffman lencode;
    if (in.overrun() || !build_code(lencode, lengths, 19, CODE_LENGTHS)) return CODEC_BAD;
    for (uint32_t n = 0, total = nlit + ndist; n < total;) {
        if (in.count < 32) in.refill();
        int32_t sym = decode(lencode, in);
        if (sym < 0) return CODEC_BAD;
        if (sym < 16) {
            lengths[n++] = uint8_t(sym);
        } else {
            uint8_t value = 0;
            uint32_t repeat;
            if (sym == 16) {
                if (n == 0) return CODEC_BAD;
                value = lengths[n - 1];
                repeat = 3 + in.take(2);
            } else {
                repeat = sym == 17 ? 3 + in.take(3) : 11 + in.take(7);
            }
            if (n + repeat > total) return CODEC_BAD;
            std::memset(lengths + n, value, repeat);
            n += repeat;
        }
        if (in.overrun()) return CODEC_BAD;
    }
    if (lengths[END_OF_BLOCK] == 0) return CODEC_BAD;
    huffman literals, distances;
    if (!build_code(literals, lengths, nlit, LITERALS) || !build_code(distances, lengths + nlit, ndist, DISTANCES))
        return CODEC_BAD;
    return inflate_codes(in, o, literals, distances);
}

inline uint32_t load_be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t load_le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void store_be32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void store_le32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

constexpr uint32_t ZLIB_HEADER = 2, ZLIB_TRAILER = 4;
constexpr uint32_t GZIP_HEADER = 10, GZIP_TRAILER = 8;
constexpr uint8_t GZIP_FHCRC = 0x02, GZIP_FEXTRA = 0x04, GZIP_FNAME = 0x08, GZIP_FCOMMENT = 0x10;
constexpr uint8_t GZIP_RESERVED = 0xE0;

// Runs the raw compressor between a header and a trailer of the given sizes; *size becomes the
// whole output's size, and on CODEC_DONE the trailer room is free at out + *size - trailer.
int32_t compress_framed(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length, uint32_t header,
                        uint32_t trailer)
{
    uint64_t capacity = *size;
    if (capacity < header + trailer) {
        *size = length + header + trailer;
        return CODEC_BAD;
    }
    uint64_t n = capacity - header - trailer;
    int32_t r = deflate::compress(out + header, &n, in, length);
    *size = n + header + trailer;
    return r;
}

}  // namespace

// ---- raw DEFLATE ------------------------------------------------------------------------------------

int32_t deflate::compress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length)
{
    if (length > 0xFFFFFFFFu) return CODEC_BAD;   // positions in the table are 32-bit
    uint32_t table[1024][4];
    std::memset(table, 0, sizeof table);
    bit_writer w{out, *size, 0, 0, 0};
    w.put({3, 3});   // BFINAL 1, BTYPE 01: fixed codes
    uint32_t end = uint32_t(length), p = 0;
    while (p < end) {
        uint32_t start = p, bucket = 0;
        bool room = end - p >= 3;
        if (room) bucket = bucket_of(in + p);
        uint32_t match = 0, source = 0;
        if (room && p >= 3) {
            for (uint32_t c : table[bucket]) {
                if (c == 0 || p - c > MAX_DISTANCE || three_bytes(in + c) != three_bytes(in + p)) continue;
                source = c;
                match = extend_match(in + c, in + p, 3, end - p < MAX_MATCH ? end - p : MAX_MATCH);
                break;
            }
        }
        if (match) {
            w.put(ctab.length[match]);
            w.put(distance_bits(p - source));
            p += match;
        } else {
            w.put(ctab.literal[in[p]]);
            p++;
        }
        // Only token starts are entered, in a slot picked by the bytes that follow the token.
        if (room && end - p >= 3) {
            uint32_t y = three_bytes(in + p);
            table[bucket][((y >> 14) - y) & 3] = start;
        }
    }
    w.put({0, 7});   // end of block
    w.finish();
    uint64_t capacity = *size;
    *size = w.pos;
    return w.pos > capacity ? CODEC_SMALL : CODEC_DONE;
}

int32_t deflate::uncompress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length)
{
    bit_reader r{in, in + length, 0, 0, 0};
    output o{out, *size, 0};
    for (bool last = false; !last;) {
        if (r.count < 3) r.refill();
        last = r.take(1);
        uint32_t type = r.take(2);
        if (r.overrun()) return CODEC_BAD;
        int32_t result = type == 0   ? inflate_stored(r, o)
                         : type == 1 ? inflate_codes(r, o, fixed.literals, fixed.distances)
                         : type == 2 ? inflate_dynamic(r, o)
                                     : CODEC_BAD;
        if (result != CODEC_DONE) return result;
        if (o.pos > CODEC_OUTPUT_MAX) return CODEC_BAD;
    }
    *size = o.pos;
    return o.pos > o.capacity ? CODEC_SMALL : CODEC_DONE;
}

// ---- zlib -------------------------------------------------------------------------------------------

int32_t zlib::compress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length)
{
    int32_t r = compress_framed(out, size, in, length, ZLIB_HEADER, ZLIB_TRAILER);
    if (r != CODEC_DONE) return r;
    out[0] = 0x78;
    out[1] = 0x01;
    store_be32(out + *size - ZLIB_TRAILER, adler32(in, length));
    return CODEC_DONE;
}

int32_t zlib::uncompress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length)
{
    if (length < ZLIB_HEADER + ZLIB_TRAILER) return CODEC_BAD;
    uint32_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return CODEC_BAD;
    int32_t r = deflate::uncompress(out, size, in + ZLIB_HEADER, length - ZLIB_HEADER - ZLIB_TRAILER);
    if (r != CODEC_DONE) return r;
    return adler32(out, *size) == load_be32(in + length - ZLIB_TRAILER) ? CODEC_DONE : CODEC_BAD;
}

// ---- gzip -------------------------------------------------------------------------------------------

int32_t gzip::compress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length)
{
    int32_t r = compress_framed(out, size, in, length, GZIP_HEADER, GZIP_TRAILER);
    if (r != CODEC_DONE) return r;
    static constexpr uint8_t header[GZIP_HEADER] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4};
    std::memcpy(out, header, GZIP_HEADER);
    store_le32(out + *size - GZIP_TRAILER, crc32(in, length));
    store_le32(out + *size - 4, uint32_t(length));
    return CODEC_DONE;
}

int32_t gzip::uncompress(uint8_t* out, uint64_t* size, const uint8_t* in, uint64_t length)
{
    if (length < GZIP_HEADER + GZIP_TRAILER) return CODEC_BAD;
    if (in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & GZIP_RESERVED)) return CODEC_BAD;
    uint8_t flags = in[3];
    uint64_t data_end = length - GZIP_TRAILER, pos = GZIP_HEADER;
    if (flags & GZIP_FEXTRA) {
        if (data_end - pos < 2) return CODEC_BAD;
        uint32_t extra = uint32_t(in[pos]) | uint32_t(in[pos + 1]) << 8;
        if (data_end - pos - 2 < extra) return CODEC_BAD;
        pos += 2 + extra;
    }
    for (uint8_t field : {GZIP_FNAME, GZIP_FCOMMENT}) {
        if (!(flags & field)) continue;
        const void* zero = std::memchr(in + pos, 0, size_t(data_end - pos));
        if (!zero) return CODEC_BAD;
        pos = uint64_t(static_cast<const uint8_t*>(zero) - in) + 1;
    }
    if (flags & GZIP_FHCRC) {
        if (data_end - pos < 2) return CODEC_BAD;
        if ((crc32(in, pos) & 0xFFFF) != (uint32_t(in[pos]) | uint32_t(in[pos + 1]) << 8)) return CODEC_BAD;
        pos += 2;
    }
    int32_t r = deflate::uncompress(out, size, in + pos, data_end - pos);
    if (r != CODEC_DONE && r != CODEC_SMALL) return r;
    if (*size != load_le32(in + length - 4)) return CODEC_BAD;
    if (r == CODEC_SMALL) return r;
    return crc32(out, *size) == load_le32(in + data_end) ? CODEC_DONE : CODEC_BAD;
}
