// Whole-frame renders of the built plug-in through the stand-in host, beside
// the literal model of the render, all in one run:
//   <scene>/model and <scene>/plugin: the model and the plug-in at its default
//     settings (best SIMD path, every core); the summary prints model/plug-in;
//   <scene>/simd:<path>/threads:1: each SIMD path the CPU has, on one thread;
//   <scene>/best/threads:<n>: the team's own scaling, 1, 2, ... up to the
//     cores, every large cell shared (TILVANE_SHARING=always);
//   <scene>/pair:quiet and <scene>/pair:contended: the default and one thread
//     in turn, frame by frame; contended with a process of the benchmark's
//     own spinning on one core, started before the first frame and stopped
//     after the last. The summary prints default / one thread for each;
//   team/chunks:<n>: the thread team on its own, one run after another of a
//     job of n empty chunks on every core: the cost of handing a cell over;
//   queue/threads:<n>: (c)'s cells queued one after another on n threads,
//     each with its 64 x 64 icon copied, drawn by lanes that draw nothing:
//     what the caller pays per queued cell beyond its drawing.
// Every benchmark reports milliseconds per frame and nanoseconds per window
// pixel, the window pixels being every pixel of every cell window of the grid
// (units² × (2 × halfWidth + 1) × (2 × halfHeight + 1)); nanoseconds per
// walked pixel divide by the pixels the plug-in actually computes. The summary
// at the end uses the median frame time of every frame each benchmark
// rendered in this run, so its ratios compare figures measured side by side.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/scenes.h"
#include "src/render/cell_draw.h"
#include "src/render/cell_queue.h"
#include "src/render/render_options.h"
#include "src/render/row_team.h"

