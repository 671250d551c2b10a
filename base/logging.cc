#include "base/logging.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "base/command_line.h"
#include "base/debug/alias.h"
#include "base/debug/debugger.h"
#include "base/debug/stack_trace.h"
#include "base/logging_internal.h"
#include "base/platform/activity_hooks.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"

namespace logging {

namespace {

// Process-wide state. Plain variables: configured during start-up, read by
// every statement, never freed.
LogSeverity g_min_log_level = LOG_INFO;
uint32_t g_logging_destination = LOG_TO_FILE;

bool g_log_process_id = false;
bool g_log_thread_id = false;
bool g_log_timestamp = true;
bool g_log_tickcount = false;

// The verbose table in force, and the one it replaced (kept alive: call sites
// may be reading it).
VerboseLevelTable* g_vlog_info = nullptr;
VerboseLevelTable* g_vlog_info_prev = nullptr;

const char* const kSeverityNames[LOG_NUM_SEVERITIES] = {"INFO", "WARNING", "ERROR", "FATAL"};

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The part after the last '\\' or '/'; the whole text without either.
std::string_view BaseName(std::string_view path) {
  const size_t last = path.find_last_of("\\/");
  return last == std::string_view::npos ? path : path.substr(last + 1);
}

// The base name without its last extension and without a final "-inl".
std::string_view ModuleName(std::string_view file) {
  std::string_view module = BaseName(file);
  const size_t dot = module.rfind('.');
  if (dot != std::string_view::npos)
    module = module.substr(0, dot);
  constexpr std::string_view kInlSuffix = "-inl";
  if (module.size() >= kInlSuffix.size() &&
      module.substr(module.size() - kInlSuffix.size()) == kInlSuffix) {
    module.remove_suffix(kInlSuffix.size());
  }
  return module;
}

// -value without overflow: the most negative value maps to the largest one.
int SaturatedNegate(int value) {
  return value == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -value;
}

bool CharsMatch(char text_char, char pattern_char) {
  if (pattern_char == '?')
    return true;
  if (IsSeparator(pattern_char))
    return IsSeparator(text_char);
  return text_char == pattern_char;
}

}  // namespace

namespace internal {

uint32_t GetLoggingDestination() {
  return g_logging_destination;
}

void SetLoggingDestination(uint32_t destination) {
  g_logging_destination = destination;
}

std::string FormatTimestamp(const LocalTimeFields& time) {
  char text[32];
  snprintf(text, sizeof(text), "%02d%02d/%02d:%02d:%02d.%03d", time.month, time.day, time.hour,
           time.minute, time.second, time.millisecond);
  return text;
}

}  // namespace internal

std::string SeverityName(LogSeverity severity) {
  if (severity >= 0 && severity < LOG_NUM_SEVERITIES)
    return kSeverityNames[severity];
  if (severity < 0) {
    // -severity in 64 bits: the most negative severity has no 32-bit negation.
    return "VERBOSE" + std::to_string(-static_cast<int64_t>(severity));
  }
  return "UNKNOWN";
}

void SetLogPrefixItems(bool enable_process_id,
                       bool enable_thread_id,
                       bool enable_timestamp,
                       bool enable_tickcount) {
  g_log_process_id = enable_process_id;
  g_log_thread_id = enable_thread_id;
  g_log_timestamp = enable_timestamp;
  g_log_tickcount = enable_tickcount;
}

void SetMinLogLevel(LogSeverity level) {
  g_min_log_level = level;
}

LogSeverity GetMinLogLevel() {
  return g_min_log_level;
}

bool IsLogEnabled(LogSeverity severity) {
  if (severity < g_min_log_level)
    return false;
  if (internal::GetLoggingDestination() == LOG_NONE && severity < LOG_ERROR)
    return false;
  return true;
}

int GetVerboseLevel(const char* file, size_t length) {
  // In 64 bits so that a minimum severity of INT_MIN cannot overflow.
  const int64_t from_min_level = -static_cast<int64_t>(g_min_log_level);
  const auto clamp = [](int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
  };
  if (!g_vlog_info)
    return clamp(std::max<int64_t>(from_min_level, -1));
  return g_vlog_info->GetVerboseLevel(std::string_view(file, length));
}

bool MatchVerbosePattern(std::string_view text, std::string_view pattern) {
  while (!text.empty() && !pattern.empty() && pattern.front() != '*') {
    if (!CharsMatch(text.front(), pattern.front()))
      return false;
    text.remove_prefix(1);
    pattern.remove_prefix(1);
  }
  if (pattern.empty())
    return text.empty();
  while (!pattern.empty() && pattern.front() == '*')
    pattern.remove_prefix(1);
  if (pattern.empty())
    return true;
  // The star takes the shortest run that lets the rest match; the rest never
  // matches an empty text here, since it starts with a character to consume.
  for (size_t i = 0; i < text.size(); ++i) {
    if (MatchVerbosePattern(text.substr(i), pattern))
      return true;
  }
  return false;
}

VerboseLevelTable::VerboseLevelTable(std::string_view v_switch,
                                     std::string_view vmodule_switch,
                                     LogSeverity* min_log_level)
    : min_log_level_(min_log_level) {
  int v = 0;
  if (!v_switch.empty() && base::StringToInt(v_switch, &v))
    *min_log_level_ = SaturatedNegate(v);

  std::string_view rest = vmodule_switch;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view entry =
        base::TrimWhitespaceASCII(rest.substr(0, comma), base::TRIM_ALL).as_string_view();
    if (!entry.empty()) {
      VerbosePattern pattern;
      const size_t equals = entry.find('=');
      if (equals != std::string_view::npos) {
        pattern.pattern = std::string(entry.substr(0, equals));
        const size_t level_begin = entry.find_first_not_of('=', equals);
        const std::string_view level_text =
            level_begin == std::string_view::npos ? std::string_view() : entry.substr(level_begin);
        // A malformed level keeps the conversion's best effort: the value of
        // its leading digits, saturated, or 0 without any.
        int level = 0;
        (void)base::StringToInt(level_text, &level);
        pattern.verbose_level = level;
      }
      if (pattern.pattern.find_first_of("\\/") != std::string::npos)
        pattern.match_target = MATCH_FILE;
      patterns_.push_back(std::move(pattern));
    }
    if (comma == std::string_view::npos)
      break;
    rest.remove_prefix(comma + 1);
  }
}

