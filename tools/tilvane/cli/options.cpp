#include "tools/tilvane/cli/options.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iterator>

#include "tools/tilvane/core/color.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/formats.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/output/image_writer.h"
#include "tools/tilvane/output/movie_writer.h"
#include "tools/tilvane/output/stream_writer.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kThreadsHelp =
    "Frames rendered at once (default: cores). The cores are shared: each frame renders on cores "
    "/ N threads (at least 1), so one frame at a time uses them all; TILVANE_THREADS, when set, "
    "fixes the threads of each frame instead";

SavedValue Text(std::string text) { return {.is = SavedValue::Is::Text, .text = std::move(text)}; }
SavedValue Number(int64_t n) { return {.is = SavedValue::Is::Number, .number = n}; }
SavedValue Null() { return {.is = SavedValue::Is::Null}; }

// The movie containers as "(.mov, .mp4, ...)".
std::string MovieList() {
  std::string list;
  for (const MovieContainer& c : kMovieContainers) {
    list += std::string(list.empty() ? "" : ", ") + std::string(c.extension);
  }
  return "(" + list + ")";
}

template <size_t N>
std::vector<std::string> List(const char* const (&names)[N]) {
  return {std::begin(names), std::end(names)};
}

std::vector<std::string> PngFilterList() {
  std::vector<std::string> names;
  for (const PngFilterEntry& e : kPngFilters) names.emplace_back(e.name);
  return names;
}

// A value saved only when the option was set.
SavedValue IfGiven(const std::string& given, SavedValue value) {
  return given.empty() ? SavedValue{} : value;
}

// The options a whole number or a choice set in the request.
std::vector<std::string> Depths() { return {"8", "16"}; }
std::vector<std::string> ExrTypes() { return {"half", "float"}; }
std::vector<std::string> DpxBits() { return {"10", "16"}; }

using A = RenderArgs;
using R = const Resolved&;
using Q = RenderRequest&;
using V = const CheckedValue&;

