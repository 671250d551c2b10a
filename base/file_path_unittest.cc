#include "base/file_path.h"

#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

struct UnaryCase {
  const wchar_t* input;
  const wchar_t* expected;
};

TEST(FilePath, DirName_RemovesLastComponentAndKeepsRoots) {
  const UnaryCase cases[] = {
      {L"C:\\a\\b", L"C:\\a"},
      {L"C:\\a", L"C:\\"},
      {L"C:a", L"C:"},
      {L"C:", L"C:"},
      {L"a", L"."},
      {L"", L"."},
      {L"\\a", L"\\"},
      {L"a\\b\\", L"a"},
      {L"\\\\srv", L"\\\\"},
      {L"\\\\srv\\share", L"\\\\srv"},
      {L"\\\\\\a", L"\\\\"},  // The parent of a name below three separators.
      {L"C:\\\\a", L"C:\\\\"},
      {L"a/b", L"a"},     // Slash is a separator too.
      {L"1:\\a", L"1:"},  // Not a drive letter: just a component "1:".
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << FilePath(c.input));
    EXPECT_EQ(c.expected, FilePath(c.input).DirName().value());
  }
}

TEST(FilePath, BaseName_KeepsLastComponent) {
  const UnaryCase cases[] = {
      {L"C:\\a\\b", L"b"}, {L"C:\\", L"\\"}, {L"C:", L""},       {L"a\\b\\", L"b"},
      {L"a", L"a"},        {L"", L""},       {L"C:a", L"a"},     {L"\\\\srv", L"srv"},
      {L"\\", L"\\"},      {L"a/b", L"b"},   {L"\\\\", L"\\\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << FilePath(c.input));
    EXPECT_EQ(c.expected, FilePath(c.input).BaseName().value());
  }
}

TEST(FilePath, StripTrailingSeparators_KeepsRootAndAlternateRoot) {
  const UnaryCase cases[] = {
      {L"a\\", L"a"},
      {L"a\\\\\\", L"a"},
      {L"\\", L"\\"},
      {L"\\\\", L"\\\\"},
      {L"\\\\\\", L"\\"},
      {L"C:\\", L"C:\\"},
      {L"C:\\\\", L"C:\\\\"},
      {L"C:\\\\\\", L"C:\\"},
      {L"C:\\a\\", L"C:\\a"},
      {L"a/", L"a"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << FilePath(c.input));
    EXPECT_EQ(c.expected, FilePath(c.input).StripTrailingSeparators().value());
  }
}

TEST(FilePath, Append_InsertsOneSeparatorWhereNeeded) {
  const struct {
    const wchar_t* base;
    std::wstring_view component;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\", L"a", L"C:\\a"},
      {L"C:\\x\\", L"a", L"C:\\x\\a"},
      {L"C:\\x", L"a", L"C:\\x\\a"},
      {L".", L"a", L"a"},
      {L".", L"", L"."},
      {L"a", L"", L"a"},
      {L"", L"b", L"b"},
      {L"C:", L"b", L"C:b"},
      {L"a", std::wstring_view(L"a\0b", 3), L"a\\a"},  // Only the text before a NUL.
      {L"a/", L"b", L"a\\b"},  // A trailing slash is replaced by the backslash.
      {L"\\\\srv", L"share", L"\\\\srv\\share"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "base: " << FilePath(c.base));
    EXPECT_EQ(c.expected, FilePath(c.base).Append(c.component).value());
  }
  EXPECT_EQ(L"C:\\x\\y", FilePath(L"C:\\x").Append(FilePath(L"y")).value());
  EXPECT_EQ(L"C:\\x\\7z.exe", FilePath(L"C:\\x").AppendASCII("7z.exe").value());
}

TEST(FilePath, Construct_CutsAtFirstNul) {
  EXPECT_EQ(L"ab", FilePath(std::wstring_view(L"ab\0cd", 5)).value());
  EXPECT_TRUE(FilePath(std::wstring_view(L"\0cd", 3)).empty());
  EXPECT_TRUE(FilePath().empty());
}

TEST(FilePath, Equality_IgnoresCaseOfDriveLetterOnly) {
  const struct {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
  } cases[] = {
      {L"c:\\x", L"C:\\x", true}, {L"C:\\X", L"C:\\x", false}, {L"c:", L"C:", true},
      {L"a", L"A", false},        {L"C:\\x", L"C:/x", false},  {L"", L"", true},
      {L"c:x", L"C:x", true},     {L"\\x", L"\\x", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << FilePath(c.a) << " vs " << FilePath(c.b));
    EXPECT_EQ(c.equal, FilePath(c.a) == FilePath(c.b));
    EXPECT_EQ(!c.equal, FilePath(c.a) != FilePath(c.b));
  }
}

TEST(FilePath, GetComponents_SplitsRootDriveAndNames) {
  const struct {
    const wchar_t* input;
    std::vector<std::wstring> expected;
  } cases[] = {
      {L"C:\\a\\b", {L"C:", L"\\", L"a", L"b"}},
      {L"a\\b", {L"a", L"b"}},
      {L"\\\\srv\\share", {L"\\\\", L"srv", L"share"}},
      {L"", {}},
      {L".", {}},
      {L"C:", {L"C:"}},
      {L"C:a", {L"C:", L"a"}},
      {L"\\a\\\\b\\", {L"\\", L"a", L"b"}},
      {L"a\\..\\b", {L"a", L"..", L"b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << FilePath(c.input));
    EXPECT_EQ(c.expected, FilePath(c.input).GetComponents());
  }
}

TEST(FilePath, AppendRelativePath_OnlyForStrictAncestors) {
  const struct {
    const wchar_t* parent;
    const wchar_t* child;
    bool is_parent;
    const wchar_t* relative;  // Appended to "out" when is_parent.
  } cases[] = {
      {L"C:\\a", L"c:\\a\\b\\c", true, L"out\\b\\c"},
      {L"C:\\a", L"C:\\a", false, L"out"},
      {L"C:\\a", L"C:\\ab", false, L"out"},
      {L"C:\\a", L"C:\\A\\b", false, L"out"},  // Names compare case-sensitively.
      {L"C:\\", L"C:\\a", true, L"out\\a"},
      {L"C:\\a", L"D:\\a\\b", false, L"out"},
      {L"", L"a", false, L"out"},
      {L"a", L"a\\b", true, L"out\\b"},
      {L"\\a", L"a\\b", false, L"out"},
      {L"C:\\a\\", L"C:\\a\\b", true, L"out\\b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << FilePath(c.parent) << " / " << FilePath(c.child));
    EXPECT_EQ(c.is_parent, FilePath(c.parent).IsParent(FilePath(c.child)));
    FilePath out(L"out");
    EXPECT_EQ(c.is_parent, FilePath(c.parent).AppendRelativePath(FilePath(c.child), &out));
    EXPECT_EQ(c.relative, out.value());
  }
}

TEST(FilePath, ReferencesParent_DotAndBlankComponents) {
  const struct {
    const wchar_t* input;
    bool references;
  } cases[] = {
      {L"..", true},      {L"a\\..\\b", true},  {L"a\\...", true},  {L"a\\. ..\\b", true},
      {L"a\\..\t", true}, {L"a..b", false},     {L"a\\b..", false}, {L"a\\.", false},
      {L"", false},       {L"C:\\x\\..", true}, {L"..a", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << FilePath(c.input));
    EXPECT_EQ(c.references, FilePath(c.input).ReferencesParent());
  }
}

TEST(FilePath, StreamInsertion_WritesUTF8) {
  std::ostringstream out;
  out << FilePath(L"C:\\\u00e9\u4e2d");
  EXPECT_EQ("C:\\\xc3\xa9\xe4\xb8\xad", out.str());
}

}  // namespace
}  // namespace base
