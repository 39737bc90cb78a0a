// What a job that stopped short says about its frames: which are on disk,
// holes included, in ranges.
#include "tools/tilvane/output/frames_written.h"

#include <gtest/gtest.h>

namespace tilvane_tool {
namespace {

TEST(FramesWritten, NamesTheFramesOnDiskAndTheHolesInRanges) {
  FramesWritten ten(0, 10);
  EXPECT_EQ(ten.describe(), "no frame is on disk");
  for (size_t job : {0, 1, 2, 3, 5}) ten.mark(job);
  EXPECT_EQ(ten.describe(), "frames 0-3 and 5 are on disk, 4 and 6-9 are not");

  FramesWritten three(20, 3);
  three.mark(0);
  EXPECT_EQ(three.describe(), "frame 20 is on disk, 21-22 are not");
  three.mark(2);
  EXPECT_EQ(three.describe(), "frames 20 and 22 are on disk, 21 is not");
  three.mark(1);
  EXPECT_EQ(three.describe(), "frames 20-22 are on disk");
}

// A range of any length: the frames around a block's edge, and the long
// stretches never reached, are told in runs.
TEST(FramesWritten, KeepsTheFramesOfAHugeRangeInRuns) {
  FramesWritten huge(1000, 100000000);
  for (size_t job : {0, 65535, 65536, 131072}) huge.mark(job);
  EXPECT_EQ(huge.describe(),
            "frames 1000, 66535-66536 and 132072 are on disk, 1001-66534, 66537-132071 and "
            "132073-100000999 are not");
}

// While the job runs, a frame being written may have landed; once it has
// stopped, a frame still marked so failed.
TEST(FramesWritten, AFrameBeingWrittenMayBeOnDiskUntilTheJobStops) {
  FramesWritten four(0, 4);
  four.mark(0);
  four.writing(1);
  char text[128];
  four.describe(text, sizeof text, true);
  EXPECT_STREQ(text, "frame 0 is on disk, 1 may be, 2-3 are not");
  EXPECT_EQ(four.describe(), "frame 0 is on disk, 1-3 are not");
}

// In a signal handler the text goes into a fixed buffer, cut short if need be.
TEST(FramesWritten, FitsTheBufferItIsGiven) {
  FramesWritten many(0, 100);
  for (size_t job = 0; job < 100; job += 2) many.mark(job);
  char text[32];
  const size_t n = many.describe(text, sizeof text, false);
  EXPECT_EQ(n, sizeof text - 1);
  EXPECT_EQ(std::string(text), many.describe().substr(0, n));
}

}  // namespace
}  // namespace tilvane_tool
