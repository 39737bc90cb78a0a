// The built-in demo scene: generated layers, no input files.
#pragma once

#include <string>
#include <vector>

#include "standin/host.h"

namespace tilvane_tool {

struct DemoOptions {
  std::string directory = "tilvane-demo";
  int threads = 1;
  bool quiet = false;
};

// Renders the demo stills and sequence into the directory (created if needed)
// and returns the paths written, in order.
std::vector<std::string> RunDemo(const standin::PluginLibrary& plugin,
                                 const std::vector<standin::RegisteredParam>& table,
                                 const DemoOptions& options);

}  // namespace tilvane_tool