// clang-format off
// The layers, the frame's size and times, and which frames.
std::vector<RenderOption> SceneOptions() {
  return {
      {.names = "--icon", .typeName = "PATH",
       .help = "Icon layer: a still, a sequence (name.####.png) or a movie. Its edge pixels extend "
               "across the cell, so give icons a transparent margin",
       .slot = &A::icon, .kept = true, .path = true},
      {.names = "--displacement", .typeName = "PATH", .help = "Displacement layer, as --icon",
       .slot = &A::displacement, .kept = true, .path = true},
      {.names = "-o,--output", .typeName = "PATH",
       .help = std::string("Output image (") + kImageFormatsShown + ") or movie " + MovieList() +
               ", or - for the frames on standard output, for a pipe: NUT with raw RGBA (8 or "
               "16 bits, straight alpha), no sound",
       .slot = &A::output, .kept = true, .required = true, .path = true},
      {.names = "--size", .typeName = "WxH",
       .help = "WIDTHxHEIGHT (default: the displacement layer's, else the icon's)",
       .slot = &A::size, .kept = true,
       .save = [](R r) {
         return Text(std::to_string(r.values.width) + "x" + std::to_string(r.values.height));
       },
       .derived = true},
      {.names = "--depth", .help = "Bits per channel, {values}", .slot = &A::depth,
       .number = true, .kept = true, .choices = Depths,
       .save = [](R r) { return Number(r.values.depth); }, .derived = true,
       .oneOfChoices = true, .set = [](Q q, V v) { q.depth = static_cast<int>(v.number); }},
      // The host's time step and scale are saved when given; else the rate, as used.
      {.names = "--rate", .typeName = "R",
       .help = "Frames a second: a whole number, N/D (24000/1001), or 23.976, 29.97, 47.952, "
               "59.94 or 119.88 for their exact fractions (default: the displacement movie's, "
               "else the icon movie's, else 30)",
       .slot = &A::rate, .kept = true,
       .save = [](R r) {
         return r.request.time.stepAndScale ? SavedValue{} : Text(r.values.rate.text());
       },
       .excludes = nullptr, .derived = true},
      {.names = "--time-step", .typeName = "S",
       .help = "The host's time step: its ticks a frame, instead of --rate (default 1)",
       .slot = &A::timeStep, .number = true, .kept = true,
       .save = [](R r) {
         return r.request.time.stepAndScale ? Number(r.values.timeStep) : SavedValue{};
       }},
      {.names = "--time-scale", .typeName = "TS",
       .help = "The host's time scale: its ticks a second, instead of --rate (default 30 x step)",
       .slot = &A::timeScale, .number = true, .kept = true,
       .save = [](R r) {
         return r.request.time.stepAndScale ? Number(r.values.timeScale) : SavedValue{};
       }},
      {.names = "--icon-rate", .typeName = "R",
       .help = "A numbered icon sequence's own frames a second, as --rate (default: one file a "
               "frame of the output)",
       .slot = &A::iconRate, .kept = true},
      {.names = "--displacement-rate", .typeName = "R",
       .help = "A numbered displacement sequence's own frames a second, as --icon-rate",
       .slot = &A::displacementRate, .kept = true},
      {.names = "--duration", .typeName = "N",
       .help = "The icon's length in frames as the effect sees it: total time = N x step "
               "(default: a movie or sequence icon's last frame + 2, so that each of its frames shows, "
               "else 300)",
       .slot = &A::duration, .number = true, .kept = true,
       // In frames, as given, whatever the time step.
       .save = [](R r) { return Number(r.values.duration); }, .derived = true},
      {.names = "--frame", .typeName = "F",
       .help = "The frame to render: current time = F x step (default 0)",
       .slot = &A::frame, .number = true, .kept = true,
       // One frame, as given or by default; a range the layers gave is theirs again.
       .save = [](R r) {
         return r.args.frames.empty() && r.values.first == r.values.last ? Number(r.values.first)
                                                                         : SavedValue{};
       },
       .derived = true},
      {.names = "--frames", .typeName = "A-B",
       .help = "A range A-B, numbered as the layers' frames (a sequence's file N is its frame "
               "N; a movie counts from 0); the output name needs #### or %04d (default: a movie "
               "or numbered output takes the whole of its longest movie or sequence layer)",
       .slot = &A::frames, .kept = true,
       .save = [](R r) { return r.args.frames.empty() ? SavedValue{} : Text(r.args.frames); },
       .excludes = "--frame"},
      {.names = "--start-number", .typeName = "N",
       .help = "The number of the first output file, the others following, as ffmpeg's "
               "-start_number (default: each file carries its frame's number)",
       .slot = &A::startNumber, .number = true, .kept = true,
       // A number, as a settings file reads it back.
       .save = [](R r) {
         return r.request.startNumber ? Number(*r.request.startNumber) : Null();
       },
       .outputs = kImageOutputs},
  };
}

