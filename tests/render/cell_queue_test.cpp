// The queue of small cells on its own, drawn through a recording drawer:
// every visited row of every queued cell is drawn exactly once, and each
// output row sees its cells in queue order, when the ring fills and wraps,
// when a drain must wait for every lane a cell reaches, and when a member is
// set aside holding a lane; icon copies are shared only when width, height
// and pixels agree; and the queue's lock orders what it guards.
#include "src/render/cell_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "src/render/cell_draw.h"
#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using tilvane::CellQueue;
using tilvane::CellWalk;
using tilvane::DrawContext;

// What the drawer was asked to draw: the cell (its column, which sets its
// origin), the visited row, the output row it lands on, and the icon seen.
struct Drawn {
  int cell;
  int64_t row;
  int32_t outputRow;
  const PF_EffectWorld* icon;
  int iconMark;  // red × 256 + green of its first pixel, when drawn
};

// The recording drawer's books, one test at a time.
struct Recorder {
  std::mutex mutex;
  std::map<float, int> cellByOrigin;
  std::vector<Drawn> drawn;
  std::thread::id caller = std::this_thread::get_id();
  // A member set aside: the first batch a member draws sleeps this long,
  // once the caller has seen it start.
  std::chrono::milliseconds setAside{0};
  std::atomic<bool> memberStarted{false};
  std::atomic<bool> heldUp{false};
};
Recorder* gRecorder = nullptr;

void Record(const DrawContext<PF_Pixel>& context, const CellWalk& walk, int64_t first,
            int64_t end) {
  Recorder& r = *gRecorder;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    const int cell = r.cellByOrigin.at(walk.placement.originX);
    for (int64_t row = first; row < end; ++row) {
      const auto* pixel = reinterpret_cast<const PF_Pixel*>(walk.icon->data);
      r.drawn.push_back({cell, row, tilvane::OutputRowOf(context, walk, walk.RowAt(row)), walk.icon,
                         pixel->red * 256 + pixel->green});
    }
  }
  if (r.setAside.count() == 0) return;
  if (std::this_thread::get_id() == r.caller) {
    for (int ms = 0; !r.memberStarted && ms < 20000; ++ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  } else if (!r.heldUp.exchange(true)) {
    r.memberStarted = true;
    std::this_thread::sleep_for(r.setAside);
  }
}

constexpr tilvane::RowDrawer<PF_Pixel> kRecording{tilvane::SimdPath::kScalar, &Record};

// Cells of a 33 × 33 window on one row of the grid, each in its own column.
class QueueScene {
 public:
  explicit QueueScene(int32_t half = 16) {
    settings_.units = 1;
    settings_.displacementEffect = DISPLACEMENT_NONE;
    settings_.effectIntensity = 1.0;
    settings_.colorMapping = COLOR_ICON_LAYER;
    settings_.transparencyMapping = TRANSPARENCY_CONSTANT;
    context_ = tilvane::MakeDrawContext<PF_Pixel>(
        settings_, tilvane::GridGeometry{1.0f, half, half, 3, 3}, out_.record());
    gRecorder = &recorder_;
  }
  ~QueueScene() { gRecorder = nullptr; }

  const DrawContext<PF_Pixel>& context() const { return context_; }
  Recorder& recorder() { return recorder_; }

  // The walk of cell `column` over `icon`, known to the recorder.
  CellWalk Walk(int column, const standin::World& icon) {
    tilvane::CellState cell{};
    cell.cellLuminance = 1.0f;
    cell.icon = icon.record();
    cell.iconWidth = icon.width();
    cell.iconHeight = icon.height();
    const CellWalk walk = tilvane::PrepareCellWalk(context_, cell, 0, column);
    std::lock_guard<std::mutex> lock(recorder_.mutex);
    recorder_.cellByOrigin[walk.placement.originX] = column;
    return walk;
  }

  // Every visited row of cells 0 to cells − 1 drawn exactly once, and every
  // output row's cells in queue order.
  void ExpectEachRowOnceInOrder(int cells, int64_t rowsPerCell) {
    std::map<int, std::vector<int>> timesDrawn;
    std::map<int32_t, int> lastCellOnRow;
    for (const Drawn& d : recorder_.drawn) {
      auto& times = timesDrawn[d.cell];
      times.resize(static_cast<size_t>(rowsPerCell));
      ++times[static_cast<size_t>(d.row)];
      auto [last, fresh] = lastCellOnRow.emplace(d.outputRow, d.cell);
      EXPECT_GE(d.cell, last->second) << "output row " << d.outputRow << " went back in the queue";
      last->second = d.cell;
    }
    ASSERT_EQ(static_cast<int>(timesDrawn.size()), cells) << "cells drawn";
    for (const auto& [cell, times] : timesDrawn) {
      for (size_t row = 0; row < times.size(); ++row) {
        ASSERT_EQ(times[row], 1) << "cell " << cell << ", visited row " << row;
      }
    }
  }

