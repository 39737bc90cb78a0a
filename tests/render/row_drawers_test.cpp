// The window walks called directly, cell by cell: each vector path against
// the reference walk (DrawWindowRows) on windows wider than two groups of
// the widest vector, with odd tails; which path a walk is, since every path
// draws the same pixels; and how the painter shares a large cell among
// threads. A path the CPU lacks is skipped by name, never run on another.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "src/params/params.h"
#include "src/render/cell_draw.h"
#include "src/render/cell_painter.h"
#include "src/render/render_options.h"
#include "src/render/window_simd.h"
#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using standin::World;
using tilvane::CellState;
using tilvane::CellWalk;
using tilvane::DrawContext;
using tilvane::SimdPath;

const char* NameOf(SimdPath path) {
  switch (path) {
    case SimdPath::kSse2:
      return "sse2";
    case SimdPath::kAvx2:
      return "avx2";
    case SimdPath::kAvx512:
      return "avx512";
    default:
      return "scalar";
  }
}

// One cell drawn on its own: the settings, the grid and the icon it reads.
struct OneCell {
  tilvane::RenderSettings settings{};
  tilvane::GridGeometry geometry{};
  std::shared_ptr<World> icon;
  float luminance = 1.0f;
  int32_t cellRow = 0, cellColumn = 0;
  int outputWidth = 0, outputHeight = 0;

  OneCell() {
    settings.units = 1;
    settings.displacementEffect = DISPLACEMENT_NONE;
    settings.effectIntensity = 1.0;
    settings.colorMapping = COLOR_ICON_LAYER;
    settings.transparencyMapping = TRANSPARENCY_CONSTANT;
    settings.borderColor = PF_Pixel{255, 10, 20, 30};
  }
};

template <typename Pixel>
World DrawWith(const OneCell& c, tilvane::RowDrawer<Pixel> draw) {
  World out = MakeOutput(c.outputWidth, c.outputHeight, c.icon->depth(), {7, 7, 7, 7});
  const DrawContext<Pixel> context =
      tilvane::MakeDrawContext<Pixel>(c.settings, c.geometry, out.record());
  CellState cell{};
  cell.cellLuminance = c.luminance;
  cell.icon = c.icon->record();
  cell.iconWidth = c.icon->width();
  cell.iconHeight = c.icon->height();
  const CellWalk walk = tilvane::PrepareCellWalk(context, cell, c.cellRow, c.cellColumn);
  draw(context, walk, 0, walk.RowCount());
  return out;
}

World Draw(const OneCell& c, SimdPath path) {
  if (c.icon->depth() == 16) return DrawWith(c, tilvane::RowDrawerFor<PF_Pixel16>(path));
  return DrawWith(c, tilvane::RowDrawerFor<PF_Pixel>(path));
}

World DrawReference(const OneCell& c) {
  if (c.icon->depth() == 16) {
    return DrawWith<PF_Pixel16>(c, {SimdPath::kScalar, &tilvane::DrawWindowRows<PF_Pixel16>});
  }
  return DrawWith<PF_Pixel>(c, {SimdPath::kScalar, &tilvane::DrawWindowRows<PF_Pixel>});
}

class EveryPath : public testing::TestWithParam<SimdPath> {
 protected:
  void SetUp() override {
    if (static_cast<int>(GetParam()) > static_cast<int>(tilvane::BestSimdPath())) {
      GTEST_SKIP() << NameOf(GetParam()) << " not on this CPU";
    }
  }
};

TEST_P(EveryPath, EachWalkIsThePathAskedFor) {
  // The frame cannot tell the paths apart; the walk names the path it is.
  EXPECT_EQ(tilvane::RowDrawerFor<PF_Pixel>(GetParam()).path, GetParam());
  EXPECT_EQ(tilvane::RowDrawerFor<PF_Pixel16>(GetParam()).path, GetParam());
}

