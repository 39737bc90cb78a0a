#include "standin/frame_source.h"

#include <stdexcept>
#include <utility>

namespace standin {
namespace {

class Still : public FrameSource {
 public:
  explicit Still(WorldPtr frame) : frame_(std::move(frame)) {}
  WorldPtr frameAt(const LayerRequest& request) override {
    return frame_ && frame_->depth() == request.depth ? frame_ : nullptr;
  }

 private:
  WorldPtr frame_;
};

class FrameList : public FrameSource {
 public:
  explicit FrameList(std::vector<WorldPtr> frames) : frames_(std::move(frames)) {
    if (frames_.empty()) throw std::invalid_argument("a frame list needs at least one frame");
  }
  WorldPtr frameAt(const LayerRequest& request) override {
    const auto& frame = frames_[static_cast<size_t>(
        FrameIndexAt(request.time, request.timeStep, static_cast<int64_t>(frames_.size())))];
    return frame && frame->depth() == request.depth ? frame : nullptr;
  }

 private:
  std::vector<WorldPtr> frames_;
};

class Function : public FrameSource {
 public:
  explicit Function(std::function<WorldPtr(const LayerRequest&)> f) : f_(std::move(f)) {}
  WorldPtr frameAt(const LayerRequest& request) override { return f_(request); }

 private:
  std::function<WorldPtr(const LayerRequest&)> f_;
};

}  // namespace

int64_t FrameIndexAt(int32_t time, int32_t timeStep, int64_t count) {
  if (count <= 0) return 0;
  // A zero or negative step has no frames to count: the first frame shows.
  int64_t index = 0;
  if (timeStep > 0) {
    const int64_t t = time;
    index = t >= 0 ? t / timeStep : -((-t + timeStep - 1) / timeStep);
  }
  if (index < 0) return 0;
  return index >= count ? count - 1 : index;
}

FrameSourcePtr StillSource(WorldPtr frame) { return std::make_shared<Still>(std::move(frame)); }

FrameSourcePtr FrameListSource(std::vector<WorldPtr> frames) {
  return std::make_shared<FrameList>(std::move(frames));
}

FrameSourcePtr FunctionSource(std::function<WorldPtr(const LayerRequest&)> frameAt) {
  return std::make_shared<Function>(std::move(frameAt));
}

}  // namespace standin
