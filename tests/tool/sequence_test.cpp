// Sequences, movies, frame ranges, the time-to-frame rule and threads.
#include <OpenImageIO/imageio.h>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

constexpr int kW = 8;
constexpr int kH = 6;
const Rgba kRed{255, 0, 0, 255};
const Rgba kGreen{0, 255, 0, 255};
const Rgba kBlue{0, 0, 255, 255};

std::vector<std::string> Args(std::vector<std::string> extra) {
  std::vector<std::string> args = {"render", "--quiet", "--units", "1", "--displacement-effect",
                                   "none"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

class Sequences : public ToolTest {
 protected:
  // What each output frame shows, read at one pixel.
  std::vector<Rgba> shown(const std::string& pattern, int first, int last) {
    std::vector<Rgba> colors;
    for (int f = first; f <= last; ++f) {
      char name[64];
      std::snprintf(name, sizeof name, pattern.c_str(), f);
      colors.push_back(read(name).at(3, 2));
    }
    return colors;
  }
};

// File N is frame N: before the first file the first shows, a missing number
// holds the frame before it, and past the last file the last holds, each with
// a warning. A duration beyond the range keeps the effect's
// icon time from wrapping.
TEST_F(Sequences, FileNIsFrameNHeldAtGapsAndTheEnds) {
  writeUniform("icon.0005.png", kW, kH, 8, kRed);
  writeUniform("icon.0006.png", kW, kH, 8, kGreen);
  writeUniform("icon.0009.png", kW, kH, 8, kBlue);
  const RunResult r = run(Args(
      {"--icon", "icon.####.png", "--frames", "4-10", "--duration", "300", "-o", "out.####.png"}));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "tilvane: warning: --icon 'icon.####.png': frames 7-8 are missing; each shows the "
            "frame before it\n"
            "tilvane: warning: --icon 'icon.####.png' starts at frame 5; frame 4 shows its first "
            "picture\n"
            "tilvane: warning: --icon 'icon.####.png' ends at frame 9; frame 10 shows its last "
            "picture\n");
  EXPECT_EQ(shown("out.%04d.png", 4, 10),
            (std::vector<Rgba>{kRed, kRed, kGreen, kGreen, kGreen, kBlue, kBlue}));
  // Only the outputs were added: no temporary file is left behind.
  EXPECT_EQ(files(),
            (std::vector<std::string>{
                "icon.0005.png", "icon.0006.png", "icon.0009.png", "out.0004.png", "out.0005.png",
                "out.0006.png", "out.0007.png", "out.0008.png", "out.0009.png", "out.0010.png"}));
}

TEST_F(Sequences, PrintfPatternsInAndOut) {
  writeUniform("in.0001.png", kW, kH, 8, kRed);
  writeUniform("in.0002.png", kW, kH, 8, kGreen);
  ASSERT_EQ(run(Args({"--icon", "in.%04d.png", "--frames", "1-2", "-o", "o.%04d.png"})).status, 0);
  EXPECT_EQ(shown("o.%04d.png", 1, 2), (std::vector<Rgba>{kRed, kGreen}));
  // A single frame with a pattern in the output name is numbered too.
  ASSERT_EQ(run(Args({"--icon", "in.%04d.png", "--frame", "7", "--duration", "300", "-o",
                      "single.####.png"}))
                .status,
            0);
  EXPECT_EQ(read("single.0007.png").at(0, 0), kGreen);
}

// Host time t shows frame floor(t / step). At frame F the time is F * step; a
// white displacement under "Displacement" time mapping asks for the icon at
// time 1 (the total time wrapped at total - 1), which is frame 1 with a step
// of 1 and still frame 0 with a step of 2.
TEST_F(Sequences, TimeStepsMapHostTimeToLayerFrames) {
  writeUniform("icon.0000.png", kW, kH, 8, kRed);
  writeUniform("icon.0001.png", kW, kH, 8, kGreen);
  writeUniform("icon.0002.png", kW, kH, 8, kBlue);
  writeUniform("white.png", kW, kH, 8, {255, 255, 255, 255});
  ASSERT_EQ(run(Args({"--icon", "icon.####.png", "--time-step", "3", "--frames", "0-3", "-o",
                      "s.####.png"}))
                .status,
            0);
  EXPECT_EQ(shown("s.%04d.png", 0, 3), (std::vector<Rgba>{kRed, kGreen, kBlue, kBlue}));

  for (const auto& [step, expected] : {std::pair{"1", kGreen}, std::pair{"2", kRed}}) {
    ASSERT_EQ(run(Args({"--icon", "icon.####.png", "--displacement", "white.png", "--time-mapping",
                        "displacement", "--duration", "10", "--time-step", step, "-o", "d.png"}))
                  .status,
              0);
    EXPECT_EQ(read("d.png").at(3, 2), expected) << "time step " << step;
  }
}

TEST_F(Sequences, MovieFramesAreLayerFrames) {
  OIIO::ImageSpec spec(kW, kH, 3, OIIO::TypeDesc::UINT8);
  std::vector<OIIO::ImageSpec> specs(3, spec);
  auto out = OIIO::ImageOutput::create(path("icon.gif"));
  ASSERT_TRUE(out && out->open(path("icon.gif"), 3, specs.data()));
  for (int f = 0; f < 3; ++f) {
    const Rgba c = f == 0 ? kRed : f == 1 ? kGreen : kBlue;
    std::vector<uint8_t> data;
    for (int i = 0; i < kW * kH; ++i) {
      for (int v : {c.r, c.g, c.b}) data.push_back(static_cast<uint8_t>(v));
    }
    if (f > 0) {
      ASSERT_TRUE(out->open(path("icon.gif"), spec, OIIO::ImageOutput::AppendSubimage));
    }
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, data.data()));
  }
  ASSERT_TRUE(out->close());
  ASSERT_EQ(
      run(Args({"--icon", "icon.gif", "--frames", "0-3", "--duration", "300", "-o", "m.####.png"}))
          .status,
      0);
  EXPECT_EQ(shown("m.%04d.png", 0, 3), (std::vector<Rgba>{kRed, kGreen, kBlue, kBlue}));
}

