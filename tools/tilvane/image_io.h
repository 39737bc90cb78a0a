// Image files in and out: layers read from stills, numbered sequences and
// movies, frames written through a temporary file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standin/frame_source.h"
#include "standin/world.h"
#include "tools/tilvane/movie_reader.h"
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

// How a layer whose size differs from the output's is fitted to it: none
// (served at its own size, as the host gives a layer), stretched to the
// output's size, or scaled keeping its aspect to cover the output and cropped.
enum class Fit { None, Stretch, Fill };

// An input layer: a still, a numbered sequence (from the lowest number found
// on disk to the highest; a missing number holds the frame before it) or a
// movie (every frame one layer frame). Its size is the image's display window.
class LayerFile {
 public:
  // option names the command-line option in messages; colourSpace is the
  // space its values are in ("" by the file's kind: linear for EXR and
  // floating-point files, sRGB-encoded for the others; "raw" unconverted).
  // Throws UsageError when the file is missing, a directory or unreadable, or
  // a sequence has no frames; warns once about the numbers a sequence lacks.
  static std::shared_ptr<LayerFile> Open(const std::string& option, const std::string& path,
                                         const std::string& colourSpace = "");
  // A layer held in memory, for the built-in demo.
  static std::shared_ptr<const LayerFile> FromFrames(std::vector<standin::WorldPtr> frames);

  // Reads the header of every file frames first to last (clamped to the
  // layer) come from. Throws UsageError naming the first bad one.
  void checkFrames(int64_t first, int64_t last) const;

  int64_t frameCount() const;
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // Frame index at depth 8 or 16, premultiplied. Throws UsageError.
  standin::WorldPtr decode(int64_t index, int depth) const;
  std::string describe() const;
  // The files the layer reads (none for a layer held in memory).
  const std::vector<std::string>& files() const { return files_; }
  const std::string& path() const { return path_; }

 private:
  struct FileFrame;
  FileFrame readFile(const std::string& file, int subimage) const;
  FileFrame readMovie(int64_t index) const;
  standin::WorldPtr toWorld(const FileFrame& source, int depth) const;

  std::string option_;
  std::string path_;
  std::string colourSpace_;
  std::vector<std::string> files_;  // one per frame, or the movie alone
  int64_t subimages_ = 0;           // frames of an animated image (GIF)
  std::shared_ptr<MovieReader> movie_;
  mutable std::mutex movieMutex_;          // the reader decodes forward: one at a time
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

// What a source saw of its layer during a render.
struct LayerUsage {
  std::atomic<bool> served{false};   // some frame was decoded
  std::atomic<bool> visible{false};  // some decoded frame has a pixel with alpha above 0
};

struct SourceOptions {
  bool loop = false;    // repeat the frames in time instead of holding the last one
  Fit fit = Fit::None;  // frames of another size are fitted to width × height
  int32_t width = 0;
  int32_t height = 0;
  std::shared_ptr<LayerUsage> usage;  // told about every frame decoded, when set
  uint64_t cacheBytes = uint64_t{2} << 30;
};

// Serves a layer to the host: time t shows frame floor(t / step), held at the
// ends (or repeated, with loop). Decoded frames are cached (shared by all
// threads) up to cacheBytes. After the first failure it serves no pixels.
standin::FrameSourcePtr LayerSource(std::shared_ptr<const LayerFile> layer,
                                    std::shared_ptr<FailureSlot> failures,
                                    SourceOptions options = {});

// Prints "tilvane: warning: " and the text on standard error.
void Warn(const std::string& text);

// Writes the frame to path: PNG and TIFF straight alpha at the frame's depth,
// EXR premultiplied half floats, JPEG 8-bit over black, as EncodeAndWrite does
// (a complete file or none). colourSpace is the space the file's values are
// converted to from the effect's sRGB encoding ("" by the format: linear for
// EXR, else sRGB). Throws WriteError, or UsageError when memory is short or
// the colour space is unknown.
void WriteImage(const standin::World& frame, const std::string& path,
                const std::string& colourSpace = "");

}  // namespace tilvane_tool
