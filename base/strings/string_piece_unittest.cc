#include "base/strings/string_piece.h"

#include <sstream>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

constexpr size_t npos = StringPiece::npos;

TEST(StringPiece, SubstrClampsPositionAndCount) {
  const StringPiece s("abcdef");
  struct {
    size_t pos, n;
    const char* expected;
  } cases[] = {
      {0, npos, "abcdef"}, {2, 2, "cd"}, {4, 10, "ef"}, {6, 1, ""}, {7, 1, ""}, {npos, npos, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pos << "," << c.n);
    EXPECT_EQ(s.substr(c.pos, c.n), StringPiece(c.expected));
  }
}

TEST(StringPiece, ForwardSearches) {
  const StringPiece s("abcabc");
  EXPECT_EQ(s.find('c'), 2u);
  EXPECT_EQ(s.find('c', 3), 5u);
  EXPECT_EQ(s.find('c', 6), npos);
  EXPECT_EQ(s.find('z'), npos);
  EXPECT_EQ(s.find(StringPiece("ca")), 2u);
  EXPECT_EQ(s.find(StringPiece("abcabcx")), npos);
  EXPECT_EQ(s.find_first_of("cb"), 1u);  // two bytes: table lookup
  EXPECT_EQ(s.find_first_of("c"), 2u);   // one byte: direct compare
  EXPECT_EQ(s.find_first_of(""), npos);
  EXPECT_EQ(s.find_first_not_of("ab"), 2u);
  EXPECT_EQ(s.find_first_not_of("abc"), npos);
  // Bytes above 0x7F index the membership table as unsigned values.
  const StringPiece high("a\xE9z");
  EXPECT_EQ(high.find_first_of("\xE9\xFF"), 1u);
  EXPECT_EQ(high.find_first_not_of("a\xE9"), 2u);
}

TEST(StringPiece, BackwardSearchesStartAtMinOfPosAndLastIndex) {
  const StringPiece s("abcabc");
  struct {
    size_t (*search)(StringPiece, size_t);
    size_t pos;
    size_t expected;
  } cases[] = {
      {[](StringPiece p, size_t pos) { return p.rfind('a', pos); }, npos, 3},
      {[](StringPiece p, size_t pos) { return p.rfind('a', pos); }, 2, 0},
      {[](StringPiece p, size_t pos) { return p.rfind('c', pos); }, 1, npos},
      {[](StringPiece p, size_t pos) { return p.find_last_of("ab", pos); }, npos, 4},
      {[](StringPiece p, size_t pos) { return p.find_last_of("ab", pos); }, 3, 3},
      {[](StringPiece p, size_t pos) { return p.find_last_not_of("bc", pos); }, npos, 3},
      {[](StringPiece p, size_t pos) { return p.find_last_not_of("abc", pos); }, npos, npos},
      {[](StringPiece p, size_t pos) { return p.find_last_not_of('c', pos); }, 100, 4},
      {[](StringPiece p, size_t pos) { return p.rfind(StringPiece("bc"), pos); }, npos, 4},
      {[](StringPiece p, size_t pos) { return p.rfind(StringPiece("bc"), pos); }, 3, 1},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cases[i].search(s, cases[i].pos), cases[i].expected);
  }
}

TEST(StringPiece, BackwardSearchesOfEmptyViewReturnNpos) {
  const StringPiece empty;
  const StringPiece16 empty16;
  EXPECT_EQ(empty.rfind('a'), npos);
  EXPECT_EQ(empty.rfind('a', 0), npos);
  EXPECT_EQ(empty.find_last_of("ab"), npos);
  EXPECT_EQ(empty.find_last_of('a'), npos);
  EXPECT_EQ(empty.find_last_not_of("ab"), npos);
  EXPECT_EQ(empty.find_last_not_of('a'), npos);
  EXPECT_EQ(empty.rfind(StringPiece()), npos);
  EXPECT_EQ(empty.rfind(StringPiece("a")), npos);
  EXPECT_EQ(empty16.rfind(L'a'), npos);
  EXPECT_EQ(empty16.find_last_not_of(L" "), npos);
}

TEST(StringPiece, ComparisonOrdersNarrowBytesAsSigned) {
  EXPECT_TRUE(StringPiece("abc") == StringPiece("abc"));
  EXPECT_FALSE(StringPiece("abc") == StringPiece("ab"));
  EXPECT_TRUE(StringPiece("ab") < StringPiece("abc"));
  EXPECT_TRUE(StringPiece("abd") > StringPiece("abc"));
  // 0xE9 is negative as a signed byte, so it orders before 'a'.
  EXPECT_TRUE(StringPiece("\xE9") < StringPiece("a"));
  EXPECT_TRUE(StringPiece16(L"\x00E9") > StringPiece16(L"a"));
  EXPECT_EQ(StringPiece().compare(StringPiece("")), 0);
}

TEST(StringPiece, CopyAndAppendToString) {
  std::string target = "old";
  StringPiece("new").CopyToString(&target);
  EXPECT_EQ(target, "new");
  StringPiece("er").AppendToString(&target);
  EXPECT_EQ(target, "newer");
  StringPiece().CopyToString(&target);
  EXPECT_EQ(target, "");
  std::ostringstream out;
  out << StringPiece("a\0b", 3);
  EXPECT_EQ(out.str(), std::string("a\0b", 3));
}

TEST(StringPiece, PrefixAndSuffixRemovalUpToLength) {
  StringPiece s("abcdef");
  s.remove_prefix(2);
  s.remove_suffix(1);
  EXPECT_EQ(s, StringPiece("cde"));
  s.remove_prefix(3);  // exactly the length is allowed
  EXPECT_TRUE(s.empty());
  StringPiece t("xyz");
  EXPECT_EQ(t[2], 'z');  // the last index is allowed
}

TEST(StringPieceDeathTest, IndexAtLengthEndsProcess) {
  const StringPiece s("abc");
  EXPECT_DEATH((void)s[3], "Check failed: i < length_");
  const StringPiece16 w(L"abc");
  EXPECT_DEATH((void)w[3], "Check failed: i < length_");
}

TEST(StringPieceDeathTest, RemovingMoreThanLengthEndsProcess) {
  StringPiece s("abc");
  EXPECT_DEATH(s.remove_prefix(4), "Check failed: n <= length_");
  EXPECT_DEATH(s.remove_suffix(4), "Check failed: n <= length_");
}

}  // namespace
}  // namespace base
