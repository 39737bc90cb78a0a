// The sixteen controls as the host receives them from parameter set-up. The
// host stores these with every project, so their ids, types, ranges and
// defaults may never change by accident.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "src/params/params.h"
#include "tests/support/plugin_fixture.h"

namespace {

using standin::Op;
using tilvane_test::MakeHost;

struct Expected {
  int index;
  const char* name;
  PF_ParamType type;
  double min, max, dephault;
  const char* items;
  PF_Pixel color;
};

const Expected kTable[] = {
    {PARAM_ICON_LAYER, "Icon Layer", PF_Param_LAYER, 0, 0, 0, nullptr, {}},
    {PARAM_DISPLACEMENT_LAYER, "Displacement Layer", PF_Param_LAYER, 0, 0, 0, nullptr, {}},
    {PARAM_UNITS, "Units", PF_Param_SLIDER, 0, 100, 8, nullptr, {}},
    {PARAM_DISPLACEMENT_EFFECT,
     "Displacement Effect",
     PF_Param_POPUP,
     0,
     0,
     1,
     "Rotation|Scale|Both|None",
     {}},
    {PARAM_EFFECT_INTENSITY, "Effect Intensity", PF_Param_FLOAT_SLIDER, 0, 200, 100, nullptr, {}},
    {PARAM_ROTATION_OFFSET, "Rotation Offset", PF_Param_FLOAT_SLIDER, 0, 360, 0, nullptr, {}},
    {PARAM_SCALE_OFFSET, "Scale Offset", PF_Param_FLOAT_SLIDER, -100, 100, 0, nullptr, {}},
    {PARAM_TIME_OFFSET, "Time Offset", PF_Param_FLOAT_SLIDER, -100, 100, 0, nullptr, {}},
    {PARAM_BORDER, "Border", PF_Param_CHECKBOX, 0, 0, 0, nullptr, {}},
    {PARAM_BORDER_COLOR, "Border Color", PF_Param_COLOR, 0, 0, 0, nullptr, {255, 128, 128, 128}},
    {PARAM_COLOR_A, "Color A", PF_Param_COLOR, 0, 0, 0, nullptr, {255, 170, 255, 255}},
    {PARAM_COLOR_B, "Color B", PF_Param_COLOR, 0, 0, 0, nullptr, {255, 255, 0, 0}},
    {PARAM_TIME_MAPPING,
     "Time Mapping",
     PF_Param_POPUP,
     0,
     0,
     1,
     "Constant|Horizontal Units|Vertical Units|Displacement|Inverse Displacement",
     {}},
    {PARAM_COLOR_MAPPING,
     "Color Mapping",
     PF_Param_POPUP,
     0,
     0,
     1,
     "Icon Layer|Displacement|Inverse Displacement",
     {}},
    {PARAM_TRANSPARENCY_MAPPING,
     "Transparency Mapping",
     PF_Param_POPUP,
     0,
     0,
     1,
     "Constant|Displacement|Inverse Displacement",
     {}},
    {PARAM_SEED, "Seed", PF_Param_SLIDER, 0, 32768, 12345, nullptr, {}},
};

bool SamePixel(PF_Pixel a, PF_Pixel b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// The definition as it must arrive: cleared, then only its type's fields set.
PF_ParamDef Declared(const Expected& e, const PF_ParamDef& got) {
  PF_ParamDef d;
  std::memset(&d, 0, sizeof d);
  d.uu.id = e.index;
  d.param_type = e.type;
  std::strcpy(d.name, e.name);
  switch (e.type) {
    case PF_Param_SLIDER:
      d.u.sd.valid_min = d.u.sd.slider_min = static_cast<A_long>(e.min);
      d.u.sd.valid_max = d.u.sd.slider_max = static_cast<A_long>(e.max);
      d.u.sd.value = d.u.sd.dephault = static_cast<A_long>(e.dephault);
      break;
    case PF_Param_FLOAT_SLIDER:
      d.u.fs_d.valid_min = d.u.fs_d.slider_min = static_cast<float>(e.min);
      d.u.fs_d.valid_max = d.u.fs_d.slider_max = static_cast<float>(e.max);
      d.u.fs_d.value = e.dephault;
      d.u.fs_d.dephault = static_cast<float>(e.dephault);
      d.u.fs_d.precision = 1;
      d.u.fs_d.curve_tolerance = 0.05f;
      break;
    case PF_Param_CHECKBOX:
      d.u.bd.u.nameptr = got.u.bd.u.nameptr;  // the host's copy; its text is checked apart
      break;
    case PF_Param_COLOR:
      d.u.cd.value = d.u.cd.dephault = e.color;
      break;
    case PF_Param_POPUP:
      d.u.pd.value = d.u.pd.dephault = 1;
      d.u.pd.num_choices = got.u.pd.num_choices;
      d.u.pd.u.namesptr = got.u.pd.u.namesptr;
      break;
    default:
      break;
  }
  return d;
}

TEST(ParameterSetUp, DeclaresSixteenControlsInIdOrderAndSeventeenParameters) {
  auto host = MakeHost();
  ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
  const auto adds = host->callsOf(Op::AddParam);
  ASSERT_EQ(adds.size(), 16u);
  for (size_t i = 0; i < adds.size(); ++i) {
    EXPECT_EQ(adds[i].a, -1) << "appends, so that the index equals the id";
    EXPECT_EQ(adds[i].b, static_cast<int64_t>(i + 1));
  }
  EXPECT_EQ(host->outData().num_params, PARAM_COUNT);
  EXPECT_TRUE(host->misuse().empty());
}

TEST(ParameterSetUp, EachControlArrivesClearedWithExactlyItsOwnFields) {
  auto host = MakeHost();
  ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
  ASSERT_EQ(host->registered().size(), std::size(kTable));
  for (const Expected& e : kTable) {
    SCOPED_TRACE(e.name);
    const standin::RegisteredParam& got = host->registered()[static_cast<size_t>(e.index - 1)];
    const PF_ParamDef want = Declared(e, got.def);
    EXPECT_STREQ(got.def.name, e.name);
    EXPECT_EQ(got.def.param_type, e.type);
    // Byte for byte: nothing of the previous control is left behind.
    EXPECT_EQ(std::memcmp(&want, &got.def, sizeof want), 0);
    if (e.type == PF_Param_POPUP) {
      EXPECT_EQ(got.popupItems, e.items);
    }
    if (e.type == PF_Param_CHECKBOX) {
      EXPECT_EQ(got.checkboxLabel, "");
    }
    if (e.type == PF_Param_COLOR) {
      EXPECT_TRUE(SamePixel(got.def.u.cd.dephault, e.color));
    }
  }
}

TEST(ParameterSetUp, PopupsCountTheirItemsAndDefaultToTheFirst) {
  auto host = MakeHost();
  ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
  int popups = 0;
  for (const auto& reg : host->registered()) {
    if (reg.def.param_type != PF_Param_POPUP) continue;
    ++popups;
    int items = 1;
    for (char c : reg.popupItems) items += c == '|';
    EXPECT_EQ(reg.def.u.pd.num_choices, items) << reg.def.name;
    EXPECT_EQ(reg.def.u.pd.dephault, 1);
    EXPECT_EQ(reg.def.u.pd.value, 1);
  }
  EXPECT_EQ(popups, 4);
}

TEST(ParameterSetUp, ARefusedDefinitionStopsTheSetUpWithTheHostsCode) {
  auto host = MakeHost();
  host->outData().num_params = 99;
  host->failCall(Op::AddParam, 5, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host->paramsSetup(), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host->count(Op::AddParam), 5);
  EXPECT_EQ(host->registered().size(), 4u);
  EXPECT_EQ(host->outData().num_params, 99) << "num_params written after a failure";
}

TEST(ParameterSetUp, CanRunAgainAndDeclaresTheSameControls) {
  auto host = MakeHost();
  ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
  const auto first = host->registered();
  ASSERT_EQ(host->paramsSetup(), PF_Err_NONE);
  ASSERT_EQ(host->registered().size(), first.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_STREQ(host->registered()[i].def.name, first[i].def.name);
    EXPECT_EQ(host->registered()[i].popupItems, first[i].popupItems);
  }
}

}  // namespace
