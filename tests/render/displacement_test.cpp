// How bright the displacement layer is at each cell, and where it is read.
// The brightness is seen through "Displacement" time mapping: at T = 2^24
// the single-precision product T × brightness is exact, so a cell's time is
// its brightness times 2^24, truncated (and 1 for full brightness, after the
// wrap at T − 1).
#include <cstdint>
#include <vector>

#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using standin::HostTime;
using standin::World;
using Times = std::vector<int64_t>;

constexpr int32_t kTwoTo24 = 1 << 24;
constexpr Argb kWhite{255, 255, 255, 255};
constexpr Argb kBlack{255, 0, 0, 0};

// Renders with the brightness mapped to time; returns the cells' times.
Times BrightnessTimes(standin::Host& host, World& out, int32_t total = kTwoTo24) {
  host.setInt(PARAM_TIME_MAPPING, TIME_DISPLACEMENT);
  host.time() = HostTime{0, 1, total, 30};
  EXPECT_EQ(host.render(out), PF_Err_NONE);
  ExpectBalanced(host);
  return CellIconTimes(host);
}

// Scale 1 and half sizes 5 on a 21 × 21 frame in two units: the cells are
// sampled at (2, 2), (12, 2), (2, 12) and (12, 12).
std::unique_ptr<standin::Host> TwoByTwo(int depth, standin::FrameSourcePtr displacement) {
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setLayer(PARAM_ICON_LAYER,
                 standin::StillSource(Solid(11, 11, depth, Argb{255, 255, 255, 255})));
  host->setLayer(PARAM_DISPLACEMENT_LAYER, std::move(displacement));
  return host;
}

TEST(RenderDisplacement, EightBitBrightnessIsTheMeanOfRedGreenAndBlueInSinglePrecision) {
  struct Case {
    Argb pixel;
    int64_t time;
  };
  // 765 / 765 = 1; 255 / 765 = 0.33333334f; 60 / 765 = 0.078431375f, whose
  // product with 2^24 is 1315860.06 (a double-precision mean would give
  // 1315859.95). Alpha plays no part.
  for (const Case& c :
       {Case{kWhite, 1}, Case{Argb{0, 255, 255, 255}, 1}, Case{Argb{255, 255, 0, 0}, 5592405},
        Case{Argb{255, 10, 20, 30}, 1315860}, Case{kBlack, 0}}) {
    SCOPED_TRACE(testing::PrintToString(c.pixel));
    auto host = TwoByTwo(8, standin::StillSource(Solid(21, 21, 8, c.pixel)));
    World out = MakeOutput(21, 21, 8);
    EXPECT_EQ(BrightnessTimes(*host, out), Times(4, c.time));
  }
}

TEST(RenderDisplacement, SixteenBitBrightnessDividesByThreeTimes32768) {
  struct Case {
    Argb pixel;
    int64_t time;
  };
  // 98304 / 98304 = 1; 32768 / 98304 = 0.33333334f; 765 / 98304 =
  // 255 / 32768 exactly, time 130560; 6000 / 98304 = 125 / 2048, time 1024000.
  for (const Case& c :
       {Case{Argb{32768, 32768, 32768, 32768}, 1}, Case{Argb{0, 32768, 0, 0}, 5592405},
        Case{Argb{32768, 255, 255, 255}, 130560}, Case{Argb{32768, 1000, 2000, 3000}, 1024000}}) {
    SCOPED_TRACE(testing::PrintToString(c.pixel));
    auto host = TwoByTwo(16, standin::StillSource(Solid(21, 21, 16, c.pixel)));
    World out = MakeOutput(21, 21, 16);
    EXPECT_EQ(BrightnessTimes(*host, out), Times(4, c.time));
  }
}

