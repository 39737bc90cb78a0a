// What each cell pixel becomes: "Icon Layer" colour scaled by the
// transparency factor, the two-colour mix of "Color A" and "Color B", the
// alpha, and the 16-bit forms of the 8-bit colour controls.
#include <cstdint>
#include <limits>
#include <optional>

#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using standin::World;
using tilvane::kColorMappingChoices;
using tilvane::kTransparencyMappingChoices;

constexpr Argb kWhite8{255, 255, 255, 255};
constexpr Argb kWhite16{32768, 32768, 32768, 32768};
constexpr Argb kBlack8{255, 0, 0, 0};
// Brightness 153 / 765 = 0.2f; its inverse 1 − 0.2f stored as 0.8f.
constexpr Argb kFifth8{255, 51, 51, 51};
// Brightness 49152 / 98304 = 0.5 exactly.
constexpr Argb kHalf16{32768, 16384, 16384, 16384};

// One unit, a solid 5 × 5 icon on a 5 × 5 output, so every output pixel is
// the same cell pixel; checks that they all are and returns it.
Argb CellPixel(standin::Host& host, int depth, const Argb& icon,
               std::optional<Argb> displacement = std::nullopt) {
  host.setInt(PARAM_UNITS, 1);
  host.setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(5, 5, depth, icon)));
  if (displacement) {
    host.setLayer(PARAM_DISPLACEMENT_LAYER,
                  standin::StillSource(Solid(5, 5, depth, *displacement)));
  }
  World out = MakeOutput(5, 5, depth);
  EXPECT_EQ(host.render(out), PF_Err_NONE);
  ExpectBalanced(host);
  const Argb pixel = At(out, 2, 2);
  ExpectFrame(out, [&](int, int) { return pixel; });
  return pixel;
}

PF_Pixel Color(A_u_char r, A_u_char g, A_u_char b) { return PF_Pixel{255, r, g, b}; }

TEST(RenderColor, IconLayerColorTruncatesTheSample) {
  // A 2 × 1 icon read a quarter of the way across (scale 4): alpha 255 →
  // 254 gives 254.75, red 200 → 203 gives 200.75, green 10 → 14 gives 11,
  // blue 0 → 3 gives 0.75. Each truncates.
  auto icon = MakeFrame(2, 1, 8, [](int x, int) {
    return x == 0 ? Argb{255, 200, 10, 0} : Argb{254, 203, 14, 3};
  });
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 1);
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(icon));
  World out = MakeOutput(5, 1, 8);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  EXPECT_EQ(At(out, 1, 0), (Argb{254, 200, 11, 0}));
  ExpectBalanced(*host);
}

TEST(RenderColor, TransparencyScalesTheIconsColorButNotItsAlpha) {
  const Argb icon{200, 200, 11, 100};
  struct Case {
    int mapping;
    Argb displacement;
    Argb expected;
  };
  // Factor 0.2f: 200 × 0.2f = 40, 11 × 0.2f = 2.2, 100 × 0.2f = 20. Factor
  // 0.8f: 160, 8.8, 80. Black under "Displacement": factor 0.
  for (const Case& c : {Case{TRANSPARENCY_DISPLACEMENT, kFifth8, {200, 40, 2, 20}},
                        Case{TRANSPARENCY_INVERSE_DISPLACEMENT, kFifth8, {200, 160, 8, 80}},
                        Case{TRANSPARENCY_DISPLACEMENT, kBlack8, {200, 0, 0, 0}},
                        Case{TRANSPARENCY_INVERSE_DISPLACEMENT, kBlack8, icon},
                        Case{TRANSPARENCY_CONSTANT, kBlack8, icon}}) {
    SCOPED_TRACE(testing::Message()
                 << "mapping " << c.mapping << " over " << testing::PrintToString(c.displacement));
    auto host = RenderHost();
    host->setInt(PARAM_TRANSPARENCY_MAPPING, c.mapping);
    EXPECT_EQ(CellPixel(*host, 8, icon, c.displacement), c.expected);
  }
}

