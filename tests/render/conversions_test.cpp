// The renderer's float-to-integer conversions, on their own: the fast floor
// must agree with the library floor wherever a cast alone would go wrong.
#include "src/render/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace tilvane {
namespace {

TEST(FastFloor, AgreesWithTheLibraryFloorAtAndAroundWholeNumbers) {
  const double below = std::nextafter(3.0, 0.0);
  const double aboveMinusThree = std::nextafter(-3.0, 0.0);
  for (const double value :
       {3.0, -3.0, 0.0, 1.0, -1.0, below, -below, aboveMinusThree, 0.5, -0.5, 2147483647.0,
        -2147483647.0, 2147483646.5, -2147483647.5, std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min()}) {
    SCOPED_TRACE(testing::Message() << std::hexfloat << value);
    const Floor f = FloorOf(value);
    EXPECT_EQ(f.value, std::floor(value));
    EXPECT_EQ(f.index, static_cast<int32_t>(std::floor(value)));
  }
}

TEST(FastFloor, DoesNotStepDownAtExactIntegersOrNegativeZero) {
  EXPECT_EQ(FloorOf(-3.0).index, -3);
  EXPECT_EQ(FloorOf(-3.0).value, -3.0);
  EXPECT_EQ(FloorOf(7.0).index, 7);
  const Floor zero = FloorOf(-0.0);
  EXPECT_EQ(zero.index, 0);
  EXPECT_EQ(zero.value, 0.0);
  EXPECT_EQ(-0.0 - zero.value, 0.0) << "the fraction of -0.0 is zero";
}

TEST(FastFloor, OutsideTheIntegerRangeSaturatesAndNaNGivesZero) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(FloorOf(2147483648.0).index, kMax);
  EXPECT_EQ(FloorOf(1e300).index, kMax);
  EXPECT_EQ(FloorOf(-2147483648.0).index, kMin);
  EXPECT_EQ(FloorOf(-2147483648.5).index, kMin);
  EXPECT_EQ(FloorOf(-std::numeric_limits<double>::infinity()).index, kMin);
  EXPECT_EQ(FloorOf(std::nan("")).index, 0);
  EXPECT_EQ(FloorOf(-2147483648.5).value, -2147483649.0);
}

}  // namespace
}  // namespace tilvane