// A 3 × 2 icon drawn unturned at cell scale 16: window pixel (x, y) reads the
// icon at (x / 16, y / 16), fractions exact. Red runs 0, 160, 32 across, so
// it is 10x up to column 16, 160 − 8(x − 16) up to 32, then 32 (both
// neighbours clamp to the last column); green runs 0 to 160 down, 10y. At 16
// bits every value is 100 times as large.
OneCell Ramp(int depth, int halfWidth, bool border) {
  OneCell c;
  const int64_t unit = depth == 16 ? 100 : 1;
  const int64_t opaque = depth == 16 ? 32768 : 255;
  const int64_t red[3] = {0, 160, 32};
  c.icon = MakeFrame(3, 2, depth, [&](int x, int y) {
    return Argb{opaque, red[x] * unit, 160 * y * unit, 0};
  });
  c.geometry = {16.0f, halfWidth, 2, 3, 2};
  c.settings.border = border ? 1 : 0;
  c.outputWidth = 2 * halfWidth + 4;  // three columns to spare on the right
  c.outputHeight = 7;
  return c;
}

Argb RampPixel(int depth, int x, int y) {
  const int64_t unit = depth == 16 ? 100 : 1;
  const int64_t red = x <= 16 ? 10 * x : x <= 32 ? 160 - 8 * (x - 16) : 32;
  return {depth == 16 ? 32768 : 255, red * unit, 10 * y * unit, 0};
}

TEST_P(EveryPath, HandWorkedWindowsWiderThanTwoVectorGroupsWithOddTails) {
  // 17 to 47 columns: two groups of the widest vector and more, ending in
  // every kind of tail.
  for (const int depth : {8, 16}) {
    for (const int halfWidth : {8, 9, 11, 12, 15, 16, 19, 23}) {
      for (const bool border : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << depth << " bits, " << 2 * halfWidth + 1 << " columns, border " << border);
        const OneCell cell = Ramp(depth, halfWidth, border);
        const World got = Draw(cell, GetParam());
        const int lastColumn = cell.outputWidth - 1;
        const Argb borderPixel =
            depth == 16 ? Argb{32768, 1285, 2570, 3855} : Argb{255, 10, 20, 30};
        for (int y = 0; y < cell.outputHeight; ++y) {
          for (int x = 0; x < cell.outputWidth; ++x) {
            const bool inWindow = y < 5 && x <= 2 * halfWidth;
            Argb expected = inWindow ? RampPixel(depth, x, y) : Argb{7, 7, 7, 7};
            // The window's first row and column, and the output's last column
            // on the rows it writes.
            if (border && ((inWindow && (x == 0 || y == 0)) || (y < 5 && x == lastColumn))) {
              expected = borderPixel;
            }
            ASSERT_EQ(At(got, x, y), expected) << "at (" << x << ", " << y << ")";
          }
        }
        EXPECT_TRUE(got.samePixels(DrawReference(cell)));
      }
    }
  }
}

// Random cells over wide windows, against the reference with zero
// tolerance: turned and scaled, every shading, the border, cells away from
// the origin, and outputs narrower or shorter than the window, whose clamped
// columns and rows the walks jump.
TEST_P(EveryPath, RandomWideCellsMatchTheReferenceWalkBitForBit) {
  std::mt19937 random(1515);
  const auto between = [&](int low, int high) {
    return low + static_cast<int>(random() % static_cast<uint32_t>(high - low + 1));
  };
  for (int i = 0; i < 300; ++i) {
    OneCell c;
    const int depth = i % 2 == 0 ? 8 : 16;
    const int iconWidth = between(1, 40), iconHeight = between(1, 40);
    const int full = depth == 16 ? 32768 : 255;
    c.icon = MakeFrame(iconWidth, iconHeight, depth, [&](int, int) {
      return Argb{between(0, full), between(0, full), between(0, full), between(0, full)};
    });
    c.geometry = {static_cast<float>(between(1, 400)) / 64.0f, between(8, 40), between(0, 12),
                  iconWidth, iconHeight};
    c.settings.displacementEffect = static_cast<tilvane::DisplacementEffect>(between(1, 4));
    c.settings.effectIntensity = between(0, 200) / 100.0;
    c.settings.rotationOffset =
        between(0, 3) == 0 ? between(-4, 4) * 90.0 : between(0, 3600) / 10.0;
    c.settings.scaleOffset = between(-100, 100) / 100.0;
    c.settings.border = between(0, 2) == 0 ? 1 : 0;
    c.settings.colorMapping = static_cast<tilvane::ColorMapping>(between(1, 3));
    c.settings.transparencyMapping = static_cast<tilvane::TransparencyMapping>(between(1, 3));
    c.settings.colorA = PF_Pixel{255, static_cast<A_u_char>(between(0, 255)), 40, 200};
    c.settings.colorB = PF_Pixel{255, 3, static_cast<A_u_char>(between(0, 255)), 90};
    c.luminance = static_cast<float>(between(0, 1000)) / 1000.0f;
    c.cellRow = between(0, 2);
    c.cellColumn = between(0, 2);
    const int windowWidth = 2 * c.geometry.halfWidth + 1;
    c.outputWidth = between(0, 3) == 0 ? between(1, windowWidth) : windowWidth + between(0, 90);
    c.outputHeight = between(1, 2 * c.geometry.halfHeight + 30);
    SCOPED_TRACE(testing::Message() << "cell " << i);
    ASSERT_TRUE(Draw(c, GetParam()).samePixels(DrawReference(c)));
  }
}

