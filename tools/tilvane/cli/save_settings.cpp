#include "tools/tilvane/cli/save_settings.h"

#include <filesystem>

#include "src/frame/effect_info.h"
#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"

namespace tilvane_tool {

void SaveSettings(const RenderArgs& args, const RenderRequest& request,
                  const ResolvedValues& values, const std::vector<ControlOption>& controls,
                  const std::string& effectVersion,
                  const std::function<bool(const std::string& flag)>& given) {
  if (Lower(std::filesystem::path(args.saveSettings).extension().string()) != ".json") {
    throw UsageError("--save-settings " + Quoted(args.saveSettings) +
                     ": end the name with .json (settings are written as JSON)");
  }
  SettingsRecord record;
  const Resolved resolved{args, request, values};
  for (const RenderOption& option : RenderOptions()) {
    if (!option.kept) continue;
    const SavedValue saved = SavedFor(option, resolved);
    record.render(option.key(), saved);
    const bool chosen = given("--" + option.key()) || args.fromSettings.count(option.key());
    if (option.derived && !chosen && saved.is != SavedValue::Is::Nothing) {
      record.derived(option.key());
    }
  }
  record.controls(controls, values.controls);
  record.save(args.saveSettings, std::string("tilvane ") + TILVANE_TOOL_VERSION, TILVANE_NAME,
              effectVersion);
}

}  // namespace tilvane_tool
