// Serving a layer to the host: the picture for a time (held at the ends or
// looped), and a cache of decoded frames shared by every thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "standin/frame_source.h"
#include "tools/tilvane/core/rate.h"
#include "tools/tilvane/input/fitting.h"
#include "tools/tilvane/input/layer.h"

namespace tilvane_tool {

// The first failure met while serving layer frames during a render; the host
// cannot carry an exception through the effect, so the source records it.
class FailureSlot {
 public:
  void record(const std::string& message);
  std::optional<std::string> first() const;

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> message_;
};

// What a source saw of its layer during a render.
struct LayerUsage {
  std::atomic<bool> served{false};   // some frame was decoded
  std::atomic<bool> visible{false};  // some decoded frame has a pixel with alpha above 0
  std::atomic<int64_t> fitted{0};    // frames resized to the output (each once per job)

  // Told of each picture decoded, which every picture served was.
  void shown(int64_t picture);
  // The one picture served, when all were one; none before any or after a second.
  std::optional<int64_t> onlyPicture() const;

 private:
  static constexpr int64_t kNone = -1, kSeveral = -2;
  std::atomic<int64_t> picture_{kNone};
};

struct SourceOptions {
  bool loop = false;  // repeat the frames in time instead of holding the last one
  // A numbered layer's own rate; none: one frame a composition frame.
  std::optional<Rate> rate;
  Fit fit = Fit::None;  // frames of another size are fitted to width × height
  int32_t width = 0;
  int32_t height = 0;
  std::shared_ptr<LayerUsage> usage;  // told about every frame decoded, when set
  uint64_t cacheBytes = uint64_t{2} << 30;
};

// Serves a layer to the host: time t shows the picture LayerPictureAt gives. Decoded frames are
// cached (shared by all threads) up to cacheBytes, fitted when the options say so; a frame several
// threads want at once is decoded and fitted by one of them while the others
// wait for it. After the first failure it serves no pixels.
standin::FrameSourcePtr LayerSource(std::shared_ptr<const Layer> layer,
                                    std::shared_ptr<FailureSlot> failures,
                                    SourceOptions options = {});

// The picture a layer shows at host time `time` (in 1/scale seconds, a
// composition frame being step of them), held at the ends as the host's rule
// says, or repeated with loop. A movie shows its last picture whose
// presentation time is at or before it (within half a tick of the movie's
// time base, which rounds the times it holds); a numbered layer its frame
// floor(seconds × rate), at its own rate or else the composition's. A scale
// of 0 shows the first picture; a movie of no length is not looped.
int64_t LayerPictureAt(const Layer& layer, int32_t time, int32_t step, uint32_t scale,
                       std::optional<Rate> rate, bool loop);

}  // namespace tilvane_tool
