#include <stdio.h>

#include <iterator>

#include "base/logging.h"
#include "base/logging_internal.h"
#include "base/platform/windows_types.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace logging {

namespace {

constexpr wchar_t kDebugLogFileName[] = L"debug.log";
// MAX_PATH, the buffer size of both path look-ups.
constexpr DWORD kPathBufferSize = 260;

// The log file name, created on first need, and the handle. The handle is
// owned here alone: ScopedHandle sits above logging (its verifier logs), so
// logging keeps the raw handle and closes it in CloseLogFile only. Neither is
// ever freed; the handle stays open until the process ends.
std::wstring* g_log_file_name = nullptr;
HANDLE g_log_file = nullptr;

HANDLE OpenForAppend(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// "debug.log" in the current directory, or false when the directory cannot be
// read into a MAX_PATH buffer.
bool CurrentDirectoryDebugLogPath(std::wstring* path) {
  wchar_t directory[kPathBufferSize];
  const DWORD length = GetCurrentDirectoryW(kPathBufferSize, directory);
  if (length == 0 || length >= kPathBufferSize)
    return false;
  path->assign(directory, length);
  if (path->back() != L'\\')
    path->push_back(L'\\');
  path->append(kDebugLogFileName);
  return true;
}

}  // namespace

uint32_t GetLastSystemErrorCode() {
  return GetLastError();
}

// The wide call and a conversion: the ANSI form would give the text in the
// user's code page (GBK on Chinese systems), while every log line is UTF-8.
std::string SystemErrorText(uint32_t error_code) {
  const DWORD saved_error = GetLastError();
  wchar_t buffer[256];
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     error_code, 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  const DWORD format_error = GetLastError();
  char code_text[96];
  std::string result;
  if (length) {
    // Bytes of multi-byte sequences are never ASCII white space, so collapsing
    // the UTF-8 text leaves them intact.
    result =
        base::CollapseWhitespaceASCII(base::WideToUTF8(base::StringPiece16(buffer, length)), true);
    snprintf(code_text, sizeof(code_text), " (0x%lX)", static_cast<unsigned long>(error_code));
  } else {
    snprintf(code_text, sizeof(code_text), "Error (0x%lX) while retrieving error. (0x%lX)",
             static_cast<unsigned long>(format_error), static_cast<unsigned long>(error_code));
  }
  result += code_text;
  SetLastError(saved_error);
  return result;
}

namespace internal {

LocalTimeFields GetLocalTimeFields() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  return {local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds};
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

uint32_t CurrentThreadId() {
  return GetCurrentThreadId();
}

std::string UserName() {
  // The ANSI forms (getenv) would give the name in the user's code page.
  std::wstring value(64, L'\0');
  while (true) {
    const DWORD length =
        GetEnvironmentVariableW(L"USERNAME", value.data(), static_cast<DWORD>(value.size()));
    if (length < value.size()) {  // 0 when absent
      value.resize(length);
      return base::WideToUTF8(value);
    }
    value.resize(length);  // the size needed, terminator included
  }
}

void SetLastSystemErrorCode(uint32_t code) {
  SetLastError(code);
}

void SetLogFileName(const wchar_t* path) {
  if (!g_log_file_name)
    g_log_file_name = new std::wstring();
  g_log_file_name->assign(path);
}

std::wstring GetLogFileName() {
  return g_log_file_name ? *g_log_file_name : std::wstring();
}

void DeleteLogFile(const std::wstring& path) {
  DeleteFileW(path.c_str());
}

void CloseLogFile() {
  if (!g_log_file)
    return;
  CloseHandle(g_log_file);
  g_log_file = nullptr;
}

bool DebugLogPathFromModulePath(const wchar_t* module_path,
                                uint32_t result,
                                uint32_t buffer_size,
                                std::wstring* log_path) {
  // 0 is a failure; a result equal to the buffer size means the path was cut.
  if (result == 0 || result >= buffer_size)
    return false;
  std::wstring path(module_path, result);
  const size_t last_backslash = path.rfind(L'\\');
  path.erase(last_backslash == std::wstring::npos ? 0 : last_backslash + 1);
  path.append(kDebugLogFileName);
  *log_path = std::move(path);
  return true;
}

bool OpenLogFile() {
  if (g_log_file)
    return true;
  bool have_name = g_log_file_name != nullptr;
  if (!have_name) {
    wchar_t module_path[kPathBufferSize];
    const DWORD length = GetModuleFileNameW(nullptr, module_path, kPathBufferSize);
    std::wstring default_name;
    if (DebugLogPathFromModulePath(module_path, length, kPathBufferSize, &default_name)) {
      SetLogFileName(default_name.c_str());
      have_name = true;
    }
  }
  if (!(GetLoggingDestination() & LOG_TO_FILE))
    return true;
  if (have_name) {
    g_log_file = OpenForAppend(*g_log_file_name);
    if (g_log_file)
      return true;
  }
  // Neither the configured nor the default place works (or the executable's
  // path could not be read): "debug.log" in the current directory becomes
  // the name for good.
  std::wstring fallback;
  if (!CurrentDirectoryDebugLogPath(&fallback))
    return false;
  SetLogFileName(fallback.c_str());
  g_log_file = OpenForAppend(*g_log_file_name);
  return g_log_file != nullptr;
}

void WriteToLogFile(const std::string& text) {
  DWORD written = 0;
  if (WriteFile(g_log_file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
    return;
  const DWORD error = GetLastError();
  CloseLogFile();
  const std::string note = text + " WriteFile failed: " + std::to_string(error) + "\n";
  if (OpenLogFile())
    WriteFile(g_log_file, note.data(), static_cast<DWORD>(note.size()), &written, nullptr);
}

void WriteToSystemDebugLog(const std::string& text) {
  OutputDebugStringA(text.c_str());
}

}  // namespace internal

}  // namespace logging
