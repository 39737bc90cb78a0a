// Frames handed in by the render's threads in any order, passed on in job
// order from a thread of its own to the one writer of a movie or a stream,
// which take their frames one after another.
#pragma once

#include <cstddef>
#include <memory>

#include "standin/world.h"
#include "tools/tilvane/output/frame_sink.h"

namespace tilvane_tool {

class OrderedSink : public FrameSink {
 public:
  // The writer takes jobs 0 to total - 1, in order. At most `window` frames
  // wait for it, so memory stays flat however many frames there are.
  OrderedSink(std::unique_ptr<FrameWriter> writer, size_t total, size_t window);
  ~OrderedSink() override;

  void put(size_t index, standin::World frame) override;
  void abort() override;
  bool onDisk() const override;
  // After the last put: waits for the last write, then finishes the writer.
  // Throws what the writer threw.
  void finish();

 private:
  struct Queue;
  std::unique_ptr<Queue> queue_;
};

}  // namespace tilvane_tool
