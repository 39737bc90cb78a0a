// Small cells drawn behind the calling thread. A cell too small to pay for a
// hand-over and a join of its own is queued with a copy of its icon, so the
// icon can be checked in and the next cell prepared while the team draws.
// The output rows are dealt out in lanes (stripes of rows, in turn); a lane
// is drawn by one thread at a time, cell after cell in queue order, so every
// output pixel still sees the cells in grid order and the frame is that of
// one thread, bit for bit.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "src/render/cell_draw.h"
#include "src/render/spin.h"
#include "src/render/window_simd.h"

namespace tilvane {

// Cells held at once: enough for the caller to run well ahead of a member
// drawing, and to keep going past a member the system sets aside for a
// fraction of a millisecond (on a quiet machine too) while it holds the
// oldest cells' lane: 256 small cells are about a millisecond of the
// caller's work. Cells of a still icon share one copy; icons that change
// from cell to cell hold at most 256 copies of at most kMaxQueuedIconBytes.
inline constexpr int kQueueSlots = 256;
// An icon larger than this is not copied: the copy would cost more of the
// caller's time than the members save it.
inline constexpr int64_t kMaxQueuedIconBytes = int64_t{64} << 10;
// A cell with this many walked pixels or more has its rows shared instead:
// its hand-over and join cost it a hundredth of its time or less.
inline constexpr int64_t kMaxQueuedCellPixels = 16384;
// Lanes per thread: more than one, so a thread coming free finds a lane no
// other holds.
inline constexpr int kLanesPerThread = 2;
// A thread gives its lane back after drawing about this many pixels of it
// (some 10 µs), so a held lane never keeps the others waiting long.
inline constexpr int64_t kLaneBatchPixels = 2048;

// Guards the queue's few words. The sections it guards are a few dozen
// instructions long: a thread waiting for one spins rather than sleeping in
// the system, which would cost more than the whole section.
class QueueLock {
 public:
  void lock() {
    for (int look = 0;; ++look) {
      if (!held_.load(std::memory_order_relaxed) &&
          !held_.exchange(true, std::memory_order_acquire)) {
        return;
      }
      // A holder the system has set aside needs our core.
      if (look % 1024 == 1023) {
        std::this_thread::yield();
      } else {
        Relax();
      }
    }
  }
  void unlock() { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};

template <typename Pixel>
class CellQueue {
 public:
  // For `threads` threads drawing, the calling one included.
  CellQueue(const DrawContext<Pixel>& context, RowDrawer<Pixel> draw, int threads)
      : context_(context), draw_(draw), lanes_(threads * kLanesPerThread) {
    // One window's rows span all lanes, so every thread has a share of every cell.
    const int64_t windowRows = 2 * int64_t{context.geometry.halfHeight} + 1;
    stripeRows_ = std::clamp<int64_t>(windowRows / static_cast<int64_t>(lanes_.size()), 1, 64);
    slots_.resize(kQueueSlots);
    copies_.resize(kQueueSlots);
  }
  CellQueue(const CellQueue&) = delete;
  CellQueue& operator=(const CellQueue&) = delete;

  // Whether a cell of this icon may be queued.
  static bool Takes(const PF_EffectWorld& icon) {
    return int64_t{icon.width} * icon.height * int64_t{sizeof(Pixel)} <= kMaxQueuedIconBytes;
  }

  // Queues a cell, copying its icon; the walk's icon may be checked in as
  // soon as this returns. Returns false, queuing nothing, when no memory
  // can be had for the copy. *waitNs adds the caller's time spent waiting
  // for a free slot while every lane with work was held by a member.
  bool Push(const CellWalk& walk, int64_t* waitNs) {
    std::unique_lock<QueueLock> lock(lock_);
    for (;;) {
      const uint64_t seen = version_.load(std::memory_order_acquire);
      if (pushed_ - Oldest() < kQueueSlots) break;
      lock.unlock();
      *waitNs += HelpOrWait(seen);
      lock.lock();
    }
    Slot& slot = slots_[static_cast<size_t>(pushed_ % kQueueSlots)];
    lock.unlock();
    // Every lane is past this slot's last cell and none reaches it before
    // it is pushed: it is the caller's alone.
    if (!Fill(walk, &slot)) return false;
    lock.lock();
    ++pushed_;
    lock.unlock();
    Changed();
    return true;
  }

  // Draws alongside the members until every queued cell is drawn; returns
  // the time spent waiting for lanes they held.
  int64_t Drain() {
    return DrainUntil([&] { return Oldest() == pushed_; });
  }

  // The same for the lanes of output rows firstRow to lastRow alone: a cell
  // drawn straight onto those rows then comes after every queued one, while
  // the members go on with the others.
  int64_t DrainRows(int32_t firstRow, int32_t lastRow) {
    return DrainUntil([&] {
      const int64_t lanes = static_cast<int64_t>(lanes_.size());
      const int64_t firstStripe = firstRow / stripeRows_;
      const int64_t lastStripe = std::min<int64_t>(lastRow / stripeRows_, firstStripe + lanes - 1);
      for (int64_t stripe = firstStripe; stripe <= lastStripe; ++stripe) {
        if (lanes_[static_cast<size_t>(stripe % lanes)].next < pushed_) return false;
      }
      return true;
    });
  }

