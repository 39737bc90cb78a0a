#include "src/render/render_settings.h"

#include "src/params/params.h"

namespace tilvane {

namespace {

// The popup's item, or its first for a value outside the list.
template <typename Popup>
Popup PopupOrFirst(int32_t value, int32_t choices) {
  return static_cast<Popup>(value >= 1 && value <= choices ? value : 1);
}

// Every value but 1 and 3 mixes the two colours unexchanged.
ColorMapping DecodeColorMapping(int32_t value) {
  if (value == COLOR_ICON_LAYER || value == COLOR_INVERSE_DISPLACEMENT) {
    return static_cast<ColorMapping>(value);
  }
  return COLOR_DISPLACEMENT;
}

}  // namespace

RenderSettings DecodeRenderSettings(PF_ParamDef* const params[]) {
  RenderSettings s{};
  const int32_t units = params[PARAM_UNITS]->u.sd.value;
  s.units = units < kUnitsMin ? kUnitsMin : (units > kUnitsMax ? kUnitsMax : units);
  s.displacementEffect = PopupOrFirst<DisplacementEffect>(
      params[PARAM_DISPLACEMENT_EFFECT]->u.pd.value, kDisplacementEffectChoices);
  // Multiplications by the double constants, not divisions by 100.
  s.effectIntensity = params[PARAM_EFFECT_INTENSITY]->u.fs_d.value * 0.01;
  s.rotationOffset = params[PARAM_ROTATION_OFFSET]->u.fs_d.value * -1.0;
  s.scaleOffset = params[PARAM_SCALE_OFFSET]->u.fs_d.value * 0.01;
  s.timeOffset = params[PARAM_TIME_OFFSET]->u.fs_d.value * 0.01;
  s.border = params[PARAM_BORDER]->u.bd.value == 1;
  s.borderColor = params[PARAM_BORDER_COLOR]->u.cd.value;
  s.timeMapping =
      PopupOrFirst<TimeMapping>(params[PARAM_TIME_MAPPING]->u.pd.value, kTimeMappingChoices);
  s.colorMapping = DecodeColorMapping(params[PARAM_COLOR_MAPPING]->u.pd.value);
  s.transparencyMapping = PopupOrFirst<TransparencyMapping>(
      params[PARAM_TRANSPARENCY_MAPPING]->u.pd.value, kTransparencyMappingChoices);
  s.seed = params[PARAM_SEED]->u.sd.value;

  const PF_Pixel userA = params[PARAM_COLOR_A]->u.cd.value;
  const PF_Pixel userB = params[PARAM_COLOR_B]->u.cd.value;
  const bool exchange = s.colorMapping == COLOR_INVERSE_DISPLACEMENT;
  s.colorA = exchange ? userB : userA;
  s.colorB = exchange ? userA : userB;
  return s;
}

}  // namespace tilvane
