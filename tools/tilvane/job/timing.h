// A render's time: its rate, its frames and the icon's duration, each taken
// from the options when given and else from the layers, as a host makes a
// composition from footage; and the frames of a range, each named when it
// is rendered, so that a range of any length costs nothing to plan.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "tools/tilvane/core/frame_pattern.h"
#include "tools/tilvane/core/rate.h"
#include "tools/tilvane/core/time_base.h"
#include "tools/tilvane/input/layer.h"
#include "tools/tilvane/input/layer_source.h"

namespace tilvane_tool {

// The time options as given, checked for form only: whether a frame or the
// duration fits the host's time depends on the rate, which the layers may give.
struct TimeRequest {
  std::optional<Rate> rate;  // --rate
  // --time-step and --time-scale, when either was given.
  std::optional<TimeBase> stepAndScale;
  std::optional<FrameRange> frames;  // --frames A-B, or --frame F as F-F
  bool range = false;                // the frames came as --frames
  std::optional<int64_t> duration;   // --duration, in frames
  std::optional<Rate> iconRate;      // a numbered icon's own rate
  std::optional<Rate> displacementRate;
  bool manyFrames = false;  // the output is a movie or a numbered pattern
};

// What the time options and the layers come to, and where each came from:
// a plain value, the one every other reader of the render's time takes.
struct Timing {
  TimeBase base;  // the rate, and the host's step and scale for it
  std::string rateFrom;
  FrameRange frames;
  std::string rangeFrom;
  int64_t duration = 300;  // the icon's length as the effect sees it, in frames
  std::string durationFrom;

  Rate rate() const { return base.rate(); }
  int32_t totalTime() const { return base.hostTime(duration); }  // the duration in host time
  std::string describe() const;                                  // "frames 0-49 at 25 fps (...)"
};

// Resolves the time of a render with these layers (null: none): the one place
// the rate, the range and the duration are checked against the host's time.
// Throws UsageError naming what gave a frame or a duration that does not fit.
Timing ResolveTiming(const TimeRequest& request, const Layer* icon, const Layer* displacement);

// Warns once for each end of a layer the range runs beyond, where its frames
// freeze: before a sequence's first file (or a movie's first picture) they
// show that, past its end its last picture; a looped icon has no end. Once
// the job has passed its checks.
void WarnOutsideLayers(const Timing& timing, const TimeRequest& request, const Layer* icon,
                       const Layer* displacement, bool loopIcon);

// For the summary: when every frame of a render of several showed one picture
// of a layer that has several, as the layer's source saw (the effect takes
// the icon at each cell's own time), says which; else none.
std::optional<std::string> FrozenLayer(const Layer* layer, const LayerUsage& usage, int64_t frames);

// Warns once for each layer rate given to a layer that has no use for it: a
// movie keeps its pictures' own times and a still has none.
void WarnUnusedRates(const TimeRequest& request, const Layer* icon, const Layer* displacement);

// The frames a layer covers at the output rate (none for a still): a movie
// from 0 to its end, a numbered layer from its first frame to its last at
// its own rate (none: the output's).
std::optional<FrameRange> LayerSpan(const Layer& layer, Rate output, std::optional<Rate> own);

struct FrameJob {
  int64_t frame;     // its host time is the TimeBase's timeOf(frame)
  std::string path;  // where the image goes
};

// The frames of a render, first to last, in order.
struct FrameJobs {
  int64_t first = 0;
  int64_t last = 0;
  std::string output;                   // a movie, an image, or a numbered name
  std::optional<FramePattern> pattern;  // a numbered name's
  int64_t firstNumber = 0;              // the number the first frame's file carries

  size_t size() const { return static_cast<size_t>(last - first + 1); }
  int64_t frame(size_t i) const { return first + static_cast<int64_t>(i); }
  std::string path(size_t i) const {
    return pattern ? pattern->name(firstNumber + static_cast<int64_t>(i)) : output;
  }
  FrameJob operator[](size_t i) const { return {frame(i), path(i)}; }
};

}  // namespace tilvane_tool
