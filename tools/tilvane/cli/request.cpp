#include "tools/tilvane/cli/request.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <limits>
#include <variant>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/formats.h"
#include "tools/tilvane/core/frame_pattern.h"
#include "tools/tilvane/core/rate.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/core/time_base.h"
#include "tools/tilvane/job/threads.h"
#include "tools/tilvane/output/image_writer.h"
#include "tools/tilvane/output/movie_writer.h"
#include "tools/tilvane/output/stream_writer.h"

namespace tilvane_tool {
namespace {

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

// --rate, or the host's own step and scale; a settings file's yields to the
// command line's other form. Only their form: the job's timing resolves them.
void ParseRateOrStepAndScale(const RenderArgs& args, TimeRequest& time) {
  bool rate = !args.rate.empty();
  bool stepAndScale = !args.timeStep.empty() || !args.timeScale.empty();
  if (rate && stepAndScale) {
    const auto fromFile = [&](const std::string& key, const std::string& value) {
      return value.empty() || args.fromSettings.count(key);
    };
    const bool rateFromFile = args.fromSettings.count("rate") > 0;
    const bool stepAndScaleFromFile =
        fromFile("time-step", args.timeStep) && fromFile("time-scale", args.timeScale);
    if (rateFromFile && !stepAndScaleFromFile) {
      rate = false;
    } else if (stepAndScaleFromFile && !rateFromFile) {
      stepAndScale = false;
    } else {
      throw UsageError(
          "--rate cannot be given with --time-scale or --time-step; give the rate alone (e.g. "
          "--rate 24000/1001), or --time-step and --time-scale alone");
    }
  }
  if (rate) {
    time.rate = ParseRate("--rate", args.rate);
  } else if (stepAndScale) {
    const int64_t step = args.timeStep.empty()
                             ? 1
                             : ParseInteger("--time-step", args.timeStep, 1, kMaxTime,
                                            "a whole number of at least 1");
    std::string scaleWhat = "a whole number of at least 1";
    if (args.timeScale.find('.') != std::string::npos) {
      scaleWhat += " (for a rate such as " + args.timeScale + " frames a second, give --rate " +
                   args.timeScale + ")";
    }
    const int64_t scale = args.timeScale.empty()
                              ? std::min<int64_t>(30 * step, std::numeric_limits<uint32_t>::max())
                              : ParseInteger("--time-scale", args.timeScale, 1,
                                             std::numeric_limits<uint32_t>::max(), scaleWhat);
    time.stepAndScale = TimeBase::FromStepAndScale(step, scale);
  }
  if (!args.iconRate.empty()) time.iconRate = ParseRate("--icon-rate", args.iconRate);
  if (!args.displacementRate.empty()) {
    time.displacementRate = ParseRate("--displacement-rate", args.displacementRate);
  }
}

// The size, depth, times and PNG encoding.
void ParseScene(const RenderArgs& args, RenderRequest& request) {
  if (!args.size.empty()) request.size = ParseSize(args.size);
  if (args.depth != "8" && args.depth != "16") {
    throw UsageError("--depth '" + args.depth + "' is not valid; give 8 or 16");
  }
  request.depth = args.depth == "16" ? 16 : 8;
  ParseRateOrStepAndScale(args, request.time);
  if (!args.duration.empty()) {
    request.time.duration =
        ParseInteger("--duration", args.duration, 1, kMaxTime,
                     "a whole number of frames from 1 to " + std::to_string(kMaxTime));
  }
  request.threads = ParseThreads(args.threads);
  if (!args.pngCompression.empty()) {
    request.image.png.compression =
        static_cast<int>(ParseInteger("--png-compression", args.pngCompression, 0, 9,
                                      "a whole number from 0 (none) to 9 (smallest)"));
  }
  if (!args.pngFilter.empty()) {
    const auto filter = PngFilterNamed(args.pngFilter);
    if (!filter) {
      throw UsageError("--png-filter '" + args.pngFilter + "' is not valid; give " +
                       PngFilterNames());
    }
    request.image.png.filter = *filter;
  }
}

// The options about files, which a stream is not. Given on the command line
// they are a mistake; a settings file's wait for a file output.
void RefuseFileOptionsForStream(const RenderArgs& args) {
  const RenderArgs defaults;
  for (const char* key :
       {"start-number", "codec", "quality", "png-compression", "png-filter", "exr-compression",
        "exr-type", "jpeg-quality", "tiff-compression", "dpx-bits"}) {
    const auto* slot = std::get_if<std::string RenderArgs::*>(&FindRenderOption(key)->slot);
    if (!slot || args.*(*slot) == defaults.*(*slot) || args.fromSettings.count(key)) continue;
    throw UsageError("--" + std::string(key) +
                     " does not apply to -o -, which writes the frames to standard output as "
                     "raw RGBA; leave it out, or give -o a file name");
  }
}

// The frames and where they go.
void ParseFrames(const RenderArgs& args, RenderRequest& request) {
  request.stream = IsStreamOutput(args.output);
  // Before a range asks for a frame number in it.
  if (request.stream) {
    RefuseFileOptionsForStream(args);
  } else {
    CheckOutputFormat(args.output);
  }
  request.movie = IsMovieOutput(args.output);
  const auto pattern =
      request.movie || request.stream ? std::nullopt : FramePattern::Find(args.output);
  if (request.movie && FramePattern::Find(args.output)) {
    throw UsageError("-o " + Quoted(args.output) +
                     ": a movie holds every frame in one file; take the frame number (#### or "
                     "%04d) out of its name");
  }
  // A settings file's movie settings wait for a movie; the command line's are a mistake.
  const auto given = [&](const std::string& key, const std::string& value) {
    return !value.empty() && !args.fromSettings.count(key);
  };
  if (!request.movie && (given("codec", args.codec) || given("quality", args.quality))) {
    throw UsageError(std::string(given("codec", args.codec) ? "--codec" : "--quality") +
                     " applies to movies only; end -o with " + MovieExtensions() +
                     ", or leave it out");
  }
  if (!args.quality.empty()) {
    request.quality = static_cast<int>(
        ParseInteger("--quality", args.quality, 0, 100, "a whole number from 0 to 100"));
  }
  TimeRequest& time = request.time;
  if (!args.frames.empty()) {
    const size_t dash = args.frames.find('-', 1);
    const std::string what =
        "a range A-B of frames with A <= B, each from 0 to " + std::to_string(kMaxTime);
    if (dash == std::string::npos) {
      throw UsageError("--frames '" + args.frames + "' is not valid; give " + what);
    }
    const int64_t a = ParseInteger("--frames", args.frames.substr(0, dash), 0, kMaxTime, what);
    const int64_t b = ParseInteger("--frames", args.frames.substr(dash + 1), 0, kMaxTime, what);
    if (a > b) throw UsageError("--frames '" + args.frames + "' is not valid; give " + what);
    if (!pattern && !request.movie && !request.stream) {
      throw UsageError("-o '" + args.output +
                       "' has no frame number for a range; put #### or %04d where it goes, "
                       "e.g. out.####.png");
    }
    time.frames = FrameRange{a, b};
    time.range = true;
  } else if (!args.frame.empty()) {
    const int64_t f = ParseInteger("--frame", args.frame, 0, kMaxTime,
                                   "a whole number from 0 to " + std::to_string(kMaxTime));
    time.frames = FrameRange{f, f};
  }
  time.manyFrames = request.movie || request.stream || pattern;
  request.pattern = pattern;
  if (!args.startNumber.empty()) {
    if (!pattern && given("start-number", args.startNumber)) {
      throw UsageError(
          "--start-number numbers the files of an image sequence; put #### or %04d "
          "in -o, or leave it out");
    }
    if (pattern) {
      request.startNumber = ParseInteger("--start-number", args.startNumber, 0, kMaxTime,
                                         "a whole number from 0 to " + std::to_string(kMaxTime));
    }
  }
  if (request.stream) {
    CheckStreamOutput(STDOUT_FILENO);
  } else {
    CheckOutputPath(
        pattern ? pattern->name(request.startNumber.value_or(time.frames ? time.frames->first : 0))
                : args.output);
  }
}

// name, in any case, if it is one of names; else a message naming option.
template <size_t N>
std::string OneOf(const std::string& option, const std::string& name,
                  const char* const (&names)[N]) {
  const std::vector<std::string> all(std::begin(names), std::end(names));
  if (std::find(all.begin(), all.end(), Lower(name)) == all.end()) {
    throw UsageError(option + " '" + name + "' is not valid; give " + OrList(all));
  }
  return Lower(name);
}

// Each image format's own options. Given on the command line for an output
// of another format they are a mistake; a settings file's wait for theirs.
void ParseImageOptions(const RenderArgs& args, RenderRequest& request) {
  const auto format = FormatOf(args.output);
  const auto is = [&](OutputFormat f) { return format == f; };
  const struct {
    const char* key;
    const std::string& value;
    bool applies;
    const char* outputs;  // as the message names them, the first the one to end -o with
  } options[] = {
      {"exr-compression", args.exrCompression, is(OutputFormat::Exr), ".exr"},
      {"exr-type", args.exrType, is(OutputFormat::Exr), ".exr"},
      {"jpeg-quality", args.jpegQuality, is(OutputFormat::Jpeg), ".jpg/.jpeg"},
      {"tiff-compression", args.tiffCompression, IsTiff(args.output), ".tif/.tiff"},
      {"dpx-bits", args.dpxBits, is(OutputFormat::Dpx), ".dpx"},
      {"webp-quality", args.webpQuality, is(OutputFormat::Webp), ".webp"},
  };
  for (const auto& o : options) {
    if (o.value.empty() || o.applies || args.fromSettings.count(o.key)) continue;
    const std::string outputs = o.outputs;
    throw UsageError("--" + std::string(o.key) + " applies to " + outputs +
                     " outputs only; end -o with " + outputs.substr(0, outputs.find('/')) +
                     ", or leave it out");
  }
  ImageOptions& image = request.image;
  if (!args.exrCompression.empty()) {
    image.exrCompression = OneOf("--exr-compression", args.exrCompression, kExrCompressions);
  }
  if (!args.exrType.empty()) {
    const char* const types[] = {"half", "float"};
    image.exrFloat = OneOf("--exr-type", args.exrType, types) == "float";
  }
  const std::string quality = "a whole number from 1 (smallest) to 100 (best)";
  if (!args.jpegQuality.empty()) {
    image.jpegQuality =
        static_cast<int>(ParseInteger("--jpeg-quality", args.jpegQuality, 1, 100, quality));
  }
  if (!args.tiffCompression.empty()) {
    image.tiffCompression = OneOf("--tiff-compression", args.tiffCompression, kTiffCompressions);
  }
  if (!args.dpxBits.empty()) {
    if (args.dpxBits != "10" && args.dpxBits != "16") {
      throw UsageError("--dpx-bits '" + args.dpxBits + "' is not valid; give 10 or 16");
    }
    image.dpxBits = args.dpxBits == "16" ? 16 : 10;
  }
  if (!args.webpQuality.empty()) {
    image.webpQuality =
        static_cast<int>(ParseInteger("--webp-quality", args.webpQuality, 0, 100,
                                      "a whole number from 0 (smallest) to 100 (best)"));
  }
}

}  // namespace

int ParseThreads(const std::string& text) {
  if (text.empty()) return DefaultFrameThreads();
  return static_cast<int>(
      ParseInteger("--threads", text, 1, 1024, "a whole number from 1 to 1024"));
}

RenderRequest ParseRequest(const RenderArgs& args) {
  // Not left to the parse, since a settings file may give it.
  if (args.output.empty()) throw UsageError("--output is required; see 'tilvane render --help'");
  RenderRequest request;
  request.icon = args.icon;
  request.displacement = args.displacement;
  request.output = args.output;
  request.codec = args.codec;
  request.quiet = args.quiet;
  request.noOverwrite = args.noOverwrite;
  request.audio = !args.noAudio;
  request.layers = {args.inputColorSpace, args.outputColorSpace, args.fitDisplacement,
                    args.loopIcon};
  ParseScene(args, request);
  ParseFrames(args, request);
  ParseImageOptions(args, request);
  return request;
}

}  // namespace tilvane_tool
