#include "src/render/grid_geometry.h"

#include <cmath>

#include "src/render/conversions.h"

namespace tilvane {

std::optional<GridGeometry> ComputeGridGeometry(int32_t outputWidth, const PF_EffectWorld& icon,
                                                int32_t units) {
  if (units < 1 || icon.data == nullptr || icon.width < 2) return std::nullopt;
  // Sizes less one are formed in 64 bits: a host's INT32_MIN must not overflow.
  const float outputSpan = static_cast<float>(int64_t{outputWidth} - 1);
  const float iconSpanX = static_cast<float>(int64_t{icon.width} - 1);
  const float iconSpanY = static_cast<float>(int64_t{icon.height} - 1);

  GridGeometry g{};
  g.cellScale = outputSpan / (iconSpanX * static_cast<float>(units));
  g.halfWidth = TruncToInt32(std::ceil(iconSpanX * g.cellScale / 2.0f));
  g.halfHeight = TruncToInt32(std::ceil(iconSpanY * g.cellScale / 2.0f));
  g.iconWidth = icon.width;
  g.iconHeight = icon.height;
  return g;
}

}  // namespace tilvane
