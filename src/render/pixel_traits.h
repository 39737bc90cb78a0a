// What the 8- and 16-bit paths of the renderer differ in: the pixel record,
// its channel type, the full scale and the conversions. Every step of the
// cell drawing is written once, templated on the pixel record.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"
#include "src/host/pixel_access.h"

namespace tilvane {

// Unspecialised on purpose: a pixel type without traits does not compile.
template <typename Pixel>
struct PixelTraits {};

template <>
struct PixelTraits<PF_Pixel> {
  using Channel = A_u_char;
  using Packed = uint32_t;  // GetPixel8: alpha lowest, then red, green, blue
  static constexpr int kChannelBits = 8;
  static constexpr A_long kFullScale = PF_MAX_CHAN8;
  static constexpr double kFullScaleDouble = 255.0;
  // Sum of red, green and blue at full scale: 3 × 255.
  static constexpr float kLuminanceDivisor = 765.0f;

  static Packed Read(const PF_EffectWorld* world, int32_t x, int32_t y) {
    return GetPixel8(world, x, y);
  }
  static PF_Pixel* Address(const PF_EffectWorld* world, int32_t x, int32_t y) {
    return GetPixelAddr8(world, x, y);
  }
  // An 8-bit colour parameter component is used as it is.
  static A_long FromColor8(A_u_char component) { return component; }
};

template <>
struct PixelTraits<PF_Pixel16> {
  using Channel = A_u_short;
  using Packed = uint64_t;  // GetPixel16: alpha lowest, then red, green, blue
  static constexpr int kChannelBits = 16;
  // The host's 16-bit full scale is 32768, not 65535.
  static constexpr A_long kFullScale = PF_MAX_CHAN16;
  static constexpr double kFullScaleDouble = 32768.0;
  // Sum of red, green and blue at full scale: 3 × 32768.
  static constexpr float kLuminanceDivisor = 98304.0f;

  static Packed Read(const PF_EffectWorld* world, int32_t x, int32_t y) {
    return GetPixel16(world, x, y);
  }
  static PF_Pixel16* Address(const PF_EffectWorld* world, int32_t x, int32_t y) {
    return GetPixelAddr16(world, x, y);
  }
  // Truncating integer arithmetic: 255 becomes 32768, 128 becomes 16448.
  static A_long FromColor8(A_u_char component) { return (component * 32768 + 128) / 255; }
};

// Channel positions inside a packed pixel, as GetPixel8/GetPixel16 pack them.
enum PackedChannel : int {
  CHANNEL_ALPHA = 0,
  CHANNEL_RED = 1,
  CHANNEL_GREEN = 2,
  CHANNEL_BLUE = 3
};

template <typename Pixel>
inline uint32_t ChannelOf(typename PixelTraits<Pixel>::Packed packed, int channel) {
  using Traits = PixelTraits<Pixel>;
  constexpr typename Traits::Packed kMask =
      (typename Traits::Packed{1} << Traits::kChannelBits) - 1;
  return static_cast<uint32_t>((packed >> (Traits::kChannelBits * channel)) & kMask);
}

}  // namespace tilvane
