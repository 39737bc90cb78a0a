// The vector and threaded walks against the scalar walk on one thread, with
// zero tolerance: every instruction set the CPU has, at 1, 2 and 7 threads,
// over random scenes weighted towards the places vectors and threads can go
// wrong (lane tails, windows narrower than a vector, exact quarter turns,
// negative and padded strides, non-finite sliders, huge and one-pixel
// icons, one-pixel-wide outputs).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "src/host/pixel_access.h"
#include "src/params/params.h"
#include "src/render/render_options.h"
#include "standin/frame_source.h"
#include "standin/host.h"
#include "tests/render/render_scene.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/scoped_env.h"

namespace tilvane_test {
namespace {

using standin::World;
using standin::WorldPtr;
using tilvane::GetPixelAddr16;
using tilvane::GetPixelAddr8;

class Pick {
 public:
  explicit Pick(uint32_t seed) : engine_(seed) {}
  int Between(int low, int high) {
    return low + static_cast<int>(engine_() % static_cast<uint32_t>(high - low + 1));
  }
  bool OneIn(int n) { return Between(1, n) == 1; }
  double Real(double low, double high) {
    return low + (high - low) * (static_cast<double>(engine_()) / 4294967295.0);
  }
  WorldPtr Frame(int w, int h, int depth) {
    auto frame = std::make_shared<World>(w, h, depth, Between(0, 2) * 4, OneIn(2));
    // Now and then 16-bit values above the host's full scale.
    const int full = depth == 16 ? (OneIn(5) ? 65535 : 32768) : 255;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (depth == 16) {
          PF_Pixel16* p = GetPixelAddr16(frame->record(), x, y);
          *p = PF_Pixel16{Channel16(full), Channel16(full), Channel16(full), Channel16(full)};
        } else {
          PF_Pixel* p = GetPixelAddr8(frame->record(), x, y);
          *p = PF_Pixel{Channel8(), Channel8(), Channel8(), Channel8()};
        }
      }
    }
    return frame;
  }
  PF_Pixel Color() { return PF_Pixel{Channel8(), Channel8(), Channel8(), Channel8()}; }

 private:
  A_u_char Channel8() { return static_cast<A_u_char>(Between(0, 255)); }
  A_u_short Channel16(int full) { return static_cast<A_u_short>(Between(0, full)); }
  std::mt19937 engine_;
};

// A slider value: mostly ordinary, sometimes exact quarter turns or values
// the host should never send.
double Slider(Pick& pick, double low, double high) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  switch (pick.Between(0, 12)) {
    case 0:
      return std::numeric_limits<double>::quiet_NaN();
    case 1:
      return pick.OneIn(2) ? kInf : -kInf;
    case 2:
      return pick.Between(-3, 3) * 90.0;
    case 3:
      return pick.Between(-1000000, 1000000) * 1000.0;
    default:
      return pick.Real(low, high);
  }
}

struct Scene {
  std::unique_ptr<standin::Host> host;
  int width, height, depth, padding;
  bool bottomUp;
};

