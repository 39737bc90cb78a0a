// Where rendered frames go when they are not written one file each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "standin/world.h"
#include "tools/tilvane/core/time_base.h"

namespace tilvane_tool {

// The frames a sink is handed, and the rate they run at.
struct FrameFormat {
  int32_t width = 0;
  int32_t height = 0;
  int depth = 8;           // of the frames handed in
  TimeBase time;           // the rate, one tick of the movie's time base a frame
  std::string colorSpace;  // "" the effect's sRGB encoding
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // Takes the frame of job `index` (jobs are taken in order, by any thread);
  // may wait while the sink is full. Throws what the sink met.
  virtual void put(size_t index, standin::World frame) = 0;
  // The render failed: frames still to come never will; wakes every put.
  virtual void abort() = 0;
  // Whether the frames it took are on disk: a stream's went to a reader, so
  // the record of what is on disk says nothing of them.
  virtual bool onDisk() const { return true; }
};

}  // namespace tilvane_tool
