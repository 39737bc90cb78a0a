// How cell windows are drawn: on the vector path chosen for the render, and
// among the render's threads: a large cell's rows shared, small cells queued
// (cell_queue.h). The cell loops call Paint once per drawable cell, on the
// thread that called the entry point.
#pragma once

#include <cstdint>
#include <new>
#include <optional>

#include "src/render/cell_draw.h"
#include "src/render/cell_queue.h"
#include "src/render/render_options.h"
#include "src/render/row_team.h"
#include "src/render/sharing_policy.h"
#include "src/render/spin.h"
#include "src/render/window_simd.h"

namespace tilvane {

// A render into a smaller output stays on the calling thread: starting
// threads would cost more than the whole frame (a 100 × 100 render takes
// well under a millisecond).
inline constexpr int64_t kMinOutputPixelsToShare = int64_t{1} << 16;
// A cell with fewer walked pixels than this is drawn by the calling thread
// alone: a hand-over and join cost up to a microsecond, the time of about 150
// pixels, too much of what sharing such a cell could save. Above it, the
// team's joins decide (SharingPolicy).
inline constexpr int64_t kMinPixelsToShare = 512;
// Cells are cut into chunks of about this many pixels, several per member,
// so members that come free early take more of the cell.
inline constexpr int64_t kChunkPixels = 512;
inline constexpr int kChunksPerMember = 16;
inline constexpr int kMaxCellChunks = kMaxRenderThreads * kChunksPerMember;
static_assert(kMaxCellChunks <= RowTeam::kMaxChunks,
              "a job's chunk count must fit the team's state word");

// Draws cell windows with the chosen walk, sharing large ones among the
// render's threads and queuing small ones for them while their members
// arrive in time (SharingPolicy). The team is started at the first cell
// shared or queued, so a render that never shares starts no thread, and
// joined when the painter goes, before the render returns. A member starting
// late costs nothing: the caller draws every chunk and lane no member has
// claimed. A cell drawn otherwise than through the queue waits until the
// queued cells that may reach its output rows are drawn, so each output pixel
// sees the cells in grid order.
template <typename Pixel>
class CellPainter {
 public:
  // Draws with `draw`, on up to options.threads threads, the calling one
  // included, sharing cells as options.alwaysShare says.
  CellPainter(const DrawContext<Pixel>& context, RowDrawer<Pixel> draw,
              const RenderOptions& options)
      : context_(context),
        draw_(draw),
        threads_(options.threads),
        alwaysShare_(options.alwaysShare),
        policy_(&SharingMemory::Process()) {
    // Output rows that overlap in memory would be written by two threads.
    const int64_t rowSize = int64_t{context.output->width} * int64_t{sizeof(Pixel)};
    const int64_t stride = context.output->rowbytes;
    if ((stride < 0 ? -stride : stride) < rowSize) threads_ = 1;
    if (int64_t{context.output->width} * context.output->height < kMinOutputPixelsToShare) {
      threads_ = 1;
    }
  }

  void Paint(const CellState& cell, int32_t cellRow, int32_t cellColumn) {
    const CellWalk walk = PrepareCellWalk(context_, cell, cellRow, cellColumn);
    const int64_t rows = walk.RowCount();
    const int64_t pixels = rows * walk.ColumnCount();
    CellRoute route = CellRoute::kShared;
    if (threads_ <= 1) {
      route = CellRoute::kTeamOfOne;
    } else if (rows < 2 || pixels < kMinPixelsToShare) {
      route = CellRoute::kTooSmall;
    } else if (!alwaysShare_ && !policy_.ShareNext(NowNs())) {
      route = CellRoute::kAlone;
    } else if (pixels < kMaxQueuedCellPixels && CellQueue<Pixel>::Takes(*walk.icon)) {
      route = CellRoute::kQueued;
    }
    if (route == CellRoute::kQueued && Queue(walk)) {
      ++tally_.cells[static_cast<int>(route)];
      return;
    }
    if (route == CellRoute::kQueued) route = CellRoute::kTeamOfOne;
    ++tally_.cells[static_cast<int>(route)];
    if (route == CellRoute::kTooSmall || route == CellRoute::kTeamOfOne) {
      // The members may go on with the queue meanwhile.
      AfterQueuedCells(walk);
      draw_(context_, walk, 0, rows);
      return;
    }
    CloseQueue();
    if (route != CellRoute::kShared) {
      draw_(context_, walk, 0, rows);
      return;
    }
    if (!team_) team_.emplace(threads_);
    // One chunk per member at least; more, up to kChunksPerMember each, as
    // the cell has pixels for: each chunk costs a hand-over between cores.
    const int64_t members = team_->size();
    int64_t chunks = pixels / kChunkPixels;
    if (chunks > members * kChunksPerMember) chunks = members * kChunksPerMember;
    if (chunks < members) chunks = members;
    if (chunks > rows) chunks = rows;
    Job job{this, &walk, {}};
    const int count = SplitRows(walk, static_cast<int>(chunks), job.bounds);
    const RowTeam::Report report = team_->Run(&DrawChunk, &job, count);
    if (!alwaysShare_) policy_.Record(report, pixels, &tally_);
  }

