// The two kinds of failure the tool reports, with their exit statuses.
#pragma once

#include <stdexcept>
#include <string>

#include "standin/host.h"

namespace tilvane_tool {

constexpr int kExitHostError = 1;
constexpr int kExitUsage = 2;

// Bad input from the user or the file system: a one-line message that names
// the input and says what to do. Exit status 2; nothing is written.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A non-zero code the effect returned to the host. Exit status 1.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The code with the host's name for it and what the effect was doing, e.g.
// "the effect returned error 4 (PF_Err_OUT_OF_MEMORY) rendering frame 3; ...".
inline HostError EffectFailed(PF_Err err, const std::string& what) {
  return HostError("the effect returned error " + std::to_string(err) + " (" +
                   standin::ErrorName(err) + ") " + what + "; check the plug-in and its settings");
}

}  // namespace tilvane_tool
