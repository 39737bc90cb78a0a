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

// One cell's walk of its window, fixed before its first pixel: the
// transform and placement terms, and which window rows and columns are
// visited. Window rows and columns that the clamp puts on the output's last
// row or column, and that a later one overwrites there, are skipped: offsets
// only grow, so once an offset lands on the limit every later one does too,
// each overwriting the one before, and only the window's last shows. The
// frame is exactly that of the full walk, and a window far taller than the
// output costs no more than the output.
struct CellWalk {
  CellTransform transform;
  CellPlacement placement;
  double centreX;  // halfWidth × kc
  double centreY;  // halfHeight × kc
  int32_t halfWidth;
  int32_t halfHeight;
  int64_t lastWindowX;  // 2 × halfWidth
  int64_t lastWindowY;  // 2 × halfHeight
  // Window columns 0 to openColumns − 1 land before the output's last
  // column; the walk then jumps to lastWindowX. Likewise for rows.
  int64_t openColumns;
  int64_t openRows;
  const PF_EffectWorld* icon;
  int32_t iconWidth;
  int32_t iconHeight;

  // The rows visited, in order: 0 to openRows − 1, then lastWindowY; none
  // when the window is empty (a negative half size). Likewise for columns.
  int64_t RowCount() const { return lastWindowY < 0 ? 0 : openRows + 1; }
  int64_t RowAt(int64_t index) const { return index < openRows ? index : lastWindowY; }
  int64_t ColumnCount() const { return lastWindowX < 0 ? 0 : openColumns + 1; }
  int64_t ColumnAt(int64_t index) const { return index < openColumns ? index : lastWindowX; }
};

// The cell's icon must have pixel data and a width and height of at least 1.
template <typename Pixel>
CellWalk PrepareCellWalk(const DrawContext<Pixel>& context, const CellState& cell, int32_t cellRow,
                         int32_t cellColumn);

// The border rule, for every walk: with "Border" on, a pixel of the
// window's first row or first column is the border colour, and so is the
// output's last column on every output row the window writes.
template <typename Pixel>
bool OnBorder(const DrawContext<Pixel>& context, int64_t windowX, int64_t windowY) {
  return context.settings->border && (windowX == 0 || windowY == 0);
}
template <typename Pixel>
bool BorderEndsRows(const DrawContext<Pixel>& context) {
  return context.settings->border;
}

// The output row a window row lands on.
template <typename Pixel>
int32_t OutputRowOf(const DrawContext<Pixel>& context, const CellWalk& walk, int64_t windowY);

// Draws the visited rows with index firstRow to endRow − 1, row by row, left
// to right, one window pixel after another: SampleIcon reads the icon
// bilinearly and WriteCellPixel writes it (both in cell_draw.cpp). This is
// the reference every faster path is compared with.
template <typename Pixel>
void DrawWindowRows(const DrawContext<Pixel>& context, const CellWalk& walk, int64_t firstRow,
                    int64_t endRow);

// What one window pixel writes, before the border: its output column and
// its colour. Used where a faster path hands single pixels to the reference.
template <typename Pixel>
struct ShadedPixel {
  int32_t outputX;
  Pixel value;
};
template <typename Pixel>
ShadedPixel<Pixel> ShadeWindowPixel(const DrawContext<Pixel>& context, const CellWalk& walk,
                                    int64_t windowX, int64_t windowY);

}  // namespace tilvane
