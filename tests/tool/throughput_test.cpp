// What the tool does to be fast must not change a pixel: --png-compression
// changes only the size of a PNG, and a worker's reused frame buffer carries
// nothing from one frame into the next.
#include <filesystem>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class Throughput : public ToolTest {};

TEST_F(Throughput, PngCompressionChangesTheSizeNotThePixels) {
  std::vector<Rgba> ramp;
  for (int i = 0; i < 64 * 48; ++i)
    ramp.push_back({(i % 64) * 4, (i / 64) * 5, (i * 7) % 256, 255});
  writePng("ramp.png", 64, 48, 8, ramp);
  const auto render = [&](const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"render",   "--quiet", "--icon", "ramp.png", "--displacement",
                                     "ramp.png", "--units", "3",      "-o",       out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args).status;
  };
  ASSERT_EQ(render("none.png", {"--png-compression", "0"}), 0);
  ASSERT_EQ(render("default.png", {}), 0);
  ASSERT_EQ(render("three.png", {"--png-compression", "3"}), 0);
  ASSERT_EQ(render("best.png", {"--png-compression", "9"}), 0);
  const auto size = [&](const std::string& name) { return std::filesystem::file_size(path(name)); };
  EXPECT_GT(size("none.png"), size("default.png"));
  EXPECT_GE(size("default.png"), size("best.png"));
  EXPECT_EQ(bytes("default.png"), bytes("three.png"));  // the default is level 3
  const Image a = read("none.png");
  EXPECT_EQ(a.values, read("default.png").values);
  EXPECT_EQ(a.values, read("best.png").values);

  const RunResult r =
      run({"render", "--icon", "ramp.png", "--png-compression", "10", "-o", "x.png"});
  EXPECT_TRUE(OneLineError(r));
  EXPECT_NE(
      r.err.find("--png-compression '10' is not valid; give a whole number from 0 (none) to 9"),
      std::string::npos)
      << r.err;
}

// Frame 0 is opaque red everywhere, frame 1 transparent everywhere: rendered
// one after the other in one worker, each equals the frame rendered alone.
TEST_F(Throughput, AReusedFrameBufferHoldsNothingOfTheFrameBefore) {
  writeUniform("icon.0000.png", 8, 6, 8, {255, 0, 0, 255});
  writeUniform("icon.0001.png", 8, 6, 8, {0, 0, 0, 0});
  const std::vector<std::string> base = {
      "render", "--quiet",   "--icon", "icon.####.png", "--units", "1", "--displacement-effect",
      "none",   "--threads", "1"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args).status;
  };
  ASSERT_EQ(with({"--frames", "0-1", "-o", "pair.####.png"}), 0);
  ASSERT_EQ(with({"--frame", "0", "-o", "alone0.png"}), 0);
  ASSERT_EQ(with({"--frame", "1", "-o", "alone1.png"}), 0);
  EXPECT_EQ(read("pair.0000.png").at(4, 3), (Rgba{255, 0, 0, 255}));
  EXPECT_EQ(bytes("pair.0000.png"), bytes("alone0.png"));
  EXPECT_EQ(bytes("pair.0001.png"), bytes("alone1.png"));
  EXPECT_EQ(read("pair.0001.png").at(4, 3), (Rgba{0, 0, 0, 0}));
}

}  // namespace
}  // namespace tilvane_test