int VerboseLevelTable::GetVerboseLevel(std::string_view file) const {
  const int from_min_level = SaturatedNegate(*min_log_level_);
  if (patterns_.empty())
    return from_min_level;
  const std::string_view module = ModuleName(file);
  for (const VerbosePattern& pattern : patterns_) {
    const std::string_view target = pattern.match_target == MATCH_FILE ? file : module;
    if (MatchVerbosePattern(target, pattern.pattern))
      return pattern.verbose_level;
  }
  return from_min_level;
}

void LogStream::WriteWide(std::wstring_view text) {
  out_ << base::WideToUTF8(text);
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : LogMessage(file, line, severity, GetLastSystemErrorCode()) {}

LogMessage::LogMessage(const char* file, int line, const char* condition)
    : LogMessage(file, line, LOG_FATAL, GetLastSystemErrorCode()) {
  stream_ << "Check failed: " << condition << ". ";
}

LogMessage::LogMessage(const char* file, int line, std::string* result)
    : LogMessage(file, line, LOG_FATAL, GetLastSystemErrorCode()) {
  std::unique_ptr<std::string> owned(result);
  stream_ << "Check failed: " << *owned;
}

// The error code is read by the delegating constructors before any member is
// built, so nothing composing the message can disturb it.
LogMessage::LogMessage(const char* file, int line, LogSeverity severity, uint32_t saved_error)
    : severity_(severity), file_(file), line_(line), last_error_(saved_error) {
  Init();
}

void LogMessage::Init() {
  const std::string_view base_name = BaseName(file_ ? file_ : "");
  stream_ << '[';
  if (g_log_process_id)
    stream_ << internal::CurrentProcessId() << ':';
  if (g_log_thread_id)
    stream_ << internal::CurrentThreadId() << ':';
  if (g_log_timestamp)
    stream_ << internal::FormatTimestamp(internal::GetLocalTimeFields()) << ':';
  if (g_log_tickcount)
    stream_ << static_cast<uint64_t>(base::TimeTicks::Now().ToInternalValue()) << ':';
  // A missing USERNAME leaves the item empty; a present one is UTF-8 like the rest.
  const std::string user_name = internal::UserName();
  stream_ << SeverityName(severity_) << ':' << user_name << ':' << base_name << '(' << line_
          << ")] ";
  message_start_ = static_cast<size_t>(stream_.tellp());
}

LogMessage::~LogMessage() {
  if (severity_ == LOG_FATAL && !base::debug::IsDebuggerAttached()) {
    base::debug::StackSnapshot trace;
    stream_ << '\n';
    trace.OutputToStream(&stream_);
  }
  stream_ << '\n';
  const std::string text = stream_.str();

  const uint32_t destination = internal::GetLoggingDestination();
  if (destination & LOG_TO_SYSTEM_DEBUG_LOG) {
    internal::WriteToSystemDebugLog(text);
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
  } else if (severity_ >= LOG_ERROR) {
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
  }
  if ((destination & LOG_TO_FILE) && internal::OpenLogFile())
    internal::WriteToLogFile(text);

  if (severity_ == LOG_FATAL) {
    if (const base::debug::ActivityHooks* hooks = base::debug::GetActivityHooks();
        hooks && hooks->log_message) {
      hooks->log_message(text.c_str(), text.size());
    }
    // The message stays on the stack of the ending thread, for crash dumps.
    char message_copy[1024];
    const size_t copied = std::min(text.size(), sizeof(message_copy) - 1);
    memcpy(message_copy, text.data(), copied);
    message_copy[copied] = '\0';
    base::debug::Alias(message_copy);
    base::debug::TrapProcess();
  }
  internal::SetLastSystemErrorCode(last_error_);
}

SystemErrorLogMessage::SystemErrorLogMessage(const char* file,
                                             int line,
                                             LogSeverity severity,
                                             uint32_t err)
    : err_(err), log_message_(file, line, severity) {}

SystemErrorLogMessage::~SystemErrorLogMessage() {
  log_message_.stream() << ": " << SystemErrorText(err_);
}

}  // namespace logging

