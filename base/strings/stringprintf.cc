#include "base/strings/stringprintf.h"

#include <stdio.h>

#include <vector>

namespace base {

namespace {

constexpr int kFirstBufferSize = 1024;
// Longer texts are dropped rather than risking an unbounded allocation.
constexpr size_t kMaxBufferSize = 32 * 1024 * 1024;

// The C runtime's bounded formatter; the result is the full length of the
// formatted text even when it did not fit, or negative on a format error.
int FormatBounded(char* buffer, size_t size, const char* format, va_list ap) {
  va_list ap_copy;
  va_copy(ap_copy, ap);
  int result = vsnprintf(buffer, size, format, ap_copy);
  va_end(ap_copy);
  return result;
}

}  // namespace

void StringAppendV(std::string* dst, const char* format, va_list ap) {
  char stack_buf[kFirstBufferSize];
  int result = FormatBounded(stack_buf, sizeof(stack_buf), format, ap);
  if (result < 0)
    return;
  if (result < kFirstBufferSize) {
    dst->append(stack_buf, static_cast<size_t>(result));
    return;
  }
  for (;;) {
    size_t size = static_cast<size_t>(result) + 1;
    if (size > kMaxBufferSize)
      return;
    std::vector<char> buffer(size);
    result = FormatBounded(buffer.data(), size, format, ap);
    if (result < 0)
      return;
    if (static_cast<size_t>(result) < size) {
      dst->append(buffer.data(), static_cast<size_t>(result));
      return;
    }
  }
}

void StringAppendF(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  StringAppendV(dst, format, ap);
  va_end(ap);
}

std::string StringPrintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string result;
  StringAppendV(&result, format, ap);
  va_end(ap);
  return result;
}

}  // namespace base
