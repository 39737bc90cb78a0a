#include "tools/tilvane/cli/save_settings.h"

#include <filesystem>

#include "src/frame/effect_info.h"
#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"

namespace tilvane_tool {

void SaveSettings(const RenderArgs& args, const RenderRequest& request, const RenderPlan& plan,
                  const std::vector<ControlOption>& controls, const std::string& effectVersion) {
  const Scene& scene = plan.scene;
  if (Lower(std::filesystem::path(args.saveSettings).extension().string()) != ".json") {
    throw UsageError("--save-settings " + Quoted(args.saveSettings) +
                     ": end the name with .json (settings are written as JSON)");
  }
  SettingsRecord record;
  const Resolved resolved{args, request, plan, scene};
  for (const RenderOption& option : RenderOptions()) {
    if (option.kept) record.render(option.key(), SavedFor(option, resolved));
  }
  record.controls(controls, scene.controls);
  record.save(args.saveSettings, std::string("tilvane ") + TILVANE_TOOL_VERSION, TILVANE_NAME,
              effectVersion);
}

}  // namespace tilvane_tool
