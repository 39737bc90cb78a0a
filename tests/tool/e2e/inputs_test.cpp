// Inputs as users have them: movies encoded with B-frames or a variable frame
// rate, HDR and wide-gamut movies, broken frames, EXR windows, linear light,
// layers of another size or length than the render, and layers that show
// nothing.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

constexpr int kW = 16;
constexpr int kH = 16;

std::vector<std::string> OneToOne(std::vector<std::string> extra) {
  std::vector<std::string> args = {"render", "--quiet", "--units", "1", "--displacement-effect",
                                   "none"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

std::string Numbered(const char* pattern, int n) {
  char name[64];
  std::snprintf(name, sizeof name, pattern, n);
  return name;
}

double ToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

// The spacing of half floats around v.
float HalfStep(float v) {
  int exponent = 0;
  std::frexp(std::max(std::fabs(v), 6.1035156e-05f), &exponent);  // from 2^-14 down: subnormal
  return std::ldexp(1.0f, exponent - 11);
}

class Inputs : public ToolTest {
 protected:
  // An RGBA float EXR whose data window is x0..x0+w-1, y0..y0+h-1 inside a
  // display window of displayW × displayH at the origin, every data pixel v.
  void writeExr(const std::string& name, int displayW, int displayH, int x0, int y0, int w, int h,
                const float v[4]) const {
    OIIO::ImageSpec spec(w, h, 4, OIIO::TypeDesc::FLOAT);
    spec.x = x0;
    spec.y = y0;
    spec.full_x = spec.full_y = 0;
    spec.full_width = displayW;
    spec.full_height = displayH;
    std::vector<float> data;
    for (int i = 0; i < w * h; ++i) data.insert(data.end(), v, v + 4);
    auto out = OIIO::ImageOutput::create(path(name));
    ASSERT_TRUE(out && out->open(path(name), spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, data.data()));
    ASSERT_TRUE(out->close());
  }
};

// Frame k of the movie is grey 5k; ffmpeg's defaults encode H.264 with
// B-frames, whose last frames only come out when the decoder is drained.
// Grey survives the trip through YUV to within a few steps. (A variable rate
// is held against ffmpeg's fps filter in time_test.cpp.)
TEST_F(Inputs, MoviesReadToTheirLastFrameAndHoldIt) {
  for (int k = 0; k < 48; ++k) {
    writeUniform(Numbered("g.%04d.png", k), kW, kH, 8, {5 * k, 5 * k, 5 * k, 255});
  }
  ASSERT_EQ(shell("ffmpeg -y -framerate 24 -i g.%04d.png -pix_fmt yuv420p bframes.mp4"), 0);
  ASSERT_EQ(shell("ffprobe -v error -select_streams v -show_entries stream=has_b_frames -of csv "
                  "bframes.mp4 | grep -qv ',0'"),
            0)
      << "the test movie has no B-frames";
  // Three threads ask for neighbouring frames a little out of order; the
  // render takes the movie's 24 fps, and a duration beyond the range keeps
  // the effect's icon time from wrapping.
  const RunResult r = run(OneToOne({"--icon", "bframes.mp4", "--frames", "0-50", "--duration",
                                    "300", "--threads", "3", "-o", "m.####.png"}));
  ASSERT_EQ(r.status, 0) << r.err;
  for (int f = 0; f <= 50; ++f) {
    EXPECT_NEAR(read(Numbered("m.%04d.png", f)).at(8, 8).g, 5 * std::min(f, 47), 3)
        << "frame " << f;
  }
}

// 10-bit BT.2020 movies as ffmpeg tags them. PQ and HLG are refused in one
// line naming the file and what it is; BT.2020 with an SDR curve is read with
// one warning. Each message's ffmpeg command makes a copy read without a word.
TEST_F(Inputs, HdrMoviesAreRefusedAndWideGamutOnesWarnedWithACommandThatConverts) {
  struct Tagged {
    const char* transfer;
    const char* said;
    bool refused;
  };
  for (const Tagged t :
       {Tagged{"smpte2084", "is HDR video (PQ transfer, BT.2020 primaries)", true},
        Tagged{"arib-std-b67", "is HDR video (HLG transfer, BT.2020 primaries)", true},
        Tagged{"bt709", "has BT.2020 primaries and is read as BT.709", false}}) {
    const std::string movie = std::string(t.transfer) + ".mp4";
    ASSERT_EQ(shell("ffmpeg -y -f lavfi -i testsrc=s=16x16:r=10:d=0.3 -pix_fmt yuv420p10le "
                    "-c:v libx264 -color_primaries bt2020 -colorspace bt2020nc -color_trc " +
                    std::string(t.transfer) + " " + movie),
              0);
    const RunResult r = run(OneToOne({"--icon", movie, "-o", "out.png"}));
    if (t.refused) {
      EXPECT_TRUE(OneLineError(r)) << movie;
    } else {
      EXPECT_EQ(r.status, 0) << movie << ": " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_NE(r.err.find("'" + movie + "' " + t.said), std::string::npos) << r.err;
    const size_t command = r.err.find("ffmpeg -i ");
    ASSERT_NE(command, std::string::npos) << r.err;
    std::string convert = r.err.substr(command);
    convert.erase(convert.find_last_not_of('\n') + 1);
    ASSERT_EQ(shell("ffmpeg -v error -y" + convert.substr(6)), 0) << convert;
    const RunResult copy = run(OneToOne(
        {"--icon", std::string(t.transfer) + "-bt709.mp4", "--frames", "0-2", "-o", "c.####.png"}));
    EXPECT_EQ(copy.status, 0) << convert << ": " << copy.err;
    EXPECT_EQ(copy.err, "") << convert;
  }
}

// A frame that fails to decode stops the job with one message naming the file;
// the frames before it stay.
TEST_F(Inputs, ABrokenFrameStopsTheJobWithOneMessageAndKeepsFramesWritten) {
  for (int k = 0; k < 3; ++k) writeUniform(Numbered("s.%04d.png", k), kW, kH, 8, {9, 9, 9, 255});
  std::string bytes;
  {
    std::ifstream in(path("s.0002.png"), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const size_t data = bytes.find("IDAT") + 4;
  for (size_t i = data; i < data + 12 && i < bytes.size(); ++i) bytes[i] ^= 0x5A;
  std::ofstream(path("s.0002.png"), std::ios::binary) << bytes;
  const RunResult r = run({"render", "--quiet", "--units", "4", "--threads", "1", "--icon",
                           "s.####.png", "--frames", "0-2", "-o", "o.####.png"});
  EXPECT_TRUE(OneLineError(r)) << r.err;
  EXPECT_NE(r.err.find("'s.0002.png'"), std::string::npos) << r.err;
  std::vector<std::string> outputs;
  for (const std::string& f : files()) {
    if (f.rfind("o.", 0) == 0) outputs.push_back(f);
  }
  EXPECT_EQ(outputs, (std::vector<std::string>{"o.0000.png", "o.0001.png"}));

  // A directory given as a layer gets a message of its own.
  std::filesystem::create_directory(path("frames"));
  const RunResult dir = run(OneToOne({"--icon", "frames", "-o", "d.png"}));
  EXPECT_TRUE(OneLineError(dir));
  EXPECT_NE(dir.err.find("'frames' is a directory"), std::string::npos) << dir.err;
}

// The layer is EXR's display window; the pixels the data window does not cover
// are transparent. Linear 1.0 and 0.0 are themselves in sRGB.
TEST_F(Inputs, ExrDisplayWindowFramesTheLayer) {
  const float white[4] = {1, 1, 1, 1};
  writeExr("icon.exr", kW, kH, 4, 2, 8, 6, white);
  ASSERT_EQ(run(OneToOne({"--icon", "icon.exr", "-o", "out.png"})).status, 0);
  const Image out = read("out.png");
  ASSERT_EQ(out.width * 100 + out.height, kW * 100 + kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= 4 && x < 12 && y >= 2 && y < 8;
      EXPECT_EQ(out.at(x, y).a, inside ? 255 : 0) << x << "," << y;
    }
  }
}

// An 8-bit PNG holds sRGB-encoded values, an EXR linear light: the same render
// written to both agrees, the PNG's values turned linear, within a half-float
// step; and a linear EXR read back renders as the sRGB values it encodes.
TEST_F(Inputs, LinearExrRoundTrip) {
  std::vector<Rgba> ramp;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) ramp.push_back({x * 17, y * 17, 255 - x * 16, 255});
  }
  writePng("icon.png", kW, kH, 8, ramp);
  for (const char* depth : {"8", "16"}) {
    ASSERT_EQ(run(OneToOne({"--depth", depth, "--icon", "icon.png", "-o", "out.png"})).status, 0);
    ASSERT_EQ(run(OneToOne({"--depth", depth, "--icon", "icon.png", "-o", "out.exr"})).status, 0);
    const Image png = read("out.png");
    const Image exr = read("out.exr");
    const double full = png.format == "uint16" ? 65535 : 255;
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        for (int c = 0; c < 3; ++c) {
          const float linear = static_cast<float>(ToLinear(png.value(x, y, c) / full));
          EXPECT_NEAR(exr.value(x, y, c), linear, HalfStep(linear))
              << "depth " << depth << " at " << x << "," << y << " channel " << c;
        }
      }
    }
  }
  // Read back, an 8-bit render's EXR gives the PNG's values again (half floats
  // are finer than 8-bit steps, not than 16-bit ones).
  ASSERT_EQ(run(OneToOne({"--icon", "icon.png", "-o", "out.png"})).status, 0);
  ASSERT_EQ(run(OneToOne({"--icon", "icon.png", "-o", "out.exr"})).status, 0);
  ASSERT_EQ(run(OneToOne({"--icon", "out.exr", "-o", "back.png"})).status, 0);
  EXPECT_EQ(read("back.png").values, read("out.png").values);
  auto in = OIIO::ImageInput::open(path("out.exr"));
  ASSERT_TRUE(in);
  EXPECT_TRUE(OIIO::Strutil::iequals(in->spec().get_string_attribute("oiio:ColorSpace"), "linear"));

  // The conventions give way to the colour spaces asked for, in any case.
  const float grey[4] = {0.5f, 0.5f, 0.5f, 1.0f};
  writeExr("grey.exr", kW, kH, 0, 0, kW, kH, grey);
  ASSERT_EQ(run(OneToOne({"--icon", "grey.exr", "-o", "srgb.png"})).status, 0);
  ASSERT_EQ(
      run(OneToOne({"--icon", "grey.exr", "--input-colorspace", "RAW", "-o", "raw.png"})).status,
      0);
  ASSERT_EQ(run(OneToOne({"--icon", "grey.exr", "--output-colorspace", "Linear", "-o", "lin.png"}))
                .status,
            0);
  EXPECT_EQ(read("srgb.png").at(0, 0).r, 188);  // 0.5 linear is 0.7354 encoded
  EXPECT_EQ(read("raw.png").at(0, 0).r, 128);
  EXPECT_EQ(read("lin.png").at(0, 0).r, 128);
  const RunResult bad =
      run(OneToOne({"--icon", "grey.exr", "--input-colorspace", "ACES", "-o", "x.png"}));
  EXPECT_TRUE(OneLineError(bad));
  EXPECT_NE(bad.err.find("linear"), std::string::npos) << bad.err;
  EXPECT_NE(run({"info"}).out.find("sRGB"), std::string::npos);
}

