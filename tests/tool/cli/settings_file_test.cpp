// Settings files read into the options and controls, and written from a
// render's values, against the controls the built plug-in registers.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/tilvane/cli/settings.h"
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

  // What a file holding `json` sets, as "--option value" in the order of the
  // options' names, with `commandLine` given too (through the real parse, so
  // that an option counts as given under any of its names).
  struct Loaded {
    LoadedSettings settings;
    std::vector<std::string> set{};
  };
  Loaded load(const std::string& json, std::vector<std::string> commandLine = {}) const {
    const std::string file = (dir_ / "s.json").string();
    std::ofstream(file) << json;
    RenderArgs args;
    std::vector<ControlOption> controls = Controls();
    CLI::App render;
    AddRenderOptions(render, args);
    AddControlOptions(render, controls);
    commandLine.insert(commandLine.begin(), "render");
    std::vector<char*> argv;
    for (std::string& word : commandLine) argv.push_back(word.data());
    render.parse(static_cast<int>(argv.size()), argv.data());
    Loaded loaded{LoadSettings(
        file, args, controls, [&](const std::string& flag) { return render.count(flag) > 0; }, "")};
    for (const auto& [flag, key] : loaded.settings.keys) {
      loaded.set.push_back(flag + " " + ValueOf(flag, args, controls));
    }
    return loaded;
  }
  static std::string ValueOf(const std::string& flag, const RenderArgs& args,
                             const std::vector<ControlOption>& controls) {
    if (const RenderOption* o = FindRenderOption(flag.substr(2))) {
      if (const auto* text = std::get_if<std::string RenderArgs::*>(&o->slot)) return args.**text;
      if (const auto* text = std::get_if<std::optional<std::string> RenderArgs::*>(&o->slot)) {
        return (args.**text).value_or("(none)");
      }
      return args.*std::get<bool RenderArgs::*>(o->slot) ? "true" : "false";
    }
    for (const ControlOption& c : controls) {
      if (c.flag != flag) continue;
      if (c.param.def.param_type == PF_Param_CHECKBOX) return c.checked ? "true" : "false";
      return c.text;
    }
    return "(no such option)";
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
  std::vector<std::string> commandLine;
  std::vector<std::string> set;  // by the file
};

void PrintTo(const Read& r, std::ostream* os) { *os << r.json; }

class SettingsValues : public SettingsFile, public ::testing::WithParamInterface<Read> {};

TEST_P(SettingsValues, AFileSetsTheOptionsTheCommandLineLeftOut) {
  EXPECT_EQ(load(GetParam().json, GetParam().commandLine).set, GetParam().set) << GetParam().json;
}

using Words = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    Files, SettingsValues,
    ::testing::Values(
        // An absolute file name stays as it is.
        Read{R"({"render": {"depth": 16, "icon": "/layers/a.png"}})",
             {},
             {"--depth 16", "--icon /layers/a.png"}},
        // A flag is set either way, a checkbox too.
        Read{R"({"render": {"loop-icon": true}})", {}, {"--loop-icon true"}},
        Read{R"({"render": {"loop-icon": false}})", {}, {"--loop-icon false"}},
        Read{R"({"controls": {"border": false}})", {}, {"--border false"}},
        Read{R"({"controls": {"border": true}})", {}, {"--border true"}},
        // null is the default: nothing set.
        Read{R"({"render": {"quality": null, "icon": null}})", {}, {}},
        Read{R"({"render": {"output-colorspace": "linear"}})", {}, {"--output-colorspace linear"}},
        // A fraction keeps every digit; a whole number none.
        Read{R"({"controls": {"effect-intensity": 37.123456789}})",
             {},
             {"--effect-intensity 37.123456789000002"}},
        Read{R"({"controls": {"effect-intensity": 0.1}})",
             {},
             {"--effect-intensity 0.10000000000000001"}},
        Read{R"({"controls": {"units": 12}})", {}, {"--units 12"}},
        // The command line wins, under any of its names.
        Read{R"({"render": {"output": "f.png", "depth": 8}})", Words{"-o", "x.png"}, {"--depth 8"}},
        Read{R"({"render": {"frame": 3}})", Words{"--frames", "1-2"}, {}},
        Read{R"({"render": {"frames": "1-2"}})", Words{"--frame", "1"}, {}},
        // Both frame keys are moot when the command line picks the frames.
        Read{R"({"render": {"frame": 2, "frames": "1-2"}})", Words{"--frame", "1"}, {}},
        Read{R"({"render": {"frame": null, "frames": "1-2"}})", {}, {"--frames 1-2"}},
        Read{R"({"controls": {"border": true}})", Words{"--no-border"}, {}},
        Read{R"({"controls": {"units": 4, "seed": 9}})", Words{"--units", "5"}, {"--seed 9"}}));

TEST_F(SettingsFile, BothFrameKeysAreRefused) {
  try {
    load(R"({"render": {"frame": 2, "frames": "1-2"}})");
    FAIL() << "accepted";
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("render.frame and render.frames exclude each other; keep "
                                         "one"),
              std::string::npos)
        << e.what();
  }
}

TEST_F(SettingsFile, AMessageAboutAnOptionTheFileSetNamesTheKey) {
  const LoadedSettings loaded =
      load(R"({"controls": {"units": 500}, "render": {"depth": 12}})").settings;
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
    EXPECT_THROW(load(json, {"--depth", "16", "--loop-icon", "--units", "4"}), UsageError) << json;
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
