// Layers as the stand-in host serves them: a source maps a host time to a
// frame, or to "no pixels".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "standin/world.h"

namespace standin {

struct LayerRequest {
  int32_t time;        // host time units
  int32_t timeStep;    // the render call's time_step
  uint32_t timeScale;  // the render call's time_scale
  int depth;           // the render's depth, 8 or 16
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // The frame at the request's time and depth; null means the layer has no
  // pixels there. The host keeps the result alive until it is checked in.
  virtual WorldPtr frameAt(const LayerRequest& request) = 0;
};

using FrameSourcePtr = std::shared_ptr<FrameSource>;

// The same frame at every time (a still). Serves a frame only at its own
// depth; another depth has no pixels.
FrameSourcePtr StillSource(WorldPtr frame);

// Frames shown one per time step, counted from the first: host time t shows
// frame floor(t / timeStep), held at the first and last frame outside the
// range. Frames must share one depth.
FrameSourcePtr FrameListSource(std::vector<WorldPtr> frames);

// Anything else: a function of the request.
FrameSourcePtr FunctionSource(std::function<WorldPtr(const LayerRequest&)> frameAt);

// The frame index FrameListSource shows at a time, for count frames.
int64_t FrameIndexAt(int32_t time, int32_t timeStep, int64_t count);

}  // namespace standin
