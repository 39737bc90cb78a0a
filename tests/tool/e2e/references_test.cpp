// The tool held against the tools users trust: layers fitted, converted or
// decoded by oiiotool and ffmpeg render the same frames as the tool's own
// fitting, colour handling and decoding.
#include <algorithm>
#include <cmath>
#include <cstdint>
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

// Layers that show a shift of half a pixel wherever they are sampled: checks
// of one pixel, a diagonal ramp, a sawtooth of steep ramps and sharp steps,
// and noise (all opaque grey; noise takes its colour and alpha from seed when
// given one).
std::vector<Rgba> Checker(int w, int h, int full) {
  std::vector<Rgba> pixels;
  for (int i = 0; i < w * h; ++i) {
    const int v = (i % w + i / w) % 2 ? full : full / 8;
    pixels.push_back({v, v, v, full});
  }
  return pixels;
}
std::vector<Rgba> Ramp(int w, int h, int full) {  // brighter to the right and down
  std::vector<Rgba> pixels;
  for (int i = 0; i < w * h; ++i) {
    const int v = ((i % w) * 160 / w + (i / w) * 95 / h) * full / 255;
    pixels.push_back({v, v, v, full});
  }
  return pixels;
}
std::vector<Rgba> Sawtooth(int w, int h, int full) {
  std::vector<Rgba> pixels;
  for (int i = 0; i < w * h; ++i) {
    const int v = ((i % w) * 37 + (i / w) * 23) % 256 * full / 255;
    pixels.push_back({v, v, v, full});
  }
  return pixels;
}
std::vector<Rgba> Noise(int w, int h, int full, unsigned seed = 0) {
  std::vector<Rgba> pixels;
  uint32_t state = 2463534242u + seed;
  const auto next = [&] {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    return static_cast<int>(state % static_cast<uint32_t>(full + 1));
  };
  for (int i = 0; i < w * h; ++i) {
    if (seed == 0) {
      const int v = next();
      pixels.push_back({v, v, v, full});
    } else {
      pixels.push_back({next(), next(), next(), i % 3 ? full : next()});
    }
  }
  return pixels;
}

// Where fill keeps the layer's size and only crops it, oiiotool's resize
// leaves the layer as it is (it does at an image's own size) and the cut is
// the layer's own pixels: so is the tool's, exactly, at 8 and 16 bits, for
// layers wider and taller than the output, sharp and noisy, opaque and not.
TEST_F(References, FillThatOnlyCropsIsTheLayersOwnCentre) {
  writeUniform("icon.png", 8, 8, 8, {255, 255, 255, 255});
  struct Case {
    int w, h;
    std::string size, cut;
  };
  // An odd number of columns or rows is cut: the extra one goes on the right or bottom.
  const Case cases[] = {{41, 20, "20x20", "10,0,29,19"}, {12, 31, "12x16", "0,7,11,22"}};
  for (const int bits : {8, 16}) {
    const int full = bits == 16 ? 65535 : 255;
    for (const Case& c : cases) {
      for (int pattern = 0; pattern < 3; ++pattern) {
        const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h) + " into " +
                                 c.size + " at " + std::to_string(bits) + " bits, pattern " +
                                 std::to_string(pattern);
        writePng("layer.png", c.w, c.h, bits,
                 pattern == 0   ? Checker(c.w, c.h, full)
                 : pattern == 1 ? Noise(c.w, c.h, full)
                                : Noise(c.w, c.h, full, 7));
        // Read as stored: premultiplied and back, soft pixels could move a step.
        ASSERT_EQ(shell("oiiotool --iconfig oiio:UnassociatedAlpha 1 layer.png "
                        "--resize:filter=blackman-harris " +
                        std::to_string(c.w) + "x" + std::to_string(c.h) + " --cut " + c.cut +
                        " -d uint" + std::to_string(bits) + " -o cut.png"),
                  0);
        std::vector<std::string> depth = {"--depth", std::to_string(bits)};
        std::vector<std::string> ours = ShowDisplacement("layer.png", c.size, "fill", "ours.png");
        std::vector<std::string> theirs = ShowDisplacement("cut.png", c.size, "none", "theirs.png");
        ours.insert(ours.end(), depth.begin(), depth.end());
        theirs.insert(theirs.end(), depth.begin(), depth.end());
        ASSERT_EQ(run(ours).status, 0) << what;
        ASSERT_EQ(run(theirs).status, 0) << what;
        const Image a = read("ours.png");
        EXPECT_EQ(a.values, read("theirs.png").values) << what;
        const auto [lowest, highest] = std::minmax_element(a.values.begin(), a.values.end());
        EXPECT_LT(*lowest, *highest) << what;  // the pattern shows
      }
    }
  }
}

