// The stand-in host's own guarantees, seen from a scripted plug-in: it keeps
// the definitions it is given, refuses inconsistent ones, matches check-ins
// to check-outs, bounds sprintf, fails exactly the call it is told to, and
// knows which thread made each call.
#include "standin/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using standin::Op;

// The scripted plug-in: whatever the test puts here runs as the command.
std::function<PF_Err(PF_InData*)> gScript;
PF_Err ScriptedEntry(PF_Cmd, PF_InData* in_data, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  return gScript(in_data);
}

class HostTest : public ::testing::Test {
 protected:
  PF_Err run(std::function<PF_Err(PF_InData*)> script) {
    gScript = std::move(script);
    return host.command(PF_Cmd_SEQUENCE_SETUP);
  }
  standin::Host host{&ScriptedEntry};
};

PF_ParamDef Popup(A_long id, const char* items, A_short choices) {
  PF_ParamDef def;
  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_POPUP;
  def.uu.id = id;
  std::strcpy(def.name, "Choice");
  def.u.pd.num_choices = choices;
  def.u.pd.dephault = 1;
  def.u.pd.value = 1;
  def.u.pd.u.namesptr = items;
  return def;
}

TEST_F(HostTest, AddParamCopiesTheDefinitionAndItsItemList) {
  char items[] = "A|B|C";
  ASSERT_EQ(run([&](PF_InData* in) {
              PF_ParamDef def = Popup(1, items, 3);
              PF_Err err = in->inter.add_param(in->effect_ref, -1, &def);
              std::memset(&def, 0, sizeof def);  // the plug-in reuses its record
              std::strcpy(items, "X|Y|Z");
              return err;
            }),
            PF_Err_NONE);
  ASSERT_EQ(host.registered().size(), 1u);
  EXPECT_EQ(host.registered()[0].popupItems, "A|B|C");
  EXPECT_STREQ(host.registered()[0].def.u.pd.u.namesptr, "A|B|C");
  EXPECT_STREQ(host.registered()[0].def.name, "Choice");
}

