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
  // (Strings rather than huge field widths: the runtime's formatter puts a
  // padded number's digits on the stack.)
  const size_t kLimit = 32 * 1024 * 1024;
  std::string too_long(kLimit, 'x');  // needs one byte more than 32 MiB with its NUL
  std::string dst = "keep";
  StringAppendF(&dst, "%s", too_long.c_str());
  EXPECT_EQ(dst, "keep");
  EXPECT_EQ(StringPrintf("%s", too_long.c_str()), "");
  // The largest text that fits: the buffer is exactly 32 MiB.
  too_long.pop_back();
  too_long.back() = 'E';
  StringAppendF(&dst, "%s", too_long.c_str());
  EXPECT_EQ(dst.size(), 4u + kLimit - 1);
  EXPECT_EQ(dst.compare(0, 5, "keepx"), 0);
  EXPECT_EQ(dst.back(), 'E');
}

}  // namespace
}  // namespace base
