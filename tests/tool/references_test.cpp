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

class References : public ToolTest {
 protected:
  // What `oiiotool --info -v` prints about a file.
  std::string info(const std::string& name) const {
    EXPECT_EQ(shell("(oiiotool --info -v " + name + " > info.txt)"), 0) << name;
    return bytes("info.txt");
  }
  // A soft icon with straight colour: alpha falls from 255 to 51 across it,
  // under a colour ramp.
  void writeSoftIcon(const std::string& name) const {
    std::vector<Rgba> soft;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) soft.push_back({255 - x * 12, 40 + y * 13, 200, 255 - x * 13});
    }
    writePng(name, 16, 16, 8, soft);
  }
};

const std::vector<std::string> kOneToOne = {
    "render", "--quiet", "--units", "1", "--displacement-effect", "none"};

std::vector<std::string> OneToOne(std::vector<std::string> extra) {
  std::vector<std::string> args = kOneToOne;
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// The largest difference of two 8-bit images' premultiplied colour, in steps:
// where alpha is small, straight colour is coarse and says little.
double MaxPremultipliedDifference(const Image& a, const Image& b) {
  EXPECT_EQ(a.width * 1000 + a.height, b.width * 1000 + b.height);
  if (a.values.size() != b.values.size() || a.channels != 4 || b.channels != 4) return INFINITY;
  double worst = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      worst = std::max<double>(worst, std::fabs(a.value(x, y, 3) - b.value(x, y, 3)));
      for (int c = 0; c < 3; ++c) {
        worst = std::max<double>(worst, std::fabs(a.value(x, y, c) * a.value(x, y, 3) -
                                                  b.value(x, y, c) * b.value(x, y, 3)) /
                                            255.0);
      }
    }
  }
  return worst;
}

