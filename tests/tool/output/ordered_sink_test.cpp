// The one sink of a movie or a stream: frames handed in by many threads in
// any order reach the writer in job order, at most a window of them waiting,
// and what the writer meets reaches the render.
#include "tools/tilvane/output/ordered_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tilvane_tool {
namespace {

// Job i's frame is i + 1 pixels wide: the writer tells the frames apart.
standin::World Frame(size_t index) { return standin::World(static_cast<int32_t>(index) + 1, 1, 8); }

struct Log {
  std::mutex mutex;
  std::vector<int32_t> written;  // the widths, as written
  bool finished = false;
  int failAt = -1;  // the write that throws
};

class LoggingWriter : public FrameWriter {
 public:
  LoggingWriter(Log& log, bool onDisk) : log_(log), onDisk_(onDisk) {}
  std::string describe() const override { return "log"; }
  void write(const standin::World& frame) override {
    std::lock_guard lock(log_.mutex);
    if (static_cast<int>(log_.written.size()) == log_.failAt) throw std::runtime_error("disk full");
    log_.written.push_back(frame.width());
  }
  void finish() override {
    std::lock_guard lock(log_.mutex);
    log_.finished = true;
  }
  bool onDisk() const override { return onDisk_; }

 private:
  Log& log_;
  bool onDisk_;
};

TEST(OrderedSinks, FramesFromManyThreadsAreWrittenInJobOrderThenFinished) {
  constexpr size_t kFrames = 200;
  Log log;
  OrderedSink sink(std::make_unique<LoggingWriter>(log, true), kFrames, 3);
  EXPECT_TRUE(sink.onDisk());
  // Jobs are taken in order but handed in in any order, as the render's threads do.
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (size_t i; (i = next++) < kFrames;) {
        if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        sink.put(i, Frame(i));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(log.finished) << "finished before finish()";
  sink.finish();
  ASSERT_EQ(log.written.size(), kFrames);
  for (size_t i = 0; i < kFrames; ++i) EXPECT_EQ(log.written[i], static_cast<int32_t>(i) + 1);
  EXPECT_TRUE(log.finished);
}

// A frame beyond the window waits for the writer; abort wakes it.
TEST(OrderedSinks, AFrameBeyondTheWindowWaitsUntilAbortWakesIt) {
  Log log;
  OrderedSink sink(std::make_unique<LoggingWriter>(log, false), 10, 2);
  EXPECT_FALSE(sink.onDisk()) << "a stream's frames are not on disk";
  // Job 0 never comes: 1 fits the window (0 and 1), 2 does not.
  sink.put(1, Frame(1));
  std::atomic<bool> returned{false};
  std::thread late([&] {
    sink.put(2, Frame(2));
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned) << "held more than the window";
  sink.abort();
  late.join();
  EXPECT_TRUE(log.written.empty());
}

TEST(OrderedSinks, WhatTheWriterThrowsReachesTheNextPutAndFinish) {
  Log log;
  log.failAt = 2;
  OrderedSink sink(std::make_unique<LoggingWriter>(log, true), 10, 2);
  for (size_t i = 0; i < 3; ++i) sink.put(i, Frame(i));
  EXPECT_THROW(
      {
        // The writer fails at job 2; a put at the window's edge waits for it.
        for (size_t i = 3; i < 10; ++i) sink.put(i, Frame(i));
      },
      std::runtime_error);
  EXPECT_THROW(sink.finish(), std::runtime_error);
  EXPECT_EQ(log.written, (std::vector<int32_t>{1, 2}));
  EXPECT_FALSE(log.finished) << "a failed movie is not completed";
}

}  // namespace
}  // namespace tilvane_tool