Scene MakeScene(Pick& pick) {
  Scene scene;
  scene.host = MakeHost();
  standin::Host& host = *scene.host;
  EXPECT_EQ(host.paramsSetup(), PF_Err_NONE);
  scene.depth = pick.OneIn(2) ? 16 : 8;
  const int depth = scene.depth;

  // Outputs: one pixel, one row or column, odd sizes, and a few large ones
  // whose windows are shared among threads.
  switch (pick.Between(0, 7)) {
    case 0:
      scene.width = 1, scene.height = 1;
      break;
    case 1:
      scene.width = 1, scene.height = pick.Between(2, 200);
      break;
    case 2:
      scene.width = pick.Between(2, 200), scene.height = 1;
      break;
    case 3:
      scene.width = pick.Between(300, 420), scene.height = pick.Between(220, 300);
      break;
    default:
      scene.width = pick.Between(2, 120) | 1, scene.height = pick.Between(2, 90);
      break;
  }
  scene.padding = pick.Between(0, 3) * 8;
  scene.bottomUp = pick.OneIn(3);

  // Icons: one pixel, one row or column, huge in one direction, or ordinary.
  int iconWidth = pick.Between(1, 40), iconHeight = pick.Between(1, 40);
  switch (pick.Between(0, 9)) {
    case 0:
      iconWidth = 1, iconHeight = 1;
      break;
    case 1:
      iconWidth = 1;
      break;
    case 2:
      iconHeight = 1;
      break;
    case 3:
      iconWidth = pick.Between(2, 4), iconHeight = pick.Between(300, 1500);
      break;
    case 4:
      iconWidth = pick.Between(300, 1500), iconHeight = pick.Between(2, 4);
      break;
    default:
      break;
  }
  std::vector<WorldPtr> frames;
  for (int f = pick.Between(1, 3); f > 0; --f) {
    frames.push_back(pick.Frame(iconWidth, iconHeight, depth));
  }
  host.setLayer(PARAM_ICON_LAYER, standin::FrameListSource(frames));
  if (!pick.OneIn(6)) {
    host.setLayer(PARAM_DISPLACEMENT_LAYER, standin::StillSource(pick.Frame(
                                                pick.Between(1, 60), pick.Between(1, 60), depth)));
  }

  host.time() = standin::HostTime{pick.Between(0, 20), 1, pick.Between(2, 30), 24};
  host.setInt(PARAM_UNITS, pick.OneIn(3) ? 1 : pick.Between(0, 9));
  host.setInt(PARAM_DISPLACEMENT_EFFECT, pick.Between(1, 4));
  host.setFloat(PARAM_EFFECT_INTENSITY, Slider(pick, 0, 200));
  host.setFloat(PARAM_ROTATION_OFFSET, Slider(pick, 0, 360));
  host.setFloat(PARAM_SCALE_OFFSET, Slider(pick, -100, 100));
  host.setFloat(PARAM_TIME_OFFSET, pick.Real(-100, 100));
  host.setInt(PARAM_BORDER, pick.OneIn(3) ? 1 : 0);
  host.setColor(PARAM_BORDER_COLOR, pick.Color());
  host.setColor(PARAM_COLOR_A, pick.Color());
  host.setColor(PARAM_COLOR_B, pick.Color());
  host.setInt(PARAM_TIME_MAPPING, pick.Between(1, 5));
  host.setInt(PARAM_COLOR_MAPPING, pick.Between(1, 3));
  host.setInt(PARAM_TRANSPARENCY_MAPPING, pick.Between(1, 3));
  host.setInt(PARAM_SEED, pick.Between(0, 32768));
  return scene;
}

// Every large cell shared, as the team may choose to at any moment.
World Render(Scene& scene, const std::string& simd, int threads) {
  ScopedEnv env("TILVANE_SIMD", simd);
  env.Set("TILVANE_THREADS", std::to_string(threads));
  env.Set("TILVANE_SHARING", "always");
  World out(scene.width, scene.height, scene.depth, scene.padding, scene.bottomUp);
  out.fill(PF_Pixel16{7, 7, 7, 7});
  scene.host->clearLog();
  EXPECT_EQ(scene.host->render(out), PF_Err_NONE);
  return out;
}

// Each path a test asks for, by the name TILVANE_SIMD takes. One the CPU
// lacks is skipped by name: the plug-in would quietly draw with another.
class EachPath : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!CpuHas(GetParam())) GTEST_SKIP() << GetParam() << " not on this CPU";
  }
};

TEST_P(EachPath, RandomScenesMatchTheScalarWalkBitForBit) {
  constexpr uint32_t kSeed = 7001;
  Pick pick(kSeed);
  for (int i = 0; i < 120; ++i) {
    SCOPED_TRACE(testing::Message() << "scene " << i << " of seed " << kSeed);
    Scene scene = MakeScene(pick);
    const World reference = Render(scene, "scalar", 1);
    for (const int threads : {1, 2, 7}) {
      const World got = Render(scene, GetParam(), threads);
      ASSERT_TRUE(got.samePixels(reference)) << GetParam() << " on " << threads << " threads";
    }
  }
}

