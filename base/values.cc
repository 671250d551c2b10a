#include "base/values.h"

#include <algorithm>
#include <limits>
#include <new>

#include "base/logging.h"

namespace base {

namespace {

const char* const kTypeNames[] = {"null",   "boolean", "integer",    "double",
                                  "string", "binary",  "dictionary", "list"};
static_assert(std::size(kTypeNames) == static_cast<size_t>(Value::Type::LIST) + 1,
              "one name per type");

}  // namespace

// static
const char* Value::GetTypeName(Type type) {
  size_t index = static_cast<size_t>(type);
  CHECK(index < std::size(kTypeNames));
  return kTypeNames[index];
}

// static
bool Value::KeyLess(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    signed char ca = static_cast<signed char>(a[i]);
    signed char cb = static_cast<signed char>(b[i]);
    if (ca != cb)
      return ca < cb;
  }
  return a.size() < b.size();
}

Value::Value() : type_(Type::NONE) {}

Value::Value(Type type) : type_(type) {
  switch (type_) {
    case Type::NONE:
      break;
    case Type::BOOLEAN:
      bool_value_ = false;
      break;
    case Type::INTEGER:
      int_value_ = 0;
      break;
    case Type::DOUBLE:
      double_value_ = 0.0;
      break;
    case Type::STRING:
      new (&string_value_) std::string();
      break;
    case Type::BINARY:
      new (&binary_value_) BlobStorage();
      break;
    case Type::DICTIONARY:
      new (&dict_) DictStorage();
      break;
    case Type::LIST:
      new (&list_) ListStorage();
      break;
  }
}

Value::Value(bool value) : type_(Type::BOOLEAN), bool_value_(value) {}
Value::Value(int value) : type_(Type::INTEGER), int_value_(value) {}
Value::Value(double value) : type_(Type::DOUBLE), double_value_(value) {}
Value::Value(const char* value) : type_(Type::STRING) {
  new (&string_value_) std::string(value ? value : "");
}
Value::Value(std::string value) : type_(Type::STRING) {
  new (&string_value_) std::string(std::move(value));
}
Value::Value(BlobStorage value) : type_(Type::BINARY) {
  new (&binary_value_) BlobStorage(std::move(value));
}
Value::Value(ListStorage value) : type_(Type::LIST) {
  new (&list_) ListStorage(std::move(value));
}

Value::Value(Value&& other) noexcept {
  MoveFrom(std::move(other));
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    Destroy();
    MoveFrom(std::move(other));
  }
  return *this;
}

Value::~Value() {
  Destroy();
}

void Value::Destroy() {
  switch (type_) {
    case Type::STRING:
      string_value_.~basic_string();
      break;
    case Type::BINARY:
      binary_value_.~BlobStorage();
      break;
    case Type::DICTIONARY:
      dict_.~DictStorage();
      break;
    case Type::LIST:
      list_.~ListStorage();
      break;
    default:
      break;
  }
  type_ = Type::NONE;
}

void Value::MoveFrom(Value&& other) {
  type_ = other.type_;
  switch (type_) {
    case Type::NONE:
      break;
    case Type::BOOLEAN:
      bool_value_ = other.bool_value_;
      break;
    case Type::INTEGER:
      int_value_ = other.int_value_;
      break;
    case Type::DOUBLE:
      double_value_ = other.double_value_;
      break;
    case Type::STRING:
      new (&string_value_) std::string(std::move(other.string_value_));
      other.string_value_.clear();
      break;
    case Type::BINARY:
      new (&binary_value_) BlobStorage(std::move(other.binary_value_));
      other.binary_value_.clear();
      break;
    case Type::DICTIONARY:
      new (&dict_) DictStorage(std::move(other.dict_));
      other.dict_.clear();
      break;
    case Type::LIST:
      new (&list_) ListStorage(std::move(other.list_));
      other.list_.clear();
      break;
  }
}

Value Value::Clone() const {
  switch (type_) {
    case Type::NONE:
      return Value();
    case Type::BOOLEAN:
      return Value(bool_value_);
    case Type::INTEGER:
      return Value(int_value_);
    case Type::DOUBLE:
      return Value(double_value_);
    case Type::STRING:
      return Value(string_value_);
    case Type::BINARY:
      return Value(binary_value_);
    case Type::DICTIONARY: {
      Value copy(Type::DICTIONARY);
      copy.dict_.reserve(dict_.size());
      for (const auto& entry : dict_)
        copy.dict_.emplace_back(entry.first, std::make_unique<Value>(entry.second->Clone()));
      return copy;
    }
    case Type::LIST: {
      ListStorage elements;
      elements.reserve(list_.size());
      for (const Value& element : list_)
        elements.push_back(element.Clone());
      return Value(std::move(elements));
    }
  }
  return Value();
}

bool Value::GetBool() const {
  CHECK(is_bool());
  return bool_value_;
}

int Value::GetInt() const {
  CHECK(is_int());
  return int_value_;
}

double Value::GetDouble() const {
  if (is_int())
    return int_value_;
  CHECK(is_double());
  return double_value_;
}

const std::string& Value::GetString() const {
  CHECK(is_string());
  return string_value_;
}

const Value::BlobStorage& Value::GetBlob() const {
  CHECK(is_blob());
  return binary_value_;
}

Value::ListStorage& Value::GetList() {
  CHECK(is_list());
  return list_;
}

const Value::ListStorage& Value::GetList() const {
  CHECK(is_list());
  return list_;
}

