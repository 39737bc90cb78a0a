// The benchmark scenes and what both timing programs need to render them:
// the plug-in through the stand-in host beside the literal model, the
// window-pixel counts, the plug-in's overrides and a median.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "standin/frame_source.h"
#include "standin/host.h"
#include "standin/world.h"
#include "tests/support/literal_model.h"

namespace tilvane_bench {

struct Scene {
  const char* id;     // "a", "b", "c"
  const char* label;  // what the scene is, for reports
  int32_t width;
  int32_t height;
  int depth;
  int32_t iconSize;
  int32_t units;
  int32_t displacementEffect;
  int32_t colorMapping;
  int32_t border;
};

// (a) 1920×1080, 8 bits, a 100×100 icon, 8 units, default settings;
// (b) the same at 16 bits with "Both", "Displacement" colour and the border;
// (c) 3840×2160, 8 bits, a 64×64 icon, 100 units. All over a gradient
// displacement layer and a still icon: an opaque disc with a colour ramp.
const std::array<Scene, 3>& Scenes();

struct WindowCounts {
  int64_t window;  // every pixel of every cell window
  int64_t walked;  // those the plug-in computes: it skips window rows and columns
                   // clamped onto the output's last row or column but the last
};
WindowCounts CountWindowPixels(const Scene& s);

// One scene, ready to render both ways: a host on the plug-in with the
// scene's parameters and layers, and the same settings for the model.
class SceneRig {
 public:
  // Throws std::runtime_error when the plug-in's parameter set-up fails.
  SceneRig(PF_EntryPointFunc entry, const Scene& scene);

  // One frame of the plug-in into pluginFrame(); the host keeps its log.
  PF_Err renderPlugin() { return host_.render(pluginOutput_); }
  // One frame of the literal model into modelFrame().
  void renderModel();

  standin::Host& host() { return host_; }
  const standin::World& pluginFrame() const { return pluginOutput_; }
  const standin::World& modelFrame() const { return modelOutput_; }

 private:
  tilvane_test::Settings settings_;
  standin::FrameSourcePtr icon_;
  standin::FrameSourcePtr displacement_;
  standin::Host host_;
  standin::World pluginOutput_;
  standin::World modelOutput_;
};

// The plug-in's overrides, read at each render: a SIMD path ("scalar",
// "sse2", "avx2", "avx512") or null for the best the CPU has, a worker
// count or 0 for every core, and whether the team shares every large cell
// (TILVANE_SHARING=always) rather than deciding for itself.
void SetRenderOverrides(const char* simd, int threads, bool alwaysShare);

// The table of the model beside the plug-in, as both timing programs print
// it: median milliseconds, their ratio, and whether the frames were the same
// ("identical", "DIFFER", or "-" when not both rendered; also "-" for a time
// of 0, a renderer that did not run).
void PrintModelTableHeader();
void PrintModelTableRow(const Scene& scene, double modelMs, double pluginMs, const char* frames);

// Seconds that fn takes on the steady clock.
template <typename Fn>
double SecondsOf(Fn&& fn) {
  const auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The median of the values (the mean of the middle two for an even count); 0 for none.
double Median(std::vector<double> values);

}  // namespace tilvane_bench
