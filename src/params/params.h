// The effect's parameters: index 0 is the host's input layer, 1 to 16 are
// ours, added in this order so that each one's index equals its id.
#pragma once

namespace tilvane {

enum ParamIndex : int {
  PARAM_INPUT = 0,
  PARAM_ICON_LAYER,
  PARAM_DISPLACEMENT_LAYER,
  PARAM_UNITS,
  PARAM_DISPLACEMENT_EFFECT,
  PARAM_EFFECT_INTENSITY,
  PARAM_ROTATION_OFFSET,
  PARAM_SCALE_OFFSET,
  PARAM_TIME_OFFSET,
  PARAM_BORDER,
  PARAM_BORDER_COLOR,
  PARAM_COLOR_A,
  PARAM_COLOR_B,
  PARAM_TIME_MAPPING,
  PARAM_COLOR_MAPPING,
  PARAM_TRANSPARENCY_MAPPING,
  PARAM_SEED,
  PARAM_COUNT,
};
static_assert(PARAM_SEED == 16 && PARAM_COUNT == 17);

// Popup item values, 1-based as the host numbers them.
enum DisplacementEffect : int {
  DISPLACEMENT_ROTATION = 1,
  DISPLACEMENT_SCALE,
  DISPLACEMENT_BOTH,
  DISPLACEMENT_NONE,
};
enum TimeMapping : int {
  TIME_CONSTANT = 1,
  TIME_HORIZONTAL_UNITS,
  TIME_VERTICAL_UNITS,
  TIME_DISPLACEMENT,
  TIME_INVERSE_DISPLACEMENT,
};
enum ColorMapping : int {
  COLOR_ICON_LAYER = 1,
  COLOR_DISPLACEMENT,
  COLOR_INVERSE_DISPLACEMENT,
};
enum TransparencyMapping : int {
  TRANSPARENCY_CONSTANT = 1,
  TRANSPARENCY_DISPLACEMENT,
  TRANSPARENCY_INVERSE_DISPLACEMENT,
};

// Bounds the renderer relies on, shared with the declarations.
constexpr int kUnitsMin = 0;
constexpr int kUnitsMax = 100;
constexpr int kUnitsDefault = 8;
constexpr int kSeedMin = 0;
constexpr int kSeedMax = 32768;
constexpr int kSeedDefault = 12345;
constexpr int kDisplacementEffectChoices = 4;
constexpr int kTimeMappingChoices = 5;
constexpr int kColorMappingChoices = 3;
constexpr int kTransparencyMappingChoices = 3;

}  // namespace tilvane
