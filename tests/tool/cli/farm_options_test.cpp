// The farm's options as the command line takes them, read from the farm's
// option table itself: each value checked by its rule as it is parsed and
// stored where its command reads it, and each option given to a command it is
// not for refused with its name and the commands it belongs to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tilvane/cli/command_line.h"
#include "tools/tilvane/cli/options.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/farm/farm_command.h"

namespace tilvane_tool {
namespace {

using Words = std::vector<std::string>;

// A value the option takes: the top of its range, else any text.
std::string Sample(const FarmOption& o) {
  if (!o.range) return "x";
  int64_t scale = 1;
  for (int d = 0; d < o.range->decimals; ++d) scale *= 10;
  return std::to_string(o.range->max / scale);
}

// The tool's commands as main builds them, without the plug-in's controls.
class FarmCommandLine : public ::testing::Test {
 protected:
  FarmCommandLine() : app_("tilvane", "tilvane") {
    UseConventions(app_);
    AddRenderOptions(*app_.add_subcommand("render", "Render"), args_);
    commands_ = AddFarmCommands(app_, farm_, args_, controls_);
  }

  // The refusal of these words, "" if they parse.
  std::string refusal(Words words) {
    words.insert(words.begin(), "tilvane");
    try {
      ParseWords(app_, words, [] {});
    } catch (const UsageError& e) {
      return e.what();
    }
    return "";
  }

  // What `command` needs before anything else is given: its job folder, a task's frames.
  static Words needed(const FarmCommandName& command) {
    Words words = {"farm", command.name};
    for (const FarmOption& o : FarmOptions()) {
      if (!(o.commands & command.command) || !o.required) continue;
      if (!o.bare()) words.push_back(o.names);
      words.push_back(o.bare() ? "job.farm" : "1-2");
    }
    return words;
  }

  CLI::App app_;
  RenderArgs args_;
  FarmArgs farm_;
  std::vector<ControlOption> controls_;
  FarmCommands commands_;
};

TEST_F(FarmCommandLine, EachCommandTakesItsOwnOptionsAndRefusesTheOthersNamingTheirCommands) {
  for (const FarmCommandName& command : kFarmCommandNames) {
    EXPECT_EQ(refusal(needed(command)), "") << command.name;
    for (const FarmOption& o : FarmOptions()) {
      if (o.bare()) continue;
      Words words = needed(command);
      words.insert(words.end(), {o.names, Sample(o)});
      const std::string refused = refusal(words);
      // submit takes the render option of that name (--frames) as render does.
      const bool render =
          command.command == kFarmSubmit && FindRenderOption(std::string(o.names).substr(2));
      if ((o.commands & command.command) || render) {
        EXPECT_EQ(refused, "") << command.name << " " << o.names;
        continue;
      }
      EXPECT_EQ(refused.rfind(std::string(o.names) + " is for ", 0), 0u) << refused;
      for (const std::string& owner : FarmCommandsShown(o.commands)) {
        EXPECT_NE(refused.find(owner), std::string::npos) << owner << " not in: " << refused;
      }
      EXPECT_NE(refused.find("not 'tilvane farm " + std::string(command.name) + "'"),
                std::string::npos)
          << refused;
    }
  }
  // Across the commands too: a render option is named with every command taking it.
  EXPECT_EQ(refusal({"render", "--chunk", "5"}),
            "--chunk is for 'tilvane farm submit', not 'tilvane render'; leave it out here; see "
            "'tilvane render --help'");
  EXPECT_EQ(refusal({"farm", "wait", "job.farm", "--icon", "i.png"}),
            "--icon is for 'tilvane render' or 'tilvane farm submit', not 'tilvane farm wait'; "
            "leave it out here; see 'tilvane farm wait --help'");
  // A misspelling is still a misspelling.
  EXPECT_NE(refusal({"farm", "submit", "--chunks", "5"}).find("(did you mean --chunk?)"),
            std::string::npos);
}

TEST_F(FarmCommandLine, EachValueIsCheckedByItsRuleAsItIsParsed) {
  for (const FarmOption& o : FarmOptions()) {
    if (!o.range) continue;
    const Range& r = *o.range;
    int64_t scale = 1;
    for (int d = 0; d < r.decimals; ++d) scale *= 10;
    const auto shown = [&](int64_t n) {
      std::string text = std::to_string(n / scale);
      if (n % scale == 0) return text;
      std::string fraction = std::to_string(n % scale + scale).substr(1);
      while (fraction.back() == '0') fraction.pop_back();
      return text + "." + fraction;
    };
    for (const int64_t n : {r.min, r.max}) {
      EXPECT_EQ(CheckValue(o, shown(n)).number, n) << o.names << " " << shown(n);
    }
    Words refused = {"", "x", shown(r.min - 1), shown(r.max + 1), shown(r.min) + ".", "1e3"};
    // One digit finer than the rule takes.
    refused.push_back(shown(r.min) + (r.decimals ? "" : ".") + std::string(r.decimals, '0') + "1");
    for (const std::string& value : refused) {
      Words words = {"farm", kFarmCommandNames[0].name};
      for (const FarmCommandName& c : kFarmCommandNames) {
        if (o.commands & c.command) words = needed(c);
      }
      words.insert(words.end(), {o.names, value});
      const std::string refusedBy = refusal(words);
      EXPECT_EQ(refusedBy.rfind(std::string(o.names) + " '" + value + "' is not valid; give ", 0),
                0u)
          << refusedBy;
      EXPECT_NE(refusedBy.find(shown(r.min) + " to " + shown(r.max) + " " + r.unit),
                std::string::npos)
          << refusedBy;
    }
  }
}

TEST_F(FarmCommandLine, CheckedValuesReachTheFarmsCommands) {
  ASSERT_EQ(refusal({"farm", "wait", "job.farm"}), "");
  EXPECT_EQ(farm_.dir, "job.farm");
  EXPECT_EQ(farm_.intervalMilliseconds, 2000) << "the table's default";
  ASSERT_EQ(refusal({"farm", "wait", "job.farm", "--interval", "0.25"}), "");
  EXPECT_EQ(farm_.intervalMilliseconds, 250);
  ASSERT_EQ(refusal({"farm", "submit", "--chunk", "7", "--max-running", "3", "--partition", "gpu",
                     "--job-name", "shot", "--job-dir", "jobs/shot.farm", "--frames", "4-9"}),
            "");
  EXPECT_EQ(farm_.chunk, 7);
  EXPECT_EQ(farm_.maxRunning, 3);
  EXPECT_EQ(farm_.partition, "gpu");
  EXPECT_EQ(farm_.jobName, "shot");
  EXPECT_EQ(farm_.jobDir, "jobs/shot.farm");
  EXPECT_EQ(args_.frames, "4-9") << "submit's --frames is the render option";
  EXPECT_TRUE(commands_.submit->parsed());
  ASSERT_EQ(refusal({"farm", "task", "job.farm", "--frames", "3-5"}), "");
  EXPECT_EQ(farm_.frames, "3-5");
}

}  // namespace
}  // namespace tilvane_tool
