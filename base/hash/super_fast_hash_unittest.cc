#include "base/hash/super_fast_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace base {
namespace {

TEST(SuperFastHash, KnownValuesForEveryTailLength) {
  // One row per remainder length (0 to 3 bytes after the 4-byte blocks),
  // plus tails with the high bit set, which enter the hash sign-extended.
  const struct {
    std::string input;
    uint32_t expected;
  } cases[] = {
      {"a", 0x115ea782u},
      {"ab", 0x516b8b44u},
      {"abc", 0xd2be198au},
      {"abcd", 0xdad8b8dbu},
      {"abcde", 0x51ed072eu},
      {"hello, world", 0x25c14d06u},
      {std::string("\x80", 1), 0xf30533c4u},
      {std::string("ab\xff", 3), 0xc25f0954u},
      {std::string("\x34\x12\x00\x00", 4), 0x354c70b8u},
      {std::string("\x38\x12\x00\x00", 4), 0xe0bb0c64u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(c.expected, SuperFastHash(c.input.data(), c.input.size()));
  }
}

TEST(SuperFastHash, EmptyInputGivesZero) {
  EXPECT_EQ(0u, SuperFastHash(nullptr, 0));
  EXPECT_EQ(0u, SuperFastHash(nullptr, 4));
  EXPECT_EQ(0u, SuperFastHash("abc", 0));
}

TEST(SuperFastHash, ReadsUnalignedData) {
  // The same bytes at an odd address hash the same as at an aligned one.
  alignas(4) char buffer[16] = "xhello, world";
  EXPECT_EQ(SuperFastHash("hello, world", 12), SuperFastHash(buffer + 1, 12));
}

}  // namespace
}  // namespace base
