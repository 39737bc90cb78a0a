// The parameter values of one render, decoded once from the host's parameter
// array and read-only afterwards: the pixel loops never touch the
// host's records.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"
#include "src/params/params.h"

namespace tilvane {

struct RenderSettings {
  int32_t units;  // 0 to 100
  DisplacementEffect displacementEffect;
  double effectIntensity;  // slider × 0.01
  double rotationOffset;   // slider × −1.0, degrees
  double scaleOffset;      // slider × 0.01
  double timeOffset;       // slider × 0.01
  bool border;             // the checkbox's value is 1
  PF_Pixel borderColor;
  PF_Pixel colorA;  // the user's "Color B" under COLOR_INVERSE_DISPLACEMENT
  PF_Pixel colorB;  // the user's "Color A" under COLOR_INVERSE_DISPLACEMENT
  TimeMapping timeMapping;
  ColorMapping colorMapping;
  TransparencyMapping transparencyMapping;
  int32_t seed;
};

// Reads parameters 3 to 16. Values a misbehaving host could send outside
// their lists are made safe here, once: "Units" is clamped into 0 to 100, and
// a popup value outside its list takes the list's first item (except "Color
// Mapping", whose every value other than 1 and 3 selects the two-colour mix
// as COLOR_DISPLACEMENT does). The two mapping colours are exchanged when
// "Color Mapping" is 3.
RenderSettings DecodeRenderSettings(PF_ParamDef* const params[]);

}  // namespace tilvane
