// The file-value mappings, checked over their whole ranges.
#include <gtest/gtest.h>

#include "tools/tilvane/core/pixels.h"

namespace tilvane_tool {
namespace {

TEST(FileMapping, SixteenBitFilesMapOntoTheEffectScaleAndBackExactly) {
  EXPECT_EQ(From16BitFile(0), 0);
  EXPECT_EQ(From16BitFile(65535), 32768);
  EXPECT_EQ(To16BitFile(32768), 65535);
  for (int32_t v = 0; v <= 32768; ++v) {
    ASSERT_EQ(From16BitFile(To16BitFile(v)), v) << v;
  }
  // Every file value lands on a neighbour of its exact image.
  for (int32_t p = 0; p <= 65535; ++p) {
    const double exact = p * 32768.0 / 65535.0;
    ASSERT_LE(std::abs(From16BitFile(p) - exact), 1.0) << p;
  }
}

TEST(FileMapping, EightBitValuesAtSixteenBits) {
  EXPECT_EQ(From8To16(255), 32768);
  EXPECT_EQ(From8To16(128), 16448);
  EXPECT_EQ(From8To16(1), 129);
  // In a 16-bit file an 8-bit value lands within one step of its 257-fold.
  EXPECT_EQ(To16BitFile(From8To16(128)), 32895);
  EXPECT_EQ(To16BitFile(From8To16(1)), 258);
  for (int32_t c = 0; c <= 255; ++c) ASSERT_LE(std::abs(To16BitFile(From8To16(c)) - c * 257), 1);
  for (int32_t c = 0; c <= 255; ++c) ASSERT_EQ(From16To8(From8To16(c)), c) << c;
  for (int32_t c = 0; c <= 255; ++c) ASSERT_EQ(From16BitFileTo8(c * 257), c) << c;
}

// Every 16-bit file value read at 8 bits lands on its nearest step (p / 257;
// 257 is odd, so no value lies halfway), and every effect value written to an
// 8-bit-only format on the nearest of v * 255 / 32768.
TEST(FileMapping, SixteenBitValuesAtEightBitsRoundToTheNearestStep) {
  for (int32_t p = 0; p <= 65535; ++p) {
    ASSERT_EQ(From16BitFileTo8(p), static_cast<int32_t>(std::floor(p / 257.0 + 0.5))) << p;
  }
  for (int32_t v = 0; v <= 32768; ++v) {
    ASSERT_EQ(From16To8(v), static_cast<int32_t>(std::floor(v * 255.0 / 32768.0 + 0.5))) << v;
  }
}

TEST(FileMapping, FloatsRoundToTheNearestStepAndClamp) {
  EXPECT_EQ(FromFloat(0.5f, 8), 128);
  EXPECT_EQ(FromFloat(0.5f, 16), 16384);
  EXPECT_EQ(FromFloat(1.5f, 16), 32768);
  EXPECT_EQ(FromFloat(-0.25f, 8), 0);
  EXPECT_EQ(FromFloat(std::nanf(""), 8), 0);
  for (int32_t c = 0; c <= 255; ++c) ASSERT_EQ(FromFloat(c / 255.0f, 8), c);
}

TEST(Premultiplication, OpaquePixelsAreUnchanged) {
  for (int32_t full : {255, 32768}) {
    for (int32_t c = 0; c <= full; ++c) {
      ASSERT_EQ(Premultiply(c, full, full), c);
      ASSERT_EQ(Unpremultiply(c, full, full), c);
    }
  }
}

TEST(Premultiplication, HalfTransparentPixelsRoundToTheNearest) {
  EXPECT_EQ(Premultiply(200, 128, 255), 100);  // 100.39
  EXPECT_EQ(Premultiply(255, 128, 255), 128);
  EXPECT_EQ(Unpremultiply(100, 128, 255), 199);  // 199.22
  EXPECT_EQ(Unpremultiply(64, 128, 255), 128);   // 127.5 rounds up
  EXPECT_EQ(Premultiply(32768, 16384, 32768), 16384);
  EXPECT_EQ(Unpremultiply(77, 0, 255), 0);
  EXPECT_EQ(Unpremultiply(200, 100, 255), 255);  // above its alpha: clamped
}

// What the effect writes (premultiplied, colour not above alpha) survives a
// straight-alpha file and a read back.
TEST(Premultiplication, PremultipliedValuesSurviveAStraightFile) {
  for (int32_t a = 1; a <= 255; ++a) {
    for (int32_t v = 0; v <= a; ++v) {
      ASSERT_EQ(Premultiply(Unpremultiply(v, a, 255), a, 255), v) << v << " " << a;
    }
  }
  for (int32_t a = 1; a <= 32768; a += a < 300 ? 1 : 97) {
    for (int32_t v = 0; v <= a; ++v) {
      const int32_t s = Unpremultiply(v, a, 32768);
      const int32_t back = From16BitFile(To16BitFile(s));
      ASSERT_EQ(Premultiply(back, From16BitFile(To16BitFile(a)), 32768), v) << v << " " << a;
    }
  }
}

}  // namespace
}  // namespace tilvane_tool
