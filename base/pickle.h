#ifndef BASE_PICKLE_H_
#define BASE_PICKLE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace base {

class Pickle;

// Reads the fields of a Pickle in the order they were written. Every read
// returns false when fewer bytes remain than the field needs; the iterator is
// then at its end and every later read fails too. Nothing is partially read.
// The pickle must outlive the iterator and stay unchanged while it is used.
class PickleIterator {
 public:
  PickleIterator() = default;
  explicit PickleIterator(const Pickle& pickle);

  [[nodiscard]] bool ReadBool(bool* result);
  [[nodiscard]] bool ReadInt(int* result);
  [[nodiscard]] bool ReadUInt32(uint32_t* result);
  [[nodiscard]] bool ReadInt64(int64_t* result);
  [[nodiscard]] bool ReadUInt64(uint64_t* result);
  [[nodiscard]] bool ReadFloat(float* result);
  [[nodiscard]] bool ReadDouble(double* result);
  // A length-prefixed string as WriteString wrote it; a negative length fails.
  [[nodiscard]] bool ReadString(std::string* result);
  // A length-prefixed byte run as WriteData wrote it; `*data` points into the
  // pickle.
  [[nodiscard]] bool ReadData(const char** data, int* length);
  // `length` raw bytes as WriteBytes wrote them; `*data` points into the pickle.
  [[nodiscard]] bool ReadBytes(const char** data, int length);
  [[nodiscard]] bool SkipBytes(int num_bytes);

  // Bytes not read yet, and whether none are left.
  size_t RemainingBytes() const { return end_index_ - read_index_; }
  bool ReachedEnd() const { return read_index_ == end_index_; }

 private:
  // Returns the start of the next `num_bytes` and advances past them and their
  // padding, or returns null and moves to the end when too few bytes remain.
  const char* GetReadPointerAndAdvance(size_t num_bytes);
  template <typename T>
  bool ReadPod(T* result);

  const char* payload_ = nullptr;
  size_t read_index_ = 0;
  size_t end_index_ = 0;
};

// A flat, growable binary message: a header whose first field is the payload
// size, then fields each padded with zero bytes to a multiple of 4. Values are
// stored as they lie in memory (little-endian). Writes never fail short of an
// allocation failure, which is fatal; writing to a read-only pickle is fatal.
// Not thread-safe.
class Pickle {
 public:
  // Marks a pickle over foreign bytes that must never be written.
  static constexpr size_t kCapacityReadOnly = static_cast<size_t>(-1);
  // The granularity of payload capacity.
  static constexpr size_t kPayloadUnit = 64;

  struct Header {
    uint32_t payload_size;
  };

  // An empty pickle with the plain header and 64 bytes of payload capacity.
  Pickle();
  // An empty pickle whose header is `header_size` bytes (at least
  // sizeof(Header), rounded up to 4); the bytes after the first field are zero.
  explicit Pickle(size_t header_size);
  // A read-only view of `data_len` bytes holding a serialised pickle; the bytes
  // are not copied and must outlive this object. Bytes too short for a header,
  // or whose payload size does not fit in `data_len`, give an empty pickle
  // (size() 0, no fields to read).
  Pickle(const char* data, size_t data_len);
  // Copies are writable and own their bytes.
  Pickle(const Pickle& other);
  Pickle& operator=(const Pickle& other);
  ~Pickle();

  // The whole message (header and payload) and its length in bytes.
  const void* data() const { return header_; }
  size_t size() const { return header_ ? header_size_ + payload_size() : 0; }

  const char* payload() const { return reinterpret_cast<const char*>(header_) + header_size_; }
  // Copied out of the header: a view over foreign bytes may start at any
  // address, where reading the field in place would be misaligned.
  size_t payload_size() const {
    if (!header_)
      return 0;
    uint32_t size;
    std::memcpy(&size, header_, sizeof(size));
    return size;
  }
  size_t header_size() const { return header_size_; }
  size_t capacity_after_header() const { return capacity_after_header_; }

  void WriteBool(bool value) { WriteInt(value ? 1 : 0); }
  void WriteInt(int value) { WritePod(value); }
  void WriteUInt32(uint32_t value) { WritePod(value); }
  void WriteInt64(int64_t value) { WritePod(value); }
  void WriteUInt64(uint64_t value) { WritePod(value); }
  void WriteFloat(float value) { WritePod(value); }
  void WriteDouble(double value) { WritePod(value); }
  // Length (32-bit), the bytes without terminator, zero padding.
  void WriteString(const std::string& value);
  // Length (32-bit, `length` must not be negative), the bytes, zero padding.
  void WriteData(const char* data, int length);
  // The bytes, zero padding; no length.
  void WriteBytes(const void* data, size_t length);

 private:
  // Fixed-size fields: the copy is inlined, only the claim is a call.
  template <typename T>
  void WritePod(const T& value) {
    static_assert(sizeof(T) % 4 == 0, "fields without padding");
    std::memcpy(ClaimBytes(sizeof(T)), &value, sizeof(T));
  }
  void Resize(size_t new_capacity);
  // Makes room for `length` bytes (plus padding) and returns where they go.
  char* ClaimBytes(size_t length);

  Header* header_ = nullptr;
  size_t header_size_ = sizeof(Header);
  size_t capacity_after_header_ = 0;
  size_t write_offset_ = 0;
};

}  // namespace base

#endif  // BASE_PICKLE_H_