TEST(RenderColor, TheFactorMultipliesTheTruncatedSample) {
  // 16 bits, brightness 0.5: a red sample of 200.75 truncates to 200, then
  // 200 × 0.5 = 100; green 11 gives 5.5 → 5; alpha 32767.75 → 32767.
  auto icon16 = MakeFrame(2, 1, 16, [](int x, int) {
    return x == 0 ? Argb{32768, 200, 10, 0} : Argb{32767, 203, 14, 3};
  });
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 1);
  host->setInt(PARAM_TRANSPARENCY_MAPPING, TRANSPARENCY_DISPLACEMENT);
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(icon16));
  host->setLayer(PARAM_DISPLACEMENT_LAYER, standin::StillSource(Solid(5, 1, 16, kHalf16)));
  World out16 = MakeOutput(5, 1, 16);
  ASSERT_EQ(host->render(out16), PF_Err_NONE);
  EXPECT_EQ(At(out16, 1, 0), (Argb{32767, 100, 5, 0}));
  ExpectBalanced(*host);

  // 8 bits, factor 0.8f: a sample of 201.75 gives 201 × 0.8f = 160.8 → 160,
  // where scaling before truncating would give 161.4 → 161.
  auto icon8 = MakeFrame(2, 1, 8, [](int x, int) {
    return x == 0 ? Argb{255, 201, 0, 0} : Argb{255, 204, 0, 0};
  });
  host = RenderHost();
  host->setInt(PARAM_UNITS, 1);
  host->setInt(PARAM_TRANSPARENCY_MAPPING, TRANSPARENCY_INVERSE_DISPLACEMENT);
  host->setLayer(PARAM_ICON_LAYER, standin::StillSource(icon8));
  host->setLayer(PARAM_DISPLACEMENT_LAYER, standin::StillSource(Solid(5, 1, 8, kFifth8)));
  World out8 = MakeOutput(5, 1, 8);
  ASSERT_EQ(host->render(out8), PF_Err_NONE);
  EXPECT_EQ(At(out8, 1, 0), (Argb{255, 160, 0, 0}));
  ExpectBalanced(*host);
}

TEST(RenderColor, DisplacementColorMixesColorAByBrightnessAndColorBByTheRest) {
  struct Case {
    const char* name;
    std::optional<Argb> displacement;
    int transparency;
    Argb icon;
    Argb expected;
  };
  // Defaults: Color A (170, 255, 255), Color B (255, 0, 0).
  for (const Case& c : {
           // Brightness 1 (no layer): Color A alone.
           Case{"white", std::nullopt, TRANSPARENCY_CONSTANT, kWhite8, {255, 170, 255, 255}},
           // Brightness 0: Color B alone, or nothing when B fades with it.
           Case{"black", kBlack8, TRANSPARENCY_CONSTANT, kWhite8, {255, 255, 0, 0}},
           Case{"black fading",
                kBlack8,
                TRANSPARENCY_DISPLACEMENT,
                {77, 255, 255, 255},
                {77, 0, 0, 0}},
           // 191 / 765 = 0.2497: 255 × (200/255 × 170/255 × L + 200/255 × (1 − L))
           // = 183.35 in red, 255 × 200/255 × L = 49.93 in green and blue.
           Case{"a quarter",
                Argb{255, 64, 64, 63},
                TRANSPARENCY_CONSTANT,
                {255, 200, 200, 200},
                {255, 183, 49, 49}},
           // Brightness 0.2 with factor 0.2: only B's term fades,
           // 170 × 0.2 + 255 × 0.2 × 0.8 = 74.8 in red, 51 in green.
           Case{"a fifth fading", kFifth8, TRANSPARENCY_DISPLACEMENT, kWhite8, {255, 74, 51, 51}},
           // Factor 0.8: 34 + 255 × 0.8 × 0.8 = 197.2.
           Case{"a fifth inverse",
                kFifth8,
                TRANSPARENCY_INVERSE_DISPLACEMENT,
                kWhite8,
                {255, 197, 51, 51}},
       }) {
    SCOPED_TRACE(c.name);
    auto host = RenderHost();
    host->setInt(PARAM_COLOR_MAPPING, COLOR_DISPLACEMENT);
    host->setInt(PARAM_TRANSPARENCY_MAPPING, c.transparency);
    EXPECT_EQ(CellPixel(*host, 8, c.icon, c.displacement), c.expected);
  }
}

TEST(RenderColor, InverseDisplacementColorExchangesColorAAndColorB) {
  auto host = RenderHost();
  host->setInt(PARAM_COLOR_MAPPING, COLOR_INVERSE_DISPLACEMENT);
  EXPECT_EQ(CellPixel(*host, 8, kWhite8), (Argb{255, 255, 0, 0})) << "white shows Color B";
  host = RenderHost();
  host->setInt(PARAM_COLOR_MAPPING, COLOR_INVERSE_DISPLACEMENT);
  EXPECT_EQ(CellPixel(*host, 8, kWhite8, kBlack8), (Argb{255, 170, 255, 255}))
      << "black shows Color A";
}

