#ifndef BASE_STRINGS_STRING_PIECE_H_
#define BASE_STRINGS_STRING_PIECE_H_

#include <stddef.h>

#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

// The bounds checks below are the only fatal checks of the string utilities.
// They are inline, so they expand in the caller, which links logging.
#include "base/logging.h"

namespace base {

// Wide text is UTF-16 in `wchar_t` units on this platform.
using string16 = std::wstring;

// A non-owning view of `length_` code units starting at `ptr_`. The viewed
// text must outlive the view. Indexing and shortening are bounds-checked and
// end the process on violation; every search returns `npos` when nothing is
// found. Copyable; safe to share between threads while the text is unchanged.
template <typename CharT>
class BasicStringPiece {
 public:
  using value_type = CharT;
  using size_type = size_t;
  using const_iterator = const CharT*;
  using iterator = const CharT*;
  using string_type = std::basic_string<CharT>;

  static constexpr size_type npos = static_cast<size_type>(-1);

  constexpr BasicStringPiece() : ptr_(nullptr), length_(0) {}
  // A null `str` gives an empty view.
  constexpr BasicStringPiece(const CharT* str)  // NOLINT(runtime/explicit)
      : ptr_(str), length_(str ? std::char_traits<CharT>::length(str) : 0) {}
  constexpr BasicStringPiece(const CharT* data, size_type len) : ptr_(data), length_(len) {}
  BasicStringPiece(const string_type& str)  // NOLINT(runtime/explicit)
      : ptr_(str.data()), length_(str.size()) {}
  constexpr BasicStringPiece(std::basic_string_view<CharT> str)  // NOLINT(runtime/explicit)
      : ptr_(str.data()), length_(str.size()) {}
  template <typename It>
  BasicStringPiece(It begin, It end)
      : ptr_(begin == end ? nullptr : &*begin), length_(static_cast<size_type>(end - begin)) {}

  constexpr const CharT* data() const { return ptr_; }
  constexpr size_type size() const { return length_; }
  constexpr size_type length() const { return length_; }
  constexpr bool empty() const { return length_ == 0; }
  constexpr const_iterator begin() const { return ptr_; }
  constexpr const_iterator end() const { return ptr_ + length_; }

  void clear() {
    ptr_ = nullptr;
    length_ = 0;
  }
  void set(const CharT* data, size_type len) {
    ptr_ = data;
    length_ = len;
  }

  // Code unit `i`; `i` must be below the length, else the process ends.
  CharT operator[](size_type i) const {
    CHECK(i < length_);
    return ptr_[i];
  }
  CharT front() const { return (*this)[0]; }
  CharT back() const { return (*this)[length_ - 1]; }

  // Drops `n` units at the front or back; `n` above the length ends the process.
  void remove_prefix(size_type n) {
    CHECK(n <= length_);
    ptr_ += n;
    length_ -= n;
  }
  void remove_suffix(size_type n) {
    CHECK(n <= length_);
    length_ -= n;
  }

  // `pos` is clamped to the length and `n` to what remains; never fails.
  BasicStringPiece substr(size_type pos, size_type n = npos) const {
    if (pos > length_)
      pos = length_;
    if (n > length_ - pos)
      n = length_ - pos;
    return BasicStringPiece(ptr_ + pos, n);
  }

  // Negative, zero or positive as this view orders before, equal to or after
  // `x`; narrow views compare bytes as signed values.
  int compare(BasicStringPiece x) const {
    size_type n = length_ < x.length_ ? length_ : x.length_;
    for (size_type i = 0; i < n; ++i) {
      if (ptr_[i] != x.ptr_[i])
        return ptr_[i] < x.ptr_[i] ? -1 : 1;
    }
    if (length_ == x.length_)
      return 0;
    return length_ < x.length_ ? -1 : 1;
  }

  bool starts_with(BasicStringPiece x) const {
    return length_ >= x.length_ && Equal(ptr_, x.ptr_, x.length_);
  }
  bool ends_with(BasicStringPiece x) const {
    return length_ >= x.length_ && Equal(ptr_ + (length_ - x.length_), x.ptr_, x.length_);
  }

  string_type as_string() const { return empty() ? string_type() : string_type(ptr_, length_); }
  std::basic_string_view<CharT> as_string_view() const {
    return std::basic_string_view<CharT>(ptr_, length_);
  }
  explicit operator string_type() const { return as_string(); }

  // Replaces `*target` with the viewed text (an empty view clears it).
  void CopyToString(string_type* target) const {
    if (empty())
      target->clear();
    else
      target->assign(ptr_, length_);
  }
  // Appends the viewed text to `*target`.
  void AppendToString(string_type* target) const {
    if (!empty())
      target->append(ptr_, length_);
  }

