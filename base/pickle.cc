#include "base/pickle.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/logging.h"

namespace base {

namespace {

// Payload capacity beyond this grows in whole pages (less one payload unit,
// which leaves room for the allocator's own bookkeeping).
constexpr size_t kPickleHeapAlign = 4096;

// The largest field a pickle accepts; far above anything written here and low
// enough that offsets and padding can never wrap.
constexpr size_t kMaxFieldSize = std::numeric_limits<uint32_t>::max() / 2;

constexpr size_t AlignUp(size_t value, size_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

}  // namespace

PickleIterator::PickleIterator(const Pickle& pickle)
    : payload_(pickle.payload()), read_index_(0), end_index_(pickle.payload_size()) {}

const char* PickleIterator::GetReadPointerAndAdvance(size_t num_bytes) {
  if (end_index_ - read_index_ < num_bytes) {
    read_index_ = end_index_;
    return nullptr;
  }
  const char* current = payload_ + read_index_;
  size_t aligned = AlignUp(num_bytes, sizeof(uint32_t));
  if (end_index_ - read_index_ < aligned)
    read_index_ = end_index_;
  else
    read_index_ += aligned;
  return current;
}

template <typename T>
bool PickleIterator::ReadPod(T* result) {
  const char* p = GetReadPointerAndAdvance(sizeof(T));
  if (!p)
    return false;
  // The payload may lie at any address in foreign bytes: copy, never cast.
  std::memcpy(result, p, sizeof(T));
  return true;
}

bool PickleIterator::ReadBool(bool* result) {
  int value;
  if (!ReadPod(&value))
    return false;
  *result = value != 0;
  return true;
}

bool PickleIterator::ReadInt(int* result) {
  return ReadPod(result);
}

bool PickleIterator::ReadUInt32(uint32_t* result) {
  return ReadPod(result);
}

bool PickleIterator::ReadInt64(int64_t* result) {
  return ReadPod(result);
}

bool PickleIterator::ReadUInt64(uint64_t* result) {
  return ReadPod(result);
}

bool PickleIterator::ReadFloat(float* result) {
  return ReadPod(result);
}

bool PickleIterator::ReadDouble(double* result) {
  return ReadPod(result);
}

bool PickleIterator::ReadString(std::string* result) {
  const char* data;
  int length;
  if (!ReadData(&data, &length))
    return false;
  result->assign(data, static_cast<size_t>(length));
  return true;
}

bool PickleIterator::ReadData(const char** data, int* length) {
  int size;
  if (!ReadInt(&size))
    return false;
  if (!ReadBytes(data, size))
    return false;
  *length = size;
  return true;
}

bool PickleIterator::ReadBytes(const char** data, int length) {
  if (length < 0) {
    read_index_ = end_index_;
    return false;
  }
  const char* p = GetReadPointerAndAdvance(static_cast<size_t>(length));
  if (!p)
    return false;
  *data = p;
  return true;
}

bool PickleIterator::SkipBytes(int num_bytes) {
  const char* unused;
  return ReadBytes(&unused, num_bytes);
}

Pickle::Pickle() : Pickle(sizeof(Header)) {}

Pickle::Pickle(size_t header_size) : header_size_(AlignUp(header_size, sizeof(uint32_t))) {
  CHECK(header_size_ >= sizeof(Header));
  CHECK(header_size_ <= kPayloadUnit);
  Resize(kPayloadUnit);
  std::memset(header_, 0, header_size_);
}

Pickle::Pickle(const char* data, size_t data_len)
    : header_(nullptr), header_size_(0), capacity_after_header_(kCapacityReadOnly) {
  // Never look at a payload size that the bytes do not contain.
  if (!data || data_len < sizeof(Header))
    return;
  Header header;
  std::memcpy(&header, data, sizeof(header));
  if (header.payload_size > data_len - sizeof(Header))
    return;
  size_t header_size = data_len - header.payload_size;
  if (header_size != AlignUp(header_size, sizeof(uint32_t)))
    return;
  header_ = reinterpret_cast<Header*>(const_cast<char*>(data));
  header_size_ = header_size;
}

Pickle::Pickle(const Pickle& other) : header_size_(other.header_size_) {
  if (!other.header_) {
    // An empty view copies to an empty writable pickle.
    header_size_ = sizeof(Header);
    Resize(kPayloadUnit);
    std::memset(header_, 0, header_size_);
    return;
  }
  size_t payload = other.payload_size();
  Resize(payload);
  std::memcpy(header_, other.header_, header_size_ + payload);
  write_offset_ = payload;
}

Pickle& Pickle::operator=(const Pickle& other) {
  if (this == &other)
    return *this;
  Pickle copy(other);
  std::swap(header_, copy.header_);
  std::swap(header_size_, copy.header_size_);
  std::swap(capacity_after_header_, copy.capacity_after_header_);
  std::swap(write_offset_, copy.write_offset_);
  return *this;
}

Pickle::~Pickle() {
  if (capacity_after_header_ != kCapacityReadOnly)
    std::free(header_);
}

void Pickle::WriteString(const std::string& value) {
  CHECK(value.size() <= kMaxFieldSize);
  WriteData(value.data(), static_cast<int>(value.size()));
}

void Pickle::WriteData(const char* data, int length) {
  CHECK(length >= 0);
  WriteInt(length);
  WriteBytes(data, static_cast<size_t>(length));
}

void Pickle::WriteBytes(const void* data, size_t length) {
  char* dest = ClaimBytes(length);
  if (length)
    std::memcpy(dest, data, length);
}

void Pickle::Resize(size_t new_capacity) {
  CHECK_NE(capacity_after_header_, kCapacityReadOnly);
  capacity_after_header_ = AlignUp(new_capacity, kPayloadUnit);
  void* p = std::realloc(header_, header_size_ + capacity_after_header_);
  CHECK(p);
  header_ = static_cast<Header*>(p);
}

char* Pickle::ClaimBytes(size_t length) {
  // Checked before anything else: a view over foreign bytes must never be
  // written, even where the bytes would seem to fit.
  CHECK_NE(capacity_after_header_, kCapacityReadOnly);
  CHECK(length <= kMaxFieldSize);
  size_t padded = AlignUp(length, sizeof(uint32_t));
  size_t new_size = write_offset_ + padded;
  if (new_size > capacity_after_header_) {
    size_t new_capacity = capacity_after_header_ * 2;
    if (new_capacity > kPickleHeapAlign)
      new_capacity = AlignUp(new_capacity, kPickleHeapAlign) - kPayloadUnit;
    Resize(new_capacity > new_size ? new_capacity : new_size);
  }
  char* dest = reinterpret_cast<char*>(header_) + header_size_ + write_offset_;
  if (padded != length)
    std::memset(dest + length, 0, padded - length);
  header_->payload_size = static_cast<uint32_t>(new_size);
  write_offset_ = new_size;
  return dest;
}

}  // namespace base
