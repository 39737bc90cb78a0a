// Sets environment variables for the length of a scope and restores what was
// there before: the plug-in reads its run-time overrides at every render.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tilvane_test {

// Sets name to value, or removes it for no value. On Windows through the C
// runtime's own table (_putenv_s), the one the plug-in's getenv reads;
// SetEnvironmentVariable would not reach it.
inline void SetEnv(const std::string& name, const std::optional<std::string>& value) {
#if defined(_WIN32)
  _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
#endif
}

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const std::string& name, const std::string& value) { Set(name, value); }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) SetEnv(it->first, it->second);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    SetEnv(name, value);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tilvane_test
