// The render's thread team on its own: every chunk of every job runs exactly
// once and before Run returns, whatever the team's size and however slow
// some chunks are; the policy that decides from the team's joins whether
// cells are shared, on runs and a clock of the test's; and the painter's
// account of the cells it shared.
#include "src/render/row_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "src/params/params.h"
#include "src/render/cell_painter.h"
#include "src/render/render_options.h"
#include "src/render/sharing_policy.h"
#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

struct Tally {
  std::vector<std::atomic<int>> runs;
  std::atomic<int> slowEvery{0};
  explicit Tally(int chunks) : runs(static_cast<size_t>(chunks)) {}
};

void Count(const void* work, int chunk) {
  auto& tally = *static_cast<Tally*>(const_cast<void*>(work));
  const int slow = tally.slowEvery.load();
  if (slow > 0 && chunk % slow == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  tally.runs[static_cast<size_t>(chunk)].fetch_add(1);
}

void ExpectEachChunkOnce(tilvane::RowTeam& team, int chunks, int slowEvery) {
  Tally tally(chunks);
  tally.slowEvery = slowEvery;
  team.Run(&Count, &tally, chunks);
  for (int c = 0; c < chunks; ++c) {
    ASSERT_EQ(tally.runs[static_cast<size_t>(c)].load(), 1) << "chunk " << c << " of " << chunks;
  }
}

TEST(RowTeam, EveryChunkOfEveryJobRunsExactlyOnceBeforeRunReturns) {
  std::mt19937 pick(3);
  for (const int members : {1, 2, 7}) {
    tilvane::RowTeam team(members);
    EXPECT_GE(team.size(), 1);
    EXPECT_LE(team.size(), members);
    for (int job = 0; job < 3000; ++job) {
      ExpectEachChunkOnce(team, 1 + static_cast<int>(pick() % 300), 0);
    }
  }
}

TEST(RowTeam, SlowChunksAndIdleMembersStillFinishEveryJob) {
  tilvane::RowTeam team(4);
  for (int job = 0; job < 20; ++job) {
    ExpectEachChunkOnce(team, 40, 7);
    // Long enough between jobs for the members to fall asleep.
    if (job % 5 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST(RowTeam, AJobWithNoChunksReturnsAtOnce) {
  tilvane::RowTeam team(3);
  ExpectEachChunkOnce(team, 0, 0);
  ExpectEachChunkOnce(team, 1, 0);
}

TEST(RowTeamDeathTest, AJobOfMoreChunksThanTheTeamCountsIsRefusedLoudly) {
  // The team's threads would be copied into the child of a fast death test.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr int kMax = tilvane::RowTeam::kMaxChunks;
  for (const int members : {1, 3}) {
    for (const int chunks : {kMax + 1, -1}) {
      EXPECT_DEATH(
          {
            tilvane::RowTeam team(members);
            Tally tally(kMax + 1);
            team.Run(&Count, &tally, chunks);
          },
          "RowTeam::Run given " + std::to_string(chunks) + " chunks")
          << members << " members";
    }
  }
  // The most a job may have all run.
  tilvane::RowTeam team(3);
  ExpectEachChunkOnce(team, kMax, 0);
}

TEST(RowTeam, ReportsTheChunksTheCallerDrewAndItsTime) {
  for (const int members : {1, 2, 7}) {
    tilvane::RowTeam team(members);
    for (const int chunks : {0, 1, 40}) {
      Tally tally(chunks);
      const tilvane::RowTeam::Report report = team.Run(&Count, &tally, chunks);
      EXPECT_EQ(report.chunks, chunks);
      EXPECT_GE(report.callerChunks, 0);
      EXPECT_LE(report.callerChunks, chunks);
      // Alone, or with one chunk, the caller draws everything.
      if (team.size() == 1 || chunks <= 1) {
        EXPECT_EQ(report.callerChunks, chunks);
      }
      EXPECT_GE(report.callerNs, 0);
      EXPECT_LE(report.callerNs, report.totalNs);
      EXPECT_GE(report.endNs, report.totalNs);
    }
  }
}

using tilvane::SharingMemory;
using tilvane::SharingPolicy;
using tilvane::TeamTally;

constexpr int64_t kMinAlone = SharingPolicy::kMinAloneNs;
constexpr int64_t kLoss = SharingPolicy::kLossFactor;
constexpr int64_t kEnd = 1'000'000'000;  // when every run below returns

// A run of 3 chunks of a 3072-pixel cell that returned at kEnd.
tilvane::RowTeam::Report RunOf(int callerChunks, int64_t callerNs, int64_t waitNs,
                               bool woke = false) {
  tilvane::RowTeam::Report report;
  report.chunks = 3;
  report.callerChunks = callerChunks;
  report.callerNs = callerNs;
  report.totalNs = callerNs + waitNs;
  report.endNs = kEnd;
  report.membersAsleep = woke;
  return report;
}
constexpr int64_t kCellPixels = 3072;

struct LateCase {
  const char* name;
  tilvane::RowTeam::Report run;
  int64_t aloneUntil;  // 0: the team shares on
};

void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }

class LateRuns : public testing::TestWithParam<LateCase> {};

// The caller first draws a chunk of 1024 pixels in 4 µs, which sets its pace.
TEST_P(LateRuns, ALateRunSendsTheCallerAloneForSixteenTimesWhatItLost) {
  const LateCase& c = GetParam();
  SharingMemory memory;
  SharingPolicy policy(&memory);
  TeamTally tally;
  policy.Record(RunOf(2, 8'000, 1'000), kCellPixels, &tally);
  ASSERT_EQ(tally.lateJoins, 0);
  policy.Record(c.run, kCellPixels, &tally);
  EXPECT_EQ(memory.aloneUntilNs.load(), c.aloneUntil);
  EXPECT_EQ(tally.lateJoins, c.aloneUntil != 0 ? 1 : 0);
  EXPECT_EQ(policy.ShareNext(kEnd), c.aloneUntil == 0);
  if (c.aloneUntil != 0) {
    EXPECT_EQ(tally.lateNs, c.run.totalNs - c.run.callerNs);
    EXPECT_FALSE(policy.ShareNext(c.aloneUntil - 1));
    EXPECT_TRUE(policy.ShareNext(c.aloneUntil));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Joins, LateRuns,
    testing::Values(
        // A member on a slower core finishing its chunk, and an interrupt:
        // within 4 chunks (16 µs) and 5 µs of grace.
        LateCase{"WaitWithinFourChunksAndTheGrace", RunOf(2, 8'000, 21'000), 0},
        LateCase{"MembersDrewMostOfTheCell", RunOf(1, 4'000, 6'000), 0},
        // A member set aside while drawing: 16 times 3 ms.
        LateCase{"WaitForAMemberSetAside", RunOf(2, 8'000, 3'000'000), kEnd + kLoss * 3'000'000},
        // Just late: at least the minimum, for the members to fall asleep.
        LateCase{"JustLate", RunOf(2, 8'000, 21'001), kEnd + kMinAlone},
        // The caller set aside itself drew slowly: its fastest pace still counts.
        LateCase{"CallerHeldUpToo", RunOf(2, 900'000, 40'000), kEnd + kMinAlone},
        // Awake members that drew nothing wait for a core.
        LateCase{"AwakeMembersDrewNothing", RunOf(3, 12'000, 300), kEnd + kMinAlone},
        // Woken ones may come after the cell: they have the next one.
        LateCase{"WokenMembersCameAfterTheCell", RunOf(3, 12'000, 4'000, true), 0}),
    [](const testing::TestParamInfo<LateCase>& info) { return std::string(info.param.name); });

// Each run returns at kEnd on the runs' clock; `at` moves the clock.
tilvane::RowTeam::Report At(tilvane::RowTeam::Report report, int64_t at) {
  report.endNs = at;
  return report;
}

TEST(SharingPolicy, WokenMembersAreLateOnlyWhenTheyHaveNotComeWithinTheirWakeTime) {
  constexpr int64_t kWake = SharingPolicy::kWakeNs;
  SharingMemory memory;
  SharingPolicy policy(&memory);
  TeamTally tally;
  const tilvane::RowTeam::Report missed = RunOf(3, 12'000, 4'000, true);
  // Handed over at kEnd − 16 µs; still not there when kWakeNs have passed.
  policy.Record(missed, kCellPixels, &tally);
  policy.Record(At(missed, kEnd - missed.totalNs + kWake), kCellPixels, &tally);
  EXPECT_EQ(tally.lateJoins, 0) << "a thread's start, a core's wake-up";
  // They came and helped: the next time they sleep, they have kWakeNs again.
  policy.Record(At(RunOf(2, 8'000, 1'000), kEnd + 1), kCellPixels, &tally);
  const int64_t handedOver = kEnd + 2 - missed.totalNs;
  policy.Record(At(missed, kEnd + 2), kCellPixels, &tally);
  policy.Record(At(missed, handedOver + kWake), kCellPixels, &tally);
  EXPECT_EQ(tally.lateJoins, 0);
  policy.Record(At(missed, handedOver + kWake + 1), kCellPixels, &tally);
  EXPECT_EQ(tally.lateJoins, 1);
  EXPECT_EQ(memory.aloneUntilNs.load(), handedOver + kWake + 1 + kMinAlone);
}

TEST(RowTeam, ReportsMembersAsleepAtTheHandOver) {
  tilvane::RowTeam team(2);
  if (team.size() < 2) GTEST_SKIP() << "no thread to start";
  Tally first(4);
  team.Run(&Count, &first, 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Tally later(4);
  EXPECT_TRUE(team.Run(&Count, &later, 4).membersAsleep) << "asleep after 50 ms without a job";
}

TEST(SharingPolicy, ARunTheCallerDrewNothingOfIsJudgedOnlyAgainstAPaceAlreadySeen) {
  SharingMemory memory;
  SharingPolicy policy(&memory);
  TeamTally tally;
  policy.Record(RunOf(0, 0, 500'000), kCellPixels, &tally);
  EXPECT_EQ(tally.lateJoins, 0) << "no pace yet";
  policy.Record(RunOf(2, 8'000, 1'000), kCellPixels, &tally);
  policy.Record(RunOf(0, 0, 500'000), kCellPixels, &tally);
  EXPECT_EQ(tally.lateJoins, 1);
}

TEST(SharingPolicy, TheLeastTimeAloneDoublesWhileTheTeamStaysLateAndResetsAfterRunsOnTime) {
  SharingMemory memory;
  TeamTally tally;
  const auto aloneAfterLateRun = [&] {
    SharingPolicy render(&memory);
    render.Record(RunOf(2, 8'000, 1'000), kCellPixels, &tally);
    render.Record(RunOf(2, 8'000, 30'000), kCellPixels, &tally);
    return memory.aloneUntilNs.load() - kEnd;
  };
  EXPECT_EQ(aloneAfterLateRun(), kMinAlone);
  // The next render remembers: the team was late before.
  EXPECT_EQ(aloneAfterLateRun(), 2 * kMinAlone);
  EXPECT_EQ(aloneAfterLateRun(), 4 * kMinAlone);
  // Runs on time count across renders: a render of queued cells judges only
  // a few windows.
  {
    SharingPolicy render(&memory);
    for (int run = 1; run < SharingPolicy::kForgivingRuns; ++run) {
      render.Record(RunOf(2, 8'000, 1'000), kCellPixels, &tally);
    }
  }
  EXPECT_EQ(memory.lateShift.load(), 3);
  SharingPolicy render(&memory);
  render.RecordCallerShare(4'000'000, 4'000'000, kEnd, &tally);
  EXPECT_EQ(memory.lateShift.load(), 0);
  memory.aloneUntilNs = 0;
  EXPECT_EQ(aloneAfterLateRun(), kMinAlone);
}

TEST(SharingPolicy, ASlowStopCountsAndTheVerdictCarriesOverToTheNextRender) {
  SharingMemory memory;
  TeamTally tally;
  {
    SharingPolicy render(&memory);
    render.RecordStop(SharingPolicy::kStopGraceNs, kEnd, &tally);
    EXPECT_EQ(tally.lateJoins, 0) << "members waking to leave";
    render.RecordStop(3'000'000, kEnd, &tally);
    EXPECT_EQ(tally.lateJoins, 1);
  }
  const int64_t until = kEnd + kLoss * 3'000'000;
  SharingPolicy next(&memory);
  EXPECT_FALSE(next.ShareNext(until - 1));
  EXPECT_TRUE(next.ShareNext(until));
  // An earlier verdict, from a render at once, does not cut it short.
  TeamTally other;
  SharingPolicy(&memory).RecordStop(300'000, kEnd, &other);
  EXPECT_EQ(memory.aloneUntilNs.load(), until);
}

TEST(SharingPolicy, TheQueuesClocksJudgeMembersThatNeverCameLongDrainsAndTheCallersShare) {
  constexpr int64_t kWake = SharingPolicy::kWakeNs;
  constexpr int64_t kWindow = SharingPolicy::kShareWindowNs;
  SharingMemory memory;
  TeamTally tally;
  {
    // Members that drew no lane since the queue opened: late after kWakeNs.
    SharingPolicy policy(&memory);
    policy.QueueOpened(kEnd, 5);
    policy.RecordPush(0, 5, kEnd + kWake, &tally);
    EXPECT_EQ(tally.lateJoins, 0) << "a thread's start, a core's wake-up";
    policy.RecordPush(0, 5, kEnd + kWake + 1, &tally);
    EXPECT_EQ(tally.lateJoins, 1) << "the caller copied icons for nobody";
  }
  {
    SharingPolicy policy(&memory);
    policy.QueueOpened(kEnd, 5);
    policy.RecordPush(0, 6, kEnd + kWake + 1, &tally);
    EXPECT_EQ(tally.lateJoins, 1) << "they drew a lane";
    // A drain waiting for lanes members hold: late beyond kQueueWaitNs.
    policy.RecordDrain(SharingPolicy::kQueueWaitNs, kEnd + kWake + 2, &tally);
    EXPECT_EQ(tally.lateJoins, 1);
    policy.RecordDrain(SharingPolicy::kQueueWaitNs + 1, kEnd + kWake + 3, &tally);
    EXPECT_EQ(tally.lateJoins, 2);
    EXPECT_EQ(tally.lateNs, SharingPolicy::kQueueWaitNs + 1);
  }
  if (SharingPolicy::ThreadCpuNs() < 0) GTEST_SKIP() << "no thread clock fine enough here";
  {
    // The caller's share of a core, judged once a window has passed: this
    // thread spends microseconds of processor time over the 4 ms claimed.
    SharingPolicy policy(&memory);
    const int64_t open = kEnd;
    policy.QueueOpened(open, 0);
    policy.RecordPush(0, 1, open + kWindow - 1, &tally);
    EXPECT_EQ(tally.lateJoins, 2) << "the window has not passed";
    policy.RecordPush(0, 1, open + kWindow, &tally);
    EXPECT_EQ(tally.lateJoins, 3) << "a share far below kMinCallerShare";
    // The next window starts there.
    policy.RecordPush(0, 1, open + kWindow + 1, &tally);
    EXPECT_EQ(tally.lateJoins, 3);
  }
}

// Painting through the team: one thread that asks for no team, cells too
// small to share, cells queued, and a member the system puts aside, each
// reported as such.
struct PaintScene {
  tilvane::RenderSettings settings{};
  std::shared_ptr<standin::World> icon = MakeFrame(3, 3, 8, [](int x, int y) {
    return Argb{255, 60 * x, 60 * y, 9};
  });
  standin::World out = MakeOutput(1920, 1080, 8);
  PaintScene() {
    settings.units = 1;
    settings.displacementEffect = DISPLACEMENT_NONE;
    settings.effectIntensity = 1.0;
    settings.colorMapping = COLOR_ICON_LAYER;
    settings.transparencyMapping = TRANSPARENCY_CONSTANT;
  }
  tilvane::DrawContext<PF_Pixel> Context(int32_t half) {
    return tilvane::MakeDrawContext<PF_Pixel>(
        settings, tilvane::GridGeometry{static_cast<float>(half), half, half, 3, 3}, out.record());
  }
  tilvane::CellState Cell() const {
    tilvane::CellState cell{};
    cell.cellLuminance = 1.0f;
    cell.icon = icon->record();
    cell.iconWidth = 3;
    cell.iconHeight = 3;
    return cell;
  }
};

// The first chunk a member draws holds it up for half a second, after the caller
// has waited (20 s at most) for it to start: a member the system set aside.
struct SetAside {
  std::atomic<bool> memberStarted{false};
  std::atomic<bool> heldUp{false};
};
SetAside* gSetAside = nullptr;
std::thread::id gCaller;

// The process's memory of lateness wiped: earlier renders may have sent the
// caller alone, and later ones must share again.
void ForgetLateness() {
  SharingMemory& memory = SharingMemory::Process();
  memory.aloneUntilNs = 0;
  memory.lateShift = 0;
  memory.onTimeRuns = 0;
}

// For one test: the drawer RowsWithAMemberSetAside holds up a member called
// from here, starting from, and leaving, a process that remembers no lateness.
class MemberSetAside {
 public:
  MemberSetAside() {
    ForgetLateness();
    gSetAside = &setAside_;
    gCaller = std::this_thread::get_id();
  }
  ~MemberSetAside() {
    gSetAside = nullptr;
    ForgetLateness();
  }
  bool heldUp() const { return setAside_.heldUp; }

 private:
  SetAside setAside_;
};

void RowsWithAMemberSetAside(const tilvane::DrawContext<PF_Pixel>& context,
                             const tilvane::CellWalk& walk, int64_t firstRow, int64_t endRow) {
  tilvane::DrawWindowRows(context, walk, firstRow, endRow);
  SetAside& s = *gSetAside;
  if (std::this_thread::get_id() == gCaller) {
    for (int ms = 0; !s.memberStarted && ms < 20000; ++ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  } else if (!s.heldUp.exchange(true)) {
    s.memberStarted = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

TEST(CellPainter, TheTeamReportsHowManyCellsItSharedAndWhy) {
  using tilvane::CellRoute;
  using tilvane::SimdPath;
  struct Case {
    const char* name;
    int threads;
    int32_t half;  // the window spans 2 × half + 1 rows and columns
    CellRoute route;
  };
  for (const Case c : {Case{"one thread", 1, 40, CellRoute::kTeamOfOne},
                       Case{"15 × 15 pixels", 2, 7, CellRoute::kTooSmall},
                       Case{"81 × 81 pixels", 2, 40, CellRoute::kQueued}}) {
    SCOPED_TRACE(c.name);
    PaintScene scene;
    const tilvane::DrawContext<PF_Pixel> context = scene.Context(c.half);
    // Whatever a busy machine makes of the team's joins.
    tilvane::CellPainter<PF_Pixel> painter(
        context, tilvane::RowDrawerFor<PF_Pixel>(SimdPath::kScalar),
        tilvane::RenderOptions{SimdPath::kScalar, c.threads, /*alwaysShare=*/true});
    for (int i = 0; i < 5; ++i) painter.Paint(scene.Cell(), 0, 0);
    EXPECT_EQ(painter.tally().Cells(c.route), 5);
  }

  PaintScene scene;
  // 141 × 141 pixels: too many to queue, shared.
  const tilvane::DrawContext<PF_Pixel> context = scene.Context(70);
  MemberSetAside setAside;
  {
    tilvane::CellPainter<PF_Pixel> painter(context, {SimdPath::kScalar, &RowsWithAMemberSetAside},
                                           tilvane::RenderOptions{SimdPath::kScalar, 2});
    painter.Paint(scene.Cell(), 0, 0);
    EXPECT_EQ(painter.tally().Cells(CellRoute::kShared), 1) << "a render starts with the team";
    EXPECT_EQ(painter.tally().lateJoins, 1);
    EXPECT_GE(painter.tally().lateNs, 400'000'000);
    painter.Paint(scene.Cell(), 0, 0);
    EXPECT_EQ(painter.tally().Cells(CellRoute::kAlone), 1) << "the next cell is the caller's";
  }
  EXPECT_TRUE(setAside.heldUp()) << "a member drew a chunk";
}

TEST(CellPainter, QueuedCellsAreDrawnBeforeTheNextCellAndAMemberSetAsideSendsTheCallerAlone) {
  using tilvane::CellRoute;
  using tilvane::SimdPath;
  PaintScene scene;
  const tilvane::DrawContext<PF_Pixel> context = scene.Context(40);
  MemberSetAside setAside;
  {
    tilvane::CellPainter<PF_Pixel> painter(context, {SimdPath::kScalar, &RowsWithAMemberSetAside},
                                           tilvane::RenderOptions{SimdPath::kScalar, 2});
    painter.Paint(scene.Cell(), 0, 0);
    EXPECT_EQ(painter.tally().Cells(CellRoute::kQueued), 1);
    // One column of 81 rows at the output's right edge: drawn by the caller
    // once every lane is drawn, the member's too. (A loaded machine may also
    // have kept the member from coming within its wake time: late twice.)
    painter.Paint(scene.Cell(), 0, 24);
    EXPECT_EQ(painter.tally().Cells(CellRoute::kTooSmall), 1);
    EXPECT_GE(painter.tally().memberLaneCells, 1);
    EXPECT_GE(painter.tally().lateJoins, 1);
    EXPECT_GE(painter.tally().lateNs, 400'000'000);
    const int64_t alone = painter.tally().Cells(CellRoute::kAlone);
    painter.Paint(scene.Cell(), 0, 0);
    EXPECT_EQ(painter.tally().Cells(CellRoute::kAlone), alone + 1)
        << "the next cell is the caller's";
  }
  EXPECT_TRUE(setAside.heldUp());
}

}  // namespace
}  // namespace tilvane_test