// How the layers are read and the output written.
std::vector<RenderOption> FileOptions() {
  return {
      {.names = "--fit-displacement", .typeName = "none|stretch|fill",
       .help = "A displacement layer of another size than the output: none (its own size), "
               "stretch (resized to the output) or fill (keeps its aspect, cropped)",
       .slot = &A::fitDisplacement, .kept = true,
       .save = [](R r) { return Text(Lower(r.args.fitDisplacement)); }},
      {.names = "--loop-icon",
       .help = "An animated icon shorter than the duration repeats instead of holding its last "
               "frame",
       .slot = &A::loopIcon, .kept = true},
      {.names = "--png-compression", .help = "zlib's level for PNG outputs, {values}",
       .slot = &A::pngCompression, .number = true, .kept = true,
       .save = [](R r) { return Number(r.request.image.png.compression); },
       .range = Range{0, 9, "fastest, largest", "smallest, slowest"},
       .set = [](Q q, V v) { q.image.png.compression = static_cast<int>(v.number); },
       .outputs = kPngOutput},
      {.names = "--png-filter", .typeName = "NAME",
       .help = "libpng's row filter for PNG outputs: none (fastest; smallest for icons on a flat "
               "or transparent ground), sub, up, average, paeth, or adaptive (tries each on "
               "every row; often smaller for photographic icons in large cells)",
       .slot = &A::pngFilter, .kept = true, .choices = PngFilterList,
       .save = [](R r) { return Text(PngFilterName(r.request.image.png.filter)); },
       .oneOfChoices = true, .set = [](Q q, V v) { q.image.png.filter = *PngFilterNamed(v.text); },
       .outputs = kPngOutput},
      {.names = "--input-colorspace", .typeName = "NAME",
       .help = "The colour space of the input files (default: the file's own tag, linear in a PNG "
               "or a colorSpace attribute in an EXR; else linear for EXR and floating-point "
               "files, sRGB for the others; raw: no conversion; 'tilvane info' lists the names)",
       .slot = &A::inputColorSpace, .kept = true, .choices = ColorSpaceNames},
      {.names = "--output-colorspace", .typeName = "NAME",
       .help = "The colour space of the output, which the file is tagged with (default: linear "
               "for EXR, sRGB for the others)",
       .slot = &A::outputColorSpace, .kept = true, .choices = ColorSpaceNames},
      // A look saved from a movie also renders a sequence, so the movie's
      // settings are kept only when they were set, and a settings file's
      // apply only to a movie.
      {.names = "--codec", .typeName = "NAME",
       .help = "A movie's codec: " + CodecsByContainer(),
       .slot = &A::codec, .kept = true, .choices = MovieCodecNames,
       .save = [](R r) {
         return r.args.codec.empty() ? SavedValue{}
                : r.request.movie    ? Text(MovieCodecName(r.args.output, r.args.codec))
                                     : Text(r.args.codec);
       },
       .outputs = kMovieOutput},
      {.names = "--quality",
       .help = "A movie's quality, {values}, on its codec's own scale: crf for h264, hevc and vp9, "
               "the profile for ProRes, the dithering for GIF (default: each codec's own)",
       .slot = &A::quality, .number = true, .kept = true,
       .save = [](R r) { return r.request.quality ? Number(*r.request.quality) : SavedValue{}; },
       .range = Range{0, 100}, .set = [](Q q, V v) { q.quality = static_cast<int>(v.number); },
       .outputs = kMovieOutput},
      {.names = "--no-audio",
       .help = "A movie without sound. Otherwise a movie (but not a GIF) carries the first audio "
               "track of the displacement movie, else of the icon movie, trimmed to the frames "
               "rendered: copied where the container takes its codec, else re-encoded (AAC in "
               ".mp4 and .mov, Opus in .webm, FLAC in .mkv)",
       .slot = &A::noAudio, .kept = true},
      // Like a movie's, each format's own settings are kept only when set,
      // and a settings file's apply only to that format.
      {.names = "--exr-compression", .typeName = "NAME",
       .help = "EXR outputs' compression: {values} (default zip)",
       .slot = &A::exrCompression, .kept = true,
       .choices = [] { return List(kExrCompressions); },
       .save = [](R r) {
         return IfGiven(r.args.exrCompression, Text(r.request.image.exrCompression));
       },
       .oneOfChoices = true, .set = [](Q q, V v) { q.image.exrCompression = v.text; },
       .outputs = kExrOutput},
      {.names = "--exr-type",
       .help = "EXR outputs' values: half (16-bit) or float (32-bit) floats (default half)",
       .slot = &A::exrType, .kept = true, .choices = ExrTypes,
       .save = [](R r) {
         return IfGiven(r.args.exrType, Text(r.request.image.exrFloat ? "float" : "half"));
       },
       .oneOfChoices = true, .set = [](Q q, V v) { q.image.exrFloat = v.text == "float"; },
       .outputs = kExrOutput},
      {.names = "--jpeg-quality", .help = "JPEG outputs' quality, {values} (default 98)",
       .slot = &A::jpegQuality, .number = true, .kept = true,
       .save = [](R r) {
         return IfGiven(r.args.jpegQuality, Number(r.request.image.jpegQuality.value_or(0)));
       },
       .range = Range{1, 100, "smallest", "best"},
       .set = [](Q q, V v) { q.image.jpegQuality = static_cast<int>(v.number); },
       .outputs = kJpegOutput},
      {.names = "--tiff-compression", .typeName = "NAME",
       .help = "TIFF outputs' compression: {values} (default zip)",
       .slot = &A::tiffCompression, .kept = true,
       .choices = [] { return List(kTiffCompressions); },
       .save = [](R r) {
         return IfGiven(r.args.tiffCompression, Text(r.request.image.tiffCompression));
       },
       .oneOfChoices = true, .set = [](Q q, V v) { q.image.tiffCompression = v.text; },
       .outputs = kTiffOutput},
      {.names = "--dpx-bits",
       .help = "DPX outputs' bits per channel, {values} (default 10). DPX holds RGB over black, "
               "sRGB-encoded unless --output-colorspace says otherwise",
       .slot = &A::dpxBits, .number = true, .kept = true, .choices = DpxBits,
       .save = [](R r) { return IfGiven(r.args.dpxBits, Number(r.request.image.dpxBits)); },
       .oneOfChoices = true, .set = [](Q q, V v) { q.image.dpxBits = static_cast<int>(v.number); },
       .outputs = kDpxOutput},
      {.names = "--webp-quality",
       .help = "WebP outputs: lossy colour at this quality, {values}, alpha kept lossless "
               "(default: lossless, every value as rendered). WebP holds 8 bits, so a 16-bit "
               "render is rounded as for JPEG",
       .slot = &A::webpQuality, .number = true, .kept = true,
       .save = [](R r) {
         return IfGiven(r.args.webpQuality, Number(r.request.image.webpQuality.value_or(0)));
       },
       .range = Range{0, 100, "smallest", "best"},
       .set = [](Q q, V v) { q.image.webpQuality = static_cast<int>(v.number); },
       .outputs = kWebpOutput},
  };
}