const Value::DictStorage& Value::DictItems() const {
  CHECK(is_dict());
  return dict_;
}

size_t Value::LowerBound(std::string_view key) const {
  size_t low = 0;
  size_t high = dict_.size();
  while (low < high) {
    size_t mid = low + (high - low) / 2;
    if (KeyLess(dict_[mid].first, key))
      low = mid + 1;
    else
      high = mid;
  }
  return low;
}

Value* Value::FindKey(std::string_view key) {
  return const_cast<Value*>(static_cast<const Value*>(this)->FindKey(key));
}

const Value* Value::FindKey(std::string_view key) const {
  CHECK(is_dict());
  size_t index = LowerBound(key);
  if (index < dict_.size() && dict_[index].first == key)
    return dict_[index].second.get();
  return nullptr;
}

Value* Value::SetKey(std::string_view key, Value value) {
  CHECK(is_dict());
  size_t index = LowerBound(key);
  if (index < dict_.size() && dict_[index].first == key) {
    *dict_[index].second = std::move(value);
    return dict_[index].second.get();
  }
  auto inserted = dict_.emplace(dict_.begin() + static_cast<std::ptrdiff_t>(index),
                                std::string(key), std::make_unique<Value>(std::move(value)));
  return inserted->second.get();
}

bool Value::RemoveKey(std::string_view key) {
  CHECK(is_dict());
  size_t index = LowerBound(key);
  if (index < dict_.size() && dict_[index].first == key) {
    dict_.erase(dict_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
  }
  return false;
}

const Value* Value::FindPath(std::string_view path) const {
  const Value* current = this;
  while (true) {
    size_t dot = path.find('.');
    if (!current->is_dict())
      return nullptr;
    const Value* child = current->FindKey(path.substr(0, dot));
    if (!child || dot == std::string_view::npos)
      return child;
    current = child;
    path.remove_prefix(dot + 1);
  }
}

Value* Value::FindPath(std::string_view path) {
  return const_cast<Value*>(static_cast<const Value*>(this)->FindPath(path));
}

Value* Value::SetPath(std::string_view path, Value value) {
  CHECK(is_dict());
  Value* current = this;
  size_t dot;
  while ((dot = path.find('.')) != std::string_view::npos) {
    std::string_view key = path.substr(0, dot);
    Value* child = current->FindKey(key);
    if (!child || !child->is_dict())
      child = current->SetKey(key, Value(Type::DICTIONARY));
    current = child;
    path.remove_prefix(dot + 1);
  }
  return current->SetKey(path, std::move(value));
}

Value* Value::SetIntegerPath(std::string_view path, int value) {
  return SetPath(path, Value(value));
}

Value* Value::SetStringPath(std::string_view path, std::string value) {
  return SetPath(path, Value(std::move(value)));
}

bool Value::SetAtIndex(size_t index, Value value) {
  CHECK(is_list());
  if (value.is_none())
    return false;
  // The list would need index + 1 elements, which does not exist for the
  // largest index (and could never be allocated anyway).
  if (index >= list_.max_size() || index == std::numeric_limits<size_t>::max())
    return false;
  if (index >= list_.size())
    list_.resize(index + 1);
  list_[index] = std::move(value);
  return true;
}

void Value::Append(Value value) {
  CHECK(is_list());
  list_.push_back(std::move(value));
}

bool operator==(const Value& a, const Value& b) {
  if (a.type_ != b.type_)
    return false;
  switch (a.type_) {
    case Value::Type::NONE:
      return true;
    case Value::Type::BOOLEAN:
      return a.bool_value_ == b.bool_value_;
    case Value::Type::INTEGER:
      return a.int_value_ == b.int_value_;
    case Value::Type::DOUBLE:
      return a.double_value_ == b.double_value_;
    case Value::Type::STRING:
      return a.string_value_ == b.string_value_;
    case Value::Type::BINARY:
      return a.binary_value_ == b.binary_value_;
    case Value::Type::DICTIONARY:
      return std::equal(a.dict_.begin(), a.dict_.end(), b.dict_.begin(), b.dict_.end(),
                        [](const auto& x, const auto& y) {
                          return x.first == y.first && *x.second == *y.second;
                        });
    case Value::Type::LIST:
      return a.list_ == b.list_;
  }
  return false;
}

bool operator<(const Value& a, const Value& b) {
  if (a.type_ != b.type_)
    return a.type_ < b.type_;
  switch (a.type_) {
    case Value::Type::NONE:
      return false;
    case Value::Type::BOOLEAN:
      return a.bool_value_ < b.bool_value_;
    case Value::Type::INTEGER:
      return a.int_value_ < b.int_value_;
    case Value::Type::DOUBLE:
      return a.double_value_ < b.double_value_;
    case Value::Type::STRING:
      return a.string_value_ < b.string_value_;
    case Value::Type::BINARY:
      return a.binary_value_ < b.binary_value_;
    case Value::Type::DICTIONARY:
      return std::lexicographical_compare(a.dict_.begin(), a.dict_.end(), b.dict_.begin(),
                                          b.dict_.end(), [](const auto& x, const auto& y) {
                                            if (x.first != y.first)
                                              return Value::KeyLess(x.first, y.first);
                                            return *x.second < *y.second;
                                          });
    case Value::Type::LIST:
      return std::lexicographical_compare(a.list_.begin(), a.list_.end(), b.list_.begin(),
                                          b.list_.end());
  }
  return false;
}

}  // namespace base
