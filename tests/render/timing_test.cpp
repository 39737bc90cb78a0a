// When each cell shows the icon layer: the seeded per-cell time shift, the
// five time mappings and the wrap of the result, seen through the time of
// each cell's icon check-out.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/render/render_scene.h"

namespace tilvane_test {
namespace {

using standin::HostTime;
using standin::World;
using tilvane::kTimeMappingChoices;
using Times = std::vector<int64_t>;

constexpr int32_t kMaxTime = std::numeric_limits<int32_t>::max();
constexpr int32_t kMinTime = std::numeric_limits<int32_t>::min();
constexpr Argb kWhite{255, 255, 255, 255};
constexpr Argb kBlack{255, 0, 0, 0};

// The cell-jitter recurrence, for expected values: state × 214013 + 2531011
// modulo 2^32, each draw the state's bits 16 to 30.
std::vector<int> Draws(uint32_t seed, int count) {
  std::vector<int> draws;
  for (int i = 0; i < count; ++i) {
    seed = seed * 214013u + 2531011u;
    draws.push_back(static_cast<int>((seed >> 16) & 0x7FFF));
  }
  return draws;
}

// Renders a small frame and returns the cells' icon times. Without an icon
// layer there is no grid, so this costs nothing but the host calls.
Times CellTimes(standin::Host& host, const HostTime& time) {
  host.time() = time;
  World out = MakeOutput(4, 4, 8);
  EXPECT_EQ(host.render(out), PF_Err_NONE);
  ExpectBalanced(host);
  return CellIconTimes(host);
}

// An icon and a displacement layer, so the brightness is sampled per cell.
void ShowOver(standin::Host& host, const Argb& displacement) {
  host.setInt(PARAM_UNITS, 2);
  host.setLayer(PARAM_ICON_LAYER, standin::StillSource(Solid(11, 11, 8, kWhite)));
  host.setLayer(PARAM_DISPLACEMENT_LAYER, standin::StillSource(Solid(21, 21, 8, displacement)));
}

Times CellTimesOver(standin::Host& host, const HostTime& time) {
  host.time() = time;
  World out = MakeOutput(21, 21, 8);
  EXPECT_EQ(host.render(out), PF_Err_NONE);
  ExpectBalanced(host);
  return CellIconTimes(host);
}

TEST(RenderTiming, TheGeneratorsDrawsShowAsTheCellsJitter) {
  ASSERT_EQ(Draws(1, 3), (std::vector<int>{41, 18467, 6334}));
  ASSERT_EQ(Draws(12345, 5), (std::vector<int>{7584, 19164, 25795, 22125, 5828}));
  // With "Time Offset" 100, T = 65534 and S = 2: h = 65535 and jitter =
  // r / 32767 × 65535 / 2 = r + r / 65534, which truncates to r itself; the
  // cell's time is then 2r, below T − 1.
  for (const int32_t seed : {1, 12345}) {
    SCOPED_TRACE(seed);
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 3);
    host->setInt(PARAM_SEED, seed);
    host->setFloat(PARAM_TIME_OFFSET, 100);
    Times expected;
    for (int r : Draws(static_cast<uint32_t>(seed), 9)) expected.push_back(2 * r);
    EXPECT_EQ(CellTimes(*host, HostTime{0, 2, 65534, 30}), expected);
  }
}

TEST(RenderTiming, EveryRenderReseedsSoTheSameSettingsGiveTheSameTimes) {
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setFloat(PARAM_TIME_OFFSET, 50);
  const Times first = CellTimes(*host, HostTime{0, 1, 300, 30});
  host->clearLog();
  EXPECT_EQ(CellTimes(*host, HostTime{0, 1, 300, 30}), first);
  host->clearLog();
  host->setInt(PARAM_SEED, 1);
  EXPECT_NE(CellTimes(*host, HostTime{0, 1, 300, 30}), first);
}

TEST(RenderTiming, TimeOffsetFiftyAtThreeHundredFramesShiftsCellsBy34Then87) {
  // u = 7584 / 32767 = 0.23145, h = 300: jitter = trunc(u × 0.5 × 300) = 34,
  // then 87, 118, 101, 26; the last four by the same formula.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 3);
  host->setFloat(PARAM_TIME_OFFSET, 50);
  EXPECT_EQ(CellTimes(*host, HostTime{0, 1, 300, 30}),
            (Times{34, 87, 118, 101, 26, 107, 125, 24, 133}));
}

TEST(RenderTiming, NegativeJitterMovesBackAndNegativeTimesArePinnedToZero) {
  // "Time Offset" −25: jitters −17, −43, −59, −50.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setFloat(PARAM_TIME_OFFSET, -25);
  EXPECT_EQ(CellTimes(*host, HostTime{100, 1, 300, 30}), (Times{83, 57, 41, 50}));
  host->clearLog();
  EXPECT_EQ(CellTimes(*host, HostTime{0, 1, 300, 30}), (Times{0, 0, 0, 0}));
}

TEST(RenderTiming, ConstantShowsTheCurrentTimeWrappedAtTotalMinusOne) {
  // 350 rem 299 = 51 in every cell; the set-up check-out is at the current
  // time itself, and every check-out passes the call's step and scale on.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  EXPECT_EQ(CellTimes(*host, HostTime{350, 3, 300, 24}), (Times{51, 51, 51, 51}));
  EXPECT_EQ(IconCheckoutTimes(*host).front(), 350);
  for (const standin::Call& c : host->callsOf(standin::Op::CheckoutParam)) {
    EXPECT_EQ(c.c, 3);
    EXPECT_EQ(c.d, 24);
  }
  host->clearLog();
  // A whole number of wraps lands on 0, one frame short of it on 298.
  EXPECT_EQ(CellTimes(*host, HostTime{598, 1, 300, 30}), (Times{0, 0, 0, 0}));
  host->clearLog();
  EXPECT_EQ(CellTimes(*host, HostTime{298, 1, 300, 30}), (Times{298, 298, 298, 298}));
  host->clearLog();
  EXPECT_EQ(CellTimes(*host, HostTime{-5, 1, 300, 30}), (Times{0, 0, 0, 0}));
}

TEST(RenderTiming, HorizontalAndVerticalUnitsStepOneFramePerColumnOrRow) {
  // From 297 with T = 300: 297, 298, then 299 wraps to 0 (the wrap is at
  // T − 1, not T).
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 3);
  host->setInt(PARAM_TIME_MAPPING, TIME_HORIZONTAL_UNITS);
  EXPECT_EQ(CellTimes(*host, HostTime{297, 1, 300, 30}),
            (Times{297, 298, 0, 297, 298, 0, 297, 298, 0}));
  host->clearLog();
  host->setInt(PARAM_TIME_MAPPING, TIME_VERTICAL_UNITS);
  EXPECT_EQ(CellTimes(*host, HostTime{297, 1, 300, 30}),
            (Times{297, 297, 297, 298, 298, 298, 0, 0, 0}));
}