// About this run alone: not kept in settings files.
std::vector<RenderOption> RunOptions() {
  return {
      {.names = "--threads", .typeName = "N", .help = kThreadsHelp, .slot = &A::threads,
       .range = Range{1, 1024}},
      {.names = "--quiet", .help = "No progress bar or summary",
       .slot = &A::quiet},
      {.names = "--settings", .typeName = "FILE",
       .help = "Read the options and controls from a JSON file, as --save-settings writes it; "
               "options on the command line override the file",
       .slot = &A::settings},
      {.names = "--save-settings", .typeName = "FILE.json",
       .help = "Write every option and control of this render, defaults included, to a JSON file "
               "(before rendering)",
       .slot = &A::saveSettings},
      {.names = "-n,--no-overwrite",
       .help = "Refuse to replace existing outputs (checked before anything renders)",
       .slot = &A::noOverwrite},
  };
}
// clang-format on

int64_t PowerOfTen(int decimals) {
  int64_t scale = 1;
  for (int d = 0; d < decimals; ++d) scale *= 10;
  return scale;
}

// A number counted in steps of 10^-decimals, as a user writes it: 100 in
// thousandths is "0.1".
std::string Shown(int64_t n, int decimals) {
  const int64_t scale = PowerOfTen(decimals);
  std::string text = std::to_string(n / scale);
  if (n % scale == 0) return text;
  std::string fraction = std::to_string(n % scale + scale).substr(1);
  while (fraction.back() == '0') fraction.pop_back();
  return text + "." + fraction;
}

