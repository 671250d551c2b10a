#include "base/win/registry.h"

#include <cstdint>
#include <vector>

#include "gtest/gtest.h"
#include "testing/scoped_test_handle.h"

namespace base {
namespace win {
namespace {

constexpr wchar_t kTestKey[] = L"Software\\BaseRegistryKeyTest";

// A scratch key below HKEY_CURRENT_USER, removed again at the end.
class RegistryKeyTest : public testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, key_.receive(), nullptr));
  }
  void TearDown() override {
    key_.reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
  }
  void SetValue(const wchar_t* name, DWORD type, const std::vector<uint8_t>& data) {
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key_.get(), name, 0, type, data.data(),
                                              static_cast<DWORD>(data.size())));
  }

  testing_support::ScopedRegistryKey key_;
};

TEST_F(RegistryKeyTest, ReadValueDword_OnlyFourByteDwordOrBinary) {
  SetValue(L"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12});
  SetValue(L"binary4", REG_BINARY, {1, 0, 0, 0});
  SetValue(L"binary3", REG_BINARY, {1, 0, 0});
  SetValue(L"qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
  SetValue(L"binary8", REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0});
  SetValue(L"string", REG_SZ, {'1', 0, 0, 0});

  RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kTestKey, KEY_QUERY_VALUE));

  // What the platform says about a value that is not there.
  DWORD probe = 0;
  DWORD probe_size = sizeof(probe);
  const LONG missing_error = ::RegQueryValueExW(key_.get(), L"missing", nullptr, nullptr,
                                                reinterpret_cast<BYTE*>(&probe), &probe_size);
  ASSERT_NE(ERROR_SUCCESS, missing_error);

  const struct {
    const wchar_t* name;
    LONG expected_result;
    DWORD expected_value;
  } cases[] = {
      {L"dword", ERROR_SUCCESS, 0x12345678},    {L"binary4", ERROR_SUCCESS, 1},
      {L"binary3", ERROR_CANTREAD, 0xDEADBEEF}, {L"string", ERROR_CANTREAD, 0xDEADBEEF},
      {L"missing", missing_error, 0xDEADBEEF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << static_cast<const void*>(c.name));
    DWORD value = 0xDEADBEEF;
    EXPECT_EQ(c.expected_result, key.ReadValueDword(c.name, &value));
    EXPECT_EQ(c.expected_value, value);
  }
  // Eight bytes do not fit the four-byte buffer: the platform's error (more
  // data) or a refusal of the size, never a value.
  for (const wchar_t* name : {L"qword", L"binary8"}) {
    DWORD value = 0xDEADBEEF;
    EXPECT_NE(ERROR_SUCCESS, key.ReadValueDword(name, &value));
    EXPECT_EQ(0xDEADBEEFu, value);
  }
}

TEST_F(RegistryKeyTest, Open_FailureKeepsKeyAndSuccessReplacesIt) {
  RegistryKey key;
  EXPECT_FALSE(key.Valid());
  ASSERT_EQ(ERROR_SUCCESS,
            key.Open(HKEY_CURRENT_USER, kTestKey, KEY_QUERY_VALUE | KEY_WOW64_32KEY));
  EXPECT_TRUE(key.Valid());
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_32KEY), key.wow64access());
  const HKEY first = key.Handle();

  HKEY probe = nullptr;
  const LONG expected_error =
      ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\NoSuchKey\\Below", 0, KEY_QUERY_VALUE, &probe);
  ASSERT_NE(ERROR_SUCCESS, expected_error);
  EXPECT_EQ(expected_error,
            key.Open(HKEY_CURRENT_USER, L"Software\\NoSuchKey\\Below", KEY_QUERY_VALUE));
  EXPECT_EQ(first, key.Handle());

  ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kTestKey, KEY_QUERY_VALUE));
  EXPECT_TRUE(key.Valid());
  EXPECT_EQ(0u, key.wow64access());

  RegistryKey moved(std::move(key));
  EXPECT_FALSE(key.Valid());
  EXPECT_TRUE(moved.Valid());
  moved.Close();
  EXPECT_FALSE(moved.Valid());
  EXPECT_EQ(0u, moved.wow64access());
}

}  // namespace
}  // namespace win
}  // namespace base
