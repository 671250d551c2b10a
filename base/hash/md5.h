#ifndef BASE_HASH_MD5_H_
#define BASE_HASH_MD5_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace base {

// The 16-byte MD5 digest of a byte string.
struct MD5Digest {
  uint8_t a[16];
};

// Running state of one digest computation. Plain data; no allocation.
struct MD5Context {
  uint32_t state[4];
  uint64_t bit_count;
  uint8_t buffer[64];
};

// Starts a digest computation in `context`.
void MD5Init(MD5Context* context);

// Adds `length` bytes at `data` (may be null when length is 0) to the digest.
// Any number of calls with any lengths gives the digest of the concatenation.
void MD5Update(MD5Context* context, const void* data, size_t length);
inline void MD5Update(MD5Context* context, std::string_view data) {
  MD5Update(context, data.data(), data.size());
}

// Pads the message (a 1 bit, zeros, the length in bits) and writes the digest.
// `context` must be initialised again before reuse.
void MD5Final(MD5Digest* digest, MD5Context* context);

// The digest of one byte string.
void MD5Sum(const void* data, size_t length, MD5Digest* digest);

// 32 lower-case hexadecimal digits of `digest`.
std::string MD5DigestToBase16(const MD5Digest& digest);

// The hexadecimal digest of `data`.
std::string MD5String(std::string_view data);

}  // namespace base

#endif  // BASE_HASH_MD5_H_
