#include "tools/tilvane/cli/plugin.h"

#include <CLI/CLI.hpp>
#include <filesystem>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/job/render_job.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;

// The plug-in next to this executable: installed (lib/tilvane beside its
// bin), beside it, or in the build tree; else the one built with it.
std::string DefaultPluginPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const std::string file = fs::path(TILVANE_BUILT_PLUGIN).filename().string();
  if (!ec) {
    const fs::path bin = self.parent_path();
    for (const fs::path& dir : {bin / TILVANE_PLUGIN_DIR_FROM_BIN, bin, bin / "../.."}) {
      if (fs::exists(dir / file, ec)) return (dir / file).lexically_normal().string();
    }
  }
  return TILVANE_BUILT_PLUGIN;
}

// --plugin picked out before the full parse.
std::string PluginArgument(int argc, char** argv) {
  CLI::App pre;
  pre.allow_extras();
  pre.set_help_flag();
  std::string path;
  pre.add_option("--plugin", path)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  try {
    pre.parse(argc, argv);
  } catch (const CLI::ParseError&) {
    // The full parse reports it.
  }
  return path.empty() ? DefaultPluginPath() : path;
}

}  // namespace

const std::vector<standin::RegisteredParam>& LoadedPlugin::table() const {
  static const std::vector<standin::RegisteredParam> none;
  return host ? host->registered() : none;
}

LoadedPlugin LoadPlugin(int argc, char** argv) {
  LoadedPlugin plugin;
  plugin.path = PluginArgument(argc, argv);
  try {
    try {
      plugin.library = std::make_unique<standin::PluginLibrary>(plugin.path);
    } catch (const std::exception& e) {
      throw UsageError("--plugin '" + plugin.path + "' cannot be loaded (" + e.what() +
                       "); give the path of a built Tilvane plug-in");
    }
    plugin.host = SetUpHost(*plugin.library);
  } catch (...) {
    plugin.failure = std::current_exception();
  }
  return plugin;
}

}  // namespace tilvane_tool
