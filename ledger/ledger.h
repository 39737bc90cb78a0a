// A host's books on one plug-in: every call the plug-in makes of the host,
// in order; the parameter records it holds checked out; the suites it holds;
// the thread it may call from. The stand-in host, the fuzzer's hostile host
// and the tests keep the same books here, and judge a call by the one
// function PromisesKept, so that a promise added is checked by all of them.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "src/host/host_api.h"

namespace ledger {

// The host operations the plug-in can reach.
enum class Op {
  AddParam,
  CheckoutParam,
  CheckinParam,
  Progress,
  Fill,
  Strcpy,
  Sprintf,
  AcquireSuite,
  ReleaseSuite,
  GetPixelFormat,
  kCount
};
inline constexpr int kOpCount = static_cast<int>(Op::kCount);
const char* OpName(Op op);

// One host call as the plug-in made it.
struct Call {
  Op op{};
  PF_Err result = 0;
  // CheckoutParam: index, time, time_step, time_scale. Progress: current,
  // total. Fill: left, top, right, bottom. Suites: version in a.
  int64_t a = 0, b = 0, c = 0, d = 0;
  std::string name;  // suite name, parameter name, or sprintf's result
  // False when the call came from any thread but the one that called the
  // entry point (a worker of the plug-in's), or after the command returned.
  bool onEntryThread = true;
  bool failedOnCue = false;  // the host failed it on purpose
  // AcquireSuite answered 0 but with a null suite, or with one lacking a
  // function the effect calls: the effect must take it as missing.
  bool unusableSuite = false;
  bool operator==(const Call&) const = default;
};

using SuiteKey = std::pair<std::string, int32_t>;  // name, version

class Ledger {
 public:
  // --- One command ---------------------------------------------------------------
  // The entry point is about to run on this thread: calls are checked
  // against it until End(). Returns the thread that ran before, for a
  // command nested in another's callback.
  std::thread::id Begin();
  void End(std::thread::id previous = {});
  // Held through each callback, so that one from a stray thread is recorded
  // as misuse instead of racing with the entry thread's calls.
  std::unique_lock<std::mutex> Hold() { return std::unique_lock(mutex_); }

  // Logs a call (hold the ledger); one from another thread than the
  // command's, or made when none runs, is misuse.
  Call& Log(Op op);
  void Misuse(std::string what) { misuse_.push_back(std::move(what)); }
  // With the log off, calls are still checked but not kept: a host that
  // renders long sequences and never reads them, nor judges its promises.
  void KeepLog(bool keep) { keepLog_ = keep; }

  // --- Check-outs ------------------------------------------------------------------
  // Marks a record just checked out with a token in its unused field, so a
  // check-in is matched to its check-out whatever the plug-in did to the rest.
  int32_t CheckOut(PF_ParamDef& def);
  enum class CheckIn {
    Returned,  // it carried an outstanding token
    Empty,     // all zero: a check-out that failed or never happened
    Unknown,   // misuse, recorded
  };
  CheckIn CheckInRecord(const PF_ParamDef& def);
  int64_t OutstandingCheckouts() const { return static_cast<int64_t>(outstanding_.size()); }

  // --- Suites ------------------------------------------------------------------------
  void Acquired(const SuiteKey& suite) { ++suiteBalance_[suite]; }
  // False, and misuse recorded, when the suite is not held.
  bool Released(const SuiteKey& suite);
  // Acquisitions minus releases of each suite not balanced.
  std::map<SuiteKey, int> SuiteBalance() const;

  // --- What the plug-in did ----------------------------------------------------------
  const std::vector<Call>& Calls() const { return calls_; }
  // The calls of the command running, or of the last one.
  std::span<const Call> CommandCalls() const;
  std::vector<Call> CallsOf(Op op) const;
  int Count(Op op) const;
  void ClearLog();
  // What the host saw the plug-in do wrong, in words.
  const std::vector<std::string>& Misuse() const { return misuse_; }

 private:
  std::mutex mutex_;
  std::thread::id entryThread_;
  bool keepLog_ = true;
  Call scratch_;
  std::vector<Call> calls_;
  size_t commandStart_ = 0;
  std::vector<std::string> misuse_;
  int32_t nextToken_ = 1;
  std::set<int32_t> outstanding_;
  std::map<SuiteKey, int> suiteBalance_;
};

// A host's sprintf into a buffer of `capacity` bytes, the text kept in the
// call's name: its length; or, when the text does not fit, the text cut to
// fit, misuse recorded and -1; -1 too when the format cannot be formatted.
int BoundedSprintf(Ledger& books, Call& call, char* dst, size_t capacity, const char* format,
                   va_list args);

// Whether the host handed a command every record and function it needs; a
// command without them must return 516 without calling the host. paramCount
// is the length of the parameter array, the input layer included.
bool RecordsComplete(PF_Cmd cmd, const PF_InData* in, const PF_OutData* out,
                     PF_ParamDef* const* params, int32_t paramCount, const PF_LayerDef* output);

// What a host knows of one entry-point call beyond its books.
struct CallReport {
  PF_Cmd cmd = 0;
  PF_Err result = 0;
  bool recordsComplete = true;  // RecordsComplete before the call
  // The units value handed to a render (before the effect clamps it).
  int32_t units = 0;
  // out_data as handed over, and as the command left it; empty when the
  // host did not watch it.
  std::vector<unsigned char> outBefore, outAfter;
};

// The plug-in's promises after a call, checked against the books: no misuse,
// every check-out checked in, every suite released, at most one fill, the
// first host error is the result and nothing is taken after it, a render
// checks in each cell, an unknown command does nothing, and out_data
// changes only in the fields the command sets.
struct Verdict {
  std::vector<std::string> broken;  // in words; empty when all were kept
  explicit operator bool() const { return broken.empty(); }
  std::string Text() const;  // one per line
};
Verdict PromisesKept(const Ledger& books, const CallReport& call);

}  // namespace ledger