TEST_F(HostTest, AddParamRefusesUnknownTypesAndInconsistentFields) {
  PF_Err unknown = 0, miscounted = 0, badDefault = 0, slider = 0, duplicate = 0;
  run([&](PF_InData* in) {
    PF_ParamDef def = Popup(1, "A|B", 2);
    def.param_type = 99;
    unknown = in->inter.add_param(in->effect_ref, -1, &def);
    def = Popup(1, "A|B", 3);
    miscounted = in->inter.add_param(in->effect_ref, -1, &def);
    def = Popup(1, "A|B", 2);
    def.u.pd.dephault = 3;
    badDefault = in->inter.add_param(in->effect_ref, -1, &def);
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_SLIDER;
    def.uu.id = 2;
    def.u.sd.valid_min = 10;
    def.u.sd.valid_max = 0;
    slider = in->inter.add_param(in->effect_ref, -1, &def);
    def = Popup(3, "A", 1);
    in->inter.add_param(in->effect_ref, -1, &def);
    duplicate = in->inter.add_param(in->effect_ref, -1, &def);
    return PF_Err_NONE;
  });
  EXPECT_EQ(unknown, PF_Err_UNRECOGNIZED_PARAM_TYPE);
  EXPECT_EQ(miscounted, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(badDefault, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(slider, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(duplicate, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.registered().size(), 1u);
}

TEST_F(HostTest, SprintfIsBoundedToTheHostsBuffer) {
  char buffer[300];
  int fits = 0, overflows = 0;
  run([&](PF_InData* in) {
    fits = in->utils->ansi.sprintf(buffer, "%s %d", "seven", 7);
    overflows = in->utils->ansi.sprintf(buffer, "%0300d", 1);
    return PF_Err_NONE;
  });
  EXPECT_EQ(fits, 7);
  EXPECT_EQ(overflows, -1);
  EXPECT_EQ(std::strlen(buffer), 255u) << "wrote past 256 bytes";
  ASSERT_EQ(host.misuse().size(), 1u);
}

TEST_F(HostTest, CheckInsAreMatchedToCheckOuts) {
  host.setLayer(1, standin::StillSource(std::make_shared<standin::World>(2, 2, 8)));
  // Layers need definitions to check out against.
  gScript = [](PF_InData* in) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_LAYER;
    def.uu.id = 1;
    return in->inter.add_param(in->effect_ref, -1, &def);
  };
  ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);

  PF_Err twice = 0, stranger = 0, empty = 0;
  int64_t outstandingMidway = -1;
  run([&](PF_InData* in) {
    PF_ParamDef a, b, zero;
    std::memset(&zero, 0, sizeof zero);
    in->inter.checkout_param(in->effect_ref, 1, 0, 1, 30, &a);
    in->inter.checkout_param(in->effect_ref, 1, 0, 1, 30, &b);
    outstandingMidway = host.outstandingCheckouts();
    in->inter.checkin_param(in->effect_ref, &a);
    twice = in->inter.checkin_param(in->effect_ref, &a);
    PF_ParamDef forged = b;
    forged.unused += 100;
    stranger = in->inter.checkin_param(in->effect_ref, &forged);
    empty = in->inter.checkin_param(in->effect_ref, &zero);
    in->inter.checkin_param(in->effect_ref, &b);
    return PF_Err_NONE;
  });
  EXPECT_EQ(outstandingMidway, 2);
  EXPECT_EQ(twice, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(stranger, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(empty, PF_Err_NONE) << "an all-zero record is accepted";
  EXPECT_EQ(host.outstandingCheckouts(), 0);
  EXPECT_EQ(host.misuse().size(), 2u);
}

TEST_F(HostTest, FailsExactlyTheNthCallCountedFromNow) {
  std::vector<PF_Err> results;
  run([&](PF_InData* in) {
    in->inter.progress(in->effect_ref, 0, 1);
    return PF_Err_NONE;
  });
  host.failCall(Op::Progress, 2, PF_Interrupt_CANCEL);
  run([&](PF_InData* in) {
    for (int i = 0; i < 3; ++i) results.push_back(in->inter.progress(in->effect_ref, i, 3));
    return PF_Err_NONE;
  });
  EXPECT_EQ(results, (std::vector<PF_Err>{0, PF_Interrupt_CANCEL, 0}));
  EXPECT_EQ(host.count(Op::Progress), 4);
}

TEST_F(HostTest, SuitesAreCountedByNameAndVersion) {
  run([&](PF_InData* in) {
    const void* suite = nullptr;
    in->pica_basicP->AcquireSuite("PF World Suite", 2, &suite);
    in->pica_basicP->AcquireSuite("PF ANSI Suite", 1, &suite);
    in->pica_basicP->ReleaseSuite("PF ANSI Suite", 1);
    return PF_Err_NONE;
  });
  const auto balance = host.suiteBalance();
  ASSERT_EQ(balance.size(), 1u);
  EXPECT_EQ(balance.begin()->first.first, "PF World Suite");
  EXPECT_EQ(balance.begin()->second, 1);
}

TEST_F(HostTest, CallsFromAWorkerThreadAreLoggedAsMisuse) {
  run([&](PF_InData* in) {
    in->inter.progress(in->effect_ref, 0, 2);
    std::thread worker([in] {
      in->inter.progress(in->effect_ref, 1, 2);
      const void* suite = nullptr;
      in->pica_basicP->AcquireSuite("PF ANSI Suite", 1, &suite);
      in->pica_basicP->ReleaseSuite("PF ANSI Suite", 1);
    });
    worker.join();
    return PF_Err_NONE;
  });
  ASSERT_EQ(host.calls().size(), 4u);
  EXPECT_TRUE(host.calls()[0].onEntryThread);
  for (size_t i = 1; i < 4; ++i) EXPECT_FALSE(host.calls()[i].onEntryThread) << i;
  ASSERT_EQ(host.misuse().size(), 3u);
  EXPECT_EQ(host.misuse()[0],
            "progress called from a thread other than the one that called the entry point");
  EXPECT_EQ(host.misuse()[1].rfind("AcquireSuite called from a thread other", 0), 0u);
}

TEST_F(HostTest, ACallFromAThreadThatOutlivesTheCommandIsMisuse) {
  std::promise<void> returned;
  std::thread worker;
  run([&](PF_InData* in) {
    worker = std::thread([in, done = returned.get_future()] {
      done.wait();
      in->inter.progress(in->effect_ref, 1, 1);
    });
    return PF_Err_NONE;
  });
  returned.set_value();
  worker.join();
  ASSERT_EQ(host.calls().size(), 1u);
  EXPECT_FALSE(host.calls()[0].onEntryThread);
  ASSERT_EQ(host.misuse().size(), 1u);
  EXPECT_EQ(host.misuse()[0], "progress called when no command was running");
}

}  // namespace
