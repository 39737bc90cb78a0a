#include "tools/tilvane/colour.h"

#include <OpenImageIO/color.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "tools/tilvane/errors.h"
#include "tools/tilvane/pixels.h"

namespace tilvane_tool {
namespace {

// One configuration for the whole run: $OCIO's when set, else OpenImageIO's
// built-in one. It caches its processors and is safe to share between threads.
OIIO::ColorConfig& Config() {
  static OIIO::ColorConfig config;
  return config;
}

bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// True when the configuration converts between the working space and name
// both ways. A configuration may name spaces it cannot convert: OpenImageIO's
// built-in one lists aliases that need an OpenColorIO file it does not have.
bool Converts(const std::string& name) {
  for (const bool in : {true, false}) {
    std::vector<float> pixel = {0.5f, 0.5f, 0.5f, 1.0f};
    OIIO::ImageSpec spec(1, 1, 4, OIIO::TypeDesc::FLOAT);
    OIIO::ImageBuf image(spec, pixel.data());
    const std::string& from = in ? name : std::string(kWorkingSpace);
    const std::string& to = in ? std::string(kWorkingSpace) : name;
    if (!OIIO::ImageBufAlgo::colorconvert(image, image, from, to, false, "", "", &Config())) {
      (void)image.geterror();  // read, so that it is not printed when the buffer goes
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::string> ColourSpaceNames() {
  // Probed once: the configuration does not change during a run.
  static const std::vector<std::string> names = [] {
    std::vector<std::string> usable;
    const OIIO::ColorConfig& config = Config();
    for (int i = 0; i < config.getNumColorSpaces(); ++i) {
      const std::string name = config.getColorSpaceNameByIndex(i);
      if (SameName(name, kWorkingSpace) || Converts(name)) usable.push_back(name);
    }
    (void)OIIO::geterror();  // the failed probes leave their messages behind
    usable.emplace_back(kRawSpace);
    return usable;
  }();
  return names;
}

std::optional<std::string> KnownColourSpace(const std::string& name) {
  for (const std::string& known : ColourSpaceNames()) {
    if (SameName(known, name)) return known;
  }
  return std::nullopt;
}

std::string ResolveColourSpace(const std::string& option, const std::string& name) {
  if (auto known = KnownColourSpace(name)) return *known;
  const std::vector<std::string> names = ColourSpaceNames();
  std::string list;
  for (const std::string& known : names) list += (list.empty() ? "" : ", ") + known;
  throw UsageError(option + " '" + name + "' is not a colour space the colour configuration " +
                   "converts; give one of " + list + " (set $OCIO for another configuration)");
}

bool IsWorkingSpace(const std::string& space) {
  return space == kRawSpace || SameName(space, kWorkingSpace);
}

void ConvertColour(std::vector<float>& rgba, int width, int height, bool premultiplied,
                   const std::string& from, const std::string& to, const std::string& what) {
  if (from == kRawSpace || to == kRawSpace || SameName(from, to)) return;
  OIIO::ImageSpec spec(width, height, 4, OIIO::TypeDesc::FLOAT);
  spec.alpha_channel = 3;
  OIIO::ImageBuf image(spec, rgba.data());
  // Straight colour is converted as it is; premultiplied colour is divided by
  // alpha first, so that a half-covered pixel converts like an opaque one.
  if (!OIIO::ImageBufAlgo::colorconvert(image, image, from, to, premultiplied, "", "", &Config())) {
    throw UsageError(what + ": cannot convert colour from '" + from + "' to '" + to + "' (" +
                     image.geterror() + "); choose other colour spaces");
  }
}

// Four channels at once in the compiler's vector types: the same IEEE
// operation on each as one at a time would do, in a quarter of the
// instructions (these conversions run on every pixel of every fitted frame).
using Floats4 = float __attribute__((vector_size(16)));
using Doubles4 = double __attribute__((vector_size(32)));
using Ints4 = int32_t __attribute__((vector_size(16)));

void FloatsFromRow(const standin::World& frame, int32_t y, int32_t x, int32_t count, float* rgba) {
  const float full = static_cast<float>(FullScale(frame.depth()));
  const Floats4 divisor = {full, full, full, full};
  const auto put = [&](Ints4 v) {
    const Floats4 f = __builtin_convertvector(v, Floats4) / divisor;
    std::memcpy(rgba, &f, sizeof f);
    rgba += 4;
  };
  if (frame.depth() == 16) {
    const PF_Pixel16* row = &frame.at16(x, y);
    for (int32_t i = 0; i < count; ++i)
      put(Ints4{row[i].red, row[i].green, row[i].blue, row[i].alpha});
  } else {
    const PF_Pixel* row = &frame.at8(x, y);
    for (int32_t i = 0; i < count; ++i)
      put(Ints4{row[i].red, row[i].green, row[i].blue, row[i].alpha});
  }
}

void RowFromFloats(const float* rgba, standin::World& frame, int32_t y) {
  const int32_t width = frame.width();
  const double full = FullScale(frame.depth());
  const Floats4 zero = {0.0f, 0.0f, 0.0f, 0.0f}, one = {1.0f, 1.0f, 1.0f, 1.0f};
  // FromFloat on each channel: clamped (NaN to 0), scaled, rounded.
  const auto steps = [&](const float* p) {
    Floats4 f;
    std::memcpy(&f, p, sizeof f);
    f = f > zero ? f : zero;
    f = f < one ? f : one;
    return __builtin_convertvector(__builtin_convertvector(f, Doubles4) * full + 0.5, Ints4);
  };
  if (frame.depth() == 16) {
    PF_Pixel16* row = &frame.at16(0, y);
    for (int32_t x = 0; x < width; ++x, rgba += 4) {
      const Ints4 v = steps(rgba);
      row[x] =
          PF_Pixel16{static_cast<A_u_short>(v[3]), static_cast<A_u_short>(std::min(v[0], v[3])),
                     static_cast<A_u_short>(std::min(v[1], v[3])),
                     static_cast<A_u_short>(std::min(v[2], v[3]))};
    }
  } else {
    PF_Pixel* row = &frame.at8(0, y);
    for (int32_t x = 0; x < width; ++x, rgba += 4) {
      const Ints4 v = steps(rgba);
      row[x] = PF_Pixel{static_cast<A_u_char>(v[3]), static_cast<A_u_char>(std::min(v[0], v[3])),
                        static_cast<A_u_char>(std::min(v[1], v[3])),
                        static_cast<A_u_char>(std::min(v[2], v[3]))};
    }
  }
}

std::vector<float> FloatsFromWorld(const standin::World& frame) {
  const size_t w = static_cast<size_t>(frame.width());
  std::vector<float> rgba(w * static_cast<size_t>(frame.height()) * 4);
  for (int32_t y = 0; y < frame.height(); ++y) {
    FloatsFromRow(frame, y, 0, frame.width(), rgba.data() + static_cast<size_t>(y) * w * 4);
  }
  return rgba;
}

standin::WorldPtr WorldFromFloats(const std::vector<float>& rgba, int32_t width, int32_t height,
                                  int depth) {
  auto out = std::make_shared<standin::World>(width, height, depth);
  for (int32_t y = 0; y < height; ++y) {
    RowFromFloats(rgba.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 4, *out, y);
  }
  return out;
}

standin::WorldPtr FrameInSpace(const standin::World& frame, const std::string& space,
                               const std::string& what) {
  std::vector<float> rgba = FloatsFromWorld(frame);
  ConvertColour(rgba, frame.width(), frame.height(), true, kWorkingSpace, space, what);
  return WorldFromFloats(rgba, frame.width(), frame.height(), frame.depth());
}

}  // namespace tilvane_tool