namespace logging {

// How the pieces of this file fit together.
//
// A log statement is a LogMessage that lives for one full expression; the
// macros test IsLogEnabled (or GetVerboseLevel) first, so a disabled statement
// builds nothing. The constructor saves the thread's last-error code and
// writes the prefix (and "Check failed: " for a failed CHECK); the destructor
// adds the stack trace of a FATAL message, ends the text with "\n", writes it
// whole to its destinations (the log file with one WriteFile on an
// append-only handle, so lines of several threads and processes never mix),
// ends the process for FATAL and restores the last-error code.
//
// Nothing here takes a lock: the settings are applied once during start-up
// and only read afterwards. The state lives in plain process-wide variables
// that are never destroyed, and replaced verbose tables are never freed, so
// a late statement on any thread still finds valid (if closed) state.
//
// Two initialisations with verbose switches may install tables; a third is a
// broken start-up and fails the CHECK below, whose reported line support
// tooling matches on.
constexpr int kVerboseSwitchCheckLine = 419;

bool InitializeLogging(const LoggingSettings& settings) {
  // A file destination needs a name; refuse before anything changes.
  if ((settings.logging_dest & LOG_TO_FILE) && !settings.log_file_path)
    return false;

  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (command_line && (command_line->HasSwitch("v") || command_line->HasSwitch("vmodule"))) {
    CHECK_AT(!g_vlog_info_prev, kVerboseSwitchCheckLine);
    g_vlog_info_prev = g_vlog_info;
    g_vlog_info =
        new VerboseLevelTable(command_line->GetSwitchValueASCII("v"),
                              command_line->GetSwitchValueASCII("vmodule"), &g_min_log_level);
  }

  internal::SetLoggingDestination(settings.logging_dest);
  if (!(settings.logging_dest & LOG_TO_FILE))
    return true;

  internal::CloseLogFile();
  internal::SetLogFileName(settings.log_file_path);
  if (settings.delete_old == DELETE_OLD_LOG_FILE)
    internal::DeleteLogFile(internal::GetLogFileName());
  return internal::OpenLogFile();
}

}  // namespace logging
