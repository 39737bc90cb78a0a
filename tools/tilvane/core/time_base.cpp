#include "tools/tilvane/core/time_base.h"

#include <limits>

namespace tilvane_tool {

std::optional<TimeBase> TimeBase::Of(Rate rate) { return FromStepAndScale(rate.den, rate.num); }

std::optional<TimeBase> TimeBase::FromStepAndScale(int64_t step, int64_t scale) {
  if (step < 1 || step > kMaxTime || scale < 1 || scale > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  return TimeBase(static_cast<int32_t>(step), static_cast<uint32_t>(scale));
}

}  // namespace tilvane_tool
