// The progress line: it fits the terminal, says how long is left, and shows
// 100% only once every frame is on disk.
#include "tools/tilvane/job/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

namespace tilvane_tool {
namespace {

ProgressState Busy() {
  ProgressState s;
  s.frames = 120;
  s.done = 30;
  s.inFlight = 0.5;
  s.seconds = 61;
  s.frame = 30;
  s.row = 12;
  s.rows = 40;
  return s;
}

bool Has(const std::string& line, const std::string& part) {
  return line.find(part) != std::string::npos;
}

TEST(ProgressLine, FitsEveryTerminalWidthDroppingTheDetailFirst) {
  for (int columns = 1; columns <= 200; ++columns) {
    const std::string line = ProgressLine(Busy(), columns);
    EXPECT_LT(static_cast<int>(line.size()), std::max(columns, 2)) << columns << ": " << line;
  }
  // 30.5 of 120 frames in 61 s: 89.5 more take 179 s.
  EXPECT_EQ(ProgressLine(Busy(), 200),
            "[##########..............................]  25%  frames 30/120  ETA 2:59  "
            "frame 30: rows 12/40");
  EXPECT_EQ(ProgressLine(Busy(), 50), "[####.............]  25%  frames 30/120  ETA 2:59");
  EXPECT_EQ(ProgressLine(Busy(), 33), "[##........]  25%  frames 30/120");
  EXPECT_EQ(ProgressLine(Busy(), 30), " 25%  frames 30/120");
  EXPECT_EQ(ProgressLine(Busy(), 10), " 25%  fra");
}

TEST(ProgressLine, ReachesAHundredOnlyWhenTheLastFrameIsWritten) {
  ProgressState s;
  s.frames = 3;
  s.done = 2;
  s.inFlight = 1.0;  // the last frame rendered, not yet on disk
  s.seconds = 5;
  const std::string writing = ProgressLine(s, 80);
  EXPECT_TRUE(Has(writing, " 99%  frames 2/3")) << writing;
  EXPECT_TRUE(Has(writing, ".]")) << writing;
  s.done = 3;
  s.inFlight = 0;
  const std::string done = ProgressLine(s, 80);
  EXPECT_TRUE(Has(done, "100%  frames 3/3")) << done;
  EXPECT_FALSE(Has(done, ".")) << done;
  EXPECT_FALSE(Has(done, "ETA")) << done;
}

TEST(ProgressLine, TheTimeLeftFollowsTheRateSoFar) {
  ProgressState s;
  s.frames = 100;
  s.done = 1;
  s.seconds = 100;  // one frame in 100 s: 99 more take 2 h 45 min
  EXPECT_TRUE(Has(ProgressLine(s, 80), "ETA 2:45:00")) << ProgressLine(s, 80);
  s.seconds = 0.5;  // too early to tell
  EXPECT_FALSE(Has(ProgressLine(s, 80), "ETA"));
  s.done = 0;
  s.seconds = 10;  // nothing done yet: no rate
  EXPECT_FALSE(Has(ProgressLine(s, 80), "ETA"));
}

// In a log, a line says how far the job is, how fast it goes and when it ends.
TEST(ProgressLine, PlainLinesForALogSayFrameRateAndTimeLeft) {
  ProgressState s;
  s.frames = 10;
  s.done = 3;
  s.seconds = 6;  // 3 frames in 6 s: 7 more take 14 s
  EXPECT_EQ(PlainProgressLine(s), "tilvane: frame 3 of 10, 0.50 frames per second, ETA 0:14");
  s.done = 10;
  s.seconds = 20;
  EXPECT_EQ(PlainProgressLine(s), "tilvane: frame 10 of 10, 0.50 frames per second");
}

// The effect reports row r (from 0) of n finished: r + 1 rows are done.
TEST(ProgressBar, AFrameInFlightCountsTheRowsFinished) {
  ProgressBar bar(4, 2, ProgressStyle::Off);
  bar.frameStarted(0, 7);
  bar.frameStarted(1, 8);
  bar.rows(0, 0, 100);  // the effect's opening report
  EXPECT_EQ(bar.state().inFlight, 0.0);
  bar.rows(0, 4, 10);
  bar.rows(1, 0, 4);
  const ProgressState s = bar.state();
  EXPECT_EQ(s.frame, 7);
  EXPECT_EQ(s.row, 5);
  EXPECT_EQ(s.rows, 10);
  EXPECT_DOUBLE_EQ(s.inFlight, 0.5 + 0.25);
  bar.rows(0, 9, 10);
  bar.frameDone(0);
  EXPECT_EQ(bar.state().done, 1);
  EXPECT_DOUBLE_EQ(bar.state().inFlight, 0.25);
}

// Lines come at most once an interval, and one at the end of a complete job;
// a job that stopped short leaves its last word to the error message.
TEST(ProgressBar, PlainLinesComeEachIntervalAndAtTheEnd) {
  const auto lines = [](std::chrono::steady_clock::duration interval, int framesDone) {
    testing::internal::CaptureStderr();
    {
      ProgressBar bar(2, 1, ProgressStyle::Lines, interval);
      for (int f = 0; f < framesDone; ++f) {
        bar.frameStarted(0, f);
        bar.rows(0, 0, 2);
        bar.frameDone(0);
      }
      bar.finish();
    }
    return testing::internal::GetCapturedStderr();
  };
  const std::string slow = lines(std::chrono::hours(1), 2);
  EXPECT_EQ(slow.rfind("tilvane: frame 2 of 2, ", 0), 0u) << slow;
  EXPECT_EQ(std::count(slow.begin(), slow.end(), '\n'), 1) << slow;
  const std::string busy = lines(std::chrono::steady_clock::duration::zero(), 2);
  EXPECT_EQ(std::count(busy.begin(), busy.end(), '\n'), 7) << busy;  // 6 events and the end
  EXPECT_EQ(lines(std::chrono::hours(1), 1), "");
}

}  // namespace
}  // namespace tilvane_tool