TEST(RenderTiming, UnitMappingsScaleColumnPlusJitterByTheTimeStep) {
  // S = 2, h = 301: jitters 17, 44, 59, 50, 13, 53, 63, 12, 66. Cell (0, 1)
  // in "Horizontal Units": 20 + (1 + 44) × 2 = 110; in "Vertical Units":
  // 20 + (0 + 44) × 2 = 108.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 3);
  host->setFloat(PARAM_TIME_OFFSET, 50);
  host->setInt(PARAM_TIME_MAPPING, TIME_HORIZONTAL_UNITS);
  EXPECT_EQ(CellTimes(*host, HostTime{20, 2, 300, 30}),
            (Times{54, 110, 142, 120, 48, 130, 146, 46, 156}));
  host->clearLog();
  host->setInt(PARAM_TIME_MAPPING, TIME_VERTICAL_UNITS);
  EXPECT_EQ(CellTimes(*host, HostTime{20, 2, 300, 30}),
            (Times{54, 108, 138, 122, 48, 128, 150, 48, 156}));
}

TEST(RenderTiming, DisplacementMappingsFollowTheBrightnessNotTheCurrentTime) {
  // White: raw time T, and T rem (T − 1) = 1; black: 0. "Inverse
  // Displacement" swaps them. The current time plays no part.
  struct Case {
    int mapping;
    Argb displacement;
    int64_t time;
  };
  for (const Case& c :
       {Case{TIME_DISPLACEMENT, kWhite, 1}, Case{TIME_DISPLACEMENT, kBlack, 0},
        Case{TIME_INVERSE_DISPLACEMENT, kWhite, 0}, Case{TIME_INVERSE_DISPLACEMENT, kBlack, 1}}) {
    SCOPED_TRACE(testing::Message() << "mapping " << c.mapping << " red " << c.displacement.r);
    auto host = RenderHost();
    host->setInt(PARAM_TIME_MAPPING, c.mapping);
    ShowOver(*host, c.displacement);
    EXPECT_EQ(CellTimesOver(*host, HostTime{123, 1, 300, 30}), Times(4, c.time));
  }
}

