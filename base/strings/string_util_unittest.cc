#include "base/strings/string_util.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringUtil, WhitespaceSetsHaveTheirMembers) {
  EXPECT_EQ(std::wstring(kWhitespaceWide).size(), 25u);
  EXPECT_EQ(std::string(kWhitespaceASCII), "\t\n\v\f\r ");
  EXPECT_TRUE(IsUnicodeWhitespace(L'\x3000'));
  EXPECT_TRUE(IsUnicodeWhitespace(L'\x200A'));
  EXPECT_FALSE(IsUnicodeWhitespace(L'\x200B'));  // zero width space is not in the set
  EXPECT_FALSE(IsUnicodeWhitespace(L'\x0008'));
  EXPECT_TRUE(IsAsciiWhitespace('\r'));
  EXPECT_FALSE(IsAsciiWhitespace(0xA0));  // bytes above 0x7F never count
}

TEST(StringUtil, TrimWhitespaceReportsTrimmedEnds) {
  struct {
    std::wstring input;
    TrimPositions positions;
    std::wstring output;
    TrimPositions result;
  } cases[] = {
      {L"", TRIM_ALL, L"", TRIM_NONE},
      {L"\x3000\x3000", TRIM_ALL, L"", TRIM_ALL},
      {L"\x3000\x3000", TRIM_LEADING, L"", TRIM_LEADING},
      {L"  a b  ", TRIM_ALL, L"a b", TRIM_ALL},
      {L"  a b  ", TRIM_LEADING, L"a b  ", TRIM_LEADING},
      {L"  a b  ", TRIM_TRAILING, L"  a b", TRIM_TRAILING},
      {L"a b", TRIM_ALL, L"a b", TRIM_NONE},
      {L"\x00A0"
       L"a\x2029",
       TRIM_ALL, L"a", TRIM_ALL},
      {L"\x200B"
       L"a",
       TRIM_ALL,
       L"\x200B"
       L"a",
       TRIM_NONE},
      {L" a", TRIM_NONE, L" a", TRIM_NONE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input) + " " + std::to_string(c.positions));
    std::wstring output = L"stale";
    EXPECT_EQ(TrimWhitespace(c.input, c.positions, &output), c.result);
    EXPECT_EQ(output, c.output);
    // In place.
    std::wstring in_place = c.input;
    EXPECT_EQ(TrimWhitespace(in_place, c.positions, &in_place), c.result);
    EXPECT_EQ(in_place, c.output);
    EXPECT_EQ(TrimWhitespace(StringPiece16(c.input), c.positions), StringPiece16(c.output));
  }
}

TEST(StringUtil, TrimStringWithGivenSet) {
  EXPECT_EQ(TrimString("xxabcxy", "xy", TRIM_ALL), StringPiece("abc"));
  EXPECT_EQ(TrimString("xxabcxy", "xy", TRIM_LEADING), StringPiece("abcxy"));
  EXPECT_EQ(TrimString("xyxy", "xy", TRIM_ALL), StringPiece(""));
  EXPECT_EQ(TrimString("", "xy", TRIM_ALL), StringPiece(""));
  std::string out;
  EXPECT_TRUE(TrimString(std::string("\"q\""), "\"", &out));
  EXPECT_EQ(out, "q");
  EXPECT_FALSE(TrimString(std::string("q"), "\"", &out));
  EXPECT_EQ(TrimWhitespaceASCII(" \t a \xA0", TRIM_ALL), StringPiece("a \xA0"));
}

TEST(StringUtil, CollapseWhitespaceASCII) {
  struct {
    const char* input;
    bool trim_line_breaks;
    const char* expected;
  } cases[] = {
      {"  a \r\n b  c ", true, "ab c"},
      {"  a \r\n b  c ", false, "a b c"},
      {"", true, ""},
      {" \t\n ", false, ""},
      {"a\nb", true, "ab"},
      {"a\nb", false, "a b"},
      {"a \v\f b", true, "a b"},
      {"line\r\n", true, "line"},
      {"x\xA0y", true, "x\xA0y"},  // a high byte is not white space
      {"System error.\r\n", true, "System error."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)) + (c.trim_line_breaks ? " T" : " F"));
    EXPECT_EQ(CollapseWhitespaceASCII(c.input, c.trim_line_breaks), c.expected);
  }
  // Wide text: the Unicode set collapses, CR and LF still remove a run.
  const std::wstring wide = std::wstring(1, L'\x3000') + L"a\x2028\n b ";
  EXPECT_EQ(CollapseWhitespace(wide, true), L"ab");
  EXPECT_EQ(CollapseWhitespace(wide, false), L"a b");
}