 private:
  tilvane::RenderSettings settings_{};
  standin::World out_ = MakeOutput(1920, 64, 8);
  DrawContext<PF_Pixel> context_{};
  Recorder recorder_;
};

// Icons that tell the cells apart: cell n's is one colour made of n.
std::vector<std::shared_ptr<standin::World>> DistinctIcons(int count) {
  std::vector<std::shared_ptr<standin::World>> icons;
  for (int n = 0; n < count; ++n) icons.push_back(Solid(2, 2, 8, {255, n / 256, n % 256, 7}));
  return icons;
}

TEST(CellQueue, AFullRingWaitsForItsOldestCellAndWrapsAroundWithoutLosingOne) {
  // Caller alone: every slot is refilled only once all lanes have drawn it.
  constexpr int kCells = 2 * tilvane::kQueueSlots + 100;
  QueueScene scene;
  const auto icons = DistinctIcons(kCells);
  CellQueue<PF_Pixel> queue(scene.context(), kRecording, 2);
  int64_t rows = 0;
  for (int n = 0; n < kCells; ++n) {
    const CellWalk walk = scene.Walk(n, *icons[static_cast<size_t>(n)]);
    rows = walk.RowCount();
    int64_t waitNs = 0;
    ASSERT_TRUE(queue.Push(walk, &waitNs));
    EXPECT_EQ(waitNs, 0) << "no member holds a lane";
  }
  EXPECT_EQ(queue.Drain(), 0);
  scene.ExpectEachRowOnceInOrder(kCells, rows);
  // Each cell drew its own icon's copy, not another cell's.
  for (const Drawn& d : scene.recorder().drawn) ASSERT_EQ(d.iconMark, d.cell);
}

TEST(CellQueue, ADrainOfSomeRowsReturnsOnlyOnceEveryLaneTheyReachIsDrawn) {
  constexpr int kCells = 12;
  constexpr int kThreads = 2;
  constexpr int64_t kLanes = kThreads * tilvane::kLanesPerThread;
  const auto icon = Solid(2, 2, 8, {255, 1, 2, 3});
  // Each first stripe in turn, so that each lane is the last one reached.
  for (int64_t shift = 0; shift < kLanes; ++shift) {
    SCOPED_TRACE("first stripe + " + std::to_string(shift));
    QueueScene scene;
    CellQueue<PF_Pixel> queue(scene.context(), kRecording, kThreads);
    CellWalk walk{};
    for (int n = 0; n < kCells; ++n) {
      walk = scene.Walk(n, *icon);
      int64_t waitNs = 0;
      ASSERT_TRUE(queue.Push(walk, &waitNs));
    }
    // The queue's stripes: a window's rows spread over every lane.
    const int64_t stripe = std::clamp<int64_t>(walk.RowCount() / kLanes, 1, 64);
    const int32_t top = tilvane::OutputRowOf(scene.context(), walk, walk.RowAt(0));
    const int32_t first = static_cast<int32_t>((top / stripe + shift) * stripe);
    const int32_t last = static_cast<int32_t>(first + kLanes * stripe - 1);
    queue.DrainRows(first, last);
    std::map<int, std::vector<int>> seen;
    for (const Drawn& d : scene.recorder().drawn) {
      if (d.outputRow >= first && d.outputRow <= last) seen[d.cell].push_back(d.outputRow);
    }
    // Every visited row landing in [first, last], of every cell.
    int64_t reached = 0;
    for (int64_t row = 0; row < walk.RowCount(); ++row) {
      const int32_t out = tilvane::OutputRowOf(scene.context(), walk, walk.RowAt(row));
      reached += out >= first && out <= last;
    }
    ASSERT_GT(reached, 0);
    for (int n = 0; n < kCells; ++n) {
      EXPECT_EQ(static_cast<int64_t>(seen[n].size()), reached) << "cell " << n;
    }
    queue.Drain();
  }
}

