// The movie reader itself: reading in order decodes forward, seeking only
// where it must.
#include "tools/tilvane/input/movie_reader.h"

#include "tests/tool/tool_support.h"

namespace tilvane_tool {
namespace {

class MovieReading : public tilvane_test::ToolTest {};

// Key frames every 10 frames: frames read in order need one seek, to the
// start; going back needs another.
TEST_F(MovieReading, FramesReadInOrderDecodeForward) {
  ASSERT_EQ(shell("ffmpeg -y -f lavfi -i testsrc=s=16x16:r=10:d=3 -g 10 -pix_fmt yuv420p m.mp4"),
            0);
  MovieReader movie("--icon", path("m.mp4"));
  ASSERT_EQ(movie.frameCount(), 30);
  for (int64_t i = 0; i < 30; ++i) {
    EXPECT_EQ(movie.read(i).width, 16) << i;
  }
  EXPECT_EQ(movie.seeks(), 1);
  movie.read(3);
  EXPECT_EQ(movie.seeks(), 2);
}

}  // namespace
}  // namespace tilvane_tool
