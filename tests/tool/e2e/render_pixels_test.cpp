// Exact pixels of renders worked out by hand. One cell whose icon is the size
// of the output, turned by nothing ("none", no offsets), reads the icon one to
// one: the cell scale is 1 and window pixel (x, y) reads icon pixel (x, y).
#include <OpenImageIO/half.h>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

constexpr int kW = 8;
constexpr int kH = 6;

std::vector<Rgba> Ramp(int bits) {
  std::vector<Rgba> pixels;
  const int full = bits == 16 ? 65535 : 255;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      pixels.push_back(
          {full * x / (kW - 1), full * y / (kH - 1), full - full * x / (kW - 1), full});
    }
  }
  return pixels;
}

// A render of one unit, turned by nothing.
std::vector<std::string> OneToOne(const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"render", "--quiet", "--units", "1", "--displacement-effect",
                                   "none"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

class RenderPixels : public ToolTest {};

TEST_F(RenderPixels, OneUnitGridReadsAnOpaqueIconOneToOne) {
  writePng("icon.png", kW, kH, 8, Ramp(8));
  ASSERT_EQ(run(OneToOne({"--icon", "icon.png", "-o", "out.png"})).status, 0);
  const Image out = read("out.png");
  ASSERT_EQ(out.format, "uint8");
  ASSERT_EQ(out.width, kW);
  ASSERT_EQ(out.height, kH);
  const auto ramp = Ramp(8);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) EXPECT_EQ(out.at(x, y), ramp[size_t(y) * kW + x]) << x << "," << y;
  }
}

TEST_F(RenderPixels, BorderLinesTheTopRowLeftColumnAndLastColumn) {
  writePng("icon.png", kW, kH, 8, Ramp(8));
  ASSERT_EQ(
      run(OneToOne({"--icon", "icon.png", "--border", "--border-color", "102030", "-o", "out.png"}))
          .status,
      0);
  const Image out = read("out.png");
  const auto ramp = Ramp(8);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const bool border = x == 0 || y == 0 || x == kW - 1;
      EXPECT_EQ(out.at(x, y), (border ? Rgba{16, 32, 48, 255} : ramp[size_t(y) * kW + x]))
          << x << "," << y;
    }
  }
}

// Colour mapping over a uniform displacement layer: black gives luminance 0
// and the mix is Color B alone, white gives 1 and Color A alone; "inverse"
// swaps the two. Components of 0 and 255 keep the double arithmetic exact.
TEST_F(RenderPixels, ColorMappingPicksColorAOrBByBrightness) {
  writeUniform("icon.png", kW, kH, 8, {255, 255, 255, 255});
  writeUniform("black.png", kW, kH, 8, {0, 0, 0, 255});
  writeUniform("white.png", kW, kH, 8, {255, 255, 255, 255});
  struct Case {
    const char* displacement;
    const char* mapping;
    Rgba expected;
  } cases[] = {
      {"black.png", "displacement", {0, 255, 0, 255}},
      {"white.png", "displacement", {255, 0, 255, 255}},
      {"black.png", "inverse-displacement", {255, 0, 255, 255}},
      {"white.png", "inverse-displacement", {0, 255, 0, 255}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(
        run(OneToOne({"--icon", "icon.png", "--displacement", c.displacement, "--color-mapping",
                      c.mapping, "--color-a", "ff00ff", "--color-b", "00ff00", "-o", "out.png"}))
            .status,
        0);
    const Image out = read("out.png");
    EXPECT_EQ(out.at(3, 2), c.expected) << c.displacement << " " << c.mapping;
    EXPECT_EQ(out.at(kW - 1, kH - 1), c.expected) << c.displacement << " " << c.mapping;
  }
  // Transparency following a black displacement clears the colour, not the alpha.
  ASSERT_EQ(run(OneToOne({"--icon", "icon.png", "--displacement", "black.png",
                          "--transparency-mapping", "displacement", "-o", "out.png"}))
                .status,
            0);
  EXPECT_EQ(read("out.png").at(3, 2), (Rgba{0, 0, 0, 255}));
}

// At 16 bits a mid-grey layer gives luminance 0.5 exactly: 16-bit file value
// 32768 is effect value 16384. Red 255 of Color A then yields 16384, written
// to the file as 32768.
TEST_F(RenderPixels, SixteenBitColorMixAtHalfBrightness) {
  writeUniform("icon.png", kW, kH, 16, {65535, 65535, 65535, 65535});
  writeUniform("grey.png", kW, kH, 16, {32768, 32768, 32768, 65535});
  ASSERT_EQ(run(OneToOne({"--depth", "16", "--icon", "icon.png", "--displacement", "grey.png",
                          "--color-mapping", "displacement", "--color-a", "ff0000", "--color-b",
                          "000000", "-o", "out.png"}))
                .status,
            0);
  const Image out = read("out.png");
  ASSERT_EQ(out.format, "uint16");
  EXPECT_EQ(out.at(2, 2), (Rgba{32768, 0, 0, 65535}));
}

// 16-bit file values pass through the effect scale: p -> (p*32768+32767)/65535
// -> (v*65535+16384)/32768: 40000 -> 20000 -> 39999. Values a 16-bit render
// writes (32768 -> 16384 -> 32768) come back unchanged; others move to a neighbour.
TEST_F(RenderPixels, SixteenBitFileValuesRoundTrip) {
  const std::vector<std::pair<int, int>> cases = {
      {0, 0}, {1, 2}, {2, 2}, {3, 4}, {32768, 32768}, {40000, 39999}, {65535, 65535}};
  std::vector<Rgba> pixels(size_t(kW) * kH, Rgba{0, 0, 0, 65535});
  for (size_t i = 0; i < cases.size(); ++i) pixels[i].r = cases[i].first;
  writePng("icon.png", kW, kH, 16, pixels);
  ASSERT_EQ(run(OneToOne({"--depth", "16", "--icon", "icon.png", "-o", "out.png"})).status, 0);
  const Image out = read("out.png");
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(out.at(int(i), 0).r, cases[i].second) << "file value " << cases[i].first;
  }
}