  // A member's part, until Stop: draws lane batches as cells come.
  void Serve() {
    for (;;) {
      const uint64_t seen = version_.load(std::memory_order_acquire);
      if (DrawBatch(true)) continue;
      if (stopping_.load(std::memory_order_acquire)) return;
      const auto changed = [&] { return version_.load(std::memory_order_acquire) != seen; };
      if (SpinUntil(kIdleSpinNs, changed)) continue;
      // Counted before the last look, sequentially consistent with
      // Changed(): either this look sees the change or Changed() sees the
      // sleeper and wakes it.
      std::unique_lock<std::mutex> lock(sleep_);
      sleepers_.fetch_add(1, std::memory_order_seq_cst);
      changed_.wait(lock, [&] { return version_.load(std::memory_order_seq_cst) != seen; });
      sleepers_.fetch_sub(1, std::memory_order_relaxed);
    }
  }

  // After Drain: members leave Serve. Open lets them serve again.
  void Stop() {
    stopping_.store(true, std::memory_order_release);
    Changed();
  }
  void Open() { stopping_.store(false, std::memory_order_release); }

  // Lanes of cells the members have drawn, in all.
  int64_t MemberLaneCells() const { return memberLaneCells_.load(std::memory_order_relaxed); }

 private:
  // How long an idle member watches for the next cell before it sleeps, and
  // how long the caller spins for a held lane before it yields at each look.
  static constexpr int64_t kIdleSpinNs = 100'000;
  static constexpr int64_t kWaitSpinNs = 20'000;

  // One copy of an icon's pixels, shared by the queued cells whose icons
  // hold the same pixels (a still icon: all of them), so that the drawing
  // threads read one copy from their caches rather than a new one per cell.
  struct Copy {
    PF_EffectWorld icon;  // the host's frame, with the copy's pixels
    std::vector<Pixel> pixels;
    int users = 0;  // slots holding it; the caller's alone
  };
  struct Slot {
    CellWalk walk;  // its icon is the copy's
    Copy* copy = nullptr;
    int32_t firstOutputRow;
    int32_t lastOutputRow;
    int64_t lanePixels;  // the walked pixels one lane draws, about
  };
  struct Lane {
    int64_t next = 0;  // the next cell to draw
    bool held = false;
  };

  // Whether the host's frame holds the copy's pixels, row by row.
  static bool Holds(const Copy& copy, const PF_EffectWorld& from) {
    if (copy.icon.width != from.width || copy.icon.height != from.height) return false;
    const size_t width = static_cast<size_t>(from.width);
    const auto* source = reinterpret_cast<const unsigned char*>(from.data);
    for (size_t y = 0; y < static_cast<size_t>(from.height); ++y) {
      if (std::memcmp(copy.pixels.data() + y * width,
                      source + static_cast<std::ptrdiff_t>(y) * from.rowbytes,
                      width * sizeof(Pixel)) != 0) {
        return false;
      }
    }
    return true;
  }

  // The slot's cell, with its icon's pixels in the last copy made when
  // they are the same, else in a free copy. The slot's last cell is drawn.
  bool Fill(const CellWalk& walk, Slot* slot) {
    if (slot->copy != nullptr) --slot->copy->users;
    slot->copy = nullptr;
    const PF_EffectWorld& from = *walk.icon;
    if (last_ == nullptr || !Holds(*last_, from)) {
      // A free one: slots hold at most kQueueSlots − 1 others.
      Copy* copy = &copies_[0];
      while (copy->users > 0) ++copy;
      const size_t width = static_cast<size_t>(from.width);
      const size_t height = static_cast<size_t>(from.height);
      try {
        copy->pixels.resize(width * height);
      } catch (const std::bad_alloc&) {
        return false;
      }
      // Row by row: the host's rows may be padded or run bottom-up.
      const auto* source = reinterpret_cast<const unsigned char*>(from.data);
      for (size_t y = 0; y < height; ++y) {
        std::memcpy(copy->pixels.data() + y * width,
                    source + static_cast<std::ptrdiff_t>(y) * from.rowbytes, width * sizeof(Pixel));
      }
      copy->icon = from;
      copy->icon.data = reinterpret_cast<PF_PixelPtr>(copy->pixels.data());
      copy->icon.rowbytes = static_cast<A_long>(width * sizeof(Pixel));
      last_ = copy;
    }
    ++last_->users;
    slot->copy = last_;
    slot->walk = walk;
    slot->walk.icon = &last_->icon;
    const int64_t rows = walk.RowCount();
    slot->firstOutputRow = OutputRowOf(context_, walk, walk.RowAt(0));
    slot->lastOutputRow = OutputRowOf(context_, walk, walk.RowAt(rows - 1));
    slot->lanePixels = rows * walk.ColumnCount() / static_cast<int64_t>(lanes_.size()) + 1;
    return true;
  }

