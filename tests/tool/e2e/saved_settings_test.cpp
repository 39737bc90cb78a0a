// Settings files: what --save-settings writes renders the same frame again,
// a bad file is refused naming the key, and the command line wins over it.
#include <fstream>
#include <sstream>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

namespace fs = std::filesystem;

class Settings : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    std::vector<Rgba> icon, ramp;
    for (int i = 0; i < 64; ++i) {
      const int x = i % 8, y = i / 8;
      icon.push_back(x > 1 && x < 6 && y > 1 && y < 6 ? Rgba{240, 120, 20, 255} : Rgba{0, 0, 0, 0});
    }
    for (int i = 0; i < 40 * 30; ++i) ramp.push_back({(i % 40) * 6, 0, 0, 255});
    writePng("icon.png", 8, 8, 8, icon);
    writePng("ramp.png", 40, 30, 8, ramp);
  }
  void writeText(const std::string& name, const std::string& text) const {
    std::ofstream(path(name)) << text;
  }
  std::string readText(const std::string& name) const {
    std::ifstream in(path(name));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // A render with controls away from their defaults.
  static std::vector<std::string> Look(std::vector<std::string> extra) {
    // clang-format off
    std::vector<std::string> args = {
        "render", "--quiet", "--icon", "icon.png", "--displacement", "ramp.png",
        "--units", "5", "--effect-intensity", "37.25", "--border",
        "--color-mapping", "displacement", "--color-a", "123456",
        "--time-step", "2", "--depth", "16"};
    // clang-format on
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
};

// The file alone renders the same bytes, and it holds every control with the
// versions that made it.
TEST_F(Settings, ASavedFileRendersTheIdenticalFrame) {
  ASSERT_EQ(run(Look({"--frame", "3", "-o", "out.png", "--save-settings", "look.json"})).status, 0);
  fs::rename(path("out.png"), path("first.png"));
  const RunResult r = run({"render", "--quiet", "--settings", "look.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(bytes("out.png"), bytes("first.png"));
  EXPECT_EQ(r.err, "");  // the same effect version: no warning

  const std::string text = readText("look.json");
  for (const std::string key :
       {"\"tool\": \"tilvane ", "\"version\": \"", "\"units\": 5", "\"effect-intensity\": 37.25",
        "\"border\": true", "\"color-a\": \"123456\"", "\"color-mapping\": \"displacement\"",
        "\"time-step\": 2", "\"time-scale\": 60", "\"duration\": 300", "\"depth\": 16",
        "\"frame\": 3", "\"size\": \"40x30\"", "\"seed\": 12345", "\"time-mapping\": \"constant\"",
        "\"output-colorspace\": null"}) {
    EXPECT_NE(text.find(key), std::string::npos) << key << " in\n" << text;
  }
}

// A value saved, read back and saved again comes out as it went in: the
// second file equals the first, and holds the value as given. Each row sets
// one value a careless reading or writing would lose.
struct RoundTrip {
  std::vector<std::string> args;
  std::string saved;  // in both files
};

void PrintTo(const RoundTrip& r, std::ostream* os) {
  for (const std::string& a : r.args) *os << a << " ";
  *os << "saves " << r.saved;
}

class SettingsRoundTrip : public Settings, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(SettingsRoundTrip, ASavedValueReadsBackAsItWasGiven) {
  std::vector<std::string> first = {"render", "--quiet", "--icon", "icon.png",        "--size",
                                    "8x6",    "-o",      "a.png",  "--save-settings", "first.json"};
  first.insert(first.end(), GetParam().args.begin(), GetParam().args.end());
  ASSERT_EQ(run(first).status, 0);
  const RunResult r = run({"render", "--quiet", "--settings", "first.json", "-o", "b.png",
                           "--save-settings", "second.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = readText("second.json");
  EXPECT_NE(text.find(GetParam().saved), std::string::npos) << GetParam().saved << " in\n" << text;
  // Only the output differs.
  std::string expected = readText("first.json");
  expected.replace(expected.find("\"a.png\""), 7, "\"b.png\"");
  EXPECT_EQ(text, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsRoundTrip,
    ::testing::Values(
        // Every digit of a fraction, not six.
        RoundTrip{{"--effect-intensity", "37.123456789"}, "\"effect-intensity\": 37.123456789"},
        // A flag left off stays off.
        RoundTrip{{}, "\"loop-icon\": false"}, RoundTrip{{"--loop-icon"}, "\"loop-icon\": true"},
        RoundTrip{{"--no-border"}, "\"border\": false"},
        // The last item of each popup is an item like the others.
        RoundTrip{{"--displacement-effect", "none"}, "\"displacement-effect\": \"none\""},
        RoundTrip{{"--time-mapping", "inverse-displacement"},
                  "\"time-mapping\": \"inverse-displacement\""},
        RoundTrip{{"--transparency-mapping", "inverse-displacement"},
                  "\"transparency-mapping\": \"inverse-displacement\""},
        // The duration in frames, whatever the time step.
        RoundTrip{{"--time-step", "2", "--duration", "40"}, "\"duration\": 40"},
        RoundTrip{{"--time-step", "3"}, "\"duration\": 300"}));

// Options on the command line override the file, checkboxes and the frame
// choice included.
TEST_F(Settings, TheCommandLineOverridesTheFile) {
  ASSERT_EQ(run(Look({"--frame", "3", "-o", "unused.png", "--save-settings", "look.json"})).status,
            0);
  ASSERT_EQ(
      run(Look({"--units", "9", "--no-border", "--frames", "1-2", "-o", "direct.####.png"})).status,
      0);
  const RunResult r = run({"render", "--quiet", "--settings", "look.json", "--units", "9",
                           "--no-border", "--frames", "1-2", "-o", "over.####.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(bytes("over.0001.png"), bytes("direct.0001.png"));
  EXPECT_EQ(bytes("over.0002.png"), bytes("direct.0002.png"));
}

// Each refusal is one line naming the file and the key, with the nearest name
// or the valid values.
TEST_F(Settings, BadFilesAreRefusedNamingTheKey) {
  const auto refused = [&](const std::string& json, const std::string& words) {
    writeText("bad.json", json);
    const RunResult r = run({"render", "--settings", "bad.json", "-o", "out.png"});
    EXPECT_TRUE(OneLineError(r)) << json;
    EXPECT_NE(r.err.find("--settings 'bad.json'"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(words), std::string::npos) << json << "\n" << r.err;
  };
  refused(R"({"controls": {"unitz": 5}})", "unknown key controls.unitz (did you mean units?)");
  refused(R"({"render": {"fit-displacment": "fill"}})",
          "unknown key render.fit-displacment (did you mean fit-displacement?)");
  refused(R"({"render": {"units": 5}})", "render.units is a control; put it under \"controls\"");
  refused(R"({"rendr": {}})", "unknown key 'rendr' (did you mean render?)");
  refused(R"({"controls": {"units": 500}})",
          "key controls.units: --units 500 is out of range; give a whole number from 0 to 100");
  refused(R"({"controls": {"border": "yes"}})",
          "key controls.border: \"yes\" is not true or false");
  refused(R"({"render": {"depth": 12}})",
          "key render.depth: --depth '12' is not valid; give 8 or 16");
  refused(R"({"controls": {"color-mapping": "displacment"}})",
          "key controls.color-mapping: --color-mapping 'displacment' is not a choice (did you mean "
          "displacement?)");
  refused(R"({"render": )", "is not valid JSON (parse error at line 1");
  // Nothing rendered.
  EXPECT_EQ(files(), (std::vector<std::string>{"bad.json", "icon.png", "ramp.png"}));

  // Another effect version is worth a word, not a refusal.
  writeText("old.json", R"({"effect": {"version": "0.9.0"}, "controls": {"units": 2}})");
  const RunResult r =
      run({"render", "--quiet", "--settings", "old.json", "--icon", "icon.png", "-o", "old.png"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("was saved with the effect at version 0.9.0; this one is "),
            std::string::npos)
      << r.err;
}

// A look describes the picture and the job, not the container: a movie's
// file renders a sequence and a sequence's a movie, and the movie's settings
// are kept only when they were set.
TEST_F(Settings, ALookRendersAMovieOrASequence) {
  ASSERT_EQ(run(Look({"--frames", "0-1", "-o", "a.mp4", "--codec", "h264", "--quality", "60",
                      "--save-settings", "movie.json"}))
                .status,
            0);
  RunResult r = run({"render", "--quiet", "--settings", "movie.json", "-o", "seq.####.png",
                     "--save-settings", "again.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(path("seq.0001.png")));
  // Still the movie's, for the next movie.
  EXPECT_NE(readText("again.json").find("\"codec\": \"h264\""), std::string::npos);
  EXPECT_NE(readText("again.json").find("\"quality\": 60"), std::string::npos);

  ASSERT_EQ(
      run(Look({"--frames", "0-1", "-o", "s.####.png", "--save-settings", "seq.json"})).status, 0);
  EXPECT_EQ(readText("seq.json").find("codec"), std::string::npos);
  EXPECT_EQ(readText("seq.json").find("quality"), std::string::npos);
  r = run({"render", "--quiet", "--settings", "seq.json", "-o", "b.mov"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(path("b.mov")));
  // On the command line, a movie's option for images is still a mistake.
  r = run({"render", "--quiet", "--settings", "seq.json", "--codec", "h264"});
  EXPECT_NE(r.err.find("--codec applies to movies only"), std::string::npos) << r.err;
}

// File names in a settings file are the file's own, relative to where it
// lies, so that a look and its layers move together.
TEST_F(Settings, FileNamesAreReadFromTheSettingsFilesDirectory) {
  fs::create_directories(path("looks/layers"));
  fs::copy_file(path("icon.png"), path("looks/layers/icon.png"));
  ASSERT_EQ(run({"render", "--quiet", "--icon", "looks/layers/icon.png", "--displacement",
                 "ramp.png", "-o", "first.png", "--save-settings", "looks/look.json"})
                .status,
            0);
  const std::string text = readText("looks/look.json");
  EXPECT_NE(text.find("\"icon\": \"layers/icon.png\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"displacement\": \"../ramp.png\""), std::string::npos) << text;
  fs::remove(path("icon.png"));  // only the look's own copy is left to read
  fs::rename(path("first.png"), path("kept.png"));
  const RunResult r = run({"render", "--quiet", "--settings", "looks/look.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(bytes("first.png"), bytes("kept.png"));
}

}  // namespace
}  // namespace tilvane_test
