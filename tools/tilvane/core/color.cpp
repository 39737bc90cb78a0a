#include "tools/tilvane/core/color.h"

#include <OpenImageIO/color.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/pixel_rows.h"

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

std::vector<std::string> ColorSpaceNames() {
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

std::optional<std::string> KnownColorSpace(const std::string& name) {
  for (const std::string& known : ColorSpaceNames()) {
    if (SameName(known, name)) return known;
  }
  return std::nullopt;
}

std::string ResolveColorSpace(const std::string& option, const std::string& name) {
  if (auto known = KnownColorSpace(name)) return *known;
  const std::vector<std::string> names = ColorSpaceNames();
  std::string list;
  for (const std::string& known : names) list += (list.empty() ? "" : ", ") + known;
  throw UsageError(option + " '" + name + "' is not a colour space the colour configuration " +
                   "converts; give one of " + list + " (set $OCIO for another configuration)");
}

bool IsWorkingSpace(const std::string& space) {
  return space == kRawSpace || SameName(space, kWorkingSpace);
}

void ConvertColor(std::vector<float>& rgba, int width, int height, bool premultiplied,
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

namespace {

// Float RGBA values as half floats, converted as OpenImageIO's writer converts them.
void ToHalves(const std::vector<float>& floats, std::vector<uint16_t>& halves) {
  halves.resize(floats.size());
  OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, floats.data(), OIIO::TypeDesc::HALF,
                             halves.data(), static_cast<int>(floats.size()));
}

// 256 × 256 pixels, pixel (v, a) holding value v in each colour channel (or
// the channel's own of three different values) under alpha a, premultiplied
// 8-bit values as floats, converted to space and then to halves.
std::vector<uint16_t> AllBytesInSpace(const std::string& space, bool mixed,
                                      const std::string& what) {
  std::vector<float> rgba(256 * 256 * 4);
  for (int a = 0; a < 256; ++a) {
    for (int v = 0; v < 256; ++v) {
      float* p = &rgba[(size_t(a) * 256 + size_t(v)) * 4];
      const int values[3] = {v, mixed ? 255 - v : v, mixed ? (v * 7) % 256 : v};
      for (int c = 0; c < 3; ++c) p[c] = static_cast<float>(values[c]) / 255.0f;
      p[3] = static_cast<float>(a) / 255.0f;
    }
  }
  ConvertColor(rgba, 256, 256, true, kWorkingSpace, space, what);
  std::vector<uint16_t> halves;
  ToHalves(rgba, halves);
  return halves;
}

// The table for space, [(a * 256 + v) * 4 + c]: value v of channel c under alpha a
// (c = 3: the alpha); empty when the conversion mixes channels.
const std::vector<uint16_t>& HalfTable(const std::string& space, const std::string& what) {
  static std::mutex mutex;
  static std::map<std::string, std::vector<uint16_t>> tables;
  std::lock_guard lock(mutex);
  if (auto it = tables.find(space); it != tables.end()) return it->second;
  std::vector<uint16_t> grey = AllBytesInSpace(space, false, what);
  const std::vector<uint16_t> mixed = AllBytesInSpace(space, true, what);
  for (int a = 0; a < 256 && !grey.empty(); ++a) {
    for (int v = 0; v < 256; ++v) {
      const size_t pixel = (size_t(a) * 256 + size_t(v)) * 4;
      const int values[3] = {v, 255 - v, (v * 7) % 256};
      for (int c = 0; c < 3; ++c) {
        if (mixed[pixel + c] != grey[(size_t(a) * 256 + size_t(values[c])) * 4]) {
          grey.clear();
          break;
        }
      }
      if (grey.empty()) break;
    }
  }
  return tables.emplace(space, std::move(grey)).first->second;
}

}  // namespace

bool HalvesFromWorld8(const standin::World& frame, const std::string& space,
                      const std::string& what, std::vector<uint16_t>& halves) {
  const std::vector<uint16_t>& table = HalfTable(space, what);
  const int32_t w = frame.width();
  const int32_t h = frame.height();
  if (table.empty()) {
    std::vector<float> rgba = FloatsFromWorld(frame);
    ConvertColor(rgba, w, h, true, kWorkingSpace, space, what);
    ToHalves(rgba, halves);
    return false;
  }
  halves.resize(size_t(w) * size_t(h) * 4);
  uint16_t* out = halves.data();
  for (int32_t y = 0; y < h; ++y) {
    const PF_Pixel* row = &frame.at8(0, y);
    for (int32_t x = 0; x < w; ++x, out += 4) {
      const PF_Pixel& p = row[x];
      const uint16_t* under = &table[size_t{p.alpha} * 256 * 4];
      out[0] = under[size_t{p.red} * 4];
      out[1] = under[size_t{p.green} * 4 + 1];
      out[2] = under[size_t{p.blue} * 4 + 2];
      out[3] = under[3];
    }
  }
  return true;
}

standin::WorldPtr FrameInSpace(const standin::World& frame, const std::string& space,
                               const std::string& what) {
  std::vector<float> rgba = FloatsFromWorld(frame);
  ConvertColor(rgba, frame.width(), frame.height(), true, kWorkingSpace, space, what);
  return WorldFromFloats(rgba, frame.width(), frame.height(), frame.depth());
}

}  // namespace tilvane_tool