  // Helps, or waits, until drawn() holds under lock_.
  template <typename Drawn>
  int64_t DrainUntil(Drawn drawn) {
    int64_t waitNs = 0;
    for (;;) {
      uint64_t seen = 0;
      {
        std::lock_guard<QueueLock> lock(lock_);
        seen = version_.load(std::memory_order_acquire);
        if (drawn()) return waitNs;
      }
      waitNs += HelpOrWait(seen);
    }
  }

  // The oldest cell some lane has still to draw. Under lock_.
  int64_t Oldest() const {
    int64_t oldest = pushed_;
    for (const Lane& lane : lanes_) oldest = std::min(oldest, lane.next);
    return oldest;
  }

  // Takes the free lane furthest behind and draws a batch of its cells;
  // false when every lane with cells left is held.
  bool DrawBatch(bool byMember) {
    std::unique_lock<QueueLock> lock(lock_);
    int chosen = -1;
    for (int l = 0; l < static_cast<int>(lanes_.size()); ++l) {
      const Lane& lane = lanes_[static_cast<size_t>(l)];
      if (lane.held || lane.next >= pushed_) continue;
      if (chosen < 0 || lane.next < lanes_[static_cast<size_t>(chosen)].next) chosen = l;
    }
    if (chosen < 0) return false;
    Lane& lane = lanes_[static_cast<size_t>(chosen)];
    lane.held = true;
    const int64_t first = lane.next;
    const int64_t end = pushed_;
    lock.unlock();
    int64_t cell = first;
    for (int64_t drawn = 0; cell < end && drawn < kLaneBatchPixels; ++cell) {
      const Slot& slot = slots_[static_cast<size_t>(cell % kQueueSlots)];
      DrawLane(slot, chosen);
      drawn += slot.lanePixels;
    }
    lock.lock();
    lane.next = cell;
    lane.held = false;
    lock.unlock();
    if (byMember) memberLaneCells_.fetch_add(cell - first, std::memory_order_relaxed);
    Changed();
    return true;
  }

  // Draws the cell's visited rows that land on the lane's stripes.
  void DrawLane(const Slot& slot, int lane) const {
    const int64_t lanes = static_cast<int64_t>(lanes_.size());
    const int64_t lastStripe = slot.lastOutputRow / stripeRows_;
    int64_t stripe = slot.firstOutputRow / stripeRows_;
    stripe += ((lane - stripe % lanes) % lanes + lanes) % lanes;
    for (; stripe <= lastStripe; stripe += lanes) {
      const int64_t begin = FirstRowFrom(slot.walk, stripe * stripeRows_);
      const int64_t end = FirstRowFrom(slot.walk, (stripe + 1) * stripeRows_);
      if (begin < end) draw_(context_, slot.walk, begin, end);
    }
  }

  // The first visited row landing on output row `outputRow` or below it:
  // output rows never decrease along the walk.
  int64_t FirstRowFrom(const CellWalk& walk, int64_t outputRow) const {
    int64_t low = 0;
    int64_t high = walk.RowCount();
    while (low < high) {
      const int64_t middle = low + (high - low) / 2;
      if (OutputRowOf(context_, walk, walk.RowAt(middle)) >= outputRow) {
        high = middle;
      } else {
        low = middle + 1;
      }
    }
    return low;
  }

  // The caller's step while it may not go on: a batch of a free lane, or,
  // when members hold every lane with work, a wait for one to come back.
  // `seen` is the version read, under lock_, before the caller found it
  // could not go on: a lane given back since then ends the wait at once,
  // or the caller would wait for a change that has already come. Returns
  // the time waited.
  int64_t HelpOrWait(uint64_t seen) {
    if (DrawBatch(false)) return 0;
    const int64_t start = NowNs();
    const auto changed = [&] { return version_.load(std::memory_order_acquire) != seen; };
    if (!SpinUntil(kWaitSpinNs, changed)) {
      while (!changed()) std::this_thread::yield();
    }
    return NowNs() - start;
  }

  // Tells waiting threads that a cell came, a lane came free or the
  // members are to leave.
  void Changed() {
    version_.fetch_add(1, std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_seq_cst) > 0) {
      std::lock_guard<std::mutex> lock(sleep_);
      changed_.notify_all();
    }
  }

  const DrawContext<Pixel>& context_;
  RowDrawer<Pixel> draw_;
  int64_t stripeRows_ = 1;
  std::vector<Slot> slots_;
  std::vector<Copy> copies_;  // the caller's alone
  Copy* last_ = nullptr;      // the copy made last
  QueueLock lock_;
  std::vector<Lane> lanes_;  // under lock_
  int64_t pushed_ = 0;       // cells queued in all; under lock_
  std::atomic<int64_t> memberLaneCells_{0};
  std::atomic<uint64_t> version_{0};  // bumped at every push, lane given back and stop
  std::atomic<bool> stopping_{false};
  std::mutex sleep_;
  std::condition_variable changed_;
  std::atomic<int> sleepers_{0};
};

}  // namespace tilvane