TEST(RenderDisplacement, EachCellReadsAQuarterOfTheWindowIntoItself) {
  // White only at the four sample points (half of each half size in from
  // the cell's origin), black at every other pixel: the window centres
  // (5, 5) etc. and the origins are black.
  auto layer = MakeFrame(21, 21, 8, [](int x, int y) {
    return (x == 2 || x == 12) && (y == 2 || y == 12) ? kWhite : kBlack;
  });
  auto host = TwoByTwo(8, standin::StillSource(layer));
  World out = MakeOutput(21, 21, 8);
  EXPECT_EQ(BrightnessTimes(*host, out, 10), (Times{1, 1, 1, 1}));

  // Moving the white to the diagonal cells alone picks those out.
  auto diagonal = MakeFrame(21, 21, 8, [](int x, int y) {
    return (x == 2 && y == 2) || (x == 12 && y == 12) ? kWhite : kBlack;
  });
  host = TwoByTwo(8, standin::StillSource(diagonal));
  EXPECT_EQ(BrightnessTimes(*host, out, 10), (Times{1, 0, 0, 1}));
}

TEST(RenderDisplacement, FractionalSamplePointsTruncate) {
  // A 20-wide frame: scale 19 / 20 = 0.95, pitch 9.5, half sizes 5. Cell
  // (0, 1) is read at column 9.5 + 2 = 11.5, so (11, 2); cell (1, 0) at (2, 11).
  auto layer = MakeFrame(20, 20, 8, [](int x, int y) {
    return (x == 11 && y == 2) || (x == 2 && y == 11) ? kWhite : kBlack;
  });
  auto host = TwoByTwo(8, standin::StillSource(layer));
  World out = MakeOutput(20, 20, 8);
  EXPECT_EQ(BrightnessTimes(*host, out, 10), (Times{0, 1, 1, 0}));
}

TEST(RenderDisplacement, ALayerSmallerThanTheGridIsReadAtItsLastColumnOrRow) {
  // A 5 × 5 layer: cells to the right read column 4, cells below row 4.
  auto lastColumn = MakeFrame(5, 5, 8, [](int x, int) { return x == 4 ? kWhite : kBlack; });
  auto host = TwoByTwo(8, standin::StillSource(lastColumn));
  World out = MakeOutput(21, 21, 8);
  EXPECT_EQ(BrightnessTimes(*host, out, 10), (Times{0, 1, 0, 1}));

  auto lastRow = MakeFrame(5, 5, 8, [](int, int y) { return y == 4 ? kWhite : kBlack; });
  host = TwoByTwo(8, standin::StillSource(lastRow));
  EXPECT_EQ(BrightnessTimes(*host, out, 10), (Times{0, 0, 1, 1}));
}

TEST(RenderDisplacement, HalfSizesOf120ReadTheFirstCellAt60And60) {
  // 1920 wide, a 100 × 100 icon, 8 units: half sizes 120, so cell (0, 0)
  // reads (60, 60) and cell (0, 1) reads (299.875 → 299, 60). No cell is
  // served an icon, so nothing is drawn; the grid still comes from set-up.
  auto layer =
      MakeFrame(300, 300, 8, [](int x, int y) { return x == 60 && y == 60 ? kWhite : kBlack; });
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 8);
  host->setLayer(PARAM_ICON_LAYER, OnlyInCells(Solid(100, 100, 8, kWhite), {}));
  host->setLayer(PARAM_DISPLACEMENT_LAYER, standin::StillSource(layer));
  World out = MakeOutput(1920, 2, 8);
  Times expected(64, 0);
  expected[0] = 1;
  EXPECT_EQ(BrightnessTimes(*host, out, 10), expected);
}

TEST(RenderDisplacement, WithoutASampleEveryCellCountsAsWhite) {
  // No displacement layer, or one without pixels at the current time: full
  // brightness, so time 10 rem 9 = 1 and the icon keeps its full strength
  // under "Displacement" transparency.
  for (bool present : {false, true}) {
    SCOPED_TRACE(present ? "layer without pixels" : "no layer");
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 2);
    host->setInt(PARAM_TRANSPARENCY_MAPPING, TRANSPARENCY_DISPLACEMENT);
    const Argb grey{200, 120, 60, 30};
    host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, grey)));
    if (present) {
      host->setLayer(PARAM_DISPLACEMENT_LAYER,
                     standin::FunctionSource([](const standin::LayerRequest&) { return nullptr; }));
    }
    World out = MakeOutput(21, 21, 8);
    EXPECT_EQ(BrightnessTimes(*host, out, 10), Times(4, 1));
    ExpectFrame(out, [&](int, int) { return grey; });
  }
}

}  // namespace
}  // namespace tilvane_test
