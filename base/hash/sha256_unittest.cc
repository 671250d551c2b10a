#include "base/hash/sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(SHA256, MatchesPublishedVectors) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
       "nopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    EXPECT_EQ(c.digest, SHA256String(c.input));
  }
}

// Padding changes shape at 55/56 and 63/64 bytes; feeding in odd pieces must
// give the same digest as one call.
TEST(SHA256, PiecewiseUpdatesEqualOneCallAcrossPaddingBoundaries) {
  for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u}) {
    SCOPED_TRACE(length);
    std::string data;
    for (size_t i = 0; i < length; ++i)
      data.push_back(static_cast<char>('a' + i % 26));
    SHA256Context context;
    SHA256Init(&context);
    for (size_t pos = 0; pos < data.size(); pos += 7)
      SHA256Update(&context, data.data() + pos, std::min<size_t>(7, data.size() - pos));
    SHA256Digest digest;
    SHA256Final(&digest, &context);
    EXPECT_EQ(SHA256String(data), SHA256DigestToBase16(digest));
  }
}

// HOST_SHA256_FILE names a file (a host path) whose digest the host computed
// as HOST_SHA256 when the tests were configured.
TEST(SHA256, AgreesWithTheHostOnAFile) {
  const char* host_path = std::getenv("HOST_SHA256_FILE");
  const char* host_digest = std::getenv("HOST_SHA256");
  if (!host_path || !host_digest)
    GTEST_SKIP() << "HOST_SHA256_FILE and HOST_SHA256 are not set";
  std::string path = std::string("Z:") + host_path;
  std::replace(path.begin(), path.end(), '/', '\\');
  FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr) << path;
  SHA256Context context;
  SHA256Init(&context);
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), file)) > 0;)
    SHA256Update(&context, buffer, n);
  std::fclose(file);
  SHA256Digest digest;
  SHA256Final(&digest, &context);
  EXPECT_EQ(SHA256DigestToBase16(digest), host_digest);
}

}  // namespace
}  // namespace base
