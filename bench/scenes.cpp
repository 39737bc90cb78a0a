#include "bench/scenes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

#include "src/params/params.h"
#include "tests/support/scoped_env.h"

namespace tilvane_bench {
namespace {

using enum tilvane::ColorMapping;
using enum tilvane::DisplacementEffect;
using enum tilvane::ParamIndex;

int32_t Channel(int depth, int value255) {
  return depth == 16 ? (value255 * 32768 + 128) / 255 : value255;
}

void Put(standin::World& w, int32_t x, int32_t y, int a, int r, int g, int b) {
  const int d = w.depth();
  tilvane_test::Put(w, x, y, Channel(d, a), Channel(d, r), Channel(d, g), Channel(d, b));
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

tilvane_test::Settings SettingsOf(const Scene& scene) {
  tilvane_test::Settings s;
  s.units = scene.units;
  s.displacementEffect = scene.displacementEffect;
  s.colorMapping = scene.colorMapping;
  s.border = scene.border;
  return s;
}

}  // namespace

const std::array<Scene, 3>& Scenes() {
  static const std::array<Scene, 3> scenes{{
      {"a", "1920x1080 8-bit, 100x100 icon, 8 units, defaults", 1920, 1080, 8, 100, 8,
       DISPLACEMENT_ROTATION, COLOR_ICON_LAYER, 0},
      {"b", "1920x1080 16-bit, Both, Displacement colour, border", 1920, 1080, 16, 100, 8,
       DISPLACEMENT_BOTH, COLOR_DISPLACEMENT, 1},
      {"c", "3840x2160 8-bit, 64x64 icon, 100 units", 3840, 2160, 8, 64, 100, DISPLACEMENT_ROTATION,
       COLOR_ICON_LAYER, 0},
  }};
  return scenes;
}

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

SceneRig::SceneRig(PF_EntryPointFunc entry, const Scene& scene)
    : settings_(SettingsOf(scene)),
      icon_(standin::StillSource(MakeIcon(scene.iconSize, scene.depth))),
      displacement_(standin::StillSource(MakeGradient(scene.width, scene.height, scene.depth))),
      host_(entry),
      pluginOutput_(scene.width, scene.height, scene.depth),
      modelOutput_(scene.width, scene.height, scene.depth) {
  if (host_.paramsSetup() != PF_Err_NONE) {
    throw std::runtime_error("the plug-in's parameter set-up failed; check the plug-in file");
  }
  host_.setLayer(PARAM_ICON_LAYER, icon_);
  host_.setLayer(PARAM_DISPLACEMENT_LAYER, displacement_);
  host_.setInt(PARAM_UNITS, settings_.units);
  host_.setInt(PARAM_DISPLACEMENT_EFFECT, settings_.displacementEffect);
  host_.setInt(PARAM_COLOR_MAPPING, settings_.colorMapping);
  host_.setInt(PARAM_BORDER, settings_.border);
}

void SceneRig::renderModel() {
  tilvane_test::ModelRender(settings_, host_.time(), icon_.get(), displacement_.get(),
                            modelOutput_);
}

void SetRenderOverrides(const char* simd, int threads, bool alwaysShare) {
  using Value = std::optional<std::string>;
  tilvane_test::SetEnv("TILVANE_SIMD", simd != nullptr ? Value(simd) : std::nullopt);
  tilvane_test::SetEnv("TILVANE_THREADS",
                       threads > 0 ? Value(std::to_string(threads)) : std::nullopt);
  tilvane_test::SetEnv("TILVANE_SHARING", alwaysShare ? Value("always") : std::nullopt);
}

void PrintModelTableHeader() {
  std::printf("%-58s %10s %10s %9s  %s\n", "scene", "model ms", "plug-in ms", "ratio", "frames");
}

void PrintModelTableRow(const Scene& scene, double modelMs, double pluginMs, const char* frames) {
  std::printf("(%s) %-54s %10.2f %10.2f", scene.id, scene.label, modelMs, pluginMs);
  if (modelMs > 0 && pluginMs > 0) {
    std::printf(" %8.2fx", modelMs / pluginMs);
  } else {
    std::printf(" %9s", "-");
  }
  std::printf("  %s\n", frames);
  std::fflush(stdout);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

}  // namespace tilvane_bench
