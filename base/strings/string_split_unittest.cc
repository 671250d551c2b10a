#include "base/strings/string_split.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringSplit, SplitStringPieceTable) {
  using V = std::vector<std::string>;
  struct {
    const char* input;
    const char* separators;
    WhitespaceHandling whitespace;
    SplitResult result;
    V expected;
  } cases[] = {
      {"", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, V{}},
      {"a,,b", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, V{"a", "", "b"}},
      {"a,,b", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY, V{"a", "b"}},
      {",a,", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, V{"", "a", ""}},
      {" a , b ", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, V{" a ", " b "}},
      {" a , b ", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL, V{"a", "b"}},
      {"a, ,b", ",", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY, V{"a", "b"}},
      {"a;b,c", ",;", KEEP_WHITESPACE, SPLIT_WANT_ALL, V{"a", "b", "c"}},
      {"abc", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL, V{"abc"}},
      {",", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY, V{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)) + " on " + c.separators);
    std::vector<StringPiece> pieces =
        SplitStringPiece(c.input, c.separators, c.whitespace, c.result);
    V got;
    for (StringPiece p : pieces)
      got.push_back(p.as_string());
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(SplitString(c.input, c.separators, c.whitespace, c.result), c.expected);
  }
  std::vector<std::wstring> wide =
      SplitString(StringPiece16(L"x; y"), StringPiece16(L";"), TRIM_WHITESPACE, SPLIT_WANT_ALL);
  EXPECT_EQ(wide, (std::vector<std::wstring>{L"x", L"y"}));
}

TEST(StringSplit, KeyValuePairsKeepGoingAfterAFailingPiece) {
  struct {
    const char* input;
    StringPairs expected;
    bool result;
  } cases[] = {
      {"a=1, b==2,c,=3", {{"a", "1"}, {"b", "2"}, {"", ""}, {"", "3"}}, false},
      {"", {}, true},
      {"k=v", {{"k", "v"}}, true},
      {"k=", {{"k", ""}}, false},  // nothing after the delimiters
      {" k = v ,, x=y", {{"k ", " v"}, {"x", "y"}}, true},
      {"k=v=w", {{"k", "v=w"}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    StringPairs pairs = {{"stale", "stale"}};
    EXPECT_EQ(SplitStringIntoKeyValuePairs(c.input, '=', ',', &pairs), c.result);
    EXPECT_EQ(pairs, c.expected);
  }
}

}  // namespace
}  // namespace base
