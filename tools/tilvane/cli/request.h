// The render's options checked into a typed request, with the messages the
// user sees.
#pragma once

#include <string>

#include "tools/tilvane/cli/options.h"
#include "tools/tilvane/job/plan.h"

namespace tilvane_tool {

// --threads: frames at once, by default one per core. Throws UsageError.
int ParseThreads(const std::string& text);

// Checks every option that needs no file opened, in the order the user reads
// them, and the output's name and directory. Throws UsageError.
RenderRequest ParseRequest(const RenderArgs& args);

}  // namespace tilvane_tool
