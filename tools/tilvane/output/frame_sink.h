// Where rendered frames go when they are not written one file each.
#pragma once

#include <cstddef>

#include "standin/world.h"

namespace tilvane_tool {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // Takes the frame of job `index` (jobs are taken in order, by any thread);
  // may wait while the sink is full. Throws what the sink met.
  virtual void put(size_t index, standin::World frame) = 0;
  // The render failed: frames still to come never will; wakes every put.
  virtual void abort() = 0;
};

}  // namespace tilvane_tool
