// The cell grid of one render, computed once at set-up from the
// output width, the icon checked out at the current time and "Units".
#pragma once

#include <cstdint>
#include <optional>

#include "src/host/host_api.h"

namespace tilvane {

struct GridGeometry {
  float cellScale;     // output pixels per icon pixel, both axes
  int32_t halfWidth;   // the window spans 2 × halfWidth + 1 columns
  int32_t halfHeight;  // the window spans 2 × halfHeight + 1 rows
  // The icon size the geometry was computed from; the displacement sample uses it.
  int32_t iconWidth;
  int32_t iconHeight;
};

// All in single precision, in a fixed order of operations. Gives no
// geometry when "Units" is below 1, the icon has no pixels, or the icon is
// narrower than 2 pixels (the divisor of cellScale would be zero). Half sizes
// beyond the 32-bit range saturate.
std::optional<GridGeometry> ComputeGridGeometry(int32_t outputWidth, const PF_EffectWorld& icon,
                                                int32_t units);

}  // namespace tilvane
