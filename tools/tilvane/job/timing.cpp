#include "tools/tilvane/job/timing.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <vector>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"

namespace tilvane_tool {
namespace {

constexpr int64_t kMaxTime = std::numeric_limits<int32_t>::max();

struct NamedLayer {
  const Layer* layer;
  std::optional<Rate> own;
};

std::string Named(const Layer& layer) { return layer.option() + " " + Quoted(layer.path()); }

}  // namespace

std::optional<std::pair<int64_t, int64_t>> LayerSpan(const Layer& layer, Rate output,
                                                     std::optional<Rate> own) {
  if (layer.still()) return std::nullopt;
  if (const MovieTimes* movie = layer.movieTimes()) {
    // Frames before the end, less half a tick that the time base rounds.
    const __int128 num = (2 * static_cast<__int128>(movie->end) - 1) * movie->tickNum * output.num;
    const __int128 den = 2 * static_cast<__int128>(movie->tickDen) * output.den;
    const auto count = static_cast<int64_t>(-FloorDiv(-num, den));
    return std::pair<int64_t, int64_t>{0, std::max<int64_t>(count, 1) - 1};
  }
  const Rate r = own.value_or(output);
  const int64_t first = layer.firstFrame();
  const int64_t end = first + layer.frameCount();
  // The output frames whose time falls in [first, end) of the layer's frames.
  const auto at = [&](int64_t n) {
    const __int128 a = static_cast<__int128>(n) * r.den * output.num;
    const __int128 b = static_cast<__int128>(r.num) * output.den;
    return static_cast<int64_t>(-FloorDiv(-a, b));
  };
  return std::pair<int64_t, int64_t>{at(first), std::max(at(first), at(end) - 1)};
}

Timing ResolveTiming(const TimeRequest& request, const Layer* icon, const Layer* displacement) {
  Timing t;
  if (request.rate) {
    t.rate = *request.rate;
    t.rateFrom = "--rate";
    t.timeStep = static_cast<int32_t>(t.rate.den);
    t.timeScale = static_cast<uint32_t>(t.rate.num);
  } else if (request.stepAndScale) {
    std::tie(t.timeStep, t.timeScale) = *request.stepAndScale;
    t.rate = *MakeRate(t.timeScale, t.timeStep);
    t.rateFrom = "--time-scale / --time-step";
  } else {
    t.rate = Rate{30, 1};
    t.rateFrom = "the default";
    for (const Layer* layer : {displacement, icon}) {
      if (layer && layer->movieTimes()) {
        t.rate = layer->movieTimes()->rate;
        t.rateFrom = Named(*layer);
        break;
      }
    }
    t.timeStep = static_cast<int32_t>(t.rate.den);
    t.timeScale = static_cast<uint32_t>(t.rate.num);
  }
  const int64_t lastFrame = kMaxTime / t.timeStep;

  const std::vector<NamedLayer> layers = {{displacement, request.displacementRate},
                                          {icon, request.iconRate}};
  std::optional<std::pair<int64_t, int64_t>> longest;
  const Layer* longestLayer = nullptr;
  for (const auto& [layer, own] : layers) {
    if (!layer) continue;
    const auto span = LayerSpan(*layer, t.rate, own);
    if (span && (!longest || span->second - span->first > longest->second - longest->first)) {
      longest = span;
      longestLayer = layer;
    }
  }
  if (request.frames) {
    std::tie(t.first, t.last) = *request.frames;
    t.rangeFrom = request.range ? "--frames" : "--frame";
    if (t.last > lastFrame) {
      throw UsageError(
          std::string(request.range ? "--frames '" + std::to_string(t.first) + "-" : "--frame '") +
          std::to_string(t.last) + "' is not valid; give " +
          (request.range ? "a range A-B of frames with A <= B, each" : "a whole number") +
          " from 0 to " + std::to_string(lastFrame) + " (frame × time step must fit)");
    }
  } else if (request.manyFrames && longest) {
    std::tie(t.first, t.last) = *longest;
    t.first = std::max<int64_t>(t.first, 0);
    t.last = std::clamp<int64_t>(t.last, t.first, lastFrame);
    t.rangeFrom = "the length of " + Named(*longestLayer);
  } else {
    t.rangeFrom = request.manyFrames ? "one frame: the layers are stills"
                                     : "one frame: the output is one image";
  }

  int64_t duration = 300;
  if (request.duration) {
    duration = *request.duration;
  } else if (icon) {
    // From frame 0 to one frame past the icon's end: the effect takes the icon
    // at times within the duration, so a plate's numbers stay within reach,
    // and it wraps icon time one host time unit before the total, so the
    // extra frame lets each of the icon's own frames show once per cycle.
    if (const auto span = LayerSpan(*icon, t.rate, request.iconRate)) duration = span->second + 2;
  }
  if (duration > kMaxTime / t.timeStep) {
    throw UsageError("--duration '" + std::to_string(duration) +
                     "' is not valid; give a whole number of frames from 1 to " +
                     std::to_string(kMaxTime / t.timeStep));
  }
  t.totalTime = static_cast<int32_t>(duration * t.timeStep);

  return t;
}

void WarnUnusedRates(const TimeRequest& request, const Layer* icon, const Layer* displacement) {
  const struct {
    const Layer* layer;
    bool given;
    const char* option;
  } rates[] = {{icon, request.iconRate.has_value(), "--icon-rate"},
               {displacement, request.displacementRate.has_value(), "--displacement-rate"}};
  for (const auto& r : rates) {
    if (!r.layer || !r.given || !(r.layer->still() || r.layer->movieTimes())) continue;
    Warn(std::string(r.option) + " has no effect: " + Named(*r.layer) +
         (r.layer->still() ? " is a still" : " is a movie, whose pictures keep their own times") +
         "; a rate applies to a numbered sequence only");
  }
}

void WarnPastLayerEnds(const Timing& t, const TimeRequest& request, const Layer* icon,
                       const Layer* displacement, bool loopIcon) {
  const std::vector<NamedLayer> layers = {{displacement, request.displacementRate},
                                          {icon, request.iconRate}};
  // Past a layer's end its last picture holds; a range there is most likely
  // a mistake about the layer's frame numbers, so it is said once.
  if (t.first == t.last && !request.frames) return;
  for (const auto& [layer, own] : layers) {
    if (!layer || (layer == icon && loopIcon)) continue;
    const auto span = LayerSpan(*layer, t.rate, own);
    if (!span || t.last <= span->second) continue;
    const int64_t from = std::max(t.first, span->second + 1);
    const std::string past = from == t.last ? "frame " + std::to_string(from) + " shows"
                                            : "frames " + NumberRanges({{from, t.last}}) + " show";
    Warn(Named(*layer) + " ends at frame " + std::to_string(span->second) + "; " + past +
         " its last picture");
  }
}

std::string Timing::describe() const {
  return (first == last ? "frame " + std::to_string(first)
                        : "frames " + std::to_string(first) + "-" + std::to_string(last)) +
         " at " + rate.shown() + " (rate: " + rateFrom + "; range: " + rangeFrom + ")";
}

}  // namespace tilvane_tool
