// The command line as people expect it: suggestions for misspelt names,
// choices in any case, the last repeated option winning, and a plain message
// when memory runs out.
#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class CommandLine : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // An icon that shows its turn and scale: red on the left, clear on the right.
    std::vector<Rgba> icon;
    for (int i = 0; i < 64; ++i)
      icon.push_back(i % 8 < 4 ? Rgba{255, 0, 0, 255} : Rgba{0, 0, 0, 0});
    writePng("icon.png", 8, 8, 8, icon);
    std::vector<Rgba> ramp;
    for (int i = 0; i < 32 * 16; ++i) ramp.push_back({i % 32 * 8, i % 32 * 8, i % 32 * 8, 255});
    writePng("ramp.png", 32, 16, 8, ramp);
  }
  // The bytes rendered with these options.
  std::string rendered(std::vector<std::string> options) {
    std::vector<std::string> args = {"render",   "--quiet", "--icon", "icon.png", "--displacement",
                                     "ramp.png", "--units", "4",      "-o",       "out.png"};
    args.insert(args.end(), options.begin(), options.end());
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return bytes("out.png");
  }
};

TEST_F(CommandLine, MisspeltNamesGetTheNearestOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"render", "--unit", "5", "-o", "o.png"}, "unknown option '--unit' (did you mean --units?)"},
      {{"render", "--bordr", "-o", "o.png"}, "(did you mean --border?)"},
      {{"render", "--no-bordr", "-o", "o.png"}, "(did you mean --no-border?)"},
      {{"render", "--rotation", "5", "-o", "o.png"}, "(did you mean --rotation-offset?)"},
      {{"rendr", "-o", "o.png"}, "unknown command 'rendr' (did you mean render?)"},
      {{"info", "--plugn", "x.so"}, "(did you mean --plugin?)"},
      {{"render", "--time-mapping", "horizontal", "-o", "o.png"},
       "'horizontal' is not a choice (did you mean horizontal-units?)"},
      {{"render", "--displacement-effect", "rotaton", "-o", "o.png"},
       "'rotaton' is not a choice (did you mean rotation?)"},
  };
  for (const auto& [args, expected] : cases) {
    const RunResult r = run(args);
    EXPECT_TRUE(OneLineError(r)) << args[1];
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    // Where to look: the help for a name, the choices for a value.
    EXPECT_NE(r.err.find(expected.find("choice") == std::string::npos ? "--help" : "use one of"),
              std::string::npos)
        << r.err;
  }
  // Nothing near: no guess, and no command at all says what to give.
  const RunResult far = run({"render", "--xyzzy-plugh", "-o", "o.png"});
  EXPECT_TRUE(OneLineError(far));
  EXPECT_EQ(far.err.find("did you mean"), std::string::npos) << far.err;
  const RunResult none = run({});
  EXPECT_TRUE(OneLineError(none));
  EXPECT_NE(none.err.find("give a command: info, demo, render or farm"), std::string::npos)
      << none.err;
  EXPECT_EQ(files(), (std::vector<std::string>{"icon.png", "ramp.png"}));
}

