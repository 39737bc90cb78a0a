#include "tools/tilvane/cli/request.h"

#include <charconv>
#include <limits>

#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/frame_pattern.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/job/threads.h"
#include "tools/tilvane/output/movie_writer.h"

namespace tilvane_tool {
namespace {

constexpr int64_t kMaxTime = std::numeric_limits<int32_t>::max();

int64_t ParseInteger(const std::string& flag, const std::string& text, int64_t min, int64_t max,
                     const std::string& what) {
  int64_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < min || n > max) {
    throw UsageError(flag + " '" + text + "' is not valid; give " + what);
  }
  return n;
}

std::pair<int32_t, int32_t> ParseSize(const std::string& text) {
  const size_t x = text.find_first_of("xX");
  const std::string what = "WIDTHxHEIGHT with each from 1 to 32768, e.g. 1920x1080";
  if (x == std::string::npos) throw UsageError("--size '" + text + "' is not valid; give " + what);
  try {
    return {static_cast<int32_t>(ParseInteger("--size", text.substr(0, x), 1, 32768, what)),
            static_cast<int32_t>(ParseInteger("--size", text.substr(x + 1), 1, 32768, what))};
  } catch (const UsageError&) {
    throw UsageError("--size '" + text + "' is not valid; give " + what);
  }
}

// The size, depth, times and PNG encoding.
void ParseScene(const RenderArgs& args, RenderRequest& request) {
  if (!args.size.empty()) request.size = ParseSize(args.size);
  if (args.depth != "8" && args.depth != "16") {
    throw UsageError("--depth '" + args.depth + "' is not valid; give 8 or 16");
  }
  request.depth = args.depth == "16" ? 16 : 8;
  const int64_t step =
      ParseInteger("--time-step", args.timeStep, 1, kMaxTime, "a whole number of at least 1");
  request.timeStep = static_cast<int32_t>(step);
  request.timeScale = static_cast<uint32_t>(
      args.timeScale.empty()
          ? std::min<int64_t>(30 * step, std::numeric_limits<uint32_t>::max())
          : ParseInteger("--time-scale", args.timeScale, 1, std::numeric_limits<uint32_t>::max(),
                         "a whole number of at least 1"));
  const int64_t duration =
      ParseInteger("--duration", args.duration, 1, kMaxTime / step,
                   "a whole number of frames from 1 to " + std::to_string(kMaxTime / step));
  request.totalTime = static_cast<int32_t>(duration * step);
  request.threads = ParseThreads(args.threads);
  if (!args.pngCompression.empty()) {
    request.png.compression =
        static_cast<int>(ParseInteger("--png-compression", args.pngCompression, 0, 9,
                                      "a whole number from 0 (none) to 9 (smallest)"));
  }
  if (!args.pngFilter.empty()) {
    const auto filter = PngFilterNamed(args.pngFilter);
    if (!filter) {
      throw UsageError("--png-filter '" + args.pngFilter + "' is not valid; give " +
                       PngFilterNames());
    }
    request.png.filter = *filter;
  }
}

// The frames and where they go.
void ParseFrames(const RenderArgs& args, RenderRequest& request) {
  const int64_t last = kMaxTime / request.timeStep;
  const std::string frameLimit =
      "a whole number from 0 to " + std::to_string(last) + " (frame × time step must fit)";
  std::vector<int64_t> frames;
  request.movie = IsMovieOutput(args.output);
  const auto pattern = request.movie ? std::nullopt : FramePattern::Find(args.output);
  if (request.movie && FramePattern::Find(args.output)) {
    throw UsageError("-o " + Quoted(args.output) +
                     ": a movie holds every frame in one file; take the frame number (#### or "
                     "%04d) out of its name");
  }
  if (!request.movie && (!args.codec.empty() || !args.quality.empty())) {
    throw UsageError(std::string(args.codec.empty() ? "--quality" : "--codec") +
                     " applies to movies only; end -o with " + MovieExtensions() +
                     ", or leave it out");
  }
  if (!args.quality.empty()) {
    request.quality = static_cast<int>(
        ParseInteger("--quality", args.quality, 0, 100, "a whole number from 0 to 100"));
  }
  if (!args.frames.empty()) {
    const size_t dash = args.frames.find('-', 1);
    const std::string what =
        "a range A-B of frames with A <= B, each from 0 to " + std::to_string(last);
    if (dash == std::string::npos) {
      throw UsageError("--frames '" + args.frames + "' is not valid; give " + what);
    }
    const int64_t a = ParseInteger("--frames", args.frames.substr(0, dash), 0, last, what);
    const int64_t b = ParseInteger("--frames", args.frames.substr(dash + 1), 0, last, what);
    if (a > b) throw UsageError("--frames '" + args.frames + "' is not valid; give " + what);
    if (!pattern && !request.movie) {
      throw UsageError("-o '" + args.output +
                       "' has no frame number for a range; put #### or %04d where it goes, "
                       "e.g. out.####.png");
    }
    for (int64_t f = a; f <= b; ++f) frames.push_back(f);
  } else {
    frames.push_back(ParseInteger("--frame", args.frame, 0, last, frameLimit));
  }
  for (int64_t f : frames) request.jobs.push_back({f, pattern ? pattern->name(f) : args.output});
  CheckOutputPath(request.jobs.front().path);
}

void AddLayerOptions(CLI::App& render, LayerOptions& layers) {
  render
      .add_option("--fit-displacement", layers.fitDisplacement,
                  "A displacement layer of another size than the output: none (its own size), "
                  "stretch (resized to the output) or fill (keeps its aspect, cropped)")
      ->type_name("none|stretch|fill")
      ->capture_default_str();
  render.add_flag("--loop-icon", layers.loopIcon,
                  "An animated icon shorter than the duration repeats instead of holding its last "
                  "frame");
  // Taken as given, even empty, so that an empty name is refused rather than
  // read as no option at all.
  render
      .add_option_function<std::string>(
          "--input-colorspace",
          [&layers](const std::string& name) { layers.inputColorSpace = name; },
          "The colour space of the input files (default: the file's own tag, linear in a PNG or a "
          "colorSpace attribute in an EXR; else linear for EXR and floating-point files, sRGB "
          "for the others; raw: no conversion; 'tilvane info' lists the names)")
      ->type_name("NAME");
  render
      .add_option_function<std::string>(
          "--output-colorspace",
          [&layers](const std::string& name) { layers.outputColorSpace = name; },
          "The colour space of the output, which the file is tagged with (default: linear for "
          "EXR, sRGB for the others)")
      ->type_name("NAME");
}

void AddInputAndTimeOptions(CLI::App& render, RenderArgs& args) {
  render
      .add_option("--icon", args.icon,
                  "Icon layer: a still, a sequence (name.####.png) or a movie. Its edge "
                  "pixels extend across the cell, so give icons a transparent margin")
      ->type_name("PATH");
  render.add_option("--displacement", args.displacement, "Displacement layer, as --icon")
      ->type_name("PATH");
  render
      .add_option("-o,--output", args.output,
                  "Output image (PNG, TIFF, EXR or JPEG) or movie (.mov, .mp4, .webm, .mkv, "
                  ".gif)")
      ->type_name("PATH")
      ->required();
  render
      .add_option("--size", args.size,
                  "WIDTHxHEIGHT (default: the displacement layer's, else the icon's)")
      ->type_name("WxH");
  render.add_option("--depth", args.depth, "Bits per channel, 8 or 16")
      ->type_name("8|16")
      ->capture_default_str();
  render.add_option("--time-step", args.timeStep, "Host time units per frame")
      ->type_name("S")
      ->capture_default_str();
  render
      .add_option("--time-scale", args.timeScale, "Host time units per second (default 30 x step)")
      ->type_name("TS");
  render
      .add_option("--duration", args.duration,
                  "The layer's length in frames: total time = N x step")
      ->type_name("N")
      ->capture_default_str();
  CLI::Option* frame =
      render.add_option("--frame", args.frame, "The frame to render: current time = F x step")
          ->type_name("F")
          ->capture_default_str();
  render.add_option("--frames", args.frames, "A range A-B; the output name needs #### or %04d")
      ->type_name("A-B")
      ->excludes(frame);
  render.add_option("--threads", args.threads, kThreadsHelp)->type_name("N");
}

void AddOutputOptions(CLI::App& render, RenderArgs& args) {
  render
      .add_option("--codec", args.codec,
                  "A movie's codec: .mov prores-4444 (default), png or prores-422; .mp4 h264 "
                  "(default) or hevc; .webm vp9; .mkv ffv1; .gif gif")
      ->type_name("NAME");
  render
      .add_option("--quality", args.quality,
                  "A movie's quality, 0-100, on its codec's own scale: crf for h264, hevc and "
                  "vp9, the profile for ProRes, the dithering for GIF (default: each codec's "
                  "own)")
      ->type_name("0-100");
  render
      .add_option("--png-compression", args.pngCompression,
                  "zlib's level for PNG outputs, 0 (fastest, largest) to 9 (smallest, slowest)")
      ->type_name("0-9")
      ->default_str(std::to_string(kDefaultPngCompression));
  render
      .add_option("--png-filter", args.pngFilter,
                  "libpng's row filter for PNG outputs: none (fastest; smallest for icons on a "
                  "flat or transparent ground), sub, up, average, paeth, or adaptive (tries "
                  "each on every row; often smaller for photographic icons in large cells)")
      ->type_name("NAME")
      ->default_str(PngFilterName(kDefaultPngFilter));
  render.add_flag("--quiet", args.quiet, "No progress bar or summary");
  render
      .add_option("--settings", args.settings,
                  "Read the options and controls from a JSON file, as --save-settings writes "
                  "it; options on the command line override the file")
      ->type_name("FILE");
  render
      .add_option("--save-settings", args.saveSettings,
                  "Write every option and control of this render, defaults included, to a JSON "
                  "file (before rendering)")
      ->type_name("FILE.json");
  render.add_flag("-n,--no-overwrite", args.noOverwrite,
                  "Refuse to replace existing outputs (checked before anything renders)");
}

}  // namespace

