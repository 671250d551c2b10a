#ifndef BASE_HASH_SHA256_H_
#define BASE_HASH_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace base {

// The 32-byte SHA-256 digest of a byte string.
struct SHA256Digest {
  uint8_t a[32];
};

// Running state of one digest computation. Plain data; no allocation.
struct SHA256Context {
  uint32_t state[8];
  uint64_t bit_count;
  uint8_t buffer[64];
};

// Starts a digest computation in `context`.
void SHA256Init(SHA256Context* context);

// Adds `length` bytes at `data` (may be null when length is 0) to the digest.
// Any number of calls with any lengths gives the digest of the concatenation.
void SHA256Update(SHA256Context* context, const void* data, size_t length);

// Pads the message and writes the digest. `context` must be initialised again
// before reuse.
void SHA256Final(SHA256Digest* digest, SHA256Context* context);

// 64 lower-case hexadecimal digits of `digest`.
std::string SHA256DigestToBase16(const SHA256Digest& digest);

// The hexadecimal digest of `data`.
std::string SHA256String(std::string_view data);

}  // namespace base

#endif  // BASE_HASH_SHA256_H_
