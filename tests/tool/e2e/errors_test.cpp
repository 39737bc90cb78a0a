// Every failure: one line on standard error naming the input and what to do,
// exit status 2 (1 for an error the effect returns), and no image written.
#include <fstream>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

class Errors : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    writeUniform("icon.png", 4, 4, 8, {255, 255, 255, 255});
    before_ = files();
  }
  // Fails as stated, mentions every fragment, and leaves the directory as it was.
  void expectRefused(const std::vector<std::string>& args,
                     const std::vector<std::string>& fragments, int status = 2) {
    const RunResult r = run(args);
    EXPECT_TRUE(OneLineError(r, status));
    for (const std::string& f : fragments) {
      EXPECT_NE(r.err.find(f), std::string::npos) << "'" << f << "' not in: " << r.err;
    }
    EXPECT_EQ(files(), before_);
  }
  std::vector<std::string> render(std::vector<std::string> extra) {
    std::vector<std::string> args = {"render", "--icon", "icon.png", "-o", "out.png"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  std::vector<std::string> before_;
};

TEST_F(Errors, MissingUnreadableOrEmptyInputs) {
  expectRefused({"render", "--icon", "nope.png", "-o", "out.png"}, {"--icon", "nope.png"});
  std::ofstream(path("junk.png")) << "not an image";
  before_ = files();
  expectRefused({"render", "--displacement", "junk.png", "-o", "out.png"},
                {"--displacement", "junk.png", "cannot be read"});
  expectRefused({"render", "--icon", "seq.####.png", "-o", "out.png"},
                {"--icon", "seq.####.png", "no frames"});
}

TEST_F(Errors, ControlValuesOutsideTheirRangeNameTheRange) {
  expectRefused(render({"--units", "101"}), {"--units", "0 to 100"});
  expectRefused(render({"--units", "many"}), {"--units", "0 to 100"});
  expectRefused(render({"--effect-intensity", "200.5"}), {"--effect-intensity", "0 to 200"});
  expectRefused(render({"--scale-offset", "-101"}), {"--scale-offset", "-100 to 100"});
  expectRefused(render({"--seed", "-1"}), {"--seed", "0 to 32768"});
  expectRefused(render({"--time-mapping", "sideways"}),
                {"--time-mapping", "sideways", "constant, horizontal-units, vertical-units"});
  expectRefused(render({"--color-a", "12345g"}), {"--color-a", "12345g", "RRGGBB"});
  expectRefused(render({"--border-color", "fff"}), {"--border-color", "RRGGBB"});
}

TEST_F(Errors, MalformedRenderOptions) {
  expectRefused(render({"--size", "10by10"}), {"--size", "10by10"});
  expectRefused(render({"--size", "0x10"}), {"--size"});
  expectRefused(render({"--depth", "32"}), {"--depth", "8 or 16"});
  expectRefused(render({"--time-step", "0"}), {"--time-step"});
  expectRefused(render({"--frames", "5-2"}), {"--frames", "5-2"});
  expectRefused(render({"--threads", "0"}), {"--threads"});
  expectRefused(render({"--no-such-option"}), {"--no-such-option"});
  expectRefused(render({"--frame", "1", "--frames", "1-2"}), {"--frame"});
  expectRefused({"render", "--quiet", "-o", "out.png"}, {"--size"});
}

TEST_F(Errors, OutputsThatCannotBeWritten) {
  expectRefused({"render", "--icon", "icon.png", "--frames", "0-2", "-o", "out.png"},
                {"out.png", "####"});
  expectRefused({"render", "--icon", "icon.png", "-o", "icon.png/sub/out.png"},
                {"'icon.png' is not a directory"});
  expectRefused({"render", "--icon", "icon.png", "-o", "out.xyz"}, {"out.xyz", ".png"});
  expectRefused({"render", "--icon", "icon.png"}, {"--output"});
}

TEST_F(Errors, PluginThatCannotBeLoaded) {
  expectRefused({"info", "--plugin", "nowhere.so"}, {"--plugin", "nowhere.so"});
  expectRefused(render({"--plugin", "icon.png", "--units", "3"}), {"--plugin", "icon.png"});
}

TEST_F(Errors, ErrorFromTheEffectCarriesItsCodeAndName) {
  expectRefused(render({"--plugin", TILVANE_FAILING_PLUGIN_PATH}),
                {"error 4", "PF_Err_OUT_OF_MEMORY", "frame 0"}, 1);
}

}  // namespace
}  // namespace tilvane_test
