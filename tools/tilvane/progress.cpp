#include "tools/tilvane/progress.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tilvane_tool {

ProgressBar::ProgressBar(int64_t frames, int workers, bool enabled)
    : frames_(frames), enabled_(enabled), slots_(static_cast<size_t>(std::max(workers, 1))) {}

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
  if (enabled_ && drawn_) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    drawn_ = false;
  }
}

void ProgressBar::draw(bool force) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  drawn_ = true;

  double progress = static_cast<double>(done_);
  const Slot* current = nullptr;
  for (const Slot& s : slots_) {
    if (s.frame < 0) continue;
    progress += s.fraction;
    if (current == nullptr || s.frame < current->frame) current = &s;
  }
  const double share = frames_ > 0 ? std::min(progress / static_cast<double>(frames_), 1.0) : 1;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(share * kWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::string detail;
  if (current != nullptr && current->rows > 0) {
    detail = ", frame " + std::to_string(current->frame) + ": rows " +
             std::to_string(current->row) + "/" + std::to_string(current->rows);
  }
  std::fprintf(stderr, "\r\033[K[%s] %3d%%  frames %lld/%lld%s", bar.c_str(),
               static_cast<int>(share * 100), static_cast<long long>(done_),
               static_cast<long long>(frames_), detail.c_str());
  std::fflush(stderr);
}

}  // namespace tilvane_tool
