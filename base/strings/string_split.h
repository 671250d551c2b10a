#ifndef BASE_STRINGS_STRING_SPLIT_H_
#define BASE_STRINGS_STRING_SPLIT_H_

#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

enum WhitespaceHandling {
  KEEP_WHITESPACE,
  // Each piece loses its leading and trailing ASCII white space.
  TRIM_WHITESPACE,
};

enum SplitResult {
  SPLIT_WANT_ALL,
  // Empty pieces (after any trimming) are dropped.
  SPLIT_WANT_NONEMPTY,
};

// Splits `input` at every unit that is one of `separators`. An empty input
// gives an empty list; otherwise "a,,b" on "," gives "a", "", "b" (or "a", "b"
// with SPLIT_WANT_NONEMPTY), and a separator at an end gives an empty piece
// there. The views point into `input`.
std::vector<StringPiece> SplitStringPiece(StringPiece input,
                                          StringPiece separators,
                                          WhitespaceHandling whitespace,
                                          SplitResult result_type);
std::vector<StringPiece16> SplitStringPiece(StringPiece16 input,
                                            StringPiece16 separators,
                                            WhitespaceHandling whitespace,
                                            SplitResult result_type);
// Owning forms of the same split.
std::vector<std::string> SplitString(StringPiece input,
                                     StringPiece separators,
                                     WhitespaceHandling whitespace,
                                     SplitResult result_type);
std::vector<std::wstring> SplitString(StringPiece16 input,
                                      StringPiece16 separators,
                                      WhitespaceHandling whitespace,
                                      SplitResult result_type);

using StringPairs = std::vector<std::pair<std::string, std::string>>;

// Clears `*key_value_pairs`, splits `input` at `key_value_pair_delimiter`
// (trimmed, empty pieces dropped) and appends one pair per piece: the key is
// the text before the first `key_value_delimiter`, the value what follows the
// run of delimiters. A piece without a delimiter, or with nothing after it,
// still appends its (partial) pair and makes the result false; the other
// pieces are parsed regardless. "a=1, b==2,c,=3" gives (a,1) (b,2) ("","")
// ("",3) and false.
bool SplitStringIntoKeyValuePairs(StringPiece input,
                                  char key_value_delimiter,
                                  char key_value_pair_delimiter,
                                  StringPairs* key_value_pairs);

}  // namespace base

#endif  // BASE_STRINGS_STRING_SPLIT_H_
