#include "tools/tilvane/job/render_job.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "src/params/params.h"
#include "tools/tilvane/core/color.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/job/progress.h"
#include "tools/tilvane/job/threads.h"
#include "tools/tilvane/output/frames_written.h"
#include "tools/tilvane/output/image_writer.h"

namespace tilvane_tool {

using enum tilvane::ParamIndex;

namespace {

// The first failure among the workers; later ones are dropped.
class FirstError {
 public:
  void set(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    if (!error_) error_ = error;
    failed_ = true;
  }
  bool failed() const { return failed_; }
  // The error, its message extended by `more` for the kinds the tool reports.
  void rethrow(const std::string& more = "") const {
    if (!error_) return;
    try {
      std::rethrow_exception(error_);
    } catch (const WriteError& e) {
      throw WriteError(e.what() + more);
    } catch (const UsageError& e) {
      throw UsageError(e.what() + more);
    } catch (const HostError& e) {
      throw HostError(e.what() + more);
    }
  }

 private:
  std::mutex mutex_;
  std::exception_ptr error_;
  std::atomic<bool> failed_{false};
};

}  // namespace

void OpenLayers(Scene& scene, const std::string& icon, const std::string& displacement,
                const LayerOptions& options) {
  const std::string space = options.inputColorSpace
                                ? ResolveColorSpace("--input-colorspace", *options.inputColorSpace)
                                : "";
  if (!icon.empty()) scene.icon = Layer::Open("--icon", icon, space);
  if (!displacement.empty())
    scene.displacement = Layer::Open("--displacement", displacement, space);
}

namespace {

// Settings with which the effect draws nothing: the frame stays what it
// renders, but the user hears why it is empty.
void WarnOfEmptyFrames(const Scene& scene) {
  for (const ControlValue& control : scene.controls) {
    if (control.index == PARAM_UNITS && control.integer == 0) {
      Warn("--units 0 makes no cells, so the output is transparent; give 1 or more");
    }
  }
  if (scene.icon && scene.icon->width() < 2) {
    Warn("--icon '" + scene.icon->path() + "' is " + std::to_string(scene.icon->width()) +
         " pixel wide; the effect draws no icon narrower than 2 pixels, so the output is "
         "transparent; give a wider icon");
  }
}

}  // namespace

void PrepareLayers(Scene& scene, const LayerOptions& options, const FrameJobs& jobs) {
  std::string fit = options.fitDisplacement;
  for (char& c : fit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (fit != "none" && fit != "stretch" && fit != "fill") {
    throw UsageError("--fit-displacement '" + options.fitDisplacement +
                     "' is not valid; give none, stretch or fill");
  }
  scene.loopIcon = options.loopIcon;
  if (options.outputColorSpace) {
    scene.outputColorSpace = ResolveColorSpace("--output-colorspace", *options.outputColorSpace);
  }
  scene.displacementFit = fit == "stretch" ? Fit::Stretch : fit == "fill" ? Fit::Fill : Fit::None;
  WarnOfEmptyFrames(scene);
  // The effect may take the icon at any time (time mapping and offset).
  if (scene.icon) scene.icon->checkFrames(0, scene.icon->frameCount() - 1);
  if (const auto& layer = scene.displacement) {
    // The displacement layer is taken at each frame's own time; frames come in order.
    const auto shown = [&](int64_t frame) {
      return LayerPictureAt(*layer, scene.time.hostTime(frame), scene.time.step(),
                            scene.time.scale(), scene.displacementRate, false);
    };
    layer->checkFrames(shown(jobs.first), shown(jobs.last));
  }
}

std::unique_ptr<standin::Host> SetUpHost(const standin::PluginLibrary& plugin, int threads) {
  auto host = std::make_unique<standin::Host>(plugin.entry());
  host->setRenderThreads(plugin.entryWithThreads(), threads);
  host->keepLog(false);  // a long sequence would pile up calls nobody reads
  if (PF_Err err = host->globalSetup()) throw EffectFailed(err, "at global set-up");
  if (PF_Err err = host->paramsSetup()) throw EffectFailed(err, "at parameter set-up");
  return host;
}

namespace {

// The layers' sources, one per layer for every worker, so that the decoded
// frames are shared.
struct Sources {
  std::shared_ptr<FailureSlot> failures = std::make_shared<FailureSlot>();
  std::shared_ptr<LayerUsage> iconUsage = std::make_shared<LayerUsage>();
  std::shared_ptr<LayerUsage> displacementUsage = std::make_shared<LayerUsage>();
  standin::FrameSourcePtr icon;
  standin::FrameSourcePtr displacement;
};

Sources OpenSources(const Scene& scene, int workers) {
  Sources sources;
  if (!scene.icon) {
    Warn("no --icon layer: every cell is empty, so the output is transparent; give --icon PATH");
  }
  SourceOptions looped;
  looped.loop = scene.loopIcon;
  looped.rate = scene.iconRate;
  looped.usage = sources.iconUsage;
  if (scene.icon) sources.icon = LayerSource(scene.icon, sources.failures, looped);
  SourceOptions fitted;
  fitted.fit = scene.displacementFit;
  fitted.width = scene.width;
  fitted.height = scene.height;
  fitted.usage = sources.displacementUsage;
  fitted.rate = scene.displacementRate;
  if (scene.displacement) {
    // The displacement layer is taken at each frame's own time and the frames
    // come in order, so a frame is wanted again only by the frames rendering
    // beside it: a few more frames than the workers are kept, and the memory
    // of the others goes to the frames that follow.
    const bool fits = scene.displacementFit != Fit::None;
    const uint64_t frameBytes = uint64_t(fits ? scene.width : scene.displacement->width()) *
                                uint64_t(fits ? scene.height : scene.displacement->height()) *
                                (scene.depth == 16 ? 8 : 4);
    fitted.cacheBytes = std::min(fitted.cacheBytes, frameBytes * uint64_t(workers + 2));
    sources.displacement = LayerSource(scene.displacement, sources.failures, fitted);
  }
  return sources;
}

// The workers of one render: each takes the next job in order until none is
// left or one of them has failed.
struct Workers {
  const standin::PluginLibrary& plugin;
  const Scene& scene;
  const FrameJobs& jobs;
  FrameSink* sink;
  const Sources& sources;
  ProgressBar& bar;
  FramesWritten& written;
  int threadsPerFrame;
  std::atomic<size_t> next{0};
  FirstError error;

  void work(int worker) {
    try {
      auto host = SetUpHost(plugin, threadsPerFrame);
      ApplyControls(*host, scene.controls);
      if (sources.icon) host->setLayer(PARAM_ICON_LAYER, sources.icon);
      if (sources.displacement) host->setLayer(PARAM_DISPLACEMENT_LAYER, sources.displacement);
      host->setProgressObserver(
          [this, worker](int32_t current, int32_t total) { bar.rows(worker, current, total); });
      std::optional<standin::World> output;
      for (size_t i = next++; i < jobs.size() && !error.failed(); i = next++) {
        bar.frameStarted(worker, jobs.frame(i));
        render(*host, output, i);
        bar.frameDone(worker);
      }
    } catch (...) {
      error.set(std::current_exception());
      if (sink) sink->abort();
    }
  }

  void render(standin::Host& host, std::optional<standin::World>& output, size_t i) {
    const FrameJob job = jobs[i];
    host.time() = scene.hostTimeAt(job.frame);
    // The effect clears its whole output before drawing, so this worker's
    // frame is rendered into again as it is; only a frame handed to the sink
    // is given away and made anew.
    if (!output) {
      output.emplace(WithMemoryFor(
          "a " + std::to_string(scene.width) + "x" + std::to_string(scene.height) + " frame at " +
              std::to_string(scene.depth) + " bits per channel",
          uint64_t(scene.width) * uint64_t(scene.height) * (scene.depth == 16 ? 8 : 4),
          [&] { return standin::World(scene.width, scene.height, scene.depth); }));
    }
    const PF_Err err = host.render(*output);
    if (err) {
      throw EffectFailed(err, "rendering frame " + std::to_string(job.frame));
    }
    if (auto message = sources.failures->first()) throw UsageError(*message);
    if (sink) {
      sink->put(i, std::move(*output));
      output.reset();
    } else {
      written.writing(i);
      WriteImage(*output, job.path, scene.outputColorSpace, scene.image);
      written.mark(i);
    }
  }

  // On `count` threads, or on this one alone. A thread the system refuses is
  // reported; the frames go to the threads already started, or to this one if
  // none started. The started ones are always joined: a joinable thread
  // destroyed would end the process.
  void run(int count) {
    if (count == 1) return work(0);
    std::vector<std::thread> pool;
    try {
      for (int w = 0; w < count; ++w) pool.emplace_back([this, w] { work(w); });
    } catch (const std::system_error& e) {
      Warn("could start only " + std::to_string(pool.size()) + " of " + std::to_string(count) +
           " frame threads (" + e.what() + "); rendering with " +
           std::to_string(std::max<size_t>(pool.size(), 1)) + ", lower --threads to avoid this");
      if (pool.empty()) work(0);
    }
    for (std::thread& t : pool) t.join();
  }
};

}  // namespace

RenderSummary RenderFrames(const standin::PluginLibrary& plugin, const Scene& scene,
                           const FrameJobs& jobs, int threads, bool progress, FrameSink* sink) {
  const auto start = std::chrono::steady_clock::now();
  const int workers = FramesAtOnce(threads, jobs.size());
  // A terminal gets a bar redrawn in place; a pipe or a log file plain lines.
  ProgressBar bar(static_cast<int64_t>(jobs.size()), workers,
                  !progress        ? ProgressStyle::Off
                  : isatty(2) != 0 ? ProgressStyle::Bar
                                   : ProgressStyle::Lines);
  const Sources sources = OpenSources(scene, workers);
  FramesWritten written(jobs.first, jobs.size());
  // A movie goes to its file whole, at the end: stopped before, nothing of it
  // is, and the file it would replace stays.
  const std::string unwritten =
      !sink            ? ""
      : sink->onDisk() ? "the movie " + Quoted(jobs.output) +
                             " was not written; a file of that name from before, if any, is "
                             "unchanged"
                       : "the stream on standard output ends short";
  const InterruptReport interrupts(unwritten.empty() ? &written : nullptr, unwritten);

  const int threadsPerFrame = ThreadsPerFrame(workers);
  Workers team{plugin, scene, jobs, sink, sources, bar, written, threadsPerFrame, {0}, {}};
  team.run(workers);
  bar.finish();
  if (jobs.size() > 1 && !sink) {
    // Frames in flight finish after a failure, so what is on disk may have holes.
    team.error.rethrow("; " + written.describe());
  }
  if (sink && sink->onDisk()) team.error.rethrow("; " + unwritten);
  team.error.rethrow();
  if (scene.icon && sources.iconUsage->served && !sources.iconUsage->visible) {
    Warn("--icon '" + scene.icon->path() +
         "' is fully transparent where the render used it, so the output is transparent; "
         "check the icon's alpha channel");
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  RenderSummary summary{static_cast<int64_t>(jobs.size()),
                        elapsed.count(),
                        sources.displacementUsage->fitted.load(),
                        threadsPerFrame,
                        {}};
  for (const auto& [layer, usage] : {std::pair{scene.displacement.get(), sources.displacementUsage},
                                     std::pair{scene.icon.get(), sources.iconUsage}}) {
    if (auto note = FrozenLayer(layer, *usage, summary.frames)) {
      summary.frozen.push_back(std::move(*note));
    }
  }
  return summary;
}

}  // namespace tilvane_tool
