// The commands' options: declared to the command line, then the render's
// checked into a typed request with the messages the user sees.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/tilvane/job/controls.h"
#include "tools/tilvane/job/demo.h"
#include "tools/tilvane/job/plan.h"

namespace tilvane_tool {

// The render options as given on the command line.
struct RenderArgs {
  std::string icon, displacement, size, depth = "8";
  std::string timeStep = "1", timeScale, duration = "300", frame = "0", frames;
  std::string output, threads;
  std::string codec, quality;  // movies only
  std::string pngCompression, pngFilter;
  std::string settings, saveSettings;
  bool quiet = false;
  bool noOverwrite = false;
  LayerOptions layers;
};

// Adds the demo command's options; --threads as given, for ParseThreads.
void AddDemoOptions(CLI::App& demo, DemoOptions& options, std::string& threads);

// Adds the render command's own options, and one per control of the plug-in.
void AddRenderOptions(CLI::App& render, RenderArgs& args);
void AddControlOptions(CLI::App& render, std::vector<ControlOption>& controls);

inline constexpr const char* kThreadsHelp =
    "Frames rendered at once (default: cores). The cores are shared: each frame renders on cores "
    "/ N threads (at least 1), so one frame at a time uses them all; TILVANE_THREADS, when set, "
    "fixes the threads of each frame instead";
// --threads: frames at once, by default one per core. Throws UsageError.
int ParseThreads(const std::string& text);

// Checks every option that needs no file opened, in the order the user reads
// them, and the output's name and directory. Throws UsageError.
RenderRequest ParseRequest(const RenderArgs& args);

}  // namespace tilvane_tool