namespace {

using tilvane_bench::Scene;
using tilvane_bench::SceneRig;

const standin::PluginLibrary& Plugin() {
  static const standin::PluginLibrary library(TILVANE_PLUGIN_PATH);
  return library;
}

// One rig a scene for the whole run: the layers are built once, and the
// frames left in it after the run are compared for the summary.
SceneRig& Rig(const Scene& scene) {
  const standin::PluginLibrary& plugin = Plugin();  // loaded first, so unloaded last
  static std::map<std::string, std::unique_ptr<SceneRig>> rigs;
  std::unique_ptr<SceneRig>& rig = rigs[scene.id];
  if (!rig) rig = std::make_unique<SceneRig>(plugin.entry(), scene);
  return *rig;
}

struct Path {
  const char* name;  // as TILVANE_SIMD takes it
  tilvane::SimdPath simd;
};
constexpr Path kPaths[] = {{"scalar", tilvane::SimdPath::kScalar},
                           {"sse2", tilvane::SimdPath::kSse2},
                           {"avx2", tilvane::SimdPath::kAvx2},
                           {"avx512", tilvane::SimdPath::kAvx512}};

// Asks the plug-in's own detection (CPU and saved register state), so that a
// path is timed only where the plug-in would really take it.
bool CpuHas(const Path& path) {
  return static_cast<int>(path.simd) <= static_cast<int>(tilvane::BestSimdPath());
}

int Cores() {
  const int n = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(n, 1, tilvane::kMaxRenderThreads);
}

// 1, 2, ... up to 8 cores, then doubling, and the number of cores.
std::vector<int> ThreadCounts() {
  std::vector<int> counts;
  for (int n = 1; n <= Cores(); n = n < 8 ? n + 1 : n * 2) counts.push_back(n);
  if (counts.back() != Cores()) counts.push_back(Cores());
  return counts;
}

// Every frame time measured, by benchmark name.
std::map<std::string, std::vector<double>>& FrameSeconds() {
  static std::map<std::string, std::vector<double>> seconds;
  return seconds;
}

enum class Renderer { Model, Plugin };

struct Variant {
  Renderer renderer;
  const char* simd;  // null: the plug-in's choice
  int threads;       // 0: the plug-in's choice
  bool alwaysShare;  // TILVANE_SHARING=always
};

void RenderScene(benchmark::State& state, const Scene& scene, const Variant& v,
                 const std::string& name) {
  SceneRig& rig = Rig(scene);
  std::vector<double>& record = FrameSeconds()[name];
  // Each render is timed on its own: the host's log is cleared between
  // frames (it would otherwise grow) outside the measured time.
  double seconds = 0.0;
  for (auto _ : state) {
    PF_Err err = PF_Err_NONE;
    double elapsed = 0.0;
    if (v.renderer == Renderer::Model) {
      elapsed = tilvane_bench::SecondsOf([&] { rig.renderModel(); });
      benchmark::DoNotOptimize(rig.modelFrame().record()->data);
    } else {
      // The plug-in reads its overrides at each render.
      tilvane_bench::SetRenderOverrides(v.simd, v.threads, v.alwaysShare);
      elapsed = tilvane_bench::SecondsOf([&] { err = rig.renderPlugin(); });
      benchmark::DoNotOptimize(rig.pluginFrame().record()->data);
      rig.host().clearLog();
    }
    benchmark::ClobberMemory();
    state.SetIterationTime(elapsed);
    seconds += elapsed;
    record.push_back(elapsed);
    if (err != PF_Err_NONE) {
      state.SkipWithError(("render returned " + std::to_string(err)).c_str());
      break;
    }
  }
  tilvane_bench::SetRenderOverrides(nullptr, 0, false);
  const double frames = static_cast<double>(state.iterations());
  const tilvane_bench::WindowCounts counts = tilvane_bench::CountWindowPixels(scene);
  if (frames > 0) {
    state.counters["ms_per_frame"] = seconds * 1e3 / frames;
    state.counters["ns_per_window_px"] =
        seconds * 1e9 / (frames * static_cast<double>(counts.window));
    state.counters["ns_per_walked_px"] =
        seconds * 1e9 / (frames * static_cast<double>(counts.walked));
  }
  state.counters["window_px"] = static_cast<double>(counts.window);
  state.counters["walked_px"] = static_cast<double>(counts.walked);
}

// A process that keeps one core busy, as another render or the host's own
// threads would: this program started again with --spin, pinned to the last
// core, and killed when this goes. Spawned rather than forked, so that the
// renders beside it do not pay for copying their pages on first write.
class Spinner {
 public:
  Spinner() {
    char self[] = "/proc/self/exe";
    char spin[] = "--spin";
    char* argv[] = {self, spin, nullptr};
    if (posix_spawn(&pid_, self, nullptr, nullptr, argv, environ) != 0) {
      throw std::runtime_error("cannot start the spinning process");
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(Cores() - 1, &one);
    sched_setaffinity(pid_, sizeof(one), &one);
  }
  ~Spinner() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Spinner(const Spinner&) = delete;
  Spinner& operator=(const Spinner&) = delete;

 private:
  pid_t pid_ = 0;
};

std::string PairName(const Scene& s, const char* mode, const char* who) {
  return std::string(s.id) + "/" + mode + "/" + who;
}

// Load averages over the last minute, at the start and end of each run of a pair.
std::map<std::string, std::vector<double>>& Loads() {
  static std::map<std::string, std::vector<double>> loads;
  return loads;
}

double LoadNow() {
  double load[1] = {0.0};
  return getloadavg(load, 1) == 1 ? load[0] : -1.0;
}

// The default and one thread, frame by frame in turn, so that both see the
// same machine; with `contended`, beside a process spinning on one core.
void RenderPair(benchmark::State& state, const Scene& scene, bool contended) {
  SceneRig& rig = Rig(scene);
  const char* mode = contended ? "contended" : "quiet";
  std::vector<double>& both = FrameSeconds()[PairName(scene, mode, "default")];
  std::vector<double>& one = FrameSeconds()[PairName(scene, mode, "threads:1")];
  std::vector<double>& load = Loads()[std::string(scene.id) + "/" + mode];
  load.push_back(LoadNow());
  std::optional<Spinner> spinner;
  if (contended) spinner.emplace();
  PF_Err err = PF_Err_NONE;
  bool defaultFirst = true;
  for (auto _ : state) {
    double pair = 0.0;
    // Each first in turn: neither gains from following the other.
    for (const int threads : {defaultFirst ? 0 : 1, defaultFirst ? 1 : 0}) {
      tilvane_bench::SetRenderOverrides(nullptr, threads, false);
      const double elapsed = tilvane_bench::SecondsOf([&] { err = rig.renderPlugin(); });
      rig.host().clearLog();
      (threads == 0 ? both : one).push_back(elapsed);
      pair += elapsed;
      if (err != PF_Err_NONE) break;
    }
    defaultFirst = !defaultFirst;
    state.SetIterationTime(pair);
    if (err != PF_Err_NONE) {
      state.SkipWithError(("render returned " + std::to_string(err)).c_str());
      break;
    }
  }
  spinner.reset();
  tilvane_bench::SetRenderOverrides(nullptr, 0, false);
  load.push_back(LoadNow());
}

std::string ModelName(const Scene& s) { return std::string(s.id) + "/model"; }
std::string PluginName(const Scene& s) { return std::string(s.id) + "/plugin"; }
std::string PathName(const Scene& s, const char* path) {
  return std::string(s.id) + "/simd:" + path + "/threads:1";
}
std::string ThreadsName(const Scene& s, int n) {
  return std::string(s.id) + "/best/threads:" + std::to_string(n);
}

void EmptyChunk(const void*, int) {}

// Back-to-back runs of empty chunks, as the cells of a render come: what the
// caller pays per cell for the hand-over and per chunk for the claims.
void TeamRuns(benchmark::State& state, int chunks) {
  tilvane::RowTeam team(Cores());
  int64_t ns = 0;
  for (auto _ : state) ns += team.Run(&EmptyChunk, nullptr, chunks).totalNs;
  state.counters["members"] = team.size();
  state.counters["ns_per_run"] = static_cast<double>(ns) / static_cast<double>(state.iterations());
}

void DrawNothing(const tilvane::DrawContext<PF_Pixel>&, const tilvane::CellWalk&, int64_t,
                 int64_t) {}

void ServeQueue(const void* work, int) {
  static_cast<tilvane::CellQueue<PF_Pixel>*>(const_cast<void*>(work))->Serve();
}

// The visible cells of (c), 56 rows of 100, pushed in grid order and drained
// at the end of each frame, as the painter does; counters per queued cell.
void QueueCells(benchmark::State& state, int threads) {
  constexpr int32_t kIcon = 64, kUnits = 100, kRows = 56;
  std::vector<PF_Pixel> pixels(kIcon * kIcon, PF_Pixel{255, 128, 64, 32});
  PF_EffectWorld icon{};
  icon.width = icon.height = kIcon;
  icon.rowbytes = kIcon * static_cast<A_long>(sizeof(PF_Pixel));
  icon.data = pixels.data();
  PF_EffectWorld output{};
  output.width = 3840;
  output.height = 2160;
  tilvane::RenderSettings settings{};
  settings.units = kUnits;
  const tilvane::GridGeometry geometry{3839.0f / (63.0f * kUnits), 20, 20, kIcon, kIcon};
  const auto context = tilvane::MakeDrawContext<PF_Pixel>(settings, geometry, &output);
  tilvane::RowTeam team(threads);
  tilvane::CellQueue<PF_Pixel> queue(context, {tilvane::SimdPath::kScalar, &DrawNothing},
                                     team.size());
  tilvane::CellState cell{0, 0.5f, 0, &icon, kIcon, kIcon};
  int64_t cells = 0, waitNs = 0, ns = 0;
  for (auto _ : state) {
    const int64_t start = tilvane::NowNs();
    if (team.size() > 1) team.Begin(&ServeQueue, &queue, team.size() - 1);
    for (int32_t row = 0; row < kRows; ++row) {
      for (int32_t column = 0; column < kUnits; ++column) {
        queue.Push(tilvane::PrepareCellWalk(context, cell, row, column), &waitNs);
      }
    }
    waitNs += queue.Drain();
    queue.Stop();
    if (team.size() > 1) team.Finish();
    queue.Open();
    ns += tilvane::NowNs() - start;
    cells += kRows * kUnits;
  }
  state.counters["members"] = team.size();
  state.counters["ns_per_cell"] = static_cast<double>(ns) / static_cast<double>(cells);
  state.counters["member_lanes_per_cell"] =
      static_cast<double>(queue.MemberLaneCells()) / static_cast<double>(cells);
  state.counters["wait_ns_per_cell"] = static_cast<double>(waitNs) / static_cast<double>(cells);
}

void Register(const Scene& scene, const std::string& name, const Variant& v) {
  benchmark::RegisterBenchmark(
      name.c_str(),
      [&scene, v, name](benchmark::State& state) { RenderScene(state, scene, v, name); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime();
}

void RegisterAll() {
  for (const int chunks : {2, 4, 16, 32}) {
    benchmark::RegisterBenchmark(("team/chunks:" + std::to_string(chunks)).c_str(),
                                 [chunks](benchmark::State& state) { TeamRuns(state, chunks); });
  }
  for (const int n : ThreadCounts()) {
    benchmark::RegisterBenchmark(("queue/threads:" + std::to_string(n)).c_str(),
                                 [n](benchmark::State& state) { QueueCells(state, n); });
  }
  for (const Scene& s : tilvane_bench::Scenes()) {
    Register(s, ModelName(s), {Renderer::Model, nullptr, 0, false});
    Register(s, PluginName(s), {Renderer::Plugin, nullptr, 0, false});
  }
  for (const Scene& s : tilvane_bench::Scenes()) {
    for (const Path& path : kPaths) {
      if (CpuHas(path))
        Register(s, PathName(s, path.name), {Renderer::Plugin, path.name, 1, false});
    }
  }
  for (const Scene& s : tilvane_bench::Scenes()) {
    for (const int n : ThreadCounts())
      Register(s, ThreadsName(s, n), {Renderer::Plugin, nullptr, n, true});
  }
  for (const Scene& s : tilvane_bench::Scenes()) {
    for (const bool contended : {false, true}) {
      benchmark::RegisterBenchmark(
          (std::string(s.id) + (contended ? "/pair:contended" : "/pair:quiet")).c_str(),
          [&s, contended](benchmark::State& state) { RenderPair(state, s, contended); })
          ->Unit(benchmark::kMillisecond)
          ->UseManualTime();
    }
  }
}

// The median frame time in milliseconds of a benchmark, or 0 if it did not run.
double MedianMs(const std::string& name) {
  const auto it = FrameSeconds().find(name);
  return it == FrameSeconds().end() ? 0.0 : tilvane_bench::Median(it->second) * 1e3;
}

void PrintSummary() {
  const auto& scenes = tilvane_bench::Scenes();
  std::printf("\nSummary: median frame time of every frame rendered in this run\n");
  std::printf("\nThe literal model beside the plug-in (default settings):\n");
  tilvane_bench::PrintModelTableHeader();
  for (const Scene& s : scenes) {
    const double model = MedianMs(ModelName(s)), plugin = MedianMs(PluginName(s));
    const char* same = "-";
    if (model > 0 && plugin > 0) {
      same = Rig(s).pluginFrame().samePixels(Rig(s).modelFrame()) ? "identical" : "DIFFER";
    }
    tilvane_bench::PrintModelTableRow(s, model, plugin, same);
  }

  std::printf("\nEach SIMD path on one thread: ns per walked pixel (speed-up vs scalar):\n");
  std::printf("%-5s", "scene");
  for (const Path& path : kPaths) std::printf(" %20s", path.name);
  std::printf("\n");
  for (const Scene& s : scenes) {
    const double walked = static_cast<double>(tilvane_bench::CountWindowPixels(s).walked);
    const double scalar = MedianMs(PathName(s, "scalar"));
    std::printf("(%s)  ", s.id);
    for (const Path& path : kPaths) {
      const double ms = MedianMs(PathName(s, path.name));
      if (ms > 0 && scalar > 0) {
        std::printf(" %10.3f (%6.2fx)", ms * 1e6 / walked, scalar / ms);
      } else {
        std::printf(" %20s", "-");
      }
    }
    std::printf("\n");
  }
  for (const Path& path : kPaths) {
    if (!CpuHas(path)) {
      std::printf("note: this CPU lacks %s; that path was not timed\n", path.name);
    }
  }

  std::printf(
      "\nThreads on the best path, every large cell shared: ms per frame (speed-up vs 1 "
      "thread):\n");
  std::printf("%-5s", "scene");
  for (const int n : ThreadCounts()) std::printf(" %15d", n);
  std::printf("\n");
  for (const Scene& s : scenes) {
    const double one = MedianMs(ThreadsName(s, 1));
    std::printf("(%s)  ", s.id);
    for (const int n : ThreadCounts()) {
      const double ms = MedianMs(ThreadsName(s, n));
      if (ms > 0 && one > 0) {
        std::printf(" %7.2f (%5.2fx)", ms, one / ms);
      } else {
        std::printf(" %15s", "-");
      }
    }
    std::printf("\n");
  }

  std::printf(
      "\nDefault against one thread, frame by frame in turn: median ms, default / one "
      "thread\n(contended: beside a process spinning on one core; load: 1-minute load "
      "average before and after)\n");
  std::printf("%-5s %10s %10s %7s %11s   %10s %10s %7s %11s\n", "scene", "quiet", "1 thread",
              "ratio", "load", "contended", "1 thread", "ratio", "load");
  for (const Scene& s : scenes) {
    std::printf("(%s)  ", s.id);
    for (const char* mode : {"quiet", "contended"}) {
      const double both = MedianMs(PairName(s, mode, "default"));
      const double one = MedianMs(PairName(s, mode, "threads:1"));
      const std::vector<double>& load = Loads()[std::string(s.id) + "/" + mode];
      if (both > 0 && one > 0 && !load.empty()) {
        std::printf("%10.2f %10.2f %7.3f %5.2f,%5.2f   ", both, one, both / one, load.front(),
                    load.back());
      } else {
        std::printf("%10s %10s %7s %11s   ", "-", "-", "-", "-");
      }
    }
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--spin") {
    for (;;) __asm__ volatile("" ::: "memory");
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  try {
    RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tilvane_render_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
