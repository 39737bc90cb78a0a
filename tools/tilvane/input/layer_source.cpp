#include "tools/tilvane/input/layer_source.h"

#include <algorithm>
#include <map>

#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {

namespace {

int64_t MoviePictureAt(const MovieTimes& movie, int32_t time, uint32_t scale, bool loop) {
  // In units of 1 / (2 × scale × tickDen) seconds, where half a tick is whole.
  const __int128 perTick = static_cast<__int128>(movie.tickNum) * scale;
  __int128 at = static_cast<__int128>(time) * 2 * movie.tickDen;
  // A movie that ends where it starts has no length to loop over.
  if (const __int128 period = 2 * perTick * movie.end; loop && period > 0) {
    at -= FloorDiv(at, period) * period;
  }
  const auto after = std::upper_bound(movie.starts.begin(), movie.starts.end(), at,
                                      [&](__int128 t, int64_t start) {
                                        return t < (2 * static_cast<__int128>(start) - 1) * perTick;
                                      });
  return after == movie.starts.begin() ? 0 : (after - movie.starts.begin()) - 1;
}

}  // namespace

int64_t LayerPictureAt(const Layer& layer, int32_t time, int32_t step, uint32_t scale,
                       std::optional<Rate> rate, bool loop) {
  // A scale of 0 counts no seconds: no picture but the first has a time.
  if (scale == 0) return 0;
  if (const MovieTimes* movie = layer.movieTimes())
    return MoviePictureAt(*movie, time, scale, loop);
  const int64_t count = layer.frameCount();
  if (!rate && step <= 0) return 0;
  const Rate r = rate ? *rate : Rate{scale, step};
  const int64_t shown = static_cast<int64_t>(FloorDiv(static_cast<__int128>(time) * r.num,
                                                      static_cast<__int128>(scale) * r.den)) -
                        layer.firstFrame();
  if (loop) return (shown % count + count) % count;
  return std::clamp<int64_t>(shown, 0, count - 1);
}

void LayerUsage::shown(int64_t picture) {
  int64_t seen = kNone;
  // Once a second picture is seen it stays several, whatever the order.
  if (!picture_.compare_exchange_strong(seen, picture) && seen != picture) picture_ = kSeveral;
}

std::optional<int64_t> LayerUsage::onlyPicture() const {
  const int64_t picture = picture_;
  return picture >= 0 ? std::optional<int64_t>(picture) : std::nullopt;
}

void FailureSlot::record(const std::string& message) {
  std::lock_guard lock(mutex_);
  if (!message_) message_ = message;
}

std::optional<std::string> FailureSlot::first() const {
  std::lock_guard lock(mutex_);
  return message_;
}

namespace {

bool AnyVisible(const standin::World& w) {
  for (int32_t y = 0; y < w.height(); ++y) {
    for (int32_t x = 0; x < w.width(); ++x) {
      if (w.depth() == 16 ? w.at16(x, y).alpha != 0 : w.at8(x, y).alpha != 0) return true;
    }
  }
  return false;
}

class CachedLayer {
 public:
  CachedLayer(std::shared_ptr<const Layer> layer, std::shared_ptr<FailureSlot> failures,
              SourceOptions options)
      : layer_(std::move(layer)), failures_(std::move(failures)), options_(std::move(options)) {}

  standin::WorldPtr frameAt(const standin::LayerRequest& request) {
    // One message per fault: once a frame has failed, nothing more is read.
    if (failures_->first()) return nullptr;
    const int64_t index = LayerPictureAt(*layer_, request.time, request.timeStep, request.timeScale,
                                         options_.rate, options_.loop);
    const int64_t key = index * 2 + (request.depth == 16 ? 1 : 0);
    // The first thread to want a frame decodes (and fits) it outside the lock,
    // so threads needing different frames proceed together; one wanting the
    // same frame waits for that result rather than fitting it again.
    std::promise<standin::WorldPtr> promise;
    {
      std::unique_lock lock(mutex_);
      if (auto it = cache_.find(key); it != cache_.end()) {
        it->second.lastUse = ++clock_;
        return it->second.frame;
      }
      if (auto it = pending_.find(key); it != pending_.end()) {
        const std::shared_future<standin::WorldPtr> pending = it->second;
        lock.unlock();
        return pending.get();  // null when that thread failed, as it recorded
      }
      pending_.emplace(key, promise.get_future().share());
    }
    standin::WorldPtr frame;
    try {
      // A frame that does not fit gets the plain message with its size.
      frame = WithMemoryFor(
          "frame " + std::to_string(index) + " of " + Quoted(layer_->path()),
          uint64_t(layer_->width()) * uint64_t(layer_->height()) * (request.depth == 16 ? 8 : 4),
          [&] { return layer_->decode(index, request.depth); });
      if (options_.fit != Fit::None &&
          (frame->width() != options_.width || frame->height() != options_.height)) {
        frame = FittedFrame(*frame, options_.fit, options_.width, options_.height, layer_->path());
        if (options_.usage) ++options_.usage->fitted;
      }
    } catch (const std::exception& e) {
      failures_->record(e.what());
      finish(key, promise, nullptr);
      return nullptr;
    } catch (...) {
      finish(key, promise, nullptr);
      throw;
    }
    if (options_.usage) {
      options_.usage->served = true;
      options_.usage->shown(index);
      if (!options_.usage->visible && AnyVisible(*frame)) options_.usage->visible = true;
    }
    std::lock_guard lock(mutex_);
    auto [it, inserted] = cache_.try_emplace(key, Entry{frame, 0});
    it->second.lastUse = ++clock_;
    if (inserted) {
      bytes_ += Bytes(*frame);
      while (bytes_ > options_.cacheBytes && cache_.size() > 1) Evict(key);
    }
    pending_.erase(key);
    promise.set_value(frame);
    return frame;
  }

 private:
  void finish(int64_t key, std::promise<standin::WorldPtr>& promise, standin::WorldPtr frame) {
    std::lock_guard lock(mutex_);
    pending_.erase(key);
    promise.set_value(std::move(frame));
  }

  struct Entry {
    standin::WorldPtr frame;
    uint64_t lastUse;
  };
  static uint64_t Bytes(const standin::World& w) {
    return uint64_t(w.width()) * uint64_t(w.height()) * (w.depth() == 16 ? 8 : 4);
  }
  void Evict(int64_t keep) {
    auto oldest = cache_.end();
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
      if (it->first != keep &&
          (oldest == cache_.end() || it->second.lastUse < oldest->second.lastUse)) {
        oldest = it;
      }
    }
    bytes_ -= Bytes(*oldest->second.frame);
    cache_.erase(oldest);
  }

  std::shared_ptr<const Layer> layer_;
  std::shared_ptr<FailureSlot> failures_;
  SourceOptions options_;
  std::mutex mutex_;
  std::map<int64_t, Entry> cache_;
  std::map<int64_t, std::shared_future<standin::WorldPtr>> pending_;  // being decoded
  uint64_t bytes_ = 0;
  uint64_t clock_ = 0;
};

}  // namespace

standin::FrameSourcePtr LayerSource(std::shared_ptr<const Layer> layer,
                                    std::shared_ptr<FailureSlot> failures, SourceOptions options) {
  auto cached =
      std::make_shared<CachedLayer>(std::move(layer), std::move(failures), std::move(options));
  return standin::FunctionSource(
      [cached](const standin::LayerRequest& request) { return cached->frameAt(request); });
}

}  // namespace tilvane_tool
