#include "base/strings/string_util.h"

#include <stdint.h>
#include <string.h>

#include <type_traits>

namespace base {

#define WHITESPACE_UNICODE_UNITS                                                                  \
  0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, \
      0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F,     \
      0x205F, 0x3000

const wchar_t kWhitespaceWide[] = {WHITESPACE_UNICODE_UNITS, 0};
const wchar_t kWhitespaceUTF16[] = {WHITESPACE_UNICODE_UNITS, 0};
const char kWhitespaceASCII[] = "\t\n\v\f\r ";
const wchar_t kWhitespaceASCIIAs16[] = L"\t\n\v\f\r ";

#undef WHITESPACE_UNICODE_UNITS

namespace {

// ORs all units together: one at a time up to a word boundary, then whole
// machine words, then the tail; then tests the ORs against the non-ASCII bits
// of every unit (0x80 per byte, 0xFF80 per wide unit).
template <typename CharT>
bool DoIsStringASCII(const CharT* chars, size_t length) {
  using Word = uintptr_t;
  using Unit = std::make_unsigned_t<CharT>;
  constexpr Word kUnitMask = sizeof(CharT) == 1 ? 0x80 : 0xFF80;
  constexpr size_t kUnitsPerWord = sizeof(Word) / sizeof(CharT);
  Word word_mask = 0;
  for (size_t i = 0; i < kUnitsPerWord; ++i)
    word_mask |= kUnitMask << (i * 8 * sizeof(CharT));

  Word units = 0;
  Word words = 0;
  const CharT* end = chars + length;
  while (chars != end && (reinterpret_cast<uintptr_t>(chars) & (sizeof(Word) - 1)) != 0)
    units |= static_cast<Unit>(*chars++);
  while (static_cast<size_t>(end - chars) >= kUnitsPerWord) {
    Word w;
    memcpy(&w, chars, sizeof(w));
    words |= w;
    chars += kUnitsPerWord;
  }
  while (chars != end)
    units |= static_cast<Unit>(*chars++);
  return (units & kUnitMask) == 0 && (words & word_mask) == 0;
}

template <typename CharT>
bool IsWhitespaceUnit(CharT c) {
  if constexpr (sizeof(CharT) == 1)
    return IsAsciiWhitespace(static_cast<unsigned char>(c));
  else
    return IsUnicodeWhitespace(c);
}

template <typename CharT>
BasicStringPiece<CharT> ToPiece(const CharT* s) {
  return BasicStringPiece<CharT>(s);
}

// The shared trim: positions of the first and last unit to keep, by the
// members of `trim_chars`. Writes the kept range to `*begin`/`*count` and
// returns the ends where something was removed.
template <typename CharT>
TrimPositions TrimRange(BasicStringPiece<CharT> input,
                        BasicStringPiece<CharT> trim_chars,
                        TrimPositions positions,
                        size_t* begin,
                        size_t* count) {
  constexpr size_t npos = BasicStringPiece<CharT>::npos;
  const size_t last_index = input.size() - 1;
  size_t first = (positions & TRIM_LEADING) ? input.find_first_not_of(trim_chars) : 0;
  size_t last = (positions & TRIM_TRAILING) ? input.find_last_not_of(trim_chars) : last_index;
  if (input.empty() || first == npos || last == npos) {
    *begin = 0;
    *count = 0;
    return input.empty() ? TRIM_NONE : positions;
  }
  *begin = first;
  *count = last - first + 1;
  return static_cast<TrimPositions>((first != 0 ? TRIM_LEADING : 0) |
                                    (last != last_index ? TRIM_TRAILING : 0));
}

template <typename StringT>
TrimPositions TrimStringT(const StringT& input,
                          BasicStringPiece<typename StringT::value_type> trim_chars,
                          TrimPositions positions,
                          StringT* output) {
  size_t begin = 0;
  size_t count = 0;
  TrimPositions result = TrimRange(BasicStringPiece<typename StringT::value_type>(input),
                                   trim_chars, positions, &begin, &count);
  if (count == 0)
    output->clear();
  else if (output == &input)
    output->assign(input, begin, count);
  else
    output->assign(input.data() + begin, count);
  return result;
}

template <typename CharT>
BasicStringPiece<CharT> TrimPiece(BasicStringPiece<CharT> input,
                                  BasicStringPiece<CharT> trim_chars,
                                  TrimPositions positions) {
  size_t begin = 0;
  size_t count = 0;
  TrimRange(input, trim_chars, positions, &begin, &count);
  return count == 0 ? BasicStringPiece<CharT>() : input.substr(begin, count);
}

template <typename CharT>
std::basic_string<CharT> CollapseT(BasicStringPiece<CharT> text, bool trim_line_breaks) {
  std::basic_string<CharT> result;
  result.reserve(text.size());
  // Leading white space disappears: start inside a run that is trimmed.
  bool in_whitespace = true;
  bool already_trimmed = true;
  for (CharT c : text) {
    if (IsWhitespaceUnit(c)) {
      if (!in_whitespace) {
        in_whitespace = true;
        result.push_back(static_cast<CharT>(' '));
      }
      if (trim_line_breaks && !already_trimmed && (c == '\n' || c == '\r')) {
        result.pop_back();
        already_trimmed = true;
      }
    } else {
      in_whitespace = false;
      already_trimmed = false;
      result.push_back(c);
    }
  }
  if (in_whitespace && !already_trimmed)
    result.pop_back();
  return result;
}

template <typename CharT>
bool EqualsCaseInsensitiveT(BasicStringPiece<CharT> a, BasicStringPiece<CharT> b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerASCII(a.data()[i]) != ToLowerASCII(b.data()[i]))
      return false;
  }
  return true;
}