// "0 (fastest, largest) to 9 (smallest, slowest)", "0.1 to 3600 seconds"
std::string RangeText(const Range& range) {
  const auto end = [&](int64_t n, const char* meaning) {
    return Shown(n, range.decimals) + (*meaning ? std::string(" (") + meaning + ")" : "");
  };
  return end(range.min, range.low) + " to " + end(range.max, range.high) +
         (*range.unit ? std::string(" ") + range.unit : "");
}

// The value's name and help from its rule, so each is written once.
void WriteValues(std::string& typeName, std::string& help, const std::optional<Range>& range,
                 const std::vector<std::string>* choices) {
  std::string values;
  if (range) {
    values = RangeText(*range);
    if (typeName.empty()) {
      typeName = Shown(range->min, range->decimals) + "-" + Shown(range->max, range->decimals);
    }
  } else if (choices) {
    values = OrList(*choices);
    std::string names;
    for (const std::string& c : *choices) names += (names.empty() ? "" : "|") + c;
    if (typeName.empty()) typeName = names;
  }
  if (const size_t at = help.find("{values}"); at != std::string::npos) {
    help.replace(at, std::string("{values}").size(), values);
  }
}

std::vector<RenderOption> MakeRenderOptions() {
  std::vector<RenderOption> all = SceneOptions();
  for (auto part : {FileOptions(), RunOptions()}) all.insert(all.end(), part.begin(), part.end());
  for (RenderOption& o : all) {
    const std::vector<std::string> choices =
        o.oneOfChoices ? o.choices() : std::vector<std::string>{};
    WriteValues(o.typeName, o.help, o.range, o.oneOfChoices ? &choices : nullptr);
  }
  return all;
}

// A number in range.decimals steps: digits, then at most that many after a point.
bool ReadNumber(const std::string& text, const Range& range, int64_t& n) {
  const size_t point = text.find('.');
  const std::string whole = text.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  if (point != std::string::npos && (fraction.empty() || range.decimals == 0)) return false;
  if (fraction.size() > static_cast<size_t>(range.decimals)) return false;
  if (std::any_of(fraction.begin(), fraction.end(), [](char c) { return c < '0' || c > '9'; })) {
    return false;
  }
  int64_t units = 0;
  const auto [end, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), units);
  if (whole.empty() || ec != std::errc() || end != whole.data() + whole.size()) return false;
  // Beyond every range's end, and kept clear of overflow below.
  if (units > (int64_t{1} << 40) || units < -(int64_t{1} << 40)) return false;
  fraction.resize(static_cast<size_t>(range.decimals), '0');
  const int64_t steps = fraction.empty() ? 0 : std::stoll(fraction);
  n = units * PowerOfTen(range.decimals) + (units < 0 || whole[0] == '-' ? -steps : steps);
  return true;
}

// text checked against a rule: a range, or one of `choices` in any case.
CheckedValue CheckRule(const std::string& name, const std::string& text,
                       const std::optional<Range>& range, const std::vector<std::string>* choices,
                       bool number) {
  const std::string refused = name + " '" + text + "' is not valid; give ";
  CheckedValue value{.text = text};
  if (range) {
    if (!ReadNumber(text, *range, value.number) || value.number < range->min ||
        value.number > range->max) {
      throw UsageError(refused + (range->decimals ? "a number from " : "a whole number from ") +
                       RangeText(*range));
    }
  } else if (choices) {
    value.text = Lower(text);
    if (std::find(choices->begin(), choices->end(), value.text) == choices->end()) {
      throw UsageError(refused + OrList(*choices));
    }
    if (number) ReadNumber(value.text, Range{}, value.number);
  }
  return value;
}

using F = FarmArgs&;

