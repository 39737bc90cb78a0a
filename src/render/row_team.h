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

  // What one Run cost the calling thread, in steady-clock nanoseconds.
  struct Report {
    int chunks = 0;              // chunks in the job
    int callerChunks = 0;        // of them, drawn by the calling thread
    int64_t callerNs = 0;        // its time drawing them
    int64_t totalNs = 0;         // its time in Run, publishing and waiting included
    int64_t endNs = 0;           // when Run returned
    bool membersAsleep = false;  // some members slept, or had not started, at the hand-over
  };

  // Runs job(work, c) for every chunk c from 0 to chunks − 1 and returns
  // when all are done. Members take chunks as they come free, the calling
  // thread among them, so a member the system does not schedule in time
  // holds up at most the chunk it took. A count outside 0 to kMaxChunks
  // would not fit the state word and lose chunks: it is refused, with a
  // message, by ending the process.
  Report Run(Job job, const void* work, int chunks);

  // Hands a job to the members alone and returns at once, telling whether
  // some members slept, or had not started, at the hand-over; the calling
  // thread goes on with its own work, then must call Finish before the next
  // Begin or Run. For jobs whose chunks run until the caller tells them to
  // stop; a team without members cannot take one.
  bool Begin(Job job, const void* work, int chunks);
  // Runs the chunks of the begun job no member has claimed, waits for the
  // others and returns how many the calling thread ran.
  int Finish();

 private:
  // The published job: generation in the high 32 bits, then the chunk count
  // and the next unclaimed chunk, 16 bits each. A member claims a chunk by
  // advancing "next" in the same word, so it cannot claim a chunk of a job
  // that has since been replaced.
  static uint64_t State(uint32_t generation, int chunks, int next) {
    return uint64_t{generation} << 32 | uint64_t(chunks) << 16 | uint64_t(next);
  }
  void Serve();
  // Publishes the job and wakes sleeping members; returns the generation,
  // and whether some members slept or had not started.
  uint32_t Publish(Job job, const void* work, int chunks, bool* membersAsleep);
  // Waits, spinning then yielding, until `chunks` chunks are done.
  void AwaitDone(int chunks);
  // Draws chunks of the job until none is left unclaimed; returns how many.
  int TakeChunks(uint32_t generation);

  std::vector<std::thread> workers_;
  std::atomic<uint64_t> state_{0};
  std::atomic<int> done_{0};
  std::atomic<bool> stopping_{false};
  Job job_ = nullptr;
  const void* work_ = nullptr;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<int> sleepers_{0};  // changed under mutex_
  std::atomic<int> starting_{0};  // members not yet watching for jobs
  uint32_t begun_ = 0;            // the generation of the job Begin handed over
  int begunChunks_ = 0;
};

}  // namespace tilvane
