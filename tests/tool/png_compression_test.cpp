// --png-compression: zlib's level changes the size of a PNG, never its pixels.
#include <filesystem>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class PngCompression : public ToolTest {};

TEST_F(PngCompression, LevelsChangeTheSizeNotThePixels) {
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

}  // namespace
}  // namespace tilvane_test
