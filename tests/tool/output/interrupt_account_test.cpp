// The account an interrupted render gives of its frames: every frame of the
// range in exactly one of the on-disk, may-be and not lists, however the
// render moves on while the account is read.
#include <gtest/gtest.h>

#include <cctype>
#include <deque>
#include <string>
#include <vector>

#include "tools/tilvane/output/frames_written.h"

namespace tilvane_tool {
namespace {

// A render in order with a few frames in flight, moved on one step each time
// the account reads a frame: a frame lands, or the next one starts.
struct RunningRender {
  FramesWritten& frames;
  size_t count;
  size_t inFlight;
  size_t next = 0;
  std::deque<size_t> writing = {};

  void runTo(size_t job) {
    while (next < job) step();
  }
  void step() {
    if (writing.size() >= inFlight || next == count) {
      if (writing.empty()) return;
      frames.mark(writing.front());
      writing.pop_front();
    } else {
      frames.writing(next);
      writing.push_back(next++);
    }
  }
  static void OnRead(void* self, size_t) { static_cast<RunningRender*>(self)->step(); }
};

// How many times the account names each frame of first..first + count - 1,
// and any frame it names outside them.
std::vector<int> TimesNamed(const std::string& account, int64_t first, size_t count) {
  std::vector<int> times(count, 0);
  // Each run is digits, or digits-digits; nothing else in the account is a digit.
  for (size_t at = 0; at < account.size();) {
    if (!std::isdigit(static_cast<unsigned char>(account[at]))) {
      ++at;
      continue;
    }
    size_t end = 0;
    const int64_t a = std::stoll(account.substr(at), &end);
    at += end;
    int64_t b = a;
    if (at + 1 < account.size() && account[at] == '-' &&
        std::isdigit(static_cast<unsigned char>(account[at + 1]))) {
      b = std::stoll(account.substr(at + 1), &end);
      at += end + 1;
    }
    for (int64_t f = a; f <= b; ++f) {
      const bool inside = f >= first && f < first + static_cast<int64_t>(count);
      EXPECT_TRUE(inside) << f << " outside the range in: " << account;
      if (inside) ++times[static_cast<size_t>(f - first)];
    }
  }
  return times;
}

void ExpectEachFrameOnce(const std::string& account, int64_t first, size_t count) {
  if (account == "no frame is on disk") return;  // every one, said whole
  const std::vector<int> times = TimesNamed(account, first, count);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(times[i], 1) << "frame " << first + static_cast<int64_t>(i) << " in: " << account;
  }
}

TEST(InterruptAccount, NamesEveryFrameOnceWhereverTheRenderIsStopped) {
  constexpr int64_t kFirst = 1000;
  constexpr size_t kCount = 40;
  for (size_t inFlight : {1, 2, 4}) {
    for (size_t stop = 0; stop <= kCount; ++stop) {
      FramesWritten frames(kFirst, kCount);
      RunningRender render{frames, kCount, inFlight};
      render.runTo(stop);
      frames.setReadHook(RunningRender::OnRead, &render);
      char text[2048];
      frames.describe(text, sizeof text, true);
      SCOPED_TRACE("stopped at " + std::to_string(stop) + ", " + std::to_string(inFlight) +
                   " in flight");
      ExpectEachFrameOnce(text, kFirst, kCount);
      frames.setReadHook(nullptr, nullptr);
      ExpectEachFrameOnce(frames.describe(), kFirst, kCount);
    }
  }
}

// The long stretch never reached is read in blocks: a render crossing into a
// new block while it is read still leaves no frame out.
TEST(InterruptAccount, NamesEveryFrameOnceAcrossTheBlocksOfAHugeRange) {
  constexpr size_t kBlock = size_t{1} << 16;
  constexpr size_t kCount = 3 * kBlock;
  for (size_t stop : {kBlock - 3, kBlock - 1, kBlock, 2 * kBlock - 2}) {
    FramesWritten frames(0, kCount);
    RunningRender render{frames, kCount, 3};
    render.runTo(stop);
    frames.setReadHook(RunningRender::OnRead, &render);
    char text[2048];
    frames.describe(text, sizeof text, true);
    SCOPED_TRACE("stopped at " + std::to_string(stop));
    ExpectEachFrameOnce(text, 0, kCount);
  }
}

}  // namespace
}  // namespace tilvane_tool
