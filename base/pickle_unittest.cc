#include "base/pickle.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/platform/windows_types.h"
#include "gtest/gtest.h"
#include "testing/fuzz_scale.h"
#include "testing/guarded_bytes.h"

namespace base {
namespace {

std::vector<char> Bytes(const Pickle& pickle) {
  const char* data = static_cast<const char*>(pickle.data());
  return std::vector<char>(data, data + pickle.size());
}

TEST(Pickle, RoundTrip_EveryFieldType) {
  Pickle pickle;
  pickle.WriteBool(true);
  pickle.WriteBool(false);
  pickle.WriteInt(-7);
  pickle.WriteUInt32(0xFFFFFFFEu);
  pickle.WriteInt64(-0x123456789ABCLL);
  pickle.WriteUInt64(0xFEDCBA9876543210ULL);
  pickle.WriteFloat(1.5f);
  pickle.WriteDouble(-2.25);
  pickle.WriteString("hello");
  pickle.WriteString("");
  pickle.WriteData("a\0b", 3);
  pickle.WriteBytes("xyz", 3);

  PickleIterator iter(pickle);
  bool b1, b2;
  int i;
  uint32_t u32;
  int64_t i64;
  uint64_t u64;
  float f;
  double d;
  std::string s1, s2;
  const char* data;
  int length;
  const char* bytes;
  ASSERT_TRUE(iter.ReadBool(&b1));
  ASSERT_TRUE(iter.ReadBool(&b2));
  ASSERT_TRUE(iter.ReadInt(&i));
  ASSERT_TRUE(iter.ReadUInt32(&u32));
  ASSERT_TRUE(iter.ReadInt64(&i64));
  ASSERT_TRUE(iter.ReadUInt64(&u64));
  ASSERT_TRUE(iter.ReadFloat(&f));
  ASSERT_TRUE(iter.ReadDouble(&d));
  ASSERT_TRUE(iter.ReadString(&s1));
  ASSERT_TRUE(iter.ReadString(&s2));
  ASSERT_TRUE(iter.ReadData(&data, &length));
  ASSERT_TRUE(iter.ReadBytes(&bytes, 3));
  EXPECT_TRUE(b1);
  EXPECT_FALSE(b2);
  EXPECT_EQ(-7, i);
  EXPECT_EQ(0xFFFFFFFEu, u32);
  EXPECT_EQ(-0x123456789ABCLL, i64);
  EXPECT_EQ(0xFEDCBA9876543210ULL, u64);
  EXPECT_EQ(1.5f, f);
  EXPECT_EQ(-2.25, d);
  EXPECT_EQ("hello", s1);
  EXPECT_EQ("", s2);
  EXPECT_EQ(std::string("a\0b", 3), std::string(data, static_cast<size_t>(length)));
  EXPECT_EQ("xyz", std::string(bytes, 3));
  EXPECT_TRUE(iter.ReachedEnd());
  int extra;
  EXPECT_FALSE(iter.ReadInt(&extra));
}

TEST(Pickle, Write_PadsEveryFieldToFourBytes) {
  struct {
    const char* text;
    size_t payload_size;
  } cases[] = {
      {"", 4},       {"a", 8},         {"abc", 8},        {"abcd", 8},
      {"abcde", 12}, {"abcdefgh", 12}, {"abcdefghi", 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Pickle pickle;
    pickle.WriteString(c.text);
    EXPECT_EQ(c.payload_size, pickle.payload_size());
    EXPECT_EQ(pickle.header_size() + c.payload_size, pickle.size());
    // The header's first field is the payload size.
    uint32_t stored;
    std::memcpy(&stored, pickle.data(), sizeof(stored));
    EXPECT_EQ(c.payload_size, stored);
    // Length first, then the bytes, then zero padding.
    const char* payload = pickle.payload();
    uint32_t length;
    std::memcpy(&length, payload, sizeof(length));
    EXPECT_EQ(std::strlen(c.text), length);
    EXPECT_EQ(0, std::memcmp(payload + 4, c.text, length));
    for (size_t k = 4 + length; k < c.payload_size; ++k)
      EXPECT_EQ(0, payload[k]) << "padding byte " << k;
  }
}

TEST(Pickle, WriteInt_OnEmptyPickle) {
  Pickle pickle;
  EXPECT_EQ(64u, pickle.capacity_after_header());
  EXPECT_EQ(0u, pickle.payload_size());
  pickle.WriteInt(1);
  EXPECT_EQ(4u, pickle.payload_size());
  EXPECT_EQ(64u, pickle.capacity_after_header());
}

TEST(Pickle, Growth_DoublesThenGrowsInPagesLessOneUnit) {
  Pickle pickle;
  std::vector<size_t> capacities = {pickle.capacity_after_header()};
  for (int i = 0; i < 5000; ++i) {
    pickle.WriteInt(i);
    if (pickle.capacity_after_header() != capacities.back())
      capacities.push_back(pickle.capacity_after_header());
  }
  std::vector<size_t> expected = {64, 128, 256, 512, 1024, 2048, 4096, 8128, 16320, 32704};
  EXPECT_EQ(expected, capacities);
  PickleIterator iter(pickle);
  for (int i = 0; i < 5000; ++i) {
    int value;
    ASSERT_TRUE(iter.ReadInt(&value));
    ASSERT_EQ(i, value);
  }
}

TEST(Pickle, Growth_ForOneLargeFieldTakesTheFieldSize) {
  Pickle pickle;
  std::string big(10000, 'x');
  pickle.WriteString(big);
  // The doubled capacity (128) is too small: the field's own size wins,
  // rounded up to whole payload units.
  EXPECT_EQ(10048u, pickle.capacity_after_header());
  PickleIterator iter(pickle);
  std::string read;
  ASSERT_TRUE(iter.ReadString(&read));
  EXPECT_EQ(big, read);
}

TEST(Pickle, Read_PastTheEndFailsAndStaysAtTheEnd) {
  struct {
    size_t payload_bytes;  // ints written, times 4, then cut to this length
    bool int64_ok;
    bool int_after_ok;
  } cases[] = {
      {0, false, false}, {4, false, false}, {7, false, false}, {8, true, false}, {12, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload_bytes);
    Pickle source;
    for (int i = 0; i < 4; ++i)
      source.WriteInt(0x01010101 * (i + 1));
    std::vector<char> bytes = Bytes(source);
    // Rewrite the payload size to cut the message short.
    uint32_t size = static_cast<uint32_t>(c.payload_bytes);
    std::memcpy(bytes.data(), &size, sizeof(size));
    bytes.resize(source.header_size() + c.payload_bytes);
    Pickle cut(bytes.data(), bytes.size());
    ASSERT_EQ(c.payload_bytes, cut.payload_size());
    PickleIterator iter(cut);
    int64_t big;
    EXPECT_EQ(c.int64_ok, iter.ReadInt64(&big));
    int small;
    EXPECT_EQ(c.int_after_ok, iter.ReadInt(&small));
    if (!c.int_after_ok) {
      EXPECT_TRUE(iter.ReachedEnd());
    }
  }
}

TEST(Pickle, ReadString_LengthBeyondPayloadFails) {
  struct {
    int length;
    size_t bytes_after;
    bool ok;
  } cases[] = {
      {-1, 8, false}, {9, 8, false}, {8, 8, true}, {0, 0, true}, {0x7FFFFFFF, 4, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    Pickle pickle;
    pickle.WriteInt(c.length);
    for (size_t k = 0; k < c.bytes_after; k += 4)
      pickle.WriteInt(0x61616161);
    PickleIterator iter(pickle);
    std::string out;
    EXPECT_EQ(c.ok, iter.ReadString(&out));
    if (!c.ok) {
      EXPECT_TRUE(iter.ReachedEnd());
    }
  }
}

TEST(Pickle, ForeignBytes_ShorterThanTheHeaderGiveAnEmptyPickle) {
  testing_support::GuardedBytes guard;
  ASSERT_TRUE(guard.ok());
  Pickle source;
  source.WriteInt(42);
  std::vector<char> full = Bytes(source);
  // Bytes end at a page end, so odd lengths (5, 9) put the view at an odd address.
  struct {
    size_t length;
    uint32_t claimed_payload;
    bool valid;
  } cases[] = {
      {0, 0, false}, {1, 0, false}, {3, 0, false},  {4, 0, true}, {8, 4, true},
      {8, 5, false}, {8, 8, false}, {12, 6, false}, {5, 1, true}, {9, 5, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<char> bytes(c.length, 0);
    std::copy_n(full.begin(), std::min(c.length, full.size()), bytes.begin());
    if (c.length >= 4)
      std::memcpy(bytes.data(), &c.claimed_payload, 4);
    Pickle view(guard.Place(bytes), bytes.size());
    EXPECT_EQ(c.valid, view.size() != 0);
    EXPECT_EQ(Pickle::kCapacityReadOnly, view.capacity_after_header());
    PickleIterator iter(view);
    int value;
    EXPECT_EQ(c.valid && c.claimed_payload >= 4, iter.ReadInt(&value));
  }
}

TEST(Pickle, Copy_OfAReadOnlyViewIsWritable) {
  Pickle source;
  source.WriteInt(5);
  std::vector<char> bytes = Bytes(source);
  Pickle view(bytes.data(), bytes.size());
  Pickle copy(view);
  copy.WriteInt(6);
  Pickle assigned;
  assigned = copy;
  PickleIterator iter(assigned);
  int a, b;
  ASSERT_TRUE(iter.ReadInt(&a));
  ASSERT_TRUE(iter.ReadInt(&b));
  EXPECT_EQ(5, a);
  EXPECT_EQ(6, b);
  // The view itself is unchanged.
  EXPECT_EQ(4u, view.payload_size());
}

TEST(PickleDeathTest, Write_ToReadOnlyViewIsFatal) {
  Pickle source;
  source.WriteInt(1);
  source.WriteInt(2);
  std::vector<char> bytes = Bytes(source);
  EXPECT_DEATH(
      {
        Pickle view(bytes.data(), bytes.size());
        view.WriteInt(3);
      },
      "Check failed: capacity_after_header_ != kCapacityReadOnly");
  EXPECT_DEATH(
      {
        Pickle empty(bytes.data(), 2);
        empty.WriteBytes("", 0);
      },
      "Check failed: capacity_after_header_ != kCapacityReadOnly");
}

// Random and truncated bytes read through random field reads must fail
// cleanly: the guard page turns any read past the end into a fault.
TEST(Pickle, Fuzz_RandomAndTruncatedBytesNeverReadOutOfBounds) {
  testing_support::GuardedBytes guard;
  ASSERT_TRUE(guard.ok());
  std::mt19937 rng(testing_support::FuzzSeed(20261208));
  for (int round = 0; round < testing_support::FuzzRounds(2000); ++round) {
    std::vector<char> bytes;
    if (round % 2 == 0) {
      bytes.resize(rng() % 64);
      for (char& ch : bytes)
        ch = static_cast<char>(rng());
      // Often claim a plausible payload size so that reads get going.
      if (bytes.size() >= 4 && rng() % 2) {
        uint32_t size = static_cast<uint32_t>(bytes.size() - 4);
        std::memcpy(bytes.data(), &size, 4);
      }
    } else {
      Pickle source;
      source.WriteString(std::string(rng() % 20, 's'));
      source.WriteInt64(static_cast<int64_t>(rng()));
      source.WriteData("zz", 2);
      bytes = Bytes(source);
      bytes.resize(rng() % (bytes.size() + 1));
      // Keep the claimed size, now larger than what is left, half the time.
      if (bytes.size() >= 4 && rng() % 2) {
        uint32_t size = static_cast<uint32_t>(bytes.size() - 4);
        std::memcpy(bytes.data(), &size, 4);
      }
    }
    Pickle view(guard.Place(bytes), bytes.size());
    PickleIterator iter(view);
    for (int step = 0; step < 8; ++step) {
      bool ok = false;
      switch (rng() % 5) {
        case 0: {
          int v;
          ok = iter.ReadInt(&v);
          break;
        }
        case 1: {
          int64_t v;
          ok = iter.ReadInt64(&v);
          break;
        }
        case 2: {
          std::string s;
          ok = iter.ReadString(&s);
          break;
        }
        case 3: {
          const char* d;
          int n;
          ok = iter.ReadData(&d, &n);
          if (ok && n > 0) {
            volatile char last = d[n - 1];
            (void)last;
          }
          break;
        }
        case 4: {
          double v;
          ok = iter.ReadDouble(&v);
          break;
        }
      }
      if (!ok) {
        ASSERT_TRUE(iter.ReachedEnd());
        int v;
        ASSERT_FALSE(iter.ReadInt(&v));
      }
    }
  }
}

}  // namespace
}  // namespace base
