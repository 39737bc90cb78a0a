// How a cell reads its icon: the inverse mapping of each window pixel
// through the cell's turn and scale, and the bilinear sample. With "Icon
// Layer" colour and "Constant" transparency each output channel is the
// sample truncated, so unrounded samples show up to truncation.
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using standin::World;
using tilvane::kDisplacementEffectChoices;

// One unit on a 5 × 5 output: the window is 5 × 5 from the origin (half
// sizes 2 for the icons used here), so output pixel (x, y) is window pixel
// (x, y) and the centre is (2, 2).
World RenderOneCell(standin::Host& host, standin::WorldPtr icon, int depth) {
  host.setInt(PARAM_UNITS, 1);
  host.setLayer(PARAM_ICON_LAYER, standin::StillSource(std::move(icon)));
  World out = MakeOutput(5, 5, depth);
  EXPECT_EQ(host.render(out), PF_Err_NONE);
  ExpectBalanced(host);
  return out;
}

// A 2 × 2 icon on a 5 × 5 output: scale 4 / 1 = 4, so at the natural size
// window pixel (x, y) reads the icon at (x / 4, y / 4).
standin::WorldPtr FourCorners(int depth, int64_t scale = 1) {
  const Argb corners[2][2] = {{{255, 0, 0, 0}, {255, 200, 0, 0}},  // top row
                              {{0, 100, 0, 0}, {0, 20, 0, 0}}};    // bottom row
  return MakeFrame(2, 2, depth, [&](int x, int y) {
    Argb p = corners[y][x];
    if (depth == 16) p = Argb{p.a == 255 ? 32768 : 0, p.r * scale, 0, 0};
    return p;
  });
}

using Table = std::vector<std::vector<int64_t>>;

void ExpectRed(const World& out, const Table& red) {
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(At(out, x, y).r, red[y][x]) << "at (" << x << ", " << y << ")";
    }
  }
}

void ExpectCentreRowRed(const World& out, const std::vector<int64_t>& red) {
  std::vector<int64_t> got;
  for (int x = 0; x < 5; ++x) got.push_back(At(out, x, 2).r);
  EXPECT_EQ(got, red);
}

TEST(RenderSampling, CellScaleOneHalfReadsEveryOtherIconPixelExactly) {
  // A 9 × 9 icon on a 5-wide output: scale 4 / 8 = 0.5, so window pixel
  // (3, 2) reads icon pixel (6, 4) with no fraction.
  const PixelFn icon = [](int x, int y) { return Argb{255 - x, 20 * x + y, 10 * y, x * y}; };
  auto host = RenderHost();
  World out = RenderOneCell(*host, MakeFrame(9, 9, 8, icon), 8);
  ExpectFrame(out, [&](int x, int y) { return icon(2 * x, 2 * y); });
}

TEST(RenderSampling, BilinearWeightsFollowTheFractionsAcrossAndDown) {
  // Red corners 0, 200 (top) and 100, 20 (bottom): top = 200 fx, bottom =
  // 100 − 80 fx, sample = top + (bottom − top) fy at fx, fy = 0, ¼, ½, ¾, 1.
  // Alpha goes from 255 on top to 0 below: 255, 191.25, 127.5, 63.75, 0.
  auto host = RenderHost();
  World out = RenderOneCell(*host, FourCorners(8), 8);
  ExpectRed(out, {{0, 50, 100, 150, 200},
                  {25, 57, 90, 122, 155},
                  {50, 65, 80, 95, 110},
                  {75, 72, 70, 67, 65},
                  {100, 80, 60, 40, 20}});
  for (int y = 0; y < 5; ++y) {
    EXPECT_EQ(At(out, 0, y).a, std::vector<int64_t>({255, 191, 127, 63, 0})[y]);
  }
}

TEST(RenderSampling, HalfwayBetweenTwoPixelsIsTheUnroundedMeanOfEachChannel) {
  // A 3 × 1 icon on a 5-wide output: scale 2, half height 0, a one-row
  // window reading (x / 2, 0). Halfway between alpha 0 / red 200 and alpha
  // 255 / red 100 is alpha 127.5 and red 150.0: colour is not weighted by
  // alpha.
  const Argb row[3] = {{0, 200, 10, 0}, {255, 100, 20, 0}, {255, 0, 31, 0}};
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 1);
  host->setLayer(PARAM_ICON_LAYER,
                 standin::StillSource(MakeFrame(3, 1, 8, [&](int x, int) { return row[x]; })));
  World out = MakeOutput(5, 3, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  const Argb expected[5] = {
      row[0], {127, 150, 15, 0}, row[1], {255, 50, 25, 0}, row[2]};  // 25.5 → 25
  ExpectFrame(out, [&](int x, int y) { return y == 0 ? expected[x] : kTransparent; });
  ExpectBalanced(*host);
}