TEST(RenderColor, WhiteReproducesEveryEightBitColorComponent) {
  // 255 × (1 × c / 255 × 1) comes back to c exactly for every byte c.
  for (int c = 0; c <= 255; c += 17) {
    auto host = RenderHost();
    host->setInt(PARAM_COLOR_MAPPING, COLOR_DISPLACEMENT);
    host->setColor(PARAM_COLOR_A, Color(static_cast<A_u_char>(c), static_cast<A_u_char>(255 - c),
                                        static_cast<A_u_char>(c / 2)));
    EXPECT_EQ(CellPixel(*host, 8, kWhite8), (Argb{255, c, 255 - c, c / 2})) << c;
  }
}

TEST(RenderColor, SixteenBitsConvertColorComponentsBy32768Over255) {
  // (c × 32768 + 128) / 255: 255 → 32768, 128 → 16448, 1 → 129. White
  // carries the converted component through unchanged.
  auto host = RenderHost();
  host->setInt(PARAM_COLOR_MAPPING, COLOR_DISPLACEMENT);
  host->setColor(PARAM_COLOR_A, Color(255, 128, 1));
  EXPECT_EQ(CellPixel(*host, 16, kWhite16), (Argb{32768, 32768, 16448, 129}));
}

TEST(RenderColor, SixteenBitMixAtHalfBrightness) {
  // A red 255 and B red 0 over a full sample: 32768 × 0.5 = 16384. With the
  // defaults' red, A 170 → 21845 and B 255 → 32768: (21845 + 32768) / 2 =
  // 27306.5 → 27306; green and blue 32768 × 0.5.
  auto host = RenderHost();
  host->setInt(PARAM_COLOR_MAPPING, COLOR_DISPLACEMENT);
  host->setColor(PARAM_COLOR_A, Color(255, 255, 255));
  host->setColor(PARAM_COLOR_B, Color(0, 0, 0));
  EXPECT_EQ(CellPixel(*host, 16, kWhite16, kHalf16), (Argb{32768, 16384, 16384, 16384}));
  host = RenderHost();
  host->setInt(PARAM_COLOR_MAPPING, COLOR_DISPLACEMENT);
  EXPECT_EQ(CellPixel(*host, 16, kWhite16, kHalf16), (Argb{32768, 27306, 16384, 16384}));
}

TEST(RenderColor, SixteenBitValuesAboveFullScaleSaturateInsteadOfWrapping) {
  // A host may hand 16-bit layers holding up to 65535. A displacement layer
  // of 65535 gives a brightness near 2, so the channels come out near twice
  // 65535: they stop at 65535 rather than wrap to small numbers.
  constexpr Argb kOver{65535, 65535, 65535, 65535};
  constexpr Argb kSaturated{65535, 65535, 65535, 65535};
  for (const int color : {COLOR_ICON_LAYER, COLOR_DISPLACEMENT}) {
    SCOPED_TRACE(color);
    auto host = RenderHost();
    host->setInt(PARAM_COLOR_MAPPING, color);
    host->setInt(PARAM_TRANSPARENCY_MAPPING, TRANSPARENCY_DISPLACEMENT);
    host->setColor(PARAM_COLOR_A, Color(255, 255, 255));
    host->setColor(PARAM_COLOR_B, Color(0, 0, 0));
    EXPECT_EQ(CellPixel(*host, 16, kOver, kOver), kSaturated);
  }
}

TEST(RenderColor, ColorMappingValuesOutsideTheListMixWithoutExchanging) {
  // Anything but 1 mixes; only 3 exchanges. White shows Color A.
  for (const int32_t value :
       {0, kColorMappingChoices + 1, -1, std::numeric_limits<int32_t>::max()}) {
    SCOPED_TRACE(value);
    auto host = RenderHost();
    host->setInt(PARAM_COLOR_MAPPING, value);
    EXPECT_EQ(CellPixel(*host, 8, Argb{200, 255, 255, 255}), (Argb{200, 170, 255, 255}));
  }
}

TEST(RenderColor, TransparencyValuesOutsideTheListMeanConstant) {
  // Over black, "Displacement" would clear the colour; "Constant" keeps it.
  for (const int32_t value :
       {0, kTransparencyMappingChoices + 1, -1, std::numeric_limits<int32_t>::min()}) {
    SCOPED_TRACE(value);
    auto host = RenderHost();
    host->setInt(PARAM_TRANSPARENCY_MAPPING, value);
    EXPECT_EQ(CellPixel(*host, 8, Argb{200, 120, 60, 30}, kBlack8), (Argb{200, 120, 60, 30}));
  }
}

}  // namespace
}  // namespace tilvane_test