TEST(RenderTiming, DisplacementMappingsAddTheJitter) {
  // Black under "Displacement" and white under "Inverse Displacement" leave
  // only the jitter: 34, 87, 118, 101 at "Time Offset" 50.
  for (const auto& [mapping, displacement] :
       {std::pair{TIME_DISPLACEMENT, kBlack}, std::pair{TIME_INVERSE_DISPLACEMENT, kWhite}}) {
    SCOPED_TRACE(mapping);
    auto host = RenderHost();
    host->setInt(PARAM_TIME_MAPPING, mapping);
    host->setFloat(PARAM_TIME_OFFSET, 50);
    ShowOver(*host, displacement);
    EXPECT_EQ(CellTimesOver(*host, HostTime{0, 1, 300, 30}), (Times{34, 87, 118, 101}));
  }
}

TEST(RenderTiming, DisplacementIsSinglePrecisionAndInverseIsDouble) {
  // Pure red gives brightness 255 / 765 = 0.33333334f. "Displacement":
  // 3000 × 0.33333334f rounds to 1000.0f in single precision, time 1000.
  // "Inverse Displacement": 3000 × (1 − 0.3333333432674408) =
  // 1999.99997 in double precision, which truncates to 1999.
  auto host = RenderHost();
  ShowOver(*host, Argb{255, 255, 0, 0});
  host->setInt(PARAM_TIME_MAPPING, TIME_DISPLACEMENT);
  EXPECT_EQ(CellTimesOver(*host, HostTime{0, 1, 3000, 30}), Times(4, 1000));
  host->clearLog();
  host->setInt(PARAM_TIME_MAPPING, TIME_INVERSE_DISPLACEMENT);
  EXPECT_EQ(CellTimesOver(*host, HostTime{0, 1, 3000, 30}), Times(4, 1999));
}

TEST(RenderTiming, DisplacementMultipliesInSinglePrecisionAtSixteenBits) {
  // Red 5120 of 32768 gives brightness 5120 / 98304 = 0.052083332f. 96 times
  // that is 5.0f in single precision but 4.9999998807907104 in double, so the
  // cells show time 5, where a double-precision product would show 4.
  auto host = RenderHost();
  host->setInt(PARAM_UNITS, 2);
  host->setInt(PARAM_TIME_MAPPING, TIME_DISPLACEMENT);
  host->setLayer(PARAM_ICON_LAYER,
                 standin::StillSource(Solid(11, 11, 16, Argb{32768, 32768, 32768, 32768})));
  host->setLayer(PARAM_DISPLACEMENT_LAYER,
                 standin::StillSource(Solid(21, 21, 16, Argb{32768, 5120, 0, 0})));
  host->time() = HostTime{0, 1, 96, 30};
  World out = MakeOutput(21, 21, 16);
  ASSERT_EQ(host->render(out), PF_Err_NONE);
  ExpectBalanced(*host);
  EXPECT_EQ(CellIconTimes(*host), Times(4, 5));
}

TEST(RenderTiming, ATotalTimeOfOneFrameOrLessShowsTimeZero) {
  // T − 1 below 1 leaves nothing to wrap by (a remainder by zero, or by −1
  // for INT_MIN); every mapping gives 0.
  for (const int32_t total : {1, 0, -7, kMinTime}) {
    for (int mapping = TIME_CONSTANT; mapping <= TIME_INVERSE_DISPLACEMENT; ++mapping) {
      SCOPED_TRACE(testing::Message() << "T " << total << " mapping " << mapping);
      auto host = RenderHost();
      host->setInt(PARAM_UNITS, 2);
      host->setInt(PARAM_TIME_MAPPING, mapping);
      host->setFloat(PARAM_TIME_OFFSET, 50);
      EXPECT_EQ(CellTimes(*host, HostTime{kMinTime, 1, total, 30}), Times(4, 0));
      host->clearLog();
      EXPECT_EQ(CellTimes(*host, HostTime{77, 1, total, 30}), Times(4, 0));
    }
  }
}

