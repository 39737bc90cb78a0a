// The render of many frames, driven in this process through a frame sink
// that sees every frame handed over and when the render gives up.
#include "tools/tilvane/job/render_job.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {
namespace {

// Refuses frame 0; holds every other frame until the render aborts, so that
// a frame in flight elsewhere is still there when the failure lands.
class RefusingSink : public FrameSink {
 public:
  void put(size_t index, standin::World) override {
    if (index == 0) throw WriteError("frame 0 refused");
    std::unique_lock lock(mutex_);
    ++taken_;
    aborted_.wait_for(lock, std::chrono::seconds(20), [this] { return abort_; });
  }
  void abort() override {
    {
      std::lock_guard lock(mutex_);
      abort_ = true;
    }
    aborted_.notify_all();
  }
  int taken() {
    std::lock_guard lock(mutex_);
    return taken_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable aborted_;
  bool abort_ = false;
  int taken_ = 0;
};

TEST(RenderJob, AFailedFrameStopsEveryWorkerAfterItsFrameInFlight) {
  const standin::PluginLibrary plugin(TILVANE_PLUGIN_PATH);
  Scene scene;
  scene.width = 16;
  scene.height = 12;
  scene.icon = Layer::FromFrames({std::make_shared<standin::World>(8, 6, 8)});
  const FrameJobs jobs{0, 39, "unused.png", std::nullopt, 0};
  constexpr int kWorkers = 3;
  RefusingSink sink;
  EXPECT_THROW(RenderFrames(plugin, scene, jobs, kWorkers, false, &sink), WriteError);
  // At most one frame each from the other workers, taken before the failure.
  EXPECT_LE(sink.taken(), kWorkers - 1);
}

}  // namespace
}  // namespace tilvane_tool
