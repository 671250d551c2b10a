#ifndef TESTING_FUZZ_SCALE_H_
#define TESTING_FUZZ_SCALE_H_

// Rounds and seeds of the fuzz tests. `make test` runs each with its fixed
// seed and round count; `make fuzz` sets FUZZ_SCALE (a multiplier of the
// rounds) and FUZZ_SEED (a fresh seed) for long runs over new inputs.

#include <cstdint>
#include <cstdlib>

namespace testing_support {

inline int FuzzRounds(int rounds) {
  const char* scale = std::getenv("FUZZ_SCALE");
  const long factor = scale ? std::strtol(scale, nullptr, 10) : 1;
  return factor > 1 ? static_cast<int>(rounds * factor) : rounds;
}

inline uint32_t FuzzSeed(uint32_t seed) {
  const char* fresh = std::getenv("FUZZ_SEED");
  return fresh ? static_cast<uint32_t>(std::strtoul(fresh, nullptr, 10)) : seed;
}

}  // namespace testing_support

#endif  // TESTING_FUZZ_SCALE_H_
