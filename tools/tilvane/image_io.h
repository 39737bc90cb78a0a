// Image files in and out: layers read from stills, numbered sequences and
// movies, frames written through a temporary file.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standin/frame_source.h"
#include "standin/world.h"
#include "tools/tilvane/output_file.h"

namespace tilvane_tool {

// A frame number in a file name: a run of '#' (its length is the width) or a
// printf-style "%d" / "%0Nd".
struct FramePattern {
  std::string prefix;
  std::string suffix;
  int width = 0;

  static std::optional<FramePattern> Find(const std::string& path);
  std::string name(int64_t frame) const;
  // The frame number a file name carries, if it matches the pattern.
  std::optional<int64_t> match(const std::string& path) const;
};

// An input layer: a still, a numbered sequence (the frames found on disk, in
// order from the lowest number) or a movie (every frame one layer frame).
class LayerFile {
 public:
  // option names the command-line option in messages. Throws UsageError when
  // the file is missing or unreadable, or a sequence has no frames.
  static std::shared_ptr<const LayerFile> Open(const std::string& option, const std::string& path);
  // A layer held in memory, for the built-in demo.
  static std::shared_ptr<const LayerFile> FromFrames(std::vector<standin::WorldPtr> frames);

  int64_t frameCount() const;
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // Frame index at depth 8 or 16, premultiplied. Throws UsageError.
  standin::WorldPtr decode(int64_t index, int depth) const;
  std::string describe() const;
  // The files the layer reads (none for a layer held in memory).
  const std::vector<std::string>& files() const { return files_; }

 private:
  std::string option_;
  std::string path_;
  std::vector<std::string> files_;  // one per frame, or the movie alone
  int64_t movieFrames_ = 0;
  std::vector<standin::WorldPtr> frames_;  // in-memory layers
  int32_t width_ = 0;
  int32_t height_ = 0;
};

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

// Serves a layer to the host: time t shows frame floor(t / step), held at the
// ends. Decoded frames are cached (shared by all threads) up to cacheBytes.
standin::FrameSourcePtr LayerSource(std::shared_ptr<const LayerFile> layer,
                                    std::shared_ptr<FailureSlot> failures,
                                    uint64_t cacheBytes = uint64_t{2} << 30);

// Writes the frame to path: PNG and TIFF straight alpha at the frame's depth,
// EXR premultiplied half floats, JPEG 8-bit over black, as EncodeAndWrite does
// (a complete file or none). Throws WriteError, or UsageError when memory is short.
void WriteImage(const standin::World& frame, const std::string& path);

}  // namespace tilvane_tool
