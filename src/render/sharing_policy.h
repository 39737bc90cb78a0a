// Whether the render's threads share cells: decided from how late the team
// has been, and remembered from render to render. Why it judges as it does
// (the late runs, the time alone, the memory across renders) is told in
// docs/design.md, "How a render uses the machine".
#pragma once

#include <atomic>
#include <cstdint>

#include "src/render/row_team.h"

namespace tilvane {

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

// What the team's lateness has taught, handed from one render to the next
// and shared by renders at once, as they share the machine.
struct SharingMemory {
  std::atomic<int64_t> aloneUntilNs{0};  // steady-clock ns; 0: share from the first cell
  std::atomic<int> lateShift{0};         // the minimum time alone is kMinAloneNs << lateShift
  std::atomic<int> onTimeRuns{0};        // since the team was last late

  // The process's, for every render of the plug-in.
  static SharingMemory& Process();
};

// One render's judge of the team. A late run sends the caller alone for
// kLossFactor times the time it lost, and at least kMinAloneNs <<
// lateShift; kForgivingRuns runs on time in a row bring the shift back to 0.
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
  // Books one run of the team on a cell of `pixels` walked pixels: late
  // when awake members drew none of its chunks, or when its join waited
  // longer than kLateChunks chunks at the caller's fastest pace in this
  // render, plus kGraceNs; members woken or starting are late only once
  // kWakeNs have passed since the first run they missed.
  void Record(const RowTeam::Report& report, int64_t pixels, TeamTally* tally);
  // Books the `ns` the team took to stop, ending at `nowNs`: late beyond
  // kStopGraceNs.
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
  // kMinCallerShare, its threads are competing for cores and the queue's
  // copies and hand-overs are all cost. A window at or above it is a run on
  // time.
  void RecordCallerShare(int64_t cpuNs, int64_t wallNs, int64_t nowNs, TeamTally* tally);

  // The queue's clocks, kept here for the painter. The queue opened at
  // `nowNs`, the members having drawn `laneCells` lanes of it in all.
  void QueueOpened(int64_t nowNs, int64_t laneCells);
  // Books a cell pushed at `nowNs` after `waitNs` waiting, the members having
  // drawn `laneCells` lanes in all, and, every kShareWindowNs, the caller's
  // share of a core since the last window.
  void RecordPush(int64_t waitNs, int64_t laneCells, int64_t nowNs, TeamTally* tally);
  // Books a drain of the queue, or of some of its lanes, that waited `waitNs`.
  void RecordDrain(int64_t waitNs, int64_t nowNs, TeamTally* tally);

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
  int64_t queueOpenNs_ = 0;
  int64_t laneCellsAtOpen_ = 0;
  int64_t shareWindowNs_ = 0;     // since when the caller's share of a core is judged
  int64_t shareWindowCpuNs_ = 0;  // its processor time then; -1: not known
};

}  // namespace tilvane