TEST(RenderTiming, AZeroTimeStepLeavesEveryCellAtTheCurrentTime) {
  // The jitter divides by S: with S = 0 it is defined anyway (saturated or
  // 0), and jitter × 0 adds nothing. Without a displacement sample the
  // brightness is 1: "Displacement" gives 300 rem 299 = 1, its inverse 0.
  // Constant, Horizontal Units, Vertical Units, Displacement, Inverse.
  const int64_t expected[] = {10, 10, 10, 1, 0};
  for (int mapping = TIME_CONSTANT; mapping <= TIME_INVERSE_DISPLACEMENT; ++mapping) {
    SCOPED_TRACE(mapping);
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 2);
    host->setInt(PARAM_TIME_MAPPING, mapping);
    host->setFloat(PARAM_TIME_OFFSET, 50);
    const Times want(4, expected[mapping - 1]);
    EXPECT_EQ(CellTimes(*host, HostTime{10, 0, 300, 30}), want);
  }
}

TEST(RenderTiming, TimeArithmeticDoesNotOverflowThirtyTwoBits) {
  {
    // T + S / 2 = 2^31: jitter = u × 2^30, exact for a float u, and time 2 ×
    // jitter (7584 / 32767 × 2^30 = 248520096 for the first cell).
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 2);
    host->setFloat(PARAM_TIME_OFFSET, 100);
    EXPECT_EQ(CellTimes(*host, HostTime{0, 2, kMaxTime, 30}),
              (Times{497040192, 1255970176, 1690552704, 1450028288}));
  }
  {
    // N + jitter past 2^31 − 1: (2147483637 + 34) rem 299 = 190.
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 1);
    host->setFloat(PARAM_TIME_OFFSET, 50);
    EXPECT_EQ(CellTimes(*host, HostTime{kMaxTime - 10, 1, 300, 30}), (Times{190}));
  }
  {
    // N + column past 2^31 − 1: (2147483647 + k) rem 299 = 166 + k.
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 3);
    host->setInt(PARAM_TIME_MAPPING, TIME_HORIZONTAL_UNITS);
    EXPECT_EQ(CellTimes(*host, HostTime{kMaxTime, 1, 300, 30}),
              (Times{166, 167, 168, 166, 167, 168, 166, 167, 168}));
  }
  {
    // N − 17 below −2^31 stays negative (a 32-bit wrap would make it large
    // and positive), so it is pinned to 0.
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 1);
    host->setFloat(PARAM_TIME_OFFSET, -25);
    EXPECT_EQ(CellTimes(*host, HostTime{kMinTime, 1, 300, 30}), (Times{0}));
  }
}

TEST(RenderTiming, NonFiniteOrHugeTimeOffsetsSaturateTheJitter) {
  struct Case {
    double offset;
    int32_t current;
    int64_t time;
  };
  const double inf = std::numeric_limits<double>::infinity();
  // NaN gives no jitter: 7 stays 7. Huge positive offsets saturate the
  // jitter at 2^31 − 1, which is 166 after the wrap at 299; huge negative
  // ones at −2^31, a negative time pinned to 0.
  for (const Case& c : {Case{std::nan(""), 7, 7}, Case{1e300, 0, 166}, Case{inf, 0, 166},
                        Case{-1e300, kMaxTime, 0}, Case{-inf, 0, 0}}) {
    SCOPED_TRACE(c.offset);
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 2);
    host->param(PARAM_TIME_OFFSET).u.fs_d.value = c.offset;
    EXPECT_EQ(CellTimes(*host, HostTime{c.current, 1, 300, 30}), Times(4, c.time));
  }
}

TEST(RenderTiming, DisplacementTimesBeyondThirtyTwoBitsSaturate) {
  // White brightness at T = 2^31 − 1: the single-precision product is 2^31,
  // outside the 32-bit range, saturated to 2^31 − 1; rem (2^31 − 2) gives 1.
  auto host = RenderHost();
  host->setInt(PARAM_TIME_MAPPING, TIME_DISPLACEMENT);
  ShowOver(*host, kWhite);
  EXPECT_EQ(CellTimesOver(*host, HostTime{0, 1, kMaxTime, 30}), Times(4, 1));
}

TEST(RenderTiming, PopupValuesOutsideTheListMeanConstant) {
  // Constant from 5 with no jitter: every cell at 5; "Horizontal Units"
  // would give 5, 6, 5, 6.
  for (const int32_t value : {0, kTimeMappingChoices + 1, -1, kMaxTime}) {
    SCOPED_TRACE(value);
    auto host = RenderHost();
    host->setInt(PARAM_UNITS, 2);
    host->setInt(PARAM_TIME_MAPPING, value);
    EXPECT_EQ(CellTimes(*host, HostTime{5, 1, 300, 30}), Times(4, 5));
  }
}

}  // namespace
}  // namespace tilvane_test
