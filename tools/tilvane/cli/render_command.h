// The render command once its command line is parsed.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/tilvane/cli/options.h"
#include "tools/tilvane/cli/plugin.h"

namespace tilvane_tool {

// The loaded effect's version as settings files record it; "" with none.
std::string EffectVersion(const LoadedPlugin& plugin);

// Reads the settings file, if any, under the options the command line gave
// (`render`, parsed), then checks, plans and renders; returns the exit
// status. A message about a value the file set names its key. Throws
// UsageError, HostError or WriteError.
int RunRenderCommand(const LoadedPlugin& plugin, const CLI::App& render, RenderArgs& args,
                     std::vector<ControlOption>& controls);

}  // namespace tilvane_tool