// fill scales the layer to cover the output keeping its aspect and crops the
// middle, stretch scales it to the output: the same as oiiotool resizing it
// with the same filter (to the covering size, then cutting the centred
// window). Layers wider, taller and of another shape than the output;
// enlarged by 1.5 (720p in a 1080p output, in miniature), shrunk to less than
// a third (a filter many pixels wide), by ratios that are not whole,
// stretched to another shape (narrower and taller), with a soft edge whose
// transparent side has colour that premultiplied resizing must not spread,
// and from a 16-bit layer. oiiotool's result stays in premultiplied floats
// (an EXR, read unconverted) so that each side rounds once, to the render's
// depth. They may still differ by a step: the two resizes add the same
// products in another order, and at 8 bits the tool resizes colour already
// premultiplied to 8-bit steps, oiiotool from floats, at most half a step
// apart. Every layer has sharp edges or steep ramps, where a fit half a pixel
// off is several steps off.
TEST_F(References, FitIsOiiotoolsResizeAndACentredCut) {
  writeUniform("icon.png", 8, 8, 8, {255, 255, 255, 255});
  // Alpha falls from opaque to clear over three columns, under dark colour
  // that turns bright where alpha is low.
  std::vector<Rgba> soft;
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 20; ++x) {
      const int a = std::clamp(255 - (x - 8) * 85, 0, 255);
      soft.push_back(a > 128 ? Rgba{40 + y * 9, 60, 30, a} : Rgba{250, 240, 255 - y * 5, a});
    }
  }
  writePng("soft.png", 20, 12, 8, soft);
  writePng("wide.png", 48, 16, 8, Ramp(48, 16, 255));
  writePng("high.png", 16, 48, 8, Ramp(16, 48, 255));
  writePng("square.png", 16, 16, 8, Ramp(16, 16, 255));
  writePng("checker.png", 32, 18, 8, Checker(32, 18, 255));
  writePng("saw.png", 23, 17, 8, Sawtooth(23, 17, 255));
  writePng("noise.png", 64, 48, 8, Noise(64, 48, 255));
  writePng("tall.png", 40, 20, 8, Checker(40, 20, 255));
  // 16-bit values the effect's 16-bit scale (0 to 32768) holds exactly, so
  // that the tool and oiiotool start from the same values.
  std::vector<Rgba> deep = Sawtooth(24, 16, 32768);
  for (Rgba& p : deep) {
    for (int* c : {&p.r, &p.g, &p.b, &p.a}) *c = (*c * 65535 + 16384) / 32768;
  }
  writePng("deep.png", 24, 16, 16, deep);

  struct Case {
    std::string layer, size, fit, resize, cut;
    int depth;
  };
  const Case cases[] = {
      {"wide.png", "24x24", "fill", "72x24", "24,0,47,23", 8},     // 1.5, cut across
      {"high.png", "24x24", "fill", "24x72", "0,24,23,47", 8},     // 1.5, cut down
      {"square.png", "32x16", "fill", "32x32", "0,8,31,23", 8},    // 2, into a wide output
      {"checker.png", "48x27", "fill", "48x27", "", 8},            // 1.5 both ways
      {"noise.png", "20x14", "stretch", "20x14", "", 8},           // 0.31 and 0.29
      {"saw.png", "31x31", "fill", "42x31", "5,0,35,30", 8},       // 1.83, cut across
      {"tall.png", "24x36", "stretch", "24x36", "", 8},            // 0.6 across, 1.8 down
      {"soft.png", "36x30", "stretch", "36x30", "", 8},            // 1.8 and 2.5
      {"soft.png", "16x16", "fill", "27x16", "5,0,20,15", 16},     // 1.33, cut across
      {"deep.png", "40x40", "fill", "60x40", "10,0,49,39", 16},    // 2.5, cut across
      {"checker.png", "20x20", "fill", "36x20", "8,0,27,19", 16},  // 1.11, cut across
  };
  for (const Case& c : cases) {
    const std::string what =
        c.layer + " " + c.fit + " into " + c.size + " at " + std::to_string(c.depth) + " bits";
    // Premultiplied in floats: oiiotool's PNG reader would premultiply in the
    // file's integers, truncating.
    ASSERT_EQ(shell("oiiotool --iconfig oiio:UnassociatedAlpha 1 " + c.layer +
                    " --premult --resize:filter=blackman-harris " + c.resize +
                    (c.cut.empty() ? "" : " --cut " + c.cut) + " -d float -o fitted.exr"),
              0)
        << what;
    const std::vector<std::string> options = {"--depth", std::to_string(c.depth),
                                              "--input-colorspace", "raw"};
    std::vector<std::string> ours = ShowDisplacement(c.layer, c.size, c.fit, "ours.png");
    std::vector<std::string> theirs = ShowDisplacement("fitted.exr", c.size, "none", "theirs.png");
    ours.insert(ours.end(), options.begin(), options.end());
    theirs.insert(theirs.end(), options.begin(), options.end());
    const RunResult r = run(ours);
    ASSERT_EQ(r.status, 0) << what << ": " << r.err;
    ASSERT_EQ(run(theirs).status, 0) << what;
    // At 16 bits one of the effect's steps (of 32768) is two of the file's.
    EXPECT_LE(MaxDifference(read("ours.png"), read("theirs.png")), c.depth == 16 ? 2 : 1) << what;
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
TEST_F(References, EveryListedColorSpaceWorksBothWays) {
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
