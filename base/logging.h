#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// Log statements, assertions and Win32 error texts.
//
//   LOG(INFO) << "moved " << count << " files";
//   VLOG(2) << "details";                  // only with --v=2 or a --vmodule match
//   LOG_IF(WARNING, retries > 3) << "slow";
//   PLOG(ERROR) << "CreateFileW";          // appends ": <text of GetLastError()>"
//   CHECK(handle) << "context";            // fatal when false
//   CHECK_EQ(a, b);                        // fatal, "a == b (1 vs. 2)"
//
// A statement whose severity is disabled evaluates none of its stream
// operands. Every statement leaves the thread's Win32 last-error code as it
// found it. A FATAL statement writes its line with a stack trace and ends the
// process with a breakpoint trap. The facility takes no lock: configure it
// during start-up, before other threads log.

namespace logging {

// INFO 0 to FATAL 3; a verbose level n is logged with severity -n.
using LogSeverity = int;
constexpr LogSeverity LOG_VERBOSE = -1;
constexpr LogSeverity LOG_INFO = 0;
constexpr LogSeverity LOG_WARNING = 1;
constexpr LogSeverity LOG_ERROR = 2;
constexpr LogSeverity LOG_FATAL = 3;
constexpr LogSeverity LOG_NUM_SEVERITIES = 4;
// <windows.h> defines ERROR as 0; a severity that went through one macro
// expansion too many still names LOG_ERROR.
constexpr LogSeverity LOG_0 = LOG_ERROR;

// Bits of LoggingSettings::logging_dest.
enum LoggingDestination : uint32_t {
  LOG_NONE = 0,
  LOG_TO_FILE = 1u << 0,
  // The system debug output; every message sent there is copied to stderr.
  LOG_TO_SYSTEM_DEBUG_LOG = 1u << 1,
};

// Carried in the settings only: this facility never locks the file.
enum LogLockingState : int32_t { LOCK_LOG_FILE = 0, DONT_LOCK_LOG_FILE = 1 };

enum OldFileDeletionState : int32_t { DELETE_OLD_LOG_FILE = 0, APPEND_TO_OLD_LOG_FILE = 1 };

struct LoggingSettings {
  uint32_t logging_dest = LOG_TO_FILE;
  // Full path of the log file, not owned; required when LOG_TO_FILE is set.
  const wchar_t* log_file_path = nullptr;
  LogLockingState lock_log = LOCK_LOG_FILE;
  OldFileDeletionState delete_old = APPEND_TO_OLD_LOG_FILE;
};

// Applies `settings`: installs the verbose levels of the "v" and "vmodule"
// switches of the process command line when either is present (allowed in at
// most two calls per process; a third is fatal), stores the destination and,
// when it includes the file, closes the current log file, deletes the old file
// if asked and opens the new one (falling back to "debug.log" in the current
// directory). Returns false when LOG_TO_FILE is set without a path, or when no
// log file could be opened. Not thread-safe.
[[nodiscard]] bool InitializeLogging(const LoggingSettings& settings);

// Chooses the optional prefix items of messages composed from now on. The
// timestamp is on and the others off until this is called.
void SetLogPrefixItems(bool enable_process_id,
                       bool enable_thread_id,
                       bool enable_timestamp,
                       bool enable_tickcount);

// Messages below the minimum severity compose nothing. It starts at INFO; a
// "v" switch with value n makes it -n.
void SetMinLogLevel(LogSeverity level);
LogSeverity GetMinLogLevel();

// Whether a non-verbose statement of `severity` is composed at all: false
// below the minimum severity, and below ERROR when the destination set is
// empty (ERROR and FATAL always reach stderr).
bool IsLogEnabled(LogSeverity severity);

// The verbose level in force for a call site in `file` (`length` characters):
// a VLOG(n) there is emitted when n <= the result.
int GetVerboseLevel(const char* file, size_t length);

// The name written in the prefix: "INFO" .. "FATAL", "VERBOSE<n>" for -n,
// "UNKNOWN" above FATAL.
std::string SeverityName(LogSeverity severity);

// "<system text in UTF-8, white space collapsed> (0x<CODE>)" for a Win32
// error code, or "Error (0x<E>) while retrieving error. (0x<CODE>)" when the
// system has no text for it. Leaves the thread's last-error code unchanged.
std::string SystemErrorText(uint32_t error_code);

// The calling thread's Win32 last-error code (GetLastError), for PLOG/PCHECK
// call sites in headers that do not include <windows.h>.
uint32_t GetLastSystemErrorCode();

// True when `text` matches `pattern`: '*' any run (also empty), '?' any one
// character, '/' and '\\' match either separator, anything else itself.
bool MatchVerbosePattern(std::string_view text, std::string_view pattern);

// Verbose levels from the "v" and "vmodule" switch values. Building a table
// stores -v into `*min_log_level` when `v_switch` is a well-formed integer;
// `vmodule_switch` is "pattern=level[,pattern=level...]". The table keeps the
// pointer; it must outlive the table. Immutable after construction.
class VerboseLevelTable {
 public:
  enum MatchTarget : int32_t { MATCH_MODULE = 0, MATCH_FILE = 1 };
  struct VerbosePattern {
    std::string pattern;
    int verbose_level = 0;
    MatchTarget match_target = MATCH_MODULE;
  };

