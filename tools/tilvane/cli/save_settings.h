// --save-settings: everything a render uses, as a settings file a later run
// can read (see settings.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/tilvane/cli/options.h"

namespace tilvane_tool {

// Writes args.saveSettings: the options given and the values the render
// resolved. Those the user did not choose (`chosen`: on the command line by
// any of its names, else args.fromSettings says) and the render derives from
// its layers are marked derived, so that the look travels to other media.
// Throws UsageError for a name that does not end with .json, WriteError when
// it cannot be written.
void SaveSettings(const RenderArgs& args, const RenderRequest& request,
                  const ResolvedValues& values, const std::vector<ControlOption>& controls,
                  const std::string& effectVersion,
                  const std::function<bool(const std::string& flag)>& given);

}  // namespace tilvane_tool
