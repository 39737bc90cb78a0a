#include "tools/tilvane/job/plan.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/formats.h"
#include "tools/tilvane/job/threads.h"
#include "tools/tilvane/output/image_writer.h"
#include "tools/tilvane/output/movie_writer.h"
#include "tools/tilvane/output/ordered_sink.h"
#include "tools/tilvane/output/stream_writer.h"

namespace tilvane_tool {
namespace {

namespace fs = std::filesystem;

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

// The outputs to check before rendering: each one of a short range; of a
// long one, the first (for its format and directory) and those already on
// disk, found by listing their directory once rather than asking for every
// name.
std::vector<std::string> OutputsToCheck(const FrameJobs& jobs) {
  constexpr size_t kEachChecked = 1000;
  std::vector<std::string> outputs;
  if (!jobs.pattern || jobs.size() <= kEachChecked) {
    for (size_t i = 0; i < jobs.size(); ++i) outputs.push_back(jobs.path(i));
    return outputs;
  }
  outputs.push_back(jobs.path(0));
  const FramePattern& pattern = *jobs.pattern;
  const fs::path dir = fs::path(pattern.prefix).parent_path();
  std::error_code ec;
  for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string file = dir.empty() ? it->path().filename().string() : it->path().string();
    const auto number = pattern.match(file);
    if (number && *number >= jobs.firstNumber &&
        *number - jobs.firstNumber < static_cast<int64_t>(jobs.size()) &&
        pattern.name(*number) == file) {
      outputs.push_back(file);
    }
  }
  return outputs;
}

void PrintSummary(const RenderSummary& s, const RenderPlan& plan) {
  // On stderr with the warnings and the progress, so that one log holds them all
  // and stdout only what a script reads.
  std::fprintf(stderr, "tilvane: %s\n", plan.timing.describe().c_str());
  for (const std::string& note : s.frozen) std::fprintf(stderr, "tilvane: %s\n", note.c_str());
  std::fprintf(stderr, "tilvane: rendered %lld frame%s in %.2f s (%.2f frames per second), %s\n",
               static_cast<long long>(s.frames), s.frames == 1 ? "" : "s", s.seconds,
               s.seconds > 0 ? static_cast<double>(s.frames) / s.seconds : 0.0,
               PathAndThreads(s.threadsPerFrame).c_str());
  // Each displacement frame is resized once, however many output frames show it.
  if (s.fittedFrames > 0) {
    std::fprintf(stderr, "tilvane: fitted %lld displacement frame%s to the output\n",
                 static_cast<long long>(s.fittedFrames), s.fittedFrames == 1 ? "" : "s");
  }
}

// The movie whose sound the output carries: the displacement layer's, else
// the icon layer's.
std::optional<std::string> SoundOf(const Scene& scene) {
  for (const auto& layer : {scene.displacement, scene.icon}) {
    if (layer && IsMovieName(layer->path()) && HasSound(layer->path())) return layer->path();
  }
  return std::nullopt;
}

// Frames a movie or a stream holds waiting to be written: room for every frame
// in flight and as many again waiting for the writer.
size_t FramesWaiting(const RenderRequest& request) {
  return 2 * static_cast<size_t>(std::max(1, request.threads));
}

// The frames the scene renders, as a movie or a stream takes them.
FrameFormat FrameFormatOf(const Scene& scene) {
  FrameFormat format;
  format.width = scene.width;
  format.height = scene.height;
  format.depth = scene.depth;
  format.time = scene.time;
  format.colorSpace = scene.outputColorSpace;
  return format;
}

// The frames in job order to `writer`, said first unless quiet.
std::unique_ptr<OrderedSink> InOrder(std::unique_ptr<FrameWriter> writer, const std::string& target,
                                     const RenderRequest& request, size_t frames) {
  if (!request.quiet) {
    std::fprintf(stderr, "tilvane: writing %s as %s\n", target.c_str(), writer->describe().c_str());
  }
  return std::make_unique<OrderedSink>(std::move(writer), frames, FramesWaiting(request));
}

std::unique_ptr<OrderedSink> OpenMovie(const RenderRequest& request, const Scene& scene,
                                       const FrameJobs& jobs,
                                       const std::optional<std::string>& sound) {
  const size_t frames = jobs.size();
  MovieOptions options;
  static_cast<FrameFormat&>(options) = FrameFormatOf(scene);
  options.codec = request.codec;
  options.quality = request.quality;
  options.frames = static_cast<int64_t>(frames);
  if (sound) options.audio = SoundOfRange(*sound, scene.time, {jobs.first, jobs.last});
  return InOrder(std::make_unique<MovieWriter>(request.output, options), Quoted(request.output),
                 request, frames);
}

std::unique_ptr<OrderedSink> OpenStream(const RenderRequest& request, const Scene& scene,
                                        const FrameJobs& jobs) {
  StreamOptions options;
  static_cast<FrameFormat&>(options) = FrameFormatOf(scene);
  return InOrder(std::make_unique<StreamWriter>(TakeStandardOutput(), options), "standard output",
                 request, jobs.size());
}

}  // namespace

