#include "base/environment.h"

namespace base {

Environment::~Environment() = default;

bool Environment::HasVariable(std::string_view variable_name) {
  return GetVariable(variable_name, nullptr);
}

}  // namespace base
