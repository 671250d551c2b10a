#include "base/hash/super_fast_hash.h"

namespace base {

namespace {

// Two bytes read as a little-endian 16-bit value, whatever the alignment.
uint32_t Get16Bits(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}

}  // namespace

uint32_t SuperFastHash(const char* data, size_t length) {
  if (data == nullptr || length == 0)
    return 0;
  // The published algorithm keeps the length in a 32-bit int.
  const int len = static_cast<int>(length);
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  uint32_t hash = static_cast<uint32_t>(len);
  const int rem = len & 3;

  for (int blocks = len >> 2; blocks > 0; --blocks) {
    hash += Get16Bits(p);
    const uint32_t tmp = (Get16Bits(p + 2) << 11) ^ hash;
    hash = (hash << 16) ^ tmp;
    p += 4;
    hash += hash >> 11;
  }

  // The trailing single byte enters sign-extended, as in the published code.
  switch (rem) {
    case 3:
      hash += Get16Bits(p);
      hash ^= hash << 16;
      hash ^= static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(p[2]))) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += Get16Bits(p);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(p[0])));
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
    default:
      break;
  }

  // Final avalanche.
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

}  // namespace base
