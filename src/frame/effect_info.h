/* The effect's identity: the one place its name, vendor, version and flags
   are set. Read by GlobalSetup, the About message, the string table, the
   PiPL and version resource script and, for the Windows package and
   installer, the CMake project; so it holds preprocessor definitions only
   where the resource compiler reads it. */
#ifndef TILVANE_EFFECT_INFO_H
#define TILVANE_EFFECT_INFO_H

#define TILVANE_NAME "Tilvane"
#define TILVANE_MATCH_NAME "Tilvane"
#define TILVANE_VENDOR "Brenholt"
/* The Effect menu lists the effect under its vendor's name. */
#define TILVANE_CATEGORY TILVANE_VENDOR
#define TILVANE_DESCRIPTION "Generate a mosaic using a displacement layer."
#define TILVANE_COPYRIGHT "Copyright 2026 The Tilvane developers."
#define TILVANE_WEB_ADDRESS "https://tilvane.example/"
#define TILVANE_ENTRY_POINT "EntryPointFunc"

#define TILVANE_MAJOR_VERSION 1
#define TILVANE_MINOR_VERSION 0
#define TILVANE_BUGFIX_VERSION 0
#define TILVANE_STAGE 0 /* PF_Stage_DEVELOP */
#define TILVANE_BUILD 1
/* The packing of the numbers above, as the host's PF_VERSION forms it; the
   C++ build proves the two agree. */
#define TILVANE_PACKED_VERSION 0x80001
/* The version as text: "1.0" as the About box and the package show it, and
   all four numbers as Windows shows a file's version. */
#define TILVANE_TEXT(x) TILVANE_TEXT_(x)
#define TILVANE_TEXT_(x) #x
#define TILVANE_VERSION_TEXT TILVANE_TEXT(TILVANE_MAJOR_VERSION.TILVANE_MINOR_VERSION)
#define TILVANE_FILE_VERSION_TEXT \
  TILVANE_TEXT(TILVANE_MAJOR_VERSION.TILVANE_MINOR_VERSION.TILVANE_BUGFIX_VERSION.TILVANE_BUILD)

/* Deep colour: 16-bit frames too. Wide time input: every cell checks the icon
   layer out at its own time, so the host must invalidate a frame when the
   icon changes at any time, not only at the frame's own.
   PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_WIDE_TIME_INPUT: */
#define TILVANE_OUT_FLAGS 0x02000002
#define TILVANE_OUT_FLAGS2 0

/* PiPL string encodings: a length byte, the characters, zero padding to a
   multiple of four; the entry point is zero-terminated instead. */
#define TILVANE_PIPL_NAME "\x07" TILVANE_NAME
#define TILVANE_PIPL_NAME_SIZE 8
#define TILVANE_PIPL_MATCH_NAME "\x07" TILVANE_MATCH_NAME
#define TILVANE_PIPL_MATCH_NAME_SIZE 8
#define TILVANE_PIPL_CATEGORY "\x08" TILVANE_CATEGORY "\0\0\0"
#define TILVANE_PIPL_CATEGORY_SIZE 12
#define TILVANE_PIPL_ENTRY_POINT TILVANE_ENTRY_POINT "\0\0"
#define TILVANE_PIPL_ENTRY_POINT_SIZE 16

#ifndef RC_INVOKED
#include <cstddef>

#include "src/host/host_api.h"

namespace tilvane {

constexpr A_u_long kEffectVersion = TILVANE_PACKED_VERSION;
constexpr PF_OutFlags kOutFlags = TILVANE_OUT_FLAGS;
constexpr PF_OutFlags2 kOutFlags2 = TILVANE_OUT_FLAGS2;

static_assert(kEffectVersion == PF_VERSION(TILVANE_MAJOR_VERSION, TILVANE_MINOR_VERSION,
                                           TILVANE_BUGFIX_VERSION, TILVANE_STAGE, TILVANE_BUILD));
static_assert(kOutFlags == (PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_WIDE_TIME_INPUT));

// The PiPL encodings above must say what the plain constants say.
constexpr bool IsPiplString(const char* encoded, std::size_t encodedSize, const char* text,
                            std::size_t textSize) {
  if (encodedSize % 4 != 0 || static_cast<unsigned char>(encoded[0]) != textSize ||
      encodedSize < textSize + 1) {
    return false;
  }
  for (std::size_t i = 0; i < textSize; ++i) {
    if (encoded[i + 1] != text[i]) return false;
  }
  for (std::size_t i = textSize + 1; i < encodedSize; ++i) {
    if (encoded[i] != '\0') return false;
  }
  return encodedSize - (textSize + 1) < 4;
}
#define TILVANE_CHECK_PIPL_STRING(encoded, size, text) \
  static_assert(sizeof(encoded) - 1 == (size) &&       \
                IsPiplString(encoded, sizeof(encoded) - 1, text, sizeof(text) - 1))
TILVANE_CHECK_PIPL_STRING(TILVANE_PIPL_NAME, TILVANE_PIPL_NAME_SIZE, TILVANE_NAME);
TILVANE_CHECK_PIPL_STRING(TILVANE_PIPL_MATCH_NAME, TILVANE_PIPL_MATCH_NAME_SIZE,
                          TILVANE_MATCH_NAME);
TILVANE_CHECK_PIPL_STRING(TILVANE_PIPL_CATEGORY, TILVANE_PIPL_CATEGORY_SIZE, TILVANE_CATEGORY);
#undef TILVANE_CHECK_PIPL_STRING
static_assert(sizeof(TILVANE_PIPL_ENTRY_POINT) - 1 == TILVANE_PIPL_ENTRY_POINT_SIZE &&
              TILVANE_PIPL_ENTRY_POINT_SIZE % 4 == 0 &&
              TILVANE_PIPL_ENTRY_POINT_SIZE > sizeof(TILVANE_ENTRY_POINT) - 1 &&
              TILVANE_PIPL_ENTRY_POINT_SIZE - (sizeof(TILVANE_ENTRY_POINT) - 1) <= 4);
static_assert(sizeof(TILVANE_NAME) - 1 <= PF_MAX_EFFECT_NAME_LEN);

}  // namespace tilvane
#endif

#endif
