// The render's thread team on its own: every chunk of every job runs exactly
// once and before Run returns, whatever the team's size and however slow
// some chunks are; the policy that decides whether cells are shared, on a
// clock of the test's; and the painter's account of the cells it shared.
#include "src/render/row_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "src/params/params.h"
#include "src/render/cell_painter.h"
#include "src/render/render_options.h"
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

constexpr int64_t kRound = SharingPolicy::kRoundNs;

// A render's cells on the test's clock: each takes teamNs or aloneNs as the
// policy gives it to the team or not.
struct Cells {
  SharingMemory* memory;
  int64_t teamNs, aloneNs;
  int64_t now = 0;
  TeamTally tally;
  std::unique_ptr<SharingPolicy> policy;

  Cells(SharingMemory* m, int64_t team, int64_t alone, int64_t start)
      : memory(m),
        teamNs(team),
        aloneNs(alone),
        now(start),
        policy(std::make_unique<SharingPolicy>(m, start)) {}

  // Whether the next cell went to the team.
  bool Next() {
    const bool shared = policy->ShareNext(now, 1000, &tally);
    now += shared ? teamNs : aloneNs;
    return shared;
  }
  // The ways of the cells until `until`.
  std::vector<bool> Until(int64_t until) {
    std::vector<bool> ways;
    while (now < until) ways.push_back(Next());
    return ways;
  }
};

bool All(const std::vector<bool>& ways, bool way) {
  for (const bool w : ways) {
    if (w != way) return false;
  }
  return !ways.empty();
}

bool Alternate(const std::vector<bool>& ways) {
  for (size_t i = 1; i < ways.size(); ++i) {
    if (ways[i] == ways[i - 1]) return false;
  }
  return ways.size() > 1;
}

struct Race {
  const char* name;
  int64_t teamNs, aloneNs;  // per cell of 1000 pixels
  bool teamKept;
};

class SharingRounds : public testing::TestWithParam<Race> {};

