// The progress bar on a terminal: frames done, and the cell rows of the
// frames in flight as the effect reports them.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tilvane_tool {

class ProgressBar {
 public:
  // Draws on standard error only when enabled (not quiet, and a terminal).
  ProgressBar(int64_t frames, int workers, bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void frameStarted(int worker, int64_t frame);
  // The effect's own report: rows done of total (it reports 0 of 100 first
  // and 100 of 100 last; the fraction is what counts).
  void rows(int worker, int32_t current, int32_t total);
  void frameDone(int worker);
  // Clears the bar so that the next line starts clean.
  void finish();

 private:
  void draw(bool force);

  struct Slot {
    int64_t frame = -1;
    double fraction = 0;
    int32_t row = 0;
    int32_t rows = 0;
  };
  std::mutex mutex_;
  const int64_t frames_;
  const bool enabled_;
  int64_t done_ = 0;
  std::vector<Slot> slots_;
  std::chrono::steady_clock::time_point lastDraw_{};
  bool drawn_ = false;
};

}  // namespace tilvane_tool