// clang-format off
std::vector<FarmOption> MakeFarmOptions() {
  std::vector<FarmOption> all = {
      {.names = "dir", .typeName = "DIR", .help = "The job folder 'tilvane farm submit' printed",
       .commands = kFarmTask | kFarmJoin | kFarmWait | kFarmStatus | kFarmResume,
       .required = true, .set = [](F a, V v) { a.dir = v.text; }},
      {.names = "--chunk", .typeName = "N",
       .help = "The frames each task renders, {values} (default: 20, or more to keep within "
               "1000 tasks)",
       .commands = kFarmSubmit, .range = Range{.min = 1, .max = 1'000'000, .unit = "frames"},
       .set = [](F a, V v) { a.chunk = v.number; }},
      {.names = "--max-running", .typeName = "M",
       .help = "The job's tasks running at once, {values} (default: as many as the cluster "
               "takes)",
       .commands = kFarmSubmit, .range = Range{.min = 1, .max = 1'000'000, .unit = "tasks"},
       .set = [](F a, V v) { a.maxRunning = v.number; }},
      {.names = "--partition", .typeName = "NAME", .help = "Slurm's partition (default: its own)",
       .commands = kFarmSubmit, .set = [](F a, V v) { a.partition = v.text; }},
      {.names = "--job-name", .typeName = "NAME",
       .help = "The job's name in squeue (default: tilvane- and the output's name)",
       .commands = kFarmSubmit, .set = [](F a, V v) { a.jobName = v.text; }},
      {.names = "--job-dir", .typeName = "DIR",
       .help = "The job folder, on storage every node mounts (default: beside the output, named "
               "after it, ending .farm)",
       .commands = kFarmSubmit, .set = [](F a, V v) { a.jobDir = v.text; }},
      {.names = "--frames", .typeName = "A-B", .help = "The frames A-B, within the job's range",
       .commands = kFarmTask, .required = true, .set = [](F a, V v) { a.frames = v.text; }},
      {.names = "--interval", .typeName = "S",
       .help = "The time between looks at the queue, {values}",
       .commands = kFarmWait,
       .range = Range{.min = 100, .max = 3'600'000, .unit = "seconds", .decimals = 3},
       .byDefault = "2", .set = [](F a, V v) { a.intervalMilliseconds = v.number; }},
  };
  for (FarmOption& o : all) WriteValues(o.typeName, o.help, o.range, nullptr);
  return all;
}
// clang-format on

// Each kind of output as refusals name it, and the ending -o takes for it.
struct OutputKindName {
  Outputs kind;
  const char* shown;
  std::string ending;
};
const std::vector<OutputKindName>& OutputKindNames() {
  static const std::vector<OutputKindName> names = {
      {kPngOutput, ".png outputs", ".png"},        {kTiffOutput, ".tif/.tiff outputs", ".tif"},
      {kExrOutput, ".exr outputs", ".exr"},        {kJpegOutput, ".jpg/.jpeg outputs", ".jpg"},
      {kDpxOutput, ".dpx outputs", ".dpx"},        {kWebpOutput, ".webp outputs", ".webp"},
      {kMovieOutput, "movies", MovieExtensions()}, {kStreamOutput, "-o -", "-"}};
  return names;
}

// A file name given from the working directory, as a settings file at
// `settings` holds it: relative to its directory. Absolute names stay so.
std::string RelativeTo(const std::string& settings, const std::string& name) {
  const fs::path dir = fs::path(settings).parent_path();
  if (dir.empty() || fs::path(name).is_absolute() || IsStreamOutput(name)) return name;
  const fs::path relative = fs::absolute(name).lexically_normal().lexically_relative(
      fs::absolute(dir).lexically_normal());
  return relative.empty() ? fs::absolute(name).lexically_normal().string() : relative.string();
}

// A file name as a settings file at `settings` holds it, from the working directory.
std::string FromDirectoryOf(const std::string& settings, const std::string& name) {
  const fs::path dir = fs::path(settings).parent_path();
  if (dir.empty() || fs::path(name).is_absolute() || IsStreamOutput(name)) return name;
  return (dir / name).string();
}

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

