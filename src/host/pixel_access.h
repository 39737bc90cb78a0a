// Unchecked pixel access: every caller clamps its coordinates first.
// Addresses are formed in pointer-width arithmetic, so y × rowbytes cannot
// overflow on large frames (it gives the same address wherever a 32-bit
// product would not have overflowed). rowbytes may be negative.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/host/host_api.h"

namespace tilvane {

inline PF_Pixel* GetPixelAddr8(const PF_EffectWorld* world, int32_t x, int32_t y) {
  auto* row = reinterpret_cast<unsigned char*>(world->data) +
              static_cast<std::ptrdiff_t>(y) * world->rowbytes;
  return reinterpret_cast<PF_Pixel*>(row) + x;
}

inline PF_Pixel16* GetPixelAddr16(const PF_EffectWorld* world, int32_t x, int32_t y) {
  auto* row = reinterpret_cast<unsigned char*>(world->data) +
              static_cast<std::ptrdiff_t>(y) * world->rowbytes;
  return reinterpret_cast<PF_Pixel16*>(row) + x;
}

// Alpha in the lowest byte, then red, green, blue.
inline uint32_t GetPixel8(const PF_EffectWorld* world, int32_t x, int32_t y) {
  const PF_Pixel* p = GetPixelAddr8(world, x, y);
  return uint32_t{p->alpha} | uint32_t{p->red} << 8 | uint32_t{p->green} << 16 |
         uint32_t{p->blue} << 24;
}

// Alpha in the lowest 16 bits, then red, green, blue.
inline uint64_t GetPixel16(const PF_EffectWorld* world, int32_t x, int32_t y) {
  const PF_Pixel16* p = GetPixelAddr16(world, x, y);
  return uint64_t{p->alpha} | uint64_t{p->red} << 16 | uint64_t{p->green} << 32 |
         uint64_t{p->blue} << 48;
}

}  // namespace tilvane