// The fitted layer at the output's size, written to output.
std::vector<std::string> ShowDisplacement(const std::string& layer, const std::string& size,
                                          const std::string& fit, const std::string& output) {
  std::vector<std::string> args = tilvane_test::ShowDisplacement(layer, size, fit);
  args.insert(args.end(), {"--quiet", "-o", output});
  return args;
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

// An EXR holds premultiplied linear light. The soft icon made so by oiiotool
// (its straight colour converted, then multiplied by alpha) renders the frame
// the PNG renders, to within the rounding of half floats and 8-bit output.
// oiiotool's plain --colorconvert would convert the colour it read
// premultiplied without dividing alpha out, which is not the same picture.
TEST_F(References, ASoftExrIconIsPremultipliedLinearLight) {
  writeSoftIcon("soft.png");
  ASSERT_EQ(shell("oiiotool --iconfig oiio:UnassociatedAlpha 1 soft.png --colorconvert sRGB linear "
                  "--premult -d half -o soft.exr"),
            0);
  for (const std::string icon : {"soft.png", "soft.exr"}) {
    const RunResult r = run(OneToOne({"--icon", icon, "-o", icon + ".out.png"}));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  EXPECT_LE(MaxPremultipliedDifference(read("soft.png.out.png"), read("soft.exr.out.png")), 1.0);
}

// The same render written to EXR is premultiplied linear light: divided by
// alpha by oiiotool it is the PNG's straight colour converted to linear.
// Every output is tagged with the space it holds, as oiiotool reads the tag.
TEST_F(References, OutputsArePremultipliedLinearExrAndTaggedWithTheirSpace) {
  writeSoftIcon("soft.png");
  ASSERT_EQ(run(OneToOne({"--depth", "16", "--icon", "soft.png", "-o", "out.exr"})).status, 0);
  ASSERT_EQ(run(OneToOne({"--depth", "16", "--icon", "soft.png", "-o", "out.png"})).status, 0);
  ASSERT_EQ(shell("oiiotool out.exr --unpremult -d float -o exr.exr"), 0);
  ASSERT_EQ(shell("oiiotool --iconfig oiio:UnassociatedAlpha 1 out.png --colorconvert sRGB linear "
                  "-d float -o png.exr"),
            0);
  const Image exr = read("exr.exr");
  const Image png = read("png.exr");
  ASSERT_EQ(exr.values.size(), png.values.size());
  for (size_t i = 0; i < exr.values.size(); ++i) {
    // Half floats carry 11 bits; divided by an alpha of 0.2, five times less.
    EXPECT_NEAR(exr.values[i], png.values[i], 5 * std::ldexp(std::max(png.values[i], 0.01f), -11))
        << "value " << i;
  }

  EXPECT_NE(info("out.exr").find("colorSpace: \"linear\""), std::string::npos) << info("out.exr");
  EXPECT_NE(info("out.png").find("oiio:ColorSpace: \"sRGB\""), std::string::npos);
  // Formats without a tag are written as ever, whatever the space.
  for (const std::string plain : {"lin.tif", "lin.jpg"}) {
    ASSERT_EQ(
        run(OneToOne({"--icon", "soft.png", "--output-colorspace", "linear", "-o", plain})).status,
        0);
    EXPECT_EQ(shell("oiiotool " + plain + " -o " + plain + ".png"), 0) << plain;
  }
  ASSERT_EQ(run(OneToOne({"--icon", "soft.png", "--output-colorspace", "linear", "-o", "lin.png"}))
                .status,
            0);
  EXPECT_NE(info("lin.png").find("oiio:ColorSpace: \"linear\""), std::string::npos)
      << info("lin.png");
  ASSERT_EQ(
      run(OneToOne({"--icon", "soft.png", "--output-colorspace", "sRGB", "-o", "srgb.exr"})).status,
      0);
  EXPECT_NE(info("srgb.exr").find("colorSpace: \"sRGB\""), std::string::npos) << info("srgb.exr");
  // Read back, each tag is honoured: the frame is the one written.
  ASSERT_EQ(run(OneToOne({"--icon", "soft.png", "-o", "out8.png"})).status, 0);
  for (const std::string tagged : {"lin.png", "srgb.exr"}) {
    ASSERT_EQ(run(OneToOne({"--icon", tagged, "-o", tagged + ".back.png"})).status, 0);
    EXPECT_LE(MaxPremultipliedDifference(read(tagged + ".back.png"), read("out8.png")), 3.0)
        << tagged;
  }
}

// Every name `info` lists converts, as input and as output; an empty or
// unknown name is refused with the names that work.
TEST_F(References, EveryListedColourSpaceWorksBothWays) {
  writeSoftIcon("soft.png");
  const std::string listing = run({"info"}).out;
  const size_t heading = listing.find("Colour spaces");
  ASSERT_NE(heading, std::string::npos) << listing;
  const size_t start = listing.find('\n', heading) + 1;
  std::string line = listing.substr(start, listing.find('\n', start) - start);
  line.erase(0, line.find_first_not_of(' '));
  std::vector<std::string> names;
  for (size_t at = 0; at < line.size();) {
    const size_t comma = std::min(line.find(',', at), line.size());
    std::string name = line.substr(at, comma - at);
    name.erase(0, name.find_first_not_of(' '));
    names.push_back(name);
    at = comma + 1;
  }
  ASSERT_GE(names.size(), 3u) << line;
  for (const std::string& name : names) {
    const RunResult r = run(OneToOne({"--icon", "soft.png", "--input-colorspace", name,
                                      "--output-colorspace", name, "-o", "o.exr"}));
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
  }
  for (const std::string bad : {"", "NoSuchSpace"}) {
    for (const std::string option : {"--input-colorspace", "--output-colorspace"}) {
      const RunResult r = run(OneToOne({"--icon", "soft.png", option, bad, "-o", "o.png"}));
      EXPECT_TRUE(OneLineError(r)) << option << " '" << bad << "'";
      EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    }
  }
}

// A movie's display matrix turns it as ffmpeg (autorotate) shows it, for a
// quarter, half and three-quarter turn; another angle is warned about and
// the movie read as stored. Lossless 4:4:4 leaves only the colour matrix.
TEST_F(References, MoviesAreTurnedAsFfmpegShowsThem) {
  ASSERT_EQ(shell("ffmpeg -y -f lavfi -i testsrc=s=32x16:d=0.1 -pix_fmt yuv444p -c:v libx264 "
                  "-qp 0 stored.mp4"),
            0);
  for (const std::string angle : {"90", "180", "270", "45"}) {
    const std::string movie = "turned" + angle + ".mp4";
    ASSERT_EQ(
        shell("ffmpeg -y -i stored.mp4 -c copy -metadata:s:v:0 rotate=" + angle + " " + movie), 0);
    ASSERT_EQ(shell("ffmpeg -y -i " + movie + " -frames:v 1 -pix_fmt rgba ffmpeg" + angle + ".png"),
              0);
    const RunResult r = run(OneToOne({"--icon", movie, "-o", "ours" + angle + ".png"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const Image ours = read("ours" + angle + ".png");
    if (angle == "45") {
      EXPECT_NE(r.err.find("warning: --icon '" + movie + "' asks to be shown turned"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(ours.width * 100 + ours.height, 32 * 100 + 16);
      continue;
    }
    EXPECT_EQ(r.err, "");
    EXPECT_LE(MaxDifference(ours, read("ffmpeg" + angle + ".png")), 2) << angle;
  }
}

// VP9 in WebM keeps its alpha in a side channel the container announces: it
// comes through as libvpx's decoder, run by ffmpeg, gives it.
TEST_F(References, Vp9AlphaInWebmIsKept) {
  ASSERT_EQ(shell("ffmpeg -y -f lavfi -i \"color=c=0xff8000@0.5:s=16x16:d=0.1,format=rgba\" "
                  "-c:v libvpx-vp9 -pix_fmt yuva420p soft.webm"),
            0);
  ASSERT_EQ(shell("ffmpeg -y -c:v libvpx-vp9 -i soft.webm -frames:v 1 -pix_fmt rgba ffmpeg.png"),
            0);
  const RunResult r = run(OneToOne({"--icon", "soft.webm", "-o", "ours.png"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const Image ffmpeg = read("ffmpeg.png");
  EXPECT_NEAR(ffmpeg.at(8, 8).a, 128, 3);
  EXPECT_LE(MaxPremultipliedDifference(read("ours.png"), ffmpeg), 2.0);
}

}  // namespace
}  // namespace tilvane_test
