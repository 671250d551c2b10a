#ifndef BASE_STRINGS_STRINGPRINTF_H_
#define BASE_STRINGS_STRINGPRINTF_H_

#include <stdarg.h>

#include <string>

namespace base {

// printf-style formatting with the C runtime's directives into a new string.
// A format error gives an empty string; a text longer than 32 MiB is dropped.
[[nodiscard]] std::string StringPrintf(const char* format, ...)
    __attribute__((format(gnu_printf, 1, 2)));

// Appends the formatted text to `*dst`. On a format error, or when the text
// would exceed 32 MiB, `*dst` is left unchanged. Texts of any length below
// that limit are appended whole.
void StringAppendF(std::string* dst, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));
void StringAppendV(std::string* dst, const char* format, va_list ap)
    __attribute__((format(gnu_printf, 2, 0)));

}  // namespace base

#endif  // BASE_STRINGS_STRINGPRINTF_H_
