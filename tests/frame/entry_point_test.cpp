// How the entry point answers the host's commands: dispatch, global set-up,
// commands it does not handle, and records a misbehaving host leaves null.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "src/frame/effect_info.h"
#include "src/params/params.h"
#include "tests/support/plugin_fixture.h"

namespace {

using enum tilvane::ParamIndex;
using tilvane_test::MakeHost;
using tilvane_test::Plugin;

// Out data filled with a pattern, so any write shows.
PF_OutData Marked() {
  PF_OutData out;
  std::memset(&out, 0xA5, sizeof out);
  return out;
}

TEST(GlobalSetup, ReportsVersionAndFlagsAndNothingElse) {
  auto host = MakeHost();
  host->outData() = Marked();
  ASSERT_EQ(host->globalSetup(), PF_Err_NONE);

  EXPECT_EQ(host->outData().my_version, 524289u);
  EXPECT_EQ(host->outData().out_flags, 33554434);
  PF_OutData expected = Marked();
  expected.my_version = host->outData().my_version;
  expected.out_flags = host->outData().out_flags;
  EXPECT_EQ(std::memcmp(&expected, &host->outData(), sizeof expected), 0)
      << "global set-up wrote a field besides my_version and out_flags";
  EXPECT_TRUE(host->calls().empty()) << "global set-up needs no host call";
}

TEST(GlobalSetup, VersionIsOnePointZeroAsTheHostPacksIt) {
  EXPECT_EQ(tilvane::kEffectVersion, PF_VERSION(1, 0, 0, PF_Stage_DEVELOP, 1));
}

TEST(GlobalSetup, FlagsDeepColorAndIconTimesOtherThanTheCurrent) {
  EXPECT_EQ(tilvane::kOutFlags, PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_WIDE_TIME_INPUT);
  EXPECT_EQ(PF_OutFlag_WIDE_TIME_INPUT, 2);
  EXPECT_EQ(tilvane::kOutFlags2, 0);
}

TEST(Dispatch, UnhandledCommandsSucceedAndWriteNothing) {
  auto host = MakeHost();
  for (PF_Cmd cmd :
       {2, 3, 5, 6, 7, 8, 9, 10, 12, 13, 14, 15, 20, 33, 34, 1000, -1, -11, INT_MIN, INT_MAX}) {
    host->outData() = Marked();
    EXPECT_EQ(host->command(cmd), PF_Err_NONE) << "command " << cmd;
    const PF_OutData expected = Marked();
    EXPECT_EQ(std::memcmp(&expected, &host->outData(), sizeof expected), 0) << "command " << cmd;
  }
  EXPECT_TRUE(host->calls().empty());
}

TEST(Dispatch, UnhandledCommandsIgnoreNullRecords) {
  for (PF_Cmd cmd : {3, 5, 10, 12, -1}) {
    EXPECT_EQ(Plugin().entry()(cmd, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
  }
}

TEST(Dispatch, NullRecordsAreRefusedInsteadOfCrashingTheHost) {
  const PF_EntryPointFunc entry = Plugin().entry();
  PF_InData in{};
  PF_OutData out{};
  standin::World output(4, 4, 8);
  PF_ParamDef defs[PARAM_COUNT] = {};
  PF_ParamDef* params[PARAM_COUNT];
  for (int i = 0; i < PARAM_COUNT; ++i) params[i] = &defs[i];

  for (PF_Cmd cmd : {PF_Cmd_ABOUT, PF_Cmd_GLOBAL_SETUP, PF_Cmd_PARAMS_SETUP, PF_Cmd_RENDER}) {
    EXPECT_EQ(entry(cmd, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM)
        << "command " << cmd;
  }
  EXPECT_EQ(entry(PF_Cmd_ABOUT, &in, nullptr, nullptr, nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(entry(PF_Cmd_ABOUT, nullptr, &out, nullptr, nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  // In data without its callbacks is as unusable as none.
  EXPECT_EQ(entry(PF_Cmd_PARAMS_SETUP, &in, &out, nullptr, nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(entry(PF_Cmd_RENDER, &in, &out, params, output.record(), nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
}

// A stand-in host whose entry point only remembers the in data it was given,
// so a test can hand the real entry point the host's records with pieces missing.
PF_InData* gCapturedInData = nullptr;
PF_Err CaptureInData(PF_Cmd, PF_InData* in_data, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  gCapturedInData = in_data;
  return PF_Err_NONE;
}

TEST(Dispatch, RenderRefusesAMissingParameterArrayEntryOrOutput) {
  standin::Host capturing(&CaptureInData);
  ASSERT_EQ(capturing.command(PF_Cmd_FRAME_SETUP), PF_Err_NONE);
  ASSERT_NE(gCapturedInData, nullptr);
  const PF_EntryPointFunc entry = Plugin().entry();
  PF_OutData out{};
  standin::World output(4, 4, 8);
  PF_ParamDef defs[PARAM_COUNT] = {};
  PF_ParamDef* params[PARAM_COUNT];
  for (int i = 0; i < PARAM_COUNT; ++i) params[i] = &defs[i];

  EXPECT_EQ(entry(PF_Cmd_RENDER, gCapturedInData, &out, nullptr, output.record(), nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(entry(PF_Cmd_RENDER, gCapturedInData, &out, params, nullptr, nullptr),
            PF_Err_BAD_CALLBACK_PARAM);
  for (int missing = PARAM_UNITS; missing < PARAM_COUNT; ++missing) {
    params[missing] = nullptr;
    EXPECT_EQ(entry(PF_Cmd_RENDER, gCapturedInData, &out, params, output.record(), nullptr),
              PF_Err_BAD_CALLBACK_PARAM)
        << "parameter " << missing;
    params[missing] = &defs[missing];
  }
  EXPECT_TRUE(capturing.calls().empty()) << "a refused render calls the host";
}

}  // namespace