TEST_P(EachPath, LargeTurnedCellsSharedAmongThreadsMatchTheScalarWalk) {
  // One to three cells over a wide output: windows of tens of thousands of
  // pixels, turned by exact quarter turns and by brightness, with the border.
  for (const int depth : {8, 16}) {
    for (const double rotation : {0.0, 90.0, 180.0, 270.0, 33.3}) {
      SCOPED_TRACE(testing::Message() << depth << " bits, rotation offset " << rotation);
      Pick pick(static_cast<uint32_t>(depth * 1000 + rotation));
      Scene scene{MakeHost(), 637, 361, depth, 16, rotation == 90.0};
      standin::Host& host = *scene.host;
      ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
      host.setLayer(PARAM_ICON_LAYER, standin::StillSource(pick.Frame(37, 29, depth)));
      host.setLayer(PARAM_DISPLACEMENT_LAYER, standin::StillSource(pick.Frame(637, 361, depth)));
      host.setInt(PARAM_UNITS, pick.Between(1, 3));
      host.setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_BOTH);
      host.setFloat(PARAM_ROTATION_OFFSET, rotation);
      host.setInt(PARAM_BORDER, 1);
      host.setInt(PARAM_COLOR_MAPPING, pick.Between(1, 3));
      host.setInt(PARAM_TRANSPARENCY_MAPPING, TRANSPARENCY_INVERSE_DISPLACEMENT);
      const World reference = Render(scene, "scalar", 1);
      for (const int threads : {2, 3, 7}) {
        EXPECT_TRUE(Render(scene, GetParam(), threads).samePixels(reference))
            << GetParam() << " on " << threads << " threads";
      }
    }
  }
}

TEST_P(EachPath, OverlappingOutputRowsAreNeverSharedAmongThreads) {
  // A host whose output rows overlap in memory (a stride shorter than a row):
  // the walk must stay on one thread and write in the reference's order.
  for (const int depth : {8, 16}) {
    Pick pick(99);
    auto host = MakeHost();
    ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
    host->setLayer(PARAM_ICON_LAYER, standin::StillSource(pick.Frame(40, 40, depth)));
    host->setInt(PARAM_UNITS, 1);
    host->setInt(PARAM_BORDER, 1);
    const auto render = [&](const char* simd, int threads) {
      ScopedEnv env("TILVANE_SIMD", simd);
      env.Set("TILVANE_THREADS", std::to_string(threads));
      env.Set("TILVANE_SHARING", "always");
      World out(400, 200, depth);
      out.record()->rowbytes /= 3;  // rows overlap; the buffer still holds them all
      EXPECT_EQ(host->render(out), PF_Err_NONE);
      return out;
    };
    EXPECT_TRUE(render(GetParam(), 7).samePixels(render("scalar", 1))) << depth << " bits";
  }
}

