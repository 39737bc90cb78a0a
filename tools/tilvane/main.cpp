// tilvane: renders the effect from files, outside the host, by driving the
// plug-in through the stand-in host.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

#include "src/frame/effect_info.h"
#include "src/render/render_options.h"
#include "standin/host.h"
#include "tools/tilvane/cli/command_line.h"
#include "tools/tilvane/cli/settings.h"
#include "tools/tilvane/core/colour.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/frame_pattern.h"
#include "tools/tilvane/job/controls.h"
#include "tools/tilvane/job/demo.h"
#include "tools/tilvane/job/render_job.h"
#include "tools/tilvane/output/movie_writer.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;

// The plug-in next to this executable: installed (lib/tilvane beside its
// bin), beside it, or in the build tree; else the one built with it.
std::string DefaultPluginPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const std::string file = fs::path(TILVANE_BUILT_PLUGIN).filename().string();
  if (!ec) {
    const fs::path bin = self.parent_path();
    for (const fs::path& dir : {bin / TILVANE_PLUGIN_DIR_FROM_BIN, bin, bin / "../.."}) {
      if (fs::exists(dir / file, ec)) return (dir / file).lexically_normal().string();
    }
  }
  return TILVANE_BUILT_PLUGIN;
}

// The plug-in as loaded, with its registered table; a failure is kept to be
// reported when a command needs the plug-in (help works without it).
struct LoadedPlugin {
  std::string path;
  std::unique_ptr<standin::PluginLibrary> library;
  std::unique_ptr<standin::Host> host;  // global and parameter set-up done
  std::exception_ptr failure;

  void require() const {
    if (failure) std::rethrow_exception(failure);
  }
  const std::vector<standin::RegisteredParam>& table() const {
    static const std::vector<standin::RegisteredParam> none;
    return host ? host->registered() : none;
  }
};

LoadedPlugin LoadPlugin(const std::string& path) {
  LoadedPlugin plugin;
  plugin.path = path;
  try {
    try {
      plugin.library = std::make_unique<standin::PluginLibrary>(path);
    } catch (const std::exception& e) {
      throw UsageError("--plugin '" + path + "' cannot be loaded (" + e.what() +
                       "); give the path of a built Tilvane plug-in");
    }
    plugin.host = SetUpHost(*plugin.library);
  } catch (...) {
    plugin.failure = std::current_exception();
  }
  return plugin;
}

// --plugin picked out before the full parse, since the controls offered are
// the ones the chosen plug-in registers.
std::string PluginArgument(int argc, char** argv) {
  CLI::App pre;
  pre.allow_extras();
  pre.set_help_flag();
  std::string path;
  pre.add_option("--plugin", path)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  try {
    pre.parse(argc, argv);
  } catch (const CLI::ParseError&) {
    // The full parse reports it.
  }
  return path.empty() ? DefaultPluginPath() : path;
}

std::string VersionText(unsigned packed);

int64_t ParseInteger(const std::string& flag, const std::string& text, int64_t min, int64_t max,
                     const std::string& what) {
  int64_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < min || n > max) {
    throw UsageError(flag + " '" + text + "' is not valid; give " + what);
  }
  return n;
}

struct RenderArgs {
  std::string icon, displacement, size, depth = "8";
  std::string timeStep = "1", timeScale, duration = "300", frame = "0", frames;
  std::string output, threads;
  std::string codec, quality;  // movies only
  std::string pngCompression, pngFilter;
  std::string saveSettings;
  bool quiet = false;
  bool noOverwrite = false;
};

