// What every host built here does alike, kept once: the bookkeeping around
// each callback (hold, log, failure on cue, null checks), the in_data fields
// both hand over, the suite broker's "not found" and the 8-to-16-bit colour.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>

#include "ledger/ledger.h"
#include "src/host/host_api.h"

namespace ledger {

// The suite broker's "not found".
inline constexpr SPErr kSuiteNotFound = 0x53214664;

// An 8-bit channel at the host's 16-bit scale, where full is 32768, rounded
// to nearest: how a host widens the colours it is handed to a deep world.
constexpr A_u_short Channel8To16(A_u_char c) {
  return static_cast<A_u_short>((c * 32768 + 128) / 255);
}
constexpr PF_Pixel16 Pixel8To16(PF_Pixel c) {
  return PF_Pixel16{Channel8To16(c.alpha), Channel8To16(c.red), Channel8To16(c.green),
                    Channel8To16(c.blue)};
}

// The time of a command, in the host's units.
struct HostTime {
  int32_t current = 0;
  int32_t step = 1;
  int32_t total = 300;
  uint32_t scale = 30;
};

// The in_data fields every host here sets alike: the effect_ref, the API
// version, full quality, an unscaled square-pixel frame and the number of
// parameters, the input layer included.
void SetInDataDefaults(PF_InData& in, PF_ProgPtr effectRef, int32_t paramCount);
void SetInDataTime(PF_InData& in, const HostTime& time);
// The frame's size, and an extent hint that covers it.
void SetInDataSize(PF_InData& in, int32_t width, int32_t height);

// How a host fails calls on purpose. Asked once for every call, in order, so
// it may count them; true, with the code, for the call it fails.
class FailureCue {
 public:
  virtual bool FailsOnCue(Op op, Call& call, PF_Err* code) = 0;

 protected:
  ~FailureCue() = default;
};

// The books of one host callback from its start to its return: holds the
// ledger (so that a call from a stray thread is recorded as misuse instead of
// racing with the entry thread's), logs the call and asks the host whether
// to fail it.
class ScopedCall {
 public:
  ScopedCall(Ledger& books, FailureCue& cue, Op op) : ScopedCall(books, cue, op, nullptr) {}
  // `seenFirst`, when not null, is misuse the host saw in the call's own
  // arguments before logging it.
  ScopedCall(Ledger& books, FailureCue& cue, Op op, const char* seenFirst);
  ScopedCall(const ScopedCall&) = delete;
  ScopedCall& operator=(const ScopedCall&) = delete;

  Call& log() { return call_; }
  // Whether the host fails this call on cue, and with which code (already
  // the call's result).
  bool failed() const { return failed_; }
  PF_Err cueCode() const { return code_; }

  // Records the result and returns it, for the callback to return.
  PF_Err Result(PF_Err result) { return call_.result = result; }
  // The cue's code for a call failed on cue, else `result`: for calls that
  // still do their work when failed (a check-in or release cannot be retried).
  PF_Err ResultUnlessFailed(PF_Err result) { return Result(failed_ ? code_ : result); }
  // True, with `what` recorded as misuse, when any pointer is null.
  bool AnyNull(std::initializer_list<const void*> pointers, const char* what);

 private:
  Ledger& books_;
  std::unique_lock<std::mutex> lock_;
  Call& call_;
  bool failed_ = false;
  PF_Err code_ = PF_Err_NONE;
};

}  // namespace ledger