INSTANTIATE_TEST_SUITE_P(VectorAndThreadedWalks, EachPath,
                         testing::Values("scalar", "sse2", "avx2", "avx512"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

TEST(RenderOptions, EnvironmentOverridesChooseAPathTheCpuHasAndABoundedThreadCount) {
  using tilvane::ParseRenderOptions;
  using tilvane::SimdPath;
  const SimdPath avx2 = SimdPath::kAvx2;
  // Unset: the best path, one thread per core.
  EXPECT_EQ(ParseRenderOptions(nullptr, nullptr, avx2, 6).simd, avx2);
  EXPECT_EQ(ParseRenderOptions(nullptr, nullptr, avx2, 6).threads, 6);
  // A path the CPU lacks falls back to the best it has; lower ones are taken.
  EXPECT_EQ(ParseRenderOptions("avx512", nullptr, avx2, 2).simd, avx2);
  EXPECT_EQ(ParseRenderOptions("SSE2", nullptr, avx2, 2).simd, SimdPath::kSse2);
  EXPECT_EQ(ParseRenderOptions("scalar", nullptr, SimdPath::kAvx512, 2).simd, SimdPath::kScalar);
  EXPECT_EQ(ParseRenderOptions("neon", nullptr, avx2, 2).simd, avx2);
  // Threads: whole numbers from 1, capped at 64; anything else means the cores.
  EXPECT_EQ(ParseRenderOptions(nullptr, "7", avx2, 2).threads, 7);
  EXPECT_EQ(ParseRenderOptions(nullptr, "1000", avx2, 2).threads, tilvane::kMaxRenderThreads);
  for (const char* bad : {"0", "-3", "two", "4x", "", "+2", " 2"}) {
    EXPECT_EQ(ParseRenderOptions(nullptr, bad, avx2, 3).threads, 3) << bad;
  }
}

TEST(ThreadCount, OneRuleForThePlugInAndTheToolDigitsAloneZeroForEveryCore) {
  using tilvane::ParseThreadCount;
  constexpr int kMax = tilvane::kMaxRenderThreads;
  EXPECT_EQ(ParseThreadCount("0"), 0) << "one per core";
  EXPECT_EQ(ParseThreadCount("1"), 1);
  EXPECT_EQ(ParseThreadCount("007"), 7);
  EXPECT_EQ(ParseThreadCount("64"), kMax);
  EXPECT_EQ(ParseThreadCount("65"), kMax);
  EXPECT_EQ(ParseThreadCount("99999999999999999999999"), kMax) << "no overflow";
  for (const char* bad : {"", "-1", "+2", " 2", "2 ", "1.5", "1e3", "abc", "4x", "0x10"}) {
    EXPECT_EQ(ParseThreadCount(bad), std::nullopt) << "'" << bad << "'";
  }
}

TEST(RenderOptions, PathNamesAreReadWhateverTheirCase) {
  using tilvane::SimdPath;
  // On a CPU with every path each spelling picks its own; one misread would
  // fall back to the widest, so AVX512 alone could not tell.
  const struct {
    const char* spelling;
    SimdPath path;
  } kSpellings[] = {
      {"SCALAR", SimdPath::kScalar}, {"Scalar", SimdPath::kScalar}, {"SSE2", SimdPath::kSse2},
      {"sSe2", SimdPath::kSse2},     {"AVX2", SimdPath::kAvx2},     {"Avx2", SimdPath::kAvx2},
      {"aVX2", SimdPath::kAvx2},
  };
  for (const auto& s : kSpellings) {
    EXPECT_EQ(tilvane::ParseRenderOptions(s.spelling, nullptr, SimdPath::kAvx512, 1).simd, s.path)
        << s.spelling;
  }
}

TEST(RenderOptions, OnlyTilvaneSharingAlwaysMakesTheTeamShareEveryLargeCell) {
  struct Case {
    const char* text;
    bool always;
  };
  for (const Case c : {Case{"always", true}, Case{"ALWAYS", true}, Case{"adaptive", false},
                       Case{"", false}, Case{"always ", false}}) {
    ScopedEnv env("TILVANE_SHARING", c.text);
    EXPECT_EQ(tilvane::ReadRenderOptions().alwaysShare, c.always) << '"' << c.text << '"';
  }
}

TEST(RenderOptions, TheBestPathIsTheWidestTheCpuAndSystemSupport) {
  // The compiler's own reading of the CPU, which checks the saved register
  // state too.
  __builtin_cpu_init();
  tilvane::SimdPath widest = tilvane::SimdPath::kSse2;
  if (__builtin_cpu_supports("avx2")) widest = tilvane::SimdPath::kAvx2;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) {
    widest = tilvane::SimdPath::kAvx512;
  }
  EXPECT_EQ(tilvane::BestSimdPath(), widest);
}

}  // namespace
}  // namespace tilvane_test
