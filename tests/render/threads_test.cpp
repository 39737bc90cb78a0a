// Threads and vector paths inside one render: whatever TILVANE_THREADS and
// TILVANE_SIMD say, whether the team shares every large cell
// (TILVANE_SHARING=always) or decides from its joins, the host sees the same
// calls with the same arguments in the same order, every one from the thread
// that called the entry point, and the frame is the one the scalar path
// renders on one thread. The scenes are
// large enough for the render to split its cells' windows among workers.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/render/render_scene.h"
#include "tests/support/scoped_env.h"

namespace tilvane_test {
namespace {

using standin::Call;
using standin::World;

struct ThreadScene {
  const char* name;
  int depth;
  int iconWidth, iconHeight, iconFrames;
  int units;
  int displacementEffect, colorMapping, border, timeMapping;
  double timeOffset;
  int32_t outputPadding;
  bool outputBottomUp;
};

std::string Describe(const Call& c) {
  std::ostringstream s;
  s << standin::OpName(c.op) << "(" << c.a << ", " << c.b << ", " << c.c << ", " << c.d << ", \""
    << c.name << "\") -> " << c.result << (c.onEntryThread ? "" : " from another thread");
  return s.str();
}

// Passes when both logs hold the same calls; otherwise names the first that differs.
testing::AssertionResult SameCalls(const std::vector<Call>& got, const std::vector<Call>& want) {
  for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
    if (!(got[i] == want[i])) {
      return testing::AssertionFailure()
             << "call " << i << " is " << Describe(got[i]) << ", want " << Describe(want[i]);
    }
  }
  if (got.size() != want.size()) {
    return testing::AssertionFailure() << got.size() << " calls, want " << want.size();
  }
  return testing::AssertionSuccess();
}

// Channels that vary from pixel to pixel and frame to frame, so that a row
// drawn from the wrong place or time shows.
Argb Texture(int x, int y, int frame, int depth) {
  const int full = depth == 16 ? 32768 : 255;
  const auto wave = [full](int v) { return static_cast<int64_t>((v * 37 % 251) * full / 250); };
  return {wave(x * 3 + y + frame * 11), wave(x + frame * 29), wave(y * 5 + 7), wave(x * y + 3)};
}

class RenderThreads : public testing::TestWithParam<ThreadScene> {};

TEST_P(RenderThreads, HostCallsAndFramesAreTheSameForEveryWorkerCountAndPath) {
  const ThreadScene& p = GetParam();
  auto host = MakeHost();
  ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
  host->setInt(PARAM_UNITS, p.units);
  host->setInt(PARAM_DISPLACEMENT_EFFECT, p.displacementEffect);
  host->setInt(PARAM_COLOR_MAPPING, p.colorMapping);
  host->setInt(PARAM_BORDER, p.border);
  host->setInt(PARAM_TIME_MAPPING, p.timeMapping);
  host->setFloat(PARAM_TIME_OFFSET, p.timeOffset);
  std::vector<standin::WorldPtr> frames;
  for (int f = 0; f < p.iconFrames; ++f) {
    frames.push_back(MakeFrame(p.iconWidth, p.iconHeight, p.depth,
                               [&](int x, int y) { return Texture(x, y, f, p.depth); }));
  }
  host->setLayer(PARAM_ICON_LAYER, standin::FrameListSource(frames));
  const int64_t full = p.depth == 16 ? 32768 : 255;
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(MakeFrame(1920, 1080, p.depth, [full](int x, int y) {
                   const int64_t v = (int64_t{x} + y) * full / 2998;
                   return Argb{full, v, (v * 7) % (full + 1), full - v};
                 })));
  host->time().total = 3 * host->time().step;
  host->clearLog();

  World want(1920, 1080, p.depth, p.outputPadding, p.outputBottomUp);
  {
    ScopedEnv env("TILVANE_SIMD", "scalar");
    env.Set("TILVANE_THREADS", "1");
    ASSERT_EQ(host->render(want), PF_Err_NONE);
  }
  ExpectBalanced(*host);
  ASSERT_FALSE(want.samePixels(World(1920, 1080, p.depth))) << "the scene draws nothing";
  const std::vector<Call> reference = host->calls();
  ASSERT_GT(reference.size(), size_t{4});

  std::string lacking;
  // "default": every core, the team deciding cell by cell what pays.
  for (const char* threads : {"1", "2", "7", "default"}) {
    for (const char* simd : {"scalar", "sse2", "avx2", "avx512"}) {
      if (!CpuHas(simd)) {
        lacking = simd;
        continue;
      }
      SCOPED_TRACE(std::string("TILVANE_THREADS=") + threads + " TILVANE_SIMD=" + simd);
      ScopedEnv run("TILVANE_SIMD", simd);
      if (std::string(threads) != "default") {
        run.Set("TILVANE_THREADS", threads);
        run.Set("TILVANE_SHARING", "always");
      }
      host->clearLog();
      World got(1920, 1080, p.depth, p.outputPadding, p.outputBottomUp);
      got.fill(PF_Pixel16{7, 7, 7, 7});
      ASSERT_EQ(host->render(got), PF_Err_NONE);
      EXPECT_TRUE(SameCalls(host->calls(), reference));
      ExpectBalanced(*host);  // a callback from a worker is host misuse
      EXPECT_TRUE(got.samePixels(want));
    }
  }
  // The paths the CPU has passed; say which one was not tried.
  if (!lacking.empty()) GTEST_SKIP() << lacking << " not on this CPU";
}

INSTANTIATE_TEST_SUITE_P(
    LargeScenes, RenderThreads,
    testing::Values(
        // One cell whose window covers the whole frame and beyond.
        ThreadScene{"OneUnitTurningIcon8Bit", 8, 301, 301, 3, 1, DISPLACEMENT_ROTATION,
                    COLOR_ICON_LAYER, 0, TIME_CONSTANT, 100, 0, false},
        // Odd icon sizes, both turn and scale, colour from the displacement,
        // a border, into a padded bottom-up output.
        ThreadScene{"ThreeUnitsBothWithBorder16Bit", 16, 257, 193, 2, 3, DISPLACEMENT_BOTH,
                    COLOR_DISPLACEMENT, 1, TIME_CONSTANT, 50, 24, true},
        // Ten thousand small cells, each checking its icon out at its own time.
        ThreadScene{"HundredUnitsOutOfStep8Bit", 8, 64, 64, 3, 100, DISPLACEMENT_SCALE,
                    COLOR_ICON_LAYER, 1, TIME_HORIZONTAL_UNITS, 100, 0, false}),
    [](const testing::TestParamInfo<ThreadScene>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tilvane_test
