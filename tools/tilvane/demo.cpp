#include "tools/tilvane/demo.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <utility>

#include "tools/tilvane/controls.h"
#include "tools/tilvane/errors.h"
#include "tools/tilvane/image_io.h"
#include "tools/tilvane/pixels.h"
#include "tools/tilvane/render_job.h"

namespace tilvane_tool {
namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;

struct Rgba {
  double r, g, b, a;  // straight, 0 to 1
};

void Put(standin::World& world, int32_t x, int32_t y, const Rgba& c) {
  const int32_t full = FullScale(world.depth());
  auto level = [full](double v) {
    return static_cast<int32_t>(std::lround(std::clamp(v, 0.0, 1.0) * full));
  };
  const int32_t a = level(c.a);
  const int32_t r = Premultiply(level(c.r), a, full);
  const int32_t g = Premultiply(level(c.g), a, full);
  const int32_t b = Premultiply(level(c.b), a, full);
  if (world.depth() == 16) {
    world.at16(x, y) = PF_Pixel16{static_cast<A_u_short>(a), static_cast<A_u_short>(r),
                                  static_cast<A_u_short>(g), static_cast<A_u_short>(b)};
  } else {
    world.at8(x, y) = PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(r),
                               static_cast<A_u_char>(g), static_cast<A_u_char>(b)};
  }
}

// A five-petalled flower turned by `turn` (in turns): gold at the heart, coral
// at the tips, fading to transparent well inside the frame's edges.
standin::WorldPtr Glyph(int32_t size, int depth, double turn) {
  auto world = std::make_shared<standin::World>(size, size, depth);
  const double centre = (size - 1) / 2.0;
  for (int32_t y = 0; y < size; ++y) {
    for (int32_t x = 0; x < size; ++x) {
      const double u = (x - centre) / (size / 2.0);
      const double v = (y - centre) / (size / 2.0);
      const double rho = std::hypot(u, v);
      const double theta = std::atan2(v, u) - turn * 2 * std::numbers::pi;
      const double edge = 0.64 + 0.28 * std::cos(5 * theta);
      const double alpha = std::clamp((edge - rho) / 0.07, 0.0, 1.0);
      const double t = std::clamp(rho / edge, 0.0, 1.0);
      const double shine =
          0.4 * std::exp(-((u + 0.18) * (u + 0.18) + (v + 0.2) * (v + 0.2)) / 0.03);
      Put(*world, x, y,
          Rgba{1.0 - 0.05 * t + shine, 0.86 - 0.5 * t + shine, 0.35 + 0.1 * t + shine, alpha});
    }
  }
  return world;
}

// Soft waves and a ring: grey levels that change smoothly across the frame.
standin::WorldPtr Waves(int32_t width, int32_t height, int depth) {
  auto world = std::make_shared<standin::World>(width, height, depth);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const double fx = static_cast<double>(x) / width;
      const double fy = static_cast<double>(y) / height;
      const double ring = std::hypot(fx - 0.62, (fy - 0.45) * height / width);
      const double l = 0.5 + 0.3 * std::sin(2 * std::numbers::pi * (1.3 * fx + 0.4 * fy)) +
                       0.2 * std::cos(2 * std::numbers::pi * ring / 0.35);
      Put(*world, x, y, Rgba{l, l, l, 1});
    }
  }
  return world;
}

std::vector<ControlValue> Controls(const std::vector<standin::RegisteredParam>& table,
                                   const Settings& settings) {
  std::vector<ControlOption> options = ControlOptions(table);
  for (const auto& [flag, text] : settings) {
    bool found = false;
    for (ControlOption& option : options) {
      if (option.flag == flag) {
        option.text = text;
        option.given = found = true;
        option.checked = text == "on";
      }
    }
    if (!found) {
      throw UsageError("the plug-in has no control " + flag +
                       " that the demo sets; load the plug-in this tool was built with");
    }
  }
  return ParseControls(options);
}

}  // namespace

std::vector<std::string> RunDemo(const standin::PluginLibrary& plugin,
                                 const std::vector<standin::RegisteredParam>& table,
                                 const DemoOptions& options) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(options.directory, ec);
  if (!fs::is_directory(options.directory) || access(options.directory.c_str(), W_OK) != 0) {
    throw UsageError("-o '" + options.directory +
                     "': cannot create or write this directory; choose another place");
  }
  const auto path = [&](const std::string& name) {
    return (fs::path(options.directory) / name).string();
  };
  const bool bar = !options.quiet && isatty(2);
  std::vector<std::string> written;

  // Two stills over one layout: the 8-bit one keeps the icon's colours and
  // turns each cell by the brightness; the 16-bit one scales and turns it and
  // colours it between two colours.
  for (const int depth : {8, 16}) {
    Scene scene;
    scene.width = 400;
    scene.height = 225;
    scene.depth = depth;
    scene.icon = LayerFile::FromFrames({Glyph(64, depth, 0.0)});
    scene.displacement = LayerFile::FromFrames({Waves(scene.width, scene.height, depth)});
    scene.controls = depth == 8 ? Controls(table, {{"--units", "12"},
                                                   {"--displacement-effect", "rotation"},
                                                   {"--effect-intensity", "70"}})
                                : Controls(table, {{"--units", "9"},
                                                   {"--displacement-effect", "both"},
                                                   {"--effect-intensity", "60"},
                                                   {"--scale-offset", "45"},
                                                   {"--color-mapping", "displacement"},
                                                   {"--color-a", "ffd166"},
                                                   {"--color-b", "3a86ff"}});
    const std::string file = path(depth == 8 ? "demo-8bit.png" : "demo-16bit.png");
    CheckOutputPath(file);
    RenderFrames(plugin, scene, {{0, file}}, options.threads, bar);
    written.push_back(file);
  }

  // An icon that turns through twelve frames; "Horizontal Units" starts each
  // column one frame later and "Time Offset" shifts every cell a little more.
  constexpr int kIconFrames = 12;
  constexpr int kFrames = 24;
  Scene scene;
  scene.width = 320;
  scene.height = 180;
  std::vector<standin::WorldPtr> spin;
  // A fifth of a turn brings the flower back onto itself: the spin loops.
  for (int i = 0; i < kIconFrames; ++i) spin.push_back(Glyph(48, 8, i / (5.0 * kIconFrames)));
  scene.icon = LayerFile::FromFrames(std::move(spin));
  scene.displacement = LayerFile::FromFrames({Waves(scene.width, scene.height, 8)});
  // The icon time wraps at one step before the total time: one more than the
  // icon's frames shows each of them once per cycle.
  scene.totalTime = kIconFrames + 1;
  scene.controls = Controls(table, {{"--units", "8"},
                                    {"--displacement-effect", "scale"},
                                    {"--effect-intensity", "50"},
                                    {"--scale-offset", "60"},
                                    {"--time-mapping", "horizontal-units"},
                                    {"--time-offset", "40"}});
  const FramePattern pattern = *FramePattern::Find(path("demo-sequence.####.png"));
  std::vector<FrameJob> jobs;
  for (int f = 0; f < kFrames; ++f) jobs.push_back({f, pattern.name(f)});
  CheckOutputPath(jobs[0].path);
  RenderFrames(plugin, scene, jobs, options.threads, bar);
  for (const FrameJob& job : jobs) written.push_back(job.path);
  return written;
}

}  // namespace tilvane_tool
