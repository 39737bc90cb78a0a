// The tool held against the tools users trust: layers fitted, converted or
// decoded by oiiotool and ffmpeg render the same frames as the tool's own
// fitting, colour handling and decoding.
#include <algorithm>
#include <cmath>
#include <string>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

// The largest difference between two images' values, which must have the
// same shape.
float MaxDifference(const Image& a, const Image& b) {
  EXPECT_EQ(a.width * 1000 + a.height, b.width * 1000 + b.height);
  EXPECT_EQ(a.channels, b.channels);
  if (a.values.size() != b.values.size()) return INFINITY;
  float worst = 0;
  for (size_t i = 0; i < a.values.size(); ++i) {
    worst = std::max(worst, std::fabs(a.values[i] - b.values[i]));
  }
  return worst;
}

using References = ToolTest;

// Each one-pixel cell takes its colour from the displacement layer's
// brightness at its centre, black to white: the output shows the fitted layer.
std::vector<std::string> ShowDisplacement(const std::string& layer, const std::string& size,
                                          const std::string& fit, const std::string& output) {
  return {"render",
          "--quiet",
          "--icon",
          "icon.png",
          "--displacement",
          layer,
          "--size",
          size,
          "--units",
          size.substr(0, size.find('x')),
          "--displacement-effect",
          "none",
          "--color-mapping",
          "displacement",
          "--color-a",
          "000000",
          "--color-b",
          "ffffff",
          "--fit-displacement",
          fit,
          "-o",
          output};
}

// fill scales the layer to cover the output keeping its aspect and crops the
// middle: the same as oiiotool resizing it to the covering size and cutting
// the centred window, for layers wider, taller and of another shape than the
// output.
TEST_F(References, FillIsAResizeToCoverAndACentredCut) {
  writeUniform("icon.png", 8, 8, 8, {255, 255, 255, 255});
  struct Case {
    int w, h;
    std::string size, resize, cut;
  };
  const Case cases[] = {
      {48, 16, "24x24", "72x24", "24,0,47,23"},  // wider: scaled by 1.5
      {16, 48, "24x24", "24x72", "0,24,23,47"},  // taller
      {16, 16, "32x16", "32x32", "0,8,31,23"},   // square into a wide output
      {40, 20, "20x20", "40x20", "10,0,29,19"},  // wider, not scaled
  };
  for (const Case& c : cases) {
    // A diagonal ramp, brighter to the right and down, shows any shift.
    std::vector<Rgba> ramp;
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < c.w; ++x) {
        const int v = (x * 160 / c.w) + (y * 95 / c.h);
        ramp.push_back({v, v, v, 255});
      }
    }
    writePng("layer.png", c.w, c.h, 8, ramp);
    ASSERT_EQ(shell("oiiotool layer.png --resize:filter=blackman-harris " + c.resize + " --cut " +
                    c.cut + " -o fitted.png"),
              0);
    const RunResult ours = run(ShowDisplacement("layer.png", c.size, "fill", "ours.png"));
    ASSERT_EQ(ours.status, 0) << ours.err;
    const RunResult theirs = run(ShowDisplacement("fitted.png", c.size, "none", "theirs.png"));
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    EXPECT_LE(MaxDifference(read("ours.png"), read("theirs.png")), 2)
        << c.w << "x" << c.h << " filled into " << c.size;
  }
}

}  // namespace
}  // namespace tilvane_test
