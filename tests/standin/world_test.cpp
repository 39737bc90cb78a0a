// The stand-in host's frame comparison, on which every test that compares
// two renders rests: any channel of any pixel tells two frames apart, and
// the bytes between rows never do.
#include "standin/world.h"

#include <gtest/gtest.h>

namespace {

using standin::World;

void Mark(World& w, int32_t x, int32_t y) {
  if (w.depth() == 16) {
    w.at16(x, y).blue ^= 1;
  } else {
    w.at8(x, y).blue ^= 1;
  }
}

TEST(WorldComparison, FramesDifferingInTheLastPixelOfARowAreDifferent) {
  for (const int depth : {8, 16}) {
    for (const bool bottomUp : {false, true}) {
      SCOPED_TRACE(testing::Message() << depth << " bits" << (bottomUp ? ", bottom-up" : ""));
      const World reference(7, 3, depth, 0, bottomUp);
      for (int32_t y = 0; y < 3; ++y) {
        World other(7, 3, depth, 0, bottomUp);
        ASSERT_TRUE(other.samePixels(reference));
        Mark(other, 6, y);
        EXPECT_FALSE(other.samePixels(reference)) << "row " << y;
        EXPECT_FALSE(reference.samePixels(other)) << "row " << y;
      }
    }
  }
}

TEST(WorldComparison, RowPaddingAndRowOrderAreNotPixels) {
  for (const int depth : {8, 16}) {
    World padded(5, 4, depth, 3 * 8);
    World bottomUp(5, 4, depth, 0, true);
    padded.fill(PF_Pixel16{200, 10, 20, 30});
    bottomUp.fill(PF_Pixel16{200, 10, 20, 30});
    // Scribble on the padding: it belongs to no pixel.
    const PF_EffectWorld& r = *padded.record();
    reinterpret_cast<unsigned char*>(r.data)[r.rowbytes + 5 * (depth / 2)] = 0x77;
    EXPECT_TRUE(padded.samePixels(bottomUp)) << depth << " bits";
    Mark(bottomUp, 4, 3);
    EXPECT_FALSE(padded.samePixels(bottomUp)) << depth << " bits";
  }
}

TEST(WorldComparison, SizeAndDepthMustAgree) {
  EXPECT_FALSE(World(4, 4, 8).samePixels(World(4, 5, 8)));
  EXPECT_FALSE(World(4, 4, 8).samePixels(World(5, 4, 8)));
  EXPECT_FALSE(World(4, 4, 8).samePixels(World(4, 4, 16)));
  EXPECT_FALSE(World(4, 4, 8).samePixels(World::WithoutPixels(4, 4, 8)));
}

}  // namespace
