// Layers whose times are set by hand, with no file behind them: the time
// arithmetic of a movie or a numbered sequence, tested without decoding.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "tools/tilvane/input/layer.h"

namespace tilvane_test {

class TimedLayer : public tilvane_tool::Layer {
 public:
  // A movie whose pictures start at these ticks.
  static std::shared_ptr<TimedLayer> Movie(tilvane_tool::MovieTimes times) {
    auto layer = std::shared_ptr<TimedLayer>(new TimedLayer("--displacement", "clip.mov"));
    layer->count_ = static_cast<int64_t>(times.starts.size());
    layer->times_ = std::move(times);
    return layer;
  }
  // A numbered sequence of frames first to last.
  static std::shared_ptr<TimedLayer> Plate(const std::string& option, int64_t first, int64_t last) {
    auto layer = std::shared_ptr<TimedLayer>(new TimedLayer(option, "plate.####.png"));
    layer->first_ = first;
    layer->count_ = last - first + 1;
    return layer;
  }

  int64_t frameCount() const override { return count_; }
  const tilvane_tool::MovieTimes* movieTimes() const override {
    return times_ ? &*times_ : nullptr;
  }
  int64_t firstFrame() const override { return first_; }
  standin::WorldPtr decode(int64_t, int) const override {
    throw std::logic_error("a timed layer has no pictures");
  }

 private:
  TimedLayer(const std::string& option, const std::string& path) : Layer(option, path) {
    setSize(2, 2);
  }
  std::optional<tilvane_tool::MovieTimes> times_;
  int64_t first_ = 0;
  int64_t count_ = 1;
};

}  // namespace tilvane_test
