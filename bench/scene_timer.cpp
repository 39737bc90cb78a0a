// scene_timer [PLUGIN] [--repetitions N]: times the benchmark scenes through
// the stand-in host, the literal model beside the plug-in at its default
// settings, and prints the median frame times and their ratio. It needs no
// benchmark library, so the Windows build has it too and runs it under wine
// on Tilvane.aex. Exits with 1 if a render fails or the plug-in's frame is
// not the model's.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/scenes.h"

namespace {

struct Options {
  std::string plugin;
  int repetitions = 5;
};

const char kUsage[] = "usage: scene_timer [PLUGIN] [--repetitions N]\n";

Options Parse(int argc, char** argv) {
  Options o;
#if defined(TILVANE_PLUGIN_PATH)
  o.plugin = TILVANE_PLUGIN_PATH;
#endif
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--repetitions" && i + 1 < argc) {
      o.repetitions = std::atoi(argv[++i]);
      if (o.repetitions < 1) throw std::runtime_error("--repetitions takes a count of 1 or more");
    } else if (!arg.empty() && arg[0] != '-') {
      o.plugin = arg;
    } else {
      throw std::runtime_error("unknown option " + arg + "\n" + kUsage);
    }
  }
  if (o.plugin.empty()) throw std::runtime_error(std::string("name the plug-in file\n") + kUsage);
  return o;
}

// Renders one scene repetitions times each way, the model and the plug-in in
// turn so that both see the same machine load; returns false on a failure.
bool TimeScene(const standin::PluginLibrary& plugin, const tilvane_bench::Scene& scene,
               int repetitions) {
  tilvane_bench::SceneRig rig(plugin.entry(), scene);
  tilvane_bench::SetRenderOverrides(nullptr, 0);
  std::vector<double> model, plug;
  for (int i = 0; i < repetitions; ++i) {
    model.push_back(tilvane_bench::SecondsOf([&] { rig.renderModel(); }));
    PF_Err err = PF_Err_NONE;
    plug.push_back(tilvane_bench::SecondsOf([&] { err = rig.renderPlugin(); }));
    rig.host().clearLog();
    if (err != PF_Err_NONE) {
      std::printf("(%s) the plug-in's render returned %s\n", scene.id, standin::ErrorName(err));
      return false;
    }
  }
  const double modelMs = tilvane_bench::Median(model) * 1e3;
  const double pluginMs = tilvane_bench::Median(plug) * 1e3;
  const bool same = rig.pluginFrame().samePixels(rig.modelFrame());
  tilvane_bench::PrintModelTableRow(scene, modelMs, pluginMs, same ? "identical" : "DIFFER");
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = Parse(argc, argv);
    const standin::PluginLibrary plugin(options.plugin);
    std::printf("%s: median of %d frames each, the plug-in at its default settings\n",
                options.plugin.c_str(), options.repetitions);
    tilvane_bench::PrintModelTableHeader();
    bool ok = true;
    for (const tilvane_bench::Scene& scene : tilvane_bench::Scenes()) {
      ok = TimeScene(plugin, scene, options.repetitions) && ok;
    }
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scene_timer: %s\n", e.what());
    return 1;
  }
}