CLI::Option* AddOne(CLI::App& render, RenderArgs& args, const RenderOption& o) {
  CLI::Option* added = std::visit(
      Overloaded{[&](std::string RenderArgs::*s) {
                   return render.add_option(o.names, args.*s, o.help)->capture_default_str();
                 },
                 // Taken as given, even empty, so that an empty name is refused
                 // rather than read as no option at all.
                 [&](std::optional<std::string> RenderArgs::*s) {
                   return render.add_option_function<std::string>(
                       o.names, [&args, s](const std::string& text) { args.*s = text; }, o.help);
                 },
                 [&](bool RenderArgs::*s) { return render.add_flag(o.names, args.*s, o.help); }},
      o.slot);
  if (!o.typeName.empty()) added->type_name(o.typeName);
  if (o.required) added->option_text(o.typeName + " REQUIRED");
  if (o.excludes) added->excludes(o.excludes);
  return added;
}

}  // namespace

std::string RenderOption::key() const {
  const std::string all = names;
  return all.substr(all.rfind("--") + 2);
}

ValueKind RenderOption::kind() const {
  if (std::holds_alternative<bool RenderArgs::*>(slot)) return ValueKind::Flag;
  return number ? ValueKind::Number : ValueKind::Text;
}

const std::vector<RenderOption>& RenderOptions() {
  static const std::vector<RenderOption> options = MakeRenderOptions();
  return options;
}

const RenderOption* FindRenderOption(const std::string& key) {
  const std::vector<RenderOption>& all = RenderOptions();
  const auto it =
      std::find_if(all.begin(), all.end(), [&](const RenderOption& o) { return o.key() == key; });
  return it == all.end() ? nullptr : &*it;
}

const RenderOption* ExcludedWith(const RenderOption& option) {
  if (option.excludes) return FindRenderOption(std::string(option.excludes).substr(2));
  const std::string name = "--" + option.key();
  for (const RenderOption& o : RenderOptions()) {
    if (o.excludes && o.excludes == name) return &o;
  }
  return nullptr;
}

Outputs OutputKindOf(const std::string& output) {
  if (IsStreamOutput(output)) return kStreamOutput;
  if (IsMovieOutput(output)) return kMovieOutput;
  const auto format = FormatOf(output);
  if (!format) return 0;
  switch (*format) {
    case OutputFormat::Straight:
      return IsPng(output) ? kPngOutput : kTiffOutput;
    case OutputFormat::Exr:
      return kExrOutput;
    case OutputFormat::Jpeg:
      return kJpegOutput;
    case OutputFormat::Dpx:
      return kDpxOutput;
    case OutputFormat::Webp:
      return kWebpOutput;
  }
  return 0;
}

bool IsGiven(const RenderOption& option, const RenderArgs& args) {
  static const RenderArgs defaults;
  return std::visit(
      Overloaded{[&](std::string RenderArgs::*s) { return args.*s != defaults.*s; },
                 [&](std::optional<std::string> RenderArgs::*s) { return (args.*s).has_value(); },
                 [&](bool RenderArgs::*s) { return args.*s != defaults.*s; }},
      option.slot);
}

std::string ValueOf(const RenderOption& option, const RenderArgs& args) {
  return std::visit(
      Overloaded{[&](std::string RenderArgs::*s) { return args.*s; },
                 [&](std::optional<std::string> RenderArgs::*s) { return (args.*s).value_or(""); },
                 [&](bool RenderArgs::*s) { return std::string(args.*s ? "true" : ""); }},
      option.slot);
}

CheckedValue CheckValue(const RenderOption& option, const std::string& text) {
  const std::vector<std::string> choices =
      option.oneOfChoices ? option.choices() : std::vector<std::string>{};
  return CheckRule("--" + option.key(), text, option.range,
                   option.oneOfChoices ? &choices : nullptr, option.number);
}

bool FarmOption::bare() const { return names[0] != '-'; }

std::string FarmOption::shown() const { return bare() ? typeName : std::string(names); }

const std::vector<FarmOption>& FarmOptions() {
  static const std::vector<FarmOption> options = MakeFarmOptions();
  return options;
}

