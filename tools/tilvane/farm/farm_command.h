// tilvane farm: a render split across a Slurm cluster. `submit` checks the
// request as `render` does, freezes it into a job folder and submits one
// array task per chunk of frames (and a join for a movie); `task` and `join`
// are what the nodes run; `wait`, `status` and `resume` read the job folder
// and the outputs themselves.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/tilvane/cli/options.h"
#include "tools/tilvane/cli/plugin.h"

namespace tilvane_tool {

struct FarmCommands {
  CLI::App* farm = nullptr;
  CLI::App* submit = nullptr;
  CLI::App* task = nullptr;
  CLI::App* join = nullptr;
  CLI::App* wait = nullptr;
  CLI::App* status = nullptr;
  CLI::App* resume = nullptr;
};

// Adds `farm` and its commands, each with its options from the farm's table;
// submit takes every render option and control too.
FarmCommands AddFarmCommands(CLI::App& app, FarmArgs& farm, RenderArgs& args,
                             std::vector<ControlOption>& controls);

// Runs the farm command parsed; returns the exit status. Throws UsageError,
// HostError or WriteError as render does.
int RunFarmCommand(const LoadedPlugin& plugin, const FarmCommands& commands, FarmArgs& farm,
                   RenderArgs& args, std::vector<ControlOption>& controls);

// The exit status of wait and status for a job that is not complete.
inline constexpr int kExitIncomplete = 4;

}  // namespace tilvane_tool
