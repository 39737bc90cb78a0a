#include "tools/tilvane/cli/render_command.h"

#include <optional>

#include "standin/packed_version.h"
#include "tools/tilvane/cli/request.h"
#include "tools/tilvane/cli/save_settings.h"
#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {
namespace {

std::string EffectVersion(const LoadedPlugin& plugin) {
  return plugin.host ? standin::VersionText(plugin.packedVersion()) : "";
}

}  // namespace

int RunRenderCommand(const LoadedPlugin& plugin, const CLI::App& render, RenderArgs& args,
                     std::vector<ControlOption>& controls) {
  std::optional<LoadedSettings> settings;
  try {
    if (!args.settings.empty()) {
      const auto given = [&](const std::string& flag) { return render.count(flag) > 0; };
      settings = LoadSettings(args.settings, args, controls, given, EffectVersion(plugin));
    }
    const RenderRequest request = ParseRequest(args);
    plugin.require();
    const RenderPlan plan = MakePlan(request, controls);
    if (!args.saveSettings.empty()) {
      SaveSettings(args, request, plan, controls, EffectVersion(plugin));
    }
    return Render(*plugin.library, request, plan);
  } catch (const UsageError& e) {
    if (settings) throw UsageError(settings->explain(e.what()));
    throw;
  }
}

}  // namespace tilvane_tool
