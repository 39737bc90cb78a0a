#include "tools/tilvane/job/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace tilvane_tool {
namespace {

// A frame rendered but not yet written counts just short of done.
constexpr double kRenderedShare = 0.99;
constexpr int kMaxBar = 40;
constexpr int kMinBar = 10;

std::string Clock(double seconds) {
  const long long s = std::llround(seconds);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

bool Complete(const ProgressState& s) { return s.frames <= 0 || s.done >= s.frames; }

// The share of the job done, frames in flight counted by their rows.
double Share(const ProgressState& s) {
  return Complete(s) ? 1.0
                     : std::clamp((static_cast<double>(s.done) + s.inFlight) /
                                      static_cast<double>(s.frames),
                                  0.0, kRenderedShare);
}

// The time left at the rate so far, once there is one.
std::optional<double> SecondsLeft(const ProgressState& s) {
  const double share = Share(s);
  if (Complete(s) || share <= 0 || s.seconds < 1) return std::nullopt;
  return s.seconds * (1 - share) / share;
}

}  // namespace

std::string ProgressLine(const ProgressState& s, int columns) {
  const bool complete = Complete(s);
  const double share = Share(s);
  char text[64];
  std::snprintf(text, sizeof text, "%3d%%  frames %lld/%lld",
                complete ? 100 : std::min(99, static_cast<int>(share * 100)),
                static_cast<long long>(s.done), static_cast<long long>(s.frames));
  std::string counts = text;
  // Parts that may be dropped, the last first.
  std::vector<std::string> extras;
  if (const auto left = SecondsLeft(s)) extras.push_back("  ETA " + Clock(*left));
  if (s.frame >= 0 && s.rows > 0) {
    extras.push_back("  frame " + std::to_string(s.frame) + ": rows " + std::to_string(s.row) +
                     "/" + std::to_string(s.rows));
  }
  const int room = std::max(columns - 1, 1);
  auto tail = [&] {
    std::string t = counts;
    for (const std::string& e : extras) t += e;
    return t;
  };
  int bar = room - 3 - static_cast<int>(tail().size());  // "[", "] "
  while (bar < kMinBar && !extras.empty()) {
    extras.pop_back();
    bar = room - 3 - static_cast<int>(tail().size());
  }
  if (bar < kMinBar) return tail().substr(0, static_cast<size_t>(room));
  bar = std::min(bar, kMaxBar);
  const int filled = complete ? bar : std::min(bar - 1, static_cast<int>(share * bar));
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(bar - filled), '.') + "] " + tail();
}

std::string PlainProgressLine(const ProgressState& s) {
  char text[96];
  std::snprintf(text, sizeof text, "tilvane: frame %lld of %lld, %.2f frames per second",
                static_cast<long long>(s.done), static_cast<long long>(s.frames),
                s.seconds > 0 ? static_cast<double>(s.done) / s.seconds : 0.0);
  std::string line = text;
  if (const auto left = SecondsLeft(s)) line += ", ETA " + Clock(*left);
  return line;
}

int TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    const int n = std::atoi(columns);
    if (n > 0) return n;
  }
  return 80;
}

ProgressBar::ProgressBar(int64_t frames, int workers, ProgressStyle style,
                         std::chrono::steady_clock::duration interval)
    : frames_(frames),
      style_(style),
      interval_(interval),
      slots_(static_cast<size_t>(std::max(workers, 1))) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::frameStarted(int worker, int64_t frame) {
  std::lock_guard lock(mutex_);
  slots_[static_cast<size_t>(worker)] = Slot{frame, 0, 0, 0};
  draw(false);
}

void ProgressBar::rows(int worker, int32_t current, int32_t total) {
  if (total <= 0) return;
  std::lock_guard lock(mutex_);
  Slot& slot = slots_[static_cast<size_t>(worker)];
  // The effect brackets its row reports (row r finished of n, r from 0) with
  // 0 of 100 and 100 of 100.
  const bool bracket = total == 100 && (current == 0 || current == 100);
  if (bracket) {
    slot.fraction = current == 100 ? 1.0 : slot.fraction;
  } else {
    slot.row = std::clamp(current + 1, 0, total);
    slot.rows = total;
    slot.fraction = static_cast<double>(slot.row) / total;
  }
  draw(false);
}

void ProgressBar::frameDone(int worker) {
  std::lock_guard lock(mutex_);
  slots_[static_cast<size_t>(worker)] = Slot{};
  ++done_;
  draw(done_ == frames_);
}

void ProgressBar::finish() {
  std::lock_guard lock(mutex_);
  if (style_ == ProgressStyle::Bar && drawn_) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    drawn_ = false;
  }
  // A job that stopped short ends with its own message instead.
  if (style_ == ProgressStyle::Lines && !finished_ && done_ == frames_) {
    finished_ = true;
    const std::string line = PlainProgressLine(stateAt(std::chrono::steady_clock::now()));
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
}

ProgressState ProgressBar::state() const {
  std::lock_guard lock(mutex_);
  return stateAt(std::chrono::steady_clock::now());
}

ProgressState ProgressBar::stateAt(std::chrono::steady_clock::time_point now) const {
  ProgressState state;
  state.frames = frames_;
  state.done = done_;
  state.seconds = std::chrono::duration<double>(now - start_).count();
  const Slot* current = nullptr;
  for (const Slot& s : slots_) {
    if (s.frame < 0) continue;
    state.inFlight += std::min(s.fraction, kRenderedShare);
    if (current == nullptr || s.frame < current->frame) current = &s;
  }
  if (current != nullptr) {
    state.frame = current->frame;
    state.row = current->row;
    state.rows = current->rows;
  }
  return state;
}

void ProgressBar::draw(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (style_ == ProgressStyle::Lines) {
    // The first line after one interval; the last one comes from finish().
    if (now - (drawn_ ? lastDraw_ : start_) < interval_) return;
    lastDraw_ = now;
    drawn_ = true;
    std::fprintf(stderr, "%s\n", PlainProgressLine(stateAt(now)).c_str());
    std::fflush(stderr);
    return;
  }
  if (style_ != ProgressStyle::Bar) return;
  if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  drawn_ = true;
  const std::string line = ProgressLine(stateAt(now), TerminalColumns(fileno(stderr)));
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
}

}  // namespace tilvane_tool
