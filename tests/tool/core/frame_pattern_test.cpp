// Numbered file names: where the number goes, how it is padded, and which
// names on disk belong to a pattern.
#include "tools/tilvane/core/frame_pattern.h"

#include <gtest/gtest.h>

namespace tilvane_tool {
namespace {

struct Found {
  std::string path;
  bool numbered;
  std::string prefix, suffix;
  int width;
};

void PrintTo(const Found& f, std::ostream* os) { *os << f.path; }

class Finding : public ::testing::TestWithParam<Found> {};

TEST_P(Finding, TheNumbersPlaceIsFoundInTheNameOnly) {
  const Found& f = GetParam();
  const auto pattern = FramePattern::Find(f.path);
  ASSERT_EQ(pattern.has_value(), f.numbered) << f.path;
  if (!pattern) return;
  EXPECT_EQ(pattern->prefix, f.prefix);
  EXPECT_EQ(pattern->suffix, f.suffix);
  EXPECT_EQ(pattern->width, f.width);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Finding,
    ::testing::Values(
        Found{"out.####.png", true, "out.", ".png", 4}, Found{"out.#.png", true, "out.", ".png", 1},
        Found{"shots/a##", true, "shots/a", "", 2}, Found{"out.%04d.png", true, "out.", ".png", 4},
        Found{"out.%d.png", true, "out.", ".png", 0},
        // The first run of '#' is the number; '%' without d is text.
        Found{"a#b#.png", true, "a", "b#.png", 1}, Found{"50%.%03d.exr", true, "50%.", ".exr", 3},
        // A folder's '#' or '%d' is part of the folder.
        Found{"take#1/out.png", false, "", "", 0}, Found{"run%d/out.png", false, "", "", 0},
        Found{"out.png", false, "", "", 0}, Found{"100%.png", false, "", "", 0},
        // A width beyond reason is capped.
        Found{"x%0999d.png", true, "x", ".png", 64}));

struct Named {
  std::string pattern;
  int64_t frame;
  std::string name;
};

void PrintTo(const Named& n, std::ostream* os) { *os << n.pattern << " " << n.frame; }

class Naming : public ::testing::TestWithParam<Named> {};

// A name is padded to the width, never cut, and matches back to its frame.
TEST_P(Naming, FramesArePaddedAndReadBack) {
  const Named& n = GetParam();
  const FramePattern pattern = *FramePattern::Find(n.pattern);
  EXPECT_EQ(pattern.name(n.frame), n.name);
  EXPECT_EQ(pattern.match(n.name), n.frame) << n.name;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Naming,
    ::testing::Values(Named{"o.####.png", 7, "o.0007.png"}, Named{"o.####.png", 0, "o.0000.png"},
                      Named{"o.##.png", 12345, "o.12345.png"}, Named{"o.%d.png", 42, "o.42.png"},
                      Named{"o.%d.png", 0, "o.0.png"}, Named{"o.%06d.tif", 31, "o.000031.tif"}));

// Names on disk that the pattern would not have written are not its frames.
TEST(FramePatternMatch, OnlyNamesThePatternWritesMatch) {
  const FramePattern four = *FramePattern::Find("in.####.png");
  const FramePattern any = *FramePattern::Find("in.%d.png");
  for (const char* name : {"in.007.png", "in.00007.png", "in.12a4.png", "in..png", "in.0007.jpg",
                           "im.0007.png", "in.-001.png", "in.1234567890123456.png"}) {
    EXPECT_EQ(four.match(name), std::nullopt) << name;
  }
  EXPECT_EQ(four.match("in.12345.png"), 12345);
  EXPECT_EQ(any.match("in.7.png"), 7);
  EXPECT_EQ(any.match("in.0.png"), 0);
  EXPECT_EQ(any.match("in.07.png"), std::nullopt);
}

TEST(NumberRanges, ListsAsPeopleWriteThem) {
  EXPECT_EQ(NumberRanges({}), "");
  EXPECT_EQ(NumberRanges({{3, 3}}), "3");
  EXPECT_EQ(NumberRanges({{7, 8}, {12, 12}}), "7-8 and 12");
  EXPECT_EQ(NumberRanges({{1, 2}, {4, 4}, {6, 9}}), "1-2, 4 and 6-9");
}

}  // namespace
}  // namespace tilvane_tool
