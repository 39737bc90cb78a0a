// Whole-frame renders of the built plug-in through the stand-in host. Each
// scene reports milliseconds per frame and nanoseconds per window pixel, the
// window pixels being every pixel of every cell window of the grid
// (units² × (2 × halfWidth + 1) × (2 × halfHeight + 1)); nanoseconds per
// walked pixel divide by the pixels the plug-in actually computes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "src/params/params.h"
#include "standin/frame_source.h"
#include "standin/host.h"
#include "standin/world.h"

namespace {

const standin::PluginLibrary& Plugin() {
  static const standin::PluginLibrary library(TILVANE_PLUGIN_PATH);
  return library;
}

int32_t Channel(int depth, int value255) {
  return depth == 16 ? (value255 * 32768 + 128) / 255 : value255;
}

void Put(standin::World& w, int32_t x, int32_t y, int a, int r, int g, int b) {
  const int d = w.depth();
  if (d == 16) {
    w.at16(x, y) =
        PF_Pixel16{static_cast<A_u_short>(Channel(d, a)), static_cast<A_u_short>(Channel(d, r)),
                   static_cast<A_u_short>(Channel(d, g)), static_cast<A_u_short>(Channel(d, b))};
  } else {
    w.at8(x, y) = PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(r),
                           static_cast<A_u_char>(g), static_cast<A_u_char>(b)};
  }
}

// An opaque disc with a colour ramp, transparent around it.
standin::WorldPtr MakeIcon(int32_t size, int depth) {
  auto icon = std::make_shared<standin::World>(size, size, depth);
  const double c = (size - 1) / 2.0;
  for (int32_t y = 0; y < size; ++y) {
    for (int32_t x = 0; x < size; ++x) {
      const bool inside = std::hypot(x - c, y - c) <= c;
      Put(*icon, x, y, inside ? 255 : 0, x * 255 / (size - 1), y * 255 / (size - 1), 128);
    }
  }
  return icon;
}

// Grey rising from black at the top left to white at the bottom right.
standin::WorldPtr MakeGradient(int32_t width, int32_t height, int depth) {
  auto layer = std::make_shared<standin::World>(width, height, depth);
  const int64_t span = int64_t{width} + height - 2;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const int v = static_cast<int>((int64_t{x} + y) * 255 / span);
      Put(*layer, x, y, 255, v, v, v);
    }
  }
  return layer;
}

struct Scene {
  int32_t width;
  int32_t height;
  int depth;
  int32_t iconSize;
  int32_t units;
  int32_t displacementEffect;
  int32_t colorMapping;
  int32_t border;
};

struct WindowCounts {
  int64_t window;  // every pixel of every cell window
  int64_t walked;  // those the plug-in computes: it skips window rows and columns
                   // clamped onto the output's last row or column but the last
};

// The grid geometry in its single precision, for a still icon.
WindowCounts CountWindowPixels(const Scene& s) {
  const float span = static_cast<float>(s.iconSize - 1);
  const float cellScale = static_cast<float>(s.width - 1) / (span * static_cast<float>(s.units));
  const int64_t last = 2 * static_cast<int64_t>(std::ceil(span * cellScale / 2.0f));
  const auto walkedAlong = [&](int32_t cell, int32_t outputSize) {
    const float origin = span * cellScale * static_cast<float>(cell);
    const float limit = static_cast<float>(outputSize - 1);
    int64_t n = 0;
    while (n < last && origin + static_cast<float>(n) < limit) ++n;
    return n + 1;  // the unclamped offsets, then the window's last one
  };
  WindowCounts c{0, 0};
  for (int32_t row = 0; row < s.units; ++row) {
    for (int32_t column = 0; column < s.units; ++column) {
      c.window += (last + 1) * (last + 1);
      c.walked += walkedAlong(row, s.height) * walkedAlong(column, s.width);
    }
  }
  return c;
}

void RenderScene(benchmark::State& state, const Scene& scene) {
  standin::Host host(Plugin().entry());
  if (host.paramsSetup() != PF_Err_NONE) throw std::runtime_error("parameter set-up failed");
  host.setLayer(PARAM_ICON_LAYER, standin::StillSource(MakeIcon(scene.iconSize, scene.depth)));
  host.setLayer(PARAM_DISPLACEMENT_LAYER,
                standin::StillSource(MakeGradient(scene.width, scene.height, scene.depth)));
  host.setInt(PARAM_UNITS, scene.units);
  host.setInt(PARAM_DISPLACEMENT_EFFECT, scene.displacementEffect);
  host.setInt(PARAM_COLOR_MAPPING, scene.colorMapping);
  host.setInt(PARAM_BORDER, scene.border);
  standin::World output(scene.width, scene.height, scene.depth);

  // Each render is timed on its own: the host's log is cleared between
  // frames (it would otherwise grow) outside the measured time.
  double seconds = 0.0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const PF_Err err = host.render(output);
    benchmark::DoNotOptimize(output.record()->data);
    benchmark::ClobberMemory();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
    seconds += elapsed.count();
    if (err != PF_Err_NONE) {
      state.SkipWithError(("render returned " + std::to_string(err)).c_str());
      break;
    }
    host.clearLog();
  }
  const double frames = static_cast<double>(state.iterations());
  const WindowCounts counts = CountWindowPixels(scene);
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

// (a) 1920×1080, 8 bits, a 100×100 icon, 8 units, default settings.
void BM_Scene_a_1080p_8bit_8units(benchmark::State& state) {
  RenderScene(state, {1920, 1080, 8, 100, 8, DISPLACEMENT_ROTATION, COLOR_ICON_LAYER, 0});
}
// (b) the same at 16 bits with "Both", "Displacement" colour and the border on.
void BM_Scene_b_1080p_16bit_both_colour_border(benchmark::State& state) {
  RenderScene(state, {1920, 1080, 16, 100, 8, DISPLACEMENT_BOTH, COLOR_DISPLACEMENT, 1});
}
// (c) 3840×2160, 8 bits, a 64×64 icon, 100 units.
void BM_Scene_c_2160p_8bit_100units(benchmark::State& state) {
  RenderScene(state, {3840, 2160, 8, 64, 100, DISPLACEMENT_ROTATION, COLOR_ICON_LAYER, 0});
}

BENCHMARK(BM_Scene_a_1080p_8bit_8units)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Scene_b_1080p_16bit_both_colour_border)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_Scene_c_2160p_8bit_100units)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