  ~CellPainter() {
    CloseQueue();
    if (!team_) return;
    const int64_t start = NowNs();
    team_.reset();
    const int64_t end = NowNs();
    if (!alwaysShare_) policy_.RecordStop(end - start, end, &tally_);
  }
  CellPainter(const CellPainter&) = delete;
  CellPainter& operator=(const CellPainter&) = delete;

  // How many cells went which way, and why.
  const TeamTally& tally() const { return tally_; }

 private:
  struct Job {
    const CellPainter* painter;
    const CellWalk* walk;
    int64_t bounds[kMaxCellChunks + 1];  // chunk c draws rows bounds[c] to bounds[c + 1] − 1
  };

  // Queues a cell for the team, opening the queue to its members first;
  // false when the team has no member or no copy could be made.
  bool Queue(const CellWalk& walk) {
    if (!team_) team_.emplace(threads_);
    if (team_->size() < 2) return false;
    if (!queue_) {
      try {
        queue_.emplace(context_, draw_, team_->size());
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    if (!queueOpen_) {
      queue_->Open();
      if (!alwaysShare_) policy_.QueueOpened(NowNs(), queue_->MemberLaneCells());
      team_->Begin(&ServeQueue, &*queue_, team_->size() - 1);
      queueOpen_ = true;
    }
    int64_t waitNs = 0;
    const bool queued = queue_->Push(walk, &waitNs);
    if (!alwaysShare_) policy_.RecordPush(waitNs, queue_->MemberLaneCells(), NowNs(), &tally_);
    return queued;
  }

  // Waits, drawing alongside the members, until the queued cells that may
  // reach the walk's output rows are drawn.
  void AfterQueuedCells(const CellWalk& walk) {
    const int64_t rows = walk.RowCount();
    if (!queueOpen_ || rows == 0) return;
    const int64_t waitNs = queue_->DrainRows(OutputRowOf(context_, walk, walk.RowAt(0)),
                                             OutputRowOf(context_, walk, walk.RowAt(rows - 1)));
    CountMemberLanes();
    if (!alwaysShare_) policy_.RecordDrain(waitNs, NowNs(), &tally_);
  }

  // Draws what is queued, with the members, and sends them back to the team.
  void CloseQueue() {
    if (!queueOpen_) return;
    queueOpen_ = false;
    const int64_t waitNs = queue_->Drain();
    queue_->Stop();
    const int64_t start = NowNs();
    team_->Finish();
    const int64_t end = NowNs();
    CountMemberLanes();
    if (alwaysShare_) return;
    policy_.RecordDrain(waitNs, end, &tally_);
    policy_.RecordStop(end - start, end, &tally_);
  }

  void CountMemberLanes() {
    const int64_t drawn = queue_->MemberLaneCells();
    tally_.memberLaneCells += drawn - laneCellsCounted_;
    laneCellsCounted_ = drawn;
  }

  static void ServeQueue(const void* work, int) {
    static_cast<CellQueue<Pixel>*>(const_cast<void*>(work))->Serve();
  }

  static void DrawChunk(const void* work, int chunk) {
    const Job& job = *static_cast<const Job*>(work);
    job.painter->draw_(job.painter->context_, *job.walk, job.bounds[chunk], job.bounds[chunk + 1]);
  }

  // Cuts the visited rows into at most `chunks` even runs and returns how
  // many it made. A run never splits the rows that land on one output row,
  // so each output row has one writer, in window order.
  int SplitRows(const CellWalk& walk, int chunks, int64_t* bounds) const {
    const int64_t rows = walk.RowCount();
    int count = 0;
    bounds[0] = 0;
    for (int c = 1; c <= chunks && bounds[count] < rows; ++c) {
      int64_t b = rows * c / chunks;
      if (b <= bounds[count]) continue;
      while (b < rows && OutputRowOf(context_, walk, walk.RowAt(b)) ==
                             OutputRowOf(context_, walk, walk.RowAt(b - 1))) {
        ++b;
      }
      bounds[++count] = b;
    }
    return count;
  }

  const DrawContext<Pixel>& context_;
  RowDrawer<Pixel> draw_;
  int threads_;
  bool alwaysShare_;
  SharingPolicy policy_;
  TeamTally tally_;
  std::optional<RowTeam> team_;
  std::optional<CellQueue<Pixel>> queue_;  // members leave it at CloseQueue
  bool queueOpen_ = false;                 // members are serving the queue
  int64_t laneCellsCounted_ = 0;           // of the members' lanes, those in the tally
};

}  // namespace tilvane
