// Where frames freeze: a range, or a layer's rate, that puts output frames
// before a plate's first file shows that file on each of them, as a range
// past the end shows the last; each is said, naming the layer and the
// frames, and a render whose every frame shows one picture of a layer says so.
#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class FrozenFrames : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    writeUniform("white.png", 16, 16, 8, {255, 255, 255, 255});
    for (int n = 1001; n <= 1010; ++n) {
      writeUniform("plate." + std::to_string(n) + ".png", 4, 4, 8, {(n - 1000) * 20, 0, 0, 255});
    }
  }
  RunResult render(std::vector<std::string> extra) const {
    std::vector<std::string> args = {
        "render", "--icon", "white.png", "--units", "1", "--displacement-effect", "none"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }
};

TEST_F(FrozenFrames, ARangeBeforeAPlatesFirstFileWarnsAndTheSummarySaysEveryFrameIsOnePicture) {
  const RunResult before =
      render({"--displacement", "plate.####.png", "--frames", "990-1000", "-o", "before.####.png"});
  ASSERT_EQ(before.status, 0) << before.err;
  EXPECT_NE(before.err.find("tilvane: warning: --displacement 'plate.####.png' starts at frame "
                            "1001; frames 990-1000 show its first picture\n"),
            std::string::npos)
      << before.err;
  EXPECT_NE(before.err.find("tilvane: every frame shows the same picture of --displacement "
                            "'plate.####.png' (frame 1001 of 1001-1010)\n"),
            std::string::npos)
      << before.err;

  // Partly before: those frames are named, and the frames differ.
  const RunResult partly = render({"--quiet", "--displacement", "plate.####.png", "--frames",
                                   "1000-1002", "-o", "partly.####.png"});
  ASSERT_EQ(partly.status, 0) << partly.err;
  EXPECT_EQ(partly.err,
            "tilvane: warning: --displacement 'plate.####.png' starts at frame 1001; frame 1000 "
            "shows its first picture\n");

  // The icon's plate is named the same way.
  const RunResult icon = run({"render", "--quiet", "--icon", "plate.####.png", "--frames",
                              "998-1001", "-o", "icon.####.png"});
  ASSERT_EQ(icon.status, 0) << icon.err;
  EXPECT_EQ(icon.err,
            "tilvane: warning: --icon 'plate.####.png' starts at frame 1001; frames 998-1000 show "
            "its first picture\n");
}

// At 12 in a 24 fps render, file 1001 is reached at frame 2002: frames
// 1001-1010, the plate's own numbers, all come before it.
TEST_F(FrozenFrames, ALayerRateThatPutsTheRangeBeforeThePlateWarns) {
  const RunResult slow = render({"--displacement", "plate.####.png", "--displacement-rate", "12",
                                 "--rate", "24", "--frames", "1001-1010", "-o", "slow.####.png"});
  ASSERT_EQ(slow.status, 0) << slow.err;
  EXPECT_NE(slow.err.find("tilvane: warning: --displacement 'plate.####.png' starts at frame "
                          "2002; frames 1001-1010 show its first picture\n"),
            std::string::npos)
      << slow.err;
  EXPECT_NE(slow.err.find("every frame shows the same picture of --displacement"),
            std::string::npos)
      << slow.err;
  for (int n = 1002; n <= 1010; ++n) {
    EXPECT_EQ(bytes("slow." + std::to_string(n) + ".png"), bytes("slow.1001.png")) << n;
  }

  // Without a range, the plate's own span at that rate: every frame a file, no note.
  const RunResult whole = render({"--displacement", "plate.####.png", "--displacement-rate", "12",
                                  "--rate", "24", "-o", "whole.####.png"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(whole.err.find("warning"), std::string::npos) << whole.err;
  EXPECT_EQ(whole.err.find("every frame shows"), std::string::npos) << whole.err;
  EXPECT_NE(whole.err.find("frames 2002-2021"), std::string::npos) << whole.err;
}

// The icon is judged by the pictures the effect took, each cell at its own
// time: before the plate every frame shows its first file, and the summary
// says so; cells spread across the icon's time (horizontal units, each column
// a frame later) reach later files from the same frames, and it does not.
TEST_F(FrozenFrames, AnIconThatShowsOnePictureOnEveryFrameIsSaidAsTheCellsTookIt) {
  const RunResult before =
      run({"render", "--icon", "plate.####.png", "--frames", "990-1000", "-o", "before.####.png"});
  ASSERT_EQ(before.status, 0) << before.err;
  EXPECT_NE(before.err.find("tilvane: every frame shows the same picture of --icon "
                            "'plate.####.png' (frame 1001 of 1001-1010)\n"),
            std::string::npos)
      << before.err;

  const RunResult spread =
      run({"render", "--icon", "plate.####.png", "--units", "4", "--time-mapping",
           "horizontal-units", "--frames", "999-1000", "-o", "spread.####.png"});
  ASSERT_EQ(spread.status, 0) << spread.err;
  EXPECT_NE(spread.err.find("frames 999-1000 show its first picture"), std::string::npos)
      << spread.err;
  EXPECT_EQ(spread.err.find("every frame shows"), std::string::npos) << spread.err;

  // Within the plate each frame shows its own file.
  const RunResult within =
      run({"render", "--icon", "plate.####.png", "--frames", "1001-1003", "-o", "within.####.png"});
  ASSERT_EQ(within.status, 0) << within.err;
  EXPECT_EQ(within.err.find("every frame shows"), std::string::npos) << within.err;
}

// Past the end, every frame showing the last file is said too.
TEST_F(FrozenFrames, ARangePastThePlatesEndSaysEveryFrameIsItsLastPicture) {
  const RunResult past =
      render({"--displacement", "plate.####.png", "--frames", "1020-1022", "-o", "past.####.png"});
  ASSERT_EQ(past.status, 0) << past.err;
  EXPECT_NE(past.err.find("ends at frame 1010; frames 1020-1022 show its last picture"),
            std::string::npos)
      << past.err;
  EXPECT_NE(past.err.find("every frame shows the same picture of --displacement "
                          "'plate.####.png' (frame 1010 of 1001-1010)"),
            std::string::npos)
      << past.err;
}

}  // namespace
}  // namespace tilvane_test
