// A farm job's frames in chunks: every frame in exactly one task, files
// numbered as one render of the whole range names them, and missing frames
// back to the tasks that hold them.
#include "tools/tilvane/farm/chunks.h"

#include <gtest/gtest.h>

#include "tools/tilvane/farm/job_folder.h"

namespace tilvane_tool {
namespace {

using Range = FrameRange;

TEST(FarmChunks, EveryFrameFallsInOneChunkAndTheLastTakesTheRest) {
  const Chunks chunks{.frames = {5, 34}, .size = 7, .firstNumber = 5};
  ASSERT_EQ(chunks.count(), 5u);
  EXPECT_EQ(chunks.range(0), (Range{5, 11}));
  EXPECT_EQ(chunks.range(3), (Range{26, 32}));
  EXPECT_EQ(chunks.range(4), (Range{33, 34}));
  for (int64_t f = chunks.frames.first; f <= chunks.frames.last; ++f) {
    const auto [a, b] = chunks.range(chunks.of(f));
    EXPECT_TRUE(a <= f && f <= b) << f;
  }
  // A range the chunk divides leaves no empty task; one frame makes one task.
  EXPECT_EQ((Chunks{.frames = {0, 27}, .size = 7}.count()), 4u);
  EXPECT_EQ((Chunks{.frames = {9, 9}, .size = 20}.count()), 1u);
  EXPECT_EQ((Chunks{.frames = {9, 9}, .size = 20}.range(0)), (Range{9, 9}));
}

TEST(FarmChunks, FilesAreNumberedAsOneRenderOfTheRange) {
  // --start-number 100 on frames 40-69: frame 47's file is 107, whichever task renders it.
  const Chunks chunks{.frames = {40, 69}, .size = 7, .firstNumber = 100};
  EXPECT_EQ(chunks.number(40), 100);
  EXPECT_EQ(chunks.number(47), 107);
  EXPECT_EQ(chunks.number(69), 129);
}

TEST(FarmChunks, TheDefaultChunkIsTwentyUnlessThatMakesTooManyTasks) {
  EXPECT_EQ(DefaultChunkSize(30), 20);
  EXPECT_EQ(DefaultChunkSize(20'000), 20);
  EXPECT_EQ(DefaultChunkSize(20'001), 21);  // 953 tasks, not 1001
  EXPECT_LE(static_cast<int64_t>(
                (Chunks{.frames = {0, 99'999}, .size = DefaultChunkSize(100'000)}.count())),
            1000);
}

TEST(FarmChunks, MissingFramesGoBackToTheirChunksAndReadAsRanges) {
  const Chunks chunks{.frames = {0, 29}, .size = 7};
  const std::vector<int64_t> missing = {3, 4, 5, 12, 27, 28};
  EXPECT_EQ(Runs(missing), (std::vector<std::pair<int64_t, int64_t>>{{3, 5}, {12, 12}, {27, 28}}));
  EXPECT_EQ(ChunksHolding(chunks, missing), (std::vector<size_t>{0, 1, 3, 4}));
  // The job's own first and last frames go back to the first and last chunks;
  // frames outside the job to none.
  EXPECT_EQ(ChunksHolding(chunks, {0, 29}), (std::vector<size_t>{0, 4}));
  EXPECT_TRUE(ChunksHolding(chunks, {-1, 30}).empty());
  EXPECT_EQ(ArrayIndices({0, 1, 3, 4}), "0-1,3-4");
  EXPECT_EQ(ArrayIndices({2}), "2");
  EXPECT_TRUE(Runs({}).empty());
}

TEST(FarmJobFolder, TaskCommandsArePlainAndQuoted) {
  FarmJob job;
  job.dir = "/shared/shot 1/out.farm";
  job.tool = "/usr/bin/tilvane";
  job.plugin = "/usr/lib/tilvane/Tilvane.so";
  job.chunks = {.frames = {0, 29}, .size = 7};
  job.threadsPerFrame = 2;
  EXPECT_EQ(job.taskCommand(4),
            "env TILVANE_THREADS=2 '/usr/bin/tilvane' --plugin '/usr/lib/tilvane/Tilvane.so' "
            "farm task '/shared/shot 1/out.farm' --frames 28-29");
  EXPECT_EQ(ShellQuoted("it's"), "'it'\\''s'");
  EXPECT_EQ(DefaultJobDir("/shared/out.####.png"), "/shared/out.farm");
  EXPECT_EQ(DefaultJobDir("/shared/plate_%04d.exr"), "/shared/plate.farm");
  EXPECT_EQ(DefaultJobDir("/shared/out.mov"), "/shared/out.mov.farm");
}

}  // namespace
}  // namespace tilvane_tool
