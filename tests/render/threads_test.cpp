// Threads and vector paths inside one render: whatever TILVANE_THREADS and
// TILVANE_SIMD say, whether the team shares every large cell
// (TILVANE_SHARING=always) or decides from its joins, the host sees the same
// calls with the same arguments in the same order, every one from the thread
// that called the entry point, and the frame is the one the scalar path
// renders on one thread. The scenes are
// large enough for the render to split its cells' windows among workers, or
// to queue its small cells for them, icons copied, neighbours overlapping.
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
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
  // Frame f of the icon is iconGrowth × f pixels wider and taller than the
  // first: cells checking out larger frames are placed further out, over
  // their neighbours.
  int iconGrowth = 0;
  int32_t iconPadding = 0;
  bool iconBottomUp = false;
  // The host lends one buffer per frame size and rewrites it at every
  // check-out, so a cell drawn from its icon after the check-in shows.
  bool iconReused = false;
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

// A host with the scene's parameters and layers, its log cleared. With a
// reused icon, *served counts the icon's check-outs; a render's frames
// depend on it, so each render starts it at 0.
std::unique_ptr<standin::Host> SceneHost(const ThreadScene& p, std::shared_ptr<int>* served) {
  auto host = MakeHost();
  EXPECT_EQ(host->paramsSetup(), PF_Err_NONE);
  host->setInt(PARAM_UNITS, p.units);
  host->setInt(PARAM_DISPLACEMENT_EFFECT, p.displacementEffect);
  host->setInt(PARAM_COLOR_MAPPING, p.colorMapping);
  host->setInt(PARAM_BORDER, p.border);
  host->setInt(PARAM_TIME_MAPPING, p.timeMapping);
  host->setFloat(PARAM_TIME_OFFSET, p.timeOffset);
  // Per frame, `variants` contents: variant v of frame f is textured as frame
  // f + v × iconFrames would be.
  const int variants = p.iconReused ? 3 : 1;
  std::vector<std::vector<standin::WorldPtr>> frames(static_cast<size_t>(p.iconFrames));
  for (int f = 0; f < p.iconFrames; ++f) {
    for (int v = 0; v < variants; ++v) {
      frames[static_cast<size_t>(f)].push_back(MakeFrame(
          p.iconWidth + f * p.iconGrowth, p.iconHeight + f * p.iconGrowth, p.depth,
          [&](int x, int y) { return Texture(x, y, f + v * p.iconFrames, p.depth); }, p.iconPadding,
          p.iconBottomUp));
    }
  }
  if (!p.iconReused) {
    std::vector<standin::WorldPtr> list;
    for (const auto& f : frames) list.push_back(f[0]);
    host->setLayer(PARAM_ICON_LAYER, standin::FrameListSource(list));
  } else {
    std::vector<std::shared_ptr<World>> lent;
    for (const auto& f : frames) {
      const PF_EffectWorld& r = *f[0]->record();
      lent.push_back(
          std::make_shared<World>(r.width, r.height, p.depth, p.iconPadding, p.iconBottomUp));
    }
    *served = std::make_shared<int>(0);
    host->setLayer(
        PARAM_ICON_LAYER,
        standin::FunctionSource([frames, lent, served = *served, variants,
                                 count = p.iconFrames](const standin::LayerRequest& q) {
          const auto f = static_cast<size_t>(standin::FrameIndexAt(q.time, q.timeStep, count));
          const PF_EffectWorld& from =
              *frames[f][static_cast<size_t>((*served)++ % variants)]->record();
          PF_EffectWorld& to = *lent[f]->record();
          const size_t rowSize = static_cast<size_t>(from.width) * (q.depth == 16 ? 8 : 4);
          for (int32_t y = 0; y < from.height; ++y) {
            std::memcpy(reinterpret_cast<char*>(to.data) + ptrdiff_t{y} * to.rowbytes,
                        reinterpret_cast<const char*>(from.data) + ptrdiff_t{y} * from.rowbytes,
                        rowSize);
          }
          return lent[f];
        }));
  }
  const int64_t full = p.depth == 16 ? 32768 : 255;
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(MakeFrame(1920, 1080, p.depth, [full](int x, int y) {
                   const int64_t v = (int64_t{x} + y) * full / 2998;
                   return Argb{full, v, (v * 7) % (full + 1), full - v};
                 })));
  host->time().total = 3 * host->time().step;
  host->clearLog();
  return host;
}

TEST_P(RenderThreads, HostCallsAndFramesAreTheSameForEveryWorkerCountAndPath) {
  const ThreadScene& p = GetParam();
  std::shared_ptr<int> served = std::make_shared<int>(0);
  auto host = SceneHost(p, &served);

  World want(1920, 1080, p.depth, p.outputPadding, p.outputBottomUp);
  {
    ScopedEnv env("TILVANE_SIMD", "scalar");
    env.Set("TILVANE_THREADS", "1");
    *served = 0;
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
      *served = 0;
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
                    COLOR_ICON_LAYER, 1, TIME_HORIZONTAL_UNITS, 100, 0, false},
        // Queued cells of 49 × 49 pixels, each checking out its own frame,
        // from a padded bottom-up icon whose later frames are larger, so
        // that windows fall over their neighbours' in any order.
        ThreadScene{"FortyUnitsQueuedOverlapping8Bit", 8, 64, 64, 3, 40, DISPLACEMENT_SCALE,
                    COLOR_ICON_LAYER, 1, TIME_HORIZONTAL_UNITS, 100, 0, false, 24, 12, true, true},
        ThreadScene{"ThirtyUnitsQueuedOverlapping16Bit", 16, 48, 40, 3, 30, DISPLACEMENT_BOTH,
                    COLOR_DISPLACEMENT, 0, TIME_HORIZONTAL_UNITS, 100, 16, true, 20, 8, false,
                    true}),
    [](const testing::TestParamInfo<ThreadScene>& info) { return std::string(info.param.name); });

