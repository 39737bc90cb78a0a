// The farm's commands, each in its own file; farm_command.cpp wires them to
// the command line.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/tilvane/cli/options.h"
#include "tools/tilvane/cli/plugin.h"
#include "tools/tilvane/cli/render_command.h"
#include "tools/tilvane/farm/farm_command.h"
#include "tools/tilvane/farm/job_folder.h"
#include "tools/tilvane/job/plan.h"

namespace tilvane_tool {

// A request and its plan, checked as `tilvane render` checks them: the
// settings file read under the options given (`given`), then ParseRequest
// and MakePlan, with `beforePlan` between them (MakePlan makes the output's
// folder). A message about a value the file set names its key.
struct CheckedRender {
  RenderRequest request;
  RenderPlan plan;
};
CheckedRender CheckRender(const LoadedPlugin& plugin, RenderArgs& args,
                          std::vector<ControlOption>& controls,
                          const std::function<bool(const std::string&)>& given,
                          const std::function<void(const RenderRequest&)>& beforePlan = {});

int Submit(const LoadedPlugin& plugin, const CLI::App& submit, const FarmArgs& farm,
           RenderArgs& args, std::vector<ControlOption>& controls);
int Resume(const FarmArgs& farm);
int RunTask(const LoadedPlugin& plugin, const FarmArgs& farm, std::vector<ControlOption>& controls);
int Join(const LoadedPlugin& plugin, const FarmArgs& farm, std::vector<ControlOption>& controls);
int Wait(const FarmArgs& farm);
int Status(const FarmArgs& farm);

// Submits the chunks (none: only the join, for a movie) and records the
// submission in job.json. Returns the array's job id ("" none).
void SubmitChunks(FarmJob& job, const std::vector<size_t>& chunks);

// The job's tasks and join that Slurm still holds as pending or running.
struct QueuedTask {
  std::string id;     // "123_4" or "124"
  std::string state;  // PENDING, RUNNING, ...
  std::string reason;
};
std::vector<QueuedTask> Queued(const FarmJob& job);

}  // namespace tilvane_tool
