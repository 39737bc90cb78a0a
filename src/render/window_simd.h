// The vector paths of the window walk. Each draws exactly the pixels the
// reference walk (DrawWindowRows) draws, bit for bit: the same IEEE
// operations in the same order on several window pixels at once, no fused
// multiply-add, no reciprocal in place of a division. Groups of pixels whose
// source point a vector conversion cannot take exactly (NaN, infinities,
// points beyond ±2^30) are handed to the reference one pixel at a time.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"
#include "src/render/cell_draw.h"
#include "src/render/render_options.h"

namespace tilvane {

// The walk of one path and the path it is: every path draws the same
// pixels, so only this says which one ran. Each path's walk names itself.
template <typename Pixel>
struct RowDrawer {
  using Draw = void (*)(const DrawContext<Pixel>& context, const CellWalk& walk, int64_t firstRow,
                        int64_t endRow);
  SimdPath path;
  Draw draw;

  void operator()(const DrawContext<Pixel>& context, const CellWalk& walk, int64_t firstRow,
                  int64_t endRow) const {
    draw(context, walk, firstRow, endRow);
  }
};

// The walk of one path: the reference for kScalar. The path must be one the
// CPU supports (BestSimdPath or below).
template <typename Pixel>
RowDrawer<Pixel> RowDrawerFor(SimdPath path);

}  // namespace tilvane