TEST(CellQueue, CellsShareAnIconCopyOnlyWhenWidthHeightAndEveryPixelAgree) {
  const PixelFn rows = [](int x, int y) { return Argb{255, 10 * x, 10 * y, 1}; };
  const auto tall = MakeFrame(3, 4, 8, rows);
  const auto sameAsTall = MakeFrame(3, 4, 8, rows);
  const auto shorter = MakeFrame(3, 3, 8, rows);  // the tall one's first rows
  const auto lastPixelOff = MakeFrame(3, 4, 8, rows);
  Set(*lastPixelOff, 2, 3, {255, 0, 0, 0});
  const auto square = Solid(2, 2, 8, {255, 5, 5, 5});
  const auto wide = Solid(4, 1, 8, {255, 5, 5, 5});  // the square's pixels in one row
  // A padded, bottom-up frame of the same pixels is the same icon.
  const auto padded = MakeFrame(3, 4, 8, rows, 12, true);
  struct Case {
    const char* name;
    const standin::World* first;
    const standin::World* second;
    bool shared;
  };
  for (const Case& c : {Case{"same pixels", tall.get(), sameAsTall.get(), true},
                        Case{"padded, bottom-up", tall.get(), padded.get(), true},
                        Case{"one row fewer", tall.get(), shorter.get(), false},
                        Case{"one row more", shorter.get(), tall.get(), false},
                        Case{"last pixel", tall.get(), lastPixelOff.get(), false},
                        Case{"wider, fewer rows", square.get(), wide.get(), false}}) {
    SCOPED_TRACE(c.name);
    QueueScene scene(4);
    CellQueue<PF_Pixel> queue(scene.context(), kRecording, 2);
    int64_t waitNs = 0;
    ASSERT_TRUE(queue.Push(scene.Walk(0, *c.first), &waitNs));
    ASSERT_TRUE(queue.Push(scene.Walk(1, *c.second), &waitNs));
    queue.Drain();
    const PF_EffectWorld* seen[2] = {};
    for (const Drawn& d : scene.recorder().drawn) seen[d.cell] = d.icon;
    ASSERT_NE(seen[0], nullptr);
    ASSERT_NE(seen[1], nullptr);
    EXPECT_EQ(seen[0] == seen[1], c.shared);
    // Each cell saw its own icon's size and pixels, wherever they were kept.
    const standin::World* given[2] = {c.first, c.second};
    for (int n = 0; n < 2; ++n) {
      ASSERT_EQ(seen[n]->width, given[n]->width()) << "cell " << n;
      ASSERT_EQ(seen[n]->height, given[n]->height()) << "cell " << n;
      for (int y = 0; y < given[n]->height(); ++y) {
        for (int x = 0; x < given[n]->width(); ++x) {
          const auto* row = reinterpret_cast<const unsigned char*>(seen[n]->data) +
                            static_cast<std::ptrdiff_t>(y) * seen[n]->rowbytes;
          const PF_Pixel& p = reinterpret_cast<const PF_Pixel*>(row)[x];
          EXPECT_EQ((Argb{p.alpha, p.red, p.green, p.blue}), At(*given[n], x, y))
              << "cell " << n << " at " << x << ", " << y;
        }
      }
    }
  }
}

TEST(CellQueue, AMemberSetAsideHoldingALaneMakesTheCallerWaitButLosesNoCell) {
  constexpr int kCells = 2 * tilvane::kQueueSlots;
  QueueScene scene;
  scene.recorder().setAside = std::chrono::milliseconds(200);
  const auto icons = DistinctIcons(kCells);
  CellQueue<PF_Pixel> queue(scene.context(), kRecording, 2);
  std::thread member([&] { queue.Serve(); });
  int64_t waitNs = 0;
  int64_t rows = 0;
  for (int n = 0; n < kCells; ++n) {
    const CellWalk walk = scene.Walk(n, *icons[static_cast<size_t>(n)]);
    rows = walk.RowCount();
    ASSERT_TRUE(queue.Push(walk, &waitNs));
  }
  waitNs += queue.Drain();
  queue.Stop();
  member.join();
  ASSERT_TRUE(scene.recorder().heldUp) << "the member drew a batch";
  EXPECT_GE(queue.MemberLaneCells(), 1);
  // The ring filled behind the held lane: the caller waited for it.
  EXPECT_GE(waitNs, 100'000'000);
  scene.ExpectEachRowOnceInOrder(kCells, rows);
}

TEST(QueueLock, OrdersWhatItGuards) {
  // ThreadSanitizer sees a lock that does not acquire what the last holder
  // released as a race on the counter.
  tilvane::QueueLock lock;
  int64_t counter = 0;
  constexpr int kRounds = 200'000;
  const auto add = [&] {
    for (int i = 0; i < kRounds; ++i) {
      std::lock_guard<tilvane::QueueLock> hold(lock);
      ++counter;
    }
  };
  std::thread other(add);
  add();
  other.join();
  EXPECT_EQ(counter, 2 * kRounds);
}

}  // namespace
}  // namespace tilvane_test
