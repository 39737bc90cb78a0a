// A second path to every frame: the literal model of the render (every term
// recomputed and every window pixel walked, tests/support/literal_model.h),
// compared with the plug-in with zero tolerance over seeded random scenes.
// It guards what small hand-worked frames cannot: that the per-cell terms,
// the per-row terms, the skipped clamped window rows and columns, and the
// fast floor give exactly the intended frame for every combination of
// settings, at both depths.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "src/params/params.h"
#include "standin/frame_source.h"
#include "standin/host.h"
#include "tests/support/literal_model.h"
#include "tests/support/plugin_fixture.h"

namespace tilvane_test {
namespace {

using enum tilvane::ParamIndex;
using enum tilvane::DisplacementEffect;
using standin::HostTime;
using standin::World;
using standin::WorldPtr;

class Scenes {
 public:
  explicit Scenes(uint32_t seed) : engine_(seed) {}
  int Between(int low, int high) {  // both included
    return low + static_cast<int>(engine_() % static_cast<uint32_t>(high - low + 1));
  }
  PF_Pixel Color() { return PF_Pixel{Byte(), Byte(), Byte(), Byte()}; }
  WorldPtr Frame(int w, int h, int depth) {
    auto frame = std::make_shared<World>(w, h, depth, Between(0, 2) * 4, Between(0, 1) == 1);
    const int full = depth == 16 ? 32768 : 255;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        Put(*frame, x, y, Between(0, full), Between(0, full), Between(0, full), Between(0, full));
      }
    }
    return frame;
  }

 private:
  A_u_char Byte() { return static_cast<A_u_char>(Between(0, 255)); }
  std::mt19937 engine_;
};

struct Sizes {
  int outputMax;  // output width and height from 1 to this
  int iconMax;    // icon width and height from 1 to this
  int borderOneIn;
};

// Renders count random scenes through the host and through the model.
void CompareRandomScenes(uint32_t seed, int count, const Sizes& sizes) {
  Scenes pick(seed);
  int drawn = 0;
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(testing::Message() << "scene " << i << " of seed " << seed);
    auto host = MakeHost();
    ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
    const int depth = pick.Between(0, 1) ? 16 : 8;
    Settings s;
    s.units = pick.Between(0, 12);
    s.displacementEffect = pick.Between(1, 4);
    // Real-valued, non-round slider values: x × 0.01 and x / 100 differ for
    // many of them, and the frame shows which one the render used.
    const auto real = [&pick](double low, double high) {
      return low + (high - low) * (pick.Between(0, 1 << 30) / 1073741824.0);
    };
    s.effectIntensity = real(0, 200);
    s.rotationOffset = real(0, 360);
    s.scaleOffset = real(-100, 100);
    s.timeOffset = real(-100, 100);
    s.border = pick.Between(1, sizes.borderOneIn) == 1 ? 1 : 0;
    s.borderColor = pick.Color();
    s.colorA = pick.Color();
    s.colorB = pick.Color();
    s.timeMapping = pick.Between(1, 5);
    s.colorMapping = pick.Between(1, 3);
    s.transparencyMapping = pick.Between(1, 3);
    s.seed = pick.Between(0, 32768);
    HostTime time;
    time.step = pick.Between(1, 3);
    time.total = pick.Between(2, 40) * time.step;
    time.current = pick.Between(0, time.total);
    host->time() = time;
    host->setInt(PARAM_UNITS, s.units);
    host->setInt(PARAM_DISPLACEMENT_EFFECT, s.displacementEffect);
    host->setFloat(PARAM_EFFECT_INTENSITY, s.effectIntensity);
    host->setFloat(PARAM_ROTATION_OFFSET, s.rotationOffset);
    host->setFloat(PARAM_SCALE_OFFSET, s.scaleOffset);
    host->setFloat(PARAM_TIME_OFFSET, s.timeOffset);
    host->setInt(PARAM_BORDER, s.border);
    host->setColor(PARAM_BORDER_COLOR, s.borderColor);
    host->setColor(PARAM_COLOR_A, s.colorA);
    host->setColor(PARAM_COLOR_B, s.colorB);
    host->setInt(PARAM_TIME_MAPPING, s.timeMapping);
    host->setInt(PARAM_COLOR_MAPPING, s.colorMapping);
    host->setInt(PARAM_TRANSPARENCY_MAPPING, s.transparencyMapping);
    host->setInt(PARAM_SEED, s.seed);

    // An animated icon whose frame size sometimes changes, sometimes none;
    // sometimes no displacement layer.
    std::vector<WorldPtr> frames;
    int iconWidth = pick.Between(1, sizes.iconMax), iconHeight = pick.Between(1, sizes.iconMax);
    for (int f = pick.Between(1, 4); f > 0; --f) {
      if (pick.Between(0, 3) == 0) {
        iconWidth = pick.Between(1, sizes.iconMax);
        iconHeight = pick.Between(1, sizes.iconMax);
      }
      frames.push_back(pick.Frame(iconWidth, iconHeight, depth));
    }
    const auto icon = pick.Between(0, 9) ? standin::FrameListSource(frames) : nullptr;
    const auto displacement =
        pick.Between(0, 5)
            ? standin::StillSource(pick.Frame(pick.Between(1, 100), pick.Between(1, 100), depth))
            : nullptr;
    if (icon) host->setLayer(PARAM_ICON_LAYER, icon);
    if (displacement) host->setLayer(PARAM_DISPLACEMENT_LAYER, displacement);

    const int width = pick.Between(1, sizes.outputMax), height = pick.Between(1, sizes.outputMax);
    World got(width, height, depth, pick.Between(0, 2) * 8, pick.Between(0, 1) == 1);
    got.fill(PF_Pixel16{7, 7, 7, 7});
    World want(width, height, depth);
    ASSERT_EQ(host->render(got), PF_Err_NONE);
    ModelRender(s, time, icon.get(), displacement.get(), want);
    ASSERT_TRUE(got.samePixels(want));
    EXPECT_TRUE(host->suiteBalance().empty());
    EXPECT_EQ(host->outstandingCheckouts(), 0);
    if (!want.samePixels(World(width, height, depth))) ++drawn;
  }
  // The scenes must draw, or the comparison proves little.
  EXPECT_GT(drawn, count / 2);
}

