// scene_timer [PLUGIN] [--repetitions N] [--simd PATH] [--threads N]: times
// the benchmark scenes through the stand-in host, the literal model beside
// the plug-in (at its default settings unless --simd or --threads set
// TILVANE_SIMD or TILVANE_THREADS), and prints the median frame times and
// their ratio. It needs no
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
  std::string simd;  // empty: the plug-in's choice
  int threads = 0;   // 0: the plug-in's choice
};

const char kUsage[] =
    "usage: scene_timer [PLUGIN] [--repetitions N] [--simd scalar|sse2|avx2|avx512] "
    "[--threads N]\n";

int Count(const char* option, const char* text, int least) {
  const int n = std::atoi(text);
  if (n < least) {
    throw std::runtime_error(std::string(option) + " takes a count of " + std::to_string(least) +
                             " or more, not " + text);
  }
  return n;
}

Options Parse(int argc, char** argv) {
  Options o;
#if defined(TILVANE_PLUGIN_PATH)
  o.plugin = TILVANE_PLUGIN_PATH;
#endif
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--repetitions" && i + 1 < argc) {
      o.repetitions = Count("--repetitions", argv[++i], 1);
    } else if (arg == "--threads" && i + 1 < argc) {
      o.threads = Count("--threads", argv[++i], 1);
    } else if (arg == "--simd" && i + 1 < argc) {
      o.simd = argv[++i];
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
               const Options& o) {
  tilvane_bench::SceneRig rig(plugin.entry(), scene);
  tilvane_bench::SetRenderOverrides(o.simd.empty() ? nullptr : o.simd.c_str(), o.threads, false);
  std::vector<double> model, plug;
  for (int i = 0; i < o.repetitions; ++i) {
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
    std::printf("%s: median of %d frames each; TILVANE_SIMD=%s TILVANE_THREADS=%s\n",
                options.plugin.c_str(), options.repetitions,
                options.simd.empty() ? "(unset)" : options.simd.c_str(),
                options.threads > 0 ? std::to_string(options.threads).c_str() : "(unset)");
    tilvane_bench::PrintModelTableHeader();
    bool ok = true;
    for (const tilvane_bench::Scene& scene : tilvane_bench::Scenes()) {
      ok = TimeScene(plugin, scene, options) && ok;
    }
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scene_timer: %s\n", e.what());
    return 1;
  }
}
