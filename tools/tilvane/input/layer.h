// Input layers: one interface, four kinds. A still (one image at every
// time), a numbered sequence (file number N is its frame N, from the lowest
// number found on disk to the highest; a missing number holds the frame
// before it), a movie (every picture shown from its presentation time) or
// animated image (every frame one layer frame), or frames held in memory. A
// layer's size is its image's display window, or its movie's picture, as
// players show it: a still or sequence frame turned as its EXIF/TIFF
// orientation asks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "standin/world.h"
#include "tools/tilvane/input/movie_reader.h"

namespace tilvane_tool {

class Layer {
 public:
  // option names the command-line option in messages; colourSpace is the
  // space its values are in ("" by each file: its own tag, else linear for
  // EXR and floating-point files and sRGB-encoded for the others; "raw"
  // unconverted). Throws UsageError when the file is missing, a directory or
  // unreadable, or a sequence has no frames; warns once about the numbers a
  // sequence lacks.
  static std::shared_ptr<Layer> Open(const std::string& option, const std::string& path,
                                     const std::string& colorSpace = "");
  // A layer held in memory, for the built-in demo.
  static std::shared_ptr<const Layer> FromFrames(std::vector<standin::WorldPtr> frames);

  virtual ~Layer();
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  // Reads the header of every file frames first to last (clamped to the
  // layer) come from. Throws UsageError naming the first bad one.
  virtual void checkFrames(int64_t first, int64_t last) const;

  virtual int64_t frameCount() const = 0;
  // A movie's pictures' times; null for the other kinds, whose picture i is
  // frame firstFrame() + i, one a frame at the composition's rate or their own.
  virtual const MovieTimes* movieTimes() const { return nullptr; }
  // The frame number of picture 0: a sequence's lowest file number, else 0.
  virtual int64_t firstFrame() const { return 0; }
  // One image at every time.
  virtual bool still() const { return false; }
  // The seeks the layer's movie reader made so far (0 for other kinds).
  virtual int64_t seeks() const { return 0; }
  // Frame index at depth 8 or 16, premultiplied. Throws UsageError.
  virtual standin::WorldPtr decode(int64_t index, int depth) const = 0;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  std::string describe() const;
  // The files the layer reads (none for a layer held in memory).
  const std::vector<std::string>& files() const { return files_; }
  const std::string& path() const { return path_; }
  const std::string& option() const { return option_; }

 protected:
  Layer(std::string option, std::string path);
  void setSize(int32_t width, int32_t height) { width_ = width, height_ = height; }

  std::string option_;
  std::string path_;
  std::vector<std::string> files_;

 private:
  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace tilvane_tool
