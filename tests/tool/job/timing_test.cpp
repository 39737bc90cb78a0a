// A render's time resolved from the options and the layers: the rate and the
// host's step and scale, the range a layer covers at the output's rate,
// rounded as the host shows pictures, and the limits of the host's time,
// refused naming what gave the frame or the duration.
#include "tools/tilvane/job/timing.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/tool/input/timed_layer.h"
#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {

void PrintTo(const FrameRange& r, std::ostream* os) { *os << r.first << "-" << r.last; }

namespace {

using tilvane_test::TimedLayer;

// The message of the UsageError f throws; "" when it throws none.
template <typename F>
std::string Refusal(F f) {
  try {
    f();
  } catch (const UsageError& e) {
    return e.what();
  }
  return "";
}

// Matroska keeps times in milliseconds: 30 fps pictures start at 0, 33 and
// 67 ms, the second ending at 66.67 ms stored as 67. At 30 fps that end is
// 2.01 frames: without half a tick of slack the span would take a third frame.
TEST(LayerSpans, AMovieEndsHalfATickBeforeItsRoundedEnd) {
  const auto twoPictures = TimedLayer::Movie({{0, 33}, 67, 1, 1000, {30, 1}});
  EXPECT_EQ(LayerSpan(*twoPictures, {30, 1}, std::nullopt), (FrameRange{0, 1}));
  // Exact ends take every frame they reach: 2 s of 90 kHz ticks at 25 fps.
  const auto exact = TimedLayer::Movie({{0, 3600}, 180000, 1, 90000, {25, 1}});
  EXPECT_EQ(LayerSpan(*exact, {25, 1}, std::nullopt), (FrameRange{0, 49}));
  // 2 s at 24000/1001 is 47.95 frames: frame 47 starts before the end.
  EXPECT_EQ(LayerSpan(*exact, {24000, 1001}, std::nullopt), (FrameRange{0, 47}));
  // A movie that ends at its start still covers frame 0.
  const auto empty = TimedLayer::Movie({{0}, 0, 1, 1000, {30, 1}});
  EXPECT_EQ(LayerSpan(*empty, {30, 1}, std::nullopt), (FrameRange{0, 0}));
}

// Output frame f shows the plate's frame floor(f × own / output): the span is
// the output frames whose time falls within the plate's numbers.
TEST(LayerSpans, APlateCoversTheFramesWhoseTimeFallsWithinItsNumbers) {
  const auto plate = TimedLayer::Plate("--displacement", 1001, 1004);
  EXPECT_EQ(LayerSpan(*plate, {24, 1}, std::nullopt), (FrameRange{1001, 1004}));
  // At 12 in a 24 fps render each file shows twice.
  EXPECT_EQ(LayerSpan(*plate, {24, 1}, Rate{12, 1}), (FrameRange{2002, 2009}));
  // At 25 in 30: file 1 is reached at 1.2 frames, so from frame 2; 5 at 6.
  const auto short_ = TimedLayer::Plate("--displacement", 1, 4);
  EXPECT_EQ(LayerSpan(*short_, {30, 1}, Rate{25, 1}), (FrameRange{2, 5}));
  // At 24 in 24000/1001: file 1001 at 1000.0 frames, 1005 at 1003.996.
  EXPECT_EQ(LayerSpan(*plate, {24000, 1001}, Rate{24, 1}), (FrameRange{1000, 1003}));
}

TEST(Timings, WithNothingGivenThirtyFramesASecondAndThreeHundredFrames) {
  const Timing t = ResolveTiming({}, nullptr, nullptr);
  EXPECT_EQ(t.base, TimeBase());
  EXPECT_EQ(t.frames, (FrameRange{0, 0}));
  EXPECT_EQ(t.duration, 300);
  EXPECT_EQ(t.totalTime(), 300);
  EXPECT_EQ(t.describe(),
            "frame 0 at 30 fps (rate: the default; range: one frame: the output is "
            "one image)");
}

TEST(Timings, TheRateGivesTheStepAndScaleAndTheStepTheTotalTime) {
  TimeRequest request;
  request.rate = Rate{24000, 1001};
  request.duration = 48;
  const Timing ntsc = ResolveTiming(request, nullptr, nullptr);
  EXPECT_EQ(ntsc.base.step(), 1001);
  EXPECT_EQ(ntsc.base.scale(), 24000u);
  EXPECT_EQ(ntsc.totalTime(), 48 * 1001);

  TimeRequest units;
  units.stepAndScale = TimeBase::FromStepAndScale(2, 60);
  const Timing t = ResolveTiming(units, nullptr, nullptr);
  EXPECT_EQ(t.base.step(), 2);
  EXPECT_EQ(t.rate(), (Rate{30, 1}));
  EXPECT_EQ(t.totalTime(), 600);
  EXPECT_EQ(t.rateFrom, "--time-scale / --time-step");
}

TEST(Timings, TheLayersGiveTheRateTheRangeAndTheDuration) {
  const auto clip = TimedLayer::Movie({{0, 3600}, 180000, 1, 90000, {25, 1}});
  const auto plate = TimedLayer::Plate("--icon", 1001, 1004);
  TimeRequest request;
  request.manyFrames = true;
  const Timing t = ResolveTiming(request, plate.get(), clip.get());
  EXPECT_EQ(t.rate(), (Rate{25, 1}));
  EXPECT_EQ(t.rateFrom, "--displacement 'clip.mov'");
  // The longer of the two: the plate's 1001-1004 spans 4 frames, the clip 50.
  EXPECT_EQ(t.frames, (FrameRange{0, 49}));
  // One frame past the icon's end.
  EXPECT_EQ(t.duration, 1006);
  EXPECT_EQ(t.durationFrom, "the length of --icon 'plate.####.png'");
}

// Two layers equally long: the displacement gives the range, as it gives the rate.
TEST(Timings, OfTwoLayersEquallyLongTheDisplacementGivesTheRange) {
  const auto displacement = TimedLayer::Plate("--displacement", 1, 4);
  const auto icon = TimedLayer::Plate("--icon", 11, 14);
  TimeRequest request;
  request.manyFrames = true;
  const Timing t = ResolveTiming(request, icon.get(), displacement.get());
  EXPECT_EQ(t.frames, (FrameRange{1, 4}));
  EXPECT_EQ(t.rangeFrom, "the length of --displacement 'plate.####.png'");
}

// At 24000/1001 the host's time holds frames 0 to 2145338.
TEST(Timings, FramesAndDurationsBeyondTheHostsTimeAreRefusedNamingTheirSource) {
  TimeRequest request;
  request.rate = Rate{24000, 1001};
  request.frames = FrameRange{2145338, 2145338};
  EXPECT_EQ(ResolveTiming(request, nullptr, nullptr).frames.last, 2145338);
  request.frames = FrameRange{10, 2145339};
  request.range = true;
  EXPECT_NE(Refusal([&] { ResolveTiming(request, nullptr, nullptr); })
                .find("--frames '10-2145339' is not valid; give a range A-B of frames with A <= "
                      "B, each from 0 to 2145338 at 24000/1001"),
            std::string::npos);

  request.frames = FrameRange{0, 0};
  request.duration = 2145339;
  EXPECT_NE(Refusal([&] {
              ResolveTiming(request, nullptr, nullptr);
            }).find("--duration '2145339' is not valid"),
            std::string::npos);

  // No --duration given: an icon numbered past the limit is named, not --duration.
  request.duration.reset();
  const auto late = TimedLayer::Plate("--icon", 2145000, 2145400);
  const std::string message = Refusal([&] { ResolveTiming(request, late.get(), nullptr); });
  EXPECT_NE(message.find("--icon 'plate.####.png' runs to frame 2145400"), std::string::npos)
      << message;
  EXPECT_NE(message.find("give --duration"), std::string::npos) << message;
  EXPECT_EQ(message.find("--duration '"), std::string::npos) << message;
  request.duration = 10;
  EXPECT_EQ(ResolveTiming(request, late.get(), nullptr).duration, 10);

  // The last frame that fits is a duration that fits, given or from the icon:
  // 2145338 x 1001 = 2147483338 units, within the host's 32 bits.
  request.duration = 2145338;
  EXPECT_EQ(ResolveTiming(request, nullptr, nullptr).totalTime(), 2147483338);
  request.duration.reset();
  const auto lastFits = TimedLayer::Plate("--icon", 2145000, 2145336);
  EXPECT_EQ(ResolveTiming(request, lastFits.get(), nullptr).totalTime(), 2147483338);

  // A range the layers give stops at the limit, and one that starts past it is refused.
  request.frames.reset();
  request.manyFrames = true;
  EXPECT_EQ(ResolveTiming(request, nullptr, late.get()).frames, (FrameRange{2145000, 2145338}));
  const auto later = TimedLayer::Plate("--displacement", 3000000, 3000001);
  EXPECT_NE(Refusal([&] {
              ResolveTiming(request, nullptr, later.get());
            }).find("--displacement 'plate.####.png' starts at frame 3000000"),
            std::string::npos);
}

}  // namespace
}  // namespace tilvane_tool
