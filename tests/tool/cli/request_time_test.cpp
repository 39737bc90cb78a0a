// The time options as the request takes them: their form only, the limits of
// the host's time being the job's timing's to check once the rate is known.
#include <gtest/gtest.h>

#include "tests/tool/tool_support.h"
#include "tools/tilvane/cli/request.h"
#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {
namespace {

class RequestTimes : public tilvane_test::ToolTest {
 protected:
  RenderArgs args(const std::string& output) const {
    RenderArgs a;
    a.output = path(output);
    a.threads = "1";
    return a;
  }
};

TEST_F(RequestTimes, ARangeOfOneFrameIsARange) {
  RenderArgs a = args("o.####.png");
  a.frames = "5-5";
  const RenderRequest r = ParseRequest(a);
  EXPECT_EQ(r.time.frames, (FrameRange{5, 5}));
  EXPECT_TRUE(r.time.range);
  a.frames = "5-4";
  EXPECT_THROW(ParseRequest(a), UsageError);
}

// Frame 3000000 is past the host's time at 24000/1001 but not at 30: the
// request cannot know which, so it keeps it for the timing to judge.
TEST_F(RequestTimes, FramesAndDurationsAreCheckedForFormOnly) {
  RenderArgs a = args("o.####.png");
  a.rate = "24000/1001";
  a.frames = "3000000-3000001";
  a.duration = "3000000";
  const RenderRequest r = ParseRequest(a);
  EXPECT_EQ(r.time.frames, (FrameRange{3000000, 3000001}));
  EXPECT_EQ(r.time.duration, 3000000);
  EXPECT_EQ(r.time.rate, (Rate{24000, 1001}));
  a.frames = "0-2147483648";
  EXPECT_THROW(ParseRequest(a), UsageError);
  a.frames = "";
  a.duration = "0";
  EXPECT_THROW(ParseRequest(a), UsageError);
}

// Frame 0 and, at one unit a frame, frame 2147483647 are frames the host shows.
TEST_F(RequestTimes, TheFirstAndLastFramesTheHostHoldsAreTaken) {
  RenderArgs a = args("o.####.png");
  a.frame = "0";
  EXPECT_EQ(ParseRequest(a).time.frames, (FrameRange{0, 0}));
  a.frame = "";
  a.frames = "0-2147483647";
  EXPECT_EQ(ParseRequest(a).time.frames, (FrameRange{0, kMaxTime}));
  a.frames = "2147483647-2147483647";
  EXPECT_EQ(ParseRequest(a).time.frames, (FrameRange{kMaxTime, kMaxTime}));
}

TEST_F(RequestTimes, AStepAloneTakesThirtyFramesASecond) {
  RenderArgs a = args("o.png");
  a.timeStep = "2";
  EXPECT_EQ(ParseRequest(a).time.stepAndScale, TimeBase::FromStepAndScale(2, 60));
  a.timeStep = "";
  a.timeScale = "24000";
  EXPECT_EQ(ParseRequest(a).time.stepAndScale, TimeBase::FromStepAndScale(1, 24000));
}

}  // namespace
}  // namespace tilvane_tool
