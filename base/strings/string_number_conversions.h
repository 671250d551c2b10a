#ifndef BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
#define BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// Decimal text of a number ("-12", "0"). Never fails.
std::string NumberToString(int value);
std::string NumberToString(unsigned int value);
std::string NumberToString(long value);
std::string NumberToString(unsigned long value);
std::string NumberToString(long long value);
std::string NumberToString(unsigned long long value);
std::string NumberToString(double value);
std::wstring NumberToWString(int value);
std::wstring NumberToWString(unsigned int value);
std::wstring NumberToWString(long long value);
std::wstring NumberToWString(unsigned long long value);

// Strict decimal parsing. True only when the whole text is an optional "-" or
// "+" and then one or more digits 0-9, in range. Otherwise false, and `*output`
// still carries the best effort:
//  - leading white space (C `isspace`) is skipped but makes the result false;
//  - the digits before the first non-digit (including trailing white space)
//    are kept, so " 42" and "42 " both give 42 and false;
//  - out of range gives the nearest limit ("2147483648" gives 2147483647) and
//    false; no digits give 0 and false.
// Unsigned forms reject a "-" with output 0.
[[nodiscard]] bool StringToInt(StringPiece input, int* output);
[[nodiscard]] bool StringToInt(StringPiece16 input, int* output);
[[nodiscard]] bool StringToUint(StringPiece input, unsigned* output);
[[nodiscard]] bool StringToInt64(StringPiece input, int64_t* output);
[[nodiscard]] bool StringToInt64(StringPiece16 input, int64_t* output);
[[nodiscard]] bool StringToUint64(StringPiece input, uint64_t* output);
[[nodiscard]] bool StringToSizeT(StringPiece input, size_t* output);

// Upper-case hex digits of `size` bytes at `bytes`, two per byte.
std::string HexEncode(const void* bytes, size_t size);

}  // namespace base

#endif  // BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
