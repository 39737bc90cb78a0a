// Which frames of a job are on disk, told when the job stops short: after a
// failure, and from the handler of an interrupting signal, so the record is
// lock-free and its message is made without allocating.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tilvane_tool {

class FramesWritten {
 public:
  // The job's frame numbers, in the order of its jobs.
  explicit FramesWritten(std::vector<int64_t> frames);

  // Job i is being written, then is on disk.
  void writing(size_t job);
  void mark(size_t job);

  // "frames 0-3 and 5 are on disk, 4 and 6-9 are not", "frame 2 is on disk",
  // "no frame is on disk". Frames being written "may be" on disk while the
  // job runs (a signal can come as one lands); once it has stopped, they
  // failed and are not. Safe in a signal handler: writes at most size - 1
  // characters and a NUL into out, and returns their count.
  size_t describe(char* out, size_t size, bool running) const;
  std::string describe() const;  // once the job has stopped

 private:
  enum State : uint8_t { kNot, kWriting, kOnDisk };
  std::vector<int64_t> frames_;
  std::unique_ptr<std::atomic<uint8_t>[]> state_;
};

// While one lives, SIGINT and SIGTERM finish the progress line on a terminal,
// print "tilvane: interrupted; " and which frames are on disk, then go on to
// the handler installed before (which removes temporary files and ends the
// process by the signal: exit status 130 or 143 in a shell). A signal the
// process ignores stays ignored.
class InterruptReport {
 public:
  explicit InterruptReport(const FramesWritten& frames);
  ~InterruptReport();
  InterruptReport(const InterruptReport&) = delete;
  InterruptReport& operator=(const InterruptReport&) = delete;
};

}  // namespace tilvane_tool
