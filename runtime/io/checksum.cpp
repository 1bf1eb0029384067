// Checksums computed here, digests and HMAC through CryptoAPI, and the `checksum` front end.
// Mended: every provider call is checked, so a refused step raises internal/feature-na instead of
// handing out a digest buffer that was never filled; an odd last byte of the Internet checksum is
// the high octet of a zero-padded word, as RFC 1071 has it.
#include "runtime/io/checksum.h"

#include <windows.h>
#include <wincrypt.h>

#include <array>
#include <cstring>
#include <initializer_list>

#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/io/byte_input.h"
#include "runtime/memory.h"

namespace {

// ---- CRC-32 (reflected 0xEDB88320): eight tables, so that the loop takes eight bytes a step ------
using crc_tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr crc_tables make_crc_tables()
{
    crc_tables t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; i++)
        for (size_t k = 1; k < 8; k++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
constexpr crc_tables crc_table = make_crc_tables();

inline uint32_t load_le32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// ---- the provider and the method table ------------------------------------------------------------
struct method_row {
    const char* name;
    checksum_method code;
};
// The making order of the method symbol_s.
constexpr method_row method_rows[] = {
    {"tcp", METHOD_TCP},       {"md5", METHOD_MD5},       {"sha1", METHOD_SHA1},
    {"crc32", METHOD_CRC32},   {"adler32", METHOD_ADLER32}, {"sha256", METHOD_SHA256},
    {"sha384", METHOD_SHA384}, {"sha512", METHOD_SHA512}, {"hash", METHOD_HASH},
};
constexpr uint32_t METHOD_COUNT = sizeof method_rows / sizeof method_rows[0];

struct digest_row {
    ALG_ID algorithm;
    uint32_t size;
    uint32_t block;   // HMAC block size
};
constexpr digest_row digests[] = {
    {CALG_MD5, 16, 64}, {CALG_SHA1, 20, 64}, {CALG_SHA_256, 32, 64}, {CALG_SHA_384, 48, 128}, {CALG_SHA_512, 64, 128},
};
inline bool digest_q(int32_t code) { return code >= METHOD_MD5 && code <= METHOD_SHA512; }
inline const digest_row& digest_of(int32_t code) { return digests[code - METHOD_MD5]; }

struct checksum_state {
    uintptr_t provider;   // 0 until the first digest, or when the platform refused one
    bool provider_tried;  // acquired on first use: opening the service costs start-up 30 ms
    uint32_t symbols[METHOD_COUNT];
};
checksum_state checksum_s;

[[noreturn]] void feature_na() { fire(ERR_INTERNAL, err::FEATURE_NA); }

// The provider, acquired the first time a digest or random bytes need it; 0 when refused.
uintptr_t acquired_provider()
{
    if (!checksum_s.provider_tried) crypto_provider_init();
    return checksum_s.provider;
}

int os_create_hash(uintptr_t provider, uint32_t algorithm, uintptr_t* hash)
{
    HCRYPTHASH h = 0;
    BOOL ok = CryptCreateHash(HCRYPTPROV(provider), ALG_ID(algorithm), 0, 0, &h);
    *hash = uintptr_t(h);
    return ok;
}
int os_hash_data(uintptr_t hash, const uint8_t* bytes, uint32_t length)
{
    return CryptHashData(HCRYPTHASH(hash), bytes, length, 0);
}
int os_get_hash_value(uintptr_t hash, uint8_t* out, uint32_t* length)
{
    DWORD n = *length;
    BOOL ok = CryptGetHashParam(HCRYPTHASH(hash), HP_HASHVAL, out, &n, 0);
    *length = n;
    return ok;
}
int os_destroy_hash(uintptr_t hash) { return CryptDestroyHash(HCRYPTHASH(hash)); }
int os_gen_random(uintptr_t provider, uint8_t* buffer, uint32_t length)
{
    return CryptGenRandom(HCRYPTPROV(provider), length, buffer);
}

struct byte_span {
    const uint8_t* bytes;
    uint64_t length;
};

// One hash object: created, fed every part, read, destroyed. The object is destroyed whatever
// failed before, and the error is raised only once it is gone.
void digest_parts(int32_t code, std::initializer_list<byte_span> parts, uint8_t (&out)[DIGEST_MAX])
{
    const digest_row& d = digest_of(code);
    uintptr_t hash = 0;
    if (!acquired_provider() || !checksum::calls.create_hash(checksum_s.provider, d.algorithm, &hash)) feature_na();
    bool ok = true;
    for (const byte_span& part : parts) {
        const uint8_t* p = part.bytes;
        for (uint64_t left = part.length; ok && left;) {
            uint32_t n = left < 0x40000000u ? uint32_t(left) : 0x40000000u;
            ok = checksum::calls.hash_data(hash, p, n);
            p += n, left -= n;
        }
    }
    uint32_t size = DIGEST_MAX;
    ok = ok && checksum::calls.get_hash_value(hash, out, &size) && size == d.size;
    ok = checksum::calls.destroy_hash(hash) && ok;
    if (!ok) feature_na();
}

}  // namespace

checksum::crypto_calls checksum::system_calls()
{
    return {os_create_hash, os_hash_data, os_get_hash_value, os_destroy_hash, os_gen_random};
}
checksum::crypto_calls checksum::calls = checksum::system_calls();
node_ref (*checksum::file_reader)(const cell* file) = nullptr;

// ---- checksums --------------------------------------------------------------------------------------

uint32_t crc32(const uint8_t* p, uint64_t length)
{
    uint32_t c = 0xFFFFFFFFu;
    for (; length >= 8; p += 8, length -= 8) {
        uint32_t a = load_le32(p) ^ c, b = load_le32(p + 4);
        c = crc_table[7][a & 0xFF] ^ crc_table[6][(a >> 8) & 0xFF] ^ crc_table[5][(a >> 16) & 0xFF] ^
            crc_table[4][a >> 24] ^ crc_table[3][b & 0xFF] ^ crc_table[2][(b >> 8) & 0xFF] ^
            crc_table[1][(b >> 16) & 0xFF] ^ crc_table[0][b >> 24];
    }
    while (length--) c = (c >> 8) ^ crc_table[0][(c ^ *p++) & 0xFF];
    return ~c;
}

// Both sums stay below 2^32 within a chunk of 3854 bytes, whatever the bytes.
uint32_t adler32(const uint8_t* p, uint64_t length)
{
    constexpr uint32_t MOD = 65521, CHUNK = 3854;
    uint32_t a = 1, b = 0;
    while (length) {
        uint32_t n = length < CHUNK ? uint32_t(length) : CHUNK;
        length -= n;
        for (; n >= 16; n -= 16, p += 16)
            for (int i = 0; i < 16; i++) a += p[i], b += a;
        for (; n; n--) a += *p++, b += a;
        a %= MOD;
        b %= MOD;
    }
    return b << 16 | a;
}

uint16_t tcp_checksum(const uint8_t* p, uint64_t length)
{
    uint64_t sum = 0;
    for (; length >= 2; p += 2, length -= 2) sum += uint32_t(p[0]) << 8 | p[1];
    if (length) sum += uint32_t(p[0]) << 8;   // the zero octet pads the word on the right
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return uint16_t(~sum);
}

// ---- digests ----------------------------------------------------------------------------------------

uint32_t hash_size(int32_t code) { return digest_q(code) ? digest_of(code).size : 0; }

void crypto_digest(const uint8_t* bytes, uint64_t length, int32_t code, uint8_t (&out)[DIGEST_MAX])
{
    digest_parts(code, {{bytes, length}}, out);
}

// RFC 2104: H(K ^ opad, H(K ^ ipad, message)), a key longer than the block replaced by its digest.
void hmac_digest(const uint8_t* message, uint64_t message_length, const uint8_t* key, uint64_t key_length,
                 int32_t code, uint8_t (&out)[DIGEST_MAX])
{
    const digest_row& d = digest_of(code);
    uint8_t key_digest[DIGEST_MAX];
    if (key_length > d.block) {
        crypto_digest(key, key_length, code, key_digest);
        key = key_digest;
        key_length = d.size;
    }
    uint8_t pad[128] = {};
    if (key_length) std::memcpy(pad, key, size_t(key_length));
    for (uint32_t i = 0; i < d.block; i++) pad[i] ^= 0x36;
    uint8_t inner[DIGEST_MAX];
    digest_parts(code, {{pad, d.block}, {message, message_length}}, inner);
    for (uint32_t i = 0; i < d.block; i++) pad[i] ^= 0x36 ^ 0x5C;
    digest_parts(code, {{pad, d.block}, {inner, d.size}}, out);
}

void secure_random_bytes(uint8_t* buffer, uint32_t length)
{
    if (!acquired_provider() || !checksum::calls.gen_random(checksum_s.provider, buffer, length)) feature_na();
}

bool crypto_provider_init()
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) provider = 0;
    checksum_s.provider = uintptr_t(provider);
    checksum_s.provider_tried = true;
    return provider != 0;
}