template <typename CharT>
bool StartsWithT(BasicStringPiece<CharT> str,
                 BasicStringPiece<CharT> search_for,
                 CompareCase case_sensitivity) {
  if (search_for.size() > str.size())
    return false;
  BasicStringPiece<CharT> source = str.substr(0, search_for.size());
  if (case_sensitivity == CompareCase::SENSITIVE)
    return source == search_for;
  return EqualsCaseInsensitiveT(source, search_for);
}

template <typename CharT>
bool EndsWithT(BasicStringPiece<CharT> str,
               BasicStringPiece<CharT> search_for,
               CompareCase case_sensitivity) {
  if (search_for.size() > str.size())
    return false;
  BasicStringPiece<CharT> source = str.substr(str.size() - search_for.size());
  if (case_sensitivity == CompareCase::SENSITIVE)
    return source == search_for;
  return EqualsCaseInsensitiveT(source, search_for);
}

template <typename CharT>
std::basic_string<CharT> MapASCII(BasicStringPiece<CharT> str, bool upper) {
  std::basic_string<CharT> result(str.data(), str.size());
  for (CharT& c : result)
    c = upper ? ToUpperASCII(c) : ToLowerASCII(c);
  return result;
}

}  // namespace

bool IsStringASCII(StringPiece str) {
  return DoIsStringASCII(str.data(), str.size());
}

bool IsStringASCII(StringPiece16 str) {
  return DoIsStringASCII(str.data(), str.size());
}

bool IsUnicodeWhitespace(wchar_t c) {
  for (const wchar_t* p = kWhitespaceWide; *p; ++p) {
    if (*p == c)
      return true;
  }
  return false;
}

std::string ToLowerASCII(StringPiece str) {
  return MapASCII(str, false);
}
std::string ToUpperASCII(StringPiece str) {
  return MapASCII(str, true);
}
std::wstring ToLowerASCII(StringPiece16 str) {
  return MapASCII(str, false);
}
std::wstring ToUpperASCII(StringPiece16 str) {
  return MapASCII(str, true);
}

bool EqualsCaseInsensitiveASCII(StringPiece16 a, StringPiece16 b) {
  return EqualsCaseInsensitiveT(a, b);
}
bool EqualsCaseInsensitiveASCII(StringPiece a, StringPiece b) {
  return EqualsCaseInsensitiveT(a, b);
}

bool StartsWith(StringPiece16 str, StringPiece16 search_for, CompareCase case_sensitivity) {
  return StartsWithT(str, search_for, case_sensitivity);
}
bool StartsWith(StringPiece str, StringPiece search_for, CompareCase case_sensitivity) {
  return StartsWithT(str, search_for, case_sensitivity);
}
bool EndsWith(StringPiece16 str, StringPiece16 search_for, CompareCase case_sensitivity) {
  return EndsWithT(str, search_for, case_sensitivity);
}
bool EndsWith(StringPiece str, StringPiece search_for, CompareCase case_sensitivity) {
  return EndsWithT(str, search_for, case_sensitivity);
}

TrimPositions TrimWhitespace(const std::wstring& input,
                             TrimPositions positions,
                             std::wstring* output) {
  return TrimStringT(input, ToPiece(kWhitespaceWide), positions, output);
}

TrimPositions TrimWhitespaceASCII(const std::string& input,
                                  TrimPositions positions,
                                  std::string* output) {
  return TrimStringT(input, ToPiece(kWhitespaceASCII), positions, output);
}

StringPiece16 TrimWhitespace(StringPiece16 input, TrimPositions positions) {
  return TrimPiece(input, ToPiece(kWhitespaceWide), positions);
}

StringPiece TrimWhitespaceASCII(StringPiece input, TrimPositions positions) {
  return TrimPiece(input, ToPiece(kWhitespaceASCII), positions);
}

StringPiece TrimString(StringPiece input, StringPiece trim_chars, TrimPositions positions) {
  return TrimPiece(input, trim_chars, positions);
}

StringPiece16 TrimString(StringPiece16 input, StringPiece16 trim_chars, TrimPositions positions) {
  return TrimPiece(input, trim_chars, positions);
}

bool TrimString(const std::string& input, StringPiece trim_chars, std::string* output) {
  return TrimStringT(input, trim_chars, TRIM_ALL, output) != TRIM_NONE;
}

bool TrimString(const std::wstring& input, StringPiece16 trim_chars, std::wstring* output) {
  return TrimStringT(input, trim_chars, TRIM_ALL, output) != TRIM_NONE;
}

std::string CollapseWhitespaceASCII(StringPiece text, bool trim_sequences_with_line_breaks) {
  return CollapseT(text, trim_sequences_with_line_breaks);
}

std::wstring CollapseWhitespace(StringPiece16 text, bool trim_sequences_with_line_breaks) {
  return CollapseT(text, trim_sequences_with_line_breaks);
}

size_t strlcpy(char* dst, const char* src, size_t dst_size) {
  for (size_t i = 0; i < dst_size; ++i) {
    if ((dst[i] = src[i]) == 0)
      return i;
  }
  if (dst_size != 0)
    dst[dst_size - 1] = 0;
  size_t length = dst_size;
  while (src[length])
    ++length;
  return length;
}

}  // namespace base
