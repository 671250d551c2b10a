#include "base/logging.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/file_path.h"
#include "base/logging_internal.h"
#include "base/platform/activity_hooks.h"
#include "base/platform/windows_types.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "testing/scoped_temp_dir.h"

namespace logging {
namespace {

// InitializeLogging needs the process command line.
class CommandLineEnvironment : public testing::Environment {
 public:
  void SetUp() override { (void)base::CommandLine::Init(0, nullptr); }
};
testing::Environment* const g_command_line_environment =
    testing::AddGlobalTestEnvironment(new CommandLineEnvironment);

std::string ReadFileToString(const std::wstring& path) {
  return testing_support::ReadTestFile(path).value_or("<missing>");
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The last line of `text` (without its line end).
std::string LastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n')
    trimmed.pop_back();
  const size_t start = trimmed.rfind('\n');
  return start == std::string::npos ? trimmed : trimmed.substr(start + 1);
}

// USERNAME as the process environment holds it, empty when absent.
std::wstring WideUserName() {
  wchar_t name[256];
  const DWORD length = GetEnvironmentVariableW(L"USERNAME", name, 256);
  return length < 256 ? std::wstring(name, length) : std::wstring();
}

std::string UserName() {
  return base::WideToUTF8(WideUserName());
}

// The system's text for `code`, as FormatMessageW returns it at run time, in
// UTF-8 with white space collapsed: runs containing a line break vanish,
// others become one blank, and the ends are trimmed.
std::string ExpectedSystemText(DWORD code, DWORD* format_error) {
  wchar_t buffer[256];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, buffer, 256, nullptr);
  *format_error = GetLastError();
  if (!length)
    return {};
  const std::string raw = base::WideToUTF8(std::wstring_view(buffer, length));
  std::string out;
  size_t i = 0;
  while (i < raw.size()) {
    if (!isspace(static_cast<unsigned char>(raw[i]))) {
      out += raw[i++];
      continue;
    }
    bool line_break = false;
    const size_t start = i;
    while (i < raw.size() && isspace(static_cast<unsigned char>(raw[i]))) {
      line_break |= raw[i] == '\r' || raw[i] == '\n';
      ++i;
    }
    if (!line_break && start != 0 && i != raw.size())
      out += ' ';
  }
  return out;
}

// Each test logs into a file of its own in a fresh directory; afterwards the
// file is closed and logging goes nowhere, so the directory can be removed.
class LoggingTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    log_path_ = dir_ + L"\\test.log";
    SetMinLogLevel(LOG_INFO);
    SetLogPrefixItems(false, false, true, false);
    ASSERT_TRUE(Initialize(LOG_TO_FILE, log_path_.c_str(), DELETE_OLD_LOG_FILE));
  }

  void TearDown() override {
    internal::CloseLogFile();
    EXPECT_TRUE(Initialize(LOG_NONE, nullptr, APPEND_TO_OLD_LOG_FILE));
    SetMinLogLevel(LOG_INFO);
    SetLogPrefixItems(false, false, true, false);
  }

  static bool Initialize(uint32_t destination, const wchar_t* path, OldFileDeletionState old) {
    LoggingSettings settings;
    settings.logging_dest = destination;
    settings.log_file_path = path;
    settings.delete_old = old;
    return InitializeLogging(settings);
  }

  std::string LogContents() const { return ReadFileToString(log_path_); }

  const testing_support::ScopedTempDir temp_{L"logging_test"};
  const std::wstring dir_ = temp_.path();
  std::wstring log_path_;
};

int g_evaluations = 0;
int CountEvaluation() {
  return ++g_evaluations;
}