// What people bring from other tools: ffmpeg's options are answered with
// ours, a one-letter option gets no guess (every one is a letter from -h), an
// output format is refused by its name even with a range, "help COMMAND"
// helps, and a TILVANE_THREADS the plug-in could not read is refused.
TEST_F(CommandLine, HabitsFromOtherToolsGetAPlainAnswer) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"render", "-y", "-o", "o.png"}, "'-y'; outputs are replaced unless -n/--no-overwrite"},
      {{"render", "-i", "icon.png", "-o", "o.png"}, "'-i'; give the layers with --icon and"},
      {{"render", "-r", "25", "-o", "o.png"}, "'-r'; give the rate with --rate (frames a second"},
      {{"render", "-t", "2", "-o", "o.png"}, "'-t'; give the frames with --frames A-B"},
      {{"render", "-v", "-o", "o.png"}, "unknown option '-v'; see 'tilvane render --help'"},
      {{"render", "-o", "o.avi", "--frames", "0-1"},
       "-o 'o.avi': tilvane does not write .avi files; end the name with .png"},
      {{"render", "-o", "o.m4v"}, "tilvane does not write .m4v files"},
      {{"render", "-o", "out"}, "-o 'out': no extension to say the format"},
  };
  for (const auto& [args, expected] : cases) {
    const RunResult r = run(args);
    EXPECT_TRUE(OneLineError(r)) << args[1];
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("did you mean"), std::string::npos) << r.err;
  }
  const RunResult help = run({"help", "render"});
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out, run({"render", "--help"}).out);
  {
    const ScopedEnv threads("TILVANE_THREADS", "abc");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"render", "--icon", "icon.png", "-o", "o.png"},
          std::vector<std::string>{"demo", "-o", "demo"}}) {
      const RunResult r = run(args);
      EXPECT_TRUE(OneLineError(r)) << args[0];
      EXPECT_NE(r.err.find("TILVANE_THREADS 'abc' is not valid; give the threads of each frame"),
                std::string::npos)
          << r.err;
    }
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"icon.png", "ramp.png"}));
}

TEST_F(CommandLine, ChoicesIgnoreCaseAndTakeTheNamesInfoPrints) {
  const std::string scale = rendered({"--displacement-effect", "scale"});
  EXPECT_NE(scale, rendered({"--displacement-effect", "rotation"}));
  EXPECT_EQ(rendered({"--displacement-effect", "Scale"}), scale);
  EXPECT_EQ(rendered({"--displacement-effect", "SCALE"}), scale);
  const std::string mapped = rendered({"--color-mapping", "inverse-displacement"});
  EXPECT_NE(mapped, rendered({}));
  EXPECT_EQ(rendered({"--color-mapping", "Inverse Displacement"}), mapped);
  EXPECT_EQ(rendered({"--color-mapping", "INVERSE-displacement"}), mapped);
  // The extension of the output too.
  ASSERT_EQ(run({"render", "--quiet", "--icon", "icon.png", "-o", "LOUD.PNG"}).status, 0);
  EXPECT_EQ(read("LOUD.PNG").width, 8);
}

TEST_F(CommandLine, TheLastOfARepeatedOptionWins) {
  const std::string plain = rendered({});
  const std::string bordered = rendered({"--border"});
  EXPECT_NE(plain, bordered);
  EXPECT_EQ(rendered({"--border", "--no-border"}), plain);
  EXPECT_EQ(rendered({"--border", "--border", "--no-border"}), plain);
  EXPECT_EQ(rendered({"--no-border", "--border"}), bordered);
  // The scene already gives --units 4.
  EXPECT_NE(rendered({"--units", "3"}), plain);
  EXPECT_EQ(rendered({"--units", "3", "--units", "4"}), plain);
  EXPECT_NE(rendered({"--effect-intensity", "5"}), plain);
  EXPECT_EQ(rendered({"--effect-intensity", "5", "--effect-intensity", "100"}), plain);
  std::filesystem::remove(path("out.png"));
  ASSERT_EQ(run({"render", "--quiet", "--icon", "icon.png", "-o", "a.png", "-o", "b.png"}).status,
            0);
  EXPECT_EQ(files(), (std::vector<std::string>{"b.png", "icon.png", "ramp.png"}));
}

TEST_F(CommandLine, RunningOutOfMemorySaysWhatDidNotFit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#else
  // 30000 x 30000 pixels at 8 bytes: 7.2 GB against a 1 GB address space.
  const RunResult r = runUnderLimit(
      "-v 1000000",
      {"render", "--icon", "icon.png", "--size", "30000x30000", "--depth", "16", "-o", "big.png"});
  EXPECT_TRUE(OneLineError(r));
  EXPECT_NE(r.err.find("not enough memory for a 30000x30000 frame at 16 bits per channel (7.2 GB)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(files(), (std::vector<std::string>{"icon.png", "ramp.png"}));
#endif
}

}  // namespace
}  // namespace tilvane_test
