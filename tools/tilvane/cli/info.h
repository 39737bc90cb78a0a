// `tilvane info`: what the plug-in says of itself, and the effect's version
// as the tool prints it everywhere.
#pragma once

#include <string>

#include "tools/tilvane/cli/plugin.h"

namespace tilvane_tool {

// The host's packed version word, decoded: "1.0.0 (release, build 1; packed 0x...)".
std::string VersionText(unsigned packed);

// Prints the plug-in's identity, About message, render path, parameter table
// and the colour spaces; returns the exit status.
int Info(const LoadedPlugin& plugin);

}  // namespace tilvane_tool
