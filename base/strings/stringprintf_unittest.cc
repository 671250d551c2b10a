#include "base/strings/stringprintf.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringPrintf, FormatsWithTheRuntimeDirectives) {
  EXPECT_EQ(StringPrintf("%d-%s-%c", 42, "x", 'y'), "42-x-y");
  EXPECT_EQ(StringPrintf("%08lX", 0x1FUL), "0000001F");
  EXPECT_EQ(StringPrintf("%lld", -9223372036854775807LL - 1), "-9223372036854775808");
  EXPECT_EQ(StringPrintf("%zu", sizeof(int)), "4");
  EXPECT_EQ(StringPrintf("%s", ""), "");
}

TEST(StringPrintf, LongOutputsAroundTheFirstBufferAreWhole) {
  // 1023 characters fit the first buffer with its NUL; 1024 and more take the
  // growing buffer. Each must come out whole and be appended after the prefix.
  for (size_t length : {1u, 1022u, 1023u, 1024u, 1025u, 4096u, 100000u}) {
    SCOPED_TRACE(length);
    std::string payload(length, 'x');
    payload.back() = 'E';
    std::string dst = "pre:";
    StringAppendF(&dst, "%s", payload.c_str());
    EXPECT_EQ(dst, "pre:" + payload);
    EXPECT_EQ(StringPrintf("%*d", static_cast<int>(length), 7), std::string(length - 1, ' ') + "7");
  }
}

TEST(StringPrintf, TextBeyond32MiBLeavesDestinationUnchanged) {
  const int kLimit = 32 * 1024 * 1024;
  std::string dst = "keep";
  // One character more than the largest buffer can hold with its NUL.
  StringAppendF(&dst, "%*d", kLimit, 1);
  EXPECT_EQ(dst, "keep");
  // The largest text that fits: the buffer is exactly 32 MiB.
  StringAppendF(&dst, "%*d", kLimit - 1, 1);
  EXPECT_EQ(dst.size(), 4u + static_cast<size_t>(kLimit - 1));
  EXPECT_EQ(dst.back(), '1');
}

}  // namespace
}  // namespace base
