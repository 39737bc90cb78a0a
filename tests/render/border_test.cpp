// The optional border: the top row and left column of every cell's window,
// and the output's last column on every row a window reaches.
#include <cstdint>
#include <limits>

#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using standin::World;

constexpr Argb kWhite{255, 255, 255, 255};

// Border colour (10, 20, 30) with a transparent alpha byte: drawn opaque.
constexpr PF_Pixel kBorderColor{0, 10, 20, 30};
constexpr Argb kBorder{255, 10, 20, 30};

std::unique_ptr<standin::Host> BorderHost() {
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setInt(PARAM_BORDER, 1);
  host->setColor(PARAM_BORDER_COLOR, kBorderColor);
  return host;
}

TEST(RenderBorder, LinesRunAlongTheTopAndLeftOfEveryWindowAndDownTheLastColumn) {
  // Windows 11 × 11 at pitch 10 on a 21 × 21 frame: top rows 0 and 10, left
  // columns 0 and 10; later cells draw their lines over earlier cells'
  // pixels. No line along the bottom.
  auto host = BorderHost();
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kWhite)));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int x, int y) {
    return x == 0 || x == 10 || x == 20 || y == 0 || y == 10 ? kBorder : kWhite;
  });
  ExpectBalanced(*host);
}

TEST(RenderBorder, OnlyTheValueOneDrawsIt) {
  // The checkbox's value is 0 or 1; anything else a host sends is not "on".
  for (const int32_t value : {2, -1, std::numeric_limits<int32_t>::max()}) {
    SCOPED_TRACE(value);
    auto host = BorderHost();
    host->setInt(PARAM_BORDER, value);
    host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kWhite)));
    World out = MakeOutput(21, 21, 8);
    ASSERT_EQ(host->render(out), PF_Err_NONE);
    ExpectFrame(out, [](int, int) { return kWhite; });
  }
}

TEST(RenderBorder, TheLastColumnIsDrawnOnlyOnRowsThatWindowsReach) {
  // An 11 × 6 icon: windows 7 rows tall at a row pitch of 5, so rows 0 to 11
  // are reached and 12 to 19 stay clear, the last column included.
  auto host = BorderHost();
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 6, 8, kWhite)));
  World out = MakeOutput(21, 20, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int x, int y) {
    if (y > 11) return kTransparent;
    return x == 0 || x == 10 || x == 20 || y == 0 || y == 5 ? kBorder : kWhite;
  });
  ExpectBalanced(*host);
}

TEST(RenderBorder, ACellDrawsTheLastColumnEvenWhenItsWindowIsFarFromIt) {
  // Only cell (0, 0) has an icon: its window is columns and rows 0 to 10,
  // yet each of its rows also writes the border at column 20.
  auto host = BorderHost();
  host->setLayer(PARAM_ICON_LAYER, OnlyInCells(Solid(11, 11, 8, kWhite), {0}));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int x, int y) {
    if (y > 10) return kTransparent;
    if (x == 20 || ((x == 0 || y == 0) && x <= 10)) return kBorder;
    return x <= 10 ? kWhite : kTransparent;
  });
  ExpectBalanced(*host);
}

TEST(RenderBorder, IsOpaqueOverATransparentIcon) {
  auto host = BorderHost();
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kTransparent)));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int x, int y) {
    return x == 0 || x == 10 || x == 20 || y == 0 || y == 10 ? kBorder : kTransparent;
  });
  ExpectBalanced(*host);
}

TEST(RenderBorder, SixteenBitBorderConvertsTheDefaultGreyTo16448) {
  // Default "Border Color" (128, 128, 128): (128 × 32768 + 128) / 255 =
  // 16448 in each channel, alpha 32768.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setInt(PARAM_BORDER, 1);
  const Argb white16{32768, 32768, 32768, 32768};
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 16, white16)));
  World out = MakeOutput(21, 21, 16);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  const Argb grey{32768, 16448, 16448, 16448};
  ExpectFrame(out, [&](int x, int y) {
    return x == 0 || x == 10 || x == 20 || y == 0 || y == 10 ? grey : white16;
  });
  ExpectBalanced(*host);
}

TEST(RenderBorder, OffMeansNoLines) {
  auto host = BorderHost();
  host->setInt(PARAM_BORDER, 0);
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kWhite)));
  World out = MakeOutput(21, 21, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectFrame(out, [](int, int) { return kWhite; });
  ExpectBalanced(*host);
}

}  // namespace
}  // namespace tilvane_test