// A frame thread the system refuses (a preloaded shim lets only the first
// thread start) is reported, and every frame is still rendered.
TEST_F(Sequences, FrameThreadsThatCannotStartAreReportedAndTheFramesStillRendered) {
  writeUniform("icon.png", 4, 4, 8, kRed);
  const RunResult r =
      runWithFault("thread", Args({"--icon", "icon.png", "--frames", "0-5", "--threads", "3",
                                   "--size", "16x16", "-o", "t.####.png"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: could start only"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("lower --threads"), std::string::npos) << r.err;
  EXPECT_EQ(shown("t.%04d.png", 0, 5), std::vector<Rgba>(6, kRed));
}

TEST_F(Sequences, OutputIsIdenticalForOneAndManyThreads) {
  std::vector<Rgba> icon;
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 16; ++x) icon.push_back({x * 16, y * 20, 255 - x * 10, (x + y) * 9 + 30});
  }
  writePng("icon.0000.png", 16, 12, 8, icon);
  for (Rgba& p : icon) p.r = 255 - p.r;
  writePng("icon.0001.png", 16, 12, 8, icon);
  std::vector<Rgba> disp;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) disp.push_back({x * 6, y * 8, (x * y) % 256, 255});
  }
  writePng("disp.png", 40, 30, 8, disp);
  const std::vector<std::string> scene = {
      "render",         "--quiet",  "--icon",         "icon.####.png",
      "--displacement", "disp.png", "--units",        "5",
      "--time-offset",  "50",       "--time-mapping", "horizontal-units",
      "--duration",     "4",        "--frames",       "0-5"};
  auto with = [&](const char* threads, const char* out) {
    auto args = scene;
    args.insert(args.end(), {"--threads", threads, "-o", out});
    return args;
  };
  ASSERT_EQ(run(with("1", "one.####.png")).status, 0);
  ASSERT_EQ(run(with("3", "three.####.png")).status, 0);
  for (int f = 0; f <= 5; ++f) {
    char a[32], b[32];
    std::snprintf(a, sizeof a, "one.%04d.png", f);
    std::snprintf(b, sizeof b, "three.%04d.png", f);
    EXPECT_EQ(bytes(a), bytes(b)) << "frame " << f;
  }
}

}  // namespace
}  // namespace tilvane_test
