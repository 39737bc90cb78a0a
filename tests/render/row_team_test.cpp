// The render's thread team on its own: every chunk of every job runs exactly
// once and before Run returns, whatever the team's size and however slow
// some chunks are.
#include "src/render/row_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace tilvane_test
