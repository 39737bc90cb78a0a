#include "tools/tilvane/render_job.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "src/params/params.h"
#include "tools/tilvane/colour.h"
#include "tools/tilvane/errors.h"
#include "tools/tilvane/progress.h"

namespace tilvane_tool {

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
  void rethrow() const {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  std::mutex mutex_;
  std::exception_ptr error_;
  std::atomic<bool> failed_{false};
};

}  // namespace

void OpenLayers(Scene& scene, const std::string& icon, const std::string& displacement,
                const LayerOptions& options) {
  const std::string space =
      options.inputColourSpace.empty()
          ? ""
          : ResolveColourSpace("--input-colorspace", options.inputColourSpace);
  if (!icon.empty()) scene.icon = LayerFile::Open("--icon", icon, space);
  if (!displacement.empty())
    scene.displacement = LayerFile::Open("--displacement", displacement, space);
}

void PrepareLayers(Scene& scene, const LayerOptions& options, const std::vector<FrameJob>& jobs) {
  std::string fit = options.fitDisplacement;
  for (char& c : fit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (fit != "none" && fit != "stretch" && fit != "fill") {
    throw UsageError("--fit-displacement '" + options.fitDisplacement +
                     "' is not valid; give none, stretch or fill");
  }
  scene.loopIcon = options.loopIcon;
  if (!options.outputColourSpace.empty()) {
    scene.outputColourSpace = ResolveColourSpace("--output-colorspace", options.outputColourSpace);
  }
  scene.displacementFit = fit == "stretch" ? Fit::Stretch : fit == "fill" ? Fit::Fill : Fit::None;
  // The effect may take the icon at any time (time mapping and offset).
  if (scene.icon) scene.icon->checkFrames(0, scene.icon->frameCount() - 1);
  if (const auto& layer = scene.displacement) {
    // The displacement layer is taken at each frame's own time; frames come in order.
    const auto shown = [&](const FrameJob& job) {
      return standin::FrameIndexAt(static_cast<int32_t>(job.frame * scene.timeStep), scene.timeStep,
                                   layer->frameCount());
    };
    layer->checkFrames(shown(jobs.front()), shown(jobs.back()));
  }
}

std::unique_ptr<standin::Host> SetUpHost(const standin::PluginLibrary& plugin) {
  auto host = std::make_unique<standin::Host>(plugin.entry());
  if (PF_Err err = host->globalSetup()) throw EffectFailed(err, "at global set-up");
  if (PF_Err err = host->paramsSetup()) throw EffectFailed(err, "at parameter set-up");
  return host;
}

void ShareCoresAmongFrames(int framesAtOnce) {
  // The plug-in reads its thread count at every render; one the user set wins.
  if (std::getenv("TILVANE_THREADS") != nullptr) return;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int perFrame = std::max(1, cores / std::max(1, framesAtOnce));
  setenv("TILVANE_THREADS", std::to_string(perFrame).c_str(), 1);
}

RenderSummary RenderFrames(const standin::PluginLibrary& plugin, const Scene& scene,
                           const std::vector<FrameJob>& jobs, int threads, bool progressBar,
                           FrameSink* sink) {
  const auto start = std::chrono::steady_clock::now();
  const int workers =
      static_cast<int>(std::clamp<int64_t>(threads, 1, static_cast<int64_t>(jobs.size())));
  ShareCoresAmongFrames(workers);
  ProgressBar bar(static_cast<int64_t>(jobs.size()), workers, progressBar);
  auto failures = std::make_shared<FailureSlot>();
  if (!scene.icon) {
    Warn("no --icon layer: every cell is empty, so the output is transparent; give --icon PATH");
  }
  // One source per layer for every thread, so the decoded frames are shared.
  SourceOptions looped;
  looped.loop = scene.loopIcon;
  looped.usage = std::make_shared<LayerUsage>();
  const LayerUsage& iconUsage = *looped.usage;
  const standin::FrameSourcePtr icon =
      scene.icon ? LayerSource(scene.icon, failures, looped) : nullptr;
  SourceOptions fitted;
  fitted.fit = scene.displacementFit;
  fitted.width = scene.width;
  fitted.height = scene.height;
  const standin::FrameSourcePtr displacement =
      scene.displacement ? LayerSource(scene.displacement, failures, fitted) : nullptr;

  std::atomic<size_t> next{0};
  FirstError error;
  auto work = [&](int worker) {
    try {
      auto host = SetUpHost(plugin);
      ApplyControls(*host, scene.controls);
      if (icon) host->setLayer(PARAM_ICON_LAYER, icon);
      if (displacement) host->setLayer(PARAM_DISPLACEMENT_LAYER, displacement);
      host->setProgressObserver(
          [&bar, worker](int32_t current, int32_t total) { bar.rows(worker, current, total); });
      std::optional<standin::World> reused;
      for (size_t i = next++; i < jobs.size() && !error.failed(); i = next++) {
        const FrameJob& job = jobs[i];
        bar.frameStarted(worker, job.frame);
        standin::HostTime& time = host->time();
        time.step = scene.timeStep;
        time.scale = scene.timeScale;
        time.total = scene.totalTime;
        time.current = static_cast<int32_t>(job.frame * scene.timeStep);
        // One frame buffer per worker, reused: the effect clears the whole
        // output before it draws. A sink keeps the frames it is given.
        if (!reused) {
          reused.emplace(WithMemoryFor(
              "a " + std::to_string(scene.width) + "x" + std::to_string(scene.height) +
                  " frame at " + std::to_string(scene.depth) + " bits per channel",
              uint64_t(scene.width) * uint64_t(scene.height) * (scene.depth == 16 ? 8 : 4),
              [&] { return standin::World(scene.width, scene.height, scene.depth); }));
        }
        standin::World& output = *reused;
        const PF_Err err = host->render(output);
        host->clearLog();  // the host logs every call; a long sequence would pile them up
        if (err) {
          throw EffectFailed(err, "rendering frame " + std::to_string(job.frame));
        }
        if (auto message = failures->first()) throw UsageError(*message);
        if (sink) {
          sink->put(i, std::move(output));
          reused.reset();
        } else {
          WriteImage(output, job.path, scene.outputColourSpace);
        }
        bar.frameDone(worker);
      }
    } catch (...) {
      error.set(std::current_exception());
      if (sink) sink->abort();
    }
  };

  if (workers == 1) {
    work(0);
  } else {
    std::vector<std::thread> pool;
    for (int w = 0; w < workers; ++w) pool.emplace_back(work, w);
    for (std::thread& t : pool) t.join();
  }
  bar.finish();
  error.rethrow();
  if (scene.icon && iconUsage.served && !iconUsage.visible) {
    Warn("--icon '" + scene.icon->path() +
         "' is fully transparent where the render used it, so the output is transparent; "
         "check the icon's alpha channel");
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return RenderSummary{static_cast<int64_t>(jobs.size()), elapsed.count()};
}

}  // namespace tilvane_tool
