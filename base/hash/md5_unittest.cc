#include "base/hash/md5.h"

#include <algorithm>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(MD5, MatchesReferenceVectors) {
  const struct {
    const char* input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890"
       "123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(c.digest, MD5String(c.input));
  }
}

// Padding changes shape at 55/56 and 63/64 bytes; feeding in odd pieces must
// give the same digest as one call.
TEST(MD5, PiecewiseUpdatesEqualOneCallAcrossPaddingBoundaries) {
  const size_t lengths[] = {55, 56, 63, 64, 65, 119, 120, 128};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    std::string data;
    for (size_t i = 0; i < length; ++i)
      data.push_back(static_cast<char>('a' + i % 26));
    MD5Context context;
    MD5Init(&context);
    for (size_t pos = 0; pos < data.size(); pos += 7)
      MD5Update(&context, data.data() + pos, std::min<size_t>(7, data.size() - pos));
    MD5Digest digest;
    MD5Final(&digest, &context);
    EXPECT_EQ(MD5String(data), MD5DigestToBase16(digest));
  }
}

}  // namespace
}  // namespace base
