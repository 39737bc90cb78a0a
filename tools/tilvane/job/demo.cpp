#include "tools/tilvane/job/demo.h"

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <utility>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/frame_pattern.h"
#include "tools/tilvane/core/pixel_rows.h"
#include "tools/tilvane/job/controls.h"
#include "tools/tilvane/job/render_job.h"
#include "tools/tilvane/job/threads.h"
#include "tools/tilvane/output/image_writer.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;

struct Rgba {
  double r, g, b, a;  // straight, 0 to 1
};

void Put(standin::World& world, int32_t x, int32_t y, const Rgba& c) {
  WithPixel(world.depth(), [&](auto pixel) {
    using Pixel = decltype(pixel);
    const auto level = [](double v) {
      return static_cast<int32_t>(std::lround(std::clamp(v, 0.0, 1.0) * PixelDepth<Pixel>::kFull));
    };
    const int32_t straight[4] = {level(c.r), level(c.g), level(c.b), level(c.a)};
    *RowOf<Pixel>(world, y, x) = Premultiplied<Pixel>(straight, true);
  });
}

// A right-pointing arrow, turned by `turn` (in turns), in an icon of the
// demo's 16:9 cell: gold shaft, coral head, soft edges, and a transparent
// margin wide enough that the arrow never touches the icon's edge as it turns.
standin::WorldPtr Arrow(int32_t width, int32_t height, int depth, double turn) {
  auto world = std::make_shared<standin::World>(width, height, depth);
  const double cx = (width - 1) / 2.0;
  const double cy = (height - 1) / 2.0;
  const double unit = height * 0.42;  // the arrow spans two units, tail to tip
  const double angle = turn * 2 * std::numbers::pi;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      // Into the arrow's own frame (u along it, v across), in units.
      const double dx = (x - cx) / unit;
      const double dy = (y - cy) / unit;
      const double u = dx * std::cos(angle) + dy * std::sin(angle);
      const double v = -dx * std::sin(angle) + dy * std::cos(angle);
      // Signed distances (inside negative): the shaft, then the head's triangle.
      const double shaft = std::max({-1.0 - u, u - 0.15, std::fabs(v) - 0.17});
      const double head = std::max({0.1 - u, u - 1.0, std::fabs(v) - 0.55 * (1.0 - u) / 0.9});
      const double inside = std::min(shaft, head);
      const double alpha = std::clamp(0.5 - inside * unit / 1.5, 0.0, 1.0);
      const double t = std::clamp((u + 1.0) / 2.0, 0.0, 1.0);  // tail 0, tip 1
      const Rgba c = head < shaft ? Rgba{0.98, 0.36 + 0.1 * t, 0.32, alpha}
                                  : Rgba{1.0, 0.78 - 0.15 * t, 0.25 + 0.1 * t, alpha};
      Put(*world, x, y, c);
    }
  }
  return world;
}

