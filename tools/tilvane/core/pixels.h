// The mappings between file values and the effect's channel values. Every
// one is integer arithmetic with truncating division, so a file read, rendered
// unchanged and written again gives back its own bytes wherever alpha is opaque.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace tilvane_tool {

// The effect's full scale: 255 at 8 bits per channel, 32768 (not 65535) at 16.
constexpr int32_t FullScale(int depth) { return depth == 16 ? 32768 : 255; }

// 8-bit file value to the 16-bit effect scale; 255 becomes 32768.
constexpr int32_t From8To16(int32_t c) { return (c * 32768 + 128) / 255; }
// 16-bit file value (0..65535) to the effect's 0..32768; exact inverse of To16BitFile.
constexpr int32_t From16BitFile(int32_t p) {
  return static_cast<int32_t>((int64_t{p} * 32768 + 32767) / 65535);
}
// Effect value (0..32768) to a 16-bit file value.
constexpr int32_t To16BitFile(int32_t v) {
  return static_cast<int32_t>((int64_t{v} * 65535 + 16384) / 32768);
}
// 16-bit file value read at 8 bits per channel, and 16-bit effect value written
// to an 8-bit-only format: both to the nearest step.
constexpr int32_t From16BitFileTo8(int32_t p) { return (p * 255 + 32767) / 65535; }
constexpr int32_t From16To8(int32_t v) { return (v * 255 + 16384) / 32768; }

// A floating-point file value (1.0 is full scale) to the effect scale, to the
// nearest step and clamped; NaN counts as 0.
inline int32_t FromFloat(float f, int depth) {
  if (!(f > 0.0f)) return 0;
  if (f >= 1.0f) return FullScale(depth);
  return static_cast<int32_t>(std::floor(static_cast<double>(f) * FullScale(depth) + 0.5));
}

// Straight colour c with alpha a (both on the scale full) to premultiplied, rounded.
constexpr int32_t Premultiply(int32_t c, int32_t a, int32_t full) {
  return static_cast<int32_t>((int64_t{c} * a + full / 2) / full);
}
// Premultiplied v with alpha a back to straight, rounded; 0 where a is 0. A value
// above its alpha (which no premultiplied pixel holds) is clamped to full scale.
constexpr int32_t Unpremultiply(int32_t v, int32_t a, int32_t full) {
  if (a <= 0) return 0;
  const int64_t s = (int64_t{v} * full + a / 2) / a;
  return s > full ? full : static_cast<int32_t>(s);
}

// f(v, a) for every 8-bit value v under every alpha a, at [a * 256 + v]: the
// millions of pixels of a frame look their values up rather than divide.
using ByteTable = std::array<unsigned char, 256 * 256>;
template <typename F>
ByteTable TableOfBytes(F f) {
  ByteTable table{};
  for (int a = 0; a < 256; ++a) {
    for (int v = 0; v < 256; ++v)
      table[size_t(a) * 256 + size_t(v)] = static_cast<unsigned char>(f(v, a));
  }
  return table;
}
// Straight colour under alpha, premultiplied (Premultiply), and premultiplied
// colour back to straight (Unpremultiply).
inline const ByteTable& PremultipliedBytes() {
  static const ByteTable table = TableOfBytes([](int c, int a) { return Premultiply(c, a, 255); });
  return table;
}
inline const ByteTable& StraightBytes() {
  static const ByteTable table =
      TableOfBytes([](int v, int a) { return Unpremultiply(v, a, 255); });
  return table;
}

}  // namespace tilvane_tool
