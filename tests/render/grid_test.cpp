// Where the cells of the mosaic land: the cell scale, the window sizes, the
// placement of each window, and what happens when there is no grid to draw.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using standin::Op;
using standin::World;

constexpr Argb kWhite{255, 255, 255, 255};

TEST(RenderGrid, EightUnitsAcross1920PixelsGiveA239Point875PitchAnd241PixelWindows) {
  // 1919 / (99 × 8) = 2.4229798 output pixels per icon pixel: a pitch of
  // 99 × 2.4229798 = 239.875 and half sizes ceil(239.875 / 2) = 120, so each
  // window is 241 pixels square. Cell 3 starts at 3 × 239.875 = 719.625 and
  // cell 7 at 1679.125; positions truncate, and cell 7 runs into the clamp.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 8);
  host->setLayer(PARAM_ICON_LAYER, OnlyInCells(Solid(100, 100, 8, kWhite), {3, 7}));
  World out = MakeOutput(1920, 250, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int x, int y) {
    const bool across = (x >= 719 && x <= 959) || (x >= 1679 && x <= 1919);
    return across && y <= 240 ? kWhite : kTransparent;
  });
  ExpectBalanced(*host);
}

TEST(RenderGrid, TenUnitsOfA64By48IconAcross720PixelsGiveHalfSizes36And27) {
  // 719 / (63 × 10) = 1.1412698; half sizes ceil(71.9 / 2) = 36 and
  // ceil(53.64 / 2) = 27. Cell (1, 1) starts at (71.9, 53.64), so its window
  // covers columns 71 to 143 and rows 53 to 107; cell (0, 0) covers 0..72, 0..54.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 10);
  host->setLayer(PARAM_ICON_LAYER, OnlyInCells(Solid(64, 48, 8, kWhite), {0, 11}));
  World out = MakeOutput(720, 110, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int x, int y) {
    const bool first = x <= 72 && y <= 54;
    const bool eleventh = x >= 71 && x <= 143 && y >= 53 && y <= 107;
    return first || eleventh ? kWhite : kTransparent;
  });
  ExpectBalanced(*host);
}

TEST(RenderGrid, OneUnitWithAnIconTheSizeOfTheOutputCopiesItPixelForPixel) {
  // Scale 19 / 19 = 1: half sizes ceil(9.5) = 10 and ceil(5.5) = 6, a window
  // of 21 × 13 from the origin. Its last column and row read the icon's last
  // and land on the output's last, so the frame is the icon exactly.
  for (int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    const PixelFn icon = [](int x, int y) { return Argb{200 + y, 10 * x, 20 * y, x + y}; };
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 1);
    host->setLayer(PARAM_ICON_LAYER, standin::StillSource(MakeFrame(20, 12, depth, icon)));
    World out = MakeOutput(20, 12, depth);
    ASSERT_EQ(host->render(out), PF_Err_NONE);
    ExpectFrame(out, icon);
    ExpectBalanced(*host);
  }
}

TEST(RenderGrid, RowPitchFollowsTheIconsAspectNotTheOutputHeight) {
  // An 11 × 6 icon on a 21-wide output in 2 units: scale 1, half sizes 5 and
  // ceil(2.5) = 3. Rows of cells start at 0 and 5 and windows are 7 rows
  // tall, so the grid ends on row 11 and the rest of the frame stays clear.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 6, 8, kWhite)));
  World out = MakeOutput(21, 20, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int, int y) { return y <= 11 ? kWhite : kTransparent; });
  ExpectBalanced(*host);
}

TEST(RenderGrid, WindowRowsBelowTheOutputPileOntoItsLastRow) {
  // An 11 × 11 icon on an 11 × 6 output: window rows 5 to 10 all land on row
  // 5, each overwriting the one before, so row 5 shows icon row 10.
  const PixelFn icon = [](int, int y) { return Argb{255, 20 * y, 0, 0}; };
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 1);
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(MakeFrame(11, 11, 8, icon)));
  World out = MakeOutput(11, 6, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [&](int x, int y) { return icon(x, y < 5 ? y : 10); });
  ExpectBalanced(*host);
}

TEST(RenderGrid, OverlappingWindowsShowTheLaterCellRowByRow) {
  // Scale 1 and half size 5: windows 11 wide at pitch 10 share column 10 and
  // row 10. Each cell's icon has its own colour; the later cell wins.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setLayer(PARAM_ICON_LAYER, ByCheckout(Solid(11, 11, 8, kWhite), [](int n) {
                   return Solid(11, 11, 8, Argb{255, 50 * (n + 1), 0, 0});
                 }));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int x, int y) {
    const int cell = (y >= 10 ? 2 : 0) + (x >= 10 ? 1 : 0);
    return Argb{255, 50 * (cell + 1), 0, 0};
  });
  ExpectBalanced(*host);
}

