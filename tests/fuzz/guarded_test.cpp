// The fences around the pixels the hostile host lends: every row can be
// reached, and the row one stride beyond either end cannot, whether the
// mapping is new or kept from a world of another height.
#include "fuzz/guarded.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

using fuzz::GuardedPixels;
using fuzz::RowLayout;

// Whether the process may read the byte at p, asked of the kernel, so that a
// no-access page answers instead of faulting.
bool Readable(const unsigned char* p) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const bool readable = write(fds[1], p, 1) == 1;
  close(fds[0]);
  close(fds[1]);
  return readable;
}

struct Shape {
  int32_t height;
  RowLayout layout;
  bool bottomUp;
};

std::string Name(const ::testing::TestParamInfo<Shape>& info) {
  const Shape& s = info.param;
  return std::to_string(s.height) + (s.layout == RowLayout::Packed ? "Packed" : "GuardedRows") +
         (s.bottomUp ? "BottomUp" : "TopDown");
}

class GuardedPixelsFence : public ::testing::TestWithParam<Shape> {
 protected:
  void ExpectFenced(const GuardedPixels& w) {
    const Shape s = GetParam();
    for (int32_t y = 0; y < s.height; ++y) {
      EXPECT_TRUE(Readable(w.Row(y)) && Readable(w.Row(y) + w.RowSize() - 1)) << "row " << y;
    }
    const int32_t lowest = s.bottomUp ? s.height - 1 : 0;
    const int32_t highest = s.bottomUp ? 0 : s.height - 1;
    const size_t stride = static_cast<size_t>(std::abs(w.rowbytes()));
    EXPECT_FALSE(Readable(w.Row(highest) + stride)) << "the row after the last in memory";
    // Packed rows have guard bytes, not a page, before the block.
    if (s.layout == RowLayout::GuardedRows) {
      EXPECT_FALSE(Readable(w.Row(lowest) - stride)) << "the row before the first in memory";
    }
  }
};

TEST_P(GuardedPixelsFence, TheRowBeyondEitherEndFaults) {
  const Shape s = GetParam();
  const auto make = [&s](int32_t height) {
    return GuardedPixels(3, height, 4, s.layout, 0, s.bottomUp, false);
  };
  // Mappings are kept by the power of two at or above the height: a taller
  // world leaves one with more rows than the next needs.
  int32_t taller = 1;
  while (taller < s.height) taller *= 2;
  { const GuardedPixels first = make(taller); }
  {
    const GuardedPixels reused = make(s.height);
    ExpectFenced(reused);
  }
  const GuardedPixels again = make(s.height);
  ExpectFenced(again);
}

INSTANTIATE_TEST_SUITE_P(Heights, GuardedPixelsFence,
                         ::testing::Values(Shape{1, RowLayout::GuardedRows, false},
                                           Shape{3, RowLayout::GuardedRows, false},
                                           Shape{3, RowLayout::GuardedRows, true},
                                           Shape{4, RowLayout::GuardedRows, false},
                                           Shape{5, RowLayout::GuardedRows, true},
                                           Shape{7, RowLayout::GuardedRows, false},
                                           Shape{3, RowLayout::Packed, false},
                                           Shape{5, RowLayout::Packed, true}),
                         Name);

}  // namespace
