#include "base/strings/string_number_conversions.h"

#include <ctype.h>
#include <stdio.h>
#include <wctype.h>

#include <charconv>
#include <limits>

namespace base {

namespace {

// White space as the C runtime's `isspace` sees it, always given the byte as
// an unsigned char (a negative char would be undefined behaviour).
bool IsSpace(char c) {
  return isspace(static_cast<unsigned char>(c)) != 0;
}
bool IsSpace(wchar_t c) {
  return iswspace(static_cast<wint_t>(c)) != 0;
}

// The shared decimal parser; see the header for the results.
template <typename T, typename CharT>
bool StringToIntT(BasicStringPiece<CharT> input, T* output) {
  const CharT* p = input.data();
  const CharT* end = p + input.size();
  bool valid = true;
  while (p != end && IsSpace(*p)) {
    valid = false;
    ++p;
  }
  bool negative = false;
  if (p != end && *p == '-') {
    negative = true;
    ++p;
  } else if (p != end && *p == '+') {
    ++p;
  }
  *output = 0;
  if (p == end)
    return false;
  constexpr T kMax = std::numeric_limits<T>::max();
  constexpr T kMin = std::numeric_limits<T>::min();
  T value = 0;
  for (; p != end; ++p) {
    if (*p < '0' || *p > '9')
      return false;
    T digit = static_cast<T>(*p - '0');
    if (!negative) {
      if (value > kMax / 10 || (value == kMax / 10 && digit > kMax % 10)) {
        *output = kMax;
        return false;
      }
      value = static_cast<T>(value * 10 + digit);
    } else {
      // For signed T, kMin % 10 is negative (truncating division).
      if (value < kMin / 10 || (value == kMin / 10 && digit > static_cast<T>(-(kMin % 10)))) {
        *output = kMin;
        return false;
      }
      value = static_cast<T>(value * 10 - digit);
    }
    *output = value;
  }
  return valid;
}

template <typename T>
std::string ToChars(T value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

template <typename T>
std::wstring ToWChars(T value) {
  std::string narrow = ToChars(value);
  return std::wstring(narrow.begin(), narrow.end());
}

}  // namespace

std::string NumberToString(int value) {
  return ToChars(value);
}
std::string NumberToString(unsigned int value) {
  return ToChars(value);
}
std::string NumberToString(long value) {
  return ToChars(value);
}
std::string NumberToString(unsigned long value) {
  return ToChars(value);
}
std::string NumberToString(long long value) {
  return ToChars(value);
}
std::string NumberToString(unsigned long long value) {
  return ToChars(value);
}
std::string NumberToString(double value) {
  return ToChars(value);
}
std::wstring NumberToWString(int value) {
  return ToWChars(value);
}
std::wstring NumberToWString(unsigned int value) {
  return ToWChars(value);
}
std::wstring NumberToWString(long long value) {
  return ToWChars(value);
}
std::wstring NumberToWString(unsigned long long value) {
  return ToWChars(value);
}

bool StringToInt(StringPiece input, int* output) {
  return StringToIntT(input, output);
}
bool StringToInt(StringPiece16 input, int* output) {
  return StringToIntT(input, output);
}
bool StringToUint(StringPiece input, unsigned* output) {
  return StringToIntT(input, output);
}
bool StringToInt64(StringPiece input, int64_t* output) {
  return StringToIntT(input, output);
}
bool StringToInt64(StringPiece16 input, int64_t* output) {
  return StringToIntT(input, output);
}
bool StringToUint64(StringPiece input, uint64_t* output) {
  return StringToIntT(input, output);
}
bool StringToSizeT(StringPiece input, size_t* output) {
  return StringToIntT(input, output);
}

std::string HexEncode(const void* bytes, size_t size) {
  static const char kHexChars[] = "0123456789ABCDEF";
  const unsigned char* b = static_cast<const unsigned char*>(bytes);
  std::string result(size * 2, '\0');
  for (size_t i = 0; i < size; ++i) {
    result[i * 2] = kHexChars[b[i] >> 4];
    result[i * 2 + 1] = kHexChars[b[i] & 0xF];
  }
  return result;
}

}  // namespace base