  VerboseLevelTable(std::string_view v_switch,
                    std::string_view vmodule_switch,
                    LogSeverity* min_log_level);
  VerboseLevelTable(const VerboseLevelTable&) = delete;
  VerboseLevelTable& operator=(const VerboseLevelTable&) = delete;

  // The level for a call site in `file`: the first pattern matching its
  // module name (base name without its last extension and a final "-inl")
  // or, for patterns with a separator, the whole path; else -min_log_level.
  int GetVerboseLevel(std::string_view file) const;

  const std::vector<VerbosePattern>& patterns() const { return patterns_; }

 private:
  std::vector<VerbosePattern> patterns_;
  LogSeverity* min_log_level_;
};

namespace internal {

// C strings are written as text, not as addresses.
template <typename T>
constexpr bool kIsCharacterPointer =
    std::is_same_v<std::remove_cv_t<std::remove_pointer_t<T>>, char> ||
    std::is_same_v<std::remove_cv_t<std::remove_pointer_t<T>>, wchar_t>;

template <typename T>
concept WideText = std::is_convertible_v<const T&, std::wstring_view>;

template <typename T>
concept Insertable = requires(std::ostream& out, const T& value) {
  out << value;
};

}  // namespace internal

// What a log statement writes to: values as std::ostream inserts them, and
// wide (UTF-16) text as UTF-8. A null C string, narrow or wide, writes nothing
// and leaves the stream good. Refers to, does not own, the ostream.
class LogStream {
 public:
  explicit LogStream(std::ostream& out) : out_(out) {}
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  template <typename T>
  requires(internal::WideText<T> || internal::Insertable<T>) LogStream& operator<<(const T& value) {
    if constexpr (std::is_pointer_v<T> && internal::kIsCharacterPointer<T>) {
      if (!value)
        return *this;
    }
    if constexpr (internal::WideText<T>)
      WriteWide(std::wstring_view(value));
    else
      out_ << value;
    return *this;
  }
  LogStream& operator<<(std::ostream& (*manipulator)(std::ostream&)) {
    out_ << manipulator;
    return *this;
  }

 private:
  void WriteWide(std::wstring_view text);

  std::ostream& out_;
};

// One log statement: composes the prefix at construction, collects the text
// through stream(), writes the line at destruction (and for FATAL ends the
// process there). Saves the thread's last-error code first and restores it
// last.
class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  // A failed CHECK: FATAL, text "Check failed: <condition>. ".
  LogMessage(const char* file, int line, const char* condition);
  // A failed comparison CHECK: FATAL, text "Check failed: " + *result. Takes
  // ownership of `result` and frees it.
  LogMessage(const char* file, int line, std::string* result);
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;
  ~LogMessage();

  LogStream& stream() { return log_stream_; }
  LogSeverity severity() const { return severity_; }
  // The text composed so far, prefix included.
  std::string str() const { return stream_.str(); }

 private:
  LogMessage(const char* file, int line, LogSeverity severity, uint32_t saved_error);
  void Init();

  LogSeverity severity_;
  std::ostringstream stream_;
  LogStream log_stream_{stream_};
  size_t message_start_ = 0;
  const char* file_;
  int line_;
  uint32_t last_error_;
};

// A LogMessage that, at destruction, appends ": " and SystemErrorText(err)
// before the line is written. Pass the last-error code read right before.
class SystemErrorLogMessage {
 public:
  SystemErrorLogMessage(const char* file, int line, LogSeverity severity, uint32_t err);
  SystemErrorLogMessage(const SystemErrorLogMessage&) = delete;
  SystemErrorLogMessage& operator=(const SystemErrorLogMessage&) = delete;
  ~SystemErrorLogMessage();

  LogStream& stream() { return log_message_.stream(); }

 private:
  uint32_t err_;
  LogMessage log_message_;
};

// Makes "cond ? (void)0 : voidify & stream << ..." well-typed.
struct LogMessageVoidify {
  void operator&(LogStream&) {}
};

