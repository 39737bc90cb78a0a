#include "tools/tilvane/output/frames_written.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tilvane_tool {
namespace {

// Appends text to a fixed buffer, dropping what does not fit.
struct Appender {
  char* out;
  size_t size;
  size_t length = 0;

  void text(const char* s) {
    for (; *s != '\0' && length + 1 < size; ++s) out[length++] = *s;
    if (size > 0) out[length] = '\0';
  }
  void number(int64_t n) {
    char digits[24];
    int i = sizeof digits - 1;
    digits[i] = '\0';
    const bool negative = n < 0;
    uint64_t v = negative ? uint64_t(0) - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    do {
      digits[--i] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    if (negative) digits[--i] = '-';
    text(digits + i);
  }
};

}  // namespace

FramesWritten::FramesWritten(int64_t first, size_t count)
    : first_(first),
      count_(count),
      blocks_(std::make_unique<std::atomic<std::atomic<uint8_t>*>[]>(count / kBlock + 1)) {}

FramesWritten::~FramesWritten() {
  for (size_t b = 0; b <= count_ / kBlock; ++b) delete[] blocks_[b].load();
}

std::atomic<uint8_t>& FramesWritten::slot(size_t job) {
  std::atomic<std::atomic<uint8_t>*>& block = blocks_[job / kBlock];
  if (!block.load(std::memory_order_acquire)) {
    std::lock_guard lock(grow_);
    if (!block.load(std::memory_order_relaxed)) {
      block.store(new std::atomic<uint8_t>[kBlock](), std::memory_order_release);
    }
  }
  return block.load(std::memory_order_acquire)[job % kBlock];
}

uint8_t FramesWritten::stateOf(size_t job) const {
  const std::atomic<uint8_t>* block = blocks_[job / kBlock].load(std::memory_order_acquire);
  return block ? block[job % kBlock].load(std::memory_order_acquire) : uint8_t{kNot};
}

void FramesWritten::writing(size_t job) { slot(job).store(kWriting, std::memory_order_release); }
void FramesWritten::mark(size_t job) { slot(job).store(kOnDisk, std::memory_order_release); }

size_t FramesWritten::describe(char* out, size_t size, bool running) const {
  const auto stateAt = [&](size_t i) {
    const uint8_t s = stateOf(i);
    return s == kWriting && !running ? uint8_t{kNot} : s;
  };
  // The next job at or after i whose state may differ from the one before:
  // a block never written holds no frame but missing ones.
  const auto next = [&](size_t i) {
    if (i % kBlock == 0 && !blocks_[i / kBlock].load(std::memory_order_acquire)) {
      return std::min(count_, i + kBlock);
    }
    return i + 1;
  };
  // Runs of jobs in one state, their frame numbers following one another.
  const auto runs = [&](uint8_t state, auto each) {
    size_t count = 0;
    int64_t frames = 0;
    for (size_t i = 0; i < count_;) {
      if (stateAt(i) != state) {
        i = next(i);
        continue;
      }
      size_t j = i;
      while (j + 1 < count_ && stateAt(j + 1) == state) j = state == kNot ? next(j + 1) - 1 : j + 1;
      j = std::min(j, count_ - 1);
      each(count++, first_ + static_cast<int64_t>(i), first_ + static_cast<int64_t>(j));
      frames += static_cast<int64_t>(j - i + 1);
      i = j + 1;
    }
    return std::pair{count, frames};
  };
  Appender a{out, size};
  const auto list = [&](uint8_t state) {
    const size_t total = runs(state, [](size_t, int64_t, int64_t) {}).first;
    runs(state, [&](size_t k, int64_t first, int64_t last) {
      if (k > 0) a.text(k + 1 == total ? " and " : ", ");
      a.number(first);
      if (last != first) {
        a.text("-");
        a.number(last);
      }
    });
  };
  const int64_t onDisk = runs(kOnDisk, [](size_t, int64_t, int64_t) {}).second;
  const int64_t inFlight = runs(kWriting, [](size_t, int64_t, int64_t) {}).second;
  const int64_t missing = runs(kNot, [](size_t, int64_t, int64_t) {}).second;
  if (onDisk == 0) {
    a.text("no frame is on disk");
  } else {
    a.text(onDisk == 1 ? "frame " : "frames ");
    list(kOnDisk);
    a.text(onDisk == 1 ? " is on disk" : " are on disk");
  }
  if (inFlight > 0) {
    a.text(", ");
    list(kWriting);
    a.text(" may be");
  }
  if (missing > 0 && onDisk + inFlight > 0) {
    a.text(", ");
    list(kNot);
    a.text(missing == 1 ? " is not" : " are not");
  }
  return a.length;
}

std::string FramesWritten::describe() const {
  std::string text(4096, '\0');
  text.resize(describe(text.data(), text.size(), false));
  return text;
}

namespace {

std::atomic<bool> gReporting{false};
std::atomic<const FramesWritten*> gFrames{nullptr};  // null: the frames went to a stream
constexpr int kSignals[] = {SIGINT, SIGTERM};
struct sigaction gBefore[2];

void OnInterrupt(int sig) {
  const int saved = errno;
  if (gReporting.load(std::memory_order_acquire)) {
    char text[2048];
    Appender a{text, sizeof text};
    // The bar and the terminal's "^C" go; the message takes their line.
    if (isatty(2)) a.text("\r\033[K");
    a.text("tilvane: interrupted; ");
    if (const FramesWritten* frames = gFrames.load(std::memory_order_acquire)) {
      a.length += frames->describe(text + a.length, sizeof text - a.length, true);
    } else {
      a.text("the stream on standard output ends short");
    }
    a.text("\n");
    for (size_t at = 0; at < a.length;) {
      const ssize_t n = write(2, text + at, a.length - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
  }
  errno = saved;
  const size_t slot = sig == SIGINT ? 0 : 1;
  const struct sigaction& before = gBefore[slot];
  if ((before.sa_flags & SA_SIGINFO) == 0 && before.sa_handler != SIG_DFL &&
      before.sa_handler != SIG_IGN) {
    before.sa_handler(sig);
    return;
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

InterruptReport::InterruptReport(const FramesWritten* frames) {
  gFrames.store(frames, std::memory_order_release);
  gReporting.store(true, std::memory_order_release);
  for (size_t i = 0; i < 2; ++i) {
    struct sigaction now {};
    now.sa_handler = OnInterrupt;
    sigemptyset(&now.sa_mask);
    sigaction(kSignals[i], nullptr, &gBefore[i]);
    if ((gBefore[i].sa_flags & SA_SIGINFO) == 0 && gBefore[i].sa_handler == SIG_IGN) continue;
    sigaction(kSignals[i], &now, nullptr);
  }
}

InterruptReport::~InterruptReport() {
  for (size_t i = 0; i < 2; ++i) {
    if ((gBefore[i].sa_flags & SA_SIGINFO) == 0 && gBefore[i].sa_handler == SIG_IGN) continue;
    sigaction(kSignals[i], &gBefore[i], nullptr);
  }
  gReporting.store(false, std::memory_order_release);
  gFrames.store(nullptr, std::memory_order_release);
}

}  // namespace tilvane_tool