void AddDemoOptions(CLI::App& demo, DemoOptions& options, std::string& threads) {
  demo.add_option("-o,--output", options.directory, "Directory for the pictures")
      ->type_name("DIR")
      ->capture_default_str();
  demo.add_option("--threads", threads, kThreadsHelp)->type_name("N");
  demo.add_flag("--quiet", options.quiet, "No progress bar");
}

void AddRenderOptions(CLI::App& render, RenderArgs& args) {
  AddInputAndTimeOptions(render, args);
  AddOutputOptions(render, args);
  AddLayerOptions(render, args.layers);
  for (const std::string& key : SettingsRenderKeys()) {
    // Settings keys are option names: a renamed option must rename its key.
    if (!render.get_option_no_throw("--" + key)) {
      throw std::logic_error("settings key " + key + " is no render option");
    }
  }
}

void AddControlOptions(CLI::App& render, std::vector<ControlOption>& controls) {
  for (ControlOption& c : controls) {
    if (c.param.def.param_type == PF_Param_CHECKBOX) {
      // One option under both names, so that the last one given wins.
      const std::string off = "--no-" + c.flag.substr(2);
      render.add_flag(c.flag + ",!" + off, c.checked, "Turn " + c.help() + "; " + off + " off")
          ->each([&c](const std::string&) { c.given = true; });
    } else {
      const PF_ParamType type = c.param.def.param_type;
      render
          .add_option_function<std::string>(
              c.flag, [&c](const std::string& text) { c.text = text, c.given = true; }, c.help())
          ->type_name(type == PF_Param_POPUP    ? "CHOICE"
                      : type == PF_Param_COLOR  ? "RRGGBB"
                      : type == PF_Param_SLIDER ? "N"
                                                : "X");
    }
  }
}

int ParseThreads(const std::string& text) {
  if (text.empty()) return DefaultFrameThreads();
  return static_cast<int>(
      ParseInteger("--threads", text, 1, 1024, "a whole number from 1 to 1024"));
}

RenderRequest ParseRequest(const RenderArgs& args) {
  RenderRequest request;
  request.icon = args.icon;
  request.displacement = args.displacement;
  request.output = args.output;
  request.codec = args.codec;
  request.quiet = args.quiet;
  request.noOverwrite = args.noOverwrite;
  ParseScene(args, request);
  ParseFrames(args, request);
  return request;
}

}  // namespace tilvane_tool
