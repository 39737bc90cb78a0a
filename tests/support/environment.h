// Environment variables the plug-in reads at each render (its SIMD path and
// worker-count overrides), set from the tests and the benchmarks.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tilvane_test {

// Sets name to value, or removes it when value is null. On Windows this goes
// through the C runtime's own table (_putenv_s), which the plug-in's getenv
// reads; SetEnvironmentVariable would not reach it.
void SetEnvironment(const char* name, const char* value);

// Sets variables for a scope, then gives each back its earlier value, or
// removes it if it had none.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void set(const char* name, const char* value);

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tilvane_test