TEST(RenderSampling, SixteenBitChannelsAreInterpolatedOnTheir32768Scale) {
  // The corners of the 8-bit table at 16 bits: the same red, and alpha
  // 32768 over 0 gives 24576 a quarter of the way down.
  auto host = RenderHost();
  World out = RenderOneCell(*host, FourCorners(16), 16);
  EXPECT_EQ(At(out, 1, 1), (Argb{24576, 57, 0, 0}));
  // Red 0 to 32768 across: 8192 per quarter, and 32768 read as 32768.0.
  auto full = MakeFrame(2, 2, 16, [](int x, int) { return Argb{32768, 32768 * x, 0, 32768}; });
  host = RenderHost();
  out = RenderOneCell(*host, full, 16);
  ExpectFrame(out, [](int x, int) { return Argb{32768, 8192 * x, 0, 32768}; });
}

TEST(RenderSampling, HalfSizeDrawsAboutTheCentreAndRepeatsTheEdges) {
  // "Scale Offset" −50 gives k = 0.5 and a divisor of 4 × 0.5 = 2: window
  // column x reads (x − 2 + 1) / 2 = −0.5, 0, 0.5, 1, 1.5. At −0.5 both
  // neighbours clamp to column 0 (the + 1 comes before the clamp); at 1.5
  // both clamp to column 1. Rows alike.
  auto host = RenderHost();
  host->setFloat(PARAM_SCALE_OFFSET, -50);
  World out = RenderOneCell(*host, FourCorners(8), 8);
  ExpectRed(out, {{0, 0, 100, 200, 200},
                  {0, 0, 100, 200, 200},
                  {50, 50, 80, 110, 110},
                  {100, 100, 60, 20, 20},
                  {100, 100, 60, 20, 20}});
}

TEST(RenderSampling, ScaleModeSizesTheIconByBrightness) {
  // At 16 bits a displacement of 16384 in each channel is brightness 0.5
  // exactly: "Scale" gives k = 0.5 and no turn, the half-size table above
  // with red scaled by 100.
  auto host = RenderHost();
  host->setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_SCALE);
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(Solid(5, 5, 16, Argb{32768, 16384, 16384, 16384})));
  World out = RenderOneCell(*host, FourCorners(16, 100), 16);
  ExpectRed(out, {{0, 0, 10000, 20000, 20000},
                  {0, 0, 10000, 20000, 20000},
                  {5000, 5000, 8000, 11000, 11000},
                  {10000, 10000, 6000, 2000, 2000},
                  {10000, 10000, 6000, 2000, 2000}});
}

TEST(RenderSampling, ZeroOrNegativeScaleReadsTheFirstPixelAtTheCentreAndEdgesAround) {
  // k ≤ 0: no centre term and a divisor of 0.01, so offsets are multiplied
  // by 100 and clamp to the icon's edges: four quadrants, the centre pixel
  // reading (0, 0).
  const Table quadrants = {{0, 0, 0, 200, 200},
                           {0, 0, 0, 200, 200},
                           {0, 0, 0, 200, 200},
                           {100, 100, 100, 20, 20},
                           {100, 100, 100, 20, 20}};
  struct Case {
    const char* name;
    int effect;
    double scaleOffset;
  };
  for (const Case& c : {Case{"None at -100", DISPLACEMENT_NONE, -100},
                        Case{"Rotation at -100", DISPLACEMENT_ROTATION, -100},
                        Case{"Scale over black", DISPLACEMENT_SCALE, 0},
                        Case{"Both over black", DISPLACEMENT_BOTH, 0},
                        Case{"Scale over black at -50", DISPLACEMENT_SCALE, -50}}) {
    SCOPED_TRACE(c.name);
    auto host = RenderHost();
    host->setInt(PARAM_DISPLACEMENT_EFFECT, c.effect);
    host->setFloat(PARAM_SCALE_OFFSET, c.scaleOffset);
    // Black turns nothing in "Rotation" either: brightness 0.
    host->setLayer(PARAM_DISPLACEMENT_LAYER,
                   standin::StillSource(Solid(5, 5, 8, Argb{255, 0, 0, 0})));
    ExpectRed(RenderOneCell(*host, FourCorners(8), 8), quadrants);
  }
}

