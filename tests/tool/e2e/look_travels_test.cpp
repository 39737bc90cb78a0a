// A look saved from one render and reused on other media: the values the
// render derived from its layers (size, rate, range, duration, depth) come
// from the new layers, the values the user chose stay, the command line still
// wins, and the summary names where each came from.
#include <fstream>
#include <sstream>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

namespace fs = std::filesystem;

class LookTravels : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // A 64x36 movie at 25 fps, ten frames, and a 32x18 plate numbered from 1001.
    ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=64x36:r=25:d=0.4 -pix_fmt yuv420p "
                    "movie.mp4"),
              0);
    for (int n = 1001; n <= 1006; ++n) {
      writeUniform("plate." + std::to_string(n) + ".png", 32, 18, 8,
                   {static_cast<uint8_t>(40 * (n - 1000)), 90, 30, 255});
    }
    writeUniform("icon.png", 4, 4, 8, {255, 255, 255, 255});
  }
  std::string readText(const std::string& name) const {
    std::ifstream in(path(name));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The summary's account of the frames: "frames 1001-1006 at 30 fps (rate: ...)".
  static std::string Account(const RunResult& r) {
    const size_t rate = r.err.find(" (rate: ");
    if (rate == std::string::npos) return r.err;
    const size_t at =
        r.err.rfind('\n', rate) == std::string::npos ? 0 : r.err.rfind('\n', rate) + 1;
    return r.err.substr(at, r.err.find('\n', at) - at);
  }
};

TEST_F(LookTravels, AMovieLookTakesThePlatesSizeRateAndRange) {
  RunResult r = run({"render", "--quiet", "--icon", "icon.png", "--displacement", "movie.mp4",
                     "--units", "4", "-o", "first.mov", "--save-settings", "look.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string look = readText("look.json");
  // What was used is kept, to read; what was derived is marked so.
  for (const char* saved : {"\"size\": \"64x36\"", "\"rate\": \"25\"", "\"units\": 4"}) {
    EXPECT_NE(look.find(saved), std::string::npos) << saved << " in\n" << look;
  }
  const size_t derived = look.find("\"derived\": [");
  ASSERT_NE(derived, std::string::npos) << look;
  const std::string marks = look.substr(derived, look.find(']', derived) - derived);
  for (const char* key : {"\"size\"", "\"rate\"", "\"duration\"", "\"depth\""}) {
    EXPECT_NE(marks.find(key), std::string::npos) << key << " in " << marks;
  }

  r = run({"render", "--settings", "look.json", "--displacement", "plate.####.png", "-o",
           "plate.out.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Account(r),
            "tilvane: frames 1001-1006 at 30 fps (rate: the default; range: the length of "
            "--displacement 'plate.####.png')");
  const Image frame = read("plate.out.1001.png");
  EXPECT_EQ(frame.width, 32);
  EXPECT_EQ(frame.height, 18);
  EXPECT_TRUE(fs::exists(path("plate.out.1006.png")));
  EXPECT_FALSE(fs::exists(path("plate.out.1007.png")));

  // The same look on a movie of its own rate and size.
  ASSERT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=48x28:r=50:d=0.1 -pix_fmt yuv420p "
                  "fast.mp4"),
            0);
  r = run({"render", "--settings", "look.json", "--displacement", "fast.mp4", "-o", "f.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Account(r),
            "tilvane: frames 0-4 at 50 fps (rate: --displacement 'fast.mp4'; range: the length "
            "of --displacement 'fast.mp4')");
  EXPECT_EQ(read("f.0000.png").width, 48);
}

TEST_F(LookTravels, WhatTheUserChoseStaysAndTheCommandLineStillWins) {
  RunResult r = run({"render", "--quiet", "--icon", "icon.png", "--displacement", "movie.mp4",
                     "--rate", "12", "--size", "20x10", "--frames", "2-3", "-o", "a.####.png",
                     "--save-settings", "chosen.json"});
  ASSERT_EQ(r.status, 0) << r.err;

  r = run({"render", "--settings", "chosen.json", "--displacement", "plate.####.png", "-o",
           "b.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Account(r),
            "tilvane: frames 2-3 at 12 fps (rate: --settings 'chosen.json'; range: --settings "
            "'chosen.json')");
  EXPECT_EQ(read("b.0002.png").width, 20);

  r = run({"render", "--settings", "chosen.json", "--displacement", "plate.####.png", "--rate",
           "50", "--frames", "1001-1002", "-o", "c.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Account(r), "tilvane: frames 1001-1002 at 50 fps (rate: --rate; range: --frames)");
  EXPECT_EQ(read("c.1001.png").height, 10);
}

// A file saved before the marks were written pins every value it holds, as it
// did then: a stored project renders what it rendered.
TEST_F(LookTravels, AFileWithoutMarksPinsEveryValue) {
  std::ofstream(path("old.json"))
      << R"({"render": {"displacement": "movie.mp4", "size": "64x36", "rate": "25"}})";
  const RunResult r = run({"render", "--settings", "old.json", "--displacement", "plate.####.png",
                           "-o", "old.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Account(r),
            "tilvane: frames 1001-1006 at 25 fps (rate: --settings 'old.json'; range: the length "
            "of --displacement 'plate.####.png')");
  EXPECT_EQ(read("old.1001.png").width, 64);
}

}  // namespace
}  // namespace tilvane_test
