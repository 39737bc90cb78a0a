// Each cell's random time shift, its displacement brightness and
// the time at which the icon layer is checked out for it. No host call here.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"
#include "src/params/params.h"
#include "src/render/conversions.h"
#include "src/render/grid_geometry.h"
#include "src/render/pixel_traits.h"

namespace tilvane {

// The cell-jitter generator: a linear congruential generator whose one state
// word is per thread and outlives the call; every render seeds it first.
class JitterRandom {
 public:
  // The state becomes the seed, read as unsigned 32-bit.
  static void Seed(int32_t seed);
  // Advances the state; gives 0 to 32767. From seed 1: 41, 18467, 6334.
  static int32_t Draw();
};

// The render call's times as the effect reads them from the host: current N,
// step S and total T.
struct CallTime {
  int32_t current;
  int32_t step;
  int32_t total;
};

// The values of the cell being drawn; nothing is carried between cells.
struct CellState {
  int32_t jitter;              // time steps
  float cellLuminance;         // 0 to 1
  int32_t iconTime;            // host time units
  const PF_EffectWorld* icon;  // the icon checked out at iconTime
  int32_t iconWidth;
  int32_t iconHeight;
};

// The luminance a cell uses when no displacement sample is taken in the
// render: as if the displacement layer were white (natural size, opaque).
inline constexpr float kUnsampledLuminance = 1.0f;

// ((double)u × timeOffset × (double)h) / (double)S, truncated, with u the
// draw scaled into [0, 1) and h = T + S / 2 formed in 64 bits. A zero time
// step gives 0 (no division by zero); NaN gives 0, out-of-range saturates.
int32_t CellJitter(int32_t draw, double timeOffset, const CallTime& time);

// The raw time of the "Time Mapping" reduced by the remainder rule
// modulo T − 1, with negative times pinned to 0. Integer arithmetic is in 64
// bits; the single- and double-precision mappings saturate to 32 bits. When
// T − 1 is below 1 the icon time is 0.
int32_t IconTime(TimeMapping timeMapping, int32_t cellRow, int32_t cellColumn, int32_t jitter,
                 float cellLuminance, const CallTime& time);

struct SamplePoint {
  int32_t x;
  int32_t y;
};

// The displacement pixel a cell samples: its origin plus a quarter of the
// window, clamped into the layer of the given size (at least 1 × 1).
SamplePoint DisplacementSamplePoint(const GridGeometry& geometry, int32_t cellRow,
                                    int32_t cellColumn, int32_t layerWidth, int32_t layerHeight);

// Mean of red, green and blue at the point, over 3 × full scale, the sum in
// integer and the division in single precision. Alpha is not used.
template <typename Pixel>
float CellLuminance(const PF_EffectWorld* displacement, SamplePoint point) {
  using Traits = PixelTraits<Pixel>;
  const typename Traits::Packed p = Traits::Read(displacement, point.x, point.y);
  const int32_t sum =
      static_cast<int32_t>(ChannelOf<Pixel>(p, CHANNEL_RED) + ChannelOf<Pixel>(p, CHANNEL_GREEN) +
                           ChannelOf<Pixel>(p, CHANNEL_BLUE));
  return static_cast<float>(sum) / Traits::kLuminanceDivisor;
}

}  // namespace tilvane
