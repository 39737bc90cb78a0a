// A farm job's frames in chunks, one array task each: the one place that
// turns a frame range into tasks and back, so that a task, the join and
// every check count frames alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/tilvane/core/time_base.h"

namespace tilvane_tool {

// Frames first to last, by their absolute numbers, in chunks of `size`.
struct Chunks {
  FrameRange frames;
  int64_t size = 1;
  // The number a numbered output's file for `first` carries (--start-number,
  // else the frame's own); the others follow.
  int64_t firstNumber = 0;

  size_t count() const { return static_cast<size_t>((frames.size() - 1) / size + 1); }
  // Chunk i's frames.
  FrameRange range(size_t i) const;
  // The chunk a frame of the job falls in.
  size_t of(int64_t frame) const { return static_cast<size_t>((frame - frames.first) / size); }
  // The number of a frame's file, as one render of the whole range names it.
  int64_t number(int64_t frame) const { return firstNumber + (frame - frames.first); }
};

// The frames a chunk takes when none is asked for: 20, for which the farm's
// start and join cost well under 5% of the render (README, "Rendering on a
// farm"), or more when 20 would make more tasks than `maxTasks` (Slurm's
// MaxArraySize less one, 1000 by default).
int64_t DefaultChunkSize(int64_t frames, int64_t maxTasks = 1000);

// Sorted frame numbers as runs: {3,4,5,9} -> {{3,5},{9,9}}.
std::vector<std::pair<int64_t, int64_t>> Runs(const std::vector<int64_t>& frames);

// The chunks that hold any of these frames, in order, each once.
std::vector<size_t> ChunksHolding(const Chunks& chunks, const std::vector<int64_t>& frames);

// Chunk indices as Slurm's --array takes them: "0-4", "1,3-5".
std::string ArrayIndices(const std::vector<size_t>& chunks);

}  // namespace tilvane_tool
