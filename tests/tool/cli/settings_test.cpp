// Settings files read into command-line words and written from a render's
// values, against the controls the built plug-in registers.
#include "tools/tilvane/cli/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/job/render_job.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    plugin_ = new standin::PluginLibrary(TILVANE_PLUGIN_PATH);
    host_ = SetUpHost(*plugin_).release();
  }
  static void TearDownTestSuite() {
    delete host_;
    delete plugin_;
  }
  void SetUp() override {
    char tmpl[] = "/tmp/tilvane-settings-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<ControlOption> Controls() { return ControlOptions(host_->registered()); }
  // The words a file holding `json` adds, with `given` on the command line.
  LoadedSettings load(const std::string& json, const std::vector<std::string>& given = {}) const {
    const std::string file = (dir_ / "s.json").string();
    std::ofstream(file) << json;
    return LoadSettings(file, Controls(), given, "");
  }
  std::string saved(const SettingsRecord& record) const {
    const std::string file = (dir_ / "saved.json").string();
    record.save(file, "tool", "effect", "1");
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
  static inline standin::PluginLibrary* plugin_ = nullptr;
  static inline standin::Host* host_ = nullptr;
};

struct Read {
  std::string json;
  std::vector<std::string> given;  // on the command line
  std::vector<std::string> words;  // the file adds
};

void PrintTo(const Read& r, std::ostream* os) { *os << r.json; }

class SettingsWords : public SettingsFile, public ::testing::WithParamInterface<Read> {};

TEST_P(SettingsWords, AFileBecomesTheWordsOfTheOptionsItSets) {
  EXPECT_EQ(load(GetParam().json, GetParam().given).args, GetParam().words) << GetParam().json;
}

using Words = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    Files, SettingsWords,
    ::testing::Values(
        Read{R"({"render": {"depth": 16, "icon": "a.png"}})",
             {},
             {"--depth", "16", "--icon", "a.png"}},
        // A flag is given when true, left out when false; a checkbox either way.
        Read{R"({"render": {"loop-icon": true}})", {}, {"--loop-icon"}},
        Read{R"({"render": {"loop-icon": false}})", {}, {}},
        Read{R"({"controls": {"border": false}})", {}, {"--no-border"}},
        Read{R"({"controls": {"border": true}})", {}, {"--border"}},
        // null is the default: no word at all.
        Read{R"({"render": {"quality": null, "icon": null}})", {}, {}},
        // A fraction keeps every digit; a whole number none.
        Read{R"({"controls": {"effect-intensity": 37.123456789}})",
             {},
             {"--effect-intensity", "37.123456789000002"}},
        Read{R"({"controls": {"effect-intensity": 0.1}})",
             {},
             {"--effect-intensity", "0.10000000000000001"}},
        Read{R"({"controls": {"units": 12}})", {}, {"--units", "12"}},
        // The command line wins, under any of its names.
        Read{R"({"render": {"output": "f.png", "depth": 8}})", Words{"-o"}, {"--depth", "8"}},
        Read{R"({"render": {"frame": 3}})", Words{"--frames"}, {}},
        Read{R"({"render": {"frames": "1-2"}})", Words{"--frame"}, {}},
        Read{R"({"controls": {"border": true}})", Words{"--no-border"}, {}},
        Read{R"({"controls": {"units": 4, "seed": 9}})", Words{"--units"}, {"--seed", "9"}}));

TEST_F(SettingsFile, AMessageAboutAnOptionTheFileSetNamesTheKey) {
  const LoadedSettings loaded = load(R"({"controls": {"units": 500}, "render": {"depth": 12}})");
  const std::string file = "--settings " + Quoted((dir_ / "s.json").string());
  EXPECT_EQ(loaded.explain("--units 500 is out of range"),
            file + ", key controls.units: --units 500 is out of range");
  EXPECT_EQ(loaded.explain("--depth '12' is not valid"),
            file + ", key render.depth: --depth '12' is not valid");
  // Messages about other options, or none, pass unchanged.
  EXPECT_EQ(loaded.explain("--seed 1 is out of range"), "--seed 1 is out of range");
  EXPECT_EQ(loaded.explain("no output size"), "no output size");
}

TEST_F(SettingsFile, ValuesOfTheWrongTypeAreRefusedEvenWhenOverridden) {
  for (const char* json : {R"({"render": {"depth": "16"}})", R"({"render": {"loop-icon": 1}})",
                           R"({"controls": {"units": "4"}})"}) {
    EXPECT_THROW(load(json, {"--depth", "--loop-icon", "--units"}), UsageError) << json;
  }
}

// Every control is written: the value given, else its default, popups by
// the name of their item, the first and the last alike.
TEST_F(SettingsFile, EveryControlIsSavedAsItsOptionTakesIt) {
  const std::vector<ControlOption> options = Controls();
  const auto option = [&](const std::string& flag) {
    return *std::find_if(options.begin(), options.end(),
                         [&](const ControlOption& c) { return c.flag == flag; });
  };
  std::vector<ControlValue> values;
  for (const auto& [flag, item] :
       {std::pair{"--displacement-effect", 4}, std::pair{"--time-mapping", 5},
        std::pair{"--color-mapping", 1}}) {
    values.push_back({option(flag).index, PF_Param_POPUP, item});
  }
  values.push_back({option("--effect-intensity").index, PF_Param_FLOAT_SLIDER, 0, 37.123456789});
  SettingsRecord record;
  record.controls(options, values);
  const std::string text = saved(record);
  for (const char* line :
       {"\"displacement-effect\": \"none\"", "\"time-mapping\": \"inverse-displacement\"",
        "\"color-mapping\": \"icon-layer\"", "\"transparency-mapping\": \"constant\"",
        "\"effect-intensity\": 37.123456789", "\"units\": 8", "\"border\": false",
        "\"border-color\": \"808080\""}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
}

}  // namespace
}  // namespace tilvane_tool
