#ifndef BASE_HASH_FNV1A_H_
#define BASE_HASH_FNV1A_H_

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace base {

inline constexpr uint64_t kFnv1a64Basis = 14695981039346656037ull;

// The 64-bit FNV-1a hash of `count` units at `units`, each unit mixed in
// whole as an unsigned value (a byte, or a UTF-16 unit), continuing from
// `hash`. Fast and not cryptographic: for names and fingerprints. Pure.
template <typename Unit>
constexpr uint64_t Fnv1a64(const Unit* units, size_t count, uint64_t hash = kFnv1a64Basis) {
  static_assert(std::is_integral_v<Unit>);
  for (size_t i = 0; i < count; ++i) {
    hash ^= static_cast<std::make_unsigned_t<Unit>>(units[i]);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace base

#endif  // BASE_HASH_FNV1A_H_