// How a value appears in a comparison CHECK: its stream insertion, except
// that pointers and handles use eight upper-case hexadecimal digits, enums
// their underlying value and types without insertion a placeholder.
template <typename T>
void WriteCheckOpValue(std::ostream& os, const T& value) {
  if constexpr (std::is_same_v<T, std::nullptr_t>) {
    os << "nullptr";
  } else if constexpr (std::is_pointer_v<T> && !internal::kIsCharacterPointer<T>) {
    const std::ios_base::fmtflags flags = os.flags();
    const char fill = os.fill();
    os << std::hex << std::uppercase;
    os.fill('0');
    os.width(static_cast<std::streamsize>(sizeof(void*) * 2));
    os << reinterpret_cast<uintptr_t>(value);
    os.flags(flags);
    os.fill(fill);
  } else if constexpr (std::is_enum_v<T>) {
    os << static_cast<std::underlying_type_t<T>>(value);
  } else if constexpr (internal::WideText<T> || internal::Insertable<T>) {
    LogStream(os) << value;
  } else {
    os << "<unprintable value>";
  }
}

// names + " (" + v1 + " vs. " + v2 + ")", on the heap for LogMessage.
template <typename T1, typename T2>
std::string* CheckOpMessage(const T1& v1, const T2& v2, const char* names) {
  std::ostringstream ss;
  ss << names << " (";
  WriteCheckOpValue(ss, v1);
  ss << " vs. ";
  WriteCheckOpValue(ss, v2);
  ss << ")";
  return new std::string(ss.str());
}

namespace internal {

// Integers of different signedness compare by value (-1 < 0u holds), so a
// comparison CHECK never flips on an implicit conversion.
template <typename T>
constexpr bool kIsCmpInteger =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    !std::is_same_v<T, wchar_t> && !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> &&
    !std::is_same_v<T, char32_t>;

template <typename A, typename B>
constexpr bool kBothCmpIntegers = kIsCmpInteger<A>&& kIsCmpInteger<B>;

}  // namespace internal

#define BASE_DEFINE_CHECK_OP_IMPL(name, op, cmp)                                         \
  template <typename T1, typename T2>                                                    \
  inline std::string* Check##name##Impl(const T1& v1, const T2& v2, const char* names) { \
    bool ok;                                                                             \
    if constexpr (internal::kBothCmpIntegers<T1, T2>)                                    \
      ok = cmp(v1, v2);                                                                  \
    else                                                                                 \
      ok = (v1 op v2);                                                                   \
    if (ok) [[likely]]                                                                   \
      return nullptr;                                                                    \
    return CheckOpMessage(v1, v2, names);                                                \
  }
BASE_DEFINE_CHECK_OP_IMPL(EQ, ==, std::cmp_equal)
BASE_DEFINE_CHECK_OP_IMPL(NE, !=, std::cmp_not_equal)
BASE_DEFINE_CHECK_OP_IMPL(LE, <=, std::cmp_less_equal)
BASE_DEFINE_CHECK_OP_IMPL(LT, <, std::cmp_less)
BASE_DEFINE_CHECK_OP_IMPL(GE, >=, std::cmp_greater_equal)
BASE_DEFINE_CHECK_OP_IMPL(GT, >, std::cmp_greater)
#undef BASE_DEFINE_CHECK_OP_IMPL

}  // namespace logging

#define LAZY_STREAM(stream, condition) \
  !(condition) ? (void)0 : ::logging::LogMessageVoidify() & (stream)

#define LOG_IS_ON(severity) (::logging::IsLogEnabled(::logging::LOG_##severity))
#define VLOG_IS_ON(verboselevel) \
  ((verboselevel) <= ::logging::GetVerboseLevel(__FILE__, sizeof(__FILE__) - 1))

#define LOG_STREAM(severity) \
  ::logging::LogMessage(__FILE__, __LINE__, ::logging::LOG_##severity).stream()

#define LOG(severity) LAZY_STREAM(LOG_STREAM(severity), LOG_IS_ON(severity))
#define LOG_IF(severity, condition) \
  LAZY_STREAM(LOG_STREAM(severity), LOG_IS_ON(severity) && (condition))

// The _AT forms of LOG and the CHECKs report `line` instead of the line the
// statement stands on: for messages whose source line readers of the log or
// of crash reports rely on. State such lines as named constants next to the
// code (one small table per file), so that the file can be edited freely.
#define LOG_AT(severity, line)                                                             \
  LAZY_STREAM(::logging::LogMessage(__FILE__, (line), ::logging::LOG_##severity).stream(), \
              LOG_IS_ON(severity))

#define VLOG(verboselevel)                                                         \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, -(verboselevel)).stream(), \
              VLOG_IS_ON(verboselevel))
#define VLOG_IF(verboselevel, condition)                                           \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, -(verboselevel)).stream(), \
              VLOG_IS_ON(verboselevel) && (condition))

