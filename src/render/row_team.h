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
  // Draws chunk c of a job.
  using Job = void (*)(const void* work, int chunk);

  // The most chunks one job may have.
  static constexpr int kMaxChunks = 0xFFFF;

  // Asks for `members` threads in all, the calling thread included. A
  // thread the system refuses is done without: the team may be smaller.
  explicit RowTeam(int members);
  ~RowTeam();
  RowTeam(const RowTeam&) = delete;
  RowTeam& operator=(const RowTeam&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }

  // Runs job(work, c) for every chunk c from 0 to chunks − 1 and returns
  // when all are done. Members take chunks as they come free, the calling
  // thread among them, so a member the system does not schedule in time
  // holds up at most the chunk it took. Returns false when the calling
  // thread had to give up its time slice waiting for such a member: a sign
  // that the machine is busier than the team is large. A count outside 0 to
  // kMaxChunks would not fit the state word and lose chunks: it is refused,
  // with a message, by ending the process.
  bool Run(Job job, const void* work, int chunks);

 private:
  // The published job: generation in the high 32 bits, then the chunk count
  // and the next unclaimed chunk, 16 bits each. A member claims a chunk by
  // advancing "next" in the same word, so it cannot claim a chunk of a job
  // that has since been replaced.
  static uint64_t State(uint32_t generation, int chunks, int next) {
    return uint64_t{generation} << 32 | uint64_t(chunks) << 16 | uint64_t(next);
  }
  void Serve();
  void TakeChunks(uint32_t generation);

  std::vector<std::thread> workers_;
  std::atomic<uint64_t> state_{0};
  std::atomic<int> done_{0};
  std::atomic<bool> stopping_{false};
  Job job_ = nullptr;
  const void* work_ = nullptr;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<int> sleepers_{0};  // changed under mutex_
};

}  // namespace tilvane