TEST(RenderSampling, ATinyScaleKeepsItsCentreTermOverTheSmallestDivisor) {
  // 16-bit brightness 96 / 98304 = 2^-10 in "Scale": k = 2^-10, and 4 × k is
  // below 0.01, so the divisor is 0.01 while the centre term stays 2 × k.
  // The centre reads column (2 × 2^-10) / 0.01 = 0.1953125: red 0 and 32768
  // mix to 6400. A divisor of 4 × k would read 0.5 (16384); no centre term, 0.
  auto icon = MakeFrame(2, 2, 16, [](int x, int) { return Argb{32768, 32768 * x, 0, 0}; });
  auto host = RenderHost();
  host->setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_SCALE);
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(Solid(5, 5, 16, Argb{32768, 32, 32, 32})));
  World out = RenderOneCell(*host, icon, 16);
  EXPECT_EQ(At(out, 2, 2).r, 6400);
  EXPECT_EQ(At(out, 1, 2).r, 0) << "one column left reads far off the left edge";
  EXPECT_EQ(At(out, 3, 2).r, 32768) << "one column right reads far off the right edge";
}

// Rows of red 10, 20, 100, 60, 50, the same in every column: rising to the
// centre and falling after it, so the last-digit rounding of a quarter turn
// never truncates across a step on the centre row.
standin::WorldPtr RowProfile(int depth, int64_t scale = 1) {
  const int64_t profile[5] = {10, 20, 100, 60, 50};
  return MakeFrame(5, 5, depth, [=](int, int y) {
    return Argb{depth == 16 ? 32768 : 255, profile[y] * scale, 0, 0};
  });
}

TEST(RenderSampling, RotationByAQuarterTurnReadsDownTheIconAlongTheCentreRow) {
  // Brightness 1 (no displacement layer) at "Effect Intensity" 25: 90
  // degrees. The centre row's pixel u columns right of the centre reads u
  // rows below the icon's centre.
  auto host = RenderHost();
  host->setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_ROTATION);
  host->setFloat(PARAM_EFFECT_INTENSITY, 25);
  ExpectCentreRowRed(RenderOneCell(*host, RowProfile(8), 8), {10, 20, 100, 60, 50});
}

TEST(RenderSampling, BrightnessAQuarterAtFullIntensityIsAQuarterTurn) {
  // 16-bit brightness 24576 / 98304 = 0.25 exactly.
  auto host = RenderHost();
  host->setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_ROTATION);
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(Solid(5, 5, 16, Argb{32768, 8192, 8192, 8192})));
  ExpectCentreRowRed(RenderOneCell(*host, RowProfile(16, 100), 16),
                     {1000, 2000, 10000, 6000, 5000});
}

TEST(RenderSampling, RotationOffsetTurnsTheOtherWay) {
  // "None" with "Rotation Offset" 90 is −90 degrees: the centre row reads up
  // the icon instead.
  auto host = RenderHost();
  host->setFloat(PARAM_ROTATION_OFFSET, 90);
  ExpectCentreRowRed(RenderOneCell(*host, RowProfile(8), 8), {50, 60, 100, 20, 10});

  // Against a brightness term of +90 degrees it cancels to no turn at all.
  host = RenderHost();
  host->setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_ROTATION);
  host->setFloat(PARAM_EFFECT_INTENSITY, 25);
  host->setFloat(PARAM_ROTATION_OFFSET, 90);
  const World out = RenderOneCell(*host, RowProfile(8), 8);
  ExpectFrame(out, [](int, int y) {
    const int64_t profile[5] = {10, 20, 100, 60, 50};
    return Argb{255, profile[y], 0, 0};
  });
}

TEST(RenderSampling, AFullTurnUsesTheSinglePrecisionTurnAndSoIsNotQuiteTheIdentity) {
  // Default settings at brightness 1 turn by 6.2831854820251465 radians,
  // 1.75e-7 past a full turn (the double 2π would be the identity to the
  // last digit). Along the centre row the cosine 1 − 1.5e-14 pulls column 3
  // and 4 just short of their whole values, and below it the sine pulls
  // every column left: a red ramp of 50 per column drops one level there.
  auto ramp = MakeFrame(5, 5, 8, [](int x, int) { return Argb{255, 50 * x, 0, 0}; });
  auto host = RenderHost();
  host->setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_ROTATION);
  World out = RenderOneCell(*host, ramp, 8);
  ExpectRed(out, {{0, 50, 100, 150, 200},
                  {0, 50, 100, 150, 200},
                  {0, 50, 100, 149, 199},
                  {0, 49, 99, 149, 199},
                  {0, 49, 99, 149, 199}});
}

TEST(RenderSampling, EffectValuesOutsideTheListMeanRotation) {
  for (const int32_t value :
       {0, kDisplacementEffectChoices + 1, -1, std::numeric_limits<int32_t>::max()}) {
    SCOPED_TRACE(value);
    auto host = RenderHost();
    host->setInt(PARAM_DISPLACEMENT_EFFECT, value);
    host->setFloat(PARAM_EFFECT_INTENSITY, 25);
    ExpectCentreRowRed(RenderOneCell(*host, RowProfile(8), 8), {10, 20, 100, 60, 50});
  }
}

