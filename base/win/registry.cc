#include "base/win/registry.h"

#include <utility>

namespace base {
namespace win {

namespace {

constexpr REGSAM kWow64AccessMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

}  // namespace

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : key_(std::move(other.key_)), wow64access_(std::exchange(other.wow64access_, 0)) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    key_ = std::move(other.key_);
    wow64access_ = std::exchange(other.wow64access_, 0);
  }
  return *this;
}

RegistryKey::~RegistryKey() {
  Close();
}

LONG RegistryKey::Open(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  const LONG result = ::RegOpenKeyExW(root, subkey, 0, access, &key);
  if (result != ERROR_SUCCESS)
    return result;
  key_.reset(key);
  wow64access_ = access & kWow64AccessMask;
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadValueDword(const wchar_t* name, DWORD* value) const {
  DWORD type = REG_DWORD;
  DWORD local_value = 0;
  DWORD size = sizeof(local_value);
  const LONG result = ::RegQueryValueExW(key_.get(), name, nullptr, &type,
                                         reinterpret_cast<BYTE*>(&local_value), &size);
  if (result != ERROR_SUCCESS)
    return result;
  if ((type != REG_DWORD && type != REG_BINARY) || size != sizeof(local_value))
    return ERROR_CANTREAD;
  *value = local_value;
  return ERROR_SUCCESS;
}

void RegistryKey::Close() {
  key_.reset();
  wow64access_ = 0;
}

}  // namespace win
}  // namespace base