// A check-out failing mid-render, while cells are queued: the members finish
// what was queued before the failure and leave, the host sees the calls of
// one thread, its books balance, and the frame is that thread's.
TEST(RenderThreadsErrors, ACheckOutFailingWhileCellsAreQueuedLeavesTheFrameOfOneThread) {
  const ThreadScene scene{"queued",
                          8,
                          64,
                          64,
                          3,
                          40,
                          DISPLACEMENT_SCALE,
                          COLOR_ICON_LAYER,
                          1,
                          TIME_HORIZONTAL_UNITS,
                          100,
                          0,
                          false,
                          24,
                          12,
                          true};
  constexpr PF_Err kCode = 27;
  // Check-outs 1 and 2 are the set-up's; cell n's is n + 3.
  for (const int nth : {3 + 70, 3 + 800, 3 + 1599}) {
    SCOPED_TRACE("check-out " + std::to_string(nth) + " fails");
    std::shared_ptr<int> served = std::make_shared<int>(0);
    auto host = SceneHost(scene, &served);
    host->failCall(standin::Op::CheckoutParam, nth, kCode);
    World want(1920, 1080, 8);
    {
      ScopedEnv env("TILVANE_THREADS", "1");
      *served = 0;
      ASSERT_EQ(host->render(want), kCode);
    }
    ExpectBalanced(*host);
    const std::vector<Call> reference = host->calls();
    for (const char* threads : {"2", "7", "default"}) {
      SCOPED_TRACE(std::string("TILVANE_THREADS=") + threads);
      ScopedEnv run("TILVANE_SHARING", "always");
      if (std::string(threads) != "default") run.Set("TILVANE_THREADS", threads);
      host->clearLog();
      host->failCall(standin::Op::CheckoutParam, nth, kCode);
      World got(1920, 1080, 8);
      *served = 0;
      EXPECT_EQ(host->render(got), kCode);
      EXPECT_TRUE(SameCalls(host->calls(), reference));
      ExpectBalanced(*host);
      EXPECT_TRUE(got.samePixels(want));
    }
  }
}

// The threads this process runs now, the test's own included.
int ProcessThreads() {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
  closedir(tasks);
  return count;
}

// The most threads the plug-in ran beside the caller while it rendered a frame
// of four cells, each large enough to be shared, as the host's progress
// calls between rows of cells saw them.
int MembersDuringRender(standin::Host& host) {
  host.setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(256, 256, 8, {255, 1, 2, 3})));
  host.setInt(PARAM_UNITS, 2);
  // A first render lets a runtime start its own threads (ThreadSanitizer's
  // starts with the first thread it sees), so that they count as before.
  World warm(1024, 1024, 8);
  EXPECT_EQ(host.render(warm), PF_Err_NONE);
  const int before = ProcessThreads();
  int most = 0;
  host.setProgressObserver(
      [&](int32_t, int32_t) { most = std::max(most, ProcessThreads() - before); });
  World out(1024, 1024, 8);
  EXPECT_EQ(host.render(out), PF_Err_NONE);
  host.setProgressObserver(nullptr);
  return most;
}

TEST(RenderThreadsPerRender, TheStandInHostFixesThemAndARealHostKeepsThePlugInsOwnChoice) {
  ScopedEnv env("TILVANE_SHARING", "always");
  env.Set("TILVANE_THREADS", "3");
  auto host = RenderHost();
  // A real host knows only EntryPointFunc.
  EXPECT_EQ(MembersDuringRender(*host), 2) << "TILVANE_THREADS, the plug-in's own choice";
  const tilvane::TilvaneEntryWithThreadsFunc entry = Plugin().entryWithThreads();
  ASSERT_NE(entry, nullptr) << "the Linux build exports it";
  host->setRenderThreads(entry, 5);
  EXPECT_EQ(MembersDuringRender(*host), 4);
  // Two hosts in one process, each with its own count.
  auto other = RenderHost();
  other->setRenderThreads(entry, 1);
  EXPECT_EQ(MembersDuringRender(*other), 0);
  EXPECT_EQ(MembersDuringRender(*host), 4);
  host->setRenderThreads(entry, 0);
  EXPECT_EQ(MembersDuringRender(*host), 2) << "0: the plug-in's own choice again";
  EXPECT_STREQ(std::getenv("TILVANE_THREADS"), "3") << "nothing written to the environment";
  EXPECT_THROW(host->setRenderThreads(nullptr, 2), std::invalid_argument);
}

}  // namespace
}  // namespace tilvane_test
