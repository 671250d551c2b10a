#include "base/command_line.h"

#include <random>
#include <string>
#include <vector>

#include "base/platform/windows_types.h"
#include "gtest/gtest.h"
#include "testing/fuzz_scale.h"

#include <shellapi.h>

namespace base {
namespace {

using StringVector = CommandLine::StringVector;

// What the platform's splitter makes of `command_line`.
StringVector SplitWithPlatform(const std::wstring& command_line) {
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(command_line.c_str(), &count);
  StringVector result;
  if (!args)
    return result;
  for (int i = 0; i < count; ++i)
    result.push_back(args[i]);
  ::LocalFree(args);
  return result;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text)
    out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

TEST(CommandLine, InitFromArgv_SwitchPrefixesAndCaseRules) {
  const struct {
    StringVector argv;
    std::vector<std::pair<std::string, std::wstring>> switches;
    StringVector args;
    StringVector stored;  // argv() after the program.
  } cases[] = {
      {{L"update.exe", L"--pid=42", L"--unzip=C:\\a.zip", L"--root_dir=D:\\x"},
       {{"pid", L"42"}, {"root_dir", L"D:\\x"}, {"unzip", L"C:\\a.zip"}},
       {},
       {L"--pid=42", L"--unzip=C:\\a.zip", L"--root_dir=D:\\x"}},
      {{L"p", L"--pid=1", L"--PID=2"}, {{"pid", L"2"}}, {}, {L"--pid=1", L"--pid=2"}},
      {{L"p", L"-PID=5"}, {{"pid", L"5"}}, {}, {L"-pid=5"}},
      {{L"p", L"/pid=5"}, {{"pid", L"5"}}, {}, {L"/pid=5"}},
      {{L"p", L"/v", L"-v"}, {{"v", L""}}, {}, {L"/v", L"-v"}},
      {{L"p", L"-", L"/", L"x"}, {}, {L"-", L"/", L"x"}, {L"-", L"/", L"x"}},
      {{L"p", L"--", L"--pid=3"}, {}, {L"--", L"--pid=3"}, {L"--", L"--pid=3"}},
      {{L"p", L"a", L"--b=", L"c"}, {{"b", L""}}, {L"a", L"c"}, {L"--b", L"a", L"c"}},
      {{L"p", L"---x"}, {{"-x", L""}}, {}, {L"---x"}},
      {{L"p", L"--a=b=c"}, {{"a", L"b=c"}}, {}, {L"--a=b=c"}},
      {{L"p", L"  --pid=7  ", L" x "}, {{"pid", L"7"}}, {L"x"}, {L"--pid=7", L"x"}},
      {{}, {}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "argv[1]: " << (c.argv.size() > 1 ? Narrow(c.argv[1]) : ""));
    CommandLine cl(c.argv);
    EXPECT_EQ(c.args, cl.GetArgs());
    ASSERT_EQ(c.switches.size(), cl.GetSwitches().size());
    for (const auto& [name, value] : c.switches) {
      EXPECT_TRUE(cl.HasSwitch(name)) << name;
      EXPECT_EQ(value, cl.GetSwitchValue(name)) << name;
    }
    EXPECT_EQ(c.stored, StringVector(cl.argv().begin() + 1, cl.argv().end()));
  }
}

TEST(CommandLine, SwitchLookup_ExactLowerCaseASCIINames) {
  // Names are neither folded nor stripped of their prefix. U+0170 narrows to
  // 'p' and U+0169 to 'i': no such spelling may pass for "pid" (it comes last,
  // so it would win), and non-ASCII names are never switches but arguments.
  const std::wstring disguised = L"--\u0170\u0169d=5";
  CommandLine cl(StringVector{L"p", L"--PID=1", L"--n\u00e9=1", L"--root_dir=\u00e9",
                              L"--a=C:\\\u00e9", L"--b=42", L"--c=\u007f", disguised});
  EXPECT_EQ((StringVector{L"--n\u00e9=1", disguised}), cl.GetArgs());
  EXPECT_EQ(5u, cl.GetSwitches().size());
  const struct {
    const char* name;
    bool present;
    std::wstring value;
    std::string ascii_value;  // empty for a value that is not ASCII
  } cases[] = {
      {"pid", true, L"1", "1"}, {"PID", false, L"", ""},           {"--pid", false, L"", ""},
      {"pi", false, L"", ""},   {"root_dir", true, L"\u00e9", ""}, {"a", true, L"C:\\\u00e9", ""},
      {"b", true, L"42", "42"}, {"c", true, L"\u007f", "\x7f"},    {"missing", false, L"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.present, cl.HasSwitch(c.name));
    EXPECT_EQ(c.value, cl.GetSwitchValue(c.name));
    EXPECT_EQ(c.ascii_value, cl.GetSwitchValueASCII(c.name));
  }
}

TEST(CommandLine, AppendSwitch_LowerCasesAndKeepsSwitchesBeforeArguments) {
  CommandLine cl(FilePath(L"  C:\\p.exe\t"));
  EXPECT_EQ(L"C:\\p.exe", cl.GetProgram().value());
  cl.AppendArg("x");
  cl.AppendSwitch("Foo", L"v");
  cl.AppendSwitch("-Bar");
  cl.AppendSwitchASCII("/baz", "1");
  cl.AppendArg("\xc3\xa9");  // UTF-8 for U+00E9.
  EXPECT_EQ((StringVector{L"C:\\p.exe", L"--foo=v", L"-bar", L"/baz=1", L"x", L"\u00e9"}),
            cl.argv());
  EXPECT_EQ(L"v", cl.GetSwitchValue("foo"));
  EXPECT_TRUE(cl.HasSwitch("bar"));
  EXPECT_EQ(L"1", cl.GetSwitchValue("baz"));
  EXPECT_EQ((StringVector{L"x", L"\u00e9"}), cl.GetArgs());
}

TEST(CommandLine, ParseFromString_MatchesPlatformSplitter) {
  const wchar_t* const lines[] = {
      L"update.exe --pid=42 --root_dir=\"D:\\my games\" x",
      L"\"C:\\Program Files\\u.exe\" \"a b\" c\\\\\"d\"",
      L"u.exe \"\" a\\\\\\\"b \"c\\\\\"",
      L"u.exe\t-PID=3\t/Unzip=\"C:\\\u00e9 \u4e2d.zip\"",
      L"u.exe a -- --pid=1",
  };
  for (const wchar_t* line : lines) {
    SCOPED_TRACE(testing::Message() << "line: " << Narrow(line));
    const StringVector split = SplitWithPlatform(line);
    ASSERT_FALSE(split.empty());
    CommandLine cl = CommandLine::FromString(line);
    EXPECT_EQ(CommandLine(split).argv(), cl.argv());
    EXPECT_EQ(split[0], cl.GetProgram().value());
  }
}

TEST(CommandLine, ParseFromString_WhitespaceOnlyLeavesObjectUnchanged) {
  CommandLine cl(StringVector{L"p", L"--a=1", L"x"});
  cl.ParseFromString(L" \t\u3000 ");
  EXPECT_EQ((StringVector{L"p", L"--a=1", L"x"}), cl.argv());
  CommandLine empty = CommandLine::FromString(L"   ");
  EXPECT_EQ((StringVector{L""}), empty.argv());
  EXPECT_TRUE(empty.GetSwitches().empty());
}

TEST(CommandLine, Init_OnlyOnceFromProcessCommandLine) {
  // The test runner may have set it up already; either way a later Init fails.
  CommandLine::Init(0, nullptr);
  CommandLine* current = CommandLine::ForCurrentProcess();
  ASSERT_NE(nullptr, current);
  const StringVector before = current->argv();
  EXPECT_FALSE(CommandLine::Init(0, nullptr));
  EXPECT_EQ(current, CommandLine::ForCurrentProcess());
  EXPECT_EQ(before, current->argv());
  EXPECT_EQ(SplitWithPlatform(::GetCommandLineW())[0], current->GetProgram().value());
}

TEST(CommandLine, GetCommandLineString_QuotesOnlyWhatNeedsIt) {
  CommandLine cl(FilePath(L"C:\\Program Files\\app.exe"));
  cl.AppendSwitch("a", L"b c");
  cl.AppendArg("x");
  EXPECT_EQ(L"\"C:\\Program Files\\app.exe\" --a=\"b c\" x", cl.GetCommandLineString());
  EXPECT_EQ(L"--a=\"b c\" x", cl.GetArgumentsString());

  const struct {
    const wchar_t* arg;
    const wchar_t* emitted;
  } cases[] = {
      {L"x", L"x"},
      {L"a b", L"\"a b\""},
      {L"C:\\dir\\", L"\"C:\\dir\\\\\""},
      {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
      {L"-o\"Z:\\my dir\"", L"-o\"Z:\\my dir\""},  // Switch-like: kept as stored.
      {L"", L"\"\""},
      {L"a\tb", L"\"a\tb\""},
      {L"a\nb", L"\"a\nb\""},
      {L"a\vb", L"\"a\vb\""},
      {L"a\\\\b", L"\"a\\\\b\""},  // Backslashes not before a quote stay single.
      {L"\u00e9", L"\u00e9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "arg: " << Narrow(c.arg));
    CommandLine one(FilePath(L"p.exe"));
    one.AppendArgWide(c.arg);
    EXPECT_EQ(std::wstring(L"p.exe ") + c.emitted, one.GetCommandLineString());
  }
}

TEST(CommandLine, QuotedArguments_RoundTripThroughPlatformSplitter) {
  const wchar_t* const args[] = {
      L"",
      L" ",
      L"a b",
      L"\"",
      L"\\",
      L"a\\",
      L"a\\\\",
      L"\\\"",
      L"a\\\"b",
      L"\t",
      L"a\tb",
      L"a\nb",
      L"a\vb",
      L"\u00e9 \u4e2d",
      L"C:\\Program Files\\",
      L"\"\"",
      L"x\\\\\\\"y\\",
  };
  CommandLine cl(FilePath(L"C:\\a b\\p.exe"));
  for (const wchar_t* arg : args)
    cl.AppendArgWide(arg);
  const StringVector split = SplitWithPlatform(cl.GetCommandLineString());
  ASSERT_EQ(std::size(args) + 1, split.size());
  EXPECT_EQ(L"C:\\a b\\p.exe", split[0]);
  for (size_t i = 0; i < std::size(args); ++i) {
    SCOPED_TRACE(testing::Message() << "arg " << i << ": " << Narrow(args[i]));
    EXPECT_EQ(args[i], split[i + 1]);
  }
}

TEST(CommandLine, SwitchValues_RoundTripThroughPlatformSplitter) {
  const wchar_t* const values[] = {L"b c", L"C:\\x y\\", L"\"q\"", L"a\\\"b", L"\u00e9\t\u4e2d"};
  CommandLine cl(FilePath(L"p.exe"));
  for (size_t i = 0; i < std::size(values); ++i)
    cl.AppendSwitch("s" + std::to_string(i), values[i]);
  const CommandLine parsed = CommandLine::FromString(cl.GetCommandLineString());
  for (size_t i = 0; i < std::size(values); ++i) {
    SCOPED_TRACE(testing::Message() << "value " << i);
    EXPECT_EQ(values[i], parsed.GetSwitchValue("s" + std::to_string(i)));
  }
}

// Random argument vectors built from the characters that quoting must get
// right come back unchanged from the platform's splitter.
TEST(CommandLine, QuotingFuzz_RandomVectorsRoundTrip) {
  const wchar_t alphabet[] = {L'a', L'Z', L' ',      L'"',      L'\\',     L'\\', L'\t',
                              L'-', L'=', L'\u00e9', L'\u4e2d', L'\u3000', L'/'};
  std::mt19937 random(testing_support::FuzzSeed(20261208));
  std::uniform_int_distribution<int> count_dist(0, 6);
  std::uniform_int_distribution<int> length_dist(0, 8);
  std::uniform_int_distribution<size_t> char_dist(0, std::size(alphabet) - 1);
  for (int round = 0; round < testing_support::FuzzRounds(300); ++round) {
    StringVector args(count_dist(random));
    for (std::wstring& arg : args) {
      const int length = length_dist(random);
      for (int i = 0; i < length; ++i)
        arg.push_back(alphabet[char_dist(random)]);
      // An argument that starts like a switch is written in switch form on
      // purpose (callers pass pre-quoted switches); keep to plain ones here.
      if (!arg.empty() && (arg[0] == L'-' || arg[0] == L'/'))
        arg.insert(0, 1, L'a');
    }
    CommandLine cl(FilePath(L"C:\\dir with blank\\p.exe"));
    for (const std::wstring& arg : args)
      cl.AppendArgWide(arg);
    const std::wstring line = cl.GetCommandLineString();
    const StringVector split = SplitWithPlatform(line);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << Narrow(line));
    ASSERT_FALSE(split.empty());
    EXPECT_EQ(args, StringVector(split.begin() + 1, split.end()));
  }
}

}  // namespace
}  // namespace base
