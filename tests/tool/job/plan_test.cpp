// The plan's arithmetic that no picture shows: the stretch of a movie's sound
// a range carries.
#include "tools/tilvane/job/plan.h"

#include <gtest/gtest.h>

namespace tilvane_tool {
namespace {

// At 24000/1001 frame 10 starts 10 × 1001 / 24000 s = 0.417 s into the layer;
// counted in frames rather than host units the sound would start 0.4 s late.
TEST(SoundTrims, StartAtTheFirstFramesTimeAndLastTheRangesLength) {
  const AudioSource ntsc = SoundOfRange("clip.mov", *TimeBase::Of({24000, 1001}), {10, 19});
  EXPECT_EQ(ntsc.movie, "clip.mov");
  EXPECT_EQ(ntsc.start.num, 10010);
  EXPECT_EQ(ntsc.start.den, 24000);
  EXPECT_EQ(ntsc.duration.num, 10010);
  EXPECT_EQ(ntsc.duration.den, 24000);
  // The host's own units: frame 3 at step 2 of 1/60 s is 0.1 s.
  const AudioSource units = SoundOfRange("clip.mov", *TimeBase::FromStepAndScale(2, 60), {3, 3});
  EXPECT_EQ(units.start.num, 6);
  EXPECT_EQ(units.start.den, 60);
  EXPECT_EQ(units.duration.num, 2);
}

}  // namespace
}  // namespace tilvane_tool
