#ifndef BASE_HASH_SUPER_FAST_HASH_H_
#define BASE_HASH_SUPER_FAST_HASH_H_

#include <cstddef>
#include <cstdint>

namespace base {

// Paul Hsieh's SuperFastHash of `length` bytes at `data`, with the length as
// the initial hash. Null data or a length of 0 gives 0. Not for security.
// The result depends only on the bytes, so it is the same on every platform.
uint32_t SuperFastHash(const char* data, size_t length);

}  // namespace base

#endif  // BASE_HASH_SUPER_FAST_HASH_H_
