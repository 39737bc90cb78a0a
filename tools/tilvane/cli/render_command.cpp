#include "tools/tilvane/cli/render_command.h"

#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "standin/packed_version.h"
#include "tools/tilvane/cli/request.h"
#include "tools/tilvane/cli/save_settings.h"
#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/job/resolved.h"

namespace tilvane_tool {

std::string EffectVersion(const LoadedPlugin& plugin) {
  return plugin.host ? standin::VersionText(plugin.packedVersion()) : "";
}

namespace {

// The source the summary names for a rate or a range: an option the
// settings file set, and the command line did not, is the file's.
std::string Credited(const std::string& from, const RenderArgs& args,
                     const std::function<bool(const std::string& flag)>& given) {
  if (args.settings.empty() || from.rfind("--", 0) != 0) return from;
  std::istringstream words(from);
  bool fromFile = false;
  for (std::string word; words >> word;) {
    if (word.rfind("--", 0) != 0) continue;
    if (given(word)) return from;
    fromFile = fromFile || args.fromSettings.count(word.substr(2)) > 0;
  }
  return fromFile ? "--settings " + Quoted(args.settings) : from;
}

}  // namespace

int RunRenderCommand(const LoadedPlugin& plugin, const CLI::App& render, RenderArgs& args,
                     std::vector<ControlOption>& controls) {
  std::optional<LoadedSettings> settings;
  const auto given = [&](const std::string& flag) { return render.count(flag) > 0; };
  try {
    if (!args.settings.empty()) {
      settings = LoadSettings(args.settings, args, controls, given, EffectVersion(plugin));
    }
    const RenderRequest request = ParseRequest(args);
    plugin.require();
    RenderPlan plan = MakePlan(request, controls);
    plan.timing.rateFrom = Credited(plan.timing.rateFrom, args, given);
    plan.timing.rangeFrom = Credited(plan.timing.rangeFrom, args, given);
    if (!args.saveSettings.empty()) {
      SaveSettings(args, request, ResolvedOf(plan), controls, EffectVersion(plugin), given);
    }
    return Render(*plugin.library, request, plan);
  } catch (const UsageError& e) {
    if (settings) throw UsageError(settings->explain(e.what()));
    throw;
  }
}

}  // namespace tilvane_tool
