#include "tools/tilvane/farm/chunks.h"

#include <algorithm>

namespace tilvane_tool {

FrameRange Chunks::range(size_t i) const {
  const int64_t from = frames.first + static_cast<int64_t>(i) * size;
  return {from, std::min(frames.last, from + size - 1)};
}

int64_t DefaultChunkSize(int64_t frames, int64_t maxTasks) {
  constexpr int64_t kChunk = 20;
  return std::max(kChunk, (frames + maxTasks - 1) / maxTasks);
}

std::vector<std::pair<int64_t, int64_t>> Runs(const std::vector<int64_t>& frames) {
  std::vector<std::pair<int64_t, int64_t>> runs;
  for (const int64_t f : frames) {
    if (!runs.empty() && runs.back().second + 1 == f) {
      runs.back().second = f;
    } else {
      runs.emplace_back(f, f);
    }
  }
  return runs;
}

std::vector<size_t> ChunksHolding(const Chunks& chunks, const std::vector<int64_t>& frames) {
  std::vector<size_t> held;
  for (const int64_t f : frames) {
    if (f < chunks.frames.first || f > chunks.frames.last) continue;
    held.push_back(chunks.of(f));
  }
  std::sort(held.begin(), held.end());
  held.erase(std::unique(held.begin(), held.end()), held.end());
  return held;
}

std::string ArrayIndices(const std::vector<size_t>& chunks) {
  std::vector<int64_t> numbers(chunks.begin(), chunks.end());
  std::string text;
  for (const auto& [a, b] : Runs(numbers)) {
    if (!text.empty()) text += ",";
    text += std::to_string(a);
    if (b != a) text += "-" + std::to_string(b);
  }
  return text;
}

}  // namespace tilvane_tool
