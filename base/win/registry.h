#ifndef BASE_WIN_REGISTRY_H_
#define BASE_WIN_REGISTRY_H_

#include <cstdint>

#include "base/platform/scoped_any_win.h"
#include "base/platform/windows_types.h"

namespace base {
namespace win {

// Owns one open registry key (or none) and reads values from it. Results are
// Win32 error codes, ERROR_SUCCESS (0) on success. Move-only; not
// thread-safe. Destruction closes the key.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  ~RegistryKey();

  // Opens `subkey` below `root` with `access`. On failure returns the error
  // and keeps the key held before; on success closes that key first.
  LONG Open(HKEY root, const wchar_t* subkey, REGSAM access);

  // Reads a 4-byte REG_DWORD or REG_BINARY value. Another type or size gives
  // ERROR_CANTREAD; `*value` is written only on success.
  LONG ReadValueDword(const wchar_t* name, DWORD* value) const;

  // Closes the key, if one is held.
  void Close();

  bool Valid() const { return key_.is_valid(); }
  HKEY Handle() const { return key_.get(); }
  // The WOW64 view bits (KEY_WOW64_32KEY, KEY_WOW64_64KEY) of the open key.
  REGSAM wow64access() const { return wow64access_; }

 private:
  struct KeyTraits {
    using Type = HKEY;
    static HKEY InvalidValue() { return nullptr; }
    static void Free(HKEY key) { ::RegCloseKey(key); }
  };

  ScopedAny<KeyTraits> key_;
  REGSAM wow64access_ = 0;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_REGISTRY_H_
