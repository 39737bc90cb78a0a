// tilvane: renders the effect from files, outside the host, by driving the
// plug-in through the stand-in host.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "tools/tilvane/cli/command_line.h"
#include "tools/tilvane/cli/info.h"
#include "tools/tilvane/cli/manual.h"
#include "tools/tilvane/cli/plugin.h"
#include "tools/tilvane/cli/render_command.h"
#include "tools/tilvane/cli/request.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/farm/farm_command.h"
#include "tools/tilvane/job/demo.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

int Main(int argc, char** argv) {
  const LoadedPlugin plugin = LoadPlugin(argc, argv);
  CLI::App app{"Renders the Tilvane mosaic effect from image files, outside the host.", "tilvane"};
  UseConventions(app);
  app.set_version_flag("--version", std::string("tilvane ") + TILVANE_TOOL_VERSION);
  app.fallthrough();
  std::string pluginPath;  // taken before the parse, by LoadPlugin
  app.add_option("--plugin", pluginPath,
                 "The plug-in file to load (default: the one built beside this tool)")
      ->type_name("PATH");
  CLI::App* info = app.add_subcommand(
      "info", "Print the effect's name, version, About message and parameter table");
  DemoOptions demo;
  std::string demoThreads;
  CLI::App* demoCommand = app.add_subcommand("demo", "Render a built-in scene that needs no files");
  AddDemoOptions(*demoCommand, demo, demoThreads);
  RenderArgs args;
  CLI::App* render =
      app.add_subcommand("render", "Render frames from icon and displacement layers");
  AddRenderOptions(*render, args);
  std::vector<ControlOption> controls = ControlOptions(plugin.table());
  AddControlOptions(*render, controls);
  FarmArgs farmArgs;
  const FarmCommands farm = AddFarmCommands(app, farmArgs, args, controls);
  AddExitStatusHelp(app);
  AddManualOptions(app, controls, [&plugin] { plugin.require(); });

  if (const auto status = ParseWords(app, {argv, argv + argc}, [&] { plugin.require(); })) {
    return *status;
  }
  if (info->parsed()) return Info(plugin);
  if (farm.farm->parsed()) return RunFarmCommand(plugin, farm, farmArgs, args, controls);
  if (demoCommand->parsed()) {
    demo.threads = ParseThreads(demoThreads);
    plugin.require();
    for (const std::string& path : RunDemo(*plugin.library, plugin.table(), demo)) {
      std::printf("%s\n", path.c_str());
    }
    return 0;
  }
  return RunRenderCommand(plugin, *render, args, controls);
}

}  // namespace
}  // namespace tilvane_tool

int main(int argc, char** argv) {
  using namespace tilvane_tool;
  RemoveTemporaryFilesOnSignals();
  try {
    return Main(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tilvane: %s\n", e.what());
    return kExitUsage;
  } catch (const HostError& e) {
    std::fprintf(stderr, "tilvane: %s\n", e.what());
    return kExitHostError;
  } catch (const WriteError& e) {
    std::fprintf(stderr, "tilvane: %s\n", e.what());
    return kExitWrite;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tilvane: not enough memory; %s\n", kMemoryAdvice);
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tilvane: %s\n", e.what());
    return kExitHostError;
  }
}