// Every file the scene's layers read, to keep the outputs off them.
std::vector<InputFile> InputFiles(const Scene& scene) {
  std::vector<InputFile> files;
  for (const auto& [option, layer] :
       {std::pair{"--icon", scene.icon}, std::pair{"--displacement", scene.displacement}}) {
    if (!layer) continue;
    for (const std::string& file : layer->files()) files.push_back({option, file});
  }
  return files;
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

int DefaultThreads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

int ParseThreads(const std::string& text) {
  if (text.empty()) return DefaultThreads();
  return static_cast<int>(
      ParseInteger("--threads", text, 1, 1024, "a whole number from 1 to 1024"));
}

// The vector path and threads the plug-in takes for a frame here: its own
// reading of this CPU and of TILVANE_SIMD and TILVANE_THREADS.
std::string PathAndThreads() {
  const tilvane::RenderOptions options = tilvane::ReadRenderOptions();
  const tilvane::SimdPath best = tilvane::BestSimdPath();
  std::string text = std::string(tilvane::SimdPathName(options.simd)) + " path";
  if (options.simd != best) {
    text += std::string(" (TILVANE_SIMD; this CPU offers ") + tilvane::SimdPathName(best) + ")";
  }
  return text + ", " + std::to_string(options.threads) + " thread" +
         (options.threads == 1 ? "" : "s") + " per frame";
}

void PrintSummary(const RenderSummary& s) {
  std::printf("tilvane: rendered %lld frame%s in %.2f s (%.2f frames per second), %s\n",
              static_cast<long long>(s.frames), s.frames == 1 ? "" : "s", s.seconds,
              s.seconds > 0 ? static_cast<double>(s.frames) / s.seconds : 0.0,
              PathAndThreads().c_str());
  // Each displacement frame is resized once, however many output frames show it.
  if (s.fittedFrames > 0) {
    std::printf("tilvane: fitted %lld displacement frame%s to the output\n",
                static_cast<long long>(s.fittedFrames), s.fittedFrames == 1 ? "" : "s");
  }
}

// Everything the render uses, as settings a later run can read.
void SaveSettings(const LoadedPlugin& plugin, const RenderArgs& args, const LayerOptions& layers,
                  const std::vector<ControlOption>& controls, const Scene& scene,
                  std::optional<int> quality, bool movie) {
  if (Lower(fs::path(args.saveSettings).extension().string()) != ".json") {
    throw UsageError("--save-settings " + Quoted(args.saveSettings) +
                     ": end the name with .json (settings are written as JSON)");
  }
  SettingsRecord record;
  const auto textOrUnset = [&](const std::string& key, const std::string& value) {
    if (value.empty()) {
      record.unset(key);
    } else {
      record.text(key, value);
    }
  };
  textOrUnset("icon", args.icon);
  textOrUnset("displacement", args.displacement);
  record.text("output", args.output);
  record.text("size", std::to_string(scene.width) + "x" + std::to_string(scene.height));
  record.number("depth", scene.depth);
  record.number("time-step", scene.timeStep);
  record.number("time-scale", scene.timeScale);
  record.number("duration", scene.totalTime / scene.timeStep);
  if (args.frames.empty()) {
    record.number("frame", std::stoll(args.frame));
  } else {
    record.text("frames", args.frames);
  }
  record.text("fit-displacement", Lower(layers.fitDisplacement));
  record.flag("loop-icon", layers.loopIcon);
  record.number("png-compression", args.pngCompression.empty() ? kDefaultPngCompression
                                                               : std::stoi(args.pngCompression));
  // Checked before this is written; empty is the default.
  record.text("png-filter",
              PngFilterName(PngFilterNamed(args.pngFilter).value_or(kDefaultPngFilter)));
  textOrUnset("input-colorspace", layers.inputColourSpace.value_or(""));
  textOrUnset("output-colorspace", layers.outputColourSpace.value_or(""));
  if (movie) {
    record.text("codec", MovieCodecName(args.output, args.codec));
    if (quality) {
      record.number("quality", *quality);
    } else {
      record.unset("quality");
    }
  }
  record.controls(controls, scene.controls);
  record.save(args.saveSettings, std::string("tilvane ") + TILVANE_TOOL_VERSION, TILVANE_NAME,
              VersionText(plugin.host->outData().my_version));
}

// --settings FILE read into the arguments just after the command, so that the
// options given on the command line, which come after, win.
std::vector<std::string> WithSettings(std::vector<std::string> words, const LoadedPlugin& plugin,
                                      const std::vector<ControlOption>& controls,
                                      std::optional<LoadedSettings>& loaded) {
  const auto command = std::find(words.begin() + 1, words.end(), "render");
  if (command == words.end()) return words;
  std::string file;
  std::vector<std::string> given;
  for (auto it = command + 1; it != words.end(); ++it) {
    if (it->size() < 2 || (*it)[0] != '-') continue;
    const std::string name = it->substr(0, it->find('='));
    if (name == "--settings") {
      file = name.size() < it->size() ? it->substr(name.size() + 1)
             : it + 1 != words.end()  ? *(it + 1)
                                      : "";
    }
    given.push_back(name);
  }
  if (file.empty()) return words;
  loaded = LoadSettings(file, controls, given,
                        plugin.host ? VersionText(plugin.host->outData().my_version) : "");
  words.insert(command + 1, loaded->args.begin(), loaded->args.end());
  return words;
}

int Render(const LoadedPlugin& plugin, const RenderArgs& args, const LayerOptions& layers,
           const std::vector<ControlOption>& controls) {
  constexpr int64_t kMaxTime = std::numeric_limits<int32_t>::max();
  Scene scene;
  std::optional<std::pair<int32_t, int32_t>> size;
  if (!args.size.empty()) size = ParseSize(args.size);
  if (args.depth != "8" && args.depth != "16") {
    throw UsageError("--depth '" + args.depth + "' is not valid; give 8 or 16");
  }
  scene.depth = args.depth == "16" ? 16 : 8;
  const int64_t step =
      ParseInteger("--time-step", args.timeStep, 1, kMaxTime, "a whole number of at least 1");
  scene.timeStep = static_cast<int32_t>(step);
  scene.timeScale = static_cast<uint32_t>(
      args.timeScale.empty()
          ? std::min<int64_t>(30 * step, std::numeric_limits<uint32_t>::max())
          : ParseInteger("--time-scale", args.timeScale, 1, std::numeric_limits<uint32_t>::max(),
                         "a whole number of at least 1"));
  const int64_t duration =
      ParseInteger("--duration", args.duration, 1, kMaxTime / step,
                   "a whole number of frames from 1 to " + std::to_string(kMaxTime / step));
  scene.totalTime = static_cast<int32_t>(duration * step);
  const int threads = ParseThreads(args.threads);
  if (!args.pngCompression.empty()) {
    SetPngCompression(
        static_cast<int>(ParseInteger("--png-compression", args.pngCompression, 0, 9,
                                      "a whole number from 0 (none) to 9 (smallest)")));
  }
  if (!args.pngFilter.empty()) {
    const auto filter = PngFilterNamed(args.pngFilter);
    if (!filter) {
      throw UsageError("--png-filter '" + args.pngFilter + "' is not valid; give " +
                       PngFilterNames());
    }
    SetPngFilter(*filter);
  }

  // Frames and where they go.
  const std::string frameLimit = "a whole number from 0 to " + std::to_string(kMaxTime / step) +
                                 " (frame × time step must fit)";
  std::vector<int64_t> frames;
  const bool movie = IsMovieOutput(args.output);
  const auto pattern = movie ? std::nullopt : FramePattern::Find(args.output);
  if (movie && FramePattern::Find(args.output)) {
    throw UsageError("-o " + Quoted(args.output) +
                     ": a movie holds every frame in one file; take the frame number (#### or "
                     "%04d) out of its name");
  }
  if (!movie && (!args.codec.empty() || !args.quality.empty())) {
    throw UsageError(std::string(args.codec.empty() ? "--quality" : "--codec") +
                     " applies to movies only; end -o with " + MovieExtensions() +
                     ", or leave it out");
  }
  std::optional<int> quality;
  if (!args.quality.empty()) {
    quality = static_cast<int>(
        ParseInteger("--quality", args.quality, 0, 100, "a whole number from 0 to 100"));
  }
  if (!args.frames.empty()) {
    const size_t dash = args.frames.find('-', 1);
    const std::string what =
        "a range A-B of frames with A <= B, each from 0 to " + std::to_string(kMaxTime / step);
    if (dash == std::string::npos) {
      throw UsageError("--frames '" + args.frames + "' is not valid; give " + what);
    }
    const int64_t a =
        ParseInteger("--frames", args.frames.substr(0, dash), 0, kMaxTime / step, what);
    const int64_t b =
        ParseInteger("--frames", args.frames.substr(dash + 1), 0, kMaxTime / step, what);
    if (a > b) throw UsageError("--frames '" + args.frames + "' is not valid; give " + what);
    if (!pattern && !movie) {
      throw UsageError("-o '" + args.output +
                       "' has no frame number for a range; put #### or %04d where it goes, "
                       "e.g. out.####.png");
    }
    for (int64_t f = a; f <= b; ++f) frames.push_back(f);
  } else {
    frames.push_back(ParseInteger("--frame", args.frame, 0, kMaxTime / step, frameLimit));
  }
  std::vector<FrameJob> jobs;
  for (int64_t f : frames) jobs.push_back({f, pattern ? pattern->name(f) : args.output});
  CheckOutputPath(jobs.front().path);

  // The plug-in, its controls, then the layers.
  plugin.require();
  scene.controls = ParseControls(controls);
  OpenLayers(scene, args.icon, args.displacement, layers);
  if (!size) {
    const auto& layer = scene.displacement ? scene.displacement : scene.icon;
    if (!layer) {
      throw UsageError(
          "no output size: give --size WIDTHxHEIGHT, or an --icon or --displacement layer");
    }
    size = {layer->width(), layer->height()};
  }
  scene.width = size->first;
  scene.height = size->second;
  std::vector<std::string> outputs;
  for (const FrameJob& job : jobs) outputs.push_back(job.path);
  CheckOutputs(outputs, InputFiles(scene), args.noOverwrite);
  PrepareLayers(scene, layers, jobs);
  MakeOutputDirectory(jobs.front().path);  // a numbered output's frames share it
  if (!args.saveSettings.empty()) {
    SaveSettings(plugin, args, layers, controls, scene, quality, movie);
  }

  std::unique_ptr<MovieSink> sink;
  if (movie) {
    MovieOptions options;
    options.codec = args.codec;
    options.quality = quality;
    options.width = scene.width;
    options.height = scene.height;
    options.depth = scene.depth;
    options.timeStep = scene.timeStep;
    options.timeScale = scene.timeScale;
    options.frames = static_cast<int64_t>(jobs.size());
    options.colourSpace = scene.outputColourSpace;
    options.verbose = !args.quiet;
    // Room for every frame in flight and as many again waiting for the encoder.
    sink = std::make_unique<MovieSink>(args.output, options,
                                       2 * static_cast<size_t>(std::max(1, threads)));
  }
  const RenderSummary summary =
      RenderFrames(*plugin.library, scene, jobs, threads, !args.quiet, sink.get());
  if (sink) sink->finish();
  if (!args.quiet) PrintSummary(summary);
  return 0;
}

// The render options about layers and colour.
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
          [&layers](const std::string& name) { layers.inputColourSpace = name; },
          "The colour space of the input files (default: the file's own tag, linear in a PNG or a "
          "colorSpace attribute in an EXR; else linear for EXR and floating-point files, sRGB "
          "for the others; raw: no conversion; 'tilvane info' lists the names)")
      ->type_name("NAME");
  render
      .add_option_function<std::string>(
          "--output-colorspace",
          [&layers](const std::string& name) { layers.outputColourSpace = name; },
          "The colour space of the output, which the file is tagged with (default: linear for "
          "EXR, sRGB for the others)")
      ->type_name("NAME");
}