// ---- methods and the native -------------------------------------------------------------------------

void checksum::init()
{
    for (uint32_t i = 0; i < METHOD_COUNT; i++) checksum_s.symbols[i] = symbol::make(method_rows[i].name);
}

int32_t checksum::method_code(const cell* word)
{
    if (!word::any_word_q(cell_type(word))) return METHOD_NONE;
    uint32_t canonical = symbol::resolve(word->data2);
    for (uint32_t i = 0; i < METHOD_COUNT; i++)
        if (symbol::resolve(checksum_s.symbols[i]) == canonical) return method_rows[i].code;
    return METHOD_NONE;
}

bool checksum::known_method_q(const cell* word) { return method_code(word) != METHOD_NONE; }

namespace {

bool integer_method_q(int32_t code) { return code == METHOD_CRC32 || code == METHOD_TCP || code == METHOD_ADLER32; }

int32_t integer_checksum(int32_t code, const byte_input& in)
{
    if (code == METHOD_CRC32) return int32_t(crc32(in.data(), in.size()));
    if (code == METHOD_ADLER32) return int32_t(adler32(in.data(), in.size()));
    return tcp_checksum(in.data(), in.size());
}

[[noreturn]] void refine_error(const cell* arg) { fire(ERR_SCRIPT, err::INVALID_REFINE_ARG, rt_refinement_word(REF_WITH), arg); }

}  // namespace