TEST(RenderGrid, ACellIsPlacedAndClampedByItsOwnIconFrameSize) {
  // Geometry comes from the 11 × 11 frame at the current time (scale 1, half
  // size 5), but cell 1 is served a 3 × 3 frame: its origin is 1 × (3 − 1) = 2
  // across, not 10, and its 11 × 11 window repeats the small frame's edges.
  const PixelFn small = [](int x, int y) { return Argb{255, 100 + x, 100 + y, 7}; };
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setLayer(PARAM_ICON_LAYER,
                 ByCheckout(Solid(11, 11, 8, kWhite), [&](int n) -> standin::WorldPtr {
                   return n == 1 ? MakeFrame(3, 3, 8, small) : nullptr;
                 }));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [&](int x, int y) {
    if (x < 2 || x > 12 || y > 10) return kTransparent;
    return small(std::min(x - 2, 2), std::min(y, 2));
  });
  ExpectBalanced(*host);
}

TEST(RenderGrid, UnitsZeroVisitsNoCellAndLeavesTheFrameClear) {
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 0);
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kWhite)));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectTransparentBlack(out);
  EXPECT_EQ(IconCheckoutTimes(*host).size(), 1u) << "only the set-up check-out";
  EXPECT_EQ(ProgressReports(*host), (std::vector<Report>{{0, 100}, {100, 100}}));
  ExpectBalanced(*host);
}

TEST(RenderGrid, UnitsOutsideZeroToHundredAreClampedSoAHugeValueCannotHang) {
  struct Case {
    int32_t units;
    int expected;
  };
  for (const Case& c : {Case{250, 100}, Case{std::numeric_limits<int32_t>::max(), 100}, Case{-3, 0},
                        Case{std::numeric_limits<int32_t>::min(), 0}}) {
    SCOPED_TRACE(c.units);
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, c.units);
    World out = MakeOutput(4, 4, 8);
    ASSERT_EQ(host->render(out), PF_Err_NONE);
    EXPECT_EQ(CellIconTimes(*host).size(), static_cast<size_t>(c.expected * c.expected));
    EXPECT_EQ(ProgressReports(*host), ExpectedProgress(c.expected));
    ExpectBalanced(*host);
  }
}

TEST(RenderGrid, WithoutAnIconLayerEveryCellStillChecksOutAndInButDrawsNothing) {
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 3);
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectTransparentBlack(out);
  EXPECT_EQ(CellIconTimes(*host).size(), 9u);
  // The set-up icon, nine cells, then the displacement layer.
  EXPECT_EQ(host->count(Op::CheckinParam), 11);
  EXPECT_EQ(ProgressReports(*host), ExpectedProgress(3));
  ExpectBalanced(*host);
}

TEST(RenderGrid, AnIconNarrowerThanTwoPixelsGivesNoGridAndNoDisplacementSample) {
  // The set-up frame is one pixel wide, so no geometry: the cells' own wide
  // frames draw nothing, and with no sample every cell counts as white, which
  // "Displacement" time mapping shows as T rem (T − 1) = 10 rem 9 = 1 over a
  // black displacement layer.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setInt(PARAM_TIME_MAPPING, TIME_DISPLACEMENT);
  host->time() = standin::HostTime{0, 1, 10, 30};
  const standin::WorldPtr wide = Solid(11, 11, 8, kWhite);
  host->setLayer(PARAM_ICON_LAYER,
                 ByCheckout(Solid(1, 5, 8, kWhite), [wide](int) { return wide; }));
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(Solid(21, 21, 8, Argb{255, 0, 0, 0})));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectTransparentBlack(out);
  EXPECT_EQ(CellIconTimes(*host), (std::vector<int64_t>{1, 1, 1, 1}));
  ExpectBalanced(*host);
}

TEST(RenderGrid, AnIconWithoutPixelsAtTheCurrentTimeDrawsNothingEvenWhereCellsHaveSome) {
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  const standin::WorldPtr icon = Solid(11, 11, 8, kWhite);
  host->setLayer(PARAM_ICON_LAYER, ByCheckout(nullptr, [icon](int) { return icon; }));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectTransparentBlack(out);
  EXPECT_EQ(CellIconTimes(*host).size(), 4u);
  ExpectBalanced(*host);
}

