#ifndef BASE_VALUES_H_
#define BASE_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace base {

// A tagged variant: nothing, a boolean, an integer, a double, a string, a
// byte blob, a dictionary of named children or a list. A Value owns all of
// its contents; moving one leaves the source's containers empty. Reading the
// payload of another type, and dictionary operations on a non-dictionary, are
// fatal ("is_dict()" and the like). Not thread-safe.
class Value {
 public:
  enum class Type : unsigned char {
    NONE = 0,
    BOOLEAN,
    INTEGER,
    DOUBLE,
    STRING,
    BINARY,
    DICTIONARY,
    LIST,
  };

  using BlobStorage = std::vector<uint8_t>;
  using ListStorage = std::vector<Value>;
  // Sorted by key (bytes compared as signed 8-bit values, a prefix first);
  // keys are unique.
  using DictStorage = std::vector<std::pair<std::string, std::unique_ptr<Value>>>;

  // "null", "boolean", "integer", "double", "string", "binary",
  // "dictionary", "list".
  static const char* GetTypeName(Type type);

  // True when key `a` sorts before key `b` in a dictionary.
  static bool KeyLess(std::string_view a, std::string_view b);

  Value();
  explicit Value(Type type);  // the empty or zero value of that type
  explicit Value(bool value);
  explicit Value(int value);
  explicit Value(double value);
  explicit Value(const char* value);
  explicit Value(std::string value);
  explicit Value(BlobStorage value);
  explicit Value(ListStorage value);
  Value(Value&& other) noexcept;
  Value& operator=(Value&& other) noexcept;
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value();

  // A deep copy.
  Value Clone() const;

  Type type() const { return type_; }
  bool is_none() const { return type_ == Type::NONE; }
  bool is_bool() const { return type_ == Type::BOOLEAN; }
  bool is_int() const { return type_ == Type::INTEGER; }
  bool is_double() const { return type_ == Type::DOUBLE; }
  bool is_string() const { return type_ == Type::STRING; }
  bool is_blob() const { return type_ == Type::BINARY; }
  bool is_dict() const { return type_ == Type::DICTIONARY; }
  bool is_list() const { return type_ == Type::LIST; }

  // Payload accessors; each is fatal for a value of another type, except that
  // GetDouble also converts an integer.
  bool GetBool() const;
  int GetInt() const;
  double GetDouble() const;
  const std::string& GetString() const;
  const BlobStorage& GetBlob() const;
  ListStorage& GetList();
  const ListStorage& GetList() const;
  const DictStorage& DictItems() const;

  // The child stored under `key`, or null.
  Value* FindKey(std::string_view key);
  const Value* FindKey(std::string_view key) const;
  // Inserts `value` under `key` at its sorted place, or replaces (and
  // destroys) the child already stored there. Returns the stored child.
  Value* SetKey(std::string_view key, Value value);
  // Removes the child under `key`; false if there was none.
  bool RemoveKey(std::string_view key);

  // Dotted paths: "a.b" is key "b" of the dictionary under key "a".
  // FindPath gives null when any part is missing or not a dictionary.
  Value* FindPath(std::string_view path);
  const Value* FindPath(std::string_view path) const;
  // Creates (or replaces by) dictionaries for every part but the last, and
  // stores `value` under the last. Returns the stored child.
  Value* SetPath(std::string_view path, Value value);
  Value* SetIntegerPath(std::string_view path, int value);
  Value* SetStringPath(std::string_view path, std::string value);

  // On a list: grows it with none values up to `index` + 1 elements when
  // needed and replaces element `index` by `value`. False, changing nothing,
  // for a none `value` or an index whose successor does not fit in size_t.
  bool SetAtIndex(size_t index, Value value);
  // Appends to a list.
  void Append(Value value);

  // Deep comparison. Values of different types order by type; within a type
  // by content (dictionaries by their sorted (key, child) sequences).
  friend bool operator==(const Value& a, const Value& b);
  friend bool operator!=(const Value& a, const Value& b) { return !(a == b); }
  friend bool operator<(const Value& a, const Value& b);
  friend bool operator>(const Value& a, const Value& b) { return b < a; }
  friend bool operator<=(const Value& a, const Value& b) { return !(b < a); }
  friend bool operator>=(const Value& a, const Value& b) { return !(a < b); }

 private:
  void Destroy();
  void MoveFrom(Value&& other);
  // Index of the first entry whose key is not less than `key`.
  size_t LowerBound(std::string_view key) const;

  Type type_ = Type::NONE;
  union {
    bool bool_value_;
    int int_value_;
    double double_value_;
    std::string string_value_;
    BlobStorage binary_value_;
    DictStorage dict_;
    ListStorage list_;
  };
};

}  // namespace base

#endif  // BASE_VALUES_H_
