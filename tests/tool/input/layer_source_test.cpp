// Which picture a layer shows at a host time: a movie's by its presentation
// times, a sequence's by its frame numbers, and reading in order never seeks.
#include "tools/tilvane/input/layer_source.h"

#include <gtest/gtest.h>

#include "tests/tool/input/timed_layer.h"
#include "tests/tool/tool_support.h"

namespace tilvane_tool {
namespace {

using tilvane_test::ToolTest;

class PictureTimes : public ToolTest {
 protected:
  std::shared_ptr<Layer> movie(const std::string& name, const std::string& rate,
                               const std::string& seconds) const {
    EXPECT_EQ(shell("ffmpeg -v error -y -f lavfi -i testsrc=s=32x24:r=" + rate + ":d=" + seconds +
                    " -pix_fmt yuv420p -g 12 " + name),
              0);
    return Layer::Open("--icon", path(name));
  }
  // The picture shown at composition frame f of a render at scale / step.
  static int64_t At(const Layer& layer, int64_t f, int32_t step, uint32_t scale,
                    bool loop = false) {
    return LayerPictureAt(layer, static_cast<int32_t>(f * step), step, scale, std::nullopt, loop);
  }
};

// Worked by hand: at 30 fps, frame f is at f/30 s, so a 25 fps movie shows
// picture floor(f × 25 / 30), repeating one in six as the host does; a
// 24000/1001 movie in a 30000/1001 render floor(f × 4 / 5).
TEST_F(PictureTimes, AMovieShowsItsLastPictureStartedByThatTime) {
  const auto at25 = movie("d25.mp4", "25", "2");
  const auto at23 = movie("d23.mov", "24000/1001", "1");
  for (int64_t f = 0; f < 60; ++f) {
    EXPECT_EQ(At(*at25, f, 1, 30), f * 25 / 30) << f;
    EXPECT_EQ(At(*at23, f, 1001, 30000), std::min<int64_t>(f * 4 / 5, 23)) << f;
  }
  EXPECT_EQ(At(*at25, -3, 1, 30), 0);         // before the start: the first picture
  EXPECT_EQ(At(*at25, 75, 1, 30), 49);        // past the end: the last
  EXPECT_EQ(At(*at25, 75, 1, 30, true), 12);  // looped: 2.5 s into a 2 s movie
}

// Matroska keeps times in milliseconds: 30 fps pictures start at 0, 33, 67,
// 100 ms. Frame 2 of a 30 fps render (66.67 ms) still shows picture 2.
TEST_F(PictureTimes, TimesRoundedByTheContainerKeepThePictureOfTheirFrame) {
  const auto layer = movie("ms.mkv", "30", "2");
  for (int64_t f = 0; f < 60; ++f) EXPECT_EQ(At(*layer, f, 1, 30), f) << f;
}

// A sequence's file N is its frame N, held before its first and after its
// last; at a rate of its own, 12 fps in a 24 fps render, each file shows twice.
TEST_F(PictureTimes, ASequenceShowsTheFileNumberedWithTheFrame) {
  for (int n = 1001; n <= 1004; ++n) {
    writeUniform("plate." + std::to_string(n) + ".png", 2, 2, 8, {n - 1000, 0, 0, 255});
  }
  const auto plate = Layer::Open("--icon", path("plate.####.png"));
  EXPECT_EQ(At(*plate, 0, 1, 30), 0);
  EXPECT_EQ(At(*plate, 1001, 1, 30), 0);
  EXPECT_EQ(At(*plate, 1003, 1, 30), 2);
  EXPECT_EQ(At(*plate, 1010, 1, 30), 3);
  EXPECT_EQ(At(*plate, 1005, 1, 30, true), 0);
  const auto twelve = [&](int64_t f) {
    return LayerPictureAt(*plate, static_cast<int32_t>(f), 1, 24, Rate{12, 1}, false);
  };
  EXPECT_EQ(twelve(2003), 0);
  EXPECT_EQ(twelve(2004), 1);
  EXPECT_EQ(twelve(2005), 1);
}

// Pictures wanted in order, as a sequential render wants them (a 25 fps
// movie at 30 fps repeats some), are decoded forward without a seek.
TEST_F(PictureTimes, ASequentialRenderAddsNoSeeks) {
  const auto layer = movie("d25.mp4", "25", "2");
  const auto failures = std::make_shared<FailureSlot>();
  const standin::FrameSourcePtr source = LayerSource(layer, failures);
  ASSERT_TRUE(source->frameAt({0, 1, 30, 8}));
  const int64_t opened = layer->seeks();
  for (int32_t f = 1; f < 60; ++f) ASSERT_TRUE(source->frameAt({f, 1, 30, 8})) << f;
  EXPECT_EQ(layer->seeks(), opened);
  EXPECT_FALSE(failures->first());
}

// A host time scale of 0 has no seconds to count a layer's own frames in: the
// first picture shows, rather than a division by zero.
TEST(DegenerateTimes, AnIconRateAtAHostScaleOfZeroShowsTheFirstPicture) {
  const auto plate = tilvane_test::TimedLayer::Plate("--icon", 1, 4);
  EXPECT_EQ(LayerPictureAt(*plate, 5, 1, 0, Rate{12, 1}, false), 0);
  EXPECT_EQ(LayerPictureAt(*plate, 5, 1, 0, std::nullopt, true), 0);
  const auto clip = tilvane_test::TimedLayer::Movie({{0, 33}, 67, 1, 1000, {30, 1}});
  EXPECT_EQ(LayerPictureAt(*clip, 5, 1, 0, std::nullopt, true), 0);
}

// A movie that ends where it starts has no length to loop over: it shows as
// it would unlooped.
TEST(DegenerateTimes, ALoopedMovieThatEndsAtItsStartShowsAsUnlooped) {
  const auto clip = tilvane_test::TimedLayer::Movie({{0}, 0, 1, 1000, {30, 1}});
  for (const int32_t time : {-5, 0, 5, 100000}) {
    EXPECT_EQ(LayerPictureAt(*clip, time, 1, 30, std::nullopt, true), 0) << time;
  }
}

}  // namespace
}  // namespace tilvane_tool