  // First position at or after `pos` holding `c`.
  size_type find(CharT c, size_type pos = 0) const {
    for (size_type i = pos; i < length_; ++i) {
      if (ptr_[i] == c)
        return i;
    }
    return npos;
  }
  // First position at or after `pos` where `s` starts.
  size_type find(BasicStringPiece s, size_type pos = 0) const {
    if (pos > length_ || s.length_ > length_ - pos)
      return npos;
    for (size_type i = pos; i + s.length_ <= length_; ++i) {
      if (Equal(ptr_ + i, s.ptr_, s.length_))
        return i;
    }
    return npos;
  }
  // Last position at or before `pos` holding `c` (npos for an empty view).
  size_type rfind(CharT c, size_type pos = npos) const {
    if (empty())
      return npos;
    for (size_type i = Last(pos) + 1; i-- > 0;) {
      if (ptr_[i] == c)
        return i;
    }
    return npos;
  }
  // Last position at or before `pos` where `s` starts (npos for an empty view).
  size_type rfind(BasicStringPiece s, size_type pos = npos) const {
    if (empty() || s.length_ > length_)
      return npos;
    size_type start = length_ - s.length_;
    if (pos < start)
      start = pos;
    for (size_type i = start + 1; i-- > 0;) {
      if (Equal(ptr_ + i, s.ptr_, s.length_))
        return i;
    }
    return npos;
  }

  size_type find_first_of(CharT c, size_type pos = 0) const { return find(c, pos); }
  size_type find_first_of(BasicStringPiece set, size_type pos = 0) const {
    return FindFirst(set, pos, true);
  }
  size_type find_first_not_of(CharT c, size_type pos = 0) const {
    for (size_type i = pos; i < length_; ++i) {
      if (ptr_[i] != c)
        return i;
    }
    return npos;
  }
  size_type find_first_not_of(BasicStringPiece set, size_type pos = 0) const {
    return FindFirst(set, pos, false);
  }
  // The backward searches start at min(pos, length - 1); an empty view has no
  // last position, so they return npos at once.
  size_type find_last_of(CharT c, size_type pos = npos) const { return rfind(c, pos); }
  size_type find_last_of(BasicStringPiece set, size_type pos = npos) const {
    return FindLast(set, pos, true);
  }
  size_type find_last_not_of(CharT c, size_type pos = npos) const {
    if (empty())
      return npos;
    for (size_type i = Last(pos) + 1; i-- > 0;) {
      if (ptr_[i] != c)
        return i;
    }
    return npos;
  }
  size_type find_last_not_of(BasicStringPiece set, size_type pos = npos) const {
    return FindLast(set, pos, false);
  }

  friend bool operator==(BasicStringPiece x, BasicStringPiece y) {
    return x.length_ == y.length_ && Equal(x.ptr_, y.ptr_, x.length_);
  }
  friend bool operator!=(BasicStringPiece x, BasicStringPiece y) { return !(x == y); }
  friend bool operator<(BasicStringPiece x, BasicStringPiece y) { return x.compare(y) < 0; }
  friend bool operator>(BasicStringPiece x, BasicStringPiece y) { return x.compare(y) > 0; }
  friend bool operator<=(BasicStringPiece x, BasicStringPiece y) { return x.compare(y) <= 0; }
  friend bool operator>=(BasicStringPiece x, BasicStringPiece y) { return x.compare(y) >= 0; }

 private:
  static bool Equal(const CharT* a, const CharT* b, size_type n) {
    return n == 0 || std::memcmp(a, b, n * sizeof(CharT)) == 0;
  }
  size_type Last(size_type pos) const { return pos < length_ - 1 ? pos : length_ - 1; }

  // Narrow sets of more than one byte test membership through a 256-entry
  // table; wide sets are scanned.
  struct Membership {
    explicit Membership(BasicStringPiece set) : set_(set) {
      if constexpr (sizeof(CharT) == 1) {
        use_table_ = set.length_ > 1;
        if (use_table_) {
          std::memset(table_, 0, sizeof(table_));
          for (size_type i = 0; i < set.length_; ++i)
            table_[static_cast<unsigned char>(set.ptr_[i])] = true;
        }
      }
    }
    bool Contains(CharT c) const {
      if constexpr (sizeof(CharT) == 1) {
        if (use_table_)
          return table_[static_cast<unsigned char>(c)];
      }
      for (size_type i = 0; i < set_.length_; ++i) {
        if (set_.ptr_[i] == c)
          return true;
      }
      return false;
    }
    BasicStringPiece set_;
    bool use_table_ = false;
    bool table_[sizeof(CharT) == 1 ? 256 : 1];
  };

  size_type FindFirst(BasicStringPiece set, size_type pos, bool want_member) const {
    if (want_member && set.empty())
      return npos;
    Membership members(set);
    for (size_type i = pos; i < length_; ++i) {
      if (members.Contains(ptr_[i]) == want_member)
        return i;
    }
    return npos;
  }
  size_type FindLast(BasicStringPiece set, size_type pos, bool want_member) const {
    if (empty() || (want_member && set.empty()))
      return npos;
    Membership members(set);
    for (size_type i = Last(pos) + 1; i-- > 0;) {
      if (members.Contains(ptr_[i]) == want_member)
        return i;
    }
    return npos;
  }

  const CharT* ptr_;
  size_type length_;
};

using StringPiece = BasicStringPiece<char>;
using StringPiece16 = BasicStringPiece<wchar_t>;
using WStringPiece = StringPiece16;

// Writes the viewed bytes as they are.
inline std::ostream& operator<<(std::ostream& o, StringPiece piece) {
  o.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  return o;
}

// Hashes views by content, for unordered containers keyed by views.
struct StringPieceHash {
  size_t operator()(StringPiece s) const {
    return std::hash<std::string_view>()(s.as_string_view());
  }
  size_t operator()(StringPiece16 s) const {
    return std::hash<std::wstring_view>()(s.as_string_view());
  }
};

}  // namespace base

#endif  // BASE_STRINGS_STRING_PIECE_H_
