#include "base/strings/string_number_conversions.h"

#include <stdint.h>

#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

bool IsAsciiOnly(const std::string& s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) > 0x7F)
      return false;
  }
  return true;
}

TEST(StringNumberConversions, StringToIntResultsAndPartialValues) {
  struct {
    std::string input;
    int output;
    bool success;
  } cases[] = {
      {"42", 42, true},
      {" 42", 42, false},  // leading white space parses but fails
      {"42 ", 42, false},  // trailing white space is a non-digit
      {"-2147483648", std::numeric_limits<int>::min(), true},
      {"-2147483649", std::numeric_limits<int>::min(), false},
      {"2147483647", std::numeric_limits<int>::max(), true},
      {"2147483648", std::numeric_limits<int>::max(), false},
      {"99999999999", std::numeric_limits<int>::max(), false},
      {"+", 0, false},
      {"", 0, false},
      {"-", 0, false},
      {"+7", 7, true},
      {"+-7", 0, false},
      {"12abc", 12, false},
      {"abc", 0, false},
      {"\t\n-12x", -12, false},
      {"0x10", 0, false},
      {"007", 7, true},
      {"\xA0"
       "5",
       0, false},  // a high byte is not white space (and not UB)
      {"\xFF"
       "5",
       0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    int output = 12345;
    EXPECT_EQ(StringToInt(c.input, &output), c.success);
    EXPECT_EQ(output, c.output);
    std::wstring wide(c.input.begin(), c.input.end());
    if (IsAsciiOnly(c.input)) {
      output = 12345;
      EXPECT_EQ(StringToInt(StringPiece16(wide), &output), c.success);
      EXPECT_EQ(output, c.output);
    }
  }
}

TEST(StringNumberConversions, StringToInt64AtTheLimits) {
  struct {
    const char* input;
    int64_t output;
    bool success;
  } cases[] = {
      {"9223372036854775807", std::numeric_limits<int64_t>::max(), true},
      {"9223372036854775808", std::numeric_limits<int64_t>::max(), false},
      {"-9223372036854775808", std::numeric_limits<int64_t>::min(), true},
      {"-9223372036854775809", std::numeric_limits<int64_t>::min(), false},
      {"4294967296", INT64_C(4294967296), true},
      {" 1", 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    int64_t output = 12345;
    EXPECT_EQ(StringToInt64(c.input, &output), c.success);
    EXPECT_EQ(output, c.output);
  }
  uint64_t u = 1;
  EXPECT_TRUE(StringToUint64("18446744073709551615", &u));
  EXPECT_EQ(u, std::numeric_limits<uint64_t>::max());
  EXPECT_FALSE(StringToUint64("18446744073709551616", &u));
  EXPECT_EQ(u, std::numeric_limits<uint64_t>::max());
  EXPECT_FALSE(StringToUint64("-1", &u));
  EXPECT_EQ(u, 0u);
  unsigned v = 1;
  EXPECT_TRUE(StringToUint("4294967295", &v));
  EXPECT_FALSE(StringToUint("4294967296", &v));
  size_t s = 0;
  EXPECT_TRUE(StringToSizeT("-0", &s));
  EXPECT_EQ(s, 0u);
}

TEST(StringNumberConversions, NumberToStringAndHex) {
  EXPECT_EQ(NumberToString(std::numeric_limits<int>::min()), "-2147483648");
  EXPECT_EQ(NumberToString(std::numeric_limits<uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(NumberToString(std::numeric_limits<long long>::min()), "-9223372036854775808");
  EXPECT_EQ(NumberToWString(-7), L"-7");
  EXPECT_EQ(NumberToString(0), "0");
  EXPECT_EQ(NumberToString(0.5), "0.5");
  const unsigned char bytes[] = {0x00, 0x9F, 0xFF};
  EXPECT_EQ(HexEncode(bytes, sizeof(bytes)), "009FFF");
  int parsed = 0;
  for (int value : {0, 1, -1, 2147483647, -2147483647 - 1, 1000000}) {
    EXPECT_TRUE(StringToInt(NumberToString(value), &parsed));
    EXPECT_EQ(parsed, value);
  }
}

}  // namespace
}  // namespace base
