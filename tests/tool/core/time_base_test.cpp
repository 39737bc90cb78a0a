// The host's clock for a rate: step and scale from the exact fraction, a
// frame's host time, and the last frame whose time the 32-bit host holds.
#include "tools/tilvane/core/time_base.h"

#include <gtest/gtest.h>

#include <limits>

namespace tilvane_tool {
namespace {

TEST(TimeBases, ARateIsOneHostUnitATick) {
  const TimeBase ntsc = *TimeBase::Of({24000, 1001});
  EXPECT_EQ(ntsc.step(), 1001);
  EXPECT_EQ(ntsc.scale(), 24000u);
  EXPECT_EQ(ntsc.rate(), (Rate{24000, 1001}));
  // Frame 10 at 24000/1001 is 10010 units of 1/24000 s: 0.417 s.
  EXPECT_EQ(ntsc.timeOf(10), 10010);
  EXPECT_EQ(ntsc.hostTime(10), 10010);
  // 2147483647 / 1001 = 2145338.31...
  EXPECT_EQ(ntsc.lastFrame(), 2145338);

  const TimeBase byDefault;
  EXPECT_EQ(byDefault.step(), 1);
  EXPECT_EQ(byDefault.scale(), 30u);
  EXPECT_EQ(byDefault.rate(), (Rate{30, 1}));
  EXPECT_EQ(byDefault.lastFrame(), kMaxTime);
}

TEST(TimeBases, AStepAndScaleAreKeptAsGivenAndTheRateReduced) {
  const TimeBase units = *TimeBase::FromStepAndScale(2, 60);
  EXPECT_EQ(units.step(), 2);
  EXPECT_EQ(units.scale(), 60u);
  EXPECT_EQ(units.rate(), (Rate{30, 1}));
  EXPECT_EQ(units.timeOf(7), 14);
  EXPECT_NE(units, *TimeBase::Of({30, 1}));
  EXPECT_EQ(TimeBase::FromStepAndScale(kMaxTime, std::numeric_limits<uint32_t>::max())->step(),
            kMaxTime);
}

TEST(TimeBases, StepsAndScalesTheHostCannotHoldAreNone) {
  EXPECT_FALSE(TimeBase::FromStepAndScale(0, 30));
  EXPECT_FALSE(TimeBase::FromStepAndScale(1, 0));
  EXPECT_FALSE(TimeBase::FromStepAndScale(-1, 30));
  EXPECT_FALSE(TimeBase::FromStepAndScale(kMaxTime + 1, 30));
  EXPECT_FALSE(TimeBase::FromStepAndScale(1, int64_t{1} << 32));
  EXPECT_FALSE(TimeBase::Of({int64_t{1} << 32, 1}));
  EXPECT_FALSE(TimeBase::Of({1, kMaxTime + 1}));
}

// The last frame is the last whose time fits: one more does not, at every step.
TEST(TimeBases, TheLastFrameIsTheLastWhoseHostTimeFits) {
  for (const int64_t step : {int64_t{1}, int64_t{2}, int64_t{1001}, int64_t{65536}, kMaxTime}) {
    const TimeBase base = *TimeBase::FromStepAndScale(step, 1);
    const int64_t last = base.lastFrame();
    EXPECT_TRUE(base.fits(0)) << step;
    EXPECT_TRUE(base.fits(last)) << step;
    EXPECT_LE(base.timeOf(last), kMaxTime) << step;
    EXPECT_FALSE(base.fits(last + 1)) << step;
    EXPECT_GT(base.timeOf(last + 1), kMaxTime) << step;
    EXPECT_EQ(base.hostTime(last), base.timeOf(last)) << step;
  }
  EXPECT_FALSE(TimeBase().fits(-1));
  // At one unit a frame every time the host's 32-bit value holds is a frame.
  EXPECT_EQ(TimeBase::FromStepAndScale(1, 30)->lastFrame(), std::numeric_limits<int32_t>::max());
}

TEST(FrameRanges, CountBothEnds) {
  EXPECT_EQ((FrameRange{5, 5}).size(), 1);
  EXPECT_EQ((FrameRange{990, 1000}).size(), 11);
  EXPECT_EQ((FrameRange{0, kMaxTime}).size(), kMaxTime + 1);
}

}  // namespace
}  // namespace tilvane_tool
