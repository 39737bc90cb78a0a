// The host's packed version as people read it.
#include "standin/packed_version.h"

#include <gtest/gtest.h>

namespace {

// The text people read: every field of the packed version, the stage by
// name, and the packed number itself.
TEST(VersionText, SpellsEveryFieldOfThePackedVersion) {
  struct Case {
    uint32_t packed;
    const char* text;
  };
  const Case cases[] = {
      {0x80001, "1.0.0 (develop, build 1; packed 0x80001)"},
      {(2u << 19) | (3u << 15) | (4u << 11) | (2u << 9) | 5u,
       "2.3.4 (beta, build 5; packed 0x11A405)"},
      {(1u << 26) | (1u << 19) | (3u << 9) | 1u, "9.0.0 (release, build 1; packed 0x4080601)"},
      {(1u << 9), "0.0.0 (alpha, build 0; packed 0x200)"},
      {0xFFFFFFFF, "127.15.15 (release, build 511; packed 0xFFFFFFFF)"},
  };
  for (const Case& c : cases) EXPECT_EQ(standin::VersionText(c.packed), c.text);
}

}  // namespace