std::string VersionText(unsigned packed) {
  const unsigned major = ((packed >> 26) & 0xF) << 3 | ((packed >> 19) & 0x7);
  const unsigned minor = (packed >> 15) & 0xF;
  const unsigned bugfix = (packed >> 11) & 0xF;
  const unsigned stage = (packed >> 9) & 0x3;
  const unsigned build = packed & 0x1FF;
  static const char* const kStages[] = {"develop", "alpha", "beta", "release"};
  char text[96];
  std::snprintf(text, sizeof text, "%u.%u.%u (%s, build %u; packed 0x%X)", major, minor, bugfix,
                kStages[stage], build, packed);
  return text;
}

int Info(const LoadedPlugin& plugin) {
  plugin.require();
  standin::Host& host = *plugin.host;
  std::string about;
  if (PF_Err err = host.about()) {
    throw EffectFailed(err, "for its About message");
  }
  const PF_OutData& out = host.outData();
  about.assign(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg));
  for (char& c : about) {
    if (c == '\r') c = '\n';
  }
  // Name and category reach a host only through the PiPL resource of the
  // Windows build; here they come from the identity header that resource is made from.
  std::printf("Plug-in:   %s\n", plugin.path.c_str());
  std::printf("Name:      %s\n", TILVANE_NAME);
  std::printf("Match:     %s\n", TILVANE_MATCH_NAME);
  std::printf("Category:  %s\n", TILVANE_CATEGORY);
  std::printf("Version:   %s\n", VersionText(out.my_version).c_str());
  std::printf("Render:    %s\n", PathAndThreads().c_str());
  std::printf("About:\n  %s\n",
              [&] {
                std::string indented;
                for (char c : about)
                  indented += c == '\n' ? std::string("\n  ") : std::string(1, c);
                return indented;
              }()
                  .c_str());
  std::printf("Parameters (%zu, as registered at parameter set-up):\n%s", plugin.table().size(),
              DescribeParameters(plugin.table()).c_str());
  std::string spaces;
  for (const std::string& name : ColourSpaceNames()) spaces += (spaces.empty() ? "" : ", ") + name;
  std::printf("Colour spaces (--input-colorspace, --output-colorspace):\n  %s\n", spaces.c_str());
  return 0;
}

