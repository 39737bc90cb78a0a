// Progress: a bar on a terminal (frames done, the cell rows of the frames in
// flight as the effect reports them, and the time left), plain lines in a
// pipe or a log file.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tilvane_tool {

// What the bar shows at one moment.
struct ProgressState {
  int64_t frames = 0;   // in the job
  int64_t done = 0;     // written to disk
  double inFlight = 0;  // the rendered fractions of the frames being worked on
  double seconds = 0;   // since the job started
  int64_t frame = -1;   // the earliest frame in flight, if any, and its rows done
  int32_t row = 0;
  int32_t rows = 0;
};

// The line for a terminal `columns` wide, one column to spare so that it never
// wraps: "[####......]  42%  frames 3/10  ETA 0:12  frame 3: rows 12/40". The
// parts at the end go first when it is narrow, then the bar. A frame counts
// fully only once written, so 100% means every frame is on disk.
std::string ProgressLine(const ProgressState& state, int columns);

// A line for a log: "tilvane: frame 3 of 10, 0.52 frames per second, ETA 0:13",
// frames counted once on disk; no ETA before there is a rate, none at the end.
std::string PlainProgressLine(const ProgressState& state);

// The width of the terminal on fd, else $COLUMNS, else 80.
int TerminalColumns(int fd);

enum class ProgressStyle {
  Off,
  Bar,    // redrawn in place, at most ten times a second
  Lines,  // a line every `interval`, and one at the end
};

class ProgressBar {
 public:
  // Shows progress on standard error in the style given.
  ProgressBar(int64_t frames, int workers, ProgressStyle style,
              std::chrono::steady_clock::duration interval = std::chrono::seconds(5));
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void frameStarted(int worker, int64_t frame);
  // The effect's own report: rows done of total (it reports 0 of 100 first
  // and 100 of 100 last; the fraction is what counts).
  void rows(int worker, int32_t current, int32_t total);
  // The frame is on disk.
  void frameDone(int worker);
  // Clears the bar so that the next line starts clean; prints the last line
  // when every frame is done.
  void finish();
  // What the bar would show now.
  ProgressState state() const;

 private:
  void draw(bool force);
  ProgressState stateAt(std::chrono::steady_clock::time_point now) const;

  struct Slot {
    int64_t frame = -1;
    double fraction = 0;
    int32_t row = 0;
    int32_t rows = 0;
  };
  mutable std::mutex mutex_;
  const int64_t frames_;
  const ProgressStyle style_;
  const std::chrono::steady_clock::duration interval_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  int64_t done_ = 0;
  std::vector<Slot> slots_;
  std::chrono::steady_clock::time_point lastDraw_{};
  bool drawn_ = false;     // a bar is on the line
  bool finished_ = false;  // the last line is printed
};

}  // namespace tilvane_tool