const FarmOption* FindFarmOption(const std::string& name, FarmCommandSet command) {
  for (const FarmOption& o : FarmOptions()) {
    if ((o.commands & command) && o.names == name) return &o;
  }
  return nullptr;
}

std::vector<std::string> FarmCommandsShown(FarmCommandSet commands) {
  std::vector<std::string> shown;
  for (const FarmCommandName& c : kFarmCommandNames) {
    if (commands & c.command) shown.push_back("'tilvane farm " + std::string(c.name) + "'");
  }
  return shown;
}

CheckedValue CheckValue(const FarmOption& option, const std::string& text) {
  return CheckRule(option.shown(), text, option.range, nullptr, false);
}

void AddFarmOptions(CLI::App& app, FarmCommandSet command, FarmArgs& args,
                    const std::string& group) {
  for (const FarmOption& o : FarmOptions()) {
    if (!(o.commands & command)) continue;
    // Checked as parsed, so that a bad value is refused by its option's name.
    CLI::Option* added = app.add_option_function<std::string>(
        o.names, [&o, &args](const std::string& text) { o.set(args, CheckValue(o, text)); },
        o.help);
    added->type_name(o.typeName);
    if (o.required) added->required();
    if (*o.byDefault) {
      added->default_str(o.byDefault);
      o.set(args, CheckValue(o, o.byDefault));
    }
    if (!group.empty() && !o.bare()) added->group(group);
  }
}

std::string NotForOutput(const RenderOption& option, Outputs output) {
  const std::string name = "--" + option.key();
  if (output == kStreamOutput) {
    return name +
           " does not apply to -o -, which writes the frames to standard output as raw RGBA; "
           "leave it out, or give -o a file name";
  }
  std::vector<std::string> shown, endings;
  for (const OutputKindName& k : OutputKindNames()) {
    if (!(option.outputs & k.kind)) continue;
    shown.emplace_back(k.shown);
    endings.push_back(k.ending);
  }
  return name + " applies to " +
         (option.outputs == kImageOutputs ? "image outputs" : OrList(shown)) +
         " only; end -o with " + OrList(endings) + ", or leave it out";
}

SavedValue SavedFor(const RenderOption& option, const Resolved& resolved) {
  if (option.save) return option.save(resolved);
  return std::visit(
      Overloaded{[&](std::string RenderArgs::*s) {
                   const std::string& text = resolved.args.*s;
                   if (text.empty()) return Null();
                   return Text(option.path ? RelativeTo(resolved.args.saveSettings, text) : text);
                 },
                 [&](std::optional<std::string> RenderArgs::*s) {
                   const std::string text = (resolved.args.*s).value_or("");
                   return text.empty() ? Null() : Text(text);
                 },
                 [&](bool RenderArgs::*s) {
                   return SavedValue{.is = SavedValue::Is::Flag, .flag = resolved.args.*s};
                 }},
      option.slot);
}

void SetFromSettings(const RenderOption& option, RenderArgs& args, const std::string& text,
                     bool flag, const std::string& settings) {
  args.fromSettings.insert(option.key());
  std::visit(Overloaded{[&](std::string RenderArgs::*s) {
                          args.*s = option.path ? FromDirectoryOf(settings, text) : text;
                        },
                        [&](std::optional<std::string> RenderArgs::*s) { args.*s = text; },
                        [&](bool RenderArgs::*s) { args.*s = flag; }},
             option.slot);
}

void AddDemoOptions(CLI::App& demo, DemoOptions& options, std::string& threads) {
  demo.add_option("-o,--output", options.directory, "Directory for the pictures")
      ->type_name("DIR")
      ->capture_default_str();
  demo.add_option("--threads", threads, kThreadsHelp)->type_name("N");
  demo.add_flag("--quiet", options.quiet, "No progress bar");
}

void AddRenderOptions(CLI::App& render, RenderArgs& args) {
  for (const RenderOption& o : RenderOptions()) AddOne(render, args, o);
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

}  // namespace tilvane_tool