AudioSource SoundOfRange(const std::string& movie, const TimeBase& time, FrameRange frames) {
  return AudioSource{
      movie, {time.timeOf(frames.first), time.scale()}, {time.timeOf(frames.size()), time.scale()}};
}

RenderPlan MakePlan(const RenderRequest& request, const std::vector<ControlOption>& controls) {
  // Before the layers open: a TILVANE_THREADS that is no number of threads is
  // refused before any work. A range the layers give is taken to be long.
  const TimeRequest& time = request.time;
  const size_t frames = time.frames       ? static_cast<size_t>(time.frames->size())
                        : time.manyFrames ? static_cast<size_t>(std::max(1, request.threads))
                                          : 1;
  ThreadsPerFrame(FramesAtOnce(request.threads, frames));
  RenderPlan plan;
  Scene& scene = plan.scene;
  scene.depth = request.depth;
  scene.image = request.image;
  scene.controls = ParseControls(controls);
  OpenLayers(scene, request.icon, request.displacement, request.layers);
  plan.timing = ResolveTiming(time, scene.icon.get(), scene.displacement.get());
  const Timing& timing = plan.timing;
  scene.time = timing.base;
  scene.duration = timing.duration;
  scene.iconRate = time.iconRate;
  scene.displacementRate = time.displacementRate;
  plan.jobs = FrameJobs{timing.frames.first, timing.frames.last, request.output, request.pattern,
                        request.startNumber.value_or(timing.frames.first)};
  std::pair<int32_t, int32_t> size;
  if (request.size) {
    size = *request.size;
  } else {
    const auto& layer = scene.displacement ? scene.displacement : scene.icon;
    if (!layer) {
      throw UsageError(
          "no output size: give --size WIDTHxHEIGHT, or an --icon or --displacement layer");
    }
    size = {layer->width(), layer->height()};
  }
  scene.width = size.first;
  scene.height = size.second;
  CheckImageSize(request.output, scene.width, scene.height);
  if (!request.stream) {
    CheckOutputs(OutputsToCheck(plan.jobs), InputFiles(scene), request.noOverwrite);
  }
  PrepareLayers(scene, request.layers, plan.jobs);
  // A numbered output's frames share it.
  if (!request.stream) MakeOutputDirectory(plan.jobs.path(0));
  WarnUnusedRates(time, scene.icon.get(), scene.displacement.get());
  WarnOutsideLayers(timing, time, scene.icon.get(), scene.displacement.get(),
                    request.layers.loopIcon);
  return plan;
}

namespace {

// The sound a movie of this request carries, with the note when the output keeps none.
std::optional<std::string> KeptSound(const RenderRequest& request, const RenderPlan& plan) {
  const std::optional<std::string> sound =
      request.audio ? SoundOf(plan.scene) : std::optional<std::string>{};
  const bool keepsSound = request.movie && TakesSound(request.output);
  if (sound && !keepsSound) {
    Warn("the sound of " + Quoted(*sound) + " is not kept: " +
         (request.movie    ? "a GIF"
          : request.stream ? "the stream on standard output"
                           : "an image file") +
         " carries none (--no-audio leaves this note out)");
  }
  return keepsSound ? sound : std::nullopt;
}

}  // namespace

int Render(const standin::PluginLibrary& plugin, const RenderRequest& request,
           const RenderPlan& plan) {
  const std::optional<std::string> sound = KeptSound(request, plan);
  const std::unique_ptr<OrderedSink> sink =
      request.movie    ? OpenMovie(request, plan.scene, plan.jobs, sound)
      : request.stream ? OpenStream(request, plan.scene, plan.jobs)
                       : nullptr;
  const RenderSummary summary =
      RenderFrames(plugin, plan.scene, plan.jobs, request.threads, !request.quiet, sink.get());
  if (sink) sink->finish();
  if (!request.quiet) PrintSummary(summary, plan);
  return 0;
}

void EncodeMovie(const RenderRequest& request, const RenderPlan& plan,
                 const std::function<standin::World(size_t)>& frame) {
  const std::unique_ptr<OrderedSink> movie =
      OpenMovie(request, plan.scene, plan.jobs, KeptSound(request, plan));
  for (size_t i = 0; i < plan.jobs.size(); ++i) movie->put(i, frame(i));
  movie->finish();
}

}  // namespace tilvane_tool
