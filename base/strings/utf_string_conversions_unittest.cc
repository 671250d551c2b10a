#include "base/strings/utf_string_conversions.h"

#include <random>
#include <string>

#include "base/platform/windows_types.h"
#include "gtest/gtest.h"
#include "testing/fuzz_scale.h"

namespace base {
namespace {

TEST(UTFConversion, UTF8ToWideReplacesMaximalSubparts) {
  struct {
    std::string input;
    std::wstring expected;
    bool valid;
  } cases[] = {
      {"", L"", true},
      {"plain", L"plain", true},
      {"\xC3\xA9", L"\x00E9", true},
      {"\xE2\x82"
       "A",
       L"\xFFFD"
       L"A",
       false},                                                   // truncated three-byte sequence
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00", true},               // non-BMP as a surrogate pair
      {"\xC0\xAF", L"\xFFFD\xFFFD", false},                      // over-long: two errors
      {"\xE0\x80\x80", L"\xFFFD\xFFFD\xFFFD", false},            // over-long three-byte form
      {"\xED\xA0\x80", L"\xFFFD\xFFFD\xFFFD", false},            // encoded surrogate D800
      {"\xF4\x90\x80\x80", L"\xFFFD\xFFFD\xFFFD\xFFFD", false},  // above U+10FFFF
      {"\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF", true},               // U+10FFFF accepted
      {"\xF0\x9F\x98", L"\xFFFD", false},                        // truncated at the end
      {"\x80"
       "a",
       L"\xFFFD"
       L"a",
       false},  // lone continuation byte
      {"\xFF", L"\xFFFD", false},
      {"\xEF\xBF\xBD", L"\xFFFD", true},  // a real U+FFFD is valid
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    std::wstring output = L"stale";
    EXPECT_EQ(UTF8ToWide(c.input.data(), c.input.size(), &output), c.valid);
    EXPECT_EQ(output, c.expected);
  }
}

TEST(UTFConversion, WideToUTF8ReplacesUnpairedSurrogates) {
  struct {
    std::wstring input;
    std::string expected;
    bool valid;
  } cases[] = {
      {L"", "", true},
      {L"\x00E9", "\xC3\xA9", true},
      {L"\x07FF", "\xDF\xBF", true},
      {L"\x0800", "\xE0\xA0\x80", true},
      {L"\xDC00", "\xEF\xBF\xBD", false},    // lone trail
      {L"a\xD800", "a\xEF\xBF\xBD", false},  // lead as the last unit
      {L"\xD800"
       L"b",
       "\xEF\xBF\xBD"
       "b",
       false},  // lead before a non-trail
      {L"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF", true},
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80", true},
      {L"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD", false},  // pair in the wrong order
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    std::string output = "stale";
    EXPECT_EQ(WideToUTF8(c.input.data(), c.input.size(), &output), c.valid);
    EXPECT_EQ(output, c.expected);
  }
}

TEST(UTFConversion, ASCIIHelpersWidenAndNarrowUnitByUnit) {
  EXPECT_EQ(ASCIIToWide("ab"), L"ab");
  // Meant for ASCII: a high byte is sign-extended.
  EXPECT_EQ(ASCIIToWide("\xE9"), std::wstring(1, static_cast<wchar_t>(0xFFE9)));
  EXPECT_EQ(UTF16ToASCII(L"a\x0142"), std::string("a\x42"));
}

// The platform's strict conversion is the oracle for what counts as valid.
bool PlatformUTF8ToWide(const std::string& in, std::wstring* out) {
  if (in.empty()) {
    out->clear();
    return true;
  }
  int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(),
                                static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0)
    return false;
  out->resize(static_cast<size_t>(n));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                        out->data(), n);
  return true;
}

bool IsWellFormedUTF16(const std::wstring& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    wchar_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF)
        return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

TEST(UTFConversion, FuzzRandomBytesNeverCrashAndValidInputRoundTrips) {
  std::mt19937 rng(testing_support::FuzzSeed(20261208));
  // Bytes biased toward lead and continuation bytes so many sequences are
  // valid and many nearly so.
  const unsigned char kInteresting[] = {0x00, 0x41, 0x7F, 0x80, 0xBF, 0xC2, 0xDF, 0xE0,
                                        0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0x9F, 0xA0};
  int valid_seen = 0;
  for (int iteration = 0; iteration < testing_support::FuzzRounds(3000); ++iteration) {
    std::string bytes(rng() % 24, '\0');
    for (char& b : bytes) {
      b = static_cast<char>(rng() % 2 ? kInteresting[rng() % sizeof(kInteresting)] : rng() % 256);
    }
    SCOPED_TRACE(testing::PrintToString(bytes));
    std::wstring wide;
    bool valid = UTF8ToWide(bytes.data(), bytes.size(), &wide);
    ASSERT_TRUE(IsWellFormedUTF16(wide));
    std::wstring platform;
    bool platform_valid = PlatformUTF8ToWide(bytes, &platform);
    ASSERT_EQ(valid, platform_valid);
    std::string back;
    ASSERT_TRUE(WideToUTF8(wide.data(), wide.size(), &back));
    if (valid) {
      ++valid_seen;
      ASSERT_EQ(wide, platform);
      ASSERT_EQ(back, bytes);
    }
    // Random UTF-16 units: every output is well-formed UTF-8 per the platform.
    std::wstring units(rng() % 12, L'\0');
    for (wchar_t& u : units)
      u = static_cast<wchar_t>(rng() % 4 ? 0xD7F0 + rng() % 0x820 : rng() % 0x10000);
    std::string narrow;
    bool units_valid = WideToUTF8(units.data(), units.size(), &narrow);
    ASSERT_EQ(units_valid, IsWellFormedUTF16(units));
    std::wstring reparsed;
    ASSERT_TRUE(UTF8ToWide(narrow.data(), narrow.size(), &reparsed));
    if (units_valid) {
      ASSERT_EQ(reparsed, units);
    }
  }
  EXPECT_GT(valid_seen, 100);
}

}  // namespace
}  // namespace base