TEST(RenderSampling, EffectIntensityIsMultipliedByTheDoubleHundredth) {
  // Under white (brightness 1.0) a "Rotation Offset" of (35 × 0.01) × 360
  // cancels an "Effect Intensity" of 35 exactly, so the icon is drawn unturned
  // pixel for pixel. 35 / 100 is one step below 35 × 0.01 in double
  // precision: dividing would leave a turn of about 1e-16 radians, enough to
  // pull source points just below whole numbers and the ramps below down by 1.
  const double intensity = 35;
  const double offset = (intensity * 0.01) * 360.0;
  ASSERT_NE((intensity / 100.0) * 360.0, offset) << "the values would not tell the two apart";
  const PixelFn icon = [](int x, int y) {
    return Argb{255, 10 + 40 * x + 7 * y, 200 - 30 * x, 5 + 20 * y};
  };
  auto host = RenderHost();
  host->setInt(PARAM_DISPLACEMENT_EFFECT, DISPLACEMENT_ROTATION);
  host->setFloat(PARAM_EFFECT_INTENSITY, intensity);
  host->setFloat(PARAM_ROTATION_OFFSET, offset);
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(Solid(5, 5, 8, Argb{255, 255, 255, 255})));
  World out = RenderOneCell(*host, MakeFrame(5, 5, 8, icon), 8);
  ExpectFrame(out, icon);
}

TEST(RenderSampling, NonFiniteSlidersDrawADefinedFrame) {
  // Two units of a solid white 11 × 11 icon over 21 × 21, border on. Where a
  // slider makes the source point NaN every sample is NaN and every window
  // pixel becomes 0 in all four channels; the border lines, which do not
  // depend on the sample, are still drawn. A Scale Offset of -inf clamps the
  // scale to 0 and the divisor to 0.01, so every window pixel reads the
  // (white) icon. A non-finite Time Offset only moves the icon in time.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  constexpr Argb kWhite{255, 255, 255, 255};
  constexpr Argb kBorder{255, 128, 128, 128};  // the default "Border Color"
  struct Case {
    int index;
    double value;
    int effect;
    Argb inside;
  };
  for (const Case& c : {Case{PARAM_EFFECT_INTENSITY, nan, DISPLACEMENT_ROTATION, kTransparent},
                        Case{PARAM_EFFECT_INTENSITY, inf, DISPLACEMENT_SCALE, kTransparent},
                        Case{PARAM_ROTATION_OFFSET, inf, DISPLACEMENT_NONE, kTransparent},
                        Case{PARAM_ROTATION_OFFSET, nan, DISPLACEMENT_NONE, kTransparent},
                        Case{PARAM_SCALE_OFFSET, inf, DISPLACEMENT_NONE, kTransparent},
                        Case{PARAM_SCALE_OFFSET, -inf, DISPLACEMENT_NONE, kWhite},
                        Case{PARAM_TIME_OFFSET, nan, DISPLACEMENT_NONE, kWhite},
                        Case{PARAM_TIME_OFFSET, -inf, DISPLACEMENT_NONE, kWhite}}) {
    SCOPED_TRACE(testing::Message() << "param " << c.index << " = " << c.value);
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 2);
    host->setInt(PARAM_BORDER, 1);
    host->setInt(PARAM_DISPLACEMENT_EFFECT, c.effect);
    host->param(c.index).u.fs_d.value = c.value;
    host->setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kWhite)));
    World out = MakeOutput(21, 21, 8);
    ASSERT_EQ(host->render(out), PF_Err_NONE);
    ExpectFrame(out, [&c](int x, int y) {
      return x == 0 || x == 10 || x == 20 || y == 0 || y == 10 ? kBorder : c.inside;
    });
    ExpectBalanced(*host);
  }
}

TEST(RenderSampling, NonFiniteSliderValuesRenderWithoutFault) {
  // A NaN or infinite turn or scale gives no meaningful picture, but every
  // conversion on the way must stay defined (the sanitizers watch) and the
  // render must complete with its host calls balanced.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const int index : {PARAM_EFFECT_INTENSITY, PARAM_ROTATION_OFFSET, PARAM_SCALE_OFFSET}) {
    for (const double value : {nan, inf, -inf, 1e300, -1e300}) {
      for (const int effect : {DISPLACEMENT_ROTATION, DISPLACEMENT_BOTH}) {
        SCOPED_TRACE(testing::Message()
                     << "param " << index << " = " << value << ", effect " << effect);
        auto host = RenderHost();
        host->setInt(PARAM_DISPLACEMENT_EFFECT, effect);
        host->setInt(PARAM_BORDER, 1);
        host->param(index).u.fs_d.value = value;
        RenderOneCell(*host, FourCorners(8), 8);
      }
    }
  }
}

}  // namespace
}  // namespace tilvane_test
