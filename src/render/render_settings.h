// The parameter values of one render, decoded once from the host's parameter
// array and read-only afterwards: the pixel loops never touch the
// host's records.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"

namespace tilvane {

struct RenderSettings {
  int32_t units;               // 0 to 100
  int32_t displacementEffect;  // DisplacementEffect, 1 to 4
  double effectIntensity;      // slider × 0.01
  double rotationOffset;       // slider × −1.0, degrees
  double scaleOffset;          // slider × 0.01
  double timeOffset;           // slider × 0.01
  int32_t border;              // checkbox value; the border is drawn when it is 1
  PF_Pixel borderColor;
  PF_Pixel colorA;              // the user's "Color B" when colorMapping is 3
  PF_Pixel colorB;              // the user's "Color A" when colorMapping is 3
  int32_t timeMapping;          // TimeMapping, 1 to 5
  int32_t colorMapping;         // as the host gave it: 1 is "Icon Layer", any other the mix
  int32_t transparencyMapping;  // TransparencyMapping, 1 to 3
  int32_t seed;
};

// Reads parameters 3 to 16. Values a misbehaving host could send outside
// their lists are made safe here, once: "Units" is clamped into 0 to 100, and
// a popup value outside its list takes the list's first item (except "Color
// Mapping", whose every value other than 1 already selects the two-colour
// mix). The two mapping colours are exchanged when "Color Mapping" is 3.
RenderSettings DecodeRenderSettings(PF_ParamDef* const params[]);

}  // namespace tilvane
