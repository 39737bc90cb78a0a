// A movie job's intermediate frames: the effect's output exactly as it came
// out of the render, so that the join hands the movie writer the very
// pictures one render of the whole range would have, and the movie is the
// same to the bit. Each file is the host's ARGB rows, 8 or 16 bits, in this
// machine's byte order, deflated; written whole or not at all.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "standin/world.h"
#include "tools/tilvane/output/frame_sink.h"

namespace tilvane_tool {

// Throws WriteError naming the file.
void WriteFrameFile(const std::string& path, const standin::World& frame);

// Throws UsageError naming the file when it is not one WriteFrameFile wrote
// at this size and depth.
standin::World ReadFrameFile(const std::string& path, int32_t width, int32_t height, int depth);

// A sink that writes job i's frame to path(i): a task's frames of a movie.
class FrameFileSink : public FrameSink {
 public:
  explicit FrameFileSink(std::function<std::string(size_t)> path) : path_(std::move(path)) {}
  void put(size_t index, standin::World frame) override { WriteFrameFile(path_(index), frame); }
  void abort() override {}

 private:
  std::function<std::string(size_t)> path_;
};

}  // namespace tilvane_tool