// Two cells across a 16 × 16 output sample the displacement layer at (2, 2)
// and (9, 9); "Transparency Mapping" scales a white icon's colour by what they
// read. The layer is 2 × 8
// with its top two rows white: at its own size (2, 2) is black; stretched to
// 16 × 16 the white rows cover y 0 to 3; filled, it is scaled by 8 to 16 × 64
// and cropped to its middle rows 3 to 4, which are black.
TEST_F(Inputs, FitDisplacementStretchesOrFills) {
  writeUniform("icon.png", kW, kH, 8, {255, 255, 255, 255});
  std::vector<Rgba> disp(16, Rgba{0, 0, 0, 255});
  for (int i = 0; i < 4; ++i) disp[i] = {255, 255, 255, 255};
  writePng("disp.png", 2, 8, 8, disp);
  const auto redAt = [&](const std::string& fit) {
    const RunResult r =
        run({"render", "--quiet", "--units", "2", "--displacement-effect", "none",
             "--transparency-mapping", "displacement", "--icon", "icon.png", "--displacement",
             "disp.png", "--size", "16x16", "--fit-displacement", fit, "-o", "f.png"});
    EXPECT_EQ(r.status, 0) << r.err;
    return read("f.png").at(3, 3).r;
  };
  EXPECT_EQ(redAt("none"), 0);
  EXPECT_GT(redAt("Stretch"), 200);
  EXPECT_EQ(redAt("fill"), 0);
  // With rows 3 and 4 white instead, the middle that fill keeps is white
  // across the whole output (not letterboxed), and stretch puts them lower.
  disp.assign(16, Rgba{0, 0, 0, 255});
  for (int i = 6; i < 10; ++i) disp[i] = {255, 255, 255, 255};
  writePng("disp.png", 2, 8, 8, disp);
  EXPECT_GT(redAt("fill"), 200);
  EXPECT_LT(redAt("stretch"), 50);
  EXPECT_TRUE(OneLineError(
      run({"render", "--icon", "icon.png", "--fit-displacement", "squash", "-o", "f.png"})));
}

