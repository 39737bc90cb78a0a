#include "tools/tilvane/job/timing.h"

#include <algorithm>
#include <vector>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"
#include "tools/tilvane/input/layer_source.h"

namespace tilvane_tool {
namespace {

struct NamedLayer {
  const Layer* layer;
  std::optional<Rate> own;
};

std::string Named(const Layer& layer) { return layer.option() + " " + Quoted(layer.path()); }

// The rate, from the options, else the displacement movie's, else the icon
// movie's, else 30.
void ResolveRate(const TimeRequest& request, const Layer* icon, const Layer* displacement,
                 Timing& t) {
  if (request.rate) {
    t.base = *TimeBase::Of(*request.rate);
    t.rateFrom = "--rate";
    return;
  }
  if (request.stepAndScale) {
    t.base = *request.stepAndScale;
    t.rateFrom = "--time-scale / --time-step";
    return;
  }
  t.rateFrom = "the default";
  for (const Layer* layer : {displacement, icon}) {
    if (!layer || !layer->movieTimes()) continue;
    const Rate rate = layer->movieTimes()->rate;
    const auto base = TimeBase::Of(rate);
    if (!base) {
      throw UsageError(Named(*layer) + " runs at " + rate.text() +
                       " frames a second, which the host's 32-bit time cannot hold; give --rate");
    }
    t.base = *base;
    t.rateFrom = Named(*layer);
    return;
  }
}

// Where a frame or a duration beyond the host's time is refused: what gave it
// and what to do.
std::string AtMost(const Timing& t) {
  return std::to_string(t.base.lastFrame()) + " at " + t.rate().text() +
         " (frame × time step must fit the host's 32-bit time)";
}

}  // namespace

std::optional<FrameRange> LayerSpan(const Layer& layer, Rate output, std::optional<Rate> own) {
  if (layer.still()) return std::nullopt;
  if (const MovieTimes* movie = layer.movieTimes()) {
    // Frames before the end, less half a tick that the time base rounds.
    const __int128 num = (2 * static_cast<__int128>(movie->end) - 1) * movie->tickNum * output.num;
    const __int128 den = 2 * static_cast<__int128>(movie->tickDen) * output.den;
    const auto count = static_cast<int64_t>(-FloorDiv(-num, den));
    return FrameRange{0, std::max<int64_t>(count, 1) - 1};
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
  return FrameRange{at(first), std::max(at(first), at(end) - 1)};
}

Timing ResolveTiming(const TimeRequest& request, const Layer* icon, const Layer* displacement) {
  Timing t;
  ResolveRate(request, icon, displacement, t);
  const int64_t lastFrame = t.base.lastFrame();

  const std::vector<NamedLayer> layers = {{displacement, request.displacementRate},
                                          {icon, request.iconRate}};
  std::optional<FrameRange> longest;
  const Layer* longestLayer = nullptr;
  for (const auto& [layer, own] : layers) {
    if (!layer) continue;
    const auto span = LayerSpan(*layer, t.rate(), own);
    if (span && (!longest || span->size() > longest->size())) {
      longest = span;
      longestLayer = layer;
    }
  }
  if (request.frames) {
    t.frames = *request.frames;
    t.rangeFrom = request.range ? "--frames" : "--frame";
    if (!t.base.fits(t.frames.last)) {
      throw UsageError(
          std::string(request.range ? "--frames '" + std::to_string(t.frames.first) + "-"
                                    : "--frame '") +
          std::to_string(t.frames.last) + "' is not valid; give " +
          (request.range ? "a range A-B of frames with A <= B, each" : "a whole number") +
          " from 0 to " + AtMost(t));
    }
  } else if (request.manyFrames && longest) {
    const int64_t first = std::max<int64_t>(longest->first, 0);
    if (first > lastFrame) {
      throw UsageError(Named(*longestLayer) + " starts at frame " + std::to_string(first) +
                       ", past the last frame the host's time holds, " + AtMost(t) +
                       "; give --frames, or a lower --rate");
    }
    t.frames = {first, std::clamp<int64_t>(longest->last, first, lastFrame)};
    t.rangeFrom = "the length of " + Named(*longestLayer);
  } else {
    t.rangeFrom = request.manyFrames ? "one frame: the layers are stills"
                                     : "one frame: the output is one image";
  }

  t.durationFrom = "the default";
  if (request.duration) {
    t.duration = *request.duration;
    t.durationFrom = "--duration";
    if (t.duration > lastFrame) {
      throw UsageError("--duration '" + std::to_string(t.duration) +
                       "' is not valid; give a whole number of frames from 1 to " + AtMost(t));
    }
  } else if (icon) {
    // From frame 0 to one frame past the icon's end: the effect takes the icon
    // at times within the duration, so a plate's numbers stay within reach,
    // and it wraps icon time one host time unit before the total, so the
    // extra frame lets each of the icon's own frames show once per cycle.
    if (const auto span = LayerSpan(*icon, t.rate(), request.iconRate)) {
      t.duration = span->last + 2;
      t.durationFrom = "the length of " + Named(*icon);
      if (t.duration > lastFrame) {
        throw UsageError(Named(*icon) + " runs to frame " + std::to_string(span->last) +
                         ", and the icon's duration, one frame past its end, does not fit the "
                         "host's time: give --duration, a whole number of frames from 1 to " +
                         AtMost(t));
      }
    }
  }
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

void WarnOutsideLayers(const Timing& t, const TimeRequest& request, const Layer* icon,
                       const Layer* displacement, bool loopIcon) {
  const std::vector<NamedLayer> layers = {{displacement, request.displacementRate},
                                          {icon, request.iconRate}};
  // Outside a layer its first or last picture holds; a range there is most
  // likely a mistake about the layer's frame numbers or its rate, so each end
  // is said once.
  const FrameRange& range = t.frames;
  if (range.first == range.last && !request.frames) return;
  const auto frames = [](int64_t from, int64_t to) {
    return from == to ? "frame " + std::to_string(from) + " shows"
                      : "frames " + NumberRanges({{from, to}}) + " show";
  };
  for (const auto& [layer, own] : layers) {
    if (!layer || (layer == icon && loopIcon)) continue;
    const auto span = LayerSpan(*layer, t.rate(), own);
    if (!span) continue;
    if (range.first < span->first) {
      Warn(Named(*layer) + " starts at frame " + std::to_string(span->first) + "; " +
           frames(range.first, std::min(range.last, span->first - 1)) + " its first picture");
    }
    if (range.last > span->last) {
      Warn(Named(*layer) + " ends at frame " + std::to_string(span->last) + "; " +
           frames(std::max(range.first, span->last + 1), range.last) + " its last picture");
    }
  }
}

std::optional<std::string> FrozenLayer(const Layer* layer, const LayerUsage& usage,
                                       int64_t frames) {
  const std::optional<int64_t> picture = usage.onlyPicture();
  if (!layer || layer->still() || layer->frameCount() < 2 || frames < 2 || !picture) {
    return std::nullopt;
  }
  const int64_t count = layer->frameCount();
  const std::string which =
      layer->movieTimes()
          ? "picture " + std::to_string(*picture + 1) + " of " + std::to_string(count)
          : "frame " + std::to_string(layer->firstFrame() + *picture) + " of " +
                NumberRanges({{layer->firstFrame(), layer->firstFrame() + count - 1}});
  return "every frame shows the same picture of " + Named(*layer) + " (" + which + ")";
}

std::string Timing::describe() const {
  return (frames.first == frames.last
              ? "frame " + std::to_string(frames.first)
              : "frames " + std::to_string(frames.first) + "-" + std::to_string(frames.last)) +
         " at " + rate().shown() + " (rate: " + rateFrom + "; range: " + rangeFrom + ")";
}

}  // namespace tilvane_tool
