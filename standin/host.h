// The stand-in host: loads a plug-in through the platform loader and drives
// its entry point with real host records, callbacks and suites. It owns the
// layers, parameter values and times, counts every acquire and release and
// every check-out and check-in, and can fail any call on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ledger/host_skeleton.h"
#include "ledger/ledger.h"
#include "src/frame/entry.h"
#include "src/host/host_api.h"
#include "src/params/params.h"
#include "standin/frame_source.h"
#include "standin/world.h"

namespace standin {

// Why a plug-in library cannot be used: its message names the file and what
// to do; the loader's own words are kept for a host that words it otherwise.
class PluginLoadError : public std::runtime_error {
 public:
  enum class Kind { CannotOpen, NoEntryPoint };
  PluginLoadError(Kind kind, const std::string& message, std::string loaderText = {})
      : std::runtime_error(message), kind_(kind), loaderText_(std::move(loaderText)) {}
  Kind kind() const { return kind_; }
  const std::string& loaderText() const { return loaderText_; }

 private:
  Kind kind_;
  std::string loaderText_;
};

// A plug-in library opened with dlopen or LoadLibrary, the one loader every
// host here uses.
class PluginLibrary {
 public:
  // Throws PluginLoadError when the file cannot be loaded or has no
  // EntryPointFunc.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  PF_EntryPointFunc entry() const { return entry_; }
  // The entry that takes the threads of a call (TilvaneEntryWithThreads);
  // null where the library has none, as on Windows.
  tilvane::TilvaneEntryWithThreadsFunc entryWithThreads() const { return entryWithThreads_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  PF_EntryPointFunc entry_ = nullptr;
  tilvane::TilvaneEntryWithThreadsFunc entryWithThreads_ = nullptr;
};

// The books the host keeps come from the ledger the fuzzer shares.
using ledger::Call;
using ledger::Op;
using ledger::OpName;

// The host's name of an error code, e.g. "PF_Err_OUT_OF_MEMORY".
const char* ErrorName(PF_Err err);

using ledger::HostTime;

// How a suite request is answered.
enum class SuiteAnswer {
  Served,          // 0 and the suite
  Missing,         // a non-zero error
  NullWithNoError  // 0 but a null suite
};

// A parameter definition as the host stored it from add_param, with copies
// of the strings the plug-in pointed at.
struct RegisteredParam {
  PF_ParamDef def;
  std::string popupItems;     // popups
  std::string checkboxLabel;  // checkboxes
};

class Host final : private ledger::FailureCue {
 public:
  // paramCount: the parameters the plug-in registers, its input layer
  // included, as in_data's num_params tells it.
  explicit Host(PF_EntryPointFunc entry, int32_t paramCount = tilvane::PARAM_COUNT);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // --- Set-up of the host side --------------------------------------------
  HostTime& time() { return time_; }
  // Layer parameters 1 and 2 (and 0, which the plug-in should never read).
  void setLayer(int index, FrameSourcePtr source);
  // The nth call (1-based, counted from now) of op returns code without doing
  // anything else, except that a failed check-in or suite release still
  // releases (the plug-in has no way to retry). A failed sprintf returns -1
  // and a failed strcpy null, writing nothing.
  void failCall(Op op, int nth, PF_Err code);
  void setSuiteAnswer(const std::string& name, int32_t version, SuiteAnswer answer);
  // Hands the plug-in a null pica_basicP.
  void setBasicSuiteNull(bool isNull) { basicNull_ = isNull; }
  // The suites as this host serves them; null a member to play a host with
  // a half-filled suite.
  SPBasicSuite& basicSuite() { return *basic_; }
  PF_ANSICallbacksSuite1& ansiSuite() { return ansiSuite_; }
  PF_WorldSuite2& worldSuite() { return worldSuite_; }
  // Told of every progress report as the plug-in makes it.
  // Renders on `threads` threads (0: the plug-in's own choice) through
  // `entry`, the library's entryWithThreads(), which every render then calls
  // instead of the entry point; the other commands still go to the entry
  // point. A real host has no such call. Throws std::invalid_argument for a
  // null entry with threads above 0.
  void setRenderThreads(tilvane::TilvaneEntryWithThreadsFunc entry, int threads);
  void setProgressObserver(std::function<void(int32_t current, int32_t total)> observer) {
    progressObserver_ = std::move(observer);
  }

