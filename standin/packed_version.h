// The host's packed version (PF_VERSION) read back, for people: the tool
// prints the effect's, and the checker compares it with the version Windows
// shows. Header-only, so neither links the other for it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace standin {

// The packed version, field by field. The major version takes bits 19 to 21
// and continues in bits 26 to 29.
struct PackedVersion {
  unsigned major = 0, minor = 0, bugfix = 0;
  unsigned stage = 0;  // 0 develop, 1 alpha, 2 beta, 3 release
  unsigned build = 0;
};

inline PackedVersion UnpackVersion(uint32_t packed) {
  PackedVersion v;
  v.major = ((packed >> 26) & 0xF) << 3 | ((packed >> 19) & 0x7);
  v.minor = (packed >> 15) & 0xF;
  v.bugfix = (packed >> 11) & 0xF;
  v.stage = (packed >> 9) & 0x3;
  v.build = packed & 0x1FF;
  return v;
}

// "1.0.0 (develop, build 1; packed 0x80001)".
inline std::string VersionText(uint32_t packed) {
  const PackedVersion v = UnpackVersion(packed);
  static const char* const kStages[] = {"develop", "alpha", "beta", "release"};
  char text[96];
  std::snprintf(text, sizeof text, "%u.%u.%u (%s, build %u; packed 0x%X)", v.major, v.minor,
                v.bugfix, kStages[v.stage], v.build, static_cast<unsigned>(packed));
  return text;
}

}  // namespace standin
