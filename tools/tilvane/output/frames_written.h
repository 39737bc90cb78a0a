// Which frames of a job are on disk, told when the job stops short: after a
// failure, and from the handler of an interrupting signal, so the record is
// lock-free and its message is made without allocating.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tilvane_tool {

class FramesWritten {
 public:
  // Jobs 0 to count - 1 render frames first to first + count - 1. Their
  // states are kept in blocks made as the jobs reach them, so that a range of
  // any length costs only what has been rendered of it.
  FramesWritten(int64_t first, size_t count);
  ~FramesWritten();
  FramesWritten(const FramesWritten&) = delete;
  FramesWritten& operator=(const FramesWritten&) = delete;

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

  // For tests: called after describe() reads a job's state, so that a test
  // can move the job on between two reads as the render's threads may.
  using ReadHook = void (*)(void* context, size_t job);
  void setReadHook(ReadHook hook, void* context);

 private:
  enum State : uint8_t { kNot, kWriting, kOnDisk };
  static constexpr size_t kBlock = size_t{1} << 16;
  uint8_t stateOf(size_t job) const;
  std::atomic<uint8_t>& slot(size_t job);

  int64_t first_;
  size_t count_;
  // One pointer a block of jobs; null until a job in it is written.
  std::unique_ptr<std::atomic<std::atomic<uint8_t>*>[]> blocks_;
  std::mutex grow_;
  ReadHook readHook_ = nullptr;
  void* readContext_ = nullptr;
};

// While one lives, SIGINT and SIGTERM finish the progress line on a terminal,
// print "tilvane: interrupted; " and which frames are on disk (or what
// becomes of an output that is not files of frames), then go on to
// the handler installed before (which removes temporary files and ends the
// process by the signal: exit status 130 or 143 in a shell). A signal the
// process ignores stays ignored.
class InterruptReport {
  std::string instead_;

 public:
  // Null frames: they go to one output, a movie or a stream, where no frame
  // is on disk to tell of; `instead` then says what becomes of it.
  explicit InterruptReport(const FramesWritten* frames, std::string instead = "");
  ~InterruptReport();
  InterruptReport(const InterruptReport&) = delete;
  InterruptReport& operator=(const InterruptReport&) = delete;
};

}  // namespace tilvane_tool
