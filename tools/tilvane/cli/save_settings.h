// --save-settings: everything a render uses, as a settings file a later run
// can read (see settings.h).
#pragma once

#include <string>
#include <vector>

#include "tools/tilvane/cli/options.h"

namespace tilvane_tool {

// Writes args.saveSettings for the planned scene. Throws UsageError for a
// name that does not end with .json, WriteError when it cannot be written.
void SaveSettings(const RenderArgs& args, const RenderRequest& request, const RenderPlan& plan,
                  const std::vector<ControlOption>& controls, const std::string& effectVersion);

}  // namespace tilvane_tool
