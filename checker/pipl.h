// Reading and checking the plug-in property list (PiPL) the host scans.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace checker {

struct PiplProperty {
  std::string vendor;  // four characters, e.g. "8BIM"
  std::string key;     // four characters, e.g. "kind"
  uint32_t id = 0;
  uint32_t length = 0;        // as stored
  std::vector<uint8_t> data;  // the padded data
};

// Parses the resource bytes; throws std::runtime_error when they are malformed.
std::vector<PiplProperty> ParsePipl(const std::vector<uint8_t>& bytes);

// What global set-up reported, which the PiPL must repeat.
struct ReportedSetup {
  uint32_t version;
  int32_t outFlags;
  int32_t outFlags2;
};

// Checks every property against the effect's constants and the report;
// returns one line per problem, empty when the PiPL is right.
std::vector<std::string> CheckPipl(const std::vector<PiplProperty>& properties,
                                   const ReportedSetup& reported);

// The PIPL resource 16000 of a module, read through the Windows resource API.
// Throws std::runtime_error where it cannot (and on other systems).
std::vector<uint8_t> ReadPiplResource(const std::string& modulePath);

// The application manifest (resource type 24, id 2), the same way.
std::string ReadManifestResource(const std::string& modulePath);

}  // namespace checker