// A landscape of soft shapes: overlapping round hills and hollows of several
// sizes over a gentle slope, so that neighbouring cells differ a little and
// distant ones a lot.
standin::WorldPtr Landscape(int32_t width, int32_t height, int depth) {
  struct Hill {
    double x, y, radius, height;
  };
  static const Hill kHills[] = {
      {0.18, 0.30, 0.16, 0.55},  {0.42, 0.72, 0.20, 0.45}, {0.70, 0.28, 0.14, -0.40},
      {0.86, 0.70, 0.18, 0.50},  {0.55, 0.45, 0.08, 0.35}, {0.08, 0.85, 0.12, -0.30},
      {0.30, 0.05, 0.10, -0.25}, {0.95, 0.10, 0.10, 0.30},
  };
  auto world = std::make_shared<standin::World>(width, height, depth);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const double fx = static_cast<double>(x) / width;
      const double fy = static_cast<double>(y) / height * height / width * 16.0 / 9.0;
      double l = 0.35 + 0.2 * fx;
      for (const Hill& h : kHills) {
        const double d2 = (fx - h.x) * (fx - h.x) + (fy - h.y) * (fy - h.y);
        l += h.height * std::exp(-d2 / (2 * h.radius * h.radius));
      }
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

// The icon's cell is 16:9, so the pictures are too; the output height is
// chosen from the grid so that its last row is whole: the rows keep the icon's
// aspect and the columns span the width.
constexpr int32_t kIconWidth = 160;
constexpr int32_t kIconHeight = 91;
int32_t GridHeight(int32_t width) {
  return static_cast<int32_t>(int64_t{width - 1} * (kIconHeight - 1) / (kIconWidth - 1)) + 2;
}

// The frames of the demo's sequence.
constexpr int kSequenceFrames = 24;

// The background the contact sheet and the GIF are laid on.
constexpr PF_Pixel kBackground{255, 24, 26, 34};

// Pixel (x, y) of the frame over the background, at 8 bits.
PF_Pixel OverBackground(const standin::World& frame, int32_t x, int32_t y) {
  const PF_Pixel& p = frame.at8(x, y);
  const auto over = [&](int32_t c, int32_t b) {
    return static_cast<A_u_char>(c + (b * (255 - p.alpha) + 127) / 255);
  };
  return PF_Pixel{255, over(p.red, kBackground.red), over(p.green, kBackground.green),
                  over(p.blue, kBackground.blue)};
}

standin::WorldPtr ReadBack(const std::string& file) {
  return Layer::Open("demo", file)->decode(0, 8);
}

// Writes the frames, over the background, as one looping animated GIF.
void WriteGif(const std::vector<std::string>& frames, const std::string& file, int fps) {
  std::vector<standin::WorldPtr> worlds;
  for (const std::string& f : frames) worlds.push_back(ReadBack(f));
  const int32_t w = worlds[0]->width();
  const int32_t h = worlds[0]->height();
  OIIO::ImageSpec spec(w, h, 3, OIIO::TypeDesc::UINT8);
  spec.attribute("FramesPerSecond", OIIO::TypeRational, std::array<int, 2>{fps, 1}.data());
  spec.attribute("oiio:Movie", 1);
  spec.attribute("gif:LoopCount", 0);  // forever
  const std::vector<OIIO::ImageSpec> specs(worlds.size(), spec);
  auto out = OIIO::ImageOutput::create(file);
  bool ok = out && out->open(file, static_cast<int>(specs.size()), specs.data());
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
  for (size_t i = 0; ok && i < worlds.size(); ++i) {
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const PF_Pixel p = OverBackground(*worlds[i], x, y);
        unsigned char* q = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        q[0] = p.red, q[1] = p.green, q[2] = p.blue;
      }
    }
    if (i > 0) ok = out->open(file, spec, OIIO::ImageOutput::AppendSubimage);
    ok = ok && out->write_image(OIIO::TypeDesc::UINT8, rgb.data());
  }
  if (!ok || !out->close()) {
    throw UsageError("-o '" + file + "' cannot be written (" +
                     (out ? out->geterror() : OIIO::geterror()) + "); check the disk space");
  }
}

// The demo's renders, each through the same plug-in, controls table and options.
struct Demo {
  const standin::PluginLibrary& plugin;
  const std::vector<standin::RegisteredParam>& table;
  const DemoOptions& options;
  bool bar;

  void still(int32_t width, int depth, const Settings& settings, const std::string& file) const {
    Scene scene;
    scene.width = width;
    scene.height = GridHeight(width);
    scene.depth = depth;
    scene.icon = Layer::FromFrames({Arrow(kIconWidth, kIconHeight, depth, 0.0)});
    scene.displacement = Layer::FromFrames({Landscape(scene.width, scene.height, depth)});
    scene.controls = Controls(table, settings);
    CheckOutputPath(file);
    RenderFrames(plugin, scene, FrameJobs{0, 0, file, std::nullopt, 0}, options.threads, bar);
  }

  // A contact sheet of the main mappings, three by two, left to right and top
  // to bottom: "Rotation", "Scale", "Both", "Color Mapping", "Transparency
  // Mapping" and a border. Each panel is rendered to `scratch` and read back.
  void contactSheet(const std::string& file, const std::string& scratch) const {
    const std::vector<Settings> panels = {
        {{"--displacement-effect", "rotation"}},
        {{"--displacement-effect", "scale"},
         {"--effect-intensity", "90"},
         {"--scale-offset", "20"}},
        {{"--displacement-effect", "both"}, {"--effect-intensity", "85"}, {"--scale-offset", "25"}},
        {{"--displacement-effect", "none"},
         {"--color-mapping", "displacement"},
         {"--color-a", "ffd166"},
         {"--color-b", "7b2cbf"}},
        {{"--displacement-effect", "none"}, {"--transparency-mapping", "displacement"}},
        {{"--displacement-effect", "rotation"}, {"--border", "on"}, {"--border-color", "3a86ff"}},
    };
    constexpr int32_t kPanelWidth = 480;
    constexpr int32_t kGap = 12;
    const int32_t panelHeight = GridHeight(kPanelWidth);
    standin::World sheet(3 * kPanelWidth + 4 * kGap, 2 * panelHeight + 3 * kGap, 8);
    sheet.fill(PF_Pixel16{kBackground.alpha, kBackground.red, kBackground.green, kBackground.blue});
    for (size_t i = 0; i < panels.size(); ++i) {
      Settings settings = panels[i];
      settings.emplace_back("--units", "8");
      still(kPanelWidth, 8, settings, scratch);
      const standin::WorldPtr panel = ReadBack(scratch);
      std::error_code ec;
      std::filesystem::remove(scratch, ec);
      const int32_t left = kGap + static_cast<int32_t>(i % 3) * (kPanelWidth + kGap);
      const int32_t top = kGap + static_cast<int32_t>(i / 3) * (panelHeight + kGap);
      for (int32_t y = 0; y < panel->height(); ++y) {
        for (int32_t x = 0; x < panel->width(); ++x) {
          sheet.at8(left + x, top + y) = OverBackground(*panel, x, y);
        }
      }
    }
    WriteImage(sheet, file);
  }

