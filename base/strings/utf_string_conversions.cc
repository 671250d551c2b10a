#include "base/strings/utf_string_conversions.h"

#include <stdint.h>

#include "base/strings/string_util.h"

namespace base {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Decodes one code point at `src[*i]` and advances `*i` past it. An invalid
// or truncated sequence consumes its maximal subpart (the longest prefix that
// could begin a well-formed sequence, at least one byte) and gives -1.
int32_t DecodeUTF8(const unsigned char* src, size_t len, size_t* i) {
  unsigned char lead = src[*i];
  ++*i;
  if (lead < 0x80)
    return lead;
  int trail_count;
  uint32_t cp;
  // The allowed range of the first trail byte depends on the lead; it rules
  // out over-long forms, surrogates and values above U+10FFFF.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail_count = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail_count = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0)
      low = 0xA0;
    else if (lead == 0xED)
      high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail_count = 3;
    cp = lead & 0x07;
    if (lead == 0xF0)
      low = 0x90;
    else if (lead == 0xF4)
      high = 0x8F;
  } else {
    return -1;
  }
  for (int t = 0; t < trail_count; ++t) {
    if (*i >= len)
      return -1;
    unsigned char c = src[*i];
    if (c < low || c > high)
      return -1;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (c & 0x3F);
    ++*i;
  }
  return static_cast<int32_t>(cp);
}

}  // namespace

bool UTF8ToWide(const char* src, size_t src_len, std::wstring* output) {
  if (IsStringASCII(StringPiece(src, src_len))) {
    output->resize(src_len);
    for (size_t i = 0; i < src_len; ++i)
      (*output)[i] = static_cast<wchar_t>(src[i]);
    return true;
  }
  // Every byte gives at most one unit, and a four-byte sequence two.
  output->resize(src_len);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(src);
  size_t written = 0;
  bool valid = true;
  size_t i = 0;
  while (i < src_len) {
    int32_t cp = DecodeUTF8(bytes, src_len, &i);
    if (cp < 0) {
      valid = false;
      (*output)[written++] = static_cast<wchar_t>(kReplacement);
    } else if (cp > 0xFFFF) {
      uint32_t v = static_cast<uint32_t>(cp) - 0x10000;
      (*output)[written++] = static_cast<wchar_t>(0xD800 + (v >> 10));
      (*output)[written++] = static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
    } else {
      (*output)[written++] = static_cast<wchar_t>(cp);
    }
  }
  output->resize(written);
  return valid;
}

std::wstring UTF8ToWide(StringPiece utf8) {
  std::wstring result;
  UTF8ToWide(utf8.data(), utf8.size(), &result);
  return result;
}

bool WideToUTF8(const wchar_t* src, size_t src_len, std::string* output) {
  if (IsStringASCII(StringPiece16(src, src_len))) {
    output->resize(src_len);
    for (size_t i = 0; i < src_len; ++i)
      (*output)[i] = static_cast<char>(src[i]);
    return true;
  }
  output->resize(src_len * 3);
  size_t written = 0;
  bool valid = true;
  for (size_t i = 0; i < src_len; ++i) {
    uint32_t cp = static_cast<uint16_t>(src[i]);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      uint32_t next = i + 1 < src_len ? static_cast<uint16_t>(src[i + 1]) : 0;
      if (cp <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      } else {
        cp = kReplacement;
        valid = false;
      }
    }
    char* out = &(*output)[written];
    if (cp < 0x80) {
      out[0] = static_cast<char>(cp);
      written += 1;
    } else if (cp < 0x800) {
      out[0] = static_cast<char>(0xC0 | (cp >> 6));
      out[1] = static_cast<char>(0x80 | (cp & 0x3F));
      written += 2;
    } else if (cp < 0x10000) {
      out[0] = static_cast<char>(0xE0 | (cp >> 12));
      out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out[2] = static_cast<char>(0x80 | (cp & 0x3F));
      written += 3;
    } else {
      // Two input units give these four bytes, within the 3-per-unit reserve.
      out[0] = static_cast<char>(0xF0 | (cp >> 18));
      out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out[3] = static_cast<char>(0x80 | (cp & 0x3F));
      written += 4;
    }
  }
  output->resize(written);
  return valid;
}

std::string WideToUTF8(StringPiece16 wide) {
  std::string result;
  WideToUTF8(wide.data(), wide.size(), &result);
  return result;
}

std::wstring ASCIIToWide(StringPiece ascii) {
  std::wstring result(ascii.size(), L'\0');
  for (size_t i = 0; i < ascii.size(); ++i)
    result[i] = static_cast<wchar_t>(ascii.data()[i]);
  return result;
}

std::string UTF16ToASCII(StringPiece16 utf16) {
  std::string result(utf16.size(), '\0');
  for (size_t i = 0; i < utf16.size(); ++i)
    result[i] = static_cast<char>(utf16.data()[i]);
  return result;
}

}  // namespace base
