#include "tools/tilvane/input/fitting.h"

#include <OpenImageIO/filter.h>
#include <OpenImageIO/fmath.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/pixel_rows.h"

namespace tilvane_tool {
namespace {

// Keeps soft shapes soft and rings little at edges.
constexpr const char* kFilterName = "blackman-harris";

using FilterPtr = std::unique_ptr<OIIO::Filter2D, void (*)(OIIO::Filter2D*)>;

// The filter as OpenImageIO's resize sizes it for these ratios (output size
// over source size): its own width, widened in a direction the image grows in
// so that enlarging interpolates smoothly. Null when OpenImageIO has no such
// separable filter.
FilterPtr ResizeFilter(const char* name, float xratio, float yratio) {
  for (int i = 0; i < OIIO::Filter2D::num_filters(); ++i) {
    const OIIO::FilterDesc& desc = OIIO::Filter2D::get_filterdesc(i);
    if (std::strcmp(desc.name, name) != 0) continue;
    FilterPtr filter(OIIO::Filter2D::create(name, desc.width * std::max(1.0f, xratio),
                                            desc.width * std::max(1.0f, yratio)),
                     OIIO::Filter2D::destroy);
    if (filter && filter->separable()) return filter;
    break;
  }
  return FilterPtr(nullptr, OIIO::Filter2D::destroy);
}

// One direction of a resize, laid out as OpenImageIO's resize lays it out, in
// the same float arithmetic so that the weights are the same: output pixel p
// (counted across the whole resized image) samples the source at
// (p + 0.5) / outputSize × sourceSize, from the 2 × radius + 1 whole source
// pixels around it, clamped to the edge, weighted by the filter and
// normalised. Taps weighing nothing add nothing and are left out: each output
// pixel keeps the same number from its first weighing anything.
struct Axis {
  int taps = 0;
  std::vector<int32_t> source;  // per output pixel and tap: the source pixel read
  std::vector<float> weights;   // per output pixel and tap; all zero where the filter sums to 0
};

template <typename Filter>
Axis LayOut(int32_t begin, int32_t count, int32_t outputSize, int32_t sourceSize, float ratio,
            int radius, Filter filter) {
  const int all = 2 * radius + 1;
  const float pixel = 1.0f / static_cast<float>(outputSize);
  std::vector<float> weights(static_cast<size_t>(count) * all);
  std::vector<int32_t> first(static_cast<size_t>(count));
  std::vector<int> from(static_cast<size_t>(count), 0);
  int taps = 1;
  for (int32_t k = 0; k < count; ++k) {
    const float s = (static_cast<float>(begin + k) + 0.5f) * pixel;
    int whole = 0;
    const float frac = OIIO::floorfrac(s * static_cast<float>(sourceSize), &whole);
    float* w = &weights[static_cast<size_t>(k) * all];
    float total = 0.0f;
    for (int i = 0; i < all; ++i) {
      w[i] = filter(ratio * (static_cast<float>(i - radius) - (frac - 0.5f)));
      total += w[i];
    }
    first[k] = whole - radius;
    if (total == 0.0f) {
      std::fill(w, w + all, 0.0f);
      continue;
    }
    int lo = all, hi = -1;
    for (int i = 0; i < all; ++i) {
      w[i] /= total;
      if (w[i] != 0.0f) lo = std::min(lo, i), hi = i;
    }
    from[k] = lo;
    taps = std::max(taps, hi - lo + 1);
  }
  Axis axis;
  axis.taps = taps;
  axis.source.resize(static_cast<size_t>(count) * taps);
  axis.weights.assign(static_cast<size_t>(count) * taps, 0.0f);
  for (int32_t k = 0; k < count; ++k) {
    for (int t = 0; t < taps; ++t) {
      const int i = from[k] + t;
      const size_t at = static_cast<size_t>(k) * taps + t;
      axis.source[at] = std::clamp(first[k] + i, 0, sourceSize - 1);
      if (i < all) axis.weights[at] = weights[static_cast<size_t>(k) * all + i];
    }
  }
  return axis;
}

// The width × height window at (x0, y0) of the frame resized to fullWidth ×
// fullHeight, on premultiplied floats: OpenImageIO's resize done in two
// passes, across the source rows the window needs, then down. The sums run in
// another order than its one pass over a block of taps, so the results differ
// from its by float rounding only.
standin::WorldPtr Resized(const standin::World& frame, int32_t fullWidth, int32_t fullHeight,
                          int32_t x0, int32_t y0, int32_t width, int32_t height,
                          const std::string& what) {
  const float xratio = static_cast<float>(fullWidth) / static_cast<float>(frame.width());
  const float yratio = static_cast<float>(fullHeight) / static_cast<float>(frame.height());
  const FilterPtr filter = ResizeFilter(kFilterName, xratio, yratio);
  if (!filter) {
    throw UsageError(Quoted(what) + " cannot be resized (OpenImageIO has no separable filter '" +
                     kFilterName + "'); try --fit-displacement none");
  }
  // OpenImageIO takes the radius both ways from the filter's width.
  const float reach = filter->width() / 2.0f;
  const Axis across = LayOut(x0, width, fullWidth, frame.width(), xratio,
                             static_cast<int>(std::ceil(reach / xratio)),
                             [&](float x) { return filter->xfilt(x); });
  const Axis down = LayOut(y0, height, fullHeight, frame.height(), yratio,
                           static_cast<int>(std::ceil(reach / yratio)),
                           [&](float y) { return filter->yfilt(y); });

  // Only the source columns the window reads are converted.
  const auto [lowest, highest] = std::minmax_element(across.source.begin(), across.source.end());
  const int32_t left = *lowest;
  std::vector<float> line(static_cast<size_t>(*highest - left + 1) * 4);
  // Source rows filtered across, each kept while output rows still read it.
  // The rows one output row reads are consecutive and at most down.taps, and
  // later output rows move on to later ones, so row r lives in slot r % taps
  // and is filtered once (a row found missing is simply filtered again).
  const size_t rowFloats = static_cast<size_t>(width) * 4;
  std::vector<float> filtered(rowFloats * down.taps);
  std::vector<int32_t> held(down.taps, -1);
  const auto filterAcross = [&](int32_t r, float* out) {
    FloatsFromRow(frame, r, left, static_cast<int32_t>(line.size() / 4), line.data());
    const int32_t* source = across.source.data();
    const float* weight = across.weights.data();
    for (int32_t x = 0; x < width; ++x, out += 4) {
      float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
      for (int t = 0; t < across.taps; ++t, ++source, ++weight) {
        const float* p = &line[static_cast<size_t>(*source - left) * 4];
        for (int c = 0; c < 4; ++c) sum[c] += *weight * p[c];
      }
      std::copy(sum, sum + 4, out);
    }
  };

  auto fitted = std::make_shared<standin::World>(width, height, frame.depth());
  std::vector<float> row(rowFloats);
  for (int32_t y = 0; y < height; ++y) {
    std::fill(row.begin(), row.end(), 0.0f);
    for (int t = 0; t < down.taps; ++t) {
      const size_t at = static_cast<size_t>(y) * down.taps + t;
      const int32_t r = down.source[at];
      float* slot = &filtered[static_cast<size_t>(r % down.taps) * rowFloats];
      if (held[r % down.taps] != r) {
        filterAcross(r, slot);
        held[r % down.taps] = r;
      }
      const float w = down.weights[at];
      for (size_t i = 0; i < rowFloats; ++i) row[i] += w * slot[i];
    }
    RowFromFloats(row.data(), *fitted, y);
  }
  return fitted;
}

// The width × height window at (x0, y0) of the frame, pixel for pixel.
standin::WorldPtr Window(const standin::World& frame, int32_t x0, int32_t y0, int32_t width,
                         int32_t height) {
  auto window = std::make_shared<standin::World>(width, height, frame.depth());
  WithPixel(frame.depth(), [&](auto pixel) {
    using Pixel = decltype(pixel);
    const size_t bytes = static_cast<size_t>(width) * sizeof(Pixel);
    for (int32_t y = 0; y < height; ++y) {
      std::memcpy(RowOf<Pixel>(*window, y), RowOf<Pixel>(frame, y0 + y, x0), bytes);
    }
  });
  return window;
}

}  // namespace

// The frame resized to width × height as fit says, in premultiplied floats.
// Fill scales by the larger of the two ratios, so the layer covers the output,
// and keeps the centre: the resize's whole image is the scaled layer and only
// the output's window of it is computed. Where that keeps the layer's size,
// the window is cut from it unchanged, as oiiotool's resize leaves an image
// it is asked to resize to its own size.
standin::WorldPtr FittedFrame(const standin::World& frame, Fit fit, int32_t width, int32_t height,
                              const std::string& what) {
  int32_t fullWidth = width, fullHeight = height;
  if (fit == Fit::Fill) {
    const double scale = std::max(double(width) / frame.width(), double(height) / frame.height());
    fullWidth = std::max(width, static_cast<int32_t>(std::lround(frame.width() * scale)));
    fullHeight = std::max(height, static_cast<int32_t>(std::lround(frame.height() * scale)));
  }
  const int32_t x0 = (fullWidth - width) / 2;
  const int32_t y0 = (fullHeight - height) / 2;
  try {
    if (fullWidth == frame.width() && fullHeight == frame.height()) {
      return Window(frame, x0, y0, width, height);
    }
    return Resized(frame, fullWidth, fullHeight, x0, y0, width, height, what);
  } catch (const std::bad_alloc&) {
    throw UsageError(Quoted(what) + " cannot be resized (not enough memory for a " +
                     std::to_string(width) + "x" + std::to_string(height) +
                     " frame); try --fit-displacement none");
  }
}

}  // namespace tilvane_tool