void checksum::native(cell* data, const cell* method, const cell* spec)
{
    if (cell_type(data) == TYPE_FILE) {
        if (!file_reader) fire(ERR_INTERNAL, err::NOT_DONE);
        node_ref bytes = file_reader(data);
        *data = cell{TYPE_BINARY, 0, bytes, 0};
    }
    if (cell_type(data) != TYPE_BINARY && cell_type(data) != TYPE_STRING) fire(ERR_SCRIPT, err::INVALID_ARG, data);
    int32_t code = method_code(method);
    if (code == METHOD_NONE) fire(ERR_SCRIPT, err::INVALID_ARG, method);
    if (spec && integer_method_q(code)) refine_error(method);
    if (integer_method_q(code)) {
        int32_t value = integer_checksum(code, byte_input(data));
        *data = cell{TYPE_INTEGER, 0, uint32_t(value), 0};
        return;
    }
    if (!spec && code == METHOD_HASH) refine_error(method);
    uint8_t digest[DIGEST_MAX];
    if (!spec) {
        byte_input in(data);
        crypto_digest(in.data(), in.size(), code, digest);
    } else if (cell_type(spec) == TYPE_INTEGER) {
        fire(ERR_INTERNAL, err::NOT_DONE);   // hash tables of a given size are not built
    } else if (!byte_input_q(cell_type(spec))) {
        fire(ERR_SCRIPT, err::INVALID_ARG, spec);
    } else {
        if (code == METHOD_HASH) refine_error(spec);
        byte_input key(spec), in(data);   // each its own buffer: a text key never shares the data's
        hmac_digest(in.data(), in.size(), key.data(), key.size(), code, digest);
    }
    binary_of_bytes(data, digest, hash_size(code));
}
