#include "base/strings/string_split.h"

#include "base/strings/string_util.h"

namespace base {

namespace {

template <typename CharT>
BasicStringPiece<CharT> AsciiWhitespace() {
  if constexpr (sizeof(CharT) == 1)
    return kWhitespaceASCII;
  else
    return kWhitespaceASCIIAs16;
}

template <typename CharT>
std::vector<BasicStringPiece<CharT>> SplitT(BasicStringPiece<CharT> input,
                                            BasicStringPiece<CharT> separators,
                                            WhitespaceHandling whitespace,
                                            SplitResult result_type) {
  using Piece = BasicStringPiece<CharT>;
  std::vector<Piece> result;
  if (input.empty())
    return result;
  const Piece trim_set = AsciiWhitespace<CharT>();
  size_t start = 0;
  while (start != Piece::npos) {
    size_t end = separators.size() == 1 ? input.find(separators.data()[0], start)
                                        : input.find_first_of(separators, start);
    Piece piece;
    if (end == Piece::npos) {
      piece = input.substr(start);
      start = Piece::npos;
    } else {
      piece = input.substr(start, end - start);
      start = end + 1;
    }
    if (whitespace == TRIM_WHITESPACE)
      piece = TrimString(piece, trim_set, TRIM_ALL);
    if (result_type == SPLIT_WANT_ALL || !piece.empty())
      result.push_back(piece);
  }
  return result;
}

template <typename CharT>
std::vector<std::basic_string<CharT>> ToStrings(
    const std::vector<BasicStringPiece<CharT>>& pieces) {
  std::vector<std::basic_string<CharT>> result;
  result.reserve(pieces.size());
  for (const auto& piece : pieces)
    result.push_back(piece.as_string());
  return result;
}

}  // namespace

std::vector<StringPiece> SplitStringPiece(StringPiece input,
                                          StringPiece separators,
                                          WhitespaceHandling whitespace,
                                          SplitResult result_type) {
  return SplitT(input, separators, whitespace, result_type);
}

std::vector<StringPiece16> SplitStringPiece(StringPiece16 input,
                                            StringPiece16 separators,
                                            WhitespaceHandling whitespace,
                                            SplitResult result_type) {
  return SplitT(input, separators, whitespace, result_type);
}

std::vector<std::string> SplitString(StringPiece input,
                                     StringPiece separators,
                                     WhitespaceHandling whitespace,
                                     SplitResult result_type) {
  return ToStrings(SplitT(input, separators, whitespace, result_type));
}

std::vector<std::wstring> SplitString(StringPiece16 input,
                                      StringPiece16 separators,
                                      WhitespaceHandling whitespace,
                                      SplitResult result_type) {
  return ToStrings(SplitT(input, separators, whitespace, result_type));
}

bool SplitStringIntoKeyValuePairs(StringPiece input,
                                  char key_value_delimiter,
                                  char key_value_pair_delimiter,
                                  StringPairs* key_value_pairs) {
  key_value_pairs->clear();
  std::vector<StringPiece> pairs = SplitStringPiece(
      input, StringPiece(&key_value_pair_delimiter, 1), TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY);
  key_value_pairs->reserve(pairs.size());
  bool success = true;
  for (const StringPiece& pair : pairs) {
    key_value_pairs->emplace_back();
    size_t end_key_pos = pair.find(key_value_delimiter);
    if (end_key_pos == StringPiece::npos) {
      success = false;
      continue;
    }
    key_value_pairs->back().first = pair.substr(0, end_key_pos).as_string();
    StringPiece remains = pair.substr(end_key_pos);
    size_t begin_value_pos = remains.find_first_not_of(key_value_delimiter);
    if (begin_value_pos == StringPiece::npos) {
      success = false;
      continue;
    }
    key_value_pairs->back().second = remains.substr(begin_value_pos).as_string();
  }
  return success;
}

}  // namespace base
