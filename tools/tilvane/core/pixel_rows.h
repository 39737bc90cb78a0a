// Rows of pixels between the effect's frames and the files' values: straight
// and premultiplied alpha, 8 and 16 bits, integers and floats. Every step is
// written once, templated on the frame's pixel record; a caller picks the
// record once per frame (WithPixel) and its loops know their depth.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "standin/world.h"
#include "tools/tilvane/core/pixels.h"

namespace tilvane_tool {

// Unspecialised on purpose: a pixel type without a depth does not compile.
template <typename Pixel>
struct PixelDepth {};

template <>
struct PixelDepth<PF_Pixel> {
  using Channel = A_u_char;
  static constexpr int kBits = 8;
  static constexpr int32_t kFull = 255;
  // An 8-bit file value, and a 16-bit one to the nearest step.
  static constexpr int32_t From8BitFile(int32_t c) { return c; }
  static constexpr int32_t From16BitFile(int32_t p) { return From16BitFileTo8(p); }
  static constexpr int32_t To8BitFile(int32_t v) { return v; }
};

template <>
struct PixelDepth<PF_Pixel16> {
  using Channel = A_u_short;
  static constexpr int kBits = 16;
  static constexpr int32_t kFull = 32768;
  static constexpr int32_t From8BitFile(int32_t c) { return From8To16(c); }
  static constexpr int32_t From16BitFile(int32_t p) { return tilvane_tool::From16BitFile(p); }
  // Written to an 8-bit-only format: to the nearest step.
  static constexpr int32_t To8BitFile(int32_t v) { return From16To8(v); }
};

// Calls f(Pixel{}) with the pixel record of frames at depth (8 or 16).
template <typename F>
decltype(auto) WithPixel(int depth, F&& f) {
  return depth == 16 ? f(PF_Pixel16{}) : f(PF_Pixel{});
}

template <typename Pixel>
Pixel* RowOf(standin::World& frame, int32_t y, int32_t x = 0) {
  if constexpr (std::is_same_v<Pixel, PF_Pixel16>) {
    return &frame.at16(x, y);
  } else {
    return &frame.at8(x, y);
  }
}
template <typename Pixel>
const Pixel* RowOf(const standin::World& frame, int32_t y, int32_t x = 0) {
  return RowOf<Pixel>(const_cast<standin::World&>(frame), y, x);
}

// A pixel from red, green, blue and alpha on its own scale.
template <typename Pixel>
constexpr Pixel MakePixel(int32_t r, int32_t g, int32_t b, int32_t a) {
  using C = typename PixelDepth<Pixel>::Channel;
  return Pixel{static_cast<C>(a), static_cast<C>(r), static_cast<C>(g), static_cast<C>(b)};
}

// Red, green, blue and alpha on the effect's scale (straight when straight)
// as the effect's premultiplied pixel.
template <typename Pixel>
constexpr Pixel Premultiplied(const int32_t rgba[4], bool straight) {
  constexpr int32_t kFull = PixelDepth<Pixel>::kFull;
  if (!straight) return MakePixel<Pixel>(rgba[0], rgba[1], rgba[2], rgba[3]);
  return MakePixel<Pixel>(Premultiply(rgba[0], rgba[3], kFull),
                          Premultiply(rgba[1], rgba[3], kFull),
                          Premultiply(rgba[2], rgba[3], kFull), rgba[3]);
}

// --- Files in ---------------------------------------------------------------

// n pixels of an 8-bit file, RGBA (straight when straight) or RGB, as 8-bit
// effect pixels: the common case, looked up rather than divided.
void RowFromBytes8(const unsigned char* rgba, int32_t n, bool straight, PF_Pixel* out);
void RowFromOpaqueBytes8(const unsigned char* rgb, int32_t n, PF_Pixel* out);

// --- Files out --------------------------------------------------------------

// How a file keeps what the frame covers: straight colour with its alpha, or
// the premultiplied colour (the frame over black) with alpha at full scale.
enum class FileAlpha { Straight, OverBlack };

// n premultiplied pixels as file values, channels (3 or 4) per pixel, red
// first. Out is unsigned char (8-bit values; 16-bit frames rounded to the
// nearest step) or uint16_t (16-bit values, from 16-bit frames).
template <typename Out, typename Pixel>
void FileRow(const Pixel* in, int32_t n, FileAlpha alpha, int channels, Out* out);

// True when a pixel of the n is less than opaque.
template <typename Pixel>
bool AnyTransparent(const Pixel* in, int32_t n) {
  for (int32_t x = 0; x < n; ++x) {
    if (in[x].alpha < PixelDepth<Pixel>::kFull) return true;
  }
  return false;
}

// --- Floats -------------------------------------------------------------------

// count premultiplied pixels of row y from column x as RGBA floats (1.0 full
// scale), and a whole row y of frame back from them: to the nearest step,
// clamped (NaN to 0), with no colour above its alpha.
void FloatsFromRow(const standin::World& frame, int32_t y, int32_t x, int32_t count, float* rgba);
void RowFromFloats(const float* rgba, standin::World& frame, int32_t y);

// The same for whole frames, rows one after another.
std::vector<float> FloatsFromWorld(const standin::World& frame);
standin::WorldPtr WorldFromFloats(const std::vector<float>& rgba, int32_t width, int32_t height,
                                  int depth);

}  // namespace tilvane_tool
