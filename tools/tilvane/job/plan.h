// A render planned from the request: the scene, its frames and where they
// go, every input and output checked before anything is written; then run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "standin/host.h"
#include "tools/tilvane/job/controls.h"
#include "tools/tilvane/job/render_job.h"
#include "tools/tilvane/job/timing.h"
#include "tools/tilvane/output/audio_track.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {

// A render as asked for, each value checked and typed.
struct RenderRequest {
  std::string icon;          // "" no layer
  std::string displacement;  // "" no layer
  std::string output;
  std::optional<std::pair<int32_t, int32_t>> size;  // none: the layers'
  int depth = 8;
  TimeRequest time;
  std::optional<FramePattern> pattern;  // a numbered output's
  std::optional<int64_t> startNumber;   // the first output file's number; none: the frame's
  bool movie = false;
  bool stream = false;         // -o -: a stream on standard output
  std::string codec;           // movies only; "" the format's own
  std::optional<int> quality;  // movies only
  bool audio = true;           // movies carry a layer's sound (--no-audio: none)
  ImageOptions image;
  LayerOptions layers;
  int threads = 1;  // frames at once
  bool quiet = false;
  bool noOverwrite = false;
};

struct RenderPlan {
  Scene scene;
  Timing timing;
  FrameJobs jobs;
};

// Fixes the threads per frame for the run, reads the controls and opens the
// layers, takes the size, rate, frames and duration from them when none was
// given, checks every output and input frame, and makes the output's
// directory. Throws UsageError.
RenderPlan MakePlan(const RenderRequest& request, const std::vector<ControlOption>& controls);

// The stretch of a movie's sound that frames carries, in the layer's own
// seconds: from the first frame's time, for the range's length.
AudioSource SoundOfRange(const std::string& movie, const TimeBase& time, FrameRange frames);

// Renders the plan, into a movie or one file per frame, and prints the
// summary unless quiet; returns the exit status.
int Render(const standin::PluginLibrary& plugin, const RenderRequest& request,
           const RenderPlan& plan);

// Encodes frames rendered elsewhere (a farm's tasks) into the plan's movie
// with the codec and sound Render gives it: frame(i) is job i's picture.
void EncodeMovie(const RenderRequest& request, const RenderPlan& plan,
                 const std::function<standin::World(size_t)>& frame);

}  // namespace tilvane_tool