  // --- Commands -------------------------------------------------------------
  PF_Err globalSetup();
  // Registers the definitions and resets every value to its default.
  PF_Err paramsSetup();
  PF_Err about();
  // Renders into output; runs parameter set-up first if it never ran.
  PF_Err render(World& output);
  // Any command with the host's records (no parameter array or output).
  PF_Err command(PF_Cmd cmd);

  // --- Parameter values for render (after paramsSetup) -------------------------
  const std::vector<RegisteredParam>& registered() const { return registered_; }
  // The value record handed to render at index 1 to the last registered;
  // edit it freely.
  PF_ParamDef& param(int index);
  void setInt(int index, int32_t value);  // slider, popup or checkbox
  void setFloat(int index, double value);
  void setColor(int index, PF_Pixel argb);

  // --- What the plug-in did -------------------------------------------------------
  const PF_OutData& outData() const { return *out_; }
  PF_OutData& outData() { return *out_; }
  const ledger::Ledger& books() const { return books_; }
  const std::vector<Call>& calls() const { return books_.Calls(); }
  std::vector<Call> callsOf(Op op) const { return books_.CallsOf(op); }
  int count(Op op) const { return books_.Count(op); }
  void clearLog() { books_.ClearLog(); }
  // Off: calls are checked but not kept, for a host that renders long
  // sequences and never reads them.
  void keepLog(bool keep) { books_.KeepLog(keep); }
  // Acquisitions minus releases for each suite (name, version) not balanced.
  std::map<ledger::SuiteKey, int> suiteBalance() const { return books_.SuiteBalance(); }
  int64_t outstandingCheckouts() const { return books_.OutstandingCheckouts(); }
  // Failures the host detected in the plug-in's use of it, e.g. "sprintf
  // wrote past 256 bytes", "checkin of a record never checked out", a
  // callback made from a thread other than the entry point's.
  const std::vector<std::string>& misuse() const { return books_.Misuse(); }
  // The last command, as the promises are judged.
  const ledger::CallReport& lastCommand() const { return last_; }
  // Every promise the plug-in makes after a command, for the last one.
  ledger::Verdict promisesKept() const { return ledger::PromisesKept(books_, last_); }

  // --- The host's callbacks, reached through the records ------------------------
  struct Callbacks;

 private:
  friend struct Callbacks;
  PF_Err run(PF_Cmd cmd, PF_ParamDef** params, PF_LayerDef* output);
  bool FailsOnCue(Op op, Call& call, PF_Err* code) override;
  void resetValues();
  WorldPtr LayerFrame(int index, A_long time, A_long step, A_u_long scale) const;
  void Register(RegisteredParam reg);
  void FillOutput(const PF_Pixel* color, const PF_Rect* rect);

  PF_EntryPointFunc entry_;
  tilvane::TilvaneEntryWithThreadsFunc entryWithThreads_ = nullptr;
  int renderThreads_ = 0;
  int32_t paramCount_;
  HostTime time_;
  std::unique_ptr<PF_InData> in_;
  std::unique_ptr<PF_OutData> out_;
  std::unique_ptr<PF_UtilCallbacks> utils_;
  std::unique_ptr<SPBasicSuite> basic_;
  bool basicNull_ = false;
  PF_ANSICallbacksSuite1 ansiSuite_;
  PF_WorldSuite2 worldSuite_;
  std::function<void(int32_t, int32_t)> progressObserver_;

  std::map<int, FrameSourcePtr> layers_;
  std::vector<RegisteredParam> registered_;
  std::vector<PF_ParamDef> values_;  // the input layer, then each registered
  std::map<ledger::SuiteKey, SuiteAnswer> suiteAnswers_;

  struct FailRule {
    Op op;
    int nth;
    PF_Err code;
  };
  std::vector<FailRule> failRules_;
  std::map<Op, int> opCounts_;  // every call so far, by op

  // The frames lent with each check-out, by its ledger token.
  std::map<int32_t, WorldPtr> lentFrames_;
  const World* output_ = nullptr;

  ledger::Ledger books_;
  ledger::CallReport last_;
};

}  // namespace standin
