#include "ledger/host_skeleton.h"

#include <algorithm>

namespace ledger {
namespace {

Call& LogAfter(Ledger& books, const char* seenFirst, Op op) {
  if (seenFirst != nullptr) books.Misuse(seenFirst);
  return books.Log(op);
}

}  // namespace

void SetInDataDefaults(PF_InData& in, PF_ProgPtr effectRef, int32_t paramCount) {
  in.effect_ref = effectRef;
  in.version = PF_SpecVersion{13, 28};
  in.quality = 1;
  in.field = 0;
  in.downsample_x = in.downsample_y = in.pixel_aspect_ratio = PF_RationalScale{1, 1};
  in.num_params = paramCount;
}

void SetInDataTime(PF_InData& in, const HostTime& time) {
  in.current_time = time.current;
  in.time_step = time.step;
  in.local_time_step = time.step;
  in.total_time = time.total;
  in.time_scale = time.scale;
}

void SetInDataSize(PF_InData& in, int32_t width, int32_t height) {
  in.width = width;
  in.height = height;
  in.extent_hint = PF_Rect{0, 0, width, height};
}

ScopedCall::ScopedCall(Ledger& books, FailureCue& cue, Op op, const char* seenFirst)
    : books_(books), lock_(books.Hold()), call_(LogAfter(books, seenFirst, op)) {
  failed_ = cue.FailsOnCue(op, call_, &code_);
  if (failed_) call_.result = code_;
}

bool ScopedCall::AnyNull(std::initializer_list<const void*> pointers, const char* what) {
  const bool any =
      std::any_of(pointers.begin(), pointers.end(), [](const void* p) { return p == nullptr; });
  if (any) books_.Misuse(what);
  return any;
}

}  // namespace ledger