// The thread's last-error code is read before the message is composed.
#define PLOG_STREAM(severity)                                                     \
  ::logging::SystemErrorLogMessage(__FILE__, __LINE__, ::logging::LOG_##severity, \
                                   ::logging::GetLastSystemErrorCode())           \
      .stream()
#define PLOG(severity) LAZY_STREAM(PLOG_STREAM(severity), LOG_IS_ON(severity))
#define PLOG_IF(severity, condition) \
  LAZY_STREAM(PLOG_STREAM(severity), LOG_IS_ON(severity) && (condition))

// Always on, in every build: a false condition is a FATAL message
// "Check failed: <condition>. " followed by the streamed text.
#define CHECK(condition) CHECK_AT(condition, __LINE__)
#define CHECK_AT(condition, line) \
  LAZY_STREAM(::logging::LogMessage(__FILE__, (line), #condition).stream(), !(condition))

// As CHECK, with ": <text of GetLastError()>" appended.
#define PCHECK(condition) PCHECK_AT(condition, __LINE__)
#define PCHECK_AT(condition, line)                                                     \
  LAZY_STREAM(::logging::SystemErrorLogMessage(__FILE__, (line), ::logging::LOG_FATAL, \
                                               ::logging::GetLastSystemErrorCode())    \
                  .stream(),                                                           \
              !(condition))                                                            \
      << "Check failed: " #condition ". "

// Each operand is evaluated once. On failure the message is
// "Check failed: val1 op val2 (v1 vs. v2). " followed by the streamed text.
#define CHECK_OP(name, op, val1, val2) CHECK_OP_AT(name, op, val1, val2, __LINE__)
#define CHECK_OP_AT(name, op, val1, val2, line)                                    \
  switch (0)                                                                       \
  case 0:                                                                          \
  default:                                                                         \
    if (std::string* _check_op_result =                                            \
            ::logging::Check##name##Impl((val1), (val2), #val1 " " #op " " #val2); \
        !_check_op_result) {                                                       \
    } else                                                                         \
      ::logging::LogMessage(__FILE__, (line), _check_op_result).stream()

#define CHECK_EQ(val1, val2) CHECK_OP(EQ, ==, val1, val2)
#define CHECK_NE(val1, val2) CHECK_OP(NE, !=, val1, val2)
#define CHECK_LE(val1, val2) CHECK_OP(LE, <=, val1, val2)
#define CHECK_LT(val1, val2) CHECK_OP(LT, <, val1, val2)
#define CHECK_GE(val1, val2) CHECK_OP(GE, >=, val1, val2)
#define CHECK_GT(val1, val2) CHECK_OP(GT, >, val1, val2)
#define CHECK_EQ_AT(val1, val2, line) CHECK_OP_AT(EQ, ==, val1, val2, line)
#define CHECK_NE_AT(val1, val2, line) CHECK_OP_AT(NE, !=, val1, val2, line)
#define CHECK_LT_AT(val1, val2, line) CHECK_OP_AT(LT, <, val1, val2, line)

// Checks for debug builds only. In release builds (NDEBUG) the operands are
// compiled but never evaluated.
#if defined(NDEBUG)
#define DCHECK_IS_ON() 0
#define DCHECK(condition) \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, #condition).stream(), false && !(condition))
#define DCHECK_OP(name, op, val1, val2) \
  while (false)                         \
  CHECK_OP(name, op, val1, val2)
#else
#define DCHECK_IS_ON() 1
#define DCHECK(condition) CHECK(condition)
#define DCHECK_OP(name, op, val1, val2) CHECK_OP(name, op, val1, val2)
#endif
#define DCHECK_EQ(val1, val2) DCHECK_OP(EQ, ==, val1, val2)
#define DCHECK_NE(val1, val2) DCHECK_OP(NE, !=, val1, val2)
#define DCHECK_LE(val1, val2) DCHECK_OP(LE, <=, val1, val2)
#define DCHECK_LT(val1, val2) DCHECK_OP(LT, <, val1, val2)
#define DCHECK_GE(val1, val2) DCHECK_OP(GE, >=, val1, val2)
#define DCHECK_GT(val1, val2) DCHECK_OP(GT, >, val1, val2)

// Code that must never run: a failed CHECK with the condition "false".
#define NOTREACHED() CHECK(false)

#endif  // BASE_LOGGING_H_
