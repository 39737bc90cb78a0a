#include "tools/tilvane/output/frames_written.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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
  void chars(const char* s, size_t n) {
    for (size_t k = 0; k < n && s[k] != '\0'; ++k) {
      const char one[2] = {s[k], '\0'};
      text(one);
    }
  }
};

// One state's runs of frames as text, "0-3, 5 and 7", made without
// allocating; cut short if it does not fit.
struct RunList {
  char buffer[1024] = {};
  Appender text{buffer, sizeof buffer};
  size_t runs = 0;
  int64_t frames = 0;
  size_t lastComma = 0;  // where the last run's ", " went, to become " and "

  RunList() = default;
  RunList(const RunList&) = delete;
  RunList& operator=(const RunList&) = delete;

  void add(int64_t first, int64_t last) {
    if (runs++ > 0) {
      lastComma = text.length;
      text.text(", ");
    }
    text.number(first);
    if (last != first) {
      text.text("-");
      text.number(last);
    }
    frames += last - first + 1;
  }
  void into(Appender& out) const {
    if (runs < 2 || lastComma + 2 > text.length) {
      out.text(buffer);
      return;
    }
    out.chars(buffer, lastComma);
    out.text(" and ");
    out.text(buffer + lastComma + 2);
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
  // Each job's state is read once, in one pass: while the job runs, a frame
  // read as being written in one pass could be on disk by the next, and
  // belong to neither list.
  const auto read = [&](size_t job) {
    const uint8_t s = stateOf(job);
    if (readHook_) readHook_(readContext_, job);
    return s == kWriting && !running ? uint8_t{kNot} : s;
  };
  // The state of job i and the end of the jobs known to share it: a block
  // never written holds no frame but missing ones.
  struct Look {
    uint8_t state;
    size_t end;
  };
  const auto look = [&](size_t i) {
    if (i % kBlock == 0 && !blocks_[i / kBlock].load(std::memory_order_acquire)) {
      return Look{kNot, std::min(count_, i + kBlock)};
    }
    return Look{read(i), i + 1};
  };
  RunList lists[3];
  if (count_ > 0) {
    Look at = look(0);
    for (size_t i = 0; i < count_;) {
      size_t end = at.end;
      Look after{at.state, count_};
      while (end < count_) {
        after = look(end);
        if (after.state != at.state) break;
        end = after.end;
      }
      lists[at.state].add(first_ + static_cast<int64_t>(i), first_ + static_cast<int64_t>(end) - 1);
      i = end;
      at = after;
    }
  }
  const RunList& onDisk = lists[kOnDisk];
  const RunList& inFlight = lists[kWriting];
  const RunList& missing = lists[kNot];
  Appender a{out, size};
  if (onDisk.frames == 0) {
    a.text("no frame is on disk");
  } else {
    a.text(onDisk.frames == 1 ? "frame " : "frames ");
    onDisk.into(a);
    a.text(onDisk.frames == 1 ? " is on disk" : " are on disk");
  }
  if (inFlight.frames > 0) {
    a.text(", ");
    inFlight.into(a);
    a.text(" may be");
  }
  if (missing.frames > 0 && onDisk.frames + inFlight.frames > 0) {
    a.text(", ");
    missing.into(a);
    a.text(missing.frames == 1 ? " is not" : " are not");
  }
  return a.length;
}

void FramesWritten::setReadHook(ReadHook hook, void* context) {
  readHook_ = hook;
  readContext_ = context;
}

std::string FramesWritten::describe() const {
  std::string text(4096, '\0');
  text.resize(describe(text.data(), text.size(), false));
  return text;
}

namespace {

std::atomic<bool> gReporting{false};
std::atomic<const FramesWritten*> gFrames{nullptr};  // null: gInstead is said
std::atomic<const char*> gInstead{""};
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
      a.text(gInstead.load(std::memory_order_acquire));
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

InterruptReport::InterruptReport(const FramesWritten* frames, std::string instead)
    : instead_(std::move(instead)) {
  gInstead.store(instead_.c_str(), std::memory_order_release);
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
  gInstead.store("", std::memory_order_release);
}

}  // namespace tilvane_tool
