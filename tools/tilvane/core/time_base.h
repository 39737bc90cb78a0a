// A render's time in one value: the rate as an exact fraction, the host's
// step and scale that stand for it (units a frame, units a second), a
// frame's host time, a range of frames, and the limit the host's 32-bit
// times put on all of them. The job's timing resolves it once, from the
// options and the layers; everything downstream (the scene, a movie's or a
// stream's format, the host's time, the sound's trim) reads it from there
// and derives nothing of its own.
#pragma once

#include <cstdint>
#include <optional>

#include "tools/tilvane/core/rate.h"

namespace tilvane_tool {

// The host's time values are 32-bit: no frame's host time, no duration's, and
// no file number, past this.
inline constexpr int64_t kMaxTime = 2147483647;

// Frames first to last, both included; first <= last.
struct FrameRange {
  int64_t first = 0;
  int64_t last = 0;
  int64_t size() const { return last - first + 1; }
  bool operator==(const FrameRange&) const = default;
};

// The host's clock for a rate: host time = frame × step, in units of
// 1 / scale seconds, so the rate is scale / step frames a second. Made from a
// rate it is one unit a tick (step = den, scale = num); made from a step and
// a scale it keeps them as given (step 2, scale 60 is 30 fps in units of
// 1/60 s), since the effect sees the units themselves.
class TimeBase {
 public:
  TimeBase() = default;  // 30 fps: step 1, scale 30

  // None when the rate's numerator or denominator does not fit the host's
  // 32-bit fields (ParseRate's always do).
  static std::optional<TimeBase> Of(Rate rate);
  // None unless 1 <= step <= kMaxTime and 1 <= scale < 2^32.
  static std::optional<TimeBase> FromStepAndScale(int64_t step, int64_t scale);

  Rate rate() const { return *MakeRate(scale_, step_); }
  int32_t step() const { return step_; }
  uint32_t scale() const { return scale_; }

  // The last frame whose host time fits, which is also the longest duration,
  // in frames, the host's total time can hold.
  int64_t lastFrame() const { return kMaxTime / step_; }
  bool fits(int64_t frame) const { return frame >= 0 && frame <= lastFrame(); }
  // Frame f's host time, f × step: in 64 bits for any f; the host's own
  // 32-bit value for a frame that fits.
  int64_t timeOf(int64_t frame) const { return frame * step_; }
  int32_t hostTime(int64_t frame) const { return static_cast<int32_t>(timeOf(frame)); }

  bool operator==(const TimeBase&) const = default;

 private:
  TimeBase(int32_t step, uint32_t scale) : step_(step), scale_(scale) {}
  int32_t step_ = 1;
  uint32_t scale_ = 30;
};

}  // namespace tilvane_tool
