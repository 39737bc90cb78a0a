#include "tools/tilvane/job/plan.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/formats.h"
#include "tools/tilvane/job/threads.h"
#include "tools/tilvane/output/movie_writer.h"

namespace tilvane_tool {
namespace {

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

void PrintSummary(const RenderSummary& s) {
  // On stderr with the warnings and the progress, so that one log holds them all
  // and stdout only what a script reads.
  std::fprintf(stderr, "tilvane: rendered %lld frame%s in %.2f s (%.2f frames per second), %s\n",
               static_cast<long long>(s.frames), s.frames == 1 ? "" : "s", s.seconds,
               s.seconds > 0 ? static_cast<double>(s.frames) / s.seconds : 0.0,
               PathAndThreads().c_str());
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

std::unique_ptr<MovieSink> OpenMovie(const RenderRequest& request, const Scene& scene,
                                     const std::vector<FrameJob>& jobs,
                                     const std::optional<std::string>& sound) {
  const size_t frames = jobs.size();
  MovieOptions options;
  options.codec = request.codec;
  options.quality = request.quality;
  options.width = scene.width;
  options.height = scene.height;
  options.depth = scene.depth;
  options.timeStep = scene.timeStep;
  options.timeScale = scene.timeScale;
  options.frames = static_cast<int64_t>(frames);
  options.colorSpace = scene.outputColorSpace;
  options.verbose = !request.quiet;
  if (sound) {
    // The range rendered, in the layer's own seconds.
    const int64_t step = scene.timeStep;
    options.audio = AudioSource{*sound,
                                {jobs.front().frame * step, scene.timeScale},
                                {static_cast<int64_t>(frames) * step, scene.timeScale}};
  }
  // Room for every frame in flight and as many again waiting for the encoder.
  return std::make_unique<MovieSink>(request.output, options,
                                     2 * static_cast<size_t>(std::max(1, request.threads)));
}

}  // namespace

RenderPlan MakePlan(const RenderRequest& request, const std::vector<ControlOption>& controls) {
  // Before the layers open, since their readers may start threads.
  FixThreadsPerFrame(FramesAtOnce(request.threads, request.jobs.size()));
  RenderPlan plan;
  Scene& scene = plan.scene;
  plan.jobs = request.jobs;
  scene.depth = request.depth;
  scene.timeStep = request.timeStep;
  scene.timeScale = request.timeScale;
  scene.totalTime = request.totalTime;
  scene.image = request.image;
  scene.controls = ParseControls(controls);
  OpenLayers(scene, request.icon, request.displacement, request.layers);
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
  std::vector<std::string> outputs;
  for (const FrameJob& job : plan.jobs) outputs.push_back(job.path);
  CheckOutputs(outputs, InputFiles(scene), request.noOverwrite);
  PrepareLayers(scene, request.layers, plan.jobs);
  MakeOutputDirectory(plan.jobs.front().path);  // a numbered output's frames share it
  return plan;
}

int Render(const standin::PluginLibrary& plugin, const RenderRequest& request,
           const RenderPlan& plan) {
  const std::optional<std::string> sound =
      request.audio ? SoundOf(plan.scene) : std::optional<std::string>{};
  const bool keepsSound = request.movie && TakesSound(request.output);
  if (sound && !keepsSound) {
    Warn("the sound of " + Quoted(*sound) +
         " is not kept: " + (request.movie ? "a GIF" : "an image file") +
         " carries none (--no-audio leaves this note out)");
  }
  const std::unique_ptr<MovieSink> sink =
      request.movie ? OpenMovie(request, plan.scene, plan.jobs, keepsSound ? sound : std::nullopt)
                    : nullptr;
  const RenderSummary summary =
      RenderFrames(plugin, plan.scene, plan.jobs, request.threads, !request.quiet, sink.get());
  if (sink) sink->finish();
  if (!request.quiet) PrintSummary(summary);
  return 0;
}

}  // namespace tilvane_tool
