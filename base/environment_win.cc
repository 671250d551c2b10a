#include "base/environment.h"

#include <vector>

#include "base/platform/windows_types.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

class EnvironmentImpl : public Environment {
 public:
  bool GetVariable(std::string_view variable_name, std::string* result) override {
    if (variable_name.empty())
      return false;
    if (GetVariableImpl(variable_name, result))
      return true;

    // Windows names are case-insensitive, but callers written for other
    // platforms may spell a name in the other case; try the whole name in
    // the opposite case once.
    const char first = variable_name[0];
    std::string alternate(variable_name);
    if (first >= 'a' && first <= 'z') {
      for (char& c : alternate)
        c = ToUpperASCII(c);
    } else if (first >= 'A' && first <= 'Z') {
      for (char& c : alternate)
        c = ToLowerASCII(c);
    } else {
      return false;
    }
    return GetVariableImpl(alternate, result);
  }

  bool SetVariable(std::string_view variable_name, const std::string& new_value) override {
    const std::wstring name = ToWide(variable_name);
    const std::wstring value = ToWide(new_value);
    return ::SetEnvironmentVariableW(name.c_str(), value.c_str()) != FALSE;
  }

  bool UnsetVariable(std::string_view variable_name) override {
    const std::wstring name = ToWide(variable_name);
    return ::SetEnvironmentVariableW(name.c_str(), nullptr) != FALSE;
  }

 private:
  static std::wstring ToWide(std::string_view text) {
    std::wstring wide;
    UTF8ToWide(text.data(), text.size(), &wide);
    return wide;
  }

  static bool GetVariableImpl(std::string_view variable_name, std::string* result) {
    const std::wstring name = ToWide(variable_name);
    // The size asked for includes the terminating NUL, so an existing empty
    // variable answers 1 and only an absent one answers 0.
    DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0)
      return false;
    if (!result)
      return true;
    // Another thread may change the variable between the two calls: it may
    // vanish (0) or grow (a size larger than the buffer), so read until the
    // value fits.
    std::vector<wchar_t> buffer;
    for (;;) {
      buffer.assign(size, L'\0');
      ::SetLastError(ERROR_SUCCESS);
      const DWORD length = ::GetEnvironmentVariableW(name.c_str(), buffer.data(), size);
      if (length == 0) {
        // Gone, unless the value became empty: then the error stays clear.
        const DWORD error = ::GetLastError();
        if (error == ERROR_ENVVAR_NOT_FOUND)
          return false;
        result->clear();
        return true;
      }
      if (length < size) {
        WideToUTF8(buffer.data(), length, result);
        return true;
      }
      size = length;
    }
  }
};

}  // namespace

// static
std::unique_ptr<Environment> Environment::Create() {
  return std::make_unique<EnvironmentImpl>();
}

}  // namespace base
