// `tilvane info`: what the plug-in says of itself.
#pragma once

#include <string>

#include "tools/tilvane/cli/plugin.h"

namespace tilvane_tool {

// Prints the plug-in's identity, About message, render path, parameter table
// and the colour spaces; returns the exit status.
int Info(const LoadedPlugin& plugin);

}  // namespace tilvane_tool
