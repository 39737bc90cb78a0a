// A host that hands the plug-in everything a careless or broken host could:
// the records of one plan, each between no-access pages, layers that are
// read-only, callbacks and suites that fail on cue or are missing. It logs
// every call and, after the entry point returns, checks the plug-in's
// promises.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/guarded.h"
#include "fuzz/plan.h"
#include "ledger/host_skeleton.h"
#include "ledger/ledger.h"
#include "src/frame/entry.h"
#include "src/host/host_api.h"
#include "src/params/params.h"

namespace fuzz {

// The host's records, each between no-access pages. Mapping them costs
// system calls, so one set serves every call of a process, cleared for each.
struct Records {
  Guarded<PF_InData> in;
  Guarded<PF_OutData> out;
  Guarded<PF_UtilCallbacks> utils;
  Guarded<SPBasicSuite> basic;
  Guarded<PF_ANSICallbacksSuite1> ansi;
  Guarded<PF_WorldSuite2> worldSuite;
  GuardedBlock paramArray{sizeof(PF_ParamDef*) * tilvane::PARAM_COUNT};
  std::array<Guarded<PF_ParamDef>, tilvane::PARAM_COUNT> params;
  Guarded<PF_LayerDef> output;

  void Clear();
  bool GuardsIntact() const;
};

class HostileHost : private ledger::FailureCue {
 public:
  HostileHost(const Plan& plan, Records& records);
  ~HostileHost();
  HostileHost(const HostileHost&) = delete;
  HostileHost& operator=(const HostileHost&) = delete;

  // Sets the plug-in's environment overrides and makes the one call.
  // Through `withThreads` when the plan has the host fix the call's threads
  // and the plug-in exports it, else through `entry`.
  PF_Err Call(PF_EntryPointFunc entry, tilvane::TilvaneEntryWithThreadsFunc withThreads);
  // Every broken promise, in words; empty when the plug-in kept them all:
  // the ledger's, and this host's own guards.
  std::vector<std::string> BrokenPromises() const;
  int64_t InjectedFailures() const { return injected_; }

  struct Callbacks;

 private:
  friend struct Callbacks;
  struct Frame;  // one layer frame: its plan, and its pixels

  std::unique_ptr<Frame> MakeFrame(const WorldPlan& plan, bool input);
  void FillParams();
  bool FailsOnCue(Op op, ledger::Call& call, PF_Err* code) override;
  void FillOutput(const PF_Pixel* color, const PF_Rect* rect);
  PF_LayerDef LayerAt(int index, int32_t time) const;

  const Plan& plan_;
  Records& r_;
  // Copies of the records lent for reading, to prove them unwritten.
  std::vector<std::pair<const void*, std::vector<unsigned char>>> lent_;
  std::unique_ptr<Frame> output_;
  std::unique_ptr<Frame> displacement_;
  std::vector<std::unique_ptr<Frame>> icons_;

  Rng failRng_;
  int64_t counts_[kOpCount] = {};
  int64_t injected_ = 0;
  ledger::Ledger books_;
  ledger::CallReport report_;
};

}  // namespace fuzz
