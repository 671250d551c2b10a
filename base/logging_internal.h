#ifndef BASE_LOGGING_INTERNAL_H_
#define BASE_LOGGING_INTERNAL_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

// The platform side of logging (logging_win.cc), used by logging.cc and the
// tests. Not thread-safe, like the rest of the facility.

namespace logging::internal {

// The destination bit set (LOG_TO_FILE until InitializeLogging stores one).
uint32_t GetLoggingDestination();
void SetLoggingDestination(uint32_t destination);

// Local wall-clock time split into its fields.
struct LocalTimeFields {
  int month;
  int day;
  int hour;
  int minute;
  int second;
  int millisecond;
};
LocalTimeFields GetLocalTimeFields();
// "MMDD/HH:MM:SS.mmm", every field zero-padded.
std::string FormatTimestamp(const LocalTimeFields& time);
uint32_t CurrentProcessId();
uint32_t CurrentThreadId();
// The value of the environment variable USERNAME, read through the wide call
// and converted to UTF-8; empty when it is absent.
std::string UserName();
void SetLastSystemErrorCode(uint32_t code);

// Replaces the log file name (creating the holder on first use).
void SetLogFileName(const wchar_t* path);
// The current log file name; empty before one is set.
std::wstring GetLogFileName();
// Deletes the file at `path`; the result is ignored.
void DeleteLogFile(const std::wstring& path);
// Closes the log file handle if one is open.
void CloseLogFile();
// Opens the log file unless it is open: the configured name, by default
// "debug.log" beside the executable, and on failure "debug.log" in the current
// directory (which then stays the name). True when open, or when the
// destination does not include the file.
bool OpenLogFile();
// Writes `text` to the open log file in one call; on failure closes the file,
// reopens it and writes the text followed by the failure note.
void WriteToLogFile(const std::string& text);
// OutputDebugStringA of `text`.
void WriteToSystemDebugLog(const std::string& text);

// The default log file name from a GetModuleFileNameW result: the directory
// of `module_path` (through its last backslash) followed by "debug.log".
// `result` is the call's return value for a buffer of `buffer_size`
// characters; 0 (failure) and `buffer_size` (truncated) give false and leave
// `*log_path` alone.
bool DebugLogPathFromModulePath(const wchar_t* module_path,
                                uint32_t result,
                                uint32_t buffer_size,
                                std::wstring* log_path);

}  // namespace logging::internal

#endif  // BASE_LOGGING_INTERNAL_H_