  // An arrow that turns once in twelve frames; "Horizontal Units" starts each
  // column one frame later and "Time Offset" shifts every cell a little more,
  // while the landscape scales the cells. Returns the frames' files.
  std::vector<std::string> sequence(const FramePattern& pattern) const {
    constexpr int kIconFrames = 12;
    Scene scene;
    scene.width = 960;
    scene.height = GridHeight(scene.width);
    std::vector<standin::WorldPtr> spin;
    for (int i = 0; i < kIconFrames; ++i) {
      spin.push_back(Arrow(kIconWidth, kIconHeight, 8, static_cast<double>(i) / kIconFrames));
    }
    scene.icon = Layer::FromFrames(std::move(spin));
    scene.displacement = Layer::FromFrames({Landscape(scene.width, scene.height, 8)});
    // The icon time wraps at one step before the total time: one more than the
    // icon's frames shows each of them once per cycle.
    scene.duration = kIconFrames + 1;
    scene.controls = Controls(table, {{"--units", "10"},
                                      {"--displacement-effect", "scale"},
                                      {"--effect-intensity", "80"},
                                      {"--scale-offset", "30"},
                                      {"--time-mapping", "horizontal-units"},
                                      {"--time-offset", "40"}});
    const FrameJobs jobs{0, kSequenceFrames - 1, "", pattern, 0};
    CheckOutputPath(jobs.path(0));
    RenderFrames(plugin, scene, jobs, options.threads, bar);
    std::vector<std::string> frames;
    for (size_t i = 0; i < jobs.size(); ++i) frames.push_back(jobs.path(i));
    return frames;
  }
};

}  // namespace

std::vector<std::string> RunDemo(const standin::PluginLibrary& plugin,
                                 const std::vector<standin::RegisteredParam>& table,
                                 const DemoOptions& options) {
  namespace fs = std::filesystem;
  // The sequence's frames share the cores; the stills take the same threads
  // per frame, since they are fixed before any thread starts.
  FixThreadsPerFrame(FramesAtOnce(options.threads, kSequenceFrames));
  std::error_code ec;
  fs::create_directories(options.directory, ec);
  if (!fs::is_directory(options.directory) || access(options.directory.c_str(), W_OK) != 0) {
    throw UsageError("-o '" + options.directory +
                     "': cannot create or write this directory; choose another place");
  }
  const auto path = [&](const std::string& name) {
    return (fs::path(options.directory) / name).string();
  };
  const Demo demo{plugin, table, options, !options.quiet && isatty(2)};
  std::vector<std::string> written;
  // Two stills: at 8 bits the arrows keep their colours and turn with the
  // landscape's brightness; at 16 bits they also grow with it and take their
  // colour between two colours by it.
  written.push_back(path("demo-rotation.png"));
  demo.still(
      1280, 8,
      {{"--units", "12"}, {"--displacement-effect", "rotation"}, {"--effect-intensity", "100"}},
      written.back());
  written.push_back(path("demo-scale-colour.png"));
  demo.still(1280, 16,
             {{"--units", "12"},
              {"--displacement-effect", "both"},
              {"--effect-intensity", "85"},
              {"--scale-offset", "25"},
              {"--color-mapping", "displacement"},
              {"--color-a", "ffd166"},
              {"--color-b", "3a86ff"}},
             written.back());
  written.push_back(path("demo-contact-sheet.png"));
  demo.contactSheet(written.back(), path(".demo-panel.png"));
  const std::vector<std::string> frames =
      demo.sequence(*FramePattern::Find(path("demo-sequence.####.png")));
  written.push_back(path("demo-sequence.gif"));
  WriteGif(frames, written.back(), 12);
  written.insert(written.end(), frames.begin(), frames.end());
  return written;
}

}  // namespace tilvane_tool
