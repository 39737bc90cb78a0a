// The kinds of failure the tool reports, with their exit statuses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "standin/host.h"

namespace tilvane_tool {

constexpr int kExitHostError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWrite = 3;

// The statuses as --help lists them.
constexpr const char* kExitStatusHelp =
    "Exit status: 0 success, 1 effect error, 2 usage or input error, 3 write error; "
    "130 or 143 when stopped by SIGINT (Ctrl-C) or SIGTERM, after saying which frames are on "
    "disk.";

// Bad input from the user or the file system, found before the frame that
// needs it is written: a one-line message that names the input and says what
// to do. Exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A non-zero code the effect returned to the host. Exit status 1.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An output that could not be written completely: the message names the file
// and the system's reason. Exit status 3; nothing incomplete is left behind.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Prints "tilvane: warning: " and the text on standard error, after what is
// already on standard output.
inline void Warn(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "tilvane: warning: %s\n", text.c_str());
}

// The code with the host's name for it and what the effect was doing, e.g.
// "the effect returned error 4 (PF_Err_OUT_OF_MEMORY) rendering frame 3; ...".
inline HostError EffectFailed(PF_Err err, const std::string& what) {
  return HostError("the effect returned error " + std::to_string(err) + " (" +
                   standin::ErrorName(err) + ") " + what + "; check the plug-in and its settings");
}

// Messages stay on one line, and name what they quote like this: 'name'.
inline std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}
inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// ASCII lower case, for file extensions and format names.
inline std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "7.2 GB", "512 MB": the size of an allocation that did not fit.
inline std::string ByteSize(uint64_t bytes) {
  const bool giga = bytes >= 1'000'000'000;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", static_cast<double>(bytes) / (giga ? 1e9 : 1e6),
                giga ? "GB" : "MB");
  return text;
}

constexpr const char* kMemoryAdvice = "give a smaller --size, fewer --threads or smaller layers";

// Runs make(), turning std::bad_alloc into a UsageError that says what did not
// fit, e.g. "not enough memory for a 30000x30000 frame at 16 bits (7.2 GB); ...".
template <typename Make>
auto WithMemoryFor(const std::string& what, uint64_t bytes, Make make) {
  try {
    return make();
  } catch (const std::bad_alloc&) {
    throw UsageError("not enough memory for " + what + " (" + ByteSize(bytes) + "); " +
                     kMemoryAdvice);
  }
}

}  // namespace tilvane_tool
