// Checksums and digests: CRC-32, Adler-32 and the Internet checksum computed here, MD5 and the SHA
// digests from the operating system's cryptographic provider, HMAC over them, and the front end of
// the `checksum` native. Must not break: no digest is handed out unless every provider call that
// made it succeeded; a failure raises internal/feature-na instead.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

// Method codes; the digests run from MD5 to SHA-512 in this order.
enum checksum_method : int32_t {
    METHOD_TCP = 0, METHOD_CRC32, METHOD_MD5, METHOD_SHA1, METHOD_SHA256, METHOD_SHA384, METHOD_SHA512,
    METHOD_ADLER32, METHOD_HASH, METHOD_NONE = -1
};
constexpr uint32_t DIGEST_MAX = 64;

uint32_t crc32(const uint8_t* bytes, uint64_t length);
uint32_t adler32(const uint8_t* bytes, uint64_t length);
uint16_t tcp_checksum(const uint8_t* bytes, uint64_t length);

uint32_t hash_size(int32_t code);   // digest bytes of a digest method, 0 for the others
// The digest of the bytes into out (hash_size(code) bytes). Raises internal/feature-na when the
// provider is missing or refuses any step.
void crypto_digest(const uint8_t* bytes, uint64_t length, int32_t code, uint8_t (&out)[DIGEST_MAX]);
void hmac_digest(const uint8_t* message, uint64_t message_length, const uint8_t* key, uint64_t key_length,
                 int32_t code, uint8_t (&out)[DIGEST_MAX]);
// Fills the buffer from the provider's secure source; raises internal/feature-na on failure.
void secure_random_bytes(uint8_t* buffer, uint32_t length);
// Acquires the one provider of the process (on the first digest or random bytes that need it);
// false when the platform refuses it.
bool crypto_provider_init();

namespace checksum {
void init();   // the method symbols (the provider is acquired on first use)

// The method code of a word (any letter case), METHOD_NONE when it names no method.
int32_t method_code(const cell* word);
bool known_method_q(const cell* word);

// The native's work. data (a cell that does not move: the call's result slot) receives the result;
// spec is null when /with is not used.
void native(cell* data, const cell* method, const cell* spec);

// The file layer installs the routine that reads a file! whole into a new binary! node.
extern node_ref (*file_reader)(const cell* file);

// The provider calls, replaceable by tests to make one of them fail.
struct crypto_calls {
    int (*create_hash)(uintptr_t provider, uint32_t algorithm, uintptr_t* hash);
    int (*hash_data)(uintptr_t hash, const uint8_t* bytes, uint32_t length);
    int (*get_hash_value)(uintptr_t hash, uint8_t* out, uint32_t* length);
    int (*destroy_hash)(uintptr_t hash);
    int (*gen_random)(uintptr_t provider, uint8_t* buffer, uint32_t length);
};
extern crypto_calls calls;
crypto_calls system_calls();
}  // namespace checksum
