// The version resource (VERSIONINFO) Explorer's Properties page and
// deployment tools read, and its check against what the host is told.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "checker/pipl.h"

namespace checker {

struct VersionInfo {
  std::array<uint16_t, 4> fileVersion{};  // major, minor, bug-fix, build
  std::array<uint16_t, 4> productVersion{};
  std::map<std::string, std::string> strings;  // of the US English, Unicode table
};

// Read through the Windows version API, as Explorer reads it. Throws
// std::runtime_error where it cannot (and on other systems).
VersionInfo ReadVersionInfo(const std::string& modulePath);

// Checks the resource against the PiPL the host reads (name, eVER) and the
// About message the user sees; returns one line per problem.
std::vector<std::string> CheckVersionInfo(const VersionInfo& info,
                                          const std::vector<PiplProperty>& pipl,
                                          const std::string& aboutMessage);

// "Tilvane 1.0 (file 1.0.0.1), Brenholt, Copyright ...", for the record.
std::string Describe(const VersionInfo& info);

}  // namespace checker
