#ifndef BASE_STRINGS_STRING_UTIL_H_
#define BASE_STRINGS_STRING_UTIL_H_

#include <stddef.h>

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// The 25 Unicode white-space units (U+0009-U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000), NUL-ended.
extern const wchar_t kWhitespaceWide[];
extern const wchar_t kWhitespaceUTF16[];
// The six ASCII white-space bytes "\t\n\v\f\r ", NUL-ended.
extern const char kWhitespaceASCII[];
extern const wchar_t kWhitespaceASCIIAs16[];

// Which ends a trim removes, or removed (bit set).
enum TrimPositions {
  TRIM_NONE = 0,
  TRIM_LEADING = 1 << 0,
  TRIM_TRAILING = 1 << 1,
  TRIM_ALL = TRIM_LEADING | TRIM_TRAILING,
};

enum class CompareCase {
  SENSITIVE = 0,
  INSENSITIVE_ASCII = 1,
};

// True when no byte has bit 0x80 set (narrow) or no unit has a bit of 0xFF80
// set (wide). An empty text is ASCII.
bool IsStringASCII(StringPiece str);
bool IsStringASCII(StringPiece16 str);

// True for the six ASCII white-space bytes; bytes above 0x7F never count.
inline bool IsAsciiWhitespace(unsigned int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
// True for the 25 units of kWhitespaceWide.
bool IsUnicodeWhitespace(wchar_t c);

inline char ToLowerASCII(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}
inline char ToUpperASCII(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}
inline wchar_t ToLowerASCII(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}
inline wchar_t ToUpperASCII(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}
// New strings in which only A-Z (or a-z) changed, by 0x20; other bytes and
// units, including non-ASCII ones, are copied unchanged.
std::string ToLowerASCII(StringPiece str);
std::string ToUpperASCII(StringPiece str);
std::wstring ToLowerASCII(StringPiece16 str);
std::wstring ToUpperASCII(StringPiece16 str);

// True when the views have equal length and equal units after mapping A-Z to
// a-z; other units must match exactly.
bool EqualsCaseInsensitiveASCII(StringPiece16 a, StringPiece16 b);
bool EqualsCaseInsensitiveASCII(StringPiece a, StringPiece b);

// False when `search_for` is longer than `str`; otherwise the first units of
// `str` compared with `search_for` exactly or ASCII-case-insensitively.
bool StartsWith(StringPiece16 str,
                StringPiece16 search_for,
                CompareCase case_sensitivity = CompareCase::SENSITIVE);
bool StartsWith(StringPiece str,
                StringPiece search_for,
                CompareCase case_sensitivity = CompareCase::SENSITIVE);
bool EndsWith(StringPiece16 str,
              StringPiece16 search_for,
              CompareCase case_sensitivity = CompareCase::SENSITIVE);
bool EndsWith(StringPiece str,
              StringPiece search_for,
              CompareCase case_sensitivity = CompareCase::SENSITIVE);

// Removes Unicode white space at the requested ends of `input` into `*output`
// (which may be `&input`) and returns the ends where something was removed.
// An all-white-space input gives an empty output and returns `positions`; an
// empty input returns TRIM_NONE.
TrimPositions TrimWhitespace(const std::wstring& input,
                             TrimPositions positions,
                             std::wstring* output);
// The same with the ASCII white-space set, on narrow text.
TrimPositions TrimWhitespaceASCII(const std::string& input,
                                  TrimPositions positions,
                                  std::string* output);
// View forms: the trimmed part of `input` (empty when all is trimmed).
StringPiece16 TrimWhitespace(StringPiece16 input, TrimPositions positions);
StringPiece TrimWhitespaceASCII(StringPiece input, TrimPositions positions);

// Removes the units of `trim_chars` at the requested ends and returns the rest
// of `input` (empty when all is trimmed).
StringPiece TrimString(StringPiece input, StringPiece trim_chars, TrimPositions positions);
StringPiece16 TrimString(StringPiece16 input, StringPiece16 trim_chars, TrimPositions positions);
// Owning forms; `*output` may be the input. True when something was removed.
bool TrimString(const std::string& input, StringPiece trim_chars, std::string* output);
bool TrimString(const std::wstring& input, StringPiece16 trim_chars, std::wstring* output);

// Replaces every run of ASCII white space by one blank and drops leading and
// trailing white space; with `trim_sequences_with_line_breaks`, a run that
// contains CR or LF is removed entirely. "  a \r\n b  c " gives "ab c" with
// and "a b c" without line-break trimming.
std::string CollapseWhitespaceASCII(StringPiece text, bool trim_sequences_with_line_breaks);
// The same over UTF-16 with the Unicode white-space set (line breaks are
// still CR and LF only).
std::wstring CollapseWhitespace(StringPiece16 text, bool trim_sequences_with_line_breaks);

// Copies `src` into `dst` up to and including its NUL while fewer than
// `dst_size` bytes have been copied; a longer source is cut and NUL-ended in
// the last byte (size 0 writes nothing). Returns the length of `src`; a result
// of `dst_size` or more means truncation.
size_t strlcpy(char* dst, const char* src, size_t dst_size);

}  // namespace base

#endif  // BASE_STRINGS_STRING_UTIL_H_