TEST(RenderGrid, ACellFrameWithPixelDataButNoWidthOrHeightDrawsNothing) {
  // Cells 0 and 1 get frames whose data is real but whose width or height is
  // 0; cells 2 and 3 draw the second row of windows, rows 10 to 20.
  auto emptied = [](bool width) {
    auto frame = Solid(11, 11, 8, kWhite);
    (width ? frame->record()->width : frame->record()->height) = 0;
    return standin::WorldPtr(frame);
  };
  const standin::WorldPtr noWidth = emptied(true), noHeight = emptied(false);
  const standin::WorldPtr icon = Solid(11, 11, 8, kWhite);
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setLayer(PARAM_ICON_LAYER, ByCheckout(icon, [&](int n) {
                   return n == 0 ? noWidth : n == 1 ? noHeight : icon;
                 }));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int, int y) { return y >= 10 ? kWhite : kTransparent; });
  ExpectBalanced(*host);
}

TEST(RenderGrid, AnOutputWithoutPixelsOrWithoutSizeReceivesNoWrites) {
  // Border on, so even the right-edge write (column width − 1) is exercised.
  // A zero-sized world still owns a few bytes at its data address; a marker
  // there shows that nothing was written.
  struct Case {
    int w, h;
    bool pixels;
  };
  for (const Case& c :
       {Case{21, 21, false}, Case{0, 21, true}, Case{21, 0, true}, Case{0, 0, true}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << (c.pixels ? "" : " without pixels"));
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 2);
    host->setInt(PARAM_BORDER, 1);
    host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kWhite)));
    World out = c.pixels ? World(c.w, c.h, 8) : World::WithoutPixels(c.w, c.h, 8);
    const Argb marker{1, 2, 3, 4};
    if (c.pixels) Set(out, 0, 0, marker);
    ASSERT_EQ(host->render(out), PF_Err_NONE);
    if (c.pixels) {
      EXPECT_EQ(At(out, 0, 0), marker);
    }
    ExpectBalanced(*host);
  }
}

// A scene that uses most of the mapping: colours, transparency, border.
void SetBusyScene(standin::Host& host, bool padded, bool bottomUp) {
  host.setInt(PARAM_UNITS, 2);
  host.setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_BOTH);
  host.setInt(PARAM_COLOR_MAPPING, COLOR_DISPLACEMENT);
  host.setInt(PARAM_TRANSPARENCY_MAPPING, TRANSPARENCY_INVERSE_DISPLACEMENT);
  host.setInt(PARAM_BORDER, 1);
  const int32_t pad = padded ? 12 : 0;
  const PixelFn icon = [](int x, int y) { return Argb{40 * y, 30 * x, 200 - 9 * x, 5 * y}; };
  const PixelFn displacement = [](int x, int y) { return Argb{255, 19 * x, 23 * y, 9 * x + y}; };
  host.setLayer(PARAM_ICON_LAYER, standin::StillSource(MakeFrame(6, 5, 8, icon, pad, bottomUp)));
  host.setLayer(PARAM_DISPLACEMENT_LAYER,
                standin::StillSource(MakeFrame(13, 11, 8, displacement, pad, bottomUp)));
}

TEST(RenderGrid, PaddedAndBottomUpFramesGiveTheSamePicture) {
  auto plainHost = RenderHost();
  SetBusyScene(*plainHost, false, false);
  World plain(13, 11, 8);
  ASSERT_EQ(plainHost->render(plain), PF_Err_NONE);
  for (bool bottomUp : {false, true}) {
    SCOPED_TRACE(bottomUp ? "bottom-up" : "padded");
    auto host = RenderHost();
    SetBusyScene(*host, true, bottomUp);
    World out(13, 11, 8, 20, bottomUp);
    ASSERT_EQ(host->render(out), PF_Err_NONE);
    EXPECT_TRUE(out.samePixels(plain));
    ExpectBalanced(*host);
  }
}

TEST(RenderGrid, AnyPixelFormatButTheSixteenBitOneRendersEightBits) {
  auto plainHost = RenderHost();
  SetBusyScene(*plainHost, false, false);
  World plain(13, 11, 8);
  ASSERT_EQ(plainHost->render(plain), PF_Err_NONE);
  for (PF_PixelFormat format : {PF_PixelFormat_ARGB128, PF_PixelFormat_INVALID}) {
    auto host = RenderHost();
    SetBusyScene(*host, false, false);
    World out(13, 11, 8);
    out.setReportedFormat(format);
    ASSERT_EQ(host->render(out), PF_Err_NONE);
    EXPECT_TRUE(out.samePixels(plain)) << "format " << format;
    ExpectBalanced(*host);
  }
}

}  // namespace
}  // namespace tilvane_test
