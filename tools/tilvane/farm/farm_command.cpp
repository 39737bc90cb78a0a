#include "tools/tilvane/farm/farm_command.h"

#include <optional>

#include "tools/tilvane/cli/render_command.h"
#include "tools/tilvane/cli/request.h"
#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/farm/farm_parts.h"

namespace tilvane_tool {
namespace {

void AddDirectory(CLI::App& command, FarmArgs& farm) {
  command.add_option("dir", farm.dir, "The job folder 'tilvane farm submit' printed")
      ->type_name("DIR")
      ->required();
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
  c.submit = c.farm->add_subcommand(
      "submit",
      "Check a render as 'render' does, write its job folder and submit it with sbatch; prints "
      "the job folder");
  AddRenderOptions(*c.submit, args);
  c.submit
      ->add_option("--chunk", farm.chunk,
                   "Frames each task renders (default: 20, or more to keep within 1000 tasks)")
      ->type_name("N");
  c.submit
      ->add_option("--max-running", farm.maxRunning,
                   "Tasks of the job running at once (default: as many as the cluster takes)")
      ->type_name("M");
  c.submit->add_option("--partition", farm.partition, "Slurm's partition (default: its own)")
      ->type_name("NAME");
  c.submit
      ->add_option("--job-name", farm.jobName,
                   "The job's name in squeue (default: tilvane- and the output's name)")
      ->type_name("NAME");
  c.submit
      ->add_option("--job-dir", farm.jobDir,
                   "The job folder, on storage every node mounts (default: beside the output, "
                   "named after it, ending .farm)")
      ->type_name("DIR");
  AddControlOptions(*c.submit, controls);

  c.task = c.farm->add_subcommand(
      "task", "Render some of a job's frames, as a node does (Slurm runs it for each chunk)");
  AddDirectory(*c.task, farm);
  c.task->add_option("--frames", farm.frames, "The frames A-B, within the job's range")
      ->type_name("A-B")
      ->required();
  c.join = c.farm->add_subcommand(
      "join", "Encode a movie job's frames into its movie (Slurm runs it after the tasks)");
  AddDirectory(*c.join, farm);
  c.wait = c.farm->add_subcommand(
      "wait", "Wait until a job's tasks have ended; exit 0 only when every frame is on disk");
  AddDirectory(*c.wait, farm);
  c.wait->add_option("--interval", farm.interval, "Seconds between looks at the queue")
      ->type_name("S")
      ->capture_default_str();
  c.status = c.farm->add_subcommand("status",
                                    "Report a job's frames done and missing and each task's state");
  AddDirectory(*c.status, farm);
  c.resume = c.farm->add_subcommand(
      "resume", "Submit again the chunks that hold missing frames, then the join");
  AddDirectory(*c.resume, farm);
  for (CLI::App* sub : c.farm->get_subcommands({})) sub->allow_extras();
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