// Three icon frames over seven output frames: held at the end, or repeated.
TEST_F(Inputs, LoopIconRepeatsAShortAnimation) {
  const Rgba colors[3] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
  for (int k = 0; k < 3; ++k) writeUniform(Numbered("i.%04d.png", k), kW, kH, 8, colors[k]);
  for (const bool loop : {false, true}) {
    // A duration beyond the range keeps the effect's icon time from wrapping.
    std::vector<std::string> args = {"--icon",     "i.####.png", "--frames", "0-6",
                                     "--duration", "300",        "-o",       "l.####.png"};
    if (loop) args.push_back("--loop-icon");
    ASSERT_EQ(run(OneToOne(args)).status, 0);
    for (int f = 0; f <= 6; ++f) {
      EXPECT_EQ(read(Numbered("l.%04d.png", f)).at(8, 8), colors[loop ? f % 3 : std::min(f, 2)])
          << (loop ? "looped" : "held") << " frame " << f;
    }
  }
}

TEST_F(Inputs, NoIconOrATransparentOneIsWarnedAbout) {
  writeUniform("disp.png", kW, kH, 8, {255, 255, 255, 255});
  const RunResult none = run({"render", "--quiet", "--displacement", "disp.png", "-o", "a.png"});
  EXPECT_EQ(none.status, 0);
  EXPECT_NE(none.err.find("warning: no --icon layer"), std::string::npos) << none.err;

  writeUniform("clear.png", kW, kH, 8, {255, 255, 255, 0});
  const RunResult clear = run(OneToOne({"--icon", "clear.png", "-o", "b.png"}));
  EXPECT_EQ(clear.status, 0);
  EXPECT_NE(clear.err.find("warning: --icon 'clear.png' is fully transparent"), std::string::npos)
      << clear.err;

  writeUniform("solid.png", kW, kH, 8, {255, 255, 255, 255});
  EXPECT_EQ(run(OneToOne({"--icon", "solid.png", "-o", "c.png"})).err, "");

  // Settings with which the effect draws nothing are warned about once; the
  // frame stays the transparent one it renders.
  writeUniform("thin.png", 1, kH, 8, {255, 255, 255, 255});
  const RunResult thin = run(OneToOne({"--icon", "thin.png", "--size", "16x16", "-o", "d.png"}));
  EXPECT_EQ(thin.status, 0);
  EXPECT_NE(thin.err.find("warning: --icon 'thin.png' is 1 pixel wide"), std::string::npos)
      << thin.err;
  EXPECT_EQ(std::count(thin.err.begin(), thin.err.end(), '\n'), 1) << thin.err;
  EXPECT_EQ(read("d.png").at(8, 8).a, 0);
  const RunResult none0 =
      run({"render", "--quiet", "--units", "0", "--icon", "solid.png", "-o", "e.png"});
  EXPECT_EQ(none0.status, 0);
  EXPECT_NE(none0.err.find("warning: --units 0 makes no cells"), std::string::npos) << none0.err;
  EXPECT_EQ(std::count(none0.err.begin(), none0.err.end(), '\n'), 1) << none0.err;
  EXPECT_EQ(read("e.png").at(8, 8).a, 0);
}

}  // namespace
}  // namespace tilvane_test