// An 8-bit file rendered at 16 bits: c -> (c*32768+128)/255 -> (v*65535+16384)/32768;
// 128 becomes 16448 and then 32895, 1 becomes 129 and then 258.
TEST_F(RenderPixels, EightBitFileRenderedAtSixteenBits) {
  writeUniform("icon.png", kW, kH, 8, {128, 255, 1, 255});
  ASSERT_EQ(run(OneToOne({"--depth", "16", "--icon", "icon.png", "-o", "out.png"})).status, 0);
  EXPECT_EQ(read("out.png").at(1, 1), (Rgba{32895, 65535, 258, 65535}));
}

// Straight (200, 100, 50) at alpha 128 is premultiplied on reading to
// (200*128+127)/255 = 100, 50 and 25; a raw EXR keeps those over 255, PNG
// divides them again: (100*255+64)/128 = 199, then 100 and 50.
TEST_F(RenderPixels, HalfTransparentPixelIsPremultipliedOnReadingAndNotInExr) {
  writeUniform("icon.png", kW, kH, 8, {200, 100, 50, 128});
  ASSERT_EQ(run(OneToOne({"--icon", "icon.png", "-o", "out.png"})).status, 0);
  EXPECT_EQ(read("out.png").at(4, 3), (Rgba{199, 100, 50, 128}));

  ASSERT_EQ(
      run(OneToOne({"--icon", "icon.png", "--output-colorspace", "raw", "-o", "out.exr"})).status,
      0);
  const Image exr = read("out.exr");
  ASSERT_EQ(exr.format, "half");
  const float expected[4] = {100, 50, 25, 128};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(exr.value(4, 3, c), float(half(expected[c] / 255.0f))) << "channel " << c;
  }
}

TEST_F(RenderPixels, SixteenBitExrHoldsValuesOverFullScale32768) {
  writeUniform("icon.png", kW, kH, 8, {128, 255, 0, 255});
  ASSERT_EQ(run(OneToOne({"--depth", "16", "--icon", "icon.png", "--output-colorspace", "raw", "-o",
                          "out.exr"}))
                .status,
            0);
  const Image exr = read("out.exr");
  EXPECT_EQ(exr.value(0, 0, 0), 16448.0f / 32768.0f);  // exact in half
  EXPECT_EQ(exr.value(0, 0, 1), 1.0f);
  EXPECT_EQ(exr.value(0, 0, 3), 1.0f);
}

TEST_F(RenderPixels, OutputSizeFollowsTheDisplacementLayerElseTheIcon) {
  writeUniform("icon.png", 5, 4, 8, {255, 0, 0, 255});
  writeUniform("disp.png", 7, 3, 8, {0, 0, 0, 255});
  ASSERT_EQ(run({"render", "--quiet", "--icon", "icon.png", "-o", "a.png"}).status, 0);
  ASSERT_EQ(
      run({"render", "--quiet", "--icon", "icon.png", "--displacement", "disp.png", "-o", "b.png"})
          .status,
      0);
  ASSERT_EQ(run({"render", "--quiet", "--icon", "icon.png", "--size", "9x2", "-o", "c.png"}).status,
            0);
  EXPECT_EQ(read("a.png").width * 100 + read("a.png").height, 504);
  EXPECT_EQ(read("b.png").width * 100 + read("b.png").height, 703);
  EXPECT_EQ(read("c.png").width * 100 + read("c.png").height, 902);
}

}  // namespace
}  // namespace tilvane_test