TEST_F(LoggingTest, Prefix_WritesEnabledItemsInOrder) {
  const std::string user = UserName();
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string tid = std::to_string(GetCurrentThreadId());
  const std::string ts = R"(\d{4}/\d{2}:\d{2}:\d{2}\.\d{3})";
  struct {
    bool pid, tid, timestamp, ticks;
    std::string expected_prefix;  // a regular expression
  } cases[] = {
      {false, false, false, false, R"(\[INFO:)"},
      {true, false, false, false, R"(\[)" + pid + ":INFO:"},
      {false, true, false, false, R"(\[)" + tid + ":INFO:"},
      {false, false, true, false, R"(\[)" + ts + ":INFO:"},
      {false, false, false, true, R"(\[\d+:INFO:)"},
      {true, true, true, false, R"(\[)" + pid + ":" + tid + ":" + ts + ":INFO:"},
      {true, true, true, true, R"(\[)" + pid + ":" + tid + ":" + ts + R"(:\d+:INFO:)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected_prefix);
    SetLogPrefixItems(c.pid, c.tid, c.timestamp, c.ticks);
    const int line = __LINE__ + 1;
    LOG(INFO) << "prefix test";
    const std::string expected =
        c.expected_prefix + std::regex_replace(user, std::regex(R"(\W)"), R"(\$&)") +
        R"(:logging_unittest\.cc\()" + std::to_string(line) + R"(\)\] prefix test)";
    const std::string last = LastLine(LogContents());
    EXPECT_TRUE(std::regex_match(last, std::regex(expected))) << last << "\n" << expected;
  }
}

TEST_F(LoggingTest, Prefix_TimestampIsLocalTime) {
  SYSTEMTIME before;
  GetLocalTime(&before);
  LOG(INFO) << "time";
  SYSTEMTIME after;
  GetLocalTime(&after);
  const std::string line = LastLine(LogContents());
  // The date of one of the two readings (they differ only across midnight).
  char date_before[8], date_after[8];
  snprintf(date_before, sizeof(date_before), "[%02d%02d/", before.wMonth, before.wDay);
  snprintf(date_after, sizeof(date_after), "[%02d%02d/", after.wMonth, after.wDay);
  EXPECT_TRUE(line.rfind(date_before, 0) == 0 || line.rfind(date_after, 0) == 0) << line;
}

TEST(LoggingFormat, Timestamp_ZeroPadsEveryField) {
  struct {
    internal::LocalTimeFields time;
    const char* expected;
  } cases[] = {
      {{1, 5, 7, 3, 9, 45}, "0105/07:03:09.045"},
      {{12, 31, 23, 59, 59, 999}, "1231/23:59:59.999"},
      {{1, 1, 0, 0, 0, 0}, "0101/00:00:00.000"},
      {{10, 9, 12, 30, 5, 7}, "1009/12:30:05.007"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(internal::FormatTimestamp(c.time), c.expected);
  }
}

TEST(LoggingFormat, SeverityName_CoversVerboseAndUnknown) {
  struct {
    LogSeverity severity;
    const char* expected;
  } cases[] = {
      {LOG_INFO, "INFO"},   {LOG_WARNING, "WARNING"},
      {LOG_ERROR, "ERROR"}, {LOG_FATAL, "FATAL"},
      {-1, "VERBOSE1"},     {-2, "VERBOSE2"},
      {-10, "VERBOSE10"},   {INT_MIN, "VERBOSE2147483648"},
      {4, "UNKNOWN"},       {INT_MAX, "UNKNOWN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(SeverityName(c.severity), c.expected);
  }
}

TEST_F(LoggingTest, Prefix_FileBaseNameAndSeverityFromCallSite) {
  SetLogPrefixItems(false, false, false, false);
  const std::string user = UserName();
  struct {
    const char* file;
    int line;
    LogSeverity severity;
    std::string expected;
  } cases[] = {
      {"C:\\src\\base\\x.cc", 12, LOG_INFO, "[INFO:" + user + ":x.cc(12)] "},
      {"src/base/y.cc", 0, LOG_WARNING, "[WARNING:" + user + ":y.cc(0)] "},
      {"a\\b/c.cc", 7, -2, "[VERBOSE2:" + user + ":c.cc(7)] "},
      {"a/b\\d.cc", 7, 9, "[UNKNOWN:" + user + ":d.cc(7)] "},
      {"plain.cc", 1234567, LOG_INFO, "[INFO:" + user + ":plain.cc(1234567)] "},
      {"dir/", -1, LOG_INFO, "[INFO:" + user + ":(-1)] "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    testing::internal::CaptureStderr();  // UNKNOWN goes to stderr like an error
    {
      LogMessage message(c.file, c.line, c.severity);
      EXPECT_EQ(message.str(), c.expected);
    }
    (void)testing::internal::GetCapturedStderr();
  }
}

// The user name and a system text in the log are UTF-8 like the rest of the
// line, equal to the wide texts converted, whatever the ANSI code page (run
// again under code page 936, see CMakeLists.txt). A missing name is empty.
TEST_F(LoggingTest, Line_UserNameAndSystemTextAreUtf8) {
  const std::wstring user = WideUserName();
  SetLogPrefixItems(false, false, false, false);
  DWORD format_error = 0;
  const std::string system_text = ExpectedSystemText(ERROR_FILE_NOT_FOUND, &format_error);
  ASSERT_FALSE(system_text.empty()) << format_error;
  struct {
    const wchar_t* name;  // empty: removed from the environment
    const char* expected_prefix;
  } cases[] = {
      {L"", "[INFO::f.cc(3)] "},
      {L"builder", "[INFO:builder:f.cc(3)] "},
      {L"Jos\u00e9\u5f20", "[INFO:Jos\xc3\xa9\xe5\xbc\xa0:f.cc(3)] "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected_prefix);
    ASSERT_EQ(_wputenv((std::wstring(L"USERNAME=") + c.name).c_str()), 0);
    SystemErrorLogMessage("f.cc", 3, LOG_INFO, ERROR_FILE_NOT_FOUND).stream() << "x";
    EXPECT_EQ(LastLine(LogContents()), c.expected_prefix + ("x: " + system_text) + " (0x2)");
  }
  ASSERT_EQ(_wputenv((L"USERNAME=" + user).c_str()), 0);
}

TEST_F(LoggingTest, Insertion_WideTextAndPathsAsUtf8) {
  SetLogPrefixItems(false, false, false, false);
  const wchar_t* null_text = nullptr;
  const char* null_narrow = nullptr;
  std::wstring wide = L"caf\u00e9 \u4e2d";
  LOG(INFO) << "a:" << L"w\u00e9" << ",b:" << wide << ",c:" << null_text << ",d:" << true << false
            << ",e:" << base::FilePath(L"C:\\d\u00e9j\u00e0\\f.txt") << ",f:" << -42
            << ",g:" << null_narrow << ",h";
  LOG(INFO) << "next";
  const std::string contents = LogContents();
  const std::string line = LastLine(contents.substr(0, contents.rfind('\n', contents.size() - 2)));
  // A null narrow string inserts nothing and the line goes on.
  EXPECT_EQ(
      line.substr(line.find("] ") + 2),
      "a:w\xc3\xa9,b:caf\xc3\xa9 \xe4\xb8\xad,c:,d:10,e:C:\\d\xc3\xa9j\xc3\xa0\\f.txt,f:-42,g:,h");
  EXPECT_EQ(std::count(contents.begin(), contents.end(), '\n'), 2) << contents;
}

TEST_F(LoggingTest, File_InfoReachesFileOneLinePerMessage) {
  LOG(INFO) << "first";
  LOG(WARNING) << "second";
  const std::string contents = LogContents();
  EXPECT_NE(contents.find(":INFO:"), std::string::npos);
  EXPECT_NE(contents.find("] first\n"), std::string::npos);
  EXPECT_NE(contents.find(":WARNING:"), std::string::npos);
  EXPECT_EQ(LastLine(contents).substr(LastLine(contents).find("] ")), "] second");
  EXPECT_EQ(std::count(contents.begin(), contents.end(), '\n'), 2);
}

TEST_F(LoggingTest, File_AppendKeepsAndDeleteDropsOldContents) {
  const std::wstring path = dir_ + L"\\old.log";
  struct {
    OldFileDeletionState old;
    bool keeps_old_line;
  } cases[] = {{APPEND_TO_OLD_LOG_FILE, true}, {DELETE_OLD_LOG_FILE, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.old);
    internal::CloseLogFile();
    ASSERT_TRUE(testing_support::WriteTestFile(path, "old line\n"));
    ASSERT_TRUE(Initialize(LOG_TO_FILE, path.c_str(), c.old));
    LOG(INFO) << "new line";
    internal::CloseLogFile();
    const std::string contents = ReadFileToString(path);
    EXPECT_EQ(contents.rfind("old line\n", 0) == 0, c.keeps_old_line) << contents;
    EXPECT_NE(contents.find("] new line\n"), std::string::npos) << contents;
  }
}

TEST_F(LoggingTest, File_UnopenablePathFallsBackToDebugLogInCurrentDirectory) {
  wchar_t saved_directory[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, saved_directory), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(dir_.c_str()));
  const std::wstring missing = dir_ + L"\\no such dir\\x.log";
  const bool initialized = Initialize(LOG_TO_FILE, missing.c_str(), APPEND_TO_OLD_LOG_FILE);
  LOG(INFO) << "fallback line";
  const std::wstring name = internal::GetLogFileName();
  internal::CloseLogFile();
  EXPECT_TRUE(SetCurrentDirectoryW(saved_directory));

  EXPECT_TRUE(initialized);
  EXPECT_EQ(name, dir_ + L"\\debug.log");
  EXPECT_FALSE(FileExists(missing));
  EXPECT_NE(ReadFileToString(dir_ + L"\\debug.log").find("] fallback line\n"), std::string::npos);
}

TEST_F(LoggingTest, Initialize_FileDestinationRequiresPath) {
  struct {
    uint32_t destination;
    const wchar_t* path;
    bool expected;
  } cases[] = {
      {LOG_TO_FILE, nullptr, false},
      {LOG_TO_FILE | LOG_TO_SYSTEM_DEBUG_LOG, nullptr, false},
      {LOG_TO_SYSTEM_DEBUG_LOG, nullptr, true},
      {LOG_NONE, nullptr, true},
      {LOG_TO_FILE, log_path_.c_str(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.destination);
    EXPECT_EQ(Initialize(c.destination, c.path, APPEND_TO_OLD_LOG_FILE), c.expected);
  }
  // A refused record changes nothing: messages still go to the file in use.
  ASSERT_FALSE(Initialize(LOG_TO_FILE, nullptr, DELETE_OLD_LOG_FILE));
  LOG(INFO) << "still here";
  EXPECT_NE(LogContents().find("] still here\n"), std::string::npos);
}

TEST(LoggingFile, DefaultNameFromModulePath_RejectsFailureAndTruncation) {
  const wchar_t path[] = L"C:\\apps\\update.exe";
  const uint32_t length = static_cast<uint32_t>(wcslen(path));
  struct {
    uint32_t result;
    uint32_t buffer_size;
    bool expected;
    const wchar_t* expected_name;
  } cases[] = {
      {length, 260, true, L"C:\\apps\\debug.log"},
      {0, 260, false, L"unchanged"},
      {length, length, false, L"unchanged"},  // the result filled the buffer: cut
      {length, length + 1, true, L"C:\\apps\\debug.log"},
      {3, 260, true, L"C:\\debug.log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.result << "/" << c.buffer_size);
    std::wstring name = L"unchanged";
    EXPECT_EQ(internal::DebugLogPathFromModulePath(path, c.result, c.buffer_size, &name),
              c.expected);
    EXPECT_EQ(name, c.expected_name);
  }
}

TEST_F(LoggingTest, Disabled_StatementsEvaluateNoOperands) {
  struct {
    uint32_t destination;
    LogSeverity min_level;
    LogSeverity severity;
    bool evaluated;
  } cases[] = {
      {LOG_TO_FILE, LOG_INFO, LOG_INFO, true},
      {LOG_TO_FILE, LOG_WARNING, LOG_INFO, false},
      {LOG_TO_FILE, LOG_WARNING, LOG_WARNING, true},
      {LOG_NONE, LOG_INFO, LOG_INFO, false},
      {LOG_NONE, LOG_INFO, LOG_WARNING, false},
      {LOG_NONE, LOG_INFO, LOG_ERROR, true},
      {LOG_NONE, LOG_FATAL, LOG_ERROR, false},
      {LOG_TO_SYSTEM_DEBUG_LOG, LOG_INFO, LOG_INFO, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.destination << "/" << c.min_level << "/" << c.severity);
    ASSERT_TRUE(Initialize(c.destination, log_path_.c_str(), APPEND_TO_OLD_LOG_FILE));
    SetMinLogLevel(c.min_level);
    EXPECT_EQ(IsLogEnabled(c.severity), c.evaluated);
    g_evaluations = 0;
    testing::internal::CaptureStderr();
    switch (c.severity) {
      case LOG_INFO:
        LOG(INFO) << CountEvaluation();
        break;
      case LOG_WARNING:
        LOG(WARNING) << CountEvaluation();
        break;
      default:
        LOG(ERROR) << CountEvaluation();
        break;
    }
    (void)testing::internal::GetCapturedStderr();
    EXPECT_EQ(g_evaluations, c.evaluated ? 1 : 0);
  }
  SetMinLogLevel(LOG_INFO);
  g_evaluations = 0;
  VLOG(1) << CountEvaluation();  // no verbose switch: level 0
  CHECK(true) << CountEvaluation();
  CHECK_EQ(1, 1) << CountEvaluation();
  LOG_IF(INFO, false) << CountEvaluation();
  PLOG_IF(INFO, false) << CountEvaluation();
  DCHECK_EQ(1, 1) << CountEvaluation();
  EXPECT_EQ(g_evaluations, 0);
#if !DCHECK_IS_ON()
  DCHECK(CountEvaluation() == 100) << CountEvaluation();
  DCHECK_EQ(CountEvaluation(), 100);
  EXPECT_EQ(g_evaluations, 0);
#endif
}

TEST_F(LoggingTest, Stderr_ReceivesErrorsAndEveryDebugOutputMessage) {
  struct {
    uint32_t destination;
    LogSeverity severity;
    bool on_stderr;
  } cases[] = {
      {LOG_TO_FILE, LOG_INFO, false},
      {LOG_TO_FILE, LOG_WARNING, false},
      {LOG_TO_FILE, LOG_ERROR, true},
      {LOG_NONE, LOG_ERROR, true},
      {LOG_TO_SYSTEM_DEBUG_LOG, LOG_INFO, true},
      {LOG_TO_SYSTEM_DEBUG_LOG | LOG_TO_FILE, LOG_WARNING, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.destination << "/" << c.severity);
    ASSERT_TRUE(Initialize(c.destination, log_path_.c_str(), APPEND_TO_OLD_LOG_FILE));
    testing::internal::CaptureStderr();
    LogMessage(__FILE__, __LINE__, c.severity).stream() << "to stderr?";
    const std::string captured = testing::internal::GetCapturedStderr();
    EXPECT_EQ(captured.find("] to stderr?\n") != std::string::npos, c.on_stderr) << captured;
  }
}

TEST_F(LoggingTest, LastError_PreservedAcrossStatements) {
  struct {
    const char* name;
    void (*statement)();
  } cases[] = {
      {"info to file", [] { LOG(INFO) << "x"; }},
      {"error to stderr", [] { LOG(ERROR) << "x"; }},
      {"system error", [] { PLOG(WARNING) << "x"; }},
      {"disabled", [] { VLOG(5) << "x"; }},
      {"system error text", [] { (void)SystemErrorText(0x12345678); }},
  };
  testing::internal::CaptureStderr();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(ERROR_ACCESS_DENIED);
    c.statement();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  // Reopening the file after it was closed goes through CreateFileW, which
  // sets the error on its own.
  internal::CloseLogFile();
  SetLastError(1234);
  LOG(INFO) << "after reopen";
  EXPECT_EQ(GetLastError(), 1234u);
  (void)testing::internal::GetCapturedStderr();
}

TEST(LoggingSystemError, SystemErrorText_IsFormatMessageTextInUtf8) {
  const DWORD codes[] = {ERROR_FILE_NOT_FOUND,    ERROR_ACCESS_DENIED,     ERROR_SUCCESS,
                         ERROR_INVALID_PARAMETER, ERROR_SHARING_VIOLATION, 0x2000FFFF};
  for (DWORD code : codes) {
    SCOPED_TRACE(code);
    DWORD format_error = 0;
    const std::string system_text = ExpectedSystemText(code, &format_error);
    char expected[128];
    if (!system_text.empty()) {
      snprintf(expected, sizeof(expected), " (0x%lX)", code);
      EXPECT_EQ(SystemErrorText(code), system_text + expected);
    } else {
      snprintf(expected, sizeof(expected), "Error (0x%lX) while retrieving error. (0x%lX)",
               format_error, code);
      EXPECT_EQ(SystemErrorText(code), expected);
    }
    EXPECT_EQ(SystemErrorText(code).find_first_of("\r\n"), std::string::npos);
    std::wstring wide;
    EXPECT_TRUE(
        base::UTF8ToWide(SystemErrorText(code).data(), SystemErrorText(code).size(), &wide));
  }
  EXPECT_EQ(SystemErrorText(2).substr(SystemErrorText(2).size() - 6), " (0x2)");
  // The run under a Chinese locale must really have that ANSI code page (and
  // its non-ASCII texts), or it would prove nothing.
  if (const char* code_page = getenv("LOGGING_TEST_ANSI_CODE_PAGE")) {
    ASSERT_EQ(GetACP(), strtoul(code_page, nullptr, 10));
    EXPECT_FALSE(base::IsStringASCII(SystemErrorText(ERROR_FILE_NOT_FOUND)));
  }
}

TEST_F(LoggingTest, SystemErrorMessage_AppendsTextOfCode) {
  testing::internal::CaptureStderr();
  SetLastError(ERROR_FILE_NOT_FOUND);
  PLOG(ERROR) << "open";
  (void)testing::internal::GetCapturedStderr();
  SystemErrorLogMessage(__FILE__, __LINE__, LOG_WARNING, ERROR_ACCESS_DENIED).stream() << "x";
  const std::string contents = LogContents();
  EXPECT_NE(contents.find("] open: " + SystemErrorText(ERROR_FILE_NOT_FOUND) + "\n"),
            std::string::npos)
      << contents;
  EXPECT_NE(contents.find(":WARNING:"), std::string::npos);
  EXPECT_NE(contents.find("] x: " + SystemErrorText(ERROR_ACCESS_DENIED) + "\n"), std::string::npos)
      << contents;
}

TEST(LoggingVerbose, MatchVerbosePattern_Wildcards) {
  struct {
    const char* text;
    const char* pattern;
    bool expected;
  } cases[] = {
      {"ab", "a*b", true},
      {"axxb", "a*b", true},
      {"abx", "a*b", false},
      {"", "*", true},
      {"anything", "*", true},
      {"", "", true},
      {"a", "", false},
      {"", "a", false},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"x/y", "x\\y", true},
      {"x\\y", "x/y", true},
      {"xzy", "x/y", false},
      {"Foo", "foo", false},
      {"foo_bar", "foo**bar", true},
      {"a/b/c.cc", "*/c.cc", true},
      {"abab", "*ab", true},
      {"aba", "*ab", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " ~ " << c.pattern);
    EXPECT_EQ(MatchVerbosePattern(c.text, c.pattern), c.expected);
  }
}

TEST(LoggingVerbose, Table_ParsesVmoduleEntriesInOrder) {
  LogSeverity min_level = LOG_INFO;
  VerboseLevelTable table("", " foo=2, bar*=3,,x/y=1 ,noequals,z==4,w=5x,big=99999999999,neg=-7",
                          &min_level);
  struct {
    const char* pattern;
    int level;
    VerboseLevelTable::MatchTarget target;
  } expected[] = {
      {"foo", 2, VerboseLevelTable::MATCH_MODULE},
      {"bar*", 3, VerboseLevelTable::MATCH_MODULE},
      {"x/y", 1, VerboseLevelTable::MATCH_FILE},
      {"", 0, VerboseLevelTable::MATCH_MODULE},
      {"z", 4, VerboseLevelTable::MATCH_MODULE},
      {"w", 5, VerboseLevelTable::MATCH_MODULE},
      {"big", INT_MAX, VerboseLevelTable::MATCH_MODULE},
      {"neg", -7, VerboseLevelTable::MATCH_MODULE},
  };
  ASSERT_EQ(table.patterns().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].pattern);
    EXPECT_EQ(table.patterns()[i].pattern, expected[i].pattern);
    EXPECT_EQ(table.patterns()[i].verbose_level, expected[i].level);
    EXPECT_EQ(table.patterns()[i].match_target, expected[i].target);
  }
  EXPECT_EQ(min_level, LOG_INFO);
}

TEST(LoggingVerbose, Table_VSwitchSetsMinimumSeverity) {
  struct {
    const char* v;
    LogSeverity expected_min;
  } cases[] = {
      {"", LOG_INFO},
      {"abc", LOG_INFO},
      {"2", -2},
      {"-1", 1},
      {"0", 0},
      {" 2", LOG_INFO},
      {"2 ", LOG_INFO},
      {"+3", -3},
      {"2147483647", -INT_MAX},
      {"2147483648", LOG_INFO},
      {"-2147483648", INT_MAX},  // saturated, not overflowed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.v);
    LogSeverity min_level = LOG_INFO;
    VerboseLevelTable table(c.v, "", &min_level);
    EXPECT_EQ(min_level, c.expected_min);
    EXPECT_TRUE(table.patterns().empty());
  }
}

TEST(LoggingVerbose, Table_FirstMatchingPatternWins) {
  LogSeverity min_level = LOG_INFO;
  VerboseLevelTable table("1", "foo=3,ba?=4,*/net/*=5,*=2", &min_level);
  ASSERT_EQ(min_level, -1);
  struct {
    const char* file;
    int expected;
  } cases[] = {
      {"C:\\src\\foo.cc", 3}, {"src/foo-inl.h", 3},
      {"src/bar.cc", 4},      {"C:\\src\\net\\socket.cc", 5},
      {"src/net/foo.cc", 3},  {"foo.bar.cc", 2},
      {"src/other.cc", 2},    {"foo", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(table.GetVerboseLevel(c.file), c.expected);
  }
  LogSeverity min_level2 = LOG_INFO;
  VerboseLevelTable modules("3", "foo.bar=1,foo=6", &min_level2);
  EXPECT_EQ(modules.GetVerboseLevel("x/foo.bar.cc"), 1);  // only the last extension is cut
  EXPECT_EQ(modules.GetVerboseLevel("x/foo-inl.h"), 6);
  EXPECT_EQ(modules.GetVerboseLevel("x/none.cc"), 3);  // no match: the "v" level
  LogSeverity min_level3 = LOG_WARNING;
  VerboseLevelTable empty("", "", &min_level3);
  EXPECT_EQ(empty.GetVerboseLevel("x.cc"), -LOG_WARNING);
}

TEST(LoggingVerbose, GetVerboseLevel_WithoutSwitchesFollowsMinimumSeverity) {
  // This process never sees a verbose switch (those tests run in children).
  struct {
    LogSeverity min_level;
    int expected;
  } cases[] = {{LOG_INFO, 0}, {-3, 3}, {LOG_WARNING, -1}, {LOG_FATAL, -1}, {-1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.min_level);
    SetMinLogLevel(c.min_level);
    EXPECT_EQ(GetVerboseLevel(__FILE__, sizeof(__FILE__) - 1), c.expected);
  }
  SetMinLogLevel(LOG_INFO);
}

// In a child process: the switches reach InitializeLogging through the
// process command line, and the verbose statements show their level.
TEST(LoggingVerboseDeathTest, Switches_EnableVerboseStatements) {
  EXPECT_EXIT(
      {
        base::CommandLine::ForCurrentProcess()->AppendSwitchASCII("v", "2");
        base::CommandLine::ForCurrentProcess()->AppendSwitchASCII("vmodule", "nothing=9");
        LoggingSettings settings;
        settings.logging_dest = LOG_TO_SYSTEM_DEBUG_LOG;
        if (!InitializeLogging(settings))
          exit(2);
        g_evaluations = 0;
        VLOG(1) << "level one";
        VLOG(2) << "level two";
        VLOG(3) << "level three " << CountEvaluation();
        exit(g_evaluations == 0 && GetMinLogLevel() == -2 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "VERBOSE1:.*\\] level one\n.*VERBOSE2:.*\\] level two\n$");
  EXPECT_EXIT(
      {
        base::CommandLine::ForCurrentProcess()->AppendSwitchASCII("v", "-1");
        LoggingSettings settings;
        settings.logging_dest = LOG_TO_SYSTEM_DEBUG_LOG;
        (void)InitializeLogging(settings);
        LOG(INFO) << "info hidden";
        LOG(WARNING) << "warning shown";
        exit(0);
      },
      testing::ExitedWithCode(0), "^\\[\\S*WARNING:.*\\] warning shown\n$");
}

TEST(LoggingDeathTest, ThirdVerboseInitialization_FailsCheckAtLine419) {
  EXPECT_DEATH(
      {
        base::CommandLine::ForCurrentProcess()->AppendSwitchASCII("v", "1");
        LoggingSettings settings;
        settings.logging_dest = LOG_NONE;
        (void)InitializeLogging(settings);
        (void)InitializeLogging(settings);
        (void)InitializeLogging(settings);
      },
      "FATAL:.*:logging\\.cc\\(419\\)\\] Check failed: !g_vlog_info_prev\\. \n");
}

TEST(LoggingDeathTest, Check_MessagesNameConditionAndValues) {
  int one = 1;
  int two = 2;
  const void* pointer = reinterpret_cast<const void*>(0x1234abcd);
  EXPECT_DEATH(CHECK(false), "FATAL:.*\\] Check failed: false\\. \n");
  EXPECT_DEATH(CHECK(one == two) << "extra " << 7,
               "logging_unittest\\.cc\\(\\d+\\)\\] Check failed: one == two\\. extra 7\n");
  EXPECT_DEATH(CHECK_EQ(one, two), "Check failed: one == two \\(1 vs\\. 2\\)\n");
  EXPECT_DEATH(CHECK_NE(one, 1), "Check failed: one != 1 \\(1 vs\\. 1\\)\n");
  EXPECT_DEATH(CHECK_LT(two, one) << "why", "Check failed: two < one \\(2 vs\\. 1\\)why\n");
  EXPECT_DEATH(CHECK_LE(two, one), "Check failed: two <= one \\(2 vs\\. 1\\)");
  EXPECT_DEATH(CHECK_GT(one, two), "Check failed: one > two \\(1 vs\\. 2\\)");
  EXPECT_DEATH(CHECK_GE(one, two), "Check failed: one >= two \\(1 vs\\. 2\\)");
  EXPECT_DEATH(CHECK_EQ(pointer, nullptr),
               "Check failed: pointer == nullptr \\(1234ABCD vs\\. nullptr\\)");
  EXPECT_DEATH(NOTREACHED(), "Check failed: false\\. ");
}

TEST(LoggingDeathTest, Pcheck_AppendsSystemErrorText) {
  std::string escaped;
  for (char ch : SystemErrorText(ERROR_ACCESS_DENIED)) {
    if (ispunct(static_cast<unsigned char>(ch)))
      escaped += '\\';
    escaped += ch;
  }
  EXPECT_DEATH(
      {
        SetLastError(ERROR_ACCESS_DENIED);
        PCHECK(false) << "ctx";
      },
      "Check failed: false\\. ctx: " + escaped + "\n");
}

TEST(LoggingCheck, CheckOpMessage_WritesNamesAndValues) {
  struct {
    std::string actual;
    const char* expected;
  } cases[] = {
      {*std::unique_ptr<std::string>(CheckOpMessage(1, 2, "a == b")), "a == b (1 vs. 2)"},
      {*std::unique_ptr<std::string>(CheckOpMessage(-5, 3u, "x < y")), "x < y (-5 vs. 3)"},
      {*std::unique_ptr<std::string>(CheckOpMessage(INVALID_HANDLE_VALUE, GetCurrentProcess(),
                                                    "handle != ::GetCurrentProcess()")),
       "handle != ::GetCurrentProcess() (FFFFFFFF vs. FFFFFFFF)"},
      {*std::unique_ptr<std::string>(
           CheckOpMessage(reinterpret_cast<void*>(0x10), static_cast<void*>(nullptr), "p == q")),
       "p == q (00000010 vs. 00000000)"},
      {*std::unique_ptr<std::string>(CheckOpMessage(std::string("s"), std::string("t"), "s == t")),
       "s == t (s vs. t)"},
      {*std::unique_ptr<std::string>(CheckOpMessage(true, false, "b")), "b (1 vs. 0)"},
      {*std::unique_ptr<std::string>(
           CheckOpMessage(static_cast<const char*>("abc"), static_cast<const char*>("d"), "c")),
       "c (abc vs. d)"},
      {*std::unique_ptr<std::string>(
           CheckOpMessage(static_cast<const char*>(nullptr), static_cast<const char*>("d"), "n")),
       "n ( vs. d)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST(LoggingCheck, ComparisonChecks_CompareMixedSignednessByValue) {
  // Each would fail with the usual conversion of -1 to a huge unsigned value.
  CHECK_LT(-1, 0u);
  CHECK_NE(-1, 0xFFFFFFFFu);
  CHECK_GE(0u, -1);
  size_t size = 3;
  CHECK_GT(size, -1);
  CHECK_EQ(size, 3);
  int evaluations = 0;
  CHECK_EQ(++evaluations, 1);  // each operand once
  EXPECT_EQ(evaluations, 1);
}

// A named function whose CHECK fails; the fatal message's backtrace must name
// it with this file and the CHECK's line, resolved from the debug information.
constexpr int kNamedCheckLine = __LINE__ + 3;
__attribute__((noinline)) int FailCheckInNamedFunction(volatile int* value) {
  const int copy = *value;
  CHECK(*value == 12345) << "named";
  return copy + *value;
}

TEST(LoggingDeathTest, FatalCheck_BacktraceNamesFailingFunctionAndLine) {
  volatile int value = 1;
  // The frame's line is that of its return address: the CHECK's own line or
  // the statement after it, depending on the code the compiler laid out.
  const std::regex frame(
      "Check failed: \\*value == 12345\\. named\nBacktrace:\n(.*\n)*"
      "\t\\S*FailCheckInNamedFunction\\S* \\[0x[0-9A-F]{8}\\+\\d+\\] "
      "\\(.*logging_unittest\\.cc:(" +
      std::to_string(kNamedCheckLine) + "|" + std::to_string(kNamedCheckLine + 1) +
      ")\\)\n(.*\n)*");
  EXPECT_DEATH(FailCheckInNamedFunction(&value), testing::Truly([&](const std::string& output) {
                 return std::regex_search(output, frame);
               }));
}

// Reports what the FATAL path handed to the activity tracker's hook.
void RecordFatalMessage(const char* text, size_t length) {
  fprintf(stderr, "hook got %u bytes: %.*s|", static_cast<unsigned>(length),
          static_cast<int>(length), text);
  fflush(stderr);
}

TEST(LoggingDeathTest, FatalLog_PassesWholeTextToActivityHook) {
  static const base::debug::ActivityHooks hooks = {nullptr, nullptr, &RecordFatalMessage};
  EXPECT_DEATH(
      {
        base::debug::g_activity_hooks.store(&hooks);
        LOG(FATAL) << "for the tracker";
      },
      testing::Truly([](const std::string& output) {
        // The hook sees the finished line: prefix, text, trace, final "\n".
        const size_t line_end = output.find('\n');
        const std::string line = output.substr(0, line_end + 1);
        const size_t hook = output.find("hook got ");
        if (line_end == std::string::npos || hook == std::string::npos)
          return false;
        const std::string written = output.substr(0, hook);
        return line.find("] for the tracker\n") != std::string::npos &&
               output.compare(
                   hook, std::string::npos,
                   "hook got " + std::to_string(written.size()) + " bytes: " + written + "|") == 0;
      }));
}

TEST(LoggingDeathTest, FatalLog_EndsProcessWithBreakpoint) {
  EXPECT_EXIT(
      LOG(FATAL) << "fatal text",
      [](int code) { return static_cast<DWORD>(code) == EXCEPTION_BREAKPOINT; },
      "FATAL:.*\\] fatal text\nBacktrace:\n");
}

}  // namespace
}  // namespace logging
