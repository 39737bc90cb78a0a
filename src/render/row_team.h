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
    int chunks = 0;        // chunks in the job
    int callerChunks = 0;  // of them, drawn by the calling thread
    int64_t callerNs = 0;  // its time drawing them
    int64_t totalNs = 0;   // its time in Run, publishing and waiting included
    int64_t endNs = 0;     // when Run returned
  };

  // Runs job(work, c) for every chunk c from 0 to chunks − 1 and returns
  // when all are done. Members take chunks as they come free, the calling
  // thread among them, so a member the system does not schedule in time
  // holds up at most the chunk it took. A count outside 0 to kMaxChunks
  // would not fit the state word and lose chunks: it is refused, with a
  // message, by ending the process.
  Report Run(Job job, const void* work, int chunks);

 private:
  // The published job: generation in the high 32 bits, then the chunk count
  // and the next unclaimed chunk, 16 bits each. A member claims a chunk by
  // advancing "next" in the same word, so it cannot claim a chunk of a job
  // that has since been replaced.
  static uint64_t State(uint32_t generation, int chunks, int next) {
    return uint64_t{generation} << 32 | uint64_t(chunks) << 16 | uint64_t(next);
  }
  void Serve();
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
};

// Why the painter drew a cell as it did.
enum class CellRoute : int {
  kShared = 0,  // its rows were shared among the team
  kTeamOfOne,   // one thread: asked for, an output too small to pay for a
                // team, or output rows that overlap in memory
  kTooSmall,    // too few rows or pixels for a hand-over to pay
  kAlone,       // drawn by the caller alone, the team being slower lately
                // or being timed against the caller alone
};
inline constexpr int kCellRouteCount = 4;

// What a render's painter did with its cells, for tests and reports.
struct TeamTally {
  int64_t cells[kCellRouteCount] = {};  // by CellRoute
  int64_t rounds = 0;                   // times the team was timed against the caller alone
  int64_t aloneWins = 0;                // of them, those the caller alone won
  int64_t stalls = 0;  // joins that waited longer than the caller would have taken alone
  int64_t Cells(CellRoute route) const { return cells[static_cast<int>(route)]; }
};

// The way a SharingPolicy kept, handed from one render to the next, so a
// render starts where the last left off: the machine is as busy as it was a
// moment ago. Renders at once share it; a lost update costs one round.
struct SharingMemory {
  std::atomic<int64_t> keepUntilNs{0};  // 0: time both ways at the first cell
  std::atomic<int> keepTeam{1};
  std::atomic<int> keepShift{-1};  // -1: no way kept yet

  // The process's, for every render of the plug-in.
  static SharingMemory& Process();
};

// Decides whether the team shares cells, from what the render's time
// actually buys. A round of kRoundNs gives the cells to the team and to the
// caller alone in turn, cell by cell, so that both ways see neighbouring
// cells and the same machine; each way's time is booked from one cell's
// start to the next (host calls included) against its walked pixels. The
// faster way is then kept for 8 rounds' time, doubling while the same way
// keeps winning, up to kMaxKeepShift doublings; the caller alone is kept at
// least kLossFactor times what the team lost, so that trying the team again
// costs a busy machine little. A join that waited longer than the caller
// would have taken alone for the whole cell means the system put a member
// aside: the caller goes on alone at once, and the next round says when to
// try again.
class SharingPolicy {
 public:
  static constexpr int64_t kRoundNs = 1'000'000;
  static constexpr int64_t kGraceNs = 50'000;  // a sleeping member's wake-up
  static constexpr int kMaxKeepShift = 10;
  static constexpr int64_t kLossFactor = 16;

  // Starts from what `memory` kept, if that is still in force at `nowNs`.
  SharingPolicy(SharingMemory* memory, int64_t nowNs);
  // Leaves the way kept, and until when, to the next render.
  ~SharingPolicy();
  SharingPolicy(const SharingPolicy&) = delete;
  SharingPolicy& operator=(const SharingPolicy&) = delete;

  // Books the time since the previous cell began to that cell's way, and
  // says whether the cell beginning at `nowNs`, of `pixels` walked pixels,
  // goes to the team.
  bool ShareNext(int64_t nowNs, int64_t pixels, TeamTally* tally);
  // Books one run of the team.
  void Record(const RowTeam::Report& report, TeamTally* tally);
  // Books the `ns` the team took to stop at the end of the render: on a busy
  // machine, its members must wait their turn to leave.
  void ChargeTeam(int64_t ns);

  // The steady clock, in nanoseconds, that the team's reports use.
  static int64_t NowNs();

 private:
  struct Pace {
    int64_t ns = 0;
    int64_t pixels = 0;
  };
  void Keep(bool team, int64_t nowNs, TeamTally* tally);

  SharingMemory* memory_;
  bool timing_ = true;  // in a round; otherwise keeping keepTeam_'s way
  bool keepTeam_ = true;
  int keepShift_ = -1;       // keeping lasts 8 × 2^keepShift rounds' time; -1: none yet
  int64_t phaseEndNs_ = -1;  // -1: the first cell starts the first round
  int64_t lastNs_ = 0;       // when the previous cell began
  int64_t lastPixels_ = 0;
  bool lastShared_ = false;
  bool stalled_ = false;
  int64_t lostNs_ = 0;  // by the team, this round
  Pace paces_[2];       // this round's: [0] the team, [1] the caller alone
};

}  // namespace tilvane
