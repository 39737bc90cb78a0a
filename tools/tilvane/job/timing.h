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
#include "tools/tilvane/input/layer.h"

namespace tilvane_tool {

// The time options as given, checked for form.
struct TimeRequest {
  std::optional<Rate> rate;  // --rate
  // --time-step and --time-scale, when either was given.
  std::optional<std::pair<int32_t, uint32_t>> stepAndScale;
  std::optional<std::pair<int64_t, int64_t>> frames;  // --frames A-B, or --frame F as F-F
  bool range = false;                                 // the frames came as --frames
  std::optional<int64_t> duration;                    // --duration, in frames
  std::optional<Rate> iconRate;                       // a numbered icon's own rate
  std::optional<Rate> displacementRate;
  bool manyFrames = false;  // the output is a movie or a numbered pattern
};

// What the time options and the layers come to, and where each came from.
struct Timing {
  Rate rate;
  std::string rateFrom;
  int32_t timeStep = 1;     // host time units a frame
  uint32_t timeScale = 30;  // host time units a second
  int64_t first = 0;
  int64_t last = 0;
  std::string rangeFrom;
  int32_t totalTime = 300;       // the duration, in host time units
  std::string describe() const;  // "frames 0-49 at 25 fps (...)"
};

// Resolves the time of a render with these layers (null: none). Throws
// UsageError when a frame or the duration does not fit the host's time at
// that rate.
Timing ResolveTiming(const TimeRequest& request, const Layer* icon, const Layer* displacement);

// Warns once for each layer the range runs past the end of (not for a
// looped icon), once the job has passed its checks.
void WarnPastLayerEnds(const Timing& timing, const TimeRequest& request, const Layer* icon,
                       const Layer* displacement, bool loopIcon);

// Warns once for each layer rate given to a layer that has no use for it: a
// movie keeps its pictures' own times and a still has none.
void WarnUnusedRates(const TimeRequest& request, const Layer* icon, const Layer* displacement);

// The frames a layer covers at the output rate (none for a still): a movie
// from 0 to its end, a numbered layer from its first frame to its last at
// its own rate (none: the output's).
std::optional<std::pair<int64_t, int64_t>> LayerSpan(const Layer& layer, Rate output,
                                                     std::optional<Rate> own);

struct FrameJob {
  int64_t frame;     // current_time = frame × time step
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