TEST_P(SharingRounds, TheFasterWayIsKeptTwiceAsLongEachTimeItWinsAgain) {
  const Race& race = GetParam();
  SharingMemory memory;
  Cells cells(&memory, race.teamNs, race.aloneNs, 1'000'000'000);
  int64_t roundStart = cells.now;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    // A round gives cells to both ways in turn...
    EXPECT_TRUE(Alternate(cells.Until(roundStart + kRound)));
    // ...then keeps the faster for 8, 16, 32 rounds' time.
    const int64_t keepEnd = cells.now + (8 * kRound << round);
    EXPECT_TRUE(All(cells.Until(keepEnd - race.aloneNs), race.teamKept));
    cells.Until(keepEnd);
    roundStart = cells.now;
  }
  EXPECT_EQ(cells.tally.rounds, 3);
  EXPECT_EQ(cells.tally.aloneWins, race.teamKept ? 0 : 3);
  EXPECT_EQ(cells.tally.stalls, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Races, SharingRounds,
    testing::Values(Race{"TeamTwiceAsFast", 20'000, 40'000, true},
                    Race{"TeamBarelyFaster", 39'000, 40'000, true},
                    // A member that takes the caller's own core.
                    Race{"TeamSlower", 45'000, 40'000, false},
                    Race{"EvenlyMatchedCellsStayShared", 40'000, 40'000, true}),
    [](const testing::TestParamInfo<Race>& info) { return std::string(info.param.name); });

tilvane::RowTeam::Report RunOf(int chunks, int callerChunks, int64_t callerNs, int64_t totalNs,
                               int64_t endNs) {
  tilvane::RowTeam::Report report;
  report.chunks = chunks;
  report.callerChunks = callerChunks;
  report.callerNs = callerNs;
  report.totalNs = totalNs;
  report.endNs = endNs;
  return report;
}

TEST(SharingPolicy, AJoinHeldUpByAMemberSetAsideSendsTheCallerOnAloneAtOnce) {
  SharingMemory memory;
  Cells cells(&memory, 20'000, 40'000, 0);
  cells.Until(kRound);
  ASSERT_TRUE(All(cells.Until(2 * kRound), true)) << "the faster team is kept";
  // Two chunks; the caller drew one in 10 µs and waited 3 ms for the other.
  struct Case {
    int64_t waitNs;
    bool stall;
  };
  for (const Case c : {Case{30'000, false}, Case{3'000'000, true}}) {
    SCOPED_TRACE(testing::Message() << "a wait of " << c.waitNs << " ns");
    cells.policy->Record(RunOf(2, 1, 10'000, 10'000 + c.waitNs, cells.now), &cells.tally);
    EXPECT_EQ(cells.Next(), !c.stall);
  }
  EXPECT_EQ(cells.tally.stalls, 1);
  EXPECT_EQ(cells.tally.aloneWins, 1);
  // Alone for 16 times the 3 ms lost (more than 8 rounds' time), and 16
  // times more what the team then took to stop; then both ways are timed again.
  cells.policy->ChargeTeam(1'000'000);
  const int64_t keepEnd =
      cells.now - cells.aloneNs + SharingPolicy::kLossFactor * (3'000'000 + 1'000'000);
  EXPECT_TRUE(All(cells.Until(keepEnd - cells.aloneNs), false));
  cells.Until(keepEnd);
  EXPECT_TRUE(Alternate(cells.Until(keepEnd + kRound)));
  // A run the caller drew no chunk of tells nothing.
  cells.policy->Record(RunOf(2, 0, 0, 5'000'000, cells.now), &cells.tally);
  EXPECT_EQ(cells.tally.stalls, 1);
}

TEST(SharingPolicy, TheNextRenderStartsWithTheWayKeptUntilItsTimeIsUp) {
  for (const bool teamFaster : {true, false}) {
    SCOPED_TRACE(teamFaster ? "team kept" : "caller alone kept");
    SharingMemory memory;
    int64_t keptUntil = 0;
    {
      Cells first(&memory, teamFaster ? 20'000 : 60'000, 40'000, 0);
      first.Until(kRound);
      keptUntil = first.now + 8 * kRound;
      first.Until(first.now + kRound);
    }
    // A render within the time kept goes on that way from its first cell.
    Cells second(&memory, 20'000, 40'000, keptUntil - 4 * kRound);
    EXPECT_TRUE(All(second.Until(keptUntil - 4 * kRound + kRound), teamFaster));
    second.policy.reset();
    // One after it times both ways again.
    Cells third(&memory, 20'000, 40'000, keptUntil + kRound);
    EXPECT_TRUE(Alternate(third.Until(keptUntil + 2 * kRound)));
  }
}

// Painting through the team: one thread that asks for no team, cells too
// small to share, and a member the system puts aside, each reported as such.
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
                       Case{"15 × 15 pixels", 2, 7, CellRoute::kTooSmall}}) {
    SCOPED_TRACE(c.name);
    PaintScene scene;
    const tilvane::DrawContext<PF_Pixel> context = scene.Context(c.half);
    tilvane::CellPainter<PF_Pixel> painter(context,
                                           tilvane::RowDrawerFor<PF_Pixel>(SimdPath::kScalar),
                                           tilvane::RenderOptions{SimdPath::kScalar, c.threads});
    for (int i = 0; i < 5; ++i) painter.Paint(scene.Cell(), 0, 0);
    EXPECT_EQ(painter.tally().Cells(c.route), 5);
  }

  // A fresh start: the process's last render may have kept either way.
  SharingMemory::Process().keepUntilNs = 0;
  PaintScene scene;
  const tilvane::DrawContext<PF_Pixel> context = scene.Context(40);
  SetAside setAside;
  gSetAside = &setAside;
  gCaller = std::this_thread::get_id();
  {
    tilvane::CellPainter<PF_Pixel> painter(context, {SimdPath::kScalar, &RowsWithAMemberSetAside},
                                           tilvane::RenderOptions{SimdPath::kScalar, 2});
    painter.Paint(scene.Cell(), 0, 0);
    EXPECT_EQ(painter.tally().Cells(CellRoute::kShared), 1) << "a round starts with the team";
    EXPECT_EQ(painter.tally().stalls, 1);
    painter.Paint(scene.Cell(), 0, 0);
    EXPECT_EQ(painter.tally().Cells(CellRoute::kAlone), 1) << "the next cell is the caller's";
    EXPECT_EQ(painter.tally().aloneWins, 1);
  }
  gSetAside = nullptr;
  EXPECT_TRUE(setAside.heldUp) << "a member drew a chunk";
}

}  // namespace
}  // namespace tilvane_test
