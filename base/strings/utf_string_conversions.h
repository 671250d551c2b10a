#ifndef BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSIONS_H_

#include <stddef.h>

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// Conversions between UTF-8 (narrow) and UTF-16 (wide, `std::wstring`). They
// never fail outright: every invalid or truncated sequence, unpaired surrogate
// or code point outside Unicode becomes one U+FFFD, the output is complete,
// and the boolean result is false when any replacement happened. Reentrant.
//
// UTF-8 input accepts the shortest form only; each maximal prefix that could
// begin a valid sequence is replaced as one error (so 0xE2 0x82 "A" gives
// U+FFFD "A", and the over-long 0xC0 0xAF gives two U+FFFD).
bool UTF8ToWide(const char* src, size_t src_len, std::wstring* output);
std::wstring UTF8ToWide(StringPiece utf8);
// A lead surrogate followed by a trail surrogate is one supplementary code
// point; any other surrogate unit becomes U+FFFD (EF BF BD).
bool WideToUTF8(const wchar_t* src, size_t src_len, std::string* output);
std::string WideToUTF8(StringPiece16 wide);

// Each byte becomes one unit; meant for ASCII. A byte above 0x7F is
// sign-extended (0xE9 becomes U+FFE9).
std::wstring ASCIIToWide(StringPiece ascii);
// Each unit becomes its low 8 bits; meant for ASCII.
std::string UTF16ToASCII(StringPiece16 utf16);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
