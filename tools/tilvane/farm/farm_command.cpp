#include "tools/tilvane/farm/farm_command.h"

#include <optional>

#include "tools/tilvane/cli/render_command.h"
#include "tools/tilvane/cli/request.h"
#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/farm/farm_parts.h"

namespace tilvane_tool {
namespace {

// `tilvane farm --help` lists under each command the options the farm's
// table gives it.
class FarmFormatter : public CLI::Formatter {
 public:
  std::string make_subcommand(const CLI::App* sub) const override {
    std::string out = CLI::Formatter::make_subcommand(sub);
    FarmCommandSet command = 0;
    for (const FarmCommandName& c : kFarmCommandNames) {
      if (sub->get_name() == c.name) command = c.command;
    }
    for (const CLI::Option* option : sub->get_options()) {
      const bool bare = option->get_positional();
      if (!bare && option->get_lnames().empty()) continue;
      const std::string name = bare ? option->get_name(true) : "--" + option->get_lnames().front();
      // Beneath its command, two columns in.
      if (FindFarmOption(name, command)) out += "  " + make_option(option, bare);
    }
    return out;
  }
};

const char* NameOf(FarmCommandSet command) {
  for (const FarmCommandName& c : kFarmCommandNames) {
    if (c.command == command) return c.name;
  }
  return "";
}

}  // namespace

CheckedRender CheckRender(const LoadedPlugin& plugin, RenderArgs& args,
                          std::vector<ControlOption>& controls,
                          const std::function<bool(const std::string&)>& given,
                          const std::function<void(const RenderRequest&)>& beforePlan) {
  std::optional<LoadedSettings> settings;
  try {
    if (!args.settings.empty()) {
      settings = LoadSettings(args.settings, args, controls, given, EffectVersion(plugin));
    }
    RenderRequest request = ParseRequest(args);
    plugin.require();
    if (beforePlan) beforePlan(request);
    RenderPlan plan = MakePlan(request, controls);
    return {std::move(request), std::move(plan)};
  } catch (const UsageError& e) {
    if (settings) throw UsageError(settings->explain(e.what()));
    throw;
  }
}

FarmCommands AddFarmCommands(CLI::App& app, FarmArgs& farm, RenderArgs& args,
                             std::vector<ControlOption>& controls) {
  FarmCommands c;
  c.farm = app.add_subcommand(
      "farm", "Render a range across a Slurm cluster: submit, wait, status, resume");
  c.farm->require_subcommand(0, 1);
  const auto add = [&](FarmCommandSet command, const std::string& help) {
    CLI::App* sub = c.farm->add_subcommand(NameOf(command), help);
    sub->allow_extras();
    return sub;
  };
  c.submit = add(kFarmSubmit,
                 "Check a render as 'render' does, with every render option and control, write "
                 "its job folder and submit it with sbatch; prints the job folder");
  AddRenderOptions(*c.submit, args);
  AddControlOptions(*c.submit, controls);
  AddFarmOptions(*c.submit, kFarmSubmit, farm, "Farm options");
  c.task = add(kFarmTask,
               "Render some of a job's frames, as a node does (Slurm runs it for each chunk)");
  c.join =
      add(kFarmJoin, "Encode a movie job's frames into its movie (Slurm runs it after the tasks)");
  c.wait = add(kFarmWait,
               "Wait until a job's tasks have ended; exit 0 only when every frame is on disk");
  c.status = add(kFarmStatus, "Report a job's frames done and missing and each task's state");
  c.resume = add(kFarmResume, "Submit again the chunks that hold missing frames, then the join");
  const std::pair<FarmCommandSet, CLI::App*> others[] = {{kFarmTask, c.task},
                                                         {kFarmJoin, c.join},
                                                         {kFarmWait, c.wait},
                                                         {kFarmStatus, c.status},
                                                         {kFarmResume, c.resume}};
  for (const auto& [command, sub] : others) AddFarmOptions(*sub, command, farm);
  c.farm->formatter(std::make_shared<FarmFormatter>());
  return c;
}

int RunFarmCommand(const LoadedPlugin& plugin, const FarmCommands& c, FarmArgs& farm,
                   RenderArgs& args, std::vector<ControlOption>& controls) {
  if (c.submit->parsed()) return Submit(plugin, *c.submit, farm, args, controls);
  if (c.task->parsed()) return RunTask(plugin, farm, controls);
  if (c.join->parsed()) return Join(plugin, farm, controls);
  if (c.wait->parsed()) return Wait(farm);
  if (c.status->parsed()) return Status(farm);
  return Resume(farm);
}

}  // namespace tilvane_tool
