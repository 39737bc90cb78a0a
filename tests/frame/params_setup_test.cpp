// The sixteen controls as the host receives them from parameter set-up. The
// host stores these with every project, so their ids, types, ranges and
// defaults may never change by accident.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "src/params/params.h"
#include "tests/support/plugin_fixture.h"

namespace {

using enum tilvane::ParamIndex;
using standin::Op;
using tilvane_test::MakeHost;

struct Expected {
  int index;
  const char* name;
  PF_ParamType type;
  const char* items;  // a popup's, joined by "|"
};

const Expected kTable[] = {
    {PARAM_ICON_LAYER, "Icon Layer", PF_Param_LAYER, nullptr},
    {PARAM_DISPLACEMENT_LAYER, "Displacement Layer", PF_Param_LAYER, nullptr},
    {PARAM_UNITS, "Units", PF_Param_SLIDER, nullptr},
    {PARAM_DISPLACEMENT_EFFECT, "Displacement Effect", PF_Param_POPUP, "Rotation|Scale|Both|None"},
    {PARAM_EFFECT_INTENSITY, "Effect Intensity", PF_Param_FLOAT_SLIDER, nullptr},
    {PARAM_ROTATION_OFFSET, "Rotation Offset", PF_Param_FLOAT_SLIDER, nullptr},
    {PARAM_SCALE_OFFSET, "Scale Offset", PF_Param_FLOAT_SLIDER, nullptr},
    {PARAM_TIME_OFFSET, "Time Offset", PF_Param_FLOAT_SLIDER, nullptr},
    {PARAM_BORDER, "Border", PF_Param_CHECKBOX, nullptr},
    {PARAM_BORDER_COLOR, "Border Color", PF_Param_COLOR, nullptr},
    {PARAM_COLOR_A, "Color A", PF_Param_COLOR, nullptr},
    {PARAM_COLOR_B, "Color B", PF_Param_COLOR, nullptr},
    {PARAM_TIME_MAPPING, "Time Mapping", PF_Param_POPUP,
     "Constant|Horizontal Units|Vertical Units|Displacement|Inverse Displacement"},
    {PARAM_COLOR_MAPPING, "Color Mapping", PF_Param_POPUP,
     "Icon Layer|Displacement|Inverse Displacement"},
    {PARAM_TRANSPARENCY_MAPPING, "Transparency Mapping", PF_Param_POPUP,
     "Constant|Displacement|Inverse Displacement"},
    {PARAM_SEED, "Seed", PF_Param_SLIDER, nullptr},
};

// Every byte of each definition as the host receives it, in order: the runs
// below at their offsets (little-endian), the name at offset 16, and zero
// everywhere else but at pointerAt, where a popup or checkbox points to the
// plug-in's own text (checked apart). Nothing of an earlier control is left.
struct Run {
  size_t offset;
  const char* hex;
};
struct Received {
  const char* name;
  int pointerAt;  // −1 for none
  std::vector<Run> runs;
};
static_assert(sizeof(PF_ParamDef) == 176);

const Received kReceived[] = {
    {"Icon Layer",
     -1,
     {
         {0, "01000000"},  // id
     }},
    {"Displacement Layer",
     -1,
     {
         {0, "02000000"},  // id
     }},
    {"Units",
     -1,
     {
         {0, "03000000"},    // id
         {12, "01000000"},   // PF_Param_SLIDER
         {56, "08000000"},   // value 8
         {128, "64000000"},  // valid_max 100
         {136, "64000000"},  // slider_max 100
         {140, "08000000"},  // dephault 8
     }},
    {"Displacement Effect",
     64,
     {
         {0, "04000000"},   // id
         {12, "07000000"},  // PF_Param_POPUP
         {56, "01000000"},  // value 1
         {60, "0400"},      // num_choices 4
         {62, "0100"},      // dephault 1
     }},
    {"Effect Intensity",
     -1,
     {
         {0, "05000000"},           // id
         {12, "0a000000"},          // PF_Param_FLOAT_SLIDER
         {56, "0000000000005940"},  // value 100.0
         {108, "00004843"},         // valid_max 200.0
         {116, "00004843"},         // slider_max 200.0
         {120, "0000c842"},         // dephault 100.0
         {124, "0100"},             // precision 1
         {132, "cdcc4c3d"},         // curve_tolerance 0.05f
     }},
    {"Rotation Offset",
     -1,
     {
         {0, "06000000"},    // id
         {12, "0a000000"},   // PF_Param_FLOAT_SLIDER
         {108, "0000b443"},  // valid_max 360.0
         {116, "0000b443"},  // slider_max 360.0
         {124, "0100"},      // precision 1
         {132, "cdcc4c3d"},  // curve_tolerance 0.05f
     }},
    {"Scale Offset",
     -1,
     {
         {0, "07000000"},    // id
         {12, "0a000000"},   // PF_Param_FLOAT_SLIDER
         {104, "0000c8c2"},  // valid_min -100.0
         {108, "0000c842"},  // valid_max 100.0
         {112, "0000c8c2"},  // slider_min -100.0
         {116, "0000c842"},  // slider_max 100.0
         {124, "0100"},      // precision 1
         {132, "cdcc4c3d"},  // curve_tolerance 0.05f
     }},
    {"Time Offset",
     -1,
     {
         {0, "08000000"},    // id
         {12, "0a000000"},   // PF_Param_FLOAT_SLIDER
         {104, "0000c8c2"},  // valid_min -100.0
         {108, "0000c842"},  // valid_max 100.0
         {112, "0000c8c2"},  // slider_min -100.0
         {116, "0000c842"},  // slider_max 100.0
         {124, "0100"},      // precision 1
         {132, "cdcc4c3d"},  // curve_tolerance 0.05f
     }},
    {"Border",
     64,
     {
         {0, "09000000"},   // id
         {12, "04000000"},  // PF_Param_CHECKBOX
     }},
    {"Border Color",
     -1,
     {
         {0, "0a000000"},   // id
         {12, "05000000"},  // PF_Param_COLOR
         {56, "ff808080"},  // value a 255 r 128 g 128 b 128
         {60, "ff808080"},  // dephault a 255 r 128 g 128 b 128
     }},
    {"Color A",
     -1,
     {
         {0, "0b000000"},   // id
         {12, "05000000"},  // PF_Param_COLOR
         {56, "ffaaffff"},  // value a 255 r 170 g 255 b 255
         {60, "ffaaffff"},  // dephault a 255 r 170 g 255 b 255
     }},
    {"Color B",
     -1,
     {
         {0, "0c000000"},   // id
         {12, "05000000"},  // PF_Param_COLOR
         {56, "ffff0000"},  // value a 255 r 255 g 0 b 0
         {60, "ffff0000"},  // dephault a 255 r 255 g 0 b 0
     }},
    {"Time Mapping",
     64,
     {
         {0, "0d000000"},   // id
         {12, "07000000"},  // PF_Param_POPUP
         {56, "01000000"},  // value 1
         {60, "0500"},      // num_choices 5
         {62, "0100"},      // dephault 1
     }},
    {"Color Mapping",
     64,
     {
         {0, "0e000000"},   // id
         {12, "07000000"},  // PF_Param_POPUP
         {56, "01000000"},  // value 1
         {60, "0300"},      // num_choices 3
         {62, "0100"},      // dephault 1
     }},
    {"Transparency Mapping",
     64,
     {
         {0, "0f000000"},   // id
         {12, "07000000"},  // PF_Param_POPUP
         {56, "01000000"},  // value 1
         {60, "0300"},      // num_choices 3
         {62, "0100"},      // dephault 1
     }},
    {"Seed",
     -1,
     {
         {0, "10000000"},    // id
         {12, "01000000"},   // PF_Param_SLIDER
         {56, "39300000"},   // value 12345
         {128, "00800000"},  // valid_max 32768
         {136, "00800000"},  // slider_max 32768
         {140, "39300000"},  // dephault 12345
     }},

};

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

// The record's bytes in hex, with the pointer's bytes zero.
std::string HexOf(const Received& r) {
  std::string hex(2 * sizeof(PF_ParamDef), '0');
  hex.replace(2 * 16, 2 * std::strlen(r.name),
              Hex(reinterpret_cast<const unsigned char*>(r.name), std::strlen(r.name)));
  for (const Run& run : r.runs) hex.replace(2 * run.offset, std::strlen(run.hex), run.hex);
  return hex;
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
    const Received& want = kReceived[e.index - 1];
    EXPECT_STREQ(got.def.name, e.name);
    EXPECT_STREQ(want.name, e.name);
    EXPECT_EQ(got.def.param_type, e.type);
    unsigned char bytes[sizeof(PF_ParamDef)];
    std::memcpy(bytes, &got.def, sizeof bytes);
    if (want.pointerAt >= 0) {
      const void* text = nullptr;
      std::memcpy(&text, bytes + want.pointerAt, sizeof text);
      EXPECT_NE(text, nullptr);
      std::memset(bytes + want.pointerAt, 0, sizeof text);
    }
    EXPECT_EQ(Hex(bytes, sizeof bytes), HexOf(want));
    if (e.type == PF_Param_POPUP) {
      EXPECT_EQ(got.popupItems, e.items);
    }
    if (e.type == PF_Param_CHECKBOX) {
      EXPECT_EQ(got.checkboxLabel, "");
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
