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

// Why the painter drew a cell as it did.
enum class CellRoute : int {
  kShared = 0,  // its rows were shared among the team
  kTeamOfOne,   // one thread: asked for, an output too small to pay for a
                // team, or output rows that overlap in memory
  kTooSmall,    // too few rows or pixels for a hand-over to pay
  kAlone,       // drawn by the caller alone: the team was late lately
  kQueued,      // queued with a copy of its icon, drawn by whichever thread
                // came free, the caller included
};
inline constexpr int kCellRouteCount = 5;

// What a render's painter did with its cells, for tests and reports.
struct TeamTally {
  int64_t cells[kCellRouteCount] = {};  // by CellRoute
  int64_t lateJoins = 0;                // runs the members did not help, or whose join waited
  int64_t lateNs = 0;                   // the caller's time lost in them
  int64_t memberLaneCells = 0;          // lanes of queued cells the members drew
  int64_t Cells(CellRoute route) const { return cells[static_cast<int>(route)]; }
};

// What the team's lateness has taught, handed from one render to the next:
// until when the caller goes alone, how many times in a row the team has
// been late, and how many runs it has been on time since. It outlives a
// render because a render is often shorter than the time alone that keeps
// tries cheap (16 times a time slice or more, growing while the team stays
// late): a verdict forgotten at each render would try the team, and might
// wait a time slice for it, at every frame. The runs on time carry over for
// the same reason: a render of queued cells judges only a few windows of a
// few milliseconds, and counted render by render they would never reach
// kForgivingRuns, so each hiccup of a quiet machine would leave the caller
// alone for longer, up to a second at a time. Renders at once share it, as
// they share the machine.
struct SharingMemory {
  std::atomic<int64_t> aloneUntilNs{0};  // steady-clock ns; 0: share from the first cell
  std::atomic<int> lateShift{0};         // the minimum time alone is kMinAloneNs << lateShift
  std::atomic<int> onTimeRuns{0};        // since the team was last late

  // The process's, for every render of the plug-in.
  static SharingMemory& Process();
};

// Decides whether the team shares cells, from its joins. A member the system
// runs claims chunks as soon as a cell is handed over and finishes its last
// within about a chunk of the caller's. A run is late when members that
// were awake drew none of its chunks (they wait for a core: the hand-over
// was all cost), or when its join waited longer than kLateChunks chunks at
// the caller's fastest pace in this render, plus kGraceNs (a member set
// aside while drawing, back a time slice later); the fastest pace, because
// the caller's own chunks slow down when it is set aside itself. Members
// woken, or starting, may come only several cells later, so runs they draw
// nothing of are late only once kWakeNs have passed since the first. After a
// late run the caller goes on alone for kLossFactor times the time it lost,
// so trying the team costs a busy machine about a sixteenth of what it
// loses, and at least kMinAloneNs, long enough for the members to fall
// asleep and give their cores back; that minimum doubles each time the team
// is late again (up to kMaxLateShift times), since a member that waits for
// a core also takes one from the caller, which no join shows, and goes back
// to kMinAloneNs after kForgivingRuns runs on time in a row. A quiet
// machine, whose members are late only now and then, loses almost nothing.
// The stop at the end of a render counts when it takes longer than
// kStopGraceNs: on a busy machine the members must wait their turn to leave.
class SharingPolicy {
 public:
  static constexpr int kLateChunks = 4;
  static constexpr int64_t kGraceNs = 5'000;
  static constexpr int64_t kStopGraceNs = 200'000;
  static constexpr int64_t kWakeNs = 2'000'000;
  static constexpr int64_t kMinAloneNs = 1'000'000;
  static constexpr int kMaxLateShift = 10;
  static constexpr int kForgivingRuns = 32;
  static constexpr int64_t kLossFactor = 16;
  static constexpr int64_t kQueueWaitNs = 50'000;
  static constexpr double kMinCallerShare = 0.75;
  // The window over which the caller's share of a core is judged: a few
  // time slices of a busy machine's scheduler.
  static constexpr int64_t kShareWindowNs = 4'000'000;

  explicit SharingPolicy(SharingMemory* memory) : memory_(memory) {}

  // Whether the cell beginning at `nowNs` goes to the team.
  bool ShareNext(int64_t nowNs) const {
    return nowNs >= memory_->aloneUntilNs.load(std::memory_order_relaxed);
  }
  // Books one run of the team on a cell of `pixels` walked pixels.
  void Record(const RowTeam::Report& report, int64_t pixels, TeamTally* tally);
  // Books the `ns` the team took to stop, ending at `nowNs`.
  void RecordStop(int64_t ns, int64_t nowNs, TeamTally* tally);
  // Books one cell queued for the team (or the drain of the queue) at `nowNs`:
  // `waitNs`, the caller's time waiting for lanes that members held, is late
  // beyond kQueueWaitNs, about four lane batches (a member set aside
  // holding one); members that have drawn nothing since the queue opened at
  // `openNs` are late once kWakeNs have passed.
  void RecordQueued(int64_t waitNs, bool membersDrew, int64_t openNs, int64_t nowNs,
                    TeamTally* tally);
  // Books the calling thread's `cpuNs` of processor time over `wallNs` on
  // the clock while cells were queued, ending at `nowNs`. Short of
  // kMinCallerShare, its threads are competing for cores: another process
  // keeps one busy, or a member takes the caller's, and the queue's copies
  // and hand-overs are all cost. A window at or above it is a run on time.
  void RecordCallerShare(int64_t cpuNs, int64_t wallNs, int64_t nowNs, TeamTally* tally);

  // The steady clock, in nanoseconds, that the team's reports use.
  static int64_t NowNs();
  // The processor time of the calling thread, in nanoseconds; -1 where the
  // system does not tell it finely enough to judge a window by.
  static int64_t ThreadCpuNs();

 private:
  // Sends the caller alone for kLossFactor times `lostNs`, and at least the
  // minimum, which then doubles.
  void Late(int64_t lostNs, int64_t nowNs, TeamTally* tally);
  void OnTime();

  // The caller's fastest pace this render, in ns per kPacePixels walked pixels.
  static constexpr int64_t kPacePixels = 1024;
  static constexpr int64_t kNoPace = INT64_MAX;
  SharingMemory* memory_;
  int64_t paceNs_ = kNoPace;
  int64_t asleepSinceNs_ = -1;  // since when woken members have drawn nothing; -1: they have
};

}  // namespace tilvane
