// The threads of one render. Started by the render that needs them and
// joined before it returns: nothing outlives the call, nothing runs at
// library load or unload. Only the calling thread talks to the host; the
// other members draw window rows and nothing else.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tilvane {

class RowTeam {
 public:
  // One part of a job: part p of parts, run by one member.
  using Job = void (*)(const void* work, int part, int parts);

  // Asks for `members` threads in all, the calling thread included. A
  // thread the system refuses is done without: the team may be smaller.
  explicit RowTeam(int members);
  ~RowTeam();
  RowTeam(const RowTeam&) = delete;
  RowTeam& operator=(const RowTeam&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }

  // Runs job(work, p, size()) for every member p, the calling thread taking
  // part 0, and returns when every part is done.
  void Run(Job job, const void* work);

 private:
  void Serve(int member);
  void WaitForWork(uint64_t seen);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  // A new job is published by advancing the generation; members spin on it
  // briefly before sleeping, since cells follow one another quickly.
  std::atomic<uint64_t> generation_{0};
  std::atomic<int> unfinished_{0};
  std::atomic<bool> stopping_{false};
  int sleepers_ = 0;  // guarded by mutex_
  Job job_ = nullptr;
  const void* work_ = nullptr;
};

}  // namespace tilvane