TEST(RenderPassCrossCheck, RandomScenesMatchTheLiteralModelPixelForPixel) {
  CompareRandomScenes(20240601, 400, Sizes{90, 24, 2});
}

TEST(RenderPassCrossCheck, ScenesWhereMostWindowPixelsAreClampedMatchTheModel) {
  // Outputs of 1 to 6 pixels under icons of up to 24: nearly every window
  // row and column lands on the output's last row or column, border on.
  CompareRandomScenes(77, 400, Sizes{6, 24, 1});
}

TEST(RenderPassCrossCheck, AWindowFarTallerThanTheOutputGivesTheModelsFrame) {
  // A 2 × 400 icon across 40 pixels at one unit: cell scale 39, a window of
  // 79 × 15563 pixels of which all but 30 rows land on the last output row.
  for (const int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    Scenes pick(5);
    auto host = MakeHost();
    ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
    Settings s;
    s.units = 1;
    s.border = 1;
    s.displacementEffect = DISPLACEMENT_BOTH;
    host->setInt(PARAM_UNITS, s.units);
    host->setInt(PARAM_BORDER, s.border);
    host->setInt(PARAM_DISPLACEMENT_EFFECT, s.displacementEffect);
    const auto icon = standin::StillSource(pick.Frame(2, 400, depth));
    const auto displacement = standin::StillSource(pick.Frame(40, 30, depth));
    host->setLayer(PARAM_ICON_LAYER, icon);
    host->setLayer(PARAM_DISPLACEMENT_LAYER, displacement);
    World got(40, 30, depth);
    World want(40, 30, depth);
    ASSERT_EQ(host->render(got), PF_Err_NONE);
    ModelRender(s, host->time(), icon.get(), displacement.get(), want);
    EXPECT_TRUE(got.samePixels(want));
  }
}

}  // namespace
}  // namespace tilvane_test
