// The words a message shows: the suggestion for a near miss.
#include "tools/tilvane/core/text.h"

#include <gtest/gtest.h>

namespace tilvane_tool {
namespace {

TEST(DidYouMean, AWordTwoNamesStartWithGetsTheNearestOfThem) {
  // Choices come from the plug-in, in its order: the nearest wins, not the first.
  EXPECT_EQ(DidYouMean("--scal", {"--scale-offset", "--scale"}), " (did you mean --scale?)");
  EXPECT_EQ(DidYouMean("--scal", {"--scale", "--scale-offset"}), " (did you mean --scale?)");
  EXPECT_EQ(DidYouMean("vertic", {"vertical-units", "vertical"}), " (did you mean vertical?)");
  // One name it starts: that one, however far.
  EXPECT_EQ(DidYouMean("--rotation", {"--duration", "--rotation-offset"}),
            " (did you mean --rotation-offset?)");
  // Several, none near: no guess.
  EXPECT_EQ(DidYouMean("--time", {"--time-step", "--time-scale"}), "");
}

}  // namespace
}  // namespace tilvane_tool
