// What a planned render worked out, for --save-settings: the values a user
// may also give, as this render takes them, whether given or derived from the
// layers. A plain value, so that the command line saves a look without
// reaching into the plan.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/tilvane/core/rate.h"
#include "tools/tilvane/job/controls.h"

namespace tilvane_tool {

struct RenderPlan;

struct ResolvedValues {
  int32_t width = 0;
  int32_t height = 0;
  int depth = 8;
  Rate rate{30, 1};
  int32_t timeStep = 1;     // the host's ticks a frame
  uint32_t timeScale = 30;  // the host's ticks a second
  int64_t first = 0;        // the frames rendered
  int64_t last = 0;
  int64_t duration = 300;              // the icon's length as the effect sees it, in frames
  std::vector<ControlValue> controls;  // as given; the others take their defaults
};

ResolvedValues ResolvedOf(const RenderPlan& plan);

}  // namespace tilvane_tool
