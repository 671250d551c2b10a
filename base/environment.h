#ifndef BASE_ENVIRONMENT_H_
#define BASE_ENVIRONMENT_H_

#include <memory>
#include <string>
#include <string_view>

namespace base {

// Access to the process's environment variables. Names and values are UTF-8;
// they are converted to and from UTF-16 for the platform. Implementations keep
// no state, so calls from several threads meet only in the platform's
// environment block.
class Environment {
 public:
  virtual ~Environment();

  // A new instance reading and writing the process environment.
  static std::unique_ptr<Environment> Create();

  // Returns true if the variable exists (an empty value counts) and, when
  // `result` is not null, stores its value there. A name not found as given
  // is tried again with its ASCII case flipped whole (lower to upper when it
  // starts with a lower-case letter, upper to lower when it starts with an
  // upper-case one). An empty name is never found. `result` is left alone
  // when the answer is false.
  virtual bool GetVariable(std::string_view variable_name, std::string* result) = 0;

  // GetVariable without the value.
  virtual bool HasVariable(std::string_view variable_name);

  // Sets the variable (an empty value is allowed); returns whether the
  // platform accepted it.
  virtual bool SetVariable(std::string_view variable_name, const std::string& new_value) = 0;

  // Removes the variable; returns whether the platform accepted the removal.
  virtual bool UnsetVariable(std::string_view variable_name) = 0;
};

}  // namespace base

#endif  // BASE_ENVIRONMENT_H_
