// Rendering frames through the stand-in host, one host per thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "standin/host.h"
#include "tools/tilvane/input/fitting.h"
#include "tools/tilvane/input/layer.h"
#include "tools/tilvane/input/layer_source.h"
#include "tools/tilvane/job/controls.h"
#include "tools/tilvane/job/timing.h"
#include "tools/tilvane/output/frame_sink.h"
#include "tools/tilvane/output/frames_written.h"
#include "tools/tilvane/output/image_writer.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {

struct Scene {
  std::shared_ptr<const Layer> icon;          // null: no layer
  std::shared_ptr<const Layer> displacement;  // null: no layer
  int32_t width = 0;
  int32_t height = 0;
  int depth = 8;
  TimeBase time;           // as the job's timing resolved it
  int64_t duration = 300;  // the icon's length as the effect sees it, in frames
  std::vector<ControlValue> controls;
  bool loopIcon = false;  // an icon shorter than the duration repeats
  // A numbered layer's own rate; none: one frame a composition frame.
  std::optional<Rate> iconRate;
  std::optional<Rate> displacementRate;
  Fit displacementFit = Fit::None;
  std::string outputColorSpace;  // "" by the output's format
  ImageOptions image;

  // The host's time when it renders frame f.
  standin::HostTime hostTimeAt(int64_t frame) const {
    return {time.hostTime(frame), time.step(), time.hostTime(duration), time.scale()};
  }
};

// The render options about layers and colour, as given.
struct LayerOptions {
  // Not given: by each file's kind, and by the output's format. Given, even
  // empty, it must name a space that works.
  std::optional<std::string> inputColorSpace;
  std::optional<std::string> outputColorSpace;
  std::string fitDisplacement = "none";
  bool loopIcon = false;
};

struct RenderSummary {
  int64_t frames = 0;
  double seconds = 0;
  int64_t fittedFrames = 0;  // displacement frames resized to the output
  int threadsPerFrame = 1;   // as ThreadsPerFrame fixed them for the run
  // A note for each layer of several pictures that showed one on every frame.
  std::vector<std::string> frozen;
};

// Renders every job on up to `threads` threads, each frame on one thread with
// its own host. Warns when there is no icon layer, and afterwards when every
// icon frame the render used was fully transparent. Throws HostError for a
// code the effect returned (exit 1), UsageError for a layer that failed or
// memory that ran short (exit 2) and WriteError for an output that could not
// be written (exit 3); frames already finished stay written, the failing one
// is not. Each frame renders on ThreadsPerFrame of the frames at once.
// With a sink, frames go to it (by job index) instead of to their paths.
RenderSummary RenderFrames(const standin::PluginLibrary& plugin, const Scene& scene,
                           const FrameJobs& jobs, int threads, bool progress,
                           FrameSink* sink = nullptr);

// Opens the layers named (an empty path: no layer) with the options' colour
// space. Throws UsageError.
void OpenLayers(Scene& scene, const std::string& icon, const std::string& displacement,
                const LayerOptions& options);

// Once the output size is known: fits the displacement layer to it, takes the
// other options, and reads the header of every input frame the jobs can show.
// Throws UsageError, before anything is written.
void PrepareLayers(Scene& scene, const LayerOptions& options, const FrameJobs& jobs);

// Sets up a host on the plug-in and returns it; throws HostError when global
// or parameter set-up fails.
// Its renders take `threads` threads (0: the plug-in's own choice).
std::unique_ptr<standin::Host> SetUpHost(const standin::PluginLibrary& plugin, int threads = 0);

}  // namespace tilvane_tool
