// Numbered file names: the frame number's place in a name, as a run of '#'
// (its length is the width) or printf's "%d" / "%0Nd". OpenImageIO's own
// pattern parsing reads '#' as four digits each, so the tool keeps its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tilvane_tool {

// A frame number in a file name: a run of '#' (its length is the width) or a
// printf-style "%d" / "%0Nd".
struct FramePattern {
  std::string prefix;
  std::string suffix;
  int width = 0;

  static std::optional<FramePattern> Find(const std::string& path);
  std::string name(int64_t frame) const;
  // The frame number a file name carries, if it matches the pattern.
  std::optional<int64_t> match(const std::string& path) const;
};

// Ranges of numbers, e.g. "7-8 and 12".
std::string NumberRanges(const std::vector<std::pair<int64_t, int64_t>>& ranges);

}  // namespace tilvane_tool
