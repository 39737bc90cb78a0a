#include "tools/tilvane/fitting.h"

#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/tilvane/colour.h"
#include "tools/tilvane/errors.h"

namespace tilvane_tool {

// The frame resized to width × height as fit says, in premultiplied floats
// with a filter that keeps soft shapes soft and rings little at edges. Fill
// scales by the larger of the two ratios, so the layer covers the output, and
// keeps the centre: the resize target is the whole scaled layer and only the
// output's window of it is computed.
standin::WorldPtr FittedFrame(const standin::World& frame, Fit fit, int32_t width, int32_t height,
                              const std::string& what) {
  std::vector<float> rgba = FloatsFromWorld(frame);
  OIIO::ImageSpec spec(frame.width(), frame.height(), 4, OIIO::TypeDesc::FLOAT);
  spec.alpha_channel = 3;
  const OIIO::ImageBuf source(spec, rgba.data());
  spec.width = spec.full_width = width;
  spec.height = spec.full_height = height;
  if (fit == Fit::Fill) {
    const double scale = std::max(double(width) / frame.width(), double(height) / frame.height());
    spec.full_width = std::max(width, static_cast<int>(std::lround(frame.width() * scale)));
    spec.full_height = std::max(height, static_cast<int>(std::lround(frame.height() * scale)));
    spec.x = (spec.full_width - width) / 2;
    spec.y = (spec.full_height - height) / 2;
  }
  OIIO::ImageBuf target(spec);
  const bool done =
      OIIO::ImageBufAlgo::resize(target, source, "blackman-harris", 0.0f, target.roi());
  std::vector<float> out(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  if (!done || !target.get_pixels(target.roi(), OIIO::TypeDesc::FLOAT, out.data())) {
    throw UsageError(Quoted(what) + " cannot be resized (" + OneLine(target.geterror()) +
                     "); try --fit-displacement none");
  }
  return WorldFromFloats(out, width, height, frame.depth());
}

}  // namespace tilvane_tool