INSTANTIATE_TEST_SUITE_P(RowDrawers, EveryPath,
                         testing::Values(SimdPath::kScalar, SimdPath::kSse2, SimdPath::kAvx2,
                                         SimdPath::kAvx512),
                         [](const testing::TestParamInfo<SimdPath>& info) {
                           return std::string(NameOf(info.param));
                         });

// A walk that notes the threads it ran on. After drawing a chunk, a thread
// waits (20 s at most) for another to draw one, so that where the team
// exists every member is seen at work however the system schedules it: a
// member started while the caller was held up cannot take every chunk.
struct Witness {
  std::mutex mutex;
  std::condition_variable changed;
  std::set<std::thread::id> threads;
  bool waitForOthers = false;
};
Witness* gWitness = nullptr;

void WitnessedRows(const DrawContext<PF_Pixel>& context, const CellWalk& walk, int64_t firstRow,
                   int64_t endRow) {
  tilvane::DrawWindowRows(context, walk, firstRow, endRow);
  Witness& w = *gWitness;
  std::unique_lock<std::mutex> lock(w.mutex);
  w.threads.insert(std::this_thread::get_id());
  w.changed.notify_all();
  if (w.waitForOthers) {
    w.changed.wait_for(lock, std::chrono::seconds(20), [&] { return w.threads.size() > 1; });
  }
}

// One large cell, 81 × 81 window pixels, painted on an output of this size
// with two threads asked for; the threads that drew it.
std::set<std::thread::id> ThreadsPainting(int width, int height, bool waitForOthers) {
  OneCell c;
  c.icon = MakeFrame(3, 3, 8, [](int x, int y) { return Argb{255, 60 * x, 60 * y, 9}; });
  c.geometry = {40.0f, 40, 40, 3, 3};
  World out(width, height, 8);
  const DrawContext<PF_Pixel> context =
      tilvane::MakeDrawContext<PF_Pixel>(c.settings, c.geometry, out.record());
  CellState cell{};
  cell.cellLuminance = 1.0f;
  cell.icon = c.icon->record();
  cell.iconWidth = 3;
  cell.iconHeight = 3;
  Witness witness;
  witness.waitForOthers = waitForOthers;
  gWitness = &witness;
  {
    tilvane::CellPainter<PF_Pixel> painter(context, {SimdPath::kScalar, &WitnessedRows},
                                           tilvane::RenderOptions{SimdPath::kScalar, 2, true});
    painter.Paint(cell, 0, 0);
  }  // the team is joined here
  gWitness = nullptr;
  return witness.threads;
}

TEST(CellPainter, A1080pRenderOnTwoThreadsHandsWorkToTheSecondThread) {
  const std::set<std::thread::id> threads = ThreadsPainting(1920, 1080, true);
  EXPECT_EQ(threads.size(), 2u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 1u) << "the calling thread draws too";
}

TEST(CellPainter, ARenderOfFewerThan65536PixelsStaysOnTheCallingThread) {
  // Starting threads would cost more than such a frame.
  EXPECT_EQ(ThreadsPainting(255, 255, false),
            std::set<std::thread::id>{std::this_thread::get_id()});
  EXPECT_EQ(ThreadsPainting(256, 256, true).size(), 2u);
}

}  // namespace
}  // namespace tilvane_test
