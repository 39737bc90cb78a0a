// Drawing one cell. For every pixel of the cell's window,
// the inverse mapping into the icon, the bilinear sample and the write into
// the output with its colour, transparency and border. Written once for both
// depths (PF_Pixel and PF_Pixel16); no host call and nothing virtual here.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"
#include "src/render/cell_time.h"
#include "src/render/grid_geometry.h"
#include "src/render/pixel_traits.h"
#include "src/render/render_settings.h"

namespace tilvane {

// The full turn: 2 × π multiplied in single precision, then widened; not the
// double-precision 2π (6.283185307179586).
inline constexpr double kFullTurn = static_cast<double>(2.0f * 3.1415927f);
static_assert(kFullTurn == 6.2831854820251465);

// What drawing needs that is fixed for the whole render at one depth.
template <typename Pixel>
struct DrawContext {
  const RenderSettings* settings;
  GridGeometry geometry;
  PF_EffectWorld* output;
  float lastColumnValue;  // (float)(output width − 1), the clamp of a column
  float lastRowValue;     // (float)(output height − 1), the clamp of a row
  int32_t lastColumn;     // output width − 1, the right-edge border column
  // Red, green and blue of colorA and colorB on the depth's scale.
  double colorA[3];
  double colorB[3];
  Pixel borderPixel;  // opaque whatever the alpha of "Border Color"
};

// The output world must have pixel data and a width and height of at least 1.
template <typename Pixel>
DrawContext<Pixel> MakeDrawContext(const RenderSettings& settings, const GridGeometry& geometry,
                                   PF_EffectWorld* output);

// The terms of the icon transform: angle, scale and divisor. They depend on
// the cell alone, so computing them once per cell gives exactly what
// computing them for every window pixel would.
struct CellTransform {
  double cosTheta;
  double sinTheta;
  double clampedScale;  // kc: k, or 0 when k is below 0
  double divisor;       // D: cellScale × k, at least 0.01
};
CellTransform ComputeCellTransform(const RenderSettings& settings, float cellScale,
                                   float cellLuminance);

// The per-cell terms of the output step: the window origin in the output and the
// transparency factor, single precision.
struct CellPlacement {
  float originX;
  float originY;
  float transparencyFactor;
  float cellLuminance;
};
CellPlacement ComputeCellPlacement(const RenderSettings& settings, float cellScale,
                                   const CellState& cell, int32_t cellRow, int32_t cellColumn);

// Walks the cell's window, 2 × halfHeight + 1 rows by 2 × halfWidth + 1
// columns, rows outer; for every window pixel SampleIcon reads the icon
// bilinearly and WriteCellPixel writes it (both in cell_draw.cpp). Window
// rows and columns that the clamp puts on the output's last row or column,
// and that a later one overwrites there, are skipped: the frame is the same
// and a window far taller than the output costs no more than the output. The
// cell's icon must have pixel data and a width and height of at least 1.
template <typename Pixel>
void DrawCellWindow(const DrawContext<Pixel>& context, const CellState& cell, int32_t cellRow,
                    int32_t cellColumn);

}  // namespace tilvane
