#include "tests/support/environment.h"

#include <cstdlib>
#include <stdexcept>

namespace tilvane_test {

void SetEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
  // An empty value removes the variable.
  const int failed = _putenv_s(name, value != nullptr ? value : "");
#else
  const int failed = value != nullptr ? setenv(name, value, 1) : unsetenv(name);
#endif
  if (failed != 0) {
    throw std::runtime_error(std::string("cannot set the environment variable ") + name +
                             "; check that the name holds no '='");
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  // Latest first, so a variable set twice ends with its value from before the scope.
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    SetEnvironment(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
  }
}

void ScopedEnvironment::set(const char* name, const char* value) {
  const char* previous = std::getenv(name);
  saved_.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
  SetEnvironment(name, value);
}

}  // namespace tilvane_test
