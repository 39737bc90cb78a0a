#include "src/params/params_setup.h"

#include <cstring>

#include "src/params/params.h"

namespace tilvane {

namespace {

struct ParamDeclaration {
  int index;
  PF_ParamType type;
  const char* name;
  double min;
  double max;
  double dephault;
  const char* popupItems;
  PF_Pixel color;
};

constexpr PF_Pixel kNoColor = {0, 0, 0, 0};

// The controls in index order; appending them in this order gives each its index.
constexpr ParamDeclaration kDeclarations[] = {
    {PARAM_ICON_LAYER, PF_Param_LAYER, "Icon Layer", 0, 0, 0, nullptr, kNoColor},
    {PARAM_DISPLACEMENT_LAYER, PF_Param_LAYER, "Displacement Layer", 0, 0, 0, nullptr, kNoColor},
    {PARAM_UNITS, PF_Param_SLIDER, "Units", kUnitsMin, kUnitsMax, kUnitsDefault, nullptr, kNoColor},
    {PARAM_DISPLACEMENT_EFFECT, PF_Param_POPUP, "Displacement Effect", 0, 0, 1,
     "Rotation|Scale|Both|None", kNoColor},
    {PARAM_EFFECT_INTENSITY, PF_Param_FLOAT_SLIDER, "Effect Intensity", 0, 200, 100, nullptr,
     kNoColor},
    {PARAM_ROTATION_OFFSET, PF_Param_FLOAT_SLIDER, "Rotation Offset", 0, 360, 0, nullptr, kNoColor},
    {PARAM_SCALE_OFFSET, PF_Param_FLOAT_SLIDER, "Scale Offset", -100, 100, 0, nullptr, kNoColor},
    {PARAM_TIME_OFFSET, PF_Param_FLOAT_SLIDER, "Time Offset", -100, 100, 0, nullptr, kNoColor},
    {PARAM_BORDER, PF_Param_CHECKBOX, "Border", 0, 1, 0, nullptr, kNoColor},
    {PARAM_BORDER_COLOR, PF_Param_COLOR, "Border Color", 0, 0, 0, nullptr, {255, 128, 128, 128}},
    {PARAM_COLOR_A, PF_Param_COLOR, "Color A", 0, 0, 0, nullptr, {255, 170, 255, 255}},
    {PARAM_COLOR_B, PF_Param_COLOR, "Color B", 0, 0, 0, nullptr, {255, 255, 0, 0}},
    {PARAM_TIME_MAPPING, PF_Param_POPUP, "Time Mapping", 0, 0, 1,
     "Constant|Horizontal Units|Vertical Units|Displacement|Inverse Displacement", kNoColor},
    {PARAM_COLOR_MAPPING, PF_Param_POPUP, "Color Mapping", 0, 0, 1,
     "Icon Layer|Displacement|Inverse Displacement", kNoColor},
    {PARAM_TRANSPARENCY_MAPPING, PF_Param_POPUP, "Transparency Mapping", 0, 0, 1,
     "Constant|Displacement|Inverse Displacement", kNoColor},
    {PARAM_SEED, PF_Param_SLIDER, "Seed", kSeedMin, kSeedMax, kSeedDefault, nullptr, kNoColor},
};
static_assert(sizeof(kDeclarations) / sizeof(kDeclarations[0]) == PARAM_COUNT - 1);

constexpr A_short CountItems(const char* items) {
  A_short count = 1;
  for (; *items != '\0'; ++items) {
    if (*items == '|') ++count;
  }
  return count;
}
static_assert(CountItems(kDeclarations[PARAM_DISPLACEMENT_EFFECT - 1].popupItems) ==
              kDisplacementEffectChoices);
static_assert(CountItems(kDeclarations[PARAM_TIME_MAPPING - 1].popupItems) == kTimeMappingChoices);
static_assert(CountItems(kDeclarations[PARAM_COLOR_MAPPING - 1].popupItems) ==
              kColorMappingChoices);
static_assert(CountItems(kDeclarations[PARAM_TRANSPARENCY_MAPPING - 1].popupItems) ==
              kTransparencyMappingChoices);

void FillTypeFields(const ParamDeclaration& d, PF_ParamDef& def) {
  switch (d.type) {
    case PF_Param_LAYER:
      def.u.ld.dephault = PF_LayerDefault_NONE;
      break;
    case PF_Param_SLIDER:
      def.u.sd.valid_min = def.u.sd.slider_min = static_cast<PF_ParamValue>(d.min);
      def.u.sd.valid_max = def.u.sd.slider_max = static_cast<PF_ParamValue>(d.max);
      def.u.sd.value = def.u.sd.dephault = static_cast<PF_ParamValue>(d.dephault);
      break;
    case PF_Param_FLOAT_SLIDER:
      def.u.fs_d.valid_min = def.u.fs_d.slider_min = static_cast<PF_FpShort>(d.min);
      def.u.fs_d.valid_max = def.u.fs_d.slider_max = static_cast<PF_FpShort>(d.max);
      def.u.fs_d.value = d.dephault;
      def.u.fs_d.dephault = static_cast<PF_FpShort>(d.dephault);
      def.u.fs_d.precision = 1;
      def.u.fs_d.curve_tolerance = 0.05f;
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.value = 0;
      def.u.bd.dephault = 0;
      def.u.bd.u.nameptr = "";
      break;
    case PF_Param_COLOR:
      def.u.cd.value = def.u.cd.dephault = d.color;
      break;
    case PF_Param_POPUP:
      def.u.pd.num_choices = CountItems(d.popupItems);
      def.u.pd.dephault = 1;
      def.u.pd.value = 1;
      def.u.pd.u.namesptr = d.popupItems;
      break;
    default:
      break;
  }
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*) {
  PF_ParamDef def;
  for (const ParamDeclaration& d : kDeclarations) {
    std::memset(&def, 0, sizeof def);
    def.param_type = d.type;
    in_data->utils->ansi.strcpy(def.name, d.name);
    FillTypeFields(d, def);
    def.uu.id = d.index;
    if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) {
      return err;
    }
  }
  out_data->num_params = PARAM_COUNT;
  return PF_Err_NONE;
}

}  // namespace tilvane