TEST(StringUtil, CaseMappingTouchesOnlyASCIILetters) {
  EXPECT_EQ(ToLowerASCII("AbZ@[`{\xC9"), "abz@[`{\xC9");
  EXPECT_EQ(ToUpperASCII("azAZ\xE9"), "AZAZ\xE9");
  EXPECT_EQ(ToLowerASCII(StringPiece16(L"\x00C9X")), L"\x00C9x");
  EXPECT_TRUE(EqualsCaseInsensitiveASCII(StringPiece16(L"HeLLo"), StringPiece16(L"hello")));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII(StringPiece16(L"hell"), StringPiece16(L"hello")));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII(StringPiece16(L"\x00C9"), StringPiece16(L"\x00E9")));
}

TEST(StringUtil, StartsWithAndEndsWith) {
  struct {
    const wchar_t* text;
    const wchar_t* prefix;
    CompareCase compare;
    bool expected;
  } cases[] = {
      {L"--Switch", L"--", CompareCase::SENSITIVE, true},
      {L"Hello", L"he", CompareCase::SENSITIVE, false},
      {L"Hello", L"he", CompareCase::INSENSITIVE_ASCII, true},
      {L"he", L"hello", CompareCase::INSENSITIVE_ASCII, false},  // prefix longer
      {L"abc", L"", CompareCase::SENSITIVE, true},
      {L"", L"", CompareCase::SENSITIVE, true},
      {L"\x00C9t", L"\x00E9", CompareCase::INSENSITIVE_ASCII, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text) + L"|" + c.prefix));
    EXPECT_EQ(StartsWith(StringPiece16(c.text), StringPiece16(c.prefix), c.compare), c.expected);
  }
  EXPECT_TRUE(
      EndsWith(StringPiece("file.EXE"), StringPiece(".exe"), CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(EndsWith(StringPiece("file.EXE"), StringPiece(".exe")));
}

TEST(StringUtil, IsStringASCIIAtEveryAlignmentAndPosition) {
  // A non-ASCII unit anywhere, at any alignment of the start, must be found
  // whether it falls in the head, the whole words or the tail.
  char narrow[40];
  wchar_t wide[40];
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length + offset <= 32; ++length) {
      for (size_t i = 0; i < 40; ++i) {
        narrow[i] = 'a';
        wide[i] = L'a';
      }
      SCOPED_TRACE(testing::Message() << offset << "/" << length);
      EXPECT_TRUE(IsStringASCII(StringPiece(narrow + offset, length)));
      EXPECT_TRUE(IsStringASCII(StringPiece16(wide + offset, length)));
      for (size_t bad = 0; bad < length; ++bad) {
        narrow[offset + bad] = '\x80';
        wide[offset + bad] = L'\x0080';
        EXPECT_FALSE(IsStringASCII(StringPiece(narrow + offset, length)));
        EXPECT_FALSE(IsStringASCII(StringPiece16(wide + offset, length)));
        narrow[offset + bad] = 'a';
        wide[offset + bad] = L'\x007F';
        EXPECT_TRUE(IsStringASCII(StringPiece16(wide + offset, length)));
        wide[offset + bad] = L'a';
      }
      // A non-ASCII unit just outside the view is not seen.
      narrow[offset + length] = '\xFF';
      EXPECT_TRUE(IsStringASCII(StringPiece(narrow + offset, length)));
    }
  }
}

TEST(StringUtil, StrlcpyTruncatesAndReportsSourceLength) {
  struct {
    const char* src;
    size_t size;
    const char* expected;
    size_t result;
  } cases[] = {
      {"abc", 4, "abc", 3},  // fits exactly with its NUL
      {"abc", 3, "ab", 3},   // one short: truncated
      {"abc", 1, "", 3},
      {"", 5, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.src << "/" << c.size);
    char dst[8];
    std::fill(std::begin(dst), std::end(dst), '#');
    EXPECT_EQ(strlcpy(dst, c.src, c.size), c.result);
    EXPECT_STREQ(dst, c.expected);
  }
  char untouched = '#';
  EXPECT_EQ(strlcpy(&untouched, "abc", 0), 3u);
  EXPECT_EQ(untouched, '#');
}

}  // namespace
}  // namespace base