int Main(int argc, char** argv) {
  const LoadedPlugin plugin = LoadPlugin(PluginArgument(argc, argv));

  CLI::App app{"Renders the Tilvane mosaic effect from image files, outside the host.", "tilvane"};
  UseConventions(app);
  app.set_version_flag("--version", std::string("tilvane ") + TILVANE_TOOL_VERSION);
  app.fallthrough();
  std::string pluginPath;
  app.add_option("--plugin", pluginPath,
                 "The plug-in file to load (default: the one built beside this tool)")
      ->type_name("PATH");

  CLI::App* info = app.add_subcommand(
      "info", "Print the effect's name, version, About message and parameter table");

  DemoOptions demo;
  std::string demoThreads;
  CLI::App* demoCmd = app.add_subcommand("demo", "Render a built-in scene that needs no files");
  demoCmd->add_option("-o,--output", demo.directory, "Directory for the pictures")
      ->type_name("DIR")
      ->capture_default_str();
  demoCmd
      ->add_option("--threads", demoThreads,
                   "Frames rendered at once (default: cores). The cores are shared: each frame "
                   "renders on cores / N threads (at least 1), so one frame at a time uses them "
                   "all; TILVANE_THREADS, when set, fixes the threads of each frame instead")
      ->type_name("N");
  demoCmd->add_flag("--quiet", demo.quiet, "No progress bar");

  RenderArgs args;
  CLI::App* render =
      app.add_subcommand("render", "Render frames from icon and displacement layers");
  render
      ->add_option("--icon", args.icon,
                   "Icon layer: a still, a sequence (name.####.png) or a movie. Its edge "
                   "pixels extend across the cell, so give icons a transparent margin")
      ->type_name("PATH");
  render->add_option("--displacement", args.displacement, "Displacement layer, as --icon")
      ->type_name("PATH");
  render
      ->add_option("-o,--output", args.output,
                   "Output image (PNG, TIFF, EXR or JPEG) or movie (.mov, .mp4, .webm, .mkv, "
                   ".gif)")
      ->type_name("PATH")
      ->required();
  render
      ->add_option("--size", args.size,
                   "WIDTHxHEIGHT (default: the displacement layer's, else the icon's)")
      ->type_name("WxH");
  render->add_option("--depth", args.depth, "Bits per channel, 8 or 16")
      ->type_name("8|16")
      ->capture_default_str();
  render->add_option("--time-step", args.timeStep, "Host time units per frame")
      ->type_name("S")
      ->capture_default_str();
  render
      ->add_option("--time-scale", args.timeScale, "Host time units per second (default 30 x step)")
      ->type_name("TS");
  render
      ->add_option("--duration", args.duration,
                   "The layer's length in frames: total time = N x step")
      ->type_name("N")
      ->capture_default_str();
  CLI::Option* frame =
      render->add_option("--frame", args.frame, "The frame to render: current time = F x step")
          ->type_name("F")
          ->capture_default_str();
  render->add_option("--frames", args.frames, "A range A-B; the output name needs #### or %04d")
      ->type_name("A-B")
      ->excludes(frame);
  render
      ->add_option("--threads", args.threads,
                   "Frames rendered at once (default: cores). The cores are shared: each frame "
                   "renders on cores / N threads (at least 1), so one frame at a time uses them "
                   "all; TILVANE_THREADS, when set, fixes the threads of each frame instead")
      ->type_name("N");
  render
      ->add_option("--codec", args.codec,
                   "A movie's codec: .mov prores-4444 (default), png or prores-422; .mp4 h264 "
                   "(default) or hevc; .webm vp9; .mkv ffv1; .gif gif")
      ->type_name("NAME");
  render
      ->add_option("--quality", args.quality,
                   "A movie's quality, 0-100, on its codec's own scale: crf for h264, hevc and "
                   "vp9, the profile for ProRes, the dithering for GIF (default: each codec's "
                   "own)")
      ->type_name("0-100");
  render
      ->add_option("--png-compression", args.pngCompression,
                   "zlib's level for PNG outputs, 0 (fastest, largest) to 9 (smallest, slowest)")
      ->type_name("0-9")
      ->default_str(std::to_string(kDefaultPngCompression));
  render
      ->add_option("--png-filter", args.pngFilter,
                   "libpng's row filter for PNG outputs: none (fastest; smallest for icons on a "
                   "flat or transparent ground), sub, up, average, paeth, or adaptive (tries "
                   "each on every row; often smaller for photographic icons in large cells)")
      ->type_name("NAME")
      ->default_str(PngFilterName(kDefaultPngFilter));
  render->add_flag("--quiet", args.quiet, "No progress bar or summary");
  std::string settingsFile;
  render
      ->add_option("--settings", settingsFile,
                   "Read the options and controls from a JSON file, as --save-settings writes "
                   "it; options on the command line override the file")
      ->type_name("FILE");
  render
      ->add_option("--save-settings", args.saveSettings,
                   "Write every option and control of this render, defaults included, to a JSON "
                   "file (before rendering)")
      ->type_name("FILE.json");
  render->add_flag("-n,--no-overwrite", args.noOverwrite,
                   "Refuse to replace existing outputs (checked before anything renders)");
  LayerOptions layers;
  AddLayerOptions(*render, layers);

  std::vector<ControlOption> controls = ControlOptions(plugin.table());
  for (ControlOption& c : controls) {
    if (c.param.def.param_type == PF_Param_CHECKBOX) {
      // One option under both names, so that the last one given wins.
      const std::string off = "--no-" + c.flag.substr(2);
      render->add_flag(c.flag + ",!" + off, c.checked, "Turn " + c.help() + "; " + off + " off")
          ->each([&c](const std::string&) { c.given = true; });
    } else {
      const PF_ParamType type = c.param.def.param_type;
      render
          ->add_option_function<std::string>(
              c.flag, [&c](const std::string& text) { c.text = text, c.given = true; }, c.help())
          ->type_name(type == PF_Param_POPUP    ? "CHOICE"
                      : type == PF_Param_COLOR  ? "RRGGBB"
                      : type == PF_Param_SLIDER ? "N"
                                                : "X");
    }
  }

  for (const std::string& key : SettingsRenderKeys()) {
    // Settings keys are option names: a renamed option must rename its key.
    if (!render->get_option_no_throw("--" + key)) {
      throw std::logic_error("settings key " + key + " is no render option");
    }
  }
  AddExitStatusHelp(app);

  std::optional<LoadedSettings> settings;
  std::vector<std::string> words = WithSettings({argv, argv + argc}, plugin, controls, settings);
  std::vector<char*> wordPointers;
  for (std::string& w : words) wordPointers.push_back(w.data());
  try {
    app.parse(static_cast<int>(wordPointers.size()), wordPointers.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // An unknown option may be a control of a plug-in that did not load.
    plugin.require();
    std::string command = "tilvane";
    for (const CLI::App* sub : app.get_subcommands()) command += " " + sub->get_name();
    throw UsageError(std::string(e.what()) + "; see '" + command + " --help'");
  }
  try {
    RefuseLeftovers(app);
  } catch (const UsageError&) {
    plugin.require();
    throw;
  }

  if (info->parsed()) return Info(plugin);
  if (demoCmd->parsed()) {
    demo.threads = ParseThreads(demoThreads);
    plugin.require();
    for (const std::string& path : RunDemo(*plugin.library, plugin.table(), demo)) {
      std::printf("%s\n", path.c_str());
    }
    return 0;
  }
  try {
    return Render(plugin, args, layers, controls);
  } catch (const UsageError& e) {
    if (settings) throw UsageError(settings->explain(e.what()));
    throw;
  }
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
