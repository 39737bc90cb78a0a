// An 8-bit frame converted for an EXR by table lookup holds, bit for bit, the
// half floats that converting the whole frame as floats gives, whatever the
// pixel's place in a row (OpenImageIO converts rows in vector-wide groups).
#include "tools/tilvane/core/color.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "standin/world.h"
#include "tools/tilvane/core/pixel_rows.h"

namespace tilvane_tool {
namespace {

std::vector<uint16_t> HalvesOfWholeFrame(const standin::World& frame, const std::string& space) {
  std::vector<float> rgba = FloatsFromWorld(frame);
  ConvertColor(rgba, frame.width(), frame.height(), true, kWorkingSpace, space, "test");
  std::vector<uint16_t> halves(rgba.size());
  OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, rgba.data(), OIIO::TypeDesc::HALF,
                             halves.data(), static_cast<int>(rgba.size()));
  return halves;
}

TEST(ExrHalves, LookedUpAsConvertingTheWholeFrameGives) {
  // 263 columns (not a multiple of any vector width) by 251 rows: every alpha
  // with many values under it, colour above alpha too, which no
  // premultiplied frame holds but the conversion must not care about.
  standin::World frame(263, 251, 8);
  uint32_t seed = 7;
  for (int32_t y = 0; y < frame.height(); ++y) {
    for (int32_t x = 0; x < frame.width(); ++x) {
      seed = seed * 1664525u + 1013904223u;
      const auto a = static_cast<A_u_char>(y + 5 * x);
      const auto bound = [&](int shift) {
        const int v = int(seed >> shift) & 255;
        return static_cast<A_u_char>(x % 17 == 0 ? v : v * a / 255);
      };
      frame.at8(x, y) = PF_Pixel{a, bound(8), bound(16), bound(24)};
    }
  }
  for (const std::string space : {"linear", "sRGB", "raw"}) {
    std::vector<uint16_t> halves;
    EXPECT_TRUE(HalvesFromWorld8(frame, space, "test", halves)) << space;
    EXPECT_EQ(halves, HalvesOfWholeFrame(frame, space)) << space;
  }
}

}  // namespace
}  // namespace tilvane_tool
